#include "waveform/LoudnessMeasurement.h"

#include "platform/PoolTask.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <cmath>

namespace {

struct Segment {
    double dbfs;  // peak level of the sine
    double seconds;
};

// A 1 kHz sine through level steps with continuous phase, as in the EBU
// loudness test signals.
QVector<float> toneSteps(const QList<Segment>& segments, int channels)
{
    constexpr int rate = 44100;
    QVector<float> samples;
    qint64 n = 0;
    for (const Segment& segment : segments) {
        const double amplitude = std::pow(10.0, segment.dbfs / 20.0);
        const qint64 frames = qRound64(segment.seconds * rate);
        for (qint64 i = 0; i < frames; ++i, ++n) {
            const float value = float(amplitude * std::sin(2.0 * M_PI * 1000.0 * double(n) / rate));
            for (int c = 0; c < channels; ++c)
                samples.append(value);
        }
    }
    return samples;
}

}  // namespace

class LoudnessMeasurementTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void measuresReferenceSignals_data();
    void measuresReferenceSignals();
    void unmeasurableFilesGiveTheMarker_data();
    void unmeasurableFilesGiveTheMarker();
    void everyImportFormatMeasures_data();
    void everyImportFormatMeasures();
    void measuresOnSeveralThreadsAtOnce();
    void measuresTheWholeOfALongFile();
};

void LoudnessMeasurementTest::measuresReferenceSignals_data()
{
    QTest::addColumn<QList<Segment>>("segments");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("expected");

    QTest::newRow("stereo -23 dBFS") << QList<Segment>{{-23.0, 20.0}} << 2 << -23.0;
    QTest::newRow("stereo -33 dBFS") << QList<Segment>{{-33.0, 20.0}} << 2 << -33.0;
    // A mono file plays on both channels at full level, so it measures
    // like the stereo signal.
    QTest::newRow("mono -23 dBFS") << QList<Segment>{{-23.0, 20.0}} << 1 << -23.0;
    QTest::newRow("mono -33 dBFS") << QList<Segment>{{-33.0, 20.0}} << 1 << -33.0;
    QTest::newRow("relative gate") << QList<Segment>{{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}} << 2 << -23.0;
    QTest::newRow("absolute and relative gate")
        << QList<Segment>{{-72.0, 10.0}, {-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}, {-72.0, 10.0}} << 2 << -23.0;
    QTest::newRow("level steps") << QList<Segment>{{-26.0, 20.0}, {-20.0, 20.1}, {-26.0, 20.0}} << 2 << -23.0;
}

void LoudnessMeasurementTest::measuresReferenceSignals()
{
    QFETCH(QList<Segment>, segments);
    QFETCH(int, channels);
    QFETCH(double, expected);

    const QString file = path(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".wav");
    QVERIFY(TestAudio::writeWav(file, toneSteps(segments, channels), 44100, channels,
                                TestAudio::SampleFormat::Float32));
    const double lufs = measureLufs(file);
    QVERIFY2(std::fabs(lufs - expected) <= 0.1, qPrintable(QString::number(lufs, 'f', 3)));
}

void LoudnessMeasurementTest::unmeasurableFilesGiveTheMarker_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expectedLog");  // empty: nothing logged
    QTest::newRow("silence") << "silence.wav" << QString();
    QTest::newRow("missing file") << "missing.wav" << "[LUFS] Failed to open decoder for:";
    QTest::newRow("text as mp3") << "text.mp3" << "[LUFS] Failed to open decoder for:";
    QTest::newRow("empty path") << QString() << "[LUFS] Failed to open decoder for:";
}

void LoudnessMeasurementTest::unmeasurableFilesGiveTheMarker()
{
    QFETCH(QString, fileName);
    QFETCH(QString, expectedLog);

    TestAudio::WavSpec silence;
    silence.signal = TestAudio::Signal::Silence;
    silence.seconds = 5.0;
    QVERIFY(TestAudio::writeWav(path("silence.wav"), silence));
    QFile text(path("text.mp3"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("no audio in here");
    text.close();

    LogCapture log;
    QCOMPARE(measureLufs(fileName.isEmpty() ? QString() : path(fileName)), -999.0);
    if (expectedLog.isEmpty())
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
    else
        QVERIFY2(log.contains(expectedLog), qPrintable(log.lines().join('\n')));
}

void LoudnessMeasurementTest::everyImportFormatMeasures_data()
{
    QTest::addColumn<QString>("suffix");
    for (const char* suffix : {"mp3", "wav", "flac", "ogg", "m4a", "aac", "wma"})
        QTest::newRow(suffix) << QString::fromLatin1(suffix);
}

void LoudnessMeasurementTest::everyImportFormatMeasures()
{
    QFETCH(QString, suffix);
    const QString wav = path("tone-source.wav");
    QVERIFY(TestAudio::writeWav(wav, toneSteps({{-23.0, 10.0}}, 2), 44100, 2));
    const QString file = path("tone." + suffix);
    if (suffix != "wav")
        QVERIFY(TestAudio::encode(wav, file));
    else
        QVERIFY(QFile::copy(wav, file));
    // Lossy codecs change the level a little (MP3 at its default rate: -23.4).
    const double lufs = measureLufs(file);
    QVERIFY2(std::fabs(lufs + 23.0) <= 0.5, qPrintable(QString::number(lufs, 'f', 3)));
}

void LoudnessMeasurementTest::measuresOnSeveralThreadsAtOnce()
{
    QStringList files;
    const QList<double> levels{-20.0, -23.0, -26.0, -30.0};
    for (double level : levels) {
        const QString file = path(QStringLiteral("level%1.flac").arg(level));
        const QString wav = file + ".wav";
        QVERIFY(TestAudio::writeWav(wav, toneSteps({{level, 8.0}}, 2), 44100, 2));
        QVERIFY(TestAudio::encode(wav, file));
        files << file;
    }
    // All at once on the global pool, as the background analyses run.
    QList<QFuture<double>> measured;
    for (const QString& file : std::as_const(files))
        measured << PoolTask::run(QThreadPool::globalInstance(), [file] { return measureLufs(file); });
    QList<double> results;
    for (const QFuture<double>& future : std::as_const(measured))
        results << future.result();
    for (int i = 0; i < levels.size(); ++i)
        QVERIFY2(std::fabs(results[i] - levels[i]) <= 0.1, qPrintable(QString::number(results[i], 'f', 3)));
}

void LoudnessMeasurementTest::measuresTheWholeOfALongFile()
{
    // 40 minutes of a 1 kHz tone: 30 at -33 dBFS, then 10 at -13 dBFS, as
    // 8 kHz mono FLAC (small and quick to make). The quiet part falls below
    // the relative gate, so the whole file measures like its loud end.
    const QString file = path("forty-minutes.flac");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                            "aevalsrc='if(lt(t,1800),0.0223872,0.223872)*sin(2*PI*1000*t)':s=8000:d=2400",
                            "-c:a", "flac", "-sample_fmt", "s16", file});
    QVERIFY(ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0);

    const double lufs = measureLufs(file);
    qInfo("40-minute file (30 min at -33 LUFS, then 10 min at -13 LUFS): %.2f LUFS", lufs);
    QVERIFY2(std::fabs(lufs + 13.0) <= 0.1, qPrintable(QString::number(lufs, 'f', 3)));
}

QTEST_GUILESS_MAIN(LoudnessMeasurementTest)
#include "LoudnessMeasurementTest.moc"
