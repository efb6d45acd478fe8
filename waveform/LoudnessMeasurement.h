#pragma once

#include <QString>

// Integrated loudness (EBU R128) of the whole of an audio file in LUFS,
// measured on the 44100 Hz stereo signal the player hears (a mono file on
// both channels at full level). -999.0 when the file cannot be decoded, is
// silent, or takes longer than the analysis time limit. Blocks for as long
// as decoding takes; keeps no shared state, so several measurements may run
// at once on worker threads. Decodes ahead and on several codec threads only
// with threads the global pool has idle (see PoolThreadLease).
double measureLufs(const QString& filePath);
