#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "audiofile/AudioFileDecoder.h"
#include "playback/CueManager.h"
#include "audiofile/PcmBuffer.h"
#include "playback/PlaybackEngine.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// The real decoder, counting the decodes of each file; files named in `held`
// wait for release(), files named in `slow` start decoding late.
class TestDecoder {
public:
    DecodeFunction function()
    {
        return [this](const QString& path, PcmBuffer& out) {
            bool hold = false;
            int delayMs = 0;
            {
                QMutexLocker lock(&m_mutex);
                ++m_counts[path];
                hold = m_held.contains(path);
                delayMs = m_delays.value(path);
            }
            if (hold)
                m_gate.acquire();
            if (delayMs > 0)
                QThread::msleep(delayMs);
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
    void release() { m_gate.release(100); }
    void slow(const QString& path, int delayMs)
    {
        QMutexLocker lock(&m_mutex);
        m_delays.insert(path, delayMs);
    }

private:
    mutable QMutex m_mutex;
    QHash<QString, int> m_counts;
    QHash<QString, int> m_delays;
    QStringList m_held;
    QSemaphore m_gate;
};

}  // namespace

// The transport and the play order on the real engine, through SDL's dummy
// output driver (which consumes blocks in real time).
class TransportEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString tone(const QString& name, double seconds, double frequency);

private Q_SLOTS:
    void initTestCase();
    void listLoopWithCrossfadeWrapsAround();
    void readErrorKeepsTheStoredLength();
    void cutFilePlaysWhatItHoldsAndTakesItsLength();
    void fileWithoutAudioMovesThePlayOrderOn_data();
    void fileWithoutAudioMovesThePlayOrderOn();
    void nextCueStillDecodingIsNotSkipped_data();
    void nextCueStillDecodingIsNotSkipped();
    void coldStartDecodesOnce();
    void deletingTheOutgoingCueLetsTheCrossfadeFinish();
    void waitingForTheDecoderIsNoStall();
};

void TransportEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("e2e.db")));
}

QString TransportEndToEndTest::tone(const QString& name, double seconds, double frequency)
{
    TestAudio::WavSpec spec;
    spec.seconds = seconds;
    spec.frequency = frequency;
    spec.amplitude = 0.4;
    const QString path = m_dir.filePath(name);
    return TestAudio::writeWav(path, spec) ? path : QString();
}

void TransportEndToEndTest::listLoopWithCrossfadeWrapsAround()
{
    auto* engine = new PlaybackEngine();
    AudioEngine transport(engine);
    CueManager manager(&transport);
    QList<Cue*> cues;
    const QList<double> frequencies{440.0, 550.0, 660.0};
    for (int i = 0; i < 3; ++i) {
        const QString path = tone(QStringLiteral("cue%1.wav").arg(i), 2.0, frequencies[i]);
        QVERIFY(!path.isEmpty());
        Cue* cue = manager.createCue(path);
        QVERIFY(cue);
        manager.resolveCueDuration(cue);
        QVERIFY(cue->durationMs() >= 1999);
        cues.append(cue);
    }

    transport.setCrossfadeEnabled(true);
    engine->crossfadeDurationMs = 500;  // shorter than the settings allow, to keep the test short
    manager.setMainVolume(80);
    manager.setPlayMode(CueManager::ListLoop);
    manager.setPlaylist(cues);

    QList<Cue*> started;
    connect(&manager, &CueManager::currentCueChanged, &manager, [&started](Cue* cue) { started.append(cue); });
    QSignalSpy finished(&manager, &CueManager::playlistFinished);
    QSignalSpy errors(&transport, &AudioEngine::errorOccurred);
    QSignalSpy positions(&manager, &CueManager::playbackPositionChanged);
    float loudest = 0.0f;
    connect(&transport, &AudioEngine::levelUpdated, &manager,
            [&loudest](float level) { loudest = std::max(loudest, level); });
    LogCapture log;

    QElapsedTimer clock;
    clock.start();
    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= 4, 15000);
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(started.mid(0, 4), (QList<Cue*>{cues[0], cues[1], cues[2], cues[0]}));
    // Each hand-over starts 500 ms before the end of the cue: 1.5 s for the
    // first cue, then 1 s for each cue that came in by a crossfade.
    QVERIFY2(elapsed >= 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(log.count("Crossfade FAILED"), 0);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(errors.count(), 0);
    QVERIFY(positions.count() > 20);
    QVERIFY(loudest > 0.1f);
    QVERIFY(manager.isPlaying());

    manager.stopPlaylist();
    QCOMPARE(transport.getState(), AudioEngine::Stopped);
    QVERIFY(!engine->isPlaying());
}

void TransportEndToEndTest::readErrorKeepsTheStoredLength()
{
    // A decode that stops with a read error after one second of a three
    // second file.
    auto* engine = new PlaybackEngine();
    engine->setDecodeFunction([](const QString& path, PcmBuffer& out) {
        AudioFileDecoder decoder;
        if (!decoder.open(path)) {
            out.finish(PcmBuffer::State::Failed, decoder.errorString());
            return;
        }
        std::vector<float> samples(size_t(PcmBuffer::kSampleRate) * PcmBuffer::kChannels);
        const qint64 got = decoder.read(samples.data(), PcmBuffer::kSampleRate);
        out.append(samples.data(), got);
        out.finish(PcmBuffer::State::Failed, QStringLiteral("read failed: Input/output error"));
    });
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* cue = manager.createCue(tone("damaged.wav", 3.0, 440.0));
    QVERIFY(cue);
    cue->setLoopCount(1);
    manager.resolveCueDuration(cue);
    const qint64 stored = cue->durationMs();
    QVERIFY(stored >= 2999);
    QCOMPARE(cue->loopEndMs(), stored);

    QSignalSpy errors(&transport, &AudioEngine::errorOccurred);
    QSignalSpy finished(&manager, &CueManager::playlistFinished);
    manager.setPlayMode(CueManager::Custom);
    manager.setPlaylist({cue});
    manager.playPlaylist();
    // The data ends after one second and the cue with it.
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 5000);
    QVERIFY(!errors.isEmpty());  // the operator hears about the read error
    QVERIFY(errors.first().first().toString().contains("read failed"));
    QCOMPARE(cue->durationMs(), stored);
    QCOMPARE(cue->loopEndMs(), stored);
}

void TransportEndToEndTest::cutFilePlaysWhatItHoldsAndTakesItsLength()
{
    // A FLAC file that declares six seconds but was cut after about two.
    const QString wav = tone("cut-source.wav", 6.0, 440.0);
    const QString file = m_dir.filePath("cut.flac");
    QVERIFY(TestAudio::encode(wav, file));
    {
        QFile cut(file);
        QVERIFY(cut.open(QIODevice::ReadWrite));
        QVERIFY(cut.resize(cut.size() / 3));
    }

    auto* engine = new PlaybackEngine();
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* cue = manager.createCue(file);
    QVERIFY(cue);
    cue->setLoopCount(1);
    manager.resolveCueDuration(cue);
    QCOMPARE(cue->durationMs(), qint64(6000));  // what the file declares

    QSignalSpy errors(&transport, &AudioEngine::errorOccurred);
    QSignalSpy finished(&manager, &CueManager::playlistFinished);
    float loudest = 0.0f;
    connect(&transport, &AudioEngine::levelUpdated, &manager,
            [&loudest](float level) { loudest = std::max(loudest, level); });
    auto log = std::make_unique<LogCapture>();
    QElapsedTimer clock;
    clock.start();
    manager.setPlayMode(CueManager::Custom);
    manager.setPlaylist({cue});
    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 6000);
    const qint64 elapsed = clock.elapsed();
    const bool loggedShort = log->contains("[MADecode] File is shorter than it declares");
    log.reset();

    // It plays what is there, as any other file, and ends with it; its
    // stored length and loop region follow.
    QVERIFY(errors.isEmpty());
    QVERIFY(loggedShort);
    QVERIFY(loudest > 0.1f);
    QVERIFY2(cue->durationMs() > 1000 && cue->durationMs() < 3000, qPrintable(QString::number(cue->durationMs())));
    QCOMPARE(cue->loopEndMs(), cue->durationMs());
    // The device takes a few periods ahead of the clock, so it may end a
    // little before real time has caught up with the length.
    QVERIFY2(elapsed >= cue->durationMs() - 100 && elapsed < 4500,
             qPrintable(QString::number(elapsed) + " ms for " + QString::number(cue->durationMs()) + " ms"));
}

void TransportEndToEndTest::fileWithoutAudioMovesThePlayOrderOn_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("loopCount");
    QTest::newRow("list loop") << int(CueManager::ListLoop) << 1;
    QTest::newRow("custom list loop, endless") << int(CueManager::CustomListLoop) << 0;
    QTest::newRow("custom list loop, three passes") << int(CueManager::CustomListLoop) << 3;
}

void TransportEndToEndTest::fileWithoutAudioMovesThePlayOrderOn()
{
    QFETCH(int, mode);
    QFETCH(int, loopCount);
    // A file that opens but holds no audio at all.
    const QString hollow = m_dir.filePath("hollow.wav");
    QVERIFY(TestAudio::writeWav(hollow, QVector<float>{}, 44100, 2));
    const QString good = tone("after-hollow.wav", 2.0, 330.0);

    auto* engine = new PlaybackEngine();
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* empty = manager.createCue(hollow);
    Cue* next = manager.createCue(good);
    QVERIFY(empty && next);
    manager.resolveCueDuration(next);
    empty->setLoopCount(loopCount);
    manager.setPlayMode(CueManager::PlayMode(mode));
    manager.setPlaylist({empty, next});

    QSignalSpy errors(&transport, &AudioEngine::errorOccurred);
    QList<Cue*> started;
    connect(&manager, &CueManager::currentCueChanged, &manager, [&started](Cue* cue) { started.append(cue); });
    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(started.contains(next), 3000);
    QVERIFY(errors.count() >= 1);
    manager.stopPlaylist();
}

void TransportEndToEndTest::nextCueStillDecodingIsNotSkipped_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("pauseWhileDecoding");
    QTest::newRow("list loop") << int(CueManager::ListLoop) << false;
    QTest::newRow("list loop, paused while it decodes") << int(CueManager::ListLoop) << true;
    QTest::newRow("custom random") << int(CueManager::CustomRandom) << false;
}

void TransportEndToEndTest::nextCueStillDecodingIsNotSkipped()
{
    // The outgoing cue ends before the next one has any data: it plays to its
    // end, and the next one comes in as soon as its data is there.
    QFETCH(int, mode);
    QFETCH(bool, pauseWhileDecoding);
    TestDecoder decoder;
    auto* engine = new PlaybackEngine();
    engine->setDecodeFunction(decoder.function());
    AudioEngine transport(engine);
    transport.setPauseFadeEnabled(false);
    CueManager manager(&transport);
    QList<Cue*> cues;
    for (int i = 0; i < 3; ++i) {
        Cue* cue = manager.createCue(tone(QStringLiteral("slow%1-%2.wav").arg(i).arg(mode), 2.0, 440.0 + 110 * i));
        QVERIFY(cue);
        manager.resolveCueDuration(cue);
        cue->setLoopCount(1);
        cues.append(cue);
    }
    decoder.slow(cues[1]->filePath(), 2500);
    transport.setCrossfadeEnabled(true);
    engine->crossfadeDurationMs = 500;
    manager.setMainVolume(80);
    manager.setPlayMode(CueManager::PlayMode(mode));
    // The random draw picks the second cue after the first.
    manager.setRandomSource([] { return quint64(0); });
    manager.setPlaylist(cues);

    QList<Cue*> started;  // the cue is announced again when its data has come
    connect(&manager, &CueManager::currentCueChanged, &manager, [&started](Cue* cue) {
        if (started.isEmpty() || started.last() != cue)
            started.append(cue);
    });
    qint64 furthestOfSecond = 0;
    float loudestOfSecond = 0.0f;
    connect(&manager, &CueManager::playbackPositionChanged, &manager, [&](qlonglong ms) {
        if (transport.getCurrentCue() == cues[1] && !transport.isCrossfading())
            furthestOfSecond = std::max<qint64>(furthestOfSecond, ms);
    });
    connect(&transport, &AudioEngine::levelUpdated, &manager, [&](float level) {
        if (transport.getCurrentCue() == cues[1] && !transport.isCrossfading())
            loudestOfSecond = std::max(loudestOfSecond, level);
    });

    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(started.contains(cues[1]), 5000);
    if (pauseWhileDecoding) {
        QVERIFY(transport.isCrossfading());  // prepared, waiting for its data
        manager.pausePlaylist();
        QCOMPARE(transport.getState(), AudioEngine::Paused);
        QTest::qWait(3000);  // its decode finishes meanwhile
        manager.playPlaylist();
        QCOMPARE(transport.getState(), AudioEngine::Playing);
    }
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= 3, 10000);
    QCOMPARE(started.mid(0, 3), (QList<Cue*>{cues[0], cues[1], cues[2]}));
    QVERIFY2(furthestOfSecond > 1000, qPrintable(QString::number(furthestOfSecond)));
    QVERIFY(loudestOfSecond > 0.1f);
    QCOMPARE(decoder.count(cues[1]->filePath()), 1);
    manager.stopPlaylist();
}

void TransportEndToEndTest::coldStartDecodesOnce()
{
    // The first cue is started cold while the second is preloaded: each file
    // is decoded once, and the preload does not wait for the first decode.
    TestDecoder decoder;
    auto* engine = new PlaybackEngine();
    engine->setDecodeFunction(decoder.function());
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* first = manager.createCue(tone("cold-first.wav", 3.0, 440.0));
    Cue* second = manager.createCue(tone("cold-second.wav", 3.0, 550.0));
    QVERIFY(first && second);
    manager.resolveCueDuration(first);
    manager.resolveCueDuration(second);
    decoder.hold(first->filePath());
    manager.setPlayMode(CueManager::ListLoop);
    manager.setPlaylist({first, second});

    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(engine->isCached(second->filePath()), 3000);
    decoder.release();
    QTRY_VERIFY_WITH_TIMEOUT(transport.getPosition() > 300, 3000);
    QTest::qWait(300);  // whatever else was going to decode has done so
    QCOMPARE(decoder.count(first->filePath()), 1);
    QCOMPARE(decoder.count(second->filePath()), 1);
    // The playing data is not kept twice.
    QVERIFY(!engine->isCached(first->filePath()));
    QCOMPARE(engine->cacheMemoryUsage(), qint64(3 * 44100) * 8);
    manager.stopPlaylist();
    QVERIFY(engine->isCached(first->filePath()));
}

void TransportEndToEndTest::deletingTheOutgoingCueLetsTheCrossfadeFinish()
{
    auto* engine = new PlaybackEngine();
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* outgoing = manager.createCue(tone("deleted-outgoing.wav", 3.0, 440.0));
    Cue* incoming = manager.createCue(tone("kept-incoming.wav", 4.0, 550.0));
    QVERIFY(outgoing && incoming);
    manager.resolveCueDuration(outgoing);
    manager.resolveCueDuration(incoming);
    transport.setCrossfadeEnabled(true);
    engine->crossfadeDurationMs = 1000;
    manager.setMainVolume(80);
    manager.setPlayMode(CueManager::ListLoop);
    manager.setPlaylist({outgoing, incoming});
    manager.playPlaylist();
    QTRY_VERIFY_WITH_TIMEOUT(engine->isCrossfading(), 5000);
    QCOMPARE(transport.getCurrentCue(), incoming);

    QVERIFY(manager.deleteCue(outgoing));
    QTRY_VERIFY_WITH_TIMEOUT(!transport.isCrossfading(), 2000);
    QCOMPARE(transport.getState(), AudioEngine::Playing);
    QCOMPARE(transport.getCurrentCue(), incoming);
    QVERIFY(manager.isPlaying());
    QTRY_VERIFY(engine->getPeakLevel() > 0.1f);
    const qint64 position = transport.getPosition();
    QTRY_VERIFY(transport.getPosition() > position + 200);
    manager.stopPlaylist();
}

void TransportEndToEndTest::waitingForTheDecoderIsNoStall()
{
    // A cue started past what is decoded waits 3 s for its data: the device
    // runs on, so it is not reopened.
    auto* engine = new PlaybackEngine();
    engine->setDecodeFunction([](const QString& path, PcmBuffer& out) {
        AudioFileDecoder decoder;
        if (!decoder.open(path)) {
            out.finish(PcmBuffer::State::Failed, decoder.errorString());
            return;
        }
        std::vector<float> samples(size_t(8192) * PcmBuffer::kChannels);
        bool paused = false;
        for (;;) {
            if (out.cancelRequested()) {
                out.finish(PcmBuffer::State::Cancelled);
                return;
            }
            const qint64 got = decoder.read(samples.data(), 8192);
            if (got <= 0)
                break;
            out.append(samples.data(), got);
            if (!paused && out.frames() >= PcmBuffer::kSampleRate) {
                paused = true;
                QThread::msleep(3000);
            }
        }
        out.finish(PcmBuffer::State::Complete);
    });
    AudioEngine transport(engine);
    CueManager manager(&transport);
    Cue* cue = manager.createCue(tone("slow-decode.wav", 6.0, 440.0));
    QVERIFY(cue);
    manager.resolveCueDuration(cue);
    manager.setPlayMode(CueManager::Custom);
    manager.setPlaylist({cue});
    LogCapture log;
    manager.playCue(cue, 4000);
    QCOMPARE(transport.getPosition(), qint64(4000));
    QTest::qWait(2800);
    QCOMPARE(transport.getPosition(), qint64(4000));  // still waiting
    QTRY_VERIFY_WITH_TIMEOUT(transport.getPosition() > 4200, 3000);
    QCOMPARE(log.count("Device stuck detected"), 0);
    QCOMPARE(transport.getState(), AudioEngine::Playing);
    manager.stopPlaylist();
}

QTEST_GUILESS_MAIN(TransportEndToEndTest)
#include "TransportEndToEndTest.moc"
