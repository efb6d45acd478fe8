#include "app/LoopRangeBoxes.h"

#include "app/StyleSheetSetter.h"
#include "app/TextFit.h"

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSignalBlocker>

LoopRangeBoxes::LoopRangeBoxes(QDoubleSpinBox* start, QDoubleSpinBox* length, QDoubleSpinBox* end,
                               QPushButton* startLock, QPushButton* lengthLock, QPushButton* endLock)
    : m_pairs{{start, startLock}, {length, lengthLock}, {end, endLock}}
{
}

// Box and lock read as one control: the box keeps its frame, its right
// corners square where the lock continues it; the lock closes the frame
// on the right with the same border and background.
QString LoopRangeBoxes::boxStyle(bool usable)
{
    const QString text = usable ? QStringLiteral("#cccccc") : QStringLiteral("#888");
    const QString border = usable ? QStringLiteral("#555555") : QStringLiteral("#333333");
    return QStringLiteral(
               "QDoubleSpinBox, MinSecSpinBox { background-color: #2a2a2a; color: %1; border: 1px solid %2;"
               " border-top-left-radius: 2px; border-bottom-left-radius: 2px;"
               " border-top-right-radius: 0px; border-bottom-right-radius: 0px;"
               " padding: 0px; font-family: monospace; }"
               "QDoubleSpinBox::up-button, QDoubleSpinBox::down-button, MinSecSpinBox::up-button,"
               " MinSecSpinBox::down-button { width: 0px; height: 0px; }")
        .arg(text, border);
}

QString LoopRangeBoxes::lockStyle(bool usable)
{
    const QString text = usable ? QStringLiteral("#999999") : QStringLiteral("#4a4a4a");
    const QString border = usable ? QStringLiteral("#555555") : QStringLiteral("#333333");
    return QStringLiteral(
               "QPushButton { background-color: #2a2a2a; color: %1; font-size: 6px; padding: 0px;"
               " border: 1px solid %2; border-left: none;"
               " border-top-right-radius: 2px; border-bottom-right-radius: 2px; }"
               "QPushButton:hover { color: #dddddd; }")
        .arg(text, border);
}

void LoopRangeBoxes::style()
{
    for (const Pair& pair : m_pairs) {
        if (pair.box)
            TextFit::fitNumberFont(pair.box, QStringLiteral("00.00.00"));
    }
}

void LoopRangeBoxes::setUsable(bool usable)
{
    for (const Pair& pair : m_pairs) {
        if (pair.box) {
            StyleSheetSetter::apply(pair.box, boxStyle(usable));
            pair.box->setEnabled(usable);
        }
        if (pair.lock) {
            StyleSheetSetter::apply(pair.lock, lockStyle(usable));
            pair.lock->setEnabled(usable);
        }
    }
}

void LoopRangeBoxes::show(qint64 startMs, qint64 endMs)
{
    const qint64 values[3] = {startMs, endMs - startMs, endMs};
    for (int i = 0; i < 3; ++i) {
        QDoubleSpinBox* box = m_pairs[i].box;
        if (!box)
            continue;
        const QSignalBlocker blocker(box);
        box->setValue(double(values[i]) / 1000.0);
    }
}

void LoopRangeBoxes::clear()
{
    show(0, 0);
}
