#pragma once

#include <QThread>

#include <algorithm>

// Decoder threads for one background analysis. Codecs that decode frames in
// parallel (FLAC) get up to four, never more than half the cores, so that
// playback keeps room while files are analysed.
inline int analysisCodecThreads()
{
    return std::clamp(QThread::idealThreadCount() / 2, 1, 4);
}
