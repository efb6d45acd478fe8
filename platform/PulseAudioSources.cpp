#include "platform/PulseAudioSources.h"

#include <pulse/pulseaudio.h>

namespace {

struct Query {
    RecordingSourceList result;
    quint32 excludedPid = 0;
    int listsPending = 0;
    bool timedOut = false;
};

void onSource(pa_context*, const pa_source_info* info, int eol, void* user)
{
    auto* q = static_cast<Query*>(user);
    if (eol != 0) {
        --q->listsPending;
        return;
    }
    // A monitor records an output, which "all" and the applications cover.
    if (!info || info->monitor_of_sink != PA_INVALID_INDEX)
        return;
    QString name = info->description ? QString::fromUtf8(info->description) : QString();
    if (name.isEmpty() && info->name)
        name = QString::fromUtf8(info->name);
    if (!name.isEmpty())
        q->result.captureDevices.append(name);
}

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user)
{
    auto* q = static_cast<Query*>(user);
    if (eol != 0) {
        --q->listsPending;
        return;
    }
    if (!info)
        return;
    const char* binary = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    const char* pidText = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (!binary || !pidText)
        return;
    bool ok = false;
    const quint32 pid = QByteArray(pidText).toUInt(&ok);
    const QString name = QString::fromUtf8(binary);
    if (!ok || pid == 0 || pid == q->excludedPid || name.isEmpty())
        return;
    for (const AudioSessionProcess& known : q->result.applications) {
        if (known.name == name)
            return;
    }
    q->result.applications.append({name, pid});
}

void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    static_cast<Query*>(user)->timedOut = true;
}

}  // namespace

namespace PulseAudioSources {

RecordingSourceList query(quint32 excludedPid, int timeoutMs)
{
    Query q;
    q.excludedPid = excludedPid;
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return q.result;
    pa_mainloop_api* api = pa_mainloop_get_api(loop);
    pa_context* context = pa_context_new(api, "Corvelle sources");
    struct timeval deadline;
    pa_gettimeofday(&deadline);
    pa_timeval_add(&deadline, pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(api, &deadline, &onTimeout, &q);

    bool listed = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        bool asked = false;
        while (!q.timedOut) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
                break;
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                q.result.serverReachable = true;
                for (pa_operation* op : {pa_context_get_source_info_list(context, &onSource, &q),
                                         pa_context_get_sink_input_info_list(context, &onSinkInput, &q)}) {
                    if (op) {
                        ++q.listsPending;
                        pa_operation_unref(op);
                    }
                }
            }
            if (asked && q.listsPending == 0) {
                listed = true;
                break;
            }
            if (pa_mainloop_iterate(loop, 1, nullptr) < 0)
                break;
        }
        pa_context_disconnect(context);
    }
    if (!listed) {
        // An unfinished answer is no answer: no half lists.
        q.result.captureDevices.clear();
        q.result.applications.clear();
        q.result.serverReachable = false;
    }
    if (timer)
        api->time_free(timer);
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return q.result;
}

}  // namespace PulseAudioSources
