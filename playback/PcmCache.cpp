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

void PcmCache::setPlayOrder(const QStringList& paths)
{
    std::lock_guard lock(m_mutex);
    m_playOrder.clear();
    m_rank.clear();
    for (const QString& path : paths) {
        if (path.isEmpty() || m_rank.contains(path))
            continue;
        m_rank.insert(path, int(m_playOrder.size()));
        m_playOrder.append(path);
    }
}

void PcmCache::setPlaying(const QString& path, const QString& leaving)
{
    QStringList order = playOrder();
    if (!leaving.isEmpty() && leaving != path)
        order.removeAll(leaving);
    if (!path.isEmpty()) {
        order.removeAll(path);
        order.prepend(path);
    }
    setPlayOrder(order);
}

QStringList PcmCache::playOrder() const
{
    std::lock_guard lock(m_mutex);
    return m_playOrder;
}

int PcmCache::rankLocked(const QString& path) const
{
    return m_rank.value(path, kUnranked);
}

QStringList PcmCache::evictionOrderLocked(int rankOfNewEntry) const
{
    const int bound = std::max(rankOfNewEntry, kLastProtectedRank);
    QStringList unranked;
    QList<QPair<int, QString>> ranked;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const int rank = rankLocked(it.key());
        if (rank == kUnranked)
            unranked.append(it.key());
        else if (rank > bound)
            ranked.append({rank, it.key()});
    }
    std::sort(unranked.begin(), unranked.end(), [this](const QString& a, const QString& b) {
        return m_storedAt.value(a) < m_storedAt.value(b);
    });
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& entry : std::as_const(ranked))
        unranked.append(entry.second);
    return unranked;
}

void PcmCache::evictCacheFor(qint64 neededBytes)
{
    std::lock_guard lock(m_mutex);
    if (m_budgetBytes < 1)
        return;
    // As much as may go, even when that is not enough.
    evictInOrderLocked(evictionOrderLocked(-1), m_budgetBytes - neededBytes, usedLocked());
}

void PcmCache::evictInOrderLocked(const QStringList& order, qint64 limit, qint64 used)
{
    for (const QString& path : order) {
        if (limit >= used)
            break;
        used -= m_entries.value(path).bytes();
        m_entries.remove(path);
        m_storedAt.remove(path);
    }
}

bool PcmCache::makeRoomFor(const QString& path, qint64 neededBytes)
{
    std::lock_guard lock(m_mutex);
    return evictLocked(neededBytes, rankLocked(path));
}

bool PcmCache::evictLocked(qint64 neededBytes, int rankOfNewEntry)
{
    if (m_budgetBytes < 1)
        return true;
    qint64 used = usedLocked();
    const qint64 limit = m_budgetBytes - neededBytes;
    if (limit >= used)
        return true;
    const QStringList order = evictionOrderLocked(rankOfNewEntry);
    qint64 freeable = 0;
    for (const QString& path : order)
        freeable += m_entries.value(path).bytes();
    if (limit < used - freeable)
        return false;  // only what plays sooner would make the room
    evictInOrderLocked(order, limit, used);
    return true;
}

bool PcmCache::store(const QString& path, const PcmCacheEntry& entry)
{
    if (path.isEmpty() || !entry.pcm)
        return false;
    std::lock_guard lock(m_mutex);
    return storeLocked(path, entry);
}

bool PcmCache::storeLocked(const QString& path, const PcmCacheEntry& entry)
{
    // A replaced entry of the same path does not count against its successor.
    const auto old = m_entries.constFind(path);
    const qint64 replaced = old != m_entries.cend() ? old->bytes() : 0;
    if (!evictLocked(entry.bytes() - replaced, rankLocked(path)))
        return false;
    m_entries.insert(path, entry);
    m_storedAt.insert(path, ++m_storeCount);
    m_live.insert(path, Live{entry.pcm, false});
    return true;
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
    m_storedAt.remove(path);
    return entry;
}

void PcmCache::remove(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_entries.remove(path);
    m_storedAt.remove(path);
}

void PcmCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_storedAt.clear();
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
        if (use == Use::Take) {
            m_entries.erase(it);
            m_storedAt.remove(path);
        }
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
