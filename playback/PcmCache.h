#pragma once

#include <QMap>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class PcmBuffer;

// One decoded file in the cache. Its size counts 4 bytes per float.
struct PcmCacheEntry {
    std::shared_ptr<PcmBuffer> pcm;
    qint64 frames = 0;
    qint64 durationMs = 0;
    qint64 bytes() const { return frames * 2 * qint64(sizeof(float)); }
};

// Decoded files kept in memory by file path, so a cue that was played or
// preloaded starts without decoding again. Bounded by a budget taken from the
// memory the system still has; eviction goes by path order. Any thread may
// use it; every access takes the cache's own recursive lock.
class PcmCache {
public:
    static constexpr qint64 kMinBudgetBytes = 256LL * 1024 * 1024;
    static constexpr qint64 kMaxBudgetBytes = 2048LL * 1024 * 1024;

    // Available physical memory in bytes, or -1 when unknown.
    using MemoryProbe = std::function<qint64()>;

    explicit PcmCache(MemoryProbe availableMemory = {});

    // 60 % of the available memory, within 256 MiB..2 GiB; 2 GiB when the
    // memory cannot be read.
    void updateCacheBudget();
    void setBudgetBytes(qint64 bytes);
    qint64 budgetBytes() const;

    // Removes entries, smallest path first, until neededBytes more fit in the
    // budget. Nothing is evicted before the budget has been measured.
    void evictCacheFor(qint64 neededBytes);
    // Makes room for the entry, then stores it (replacing one of that path).
    void store(const QString& path, const PcmCacheEntry& entry);

    bool contains(const QString& path) const;
    std::optional<PcmCacheEntry> find(const QString& path) const;
    std::optional<PcmCacheEntry> take(const QString& path);
    void remove(const QString& path);
    void clear();
    qint64 memoryUsage() const;
    QStringList paths() const;

private:
    qint64 usedLocked() const;

    MemoryProbe m_availableMemory;
    mutable QRecursiveMutex m_mutex;
    QMap<QString, PcmCacheEntry> m_entries;
    qint64 m_budgetBytes = 0;
};
