#pragma once

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <limits>
#include <memory>
#include <mutex>
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
// memory the system still has. What is furthest from being played leaves
// first: files outside the play order (the oldest of them first), then the
// play order from its far end; the playing and the next file never leave.
//
// It also knows every decoded buffer that is still alive, in the cache or
// not, complete or still being filled: whoever needs a file (the playback,
// a crossfade, the preloader) claims it here and shares the buffer that
// exists instead of decoding the file a second time. Any thread may use it.
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

    // The files in the order they are expected to play, the playing one
    // first; files not listed are the furthest from being played.
    void setPlayOrder(const QStringList& paths);
    // path starts playing: it goes to the head of the play order and
    // leaving, just played, drops out of it.
    void setPlaying(const QString& path, const QString& leaving);
    QStringList playOrder() const;

    // Removes entries, furthest from being played first, until neededBytes
    // more fit in the budget. Nothing is evicted before the budget has been
    // measured.
    void evictCacheFor(qint64 neededBytes);
    // Makes room for neededBytes of path by evicting only what is further
    // from being played than path itself (never the playing or the next
    // file). False when that is not enough; nothing is evicted then.
    bool makeRoomFor(const QString& path, qint64 neededBytes);
    // Makes room for the entry, then stores it (replacing one of that path).
    // An entry that does not fit without evicting what plays sooner is not
    // stored; false then.
    bool store(const QString& path, const PcmCacheEntry& entry);

    bool contains(const QString& path) const;
    std::optional<PcmCacheEntry> find(const QString& path) const;
    std::optional<PcmCacheEntry> take(const QString& path);
    void remove(const QString& path);
    void clear();
    qint64 memoryUsage() const;
    QStringList paths() const;

    // --- one buffer per file ---
    enum class Use {
        Take,   // the playback takes the data over: a cache entry leaves the cache
        Share,  // read alongside others: a cache entry stays
    };
    struct Claim {
        std::shared_ptr<PcmBuffer> pcm;
        bool mustDecode = false;  // a new, empty buffer: the caller fills it
    };
    // The data of path: the cached entry, or a buffer of it that is alive
    // elsewhere (possibly still filling), or else a new empty buffer sized
    // for expectedFrames that the caller must decode into (and report with
    // decodeFinished).
    Claim claim(const QString& path, qint64 expectedFrames, Use use);
    // For the preloader: a new buffer to decode path into, or null when the
    // file is cached or already alive somewhere. Its result enters the cache
    // unless the playback takes it over meanwhile.
    std::shared_ptr<PcmBuffer> beginPreload(const QString& path, qint64 expectedFrames);
    // The decode into buffer has ended; a preload that is still wanted
    // enters the cache.
    void decodeFinished(const QString& path, const std::shared_ptr<PcmBuffer>& buffer);
    // The caller no longer needs buffer: a decode nobody else waits for is
    // cancelled.
    void abandon(const std::shared_ptr<PcmBuffer>& buffer);

private:
    struct Live {
        std::weak_ptr<PcmBuffer> pcm;
        bool forCache = false;  // a preload: its result goes into the cache
    };

    static constexpr int kUnranked = std::numeric_limits<int>::max();
    // Ranks 0 and 1, the playing and the next file, are never evicted.
    static constexpr int kLastProtectedRank = 1;

    qint64 usedLocked() const;
    int rankLocked(const QString& path) const;
    // The cached paths that may leave for an entry of the given rank, the
    // first to leave first.
    QStringList evictionOrderLocked(int rankOfNewEntry) const;
    // Evicts for neededBytes among entries ranked further than rankOfNewEntry;
    // false (and nothing evicted) when that cannot make the room.
    bool evictLocked(qint64 neededBytes, int rankOfNewEntry);
    // Removes entries in the given order until used bytes fit the limit.
    void evictInOrderLocked(const QStringList& order, qint64 limit, qint64 used);
    bool storeLocked(const QString& path, const PcmCacheEntry& entry);
    std::shared_ptr<PcmBuffer> liveLocked(const QString& path);
    std::shared_ptr<PcmBuffer> beginDecodeLocked(const QString& path, qint64 expectedFrames, bool forCache);

    MemoryProbe m_availableMemory;
    // A standard mutex, not a QMutex: a buffer made on one thread under it
    // and taken on another is handed over through it, and ThreadSanitizer
    // follows a standard mutex but not a QMutex waited for inside QtCore.
    mutable std::mutex m_mutex;
    QMap<QString, PcmCacheEntry> m_entries;
    QHash<QString, Live> m_live;
    QStringList m_playOrder;
    QHash<QString, int> m_rank;        // position in m_playOrder
    QHash<QString, quint64> m_storedAt;  // store sequence: the oldest unranked entry leaves first
    quint64 m_storeCount = 0;
    qint64 m_budgetBytes = 0;
};
