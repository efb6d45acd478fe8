#include "playback/PcmCache.h"

#include "platform/SystemMemory.h"
#include "audiofile/PcmBuffer.h"

#include <algorithm>

namespace {

// A buffer worth sharing: still being filled, or read to its end (complete or
// short) with something in it. A failed, cancelled or empty one is decoded
// afresh.
bool usable(const PcmBuffer& buffer)
{
    if (buffer.cancelRequested())
        return false;
    const PcmBuffer::State state = buffer.state();
    return state == PcmBuffer::State::Filling || (buffer.endReached() && buffer.frames() > 0);
}

}  // namespace

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
    std::lock_guard lock(m_mutex);
    m_budgetBytes = bytes;
}

qint64 PcmCache::budgetBytes() const
{
    std::lock_guard lock(m_mutex);
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
    std::lock_guard lock(m_mutex);
    evictLocked(neededBytes);
}

void PcmCache::evictLocked(qint64 neededBytes)
{
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
    std::lock_guard lock(m_mutex);
    storeLocked(path, entry);
}

void PcmCache::storeLocked(const QString& path, const PcmCacheEntry& entry)
{
    evictLocked(entry.bytes());
    m_entries.insert(path, entry);
    m_live.insert(path, Live{entry.pcm, false});
}

bool PcmCache::contains(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_entries.contains(path);
}

std::optional<PcmCacheEntry> PcmCache::find(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.constFind(path);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}

std::optional<PcmCacheEntry> PcmCache::take(const QString& path)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return std::nullopt;
    PcmCacheEntry entry = *it;
    m_entries.erase(it);
    return entry;
}

void PcmCache::remove(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_entries.remove(path);
}

void PcmCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

qint64 PcmCache::memoryUsage() const
{
    std::lock_guard lock(m_mutex);
    return usedLocked();
}

QStringList PcmCache::paths() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.keys();
}

std::shared_ptr<PcmBuffer> PcmCache::liveLocked(const QString& path)
{
    const auto it = m_live.find(path);
    if (it == m_live.end())
        return nullptr;
    std::shared_ptr<PcmBuffer> pcm = it->pcm.lock();
    if (!pcm) {
        m_live.erase(it);
        return nullptr;
    }
    return usable(*pcm) ? pcm : nullptr;
}

std::shared_ptr<PcmBuffer> PcmCache::beginDecodeLocked(const QString& path, qint64 expectedFrames, bool forCache)
{
    auto pcm = std::make_shared<PcmBuffer>(expectedFrames);
    m_live.insert(path, Live{pcm, forCache});
    return pcm;
}

PcmCache::Claim PcmCache::claim(const QString& path, qint64 expectedFrames, Use use)
{
    std::lock_guard lock(m_mutex);
    if (const auto it = m_entries.find(path); it != m_entries.end()) {
        std::shared_ptr<PcmBuffer> pcm = it->pcm;
        if (use == Use::Take)
            m_entries.erase(it);
        m_live.insert(path, Live{pcm, false});
        return Claim{pcm, false};
    }
    if (std::shared_ptr<PcmBuffer> pcm = liveLocked(path)) {
        // A preload taken over by the playback belongs to it from now on; it
        // comes back to the cache when the playback lets it go.
        if (use == Use::Take)
            m_live[path].forCache = false;
        return Claim{pcm, false};
    }
    return Claim{beginDecodeLocked(path, expectedFrames, false), true};
}

std::shared_ptr<PcmBuffer> PcmCache::beginPreload(const QString& path, qint64 expectedFrames)
{
    std::lock_guard lock(m_mutex);
    if (m_entries.contains(path) || liveLocked(path))
        return nullptr;
    return beginDecodeLocked(path, expectedFrames, true);
}

void PcmCache::decodeFinished(const QString& path, const std::shared_ptr<PcmBuffer>& buffer)
{
    if (!buffer)
        return;
    std::lock_guard lock(m_mutex);
    const auto it = m_live.find(path);
    if (it == m_live.end() || it->pcm.lock() != buffer || !it->forCache)
        return;
    it->forCache = false;
    const qint64 frames = buffer->frames();
    if (buffer->endReached() && frames > 0)
        storeLocked(path, PcmCacheEntry{buffer, frames, PcmBuffer::framesToMs(frames)});
}

void PcmCache::abandon(const std::shared_ptr<PcmBuffer>& buffer)
{
    if (!buffer || !buffer->isFilling())
        return;
    std::lock_guard lock(m_mutex);
    for (const Live& live : std::as_const(m_live)) {
        if (live.forCache && live.pcm.lock() == buffer)
            return;  // a preload: the cache still wants it
    }
    buffer->requestCancel();
}
