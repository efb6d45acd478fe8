#pragma once

#include "waveform/EnvelopePoint.h"
#include "waveform/WaveformLabelLayout.h"
#include "waveform/WaveformMapping.h"

#include <QFont>
#include <QList>

class EnvelopeKind;
class QPainter;

// Draws the waveform view's layer above the playhead: the fade ramps with
// their handles, and the volume and pan envelopes with their points. In
// show mode the fades are faint and carry no handles. The texts (fade
// lengths, point values) and the handles and points they must keep clear
// of go to the view's label layout instead of being drawn here.
class EnvelopeLayerPainter {
public:
    EnvelopeLayerPainter(QPainter& painter, const WaveformMapping& mapping, const QFont& labelFont, bool showMode,
                         QList<WaveformLabel>* labels, QList<QRect>* marks);

    // A fade-in from startMs and a fade-out to endMs.
    void paintFades(qint64 startMs, qint64 endMs, qint64 fadeInMs, qint64 fadeOutMs);
    // A faint line, or, while the mouse edits the envelope, a bold line with
    // its points and their values.
    void paintEnvelope(const EnvelopeKind& kind, const QList<EnvelopePoint>& points, bool edited);

private:
    QPainter& m_painter;
    WaveformMapping m_mapping;
    QFont m_labelFont;
    bool m_showMode;
    QList<WaveformLabel>* m_labels;
    QList<QRect>* m_marks;
};
