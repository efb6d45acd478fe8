#pragma once

#include "audiofile/AudioFileDecoder.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingPcm.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <cmath>
#include <vector>

// Audio helpers shared by the recording tests: 16-bit stereo buffers,
// files, and the strength of one frequency in a buffer.
namespace RecordingTestSupport {

inline void appendFrame(QByteArray& pcm, int left, int right)
{
    const qint16 l = qToLittleEndian<qint16>(qint16(left));
    const qint16 r = qToLittleEndian<qint16>(qint16(right));
    pcm.append(reinterpret_cast<const char*>(&l), 2);
    pcm.append(reinterpret_cast<const char*>(&r), 2);
}

inline QByteArray sine(int rate, qint64 ms, double frequency, double amplitude = 0.4)
{
    QByteArray pcm;
    const qint64 frames = qint64(rate) * ms / 1000;
    for (qint64 i = 0; i < frames; ++i) {
        const int v = int(std::lround(amplitude * 32767.0 * std::sin(2 * M_PI * frequency * double(i) / rate)));
        appendFrame(pcm, v, v);
    }
    return pcm;
}

inline QByteArray silence(int rate, qint64 ms)
{
    return QByteArray(qsizetype(qint64(rate) * ms / 1000 * 4), '\0');
}

// Every frame different, so a misplaced byte shows.
inline QByteArray counting(int rate, qint64 ms)
{
    QByteArray pcm;
    const qint64 frames = qint64(rate) * ms / 1000;
    for (qint64 i = 0; i < frames; ++i)
        appendFrame(pcm, int(i % 30000) + 1, -int(i % 30000) - 1);
    return pcm;
}

inline bool writeWav(const QString& path, const QByteArray& pcm, int rate)
{
    return RecordingFileWriter::write(path, pcm, 2, rate, RecordingFileWriter::Format::Wav, nullptr);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The data of a WAV file written by RecordingFileWriter.
inline QByteArray wavData(const QString& path)
{
    return readFile(path).mid(44);
}

inline int wavRate(const QString& path)
{
    const QByteArray file = readFile(path);
    return file.size() >= 44 ? qFromLittleEndian<qint32>(file.constData() + 24) : 0;
}

// Relative strength (0..1 of a full-scale sine) of one frequency in 16-bit
// stereo audio, over its left channel.
inline double toneLevel(const QByteArray& pcm, int rate, double frequency)
{
    const qint64 frames = pcm.size() / 4;
    if (frames == 0)
        return 0.0;
    const double w = 2 * M_PI * frequency / rate;
    double re = 0.0;
    double im = 0.0;
    for (qint64 i = 0; i < frames; ++i) {
        const double s = RecordingPcm::sampleAt(pcm.constData(), i * 2) / 32768.0;
        re += s * std::cos(w * double(i));
        im += s * std::sin(w * double(i));
    }
    return 2.0 * std::sqrt(re * re + im * im) / double(frames);
}

}  // namespace RecordingTestSupport
