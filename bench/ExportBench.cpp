// A processed export of a 10-minute MP3 cue (volume A, fades, a pan
// envelope), to WAV and to MP3, against the ffmpeg command doing the same
// conversion with the same encoder settings. ffmpeg's process start-up,
// measured on a file of a tenth of a second, is subtracted from its times.
#include "BenchAudio.h"
#include "exchange/AudioExporter.h"
#include "model/Cue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

double ffmpegMs(const QStringList& args)
{
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-nostdin", "-y"} + args);
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0)
        return -1.0;
    return double(timer.nsecsElapsed()) / 1e6;
}

double bestOf(int runs, const std::function<double()>& measure)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, measure());
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString source = dir.filePath("ten-minutes.mp3");
    const QString tiny = dir.filePath("tenth.mp3");
    const QStringList codec{"-c:a", "libmp3lame", "-b:a", "192k"};
    if (!BenchAudio::makeNoiseFile(source, 600, codec) || !BenchAudio::makeNoiseFile(tiny, 1, codec)) {
        std::fprintf(stderr, "ffmpeg failed to make the source files\n");
        return 1;
    }

    Cue cue;
    cue.setFilePath(source);
    cue.setDuration(600000);
    cue.setVolumeA(80);
    cue.setFadeDurations(2000, 3000);
    cue.setFadeEnabled(true);
    cue.setPanEnvelopeEnabled(true);
    cue.setPanEnvelope({0, 300000, 600000}, {-0.5, 0.5, 0.0});

    struct Case {
        const char* name;
        bool mp3;
        QStringList ffmpegArgs;  // after "-i input"
        double target;
    };
    const Case cases[] = {
        // Our WAV holds 32-bit float samples; ffmpeg's default for .wav is
        // 16-bit, half the bytes to write, so it is asked for float too.
        {"export_processed_mp3_to_wav", false, {"-ar", "44100", "-c:a", "pcm_f32le"}, 1.3},
        {"export_processed_mp3_to_mp3", true, {"-c:a", "libmp3lame", "-q:a", "2"}, 1.2},
    };
    std::printf("Processed export of a 10-minute MP3 cue, best of 3 runs\n");
    for (const Case& c : cases) {
        const QString ext = c.mp3 ? ".mp3" : ".wav";
        AudioExportJob job = AudioExportJob::fromCue(cue);
        job.mp3 = c.mp3;
        job.processed = true;
        job.targetPath = dir.filePath(QString("ours") + ext);
        bool ok = true;
        const double ours = bestOf(3, [&] {
            QElapsedTimer timer;
            timer.start();
            ok = ok && AudioExporter::run(job).status == AudioExportResult::Status::Written;
            return double(timer.nsecsElapsed()) / 1e6;
        });
        const QString theirs = dir.filePath(QString("ffmpeg") + ext);
        const double startup = bestOf(5, [&] { return ffmpegMs(QStringList{"-i", tiny} + c.ffmpegArgs + QStringList{theirs}); });
        const double ffmpeg = bestOf(3, [&] { return ffmpegMs(QStringList{"-i", source} + c.ffmpegArgs + QStringList{theirs}); });
        if (!ok || startup < 0 || ffmpeg < 0) {
            std::fprintf(stderr, "%s failed\n", c.name);
            return 1;
        }
        const double baseline = ffmpeg - startup;
        std::printf("%s_ms: %.0f ms (ffmpeg %.0f ms after %.0f ms start-up)\n", c.name, ours, baseline, startup);
        std::printf("%s_ratio: %.2f x ffmpeg (target ≤ %.1f)\n", c.name, ours / baseline, c.target);
    }
    return 0;
}
