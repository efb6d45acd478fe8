#pragma once

// The loudness-normalisation gain of a cue: the target loudness minus the
// cue's measured loudness, kept within -15..+8 dB.
namespace LoudnessGain {

inline constexpr double kMinGainDb = -15.0;
inline constexpr double kMaxGainDb = 8.0;
// A stored loudness at or below this marks a cue that is not measured yet.
inline constexpr double kNotMeasuredBelow = -900.0;

bool isMeasured(double lufs);
double gainDb(int targetLufs, double measuredLufs);

}  // namespace LoudnessGain
