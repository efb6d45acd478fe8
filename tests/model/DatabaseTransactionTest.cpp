#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "support/LogCapture.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// Saves and deletes inside a caller's transaction, the way a paste, a
// playlist copy or a project import makes them: each save stands or falls on
// its own, the caller's commit or rollback decides for all of them, and a
// cue's id always names a row that exists.
class DatabaseTransactionTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_file = 0;
    DatabaseManager* db() { return DatabaseManager::instance(); }

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
    // An unsaved cue with a row, volume and pan points and a waveform to write.
    static std::unique_ptr<Cue> newCue(const QString& remark, int points = 3)
    {
        auto cue = std::make_unique<Cue>(-1, remark, "/nowhere/" + remark + ".wav");
        cue->setDuration(600000);
        cue->setColor("#4a5a6a");
        cue->setRemark(remark);
        QList<qint64> times;
        QList<double> gains;
        QList<double> pans;
        for (int i = 0; i < points; ++i) {
            times << qint64(i) * 1000;
            gains << 0.5 + 0.001 * i;
            pans << 0.0;
        }
        cue->setVolumeEnvelope(times, gains);
        cue->setPanEnvelope(times, pans);
        QList<float> peaks;
        for (int i = 0; i < 2000; ++i)
            peaks << float((i * 7919) % 1000) / 1000.0f;
        cue->setWaveform(peaks);
        return cue;
    }

private Q_SLOTS:
    void init();
    void cleanupTestCase();
    void failedSaveInsideACallersTransactionLeavesNothing_data();
    void failedSaveInsideACallersTransactionLeavesNothing();
    void callersRollbackTakesBackTheIds();
    void transactionEndedBySqliteIsNoticed();
    void deletesInsideACallersTransactionReleasePagesOnCommit();
};

void DatabaseTransactionTest::init()
{
    QVERIFY(db()->initialize(m_dir.filePath(QStringLiteral("nested-%1.db").arg(++m_file))));
}

void DatabaseTransactionTest::cleanupTestCase()
{
    db()->close();
}

void DatabaseTransactionTest::failedSaveInsideACallersTransactionLeavesNothing_data()
{
    // Each trigger refuses one part of a save of the cue whose remark is
    // "refuse"; the part before it has already been written by then.
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("trigger");
    const QString points = "CREATE TRIGGER refuse BEFORE INSERT ON envelope_points "
                           "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'refuse') "
                           "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    const QString pan = "CREATE TRIGGER refuse BEFORE INSERT ON pan_envelope_points "
                        "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'refuse') "
                        "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    const QString waveform = "CREATE TRIGGER refuse BEFORE INSERT ON waveform_data "
                             "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'refuse') "
                             "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    const QString row = "CREATE TRIGGER refuse BEFORE UPDATE ON songs WHEN NEW.remark = 'refuse' "
                        "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    QTest::newRow("new cue, volume points") << false << points;
    QTest::newRow("new cue, pan points") << false << pan;
    QTest::newRow("new cue, waveform") << false << waveform;
    QTest::newRow("stored cue, volume points") << true << points;
    QTest::newRow("stored cue, pan points") << true << pan;
    QTest::newRow("stored cue, waveform") << true << waveform;
    QTest::newRow("stored cue, row") << true << row;
}

void DatabaseTransactionTest::failedSaveInsideACallersTransactionLeavesNothing()
{
    QFETCH(bool, stored);
    QFETCH(QString, trigger);

    auto target = newCue("old", 2);
    target->setVolumeA(10);
    if (stored)
        QVERIFY(target->saveToDatabase(false));
    const int idBefore = target->id();
    exec(trigger);

    auto before = newCue("before");
    auto after = newCue("after");
    {
        DatabaseTransaction paste(db());
        QVERIFY(paste.isActive());
        QVERIFY(before->saveToDatabase(false));

        target->setRemark("refuse");
        target->setVolumeA(90);
        target->setVolumeEnvelope({0, 500, 900, 1200}, {0.9, 0.8, 0.7, 0.6});
        target->setWaveform(QList<float>(2000, 0.25f));
        LogCapture log;
        QVERIFY(!target->saveToDatabase(false));
        QCOMPARE(target->id(), idBefore);
        QVERIFY(target->isDirty());
        QVERIFY(target->waveformDirty());

        // The caller's transaction goes on and commits the other cues.
        QVERIFY(db()->isTransactionOpen());
        QVERIFY(after->saveToDatabase(false));
        QVERIFY(paste.commit());
    }
    QVERIFY(!db()->isTransactionOpen());

    // Nothing of the failed save was committed with them.
    QCOMPARE(count("SELECT COUNT(*) FROM songs WHERE remark = 'refuse'"), 0);
    QCOMPARE(count("SELECT COUNT(*) FROM songs WHERE id IN (?, ?)", {before->id(), after->id()}), 2);
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), stored ? 3 : 2);
    if (stored) {
        QCOMPARE(db()->getCueField(idBefore, "volume_a").toInt(), 10);
        QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", {idBefore}), 2);
        QCOMPARE(count("SELECT COUNT(*) FROM pan_envelope_points WHERE song_id = ?", {idBefore}), 2);
        QList<float> peaks;
        int targetPoints = 0;
        QVERIFY(db()->loadWaveformDataCompressed(idBefore, peaks, &targetPoints));
        QVERIFY(std::fabs(peaks[1] - 0.919f) < 1e-3f);  // the first save's peaks
    } else {
        QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id NOT IN (?, ?)",
                       {before->id(), after->id()}),
                 0);
        QCOMPARE(count("SELECT COUNT(*) FROM waveform_data WHERE song_id NOT IN (?, ?)",
                       {before->id(), after->id()}),
                 0);
    }

    // Once the trouble is gone the next save writes the cue once, under its id.
    exec("DROP TRIGGER refuse");
    QVERIFY(target->saveToDatabase(false));
    QCOMPARE(count("SELECT COUNT(*) FROM songs WHERE remark = 'refuse'"), 1);
    QCOMPARE(count("SELECT id FROM songs WHERE remark = 'refuse'"), target->id());
    QCOMPARE(count("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", {target->id()}), 4);
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 3);
}

void DatabaseTransactionTest::callersRollbackTakesBackTheIds()
{
    auto stored = newCue("stored");
    QVERIFY(stored->saveToDatabase(false));
    auto fresh = newCue("fresh");
    {
        DatabaseTransaction copy(db());
        QVERIFY(fresh->saveToDatabase(false));
        QVERIFY(fresh->id() > 0);
        stored->setVolumeA(77);
        QVERIFY(stored->saveToDatabase(false));
        QVERIFY(!stored->isDirty());
        copy.rollback();
    }
    // The rows are gone with the caller's transaction, and the cues know it:
    // the new one has no id, both still have their changes to save.
    QCOMPARE(fresh->id(), -1);
    QVERIFY(fresh->isDirty());
    QVERIFY(fresh->waveformDirty());
    QVERIFY(stored->isDirty());
    QCOMPARE(db()->getCueField(stored->id(), "volume_a").toInt(), 50);

    QVERIFY(fresh->saveToDatabase(false));
    QVERIFY(stored->saveToDatabase(false));
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 2);
    QCOMPARE(count("SELECT COUNT(*) FROM songs WHERE id = ?", {fresh->id()}), 1);
    QCOMPARE(db()->getCueField(stored->id(), "volume_a").toInt(), 77);
    QVERIFY(db()->hasWaveformData(fresh->id()));

    // A transaction scope that is left without commit rolls back as well.
    auto dropped = newCue("dropped");
    {
        DatabaseTransaction scope(db());
        QVERIFY(dropped->saveToDatabase(false));
    }
    QCOMPARE(dropped->id(), -1);
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 2);
}

void DatabaseTransactionTest::transactionEndedBySqliteIsNoticed()
{
    // SQLite ends a transaction by itself on a full disk or an I/O error; a
    // trigger's RAISE(ROLLBACK) does the same on demand.
    exec("CREATE TRIGGER lose_all BEFORE INSERT ON pan_envelope_points "
         "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'disk full') "
         "BEGIN SELECT RAISE(ROLLBACK, 'disk full (test)'); END");
    auto first = newCue("first");
    auto victim = newCue("disk full");
    auto late = newCue("late");
    {
        DatabaseTransaction import(db());
        QVERIFY(first->saveToDatabase(false));
        QVERIFY(!victim->saveToDatabase(false));
        QVERIFY(!db()->isTransactionOpen());
        // Everything written in the lost transaction is gone, and the cues say so.
        QCOMPARE(victim->id(), -1);
        QCOMPARE(first->id(), -1);
        QVERIFY(first->isDirty());
        // Until the caller ends its transaction, work meant to be part of it
        // is refused rather than written on its own.
        QVERIFY(!late->saveToDatabase(false));
        QCOMPARE(late->id(), -1);
        QVERIFY(!import.commit());  // the caller learns that its transaction is gone
    }
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 0);
    QVERIFY(!db()->isTransactionOpen());

    // Later saves run in transactions of their own again: one that fails half
    // way leaves nothing behind, the others land.
    exec("DROP TRIGGER lose_all");
    exec("CREATE TRIGGER refuse BEFORE INSERT ON envelope_points "
         "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'refuse') "
         "BEGIN SELECT RAISE(ABORT, 'refused by test'); END");
    auto refused = newCue("refuse");
    QVERIFY(!refused->saveToDatabase(false));
    QCOMPARE(count("SELECT COUNT(*) FROM songs WHERE remark = 'refuse'"), 0);
    QVERIFY(!db()->isTransactionOpen());
    QVERIFY(first->saveToDatabase(false));
    QVERIFY(late->saveToDatabase(false));
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 2);

    // The same with the plain transaction operations.
    QVERIFY(db()->beginTransaction());
    victim->setRemark("disk full");
    exec("CREATE TRIGGER lose_all BEFORE INSERT ON pan_envelope_points "
         "WHEN NEW.song_id IN (SELECT id FROM songs WHERE remark = 'disk full') "
         "BEGIN SELECT RAISE(ROLLBACK, 'disk full (test)'); END");
    QVERIFY(!victim->saveToDatabase(false));
    QVERIFY(!db()->isTransactionOpen());
    QVERIFY(!db()->commitTransaction());
    QVERIFY(db()->beginTransaction());
    QVERIFY(db()->commitTransaction());
}

void DatabaseTransactionTest::deletesInsideACallersTransactionReleasePagesOnCommit()
{
    std::vector<std::unique_ptr<Cue>> cues;
    for (int i = 0; i < 30; ++i) {
        cues.push_back(newCue(QStringLiteral("cue %1").arg(i), 300));
        QVERIFY(cues.back()->saveToDatabase(false));
    }
    // A cue deleted on its own gives back all of its pages, not just one.
    auto lone = newCue("lone", 300);
    QVERIFY(lone->saveToDatabase(false));
    QVERIFY(lone->deleteFromDatabase());
    QCOMPARE(count("PRAGMA freelist_count"), 0);
    const int pagesBefore = count("PRAGMA page_count");

    // A rolled-back delete keeps everything.
    {
        DatabaseTransaction playlistDelete(db());
        for (const auto& cue : cues)
            QVERIFY(db()->deleteCue(cue->id()));
        playlistDelete.rollback();
    }
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 30);
    QCOMPARE(count("PRAGMA freelist_count"), 0);

    {
        DatabaseTransaction playlistDelete(db());
        for (const auto& cue : cues)
            QVERIFY(db()->deleteCue(cue->id()));
        QVERIFY(playlistDelete.commit());
    }
    QCOMPARE(count("SELECT COUNT(*) FROM songs"), 0);
    // The freed pages went back to the file system with the caller's commit.
    QCOMPARE(count("PRAGMA freelist_count"), 0);
    QVERIFY2(count("PRAGMA page_count") < pagesBefore / 4,
             qPrintable(QStringLiteral("%1 of %2 pages left").arg(count("PRAGMA page_count")).arg(pagesBefore)));
}

QTEST_GUILESS_MAIN(DatabaseTransactionTest)
#include "DatabaseTransactionTest.moc"
