#include "app/LoudnessScan.h"

#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <semaphore>

namespace {

// Measurements that wait until released, recording the order they started
// in and how many ran at once.
class HeldMeasurements {
public:
    double measure(const QString& path)
    {
        std::unique_lock lock(m_mutex);
        m_started.append(path);
        ++m_running;
        m_mostAtOnce = std::max(m_mostAtOnce, m_running);
        while (!m_released && m_permits == 0)
            m_release.wait(lock);
        if (!m_released)
            --m_permits;
        --m_running;
        return -20.0 - double(path.size());
    }
    void release()
    {
        std::unique_lock lock(m_mutex);
        m_released = true;
        m_release.notify_all();
    }
    // Lets one held measurement end; the next ones are held again.
    void releaseOne()
    {
        std::unique_lock lock(m_mutex);
        ++m_permits;
        m_release.notify_one();
    }
    void hold()
    {
        std::unique_lock lock(m_mutex);
        m_released = false;
        m_permits = 0;
        m_started.clear();
        m_mostAtOnce = 0;
    }
    QStringList started() const
    {
        std::unique_lock lock(m_mutex);
        return m_started;
    }
    int mostAtOnce() const
    {
        std::unique_lock lock(m_mutex);
        return m_mostAtOnce;
    }

private:
    // Standard primitives: Qt's wait releases the mutex where
    // ThreadSanitizer cannot see it.
    mutable std::mutex m_mutex;
    std::condition_variable m_release;
    bool m_released = false;
    int m_permits = 0;
    QStringList m_started;
    int m_running = 0;
    int m_mostAtOnce = 0;
};

HeldMeasurements& held()
{
    static HeldMeasurements measurements;
    return measurements;
}

QList<LoudnessScan::Item> items(const QString& prefix, int count, int firstId)
{
    QList<LoudnessScan::Item> list;
    for (int i = 0; i < count; ++i)
        list.append({firstId + i, prefix + QString::number(i)});
    return list;
}

}  // namespace

// The measurement of many cues: one task per cue on measuring threads of its
// own, as many at once as the global pool may run while the global pool
// itself stays free, a free thread going to the scan with the higher
// priority, and a cancelled scan that reports nothing more.
class LoudnessScanTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void measuresEachCueOnceAndLeavesTheGlobalPoolFree();
    void theHigherPriorityGoesFirst();
    void cancelledScanReportsNothingMore();
};

void LoudnessScanTest::initTestCase()
{
    LoudnessScan::setMeasureFunction([](const QString& path) { return held().measure(path); });
    QThreadPool::globalInstance()->setMaxThreadCount(4);
}

void LoudnessScanTest::init()
{
    held().hold();
}

void LoudnessScanTest::cleanup()
{
    held().release();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
    QVERIFY(LoudnessScan::measurementPool()->waitForDone(10000));
}

void LoudnessScanTest::measuresEachCueOnceAndLeavesTheGlobalPoolFree()
{
    LoudnessScan scan(7, 0);
    QSignalSpy measured(&scan, &LoudnessScan::cueMeasured);
    QSignalSpy finished(&scan, &LoudnessScan::finished);
    scan.start(items(QStringLiteral("cue"), 6, 1) + items(QStringLiteral("cue"), 1, 1)
               + items(QStringLiteral("x"), 1, 0));
    QCOMPARE(scan.pendingCount(), 6);  // a repeated id and an unstored cue are left out
    QTRY_COMPARE(held().started().size(), 4);
    QTest::qWait(20);
    QCOMPARE(held().started().size(), 4);

    // Four measure at once, as many as the global pool's limit, and a short
    // job on the global pool still runs at once.
    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
    std::binary_semaphore ran{0};
    QThreadPool::globalInstance()->start([&ran] { ran.release(); });
    QVERIFY(ran.try_acquire_for(std::chrono::seconds(5)));
    QVERIFY(scan.isMeasuring(1) && scan.isMeasuring(6));
    held().release();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toInt(), 7);
    QCOMPARE(measured.count(), 6);
    QStringList paths;
    for (const QList<QVariant>& report : std::as_const(measured)) {
        QCOMPARE(report.at(0).toInt(), 7);
        paths << report.at(2).toString();
        QCOMPARE(report.at(3).toDouble(), -20.0 - double(paths.last().size()));
    }
    paths.sort();
    QCOMPARE(paths, (QStringList{"cue0", "cue1", "cue2", "cue3", "cue4", "cue5"}));
    QCOMPARE(held().mostAtOnce(), 4);
    QCOMPARE(scan.pendingCount(), 0);
}

void LoudnessScanTest::theHigherPriorityGoesFirst()
{
    LoudnessScan table(1, -1);
    table.start(items(QStringLiteral("table"), 6, 1));
    QTRY_COMPARE(held().started().size(), 4);
    LoudnessScan playing(0, 1);
    QSignalSpy measured(&playing, &LoudnessScan::cueMeasured);
    playing.start(items(QStringLiteral("playing"), 1, 100));
    QVERIFY(playing.isMeasuring(100));

    // The next free thread goes to the playing cue, not to the table's rest.
    held().releaseOne();
    QTRY_COMPARE(held().started().size(), 5);
    QCOMPARE(held().started().value(4), QStringLiteral("playing0"));
    held().release();
    QTRY_COMPARE(measured.count(), 1);
}

void LoudnessScanTest::cancelledScanReportsNothingMore()
{
    QStringList seen;
    {
        LoudnessScan scan(3, 0);
        connect(&scan, &LoudnessScan::cueMeasured, this,
                [&seen](int, int, const QString& path, double) { seen << path; });
        scan.start(items(QStringLiteral("cue"), 6, 1));
        QTRY_COMPARE(held().started().size(), 4);
        scan.cancel();
        QVERIFY(!scan.isMeasuring(1));
        held().release();
        QVERIFY(LoudnessScan::measurementPool()->waitForDone(10000));
        QCoreApplication::processEvents();
    }
    QVERIFY(seen.isEmpty());
    // The cues that had not started were never measured.
    QCOMPARE(held().started().size(), 4);
}

QTEST_GUILESS_MAIN(LoudnessScanTest)
#include "LoudnessScanTest.moc"
