#pragma once

#include <QtGlobal>

// What a crossfade needs to know about the two cues when it starts.
struct CrossfadeRequest {
    qint64 wantedMs = 3000;          // the configured crossfade time
    qint64 currentDurationMs = 0;    // length of the outgoing cue's data
    qint64 nextDurationMs = 0;       // the incoming cue's stored length, <1 unknown
    quint64 incomingFrames = 0;      // frames of incoming data at hand (0: none)
    bool incomingComplete = true;    // those frames are all there will be
    qint64 nextLoopStartMs = 0;      // where the incoming cue starts
    qint64 outgoingRegionEndMs = 0;  // end of the outgoing cue's loop region
    quint64 positionFrames = 0;      // the outgoing cue's current position
    int sampleRate = 44100;
};

// How a crossfade runs: its effective time and length, where the incoming cue
// starts, and where the outgoing cue falls silent. The fade ends at the
// outgoing region end: the outgoing cue plays alone until the mix has to
// begin. The outgoing cue never moves: what has been heard is not heard
// again, so a fade that starts at (or past) the outgoing region end fades the
// incoming cue in over silence. Pure arithmetic, no engine state.
struct CrossfadePlan {
    // One of the cues is too short for the fade. The other fields then
    // describe a hand-over without a fade at the outgoing region end.
    bool refused = false;
    qint64 requiredMs = 0;       // the length a cue needs, for the warning
    qint64 nextDurationMs = -1;  // the incoming length that was used, -1 unknown
    qint64 effectiveMs = 0;
    quint64 lengthFrames = 0;
    quint64 outgoingEndFrames = 0;  // the outgoing region end
    quint64 mixStartFrames = 0;     // the outgoing frame where the mix begins
    quint64 incomingStartFrames = 0;
    bool loopStartReset = false;  // the incoming loop start lay beyond its data

    static CrossfadePlan make(const CrossfadeRequest& request);
};
