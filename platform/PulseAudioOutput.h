#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <memory>

// A playback stream on the PulseAudio server (also PipeWire's pulse server):
// 32-bit float, stereo, 44100 Hz, fed by a render callback on libpulse's
// mainloop thread.
//
// The stream keeps a deep buffer (kBufferMs), so that a busy machine cannot
// starve it, and still starts quickly: while nothing sounds it is corked
// (it costs nothing), and a start writes its first audio over whatever is
// queued, from the point being played on, then uncorks; the server rewinds
// its own buffer to take it in at once. A start while the stream runs
// writes over queued silence the same way, and a cut (stop, pause, a new
// cue over a sounding one) over queued sound.
//
// All calls belong to one thread at a time (an output may be opened on a
// worker and handed over); the callback runs with the mainloop lock held,
// which Lock takes too.
class PulseAudioOutput {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    static constexpr int kBytesPerFrame = kChannels * int(sizeof(float));
    // What the server holds ahead of the loudspeaker.
    static constexpr int kBufferMs = 150;
    // It asks for more once this much has played.
    static constexpr int kRequestMs = 10;

    using RenderCallback = void (*)(void* userData, float* out, int frames);
    // Whether anything is meant to sound; null: always. A stream that only
    // gets silence while nothing is meant to sound is corked.
    using ActiveProbe = bool (*)(void* userData);
    // Frames of real content the callback has rendered so far (silence put
    // in while waiting is not content); null: every frame is content.
    using ContentProbe = quint64 (*)(void* userData);

    PulseAudioOutput();
    ~PulseAudioOutput();
    PulseAudioOutput(const PulseAudioOutput&) = delete;
    PulseAudioOutput& operator=(const PulseAudioOutput&) = delete;

    // Whether a PulseAudio server answers right now.
    static bool serverReachable();

    // Descriptions of the server's sinks (the names an operator sees); *ok is
    // false when the server could not be asked.
    static QStringList sinkDescriptions(bool* ok);

    // Connects and opens a corked stream on the sink with that description
    // (empty: the server's default). False with *error when the server or
    // the stream cannot be reached; nothing is left open then.
    bool open(const QString& sinkDescription, RenderCallback callback, ActiveProbe active, ContentProbe content,
              void* userData, QString* error);
    void close();
    bool isOpen() const { return m_loop != nullptr; }
    // Hands an output opened without a callback (on another thread) the
    // callback that renders into it.
    void attach(RenderCallback callback, ActiveProbe active, ContentProbe content, void* userData);

    // The callback's output is to be heard now: it is written over what is
    // queued (see above) and the stream runs. False with *error when the
    // stream is gone.
    bool start(QString* error);
    // The callback's output replaces queued sound at once (after a stop or a
    // pause). Returns how many frames of rendered sound were dropped, so
    // the caller can take its position back by that much.
    qint64 cut();
    // The server or the stream went away.
    bool isLost() const { return m_lost.load(std::memory_order_relaxed); }
    bool isCorked() const { return m_corked; }
    // How much longer the stream waits, after the last start, for its sink
    // to play out what the sink had queued ahead before: no block is asked
    // for meanwhile. A sink that no stream asked for a short latency may
    // have queued seconds (a null sink: 2 s) and does not take them back
    // for a stream that starts.
    int sinkWaitMs();
    int periodFrames() const;

    void lock();
    void unlock();

private:
    static void onContextState(struct pa_context* context, void* userData);
    static void onStreamState(struct pa_stream* stream, void* userData);
    static void onWrite(struct pa_stream* stream, size_t bytes, void* userData);
    static void onTimeout(struct pa_mainloop_api* api, struct pa_time_event* event, const struct timeval* tv,
                          void* userData);
    // Waits (mainloop locked) until done() holds or 2 s have passed.
    template <typename Done>
    bool waitFor(Done&& done);

    void fill(size_t bytes);
    // Writes bytes of the callback's output (or silence) into the stream
    // from an absolute byte index on.
    void writeAt(qint64 index, qint64 bytes, bool render);
    // Renders (or silences) one chunk into the scratch buffer; true when it
    // holds content.
    bool renderChunk(qint64 bytes, bool render);
    void writeChunk(qint64 bytes, bool content, qint64 index, int seekMode);
    qint64 playIndex();
    qint64 startIndex();
    void setCorked(bool corked);
    // From the stream's timing (mainloop locked); false when it has none yet.
    bool noteSinkWait();
    void release();

    struct pa_threaded_mainloop* m_loop = nullptr;
    struct pa_context* m_context = nullptr;
    struct pa_stream* m_stream = nullptr;
    RenderCallback m_callback = nullptr;
    ActiveProbe m_active = nullptr;
    ContentProbe m_content = nullptr;
    void* m_userData = nullptr;
    std::unique_ptr<float[]> m_scratch;

    // Byte indexes in the stream (what has been written, and up to where it
    // held content); touched with the mainloop lock held.
    qint64 m_writeIndex = 0;
    qint64 m_contentEnd = 0;
    bool m_lastChunkContent = false;
    bool m_corked = true;
    bool m_keepRunning = false;
    std::atomic<bool> m_lost{false};
    bool m_timedOut = false;
    // When (pa_rtclock_now()) the sink has played out what it held ahead at
    // the last start.
    qint64 m_sinkFreeAtUs = 0;
    bool m_sinkWaitKnown = true;
    // The stream was uncorked at least once since it opened.
    bool m_hasRun = false;
    struct pa_time_event* m_timeout = nullptr;
};
