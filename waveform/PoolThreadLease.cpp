#include "waveform/PoolThreadLease.h"

#include "platform/PoolTask.h"

#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <mutex>

// The held threads wait here until they are let go. Shared with them, so a
// thread that wakes after the lease is gone still finds it.
struct PoolThreadLease::Shared {
    std::mutex mutex;
    std::condition_variable released;
    int mayLeave = 0;  // held threads told to return to the pool
};

PoolThreadLease::PoolThreadLease(QThreadPool* pool)
    : m_pool(pool)
    , m_shared(std::make_shared<Shared>())
{
}

PoolThreadLease::~PoolThreadLease()
{
    giveBack(m_held);
}

int PoolThreadLease::take(int count)
{
    // Leases taken at the same moment from other threads would each see the
    // same idle threads and together take the last one: the look at the pool
    // and the start of a held thread go together.
    static std::mutex takeMutex;
    std::lock_guard takeLock(takeMutex);
    int got = 0;
    // A pool of two runs on a machine of two cores, which the analyses keep
    // busy themselves: an extra thread would not make them quicker, and would
    // leave the other jobs of the pool nowhere to run but the thread kept free.
    if (m_pool && m_pool->maxThreadCount() <= 2)
        return 0;
    while (m_pool && got < count && m_pool->activeThreadCount() < m_pool->maxThreadCount() - 1) {
        const std::shared_ptr<Shared> shared = m_shared;
        const bool started = PoolTask::tryStart(m_pool, [shared] {
            std::unique_lock lock(shared->mutex);
            shared->released.wait(lock, [&] { return shared->mayLeave > 0; });
            --shared->mayLeave;
        });
        if (!started)
            break;
        ++got;
    }
    m_held += got;
    return got;
}

void PoolThreadLease::giveBack(int count)
{
    count = std::clamp(count, 0, m_held);
    if (count == 0)
        return;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->mayLeave += count;
    }
    m_held -= count;
    m_shared->released.notify_all();
}
