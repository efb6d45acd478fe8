#pragma once

#include "playback/CueSnapshot.h"

#include <QtGlobal>

#include <memory>

// Shapes exported audio the way playback shapes the cue: volume A, the fades
// over the cue's loop region, the volume envelope and the pan envelope (the
// far side attenuated, the near side kept). No main volume, no loudness gain,
// no limiting. Gains change once per millisecond of file time, as in playback.
class ExportGainShaper {
public:
    // regionStartMs: file time of the first exported frame. dataDurationMs:
    // the length the fade window is measured against (the cue's duration).
    ExportGainShaper(std::shared_ptr<const CueSnapshot> cue, int volumeA, qint64 regionStartMs,
                     qint64 dataDurationMs, int sampleRate);

    // Scales frames [firstIndex, firstIndex + frames) of the exported region
    // (indices counted from its first frame).
    void apply(float* interleaved, qint64 firstIndex, qint64 frames);

    // True when shaping changes nothing (volume 100, no fades, no envelopes).
    static bool isIdentity(const CueSnapshot& cue, int volumeA);

private:
    void updateGains(qint64 index);

    std::shared_ptr<const CueSnapshot> m_cue;
    double m_volume = 1.0;
    qint64 m_startMs = 0;
    int m_rate = 44100;
    FadeRegion m_region;
    qint64 m_ms = -1;
    qint64 m_firstIndex = 0;  // first index of the current millisecond
    qint64 m_nextIndex = 0;   // first index of the next millisecond
    float m_left = 1.0f;
    float m_right = 1.0f;
};
