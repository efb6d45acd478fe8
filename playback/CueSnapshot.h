#pragma once

#include "playback/EnvelopeCurve.h"

#include <QtGlobal>

#include <memory>

class Cue;

// The part of a region that fades apply to, in ms.
struct FadeRegion {
    qint64 startMs = 0;
    qint64 lengthMs = 0;
    bool fadesApply = false;
};

// An immutable copy of everything the audio callback needs from a cue. A new
// one is made and published whenever the cue changes; the callback reads it
// without locks and never sees the cue object itself.
class CueSnapshot {
public:
    static std::shared_ptr<const CueSnapshot> fromCue(const Cue& cue);

    qint64 durationMs = 0;
    qint64 loopStartMs = 0;
    qint64 loopEndMs = 0;
    bool fadeEnabled = false;
    qint64 fadeInMs = 0;
    qint64 fadeOutMs = 0;
    EnvelopeCurve volume{EnvelopeCurve::Kind::Gain};
    EnvelopeCurve pan{EnvelopeCurve::Kind::Pan};

    // The loop region as the fades see it, for data of durationMs: the loop
    // end when it lies within the data, else the data's end; a region that
    // starts at or after its end fades over 0..end.
    FadeRegion fadeRegion(qint64 durationMs) const;
    double fadeGainAt(qint64 positionInRegionMs, qint64 regionLengthMs) const;

    // Linear fade-in and fade-out over a region; fades of 10 ms or less are
    // ignored, overlapping fades multiply.
    static double fadeGainAt(qint64 positionInRegionMs, qint64 regionLengthMs, qint64 fadeInMs, qint64 fadeOutMs);
};
