#pragma once

#include <QFuture>
#include <QFutureInterface>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>

#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define CORVELLE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CORVELLE_THREAD_SANITIZER 1
#endif
#endif
#ifdef CORVELLE_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

// Work handed to a thread pool, with its results as a QFuture, as
// QtConcurrent::run and QThreadPool::tryStart do it. What differs: the
// hand-over is marked for ThreadSanitizer. Qt passes a task to a pool thread
// under locks built without the sanitizer, so everything the task was given
// would look unsynchronised to it; the starting thread marks the task as
// handed over, and the pool thread takes it up before it touches anything of
// the task. In other builds the marks are nothing.
namespace PoolTask {

namespace detail {

inline void handOver([[maybe_unused]] void* task)
{
#ifdef CORVELLE_THREAD_SANITIZER
    __tsan_release(task);
#endif
}

inline void takeOver([[maybe_unused]] void* task)
{
#ifdef CORVELLE_THREAD_SANITIZER
    __tsan_acquire(task);
#endif
}

template <class Result, class Work>
class Task final : public QRunnable {
public:
    explicit Task(Work work)
        : m_work(std::move(work))
    {
    }

    QFutureInterface<Result> promise;

    void run() override
    {
        takeOver(this);
        // Finished before it goes: a promise that ends unfinished cancels.
        QPromise<Result> handle(promise);
        if (!promise.isCanceled()) {
            if constexpr (std::is_invocable_v<Work&, QPromise<Result>&>)
                m_work(handle);
            else if constexpr (std::is_void_v<Result>)
                m_work();
            else
                promise.reportAndMoveResult(m_work());
        }
        promise.reportFinished();
    }

private:
    Work m_work;
};

template <class Result, class Work>
QFuture<Result> start(QThreadPool* pool, Work work, int priority)
{
    auto* task = new Task<Result, Work>(std::move(work));
    task->promise.setThreadPool(pool);
    task->promise.setRunnable(task);
    task->promise.reportStarted();
    QFuture<Result> future = task->promise.future();
    handOver(task);
    pool->start(task, priority);
    return future;
}

template <class Work>
class Job final : public QRunnable {
public:
    explicit Job(Work work)
        : m_work(std::move(work))
    {
    }

    void run() override
    {
        takeOver(this);
        m_work();
    }

private:
    Work m_work;
};

}  // namespace detail

// Runs work() on pool (at the given priority among the work waiting for a
// thread). Cancelling the future before a pool thread has taken the work
// skips it; waiting for the future runs work that no pool thread has taken
// yet on the waiting thread.
template <class Work>
QFuture<std::invoke_result_t<Work&>> run(QThreadPool* pool, Work work, int priority = 0)
{
    return detail::start<std::invoke_result_t<Work&>>(pool, std::move(work), priority);
}

// Like run(), for work(QPromise<Result>&) that reports its results one by one
// through the promise.
template <class Result, class Work>
QFuture<Result> runWithPromise(QThreadPool* pool, Work work, int priority = 0)
{
    static_assert(std::is_invocable_v<Work&, QPromise<Result>&>, "work takes a QPromise<Result>&");
    return detail::start<Result>(pool, std::move(work), priority);
}

// Runs work() on a thread of pool that is free now; false (and work never
// runs) when there is none.
template <class Work>
bool tryStart(QThreadPool* pool, Work work)
{
    auto* job = new detail::Job<Work>(std::move(work));
    detail::handOver(job);
    if (pool->tryStart(job))
        return true;
    delete job;
    return false;
}

}  // namespace PoolTask
