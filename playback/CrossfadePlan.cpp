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
    plan.refused = cur >= 1 && nxt >= 1 && std::min(cur, nxt) < plan.requiredMs;

    // Short cues fade over at most half their length, and never under 100 ms.
    qint64 x = r.wantedMs;
    const qint64 shorter = nxt >= 1 ? std::min(cur, nxt) : cur;
    if (shorter < 20000)
        x = std::min(x, shorter / 2);
    x = std::max<qint64>(x, 100);
    plan.effectiveMs = plan.refused ? 0 : x;

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
    if (plan.refused) {
        // Where a hand-over without a fade would take place: the outgoing
        // cue plays to its region end, then the incoming one starts.
        plan.lengthFrames = 0;
        plan.mixStartFrames = std::max(p, endFrame);
    } else if (p < endFrame) {
        // The fade ends where the outgoing region ends, however long it is:
        // the outgoing cue plays alone until then, and nothing of its tail
        // is cut.
        plan.lengthFrames = std::min(fadeFrames, endFrame - p);
        plan.mixStartFrames = endFrame - plan.lengthFrames;
    } else {
        // The outgoing cue has ended (or has no region): the incoming one
        // fades in over silence from here.
        plan.lengthFrames = std::max(endFrame == 0 ? quint64(0) : fadeFrames, quint64(rate / 20));
        plan.mixStartFrames = p;
    }
    return plan;
}
