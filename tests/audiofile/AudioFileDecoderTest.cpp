#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"
#include "platform/PoolTask.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QtEndian>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

std::vector<float> decodeAll(const QString& path, qint64* declared = nullptr, bool* stoppedOnError = nullptr)
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
    if (stoppedOnError)
        *stoppedOnError = decoder.stoppedOnError();
    return samples;
}

QByteArray runFfmpeg(const QStringList& args, bool* ok)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin"} + args);
    const bool finished = ffmpeg.waitForFinished(120000);
    const QByteArray output = ffmpeg.readAllStandardOutput();
    *ok = finished && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
    return output;
}

// Pink noise (a stand-in for music) with its own signal on each channel,
// encoded by the suffix of path; extraArgs go to the encoder.
bool makeNoise(const QString& path, double seconds, int rate, int channels, const QStringList& extraArgs = {})
{
    const QString noise = QStringLiteral("anoisesrc=d=%1:c=pink:r=%2:a=0.3:seed=%3").arg(seconds).arg(rate);
    const QString graph = channels == 1 ? noise.arg(1)
                                        : noise.arg(1) + "[l];" + noise.arg(2) + "[r];[l][r]amerge=inputs=2";
    const QString wav = path + ".source.wav";
    bool ok = false;
    runFfmpeg({"-y", "-filter_complex", graph, wav}, &ok);
    ok = ok && (path.endsWith(".wav") ? QFile::rename(wav, path) : TestAudio::encode(wav, path, extraArgs));
    QFile::remove(wav);
    return ok;
}

// Overwrites count bytes from the middle of the file on with garbage.
bool damageMiddle(const QString& path, qint64 count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    QRandomGenerator rng(99);
    const qint64 start = bytes.size() / 2;
    for (qint64 i = start; i < std::min<qint64>(start + count, bytes.size()); ++i)
        bytes[i] = char(rng.bounded(256));
    return file.seek(0) && file.write(bytes) == bytes.size();
}

bool cutTo(const QString& path, qint64 bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(bytes);
}

// Frame index at which the frames of needle start inside haystack, or -1.
qint64 findFrames(const std::vector<float>& haystack, const float* needle, qint64 frames)
{
    const auto bytesOf = [](const float* f) { return reinterpret_cast<const char*>(f); };
    const char* begin = bytesOf(haystack.data());
    const char* end = begin + haystack.size() * sizeof(float);
    const char* found = std::search(begin, end, bytesOf(needle), bytesOf(needle) + frames * 2 * sizeof(float));
    const qint64 offset = found - begin;
    return found == end || offset % (2 * sizeof(float)) != 0 ? -1 : offset / qint64(2 * sizeof(float));
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
    void decodesLikeTheFfmpegCommand_data();
    void decodesLikeTheFfmpegCommand();
    void skipsDamageInEveryFormat_data();
    void skipsDamageInEveryFormat();
    void reportsACutFileAsShort_data();
    void reportsACutFileAsShort();
    void decodesAtTheSameTimeOnSeveralThreads();
    void codecThreadsDecodeTheSameSamples();
    void validateAudioFileGivesReasons_data();
    void validateAudioFileGivesReasons();
    void absurdDeclaredLengthCountsAsUnknown();
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

void AudioFileDecoderTest::decodesLikeTheFfmpegCommand_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    for (const char* suffix : {"mp3", "wav", "flac", "ogg", "m4a", "aac", "wma"}) {
        QTest::addRow("%s stereo 44.1 kHz", suffix) << QString::fromLatin1(suffix) << 44100 << 2;
        QTest::addRow("%s stereo 48 kHz", suffix) << QString::fromLatin1(suffix) << 48000 << 2;
        QTest::addRow("%s mono 22.05 kHz", suffix) << QString::fromLatin1(suffix) << 22050 << 1;
    }
}

void AudioFileDecoderTest::decodesLikeTheFfmpegCommand()
{
    // Every sample as the ffmpeg command decodes the file to 32-bit float
    // stereo at 44100 Hz (mono on both channels at full level).
    QFETCH(QString, suffix);
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString file = path(QStringLiteral("corpus-%1-%2.%3").arg(rate).arg(channels).arg(suffix));
    QVERIFY(makeNoise(file, 4.0, rate, channels));

    QStringList args{"-i", file, "-f", "f32le", "-ar", "44100"};
    args << (channels == 1 ? QStringList{"-af", "pan=stereo|c0=c0|c1=c0"} : QStringList{"-ac", "2"}) << "-";
    bool ok = false;
    const QByteArray reference = runFfmpeg(args, &ok);
    QVERIFY(ok);

    const std::vector<float> ours = decodeAll(file);
    QCOMPARE(qsizetype(ours.size() * sizeof(float)), reference.size());
    const size_t firstDifference =
        std::mismatch(ours.begin(), ours.end(), reinterpret_cast<const float*>(reference.constData())).first
        - ours.begin();
    QVERIFY2(std::memcmp(ours.data(), reference.constData(), size_t(reference.size())) == 0,
             qPrintable(QStringLiteral("first difference at frame %1").arg(firstDifference / 2)));
}

void AudioFileDecoderTest::skipsDamageInEveryFormat_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("seconds");
    for (const char* suffix : {"mp3", "wav", "flac", "ogg", "aac", "wma"})
        QTest::newRow(suffix) << QString::fromLatin1(suffix) << 40;
    // The case seen: AAC in MP4 stopped at the damage, half way through.
    QTest::newRow("m4a") << QStringLiteral("m4a") << 180;
}

void AudioFileDecoderTest::skipsDamageInEveryFormat()
{
    QFETCH(QString, suffix);
    QFETCH(int, seconds);
    const QString clean = path("clean-" + QString::number(seconds) + "." + suffix);
    const QString damaged = path("damaged-" + QString::number(seconds) + "." + suffix);
    QVERIFY(makeNoise(clean, seconds, 44100, 2));
    QVERIFY(QFile::copy(clean, damaged));
    // About two seconds' worth of bytes overwritten in the middle.
    QVERIFY(damageMiddle(damaged, QFileInfo(clean).size() * 2 / seconds));

    const std::vector<float> whole = decodeAll(clean);
    bool stoppedOnError = true;
    const std::vector<float> decoded = decodeAll(damaged, nullptr, &stoppedOnError);
    const double wholeSeconds = double(whole.size()) / 2 / 44100;
    const double decodedSeconds = double(decoded.size()) / 2 / 44100;
    qInfo("%s of %.3f s with 2 s damaged in the middle decodes %.3f s", qPrintable(suffix), wholeSeconds,
          decodedSeconds);

    QVERIFY(!stoppedOnError);
    // What is lost is the damage and what shares a packet or page with it.
    QVERIFY2(decodedSeconds > wholeSeconds - 4.0, qPrintable(QString::number(decodedSeconds)));
    // The rest of the file comes out sample for sample: a second taken from
    // near the end of the clean decode is there.
    const qint64 probe = qint64(whole.size() / 2) - 6 * 44100;
    QVERIFY(findFrames(decoded, whole.data() + probe * 2, 44100) > qint64(decoded.size() / 4));
}

void AudioFileDecoderTest::reportsACutFileAsShort_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("encoderArgs");
    QTest::addColumn<bool>("declaresItsLength");
    QTest::newRow("flac") << "cut.flac" << QStringList() << true;
    QTest::newRow("mp3 with a length header") << "cut.mp3" << QStringList() << true;
    QTest::newRow("m4a with its index in front") << "cut.m4a" << QStringList{"-movflags", "+faststart"} << true;
    // WAV takes its length from the data there is.
    QTest::newRow("wav") << "cut.wav" << QStringList() << false;
}

void AudioFileDecoderTest::reportsACutFileAsShort()
{
    QFETCH(QString, fileName);
    QFETCH(QStringList, encoderArgs);
    QFETCH(bool, declaresItsLength);
    const QString file = path(fileName);
    QVERIFY(makeNoise(file, 20.0, 44100, 2, encoderArgs));
    QVERIFY(cutTo(file, QFileInfo(file).size() / 3));

    auto log = std::make_unique<LogCapture>();
    PcmBuffer buffer;
    decodeFileToBuffer(file, buffer);
    QString reason;
    const bool valid = validateAudioFile(file, &reason);
    const qint64 probed = probeDurationMs(file);
    const bool loggedShort = log->contains("[Decode] Shorter than declared:");
    log.reset();
    qInfo() << fileName << "probes at" << probed << "ms, decodes" << buffer.durationMs() << "ms, state"
            << int(buffer.state()) << buffer.errorString() << reason;

    // Whatever the container says, the buffer holds what really decodes.
    QVERIFY2(buffer.durationMs() > 3000 && buffer.durationMs() < 10000, qPrintable(QString::number(buffer.durationMs())));
    if (declaresItsLength) {
        QVERIFY(probed >= 19900);  // the container's word
        QCOMPARE(buffer.state(), PcmBuffer::State::Short);
        QVERIFY(buffer.endReached());
        QCOMPARE(buffer.errorString(), QStringLiteral("only %1 of %2 ms decode").arg(buffer.durationMs()).arg(probed));
        QVERIFY(loggedShort);
        QVERIFY(!valid);
        QCOMPARE(reason, QStringLiteral("File is damaged: only %1 of %2 ms decode").arg(buffer.durationMs()).arg(probed));
    } else {
        QVERIFY(std::llabs(probed - buffer.durationMs()) <= 1);
        QCOMPARE(buffer.state(), PcmBuffer::State::Complete);
        QVERIFY(!loggedShort);
        QVERIFY2(valid, qPrintable(reason));
    }
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
    // Every file at once on the global pool, then every probe at once.
    QList<QFuture<qint64>> decoded;
    for (const QString& file : std::as_const(files)) {
        decoded << PoolTask::run(QThreadPool::globalInstance(),
                                 [file] { return qint64(decodeAll(file).size() / 2) * 1000 / 44100; });
    }
    QList<qint64> lengths;
    for (const QFuture<qint64>& future : std::as_const(decoded))
        lengths << future.result();
    QList<QFuture<qint64>> probed;
    for (const QString& file : std::as_const(files))
        probed << PoolTask::run(QThreadPool::globalInstance(), [file] { return probeDurationMs(file); });
    QList<qint64> probes;
    for (const QFuture<qint64>& future : std::as_const(probed))
        probes << future.result();
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

// A damaged RF64 header (a WAV with 64-bit sizes) declares 10^16 frames in a
// file of 0.1 s: the length is not believed, and nothing computed from it
// overflows (an undefined-behaviour build stops at the first overflow).
void AudioFileDecoderTest::absurdDeclaredLengthCountsAsUnknown()
{
    const qint64 declared = 10000000000000000LL;
    const qint64 frames = 4410;
    auto le16 = [](quint16 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    auto le32 = [](quint32 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le64 = [](quint64 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<const char*>(&v), 8); };
    const QByteArray fmt = le16(1) + le16(2) + le32(44100) + le32(44100 * 4) + le16(4) + le16(16);
    const QByteArray ds64 = le64(0xFFFFFFFFu) + le64(quint64(declared) * 4) + le64(quint64(declared)) + le32(0);
    QByteArray pcm;
    for (qint64 i = 0; i < frames * 2; ++i)
        pcm += le16(quint16(qint16(std::lround(8000.0 * std::sin(double(i / 2) * 0.05)))));
    const QByteArray file = "RF64" + le32(0xFFFFFFFFu) + "WAVE" + "ds64" + le32(quint32(ds64.size())) + ds64
        + "fmt " + le32(quint32(fmt.size())) + fmt + "data" + le32(0xFFFFFFFFu) + pcm;
    const QString name = path("absurd.wav");
    {
        QFile out(name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file), qint64(file.size()));
    }

    AudioFileDecoder decoder;
    QVERIFY(decoder.open(name));
    QCOMPARE(decoder.declaredFrames(), qint64(0));
    const std::vector<float> samples = decodeAll(name);
    QCOMPARE(qint64(samples.size()), frames * 2);
    QCOMPARE(probeDurationMs(name), qint64(0));
    QString reason;
    QVERIFY2(validateAudioFile(name, &reason), qPrintable(reason));
    PcmBuffer buffer;
    decodeFileToBuffer(name, buffer);
    QCOMPARE(buffer.state(), PcmBuffer::State::Complete);
    QCOMPARE(buffer.frames(), frames);

    // Milliseconds of any frame count, without overflow.
    QCOMPARE(AudioFileDecoder::framesToMs(declared, 44100), qint64(226757369614512));
    QCOMPARE(AudioFileDecoder::framesToMs(44100 * 60, 44100), qint64(60000));
    QCOMPARE(AudioFileDecoder::framesToMs(std::numeric_limits<qint64>::max(), 1),
             std::numeric_limits<qint64>::max() / 1000 * 1000);
}

QTEST_GUILESS_MAIN(AudioFileDecoderTest)
#include "AudioFileDecoderTest.moc"
