#include "waveform/WaveformMapping.h"

#include <algorithm>

WaveformMapping::WaveformMapping(qint64 viewStartMs, qint64 viewEndMs, int width, int height)
    : m_viewStartMs(viewStartMs)
    , m_spanMs(viewEndMs - viewStartMs)
    , m_width(width)
    , m_height(height)
{
}

float WaveformMapping::timeToX(qint64 ms) const
{
    if (m_spanMs < 1 || m_width < 1)
        return 0.0f;
    return float(ms - m_viewStartMs) / float(m_spanMs) * float(m_width);
}

qint64 WaveformMapping::xToTime(float x) const
{
    if (m_spanMs < 1 || m_width < 1)
        return 0;
    return qint64(double(x) / double(m_width) * double(m_spanMs) + double(m_viewStartMs));
}

float WaveformMapping::gainToY(float gain) const
{
    const float bottom = float(m_height - 14);
    const float y = bottom - float(m_height - 24) * gain;
    return std::max(std::min(y, bottom), 10.0f);
}

float WaveformMapping::yToGain(float y) const
{
    const int band = m_height - 24;
    if (band < 1)
        return 1.0f;
    return std::clamp((float(m_height - 14) - y) / float(band), 0.0f, 1.0f);
}

float WaveformMapping::panToY(double pan) const
{
    const float bottom = float(m_height - 14);
    const float band = float(m_height - 24);
    const float y = bottom - band * 0.5f + band * float(pan) * 0.5f;
    return std::max(std::min(y, bottom), 10.0f);
}

float WaveformMapping::yToPan(float y) const
{
    if (m_height - 24 < 1)
        return 0.0f;
    const float half = float(m_height - 24) / 2.0f;
    const float bottom = float(m_height - 14);
    return std::clamp((y - (bottom - half)) / half, -1.0f, 1.0f);
}
