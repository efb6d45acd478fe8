#pragma once

#include "waveform/EnvelopePoint.h"
#include "waveform/WaveformMapping.h"

#include <QFont>
#include <QList>

class EnvelopeKind;
class QPainter;

// Draws the waveform view's layer above the playhead: the fade ramps with
// their handles and lengths, and the volume and pan envelopes with their
// points. In show mode the fades are faint and carry no handles.
class EnvelopeLayerPainter {
public:
    EnvelopeLayerPainter(QPainter& painter, const WaveformMapping& mapping, const QFont& labelFont, bool showMode);

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
};
