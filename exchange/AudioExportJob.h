#pragma once

#include "playback/CueSnapshot.h"

#include <QString>

#include <memory>

class Cue;

// Everything the export of one cue's audio needs, copied from the cue on the
// GUI thread so the work itself can run on any thread without the cue.
struct AudioExportJob {
    int cueId = -1;
    QString sourcePath;
    qint64 durationMs = 0;  // the stored duration; 0 = not known
    qint64 loopStartMs = 0;
    qint64 loopEndMs = 0;
    int volumeA = 100;
    std::shared_ptr<const CueSnapshot> shape;  // fades and envelopes
    bool mp3 = false;                          // else WAV
    int sampleRate = 44100;
    bool clip = false;       // only the loop region
    bool processed = false;  // shaped like playback
    QString targetPath;
    QString logPrefix;  // "[Export Audio] " or "[Export] "

    static AudioExportJob fromCue(const Cue& cue);
};

// Where in the file an export begins and ends, in ms of file time.
struct AudioExportRegion {
    qint64 startMs = 0;
    qint64 endMs = 0;       // meaningful when toEnd is false
    bool toEnd = false;     // the whole file, read to its real end
    bool wholeFile = false; // the region covers the file from 0 to its end
};
