#include "platform/EarlyWriteback.h"

#include <fcntl.h>

#include <algorithm>

EarlyWriteback::EarlyWriteback(qint64 stepBytes)
    : m_step(std::max<qint64>(stepBytes, 4096))
{
}

void EarlyWriteback::written(int fd, qint64 size)
{
    if (fd < 0 || size - m_started < m_step)
        return;
    const qint64 end = size - size % m_step;
    // Only a hint: a file system that cannot do it syncs it all at the end.
    ::sync_file_range(fd, m_started, end - m_started, SYNC_FILE_RANGE_WRITE);
    m_started = end;
}
