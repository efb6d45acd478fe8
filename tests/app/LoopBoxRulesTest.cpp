#include "app/LoopBoxRules.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The loop-range boxes' rules on a stored cue of 10 s, typed and wheeled.
class LoopBoxRulesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    void typed_data();
    void typed();
    void wheel_data();
    void wheel();
    void secondsAsShown_data();
    void secondsAsShown();
};

using Box = LoopBoxRules::Box;
Q_DECLARE_METATYPE(LoopBoxRules::Box)

namespace {

constexpr qint64 kDuration = 10000;

std::unique_ptr<Cue> cueWithRegion(qint64 start, qint64 end)
{
    auto cue = std::make_unique<Cue>(-1, QStringLiteral("loop"), QStringLiteral("/nowhere/loop.wav"));
    cue->setDuration(kDuration);
    cue->setLoading(true);
    cue->setLoopRange(start, end, true);
    cue->setLoading(false);
    cue->saveToDatabase(false);
    return cue;
}

void addColumns()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<Box>("box");
    QTest::addColumn<qint64>("value");  // typed ms, or the wheel's angle delta
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("newStart");
    QTest::addColumn<qint64>("newEnd");
}

}  // namespace

void LoopBoxRulesTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("loop.db")));
}

void LoopBoxRulesTest::typed_data()
{
    addColumns();
    // start, end, box, typed ms -> accepted, stored start, stored end
    QTest::newRow("length") << qint64(1000) << qint64(9000) << Box::Length << qint64(3000) << true << qint64(1000) << qint64(4000);
    QTest::newRow("length 0 restores") << qint64(1000) << qint64(9000) << Box::Length << qint64(0) << false << qint64(1000) << qint64(9000);
    QTest::newRow("length past the file") << qint64(2000) << qint64(9000) << Box::Length << qint64(20000) << true << qint64(2000) << qint64(10000);
    QTest::newRow("length under 2 s: whole file") << qint64(1000) << qint64(9000) << Box::Length << qint64(1500) << true << qint64(0) << qint64(10000);
    QTest::newRow("length of an open region") << qint64(0) << qint64(0) << Box::Length << qint64(3000) << true << qint64(0) << qint64(3000);
    QTest::newRow("end") << qint64(1000) << qint64(9000) << Box::End << qint64(6000) << true << qint64(1000) << qint64(6000);
    QTest::newRow("end 1.5 s after 1.0 s: whole file") << qint64(1000) << qint64(9000) << Box::End << qint64(1500) << true << qint64(0) << qint64(10000);
    QTest::newRow("end before the start: whole file") << qint64(5000) << qint64(9000) << Box::End << qint64(2000) << true << qint64(0) << qint64(10000);
    QTest::newRow("end past the file") << qint64(1000) << qint64(9000) << Box::End << qint64(12000) << true << qint64(1000) << qint64(10000);
    QTest::newRow("end 0 restores") << qint64(1000) << qint64(9000) << Box::End << qint64(0) << false << qint64(1000) << qint64(9000);
    QTest::newRow("start") << qint64(1000) << qint64(9000) << Box::Start << qint64(3000) << true << qint64(3000) << qint64(9000);
    QTest::newRow("start 0") << qint64(1000) << qint64(9000) << Box::Start << qint64(0) << true << qint64(0) << qint64(9000);
    QTest::newRow("start below 0 restores") << qint64(1000) << qint64(9000) << Box::Start << qint64(-10) << false << qint64(1000) << qint64(9000);
    QTest::newRow("start near the end: whole file") << qint64(1000) << qint64(9000) << Box::Start << qint64(8500) << true << qint64(0) << qint64(10000);
}

void LoopBoxRulesTest::typed()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(Box, box);
    QFETCH(qint64, value);
    QFETCH(bool, accepted);
    QFETCH(qint64, newStart);
    QFETCH(qint64, newEnd);

    auto cue = cueWithRegion(start, end);
    QCOMPARE(LoopBoxRules::applyTyped(cue.get(), box, value), accepted);
    QCOMPARE(cue->loopStartMs(), newStart);
    QCOMPARE(cue->loopEndMs(), newEnd);
    // The cue stores a changed region itself.
    QVERIFY(!cue->isDirty());
}

void LoopBoxRulesTest::wheel_data()
{
    addColumns();
    // start, end, box, angle delta -> accepted, stored start, stored end
    QTest::newRow("length up") << qint64(1000) << qint64(5000) << Box::Length << qint64(120) << true << qint64(1000) << qint64(5200);
    QTest::newRow("length down") << qint64(1000) << qint64(5000) << Box::Length << qint64(-120) << true << qint64(1000) << qint64(4800);
    QTest::newRow("length down from 2 s: whole file") << qint64(1000) << qint64(3000) << Box::Length << qint64(-120) << true << qint64(0) << qint64(10000);
    QTest::newRow("length up at the file end") << qint64(2000) << qint64(10000) << Box::Length << qint64(120) << true << qint64(2000) << qint64(10000);
    QTest::newRow("length of an open region") << qint64(2000) << qint64(0) << Box::Length << qint64(120) << true << qint64(2000) << qint64(10000);
    QTest::newRow("end up") << qint64(1000) << qint64(5000) << Box::End << qint64(120) << true << qint64(1000) << qint64(5200);
    QTest::newRow("end up at the file end") << qint64(0) << qint64(10000) << Box::End << qint64(120) << true << qint64(0) << qint64(10000);
    QTest::newRow("end down of an open region") << qint64(2000) << qint64(0) << Box::End << qint64(-120) << true << qint64(2000) << qint64(9800);
    QTest::newRow("start up") << qint64(1000) << qint64(5000) << Box::Start << qint64(120) << true << qint64(1200) << qint64(5000);
    QTest::newRow("start cut to tens") << qint64(1005) << qint64(5000) << Box::Start << qint64(120) << true << qint64(1200) << qint64(5000);
    QTest::newRow("start down at 0") << qint64(0) << qint64(5000) << Box::Start << qint64(-120) << true << qint64(0) << qint64(5000);
    QTest::newRow("no turn") << qint64(1000) << qint64(5000) << Box::Start << qint64(0) << false << qint64(1000) << qint64(5000);
}

void LoopBoxRulesTest::wheel()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(Box, box);
    QFETCH(qint64, value);
    QFETCH(bool, accepted);
    QFETCH(qint64, newStart);
    QFETCH(qint64, newEnd);

    auto cue = cueWithRegion(start, end);
    QCOMPARE(LoopBoxRules::applyWheel(cue.get(), box, int(value)), accepted);
    QCOMPARE(cue->loopStartMs(), newStart);
    QCOMPARE(cue->loopEndMs(), newEnd);
}

void LoopBoxRulesTest::secondsAsShown_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("whole") << 3.0 << qint64(3000);
    QTest::newRow("centiseconds") << 65.53 << qint64(65530);
    QTest::newRow("not one short") << 1.15 << qint64(1150);
    QTest::newRow("zero") << 0.0 << qint64(0);
}

void LoopBoxRulesTest::secondsAsShown()
{
    QFETCH(double, seconds);
    QFETCH(qint64, ms);
    QCOMPARE(LoopBoxRules::secondsToMs(seconds), ms);
}

QTEST_MAIN(LoopBoxRulesTest)
#include "LoopBoxRulesTest.moc"
