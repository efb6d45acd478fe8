#include "playback/WorkerThread.h"

#include <QDeadlineTimer>
#include <QThread>

namespace WorkerThread {

QThread* start(const QString& name, std::function<void()> body)
{
    QThread* thread = QThread::create(std::move(body));
    thread->setObjectName(name);
    thread->start(QThread::InheritPriority);
    return thread;
}

void release(QThread* thread)
{
    if (!thread)
        return;
    // Connect first, then check: a thread that finishes in between gets
    // deleteLater twice, which Qt allows.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished())
        thread->deleteLater();
}

bool waitAndRelease(QThread* thread, int waitMs)
{
    if (!thread)
        return true;
    const bool finished = thread->wait(QDeadlineTimer(waitMs));
    if (finished)
        delete thread;
    else
        release(thread);
    return finished;
}

}  // namespace WorkerThread
