#include "recording/RecordingJobQueue.h"

#include <QCoreApplication>
#include <QEventLoop>

RecordingJobQueue::RecordingJobQueue(QObject* parent)
    : QObject(parent)
{
    pool.setMaxThreadCount(1);
    pool.setObjectName(QStringLiteral("RecordingFiles"));
}

RecordingJobQueue::~RecordingJobQueue()
{
    pool.waitForDone();
}

void RecordingJobQueue::whenIdle(QObject* receiver, std::function<void()> callback)
{
    if (pending == 0) {
        callback();
        return;
    }
    idleCallbacks.append({QPointer<QObject>(receiver), std::move(callback)});
}

void RecordingJobQueue::jobFinished()
{
    if (--pending > 0)
        return;
    // A callback may queue new jobs; those that come after it wait for them.
    while (pending == 0 && !idleCallbacks.isEmpty()) {
        auto [receiver, callback] = idleCallbacks.takeFirst();
        if (receiver)
            callback();
    }
}

void RecordingJobQueue::waitForIdle()
{
    while (pending > 0) {
        pool.waitForDone();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}
