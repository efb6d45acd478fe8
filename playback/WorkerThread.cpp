#include "playback/WorkerThread.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

namespace WorkerThread {

namespace {

// Thread objects whose threads may still run. A finished one is deleted by
// the next start(), on the starting thread: a thread that ends posts nothing
// to anyone (no deleteLater from its finished signal).
QMutex g_mutex;
QList<QThread*> g_threads;

void deleteFinishedLocked()
{
    g_threads.removeIf([](QThread* thread) {
        if (!thread->isFinished())
            return false;
        delete thread;
        return true;
    });
}

}  // namespace

QPointer<QThread> start(const QString& name, std::function<void()> body)
{
    QThread* thread = QThread::create(std::move(body));
    thread->setObjectName(name);
    QPointer<QThread> guard(thread);
    {
        QMutexLocker lock(&g_mutex);
        deleteFinishedLocked();
        g_threads.append(thread);
    }
    thread->start(QThread::InheritPriority);
    return guard;
}

bool wait(const QPointer<QThread>& thread, int waitMs)
{
    if (!thread)
        return true;
    return thread->wait(QDeadlineTimer(waitMs));
}

}  // namespace WorkerThread
