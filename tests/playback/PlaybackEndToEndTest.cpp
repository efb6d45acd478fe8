#include "model/Cue.h"
#include "audiofile/AudioFileDecoder.h"
#include "playback/PlaybackEngine.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

// Plays a cue through SDL's "disk" driver, which writes every block the
// device would have played to a file, and compares that file with the
// samples the cue should sound like.
class PlaybackEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    void playsACueWithFadesAndVolumeSampleExact();
};

void PlaybackEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Before any SDL initialisation in this process.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("device-output.raw")));
}

void PlaybackEndToEndTest::playsACueWithFadesAndVolumeSampleExact()
{
    // One second, a different tone on each channel, stored as float so that
    // decoding gives back exactly these samples.
    constexpr int kRate = 44100;
    constexpr qint64 kFrames = kRate;
    QVector<float> source(kFrames * 2);
    for (qint64 i = 0; i < kFrames; ++i) {
        source[i * 2] = float(0.6 * std::sin(2.0 * M_PI * 440.0 * double(i) / kRate));
        source[i * 2 + 1] = float(0.3 * std::sin(2.0 * M_PI * 660.0 * double(i) / kRate + 1.0));
    }
    const QString file = m_dir.filePath("cue.wav");
    QVERIFY(TestAudio::writeWav(file, source, kRate, 2, TestAudio::SampleFormat::Float32));

    Cue cue(-1, "fades", file);
    cue.setDuration(1000);
    cue.setFadeEnabled(true);
    cue.setFadeDurations(200, 300);
    constexpr float kVolume = 0.8f;
    {
        PlaybackEngine engine;
        QSignalSpy decoded(&engine, &PlaybackEngine::decodingCompleted);
        QSignalSpy finished(&engine, &PlaybackEngine::playbackFinished);
        QVERIFY(engine.loadCue(&cue));
        QVERIFY(decoded.wait(5000));
        engine.setVolume(kVolume);
        engine.play();
        QVERIFY(finished.wait(5000));
        // A few silent blocks after the end, counted as the device asks for
        // them: a loaded machine's device may be late.
        const quint64 atEnd = engine.outputProgress();
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputProgress() >= atEnd + 10, 5000);
        QCOMPARE(finished.count(), 1);
    }  // closing the device flushes the file

    QFile output(m_dir.filePath("device-output.raw"));
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QByteArray bytes = output.readAll();
    std::vector<float> written(size_t(bytes.size()) / sizeof(float));
    std::memcpy(written.data(), bytes.constData(), written.size() * sizeof(float));

    // What the cue should sound like: linear fades over the whole file in
    // 1 ms steps, the volume, and the 100 ms de-click ramp from the silence
    // before the start (whatever the device's blocks).
    std::vector<float> expected(size_t(kFrames) * 2);
    for (qint64 f = 0; f < kFrames; ++f) {
        const double t = double(f * 1000 / kRate) / 1000.0;
        double fade = std::min(t / 0.2, 1.0);
        if (t > 1.0 - 0.3)
            fade *= std::max(1.0 - (t - 0.7) / 0.3, 0.0);
        const float gain = float(fade) * kVolume;
        const float declick = f < 4410 ? float(f) / 4410.0f : 1.0f;
        expected[size_t(f) * 2] = declick * (source[f * 2] * gain);
        expected[size_t(f) * 2 + 1] = declick * (source[f * 2 + 1] * gain);
    }

    auto firstSound = [](const std::vector<float>& samples) {
        for (size_t i = 0; i < samples.size(); ++i)
            if (samples[i] != 0.0f)
                return qint64(i / 2);
        return qint64(-1);
    };
    const qint64 offset = firstSound(written) - firstSound(expected);
    QVERIFY2(firstSound(written) >= 0 && offset >= 0, "nothing was played");
    QVERIFY(written.size() >= size_t(offset + kFrames + 4410) * 2);

    for (qint64 f = 0; f < kFrames; ++f) {
        for (int c = 0; c < 2; ++c) {
            const float got = written[size_t(offset + f) * 2 + c];
            const float want = expected[size_t(f) * 2 + c];
            if (std::fabs(got - want) > 1e-5f)
                QFAIL(qPrintable(QString("frame %1 channel %2: %3, expected %4").arg(f).arg(c).arg(got).arg(want)));
        }
    }
    // Silence once the cue has ended.
    for (size_t i = size_t(offset + kFrames) * 2; i < written.size(); ++i)
        QCOMPARE(written[i], 0.0f);
}

QTEST_GUILESS_MAIN(PlaybackEndToEndTest)
#include "PlaybackEndToEndTest.moc"
