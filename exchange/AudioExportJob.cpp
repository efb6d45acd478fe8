#include "exchange/AudioExportJob.h"

#include "model/Cue.h"

AudioExportJob AudioExportJob::fromCue(const Cue& cue)
{
    AudioExportJob job;
    job.cueId = cue.id();
    job.sourcePath = cue.filePath();
    job.durationMs = cue.durationMs();
    job.loopStartMs = cue.loopStartMs();
    job.loopEndMs = cue.loopEndMs();
    job.volumeA = cue.volumeA();
    job.shape = CueSnapshot::fromCue(cue);
    return job;
}
