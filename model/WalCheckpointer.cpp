#include "model/WalCheckpointer.h"

#include <QDeadlineTimer>
#include <QDebug>

#include <sqlite3.h>

#include <chrono>

#include <pthread.h>

namespace {

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

}  // namespace

WalCheckpointer::WalCheckpointer(sqlite3* connection, const QString& path)
    : m_watched(connection)
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
    // Runs on the committing thread, inside the commit: it only notes the
    // commit and wakes the checkpoint thread.
    if (logPages >= kFallbackPages) {
        sqlite3_wal_checkpoint_v2(connection, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    auto* checkpointer = static_cast<WalCheckpointer*>(self);
    checkpointer->m_lastCommitMs.store(nowMs());
    checkpointer->m_logPages.store(logPages);
    if (logPages >= kCheckpointPages) {
        {
            std::lock_guard lock(checkpointer->m_mutex);
            checkpointer->m_requested = true;
        }
        checkpointer->m_wake.notify_one();
    }
    return SQLITE_OK;
}

bool WalCheckpointer::waitUntilDue()
{
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_requested || m_stopping; });
    // A due checkpoint waits for a pause in the commits, or for a large log.
    while (!m_stopping) {
        const qint64 quietMs = nowMs() - m_lastCommitMs.load();
        if (quietMs >= kPauseMs || m_logPages.load() >= kBusyCheckpointPages)
            break;
        m_wake.wait_for(lock, std::chrono::milliseconds(kPauseMs - quietMs));
    }
    m_requested = false;
    return !m_stopping;
}

void WalCheckpointer::run()
{
    while (waitUntilDue()) {
        // Passive: copies what no reader still needs and never waits for the
        // writer; the writer starts the log over once all of it is copied.
        const int result = sqlite3_wal_checkpoint_v2(m_own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        if (result == SQLITE_OK)
            ++m_completed;
        else if (result != SQLITE_BUSY)
            qWarning() << "WalCheckpointer - Checkpoint failed:" << sqlite3_errmsg(m_own);
    }
}
