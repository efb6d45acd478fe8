#include "audiofile/PcmBuffer.h"
#include "playback/PcmCache.h"
#include "playback/PcmPreloader.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

// An entry that counts as `bytes` without holding that much memory.
PcmCacheEntry entryOfSize(qint64 bytes)
{
    PcmCacheEntry entry;
    entry.pcm = std::make_shared<PcmBuffer>(0);
    entry.frames = bytes / 8;
    entry.durationMs = 1000;
    return entry;
}

// Stands in for the file decoder: records what it was asked to decode and
// can hold the first call until the test lets it go.
class FakeDecoder {
public:
    explicit FakeDecoder(bool holdFirst = false)
        : m_holdFirst(holdFirst)
    {
    }

    DecodeFunction function()
    {
        return [this](const QString& path, PcmBuffer& out) {
            bool hold = false;
            {
                QMutexLocker lock(&m_mutex);
                m_decoded.append(path);
                hold = m_holdFirst && m_decoded.size() == 1;
            }
            if (hold) {
                m_started.release();
                m_gate.acquire();
            }
            std::vector<float> samples(size_t(4410) * 2, 0.1f);
            out.append(samples.data(), 4410);
            out.finish(PcmBuffer::State::Complete);
        };
    }

    bool waitUntilHeld() { return m_started.tryAcquire(1, 5000); }
    void release() { m_gate.release(); }
    QStringList decoded() const
    {
        QMutexLocker lock(&m_mutex);
        return m_decoded;
    }

private:
    bool m_holdFirst;
    mutable QMutex m_mutex;
    QStringList m_decoded;
    QSemaphore m_started;
    QSemaphore m_gate;
};

}  // namespace

class PcmCacheTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void evictsWhatIsFurthestFromBeingPlayed_data();
    void evictsWhatIsFurthestFromBeingPlayed();
    void roomIsMadeOnlyFromWhatPlaysLater();
    void budgetFollowsAvailableMemory_data();
    void budgetFollowsAvailableMemory();
    void takeRemovesAndFindShares();
    void preloaderFillsTheCacheInQueueOrder();
    void clearingTheQueueLetsTheCurrentFileFinish();
    void shutdownLeavesAStuckDecodeToFinishAlone();
};

void PcmCacheTest::evictsWhatIsFurthestFromBeingPlayed_data()
{
    // Cached, stored in this order: /b 100 MiB, /a 100 MiB, /c 50 MiB, in a
    // budget of 300 MiB (250 used). order: the play order, the playing file
    // first (it is not cached: the playback holds it).
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<qint64>("needed");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("no order: the oldest first") << QStringList{} << 100 * kMiB << QStringList{"/a.wav", "/c.wav"};
    QTest::newRow("the far end of the order first")
        << QStringList{"/p.wav", "/a.wav", "/b.wav", "/c.wav"} << 100 * kMiB << QStringList{"/a.wav", "/b.wav"};
    QTest::newRow("outside the order before in it")
        << QStringList{"/p.wav", "/c.wav", "/b.wav"} << 100 * kMiB << QStringList{"/b.wav", "/c.wav"};
    QTest::newRow("as far as needed, no further")
        << QStringList{"/p.wav", "/b.wav", "/a.wav", "/c.wav"} << 50 * kMiB << QStringList{"/a.wav", "/b.wav", "/c.wav"};
    QTest::newRow("never the playing and the next file")
        << QStringList{"/a.wav", "/b.wav", "/c.wav"} << 400 * kMiB << QStringList{"/a.wav", "/b.wav"};
}

void PcmCacheTest::evictsWhatIsFurthestFromBeingPlayed()
{
    QFETCH(QStringList, order);
    QFETCH(qint64, needed);
    QFETCH(QStringList, remaining);
    PcmCache cache([] { return qint64(-1); });
    cache.store("/b.wav", entryOfSize(100 * kMiB));
    cache.store("/a.wav", entryOfSize(100 * kMiB));
    cache.store("/c.wav", entryOfSize(50 * kMiB));
    cache.setPlayOrder(order);
    cache.setBudgetBytes(300 * kMiB);
    cache.evictCacheFor(needed);
    QCOMPARE(cache.paths(), remaining);
}

void PcmCacheTest::roomIsMadeOnlyFromWhatPlaysLater()
{
    PcmCache cache([] { return qint64(-1); });
    cache.setBudgetBytes(300 * kMiB);
    cache.setPlayOrder({"/p.wav", "/n.wav", "/x.wav", "/y.wav", "/z.wav"});
    cache.store("/n.wav", entryOfSize(100 * kMiB));
    cache.store("/x.wav", entryOfSize(100 * kMiB));
    cache.store("/z.wav", entryOfSize(100 * kMiB));

    // /y plays before /z: /z makes room for it.
    QVERIFY(cache.makeRoomFor("/y.wav", 100 * kMiB));
    QCOMPARE(cache.paths(), (QStringList{"/n.wav", "/x.wav"}));
    QVERIFY(cache.store("/y.wav", entryOfSize(100 * kMiB)));
    // /z plays after all of them: nothing leaves for it and it is not kept.
    QVERIFY(!cache.makeRoomFor("/z.wav", 100 * kMiB));
    QVERIFY(!cache.store("/z.wav", entryOfSize(100 * kMiB)));
    QCOMPARE(cache.paths(), (QStringList{"/n.wav", "/x.wav", "/y.wav"}));

    // /n starts playing, /p has just been played: /p now leaves first.
    cache.setPlaying("/n.wav", "/p.wav");
    QCOMPARE(cache.playOrder(), (QStringList{"/n.wav", "/x.wav", "/y.wav", "/z.wav"}));
    cache.store("/p.wav", entryOfSize(50 * kMiB));
    QVERIFY(!cache.contains("/p.wav"));  // only unranked data could make room: none
    QVERIFY(cache.take("/n.wav").has_value());
    QVERIFY(cache.store("/p.wav", entryOfSize(50 * kMiB)));
    QVERIFY(cache.makeRoomFor("/z.wav", 100 * kMiB));
    QCOMPARE(cache.paths(), (QStringList{"/x.wav", "/y.wav"}));
}

void PcmCacheTest::budgetFollowsAvailableMemory_data()
{
    QTest::addColumn<qint64>("available");
    QTest::addColumn<qint64>("budget");
    QTest::newRow("60 % of 1 GiB") << 1024 * kMiB << qint64(1024 * kMiB * 0.6);
    QTest::newRow("at least 256 MiB") << 100 * kMiB << 256 * kMiB;
    QTest::newRow("at most 2 GiB") << 8192 * kMiB << 2048 * kMiB;
    QTest::newRow("unknown: 2 GiB") << qint64(-1) << 2048 * kMiB;
}

void PcmCacheTest::budgetFollowsAvailableMemory()
{
    QFETCH(qint64, available);
    QFETCH(qint64, budget);
    PcmCache cache([available] { return available; });
    QCOMPARE(cache.budgetBytes(), qint64(0));
    cache.updateCacheBudget();
    QCOMPARE(cache.budgetBytes(), budget);
}

void PcmCacheTest::takeRemovesAndFindShares()
{
    PcmCache cache;
    const PcmCacheEntry entry = entryOfSize(8000);
    cache.store("/x.flac", entry);
    QCOMPARE(cache.memoryUsage(), qint64(8000));
    QCOMPARE(cache.find("/x.flac")->pcm, entry.pcm);
    QVERIFY(cache.contains("/x.flac"));
    QCOMPARE(cache.take("/x.flac")->pcm, entry.pcm);
    QVERIFY(!cache.contains("/x.flac"));
    QVERIFY(!cache.take("/x.flac").has_value());
}

void PcmCacheTest::preloaderFillsTheCacheInQueueOrder()
{
    auto cache = std::make_shared<PcmCache>();
    FakeDecoder decoder(true);
    PcmPreloader preloader(cache, decoder.function());
    preloader.replaceQueue({{"/a.wav", 1000}, {"/b.wav", 1000}, {"/c.wav", 1000}});
    QVERIFY(decoder.waitUntilHeld());  // busy with a

    preloader.prioritize({"/c.wav", 1000});
    QCOMPARE(preloader.queuedPaths(), (QStringList{"/c.wav", "/b.wav"}));
    decoder.release();
    QTRY_COMPARE(cache->paths(), (QStringList{"/a.wav", "/b.wav", "/c.wav"}));
    QCOMPARE(decoder.decoded(), (QStringList{"/a.wav", "/c.wav", "/b.wav"}));
    QTRY_VERIFY(!preloader.isRunning());

    // A later request starts a new worker; cached files are not decoded again.
    preloader.replaceQueue({{"/a.wav", 1000}, {"/d.wav", 1000}});
    QTRY_VERIFY(cache->contains("/d.wav"));
    QTRY_VERIFY(!preloader.isRunning());
    QCOMPARE(decoder.decoded().count("/a.wav"), 1);
}

void PcmCacheTest::clearingTheQueueLetsTheCurrentFileFinish()
{
    auto cache = std::make_shared<PcmCache>();
    FakeDecoder decoder(true);
    PcmPreloader preloader(cache, decoder.function());
    preloader.replaceQueue({{"/a.wav", 1000}, {"/b.wav", 1000}});
    QVERIFY(decoder.waitUntilHeld());
    preloader.clearQueue();
    QVERIFY(!preloader.isRunning());
    decoder.release();
    QTRY_VERIFY(cache->contains("/a.wav"));
    QTest::qWait(50);
    QCOMPARE(decoder.decoded(), QStringList{"/a.wav"});
}

void PcmCacheTest::shutdownLeavesAStuckDecodeToFinishAlone()
{
    auto cache = std::make_shared<PcmCache>();
    FakeDecoder decoder(true);
    {
        PcmPreloader preloader(cache, decoder.function());
        preloader.replaceQueue({{"/a.wav", 1000}});
        QVERIFY(decoder.waitUntilHeld());
        QVERIFY(!preloader.shutdown(50));
    }
    // The worker outlives its preloader and ends on its own.
    decoder.release();
    QTest::qWait(100);
    QCOMPARE(decoder.decoded(), QStringList{"/a.wav"});
}

QTEST_GUILESS_MAIN(PcmCacheTest)
#include "PcmCacheTest.moc"
