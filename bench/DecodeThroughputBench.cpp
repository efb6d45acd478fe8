// Decoding a whole file into memory as the engine does (on its decode
// thread, into a PcmBuffer) against the ffmpeg command decoding the same
// file to 32-bit float stereo 44100 Hz into /dev/null, the command's own
// start-up subtracted. The engine keeps the samples (about 200 MB for ten
// minutes), whose fresh pages cost time that writing to /dev/null does not.
#include "BenchAudio.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

double engineDecodeMs(const QString& path, qint64* frames)
{
    QElapsedTimer timer;
    timer.start();
    PcmBuffer buffer;
    decodeFileToBuffer(path, buffer);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    *frames = buffer.endReached() ? buffer.frames() : -1;
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    struct File {
        const char* name;
        QStringList codec;
    };
    const File files[] = {
        {"ten-minutes.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"ten-minutes.flac", {"-c:a", "flac"}},
        {"ten-minutes.m4a", {"-c:a", "aac", "-b:a", "192k"}},
        {"ten-minutes-48k.ogg", {"-c:a", "libvorbis", "-q:a", "5", "-ar", "48000"}},
    };
    std::printf("Whole-file decode into memory, best of 3 runs of 10 minutes of stereo noise each.\n%s\n",
                qPrintable(BenchAudio::baselineDescription()));
    bool allOk = true;
    for (const File& file : files) {
        const QString path = dir.filePath(file.name);
        const double startup = BenchAudio::ffmpegStartupMs(path, file.codec);
        if (!BenchAudio::makeNoiseFile(path, 600, file.codec) || startup < 0.0) {
            std::fprintf(stderr, "ffmpeg failed for %s\n", file.name);
            return 1;
        }
        double ours = 1e30;
        double theirs = 1e30;
        qint64 frames = 0;
        for (int run = 0; run < 3; ++run) {
            ours = std::min(ours, engineDecodeMs(path, &frames));
            theirs = std::min(theirs, BenchAudio::ffmpegDecodeMs(path));
        }
        allOk = allOk && frames > 0 && theirs > 0.0;
        const double baseline = theirs - startup;
        std::printf("  %s: engine %.1f ms (%.0fx real time, %lld frames); ffmpeg %.1f ms - %.1f ms start-up = %.1f ms\n",
                    file.name, ours, 600000.0 / ours, static_cast<long long>(frames), theirs, startup, baseline);
        std::printf("decode %s: %.2f x baseline (target ≤ 1.25)\n", file.name, ours / baseline);
    }
    return allOk ? 0 : 1;
}
