#include "lists/WaveformParseJob.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <vector>

namespace {

// A parse function the test drives: each parse waits on its pool thread
// until the test lets it finish (or its job is cancelled, as the real parser
// does at its next check), and records what happened.
class ScriptedParser {
public:
    WaveformParser::Result operator()(const QString& path, WaveformParseJob& job)
    {
        std::unique_lock lock(m_mutex);
        m_started.append(path);
        m_maxRunning = std::max(m_maxRunning, ++m_running);
        for (;;) {
            if (m_released.remove(path) || m_releaseAll)
                break;
            if (job.isCancelled() && !m_stubborn.contains(path)) {
                m_cancelled.append(path);
                --m_running;
                m_changed.notify_all();
                return {};
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        --m_running;
        m_changed.notify_all();
        return m_results.value(path, WaveformParser::Result{QList<float>(2000, 0.5f), 90000});
    }

    void release(const QString& path)
    {
        std::lock_guard lock(m_mutex);
        m_released.insert(path);
        m_changed.notify_all();
    }
    void releaseAll()
    {
        std::lock_guard lock(m_mutex);
        m_releaseAll = true;
        m_changed.notify_all();
    }
    // Keeps decoding after a cancel, like a parse between two checks.
    void ignoreCancel(const QString& path)
    {
        std::lock_guard lock(m_mutex);
        m_stubborn.insert(path);
    }
    void setResult(const QString& path, const WaveformParser::Result& result)
    {
        std::lock_guard lock(m_mutex);
        m_results.insert(path, result);
    }
    QStringList started() const
    {
        std::lock_guard lock(m_mutex);
        return m_started;
    }
    QStringList cancelled() const
    {
        std::lock_guard lock(m_mutex);
        return m_cancelled;
    }
    int running() const
    {
        std::lock_guard lock(m_mutex);
        return m_running;
    }
    int maxRunning() const
    {
        std::lock_guard lock(m_mutex);
        return m_maxRunning;
    }

private:
    // Standard primitives: Qt's wait releases the mutex where ThreadSanitizer
    // cannot see it.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_started;
    QStringList m_cancelled;
    QSet<QString> m_released;
    QSet<QString> m_stubborn;
    QHash<QString, WaveformParser::Result> m_results;
    bool m_releaseAll = false;
    int m_running = 0;
    int m_maxRunning = 0;
};

}  // namespace

// The background queue that gives cues their waveform peaks: order and
// priority, displaced parses, duplicates, deleted cues, what a result changes
// on the cue, and the cancel that reaches the real parser.
class WaveformParseQueueTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::vector<std::unique_ptr<Cue>> cues;
    std::shared_ptr<ScriptedParser> parser;
    std::unique_ptr<WaveformParseQueue> queue;

    Cue* makeCue(const QString& name, qint64 durationMs = 90000, bool fileExists = true);
    void useScriptedParser();
    // Lets every parse finish and waits until the queue is idle.
    void drain();

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void knownPeaksStartNoParse();
    void selectedCueDisplacesTheRunningParse();
    void selectingTheRunningCueChangesNothing();
    void cueIsNeverQueuedTwice();
    void statusNamesTheCueAndWhatRemains();
    void loadTakesStoredPeaksAndQueuesTheRest();
    void resultCorrectsTheLength_data();
    void resultCorrectsTheLength();
    void failedParseIsTriedAgainLater();
    void clearedCacheFetchesAgain();
    void cueDeletedMidParse_data();
    void cueDeletedMidParse();
    void displacedParsesDoNotPileUp_data();
    void displacedParsesDoNotPileUp();
    void clearingTheQueueCancelsTheRunningParse();
    void destroyingTheQueueEndsTheRunningParse();
    void realParserStopsWhenCancelled();
};

Cue* WaveformParseQueueTest::makeCue(const QString& name, qint64 durationMs, bool fileExists)
{
    const QString path = dir.filePath(name + ".wav");
    if (fileExists) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("RIFF");
    } else {
        QFile::remove(path);
    }
    auto cue = std::make_unique<Cue>(-1, name, path);
    cue->setColor("#4a5a6a");
    cue->setDuration(durationMs);
    cue->saveToDatabase(false);
    cues.push_back(std::move(cue));
    return cues.back().get();
}

void WaveformParseQueueTest::useScriptedParser()
{
    parser = std::make_shared<ScriptedParser>();
    queue->setParseFunction([p = parser](const QString& path, WaveformParseJob& job) { return (*p)(path, job); });
}

void WaveformParseQueueTest::drain()
{
    parser->releaseAll();
    QTRY_VERIFY(!queue->isParsing() && queue->windingDownCount() == 0);
}

void WaveformParseQueueTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(DatabaseManager::instance()->initialize(dir.filePath("queue.db")));
}

void WaveformParseQueueTest::init()
{
    queue = std::make_unique<WaveformParseQueue>();
    useScriptedParser();
}

void WaveformParseQueueTest::cleanup()
{
    if (parser)
        parser->releaseAll();
    queue.reset();
    cues.clear();
}

void WaveformParseQueueTest::knownPeaksStartNoParse()
{
    Cue* drawn = makeCue("drawn");
    drawn->setWaveform(QList<float>(2000, 0.25f));
    Cue* missing = makeCue("missing", 90000, false);
    queue->enqueueWaveformParse(drawn, true);
    queue->enqueueWaveformParse(missing, true);
    queue->enqueueWaveformParse(nullptr, false);
    QVERIFY(queue->hasCachedWaveform(drawn));
    QCOMPARE(queue->cachedWaveform(drawn), drawn->waveform());
    QVERIFY(!queue->hasCachedWaveform(missing));
    QVERIFY(!queue->isParsing());

    // Cached: asked again, nothing starts even after the cue's own list went.
    drawn->setWaveform({});
    queue->enqueueWaveformParse(drawn, true);
    QVERIFY(!queue->isParsing());
    QTest::qWait(20);
    QVERIFY(parser->started().isEmpty());
}

void WaveformParseQueueTest::selectedCueDisplacesTheRunningParse()
{
    // A displaced parse winds down beside the next one; on a two-thread pool
    // it must end first instead (displacedParsesDoNotPileUp).
    const int poolBefore = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(8);
    const auto restorePool = qScopeGuard([poolBefore] { QThreadPool::globalInstance()->setMaxThreadCount(poolBefore); });
    Cue* a = makeCue("a");
    Cue* b = makeCue("b");
    Cue* c = makeCue("c");
    queue->loadOrParse({a, b, c});
    QTRY_COMPARE(parser->started(), QStringList{a->filePath()});
    QCOMPARE(queue->parsingCue(), a);

    queue->enqueueWaveformParse(c, true);
    QCOMPARE(queue->parsingCue(), c);
    QCOMPARE(queue->queuedCues(), (QList<Cue*>{b, a}));  // the displaced cue again, last
    QTRY_COMPARE(parser->cancelled(), QStringList{a->filePath()});

    drain();
    QCOMPARE(parser->started(), (QStringList{a->filePath(), c->filePath(), b->filePath(), a->filePath()}));
    for (Cue* cue : {a, b, c}) {
        QVERIFY(queue->hasCachedWaveform(cue));
        QVERIFY(!queue->isPending(cue));
    }
}

void WaveformParseQueueTest::selectingTheRunningCueChangesNothing()
{
    Cue* a = makeCue("a");
    Cue* b = makeCue("b");
    queue->loadOrParse({a, b});
    QTRY_COMPARE(parser->started().size(), 1);
    queue->enqueueWaveformParse(a, true);
    QCOMPARE(queue->parsingCue(), a);
    QCOMPARE(queue->queuedCues(), QList<Cue*>{b});
    QTest::qWait(20);
    QVERIFY(parser->cancelled().isEmpty());
    drain();
    QCOMPARE(parser->started().size(), 2);
}

void WaveformParseQueueTest::cueIsNeverQueuedTwice()
{
    Cue* a = makeCue("a");
    Cue* b = makeCue("b");
    queue->enqueueWaveformParse(a, false);
    QTRY_COMPARE(parser->started().size(), 1);
    queue->enqueueWaveformParse(b, false);
    queue->enqueueWaveformParse(a, false);  // being parsed
    queue->enqueueWaveformParse(b, false);  // queued
    queue->loadOrParse({a, b, b});
    QCOMPARE(queue->queuedCues(), QList<Cue*>{b});
    queue->enqueueWaveformParse(b, true);  // moved to the front, not added
    queue->enqueueWaveformParse(b, true);
    drain();
    QCOMPARE(parser->started().count(b->filePath()), 1);
    QCOMPARE(parser->started().count(a->filePath()), 2);  // displaced once, parsed again
}

void WaveformParseQueueTest::statusNamesTheCueAndWhatRemains()
{
    Cue* first = makeCue("first.take");
    first->setAlias("Overture.v2");
    Cue* second = makeCue("second");
    Cue* third = makeCue("third");
    QSignalSpy status(queue.get(), &WaveformParseQueue::waveformParseStatus);
    QSignalSpy updated(queue.get(), &WaveformParseQueue::waveformUpdated);
    queue->loadOrParse({first, second, third});
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().at(0).toString(), QString("正在解析波形: Overture (剩余 2)"));
    QCOMPARE(status.first().at(1).toInt(), 2000);

    parser->release(first->filePath());
    QTRY_COMPARE(updated.size(), 1);
    QCOMPARE(updated.first().at(0).value<Cue*>(), first);
    QCOMPARE(status.at(1).at(0).toString(), QString("波形解析完成: Overture"));
    QCOMPARE(status.at(1).at(1).toInt(), 1500);
    QCOMPARE(status.at(2).at(0).toString(), QString("正在解析波形: second (剩余 1)"));
    drain();
}

void WaveformParseQueueTest::loadTakesStoredPeaksAndQueuesTheRest()
{
    Cue* stored = makeCue("stored");
    const QList<float> peaks(2000, 0.75f);
    QVERIFY(DatabaseManager::instance()->saveWaveformDataCompressed(stored->id(), 2000, peaks));
    Cue* drawn = makeCue("drawn");
    drawn->setWaveform(QList<float>(2000, 0.25f));
    Cue* bare = makeCue("bare");

    queue->loadOrParse({stored, nullptr, drawn, bare});
    QVERIFY(queue->hasCachedWaveform(stored));
    QCOMPARE(stored->waveform().size(), 2000);
    QVERIFY(!stored->waveformDirty());  // nothing to write back
    QVERIFY(queue->hasCachedWaveform(drawn));
    QCOMPARE(queue->parsingCue(), bare);
    drain();
    QCOMPARE(parser->started(), QStringList{bare->filePath()});

    // The parsed peaks went to the database with the cue.
    QList<float> saved;
    int points = 0;
    QVERIFY(DatabaseManager::instance()->loadWaveformDataCompressed(bare->id(), saved, &points));
    QCOMPARE(saved.size(), 2000);
}

void WaveformParseQueueTest::resultCorrectsTheLength_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<qint64>("parsed");
    QTest::addColumn<qint64>("durationAfter");
    QTest::addColumn<qint64>("loopEndAfter");

    QTest::newRow("imported without length") << qint64(0) << qint64(0) << qint64(0) << qint64(123456)
                                             << qint64(123456) << qint64(123456);
    QTest::newRow("region ended at the old end") << qint64(100000) << qint64(5000) << qint64(100000)
                                                 << qint64(120000) << qint64(120000) << qint64(120000);
    QTest::newRow("region inside the file kept") << qint64(100000) << qint64(5000) << qint64(60000)
                                                 << qint64(120000) << qint64(100000) << qint64(60000);
    QTest::newRow("parse without length changes nothing") << qint64(0) << qint64(0) << qint64(0) << qint64(0)
                                                           << qint64(0) << qint64(0);
}

void WaveformParseQueueTest::resultCorrectsTheLength()
{
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(qint64, parsed);
    QFETCH(qint64, durationAfter);
    QFETCH(qint64, loopEndAfter);

    Cue* cue = makeCue("imported", duration);
    if (loopEnd > 0)
        cue->setLoopRange(loopStart, loopEnd, false);
    parser->setResult(cue->filePath(), {QList<float>(2000, 0.5f), parsed});
    QSignalSpy measured(queue.get(), &WaveformParseQueue::durationParsed);
    queue->enqueueWaveformParse(cue, false);
    drain();
    QCOMPARE(cue->durationMs(), durationAfter);
    QCOMPARE(cue->loopEndMs(), loopEndAfter);
    QCOMPARE(measured.size(), parsed > 0 ? 1 : 0);
    Cue stored;
    QVERIFY(stored.loadFromDatabase(cue->id()));
    QCOMPARE(stored.durationMs(), durationAfter);
}

void WaveformParseQueueTest::failedParseIsTriedAgainLater()
{
    Cue* cue = makeCue("broken");
    parser->setResult(cue->filePath(), {{}, 0});
    QSignalSpy updated(queue.get(), &WaveformParseQueue::waveformUpdated);
    queue->enqueueWaveformParse(cue, false);
    drain();
    QVERIFY(!queue->hasCachedWaveform(cue));
    QVERIFY(!queue->isPending(cue));
    QCOMPARE(updated.size(), 0);
    queue->enqueueWaveformParse(cue, false);
    drain();
    QCOMPARE(parser->started().size(), 2);
}

void WaveformParseQueueTest::clearedCacheFetchesAgain()
{
    Cue* cue = makeCue("cached");
    queue->enqueueWaveformParse(cue, false);
    drain();
    QVERIFY(queue->hasCachedWaveform(cue));
    queue->clearWaveformCache();
    QVERIFY(!queue->hasCachedWaveform(cue));
    // The cue still has its own peaks: taken from there, not parsed again.
    queue->enqueueWaveformParse(cue, false);
    QVERIFY(queue->hasCachedWaveform(cue));
    QCOMPARE(parser->started().size(), 1);
}

void WaveformParseQueueTest::cueDeletedMidParse_data()
{
    QTest::addColumn<bool>("registryTellsUs");
    QTest::newRow("removed through the registry") << true;
    QTest::newRow("object just deleted") << false;
}

void WaveformParseQueueTest::cueDeletedMidParse()
{
    QFETCH(bool, registryTellsUs);
    Cue* doomed = makeCue("doomed");
    Cue* next = makeCue("next");
    Cue* queuedThenDeleted = makeCue("queued");
    queue->loadOrParse({doomed, queuedThenDeleted, next});
    QTRY_COMPARE(parser->started().size(), 1);

    QSignalSpy updated(queue.get(), &WaveformParseQueue::waveformUpdated);
    for (Cue* gone : {queuedThenDeleted, doomed}) {
        if (registryTellsUs)
            queue->forgetCue(gone);
        auto it = std::find_if(cues.begin(), cues.end(), [gone](const auto& owned) { return owned.get() == gone; });
        cues.erase(it);
    }
    // Told in time, the queue stops the parse of a cue that is gone.
    if (registryTellsUs)
        QTRY_COMPARE(parser->cancelled(), QStringList{dir.filePath("doomed.wav")});
    drain();
    // Nothing was written into the deleted cues; the queue went on.
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.first().at(0).value<Cue*>(), next);
    QVERIFY(queue->hasCachedWaveform(next));
    QVERIFY(!parser->started().contains(dir.filePath("queued.wav")));
}

void WaveformParseQueueTest::displacedParsesDoNotPileUp_data()
{
    QTest::addColumn<int>("poolThreads");
    QTest::addColumn<int>("atOnce");
    QTest::newRow("eight pool threads") << 8 << 1 + WaveformParseQueue::kMaxWindingDown;
    // Two parses would hold the whole pool, and Qt's painting waits for
    // jobs it puts there: a displaced parse ends before the next starts.
    QTest::newRow("two pool threads") << 2 << 1;
}

void WaveformParseQueueTest::displacedParsesDoNotPileUp()
{
    QFETCH(int, poolThreads);
    QFETCH(int, atOnce);
    const int poolBefore = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(poolThreads);
    const auto restorePool = qScopeGuard([poolBefore] { QThreadPool::globalInstance()->setMaxThreadCount(poolBefore); });
    QList<Cue*> list;
    for (int i = 0; i < 5; ++i) {
        list.append(makeCue(QStringLiteral("long%1").arg(i)));
        parser->ignoreCancel(list.last()->filePath());
    }
    // The operator clicks through five long cues faster than they parse:
    // the first ones start decoding, the others wait for a displaced one to
    // wind down.
    for (int i = 0; i < list.size(); ++i) {
        queue->enqueueWaveformParse(list[i], true);
        if (i < atOnce)
            QTRY_COMPARE(parser->started().size(), i + 1);
    }
    QTest::qWait(50);
    QCOMPARE(parser->started().size(), atOnce);
    QCOMPARE(parser->running(), atOnce);
    QVERIFY(!queue->isParsing());
    // The last one clicked is what the queue goes for next.
    QCOMPARE(queue->queuedCues().first(), list.last());

    drain();
    QVERIFY(parser->maxRunning() <= atOnce);
    for (Cue* cue : list)
        QVERIFY(queue->hasCachedWaveform(cue));
}

void WaveformParseQueueTest::clearingTheQueueCancelsTheRunningParse()
{
    Cue* a = makeCue("a");
    Cue* b = makeCue("b");
    queue->loadOrParse({a, b});
    QTRY_COMPARE(parser->started().size(), 1);
    QSignalSpy updated(queue.get(), &WaveformParseQueue::waveformUpdated);
    queue->stopWaveformParsing();
    QVERIFY(!queue->isParsing());
    QVERIFY(queue->queuedCues().isEmpty());
    QVERIFY(!queue->isPending(a) && !queue->isPending(b));
    QTRY_COMPARE(parser->cancelled(), QStringList{a->filePath()});
    QTRY_COMPARE(queue->windingDownCount(), 0);
    QCOMPARE(updated.size(), 0);

    // The queue works again afterwards.
    queue->enqueueWaveformParse(b, false);
    drain();
    QVERIFY(queue->hasCachedWaveform(b));
}

void WaveformParseQueueTest::destroyingTheQueueEndsTheRunningParse()
{
    Cue* a = makeCue("a");
    queue->enqueueWaveformParse(a, false);
    QTRY_COMPARE(parser->running(), 1);
    queue.reset();
    QCOMPARE(parser->running(), 0);
    QCOMPARE(parser->cancelled(), QStringList{a->filePath()});
}

void WaveformParseQueueTest::realParserStopsWhenCancelled()
{
    // Ten minutes: the parser looks for a stop request every 100 chunks, a
    // few times over this length.
    const QString path = dir.filePath("long.wav");
    TestAudio::WavSpec spec;
    spec.sampleRate = 8000;
    spec.channels = 1;
    spec.seconds = 600;
    QVERIFY(TestAudio::writeWav(path, spec));

    {
        WaveformParseJob job;
        const WaveformParser::Result whole = WaveformParseQueue::parseFile(path, job);
        QCOMPARE(whole.peaks.size(), 2000);
        QVERIFY(whole.durationMs > 590000);
    }
    {
        WaveformParseJob job;
        job.cancel();
        QVERIFY(WaveformParseQueue::parseFile(path, job).peaks.isEmpty());
    }
    {
        // Cancelled while it runs on another thread.
        WaveformParseJob job;
        WaveformParser::Result result{{1.0f}, 1};
        std::unique_ptr<QThread> thread(
            QThread::create([&] { result = WaveformParseQueue::parseFile(path, job); }));
        thread->start();
        QTest::qWait(20);  // the whole file takes several times longer
        job.cancel();
        QVERIFY(thread->wait(30000));
        QVERIFY(result.peaks.isEmpty());
    }
}

QTEST_MAIN(WaveformParseQueueTest)
#include "WaveformParseQueueTest.moc"
