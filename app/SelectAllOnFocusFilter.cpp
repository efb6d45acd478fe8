#include "app/SelectAllOnFocusFilter.h"

#include <QAbstractSpinBox>
#include <QEvent>

SelectAllOnFocusFilter::SelectAllOnFocusFilter(QObject* parent)
    : QObject(parent)
{
}

bool SelectAllOnFocusFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // Queued: the spin box's own focus handling (and a mouse press that
        // places the cursor) would otherwise undo the selection.
        if (auto* spinBox = qobject_cast<QAbstractSpinBox*>(watched))
            QMetaObject::invokeMethod(spinBox, &QAbstractSpinBox::selectAll, Qt::QueuedConnection);
    }
    return false;
}
