#pragma once

#include <QObject>
#include <QString>

class AudioEngine;
class PlaybackEngine;
class QTimer;

// Brings the output back when it is lost or stalls while a cue is meant to
// sound: the cue keeps its place and position, and the device is tried again
// in the background, quickly at first and then once a second, until it plays
// again. Owned by the transport, whose state it reads; what the transport
// itself must do about it is asked for by signals.
//
// Runs on the GUI thread, like the transport.
class OutputRecovery : public QObject {
    Q_OBJECT

public:
    OutputRecovery(AudioEngine* transport, PlaybackEngine* engine);

    // Delay before the next attempt to bring the output back, after n failed ones.
    static int retryDelayMs(int failedAttempts);

    bool hasFailed() const { return m_failed; }

    // The output could not be (re)started: the cue stays current and meant
    // to play at its position while the output is retried.
    void outputFailed();
    // Called by the loop check while the transport plays: true when the
    // device was found stalled and recovery ran, so the tick ends there.
    bool checkStall(qint64 positionMs);
    // The output played again on a resume from pause.
    void outputBackOnResume();
    // A pause: no attempt while nothing is meant to sound.
    void holdRetries();
    void stopRetry();
    // Nothing of the previous cue's trouble carries over to a new one.
    void resetForNewCue();

Q_SIGNALS:
    // The output is away: nothing may move on meanwhile (the loop check and
    // a pause fade stop, the gain is set back).
    void outputHeld();
    // The output plays again: the loop check goes on.
    void outputBack();
    // See AudioEngine::outputStatusChanged.
    void statusChanged(const QString& message, bool lost);

private Q_SLOTS:
    void onRetryTimer();
    void onOpenFinished(bool opened);

private:
    void recoverStalledDevice(qint64 positionMs);
    void announceOutputLost();
    // Plays the cue on from where the output failed.
    void resumeOutput();
    // After an attempt to bring the output back: done, waiting for an open
    // under way, or the next attempt is scheduled.
    void afterAttempt();

    AudioEngine* m_transport = nullptr;
    PlaybackEngine* m_engine = nullptr;
    QTimer* m_retryTimer = nullptr;
    bool m_failed = false;
    int m_retries = 0;
    // The output failed only in that a start found it closed and its open
    // runs in the background: the operator hears of it if the open fails.
    bool m_quiet = false;
    qint64 m_resumePositionMs = 0;
    quint64 m_lastOutputProgress = 0;
    int m_stuckTicks = 0;
    bool m_recovering = false;
};
