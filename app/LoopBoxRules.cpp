#include "app/LoopBoxRules.h"

#include "model/Cue.h"

#include <algorithm>
#include <cmath>

namespace {

// Wheel results land on whole centiseconds, as the boxes show them.
qint64 cutToTens(qint64 ms)
{
    return ms / 10 * 10;
}

// Ends are kept inside a file of known length.
qint64 capToFile(const Cue& cue, qint64 ms)
{
    return cue.durationMs() > 0 ? std::min(ms, cue.durationMs()) : ms;
}

}  // namespace

qint64 LoopBoxRules::effectiveLoopEnd(const Cue& cue)
{
    const qint64 duration = cue.durationMs();
    const qint64 end = cue.loopEndMs();
    return (end >= 1 && (duration <= 0 || end < duration)) ? end : duration;
}

qint64 LoopBoxRules::secondsToMs(double seconds)
{
    return std::llround(seconds * 1000.0);
}

bool LoopBoxRules::applyTyped(Cue* cue, Box box, qint64 ms)
{
    if (!cue)
        return false;
    const qint64 start = cue->loopStartMs();
    switch (box) {
    case Box::Start:
        if (ms < 0)
            return false;
        cue->setLoopStartMs(ms);
        return true;
    case Box::Length:
    case Box::End: {
        if (ms <= 0)
            return false;
        qint64 end = capToFile(*cue, box == Box::Length ? start + ms : ms);
        if (end < start + kMinRequestMs)
            end = start + kMinRequestMs;
        cue->setLoopRange(start, end, false);
        return true;
    }
    }
    return false;
}

bool LoopBoxRules::applyWheel(Cue* cue, Box box, int angleDelta)
{
    if (!cue || angleDelta == 0)
        return false;
    const qint64 step = angleDelta > 0 ? kWheelStepMs : -kWheelStepMs;
    const qint64 start = cue->loopStartMs();
    const qint64 end = effectiveLoopEnd(*cue);
    switch (box) {
    case Box::Length: {
        qint64 length = std::max(cutToTens(end - start + step), kMinRequestMs);
        if (cue->durationMs() > 0)
            length = std::min(length, cue->durationMs() - start);
        cue->setLoopRange(start, start + length, false);
        return true;
    }
    case Box::End: {
        qint64 newEnd = cutToTens(end + step);
        if (newEnd < start + kMinRequestMs)
            newEnd = start + kMinRequestMs;
        cue->setLoopRange(start, capToFile(*cue, newEnd), false);
        return true;
    }
    case Box::Start: {
        qint64 newStart = std::max<qint64>(cutToTens(start + step), 0);
        if (newStart > end - kMinRequestMs)
            newStart = end - kMinRequestMs;
        cue->setLoopRange(newStart, end, false);
        return true;
    }
    }
    return false;
}
