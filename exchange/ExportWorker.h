#pragma once

#include <atomic>
#include <functional>

class ExportUi;

// Runs one piece of heavy export work (decoding, shaping, encoding, copying)
// on a thread of its own while the GUI thread keeps processing events, so
// the progress dialog repaints and its cancel button works during a long cue.
// The work polls the cancel flag and reports progress in permille.
class ExportWorker {
public:
    using Work = std::function<void(const std::atomic<bool>& cancel, std::atomic<int>& permille)>;

    // Returns once the work has finished. Progress goes to the ui from
    // progressBase to progressBase + progressSpan; a cancel of the ui's
    // progress dialog sets the flag. Without a ui the work runs right here.
    // True when a cancel was requested while it ran.
    static bool run(const Work& work, ExportUi* ui, int progressBase = 0, int progressSpan = 0);
};
