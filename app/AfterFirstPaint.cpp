#include "app/AfterFirstPaint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

void AfterFirstPaint::run(QWidget* widget, std::function<void()> task)
{
    new AfterFirstPaint(widget, std::move(task));
}

AfterFirstPaint::AfterFirstPaint(QWidget* widget, std::function<void()> task)
    : QObject(widget)
    , m_task(std::move(task))
{
    widget->installEventFilter(this);
}

bool AfterFirstPaint::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && m_task) {
        watched->removeEventFilter(this);
        // After the paint: the window's other widgets are drawn in the same
        // pass, and the pass ends with the flush to the screen.
        QTimer::singleShot(0, this, [this] {
            const std::function<void()> task = std::move(m_task);
            m_task = nullptr;
            deleteLater();
            task();
        });
    }
    return QObject::eventFilter(watched, event);
}
