#pragma once

#include <QtGlobal>

// Starts the disk writes of a long file while it is still being written.
// Left to itself the kernel holds written data back for many seconds, so a
// file of hundreds of megabytes is still nearly all in memory when it is
// synced: the sync then waits for all of it at once. Started a few megabytes
// at a time, the writes overlap with the work producing the data, and the
// sync at the end finds little left to do. Nothing here waits for the disk.
class EarlyWriteback {
public:
    static constexpr qint64 kStepBytes = qint64(8) << 20;

    explicit EarlyWriteback(qint64 stepBytes = kStepBytes);

    // The file behind fd now holds size bytes: every whole step not yet
    // started is started. A new file (or fd) starts again from 0 with
    // reset().
    void written(int fd, qint64 size);
    void reset() { m_started = 0; }

    // Bytes whose writes have been started.
    qint64 started() const { return m_started; }

private:
    qint64 m_step;
    qint64 m_started = 0;
};
