#include "BenchAudio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>

namespace BenchAudio {

bool makeNoiseFile(const QString& path, int seconds, const QStringList& codecArgs)
{
    const QString noise = QString("anoisesrc=d=%1:c=pink:r=44100:a=0.3:seed=%2").arg(seconds);
    QStringList args{"-v", "error", "-f", "lavfi", "-i", noise.arg(1), "-f", "lavfi", "-i", noise.arg(2),
                     "-filter_complex", "[0][1]amerge=inputs=2"};
    args << codecArgs << "-y" << path;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", args);
    return ffmpeg.waitForFinished(600000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

namespace {

// `-threads N -i path` (N only when above 0: otherwise ffmpeg's own choice).
QStringList inputArgs(const QString& path, int decodeThreads)
{
    QStringList args;
    if (decodeThreads > 0)
        args << "-threads" << QString::number(decodeThreads);
    return args << "-i" << path;
}

// Wall time in ms of the ffmpeg command with args, -1 when it fails;
// *errorOutput, when given, gets what it printed on stderr.
double ffmpegMs(const QStringList& args, QByteArray* errorOutput = nullptr)
{
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start("ffmpeg", args);
    const bool ok = ffmpeg.waitForFinished(600000) && ffmpeg.exitCode() == 0;
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (errorOutput)
        *errorOutput = ffmpeg.readAllStandardError();
    return ok ? ms : -1.0;
}

}  // namespace

double ffmpegDecodeMs(const QString& path, const QString& output, int decodeThreads)
{
    const double ms = ffmpegMs(QStringList{"-v", "error", "-nostdin"} + inputArgs(path, decodeThreads)
                               + QStringList{"-f", "f32le", "-ac", "2", "-ar", "44100", "-y", output});
    if (output != QLatin1String("/dev/null"))
        QFile::remove(output);
    return ms;
}

double ffmpegLoudnessMs(const QString& path, int decodeThreads, double* lufs)
{
    // The summary is printed at the info level, the per-frame lines (kept
    // out) at the verbose one.
    QByteArray log;
    const double ms = ffmpegMs(QStringList{"-hide_banner", "-nostats", "-v", "info", "-nostdin"}
                                   + inputArgs(path, decodeThreads)
                                   + QStringList{"-af", "ebur128=framelog=verbose", "-f", "null", "-"},
                               &log);
    if (ms >= 0.0 && lufs) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("Integrated loudness:\\s*I:\\s*(-?[0-9.]+) LUFS"))
                .match(QString::fromUtf8(log));
        *lufs = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
    }
    return ms;
}

double ffmpegStartupMs(const QString& nearPath, const QStringList& codecArgs,
                       const std::function<double(const QString& file)>& run, int runs)
{
    const QFileInfo near(nearPath);
    const QString oneSecond = near.dir().filePath("one-second-" + near.fileName());
    if (!makeNoiseFile(oneSecond, 1, codecArgs))
        return -1.0;
    double best = -1.0;
    for (int i = 0; i < runs; ++i) {
        const double ms = run(oneSecond);
        if (ms >= 0.0 && (best < 0.0 || ms < best))
            best = ms;
    }
    QFile::remove(oneSecond);
    return best;
}

double ffmpegStartupMs(const QString& nearPath, const QStringList& codecArgs, int runs, const QString& output,
                       int decodeThreads)
{
    return ffmpegStartupMs(
        nearPath, codecArgs, [&](const QString& file) { return ffmpegDecodeMs(file, output, decodeThreads); }, runs);
}

QString baselineDescription()
{
    return QStringLiteral(
        "Baseline: `ffmpeg -i FILE -f f32le -ac 2 -ar 44100 /dev/null`, minus the command's start-up "
        "(the same command on a 1-second file of the same format, best of 5).");
}

}  // namespace BenchAudio
