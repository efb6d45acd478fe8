#pragma once

#include <QtGlobal>

#include <memory>

class QThreadPool;

// Idle threads of a thread pool, held for one background analysis so that
// the threads it starts of its own (FFmpeg's frame threads, a decode-ahead
// thread) count against the pool's limit: an analysis may run one such
// thread for each pool thread it holds, and nothing else can start on a held
// thread until it is given back. The held threads only wait.
//
// Only threads that are idle now are taken, never waited for: when the pool
// is busy an analysis gets none and works on its own pool thread alone.
// The last idle thread is never taken: Qt's painting splits large fills into
// jobs on the global pool and waits for them, so a pool held entirely would
// hold up every repaint. A pool of two lends nothing. One lease belongs to
// one thread.
class PoolThreadLease {
public:
    explicit PoolThreadLease(QThreadPool* pool);
    // Gives every held thread back.
    ~PoolThreadLease();
    PoolThreadLease(const PoolThreadLease&) = delete;
    PoolThreadLease& operator=(const PoolThreadLease&) = delete;

    // Takes up to count more idle threads, leaving one idle; returns how
    // many it got.
    int take(int count);
    // Gives up to count held threads back.
    void giveBack(int count);
    int size() const { return m_held; }

private:
    struct Shared;
    QThreadPool* m_pool;
    std::shared_ptr<Shared> m_shared;
    int m_held = 0;
};
