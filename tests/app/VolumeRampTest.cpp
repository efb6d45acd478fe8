#include "app/VolumeRamp.h"

#include <QSignalSpy>
#include <QtTest>

// The A/B volume ramp driven by a clock the test moves by hand.
class VolumeRampTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheClock_data();
    void followsTheClock();
    void reversedMidway();
    void retargetKeepsTheEndTime();
    void zeroLengthEndsOnTheFirstTick();
    void stopLeavesTheLevelWhereItIs();
    void runsOnItsOwnTimer();
};

namespace {

struct FakeClock {
    qint64 now = 1'000'000;
    VolumeRamp::Clock clock()
    {
        return [this] { return now; };
    }
};

int lastLevel(const QSignalSpy& spy)
{
    return spy.isEmpty() ? -1 : spy.last().first().toInt();
}

}  // namespace

void VolumeRampTest::followsTheClock_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<int>("level");

    QTest::newRow("at the start") << 80 << 20 << qint64(0) << 80;
    QTest::newRow("a quarter down") << 80 << 20 << qint64(500) << 65;
    QTest::newRow("halfway down, truncated") << 80 << 21 << qint64(1000) << 50;  // 50.5
    QTest::newRow("halfway up, truncated") << 21 << 80 << qint64(1000) << 50;  // 50.5
    QTest::newRow("a late tick lands where it should") << 0 << 100 << qint64(1900) << 95;
    QTest::newRow("at the end") << 0 << 100 << qint64(2000) << 100;
    QTest::newRow("long after the end") << 0 << 100 << qint64(60000) << 100;
}

void VolumeRampTest::followsTheClock()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(qint64, elapsed);
    QFETCH(int, level);

    FakeClock fake;
    VolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);
    QSignalSpy steps(&ramp, &VolumeRamp::volumeStepped);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(from, to);
    fake.now += elapsed;
    ramp.tick();
    QCOMPARE(lastLevel(steps), level);
    QCOMPARE(finished.count(), elapsed >= 2000 ? 1 : 0);
    QCOMPARE(ramp.isActive(), elapsed < 2000);
}

void VolumeRampTest::reversedMidway()
{
    // The operator switches A (80) to B (20) and back again halfway: the
    // second ramp starts from the level reached, with the full length.
    FakeClock fake;
    VolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);
    QSignalSpy steps(&ramp, &VolumeRamp::volumeStepped);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(80, 20);
    fake.now += 1000;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 50);

    ramp.start(lastLevel(steps), 80);
    fake.now += 1000;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 65);
    QVERIFY(finished.isEmpty());
    fake.now += 999;
    ramp.tick();
    QVERIFY(finished.isEmpty());
    fake.now += 1;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 80);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 80);

    const int stepCount = steps.count();
    fake.now += 100;
    ramp.tick();
    QCOMPARE(steps.count(), stepCount);
}

void VolumeRampTest::retargetKeepsTheEndTime()
{
    FakeClock fake;
    VolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(2000);
    QSignalSpy steps(&ramp, &VolumeRamp::volumeStepped);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(20, 80);
    fake.now += 1000;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 50);

    // No jump: the new ramp begins at the level reached so far.
    ramp.retarget(50, 10);
    ramp.tick();
    QCOMPARE(lastLevel(steps), 50);
    fake.now += 500;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 30);
    fake.now += 500;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 10);
    QCOMPARE(finished.count(), 1);

    // With no ramp running it is a full one.
    ramp.retarget(10, 90);
    fake.now += 1000;
    ramp.tick();
    QCOMPARE(lastLevel(steps), 50);
}

void VolumeRampTest::zeroLengthEndsOnTheFirstTick()
{
    FakeClock fake;
    VolumeRamp ramp;
    ramp.setClock(fake.clock());
    ramp.setDurationMs(0);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(30, 70);
    ramp.tick();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 70);
    QVERIFY(!ramp.isActive());
}

void VolumeRampTest::stopLeavesTheLevelWhereItIs()
{
    FakeClock fake;
    VolumeRamp ramp;
    ramp.setClock(fake.clock());
    QSignalSpy steps(&ramp, &VolumeRamp::volumeStepped);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(0, 100);
    fake.now += 500;
    ramp.tick();
    ramp.stop();
    fake.now += 5000;
    ramp.tick();
    QCOMPARE(steps.count(), 1);
    QVERIFY(finished.isEmpty());
    QVERIFY(!ramp.isActive());
}

void VolumeRampTest::runsOnItsOwnTimer()
{
    // The monotonic clock of the program itself, driven by the ramp's timer.
    VolumeRamp ramp;
    ramp.setDurationMs(80);
    QSignalSpy steps(&ramp, &VolumeRamp::volumeStepped);
    QSignalSpy finished(&ramp, &VolumeRamp::finished);

    ramp.start(10, 90);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().toInt(), 90);
    for (int i = 1; i < steps.count(); ++i)
        QVERIFY(steps.at(i).first().toInt() >= steps.at(i - 1).first().toInt());
}

QTEST_MAIN(VolumeRampTest)
#include "VolumeRampTest.moc"
