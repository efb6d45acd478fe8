#pragma once

class QScrollBar;

// A scroll bar of plain opaque rectangles (no gradients, no rounded ends).
// Qt's raster engine hands large non-solid fills, such as the Fusion bar's
// gradients, to the global thread pool and waits for them, so a bar the
// height of a table took a pool thread at every repaint, the one the
// waveform parses keep free on a small machine. Opaque rectangles it fills
// on the painting thread.
namespace FlatScrollBarStyle {

void apply(QScrollBar* bar);

}  // namespace FlatScrollBarStyle
