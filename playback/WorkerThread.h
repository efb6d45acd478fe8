#pragma once

#include <QString>

#include <functional>

class QThread;

// Named worker threads that are never killed and never deleted while they
// run. A thread that is no longer wanted is released: it finishes its
// current step, sees it was cancelled and deletes itself.
namespace WorkerThread {

// Starts body on a new thread named name (at the caller's priority).
QThread* start(const QString& name, std::function<void()> body);

// Deletes the thread object now when it has finished, else once it does.
// Never waits. The body must not touch anything but what it owns.
void release(QThread* thread);

// Waits up to waitMs for the thread to finish, then releases it. True when it
// finished in time.
bool waitAndRelease(QThread* thread, int waitMs);

}  // namespace WorkerThread
