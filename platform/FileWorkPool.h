#pragma once

class QThreadPool;

// Threads for short background work on files (existence checks, length
// probes, the search for moved files). Not the global pool: Qt splits large
// image fills into jobs on that pool and waits for them while painting, and
// the waveform parses already keep all but one of its threads busy. Work
// that took the last one would hold up the window's repaints.
namespace FileWorkPool {

// Made on first use, owned by the application object. GUI thread only.
QThreadPool* instance();

}  // namespace FileWorkPool
