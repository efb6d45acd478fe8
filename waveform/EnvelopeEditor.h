#pragma once

#include "waveform/EnvelopeKind.h"
#include "waveform/EnvelopePoint.h"
#include "waveform/WaveformMapping.h"

#include <QList>
#include <QPoint>

// Edits the points of one envelope in place, as the waveform view's mouse and
// wheel ask: the first point stays at the start of the file and the last at
// its end, a new point keeps clear of the others and a moved one keeps its
// distance from its neighbours. Writing the points back to the cue is the
// caller's.
class EnvelopeEditor {
public:
    static constexpr qint64 kPointSpacingMs = 100;  // nearest two points of one envelope may come
    static constexpr qint64 kPointAddGapMs = 99;    // no new point this close to another

    // fileEndMs: where the last point sits.
    EnvelopeEditor(const EnvelopeKind& kind, QList<EnvelopePoint>& points, const WaveformMapping& mapping,
                   qint64 fileEndMs);

    // Only that point selected; -1 selects none.
    void select(int index);
    // A point at the pointer's time and height; refused near another point.
    bool addAt(const QPoint& pos);
    // A point at a time with a value; refused near another point.
    bool add(qint64 timeMs, double value);
    // Sorted by time, the first point at 0 and the last at the end of the file.
    void sort();
    // A dragged point follows the pointer: in time unless it is the first or
    // the last, in value unless keepValue.
    void dragTo(int index, const QPoint& pos, bool keepValue);
    // The selected point moves 50 ms a wheel notch, the first and last too.
    bool nudgeSelected(double notches);
    // The first and the last point stay.
    bool removeInner(int index);
    void resetValue(int index);

private:
    bool nearAnother(qint64 timeMs) const;

    const EnvelopeKind& m_kind;
    QList<EnvelopePoint>& m_points;
    WaveformMapping m_mapping;
    qint64 m_fileEndMs;
};
