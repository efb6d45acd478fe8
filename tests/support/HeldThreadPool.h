#pragma once

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

// Holds the global thread pool's only thread for a while: work that waits for
// the pool (Qt's raster engine hands some fills to it in parts) waits for it.
class HeldThreadPool {
public:
    explicit HeldThreadPool(int heldMs)
        : m_threads(QThreadPool::globalInstance()->maxThreadCount())
    {
        QThreadPool* pool = QThreadPool::globalInstance();
        pool->setMaxThreadCount(1);
        QSemaphore started;
        pool->start([&started, heldMs] {
            started.release();
            QThread::msleep(heldMs);
        });
        started.acquire();
    }
    ~HeldThreadPool() { release(); }
    HeldThreadPool(const HeldThreadPool&) = delete;
    HeldThreadPool& operator=(const HeldThreadPool&) = delete;

    // Waits for the held thread and gives the pool its threads back.
    void release()
    {
        if (m_threads < 1)
            return;
        QThreadPool::globalInstance()->waitForDone();
        QThreadPool::globalInstance()->setMaxThreadCount(m_threads);
        m_threads = 0;
    }

private:
    int m_threads;
};
