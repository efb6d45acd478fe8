#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class QThread;

// Named worker threads that are never killed and never deleted while they
// run: a thread object is deleted once its body has returned. A thread that
// is no longer wanted is simply forgotten; its body finishes its current
// step, sees it was cancelled (through what it owns) and returns.
namespace WorkerThread {

// Starts body on a new thread named name (at the caller's priority). The
// guard turns null once the finished thread has been deleted, which a later
// start() does.
QPointer<QThread> start(const QString& name, std::function<void()> body);

// Waits up to waitMs for the thread to finish; true when it has, or when it
// is already gone.
bool wait(const QPointer<QThread>& thread, int waitMs);

}  // namespace WorkerThread
