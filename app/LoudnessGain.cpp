#include "app/LoudnessGain.h"

#include <algorithm>

namespace LoudnessGain {

bool isMeasured(double lufs)
{
    return lufs > kNotMeasuredBelow;
}

double gainDb(int targetLufs, double measuredLufs)
{
    return std::clamp(double(targetLufs) - measuredLufs, kMinGainDb, kMaxGainDb);
}

}  // namespace LoudnessGain
