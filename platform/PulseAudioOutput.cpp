#include "platform/PulseAudioOutput.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr pa_usec_t kConnectTimeoutUs = 2 * PA_USEC_PER_SEC;
// No sink holds more ahead than this; a larger figure is not believed.
constexpr pa_usec_t kMaxSinkWaitUs = 10 * PA_USEC_PER_SEC;
constexpr int kScratchFrames = 16384;
// Written a little ahead of the sample being played, so that nothing new
// lands behind it.
constexpr qint64 kPlayMarginBytes = qint64(PulseAudioOutput::kSampleRate) * 2 / 1000 * PulseAudioOutput::kBytesPerFrame;

constexpr qint64 msToBytes(qint64 ms)
{
    return ms * PulseAudioOutput::kSampleRate / 1000 * PulseAudioOutput::kBytesPerFrame;
}

const pa_sample_spec kSpec = {PA_SAMPLE_FLOAT32LE, uint32_t(PulseAudioOutput::kSampleRate),
                              uint8_t(PulseAudioOutput::kChannels)};

bool contextUsable(pa_context* context)
{
    const pa_context_state_t state = pa_context_get_state(context);
    return state == PA_CONTEXT_READY;
}

bool contextSettled(pa_context* context)
{
    const pa_context_state_t state = pa_context_get_state(context);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

// A short-lived connection for questions to the server.
struct Query {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = nullptr;

    bool connect()
    {
        context = pa_context_new(pa_mainloop_get_api(loop), "Corvelle");
        if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        return runUntil([this] { return contextSettled(context); }) && contextUsable(context);
    }
    template <typename Done>
    bool runUntil(Done&& done)
    {
        const pa_usec_t deadline = pa_rtclock_now() + kConnectTimeoutUs;
        while (!done()) {
            if (pa_rtclock_now() > deadline || pa_mainloop_prepare(loop, 50000) < 0 || pa_mainloop_poll(loop) < 0
                || pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    }
    ~Query()
    {
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_mainloop_free(loop);
    }
};

struct SinkList {
    QStringList descriptions;
    QStringList names;
    bool done = false;
};

void collectSink(pa_context*, const pa_sink_info* info, int eol, void* userData)
{
    auto* list = static_cast<SinkList*>(userData);
    if (eol != 0) {
        list->done = true;
        return;
    }
    if (info && info->description && *info->description) {
        list->descriptions.append(QString::fromUtf8(info->description));
        list->names.append(QString::fromUtf8(info->name));
    }
}

bool listSinks(SinkList& list)
{
    Query query;
    if (!query.connect())
        return false;
    pa_operation* op = pa_context_get_sink_info_list(query.context, &collectSink, &list);
    if (!op)
        return false;
    const bool ok = query.runUntil([&] { return list.done; });
    pa_operation_unref(op);
    return ok;
}

}  // namespace

PulseAudioOutput::PulseAudioOutput() = default;

PulseAudioOutput::~PulseAudioOutput()
{
    close();
}

bool PulseAudioOutput::serverReachable()
{
    Query query;
    return query.connect();
}

QStringList PulseAudioOutput::sinkDescriptions(bool* ok)
{
    SinkList list;
    const bool listed = listSinks(list);
    if (ok)
        *ok = listed;
    return listed ? list.descriptions : QStringList();
}

void PulseAudioOutput::onContextState(pa_context* context, void* userData)
{
    auto* self = static_cast<PulseAudioOutput*>(userData);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        self->m_lost.store(true, std::memory_order_relaxed);
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseAudioOutput::onStreamState(pa_stream* stream, void* userData)
{
    auto* self = static_cast<PulseAudioOutput*>(userData);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        self->m_lost.store(true, std::memory_order_relaxed);
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseAudioOutput::onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userData)
{
    auto* self = static_cast<PulseAudioOutput*>(userData);
    self->m_timedOut = true;
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

template <typename Done>
bool PulseAudioOutput::waitFor(Done&& done)
{
    m_timedOut = false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    pa_time_event* timeout =
        pa_context_rttime_new(m_context, pa_rtclock_now() + kConnectTimeoutUs, &PulseAudioOutput::onTimeout, this);
    while (!done() && !m_timedOut)
        pa_threaded_mainloop_wait(m_loop);
    if (timeout)
        api->time_free(timeout);
    return done();
}

bool PulseAudioOutput::open(const QString& sinkDescription, RenderCallback callback, ActiveProbe active,
                            ContentProbe content, void* userData, QString* error)
{
    close();
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        if (m_loop)
            pa_threaded_mainloop_unlock(m_loop);
        release();
        return false;
    };

    QString sinkName;
    if (!sinkDescription.isEmpty()) {
        SinkList list;
        if (listSinks(list)) {
            const qsizetype index = list.descriptions.indexOf(sinkDescription);
            if (index >= 0)
                sinkName = list.names.at(index);
        }
    }

    m_callback = callback;
    m_active = active;
    m_content = content;
    m_userData = userData;
    // Kept running silence while idle, for measuring what corking saves.
    m_keepRunning = qgetenv("CORVELLE_OUTPUT_IDLE") == "run";
    m_lost.store(false, std::memory_order_relaxed);
    m_writeIndex = 0;
    m_contentEnd = 0;
    m_lastChunkContent = false;
    m_corked = true;
    m_hasRun = false;
    m_sinkFreeAtUs = 0;
    m_sinkWaitKnown = true;
    if (!m_scratch)
        m_scratch = std::make_unique<float[]>(size_t(kScratchFrames) * kChannels);

    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        return fail(QStringLiteral("PulseAudio: no mainloop"));
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Corvelle");
    if (!m_context) {
        pa_threaded_mainloop_lock(m_loop);
        return fail(QStringLiteral("PulseAudio: no context"));
    }
    pa_context_set_state_callback(m_context, &PulseAudioOutput::onContextState, this);
    pa_threaded_mainloop_lock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0)
        return fail(QStringLiteral("PulseAudio: mainloop did not start"));
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    if (!waitFor([this] { return contextSettled(m_context); }) || !contextUsable(m_context))
        return fail(QStringLiteral("PulseAudio server not reachable: ")
                    + QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));

    m_stream = pa_stream_new(m_context, "Corvelle", &kSpec, nullptr);
    if (!m_stream)
        return fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    pa_stream_set_state_callback(m_stream, &PulseAudioOutput::onStreamState, this);
    pa_stream_set_write_callback(m_stream, &PulseAudioOutput::onWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(msToBytes(kBufferMs));
    attr.prebuf = 0;  // an underrun plays on rather than waiting to refill
    attr.minreq = uint32_t(msToBytes(kRequestMs));
    attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING
                                         | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
    const QByteArray sink = sinkName.toUtf8();
    if (pa_stream_connect_playback(m_stream, sinkName.isEmpty() ? nullptr : sink.constData(), &attr, flags, nullptr,
                                   nullptr)
        < 0)
        return fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    auto streamSettled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!waitFor(streamSettled) || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return fail(QStringLiteral("PulseAudio stream did not open: ")
                    + QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    if (m_keepRunning)
        setCorked(false);
    pa_threaded_mainloop_unlock(m_loop);
    return true;
}

void PulseAudioOutput::attach(RenderCallback callback, ActiveProbe active, ContentProbe content, void* userData)
{
    lock();
    m_callback = callback;
    m_active = active;
    m_content = content;
    m_userData = userData;
    unlock();
}

void PulseAudioOutput::release()
{
    if (!m_loop)
        return;
    // The mainloop thread ends first: no callback runs afterwards.
    pa_threaded_mainloop_stop(m_loop);
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void PulseAudioOutput::close()
{
    release();
}

int PulseAudioOutput::periodFrames() const
{
    return kSampleRate * kRequestMs / 1000;
}

void PulseAudioOutput::lock()
{
    if (m_loop)
        pa_threaded_mainloop_lock(m_loop);
}

void PulseAudioOutput::unlock()
{
    if (m_loop)
        pa_threaded_mainloop_unlock(m_loop);
}

void PulseAudioOutput::onWrite(pa_stream*, size_t bytes, void* userData)
{
    static_cast<PulseAudioOutput*>(userData)->fill(bytes);
}

bool PulseAudioOutput::renderChunk(qint64 bytes, bool render)
{
    const int frames = int(bytes / kBytesPerFrame);
    float* out = m_scratch.get();
    if (!render || !m_callback) {
        std::memset(out, 0, size_t(bytes));
        return false;
    }
    const quint64 before = m_content ? m_content(m_userData) : 0;
    m_callback(m_userData, out, frames);
    return m_content ? m_content(m_userData) != before : true;
}

void PulseAudioOutput::writeChunk(qint64 bytes, bool content, qint64 index, int seekMode)
{
    if (seekMode == PA_SEEK_ABSOLUTE)
        m_writeIndex = index;
    pa_stream_write(m_stream, m_scratch.get(), size_t(bytes), nullptr, seekMode == PA_SEEK_ABSOLUTE ? index : 0,
                    pa_seek_mode_t(seekMode));
    m_writeIndex += bytes;
    if (content)
        m_contentEnd = m_writeIndex;
    m_lastChunkContent = content;
}

// Where new content goes when what is queued after the sample being played
// holds none: right there, rather than behind the queued silence.
qint64 PulseAudioOutput::startIndex()
{
    const qint64 from = std::max(playIndex() + kPlayMarginBytes, m_contentEnd);
    return from / kBytesPerFrame * kBytesPerFrame;
}

void PulseAudioOutput::fill(size_t bytes)
{
    if (!m_stream)
        return;
    // Corked, the stream is only kept full of silence: a start writes over it.
    const bool render = !m_corked;
    qint64 left = qint64(bytes) / kBytesPerFrame * kBytesPerFrame;
    while (left > 0) {
        const qint64 chunk = std::min<qint64>(left, qint64(kScratchFrames) * kBytesPerFrame);
        const bool content = renderChunk(chunk, render);
        left -= chunk;
        if (content && !m_lastChunkContent) {
            // The first content after a wait (the decoder was behind, a
            // pre-wait ended): it is not queued behind the silence.
            const qint64 from = startIndex();
            if (from < m_writeIndex) {
                writeChunk(chunk, true, from, PA_SEEK_ABSOLUTE);
                continue;
            }
        }
        writeChunk(chunk, content, 0, PA_SEEK_RELATIVE);
    }
    // Nothing meant to sound, and all content has been played: the stream
    // rests.
    if (!m_corked && m_active && !m_keepRunning && !m_active(m_userData)
        && m_writeIndex - m_contentEnd > msToBytes(2 * kBufferMs))
        setCorked(true);
}

void PulseAudioOutput::setCorked(bool corked)
{
    if (m_corked == corked || !m_stream)
        return;
    m_corked = corked;
    if (!corked)
        m_hasRun = true;
    if (pa_operation* op = pa_stream_cork(m_stream, corked ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
}

qint64 PulseAudioOutput::playIndex()
{
    pa_usec_t usec = 0;
    if (pa_stream_get_time(m_stream, &usec) < 0)
        return m_writeIndex;
    return qint64(pa_usec_to_bytes(usec, &kSpec));
}

void PulseAudioOutput::writeAt(qint64 index, qint64 bytes, bool render)
{
    bytes = bytes / kBytesPerFrame * kBytesPerFrame;
    bool first = true;
    while (bytes > 0) {
        const qint64 chunk = std::min<qint64>(bytes, qint64(kScratchFrames) * kBytesPerFrame);
        const bool content = renderChunk(chunk, render);
        writeChunk(chunk, content, index, first ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE);
        first = false;
        bytes -= chunk;
    }
}

bool PulseAudioOutput::start(QString* error)
{
    if (!m_stream || isLost()) {
        if (error)
            *error = QStringLiteral("PulseAudio stream lost");
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    // The timing at hand, which the stream keeps up to date (after every
    // cork too): asking the server for a fresh one would keep this thread
    // waiting for its answer, seconds when it hangs. A server that no
    // longer answers is found by the stream asking for no more blocks.
    qint64 from = 0;
    if (m_corked) {
        // Nothing of ours is in the server's own buffer: everything queued
        // is silence, from the read index on (0 until the stream first ran;
        // its first timing may still be on its way then).
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
        if (!m_hasRun)
            from = 0;
        else
            from = timing && !timing->read_index_corrupt ? timing->read_index : m_writeIndex;
        from = from / kBytesPerFrame * kBytesPerFrame;
        m_contentEnd = std::min(m_contentEnd, from);
    } else {
        from = startIndex();
    }
    m_sinkWaitKnown = noteSinkWait();
    const qint64 queuedEnd = m_writeIndex;
    writeAt(from, std::max(msToBytes(kBufferMs), queuedEnd - from), true);
    setCorked(false);
    pa_threaded_mainloop_unlock(m_loop);
    return true;
}

bool PulseAudioOutput::noteSinkWait()
{
    // The timing says what the sink held ahead when it was measured.
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (!timing) {
        m_sinkFreeAtUs = 0;
        return false;
    }
    const qint64 measuredAt = qint64(pa_rtclock_now()) - qint64(pa_timeval_age(&timing->timestamp));
    m_sinkFreeAtUs = measuredAt + qint64(std::min(timing->sink_usec, kMaxSinkWaitUs));
    return true;
}

int PulseAudioOutput::sinkWaitMs()
{
    if (!m_stream)
        return 0;
    if (!m_sinkWaitKnown) {
        // No timing at the start: the first one to come tells, as what the
        // sink held ahead still lies before this stream until it is read.
        lock();
        m_sinkWaitKnown = noteSinkWait();
        unlock();
    }
    const qint64 left = m_sinkFreeAtUs - qint64(pa_rtclock_now());
    return left > 0 ? int(left / 1000) : 0;
}

qint64 PulseAudioOutput::cut()
{
    if (!m_stream || isLost() || m_corked)
        return 0;
    pa_threaded_mainloop_lock(m_loop);
    qint64 dropped = 0;
    // Where the server plays now, from the timing at hand (see start()).
    const qint64 from = (playIndex() + kPlayMarginBytes) / kBytesPerFrame * kBytesPerFrame;
    if (from < m_writeIndex) {
        dropped = std::max<qint64>(0, std::min(m_contentEnd, m_writeIndex) - from) / kBytesPerFrame;
        m_contentEnd = std::min(m_contentEnd, from);
        const qint64 end = m_writeIndex;
        writeAt(from, end - from, false);
        m_lastChunkContent = false;
    }
    pa_threaded_mainloop_unlock(m_loop);
    return dropped;
}
