#include "waveform/LoudnessMeasurement.h"
#include "waveform/WaveformParser.h"

#include "platform/PoolTask.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <functional>

namespace {

// Threads of this process right now.
int processThreads()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    }
    return -1;
}

struct Watched {
    int mostThreads = 0;
    int mostActivePoolThreads = 0;
};

// Runs work on the global pool and watches the process while it runs.
Watched runWatched(const std::function<void()>& work)
{
    QThreadPool* pool = QThreadPool::globalInstance();
    Watched seen;
    QFuture<void> future = PoolTask::run(pool, work);
    while (!future.isFinished()) {
        seen.mostThreads = std::max(seen.mostThreads, processThreads());
        seen.mostActivePoolThreads = std::max(seen.mostActivePoolThreads, pool->activeThreadCount());
        QThread::usleep(200);
    }
    return seen;
}

}  // namespace

// The global thread pool's limit bounds every thread of the background
// analyses, the codec's frame threads and the decode-ahead thread included;
// they leave one pool thread free for the short jobs of Qt's painting.
class AnalysisThreadsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;

private Q_SLOTS:
    void initTestCase();
    void startsNoThreadsWhenThePoolIsBusy_data();
    void startsNoThreadsWhenThePoolIsBusy();
    void usesIdlePoolThreadsWithinTheLimit();
};

void AnalysisThreadsTest::initTestCase()
{
    // FLAC: the codec can decode on several threads.
    TestAudio::WavSpec spec;
    spec.seconds = 120.0;
    spec.signal = TestAudio::Signal::Noise;
    m_file = m_dir.filePath("noise.flac");
    QVERIFY(TestAudio::makeFile(m_file, spec));
}

void AnalysisThreadsTest::startsNoThreadsWhenThePoolIsBusy_data()
{
    QTest::addColumn<bool>("loudness");
    QTest::newRow("waveform peaks") << false;
    QTest::newRow("loudness") << true;
}

void AnalysisThreadsTest::startsNoThreadsWhenThePoolIsBusy()
{
    QFETCH(bool, loudness);
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(2);

    // The other pool thread is at work elsewhere; this one has been started
    // before and waits for work, so any thread that appears is the analysis's.
    QSemaphore otherWorkMayEnd;
    QSemaphore otherWorkStarted;
    pool->start([&] {
        otherWorkStarted.release();
        otherWorkMayEnd.acquire();
    });
    otherWorkStarted.acquire();
    PoolTask::run(pool, [] {}).waitForFinished();
    const int before = processThreads();

    bool measured = false;
    const Watched seen = runWatched([&] {
        if (loudness) {
            measured = measureLufs(m_file) > -100.0;
        } else {
            WaveformParser parser;
            measured = parser.parse(m_file, 2000).peaks.size() == 2000;
        }
    });
    otherWorkMayEnd.release();
    QVERIFY(pool->waitForDone(10000));
    pool->setMaxThreadCount(QThread::idealThreadCount());

    QVERIFY(measured);
    QCOMPARE(seen.mostThreads, before);
}

void AnalysisThreadsTest::usesIdlePoolThreadsWithinTheLimit()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    QVERIFY(pool->waitForDone(10000));
    for (int limit : {2, 3, 8}) {
        pool->setMaxThreadCount(limit);
        double lufs = 0.0;
        const Watched seen = runWatched([&] { lufs = measureLufs(m_file); });
        QVERIFY(pool->waitForDone(10000));
        QVERIFY(lufs > -100.0);
        // Decoding ran ahead on an idle thread of the pool where one more
        // stayed free (a pool of two lends none), and never were more
        // threads busy than the pool allows less the one kept free.
        const int most = seen.mostActivePoolThreads;
        QVERIFY2(most >= (limit > 2 ? 2 : 1) && most <= limit - 1,
                 qPrintable(QStringLiteral("%1 of %2").arg(most).arg(limit)));
    }
    pool->setMaxThreadCount(QThread::idealThreadCount());
}

QTEST_GUILESS_MAIN(AnalysisThreadsTest)
#include "AnalysisThreadsTest.moc"
