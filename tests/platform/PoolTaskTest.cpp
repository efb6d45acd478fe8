#include "platform/PoolTask.h"

#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <semaphore>

// Work handed to a thread pool with its result as a future: what comes back,
// what a cancel or a wait does to work no thread has taken yet, and that the
// pool lets go of the work once it is done.
class PoolTaskTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resultComesBackAndTheWorkIsReleased();
    void cancelledBeforeItStartsNeverRuns();
    void waitingRunsQueuedWorkOnTheWaitingThread();
    void tryStartTakesOnlyAFreeThread();
    void promiseWorkReportsEachResult();
    void higherPriorityWorkIsTakenFirst();
};

namespace {

// Keeps the only thread of a one-thread pool busy until opened.
struct BusyPool {
    QThreadPool pool;
    std::binary_semaphore gate{0};

    BusyPool()
    {
        pool.setMaxThreadCount(1);
        PoolTask::run(&pool, [this] { gate.acquire(); });
    }
    ~BusyPool()
    {
        gate.release();
        pool.waitForDone();
    }
};

}  // namespace

void PoolTaskTest::resultComesBackAndTheWorkIsReleased()
{
    QThreadPool pool;
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watch = held;
    QFuture<QString> future = PoolTask::run(&pool, [held = std::move(held)] { return QString::number(*held * 6); });
    QCOMPARE(future.result(), QStringLiteral("42"));

    std::atomic<bool> ran{false};
    QFuture<void> done = PoolTask::run(&pool, [&ran] { ran = true; });
    done.waitForFinished();
    QVERIFY(ran);

    pool.waitForDone();
    QVERIFY(watch.expired());  // the pool deleted the task and what it held
}

void PoolTaskTest::cancelledBeforeItStartsNeverRuns()
{
    std::atomic<int> runs{0};
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = held;
    QFuture<int> future;
    {
        BusyPool busy;
        future = PoolTask::run(&busy.pool, [&runs, held = std::move(held)] { return ++runs; });
        future.cancel();
    }
    QCOMPARE(runs.load(), 0);
    QVERIFY(future.isCanceled());
    QVERIFY(future.isFinished());
    QVERIFY(watch.expired());
}

void PoolTaskTest::waitingRunsQueuedWorkOnTheWaitingThread()
{
    BusyPool busy;
    QThread* ranOn = nullptr;
    QFuture<int> future = PoolTask::run(&busy.pool, [&ranOn] {
        ranOn = QThread::currentThread();
        return 5;
    });
    // The pool's only thread is busy: the waiting thread does the work.
    future.waitForFinished();
    QCOMPARE(future.result(), 5);
    QCOMPARE(ranOn, QThread::currentThread());
}

void PoolTaskTest::tryStartTakesOnlyAFreeThread()
{
    std::atomic<int> runs{0};
    {
        BusyPool busy;
        QVERIFY(!PoolTask::tryStart(&busy.pool, [&runs] { ++runs; }));
    }
    QCOMPARE(runs.load(), 0);

    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QVERIFY(PoolTask::tryStart(&pool, [&runs] { ++runs; }));
    pool.waitForDone();
    QCOMPARE(runs.load(), 1);
}

void PoolTaskTest::promiseWorkReportsEachResult()
{
    QThreadPool pool;
    QFuture<int> future = PoolTask::runWithPromise<int>(&pool, [](QPromise<int>& promise) {
        for (int i = 1; i <= 3; ++i)
            promise.addResult(i * 10);
    });
    future.waitForFinished();
    QCOMPARE(future.results(), (QList<int>{10, 20, 30}));
    QVERIFY(!future.isCanceled());
}

void PoolTaskTest::higherPriorityWorkIsTakenFirst()
{
    std::mutex mutex;
    QStringList order;
    {
        BusyPool busy;
        for (const auto& [name, priority] : {std::pair{QStringLiteral("low"), 0}, {QStringLiteral("high"), 5}}) {
            PoolTask::run(
                &busy.pool,
                [&mutex, &order, name = name] {
                    std::lock_guard lock(mutex);
                    order << name;
                },
                priority);
        }
    }
    QCOMPARE(order, (QStringList{"high", "low"}));
}

QTEST_GUILESS_MAIN(PoolTaskTest)
#include "PoolTaskTest.moc"
