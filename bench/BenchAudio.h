#pragma once

#include <QString>

// Audio files for the benchmarks, made with the ffmpeg command.
namespace BenchAudio {

// Writes seconds of stereo pink noise (a stand-in for music) to path, encoded
// by the given ffmpeg codec arguments. False when ffmpeg fails.
bool makeNoiseFile(const QString& path, int seconds, const QStringList& codecArgs);

// Wall time in ms of `ffmpeg -i path -f f32le -ac 2 -ar 44100 /dev/null`, or
// -1 when it fails.
double ffmpegDecodeMs(const QString& path);

}  // namespace BenchAudio
