#include "playback/WorkerThread.h"

#include <QDeadlineTimer>
#include <QList>
#include <QThread>

#include <mutex>

namespace WorkerThread {

namespace {

// Thread objects whose threads may still run. A finished one is deleted by
// the next start(), on the starting thread: a thread that ends posts nothing
// to anyone (no deleteLater from its finished signal).
std::mutex g_mutex;
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
        std::lock_guard lock(g_mutex);
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
