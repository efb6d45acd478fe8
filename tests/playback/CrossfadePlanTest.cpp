#include "playback/CrossfadePlan.h"

#include <QtTest>

namespace {

constexpr qint64 kRate = 44100;

quint64 frames(qint64 ms)
{
    return quint64(kRate * ms / 1000);
}

}  // namespace

class CrossfadePlanTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void limitsTheCrossfadeTime_data();
    void limitsTheCrossfadeTime();
    void fitsTheFadeBeforeTheRegionEnd_data();
    void fitsTheFadeBeforeTheRegionEnd();
    void startsTheIncomingCueAtItsLoopStart_data();
    void startsTheIncomingCueAtItsLoopStart();
};

void CrossfadePlanTest::limitsTheCrossfadeTime_data()
{
    QTest::addColumn<qint64>("wanted");
    QTest::addColumn<qint64>("current");
    QTest::addColumn<qint64>("next");
    QTest::addColumn<quint64>("incomingFrames");
    QTest::addColumn<bool>("incomingComplete");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<qint64>("effective");

    QTest::newRow("two 60 s cues") << qint64(3000) << qint64(60000) << qint64(60000) << frames(60000) << true
                                   << false << qint64(3000);
    QTest::newRow("next 8 s: allowed, not halved") << qint64(3000) << qint64(60000) << qint64(8000) << frames(8000)
                                                   << true << false << qint64(3000);
    QTest::newRow("next exactly 4 s: halved to 2 s") << qint64(3000) << qint64(60000) << qint64(4000)
                                                     << frames(4000) << true << false << qint64(2000);
    QTest::newRow("next 3.9 s: too short") << qint64(3000) << qint64(60000) << qint64(3900) << frames(3900) << true
                                           << true << qint64(0);
    QTest::newRow("current too short") << qint64(3000) << qint64(3999) << qint64(60000) << frames(60000) << true
                                       << true << qint64(0);
    QTest::newRow("10 s between 12 s and 60 s: 6 s") << qint64(10000) << qint64(12000) << qint64(60000)
                                                     << frames(60000) << true << false << qint64(6000);
    QTest::newRow("next length from its frames") << qint64(3000) << qint64(60000) << qint64(0) << frames(3900)
                                                 << true << true << qint64(0);
    QTest::newRow("next length unknown: current decides") << qint64(10000) << qint64(12000) << qint64(0)
                                                          << quint64(0) << true << false << qint64(6000);
    QTest::newRow("at least 100 ms") << qint64(3000) << qint64(150) << qint64(0) << quint64(0) << true
                                     << false << qint64(100);
    QTest::newRow("fade to silence") << qint64(3000) << qint64(30000) << qint64(0) << quint64(0) << true
                                     << false << qint64(3000);
    // Frames of a file still being decoded say nothing about its length.
    QTest::newRow("next still decoding: length unknown") << qint64(3000) << qint64(60000) << qint64(0) << frames(3900)
                                                         << false << false << qint64(3000);
}

void CrossfadePlanTest::limitsTheCrossfadeTime()
{
    QFETCH(qint64, wanted);
    QFETCH(qint64, current);
    QFETCH(qint64, next);
    QFETCH(quint64, incomingFrames);
    QFETCH(bool, incomingComplete);
    QFETCH(bool, refused);
    QFETCH(qint64, effective);

    CrossfadeRequest request;
    request.wantedMs = wanted;
    request.currentDurationMs = current;
    request.nextDurationMs = next;
    request.incomingFrames = incomingFrames;
    request.incomingComplete = incomingComplete;
    request.outgoingRegionEndMs = current;
    const CrossfadePlan plan = CrossfadePlan::make(request);
    QCOMPARE(plan.refused, refused);
    if (refused) {
        QCOMPARE(plan.requiredMs, wanted + 1000);
        return;
    }
    QCOMPARE(plan.effectiveMs, effective);
    QCOMPARE(plan.lengthFrames, std::max(frames(effective), quint64(kRate / 20)));
}

void CrossfadePlanTest::fitsTheFadeBeforeTheRegionEnd_data()
{
    QTest::addColumn<qint64>("regionEnd");
    QTest::addColumn<quint64>("position");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("mixStart");

    const quint64 end = frames(60000);
    // The fade ends at the region end: the outgoing cue plays alone until then.
    QTest::newRow("plenty of time left") << qint64(60000) << frames(10000) << frames(3000) << frames(57000);
    QTest::newRow("less than the fade left: shortened") << qint64(60000) << end - frames(1000) << frames(1000)
                                                         << end - frames(1000);
    QTest::newRow("50 ms left: a 50 ms fade") << qint64(60000) << end - frames(50) << frames(50) << end - frames(50);
    // Nothing already heard is played again: past its end the outgoing cue is
    // silent while the incoming one fades in over the whole time.
    QTest::newRow("past the end: the whole fade, no jump back") << qint64(60000) << end + 500 << frames(3000)
                                                                << end + 500;
    QTest::newRow("region end 0: at least 50 ms") << qint64(0) << quint64(0) << frames(50) << quint64(0);
}

void CrossfadePlanTest::fitsTheFadeBeforeTheRegionEnd()
{
    QFETCH(qint64, regionEnd);
    QFETCH(quint64, position);
    QFETCH(quint64, length);
    QFETCH(quint64, mixStart);

    CrossfadeRequest request;
    request.wantedMs = 3000;
    request.currentDurationMs = 60000;
    request.nextDurationMs = 60000;
    request.incomingFrames = frames(60000);
    request.outgoingRegionEndMs = regionEnd;
    request.positionFrames = position;
    const CrossfadePlan plan = CrossfadePlan::make(request);
    QVERIFY(!plan.refused);
    QCOMPARE(plan.lengthFrames, length);
    QCOMPARE(plan.mixStartFrames, mixStart);
    QCOMPARE(plan.outgoingEndFrames, frames(regionEnd));
}

void CrossfadePlanTest::startsTheIncomingCueAtItsLoopStart_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<quint64>("startFrame");
    QTest::addColumn<bool>("reset");
    QTest::newRow("no loop start") << qint64(0) << true << quint64(0) << false;
    QTest::newRow("loop start 2.5 s") << qint64(2500) << true << frames(2500) << false;
    QTest::newRow("loop start beyond the data") << qint64(70000) << true << quint64(0) << true;
    QTest::newRow("beyond the data decoded so far") << qint64(70000) << false << frames(70000) << false;
}

void CrossfadePlanTest::startsTheIncomingCueAtItsLoopStart()
{
    QFETCH(qint64, loopStart);
    QFETCH(bool, complete);
    QFETCH(quint64, startFrame);
    QFETCH(bool, reset);
    CrossfadeRequest request;
    request.currentDurationMs = 60000;
    request.nextDurationMs = 60000;
    request.incomingFrames = frames(60000);
    request.incomingComplete = complete;
    request.nextLoopStartMs = loopStart;
    request.outgoingRegionEndMs = 60000;
    const CrossfadePlan plan = CrossfadePlan::make(request);
    QCOMPARE(plan.incomingStartFrames, startFrame);
    QCOMPARE(plan.loopStartReset, reset);
}

QTEST_GUILESS_MAIN(CrossfadePlanTest)
#include "CrossfadePlanTest.moc"
