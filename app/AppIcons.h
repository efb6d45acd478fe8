#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "playback/AudioEngine.h"

// The main window's small icons. Each is an SVG document held as text and
// rendered when needed, so a state change only renders another text.
namespace AppIcons {

// The playback indicator: a circle, blue while playing and orange while
// paused at the opacity of the pulse phase, grey when stopped.
QString indicatorSvg(AudioEngine::State state, double phase);
// The pulse opacity for a phase: swings between 0.3 and 1.0.
double indicatorOpacity(double phase);

// The recording button's drawing in one colour.
QString recordSvg(const QString& color);
// The crossfade button's two crossing curves, orange when on.
QString crossfadeSvg(bool enabled);

// Renders an SVG text at its own size through the "SVG" image format; a null
// pixmap when the text cannot be read or the SVG plugin is missing.
QPixmap renderSvg(const QString& svg);

// A 10 x 10 dot of the mode buttons.
QPixmap modeDot(const QColor& color);

}  // namespace AppIcons
