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
class Threads {
public:
    // At exit the finished ones go as well; one still running keeps its
    // object, which its thread is using.
    ~Threads()
    {
        std::lock_guard lock(mutex);
        deleteFinishedLocked();
    }

    void deleteFinishedLocked()
    {
        list.removeIf([](QThread* thread) {
            if (!thread->isFinished())
                return false;
            delete thread;
            return true;
        });
    }

    std::mutex mutex;
    QList<QThread*> list;
};

Threads g_threads;

}  // namespace

QPointer<QThread> start(const QString& name, std::function<void()> body)
{
    QThread* thread = QThread::create(std::move(body));
    thread->setObjectName(name);
    QPointer<QThread> guard(thread);
    {
        std::lock_guard lock(g_threads.mutex);
        g_threads.deleteFinishedLocked();
        g_threads.list.append(thread);
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
