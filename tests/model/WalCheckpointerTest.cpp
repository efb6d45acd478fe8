#include "model/WalCheckpointer.h"
#include "support/LogCapture.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

// The write-ahead log is copied back into the database file by a thread of
// its own, never by the commit of a save.
class WalCheckpointerTest : public QObject {
    Q_OBJECT

private:
    static bool exec(sqlite3* db, const char* sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    static int pragma(sqlite3* db, const char* sql)
    {
        sqlite3_stmt* statement = nullptr;
        int value = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        return value;
    }

private Q_SLOTS:
    void commitsLeaveTheCheckpointToTheThread();
    void unopenableFileKeepsSqlitesOwnCheckpoints();
};

void WalCheckpointerTest::commitsLeaveTheCheckpointToTheThread()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.db");
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QVERIFY(exec(db, "PRAGMA journal_mode = WAL"));
    QVERIFY(exec(db, "CREATE TABLE t (a BLOB)"));
    {
        WalCheckpointer checkpointer(db, path);
        QVERIFY(checkpointer.isRunning());
        // The connection no longer checkpoints inside its commits.
        QCOMPARE(pragma(db, "PRAGMA wal_autocheckpoint"), 0);

        // About 300 pages per commit: the fourth takes the log past the limit.
        for (int i = 0; i < 4; ++i)
            QVERIFY(exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                             "INSERT INTO t SELECT randomblob(4000) FROM n"));
        QTRY_VERIFY_WITH_TIMEOUT(checkpointer.checkpointCount() > 0, 10000);
        // Everything is in the file: a further checkpoint finds nothing to copy.
        int logFrames = -1;
        int copied = -1;
        QCOMPARE(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copied), SQLITE_OK);
        QCOMPARE(copied, logFrames);
    }
    // Without the thread the connection checkpoints by itself again.
    QCOMPARE(pragma(db, "PRAGMA wal_autocheckpoint"), WalCheckpointer::kCheckpointPages);
    QCOMPARE(pragma(db, "SELECT COUNT(*) FROM t"), 1200);
    sqlite3_close(db);
}

void WalCheckpointerTest::unopenableFileKeepsSqlitesOwnCheckpoints()
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    LogCapture log;
    {
        WalCheckpointer checkpointer(db, "/nonexistent-folder/log.db");
        QVERIFY(!checkpointer.isRunning());
        QCOMPARE(pragma(db, "PRAGMA wal_autocheckpoint"), WalCheckpointer::kCheckpointPages);
    }
    QVERIFY(log.contains("WalCheckpointer - Cannot open the database for checkpoints"));
    sqlite3_close(db);
}

QTEST_GUILESS_MAIN(WalCheckpointerTest)
#include "WalCheckpointerTest.moc"
