#pragma once

#include <QtGlobal>

class Cue;

// What the three loop-range boxes of the settings bar (start, length, end) do
// to a cue when a value is typed in or the wheel turns over them. The cue
// applies its own rules on top: the region stays inside the file and at least
// two seconds long, or becomes the whole file.
class LoopBoxRules {
public:
    enum class Box { Start, Length, End };

    static constexpr qint64 kWheelStepMs = 200;
    // The shortest region the boxes ask for; the cue's own minimum is longer.
    static constexpr qint64 kMinRequestMs = 1000;

    // Applies a typed value in ms. False when the value is refused (a start
    // below 0, a length or an end not above 0): the box then shows the stored
    // value again.
    static bool applyTyped(Cue* cue, Box box, qint64 ms);
    // Applies one wheel step; false for a wheel that did not turn.
    static bool applyWheel(Cue* cue, Box box, int angleDelta);

    // The end of the region that plays: a loop end of 0, or one at or past
    // the end of the file, is the end of the file.
    static qint64 effectiveLoopEnd(const Cue& cue);
    // A box value in seconds (centisecond steps) as the milliseconds it shows.
    static qint64 secondsToMs(double seconds);
};
