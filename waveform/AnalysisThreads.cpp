#include "waveform/AnalysisThreads.h"

#include "audiofile/AudioFileDecoder.h"
#include "waveform/PoolThreadLease.h"

#include <QThread>

#include <algorithm>

bool openForAnalysis(AudioFileDecoder& decoder, const QString& path, PoolThreadLease& lease)
{
    const int wanted = std::clamp(QThread::idealThreadCount() / 2, 1, 4);
    // One codec thread would only move the decoding off the calling thread.
    int threads = wanted >= 2 ? lease.take(wanted) : 0;
    if (threads < 2) {
        lease.giveBack(threads);
        threads = 1;
    }
    decoder.setCodecThreads(threads);
    const bool opened = decoder.open(path);
    // Threads the codec did not start (it cannot decode in parallel, or the
    // file did not open) are free for others again.
    if (threads > 1)
        lease.giveBack(threads - decoder.codecThreadsInUse());
    return opened;
}
