#pragma once

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <functional>
#include <utility>

// Runs the file work of the recording dialog (saving, encoding, decoding,
// copying) away from the GUI thread, one job at a time in the order given,
// so that a later job always sees the files of the earlier ones. Each job's
// result comes back to this object's thread by a queued call. The work
// itself must hold copies of what it needs, never the caller's objects.
class RecordingJobQueue : public QObject {
    Q_OBJECT

public:
    explicit RecordingJobQueue(QObject* parent = nullptr);
    // Waits for every job given, so nothing queued is lost; their results
    // are dropped.
    ~RecordingJobQueue() override;

    // work() runs on the queue's thread; done(result) then runs on this
    // object's thread, unless the queue is gone by then.
    template <class Work, class Done>
    void enqueue(Work work, Done done)
    {
        using Result = std::invoke_result_t<Work>;
        ++pending;
        auto* watcher = new QFutureWatcher<Result>(this);
        connect(watcher, &QFutureWatcherBase::finished, this,
                [this, watcher, done = std::move(done)]() mutable {
                    watcher->deleteLater();
                    done(watcher->result());
                    jobFinished();
                });
        watcher->setFuture(QtConcurrent::run(&pool, std::move(work)));
    }

    bool isIdle() const { return pending == 0; }
    int pendingJobs() const { return pending; }

    // Runs callback once no job is left (at once when idle). receiver guards
    // it: a callback whose receiver is gone is dropped.
    void whenIdle(QObject* receiver, std::function<void()> callback);

    // Blocks until every job has run and its result was handed back.
    void waitForIdle();

private:
    void jobFinished();

    QThreadPool pool;
    int pending = 0;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> idleCallbacks;
};
