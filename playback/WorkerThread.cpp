#include "playback/WorkerThread.h"

#include <QDeadlineTimer>
#include <QThread>

namespace WorkerThread {

QPointer<QThread> start(const QString& name, std::function<void()> body)
{
    QThread* thread = QThread::create(std::move(body));
    thread->setObjectName(name);
    // Connected before the start: nobody has to release the thread later,
    // so nothing about it needs doing while the audio device is locked.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    QPointer<QThread> guard(thread);
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
