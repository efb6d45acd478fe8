#include "playback/CueVolumeRamp.h"

#include <QSignalSpy>
#include <QtTest>

// Where the A/B volume move stands, on a clock the test moves by hand.
class CueVolumeRampTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheClock_data();
    void followsTheClock();
    void reversedMidway();
    void retargetKeepsTheEndTime();
    void zeroLengthArrivesAtOnce();
    void stopLeavesTheLevelWhereItIs();
    void announcesItsEndOnItsOwnTimer();
};

namespace {

struct FakeClock {
    qint64 now = 1'000'000;
    CueVolumeRamp::Clock clock()
    {
        return [this] { return now; };
    }
};

}  // namespace

void CueVolumeRampTest::followsTheClock_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<int>("level");

    QTest::newRow("at the start") << 80 << 20 << qint64(0) << 80;
    QTest::newRow("a quarter down") << 80 << 20 << qint64(500) << 65;
    QTest::newRow("halfway down, truncated") << 80 << 21 << qint64(1000) << 50;  // 50.5
    QTest::newRow("halfway up, truncated") << 21 << 80 << qint64(1000) << 50;  // 50.5
    QTest::newRow("a late look lands where it should") << 0 << 100 << qint64(1900) << 95;
    QTest::newRow("at the end") << 0 << 100 << qint64(2000) << 100;
    QTest::newRow("long after the end") << 0 << 100 << qint64(60000) << 100;
}

void CueVolumeRampTest::followsTheClock()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(qint64, elapsed);
    QFETCH(int, level);

    FakeClock fake;
    CueVolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);

    ramp.start(from, to);
    fake.now += elapsed;
    QCOMPARE(ramp.level(), level);
    QCOMPARE(ramp.isActive(), elapsed < 2000);
    QCOMPARE(ramp.msLeft(), std::max<qint64>(2000 - elapsed, 0));
}

void CueVolumeRampTest::reversedMidway()
{
    // The operator switches A (80) to B (20) and back again halfway: the
    // second move starts from the level reached, with the full length.
    FakeClock fake;
    CueVolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);
    QSignalSpy finished(&ramp, &CueVolumeRamp::finished);

    ramp.start(80, 20);
    fake.now += 1000;
    QCOMPARE(ramp.level(), 50);

    ramp.start(ramp.level(), 80);
    fake.now += 1000;
    QCOMPARE(ramp.level(), 65);
    fake.now += 999;
    ramp.finishIfDue();
    QVERIFY(finished.isEmpty());
    QVERIFY(ramp.isActive());
    fake.now += 1;
    QCOMPARE(ramp.level(), 80);
    QVERIFY(!ramp.isActive());
    ramp.finishIfDue();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 80);

    fake.now += 100;
    ramp.finishIfDue();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(ramp.level(), 80);
}

void CueVolumeRampTest::retargetKeepsTheEndTime()
{
    FakeClock fake;
    CueVolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);

    ramp.start(20, 80);
    fake.now += 1000;
    QCOMPARE(ramp.level(), 50);

    // No jump: the new move begins at the level reached so far.
    ramp.retarget(50, 10);
    QCOMPARE(ramp.level(), 50);
    QCOMPARE(ramp.msLeft(), qint64(1000));
    fake.now += 500;
    QCOMPARE(ramp.level(), 30);
    fake.now += 500;
    QCOMPARE(ramp.level(), 10);
    QVERIFY(!ramp.isActive());

    // With no move running it is a full one.
    ramp.retarget(10, 90);
    QCOMPARE(ramp.msLeft(), qint64(2000));
    fake.now += 1000;
    QCOMPARE(ramp.level(), 50);
}

void CueVolumeRampTest::zeroLengthArrivesAtOnce()
{
    FakeClock fake;
    CueVolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(0);
    QSignalSpy finished(&ramp, &CueVolumeRamp::finished);

    ramp.start(30, 70);
    QCOMPARE(ramp.level(), 70);
    QVERIFY(!ramp.isActive());
    ramp.finishIfDue();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 70);
}

void CueVolumeRampTest::stopLeavesTheLevelWhereItIs()
{
    FakeClock fake;
    CueVolumeRamp ramp;
    ramp.setClock(fake.clock());
    QSignalSpy finished(&ramp, &CueVolumeRamp::finished);

    ramp.start(0, 100);
    fake.now += 500;
    ramp.stop();
    fake.now += 5000;
    ramp.finishIfDue();
    QCOMPARE(ramp.level(), 25);
    QCOMPARE(ramp.msLeft(), qint64(0));
    QVERIFY(finished.isEmpty());
    QVERIFY(!ramp.isActive());
}

void CueVolumeRampTest::announcesItsEndOnItsOwnTimer()
{
    // The monotonic clock of the program itself; the end comes by itself.
    CueVolumeRamp ramp;
    ramp.setDurationMs(80);
    QSignalSpy finished(&ramp, &CueVolumeRamp::finished);

    ramp.start(10, 90);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().toInt(), 90);
    QCOMPARE(ramp.level(), 90);
    QVERIFY(!ramp.isActive());
}

QTEST_MAIN(CueVolumeRampTest)
#include "CueVolumeRampTest.moc"
