#include "model/WalCheckpointer.h"

#include <QDebug>
#include <QMutexLocker>
#include <QThread>

#include <sqlite3.h>

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
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("DbCheckpointThread"));
    m_thread->start(QThread::LowPriority);
    sqlite3_wal_hook(m_watched, &WalCheckpointer::onCommit, this);
}

WalCheckpointer::~WalCheckpointer()
{
    if (!m_thread)
        return;
    sqlite3_wal_autocheckpoint(m_watched, kCheckpointPages);  // replaces the hook
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
    delete m_thread;
    sqlite3_close(m_own);
}

int WalCheckpointer::onCommit(void* self, sqlite3* connection, const char* schema, int logPages)
{
    // Runs on the committing thread, inside the commit: it only wakes the
    // checkpoint thread.
    if (logPages >= kFallbackPages)
        sqlite3_wal_checkpoint_v2(connection, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    else if (logPages >= kCheckpointPages)
        static_cast<WalCheckpointer*>(self)->request();
    return SQLITE_OK;
}

void WalCheckpointer::request()
{
    QMutexLocker lock(&m_mutex);
    m_requested = true;
    m_wake.wakeOne();
}

void WalCheckpointer::run()
{
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            while (!m_requested && !m_stopping)
                m_wake.wait(&m_mutex);
            if (m_stopping)
                return;
            m_requested = false;
        }
        // Passive: copies what no reader still needs and never waits for the
        // writer; the writer starts the log over once all of it is copied.
        const int result = sqlite3_wal_checkpoint_v2(m_own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        if (result == SQLITE_OK)
            ++m_completed;
        else if (result != SQLITE_BUSY)
            qWarning() << "WalCheckpointer - Checkpoint failed:" << sqlite3_errmsg(m_own);
    }
}
