#include "model/WalCheckpointer.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <unistd.h>

namespace {

// Notes the writes into the database file itself (not its log) made on the
// test's own thread: a checkpoint is the only thing that writes there, so
// such a write is a copy done inside a commit. Installed through SQLite's
// own hook for the system calls of its Unix layer.
class DatabaseFileWrites {
public:
    DatabaseFileWrites()
    {
        s_testThread = std::this_thread::get_id();
        for (const char* name : {"pwrite64", "pwrite"}) {
            if (sqlite3_syscall_ptr real = vfs()->xGetSystemCall(vfs(), name)) {
                m_name = name;
                s_real = reinterpret_cast<Pwrite>(real);
                vfs()->xSetSystemCall(vfs(), name, reinterpret_cast<sqlite3_syscall_ptr>(&recordingWrite));
                break;
            }
        }
    }
    ~DatabaseFileWrites()
    {
        if (m_name)
            vfs()->xSetSystemCall(vfs(), m_name, nullptr);
    }
    bool installed() const { return m_name != nullptr; }
    int onTestThread() const { return s_onTestThread.load(); }
    int elsewhere() const { return s_elsewhere.load(); }

private:
    using Pwrite = ssize_t (*)(int, const void*, size_t, off_t);
    static sqlite3_vfs* vfs() { return sqlite3_vfs_find("unix"); }
    static ssize_t recordingWrite(int fd, const void* data, size_t size, off_t offset)
    {
        char path[512];
        const ssize_t length = readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), path,
                                        sizeof path - 1);
        if (length > 0 && QByteArray(path, int(length)).endsWith(".db"))
            ++(std::this_thread::get_id() == s_testThread ? s_onTestThread : s_elsewhere);
        return s_real(fd, data, size, offset);
    }
    const char* m_name = nullptr;
    static inline Pwrite s_real = nullptr;
    static inline std::thread::id s_testThread;
    static inline std::atomic<int> s_onTestThread{0};
    static inline std::atomic<int> s_elsewhere{0};
};

}  // namespace

// The write-ahead log is copied back into the database file by a thread of
// its own, never by the commit of a save.
class WalCheckpointerTest : public QObject {
    Q_OBJECT

private:
    static bool exec(sqlite3* db, const char* sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // Frames in the log and frames copied back, read from the log's shared
    // index as SQLite keeps it (its header, then the checkpoint's record),
    // without a checkpoint of the test's own.
    static QPair<quint32, quint32> logState(const QString& path)
    {
        QFile shm(path + "-shm");
        if (!shm.open(QIODevice::ReadOnly))
            return {0, 0};
        const QByteArray head = shm.read(100);
        if (head.size() < 100)
            return {0, 0};
        quint32 frames = 0;
        quint32 copied = 0;
        std::memcpy(&frames, head.constData() + 16, sizeof frames);
        std::memcpy(&copied, head.constData() + 96, sizeof copied);
        return {frames, copied};
    }
    static bool insertPages(sqlite3* db, int pages)
    {
        return exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                       "INSERT INTO t SELECT randomblob(4000) FROM n")
                            .arg(pages)
                            .toUtf8()
                            .constData());
    }
    // A database in WAL mode with one table, for the checkpointer to watch.
    static sqlite3* openLog(const QString& path)
    {
        sqlite3* db = nullptr;
        if (sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK && exec(db, "PRAGMA journal_mode = WAL")
            && exec(db, "CREATE TABLE t (a BLOB)"))
            return db;
        sqlite3_close(db);
        return nullptr;
    }
    // That database in a folder of its own, closed when it goes.
    struct Log {
        QTemporaryDir dir;
        QString path = dir.filePath("log.db");
        sqlite3* db = openLog(path);
        ~Log() { sqlite3_close(db); }
    };
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
    void largeCommitLeavesTheCopyToTheThread();
    void checkpointsDoNotWaitForAPauseInTheSaves();
};

void WalCheckpointerTest::commitsLeaveTheCheckpointToTheThread()
{
    Log log;
    QVERIFY(log.db);
    {
        WalCheckpointer checkpointer(log.db, log.path);
        QVERIFY(checkpointer.isRunning());
        // The connection no longer checkpoints inside its commits.
        QCOMPARE(pragma(log.db, "PRAGMA wal_autocheckpoint"), 0);

        // About 300 pages per commit: the fourth takes the log past the limit.
        for (int i = 0; i < 4; ++i)
            QVERIFY(insertPages(log.db, 300));
        QTRY_VERIFY_WITH_TIMEOUT(checkpointer.checkpointCount() > 0, 10000);
        // Everything is in the file, copied by the thread: the log's index
        // says so before anyone else checkpoints.
        const QPair<quint32, quint32> state = logState(log.path);
        QVERIFY(state.first >= 1200);
        QCOMPARE(state.second, state.first);
    }
    // Without the thread the connection checkpoints by itself again.
    QCOMPARE(pragma(log.db, "PRAGMA wal_autocheckpoint"), WalCheckpointer::kCheckpointPages);
    QCOMPARE(pragma(log.db, "SELECT COUNT(*) FROM t"), 1200);
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

void WalCheckpointerTest::largeCommitLeavesTheCopyToTheThread()
{
    Log log;
    QVERIFY(log.db);
    {
        WalCheckpointer checkpointer(log.db, log.path, 200);
        QVERIFY(checkpointer.isRunning());
        // One commit takes the log past the fallback at once: nothing is
        // copied inside it, the thread copies it on its own connection.
        DatabaseFileWrites writes;
        QVERIFY(writes.installed());
        QVERIFY(insertPages(log.db, 300));
        const QPair<quint32, quint32> afterCommit = logState(log.path);
        QVERIFY(afterCommit.first >= 300);
        QTRY_VERIFY_WITH_TIMEOUT(checkpointer.checkpointCount() > 0, 10000);
        QCOMPARE(writes.onTestThread(), 0);
        QVERIFY(writes.elsewhere() > 0);
        const QPair<quint32, quint32> copied = logState(log.path);
        QVERIFY2(copied.second >= afterCommit.first,
                 qPrintable(QStringLiteral("%1 of %2 frames copied").arg(copied.second).arg(copied.first)));

        // Copied in full, the log starts over with the next write.
        QVERIFY(insertPages(log.db, 100));
        QVERIFY(logState(log.path).first < afterCommit.first);
    }
    QCOMPARE(pragma(log.db, "SELECT COUNT(*) FROM t"), 400);
}

void WalCheckpointerTest::checkpointsDoNotWaitForAPauseInTheSaves()
{
    // Saves in a row, a dozen pages each with no pause between them: the
    // thread copies the log while they go on, so each flush of the log to
    // disk stays a few megabytes rather than all of it at once later.
    Log log;
    QVERIFY(log.db);
    {
        WalCheckpointer checkpointer(log.db, log.path);
        QVERIFY(checkpointer.isRunning());
        int pagesAtFirstCheckpoint = 0;
        for (int pages = 12; pages <= 700 * 12 && pagesAtFirstCheckpoint == 0; pages += 12) {
            QVERIFY(insertPages(log.db, 12));
            if (checkpointer.checkpointCount() > 0)
                pagesAtFirstCheckpoint = pages;
        }
        QVERIFY2(pagesAtFirstCheckpoint > 0, "no checkpoint during 700 saves");
        QVERIFY2(pagesAtFirstCheckpoint < 4 * WalCheckpointer::kCheckpointPages,
                 qPrintable(QStringLiteral("first checkpoint after %1 pages written").arg(pagesAtFirstCheckpoint)));
    }
}

QTEST_GUILESS_MAIN(WalCheckpointerTest)
#include "WalCheckpointerTest.moc"
