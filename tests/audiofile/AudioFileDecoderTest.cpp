#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>
#include <QtTest>

#include <cmath>
#include <vector>

namespace {

std::vector<float> decodeAll(const QString& path, qint64* declared = nullptr)
{
    AudioFileDecoder decoder;
    std::vector<float> samples;
    if (!decoder.open(path))
        return samples;
    if (declared)
        *declared = decoder.declaredFrames();
    std::vector<float> chunk(4096 * 2);
    for (;;) {
        const qint64 n = decoder.read(chunk.data(), 4096);
        if (n == 0)
            break;
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + n * 2);
    }
    return samples;
}

float peak(const std::vector<float>& samples, size_t from, size_t to, int channel)
{
    float p = 0.0f;
    for (size_t i = from * 2 + channel; i < std::min(to * 2, samples.size()); i += 2)
        p = std::max(p, std::fabs(samples[i]));
    return p;
}

}  // namespace

class AudioFileDecoderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void probeAcceptsEveryImportFormat_data();
    void probeAcceptsEveryImportFormat();
    void probeMeasuresInOutputFrames();
    void probeOpensAwkwardFileNames();
    void probeRefusesBrokenInput_data();
    void probeRefusesBrokenInput();
    void decodesMonoAtFullLevelOnBothChannels();
    void decodesToTheRealEndOfAFile();
    void survivesCorruptDataInTheMiddle();
    void decodesAtTheSameTimeOnSeveralThreads();
    void codecThreadsDecodeTheSameSamples();
    void validateAudioFileGivesReasons_data();
    void validateAudioFileGivesReasons();
};

void AudioFileDecoderTest::probeAcceptsEveryImportFormat_data()
{
    QTest::addColumn<QString>("suffix");
    for (const char* suffix : {"mp3", "wav", "flac", "ogg", "m4a", "aac", "wma"})
        QTest::newRow(suffix) << QString::fromLatin1(suffix);
}

void AudioFileDecoderTest::probeAcceptsEveryImportFormat()
{
    QFETCH(QString, suffix);
    const QString file = path("three-seconds." + suffix);
    TestAudio::WavSpec spec;
    spec.seconds = 3.0;
    QVERIFY(TestAudio::makeFile(file, spec));

    const qint64 ms = probeDurationMs(file);
    // Lossy codecs pad a little; the length must still be about 3 s.
    QVERIFY2(ms >= 2950 && ms <= 3100, qPrintable(QString::number(ms)));

    const std::vector<float> samples = decodeAll(file);
    const double seconds = double(samples.size()) / 2 / AudioFileDecoder::kSampleRate;
    QVERIFY2(std::fabs(seconds - 3.0) < 0.08, qPrintable(QString::number(seconds)));
    QVERIFY(peak(samples, 44100, 88200, 0) > 0.4f);
}

void AudioFileDecoderTest::probeMeasuresInOutputFrames()
{
    // A 48 kHz file of 10 s is 10000 ms, and the result is truncated.
    TestAudio::WavSpec spec;
    spec.sampleRate = 48000;
    spec.seconds = 10.0;
    QVERIFY(TestAudio::writeWav(path("48k.wav"), spec));
    QCOMPARE(probeDurationMs(path("48k.wav")), qint64(10000));

    spec.sampleRate = 44100;
    spec.seconds = 1.9999;  // 88195.59 frames -> 88196 frames = 1999.9 ms
    QVERIFY(TestAudio::writeWav(path("short.wav"), spec));
    QCOMPARE(probeDurationMs(path("short.wav")), qint64(1999));

    spec.seconds = 60.0;
    QVERIFY(TestAudio::writeWav(path("minute.wav"), spec));
    QCOMPARE(probeDurationMs(path("minute.wav")), qint64(60000));
}

void AudioFileDecoderTest::probeOpensAwkwardFileNames()
{
    const QStringList names = {
        QStringLiteral("婚礼 进场音乐.mp3"),
        QStringLiteral("quote \"double\" and 'single'.wav"),
        QStringLiteral("colon: and question?.flac"),
        QStringLiteral("http:not-a-url.wav"),
    };
    TestAudio::WavSpec spec;
    spec.seconds = 2.0;
    for (const QString& name : names) {
        QVERIFY2(TestAudio::makeFile(path(name), spec), qPrintable(name));
        const qint64 ms = probeDurationMs(path(name));
        QVERIFY2(ms >= 1990 && ms <= 2100, qPrintable(name + ": " + QString::number(ms)));
    }
}

void AudioFileDecoderTest::probeRefusesBrokenInput_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedLog");

    QTest::newRow("empty path") << QString() << QByteArray() << "文件不存在或路径为空";
    QTest::newRow("missing file") << "missing.mp3" << QByteArray() << "文件不存在或路径为空";
    QTest::newRow("zero bytes") << "empty.mp3" << QByteArray("") << "打开失败";
    QTest::newRow("text as mp3") << "notes.mp3" << QByteArray("just some text\nnot audio at all\n") << "打开失败";
    QTest::newRow("text as wav") << "notes.wav" << QByteArray("RIFF but nothing else") << "打开失败";
    QTest::newRow("playlist as flac") << "list.flac" << QByteArray("#EXTM3U\n/etc/passwd\n") << "打开失败";
}

void AudioFileDecoderTest::probeRefusesBrokenInput()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedLog);

    QString file;
    if (!fileName.isEmpty()) {
        file = path(fileName);
        if (!content.isNull()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
    }
    LogCapture log;
    QCOMPARE(probeDurationMs(file), qint64(0));
    QVERIFY2(log.contains(expectedLog), qPrintable(log.lines().join('\n')));
}

void AudioFileDecoderTest::decodesMonoAtFullLevelOnBothChannels()
{
    TestAudio::WavSpec spec;
    spec.channels = 1;
    spec.amplitude = 0.8;
    spec.seconds = 1.0;
    QVERIFY(TestAudio::writeWav(path("mono.wav"), spec));
    const std::vector<float> samples = decodeAll(path("mono.wav"));
    QCOMPARE(samples.size(), size_t(44100 * 2));
    QVERIFY(std::fabs(peak(samples, 0, 44100, 0) - 0.8f) < 0.01f);
    QVERIFY(std::fabs(peak(samples, 0, 44100, 1) - 0.8f) < 0.01f);
    for (size_t i = 0; i < samples.size(); i += 2)
        QCOMPARE(samples[i], samples[i + 1]);
}

void AudioFileDecoderTest::decodesToTheRealEndOfAFile()
{
    // A click in the very last frames must come out: nothing of the tail is
    // lost to an unflushed resampler, also from another sample rate.
    for (int rate : {44100, 48000, 22050}) {
        const int frames = rate * 2;
        QVector<float> samples(frames * 2, 0.0f);
        for (int i = frames - 20; i < frames - 10; ++i)
            samples[i * 2] = samples[i * 2 + 1] = 0.9f;
        const QString file = path(QStringLiteral("tail-%1.wav").arg(rate));
        QVERIFY(TestAudio::writeWav(file, samples, rate, 2));

        const std::vector<float> decoded = decodeAll(file);
        const size_t outFrames = decoded.size() / 2;
        QVERIFY2(std::llabs(qint64(outFrames) - 88200) <= 2, qPrintable(QString::number(outFrames)));
        QVERIFY2(peak(decoded, outFrames - 100, outFrames, 0) > 0.5f, qPrintable(QString::number(rate)));
    }
}

void AudioFileDecoderTest::survivesCorruptDataInTheMiddle()
{
    TestAudio::WavSpec spec;
    spec.seconds = 6.0;
    QVERIFY(TestAudio::makeFile(path("damaged.mp3"), spec));
    QFile file(path("damaged.mp3"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    // Overwrite a stretch in the middle with garbage.
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i)
        bytes[i] = char((i * 7919) & 0xff);
    file.seek(0);
    file.write(bytes);
    file.close();

    const std::vector<float> decoded = decodeAll(path("damaged.mp3"));
    const double seconds = double(decoded.size()) / 2 / 44100;
    // The read goes on after the damage to (about) the end.
    QVERIFY2(seconds > 5.5, qPrintable(QString::number(seconds)));
    QVERIFY(peak(decoded, decoded.size() / 2 - 44100, decoded.size() / 2, 0) > 0.3f);
}

void AudioFileDecoderTest::decodesAtTheSameTimeOnSeveralThreads()
{
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        TestAudio::WavSpec spec;
        spec.seconds = 1.0 + i;
        spec.sampleRate = i % 2 ? 48000 : 44100;
        const QString file = path(QStringLiteral("thread-%1.flac").arg(i));
        QVERIFY(TestAudio::makeFile(file, spec));
        files << file;
    }
    const QList<qint64> lengths = QtConcurrent::blockingMapped(files, [](const QString& file) {
        return qint64(decodeAll(file).size() / 2) * 1000 / 44100;
    });
    const QList<qint64> probes = QtConcurrent::blockingMapped(files, [](const QString& file) {
        return probeDurationMs(file);
    });
    for (int i = 0; i < 4; ++i) {
        QVERIFY(std::llabs(lengths[i] - (1000 + 1000 * i)) <= 2);
        QVERIFY(std::llabs(probes[i] - (1000 + 1000 * i)) <= 2);
    }
}

void AudioFileDecoderTest::codecThreadsDecodeTheSameSamples()
{
    TestAudio::WavSpec spec;
    spec.seconds = 5.0;
    spec.signal = TestAudio::Signal::Noise;
    QVERIFY(TestAudio::makeFile(path("threads.flac"), spec));

    const std::vector<float> single = decodeAll(path("threads.flac"));
    AudioFileDecoder decoder;
    decoder.setCodecThreads(4);
    QVERIFY(decoder.open(path("threads.flac")));
    std::vector<float> threaded;
    std::vector<float> chunk(4096 * 2);
    while (const qint64 n = decoder.read(chunk.data(), 4096))
        threaded.insert(threaded.end(), chunk.begin(), chunk.begin() + n * 2);
    QCOMPARE(threaded.size(), size_t(5 * 44100 * 2));
    QVERIFY(threaded == single);
}

void AudioFileDecoderTest::validateAudioFileGivesReasons_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty path") << QString() << false << "File path is empty";
    QTest::newRow("missing") << "nothing-here.wav" << false << "File not found";
    QTest::newRow("zero bytes") << "zero.wav" << false << "File is empty (0 bytes)";
    QTest::newRow("text") << "text.mp3" << false << "Decoder init failed: ";
    QTest::newRow("good") << "good.wav" << true << QString();
}

void AudioFileDecoderTest::validateAudioFileGivesReasons()
{
    QFETCH(QString, fileName);
    QFETCH(bool, valid);
    QFETCH(QString, reason);
    {
        QFile zero(path("zero.wav"));
        QVERIFY(zero.open(QIODevice::WriteOnly));
        QFile text(path("text.mp3"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("hello, this is not audio");
        TestAudio::WavSpec spec;
        QVERIFY(TestAudio::writeWav(path("good.wav"), spec));
    }
    QString why;
    QCOMPARE(validateAudioFile(fileName.isEmpty() ? QString() : path(fileName), &why), valid);
    QVERIFY2(why.startsWith(reason), qPrintable(why));
}

QTEST_GUILESS_MAIN(AudioFileDecoderTest)
#include "AudioFileDecoderTest.moc"
