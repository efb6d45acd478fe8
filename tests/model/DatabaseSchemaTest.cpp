#include "model/DatabaseManager.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Creating, opening and upgrading the database file.
class DatabaseSchemaTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DatabaseManager* db() { return DatabaseManager::instance(); }

    // Builds a database file of an older layout through a separate connection.
    void writeLegacyFile(const QString& path, const QStringList& statements);
    QStringList columnsOf(const QString& table);
    QStringList names(const QString& type);

private Q_SLOTS:
    void init();
    void createsEverythingInAFreshDataFolder();
    void secondStartChangesOnlyLoudnessAndVersion();
    void legacyFileGetsExactlyTheMissingColumns();
    void legacyVolumeIsCopiedOnce();
    void loudnessIsResetAtEveryStart();
    void oldGroupsLayoutIsReplaced();
    void duplicateMembershipKeepsStartupGoing();
    void unopenableFileFailsCleanly();
    void transactionsDoNotNest();
    void savesLeaveCheckpointsToTheirThread();
    void closedConnectionFailsEveryStatement();
    void metadataDefaultsAndVersion();
};

void DatabaseSchemaTest::init()
{
    db()->close();
}

void DatabaseSchemaTest::writeLegacyFile(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase legacy = QSqlDatabase::addDatabase("QSQLITE", "legacy");
        legacy.setDatabaseName(path);
        QVERIFY(legacy.open());
        for (const QString& sql : statements) {
            QSqlQuery query(legacy);
            QVERIFY2(query.exec(sql), qPrintable(sql + ": " + query.lastError().text()));
        }
        legacy.close();
    }
    QSqlDatabase::removeDatabase("legacy");
}

QStringList DatabaseSchemaTest::columnsOf(const QString& table)
{
    QStringList columns;
    QSqlQuery query = db()->execute(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (query.next())
        columns << query.value(1).toString();
    return columns;
}

QStringList DatabaseSchemaTest::names(const QString& type)
{
    QStringList result;
    QSqlQuery query = db()->execute(
        "SELECT name FROM sqlite_master WHERE type = ? AND name NOT LIKE 'sqlite_%' ORDER BY name", {type});
    while (query.next())
        result << query.value(0).toString();
    return result;
}

void DatabaseSchemaTest::createsEverythingInAFreshDataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(folder).removeRecursively();
    QVERIFY(db()->initialize(QString()));
    QCOMPARE(db()->databasePath(), folder + "/playlist_data.db");
    QVERIFY(QFile::exists(folder + "/playlist_data.db"));

    QCOMPARE(names("table"), (QStringList{"app_metadata", "envelope_points", "groups", "pan_envelope_points",
                                          "playlist_groups", "playlist_songs", "songs", "waveform_data"}));
    QCOMPARE(names("index"),
             (QStringList{"idx_envelope_points_time", "idx_pan_envelope_points_time", "idx_playlist_groups_order",
                          "idx_playlist_songs_order", "idx_playlist_songs_unique_song", "idx_songs_file_path"}));
    QCOMPARE(columnsOf("songs"),
             (QStringList{"id", "name", "alias", "file_path", "duration", "remark", "pre_wait", "loop_count",
                          "volume_a", "volume_b", "volume_choose", "is_solo", "fade_switch", "fade_in_duration",
                          "fade_out_duration", "volume_envelope", "start_marking", "end_marking", "loop_start_ms",
                          "loop_end_ms", "loop_enabled", "envelope_enabled", "pan_envelope_enabled", "color",
                          "lufs", "is_bad_file", "created_at", "updated_at"}));
    QCOMPARE(db()->getMetadata("database_version", "x"), QString("1"));
    QCOMPARE(db()->getDatabaseVersion(), 1);
    QSqlQuery journal = db()->execute("PRAGMA journal_mode");
    QVERIFY(journal.next());
    QCOMPARE(journal.value(0).toString(), QString("wal"));
    QSqlQuery foreignKeys = db()->execute("PRAGMA foreign_keys");
    QVERIFY(foreignKeys.next());
    QCOMPARE(foreignKeys.value(0).toInt(), 1);
}

void DatabaseSchemaTest::secondStartChangesOnlyLoudnessAndVersion()
{
    const QString path = m_dir.filePath("second.db");
    QVERIFY(db()->initialize(path));
    QVERIFY(!db()->execute("INSERT INTO songs (name, file_path, lufs, volume_a) VALUES ('a', '/a.wav', -14.2, 77)")
                 .lastError()
                 .isValid());
    const QStringList tables = names("table");
    const QStringList indexes = names("index");
    const QStringList columns = columnsOf("songs");
    db()->close();

    LogCapture log;
    QVERIFY(db()->initialize(path));
    QVERIFY(!log.contains("Failed"));
    QCOMPARE(names("table"), tables);
    QCOMPARE(names("index"), indexes);
    QCOMPARE(columnsOf("songs"), columns);
    QSqlQuery row = db()->execute("SELECT lufs, volume_a FROM songs");
    QVERIFY(row.next());
    QCOMPARE(row.value(0).toDouble(), -999.0);
    QCOMPARE(row.value(1).toInt(), 77);
}

void DatabaseSchemaTest::legacyFileGetsExactlyTheMissingColumns()
{
    const QString path = m_dir.filePath("legacy-columns.db");
    writeLegacyFile(path, {
        "CREATE TABLE songs (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, alias TEXT DEFAULT '', "
        "file_path TEXT NOT NULL, duration INTEGER DEFAULT 0, remark TEXT DEFAULT '', pre_wait INTEGER DEFAULT 0, "
        "loop_count INTEGER DEFAULT 1, is_solo INTEGER DEFAULT 1, volume_envelope INTEGER DEFAULT 0, "
        "start_marking INTEGER DEFAULT 0, end_marking INTEGER DEFAULT 0, loop_start_ms INTEGER DEFAULT 0, "
        "color TEXT DEFAULT '', created_at INTEGER, updated_at INTEGER)",
        "INSERT INTO songs (name, file_path, duration) VALUES ('old', '/old.mp3', 4000)",
    });
    QVERIFY(db()->initialize(path));
    const QStringList columns = columnsOf("songs");
    // Appended in the upgrade's order; the ones present are not added again.
    QCOMPARE(columns.mid(16), (QStringList{"loop_end_ms", "loop_enabled", "envelope_enabled", "pan_envelope_enabled",
                                          "fade_switch", "fade_in_duration", "fade_out_duration", "lufs", "volume_a",
                                          "volume_b", "volume_choose", "is_bad_file"}));
    QSqlQuery row = db()->execute("SELECT volume_a, fade_in_duration, lufs, volume_choose, is_bad_file FROM songs");
    QVERIFY(row.next());
    QCOMPARE(row.value(0).toInt(), 50);
    QCOMPARE(row.value(1).toInt(), 1000);
    QCOMPARE(row.value(2).toDouble(), -999.0);
    QCOMPARE(row.value(3).toInt(), 0);
    QCOMPARE(row.value(4).toInt(), 0);
}

void DatabaseSchemaTest::legacyVolumeIsCopiedOnce()
{
    const QString path = m_dir.filePath("legacy-volume.db");
    writeLegacyFile(path, {
        "CREATE TABLE songs (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, file_path TEXT NOT NULL, "
        "volume INTEGER DEFAULT 100)",
        "INSERT INTO songs (name, file_path, volume) VALUES ('a', '/a.mp3', 35)",
        "INSERT INTO songs (name, file_path, volume) VALUES ('b', '/b.mp3', 80)",
    });
    QVERIFY(db()->initialize(path));
    QSqlQuery rows = db()->execute("SELECT volume_a FROM songs ORDER BY id");
    QVERIFY(rows.next());
    QCOMPARE(rows.value(0).toInt(), 35);
    // An older file is switched to freeing deleted pages as it goes.
    QSqlQuery vacuumMode = db()->execute("PRAGMA auto_vacuum");
    QVERIFY(vacuumMode.next());
    QCOMPARE(vacuumMode.value(0).toInt(), 2);
    QVERIFY(rows.next());
    QCOMPARE(rows.value(0).toInt(), 80);
    QCOMPARE(db()->getMetadata("volume_migrated"), QString("1"));

    db()->execute("UPDATE songs SET volume_a = 60 WHERE name = 'a'");
    db()->close();
    QVERIFY(db()->initialize(path));
    QSqlQuery again = db()->execute("SELECT volume_a FROM songs WHERE name = 'a'");
    QVERIFY(again.next());
    QCOMPARE(again.value(0).toInt(), 60);
}

void DatabaseSchemaTest::loudnessIsResetAtEveryStart()
{
    const QString path = m_dir.filePath("lufs.db");
    QVERIFY(db()->initialize(path));
    db()->execute("INSERT INTO songs (name, file_path, lufs) VALUES ('measured', '/m.wav', -14.2)");
    db()->execute("INSERT INTO songs (name, file_path, lufs) VALUES ('odd', '/o.wav', -950.0)");
    db()->close();
    QVERIFY(db()->initialize(path));
    QSqlQuery rows = db()->execute("SELECT lufs FROM songs ORDER BY id");
    QVERIFY(rows.next());
    QCOMPARE(rows.value(0).toDouble(), -999.0);
    QVERIFY(rows.next());
    QCOMPARE(rows.value(0).toDouble(), -950.0);
}

void DatabaseSchemaTest::oldGroupsLayoutIsReplaced()
{
    const QString path = m_dir.filePath("groups.db");
    writeLegacyFile(path, {
        "CREATE TABLE groups (id INTEGER PRIMARY KEY AUTOINCREMENT, master_id INTEGER NOT NULL, "
        "child_id INTEGER NOT NULL, sort_order INTEGER DEFAULT 0)",
        "INSERT INTO groups (master_id, child_id) VALUES (1, 2)",
    });
    QVERIFY(db()->initialize(path));
    QSqlQuery sql = db()->execute("SELECT sql FROM sqlite_master WHERE name = 'groups'");
    QVERIFY(sql.next());
    QVERIFY(!sql.value(0).toString().contains("child_id INTEGER NOT NULL"));
    QSqlQuery count = db()->execute("SELECT COUNT(*) FROM groups");
    QVERIFY(count.next());
    QCOMPARE(count.value(0).toInt(), 0);
}

void DatabaseSchemaTest::duplicateMembershipKeepsStartupGoing()
{
    const QString path = m_dir.filePath("duplicate.db");
    writeLegacyFile(path, {
        "CREATE TABLE playlist_songs (playlist_id INTEGER NOT NULL, song_id INTEGER NOT NULL, "
        "song_order INTEGER DEFAULT 0, PRIMARY KEY (playlist_id, song_id))",
        "INSERT INTO playlist_songs VALUES (1, 7, 0)",
        "INSERT INTO playlist_songs VALUES (2, 7, 0)",
    });
    LogCapture log;
    QVERIFY(db()->initialize(path));
    QVERIFY(log.contains("Failed to create index:"));
    QVERIFY(!names("index").contains("idx_playlist_songs_unique_song"));
}

void DatabaseSchemaTest::unopenableFileFailsCleanly()
{
    // A path below a plain file can never be opened.
    QFile plain(m_dir.filePath("plain-file"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    LogCapture log;
    QVERIFY(!db()->initialize(m_dir.filePath("plain-file/playlist_data.db")));
    QVERIFY(log.contains("Failed to open database:"));
    QVERIFY(!log.contains("SQL exec failed"));
}

void DatabaseSchemaTest::transactionsDoNotNest()
{
    QVERIFY(db()->initialize(m_dir.filePath("transactions.db")));
    QVERIFY(db()->beginTransaction());
    QVERIFY(!db()->beginTransaction());
    QVERIFY(db()->isTransactionOpen());
    QVERIFY(db()->commitTransaction());
    QVERIFY(!db()->commitTransaction());
    QVERIFY(!db()->rollbackTransaction());
}

void DatabaseSchemaTest::savesLeaveCheckpointsToTheirThread()
{
    QVERIFY(db()->initialize(m_dir.filePath("checkpoints.db")));
    QSqlQuery mode = db()->execute("PRAGMA journal_mode");
    QVERIFY(mode.next());
    QCOMPARE(mode.value(0).toString(), QString("wal"));
    mode.finish();
    // No checkpoint inside a commit of the program's connection.
    QSqlQuery automatic = db()->execute("PRAGMA wal_autocheckpoint");
    QVERIFY(automatic.next());
    QCOMPARE(automatic.value(0).toInt(), 0);
    automatic.finish();
    db()->close();
}

void DatabaseSchemaTest::closedConnectionFailsEveryStatement()
{
    QVERIFY(db()->initialize(m_dir.filePath("closed.db")));
    db()->close();
    LogCapture log;
    QCOMPARE(db()->getMetadata("database_version", "x"), QString("x"));
    QVERIFY(log.contains("SQL prepare failed:"));
    QVERIFY(!db()->setMetadata("a", "b"));
    QCOMPARE(db()->lastInsertId(), qint64(-1));
    QVERIFY(!db()->beginTransaction());
}

void DatabaseSchemaTest::metadataDefaultsAndVersion()
{
    QVERIFY(db()->initialize(m_dir.filePath("metadata.db")));
    QCOMPARE(db()->getMetadata("missing", "fallback"), QString("fallback"));
    QVERIFY(!db()->hasMetadataKey("missing"));
    QVERIFY(db()->setMetadata("database_version", "abc"));
    QCOMPARE(db()->getDatabaseVersion(), 0);
    QVERIFY(db()->setMetadata("database_version", "7"));
    QCOMPARE(db()->getDatabaseVersion(), 7);
}

QTEST_GUILESS_MAIN(DatabaseSchemaTest)
#include "DatabaseSchemaTest.moc"
