#pragma once

#include <QByteArray>
#include <QtGlobal>

// How much physical memory the system can still hand out, for sizing caches.
namespace SystemMemory {

// Bytes of memory available to new allocations without swapping (the
// kernel's MemAvailable), or -1 when it cannot be read.
qint64 availableBytes();

// The MemAvailable value of /proc/meminfo text in bytes, or -1 when the text
// has no valid MemAvailable line.
qint64 parseMemAvailable(const QByteArray& meminfo);

}  // namespace SystemMemory
