#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "support/LogCapture.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

// The cue's setters: clamping, equality, dirty marking and signals; the loop
// region and envelope rules; the envelope values the engine renders with.
class CueTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void constructorsSetDirtyByStoredState();
    void numericSettersClampAndSignal_data();
    void numericSettersClampAndSignal();
    void unchangedValueEmitsNothing();
    void silentSettersDoNotSignal();
    void filePathRenamesTheCue();
    void waveformAlwaysStoresAndSignals();

    void loopRangeRules_data();
    void loopRangeRules();
    void loopRangeOfShortFileIsWholeFile();
    void loopRangeWithoutDurationStoresAsPassed();
    void loopRangeWhileLoadingIsUnchecked();
    void loopStartKeepsItsMargin();
    void durationValidatesExistingRegion_data();
    void durationValidatesExistingRegion();
    void startMarkingComparesTheArgumentAsPassed();

    void volumeEnvelopeIsSortedDedupedAndClamped();
    void envelopeSettersRefuseBadLists_data();
    void envelopeSettersRefuseBadLists();
    void enablingEnvelopeCreatesDefaultPoints();
    void importingEnvelopeFlagsAlwaysSignalWithoutPoints();
    void loadingEnvelopeFlagsStayQuiet();

    void envelopeValues_data();
    void envelopeValues();
};

void CueTest::initTestCase()
{
    // Setters that save need an open database.
    QVERIFY(DatabaseManager::instance()->initialize(QString()));
}

void CueTest::constructorsSetDirtyByStoredState()
{
    Cue fresh(-1, "name", "/tmp/a.wav");
    QVERIFY(fresh.isDirty());
    QCOMPARE(fresh.name(), QString("name"));  // not derived from the path here
    Cue stored(5, "name", "/tmp/a.wav");
    QVERIFY(!stored.isDirty());
    Cue empty;
    QVERIFY(!empty.isDirty());
    QCOMPARE(empty.id(), -1);
    QCOMPARE(empty.volumeA(), 50);
    QCOMPARE(empty.loopCount(), 1);
    QCOMPARE(empty.fadeInMs(), qint64(1000));
    QCOMPARE(empty.lufs(), -999.0);
}

void CueTest::numericSettersClampAndSignal_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<qint64>("argument");
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<QString>("signal");

    QTest::newRow("volumeA above") << "volumeA" << qint64(150) << qint64(100) << "volumeAChanged(int)";
    QTest::newRow("volumeA below") << "volumeA" << qint64(-5) << qint64(0) << "volumeAChanged(int)";
    QTest::newRow("volumeB above") << "volumeB" << qint64(101) << qint64(100) << "volumeBChanged(int)";
    QTest::newRow("choose 1") << "volumeChoose" << qint64(1) << qint64(1) << "volumeChooseChanged(int)";
    QTest::newRow("choose 2 is A") << "volumeChoose" << qint64(2) << qint64(0) << "";
    QTest::newRow("choose -1 is A") << "volumeChoose" << qint64(-1) << qint64(0) << "";
    QTest::newRow("pre-wait negative") << "preWait" << qint64(-20) << qint64(0) << "";
    QTest::newRow("pre-wait") << "preWait" << qint64(1500) << qint64(1500) << "";
    QTest::newRow("loop count negative") << "loopCount" << qint64(-3) << qint64(0) << "";
    QTest::newRow("duration negative") << "duration" << qint64(-1) << qint64(0) << "";
    QTest::newRow("duration") << "duration" << qint64(5000) << qint64(5000) << "durationChanged(qlonglong)";
    QTest::newRow("fade in over max") << "fadeIn" << qint64(25000) << qint64(20000) << "fadeSettingsChanged(qlonglong,qlonglong)";
    QTest::newRow("fade out negative") << "fadeOut" << qint64(-3) << qint64(0) << "fadeSettingsChanged(qlonglong,qlonglong)";
}

void CueTest::numericSettersClampAndSignal()
{
    QFETCH(QString, setter);
    QFETCH(qint64, argument);
    QFETCH(qint64, stored);
    QFETCH(QString, signal);

    Cue cue;
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    std::unique_ptr<QSignalSpy> own;
    if (!signal.isEmpty())
        own = std::make_unique<QSignalSpy>(&cue, QByteArray("2" + signal.toLatin1()).constData());

    qint64 before = 0;
    qint64 after = 0;
    if (setter == "volumeA") {
        before = cue.volumeA(); cue.setVolumeA(int(argument)); after = cue.volumeA();
    } else if (setter == "volumeB") {
        before = cue.volumeB(); cue.setVolumeB(int(argument)); after = cue.volumeB();
    } else if (setter == "volumeChoose") {
        before = cue.volumeChoose(); cue.setVolumeChoose(int(argument)); after = cue.volumeChoose();
    } else if (setter == "preWait") {
        before = cue.preWaitMs(); cue.setPreWait(int(argument)); after = cue.preWaitMs();
    } else if (setter == "loopCount") {
        before = cue.loopCount(); cue.setLoopCount(int(argument)); after = cue.loopCount();
    } else if (setter == "duration") {
        before = cue.durationMs(); cue.setDuration(argument); after = cue.durationMs();
    } else if (setter == "fadeIn") {
        before = cue.fadeInMs(); cue.setFadeDurations(argument, cue.fadeOutMs()); after = cue.fadeInMs();
    } else if (setter == "fadeOut") {
        before = cue.fadeOutMs(); cue.setFadeDurations(cue.fadeInMs(), argument); after = cue.fadeOutMs();
    }
    QCOMPARE(after, stored);
    const bool changed = before != stored;
    QCOMPARE(cue.isDirty(), changed);
    QCOMPARE(updated.count(), changed ? 1 : 0);
    if (own) {
        QCOMPARE(own->count(), changed ? 1 : 0);
        if (changed)  // the fade signal carries (in, out)
            QCOMPARE(own->first().at(setter == "fadeOut" ? 1 : 0).toLongLong(), stored);
    }
}

void CueTest::unchangedValueEmitsNothing()
{
    Cue cue;
    cue.setVolumeA(100);
    cue.setFadeDurations(2000, 3000);
    cue.setColor("#4a5a6a");
    cue.clearDirty();
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    cue.setVolumeA(100);
    cue.setVolumeA(150);  // clamps to the stored 100
    cue.setFadeDurations(2000, 3000);
    cue.setColor("#4a5a6a");
    cue.setLoopCount(1);
    QCOMPARE(updated.count(), 0);
    QVERIFY(!cue.isDirty());
}

void CueTest::silentSettersDoNotSignal()
{
    Cue cue;
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    cue.setName("n");
    cue.setAlias("a");
    cue.setRemark("r");
    cue.setId(3);
    QCOMPARE(updated.count(), 0);
    QVERIFY(cue.isDirty());
    cue.setLoading(true);  // never saves a row that does not exist
}

void CueTest::filePathRenamesTheCue()
{
    Cue cue;
    cue.setName("kept");
    cue.setFilePath("/music/Intro.Theme.mp3");
    QCOMPARE(cue.name(), QString("Intro.Theme"));
    cue.setName("renamed");
    cue.setFilePath("/music/Intro.Theme.mp3");  // unchanged path keeps the name
    QCOMPARE(cue.name(), QString("renamed"));
}

void CueTest::waveformAlwaysStoresAndSignals()
{
    Cue cue;
    const QList<float> peaks{0.1f, 0.5f};
    cue.setWaveform(peaks);
    cue.clearDirty();
    cue.clearWaveformDirty();
    QSignalSpy ready(&cue, &Cue::waveformReady);
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    cue.setWaveform(peaks);
    QVERIFY(cue.isDirty());
    QVERIFY(cue.waveformDirty());
    QCOMPARE(ready.count(), 1);
    QCOMPARE(updated.count(), 1);
}

void CueTest::loopRangeRules_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<qint64>("expectedStart");
    QTest::addColumn<qint64>("expectedEnd");
    QTest::addColumn<QString>("warning");

    // A cue of 10000 ms whose region is (1000, 9000).
    QTest::newRow("too short") << qint64(0) << qint64(1500) << qint64(0) << qint64(10000) << "Loop duration too short (1500ms < 2000ms), using full range";
    QTest::newRow("inverted") << qint64(5000) << qint64(3000) << qint64(0) << qint64(10000) << "Invalid range: start 5000 >= end 3000";
    QTest::newRow("negative start") << qint64(-500) << qint64(8000) << qint64(0) << qint64(8000) << "";
    QTest::newRow("end past file") << qint64(3000) << qint64(20000) << qint64(3000) << qint64(10000) << "";
    QTest::newRow("exactly 2000") << qint64(4000) << qint64(6000) << qint64(4000) << qint64(6000) << "";
    QTest::newRow("1999 too short") << qint64(4000) << qint64(5999) << qint64(0) << qint64(10000) << "too short";
    QTest::newRow("same region") << qint64(1000) << qint64(9000) << qint64(1000) << qint64(9000) << "";
}

void CueTest::loopRangeRules()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(qint64, expectedStart);
    QFETCH(qint64, expectedEnd);
    QFETCH(QString, warning);

    Cue cue(-1, "loop", "/nowhere/loop.wav");
    cue.setDuration(10000);
    cue.setLoopRange(1000, 9000, true);
    QCOMPARE(cue.loopStartMs(), qint64(1000));
    QVERIFY(cue.saveToDatabase(true));
    const int id = cue.id();
    QVERIFY(id > 0);
    const QVariant storedBefore = DatabaseManager::instance()->getCueField(id, "loop_end_ms");

    QSignalSpy changed(&cue, &Cue::loopRangeChanged);
    LogCapture log;
    cue.setLoopRange(start, end, false);
    QCOMPARE(cue.loopStartMs(), expectedStart);
    QCOMPARE(cue.loopEndMs(), expectedEnd);
    if (!warning.isEmpty())
        QVERIFY2(log.contains(warning), qPrintable(log.lines().join('\n')));

    const bool regionChanged = expectedStart != 1000 || expectedEnd != 9000;
    QCOMPARE(changed.count(), regionChanged ? 1 : 0);
    // A changed region is saved at once; an unchanged one is not touched.
    const qint64 storedEnd = DatabaseManager::instance()->getCueField(id, "loop_end_ms").toLongLong();
    QCOMPARE(storedEnd, regionChanged ? expectedEnd : storedBefore.toLongLong());
    QVERIFY(!cue.isDirty());
    QVERIFY(cue.deleteFromDatabase());
}

void CueTest::loopRangeOfShortFileIsWholeFile()
{
    Cue cue;
    cue.setDuration(1500);
    for (auto [s, e] : {std::pair<qint64, qint64>{0, 1500}, {100, 1400}, {0, 99999}, {-10, 5000}}) {
        cue.setLoopRange(s, e, true);
        QCOMPARE(cue.loopStartMs(), qint64(0));
        QCOMPARE(cue.loopEndMs(), qint64(1500));
    }
}

void CueTest::loopRangeWithoutDurationStoresAsPassed()
{
    Cue cue(-1, "no duration", "/nowhere/x.wav");
    LogCapture log;
    cue.setLoopRange(100, 200, true);
    QVERIFY(log.contains("Cue::setLoopRange - Duration is still 0, cannot set loop"));
    QCOMPARE(cue.loopStartMs(), qint64(100));
    QCOMPARE(cue.loopEndMs(), qint64(200));
    // skipSave does not apply on this path: the cue was stored.
    QVERIFY(cue.id() > 0);
    QVERIFY(!cue.isDirty());
    QVERIFY(cue.deleteFromDatabase());
}

void CueTest::loopRangeWhileLoadingIsUnchecked()
{
    Cue cue;
    cue.setDuration(10000);
    cue.setLoading(true);
    cue.clearDirty();
    QSignalSpy changed(&cue, &Cue::loopRangeChanged);
    cue.setLoopRange(100, 200, false);
    QCOMPARE(cue.loopStartMs(), qint64(100));
    QCOMPARE(cue.loopEndMs(), qint64(200));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!cue.isDirty());
    cue.setLoading(false);
}

void CueTest::loopStartKeepsItsMargin()
{
    Cue cue;
    cue.setDuration(20000);
    cue.setLoopRange(0, 10000, true);
    LogCapture log;
    // 9500 is pulled back to 1000 ms before the end, which is shorter than
    // the minimum loop, so the region becomes the whole file.
    cue.setLoopStartMs(9500);
    QCOMPARE(cue.loopStartMs(), qint64(0));
    QCOMPARE(cue.loopEndMs(), qint64(20000));
    QVERIFY(log.contains("too short"));
    cue.setLoading(true);
}

void CueTest::durationValidatesExistingRegion_data()
{
    QTest::addColumn<qint64>("regionStart");
    QTest::addColumn<qint64>("regionEnd");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("expectedStart");
    QTest::addColumn<qint64>("expectedEnd");
    QTest::newRow("no region stays unset") << qint64(0) << qint64(0) << qint64(8000) << qint64(0) << qint64(0);
    QTest::newRow("open end, long file") << qint64(2000) << qint64(0) << qint64(4000) << qint64(2000) << qint64(4000);
    QTest::newRow("open end, short file") << qint64(2000) << qint64(0) << qint64(3999) << qint64(0) << qint64(3999);
    QTest::newRow("end past file") << qint64(1000) << qint64(9000) << qint64(6000) << qint64(1000) << qint64(6000);
}

void CueTest::durationValidatesExistingRegion()
{
    QFETCH(qint64, regionStart);
    QFETCH(qint64, regionEnd);
    QFETCH(qint64, duration);
    QFETCH(qint64, expectedStart);
    QFETCH(qint64, expectedEnd);
    Cue cue;
    cue.setLoading(true);
    cue.setLoopRange(regionStart, regionEnd, true);
    cue.setLoading(false);
    cue.setDuration(duration);
    QCOMPARE(cue.loopStartMs(), expectedStart);
    QCOMPARE(cue.loopEndMs(), expectedEnd);
}

void CueTest::startMarkingComparesTheArgumentAsPassed()
{
    Cue cue(-1, "mark", "/nowhere/mark.wav");
    QVERIFY(cue.saveToDatabase(false));
    cue.setStartMarking(-10);  // differs from the stored 0: stored as 0 and saved
    QCOMPARE(cue.startMarkingMs(), qint64(0));
    QVERIFY(!cue.isDirty());
    cue.setStartMarking(1234);
    Cue reloaded;
    QVERIFY(reloaded.loadFromDatabase(cue.id()));
    QCOMPARE(reloaded.startMarkingMs(), qint64(1234));
    QVERIFY(cue.deleteFromDatabase());
}

void CueTest::volumeEnvelopeIsSortedDedupedAndClamped()
{
    Cue cue;
    QSignalSpy changed(&cue, &Cue::envelopeChanged);
    cue.setVolumeEnvelope({5000, 0, 5000}, {0.5, 2.0, 0.2});
    QCOMPARE(cue.envelopeTimes(), (QList<qint64>{0, 5000}));
    QCOMPARE(cue.envelopeGains(), (QList<double>{1.0, 0.5}));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).value<QList<qint64>>(), (QList<qint64>{0, 5000}));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    cue.setVolumeEnvelope({300, 100, 200, 100}, {nan, -1.0, 0.7, 0.9});
    QCOMPARE(cue.envelopeTimes(), (QList<qint64>{100, 200, 300}));
    QCOMPARE(cue.envelopeGains(), (QList<double>{0.0, 0.7, 0.0}));
}

void CueTest::envelopeSettersRefuseBadLists_data()
{
    QTest::addColumn<bool>("pan");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("warning");
    QTest::newRow("volume one point") << false << QList<qint64>{0} << QList<double>{1.0} << "Cue::setVolumeEnvelope - Need at least 2 points";
    QTest::newRow("volume mismatch") << false << QList<qint64>{0, 1} << QList<double>{1.0} << "Cue::setVolumeEnvelope - Times and gains size mismatch";
    QTest::newRow("pan one point") << true << QList<qint64>{0} << QList<double>{0.0} << "Cue::setPanEnvelope - Need at least 2 points";
    QTest::newRow("pan mismatch") << true << QList<qint64>{0} << QList<double>{0.0, 0.1} << "Cue::setPanEnvelope - Times and positions size mismatch";
    QTest::newRow("pan out of range") << true << QList<qint64>{0, 1000} << QList<double>{0.0, 1.5} << "Cue::setPanEnvelope - Position out of range: 1.5";
}

void CueTest::envelopeSettersRefuseBadLists()
{
    QFETCH(bool, pan);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<double>, values);
    QFETCH(QString, warning);
    Cue cue;
    cue.setVolumeEnvelope({0, 10}, {0.5, 0.5});
    cue.setPanEnvelope({0, 10}, {-0.5, 0.5});
    cue.clearDirty();
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    LogCapture log;
    if (pan)
        cue.setPanEnvelope(times, values);
    else
        cue.setVolumeEnvelope(times, values);
    QVERIFY2(log.contains(warning), qPrintable(log.lines().join('\n')));
    QCOMPARE(updated.count(), 0);
    QVERIFY(!cue.isDirty());
    QCOMPARE(cue.envelopeGains(), (QList<double>{0.5, 0.5}));
    QCOMPARE(cue.panEnvelopePositions(), (QList<double>{-0.5, 0.5}));
}

void CueTest::enablingEnvelopeCreatesDefaultPoints()
{
    Cue cue;
    QSignalSpy points(&cue, &Cue::envelopeChanged);
    QSignalSpy enabled(&cue, &Cue::envelopeEnabledChanged);
    cue.setEnvelopeEnabled(true);
    QCOMPARE(cue.envelopeTimes(), (QList<qint64>{0, 10000}));
    QCOMPARE(cue.envelopeGains(), (QList<double>{1.0, 1.0}));
    QCOMPARE(points.count(), 1);
    QCOMPARE(enabled.count(), 1);

    Cue withDuration;
    withDuration.setDuration(7000);
    QSignalSpy panPoints(&withDuration, &Cue::panEnvelopeChanged);
    withDuration.setPanEnvelopeEnabled(true);
    QCOMPARE(withDuration.panEnvelopeTimes(), (QList<qint64>{0, 7000}));
    QCOMPARE(withDuration.panEnvelopePositions(), (QList<double>{0.0, 0.0}));
    QCOMPARE(panPoints.count(), 0);  // the pan defaults are not announced
}

void CueTest::importingEnvelopeFlagsAlwaysSignalWithoutPoints()
{
    Cue cue;
    cue.setImporting(true);
    QSignalSpy volume(&cue, &Cue::envelopeEnabledChanged);
    QSignalSpy pan(&cue, &Cue::panEnvelopeEnabledChanged);
    cue.setEnvelopeEnabled(true);
    cue.setPanEnvelopeEnabled(true);
    cue.setEnvelopeEnabled(true);  // same flag still signals while importing
    QCOMPARE(volume.count(), 2);
    QCOMPARE(pan.count(), 1);
    QVERIFY(cue.envelopeTimes().isEmpty());
    QVERIFY(cue.panEnvelopeTimes().isEmpty());
}

void CueTest::loadingEnvelopeFlagsStayQuiet()
{
    Cue cue;
    cue.setLoading(true);
    QSignalSpy updated(&cue, &Cue::dataUpdated);
    cue.setVolumeA(70);  // dirties as always
    cue.setEnvelopeEnabled(true);
    cue.setFadeEnabled(true);
    QVERIFY(cue.envelopeEnabled());
    QVERIFY(cue.fadeEnabled());
    QVERIFY(cue.envelopeTimes().isEmpty());
    QVERIFY(!cue.isDirty());  // the loading flag setters clear it
    QCOMPARE(updated.count(), 1);
    cue.setLoading(false);
}

void CueTest::envelopeValues_data()
{
    QTest::addColumn<bool>("pan");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<qint64>("at");
    QTest::addColumn<double>("expected");

    const QList<qint64> t{1000, 3000};
    const QList<double> g{0.2, 0.6};
    QTest::newRow("before first") << false << true << t << g << qint64(0) << 0.2;
    QTest::newRow("middle") << false << true << t << g << qint64(2000) << 0.4;
    QTest::newRow("after last") << false << true << t << g << qint64(5000) << 0.6;
    QTest::newRow("volume off") << false << false << t << g << qint64(2000) << 1.0;
    QTest::newRow("pan quarter") << true << true << QList<qint64>{0, 1000} << QList<double>{-1.0, 1.0} << qint64(250) << -0.5;
    QTest::newRow("pan off") << true << false << QList<qint64>{0, 1000} << QList<double>{-1.0, 1.0} << qint64(250) << 0.0;
    QTest::newRow("steps") << false << true << QList<qint64>{0, 1000, 2000} << QList<double>{0.0, 1.0, 0.5} << qint64(1500) << 0.75;
}

void CueTest::envelopeValues()
{
    QFETCH(bool, pan);
    QFETCH(bool, enabled);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<double>, values);
    QFETCH(qint64, at);
    QFETCH(double, expected);
    Cue cue;
    if (pan) {
        cue.setPanEnvelope(times, values);
        cue.setPanEnvelopeEnabled(enabled);
        QVERIFY(std::fabs(cue.panAt(at) - expected) < 1e-9);
        QCOMPARE(cue.volumeAt(at), 1.0);
    } else {
        cue.setVolumeEnvelope(times, values);
        cue.setEnvelopeEnabled(enabled);
        QVERIFY(std::fabs(cue.volumeAt(at) - expected) < 1e-9);
        QCOMPARE(cue.panAt(at), 0.0);
    }
}

QTEST_GUILESS_MAIN(CueTest)
#include "CueTest.moc"
