#include "platform/PulseAudioCapture.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

constexpr pa_usec_t kTickUsec = 20 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kStartTimeoutUsec = 5 * PA_USEC_PER_SEC;
constexpr pa_usec_t kRetryUsec = 500 * PA_USEC_PER_MSEC;

}  // namespace

// Everything below runs on the PulseAudio thread with the mainloop lock held,
// except start() and stop(), which take the lock themselves.
struct PulseAudioCapture::State {
    Source source;
    int sampleRate = 44100;
    DataCallback callback = nullptr;
    void* userData = nullptr;

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* ticker = nullptr;
    pa_time_event* startTimer = nullptr;

    bool running = false;
    bool contextFailed = false;
    bool startTimedOut = false;
    bool streamDead = false;      // failed or ended; released at the next tick
    bool attaching = false;       // a look-up of the source is under way
    bool firstAttachDone = false; // the look-up started by start() has ended
    bool firstAttachOk = false;
    QString attachError;

    // Application look-up results.
    uint32_t sinkInputIndex = PA_INVALID_INDEX;
    uint32_t sinkIndex = PA_INVALID_INDEX;
    // Device look-up result.
    QByteArray deviceSourceName;

    pa_usec_t startUsec = 0;
    pa_usec_t lastDataUsec = 0;
    pa_usec_t lastAttachTryUsec = 0;
    std::vector<char> silence;

    std::atomic<bool> attached{false};
    std::atomic<int> attachCount{0};
    std::atomic<qint64> delivered{0};

    // --- delivery --------------------------------------------------------
    void deliver(const char* data, size_t bytes)
    {
        bytes -= bytes % kBytesPerFrame;
        if (bytes == 0)
            return;
        callback(userData, data, int(bytes));
        delivered.fetch_add(qint64(bytes / kBytesPerFrame), std::memory_order_relaxed);
    }
    void deliverSilence(qint64 frames)
    {
        while (frames > 0) {
            const qint64 chunk = std::min<qint64>(frames, qint64(silence.size() / kBytesPerFrame));
            deliver(silence.data(), size_t(chunk * kBytesPerFrame));
            frames -= chunk;
        }
    }
    void fillToWallClock(pa_usec_t now)
    {
        const qint64 wallFrames = qint64((now - startUsec) * pa_usec_t(sampleRate) / PA_USEC_PER_SEC);
        const qint64 missing = wallFrames - delivered.load(std::memory_order_relaxed);
        if (missing > 0)
            deliverSilence(missing);
    }

    // --- attaching -------------------------------------------------------
    void finishAttach(bool ok, const QString& error = QString())
    {
        attaching = false;
        if (!firstAttachDone) {
            firstAttachDone = true;
            firstAttachOk = ok;
            attachError = error;
            pa_threaded_mainloop_signal(loop, 0);
        }
    }

    void beginAttach()
    {
        if (attaching || stream || !context || pa_context_get_state(context) != PA_CONTEXT_READY)
            return;
        attaching = true;
        lastAttachTryUsec = pa_rtclock_now();
        pa_operation* op = nullptr;
        switch (source.kind) {
        case SourceKind::AllSystemAudio:
            op = pa_context_get_server_info(context, &State::onServerInfo, this);
            break;
        case SourceKind::Device:
            deviceSourceName.clear();
            op = pa_context_get_source_info_list(context, &State::onSourceInfo, this);
            break;
        case SourceKind::Application:
            sinkInputIndex = PA_INVALID_INDEX;
            sinkIndex = PA_INVALID_INDEX;
            op = pa_context_get_sink_input_info_list(context, &State::onSinkInputInfo, this);
            break;
        }
        if (op)
            pa_operation_unref(op);
        else
            finishAttach(false, QString::fromUtf8(pa_strerror(pa_context_errno(context))));
    }

    static void onServerInfo(pa_context* c, const pa_server_info* info, void* user)
    {
        auto* self = static_cast<State*>(user);
        if (!info || !info->default_sink_name) {
            self->finishAttach(false, QStringLiteral("no default output"));
            return;
        }
        pa_operation* op = pa_context_get_sink_info_by_name(c, info->default_sink_name, &State::onSinkInfo, self);
        if (op)
            pa_operation_unref(op);
        else
            self->finishAttach(false, QString::fromUtf8(pa_strerror(pa_context_errno(c))));
    }

    // The sink of the default output or of the application's stream: record its monitor.
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* user)
    {
        auto* self = static_cast<State*>(user);
        if (eol < 0) {
            self->finishAttach(false, QStringLiteral("output not found"));
            return;
        }
        if (eol > 0 || !info)
            return;
        const uint32_t monitored =
            self->source.kind == SourceKind::Application ? self->sinkInputIndex : PA_INVALID_INDEX;
        self->openStream(info->monitor_source_name, monitored);
    }

    static void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* user)
    {
        auto* self = static_cast<State*>(user);
        if (eol < 0) {
            self->finishAttach(false, QStringLiteral("capture devices cannot be listed"));
            return;
        }
        if (eol == 0 && info) {
            const QString wanted = self->source.deviceName;
            if (self->deviceSourceName.isEmpty() && !wanted.isEmpty()
                && (wanted == QString::fromUtf8(info->name)
                    || (info->description && wanted == QString::fromUtf8(info->description))))
                self->deviceSourceName = QByteArray(info->name);
            return;
        }
        // An unknown name records from the default source.
        self->openStream(self->deviceSourceName.isEmpty() ? nullptr : self->deviceSourceName.constData(),
                         PA_INVALID_INDEX);
    }

    static void onSinkInputInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* user)
    {
        auto* self = static_cast<State*>(user);
        if (eol < 0) {
            self->finishAttach(false, QStringLiteral("playback streams cannot be listed"));
            return;
        }
        if (eol == 0 && info) {
            if (self->sinkInputIndex != PA_INVALID_INDEX)
                return;
            const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
            bool ok = false;
            if (pid && QByteArray(pid).toUInt(&ok) == self->source.processId && ok) {
                self->sinkInputIndex = info->index;
                self->sinkIndex = info->sink;
            }
            return;
        }
        if (self->sinkInputIndex == PA_INVALID_INDEX) {
            // Not playing (yet): wait for its stream, silence meanwhile.
            self->finishAttach(true);
            return;
        }
        pa_operation* op = pa_context_get_sink_info_by_index(c, self->sinkIndex, &State::onSinkInfo, self);
        if (op)
            pa_operation_unref(op);
        else
            self->finishAttach(false, QString::fromUtf8(pa_strerror(pa_context_errno(c))));
    }

    void openStream(const char* device, uint32_t monitoredSinkInput)
    {
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_S16LE;
        spec.rate = uint32_t(sampleRate);
        spec.channels = kChannels;
        pa_stream* s = pa_stream_new(context, "Corvelle recording", &spec, nullptr);
        if (!s) {
            finishAttach(false, QString::fromUtf8(pa_strerror(pa_context_errno(context))));
            return;
        }
        if (monitoredSinkInput != PA_INVALID_INDEX)
            pa_stream_set_monitor_stream(s, monitoredSinkInput);
        pa_stream_set_state_callback(s, &State::onStreamState, this);
        pa_stream_set_read_callback(s, &State::onStreamRead, this);

        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);  // every field: the server's choice
        attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &spec));
        const pa_stream_flags_t flags = PA_STREAM_ADJUST_LATENCY;
        // No PA_STREAM_DONT_MOVE: with it the server kills a monitor of one stream at once.
    if (pa_stream_connect_record(s, device, &attr, flags) < 0) {
            const QString error = QString::fromUtf8(pa_strerror(pa_context_errno(context)));
            pa_stream_set_state_callback(s, nullptr, nullptr);
            pa_stream_set_read_callback(s, nullptr, nullptr);
            pa_stream_unref(s);
            finishAttach(false, error);
            return;
        }
        stream = s;
        streamDead = false;
    }

    static void onStreamState(pa_stream* s, void* user)
    {
        auto* self = static_cast<State*>(user);
        switch (pa_stream_get_state(s)) {
        case PA_STREAM_READY:
            self->attached.store(true);
            self->attachCount.fetch_add(1);
            self->lastDataUsec = pa_rtclock_now();
            self->finishAttach(true);
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            // The application's stream ended, the device went away or the
            // server refused: silence by the clock until attached again.
            self->attached.store(false);
            self->streamDead = true;
            // An application may end its stream at any moment; it is waited for.
            self->finishAttach(self->source.kind == SourceKind::Application,
                               QString::fromUtf8(pa_strerror(pa_context_errno(self->context))));
            break;
        default:
            break;
        }
    }

    static void onStreamRead(pa_stream* s, size_t, void* user)
    {
        auto* self = static_cast<State*>(user);
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
                break;
            if (data)
                self->deliver(static_cast<const char*>(data), bytes);
            else
                self->deliverSilence(qint64(bytes / kBytesPerFrame));  // a hole in the stream
            pa_stream_drop(s);
        }
        self->lastDataUsec = pa_rtclock_now();
    }

    void releaseStream()
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        if (pa_stream_get_state(stream) == PA_STREAM_READY || pa_stream_get_state(stream) == PA_STREAM_CREATING)
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        streamDead = false;
        attached.store(false);
    }

    // --- clock -----------------------------------------------------------
    static void onTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* user)
    {
        auto* self = static_cast<State*>(user);
        const pa_usec_t now = pa_rtclock_now();
        if (self->streamDead)
            self->releaseStream();
        const bool stalled = now - self->lastDataUsec > pa_usec_t(kStallMs) * PA_USEC_PER_MSEC;
        if (!self->attached.load() || stalled)
            self->fillToWallClock(now);
        if (!self->stream && !self->attaching && now - self->lastAttachTryUsec >= kRetryUsec)
            self->beginAttach();
        pa_context_rttime_restart(self->context, event, now + kTickUsec);
    }

    static void onStartTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
    {
        auto* self = static_cast<State*>(user);
        self->startTimedOut = true;
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void onContextState(pa_context* c, void* user)
    {
        auto* self = static_cast<State*>(user);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            pa_threaded_mainloop_signal(self->loop, 0);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->contextFailed = true;
            self->attached.store(false);
            pa_threaded_mainloop_signal(self->loop, 0);
            break;
        default:
            break;
        }
    }

    static void onSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void* user)
    {
        auto* self = static_cast<State*>(user);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        // The application plays again: attach to its new stream at once.
        if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_NEW
            && !self->stream && !self->attaching)
            self->beginAttach();
    }
};

PulseAudioCapture::PulseAudioCapture() = default;

PulseAudioCapture::~PulseAudioCapture()
{
    stop();
}

bool PulseAudioCapture::start(const Source& source, int sampleRate, DataCallback callback, void* userData,
                              QString* error)
{
    stop();
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        stop();
        return false;
    };
    if (!callback || sampleRate < 1)
        return fail(QStringLiteral("invalid capture settings"));

    d = std::make_unique<State>();
    d->source = source;
    d->sampleRate = sampleRate;
    d->callback = callback;
    d->userData = userData;
    d->silence.assign(size_t(sampleRate / 4) * kBytesPerFrame, 0);  // 250 ms per call

    d->loop = pa_threaded_mainloop_new();
    if (!d->loop)
        return fail(QStringLiteral("PulseAudio main loop could not be created"));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(d->loop);
    d->context = pa_context_new(api, "Corvelle");
    if (!d->context)
        return fail(QStringLiteral("PulseAudio context could not be created"));
    pa_context_set_state_callback(d->context, &State::onContextState, d.get());
    // Never start a sound server of our own.
    if (pa_context_connect(d->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(QStringLiteral("no PulseAudio server: %1").arg(pa_strerror(pa_context_errno(d->context))));

    pa_threaded_mainloop_lock(d->loop);
    if (pa_threaded_mainloop_start(d->loop) < 0) {
        pa_threaded_mainloop_unlock(d->loop);
        return fail(QStringLiteral("PulseAudio thread could not be started"));
    }
    d->running = true;
    d->startTimer = pa_context_rttime_new(d->context, pa_rtclock_now() + kStartTimeoutUsec,
                                          &State::onStartTimeout, d.get());
    while (pa_context_get_state(d->context) != PA_CONTEXT_READY && !d->contextFailed && !d->startTimedOut)
        pa_threaded_mainloop_wait(d->loop);
    if (pa_context_get_state(d->context) != PA_CONTEXT_READY) {
        const QString reason = d->startTimedOut ? QStringLiteral("PulseAudio server does not answer")
                                                : QString::fromUtf8(pa_strerror(pa_context_errno(d->context)));
        pa_threaded_mainloop_unlock(d->loop);
        return fail(QStringLiteral("no PulseAudio server: %1").arg(reason));
    }

    if (source.kind == SourceKind::Application) {
        pa_context_set_subscribe_callback(d->context, &State::onSubscription, d.get());
        if (pa_operation* op = pa_context_subscribe(d->context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
            pa_operation_unref(op);
    }
    d->startUsec = pa_rtclock_now();
    d->lastDataUsec = d->startUsec;
    d->beginAttach();
    while (!d->firstAttachDone && !d->contextFailed && !d->startTimedOut)
        pa_threaded_mainloop_wait(d->loop);
    if (!d->firstAttachOk) {
        const QString reason = d->attachError.isEmpty() ? QStringLiteral("capture source does not answer")
                                                        : d->attachError;
        pa_threaded_mainloop_unlock(d->loop);
        return fail(QStringLiteral("capture could not start: %1").arg(reason));
    }
    if (d->startTimer) {
        api->time_free(d->startTimer);
        d->startTimer = nullptr;
    }
    // The wall clock starts now; the look-up time is not part of the recording.
    d->startUsec = pa_rtclock_now();
    d->lastDataUsec = d->startUsec;
    d->ticker = pa_context_rttime_new(d->context, d->startUsec + kTickUsec, &State::onTick, d.get());
    pa_threaded_mainloop_unlock(d->loop);
    return true;
}

void PulseAudioCapture::stop()
{
    if (!d || (!d->loop && !d->context))
        return;
    if (d->loop) {
        if (d->running) {
            pa_threaded_mainloop_lock(d->loop);
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(d->loop);
            if (d->ticker)
                api->time_free(d->ticker);
            if (d->startTimer)
                api->time_free(d->startTimer);
            d->ticker = nullptr;
            d->startTimer = nullptr;
            d->releaseStream();
            if (d->context) {
                pa_context_set_subscribe_callback(d->context, nullptr, nullptr);
                pa_context_set_state_callback(d->context, nullptr, nullptr);
                pa_context_disconnect(d->context);
            }
            pa_threaded_mainloop_unlock(d->loop);
            pa_threaded_mainloop_stop(d->loop);
        }
        if (d->context)
            pa_context_unref(d->context);
        pa_threaded_mainloop_free(d->loop);
    } else if (d->context) {
        pa_context_unref(d->context);
    }
    // The counters stay readable until the next start.
    d->loop = nullptr;
    d->context = nullptr;
    d->stream = nullptr;
    d->running = false;
    d->attached.store(false);
}

bool PulseAudioCapture::isRunning() const
{
    return d && d->running;
}

bool PulseAudioCapture::isAttached() const
{
    return d && d->attached.load();
}

int PulseAudioCapture::attachCount() const
{
    return d ? d->attachCount.load() : 0;
}

qint64 PulseAudioCapture::deliveredFrames() const
{
    return d ? d->delivered.load() : 0;
}
