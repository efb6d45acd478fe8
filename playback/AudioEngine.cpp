#include "playback/AudioEngine.h"

#include "model/Cue.h"
#include "audiofile/AudioFileProbe.h"
#include "playback/CueVolumeRamp.h"
#include "playback/OutputRecovery.h"
#include "playback/PlaybackEngine.h"
#include "playback/WaveformParseRequester.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Gain handed to the engine: above 2.0 is 2.0, not above 0 (NaN too) is 0.
float clampOutputGain(float gain)
{
    if (gain > 2.0f)
        return 2.0f;
    if (!(gain > 0.0f))
        return 0.0f;
    return gain;
}

// Where a cue's played region ends: its loop end, unless that is unset or
// past the end of the file.
qint64 regionEndOf(qint64 loopEnd, qint64 durationMs)
{
    return loopEnd > 0 ? std::min(loopEnd, durationMs) : durationMs;
}

}  // namespace

AudioEngine* AudioEngine::instance()
{
    static AudioEngine engine;
    return &engine;
}

AudioEngine::AudioEngine(QObject* parent)
    : AudioEngine(new PlaybackEngine(), parent)
{
}

AudioEngine::AudioEngine(PlaybackEngine* engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
{
    qRegisterMetaType<AudioEngine::State>("AudioEngine::State");
    m_engine->setParent(this);
    connectEngine();

    m_loopCheckTimer = new QTimer(this);
    m_loopCheckTimer->setInterval(kLoopCheckIntervalMs);
    connect(m_loopCheckTimer, &QTimer::timeout, this, &AudioEngine::onLoopCheckTimer);

    m_preWaitTimer = new QTimer(this);
    m_preWaitTimer->setSingleShot(true);
    connect(m_preWaitTimer, &QTimer::timeout, this, &AudioEngine::onPreWaitTimeout);

    // The level meter ticks only while a cue plays: idle, the window would
    // otherwise wake twenty times a second to show a zero.
    m_levelTimer = new QTimer(this);
    m_levelTimer->setInterval(kLevelIntervalMs);
    connect(m_levelTimer, &QTimer::timeout, this, &AudioEngine::onLevelTimer);
    connect(this, &AudioEngine::stateChanged, m_levelTimer, [this](AudioEngine::State state) {
        if (state == Playing && !m_levelTimer->isActive())
            m_levelTimer->start();
    });

    m_pauseFadeTimer = new QTimer(this);
    m_pauseFadeTimer->setInterval(kPauseFadeStepMs);
    connect(m_pauseFadeTimer, &QTimer::timeout, this, &AudioEngine::onPauseFadeTimer);

    m_recovery = new OutputRecovery(this, m_engine);
    connect(m_recovery, &OutputRecovery::outputHeld, this, [this] {
        m_loopCheckTimer->stop();
        cancelPauseFade();
        applyVolume();
    });
    connect(m_recovery, &OutputRecovery::outputBack, this, [this] { m_loopCheckTimer->start(); });
    connect(m_recovery, &OutputRecovery::statusChanged, this, &AudioEngine::outputStatusChanged);

    m_cueRamp = new CueVolumeRamp(this);
}

AudioEngine::~AudioEngine()
{
    m_engine->stop();
    m_loopCheckTimer->stop();
    m_preWaitTimer->stop();
    // It reads the transport: nothing the engine reports while it goes may
    // reach it once we are half gone.
    delete m_recovery;
}

void AudioEngine::connectEngine()
{
    // Automatic connections: the engine's device and worker threads reach the
    // transport queued.
    connect(m_engine, &PlaybackEngine::playbackFinished, this, &AudioEngine::handleEngineFinished);
    connect(m_engine, &PlaybackEngine::errorOccurred, this, [this](const QString& message) {
        qWarning() << "AudioEngine - forwarding error from PlaybackEngine:" << message;
        Q_EMIT errorOccurred(message);
    });
    connect(m_engine, &PlaybackEngine::crossfadeDecodeReady, this, &AudioEngine::onCrossfadeDecodeReady);
}

// ---------------------------------------------------------------------------
// Helpers shared by the starts

float AudioEngine::volumeLawGain(int cueVolume) const
{
    float gain = std::pow(float(m_mainVolume) / 100.0f, 1.5f);
    if (m_currentCue) {
        gain *= std::pow(float(cueVolume) / 100.0f, 1.5f);
        gain *= float(std::pow(10.0, m_lufsGainDb / 20.0));
    }
    return clampOutputGain(gain);
}

float AudioEngine::fadeReferenceGain() const
{
    // From (or back to) the level heard, also halfway through a volume move.
    return m_currentCue ? volumeLawGain(cueVolume()) : 0.0f;
}

void AudioEngine::applyVolume()
{
    // A volume move under way goes on in the output to its end, whatever
    // else changed the gain meanwhile.
    if (m_currentCue && m_cueRamp->isActive())
        m_engine->rampVolume(volumeLawGain(), m_cueRamp->msLeft() * qint64(m_engine->getSampleRate()) / 1000);
    else
        m_engine->setVolume(volumeLawGain());
}

void AudioEngine::applyCueVolumeChoice(Cue* cue)
{
    // A move of the previous cue's volume ends with it.
    m_cueRamp->stop();
    m_cueVolume = cue->volumeChoose() != 0 ? cue->volumeB() : cue->volumeA();
}

void AudioEngine::requestWaveform(Cue* cue)
{
    if (cue && m_trackList && cue->waveform().isEmpty())
        m_trackList->enqueueWaveformParse(cue, false);
}

qint64 AudioEngine::loopStartTarget(Cue* cue) const
{
    qint64 duration = cue->durationMs();
    if (duration <= 0)
        duration = m_engine->getDuration();
    return cue->loopStartMs() < regionEndOf(cue->loopEndMs(), duration) ? cue->loopStartMs() : 0;
}

// A cue that has no stored length yet needs one before its start bounds can
// be computed; the engine still describes the previous cue, so the file is
// asked directly.
qint64 AudioEngine::resolveStartDuration(Cue* cue)
{
    if (!QFileInfo::exists(cue->filePath()))
        return 0;
    const qint64 duration = probeDurationMs(cue->filePath());
    if (duration < 1)
        return 0;
    cue->setDuration(duration);
    cue->setLoopRange(cue->loopStartMs(), duration, false);
    cue->saveToDatabase(false);
    return cue->durationMs();
}

void AudioEngine::cancelPauseFade()
{
    m_pauseFadeTimer->stop();
    m_fadeStepsLeft = 0;
}

void AudioEngine::cancelPreWait()
{
    m_preWaitTimer->stop();
    m_preWaitActive = false;
}

void AudioEngine::resetForNewCue(bool finishAtEndArg)
{
    // Nothing of the previous cue may act on this one: a pause fade still
    // running would otherwise pause it, a pre-wait would start it again.
    cancelPauseFade();
    cancelPreWait();
    m_stopRequested = false;
    m_loopJustApplied = false;
    m_passCounted = false;
    m_endedWithoutSound = false;
    m_recovery->resetForNewCue();
    loopCounter = 0;
    m_seenWraps = m_engine->loopWraps();
    finishAtEnd = finishAtEndArg;
    m_handoverPending = false;
}

int AudioEngine::passesLeftForCurrentCue() const
{
    Cue* cue = m_currentCue.data();
    if (!cue || finishAtEnd)
        return 0;
    const int loopCount = cue->loopCount();
    if (loopCount <= 0)
        return -1;
    return std::max(0, loopCount - 1 - loopCounter);
}

void AudioEngine::updateLoopPasses()
{
    m_engine->setLoopPasses(passesLeftForCurrentCue());
}

void AudioEngine::syncLoopWraps()
{
    // The output wraps to the loop start itself, to the frame; each wrap
    // completes a pass (one the crossfade window has not counted yet).
    const quint64 wraps = m_engine->loopWraps();
    if (wraps == m_seenWraps)
        return;
    for (quint64 i = m_seenWraps; i < wraps; ++i) {
        if (m_passCounted)
            m_passCounted = false;
        else
            ++loopCounter;
    }
    m_seenWraps = wraps;
    m_loopJustApplied = false;
}

void AudioEngine::followPlayMode(bool finishAtEndArg, bool autoAdvanceArg)
{
    if (m_currentCue) {
        loopCounter = 0;
        finishAtEnd = finishAtEndArg;
        updateLoopPasses();
    }
    autoAdvance = autoAdvanceArg;
    m_queuedFinishAtEnd = finishAtEndArg;
}

void AudioEngine::enterCrossfadedCue(Cue* cue)
{
    m_currentCue = cue;
    m_state = Playing;
    m_seenWraps = m_engine->loopWraps();
    updateLoopPasses();
    applyCueVolumeChoice(cue);
    applyVolume();
    requestWaveform(cue);
    m_loopCheckTimer->start();
    Q_EMIT stateChanged(Playing);
    Q_EMIT currentCueChanged(cue);
}

void AudioEngine::startLoadedCueAtLoopStart(Cue* cue)
{
    m_engine->seek(loopStartTarget(cue));
    m_seenWraps = m_engine->loopWraps();
    updateLoopPasses();
    applyCueVolumeChoice(cue);
    applyVolume();
    m_engine->play();
    m_loopCheckTimer->start();
    requestWaveform(cue);
    Q_EMIT stateChanged(Playing);
    Q_EMIT currentCueChanged(cue);
    if (!m_engine->isPlaying())
        m_recovery->outputFailed();
}

bool AudioEngine::failStart(const QString& message)
{
    // The engine may still sound the cue that was playing before; the
    // transport no longer supervises it, so it must not go on unseen.
    m_engine->stop();
    m_loopCheckTimer->stop();
    m_crossfadeSeen = false;
    m_state = Stopped;
    m_currentCue = nullptr;
    m_endedWithoutSound = true;
    Q_EMIT errorOccurred(message);
    Q_EMIT playbackFinished();
    return false;
}

// ---------------------------------------------------------------------------
// Playback control

bool AudioEngine::play(Cue* cue, bool finishAtEndArg, qint64 startPosMs)
{
    if (!cue) {
        qWarning() << "AudioEngine::play - Cue is null";
        return false;
    }
    if (cue->id() < 1) {
        qWarning() << "AudioEngine::play - Invalid cue:" << cue->id();
        return false;
    }

    Cue* current = m_currentCue.data();
    // A cue announced as ended while its sound goes on can be crossfaded from.
    if (m_state == Stopped && current && (m_engine->isPlaying() || m_handoverPending))
        m_state = Playing;

    qint64 duration = cue->durationMs();
    if (duration < 1)
        duration = resolveStartDuration(cue);
    const qint64 regionEnd = regionEndOf(cue->loopEndMs(), duration);
    const qint64 regionStart = cue->loopStartMs() < regionEnd ? cue->loopStartMs() : 0;
    qint64 target = startPosMs < 0 ? regionStart : startPosMs;
    if (regionStart < regionEnd)
        target = std::clamp(target, regionStart, regionEnd);

    // Only a sounding engine can crossfade: a silent one (a pre-wait, a fade
    // to silence that has ended) would never move the mix on.
    if (m_state == Playing && current && (cue != current || m_handoverPending)
        && !m_engine->isCrossfading() && m_engine->isPlaying() && !m_preWaitActive) {
        // At the automatic end of a cue, cues too short for a crossfade
        // follow each other at the region end instead.
        if (m_engine->startCrossfade(cue, m_handoverPending)) {
            resetForNewCue(finishAtEndArg);
            enterCrossfadedCue(cue);
            return true;
        }
        // Switched off, the engine refuses every crossfade: nothing failed.
        if (m_crossfadeEnabled)
            qWarning() << "AudioEngine::play - Crossfade FAILED for cue" << cue->id()
                       << ", falling back to normal playback. Check [Crossfade] logs above for reason.";
        m_handoverPending = false;
    }

    if (m_engine->isCrossfading()) {
        // It starts once the mix has ended; decoded meanwhile. (A cue that
        // starts now is decoded by its own start: preloading it as well
        // would only race that decode.)
        m_engine->prioritizePreload(cue);
        m_queuedCue = cue;
        m_queuedFinishAtEnd = finishAtEndArg;
        return false;
    }

    // A cue started over a sounding one cuts it where it is heard.
    if (m_engine->isPlaying())
        m_engine->cutOutput();
    resetForNewCue(finishAtEndArg);
    m_crossfadeSeen = false;
    m_currentCue = cue;
    m_state = Playing;
    applyCueVolumeChoice(cue);

    const QString path = cue->filePath();
    if (!QFileInfo::exists(path)) {
        qWarning() << "AudioEngine::play - File not found:" << path;
        return failStart(QStringLiteral("文件不存在：") + QFileInfo(path).fileName());
    }
    if (!m_engine->loadCue(cue)) {
        qWarning() << "AudioEngine::play - Failed to load cue";
        return failStart(QStringLiteral("加载音频文件失败：") + cue->name());
    }
    m_engine->seek(target);
    updateLoopPasses();
    requestWaveform(cue);

    if (!finishAtEnd && cue->preWaitMs() > 0) {
        // The engine stays silent; the loop check waits for the sound.
        m_loopCheckTimer->stop();
        m_preWaitActive = true;
        m_preWaitTimer->start(cue->preWaitMs());
    } else {
        Q_EMIT cueStarting(cue);
        applyVolume();  // the gain is in place before the first block
        m_engine->play();
        m_loopCheckTimer->start();
    }
    Q_EMIT stateChanged(Playing);
    Q_EMIT currentCueChanged(cue);
    // A device that did not start plays nothing: the window must not say
    // Playing over silence.
    if (!m_preWaitActive && !m_engine->isPlaying())
        m_recovery->outputFailed();
    return true;
}

void AudioEngine::onPreWaitTimeout()
{
    m_preWaitActive = false;
    if (m_currentCue && !m_stopRequested && m_state != Stopped) {
        m_state = Playing;
        applyVolume();
        m_engine->play();
        m_loopCheckTimer->start();
        Q_EMIT stateChanged(Playing);
        if (!m_engine->isPlaying())
            m_recovery->outputFailed();
        return;
    }
    m_currentCue = nullptr;
    m_state = Stopped;
    Q_EMIT playbackFinished();
}

bool AudioEngine::pauseFadeApplies() const
{
    return m_pauseFadeEnabled && m_pauseFadeDurationMs > 0 && (!m_pauseFadeShowModeOnly || m_showMode)
        && !m_pauseFadeTimer->isActive();
}

int AudioEngine::pauseFadeSteps() const
{
    return m_pauseFadeDurationMs >= kPauseFadeStepMs ? m_pauseFadeDurationMs / kPauseFadeStepMs : 1;
}

void AudioEngine::pause()
{
    if (m_state != Playing)
        return;
    if (m_recovery->hasFailed()) {
        // Nothing sounds: no fade. The cue waits at its position, and the
        // output is tried again when it is resumed.
        m_recovery->holdRetries();
        m_engine->pause();
        m_state = Paused;
        cancelPreWait();
        Q_EMIT stateChanged(Paused);
        return;
    }
    if (pauseFadeApplies()) {
        m_fadeStartGain = fadeReferenceGain();
        m_fadeStepsLeft = pauseFadeSteps();
        m_fadingOut = true;
        m_pauseFadeTimer->start();
        return;
    }
    // Also a second pause during a fade: it pauses at once.
    cancelPauseFade();
    m_engine->pause();
    m_engine->cutOutput();
    m_state = Paused;
    m_loopCheckTimer->stop();
    cancelPreWait();
    applyVolume();
    Q_EMIT stateChanged(Paused);
}

void AudioEngine::resume()
{
    if (m_state != Paused)
        return;
    if (pauseFadeApplies()) {
        // The fade-in starts at its first step, not at 0: what plays at no
        // gain at all would be lost to the listener.
        m_fadeTargetGain = fadeReferenceGain();
        const int steps = pauseFadeSteps();
        m_engine->setVolume(clampOutputGain(m_fadeTargetGain / float(steps)));
        m_engine->play();
        m_state = Playing;
        m_loopCheckTimer->start();
        Q_EMIT stateChanged(Playing);
        if (!m_engine->isPlaying()) {
            m_recovery->outputFailed();
            applyVolume();
            return;
        }
        m_recovery->outputBackOnResume();
        m_fadeStepsLeft = steps - 1;
        m_fadingOut = false;
        m_pauseFadeTimer->start();
        continuePreparedCrossfade();
        return;
    }
    cancelPauseFade();
    applyVolume();
    m_engine->play();
    m_state = Playing;
    m_loopCheckTimer->start();
    Q_EMIT stateChanged(Playing);
    if (!m_engine->isPlaying()) {
        m_recovery->outputFailed();
        return;
    }
    m_recovery->outputBackOnResume();
    continuePreparedCrossfade();
}

void AudioEngine::continuePreparedCrossfade()
{
    if (m_state == Playing && m_engine->crossfadePendingCue() && !m_engine->isCrossfadeDecoding())
        onCrossfadeDecodeReady();
}

void AudioEngine::onPauseFadeTimer()
{
    if (!m_pauseFadeTimer->isActive())
        return;  // cancelled by a start or a stop
    const int steps = pauseFadeSteps();
    if (m_fadeStepsLeft > 0) {
        const int left = --m_fadeStepsLeft;
        if (m_fadingOut && left == 0) {
            // The step that would reach no gain pauses instead: what the
            // engine plays at no gain is never heard, and resume goes on
            // from the last frame that was.
            m_pauseFadeTimer->stop();
            enterFadedPause();
            applyVolume();
            return;
        }
        const float gain = m_fadingOut ? float(left) * m_fadeStartGain / float(steps)
                                       : float(steps - left) * m_fadeTargetGain / float(steps);
        m_engine->setVolume(clampOutputGain(gain));
        return;
    }
    m_pauseFadeTimer->stop();
    if (m_fadingOut)
        enterFadedPause();
    // The engine holds the full gain again (silent while paused).
    applyVolume();
}

void AudioEngine::enterFadedPause()
{
    m_engine->pause();
    m_state = Paused;
    m_loopCheckTimer->stop();
    cancelPreWait();
    Q_EMIT stateChanged(Paused);
}

void AudioEngine::stop()
{
    m_stopRequested = true;
    cancelPauseFade();
    m_loopCheckTimer->stop();
    cancelPreWait();
    m_engine->stop();
    m_engine->cutOutput();
    m_state = Stopped;
    m_loopJustApplied = false;
    m_passCounted = false;
    loopCounter = 0;
    m_handoverPending = false;
    m_currentCue = nullptr;
    m_cueRamp->stop();
    // A cue queued behind a mix that is now gone must not start later.
    m_queuedCue = nullptr;
    m_crossfadeSeen = false;
    m_endedWithoutSound = false;
    m_recovery->stopRetry();
    Q_EMIT stateChanged(Stopped);
    Q_EMIT playbackFinished();
}

void AudioEngine::seek(qint64 positionMs)
{
    Cue* cue = m_currentCue.data();
    if (!cue)
        return;
    qint64 target = positionMs;
    const qint64 duration = getDuration();
    if (duration > 0)
        target = std::clamp<qint64>(target, 0, duration);
    if (cue->loopEndMs() > cue->loopStartMs())
        target = std::clamp(target, cue->loopStartMs(), cue->loopEndMs());
    m_engine->seek(target);
}

// ---------------------------------------------------------------------------
// Volume

void AudioEngine::setMainVolume(int volume)
{
    m_mainVolume = std::clamp(volume, 0, 100);
    applyVolume();
}

void AudioEngine::setCueVolume(int volume)
{
    if (!m_currentCue)
        return;
    m_cueRamp->stop();
    m_cueVolume = volume;
    applyVolume();
}

int AudioEngine::cueVolume() const
{
    return m_cueRamp->isActive() ? m_cueRamp->level() : m_cueVolume;
}

void AudioEngine::rampCueVolume(int volume)
{
    if (!m_currentCue || (volume == m_cueVolume && !m_cueRamp->isActive()))
        return;
    m_cueRamp->start(cueVolume(), volume);
    m_cueVolume = volume;
    // A pause fade leads the gain until it ends, and then hands it on.
    if (!m_pauseFadeTimer->isActive())
        applyVolume();
}

void AudioEngine::retargetCueVolume(int volume)
{
    if (!m_currentCue || (volume == m_cueVolume && !m_cueRamp->isActive()))
        return;
    m_cueRamp->retarget(cueVolume(), volume);
    m_cueVolume = volume;
    if (!m_pauseFadeTimer->isActive())
        applyVolume();
}

void AudioEngine::stopCueVolumeRamp()
{
    if (!m_cueRamp->isActive())
        return;
    m_cueVolume = m_cueRamp->level();
    m_cueRamp->stop();
    // The output is a little ahead of the clock: a short move, not a step.
    if (m_currentCue && !m_pauseFadeTimer->isActive())
        m_engine->rampVolume(volumeLawGain(), qint64(m_engine->getSampleRate()) / 50);
}

void AudioEngine::setCueVolumeRampMs(qint64 ms)
{
    m_cueRamp->setDurationMs(ms);
}

void AudioEngine::setLufsGain(double gainDb)
{
    const bool changed = gainDb != m_lufsGainDb;
    m_lufsGainDb = gainDb;
    // A loudness that arrives while its cue sounds (its measurement has just
    // landed) moves the level smoothly instead of jumping; before the first
    // block the gain is simply in place.
    const bool sounding = m_state == Playing && m_currentCue && !m_preWaitActive && !m_pauseFadeTimer->isActive()
                          && m_engine->isPlaying();
    if (changed && sounding) {
        // Not shorter than a volume move under way, which would step.
        const qint64 ms = std::max(kLufsRampMs, m_cueRamp->isActive() ? m_cueRamp->msLeft() : 0);
        m_engine->rampVolume(volumeLawGain(), ms * qint64(m_engine->getSampleRate()) / 1000);
        return;
    }
    applyVolume();
}

// ---------------------------------------------------------------------------
// Crossfade settings and output device

void AudioEngine::setCrossfadeEnabled(bool enabled)
{
    if (enabled || m_engine->isCrossfading()
        || (!m_engine->isCrossfadeDecoding() && !m_engine->crossfadePendingCue())) {
        m_engine->crossfadeEnabled = enabled;
        m_crossfadeEnabled = enabled;
        return;
    }

    // Switched off while the next cue's crossfade is being prepared: the
    // current cue starts on its own.
    m_engine->crossfadeEnabled = false;
    m_crossfadeEnabled = false;
    m_handoverPending = false;
    Cue* cue = m_currentCue.data();
    if (!cue) {
        m_engine->stop();
        return;
    }
    if (m_state != Playing) {
        m_engine->loadCue(cue);
        return;
    }
    if (!m_engine->loadCue(cue)) {
        qWarning() << "AudioEngine::setCrossfadeEnabled - Failed to load cue";
        failStart(QStringLiteral("加载音频文件失败：") + cue->name());
        return;
    }
    m_loopJustApplied = false;
    m_passCounted = false;
    loopCounter = 0;
    startLoadedCueAtLoopStart(cue);
}

void AudioEngine::setCrossfadeDuration(int seconds)
{
    m_engine->crossfadeDurationMs = qint64(seconds) * 1000;
}

void AudioEngine::setCrossfadeCurve(int curve)
{
    m_engine->crossfadeCurve = curve;
}

int AudioEngine::getCrossfadeCurve() const
{
    return m_engine->crossfadeCurve;
}

void AudioEngine::setOutputDevice(const QString& deviceName)
{
    // The engine keeps its cue, its position and a running crossfade; only
    // the device changes. Whatever sounded goes on on the new device, and
    // what waits (a pre-wait, a pause) opens it when it starts.
    const bool sounding = m_engine->isPlaying();
    m_engine->setOutputDevice(deviceName);
    if (!sounding)
        return;
    m_engine->play();
    if (!m_engine->isPlaying()) {
        m_handoverPending = false;
        m_recovery->outputFailed();
    }
}

QStringList AudioEngine::getAvailableDevices() const
{
    return m_engine->getAvailableDevices();
}

QString AudioEngine::getOutputDeviceName() const
{
    return m_engine->getOutputDeviceName();
}

// ---------------------------------------------------------------------------
// Pass-throughs

void AudioEngine::preloadCues(const QList<Cue*>& cues)
{
    m_engine->preloadCues(cues);
}

void AudioEngine::preloadCues(const QList<Cue*>& cues, int decodeAhead)
{
    m_engine->preloadCues(cues, decodeAhead);
}

void AudioEngine::prioritizePreload(Cue* cue)
{
    if (cue)
        m_engine->prioritizePreload(cue);
}

void AudioEngine::clearPreloadQueue()
{
    m_engine->clearPreloadQueue();
}

void AudioEngine::clearPreloadCache()
{
    m_engine->clearPreloadCache();
}

void AudioEngine::removeFromCache(const QString& filePath)
{
    m_engine->removeFromCache(filePath);
}

bool AudioEngine::isCached(const QString& filePath) const
{
    return m_engine->isCached(filePath);
}

void AudioEngine::cancelCrossfade()
{
    m_engine->cancelCrossfade();
}

bool AudioEngine::startCrossfade(Cue* cue)
{
    return cue && m_engine->startCrossfade(cue);
}

// ---------------------------------------------------------------------------
// Read access

qint64 AudioEngine::getDuration() const
{
    if (Cue* cue = m_currentCue.data(); cue && cue->durationMs() > 0)
        return cue->durationMs();
    return std::max<qint64>(m_engine->getDuration(), 0);
}

qint64 AudioEngine::getPosition() const
{
    return m_engine->getPosition();
}

qint64 AudioEngine::getCurrentPosition() const
{
    if (m_engine->isCrossfading()) {
        const quint32 rate = m_engine->getSampleRate();
        return rate ? qint64(double(m_engine->incomingPositionFrames()) * 1000.0 / double(rate)) : 0;
    }
    // Prepared, waiting for the incoming cue's data: it starts at its loop start.
    if (Cue* pending = m_engine->crossfadePendingCue())
        return pending->loopStartMs();
    return m_engine->getPosition();
}

bool AudioEngine::isCrossfading() const
{
    return m_engine->isCrossfading() || m_engine->isCrossfadeDecoding() || m_engine->crossfadePendingCue();
}

void AudioEngine::onLevelTimer()
{
    if (m_state == Playing) {
        Q_EMIT levelUpdated(m_engine->getPeakLevel());
        return;
    }
    // The meter falls to zero once, then the ticks rest until a cue plays.
    m_levelTimer->stop();
    Q_EMIT levelUpdated(0.0f);
}

// ---------------------------------------------------------------------------
// Loop check and the end of a cue

void AudioEngine::handOver()
{
    m_handoverPending = true;
    // Stopped without announcing it: the engine plays on and the loop check
    // keeps running until the next play() crossfades from this cue.
    m_state = Stopped;
    Q_EMIT playbackFinished();
}

void AudioEngine::finishLastPass(bool dropCurrentCue)
{
    m_loopCheckTimer->stop();
    m_loopJustApplied = false;
    m_state = Stopped;
    // The sound may go on only where the next cue can crossfade from it;
    // in Custom nothing follows, so it must stop here.
    const bool crossfadeCanFollow = m_engine->crossfadeEnabled && (finishAtEnd || autoAdvance);
    if (crossfadeCanFollow) {
        Q_EMIT stateChanged(Stopped);
        Q_EMIT playbackFinished();
        return;
    }
    m_engine->stop();
    Q_EMIT positionChanged(0);
    if (dropCurrentCue)
        m_currentCue = nullptr;
    Q_EMIT stateChanged(Stopped);
    Q_EMIT playbackFinished();
}

int AudioEngine::outputRetryDelayMs(int failedAttempts)
{
    return OutputRecovery::retryDelayMs(failedAttempts);
}

bool AudioEngine::hasOutputFailed() const
{
    return m_recovery->hasFailed();
}

void AudioEngine::onLoopCheckTimer()
{
    Cue* cue = m_currentCue.data();
    if (!m_loopCheckTimer->isActive() || m_state != Playing || !cue)
        return;
    syncLoopWraps();
    const qint64 position = m_engine->getPosition();
    const qint64 duration = getDuration();

    if (m_recovery->checkStall(position))
        return;

    // Crossfade tracking.
    if (m_engine->isCrossfading()) {
        m_crossfadeSeen = true;
        Q_EMIT positionChanged(getCurrentPosition());
        return;
    }
    if (m_crossfadeSeen) {
        // The mix has ended since the last tick; a cue into itself starts a
        // new pass here.
        m_handoverPending = false;
        m_crossfadeSeen = false;
        m_passCounted = false;
        if (Cue* queued = m_queuedCue.data()) {
            m_queuedCue = nullptr;
            play(queued, m_queuedFinishAtEnd, -1);
            return;
        }
        if (!m_engine->isPlaying()) {
            m_state = Stopped;
            m_loopCheckTimer->stop();
            Q_EMIT stateChanged(Stopped);
            Q_EMIT playbackFinished();
            return;
        }
        Q_EMIT positionChanged(position);
        return;
    }
    if (m_engine->crossfadePendingCue()) {
        // The incoming cue waits for its data; one whose data has come while
        // the ready report could not be acted on goes ahead now.
        if (!m_engine->isCrossfadeDecoding()) {
            onCrossfadeDecodeReady();
            return;
        }
        Q_EMIT positionChanged(getCurrentPosition());
        return;
    }

    Q_EMIT positionChanged(position);
    if (m_state != Playing || !m_currentCue)
        return;

    if (m_loopJustApplied && duration > 0) {
        if (position >= duration)
            return;  // the jump back has not taken effect yet
        m_loopJustApplied = false;
    }

    // The crossfade window before the region end.
    if (m_engine->crossfadeEnabled && !m_engine->isCrossfading() && !m_handoverPending
        && !m_passCounted) {
        const qint64 windowStart = regionEndOf(cue->loopEndMs(), duration) - m_engine->crossfadeDurationMs;
        if (windowStart >= 1 && position >= windowStart) {
            if (finishAtEnd) {
                handOver();
                return;
            }
            // Each pass is counted once, however many ticks fall in its window.
            m_passCounted = true;
            const int loopCount = cue->loopCount();
            bool lastPass = false;
            if (loopCount > 0) {
                ++loopCounter;
                lastPass = loopCount == 1 || loopCounter >= loopCount;
            }
            if (!lastPass) {
                m_handoverPending = true;
                if (m_engine->startCrossfade(cue)) {
                    updateLoopPasses();
                    return;  // into its own loop start
                }
                m_handoverPending = false;
            } else if (autoAdvance) {
                handOver();
                return;
            } else {
                m_handoverPending = true;
                if (m_engine->startCrossfade(nullptr))
                    return;  // fades to silence, then the engine reports the end
                m_handoverPending = false;
                m_engine->stop();
                m_state = Stopped;
                m_loopCheckTimer->stop();
                Q_EMIT positionChanged(0);
                Q_EMIT stateChanged(Stopped);
                Q_EMIT playbackFinished();
                return;
            }
        }
    }

    checkLoopRegion(position);
}

void AudioEngine::checkLoopRegion(qint64 positionMs)
{
    Cue* cue = m_currentCue.data();
    if (!cue)
        return;
    const qint64 loopStart = cue->loopStartMs();
    const qint64 loopEnd = cue->loopEndMs();
    const qint64 storedDuration = cue->durationMs();
    const qint64 decoded = m_engine->getDuration();

    qint64 regionEnd = 0;
    if (decoded > 0 && !cue->isBadFile()) {
        if (storedDuration > 0 && storedDuration + 200 < decoded) {
            cue->setDuration(decoded);
            if (cue->loopEndMs() == storedDuration || cue->loopEndMs() <= 0) {
                cue->setLoopRange(loopStart, decoded, false);
                regionEnd = decoded;
            } else {
                regionEnd = regionEndOf(loopEnd, decoded);
            }
        } else if (storedDuration > 0 && storedDuration - 200 > decoded) {
            // A read error cuts the data short: only a complete decode is
            // the file's real length.
            if (m_engine->isDecodeComplete()) {
                cue->setDuration(decoded);
                if (cue->loopEndMs() > decoded || cue->loopEndMs() <= 0) {
                    cue->setLoopRange(loopStart, decoded, false);
                    regionEnd = decoded;
                } else {
                    regionEnd = regionEndOf(loopEnd, decoded);
                }
            } else {
                // Still decoding, or the data was cut short: the data end
                // ends the cue, the stored length stays.
                regionEnd = regionEndOf(loopEnd, storedDuration);
            }
        } else if (storedDuration <= 0) {
            cue->setDuration(decoded);
            regionEnd = regionEndOf(loopEnd, decoded);
        } else {
            regionEnd = regionEndOf(loopEnd, storedDuration);
        }
    } else {
        if (storedDuration <= 0)
            return;
        regionEnd = regionEndOf(loopEnd, storedDuration);
    }

    if (loopStart >= regionEnd || m_state != Playing)
        return;
    if (positionMs < loopStart) {
        m_engine->seek(loopStart);
        return;
    }
    if (positionMs < regionEnd)
        return;

    // The region end is reached.
    if (finishAtEnd) {
        finishLastPass(false);
        return;
    }
    const int loopCount = cue->loopCount();
    if (loopCount == 0) {
        m_engine->seek(loopStart);
        m_loopJustApplied = true;
        m_passCounted = false;
        updateLoopPasses();
        return;
    }
    const int completed = m_passCounted ? loopCounter : loopCounter + 1;
    if (completed < loopCount) {
        m_engine->seek(loopStart);
        m_loopJustApplied = true;
        m_passCounted = false;
        loopCounter = completed;
        updateLoopPasses();
        return;
    }
    finishLastPass(true);
}

void AudioEngine::handleEngineFinished()
{
    Cue* cue = m_currentCue.data();
    if (m_stopRequested || !cue || m_state == Stopped)
        return;
    syncLoopWraps();
    if (m_loopJustApplied)
        return;

    // The data decides whether the cue can go round again, not the length
    // its file declares: with nothing decoded where it would start again
    // (a broken file, a read error before the loop start), a restart would
    // only end again at once. Such a cue ends, whatever its loop count.
    const qint64 dataEnd = m_engine->decodedLengthMs();
    const bool soundless = dataEnd >= 0 && dataEnd <= loopStartTarget(cue);

    if (!finishAtEnd && !soundless) {
        qint64 duration = cue->durationMs();
        if (duration <= 0)
            duration = getDuration();
        const qint64 regionEnd = regionEndOf(cue->loopEndMs(), duration);
        const qint64 loopStart = cue->loopStartMs();
        const int loopCount = cue->loopCount();
        const int completed = m_passCounted ? loopCounter : loopCounter + 1;
        if (regionEnd > loopStart && (loopCount == 0 || completed < loopCount)) {
            m_engine->seek(loopStart);
            m_loopJustApplied = true;
            m_passCounted = false;
            if (loopCount > 0)
                loopCounter = completed;
            updateLoopPasses();
            return;
        }
    }
    m_loopJustApplied = false;
    m_endedWithoutSound = soundless;
    if (soundless)
        qWarning() << "AudioEngine - nothing to play in" << cue->filePath() << ", the cue ends";

    // A fade to silence that ended, or a cue without sound, leaves nothing
    // to crossfade from.
    m_handoverPending = !soundless && m_engine->crossfadeEnabled && m_engine->isPlaying()
        && (finishAtEnd || autoAdvance);
    m_state = Stopped;
    m_loopCheckTimer->stop();
    m_crossfadeSeen = false;
    if (!m_handoverPending) {
        m_engine->stop();
        Q_EMIT positionChanged(0);
    }
    Q_EMIT stateChanged(Stopped);
    Q_EMIT playbackFinished();
}

void AudioEngine::onCrossfadeDecodeReady()
{
    Cue* pending = m_engine->crossfadePendingCue();
    if (m_state != Playing || !m_currentCue || !pending)
        return;

    m_handoverPending = true;
    const bool crossfaded = m_engine->startCrossfade(pending);
    m_handoverPending = false;
    if (!crossfaded && m_state != Playing)
        return;
    loopCounter = 0;
    m_loopJustApplied = false;
    m_passCounted = false;
    if (crossfaded) {
        enterCrossfadedCue(pending);
        return;
    }
    // The crossfade was refused: the prepared cue starts on its own.
    m_currentCue = pending;
    applyCueVolumeChoice(pending);
    const QString path = pending->filePath();
    if (!QFileInfo::exists(path)) {
        qWarning() << "onCrossfadeDecodeReady - File not found:" << path;
        failStart(QStringLiteral("文件不存在：") + QFileInfo(path).fileName());
        return;
    }
    if (!m_engine->loadCue(pending)) {
        qWarning() << "onCrossfadeDecodeReady - Failed to load cue, stopping";
        failStart(QStringLiteral("加载音频文件失败：") + pending->name());
        return;
    }
    startLoadedCueAtLoopStart(pending);
}
