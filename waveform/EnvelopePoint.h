#pragma once

#include <QList>
#include <QMetaType>
#include <QtGlobal>

// One point of a volume or pan envelope as the waveform view edits it. A cue
// stores its envelopes as parallel lists of times and values instead.
struct EnvelopePoint {
    qint64 timeMs = 0;
    double value = 0.0;     // gain 0..1, or pan -1 (left) .. +1 (right)
    bool selected = false;  // grabbed by the last press
};

Q_DECLARE_METATYPE(EnvelopePoint)
