#include "waveform/PoolThreadLease.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <barrier>
#include <memory>
#include <thread>
#include <vector>

class PoolThreadLeaseTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void holdsOnlyIdleThreads();
    void aPoolOfTwoLendsNothing();
    void withoutAPoolHoldsNothing();
    void leasesTakenAtOnceLeaveOneIdle();
};

void PoolThreadLeaseTest::holdsOnlyIdleThreads()
{
    QThreadPool pool;
    pool.setMaxThreadCount(5);
    QSemaphore busyMayEnd;
    pool.start([&busyMayEnd] { busyMayEnd.acquire(); });  // one thread at work

    {
        PoolThreadLease lease(&pool);
        // What is idle, not what is asked for, and never the last idle one.
        QCOMPARE(lease.take(5), 3);
        QCOMPARE(lease.size(), 3);
        QCOMPARE(pool.activeThreadCount(), 4);
        QCOMPARE(lease.take(1), 0);
        // The thread left idle runs a short job at once.
        QSemaphore ran;
        QVERIFY(pool.tryStart([&ran] { ran.release(); }));
        QVERIFY(ran.tryAcquire(1, 5000));

        lease.giveBack(2);
        QCOMPARE(lease.size(), 1);
        QTRY_COMPARE(pool.activeThreadCount(), 2);
        lease.giveBack(5);  // more than it holds: all of it
        QCOMPARE(lease.size(), 0);
        QTRY_COMPARE(pool.activeThreadCount(), 1);
        QCOMPARE(lease.take(2), 2);
    }
    // The end of the lease gives every held thread back.
    QTRY_COMPARE(pool.activeThreadCount(), 1);
    busyMayEnd.release();
    QVERIFY(pool.waitForDone(5000));
}

void PoolThreadLeaseTest::aPoolOfTwoLendsNothing()
{
    // The analysis runs on one thread; the other stays free. Idle, a pool of
    // two lends nothing either: a job started later must find a thread free.
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    {
        PoolThreadLease idleLease(&pool);
        QCOMPARE(idleLease.take(1), 0);
    }
    QSemaphore busyMayEnd;
    pool.start([&busyMayEnd] { busyMayEnd.acquire(); });
    PoolThreadLease lease(&pool);
    QCOMPARE(lease.take(1), 0);
    busyMayEnd.release();
    QVERIFY(pool.waitForDone(5000));
}

void PoolThreadLeaseTest::withoutAPoolHoldsNothing()
{
    PoolThreadLease lease(nullptr);
    QCOMPARE(lease.take(3), 0);
    lease.giveBack(1);
    QCOMPARE(lease.size(), 0);
}

QTEST_GUILESS_MAIN(PoolThreadLeaseTest)
#include "PoolThreadLeaseTest.moc"

void PoolThreadLeaseTest::leasesTakenAtOnceLeaveOneIdle()
{
    // Analyses on threads of their own (the loudness scan's) take their
    // leases at the same moment: together they still leave one thread idle.
    constexpr int kAnalyses = 8;
    for (int round = 0; round < 200; ++round) {
        QThreadPool pool;
        pool.setMaxThreadCount(3);
        std::barrier start(kAnalyses);
        std::barrier taken(kAnalyses + 1);
        std::barrier release(kAnalyses + 1);
        std::atomic<int> held{0};
        std::vector<std::thread> analyses;
        for (int i = 0; i < kAnalyses; ++i) {
            analyses.emplace_back([&] {
                PoolThreadLease lease(&pool);
                start.arrive_and_wait();
                held += lease.take(2);
                taken.arrive_and_wait();
                release.arrive_and_wait();
            });
        }
        taken.arrive_and_wait();
        const int heldAtOnce = held.load();
        const int active = pool.activeThreadCount();
        release.arrive_and_wait();
        for (std::thread& analysis : analyses)
            analysis.join();
        QVERIFY2(heldAtOnce <= 2 && active <= 2,
                 qPrintable(QStringLiteral("round %1: %2 held, %3 active of 3").arg(round).arg(heldAtOnce).arg(active)));
        QVERIFY(pool.waitForDone(5000));
    }
}
