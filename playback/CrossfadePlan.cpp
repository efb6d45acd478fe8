#include "playback/CrossfadePlan.h"

#include <algorithm>

CrossfadePlan CrossfadePlan::make(const CrossfadeRequest& r)
{
    CrossfadePlan plan;
    const qint64 rate = r.sampleRate;

    const qint64 cur = r.currentDurationMs;
    qint64 nxt = -1;
    if (r.nextDurationMs > 0)
        nxt = r.nextDurationMs;
    else if (r.incomingFrames > 0)
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
        const quint64 s = quint64(double(rate) * double(r.nextLoopStartMs) / 1000.0);
        if (s >= r.incomingFrames)
            plan.loopStartReset = true;
        else
            plan.incomingStartFrames = s;
    }

    const quint64 endFrame = quint64(std::max<qint64>(rate * r.outgoingRegionEndMs / 1000, 0));
    const quint64 fadeFrames = quint64(rate * x / 1000);
    const quint64 p = r.positionFrames;
    quint64 length = 0;
    plan.outgoingPositionFrames = p;
    if (p < endFrame && endFrame - p >= quint64(rate / 10)) {
        length = std::min(fadeFrames, endFrame - p);
    } else if (endFrame == 0) {
        length = 0;
    } else if (fadeFrames < endFrame) {
        // Too close to (or past) the region end: replay the last part of the
        // region under the fade.
        plan.outgoingPositionFrames = endFrame - fadeFrames;
        length = fadeFrames;
    } else {
        plan.outgoingPositionFrames = 0;
        length = std::min(fadeFrames, endFrame);
    }
    plan.outgoingMoved = plan.outgoingPositionFrames != p;
    plan.lengthFrames = std::max(length, quint64(rate / 20));
    return plan;
}
