#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "audiofile/PcmBuffer.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/PlaybackEngine.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <bit>
#include <memory>
#include <vector>

namespace {

// The 8-byte Duration of a Matroska file's segment info (element 0x4489,
// in ms at the default timestamp scale) set to ms.
bool patchMatroskaDuration(const QString& path, double ms)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const qsizetype at = data.indexOf(QByteArray("\x44\x89\x88", 3));
    if (at < 0)
        return false;
    const quint64 bits = qToBigEndian(std::bit_cast<quint64>(ms));
    data.replace(at + 3, 8, reinterpret_cast<const char*>(&bits), 8);
    return file.seek(0) && file.write(data) == data.size();
}

// Every byte of an MP4 file's audio data ("mdat" box) overwritten: the
// header still declares the length, the data decodes to nothing.
bool overwriteMp4AudioData(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    qsizetype box = 0;
    while (box + 8 <= data.size()) {
        const quint32 size = qFromBigEndian<quint32>(data.constData() + box);
        if (size < 8)
            return false;
        if (data.mid(box + 4, 4) == "mdat") {
            data.replace(box + 8, size - 8, QByteArray(size - 8, char(0xff)));
            return file.seek(0) && file.write(data) == data.size();
        }
        box += size;
    }
    return false;
}

// A transport and play order on the real engine, through SDL's dummy driver.
struct Show {
    PlaybackEngine* engine = new PlaybackEngine();
    AudioEngine transport{engine};
    CueManager manager{&transport};
    QList<Cue*> started;
    QSignalSpy transportErrors{&transport, &AudioEngine::errorOccurred};
    QSignalSpy orderErrors{&manager, &CueManager::errorOccurred};
    float loudest = 0.0f;

    Show()
    {
        QObject::connect(&manager, &CueManager::currentCueChanged, &manager,
                         [this](Cue* cue) { started.append(cue); });
        QObject::connect(&transport, &AudioEngine::levelUpdated, &manager,
                         [this](float level) { loudest = std::max(loudest, level); });
        manager.setMainVolume(80);
    }

    Cue* cue(const QString& path)
    {
        Cue* cue = manager.createCue(path);
        if (cue)
            manager.resolveCueDuration(cue);
        return cue;
    }
};

}  // namespace

// Damaged files as they turn up at a show: a header that declares an absurd
// length, audio data that decodes to nothing, a read error before a
// crossfade. None may crash, hang or replay anything.
class DamagedFilesEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_absurd;  // 2 s of audio, declaring 10^15 ms
    QString m_hollow;  // declares 10 s, decodes nothing
    QString m_hollow2;
    QString tone(const QString& name, double seconds, double frequency);

private Q_SLOTS:
    void initTestCase();
    void absurdDeclaredLengthPlaysWhatDecodes_data();
    void absurdDeclaredLengthPlaysWhatDecodes();
    void fileThatDecodesNothingEndsOnce_data();
    void fileThatDecodesNothingEndsOnce();
    void readErrorBeforeACrossfadeReplaysNothing();
};

QString DamagedFilesEndToEndTest::tone(const QString& name, double seconds, double frequency)
{
    TestAudio::WavSpec spec;
    spec.seconds = seconds;
    spec.frequency = frequency;
    spec.amplitude = 0.4;
    const QString path = m_dir.filePath(name);
    return TestAudio::writeWav(path, spec) ? path : QString();
}

void DamagedFilesEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("damaged.db")));

    m_absurd = m_dir.filePath("absurd.mka");
    QVERIFY(TestAudio::encode(tone("absurd-source.wav", 2.0, 550.0), m_absurd, {"-c:a", "flac"}));
    QVERIFY(patchMatroskaDuration(m_absurd, 1e15));
    // The probe does not believe a length the file's size cannot hold.
    QCOMPARE(probeDurationMs(m_absurd), qint64(0));

    TestAudio::WavSpec spec;
    spec.seconds = 10.0;
    m_hollow = m_dir.filePath("hollow.m4a");
    m_hollow2 = m_dir.filePath("hollow2.m4a");
    for (const QString& path : {m_hollow, m_hollow2}) {
        QVERIFY(TestAudio::makeFile(path, spec));
        QVERIFY(overwriteMp4AudioData(path));
        QVERIFY(probeDurationMs(path) >= 9900);
    }
}

void DamagedFilesEndToEndTest::absurdDeclaredLengthPlaysWhatDecodes_data()
{
    QTest::addColumn<bool>("absurdFirst");  // started by the operator, else reached by the order
    QTest::addColumn<bool>("crossfade");
    QTest::newRow("started") << true << false;
    QTest::newRow("preloaded, then started") << false << false;
    QTest::newRow("crossfaded into") << false << true;
}

void DamagedFilesEndToEndTest::absurdDeclaredLengthPlaysWhatDecodes()
{
    QFETCH(bool, absurdFirst);
    QFETCH(bool, crossfade);
    Show show;
    Cue* absurd = show.cue(m_absurd);
    Cue* other = show.cue(tone("beside-absurd.wav", 2.0, 330.0));
    QVERIFY(absurd && other);
    // The absurd length as stored before the probe stopped believing it.
    absurd->setDuration(1000000000000000);
    show.transport.setCrossfadeEnabled(crossfade);
    show.engine->crossfadeDurationMs = 500;
    show.manager.setPlayMode(CueManager::ListLoop);
    show.manager.setPlaylist(absurdFirst ? QList<Cue*>{absurd, other} : QList<Cue*>{other, absurd});

    float loudestOfAbsurd = 0.0f;
    connect(&show.transport, &AudioEngine::levelUpdated, &show.manager, [&](float level) {
        if (show.transport.getCurrentCue() == absurd)
            loudestOfAbsurd = std::max(loudestOfAbsurd, level);
    });
    show.manager.playPlaylist();
    // The absurd cue plays its two seconds and the order goes on past it.
    QTRY_VERIFY_WITH_TIMEOUT(show.started.count(absurd) == 1 && show.started.last() != absurd, 10000);
    QVERIFY(loudestOfAbsurd > 0.1f);
    QCOMPARE(show.transportErrors.count(), 0);
    QVERIFY2(std::abs(absurd->durationMs() - 2000) < 50, qPrintable(QString::number(absurd->durationMs())));
    QVERIFY(show.manager.isPlaying());
    show.manager.stopPlaylist();
}

void DamagedFilesEndToEndTest::fileThatDecodesNothingEndsOnce_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("order");  // h: broken, H: another broken one, g: good
    QTest::addColumn<bool>("crossfade");
    QTest::addColumn<int>("errors");
    QTest::addColumn<bool>("orderStops");  // stopped with a message, nothing left to play
    QTest::newRow("custom list loop, endless: the next cue starts")
        << int(CueManager::CustomListLoop) << "hg" << false << 1 << false;
    QTest::newRow("custom list loop, crossfade") << int(CueManager::CustomListLoop) << "hg" << true << 1 << false;
    QTest::newRow("list loop: the next cue starts") << int(CueManager::ListLoop) << "hg" << false << 1 << false;
    QTest::newRow("single loop: tried once") << int(CueManager::SingleLoop) << "hg" << false << 1 << true;
    QTest::newRow("list loop of broken files") << int(CueManager::ListLoop) << "hH" << false << 2 << true;
    QTest::newRow("list loop of broken files, crossfade") << int(CueManager::ListLoop) << "hH" << true << 2 << true;
    QTest::newRow("random of broken files") << int(CueManager::Random) << "hH" << false << 2 << true;
}

void DamagedFilesEndToEndTest::fileThatDecodesNothingEndsOnce()
{
    QFETCH(int, mode);
    QFETCH(QString, order);
    QFETCH(bool, crossfade);
    QFETCH(int, errors);
    QFETCH(bool, orderStops);
    Show show;
    QList<Cue*> cues;
    for (QChar c : order) {
        Cue* cue = show.cue(c == 'h' ? m_hollow : c == 'H' ? m_hollow2 : tone("after-hollow.wav", 2.0, 330.0));
        QVERIFY(cue);
        cue->setLoopCount(0);  // endless where the mode honours it
        cues.append(cue);
    }
    QVERIFY(cues.first()->durationMs() >= 9900);
    show.transport.setCrossfadeEnabled(crossfade);
    show.engine->crossfadeDurationMs = 500;
    show.manager.setPlayMode(CueManager::PlayMode(mode));
    show.manager.setPlaylist(cues);
    QSignalSpy finished(&show.manager, &CueManager::playlistFinished);
    LogCapture log;
    show.manager.playPlaylist();

    if (orderStops) {
        QTRY_VERIFY_WITH_TIMEOUT(!show.manager.isPlaying(), 5000);
        QCOMPARE(show.orderErrors.count(), 1);
        QCOMPARE(show.transport.getState(), AudioEngine::Stopped);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(show.started.contains(cues.last()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(show.loudest > 0.1f, 3000);
        QCOMPARE(show.orderErrors.count(), 0);
    }
    QTest::qWait(1000);  // nothing spins meanwhile
    QCOMPARE(show.transportErrors.count(), errors);
    QVERIFY2(show.started.size() <= cues.size() + 1, qPrintable(QString::number(show.started.size())));
    if (orderStops) {
        QVERIFY(!show.manager.isPlaying());
        QVERIFY(!show.engine->isPlaying());
    } else {
        QVERIFY(show.manager.isPlaying());
        QCOMPARE(show.transport.getCurrentCue(), cues.last());
        QCOMPARE(finished.count(), 0);
    }
    show.manager.stopPlaylist();
}

void DamagedFilesEndToEndTest::readErrorBeforeACrossfadeReplaysNothing()
{
    // The decode gives up with a read error after two seconds of a four
    // second file; the next cue then crossfades from the cue's data end.
    PlaybackEngine engineObject;
    PlaybackEngine* engine = &engineObject;
    const QString damaged = tone("cut-short.wav", 4.0, 440.0);
    const QString next = tone("after-cut.wav", 3.0, 660.0);
    engine->setDecodeFunction([damaged](const QString& path, PcmBuffer& out) {
        if (path != damaged) {
            decodeFileToBuffer(path, out);
            return;
        }
        AudioFileDecoder decoder;
        if (!decoder.open(path)) {
            out.finish(PcmBuffer::State::Failed, decoder.errorString());
            return;
        }
        std::vector<float> samples(size_t(2 * PcmBuffer::kSampleRate) * PcmBuffer::kChannels);
        out.append(samples.data(), decoder.read(samples.data(), 2 * PcmBuffer::kSampleRate));
        out.finish(PcmBuffer::State::Failed, QStringLiteral("read failed: Input/output error"));
    });
    engine->crossfadeEnabled = true;
    engine->crossfadeDurationMs = 500;
    Cue a(1, "cut-short", damaged);
    a.setDuration(4000);
    a.clearDirty();
    Cue b(2, "after-cut", next);
    b.setDuration(3000);
    b.clearDirty();

    engine->prioritizePreload(&b);
    QTRY_VERIFY(engine->isCached(next));
    QSignalSpy finished(engine, &PlaybackEngine::playbackFinished);
    QVERIFY(engine->loadCue(&a));
    engine->play();
    QVERIFY(finished.wait(5000));  // the data has ended
    const qint64 end = engine->getPosition();
    QVERIFY2(end >= 1990 && end <= 2010, qPrintable(QString::number(end)));

    QVERIFY(engine->startCrossfade(&b));
    QVERIFY(engine->isCrossfading());
    QElapsedTimer clock;
    clock.start();
    while (engine->isCrossfading()) {
        QVERIFY2(engine->getPosition() >= end, qPrintable(QString::number(engine->getPosition())));
        QVERIFY(clock.elapsed() < 5000);
        QTest::qWait(2);
    }
    QVERIFY(engine->isPlaying());
    QVERIFY(engine->getPeakLevel() > 0.0f);  // b plays on
}

QTEST_GUILESS_MAIN(DamagedFilesEndToEndTest)
#include "DamagedFilesEndToEndTest.moc"
