// Decoding a whole file into memory as the engine does (on its decode
// thread, into a PcmBuffer) against the ffmpeg command doing the same work:
// decoding the same file to 32-bit float stereo 44100 Hz and keeping the
// samples in memory (a file in /dev/shm, RAM like the engine's buffer), the
// command's own start-up subtracted. Keeping about 200 MB for ten minutes
// costs fresh pages that writing to /dev/null does not; that figure is
// printed beside it.
#include "BenchAudio.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

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

// What writing the decoded bytes into memory fresh from the system costs
// here, without any decoding: the floor under keeping the samples. (On a
// virtual machine whose host backs zeroed pages lazily it is most of the
// engine's time.)
double freshPagesMs(qint64 frames)
{
    const size_t bytes = size_t(frames) * PcmBuffer::kChannels * sizeof(float);
    std::vector<float> block(8192 * PcmBuffer::kChannels, 0.25f);
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<char[]> memory(new char[bytes]);
    for (size_t at = 0; at < bytes; at += block.size() * sizeof(float))
        std::memcpy(memory.get() + at, block.data(), std::min(bytes - at, block.size() * sizeof(float)));
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString memoryDir = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                 : QDir::tempPath();
    const QString kept = QDir(memoryDir).filePath(QStringLiteral("corvelle-decode-bench-%1.f32").arg(
        QCoreApplication::applicationPid()));
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
    std::printf("Whole-file decode into memory, best of 3 runs of 10 minutes of stereo noise each.\n"
                "Baseline: `ffmpeg -i FILE -f f32le -ac 2 -ar 44100 %s/…`, the samples kept in memory, minus the "
                "command's start-up (the same command on a 1-second file, best of 5).\n",
                qPrintable(memoryDir));
    bool allOk = true;
    for (const File& file : files) {
        const QString path = dir.filePath(file.name);
        const double startup = BenchAudio::ffmpegStartupMs(path, file.codec, 5, kept);
        const double nullStartup = BenchAudio::ffmpegStartupMs(path, file.codec);
        if (!BenchAudio::makeNoiseFile(path, 600, file.codec) || startup < 0.0 || nullStartup < 0.0) {
            std::fprintf(stderr, "ffmpeg failed for %s\n", file.name);
            return 1;
        }
        double ours = 1e30;
        double theirs = 1e30;
        double toNull = 1e30;
        qint64 frames = 0;
        for (int run = 0; run < 3; ++run) {
            ours = std::min(ours, engineDecodeMs(path, &frames));
            theirs = std::min(theirs, BenchAudio::ffmpegDecodeMs(path, kept));
            toNull = std::min(toNull, BenchAudio::ffmpegDecodeMs(path));
        }
        allOk = allOk && frames > 0 && theirs > 0.0 && toNull > 0.0;
        const double baseline = theirs - startup;
        std::printf("  %s: engine %.1f ms (%.0fx real time, %lld frames); ffmpeg kept in memory %.1f ms - %.1f ms "
                    "start-up = %.1f ms; ffmpeg to /dev/null %.1f ms net\n",
                    file.name, ours, 600000.0 / ours, static_cast<long long>(frames), theirs, startup, baseline,
                    toNull - nullStartup);
        std::printf("  the same %lld frames written into fresh memory, no decoding: %.1f ms\n",
                    static_cast<long long>(frames), freshPagesMs(frames));
        std::printf("decode %s: %.2f x baseline (target ≤ 1.25)\n", file.name, ours / baseline);
    }
    return allOk ? 0 : 1;
}
