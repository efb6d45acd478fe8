#pragma once

#include <QString>
#include <QtGlobal>

class QDoubleSpinBox;
class QPushButton;

// The look of the settings bar's three loop-range boxes (start, length, end)
// with the lock button beside each: their texts fitted to the form's widths,
// the lock joined to its box as one control, and the usable or off-limits
// look, which box and lock share. What the boxes do to a cue is
// LoopBoxRules'.
class LoopRangeBoxes {
public:
    LoopRangeBoxes(QDoubleSpinBox* start, QDoubleSpinBox* length, QDoubleSpinBox* end, QPushButton* startLock,
                   QPushButton* lengthLock, QPushButton* endLock);

    // Fonts and sheets, once, when the form is built.
    void style();
    // Enabled with the normal look, or disabled with the dim look.
    void setUsable(bool usable);
    // A region in ms (signals blocked); the length is end - start.
    void show(qint64 startMs, qint64 endMs);
    // No cue: zeros, nothing of a cue shown before.
    void clear();

    static QString boxStyle(bool usable);
    static QString lockStyle(bool usable);

private:
    struct Pair {
        QDoubleSpinBox* box;
        QPushButton* lock;
    };
    Pair m_pairs[3];
};
