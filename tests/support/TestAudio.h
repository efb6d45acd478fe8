#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Generates the audio that tests play, parse and measure: WAV files written
// here, other formats encoded from them with the ffmpeg command.
namespace TestAudio {

enum class Signal { Sine, Silence, Noise };

enum class SampleFormat { Int16, Int24, Float32 };

struct WavSpec {
    int sampleRate = 44100;
    int channels = 2;
    double seconds = 1.0;
    Signal signal = Signal::Sine;
    double frequency = 440.0;
    double amplitude = 0.5;  // linear peak, 0..1
    SampleFormat format = SampleFormat::Int16;
};

// Interleaved samples of the signal described by spec.
QVector<float> generate(const WavSpec& spec);

// Writes interleaved float samples (-1..1) as a WAV file of the given format.
bool writeWav(const QString& path, const QVector<float>& interleaved, int sampleRate,
              int channels, SampleFormat format = SampleFormat::Int16);
bool writeWav(const QString& path, const WavSpec& spec);

// Encodes a file with the ffmpeg command (the codec follows the suffix of
// outPath; extraArgs go before the output name). Returns false when ffmpeg
// is missing or fails.
bool encode(const QString& inPath, const QString& outPath, const QStringList& extraArgs = {});

// Writes spec as WAV next to outPath and encodes it to outPath's format
// (mp3, flac, ogg, m4a, aac, wma or wav).
bool makeFile(const QString& outPath, const WavSpec& spec);

}  // namespace TestAudio
