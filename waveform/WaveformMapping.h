#pragma once

#include <QtGlobal>

// The waveform view's maps between time, envelope values and pixels, for one
// visible time range on a widget of one size. Time runs left to right over
// the visible range; envelope values sit in the value band from y 10 (gain
// 1, pan left) down to height - 14 (gain 0, pan right).
class WaveformMapping {
public:
    WaveformMapping(qint64 viewStartMs, qint64 viewEndMs, int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Not clamped: times outside the visible range map outside the widget.
    float timeToX(qint64 ms) const;
    qint64 xToTime(float x) const;

    // Clamped into the value band, and into the value's range.
    float gainToY(float gain) const;
    float yToGain(float y) const;
    float panToY(double pan) const;
    float yToPan(float y) const;

private:
    qint64 m_viewStartMs;
    qint64 m_spanMs;
    int m_width;
    int m_height;
};
