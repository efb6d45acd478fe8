#include "playback/CrossfadeCurve.h"

#include <cmath>

CrossfadeGains crossfadeGains(int curve, float t)
{
    switch (CrossfadeCurve(curve)) {
    case CrossfadeCurve::Linear:
        return {t, 1.0f - t};
    case CrossfadeCurve::SmoothStep: {
        const float s = t * t * (3.0f - 2.0f * t);
        return {s, 1.0f - s};
    }
    case CrossfadeCurve::EqualPower:
    default:
        break;
    }
    const double angle = double(t) * M_PI / 2.0;
    return {float(std::sin(angle)), float(std::cos(angle))};
}
