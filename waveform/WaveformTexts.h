#pragma once

#include "waveform/WaveformLabelLayout.h"

#include <QFont>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

// The texts of the waveform view and the marks they must keep clear of,
// each with the place it prefers and the places it may move to; the view
// hands them to WaveformLabelLayout, which decides where they go.
namespace WaveformTexts {

// A time-axis label beside its tick line at x, on the bottom line.
WaveformLabel tick(const QFont& font, const QColor& colour, int x, int height, const QString& text);

// "音频总长: m:ss" in the upper right corner; it may move left along the
// top edge, never onto the live time box.
WaveformLabel totalLength(const QFont& font, const QColor& colour, int width, const QString& text);

// The loop start or end mark: its grab handle (fixed, reserved) and its
// time box above it, beside the loop line at x.
struct LoopMark {
    QRect handle;
    WaveformLabel label;
};
LoopMark loopStart(const QFont& font, float xs, int height, const QString& text);
LoopMark loopEnd(const QFont& font, float xe, int width, int height, const QString& text);
// The grip between the loop lines (reserved), or an invalid rect.
QRect loopGrip(float xs, float xe, int height);

// The two live time boxes beside the playhead at x: the position above,
// the time left to the loop end below. They may only change sides or slide
// a little, so they stay at the playhead.
QList<WaveformLabel> playheadBoxes(const QFont& font, float x, float xs, float xe, int width, int height,
                                   const QString& position, const QString& remaining);

// A fade length ("in 1.0s", "out 1.5s") beside its handle at x: the text
// starts right of it (fade-in) or ends left of it (fade-out).
WaveformLabel fadeLength(const QFont& font, const QColor& colour, qreal x, qreal y, bool fadeIn,
                         const QString& text);

// The value of an envelope point at (x, y): in a box of boxWidth centred on
// the preferred place, above or below the point.
WaveformLabel envelopeValue(const QFont& font, const QColor& colour, const QRectF& preferred, qreal pointY,
                            const QString& text);

}  // namespace WaveformTexts
