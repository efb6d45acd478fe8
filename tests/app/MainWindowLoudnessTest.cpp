#include "MainWindowFixture.h"
#include "ModalBoxAnswerer.h"

#include "app/DurationRepair.h"
#include "app/LoudnessGain.h"
#include "app/LoudnessScan.h"
#include "audiofile/AudioFileProbe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QProgressDialog>
#include <QThreadPool>
#include <QtTest>

#include <condition_variable>
#include <mutex>

namespace {

// Stands in for a slow file analysis on the pool: counts the calls per file,
// answers from a table, and can hold every call until released.
class ScriptedAnalysis {
public:
    void setResult(const QString& path, double value)
    {
        std::unique_lock lock(m_mutex);
        m_results.insert(path, value);
    }
    void hold()
    {
        std::unique_lock lock(m_mutex);
        m_holding = true;
    }
    void release()
    {
        std::unique_lock lock(m_mutex);
        m_holding = false;
        m_released.notify_all();
    }
    int count(const QString& path) const
    {
        std::unique_lock lock(m_mutex);
        return m_counts.value(path);
    }
    int total() const
    {
        std::unique_lock lock(m_mutex);
        int sum = 0;
        for (int n : m_counts)
            sum += n;
        return sum;
    }
    void reset()
    {
        release();
        LoudnessScan::measurementPool()->waitForDone();
        QThreadPool::globalInstance()->waitForDone();
        std::unique_lock lock(m_mutex);
        m_counts.clear();
        m_results.clear();
    }
    // Held calls answer what the table says then (-999: no result).
    double call(const QString& path, double fallback)
    {
        std::unique_lock lock(m_mutex);
        ++m_counts[path];
        while (m_holding)
            m_released.wait(lock);
        return m_results.value(path, fallback);
    }

private:
    // Standard primitives: Qt's wait releases the mutex where
    // ThreadSanitizer cannot see it.
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_holding = false;
    QHash<QString, int> m_counts;
    QHash<QString, double> m_results;
};

ScriptedAnalysis& loudness()
{
    static ScriptedAnalysis analysis;
    return analysis;
}

ScriptedAnalysis& probes()
{
    static ScriptedAnalysis analysis;
    return analysis;
}

}  // namespace

// Loudness normalisation in the running window (the gain each cue gets, the
// provisional level while a cue is measured, the scan of the table and what
// happens to results that come too late) and the two maintenance tasks: the
// repair of stored durations and the check of stored waveforms.
class MainWindowLoudnessTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    void openWith(bool loudnessOn, int target = -14);
    QCheckBox* loudnessSwitch() const;
    QComboBox* targetList() const;
    void play() { QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton); }
    double gain() const { return f.transport()->lufsGain(); }
    QString pathOf(int row) const { return f.cue(f.firstPlaylist, row)->filePath(); }
    static double storedLufs(int cueId);
    Cue* makeCue(const QString& name, qint64 storedDuration, qint64 loopStart, qint64 loopEnd);

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void gainTable_data();
    void gainTable();
    void unmeasuredCuePlaysProvisionallyThenAtItsOwnGain();
    void aLateGainGoesOnlyToTheCurrentCue();
    void oneMeasurementPerCue();
    void scanMeasuresEveryCueOnce();
    void shownTableIsMeasuredAtOnceAndOnce();
    void measurementAfterSwitchingOffAppliesNoGain();
    void resultsOfAStoppedScanAreDropped();
    void targetChangeReachesThePlayingCueOfAnotherPlaylist();

    void durationRepairFixesWrongStoredDurations();
    void durationRepairCancelStopsBeforeTheNextCue();
    void waveformCheckClearsOnlyWhenEveryWaveformStartsSilent();
};

void MainWindowLoudnessTest::initTestCase()
{
    QVERIFY(f.initOnce());
    LoudnessScan::setMeasureFunction([](const QString& path) { return loudness().call(path, -999.0); });
    DurationRepair::setProbeFunction(
        [](const QString& path) { return qint64(probes().call(path, double(probeDurationMs(path)))); });
}

void MainWindowLoudnessTest::init()
{
    f.resetSettings();
    // Every cue starts unmeasured, as after a start of the program.
    f.db()->execute(QStringLiteral("UPDATE songs SET lufs = -999.0"));
    for (Cue* cue : f.cues()->allCues())
        cue->setLufs(-999.0);
    f.transport()->setLufsGain(0.0);
}

void MainWindowLoudnessTest::cleanup()
{
    loudness().reset();
    probes().reset();
    if (f.window)
        f.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainWindowLoudnessTest::openWith(bool loudnessOn, int target)
{
    // With normalisation on, the shown table is measured from the start:
    // those measurements wait until the test has said what they find.
    if (loudnessOn)
        loudness().hold();
    QSettings settings;
    settings.setValue(SettingsKeys::kLoudnessEnabled, loudnessOn);
    settings.setValue(SettingsKeys::kLoudnessTarget, target);
    f.open();
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
}

QCheckBox* MainWindowLoudnessTest::loudnessSwitch() const
{
    for (QCheckBox* box : f.window->statusBar()->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("响度均衡"))
            return box;
    }
    return nullptr;
}

QComboBox* MainWindowLoudnessTest::targetList() const
{
    for (QComboBox* combo : f.window->statusBar()->findChildren<QComboBox*>()) {
        if (combo->toolTip() == QStringLiteral("目标响度（LUFS）"))
            return combo;
    }
    return nullptr;
}

double MainWindowLoudnessTest::storedLufs(int cueId)
{
    QSqlQuery query = MainWindowFixture::db()->execute(QStringLiteral("SELECT lufs FROM songs WHERE id = ?"), {cueId});
    return query.next() ? query.value(0).toDouble() : 0.0;
}

Cue* MainWindowLoudnessTest::makeCue(const QString& name, qint64 storedDuration, qint64 loopStart, qint64 loopEnd)
{
    // A 4 s file whose stored length is wrong; in no playlist, so nothing
    // else measures it again.
    const QString path = f.dir.filePath(name + QStringLiteral(".wav"));
    TestAudio::WavSpec spec;
    spec.seconds = 4.0;
    if (!TestAudio::writeWav(path, spec))
        return nullptr;
    Cue* cue = f.cues()->createCue(path);
    if (!cue)
        return nullptr;
    cue->setDuration(storedDuration);
    cue->setLoopRange(loopStart, loopEnd, true);
    cue->saveToDatabase(true);
    return cue;
}

void MainWindowLoudnessTest::gainTable_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("gain");

    QTest::newRow("-20 at -14: +6") << -14 << -20.0 << 6.0;
    QTest::newRow("-30 at -14: clamped to +8") << -14 << -30.0 << 8.0;
    QTest::newRow("-22 at -14: +8 exactly") << -14 << -22.0 << 8.0;
    QTest::newRow("-5 at -14: -9") << -14 << -5.0 << -9.0;
    QTest::newRow("+2 at -14: clamped to -15") << -14 << 2.0 << -15.0;
    QTest::newRow("-8 at -23: -15 exactly") << -23 << -8.0 << -15.0;
    QTest::newRow("at the target: 0") << -16 << -16.0 << 0.0;
    QTest::newRow("-10.5 at -10: +0.5") << -10 << -10.5 << 0.5;
}

void MainWindowLoudnessTest::gainTable()
{
    QFETCH(int, target);
    QFETCH(double, lufs);
    QFETCH(double, gain);
    QCOMPARE(LoudnessGain::gainDb(target, lufs), gain);
    QVERIFY(LoudnessGain::isMeasured(lufs));
    // The stored mark of an unmeasured cue, and anything at or below -900.
    QVERIFY(!LoudnessGain::isMeasured(-999.0));
    QVERIFY(!LoudnessGain::isMeasured(-900.0));
}

void MainWindowLoudnessTest::unmeasuredCuePlaysProvisionallyThenAtItsOwnGain()
{
    openWith(true);
    loudness().setResult(pathOf(0), -20.0);
    loudness().hold();
    f.clickRow(0);
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    QCOMPARE(gain(), -6.0);

    loudness().release();
    QTRY_COMPARE(gain(), 6.0);
    Cue* cue = f.cue(f.firstPlaylist, 0);
    QCOMPARE(cue->lufs(), -20.0);
    QCOMPARE(storedLufs(cue->id()), -20.0);
    QCOMPARE(loudness().count(pathOf(0)), 1);
}

void MainWindowLoudnessTest::aLateGainGoesOnlyToTheCurrentCue()
{
    openWith(true);
    // Measured: +8. The scan of the shown table may measure it again and
    // must find the same.
    f.cue(f.firstPlaylist, 2)->setLufs(-30.0);
    loudness().setResult(pathOf(2), -30.0);
    loudness().setResult(pathOf(1), -20.0);
    loudness().hold();
    f.clickRow(1);
    play();
    QCOMPARE(gain(), -6.0);
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 2));
    QCOMPARE(gain(), 8.0);

    loudness().release();
    QTRY_COMPARE(f.cue(f.firstPlaylist, 1)->lufs(), -20.0);
    QCOMPARE(gain(), 8.0);
    // Back on the measured cue: its own gain at once, no second measurement.
    QTest::mouseClick(f.button("prevButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    QCOMPARE(gain(), 6.0);
    QCOMPARE(loudness().count(pathOf(1)), 1);
}

void MainWindowLoudnessTest::oneMeasurementPerCue()
{
    openWith(true);
    loudness().setResult(pathOf(0), -20.0);
    loudness().hold();
    f.clickRow(0);
    play();
    QTest::mouseClick(f.button("stopButton"), Qt::LeftButton);
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    QCOMPARE(gain(), -6.0);
    // Another cue and back while the first measurement still runs.
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QTest::mouseClick(f.button("prevButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    QCOMPARE(gain(), -6.0);

    loudness().release();
    QTRY_COMPARE(gain(), 6.0);
    QTRY_COMPARE(loudness().count(pathOf(1)), 1);
    LoudnessScan::measurementPool()->waitForDone();
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(loudness().count(pathOf(0)), 1);
    QCOMPARE(loudness().count(pathOf(1)), 1);
}

void MainWindowLoudnessTest::scanMeasuresEveryCueOnce()
{
    openWith(false);
    const QList<double> measured = {-20.0, -11.0, -40.0};
    for (int row = 0; row < 3; ++row)
        loudness().setResult(pathOf(row), measured[row]);
    f.clickRow(0);
    play();
    QCOMPARE(gain(), 0.0);

    loudness().hold();
    QTest::mouseClick(loudnessSwitch(), Qt::LeftButton, {}, QPoint(8, loudnessSwitch()->height() / 2));
    QVERIFY(loudnessSwitch()->isChecked());
    QCOMPARE(gain(), -6.0);
    loudness().release();
    QTRY_COMPARE(gain(), 6.0);
    // The scan starts its next cue from the GUI thread when one finishes, so
    // an idle pool is no sign that the scan has finished: wait for each result.
    for (int row = 0; row < 3; ++row) {
        QTRY_COMPARE(f.cue(f.firstPlaylist, row)->lufs(), measured[row]);
        QCOMPARE(loudness().count(pathOf(row)), 1);
    }
    LoudnessScan::measurementPool()->waitForDone();
    QThreadPool::globalInstance()->waitForDone();
    // The gains are known: the next cues play at theirs without measuring.
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(gain(), -3.0);
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(gain(), 8.0);
    QCOMPARE(loudness().total(), 3);
}

void MainWindowLoudnessTest::shownTableIsMeasuredAtOnceAndOnce()
{
    // After a start no cue has a stored loudness: the table shown then is
    // measured before anything plays, and showing another table and this
    // one again measures nothing twice.
    const QList<double> measured = {-20.0, -11.0, -40.0};
    for (int row = 0; row < 3; ++row)
        loudness().setResult(pathOf(row), measured[row]);
    openWith(true);
    QTRY_COMPARE(loudness().count(pathOf(0)), 1);
    f.showPlaylist(f.secondPlaylist);
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
    loudness().release();
    for (int row = 0; row < 3; ++row)
        QTRY_COMPARE(f.cue(f.firstPlaylist, row)->lufs(), measured[row]);
    LoudnessScan::measurementPool()->waitForDone();
    QThreadPool::globalInstance()->waitForDone();
    for (int row = 0; row < 3; ++row)
        QCOMPARE(loudness().count(pathOf(row)), 1);
    // The first press plays at the cue's own gain: no provisional level,
    // nothing that moves while it sounds.
    f.clickRow(1);
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    QCOMPARE(gain(), -3.0);
    QCOMPARE(loudness().count(pathOf(1)), 1);
}

void MainWindowLoudnessTest::measurementAfterSwitchingOffAppliesNoGain()
{
    openWith(true);
    loudness().setResult(pathOf(0), -20.0);
    loudness().hold();
    f.clickRow(0);
    play();
    QCOMPARE(gain(), -6.0);
    loudnessSwitch()->setChecked(false);
    QCOMPARE(gain(), 0.0);

    loudness().release();
    // The measurement is kept, the level is not touched.
    QTRY_COMPARE(f.cue(f.firstPlaylist, 0)->lufs(), -20.0);
    QCOMPARE(gain(), 0.0);
    loudnessSwitch()->setChecked(true);
    QCOMPARE(gain(), 6.0);
    QCOMPARE(loudness().count(pathOf(0)), 1);
}

void MainWindowLoudnessTest::resultsOfAStoppedScanAreDropped()
{
    openWith(false);
    loudness().setResult(pathOf(0), -20.0);
    f.clickRow(0);
    play();

    // A scan for -14 is stopped before it reports; the next one is for -23.
    loudness().hold();
    loudnessSwitch()->setChecked(true);
    loudnessSwitch()->setChecked(false);
    targetList()->setCurrentIndex(4);
    loudnessSwitch()->setChecked(true);
    QCOMPARE(gain(), -6.0);
    loudness().release();
    QTRY_COMPARE(gain(), -3.0);
    LoudnessScan::measurementPool()->waitForDone();
    QThreadPool::globalInstance()->waitForDone();
    QTest::qWait(50);
    QCOMPARE(gain(), -3.0);
}

void MainWindowLoudnessTest::targetChangeReachesThePlayingCueOfAnotherPlaylist()
{
    openWith(true);
    f.cue(f.firstPlaylist, 0)->setLufs(-20.0);
    f.clickRow(0);
    play();
    QCOMPARE(gain(), 6.0);
    f.showPlaylist(f.secondPlaylist);
    targetList()->setCurrentIndex(2);  // -16
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    QCOMPARE(gain(), 4.0);
}

void MainWindowLoudnessTest::durationRepairFixesWrongStoredDurations()
{
    // One cue stored too short (its loop is the whole of it), one with a
    // loop of its own inside a length stored too short.
    Cue* grown = makeCue(QStringLiteral("grown"), 2500, 0, 2500);
    Cue* looped = makeCue(QStringLiteral("looped"), 3000, 500, 2800);
    QVERIFY(grown && looped);
    QCOMPARE(grown->loopEndMs(), qint64(2500));
    openWith(false);

    ModalBoxAnswerer boxes;
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onFixAllDurations"));
    QVERIFY(boxes.texts().value(0).startsWith(QStringLiteral("此操作将重新获取所有歌曲的时长")));
    QTRY_VERIFY(boxes.seen(QStringLiteral("歌曲时长修复完成！")));

    QCOMPARE(grown->durationMs(), qint64(4000));
    QCOMPARE(grown->loopEndMs(), qint64(4000));
    QCOMPARE(looped->durationMs(), qint64(4000));
    QCOMPARE(looped->loopStartMs(), qint64(500));
    QCOMPARE(looped->loopEndMs(), qint64(2800));
    QVERIFY(!grown->isDirty());
    for (int row = 0; row < 3; ++row)
        QCOMPARE(f.cue(f.firstPlaylist, row)->durationMs(), qint64(4000));
    QVERIFY(f.button("playPasueButton")->isEnabled());
    QVERIFY(!f.window->findChild<QProgressDialog*>());

    QVERIFY(f.cues()->deleteCue(grown));
    QVERIFY(f.cues()->deleteCue(looped));
}

void MainWindowLoudnessTest::durationRepairCancelStopsBeforeTheNextCue()
{
    openWith(false);
    probes().hold();
    ModalBoxAnswerer boxes;
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onFixAllDurations"));
    QTRY_COMPARE(probes().total(), 1);
    for (const char* name : {"playPasueButton", "prevButton", "nextButton", "stopButton"})
        QVERIFY(!f.button(name)->isEnabled());

    auto* progress = f.window->findChild<QProgressDialog*>();
    QVERIFY(progress);
    QCOMPARE(progress->labelText(), QStringLiteral("正在修复歌曲时长..."));
    QPushButton* cancel = nullptr;
    for (QPushButton* button : progress->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("取消"))
            cancel = button;
    }
    QVERIFY(cancel);
    QTimer::singleShot(0, this, [] { probes().release(); });
    QTest::mouseClick(cancel, Qt::LeftButton);

    QTRY_VERIFY(boxes.seen(QStringLiteral("歌曲时长修复完成！")));
    QVERIFY(boxes.seen(QStringLiteral("已取消修复操作")));
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(probes().total(), 1);
    QVERIFY(f.button("playPasueButton")->isEnabled());
    QTRY_VERIFY(!f.window->findChild<QProgressDialog*>());
}

void MainWindowLoudnessTest::waveformCheckClearsOnlyWhenEveryWaveformStartsSilent()
{
    openWith(false);
    const QList<Cue*> all = f.cues()->allCues();
    auto storeWaveform = [](Cue* cue, bool silentStart) {
        QList<float> peaks(Cue::kWaveformTargetPoints, 0.5f);
        if (silentStart)
            peaks[0] = peaks[1] = peaks[2] = 0.0f;
        cue->setWaveform(peaks);
        return cue->saveToDatabase(true);
    };
    auto storedCount = [&all] {
        int stored = 0;
        for (Cue* cue : all) {
            QList<float> peaks;
            if (MainWindowFixture::db()->loadWaveformDataCompressed(cue->id(), peaks, nullptr))
                ++stored;
        }
        return stored;
    };

    // The first file starts with silence, the others do not: a file like
    // any other, nothing is cleared.
    const int stored = storedCount();
    QVERIFY(stored >= 5);
    QVERIFY(storeWaveform(all.first(), true));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "checkAndClearCorruptedWaveformData"));
    QCOMPARE(storedCount(), stored);
    QCOMPARE(all.first()->waveform().value(0), 0.0f);

    // Every stored waveform starts silent: they are all cleared.
    for (Cue* cue : all)
        QVERIFY(storeWaveform(cue, true));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "checkAndClearCorruptedWaveformData"));
    QCOMPARE(storedCount(), 0);
    for (Cue* cue : all)
        QVERIFY(cue->waveform().isEmpty());

    for (Cue* cue : all)
        QVERIFY(storeWaveform(cue, false));
}

QTEST_MAIN(MainWindowLoudnessTest)
#include "MainWindowLoudnessTest.moc"
