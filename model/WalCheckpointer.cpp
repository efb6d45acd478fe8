#include "model/WalCheckpointer.h"

#include <QDebug>

#include <sqlite3.h>

#include <pthread.h>

WalCheckpointer::WalCheckpointer(sqlite3* connection, const QString& path, int fallbackPages)
    : m_watched(connection)
    , m_fallbackPages(fallbackPages)
{
    if (!m_watched)
        return;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_own, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        qWarning() << "WalCheckpointer - Cannot open the database for checkpoints, the saves keep them:"
                   << (m_own ? sqlite3_errmsg(m_own) : "out of memory");
        sqlite3_close(m_own);
        m_own = nullptr;
        return;
    }
    // A connection that has read nothing yet does not know the file is in
    // WAL mode, and its checkpoints return at once having copied nothing.
    if (sqlite3_exec(m_own, "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr) != SQLITE_OK)
        qWarning() << "WalCheckpointer - Cannot read the database for checkpoints:" << sqlite3_errmsg(m_own);
    m_thread = std::thread([this] { run(); });
    pthread_setname_np(m_thread.native_handle(), "DbCheckpoint");
    sqlite3_wal_hook(m_watched, &WalCheckpointer::onCommit, this);
}

WalCheckpointer::~WalCheckpointer()
{
    if (!m_thread.joinable())
        return;
    sqlite3_wal_autocheckpoint(m_watched, kCheckpointPages);  // replaces the hook
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    sqlite3_close(m_own);
}

int WalCheckpointer::onCommit(void* self, sqlite3* connection, const char* schema, int logPages)
{
    // Runs on the committing thread, inside the commit: it only wakes the
    // checkpoint thread.
    auto* checkpointer = static_cast<WalCheckpointer*>(self);
    if (logPages < checkpointer->m_fallbackPages) {
        checkpointer->m_pastFallback = false;
    } else if (!checkpointer->m_pastFallback) {
        // Just got there: the thread copies the bulk of it first.
        checkpointer->m_pastFallback = true;
        checkpointer->m_attemptsAtFallback = checkpointer->m_attempts.load();
    } else if (checkpointer->m_attempts.load() != checkpointer->m_attemptsAtFallback) {
        // The thread has tried since and the log still has not started
        // over: the rest is copied here, so the next write begins it anew.
        // Busy at once while the thread is still copying.
        sqlite3_wal_checkpoint_v2(connection, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    if (logPages >= kCheckpointPages || checkpointer->m_pastFallback) {
        {
            std::lock_guard lock(checkpointer->m_mutex);
            checkpointer->m_requested = true;
        }
        checkpointer->m_wake.notify_one();
    }
    return SQLITE_OK;
}

bool WalCheckpointer::waitUntilRequested()
{
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_requested || m_stopping; });
    m_requested = false;
    return !m_stopping;
}

void WalCheckpointer::run()
{
    while (waitUntilRequested()) {
        // Passive: copies what no reader still needs and never waits for the
        // writer; the writer starts the log over once all of it is copied.
        const int result = sqlite3_wal_checkpoint_v2(m_own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        ++m_attempts;
        if (result == SQLITE_OK)
            ++m_completed;
        else if (result != SQLITE_BUSY)
            qWarning() << "WalCheckpointer - Checkpoint failed:" << sqlite3_errmsg(m_own);
    }
}
