#include "playback/PcmCache.h"

#include "platform/SystemMemory.h"
#include "audiofile/PcmBuffer.h"

#include <QMutexLocker>

#include <algorithm>

PcmCache::PcmCache(MemoryProbe availableMemory)
    : m_availableMemory(availableMemory ? std::move(availableMemory) : MemoryProbe(&SystemMemory::availableBytes))
{
}

void PcmCache::updateCacheBudget()
{
    const qint64 available = m_availableMemory();
    qint64 budget = kMaxBudgetBytes;
    if (available >= 0)
        budget = std::clamp<qint64>(qint64(double(available) * 0.6), kMinBudgetBytes, kMaxBudgetBytes);
    setBudgetBytes(budget);
}

void PcmCache::setBudgetBytes(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_budgetBytes = bytes;
}

qint64 PcmCache::budgetBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_budgetBytes;
}

qint64 PcmCache::usedLocked() const
{
    qint64 used = 0;
    for (const PcmCacheEntry& entry : m_entries)
        used += entry.bytes();
    return used;
}

void PcmCache::evictCacheFor(qint64 neededBytes)
{
    QMutexLocker lock(&m_mutex);
    if (m_budgetBytes < 1)
        return;
    qint64 used = usedLocked();
    const qint64 limit = m_budgetBytes - neededBytes;
    while (limit < used && !m_entries.isEmpty()) {
        auto first = m_entries.begin();
        used -= first->bytes();
        m_entries.erase(first);
    }
}

void PcmCache::store(const QString& path, const PcmCacheEntry& entry)
{
    if (path.isEmpty() || !entry.pcm)
        return;
    QMutexLocker lock(&m_mutex);
    evictCacheFor(entry.bytes());
    m_entries.insert(path, entry);
}

bool PcmCache::contains(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_entries.contains(path);
}

std::optional<PcmCacheEntry> PcmCache::find(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.constFind(path);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}

std::optional<PcmCacheEntry> PcmCache::take(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return std::nullopt;
    PcmCacheEntry entry = *it;
    m_entries.erase(it);
    return entry;
}

void PcmCache::remove(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_entries.remove(path);
}

void PcmCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}

qint64 PcmCache::memoryUsage() const
{
    QMutexLocker lock(&m_mutex);
    return usedLocked();
}

QStringList PcmCache::paths() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries.keys();
}
