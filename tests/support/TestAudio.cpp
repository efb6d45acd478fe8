#include "support/TestAudio.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TestAudio {

QVector<float> generate(const WavSpec& spec)
{
    const qint64 frames = qRound64(spec.seconds * spec.sampleRate);
    QVector<float> samples(frames * spec.channels);
    QRandomGenerator rng(12345);
    for (qint64 i = 0; i < frames; ++i) {
        float value = 0.0f;
        switch (spec.signal) {
        case Signal::Sine:
            value = float(spec.amplitude * std::sin(2.0 * M_PI * spec.frequency * double(i) / spec.sampleRate));
            break;
        case Signal::Noise:
            value = float(spec.amplitude * (rng.generateDouble() * 2.0 - 1.0));
            break;
        case Signal::Silence:
            break;
        }
        for (int c = 0; c < spec.channels; ++c)
            samples[i * spec.channels + c] = value;
    }
    return samples;
}

namespace {

void appendLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

}  // namespace

bool writeWav(const QString& path, const QVector<float>& interleaved, int sampleRate,
              int channels, SampleFormat format)
{
    const int bytesPerSample = format == SampleFormat::Int16 ? 2 : format == SampleFormat::Int24 ? 3 : 4;
    const quint16 formatTag = format == SampleFormat::Float32 ? 3 : 1;
    const quint32 dataBytes = quint32(interleaved.size()) * bytesPerSample;

    QByteArray out;
    out.reserve(int(44 + dataBytes));
    out.append("RIFF");
    appendLe(out, 36 + dataBytes, 4);
    out.append("WAVEfmt ");
    appendLe(out, 16, 4);
    appendLe(out, formatTag, 2);
    appendLe(out, quint32(channels), 2);
    appendLe(out, quint32(sampleRate), 4);
    appendLe(out, quint32(sampleRate * channels * bytesPerSample), 4);
    appendLe(out, quint32(channels * bytesPerSample), 2);
    appendLe(out, quint32(bytesPerSample * 8), 2);
    out.append("data");
    appendLe(out, dataBytes, 4);
    for (float s : interleaved) {
        const double v = std::clamp(double(s), -1.0, 1.0);
        if (format == SampleFormat::Float32) {
            float f = float(v);
            quint32 bits;
            std::memcpy(&bits, &f, 4);
            appendLe(out, bits, 4);
        } else if (format == SampleFormat::Int16) {
            appendLe(out, quint32(qint32(std::lround(v * 32767.0))) & 0xffff, 2);
        } else {
            appendLe(out, quint32(qint32(std::lround(v * 8388607.0))) & 0xffffff, 3);
        }
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(out) == out.size();
}

bool writeWav(const QString& path, const WavSpec& spec)
{
    return writeWav(path, generate(spec), spec.sampleRate, spec.channels, spec.format);
}

bool encode(const QString& inPath, const QString& outPath, const QStringList& extraArgs)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-i", inPath};
    const QString suffix = QFileInfo(outPath).suffix().toLower();
    if (suffix == "mp3")
        args << "-c:a" << "libmp3lame";
    else if (suffix == "ogg")
        args << "-c:a" << "libvorbis";
    else if (suffix == "m4a" || suffix == "aac")
        args << "-c:a" << "aac";
    else if (suffix == "wma")
        args << "-c:a" << "wmav2";
    else if (suffix == "flac")
        args << "-c:a" << "flac";
    if (suffix == "aac")
        args << "-f" << "adts";
    args << extraArgs << outPath;

    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", args);
    if (!ffmpeg.waitForFinished(600000))
        return false;
    return ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

bool makeFile(const QString& outPath, const WavSpec& spec)
{
    if (QFileInfo(outPath).suffix().toLower() == "wav")
        return writeWav(outPath, spec);
    const QString wavPath = outPath + ".source.wav";
    const bool ok = writeWav(wavPath, spec) && encode(wavPath, outPath);
    QFile::remove(wavPath);
    return ok;
}

}  // namespace TestAudio
