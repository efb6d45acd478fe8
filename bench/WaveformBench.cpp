// Times waveform peaks and loudness measurement against a bare FFmpeg
// decode (and loudgain, when installed) on generated files, and measures the
// memory of a peaks parse of an hour-long file.
//
//   WaveformBench [--runs N] [--keep DIR]
//   WaveformBench --rss FILE     (child mode: one parse, prints its peak RSS)

#include "waveform/LoudnessMeasurement.h"
#include "waveform/WaveformParser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Timing {
    double wallMs = 0.0;  // median of the runs
    double cpuMs = 0.0;   // of that same run, this process and its children
};

double cpuMsNow()
{
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
}

Timing timeRuns(int runs, const std::function<bool()>& work, bool* ok)
{
    std::vector<Timing> all;
    *ok = true;
    for (int i = 0; i < runs; ++i) {
        const double cpuBefore = cpuMsNow();
        QElapsedTimer timer;
        timer.start();
        *ok = work() && *ok;
        all.push_back({double(timer.nsecsElapsed()) / 1e6, cpuMsNow() - cpuBefore});
    }
    std::sort(all.begin(), all.end(), [](const Timing& a, const Timing& b) { return a.wallMs < b.wallMs; });
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

// Stereo pink noise with a tone on top: a full spectrum, as music gives the
// codecs.
bool generate(const QString& file, int seconds, const QStringList& codecArgs)
{
    const QString source = QStringLiteral(
        "anoisesrc=color=pink:amplitude=0.25:sample_rate=44100:seed=1:duration=%1[l];"
        "anoisesrc=color=pink:amplitude=0.25:sample_rate=44100:seed=2:duration=%1[r];"
        "sine=frequency=220:sample_rate=44100:duration=%1,volume=0.5,asplit[t1][t2];"
        "[l][t1]amix=inputs=2:normalize=0[lm];[r][t2]amix=inputs=2:normalize=0[rm];"
        "[lm][rm]join=inputs=2:channel_layout=stereo[out]").arg(seconds);
    QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-filter_complex", source, "-map", "[out]"};
    args << codecArgs << file;
    return runQuietly("ffmpeg", args);
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
    const long before = statusKb("VmHWM");
    WaveformParser parser;
    const WaveformParser::Result result = parser.parse(file, WaveformParser::kDefaultPoints);
    const long after = statusKb("VmHWM");
    out() << result.peaks.size() << ' ' << result.durationMs << ' ' << before << ' ' << after << ' '
          << statusKb("RssFile") << ' ' << statusKb("RssAnon") << Qt::endl;
    return result.peaks.isEmpty() ? 1 : 0;
}

QString ratio(double a, double b)
{
    return b > 0 ? QString::number(a / b, 'f', 2) + "x" : QStringLiteral("-");
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
        out() << "ffmpeg not found; it generates the files and is the reference decode" << Qt::endl;
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
        if (!QFileInfo::exists(file) && !generate(file, s.seconds, s.codec)) {
            out() << "could not generate " << s.name << Qt::endl;
            return 1;
        }
    }

    out() << "\nMedian of " << runs << " runs; wall ms (CPU ms). Bare decode: ffmpeg -i FILE -f f32le -ac 2 -ar 44100 - >/dev/null\n";
    out() << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                 .arg("file", -10).arg("decode", 16).arg("peaks", 16).arg("loudness", 16).arg("loudgain", 16)
                 .arg("peaks/dec", 10).arg("lufs/dec", 10).arg("lufs/lg", 10);
    bool allOk = true;
    for (const Sample& s : samples) {
        const QString file = dir.filePath(s.name);
        bool ok = false;
        const Timing decode = timeRuns(runs, [&] {
            return runQuietly("ffmpeg", {"-hide_banner", "-loglevel", "error", "-i", file, "-f", "f32le", "-ac", "2",
                                         "-ar", "44100", "-"});
        }, &ok);
        allOk = allOk && ok;
        const Timing peaks = timeRuns(runs, [&] {
            WaveformParser parser;
            return parser.parse(file, WaveformParser::kDefaultPoints).peaks.size() == WaveformParser::kDefaultPoints;
        }, &ok);
        allOk = allOk && ok;
        double lufs = 0.0;
        const Timing loudness = timeRuns(runs, [&] {
            lufs = measureLufs(file);
            return lufs > -100.0;
        }, &ok);
        allOk = allOk && ok;
        std::optional<Timing> loudgain;
        if (haveLoudgain) {
            loudgain = timeRuns(runs, [&] { return runQuietly("loudgain", {"-q", "-s", "s", "-O", file}); }, &ok);
            allOk = allOk && ok;
        }
        auto cell = [](const std::optional<Timing>& t) {
            return t ? QStringLiteral("%1 (%2)").arg(t->wallMs, 0, 'f', 0).arg(t->cpuMs, 0, 'f', 0)
                     : QStringLiteral("skipped");
        };
        out() << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(s.name, -10).arg(cell(decode), 16).arg(cell(peaks), 16).arg(cell(loudness), 16)
                     .arg(cell(loudgain), 16).arg(ratio(peaks.wallMs, decode.wallMs), 10)
                     .arg(ratio(loudness.wallMs, decode.wallMs), 10)
                     .arg(loudgain ? ratio(loudness.wallMs, loudgain->wallMs) : QStringLiteral("-"), 10)
              << "   " << QString::number(lufs, 'f', 2) << " LUFS" << Qt::endl;
    }
    if (!haveLoudgain)
        out() << "loudgain not installed (Debian package loudgain): its column is skipped" << Qt::endl;

    // Memory: one parse of an hour in a fresh process, so nothing else this
    // run did counts towards its peak.
    const QString hour = dir.filePath("60min.mp3");
    out() << "\nGenerating a 1-hour stereo MP3 ..." << Qt::endl;
    if (!QFileInfo::exists(hour)
        && !generate(hour, 3600, {"-c:a", "libmp3lame", "-b:a", "128k", "-compression_level", "9"})) {
        out() << "could not generate the hour" << Qt::endl;
        return 1;
    }
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {"--rss", hour});
    child.waitForFinished(-1);
    const QStringList fields = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(' ');
    if (child.exitCode() != 0 || fields.size() != 6) {
        out() << "hour parse failed" << Qt::endl;
        return 1;
    }
    out() << "1-hour MP3 peaks parse: " << fields[0] << " points, " << fields[1] << " ms long, "
          << timer.elapsed() << " ms wall\n"
          << "  peak RSS of the process: " << fields[3].toLong() / 1024.0 << " MiB (limit 64 MiB); before the parse "
          << fields[2].toLong() / 1024.0 << " MiB\n"
          << "  resident after the parse: " << fields[4].toLong() / 1024.0 << " MiB of mapped libraries, "
          << fields[5].toLong() / 1024.0 << " MiB of heap and stacks" << Qt::endl;
    return allOk ? 0 : 1;
}
