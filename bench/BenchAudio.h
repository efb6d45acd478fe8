#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Audio files for the benchmarks, made with the ffmpeg command, and the
// ffmpeg command as the baseline they are measured against.
namespace BenchAudio {

// Writes seconds of stereo pink noise (a stand-in for music) to path, encoded
// by the given ffmpeg codec arguments. False when ffmpeg fails.
bool makeNoiseFile(const QString& path, int seconds, const QStringList& codecArgs);

// Wall time in ms of `ffmpeg -i path -f f32le -ac 2 -ar 44100 output`, or
// -1 when it fails. An output other than /dev/null is removed afterwards.
// decodeThreads above 0 is passed to the decoder (`-threads N` before
// `-i`); 0 leaves ffmpeg its own choice, which is all cores.
double ffmpegDecodeMs(const QString& path, const QString& output = QStringLiteral("/dev/null"), int decodeThreads = 0);

// Wall time in ms of ffmpeg measuring the integrated loudness of path with
// its own EBU R128 filter (`-af ebur128`, output discarded), or -1 when it
// fails; decodeThreads as for ffmpegDecodeMs. *lufs, when given, gets the
// integrated loudness the filter printed.
double ffmpegLoudnessMs(const QString& path, int decodeThreads = 0, double* lufs = nullptr);

// The start-up of an ffmpeg command run by `run` on a file: the best of runs
// runs on a 1-second file of the format codecArgs make, made next to
// nearPath. -1 when it fails.
double ffmpegStartupMs(const QString& nearPath, const QStringList& codecArgs,
                       const std::function<double(const QString& file)>& run, int runs = 5);

// The ffmpeg command's own start-up for files made with codecArgs (process
// start, probing, setting up its filters): the best of runs decodes of a
// 1-second file of that format, made next to nearPath. -1 when it fails.
double ffmpegStartupMs(const QString& nearPath, const QStringList& codecArgs, int runs = 5,
                       const QString& output = QStringLiteral("/dev/null"), int decodeThreads = 0);

// The line that says what the baseline is.
QString baselineDescription();

}  // namespace BenchAudio
