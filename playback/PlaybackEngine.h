#pragma once

#include "playback/AudioOutputDevice.h"
#include "playback/CrossfadeCurve.h"
#include "playback/OutputOpener.h"
#include "audiofile/PcmDecoding.h"
#include "playback/PcmPreloader.h"
#include "playback/PlaybackRenderer.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

class Cue;
class CueSnapshot;
class PcmBuffer;
class PcmCache;
class QThread;

// Plays one cue at a time from memory on an SDL output device: decodes whole
// files on worker threads (starting playback after the first few thousand
// frames), keeps decoded files in a preload cache, and crossfades from one
// cue into the next. It never decides what plays next; the transport above
// it polls the position and drives it.
//
// A file is decoded once however many need it: the playback, a crossfade and
// the preloader claim its buffer from the cache and share it, complete or
// still filling.
//
// Every public member belongs to the GUI thread. The audio callback only runs
// the PlaybackRenderer; the engine hands it buffers and cue snapshots under
// the device lock, with nothing but pointer swaps there: whatever is replaced
// is released, and whatever needs allocating is made, outside the lock. What
// the callback reports (the end of the data, a finished crossfade) and what
// the workers finish is picked up by a short GUI-thread timer, which emits
// the signals.
class PlaybackEngine : public QObject {
    Q_OBJECT

public:
    explicit PlaybackEngine(QObject* parent = nullptr);
    ~PlaybackEngine() override;

    // What the transport calls is virtual so that its tests can script an
    // engine without a device.

    // --- transport primitives ---
    virtual void play();
    virtual void pause();
    virtual void stop();
    virtual void seek(qint64 positionMs);
    virtual void setVolume(float gain);
    // The same gain change, heard as a linear move over rampFrames from the
    // gain the cue is heard at (not a step).
    virtual void rampVolume(float gain, qint64 rampFrames);

    // One attempt, without waiting: a device that cannot be opened now is
    // tried again later by the transport. A PulseAudio output is opened in
    // the background (the server may take seconds to answer): false while
    // that is under way (isOpeningDevice()); deviceOpenFinished() tells
    // how it went. An attempt asked for while one is under way is that one.
    virtual bool reinitializeDevice();
    virtual bool isOpeningDevice() const { return m_opener.isOpening(); }
    // What was rendered and not heard yet is dropped, so that a stop or a
    // pause is heard at once (a deep output buffer would otherwise play it
    // out); a paused cue goes back to the position that was heard.
    virtual void cutOutput();
    // The library that really runs the output, for log lines.
    QString outputLibrary() const { return m_device.libraryName(); }
    int outputBufferMs() const { return m_device.bufferMs(); }
    // Closes the device and keeps everything else (the cue, its position, a
    // running crossfade): the next play() goes on on the new device.
    virtual bool setOutputDevice(const QString& deviceName);
    virtual QString getOutputDeviceName() const;
    virtual QStringList getAvailableDevices() const;

    virtual qint64 getPosition() const { return m_renderer.positionMs(); }
    virtual qint64 getDuration() const { return m_renderer.durationMs(); }
    virtual bool isPlaying() const { return m_renderer.isPlaying(); }
    virtual float getPeakLevel() const { return m_renderer.peakLevel(); }
    virtual quint32 getSampleRate() const { return m_sampleRate; }
    // Blocks the output device has asked for so far; it stands still only
    // when the device does.
    virtual quint64 outputProgress() const { return m_renderer.renderCalls(); }
    // The output was started and still waits for its sink to play out what
    // the sink had queued ahead: it asks for no block before that.
    virtual bool isOutputWaitingForSink() const { return m_device.sinkWaitMs() > 0; }

    // --- decoding and preload cache ---
    virtual bool loadCue(Cue* cue);
    // How many cues are decoded ahead of the one playing (or about to).
    static constexpr int kDecodeAhead = 2;
    // cues: the order in which cues are expected to play, the soonest
    // first. The first decodeAhead of them are decoded ahead into the cache
    // (those not in memory yet); the whole order ranks the cache, so what is
    // furthest from being played leaves it first.
    virtual void preloadCues(const QList<Cue*>& cues, int decodeAhead = kDecodeAhead);
    virtual void prioritizePreload(Cue* cue);
    virtual void clearPreloadQueue();
    virtual void clearPreloadCache();
    virtual void removeFromCache(const QString& filePath);
    virtual bool isCached(const QString& filePath) const;
    qint64 cacheMemoryUsage() const;
    // The current cue's data holds the whole file: decoded to its real end,
    // not cut short by a read error. Only then is getDuration() its length.
    virtual bool isDecodeComplete() const;
    // Length of the current cue's data once decoding has ended (0 when
    // nothing could be decoded); -1 while it is still arriving, or when there
    // is no data (stopped, faded to silence).
    virtual qint64 decodedLengthMs() const;

    // --- crossfade ---
    // playOutIfRefused: where the cues are too short for a crossfade, the
    // current cue plays to its region end and next starts there, to the
    // frame (an automatic hand-over at the end of a cue), instead of
    // refusing (an operator who switches cues wants the new one now).
    virtual bool startCrossfade(Cue* next, bool playOutIfRefused = false);
    virtual void cancelCrossfade();
    virtual bool isCrossfading() const { return m_renderer.isCrossfading(); }
    // A crossfade is prepared and its incoming cue has no data to mix yet.
    virtual bool isCrossfadeDecoding() const { return m_crossfadePending && !m_crossfadeReady; }
    virtual Cue* crossfadePendingCue() const { return m_pendingCrossfadeCue.data(); }
    virtual quint64 incomingPositionFrames() const { return m_renderer.incomingPositionFrames(); }

    // --- loop region ---
    // Passes of its loop region the cue the transport plays (the incoming
    // one while a crossfade brings it in) plays after the one under way:
    // the output wraps to the loop start at the region end, to the frame,
    // while any are left (-1: endless), else the cue ends there.
    virtual void setLoopPasses(int passesLeft);
    // Wraps to the loop start made so far (a running count).
    virtual quint64 loopWraps() const { return m_renderer.loopWraps(); }

    // Crossfade settings, written by the transport.
    bool crossfadeEnabled = false;
    qint64 crossfadeDurationMs = 3000;
    int crossfadeCurve = int(CrossfadeCurve::SmoothStep);

    // --- for tests ---
    // Replaces the decoder of every later decode (playback, preload, crossfade).
    void setDecodeFunction(DecodeFunction decode);
    PcmCache& cache() { return *m_cache; }

Q_SIGNALS:
    void decodingCompleted();
    void playbackFinished();
    void errorOccurred(const QString& message);
    // The prepared crossfade's incoming cue has its first data (or turned
    // out to have none): startCrossfade() for it mixes now (or refuses).
    void crossfadeDecodeReady();
    // The output went away while a cue sounded and could not be reopened.
    void outputLost();
    // A background open of the output has ended; the device is open (and
    // paused) when opened is true.
    void deviceOpenFinished(bool opened);

private:
    // One cue as the renderer plays it, and what keeps its data alive.
    struct Voice {
        QPointer<Cue> cue;
        QString path;
        std::shared_ptr<PcmBuffer> pcm;
        std::shared_ptr<const CueSnapshot> snapshot;
        void swap(Voice& other) noexcept;
    };
    // What the renderer let go of while the device was locked: it is swapped
    // in here (no allocation, nothing freed) and released after the lock.
    struct Retired {
        static constexpr int kSlots = 6;
        Voice voices[kSlots];
        int used = 0;
        void take(Voice& voice);
    };

    struct GainHold {
        bool active = false;
        float gain = 1.0f;
        float reference = 0.0f;
        bool referenceSet = false;
    };

    static void staticDataCallback(void* userData, float* out, int frames);
    static bool staticActiveProbe(void* userData);
    static quint64 staticContentProbe(void* userData);

    // Opens the output device (paused) unless it is open: one attempt (for
    // PulseAudio started in the background, and false meanwhile).
    bool initializeDevice();
    void closeDevice();
    void onDeviceOpened(std::shared_ptr<PulseAudioOutput> output, const QString& error);
    // What play() tells the operator should the open it started fail.
    void failPlay(const QString& message);

    // Runs change with the device locked, after taking over a crossfade
    // hand-over the callback may have made; change may only call the
    // renderer and swap members into retired.
    template <typename Change>
    void withRenderer(Retired& retired, Change&& change);
    void syncHandover();
    void syncHandoverLocked(Retired& retired);
    // After the lock: decodes nobody needs any more are cancelled, the
    // current data's decode is watched.
    void releaseRetired(Retired& retired);

    qint64 expectedFrames(const QString& path, qint64 durationMs) const;
    void keepInCache(const QString& path, const std::shared_ptr<PcmBuffer>& pcm);
    void startDecode(const QString& threadName, const QString& path, const std::shared_ptr<PcmBuffer>& buffer);
    void dropPendingCrossfade();
    void clearPendingCrossfade();

    void rewatchCues();
    void onCueChanged(Cue* cue);
    void onCueDestroyed();

    void onPoll();
    void checkDevice();
    void updatePolling();

    quint32 m_sampleRate = PlaybackRenderer::kSampleRate;
    quint32 m_channels = PlaybackRenderer::kChannels;
    QString m_outputDeviceName;

    PlaybackRenderer m_renderer;
    AudioOutputDevice m_device;
    OutputOpener m_opener;
    QString m_openFailureMessage;
    DecodeFunction m_decode;
    std::shared_ptr<PcmCache> m_cache;
    PcmPreloader m_preloader;

    // What the renderer plays, owned here.
    Voice m_current;
    Voice m_incoming;  // mixing in; for a crossfade within one file it shares m_current's data
    bool m_sameFileCrossfade = false;
    quint64 m_seenHandovers = 0;
    quint64 m_seenEndReports = 0;
    quint64 m_loadGeneration = 0;  // counts loads and stops
    GainHold m_gainHold;

    Cue* m_watchedCurrent = nullptr;
    Cue* m_watchedNext = nullptr;
    std::vector<QMetaObject::Connection> m_cueConnections;

    // The current data's decode, until its outcome has been reported.
    std::shared_ptr<PcmBuffer> m_watchedDecode;
    // Decoder threads started here ("MADecodeThread", "XfadeDecodeThread"),
    // for the destructor to wait on.
    QList<QPointer<QThread>> m_decodeThreads;

    // A crossfade waiting for its incoming cue's first data.
    bool m_crossfadePending = false;
    bool m_crossfadeReady = false;         // crossfadeDecodeReady was emitted
    bool m_crossfadeDecodeFailed = false;  // ... and there is nothing to mix
    bool m_crossfadePlayOut = false;       // ... and it was asked with playOutIfRefused
    int m_incomingPasses = 0;              // loop passes of the cue coming in
    QPointer<Cue> m_pendingCrossfadeCue;
    QString m_pendingCrossfadePath;
    std::shared_ptr<PcmBuffer> m_crossfadeBuffer;

    QTimer m_pollTimer;
    bool m_shuttingDown = false;
};
