#include "audiofile/FfmpegLibrary.h"

#include <QtTest>

#include <atomic>
#include <thread>

// The decoder's libraries are opened on first use. While the window is being
// built, a worker that asks for them waits until warmUp() (or the longest
// hold) instead of loading them then; the thread that set the hold never
// waits.
class FfmpegLibraryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aHeldWorkerWaitsForTheWarmUp();
    void theHoldingThreadLoadsAtOnce();
    void theHoldEndsByItselfAfterItsLongest();
};

namespace {

// Asks for the functions on a thread of its own; done when it has them.
struct Worker {
    std::atomic<bool> done{false};
    std::thread thread{[this] {
        if (FfmpegLibrary::functions().av_frame_alloc)
            done = true;
    }};
    ~Worker() { thread.join(); }
};

}  // namespace

void FfmpegLibraryTest::aHeldWorkerWaitsForTheWarmUp()
{
    FfmpegLibrary::holdWorkers(60000);
    Worker worker;
    QTest::qWait(300);
    QVERIFY(!worker.done);
    FfmpegLibrary::warmUp();
    QTRY_VERIFY(worker.done);
}

void FfmpegLibraryTest::theHoldingThreadLoadsAtOnce()
{
    FfmpegLibrary::holdWorkers(60000);
    QVERIFY(FfmpegLibrary::functions().avformat_open_input);
    // That ended the hold for the workers too.
    Worker worker;
    QTRY_VERIFY(worker.done);
}

void FfmpegLibraryTest::theHoldEndsByItselfAfterItsLongest()
{
    FfmpegLibrary::holdWorkers(200);
    Worker worker;
    QTRY_VERIFY_WITH_TIMEOUT(worker.done, 10000);
}

QTEST_GUILESS_MAIN(FfmpegLibraryTest)
#include "FfmpegLibraryTest.moc"
