#include "playback/CueSnapshot.h"

#include "model/Cue.h"

#include <algorithm>

std::shared_ptr<const CueSnapshot> CueSnapshot::fromCue(const Cue& cue)
{
    auto snapshot = std::make_shared<CueSnapshot>();
    snapshot->durationMs = cue.durationMs();
    snapshot->loopStartMs = cue.loopStartMs();
    snapshot->loopEndMs = cue.loopEndMs();
    snapshot->fadeEnabled = cue.fadeEnabled();
    snapshot->fadeInMs = cue.fadeInMs();
    snapshot->fadeOutMs = cue.fadeOutMs();
    snapshot->volume = EnvelopeCurve(EnvelopeCurve::Kind::Gain, cue.envelopeEnabled(), cue.envelopeTimes(),
                                     cue.envelopeGains());
    snapshot->pan = EnvelopeCurve(EnvelopeCurve::Kind::Pan, cue.panEnvelopeEnabled(), cue.panEnvelopeTimes(),
                                  cue.panEnvelopePositions());
    return snapshot;
}

FadeRegion CueSnapshot::fadeRegion(qint64 dataDurationMs) const
{
    FadeRegion region;
    const qint64 end = (loopEndMs >= 1 && loopEndMs <= dataDurationMs) ? loopEndMs : dataDurationMs;
    if (end <= loopStartMs) {
        region.startMs = 0;
        region.lengthMs = std::max<qint64>(end, 0);
    } else {
        region.startMs = loopStartMs;
        region.lengthMs = end - loopStartMs;
    }
    region.fadesApply = fadeEnabled && region.lengthMs >= 1;
    return region;
}

double CueSnapshot::fadeGainAt(qint64 positionInRegionMs, qint64 regionLengthMs) const
{
    return fadeGainAt(positionInRegionMs, regionLengthMs, fadeInMs, fadeOutMs);
}

double CueSnapshot::fadeGainAt(qint64 positionInRegionMs, qint64 regionLengthMs, qint64 fadeInMs, qint64 fadeOutMs)
{
    if (regionLengthMs <= 0)
        return 1.0;
    const double in = double(fadeInMs) / 1000.0;
    const double out = double(fadeOutMs) / 1000.0;
    const double length = double(regionLengthMs) / 1000.0;
    const double t = double(std::clamp<qint64>(positionInRegionMs, 0, regionLengthMs)) / 1000.0;

    double gain = 1.0;
    if (in > 0.01 && t < in)
        gain = std::clamp(t / in, 0.0, 1.0);
    if (out > 0.01 && t > length - out) {
        const double f = 1.0 - (t - (length - out)) / out;
        return f <= 0.0 ? 0.0 : gain * f;
    }
    return gain;
}
