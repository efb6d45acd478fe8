#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Cues in and out of the database: rows, envelope points, waveforms, the
// single-column access and the safety of a save that fails half-way.
class CueStorageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DatabaseManager* db() { return DatabaseManager::instance(); }

    std::unique_ptr<Cue> storedCue(const QString& name = "cue");
    void exec(const QString& sql)
    {
        QSqlQuery query = db()->execute(sql);
        QVERIFY2(!query.lastError().isValid(), qPrintable(sql));
    }
    int count(const QString& sql, const QVariantList& params = {})
    {
        QSqlQuery query = db()->execute(sql, params);
        return query.next() ? query.value(0).toInt() : -1;
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void everyFieldRoundTrips();
    void saveInsertsOnceThenUpdates();
    void loadClampsStoredValues_data();
    void loadClampsStoredValues();
    void loadValidatesAShortStoredRegion();
    void loadNamesTheCueAfterItsFile();
    void panFlagWithoutPointsDependsOnTheLoader();
    void loadThatCannotReadPointsFails_data();
    void loadThatCannotReadPointsFails();
    void singleColumnWhitelist_data();
    void singleColumnWhitelist();
    void failedEnvelopeSaveKeepsOldPoints();
    void failedPartOfASaveKeepsTheCueDirtyAndTheRowOld_data();
    void failedPartOfASaveKeepsTheCueDirtyAndTheRowOld();
    void saveJoinsTheCallersTransaction();
    void zeroDurationIsRepairedFromTheFile();
    void deleteRemovesEveryRowOfTheCue();
    void nestedLoadIsRefused();
    void loadFromAudioFileResetsTheCue();
};

std::unique_ptr<Cue> CueStorageTest::storedCue(const QString& name)
{
    auto cue = std::make_unique<Cue>(-1, name, "/nowhere/" + name + ".wav");
    cue->setDuration(60000);
    cue->setColor("#4a5a6a");
    cue->saveToDatabase(false);
    return cue;
}

void CueStorageTest::initTestCase()
{
    QVERIFY(db()->initialize(m_dir.filePath("cues.db")));
}

void CueStorageTest::init()
{
    exec("DROP TRIGGER IF EXISTS refuse_point");
    exec("DROP TRIGGER IF EXISTS refuse_waveform");
    exec("DROP TRIGGER IF EXISTS refuse_update");
}

void CueStorageTest::everyFieldRoundTrips()
{
    Cue cue(-1, "ignored", "/music/Song One.flac");
    cue.setAlias("入场");
    cue.setRemark("cue 12, after the vows");
    cue.setColor("#5a3a3a");
    cue.setDuration(95000);
    cue.setLufs(-14.5);
    cue.setBadFile(true);
    cue.setVolumeA(83);
    cue.setVolumeB(17);
    cue.setVolumeChoose(1);
    cue.setPreWait(2500);
    cue.setLoopCount(3);
    cue.setFadeEnabled(true);
    cue.setFadeDurations(1500, 4000);
    cue.setLoopRange(10000, 80000, true);
    cue.setVolumeEnvelope({0, 30000, 95000}, {1.0, 0.4, 0.8});
    cue.setEnvelopeEnabled(true);
    cue.setPanEnvelope({0, 95000}, {-0.5, 0.75});
    cue.setPanEnvelopeEnabled(true);
    QList<float> peaks;
    for (int i = 0; i < 2000; ++i)
        peaks << float(i) / 2000.0f;
    cue.setWaveform(peaks);
    QVERIFY(cue.saveToDatabase(false));
    cue.setStartMarking(4321);

    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {  // an update of every field reads back the same way
            cue.setAlias("second");
            cue.setVolumeA(20);
            cue.setLoopRange(0, 90000, true);
            cue.setVolumeEnvelope({0, 95000}, {0.5, 0.5});
            QVERIFY(cue.saveToDatabase(false));
        }
        QList<Cue*> all;
        QVERIFY(db()->loadAllCues(all));
        std::unique_ptr<Cue> loaded;
        for (Cue* c : all) {
            if (c->id() == cue.id())
                loaded.reset(c);
            else
                delete c;
        }
        QVERIFY(loaded);
        QCOMPARE(loaded->name(), QString("Song One"));
        QCOMPARE(loaded->alias(), cue.alias());
        QCOMPARE(loaded->filePath(), cue.filePath());
        QCOMPARE(loaded->remark(), cue.remark());
        QCOMPARE(loaded->color(), cue.color());
        QCOMPARE(loaded->durationMs(), cue.durationMs());
        QCOMPARE(loaded->lufs(), cue.lufs());
        QCOMPARE(loaded->isBadFile(), true);
        QCOMPARE(loaded->volumeA(), cue.volumeA());
        QCOMPARE(loaded->volumeB(), 17);
        QCOMPARE(loaded->volumeChoose(), 1);
        QCOMPARE(loaded->preWaitMs(), 2500);
        QCOMPARE(loaded->loopCount(), 3);
        QCOMPARE(loaded->fadeEnabled(), true);
        QCOMPARE(loaded->fadeInMs(), qint64(1500));
        QCOMPARE(loaded->fadeOutMs(), qint64(4000));
        QCOMPARE(loaded->loopStartMs(), cue.loopStartMs());
        QCOMPARE(loaded->loopEndMs(), cue.loopEndMs());
        QCOMPARE(loaded->startMarkingMs(), qint64(4321));
        QCOMPARE(loaded->envelopeEnabled(), true);
        QCOMPARE(loaded->envelopeTimes(), cue.envelopeTimes());
        QCOMPARE(loaded->envelopeGains(), cue.envelopeGains());
        QCOMPARE(loaded->panEnvelopeEnabled(), true);
        QCOMPARE(loaded->panEnvelopeTimes(), cue.panEnvelopeTimes());
        QCOMPARE(loaded->panEnvelopePositions(), cue.panEnvelopePositions());
        // Peaks are read when a cue is first shown, not with every cue.
        QVERIFY(loaded->waveform().isEmpty());
        QVERIFY(!loaded->isDirty());
        QVERIFY(!loaded->waveformDirty());
        QList<float> stored;
        int points = 0;
        QVERIFY(db()->loadWaveformDataCompressed(cue.id(), stored, &points));
        QCOMPARE(stored.size(), 2000);
        QVERIFY(std::fabs(stored[1000] - 0.5f) < 1e-4f);

        Cue single;
        QVERIFY(single.loadFromDatabase(cue.id()));
        QCOMPARE(single.alias(), cue.alias());
        QCOMPARE(single.envelopeGains(), cue.envelopeGains());
        QVERIFY(single.waveform().isEmpty());  // one cue loads without its waveform
    }
    QCOMPARE(count("SELECT is_solo + volume_envelope * 10 + end_marking * 100 + loop_enabled * 1000 FROM songs "
                   "WHERE id = ?", {cue.id()}),
             1);
}

void CueStorageTest::saveInsertsOnceThenUpdates()
{
    const int before = count("SELECT COUNT(*) FROM songs");
    Cue cue(-1, "new", "/nowhere/new.wav");
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(cue.id() > 0);
    QVERIFY(!cue.isDirty());
    QVERIFY(cue.saveToDatabase(false));  // clean: nothing written
    cue.setRemark("changed");
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(cue.saveToDatabase(true));
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), before + 1);

    // A cue that never had a colour stores its empty colour again: no
    // warning. Clearing a stored colour is what overwrites it, and is told.
    LogCapture log;
    cue.setRemark("again");
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(!log.contains("color is empty"));
    cue.setColor(QStringLiteral("#335577"));
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(!log.contains("color is empty"));
    cue.setColor(QString());
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(log.contains("color is empty but isDirty=true!"));
    QVERIFY(log.contains("This will overwrite the database with empty color!"));
}

void CueStorageTest::loadClampsStoredValues_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("loaded");
    QTest::newRow("volume_choose 5") << "volume_choose" << 5 << 0;
    QTest::newRow("volume_a 150") << "volume_a" << 150 << 100;
    QTest::newRow("volume_b -4") << "volume_b" << -4 << 0;
    QTest::newRow("loop_count -3") << "loop_count" << -3 << 0;
    QTest::newRow("pre_wait -9") << "pre_wait" << -9 << 0;
    QTest::newRow("fade_in 99999") << "fade_in_duration" << 99999 << 20000;
}

void CueStorageTest::loadClampsStoredValues()
{
    QFETCH(QString, column);
    QFETCH(int, stored);
    QFETCH(int, loaded);
    auto cue = storedCue();
    exec(QStringLiteral("UPDATE songs SET %1 = %2 WHERE id = %3").arg(column).arg(stored).arg(cue->id()));
    Cue fresh;
    QVERIFY(fresh.loadFromDatabase(cue->id()));
    const QMap<QString, int> values{
        {"volume_choose", fresh.volumeChoose()}, {"volume_a", fresh.volumeA()}, {"volume_b", fresh.volumeB()},
        {"loop_count", fresh.loopCount()}, {"pre_wait", fresh.preWaitMs()},
        {"fade_in_duration", int(fresh.fadeInMs())}};
    QCOMPARE(values.value(column), loaded);
}

void CueStorageTest::loadValidatesAShortStoredRegion()
{
    auto cue = storedCue();
    exec(QStringLiteral("UPDATE songs SET loop_start_ms = 1000, loop_end_ms = 2500 WHERE id = %1").arg(cue->id()));
    Cue fresh;
    QVERIFY(fresh.loadFromDatabase(cue->id()));
    QCOMPARE(fresh.loopStartMs(), qint64(0));
    QCOMPARE(fresh.loopEndMs(), qint64(60000));
}

void CueStorageTest::loadNamesTheCueAfterItsFile()
{
    auto cue = storedCue();
    exec(QStringLiteral("UPDATE songs SET name = 'something else', file_path = '/x/Finale.mp3' WHERE id = %1")
             .arg(cue->id()));
    Cue fresh;
    QVERIFY(fresh.loadFromDatabase(cue->id()));
    QCOMPARE(fresh.name(), QString("Finale"));
}

void CueStorageTest::panFlagWithoutPointsDependsOnTheLoader()
{
    auto cue = storedCue("pan");
    exec(QStringLiteral("UPDATE songs SET pan_envelope_enabled = 1 WHERE id = %1").arg(cue->id()));
    QList<Cue*> all;
    QVERIFY(db()->loadAllCues(all));
    for (Cue* c : all) {
        if (c->id() == cue->id()) {
            QCOMPARE(c->panEnvelopeTimes(), (QList<qint64>{0, 60000}));
            QCOMPARE(c->panEnvelopePositions(), (QList<double>{0.0, 0.0}));
        }
    }
    qDeleteAll(all);
    Cue single;
    QVERIFY(single.loadFromDatabase(cue->id()));
    QVERIFY(single.panEnvelopeEnabled());
    QVERIFY(single.panEnvelopeTimes().isEmpty());
}

void CueStorageTest::loadThatCannotReadPointsFails_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<bool>("singleLoadReadsIt");
    QTest::newRow("volume points") << "envelope_points" << true;
    QTest::newRow("pan points") << "pan_envelope_points" << true;
}

void CueStorageTest::loadThatCannotReadPointsFails()
{
    QFETCH(QString, table);
    QFETCH(bool, singleLoadReadsIt);
    auto cue = storedCue("enveloped");
    cue->setVolumeEnvelope({0, 30000, 60000}, {1.0, 0.2, 1.0});
    cue->setPanEnvelope({0, 60000}, {-1.0, 1.0});
    cue->setWaveform(QList<float>(2000, 0.5f));
    QVERIFY(cue->saveToDatabase(false));

    // The table cannot be read: a cue loaded without its points would later
    // write default points over the stored ones.
    exec(QStringLiteral("ALTER TABLE %1 RENAME TO unreadable").arg(table));
    // A stale entry in the list the load fills: the load empties it (the
    // entry stays the test's own).
    Cue stale;
    QList<Cue*> all{&stale};
    const bool loaded = db()->loadAllCues(all);
    const qsizetype loadedCount = all.size();
    all.removeAll(&stale);
    qDeleteAll(all);
    Cue single;
    const bool singleLoaded = single.loadFromDatabase(cue->id());
    exec(QStringLiteral("ALTER TABLE unreadable RENAME TO %1").arg(table));

    QVERIFY(!loaded);
    QCOMPARE(loadedCount, 0);
    QCOMPARE(singleLoaded, !singleLoadReadsIt);
    if (!singleLoaded)
        QVERIFY(single.envelopeTimes().isEmpty());

    // Readable again, everything comes back.
    QVERIFY(db()->loadAllCues(all));
    QVERIFY(!all.isEmpty());
    for (Cue* c : std::as_const(all)) {
        if (c->id() == cue->id()) {
            QCOMPARE(c->envelopeTimes(), (QList<qint64>{0, 30000, 60000}));
            QCOMPARE(c->panEnvelopePositions(), (QList<double>{-1.0, 1.0}));
        }
    }
    qDeleteAll(all);
}

void CueStorageTest::singleColumnWhitelist_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("accepted");
    for (const char* field : {"duration", "loop_start_ms", "loop_end_ms", "volume_a", "volume_b", "volume_choose",
                              "name", "alias", "file_path", "remark", "color", "lufs", "is_bad_file"})
        QTest::newRow(field) << QString(field) << true;
    QTest::newRow("pre_wait") << "pre_wait" << false;
    QTest::newRow("LUFS") << "LUFS" << false;
    QTest::newRow("injection") << "lufs = 0; DROP TABLE songs; --" << false;
    QTest::newRow("empty") << QString() << false;
}

void CueStorageTest::singleColumnWhitelist()
{
    QFETCH(QString, field);
    QFETCH(bool, accepted);
    auto cue = storedCue();
    LogCapture log;
    QCOMPARE(db()->updateCueField(cue->id(), field, 7), accepted);
    QCOMPARE(db()->getCueField(cue->id(), field).isValid(), accepted);
    if (accepted) {
        QCOMPARE(db()->getCueField(cue->id(), field).toInt(), 7);
    } else {
        QVERIFY(log.contains(field.isEmpty() ? "updateCueField - Empty field name"
                                             : "updateCueField - Field not in whitelist:"));
        QVERIFY(!log.contains("SQL"));  // the name never reached a statement
    }
    QVERIFY(!db()->getCueField(999999, "lufs").isValid());
    QVERIFY(log.contains("getCueField - Cue not found: 999999"));
    QVERIFY(!db()->updateCueField(0, "lufs", 1));
}

void CueStorageTest::failedEnvelopeSaveKeepsOldPoints()
{
    auto cue = storedCue("points");
    QVERIFY(db()->saveEnvelopePoints(cue->id(), {0, 1000, 2000}, {0.1, 0.2, 0.3}));
    exec("CREATE TRIGGER refuse_point BEFORE INSERT ON envelope_points WHEN NEW.point_index = 2 "
         "BEGIN SELECT RAISE(ABORT, 'refused by test'); END");
    QVERIFY(!db()->saveEnvelopePoints(cue->id(), {0, 500, 900, 1200}, {0.9, 0.8, 0.7, 0.6}));
    QList<qint64> times;
    QList<double> gains;
    QVERIFY(db()->loadEnvelopePoints(cue->id(), times, gains));
    QCOMPARE(times, (QList<qint64>{0, 1000, 2000}));
    QCOMPARE(gains, (QList<double>{0.1, 0.2, 0.3}));

    // Mismatched lists are refused before anything is written.
    QVERIFY(!db()->savePanEnvelopePoints(cue->id(), {0, 1}, {0.0}));
    QCOMPARE(db()->lastErrorText(), QString("Times and positions size mismatch"));
    // Empty lists remove all points.
    exec("DROP TRIGGER refuse_point");
    QVERIFY(db()->saveEnvelopePoints(cue->id(), {}, {}));
    QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", {cue->id()}), 0);
}

void CueStorageTest::failedPartOfASaveKeepsTheCueDirtyAndTheRowOld_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("warning");
    QTest::newRow("envelope") << "CREATE TRIGGER refuse_point BEFORE INSERT ON envelope_points "
                                 "BEGIN SELECT RAISE(ABORT, 'refused by test'); END"
                              << "Cue::saveToDatabase - Failed to save envelope points";
    QTest::newRow("waveform") << "CREATE TRIGGER refuse_waveform BEFORE INSERT ON waveform_data "
                                 "BEGIN SELECT RAISE(ABORT, 'refused by test'); END"
                              << "Cue::saveToDatabase - Failed to save waveform data";
    QTest::newRow("row") << "CREATE TRIGGER refuse_update BEFORE UPDATE ON songs "
                            "BEGIN SELECT RAISE(ABORT, 'refused by test'); END"
                         << "Cue::saveToDatabase - Failed to update cue:";
}

void CueStorageTest::failedPartOfASaveKeepsTheCueDirtyAndTheRowOld()
{
    QFETCH(QString, trigger);
    QFETCH(QString, warning);
    auto cue = storedCue("half");
    cue->setVolumeA(10);
    QVERIFY(cue->saveToDatabase(false));

    exec(trigger);
    cue->setVolumeA(90);
    cue->setVolumeEnvelope({0, 1000}, {0.5, 0.5});
    cue->setWaveform({0.2f, 0.4f});
    LogCapture log;
    QVERIFY(!cue->saveToDatabase(false));
    QVERIFY2(log.contains(warning), qPrintable(log.lines().join('\n')));
    QVERIFY(cue->isDirty());
    QVERIFY(cue->waveformDirty());
    QCOMPARE(db()->getCueField(cue->id(), "volume_a").toInt(), 10);  // nothing of it landed
    QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", {cue->id()}), 0);
    QVERIFY(!db()->isTransactionOpen());

    init();  // the trouble is gone: the next save writes everything
    QVERIFY(cue->saveToDatabase(false));
    QVERIFY(!cue->isDirty());
    QCOMPARE(db()->getCueField(cue->id(), "volume_a").toInt(), 90);
    QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", {cue->id()}), 2);
    QVERIFY(db()->hasWaveformData(cue->id()));
}

void CueStorageTest::saveJoinsTheCallersTransaction()
{
    QVERIFY(db()->beginTransaction());
    Cue cue(-1, "pasted", "/nowhere/pasted.wav");
    cue.setVolumeEnvelope({0, 500, 1000}, {1.0, 0.5, 1.0});
    QVERIFY(cue.saveToDatabase(false));
    QVERIFY(db()->isTransactionOpen());
    QVERIFY(db()->commitTransaction());
    Cue loaded;
    QVERIFY(loaded.loadFromDatabase(cue.id()));
    QCOMPARE(loaded.envelopeTimes(), (QList<qint64>{0, 500, 1000}));
    QCOMPARE(count("SELECT MAX(point_index) FROM envelope_points WHERE song_id = ?", {cue.id()}), 2);
}

void CueStorageTest::zeroDurationIsRepairedFromTheFile()
{
    TestAudio::WavSpec spec;
    spec.seconds = 3.0;
    const QString file = m_dir.filePath("repair.wav");
    QVERIFY(TestAudio::writeWav(file, spec));
    Cue cue(-1, "repair", file);
    QVERIFY(cue.saveToDatabase(false));
    Cue missing(-1, "missing", m_dir.filePath("gone.wav"));
    QVERIFY(missing.saveToDatabase(false));

    LogCapture log;
    Cue repaired;
    QVERIFY(repaired.loadFromDatabase(cue.id()));
    QCOMPARE(repaired.durationMs(), qint64(3000));
    QCOMPARE(db()->getCueField(cue.id(), "duration").toLongLong(), qint64(3000));

    Cue notRepaired;
    QVERIFY(notRepaired.loadFromDatabase(missing.id()));
    QCOMPARE(notRepaired.durationMs(), qint64(0));
    QVERIFY(log.contains("[DB FIX] File not found or empty, cannot fix duration:"));
}

void CueStorageTest::deleteRemovesEveryRowOfTheCue()
{
    auto cue = storedCue("doomed");
    QVERIFY(db()->saveEnvelopePoints(cue->id(), {0, 1}, {1.0, 1.0}));
    QVERIFY(db()->savePanEnvelopePoints(cue->id(), {0, 1}, {0.0, 0.0}));
    QVERIFY(db()->saveWaveformDataCompressed(cue->id(), 2000, {0.5f}));
    PlaylistGroup playlist;
    playlist.name = "list";
    QVERIFY(db()->insertPlaylistGroup(playlist, 0));
    QVERIFY(cue->addToPlaylist(playlist.id, 0));

    QVERIFY(cue->deleteFromDatabase());
    for (const char* table : {"songs WHERE id", "envelope_points WHERE song_id", "pan_envelope_points WHERE song_id",
                              "waveform_data WHERE song_id", "playlist_songs WHERE song_id"})
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM %1 = ?").arg(table), {cue->id()}), 0);
    QCOMPARE(count("PRAGMA freelist_count"), 0);  // its pages went back to the file system
    QVERIFY(db()->deleteCue(999999));  // nothing to delete is no failure
    QVERIFY(!db()->deleteCue(0));
}

void CueStorageTest::nestedLoadIsRefused()
{
    auto cue = storedCue();
    Cue loading;
    loading.setLoading(true);
    LogCapture log;
    QVERIFY(!loading.loadFromDatabase(cue->id()));
    QVERIFY(log.contains("Cue::loadFromDatabase - Already loading, skip recursive call"));
    loading.setLoading(false);
    QVERIFY(!loading.loadFromDatabase(0));
    QVERIFY(!loading.loadFromDatabase(999999));
}

void CueStorageTest::loadFromAudioFileResetsTheCue()
{
    TestAudio::WavSpec spec;
    spec.seconds = 2.5;
    const QString file = m_dir.filePath("Fresh Start.wav");
    QVERIFY(TestAudio::writeWav(file, spec));
    Cue cue;
    cue.setVolumeA(20);
    cue.setLoopCount(5);
    cue.setColor("#4a5a6a");
    cue.setFadeDurations(3000, 3000);
    QVERIFY(cue.loadFromAudioFile(file));
    QCOMPARE(cue.name(), QString("Fresh Start"));
    QCOMPARE(cue.durationMs(), qint64(2500));
    QCOMPARE(cue.loopEndMs(), qint64(2500));
    QCOMPARE(cue.volumeA(), 100);
    QCOMPARE(cue.loopCount(), 1);
    QVERIFY(cue.color().isEmpty());
    QCOMPARE(cue.fadeInMs(), qint64(3000));  // fades are kept
    QVERIFY(!cue.loadFromAudioFile(m_dir.filePath("nope.wav")));
}

QTEST_GUILESS_MAIN(CueStorageTest)
#include "CueStorageTest.moc"
