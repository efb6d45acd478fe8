#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Runs a task once, right after a widget has been painted for the first
// time: for start-up work that must not hold up the first sight of the
// window but should follow it closely.
class AfterFirstPaint : public QObject {
    Q_OBJECT

public:
    // The task runs from the event loop once the paint that reached the
    // widget is done; the watcher belongs to the widget.
    static void run(QWidget* widget, std::function<void()> task);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AfterFirstPaint(QWidget* widget, std::function<void()> task);

    std::function<void()> m_task;
};
