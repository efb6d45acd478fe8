#include "BenchAudio.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

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

double ffmpegDecodeMs(const QString& path)
{
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-f", "f32le", "-ac", "2", "-ar", "44100", "-y",
                            "/dev/null"});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0)
        return -1.0;
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace BenchAudio
