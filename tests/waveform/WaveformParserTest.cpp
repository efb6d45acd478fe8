#include "waveform/WaveformParser.h"

#include "audiofile/AudioFileDecoder.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPoints = 2000;

// Calls visit with each decoded chunk as absolute mono samples (the average
// of both channels).
qint64 forEachMonoChunk(const QString& path, const std::function<void(const float*, qint64)>& visit)
{
    AudioFileDecoder decoder;
    if (!decoder.open(path))
        return 0;
    std::vector<float> stereo(65536 * 2);
    std::vector<float> mono(65536);
    qint64 total = 0;
    for (;;) {
        const qint64 n = decoder.read(stereo.data(), 65536);
        if (n == 0)
            break;
        for (qint64 i = 0; i < n; ++i)
            mono[size_t(i)] = std::fabs((stereo[size_t(2 * i)] + stereo[size_t(2 * i + 1)]) * 0.5f);
        visit(mono.data(), n);
        total += n;
    }
    return total;
}

void normaliseByMaximum(QList<float>& peaks)
{
    const float m = peaks.isEmpty() ? 0.0f : *std::max_element(peaks.begin(), peaks.end());
    if (m > 0.001f) {
        for (float& p : peaks)
            p /= m;
    }
}

// The peaks of the whole decoded sample list cut into equal buckets, taken
// the slow way with every sample in memory.
QList<float> wholeFileReference(const QString& path, int points)
{
    std::vector<float> samples;
    forEachMonoChunk(path, [&](const float* s, qint64 n) { samples.insert(samples.end(), s, s + n); });
    QList<float> peaks;
    if (points >= qsizetype(samples.size())) {
        peaks = QList<float>(samples.begin(), samples.end());
    } else {
        const size_t bucket = samples.size() / size_t(points);
        for (int i = 0; i < points; ++i)
            peaks.append(*std::max_element(samples.begin() + i * bucket, samples.begin() + (i + 1) * bucket));
    }
    normaliseByMaximum(peaks);
    return peaks;
}

// The same for files too long to hold: one pass for the length, one for the
// buckets.
QList<float> twoPassReference(const QString& path, int points, qint64* frames)
{
    const qint64 total = forEachMonoChunk(path, [](const float*, qint64) {});
    const qint64 bucket = total / points;
    QList<float> peaks(points, 0.0f);
    qint64 position = 0;
    forEachMonoChunk(path, [&](const float* s, qint64 n) {
        for (qint64 i = 0; i < n; ++i, ++position) {
            if (position < bucket * points)
                peaks[position / bucket] = std::max(peaks[position / bucket], s[i]);
        }
    });
    normaliseByMaximum(peaks);
    *frames = total;
    return peaks;
}

enum class Layout { Sine, Silence, SilentFirstHalf, SilentSecondHalf, LeftOnly };

}  // namespace

Q_DECLARE_METATYPE(Layout)

class WaveformParserTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_longFile;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString longFile();

private Q_SLOTS:
    void parsesGeneratedFiles_data();
    void parsesGeneratedFiles();
    void refusesOrFailsBadInput_data();
    void refusesOrFailsBadInput();
    void recognisesImportSuffixes_data();
    void recognisesImportSuffixes();
    void everyImportFormatParses_data();
    void everyImportFormatParses();
    void keepsEveryPeakWhenTheLengthIsOnlyEstimated();
    void reportsProgressInTenPercentSteps();
    void cancelStopsALongParse();
    void cancelDoesNotReachAShortParse();
    void parsesAnHourLongMp3Completely();
    void parsesFiveHoursCompletely();
    void givesUpAfterItsTimeLimit();
};

QString WaveformParserTest::longFile()
{
    if (!m_longFile.isEmpty())
        return m_longFile;
    // An hour of a 1 kHz tone whose level rises steadily from start to end,
    // so every part of the file has its own peak.
    const QString file = path("hour.mp3");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=1000:sample_rate=44100:duration=3600", "-af",
                            "volume='0.05+0.9*t/3600':eval=frame", "-ac", "1", "-c:a", "libmp3lame",
                            "-b:a", "64k", "-compression_level", "9", file});
    if (ffmpeg.waitForFinished(300000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0)
        m_longFile = file;
    return m_longFile;
}

void WaveformParserTest::parsesGeneratedFiles_data()
{
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<int>("expectedPoints");
    QTest::addColumn<qint64>("expectedMs");
    QTest::addColumn<int>("leadingQuiet");  // count in the warning; 0 = no warning

    QTest::newRow("3 min stereo") << 44100 << 2 << 180.0 << Layout::Sine << 2000 << qint64(180000) << 0;
    QTest::newRow("mono 22050 Hz") << 22050 << 1 << 30.0 << Layout::Sine << 2000 << qint64(30000) << 0;
    QTest::newRow("stereo 48000 Hz") << 48000 << 2 << 20.0 << Layout::Sine << 2000 << qint64(20000) << 0;
    QTest::newRow("mono 96000 Hz") << 96000 << 1 << 10.0 << Layout::Sine << 2000 << qint64(10000) << 0;
    QTest::newRow("silent first half") << 44100 << 2 << 10.0 << Layout::SilentFirstHalf << 2000 << qint64(10000) << 100;
    QTest::newRow("silent second half") << 44100 << 2 << 10.0 << Layout::SilentSecondHalf << 2000 << qint64(10000) << 0;
    QTest::newRow("left channel only") << 44100 << 2 << 5.0 << Layout::LeftOnly << 2000 << qint64(5000) << 0;
    QTest::newRow("silence") << 44100 << 2 << 5.0 << Layout::Silence << 2000 << qint64(5000) << 100;
    QTest::newRow("1500 frames") << 44100 << 1 << 1500.0 / 44100 << Layout::Sine << 1500 << qint64(34) << 1;  // sin(0)
    QTest::newRow("2000 frames") << 44100 << 2 << 2000.0 / 44100 << Layout::Sine << 2000 << qint64(45) << 1;
}

void WaveformParserTest::parsesGeneratedFiles()
{
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    QFETCH(Layout, layout);
    QFETCH(int, expectedPoints);
    QFETCH(qint64, expectedMs);
    QFETCH(int, leadingQuiet);

    TestAudio::WavSpec spec;
    spec.sampleRate = sampleRate;
    spec.channels = channels;
    spec.seconds = seconds;
    spec.frequency = 997.0;
    spec.amplitude = 0.6;
    spec.signal = layout == Layout::Silence ? TestAudio::Signal::Silence : TestAudio::Signal::Sine;
    QVector<float> samples = TestAudio::generate(spec);
    const qsizetype half = samples.size() / channels / 2 * channels;
    if (layout == Layout::SilentFirstHalf)
        std::fill(samples.begin(), samples.begin() + half, 0.0f);
    if (layout == Layout::SilentSecondHalf)
        std::fill(samples.begin() + half, samples.end(), 0.0f);
    if (layout == Layout::LeftOnly) {
        for (qsizetype i = 1; i < samples.size(); i += 2)
            samples[i] = 0.0f;
    }
    const QString file = path(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-') + ".wav");
    QVERIFY(TestAudio::writeWav(file, samples, sampleRate, channels, TestAudio::SampleFormat::Float32));

    WaveformParser parser;
    QSignalSpy started(&parser, &WaveformParser::parsingStarted);
    QSignalSpy completed(&parser, &WaveformParser::parsingCompleted);
    QSignalSpy failed(&parser, &WaveformParser::parsingFailed);
    LogCapture log;
    const WaveformParser::Result result = parser.parse(file, kPoints);

    QCOMPARE(result.peaks.size(), qsizetype(expectedPoints));
    QVERIFY2(std::llabs(result.durationMs - expectedMs) <= 1, qPrintable(QString::number(result.durationMs)));
    QCOMPARE(result.peaks, wholeFileReference(file, kPoints));

    const float loudest = *std::max_element(result.peaks.begin(), result.peaks.end());
    QCOMPARE(loudest, layout == Layout::Silence ? 0.0f : 1.0f);
    if (layout == Layout::SilentSecondHalf)
        QCOMPARE(result.peaks.back(), 0.0f);
    if (layout == Layout::SilentFirstHalf)
        QCOMPARE(result.peaks.front(), 0.0f);

    const QString warning = QStringLiteral("⚠️ WaveformParser - Found %1 leading zeros at the beginning!").arg(leadingQuiet);
    QCOMPARE(log.contains(warning), leadingQuiet > 0);
    QCOMPARE(log.contains("leading zeros"), leadingQuiet > 0);

    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toString(), file);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0).at(1).value<QList<float>>(), result.peaks);
    QCOMPARE(failed.size(), 0);
}

void WaveformParserTest::refusesOrFailsBadInput_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");  // null: no file
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("expectedLog");
    QTest::addColumn<bool>("started");

    QTest::newRow("missing file") << "missing.wav" << QByteArray() << kPoints << "❌ File not found:" << false;
    QTest::newRow("aiff suffix") << "tone.aiff" << QByteArray("FORM....AIFF") << kPoints << "❌ Unsupported format:" << false;
    QTest::newRow("no suffix") << "tone" << QByteArray("RIFF") << kPoints << "❌ Unsupported format:" << false;
    QTest::newRow("no points") << "good.wav" << QByteArray("") << 0 << "❌ Invalid point count:" << false;
    QTest::newRow("zero bytes") << "empty.mp3" << QByteArray("") << kPoints << "❌ 解析失败" << true;
    QTest::newRow("text as wav") << "notes.wav" << QByteArray("RIFF and then only text, no audio") << kPoints
                                 << "❌ 解析失败" << true;
    QByteArray garbage(200000, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + i / 13) & 0xff);
    QTest::newRow("garbage as mp3") << "noise.mp3" << garbage << kPoints << "❌ 解析失败" << true;
}

void WaveformParserTest::refusesOrFailsBadInput()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(int, points);
    QFETCH(QString, expectedLog);
    QFETCH(bool, started);

    const QString file = path(fileName);
    if (fileName == "good.wav") {
        QVERIFY(TestAudio::writeWav(file, TestAudio::WavSpec{}));
    } else if (!content.isNull()) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }

    WaveformParser parser;
    QSignalSpy startedSpy(&parser, &WaveformParser::parsingStarted);
    QSignalSpy failed(&parser, &WaveformParser::parsingFailed);
    QSignalSpy completed(&parser, &WaveformParser::parsingCompleted);
    LogCapture log;
    const WaveformParser::Result result = parser.parse(file, points);

    QVERIFY(result.peaks.isEmpty());
    QCOMPARE(result.durationMs, qint64(0));
    QVERIFY2(log.contains(expectedLog), qPrintable(log.lines().join('\n')));
    QCOMPARE(startedSpy.size(), started ? 1 : 0);
    QCOMPARE(failed.size(), started ? 1 : 0);
    QCOMPARE(completed.size(), 0);
}

void WaveformParserTest::recognisesImportSuffixes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("supported");
    for (const char* name : {"a.mp3", "b.MP3", "c.Wav", "d.flac", "e.ogg", "f.m4a", "g.aac", "h.wma", "i.mp4",
                             "j.m4b", "k.m4r", "/dir.x/take.two.flac"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    for (const char* name : {"a.aiff", "b.opus", "c.mp3.txt", "noext", "/dir.mp3/file", "mp3"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
}

void WaveformParserTest::recognisesImportSuffixes()
{
    QFETCH(QString, fileName);
    QFETCH(bool, supported);
    QCOMPARE(WaveformParser().isSupportedFormat(fileName), supported);
}

void WaveformParserTest::everyImportFormatParses_data()
{
    QTest::addColumn<QString>("suffix");
    for (const char* suffix : {"mp3", "wav", "flac", "ogg", "m4a", "aac", "wma"})
        QTest::newRow(suffix) << QString::fromLatin1(suffix);
}

void WaveformParserTest::everyImportFormatParses()
{
    QFETCH(QString, suffix);
    TestAudio::WavSpec spec;
    spec.seconds = 3.0;
    const QString file = path("format." + suffix);
    QVERIFY(TestAudio::makeFile(file, spec));

    WaveformParser parser;
    const WaveformParser::Result result = parser.parse(file, kPoints);
    QCOMPARE(result.peaks.size(), qsizetype(kPoints));
    QCOMPARE(*std::max_element(result.peaks.begin(), result.peaks.end()), 1.0f);
    // Lossy codecs pad the ends a little.
    QVERIFY2(result.durationMs >= 2950 && result.durationMs <= 3100, qPrintable(QString::number(result.durationMs)));
    QVERIFY(result.peaks[kPoints / 2] > 0.9f);
}

void WaveformParserTest::keepsEveryPeakWhenTheLengthIsOnlyEstimated()
{
    // An ADTS stream has no length in its header; the estimate from the bit
    // rate is off by a few per cent, so the buckets come from the block
    // maxima. A minute is longer than those hold sample by sample.
    TestAudio::WavSpec spec;
    spec.seconds = 60.0;
    spec.frequency = 1000.0;
    QVector<float> samples = TestAudio::generate(spec);
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] *= float(0.1 + 0.9 * double(i) / double(samples.size()));
    const QString wav = path("rising.wav");
    const QString file = path("rising.aac");
    QVERIFY(TestAudio::writeWav(wav, samples, spec.sampleRate, spec.channels));
    QVERIFY(TestAudio::encode(wav, file));

    WaveformParser parser;
    const WaveformParser::Result result = parser.parse(file, kPoints);
    const QList<float> reference = wholeFileReference(file, kPoints);
    QCOMPARE(result.peaks.size(), qsizetype(kPoints));
    // Each bucket has its own maximum, or a neighbour's from a block (a few
    // samples) across the edge.
    for (int i = 0; i < kPoints; ++i) {
        const float neighbours = std::max({reference[std::max(0, i - 1)], reference[i],
                                           reference[std::min(kPoints - 1, i + 1)]});
        QVERIFY2(result.peaks[i] >= reference[i] && result.peaks[i] <= neighbours, qPrintable(QString::number(i)));
    }
    QVERIFY2(std::llabs(result.durationMs - 60000) <= 100, qPrintable(QString::number(result.durationMs)));
}

void WaveformParserTest::reportsProgressInTenPercentSteps()
{
    // 50 chunks of 65536 frames: each read adds 2 %, so every multiple of
    // 10 is reached exactly once.
    TestAudio::WavSpec spec;
    spec.seconds = 50.0 * 65536 / 44100;
    QVERIFY(TestAudio::writeWav(path("progress.wav"), spec));

    WaveformParser parser;
    QSignalSpy progress(&parser, &WaveformParser::parsingProgress);
    QVERIFY(!parser.parse(path("progress.wav"), kPoints).peaks.isEmpty());

    QList<int> percents;
    for (const QList<QVariant>& args : progress)
        percents << args.at(0).toInt();
    QCOMPARE(percents, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
}

void WaveformParserTest::cancelStopsALongParse()
{
    const QString file = longFile();
    QVERIFY2(!file.isEmpty(), "ffmpeg could not generate the long file");

    WaveformParser parser;
    parser.cancel();  // a cancel before the parse is cleared when it starts
    connect(&parser, &WaveformParser::parsingProgress, &parser, [&parser] { parser.cancel(); });
    QSignalSpy failed(&parser, &WaveformParser::parsingFailed);
    QSignalSpy progress(&parser, &WaveformParser::parsingProgress);
    LogCapture log;
    const WaveformParser::Result result = parser.parse(file, kPoints);

    QVERIFY(result.peaks.isEmpty());
    QCOMPARE(result.durationMs, qint64(0));
    QCOMPARE(failed.size(), 1);
    QVERIFY(log.contains("❌ 解析失败"));
    // Cancelled at 10 % (chunk 243 of about 2423) and seen at the check
    // before chunk 300, before 20 % is reached.
    QCOMPARE(progress.size(), 1);
}

void WaveformParserTest::cancelDoesNotReachAShortParse()
{
    TestAudio::WavSpec spec;
    spec.seconds = 60.0;  // 41 chunks: no cancel check is reached
    QVERIFY(TestAudio::writeWav(path("minute.wav"), spec));

    WaveformParser parser;
    connect(&parser, &WaveformParser::parsingStarted, &parser, [&parser] { parser.cancel(); });
    QSignalSpy completed(&parser, &WaveformParser::parsingCompleted);
    const WaveformParser::Result result = parser.parse(path("minute.wav"), kPoints);
    QCOMPARE(result.peaks.size(), qsizetype(kPoints));
    QCOMPARE(result.durationMs, qint64(60000));
    QCOMPARE(completed.size(), 1);
}

void WaveformParserTest::parsesAnHourLongMp3Completely()
{
    const QString file = longFile();
    QVERIFY2(!file.isEmpty(), "ffmpeg could not generate the long file");

    WaveformParser parser;
    QSignalSpy progress(&parser, &WaveformParser::parsingProgress);
    auto log = std::make_unique<LogCapture>();
    QElapsedTimer timer;
    timer.start();
    const WaveformParser::Result result = parser.parse(file, kPoints);
    const qint64 elapsed = timer.elapsed();
    const QStringList logged = log->lines();
    log.reset();
    qInfo() << "hour-long MP3 parsed in" << elapsed << "ms";

    QCOMPARE(result.peaks.size(), qsizetype(kPoints));
    // The whole hour, give or take the codec's padding.
    QVERIFY2(std::llabs(result.durationMs - 3600000) <= 100, qPrintable(QString::number(result.durationMs)));
    QVERIFY(progress.last().at(0).toInt() >= 90);
    QVERIFY2(logged.isEmpty(), qPrintable(logged.join('\n')));

    // The level rises over the hour, so the peaks rise with it to the end.
    QCOMPARE(result.peaks.back(), 1.0f);
    QVERIFY(result.peaks.front() < 0.07f);
    QVERIFY(std::fabs(result.peaks[999] - 0.5f / 0.95f) < 0.02f);

    qint64 frames = 0;
    QCOMPARE(result.peaks, twoPassReference(file, kPoints, &frames));
    QCOMPARE(result.durationMs, qint64(double(frames) / 44100 * 1000.0));
}

void WaveformParserTest::parsesFiveHoursCompletely()
{
    // Five hours of 2 kHz mono FLAC, silent but for a 200 Hz tone at three
    // places with their own levels: the first minute (0.3), nine seconds
    // at 2.5 hours (0.6) and the last two minutes (1.0). Each of the 2000
    // points covers 9 s.
    const QString file = path("five-hours.flac");
    const QString tone = QStringLiteral("sine=f=200:r=2000:d=%1,volume=%2");
    const QString silence = QStringLiteral("anullsrc=r=2000:cl=mono:d=%1");
    const QString graph = tone.arg(60).arg(0.3) + "[a];" + silence.arg(8940) + "[b];" + tone.arg(9).arg(0.6)
        + "[c];" + silence.arg(8871) + "[d];" + tone.arg(120).arg(1.0) + "[e];[a][b][c][d][e]concat=n=5:v=0:a=1";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-filter_complex", graph,
                            "-c:a", "flac", "-sample_fmt", "s16", file});
    QVERIFY(ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0);

    WaveformParser parser;
    QSignalSpy completed(&parser, &WaveformParser::parsingCompleted);
    auto log = std::make_unique<LogCapture>();
    QElapsedTimer timer;
    timer.start();
    const WaveformParser::Result result = parser.parse(file, kPoints);
    const qint64 elapsed = timer.elapsed();
    const QStringList logged = log->lines();
    log.reset();
    qInfo() << "five hours parsed in" << elapsed << "ms";

    QVERIFY2(logged.isEmpty(), qPrintable(logged.join('\n')));
    QCOMPARE(completed.size(), 1);
    QCOMPARE(result.peaks.size(), qsizetype(kPoints));
    QCOMPARE(result.durationMs, qint64(5 * 3600 * 1000));
    QVERIFY(std::fabs(result.peaks[0] - 0.3f) < 0.01f);
    QVERIFY(std::fabs(result.peaks[1000] - 0.6f) < 0.01f);
    QCOMPARE(result.peaks[kPoints - 1], 1.0f);
    for (int i : {10, 500, 998, 1002, 1500, 1985})
        QVERIFY2(result.peaks[i] < 0.001f, qPrintable(QString::number(i)));
}

void WaveformParserTest::givesUpAfterItsTimeLimit()
{
    TestAudio::WavSpec spec;
    spec.seconds = 60.0;
    QVERIFY(TestAudio::writeWav(path("minute-for-the-clock.wav"), spec));

    WaveformParser parser;
    parser.setTimeLimit(std::chrono::milliseconds(0));
    QSignalSpy failed(&parser, &WaveformParser::parsingFailed);
    LogCapture log;
    const WaveformParser::Result result = parser.parse(path("minute-for-the-clock.wav"), kPoints);
    QVERIFY(result.peaks.isEmpty());
    QCOMPARE(result.durationMs, qint64(0));
    QCOMPARE(failed.size(), 1);
    QVERIFY(log.contains("⚠️ 解析超时，强制终止"));
}

QTEST_GUILESS_MAIN(WaveformParserTest)
#include "WaveformParserTest.moc"
