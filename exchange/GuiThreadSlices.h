#pragma once

#include <QtGlobal>

#include <functional>

// Long work that must stay on the GUI thread (the database belongs to it),
// done in slices of a few milliseconds with the event loop running between
// them, so that the window repaints, the progress dialog moves and its
// cancel button works. A slice ends by the clock, not by a count of items:
// items of very different cost (a cue with a waveform, one without) never
// make one slice long.
class GuiThreadSlices {
public:
    // The work a slice may take: half a 16 ms frame, the rest is the window's.
    static constexpr qint64 kSliceNs = 8'000'000;

    // Calls step, which does one item, until it returns false. Each slice
    // begins with beforeSlice (progress, cancel): when it returns false the
    // work stops there and run returns false. Between slices a local event
    // loop delivers the window's events.
    static bool run(const std::function<bool()>& step, const std::function<bool()>& beforeSlice);

    // The clock slices are measured by, in ns; a steady clock when unset.
    // Tests set one that moves by fixed steps.
    static void setClock(std::function<qint64()> clock);
};
