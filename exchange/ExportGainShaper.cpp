#include "exchange/ExportGainShaper.h"

#include <algorithm>

ExportGainShaper::ExportGainShaper(std::shared_ptr<const CueSnapshot> cue, int volumeA, qint64 regionStartMs,
                                   qint64 dataDurationMs, int sampleRate)
    : m_cue(std::move(cue))
    , m_volume(double(std::clamp(volumeA, 0, 100)) / 100.0)
    , m_startMs(regionStartMs)
    , m_rate(sampleRate > 0 ? sampleRate : 44100)
{
    if (m_cue)
        m_region = m_cue->fadeRegion(dataDurationMs);
}

bool ExportGainShaper::isIdentity(const CueSnapshot& cue, int volumeA)
{
    const bool fades = cue.fadeEnabled && (cue.fadeInMs > 10 || cue.fadeOutMs > 10);
    return volumeA >= 100 && !fades && !cue.volume.isEnabled() && !cue.pan.isEnabled();
}

void ExportGainShaper::updateGains(qint64 index)
{
    // Integer milliseconds of file time, as playback counts them.
    const qint64 offset = index * 1000 / m_rate;
    m_ms = offset;
    m_firstIndex = (offset * m_rate + 999) / 1000;
    m_nextIndex = ((offset + 1) * m_rate + 999) / 1000;
    const qint64 t = m_startMs + offset;
    double shape = m_volume;
    if (m_cue) {
        if (m_region.fadesApply)
            shape *= m_cue->fadeGainAt(std::clamp<qint64>(t - m_region.startMs, 0, m_region.lengthMs),
                                       m_region.lengthMs);
        shape *= m_cue->volume.valueAt(t);
    }
    const double pan = m_cue ? m_cue->pan.valueAt(t) : 0.0;
    const float g = float(shape);
    m_left = pan > 0.0 ? float(shape * (1.0 - pan)) : g;
    m_right = pan <= 0.0 ? float(shape * (1.0 + pan)) : g;
}

void ExportGainShaper::apply(float* interleaved, qint64 firstIndex, qint64 frames)
{
    for (qint64 i = 0; i < frames;) {
        const qint64 index = firstIndex + i;
        if (m_ms < 0 || index >= m_nextIndex || index < m_firstIndex)
            updateGains(index);
        const qint64 runEnd = std::min(frames, m_nextIndex - firstIndex);
        const float left = m_left;
        const float right = m_right;
        for (; i < runEnd; ++i) {
            interleaved[2 * i] *= left;
            interleaved[2 * i + 1] *= right;
        }
    }
}
