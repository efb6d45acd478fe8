#include "playback/OutputRecovery.h"

#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <QDebug>
#include <QTimer>

#include <iterator>

OutputRecovery::OutputRecovery(AudioEngine* transport, PlaybackEngine* engine)
    : QObject(transport)
    , m_transport(transport)
    , m_engine(engine)
{
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &OutputRecovery::onRetryTimer);

    // Automatic connections: the engine's device thread reaches us queued.
    connect(m_engine, &PlaybackEngine::outputLost, this, [this] {
        if (m_transport->getState() == AudioEngine::Playing && m_transport->getCurrentCue() && !m_failed)
            outputFailed();
    });
    connect(m_engine, &PlaybackEngine::deviceOpenFinished, this, &OutputRecovery::onOpenFinished);
}

int OutputRecovery::retryDelayMs(int failedAttempts)
{
    // Quick at first (a device that was only being switched), then once a
    // second for as long as it takes.
    static constexpr int kDelays[] = {100, 200, 400, 800};
    return failedAttempts < int(std::size(kDelays)) ? kDelays[failedAttempts] : 1000;
}

bool OutputRecovery::checkStall(qint64 positionMs)
{
    // A stalled device: the engine plays, but the output has asked for no
    // block for 2 s. A position that waits for the decoder (a seek past the
    // decoded part, a slow decode) is no stall: the device runs on. Nor is
    // an output still being opened in the background (a loaded machine, a
    // slow server): its open ends one way or the other, and reopening it
    // meanwhile would only start the wait again. Nor is a started output
    // whose sink still plays what it had queued ahead (an idle null sink
    // holds up to 2 s): reopening it would leave the sink idle again, and
    // the new stream would wait as long.
    const quint64 progress = m_engine->outputProgress();
    if (!m_recovering && m_engine->isPlaying() && !m_engine->isOpeningDevice()
        && !m_engine->isOutputWaitingForSink() && progress == m_lastOutputProgress) {
        if (++m_stuckTicks >= AudioEngine::kStuckTickLimit) {
            recoverStalledDevice(positionMs);
            return true;
        }
    } else {
        m_stuckTicks = 0;
    }
    m_lastOutputProgress = progress;
    return false;
}

void OutputRecovery::recoverStalledDevice(qint64 positionMs)
{
    m_recovering = true;
    qWarning() << "AudioEngine::onLoopCheckTimer - Device stuck detected! position:" << positionMs
               << "stuckCount:" << m_stuckTicks << ", attempting device recovery...";
    if (m_engine->reinitializeDevice()) {
        // A mix goes on where it is; the reopened device only resumes it.
        if (!m_engine->isCrossfading())
            m_engine->seek(positionMs);
        m_engine->play();
        if (!m_engine->isPlaying())
            outputFailed();
    } else {
        if (!m_engine->isOpeningDevice())
            qWarning() << "AudioEngine - Device recovery failed, retrying in the background";
        outputFailed();
    }
    m_recovering = false;
    m_stuckTicks = 0;
    m_lastOutputProgress = m_engine->outputProgress();
}

void OutputRecovery::outputFailed()
{
    // The cue stays current, at its position, and meant to play: nothing
    // moves on while the output is away, and the window says so.
    const bool first = !m_failed;
    m_failed = true;
    if (first && !m_engine->isCrossfading())
        m_resumePositionMs = m_engine->getPosition();
    Q_EMIT outputHeld();
    m_engine->pause();
    if (first) {
        m_retries = 0;
        // A start that found the output closed waits for the open it
        // started; only a failed open is news.
        m_quiet = m_engine->isOpeningDevice();
        if (!m_quiet)
            announceOutputLost();
    }
    if (m_transport->getState() != AudioEngine::Playing)
        return;
    // An open under way is this attempt: onOpenFinished goes on.
    if (m_engine->isOpeningDevice())
        m_retryTimer->stop();
    else
        m_retryTimer->start(retryDelayMs(m_retries));
}

void OutputRecovery::announceOutputLost()
{
    qWarning() << "AudioEngine - output lost at" << m_resumePositionMs << "ms, retrying with" << m_engine->outputLibrary();
    Q_EMIT statusChanged(QStringLiteral("音频输出中断，正在重试…"), true);
}

void OutputRecovery::holdRetries()
{
    m_retryTimer->stop();
}

void OutputRecovery::stopRetry()
{
    m_retryTimer->stop();
    m_failed = false;
    m_quiet = false;
    m_retries = 0;
}

void OutputRecovery::resetForNewCue()
{
    stopRetry();
    m_stuckTicks = 0;
}

void OutputRecovery::outputBackOnResume()
{
    if (!m_failed)
        return;
    const bool quiet = m_quiet;
    stopRetry();
    if (!quiet)
        Q_EMIT statusChanged(QStringLiteral("音频输出已恢复"), false);
}

void OutputRecovery::onRetryTimer()
{
    if (!m_failed || m_transport->getState() != AudioEngine::Playing || !m_transport->getCurrentCue()
        || m_engine->isOpeningDevice())
        return;
    ++m_retries;
    if (m_engine->reinitializeDevice())
        resumeOutput();
    afterAttempt();
}

void OutputRecovery::onOpenFinished(bool opened)
{
    if (!m_failed || m_transport->getState() != AudioEngine::Playing || !m_transport->getCurrentCue())
        return;  // stopped or paused meanwhile: the next start uses the device
    m_retryTimer->stop();
    if (opened)
        resumeOutput();
    afterAttempt();
}

void OutputRecovery::resumeOutput()
{
    if (!m_engine->isCrossfading())
        m_engine->seek(m_resumePositionMs);
    m_transport->applyVolume();
    m_engine->play();
}

void OutputRecovery::afterAttempt()
{
    if (!m_engine->isPlaying()) {
        if (m_engine->isOpeningDevice())
            return;  // the attempt goes on in the background
        if (m_quiet) {
            m_quiet = false;
            announceOutputLost();
        } else {
            Q_EMIT statusChanged(QStringLiteral("音频输出中断，正在重试（第 %1 次）…").arg(m_retries), true);
        }
        m_retryTimer->start(retryDelayMs(m_retries));
        return;
    }
    const bool quiet = m_quiet;
    if (!quiet)
        qWarning() << "AudioEngine - output back after" << m_retries << "attempts, at" << m_resumePositionMs << "ms";
    stopRetry();
    m_stuckTicks = 0;
    m_lastOutputProgress = m_engine->outputProgress();
    Q_EMIT outputBack();
    if (!quiet)
        Q_EMIT statusChanged(QStringLiteral("音频输出已恢复"), false);
}
