#pragma once

#include "model/Cue.h"
#include "playback/PlaybackEngine.h"

#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <QPointer>

// A playback engine without a device whose position, flags and answers a
// test scripts, and which records what the transport asked of it.
// advance() plays the engine forward like the audio callback would.
class FakePlaybackEngine : public PlaybackEngine {
public:
    // Scripted state
    qint64 position = 0;
    qint64 duration = 0;  // the decoded length
    bool playing = false;
    float peak = 0.25f;
    bool decodeComplete = true;
    qint64 decodedLength = -2;  // what decodedLengthMs() says; -2: the duration
    bool deviceStalled = false;  // the output asks for no more blocks
    bool playSucceeds = true;
    bool crossfading = false;
    bool crossfadeDecoding = false;
    QPointer<Cue> pendingCue;
    quint64 incomingFrames = 0;

    // Answers
    bool loadSucceeds = true;
    bool crossfadeAccepted = true;
    bool reinitSucceeds = true;
    QStringList unloadable;  // files the engine cannot load

    // Records
    QPointer<Cue> loaded;
    QList<qint64> seeks;
    QList<float> volumes;
    QList<qint64> rampLengths;  // frames of each gain change (0: a step)
    QList<Cue*> crossfadeRequests;  // nullptr: a fade to silence
    QList<bool> playOutRequests;    // ... each asked to play out when refused
    int loopPasses = 0;             // the last setLoopPasses
    QList<Cue*> prioritized;
    int playCalls = 0;
    int pauseCalls = 0;
    int stopCalls = 0;
    int loadCalls = 0;
    int reinitCalls = 0;
    int deviceSwitches = 0;
    QString deviceName;
    float volume = 1.0f;
    float volumeAtPlay = -1.0f;  // the output gain when the sound started

    // The running mix (for advance()).
    QPointer<Cue> mixTarget;
    bool mixToSilence = false;
    qint64 mixElapsedMs = 0;
    bool endReported = false;

    void play() override
    {
        ++playCalls;
        volumeAtPlay = volume;
        if (!playSucceeds) {
            playing = false;
            Q_EMIT errorOccurred(QStringLiteral("音频设备初始化失败，请检查音频输出设备"));
            return;
        }
        playing = true;
    }
    void pause() override
    {
        ++pauseCalls;
        playing = false;
    }
    void stop() override
    {
        ++stopCalls;
        playing = false;
        position = 0;
        loaded = nullptr;
        crossfading = false;
        crossfadeDecoding = false;
        pendingCue = nullptr;
    }
    void seek(qint64 ms) override
    {
        seeks.append(ms);
        position = ms;
        endReported = false;
    }
    void rampVolume(float gain, qint64 rampFrames) override
    {
        volume = gain;
        volumes.append(gain);
        rampLengths.append(rampFrames);
    }
    void setVolume(float gain) override { rampVolume(gain, 0); }
    bool reinitializeDevice() override
    {
        ++reinitCalls;
        return reinitSucceeds;
    }
    bool setOutputDevice(const QString& name) override
    {
        deviceName = name;
        ++deviceSwitches;
        return true;
    }
    QString getOutputDeviceName() const override { return QStringLiteral("Default"); }
    QStringList getAvailableDevices() const override { return {QStringLiteral("Default")}; }
    qint64 getPosition() const override { return position; }
    qint64 getDuration() const override { return duration; }
    bool isPlaying() const override { return playing; }
    float getPeakLevel() const override { return peak; }
    quint32 getSampleRate() const override { return 44100; }
    // A running device asks for a block between any two looks.
    quint64 outputProgress() const override
    {
        if (!deviceStalled)
            ++blocks;
        return blocks;
    }
    mutable quint64 blocks = 0;
    bool isOutputWaitingForSink() const override { return waitingForSink; }
    bool waitingForSink = false;  // started, the sink still plays out its own queue

    bool loadCue(Cue* cue) override
    {
        ++loadCalls;
        if (!loadSucceeds || !QFileInfo::exists(cue->filePath()) || unloadable.contains(cue->filePath()))
            return false;
        loaded = cue;
        playing = false;
        position = 0;
        duration = cue->durationMs();
        crossfading = false;
        endReported = false;
        return true;
    }
    void preloadCues(const QList<Cue*>&, int) override {}
    void prioritizePreload(Cue* cue) override { prioritized.append(cue); }
    void clearPreloadQueue() override {}
    void clearPreloadCache() override {}
    void removeFromCache(const QString&) override {}
    bool isCached(const QString&) const override { return false; }
    bool isDecodeComplete() const override { return decodeComplete; }
    qint64 decodedLengthMs() const override
    {
        if (!loaded)
            return -1;
        return decodedLength == -2 ? duration : decodedLength;
    }

    bool startCrossfade(Cue* next, bool playOutIfRefused = false) override
    {
        crossfadeRequests.append(next);
        playOutRequests.append(playOutIfRefused);
        if (!crossfadeEnabled || !crossfadeAccepted || !loaded)
            return false;
        if (next && !QFileInfo::exists(next->filePath()))
            return false;
        crossfading = true;
        mixTarget = next;
        mixToSilence = next == nullptr;
        mixElapsedMs = 0;
        return true;
    }
    void cancelCrossfade() override { crossfading = false; }
    void setLoopPasses(int passesLeft) override { loopPasses = passesLeft; }
    bool isCrossfading() const override { return crossfading; }
    bool isCrossfadeDecoding() const override { return crossfadeDecoding; }
    Cue* crossfadePendingCue() const override { return pendingCue.data(); }
    quint64 incomingPositionFrames() const override { return incomingFrames; }

    // Plays ms of audio: the position runs, a mix progresses and hands over,
    // and the end of the data is reported once, as the engine does.
    void advance(qint64 ms)
    {
        if (!playing)
            return;
        if (crossfading) {
            mixElapsedMs += ms;
            incomingFrames = quint64(mixElapsedMs * 44100 / 1000);
            if (mixElapsedMs < crossfadeDurationMs)
                return;
            crossfading = false;
            if (mixToSilence) {
                playing = false;
                position = 0;
                endReported = true;
                Q_EMIT playbackFinished();
                return;
            }
            loaded = mixTarget;
            if (loaded) {
                duration = loaded->durationMs();
                position = loaded->loopStartMs() + crossfadeDurationMs;
            }
            endReported = false;
            return;
        }
        position += ms;
        if (position >= duration) {
            position = duration;
            if (!endReported) {
                endReported = true;
                Q_EMIT playbackFinished();
            }
        }
    }
};
