#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct sqlite3;

// Copies the database's write-ahead log back into the file on a thread of its
// own. SQLite would otherwise do it inside the commit that takes the log past
// its limit, with two file syncs: a save on the GUI thread would then stall
// for tens of milliseconds every few dozen saves.
//
// It watches the commits of one connection (through SQLite's log hook, which
// takes the place of SQLite's own checkpoints) and checkpoints through a
// connection of its own, which never blocks the writer. It starts as soon as
// the log passes its limit, saves or no saves: a log left to grow through a
// run of saves is flushed to disk all at once by the checkpoint that follows,
// and while the kernel writes out tens of megabytes of it, a save appending
// to the same file can wait for it (seen: 10 to 18 ms). Copied as it goes, the
// log reaches the disk a few megabytes at a time.
class WalCheckpointer {
public:
    // Log size in pages from which a checkpoint is due: SQLite's own limit.
    static constexpr int kCheckpointPages = 1000;
    // The log starts over only when a write finds all of it copied, so while
    // writes follow each other without pauses it keeps growing. Should it
    // reach this size (about 100 MB) the committing connection checkpoints
    // by itself, so it cannot grow without bound: what is left once the
    // thread has had its try, since one large transaction (an imported
    // playlist) can bring the log past it at once, and copying all of that
    // inside the commit held the GUI thread for a fifth of a second.
    static constexpr int kFallbackPages = 25000;

    // `connection` is the open connection whose commits are watched, `path`
    // its database file. When the file cannot be opened a second time, the
    // connection keeps SQLite's own checkpoints.
    WalCheckpointer(sqlite3* connection, const QString& path, int fallbackPages = kFallbackPages);
    // Gives the connection back its own checkpoints and stops the thread.
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

    bool isRunning() const { return m_thread.joinable(); }
    // Checkpoints the thread has completed.
    int checkpointCount() const { return m_completed.load(); }

private:
    static int onCommit(void* self, sqlite3* connection, const char* schema, int logPages);
    void run();
    bool waitUntilRequested();

    sqlite3* m_watched = nullptr;
    sqlite3* m_own = nullptr;
    // A standard thread: its join is what ThreadSanitizer sees as the end of
    // the thread before the members it used are destroyed.
    std::thread m_thread;
    // Standard primitives rather than QMutex and QWaitCondition: Qt releases
    // the mutex inside its wait where ThreadSanitizer cannot see it.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    std::atomic<int> m_completed{0};
    const int m_fallbackPages;
    // Checkpoints the thread has tried, whatever came of them.
    std::atomic<int> m_attempts{0};
    // Committing thread only: the log is past the fallback size, and how
    // many tries the thread had made when it got there.
    bool m_pastFallback = false;
    int m_attemptsAtFallback = 0;
};
