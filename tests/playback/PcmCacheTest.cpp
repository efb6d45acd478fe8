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
    void evictsInPathOrderUntilTheRequestFits_data();
    void evictsInPathOrderUntilTheRequestFits();
    void budgetFollowsAvailableMemory_data();
    void budgetFollowsAvailableMemory();
    void takeRemovesAndFindShares();
    void preloaderFillsTheCacheInQueueOrder();
    void clearingTheQueueLetsTheCurrentFileFinish();
    void shutdownLeavesAStuckDecodeToFinishAlone();
};

void PcmCacheTest::evictsInPathOrderUntilTheRequestFits_data()
{
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("needed");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("100 MiB evicts A only") << 300 * kMiB << 100 * kMiB << QStringList{"/b.wav"};
    QTest::newRow("400 MiB evicts both") << 300 * kMiB << 400 * kMiB << QStringList{};
    QTest::newRow("50 MiB fits") << 300 * kMiB << 50 * kMiB << QStringList{"/a.wav", "/b.wav"};
    QTest::newRow("budget not measured yet") << qint64(0) << 400 * kMiB << QStringList{"/a.wav", "/b.wav"};
}

void PcmCacheTest::evictsInPathOrderUntilTheRequestFits()
{
    QFETCH(qint64, budget);
    QFETCH(qint64, needed);
    QFETCH(QStringList, remaining);
    PcmCache cache([] { return qint64(-1); });
    cache.store("/b.wav", entryOfSize(50 * kMiB));
    cache.store("/a.wav", entryOfSize(200 * kMiB));  // sorts first, however old
    cache.setBudgetBytes(budget);
    cache.evictCacheFor(needed);
    QCOMPARE(cache.paths(), remaining);
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
