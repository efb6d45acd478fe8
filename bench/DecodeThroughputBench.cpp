// Decoding a whole file into memory as the engine does (on its decode
// thread, into a PcmBuffer) against the ffmpeg command decoding the same
// file to 32-bit float stereo 44100 Hz into /dev/null.
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
    std::printf("Whole-file decode, best of 3 runs (10 minutes of stereo audio each)\n");
    for (const File& file : files) {
        const QString path = dir.filePath(file.name);
        if (!BenchAudio::makeNoiseFile(path, 600, file.codec)) {
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
        std::printf("  %-22s engine %7.1f ms (%5.0fx real time, %lld frames)  ffmpeg -f f32le %7.1f ms  ratio %.2f\n",
                    file.name, ours, 600000.0 / ours, static_cast<long long>(frames), theirs, ours / theirs);
    }
    return 0;
}
