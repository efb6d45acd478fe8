#pragma once

class Cue;

// What the transport needs from the track list: a way to have the peaks of a
// cue parsed in the background when it starts a cue that has none. The track
// list implements it; the transport holds it without owning it.
class WaveformParseRequester {
public:
    virtual ~WaveformParseRequester() = default;
    virtual void enqueueWaveformParse(Cue* cue, bool priority) = 0;
};
