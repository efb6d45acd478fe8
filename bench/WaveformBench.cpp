// Times waveform peaks against a bare decode by the ffmpeg command, and
// loudness measurement against ffmpeg measuring the same with its own EBU
// R128 filter (start-ups subtracted), with loudgain for loudness when it is
// installed, and measures the memory of a peaks parse of five hours.
//
//   WaveformBench [--runs N] [--keep DIR]
//   WaveformBench --rss FILE     (child mode: one parse, prints its peak RSS)

#include "BenchAudio.h"
#include "audiofile/AudioFileDecoder.h"
#include "audiofile/FfmpegLibrary.h"
#include "waveform/AnalysisThreads.h"
#include "waveform/LoudnessMeasurement.h"
#include "waveform/PoolThreadLease.h"
#include "waveform/WaveformParser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Median wall time of the runs in ms; *ok is false when any run failed.
double medianMs(int runs, const std::function<bool()>& work, bool* ok)
{
    std::vector<double> all;
    *ok = true;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        *ok = work() && *ok;
        all.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(all.begin(), all.end());
    return all[all.size() / 2];
}

bool runQuietly(const QString& program, const QStringList& args, int timeoutMs = 600000)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// The decoding threads an analysis of file gets on this machine: FFmpeg's
// frame threads (FLAC), as many as the global pool lends, which is none on
// two cores, where one stays free for painting; 1 for codecs that decode
// one frame at a time. -1 when the file does not open.
int analysisDecodeThreads(const QString& file)
{
    PoolThreadLease lease(QThreadPool::globalInstance());
    AudioFileDecoder decoder;
    if (!openForAnalysis(decoder, file, lease))
        return -1;
    return std::max(1, decoder.codecThreadsInUse());
}

// Five hours of 8 kHz mono FLAC, silent but for a tone at the start, in the
// middle and at the end: small and quick to make; the parse still decodes
// and buckets five hours at 44100 Hz stereo.
bool makeFiveHours(const QString& file)
{
    const QString tone = QStringLiteral("sine=f=440:r=8000:d=60,volume=%1");
    const QString silence = QStringLiteral("anullsrc=r=8000:cl=mono:d=8910");
    const QString graph = tone.arg(0.3) + "[a];" + silence + "[b];" + tone.arg(0.6) + "[c];" + silence + "[d];"
        + tone.arg(1.0) + "[e];[a][b][c][d][e]concat=n=5:v=0:a=1";
    return runQuietly("ffmpeg", {"-hide_banner", "-y", "-filter_complex", graph, "-c:a", "flac", "-sample_fmt", "s16",
                                 file});
}

// Resident memory from /proc/self/status, in kB: "VmHWM" (the peak; unlike
// getrusage's maximum it is not inherited from the parent across exec),
// "RssAnon", "RssFile".
long statusKb(const QByteArray& key)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

int rssChild(const QString& file)
{
    // The decoder's libraries are loaded when first needed: loaded here, they
    // count in the peak before the parse, as they did when linked.
    FfmpegLibrary::functions();
    const long before = statusKb("VmHWM");
    WaveformParser parser;
    const WaveformParser::Result result = parser.parse(file, WaveformParser::kDefaultPoints);
    const long after = statusKb("VmHWM");
    out() << result.peaks.size() << ' ' << result.durationMs << ' ' << before << ' ' << after << ' '
          << statusKb("RssFile") << ' ' << statusKb("RssAnon") << Qt::endl;
    return result.peaks.isEmpty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--rss")
        return rssChild(args[2]);

    int runs = 3;
    QString keepDir;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        if (args[i] == "--keep")
            keepDir = args[i + 1];
    }

    if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) {
        out() << "ffmpeg not found; it generates the files and is the baseline" << Qt::endl;
        return 1;
    }
    const bool haveLoudgain = !QStandardPaths::findExecutable("loudgain").isEmpty();

    QTemporaryDir tempDir;
    const QDir dir(keepDir.isEmpty() ? tempDir.path() : keepDir);
    QDir().mkpath(dir.path());

    struct Sample {
        QString name;
        int seconds;
        QStringList codec;
    };
    const QList<Sample> samples{
        {"3min.mp3", 180, {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"10min.mp3", 600, {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"3min.flac", 180, {"-c:a", "flac"}},
    };
    out() << "Generating test files in " << dir.path() << " ..." << Qt::endl;
    for (const Sample& s : samples) {
        const QString file = dir.filePath(s.name);
        if (!QFileInfo::exists(file) && !BenchAudio::makeNoiseFile(file, s.seconds, s.codec)) {
            out() << "could not generate " << s.name << Qt::endl;
            return 1;
        }
    }

    out() << "Median wall time of " << runs << " runs, as a multiple of the baseline.\n"
          << BenchAudio::baselineDescription() << "\n"
          << "Loudness baseline: `ffmpeg -i FILE -af ebur128 -f null -`, minus its start-up the same way.\n"
          << "The baselines' decoder gets the threads an analysis gets here (`-threads N` before `-i`); the bare "
             "decode with ffmpeg's own choice of threads, all cores, is given for comparison."
          << Qt::endl;
    bool allOk = true;
    for (const Sample& s : samples) {
        const QString file = dir.filePath(s.name);
        const int threads = analysisDecodeThreads(file);
        bool ok = threads > 0;
        allOk = allOk && ok;
        const double startup = BenchAudio::ffmpegStartupMs(file, s.codec, 5, "/dev/null", threads);
        const double allCoresStartup = BenchAudio::ffmpegStartupMs(file, s.codec);
        ok = startup >= 0.0 && allCoresStartup >= 0.0;
        allOk = allOk && ok;
        const double decode =
            medianMs(runs, [&] { return BenchAudio::ffmpegDecodeMs(file, "/dev/null", threads) >= 0.0; }, &ok)
            - startup;
        allOk = allOk && ok;
        const double allCoresDecode =
            medianMs(runs, [&] { return BenchAudio::ffmpegDecodeMs(file) >= 0.0; }, &ok) - allCoresStartup;
        allOk = allOk && ok;
        const double peaks = medianMs(runs, [&] {
            WaveformParser parser;
            return parser.parse(file, WaveformParser::kDefaultPoints).peaks.size() == WaveformParser::kDefaultPoints;
        }, &ok);
        allOk = allOk && ok;
        const double meterStartup = BenchAudio::ffmpegStartupMs(
            file, s.codec, [&](const QString& oneSecond) { return BenchAudio::ffmpegLoudnessMs(oneSecond, threads); });
        ok = meterStartup >= 0.0;
        allOk = allOk && ok;
        double theirLufs = 0.0;
        const double meter =
            medianMs(runs, [&] { return BenchAudio::ffmpegLoudnessMs(file, threads, &theirLufs) >= 0.0; }, &ok)
            - meterStartup;
        allOk = allOk && ok;
        double lufs = 0.0;
        const double loudness = medianMs(runs, [&] {
            lufs = measureLufs(file);
            return lufs > -100.0;
        }, &ok);
        allOk = allOk && ok;
        out() << QStringLiteral("  %1: baseline %2 ms with %3 decoding thread(s) (start-up %4 ms subtracted), peaks %5 ms, "
                                "loudness %6 ms (%7 LUFS)")
                     .arg(s.name).arg(decode, 0, 'f', 0).arg(threads).arg(startup, 0, 'f', 0).arg(peaks, 0, 'f', 0)
                     .arg(loudness, 0, 'f', 0).arg(lufs, 0, 'f', 2)
              << '\n'
              << QStringLiteral("  %1: loudness baseline %2 ms (start-up %3 ms subtracted, %4 LUFS); loudness over the "
                                "bare decode: %5 x")
                     .arg(s.name).arg(meter, 0, 'f', 0).arg(meterStartup, 0, 'f', 0).arg(theirLufs, 0, 'f', 1)
                     .arg(loudness / decode, 0, 'f', 2)
              << '\n'
              << QStringLiteral("  %1: bare decode on all cores %2 ms (start-up %3 ms subtracted): peaks %4 x")
                     .arg(s.name).arg(allCoresDecode, 0, 'f', 0).arg(allCoresStartup, 0, 'f', 0)
                     .arg(peaks / allCoresDecode, 0, 'f', 2)
              << Qt::endl;
        if (haveLoudgain) {
            const double loudgain =
                medianMs(runs, [&] { return runQuietly("loudgain", {"-q", "-s", "s", "-O", file}); }, &ok);
            allOk = allOk && ok;
            out() << QStringLiteral("  %1: loudgain %2 ms (its own start-up included)").arg(s.name).arg(loudgain, 0, 'f', 0)
                  << Qt::endl;
        }
        out() << QStringLiteral("peaks %1: %2 x baseline (target ≤ 1.25)").arg(s.name).arg(peaks / decode, 0, 'f', 2)
              << '\n'
              << QStringLiteral("loudness %1: %2 x baseline (target ≤ 1.25)").arg(s.name).arg(loudness / meter, 0, 'f', 2)
              << Qt::endl;
    }
    if (!haveLoudgain)
        out() << "(loudgain not installed: Debian package loudgain)" << Qt::endl;

    // Memory: one parse of five hours in a fresh process, so nothing else
    // this run did counts towards its peak.
    const QString fiveHours = dir.filePath("5h.flac");
    out() << "Generating five hours of 8 kHz mono FLAC ..." << Qt::endl;
    if (!QFileInfo::exists(fiveHours) && !makeFiveHours(fiveHours)) {
        out() << "could not generate the five hours" << Qt::endl;
        return 1;
    }
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {"--rss", fiveHours});
    child.waitForFinished(-1);
    const QStringList fields = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(' ');
    if (child.exitCode() != 0 || fields.size() != 6) {
        out() << "five-hour parse failed" << Qt::endl;
        return 1;
    }
    const double peakMiB = fields[3].toLong() / 1024.0;
    const double beforeMiB = fields[2].toLong() / 1024.0;
    out() << "  5-hour peaks parse: " << fields[0] << " points, " << fields[1] << " ms of audio, " << timer.elapsed()
          << " ms wall; before the parse " << QString::number(beforeMiB, 'f', 1) << " MiB resident, after it "
          << QString::number(fields[4].toLong() / 1024.0, 'f', 1) << " MiB of mapped libraries and "
          << QString::number(fields[5].toLong() / 1024.0, 'f', 1) << " MiB of heap and stacks\n"
          << "peaks 5-hour parse, peak resident memory: " << QString::number(peakMiB, 'f', 1)
          << " MiB (target ≤ 64 MiB)\n"
          << "peaks 5-hour parse, growth of the peak during the parse: " << QString::number(peakMiB - beforeMiB, 'f', 1)
          << " MiB (target ≤ 16 MiB)" << Qt::endl;
    return allOk ? 0 : 1;
}
