#include "audiofile/PcmBuffer.h"
#include "model/Cue.h"
#include "playback/AudioOutputDevice.h"
#include "playback/PlaybackEngine.h"
#include "support/TestAudio.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstddef>
#include <memory>

// Every heap call of the process passes through here, so the test sees any
// allocation or release made while the audio device is locked (the callback
// waits then). Sanitizers bring their own allocator: the test is skipped there.
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define CORVELLE_COUNTS_HEAP_CALLS 1

namespace {
std::atomic<int> g_heapCallsUnderLock{0};

inline void noteHeapCall()
{
    if (AudioOutputDevice::Lock::isHeldByThisThread())
        g_heapCallsUnderLock.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size)
{
    noteHeapCall();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    noteHeapCall();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size)
{
    noteHeapCall();
    return __libc_realloc(pointer, size);
}
void free(void* pointer)
{
    if (pointer)
        noteHeapCall();
    __libc_free(pointer);
}
}
#endif

namespace {

std::unique_ptr<Cue> makeCue(int id, const QString& path, qint64 durationMs)
{
    auto cue = std::make_unique<Cue>(id, QFileInfo(path).baseName(), path);
    cue->setLoading(true);
    cue->setDuration(durationMs);
    cue->setLoading(false);
    cue->clearDirty();
    return cue;
}

}  // namespace

// Nothing the engine does with the device locked may allocate or free
// memory: the audio callback waits for the lock meanwhile.
class DeviceLockTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nothingIsAllocatedOrFreedUnderTheDeviceLock();
};

void DeviceLockTest::nothingIsAllocatedOrFreedUnderTheDeviceLock()
{
#ifndef CORVELLE_COUNTS_HEAP_CALLS
    QSKIP("the sanitizer's allocator cannot be watched");
#else
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        TestAudio::WavSpec spec;
        spec.seconds = 3.0;
        spec.frequency = 330.0 + 110.0 * i;
        paths.append(dir.filePath(QStringLiteral("lock%1.wav").arg(i)));
        QVERIFY(TestAudio::writeWav(paths.last(), spec));
    }
    auto a = makeCue(1, paths[0], 3000);
    auto b = makeCue(2, paths[1], 3000);
    auto c = makeCue(3, paths[2], 3000);
    auto d = makeCue(4, paths[3], 3000);

    PlaybackEngine engine;
    // Decodes that take their time, so that some are replaced while they run.
    engine.setDecodeFunction([](const QString& path, PcmBuffer& out) {
        QThread::msleep(100);
        decodeFileToBuffer(path, out);
    });
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 300;
    g_heapCallsUnderLock = 0;

    // A cold start, replaced while it decodes, then the same file again.
    QVERIFY(engine.loadCue(a.get()));
    QVERIFY(engine.loadCue(b.get()));
    QVERIFY(engine.loadCue(a.get()));
    engine.play();
    QTRY_VERIFY(engine.getPeakLevel() > 0.1f);
    engine.seek(1000);
    engine.pause();
    engine.play();
    a->setFadeEnabled(true);  // a live edit of the playing cue
    QTest::qWait(50);

    // A crossfade into a cue that is still decoding, taken over when its data
    // has come; the mix hands over inside the callback.
    QSignalSpy ready(&engine, &PlaybackEngine::crossfadeDecodeReady);
    QVERIFY(engine.startCrossfade(c.get()));
    QVERIFY(ready.wait(3000));
    QVERIFY(engine.startCrossfade(c.get()));
    QTRY_VERIFY(!engine.isCrossfading());

    // A crossfade whose outgoing cue is deleted mid-mix, then one cut off by
    // another.
    engine.prioritizePreload(d.get());
    QTRY_VERIFY(engine.isCached(paths[3]));
    QVERIFY(engine.startCrossfade(d.get()));
    c.reset();
    QTRY_VERIFY(!engine.isCrossfading());
    QVERIFY(engine.startCrossfade(b.get()));
    QVERIFY(engine.startCrossfade(nullptr));
    QTest::qWait(50);
    engine.stop();
    QVERIFY(engine.loadCue(d.get()));
    engine.play();
    QTest::qWait(50);
    engine.stop();

    QCOMPARE(g_heapCallsUnderLock.load(), 0);
    a->clearDirty();
#endif
}

QTEST_GUILESS_MAIN(DeviceLockTest)
#include "DeviceLockTest.moc"
