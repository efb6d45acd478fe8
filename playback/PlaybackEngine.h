#pragma once

#include "playback/AudioOutputDevice.h"
#include "playback/CrossfadeCurve.h"
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
// Every public member belongs to the GUI thread. The audio callback only runs
// the PlaybackRenderer; the engine hands it buffers and cue snapshots under
// the device lock (a few pointer swaps) and frees replaced ones afterwards.
// What the callback reports (the end of the data, a finished crossfade) and
// what the workers finish is picked up by a short GUI-thread timer, which
// emits the signals.
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

    virtual bool reinitializeDevice();
    virtual bool setOutputDevice(const QString& deviceName);
    virtual QString getOutputDeviceName() const;
    virtual QStringList getAvailableDevices() const;

    virtual qint64 getPosition() const { return m_renderer.positionMs(); }
    virtual qint64 getDuration() const { return m_renderer.durationMs(); }
    virtual bool isPlaying() const { return m_renderer.isPlaying(); }
    virtual float getPeakLevel() const { return m_renderer.peakLevel(); }
    virtual quint32 getSampleRate() const { return m_sampleRate; }

    // --- decoding and preload cache ---
    virtual bool loadCue(Cue* cue);
    virtual void preloadCues(const QList<Cue*>& cues);
    virtual void prioritizePreload(Cue* cue);
    virtual void clearPreloadQueue();
    virtual void clearPreloadCache();
    virtual void removeFromCache(const QString& filePath);
    virtual bool isCached(const QString& filePath) const;
    qint64 cacheMemoryUsage() const;
    // The current cue's data holds the whole file: decoded to its real end,
    // not cut short by a read error. Only then is getDuration() its length.
    virtual bool isDecodeComplete() const;

    // --- crossfade ---
    virtual bool startCrossfade(Cue* next);
    virtual void cancelCrossfade();
    virtual bool isCrossfading() const { return m_renderer.isCrossfading(); }
    virtual bool isCrossfadeDecoding() const { return m_crossfadeDecodeRunning; }
    virtual Cue* crossfadePendingCue() const { return m_pendingCrossfadeCue.data(); }
    virtual quint64 incomingPositionFrames() const { return m_renderer.incomingPositionFrames(); }

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
    void crossfadeDecodeReady();

private:
    // Replaced buffers and snapshots, released after the device lock is let go.
    using Garbage = std::vector<std::shared_ptr<const void>>;

    struct GainHold {
        bool active = false;
        float gain = 1.0f;
        float reference = 0.0f;
        bool referenceSet = false;
    };

    static void staticDataCallback(void* userData, float* out, int frames);

    bool initializeDevice();
    void closeDevice();

    // Runs change with the device locked, after taking over a crossfade
    // hand-over the callback may have made.
    template <typename Change>
    void withRenderer(Change&& change);
    void syncHandoverLocked(Garbage& garbage);

    void keepInCache(const QString& path, const std::shared_ptr<PcmBuffer>& pcm);
    void abandonCurrentDecode(Garbage& garbage);
    void startDecode(const QString& path, const std::shared_ptr<PcmBuffer>& buffer);
    void startAsyncCrossfadeDecode(Cue* cue);
    void stopAsyncCrossfadeDecode();
    void dropIncomingLocked(Garbage& garbage);

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
    DecodeFunction m_decode;
    std::shared_ptr<PcmCache> m_cache;
    PcmPreloader m_preloader;

    // What the renderer plays, owned here.
    QPointer<Cue> m_currentCue;
    QString m_currentPath;  // the file the current data was decoded from
    std::shared_ptr<PcmBuffer> m_currentPcm;
    std::shared_ptr<const CueSnapshot> m_currentSnapshot;
    QPointer<Cue> m_nextCue;
    QString m_incomingPath;
    std::shared_ptr<PcmBuffer> m_incomingPcm;
    std::shared_ptr<const CueSnapshot> m_incomingSnapshot;
    bool m_sameFileCrossfade = false;
    quint64 m_seenHandovers = 0;
    quint64 m_seenEndReports = 0;
    quint64 m_loadGeneration = 0;  // counts loads and stops
    GainHold m_gainHold;

    Cue* m_watchedCurrent = nullptr;
    Cue* m_watchedNext = nullptr;
    std::vector<QMetaObject::Connection> m_cueConnections;

    // "MADecodeThread": fills m_currentPcm.
    QThread* m_decodeThread = nullptr;
    bool m_decodeReportPending = false;

    // "XfadeDecodeThread": the incoming cue of a crossfade.
    QThread* m_crossfadeThread = nullptr;
    std::shared_ptr<PcmBuffer> m_crossfadeBuffer;
    QPointer<Cue> m_pendingCrossfadeCue;
    bool m_crossfadeDecodeRunning = false;
    bool m_crossfadeDecodeDone = false;
    bool m_crossfadeDecodeFailed = false;

    QTimer m_pollTimer;
    bool m_shuttingDown = false;
};
