#include "model/Cue.h"
#include "audiofile/PcmBuffer.h"
#include "playback/AudioOutputDevice.h"
#include "playback/PcmCache.h"
#include "playback/PlaybackEngine.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// The real decoder, counting how often each file is decoded; files named in
// `held` wait until the test lets them go.
class CountingDecoder {
public:
    DecodeFunction function()
    {
        return [this](const QString& path, PcmBuffer& out) {
            bool hold = false;
            {
                QMutexLocker lock(&m_mutex);
                ++m_counts[path];
                hold = m_held.contains(path);
            }
            if (hold) {
                m_holding.release();
                m_gate.acquire();
            }
            decodeFileToBuffer(path, out);
        };
    }

    int count(const QString& path) const
    {
        QMutexLocker lock(&m_mutex);
        return m_counts.value(path);
    }
    void hold(const QString& path)
    {
        QMutexLocker lock(&m_mutex);
        m_held.append(path);
    }
    bool waitUntilHolding() { return m_holding.tryAcquire(1, 5000); }
    void release() { m_gate.release(); }

private:
    mutable QMutex m_mutex;
    QHash<QString, int> m_counts;
    QStringList m_held;
    QSemaphore m_holding;
    QSemaphore m_gate;
};

std::unique_ptr<Cue> makeCue(int id, const QString& path, qint64 durationMs, qint64 loopStart = 0,
                             qint64 loopEnd = 0)
{
    auto cue = std::make_unique<Cue>(id, QFileInfo(path).baseName(), path);
    cue->setLoading(true);
    cue->setDuration(durationMs);
    cue->setLoopRange(loopStart, loopEnd);
    cue->setLoading(false);
    cue->clearDirty();
    return cue;
}

bool writeConstant(const QString& path, double seconds, float value)
{
    QVector<float> samples(qsizetype(seconds * 44100) * 2, value);
    return TestAudio::writeWav(path, samples, 44100, 2, TestAudio::SampleFormat::Float32);
}

}  // namespace

class PlaybackEngineTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_a, m_b, m_c, m_quiet, m_loud, m_notAudio, m_empty;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Loads a cue that is not in memory yet and waits until it is decoded.
    static bool loadAndWait(PlaybackEngine& engine, Cue* cue)
    {
        QSignalSpy completed(&engine, &PlaybackEngine::decodingCompleted);
        return engine.loadCue(cue) && completed.wait(5000);
    }

private Q_SLOTS:
    void initTestCase();
    void loadingAgainTakesTheCachedData_data();
    void loadingAgainTakesTheCachedData();
    void preloadedCueLoadsWithoutDecoding();
    void preloadingKeepsWorkingAfterACacheHit();
    void preloadSkipsCurrentUnsavedAndCachedCues();
    void decodesAheadOnlyWhatPlaysNext();
    void unplayableFileReportsErrorAndEnd_data();
    void unplayableFileReportsErrorAndEnd();
    void seekStaysInsideTheLoopRegion_data();
    void seekStaysInsideTheLoopRegion();
    void outgoingCueKeepsItsGainWhileTheNextDecodes();
    void failedIncomingDecodeFallsBackOnce();
    void loadDoesNotWaitForAStuckDecoder();
    void listsDevicesAndFallsBackToTheDefault();
    void crossfadeWithinOneFileDecodesNothing();
    void fadeToSilenceEndsTheCueOnce();
    void cueEditsTakeEffectWhilePlaying();
    void deletedCueFallsSilent();
    void decodedLengthReplacesTheStoredOne();
    void reopeningTheDeviceKeepsThePosition();
    void deletedOutgoingCueLetsTheMixFinish();
    void deviceSwitchKeepsARunningMix();
    void outgoingEndWhileTheNextDecodesIsNotReported();
};

void PlaybackEngineTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestAudio::WavSpec spec;
    spec.seconds = 2.0;
    m_a = path("a.wav");
    m_b = path("b.wav");
    m_c = path("c.flac");
    QVERIFY(TestAudio::writeWav(m_a, spec));
    spec.frequency = 660.0;
    QVERIFY(TestAudio::writeWav(m_b, spec));
    QVERIFY(TestAudio::makeFile(m_c, spec));
    m_quiet = path("quiet.wav");
    m_loud = path("loud.wav");
    QVERIFY(writeConstant(m_loud, 3.0, 0.5f));
    QVERIFY(writeConstant(m_quiet, 3.0, 0.25f));
    m_notAudio = path("notes.wav");
    QFile text(m_notAudio);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("this is not audio, just some words in a file\n");
    text.close();
    m_empty = path("empty.wav");
    QVERIFY(TestAudio::writeWav(m_empty, QVector<float>{}, 44100, 2));
}

void PlaybackEngineTest::loadingAgainTakesTheCachedData_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<int>("decodesOfA");
    QTest::addColumn<int>("decodesOfB");
    QTest::newRow("same cue twice") << "AA" << 1 << 0;
    QTest::newRow("A, B, A") << "ABA" << 1 << 1;
    QTest::newRow("A, stop, A") << "A-A" << 1 << 0;
    QTest::newRow("A, B, A, B") << "ABAB" << 1 << 1;
}

void PlaybackEngineTest::loadingAgainTakesTheCachedData()
{
    QFETCH(QString, sequence);
    QFETCH(int, decodesOfA);
    QFETCH(int, decodesOfB);
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto b = makeCue(2, m_b, 2000);
    QString seen;
    for (QChar step : sequence) {
        if (step == '-') {
            engine.stop();
            continue;
        }
        Cue* cue = step == 'A' ? a.get() : b.get();
        if (seen.contains(step))
            QVERIFY(engine.loadCue(cue));
        else
            QVERIFY(loadAndWait(engine, cue));
        seen.append(step);
    }
    QCOMPARE(decoder.count(m_a), decodesOfA);
    QCOMPARE(decoder.count(m_b), decodesOfB);
    QCOMPARE(engine.getDuration(), qint64(2000));
}

void PlaybackEngineTest::preloadedCueLoadsWithoutDecoding()
{
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto c = makeCue(3, m_c, 2000);
    engine.preloadCues({a.get(), c.get()});
    QTRY_VERIFY(engine.isCached(m_a) && engine.isCached(m_c));
    QVERIFY(engine.cacheMemoryUsage() >= 2 * 88200 * 8);

    QVERIFY(engine.loadCue(c.get()));
    QVERIFY(!engine.isCached(m_c));  // the data now belongs to the playback
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 100);
    QVERIFY(engine.getPeakLevel() > 0.1f);
    QCOMPARE(decoder.count(m_c), 1);
    QCOMPARE(decoder.count(m_a), 1);
}

void PlaybackEngineTest::preloadingKeepsWorkingAfterACacheHit()
{
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto b = makeCue(2, m_b, 2000);
    auto c = makeCue(3, m_c, 2000);
    QVERIFY(loadAndWait(engine, a.get()));
    QVERIFY(loadAndWait(engine, b.get()));
    QVERIFY(engine.loadCue(a.get()));  // from the cache
    QCOMPARE(decoder.count(m_a), 1);

    engine.prioritizePreload(c.get());
    QTRY_VERIFY(engine.isCached(m_c));
    engine.preloadCues({a.get(), b.get(), c.get()});
    QTest::qWait(100);
    QCOMPARE(decoder.count(m_b), 1);
    QCOMPARE(decoder.count(m_c), 1);
}

void PlaybackEngineTest::preloadSkipsCurrentUnsavedAndCachedCues()
{
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto b = makeCue(2, m_b, 2000);
    auto unsaved = makeCue(0, m_c, 2000);
    QVERIFY(loadAndWait(engine, a.get()));
    engine.prioritizePreload(b.get());
    QTRY_VERIFY(engine.isCached(m_b));

    engine.preloadCues({a.get(), unsaved.get(), b.get()});
    engine.prioritizePreload(unsaved.get());
    engine.prioritizePreload(a.get());
    QTest::qWait(200);
    QCOMPARE(decoder.count(m_a), 1);
    QCOMPARE(decoder.count(m_b), 1);
    QCOMPARE(decoder.count(m_c), 0);
}

void PlaybackEngineTest::decodesAheadOnlyWhatPlaysNext()
{
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto b = makeCue(2, m_b, 2000);
    auto c = makeCue(3, m_c, 2000);

    // A whole table in play order: the first two are decoded, not the rest.
    engine.preloadCues({a.get(), b.get(), c.get()});
    QTRY_VERIFY(engine.isCached(m_a) && engine.isCached(m_b));
    QTest::qWait(200);
    QCOMPARE(decoder.count(m_c), 0);

    // a plays from the cache; the two after it are b (cached) and c.
    QVERIFY(engine.loadCue(a.get()));
    QCOMPARE(decoder.count(m_a), 1);
    engine.preloadCues({b.get(), c.get(), a.get()});
    QTRY_VERIFY(engine.isCached(m_c));
    QCOMPARE(decoder.count(m_b), 1);

    // Nothing is decoded ahead when the next cue is not known.
    engine.clearPreloadCache();
    engine.preloadCues({b.get(), c.get()}, 0);
    QTest::qWait(200);
    QCOMPARE(decoder.count(m_b), 1);
    QCOMPARE(decoder.count(m_c), 1);
}

void PlaybackEngineTest::unplayableFileReportsErrorAndEnd_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("not audio") << "notes.wav" << "FFmpeg decode error: ";
    QTest::newRow("no samples") << "empty.wav" << "No audio data could be decoded from: ";
}

void PlaybackEngineTest::unplayableFileReportsErrorAndEnd()
{
    QFETCH(QString, file);
    QFETCH(QString, error);
    LogCapture log;
    PlaybackEngine engine;
    QSignalSpy errors(&engine, &PlaybackEngine::errorOccurred);
    QSignalSpy finished(&engine, &PlaybackEngine::playbackFinished);
    auto cue = makeCue(1, path(file), 2000);
    QVERIFY(engine.loadCue(cue.get()));
    engine.play();
    QTRY_COMPARE(errors.count(), 1);
    QVERIFY2(errors.first().first().toString().startsWith(error), qPrintable(errors.first().first().toString()));
    QTRY_COMPARE(finished.count(), 1);
    QTest::qWait(100);  // silence follows, but no second report
    QCOMPARE(finished.count(), 1);
    QCOMPARE(errors.count(), 1);
}

void PlaybackEngineTest::seekStaysInsideTheLoopRegion_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<qint64>("target");
    QTest::addColumn<qint64>("landing");
    QTest::newRow("beyond the loop end") << qint64(500) << qint64(2500) << qint64(2900) << qint64(2500);
    QTest::newRow("before the loop start") << qint64(500) << qint64(2500) << qint64(100) << qint64(500);
    QTest::newRow("inside") << qint64(500) << qint64(2500) << qint64(1234) << qint64(1234);
    QTest::newRow("no region: duration only") << qint64(0) << qint64(0) << qint64(5000) << qint64(3000);
    QTest::newRow("no region: not below 0") << qint64(0) << qint64(0) << qint64(-20) << qint64(0);
}

void PlaybackEngineTest::seekStaysInsideTheLoopRegion()
{
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(qint64, target);
    QFETCH(qint64, landing);
    PlaybackEngine engine;
    auto cue = makeCue(1, m_loud, 3000, loopStart, loopEnd);
    QVERIFY(engine.loadCue(cue.get()));
    engine.seek(target);
    QCOMPARE(engine.getPosition(), landing);
}

void PlaybackEngineTest::outgoingCueKeepsItsGainWhileTheNextDecodes()
{
    CountingDecoder decoder;
    decoder.hold(m_quiet);
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 300;
    auto loud = makeCue(1, m_loud, 3000);
    auto quiet = makeCue(2, m_quiet, 3000);
    QVERIFY(engine.loadCue(loud.get()));
    engine.setVolume(0.8f);
    engine.play();
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.4f) < 1e-4f);

    QSignalSpy ready(&engine, &PlaybackEngine::crossfadeDecodeReady);
    QVERIFY(engine.startCrossfade(quiet.get()));
    QVERIFY(engine.isCrossfadeDecoding());
    QCOMPARE(engine.crossfadePendingCue(), quiet.get());
    QVERIFY(decoder.waitUntilHolding());
    engine.setVolume(0.2f);  // the transport sets the incoming cue's gain at once
    QTest::qWait(100);
    QVERIFY2(std::fabs(engine.getPeakLevel() - 0.4f) < 1e-4f, qPrintable(QString::number(engine.getPeakLevel())));
    QVERIFY(engine.startCrossfade(quiet.get()));  // already decoding it

    decoder.release();
    QVERIFY(ready.wait(5000));
    QVERIFY(!engine.isCrossfadeDecoding());
    QVERIFY(engine.startCrossfade(quiet.get()));
    QVERIFY(engine.isCrossfading());
    QTRY_VERIFY(!engine.isCrossfading());
    // The quiet cue plays on at its own gain from where the fade left it.
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.05f) < 1e-4f);
    QVERIFY(engine.isPlaying());
    QVERIFY(engine.getPosition() >= 300);
    QCOMPARE(ready.count(), 1);
}

void PlaybackEngineTest::failedIncomingDecodeFallsBackOnce()
{
    LogCapture log;
    PlaybackEngine engine;
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 300;
    auto loud = makeCue(1, m_loud, 3000);
    auto broken = makeCue(2, m_notAudio, 3000);
    QVERIFY(engine.loadCue(loud.get()));
    engine.play();

    QSignalSpy ready(&engine, &PlaybackEngine::crossfadeDecodeReady);
    QVERIFY(engine.startCrossfade(broken.get()));
    QVERIFY(ready.wait(5000));
    // The transport asks again on the ready signal; the answer must let it
    // fall back to a normal start instead of decoding the file forever.
    QVERIFY(!engine.startCrossfade(broken.get()));
    QVERIFY(!engine.isCrossfadeDecoding());
    QVERIFY(!engine.isCrossfading());
    QTest::qWait(100);
    QCOMPARE(ready.count(), 1);
    QVERIFY(log.contains("[XfadeDecode] decodeCueToBufferChunked - init failed:"));
}

void PlaybackEngineTest::loadDoesNotWaitForAStuckDecoder()
{
    CountingDecoder decoder;
    decoder.hold(m_a);
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    auto a = makeCue(1, m_a, 2000);
    auto loud = makeCue(2, m_loud, 3000);
    QVERIFY(engine.loadCue(a.get()));
    QVERIFY(decoder.waitUntilHolding());

    QElapsedTimer timer;
    timer.start();
    QVERIFY(loadAndWait(engine, loud.get()));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

    // The abandoned decoder finishes later; its data goes nowhere.
    decoder.release();
    QTest::qWait(200);
    QCOMPARE(engine.getDuration(), qint64(3000));
    QVERIFY(!engine.isCached(m_a));
}

void PlaybackEngineTest::listsDevicesAndFallsBackToTheDefault()
{
    LogCapture log;
    PlaybackEngine engine;
    const QStringList devices = engine.getAvailableDevices();
    QVERIFY(!devices.isEmpty());
    QCOMPARE(devices.first(), QString("Default"));
    QCOMPARE(engine.getOutputDeviceName(), QString("Default"));

    QVERIFY(engine.setOutputDevice("No such device"));
    QCOMPARE(engine.getOutputDeviceName(), QString("No such device"));
    auto cue = makeCue(1, m_loud, 3000);
    QVERIFY(engine.loadCue(cue.get()));
    QVERIFY(log.contains("PlaybackEngine - device not found:"));
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 50);
}

void PlaybackEngineTest::crossfadeWithinOneFileDecodesNothing()
{
    CountingDecoder decoder;
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 300;
    auto first = makeCue(1, m_loud, 3000);
    auto second = makeCue(2, m_loud, 3000, 500, 2500);
    QVERIFY(loadAndWait(engine, first.get()));
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 100);

    QVERIFY(engine.startCrossfade(second.get()));
    QVERIFY(engine.isCrossfading());
    QVERIFY(!engine.isCrossfadeDecoding());
    QTRY_VERIFY(!engine.isCrossfading());
    QVERIFY(engine.isPlaying());
    // The second cue went on from its loop start.
    QVERIFY(engine.getPosition() >= 800);
    QCOMPARE(decoder.count(m_loud), 1);

    // Stopping hands the complete data back to the cache.
    engine.stop();
    QVERIFY(engine.isCached(m_loud));
}

void PlaybackEngineTest::fadeToSilenceEndsTheCueOnce()
{
    PlaybackEngine engine;
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 200;
    QSignalSpy finished(&engine, &PlaybackEngine::playbackFinished);
    auto cue = makeCue(1, m_loud, 3000);
    QVERIFY(engine.loadCue(cue.get()));
    engine.play();
    QTRY_VERIFY(engine.getPeakLevel() > 0.4f);

    QVERIFY(engine.startCrossfade(nullptr));
    QVERIFY(engine.isCrossfading());
    // The fade ends at the end of the cue.
    QVERIFY(finished.wait(5000));
    QVERIFY(!engine.isPlaying());
    QVERIFY(!engine.isCrossfading());
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
}

void PlaybackEngineTest::cueEditsTakeEffectWhilePlaying()
{
    PlaybackEngine engine;
    auto cue = makeCue(-1, m_loud, 3000);
    QVERIFY(engine.loadCue(cue.get()));
    engine.play();
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.5f) < 1e-4f);

    cue->setVolumeEnvelope({0, 3000}, {0.5, 0.5});
    cue->setEnvelopeEnabled(true);
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.25f) < 1e-4f);
    cue->setPanEnvelope({0, 3000}, {-1.0, -1.0});
    cue->setPanEnvelopeEnabled(true);
    QTest::qWait(50);
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.25f) < 1e-4f);  // left keeps unity
}

void PlaybackEngineTest::deletedCueFallsSilent()
{
    PlaybackEngine engine;
    auto cue = makeCue(-1, m_loud, 3000);
    QVERIFY(engine.loadCue(cue.get()));
    engine.play();
    QTRY_VERIFY(engine.getPeakLevel() > 0.4f);

    cue.reset();
    QTRY_COMPARE(engine.getPeakLevel(), 0.0f);
    engine.seek(1000);  // no current cue any more: nothing to do
    engine.stop();
    QVERIFY(!engine.isCached(m_loud));
}

void PlaybackEngineTest::decodedLengthReplacesTheStoredOne()
{
    PlaybackEngine engine;
    auto cue = makeCue(1, m_a, 1500);  // stored length wrong by half a second
    QSignalSpy completed(&engine, &PlaybackEngine::decodingCompleted);
    QVERIFY(engine.loadCue(cue.get()));
    QCOMPARE(engine.getDuration(), qint64(1500));
    QVERIFY(completed.wait(5000));
    engine.play();
    QTRY_COMPARE(engine.getDuration(), qint64(2000));
    QCOMPARE(cue->durationMs(), qint64(1500));  // the cue itself is the transport's to correct
}

void PlaybackEngineTest::reopeningTheDeviceKeepsThePosition()
{
    PlaybackEngine engine;
    auto cue = makeCue(1, m_loud, 3000);
    QVERIFY(engine.loadCue(cue.get()));
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 300);

    QVERIFY(engine.reinitializeDevice());
    QVERIFY(!engine.isPlaying());
    const qint64 position = engine.getPosition();
    QVERIFY(position > 300);
    QTest::qWait(50);
    QCOMPARE(engine.getPosition(), position);
    engine.play();
    QTRY_VERIFY(engine.getPosition() > position + 50);
}

void PlaybackEngineTest::deletedOutgoingCueLetsTheMixFinish()
{
    PlaybackEngine engine;
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 1000;
    auto loud = makeCue(1, m_loud, 3000);
    auto quiet = makeCue(2, m_quiet, 3000);
    engine.prioritizePreload(quiet.get());
    QTRY_VERIFY(engine.isCached(m_quiet));
    QVERIFY(engine.loadCue(loud.get()));
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 200);

    QVERIFY(engine.startCrossfade(quiet.get()));
    QTest::qWait(200);
    QVERIFY(engine.isCrossfading());
    loud.reset();  // the outgoing cue is deleted mid-mix
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isCrossfading(), 2000);
    QVERIFY(engine.isPlaying());
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.25f) < 1e-4f);  // the incoming cue, at full gain
}

void PlaybackEngineTest::deviceSwitchKeepsARunningMix()
{
    PlaybackEngine engine;
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 1000;
    auto loud = makeCue(1, m_loud, 3000);
    auto quiet = makeCue(2, m_quiet, 3000, 500, 2500);
    engine.prioritizePreload(quiet.get());
    QTRY_VERIFY(engine.isCached(m_quiet));
    QVERIFY(engine.loadCue(loud.get()));
    engine.play();
    QTRY_VERIFY(engine.getPosition() > 200);
    QVERIFY(engine.startCrossfade(quiet.get()));
    // The mix begins so that it ends at the outgoing end (2 s), and runs.
    QTRY_VERIFY_WITH_TIMEOUT(engine.incomingPositionFrames() > 44100 / 2 + 4410, 5000);
    const quint64 incoming = engine.incomingPositionFrames();

    QVERIFY(engine.setOutputDevice("Default"));
    QVERIFY(engine.isCrossfading());
    // The device may render the block under way between the reading above
    // and the switch; the mix keeps its place, whatever block that was.
    const quint64 afterSwitch = engine.incomingPositionFrames();
    QVERIFY2(afterSwitch >= incoming && afterSwitch <= incoming + AudioOutputDevice::kPeriodFrames,
             qPrintable(QString("%1 frames before the switch, %2 after").arg(incoming).arg(afterSwitch)));
    engine.play();  // opens the device again
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isCrossfading(), 2000);
    QVERIFY(engine.isPlaying());
    // The incoming cue went on from where the mix had brought it.
    QVERIFY2(engine.getPosition() >= 1500, qPrintable(QString::number(engine.getPosition())));
    QTRY_VERIFY(std::fabs(engine.getPeakLevel() - 0.25f) < 1e-4f);
}

void PlaybackEngineTest::outgoingEndWhileTheNextDecodesIsNotReported()
{
    // The end of the outgoing data belongs to the crossfade that waits for
    // the next cue's data, not to the next cue, which has not even started.
    CountingDecoder decoder;
    decoder.hold(m_b);
    PlaybackEngine engine;
    engine.setDecodeFunction(decoder.function());
    engine.crossfadeEnabled = true;
    engine.crossfadeDurationMs = 500;
    auto a = makeCue(1, m_a, 2000);
    auto b = makeCue(2, m_b, 2000);
    QVERIFY(loadAndWait(engine, a.get()));
    engine.seek(1500);
    engine.play();
    QSignalSpy finished(&engine, &PlaybackEngine::playbackFinished);
    QSignalSpy ready(&engine, &PlaybackEngine::crossfadeDecodeReady);
    QVERIFY(engine.startCrossfade(b.get()));
    QVERIFY(engine.isCrossfadeDecoding());
    QVERIFY(decoder.waitUntilHolding());
    QTRY_VERIFY(engine.getPosition() >= 2000);  // a has played to its end
    QTest::qWait(200);
    QCOMPARE(finished.count(), 0);

    decoder.release();
    QVERIFY(ready.wait(5000));
    QVERIFY(engine.startCrossfade(b.get()));
    QVERIFY(engine.isCrossfading());
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isCrossfading(), 2000);
    QVERIFY(engine.getPeakLevel() > 0.1f);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(decoder.count(m_b), 1);
}

QTEST_GUILESS_MAIN(PlaybackEngineTest)
#include "PlaybackEngineTest.moc"
