#include "waveform/PoolThreadLease.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QtTest>

class PoolThreadLeaseTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void holdsOnlyIdleThreads();
    void withoutAPoolHoldsNothing();
};

void PoolThreadLeaseTest::holdsOnlyIdleThreads()
{
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    QSemaphore busyMayEnd;
    pool.start([&busyMayEnd] { busyMayEnd.acquire(); });  // one thread at work

    {
        PoolThreadLease lease(&pool);
        QCOMPARE(lease.take(5), 3);  // what is idle, not what is asked for
        QCOMPARE(lease.size(), 3);
        QCOMPARE(pool.activeThreadCount(), 4);
        QVERIFY(!pool.tryStart([] {}));  // nothing else starts on them
        QCOMPARE(lease.take(1), 0);

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

void PoolThreadLeaseTest::withoutAPoolHoldsNothing()
{
    PoolThreadLease lease(nullptr);
    QCOMPARE(lease.take(3), 0);
    lease.giveBack(1);
    QCOMPARE(lease.size(), 0);
}

QTEST_GUILESS_MAIN(PoolThreadLeaseTest)
#include "PoolThreadLeaseTest.moc"
