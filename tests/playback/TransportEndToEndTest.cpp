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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

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
    QVERIFY2(elapsed >= cue->durationMs() && elapsed < 4500, qPrintable(QString::number(elapsed)));
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

QTEST_GUILESS_MAIN(TransportEndToEndTest)
#include "TransportEndToEndTest.moc"
