#pragma once

// Shape of a crossfade: how the incoming cue rises while the outgoing falls.
enum class CrossfadeCurve : int {
    EqualPower = 0,
    Linear = 1,
    SmoothStep = 2,
};

struct CrossfadeGains {
    float in = 0.0f;
    float out = 1.0f;
};

// Gains at progress t (0..1) of a crossfade of the given curve (an int as the
// engine stores it); any unknown value mixes as EqualPower.
CrossfadeGains crossfadeGains(int curve, float t);
