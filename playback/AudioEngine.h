#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "model/Cue.h"  // QPointer<Cue> members need the whole type
#include "playback/WaveformParseRequester.h"

class CueVolumeRamp;
class OutputRecovery;
class PlaybackEngine;
class QTimer;

// The transport: plays one cue at a time through the PlaybackEngine it owns
// and applies the cue's rules on top of the engine's primitives: where a cue
// starts (inside its loop region), when (pre-wait), how often its region
// repeats (loop count), when it ends or hands over to the next cue by
// crossfade, how pause and resume fade and what gain the engine gets. An
// output that is lost or stalls is brought back by its OutputRecovery.
//
// Everything runs on the GUI thread. The engine's device and worker threads
// reach the transport only through queued signals; a playbackFinished emitted
// inside play() (a cue that fails to start) reaches CueManager synchronously.
class AudioEngine : public QObject {
    Q_OBJECT

public:
    enum State { Stopped = 0, Playing = 1, Paused = 2 };
    Q_ENUM(State)

    // Ticks of the loop check during which the output device asks for no
    // block while a cue plays, after which it counts as stalled (2 s).
    static constexpr int kStuckTickLimit = 40;
    static constexpr int kLoopCheckIntervalMs = 50;
    static constexpr int kLevelIntervalMs = 50;
    static constexpr int kPauseFadeStepMs = 10;

    static AudioEngine* instance();

    explicit AudioEngine(QObject* parent = nullptr);
    // Drives the given engine instead of making one, and takes ownership of it.
    explicit AudioEngine(PlaybackEngine* engine, QObject* parent = nullptr);
    ~AudioEngine() override;

    // Playback control
    bool play(Cue* cue, bool finishAtEnd, qint64 startPosMs = -1);
    void pause();
    void resume();
    void stop();
    void seek(qint64 positionMs);

    // Volume: output gain = (main/100)^1.5 x (cue/100)^1.5 x 10^(dB/20), 0..2
    void setMainVolume(int volume);
    // Heard at once; ends a move of the cue volume under way.
    void setCueVolume(int volume);
    // Moves the current cue's volume to volume over the switch time: the
    // output moves the gain per sample, whatever the GUI thread is doing.
    // A new move starts from the level reached; retarget turns a running
    // move round from there, arriving when it would have arrived.
    void rampCueVolume(int volume);
    void retargetCueVolume(int volume);
    // Ends a running move where it is.
    void stopCueVolumeRamp();
    void setCueVolumeRampMs(qint64 ms);
    // Announces the end of a move that arrived.
    const CueVolumeRamp* cueVolumeRamp() const { return m_cueRamp; }
    // The volume (0..100) of the current cue in force now, on its way while
    // it moves.
    int cueVolume() const;
    // Length of the level move when a cue's loudness gain changes while it
    // sounds.
    static constexpr qint64 kLufsRampMs = 500;
    void setLufsGain(double gainDb);
    void applyVolume();

    // Settings written by the main window; they take effect at the next pause
    // or resume.
    void setPauseFadeEnabled(bool enabled) { m_pauseFadeEnabled = enabled; }
    void setPauseFadeDuration(int ms) { m_pauseFadeDurationMs = ms; }
    void setPauseFadeShowModeOnly(bool showModeOnly) { m_pauseFadeShowModeOnly = showModeOnly; }
    void setShowMode(bool showMode) { m_showMode = showMode; }
    void setTrackListManager(WaveformParseRequester* trackList) { m_trackList = trackList; }

    // Crossfade settings
    void setCrossfadeEnabled(bool enabled);
    bool isCrossfadeEnabled() const { return m_crossfadeEnabled; }
    void setCrossfadeDuration(int seconds);
    void setCrossfadeCurve(int curve);
    int getCrossfadeCurve() const;

    // Output device
    void setOutputDevice(const QString& deviceName);
    QStringList getAvailableDevices() const;
    QString getOutputDeviceName() const;

    // Preloading and crossfade pass-throughs to the engine
    // The cues in their expected play order, the soonest first; see
    // PlaybackEngine::preloadCues.
    void preloadCues(const QList<Cue*>& cues);
    void preloadCues(const QList<Cue*>& cues, int decodeAhead);
    void prioritizePreload(Cue* cue);
    void clearPreloadQueue();
    void clearPreloadCache();
    void removeFromCache(const QString& filePath);
    bool isCached(const QString& filePath) const;
    void cancelCrossfade();
    bool startCrossfade(Cue* cue);

    // Read access
    State getState() const { return m_state; }
    double lufsGain() const { return m_lufsGainDb; }
    Cue* getCurrentCue() const { return m_currentCue.data(); }
    bool isPreWaitActive() const { return m_preWaitActive; }
    qint64 getDuration() const;
    qint64 getPosition() const;
    qint64 getCurrentPosition() const;
    bool isCrossfading() const;
    // The cue that ended last could not produce any sound: nothing of it
    // could be decoded (or nothing where it starts), or it failed to start.
    bool endedWithoutSound() const { return m_endedWithoutSound; }
    // The output could not be (re)started or went away while a cue was
    // meant to sound: the cue keeps its place and its position, and the
    // output is tried again in the background until it is back.
    bool hasOutputFailed() const;
    // Delay before the next attempt to bring the output back, after n failed ones.
    static int outputRetryDelayMs(int failedAttempts);

    // The play mode changed: the cue being played (or paused) and the one
    // queued behind a running crossfade follow the new rules. finishAtEnd
    // ends after one pass; autoAdvance hands over to the next cue.
    void followPlayMode(bool finishAtEndArg, bool autoAdvanceArg);

    // Written by CueManager before every start and when the play mode changes.
    int loopCounter = 0;       // passes of the loop region completed (custom modes)
    bool finishAtEnd = false;  // end after one pass, ignoring pre-wait and loop count
    bool autoAdvance = false;  // after the last pass hand over to the next cue (else fade out)

Q_SIGNALS:
    void stateChanged(AudioEngine::State newState);
    void positionChanged(qlonglong positionMs);
    void durationChanged(qlonglong durationMs);
    void playbackFinished();
    void currentCueChanged(Cue* cue);
    // A cue's sound is about to start: the last moment to set its loudness
    // gain so that its first block already plays at it.
    void cueStarting(Cue* cue);
    void levelUpdated(float level);
    void errorOccurred(QString message);
    // What happens to the output while it is away: lost is true while it is
    // away and being retried, false once it is back.
    void outputStatusChanged(const QString& message, bool lost);

private Q_SLOTS:
    void onLoopCheckTimer();
    void onPreWaitTimeout();
    void onCrossfadeDecodeReady();
    void onLevelTimer();
    void onPauseFadeTimer();

private:
    void connectEngine();
    void checkLoopRegion(qint64 positionMs);
    void handleEngineFinished();

    // Resets what belongs to the cue that was playing before a new one starts.
    void resetForNewCue(bool finishAtEndArg);
    // Ends a start that could not go ahead: the engine is silenced, the
    // operator is told why, and CueManager learns the cue is over.
    bool failStart(const QString& message);
    // The cue a crossfade has just brought in becomes the current one.
    void enterCrossfadedCue(Cue* cue);
    // Starts a cue the engine has loaded, from its loop start, on its own.
    void startLoadedCueAtLoopStart(Cue* cue);
    // The cue ends while its sound goes on, so that the next play() can
    // crossfade from it.
    void handOver();
    // The last pass of the cue has ended; silences the engine unless a
    // crossfade from it can still follow.
    void finishLastPass(bool dropCurrentCue);
    // A crossfade whose incoming cue has its data by now, left waiting while
    // the transport was paused, goes ahead.
    void continuePreparedCrossfade();
    void cancelPauseFade();
    void cancelPreWait();
    // The end of a fading pause: the engine paused where the sound ended.
    void enterFadedPause();
    // Passes of its loop region the current cue plays after the one under
    // way (-1: endless), as its play mode and loop count say; the engine
    // wraps to the loop start itself.
    int passesLeftForCurrentCue() const;
    void updateLoopPasses();
    // Counts the passes the engine's wraps have completed since the last look.
    void syncLoopWraps();

    float volumeLawGain() const { return volumeLawGain(m_cueVolume); }
    float volumeLawGain(int cueVolume) const;
    float fadeReferenceGain() const;
    bool pauseFadeApplies() const;
    int pauseFadeSteps() const;
    void applyCueVolumeChoice(Cue* cue);
    void requestWaveform(Cue* cue);
    qint64 loopStartTarget(Cue* cue) const;
    qint64 resolveStartDuration(Cue* cue);

    PlaybackEngine* m_engine = nullptr;
    QTimer* m_loopCheckTimer = nullptr;
    QTimer* m_preWaitTimer = nullptr;
    QTimer* m_levelTimer = nullptr;
    QPointer<Cue> m_currentCue;
    State m_state = Stopped;
    int m_mainVolume = 80;
    int m_cueVolume = 50;  // where a move of it heads
    CueVolumeRamp* m_cueRamp = nullptr;
    bool m_stopRequested = false;
    bool m_preWaitActive = false;
    bool m_loopJustApplied = false;
    bool m_handoverPending = false;
    bool m_crossfadeSeen = false;
    bool m_endedWithoutSound = false;
    // The crossfade window of the running pass has been dealt with (the pass
    // is counted); later ticks of the same pass leave it alone.
    bool m_passCounted = false;
    quint64 m_seenWraps = 0;  // the engine's wraps already counted
    QPointer<Cue> m_queuedCue;
    bool m_queuedFinishAtEnd = false;
    double m_lufsGainDb = 0.0;
    bool m_crossfadeEnabled = false;
    QTimer* m_pauseFadeTimer = nullptr;
    int m_pauseFadeDurationMs = 1000;
    bool m_pauseFadeEnabled = true;
    bool m_pauseFadeShowModeOnly = false;
    bool m_showMode = false;
    float m_fadeStartGain = 0.0f;
    float m_fadeTargetGain = 0.0f;
    int m_fadeStepsLeft = 0;
    bool m_fadingOut = false;
    OutputRecovery* m_recovery = nullptr;
    // Guarded: the track list is deleted with the main window, before us.
    QPointer<WaveformParseRequester> m_trackList;
};
