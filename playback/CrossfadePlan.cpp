#include "playback/CrossfadePlan.h"

#include <algorithm>

namespace {

// ms to frames in double: a length from a damaged header may be absurd, and
// rate x ms must not overflow.
quint64 msToFrames(qint64 ms, qint64 rate)
{
    if (ms <= 0)
        return 0;
    const double frames = double(rate) * double(ms) / 1000.0;
    return frames >= 9.0e18 ? quint64(9.0e18) : quint64(frames);
}

}  // namespace

CrossfadePlan CrossfadePlan::make(const CrossfadeRequest& r)
{
    CrossfadePlan plan;
    const qint64 rate = r.sampleRate;

    const qint64 cur = r.currentDurationMs;
    qint64 nxt = -1;
    if (r.nextDurationMs > 0)
        nxt = r.nextDurationMs;
    else if (r.incomingFrames > 0 && r.incomingComplete)
        nxt = qint64(double(r.incomingFrames) * 1000.0 / double(rate));
    plan.nextDurationMs = nxt;

    // Both cues must outlast the fade by a second, when both lengths are known.
    plan.requiredMs = r.wantedMs + 1000;
    if (cur >= 1 && nxt >= 1 && std::min(cur, nxt) < plan.requiredMs) {
        plan.refused = true;
        return plan;
    }

    // Short cues fade over at most half their length, and never under 100 ms.
    qint64 x = r.wantedMs;
    const qint64 shorter = nxt >= 1 ? std::min(cur, nxt) : cur;
    if (shorter < 20000)
        x = std::min(x, shorter / 2);
    x = std::max<qint64>(x, 100);
    plan.effectiveMs = x;

    if (r.nextLoopStartMs > 0) {
        const quint64 s = msToFrames(r.nextLoopStartMs, rate);
        // Data still arriving may reach the loop start yet.
        if (s >= r.incomingFrames && r.incomingComplete)
            plan.loopStartReset = true;
        else
            plan.incomingStartFrames = s;
    }

    const quint64 endFrame = msToFrames(r.outgoingRegionEndMs, rate);
    const quint64 fadeFrames = msToFrames(x, rate);
    const quint64 p = r.positionFrames;
    plan.outgoingEndFrames = endFrame;
    quint64 length = 0;
    if (p < endFrame && endFrame - p >= quint64(rate / 10))
        length = std::min(fadeFrames, endFrame - p);
    else if (endFrame == 0)
        length = 0;
    else
        length = fadeFrames;  // the outgoing cue plays out what it has left
    plan.lengthFrames = std::max(length, quint64(rate / 20));
    return plan;
}
