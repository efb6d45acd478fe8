#pragma once

#include <QByteArray>
#include <QList>

// The stored form of a cue's waveform peaks: a little-endian record (magic,
// version, target points, count, count x int16 peaks) compressed with
// qCompress at level 9. The same bytes travel inside project files, so the
// layout never changes.
class WaveformStorage {
public:
    static constexpr qint32 kMagic = 0x57415645;
    static constexpr qint32 kVersion = 1;
    static constexpr int kHeaderSize = 16;

    static QByteArray encode(const QList<float>& waveform, int targetPoints);
    static QList<float> decode(const QByteArray& data, int* targetPoints);
    static QByteArray encodeCompressed(const QList<float>& waveform, int targetPoints);
    static QList<float> decodeCompressed(const QByteArray& blob, int* targetPoints);
    static bool isValid(const QByteArray& data);

    // Near-zero values (|v| < 0.001) at the start of a list, at most 100;
    // only ever logged.
    static int countLeadingZeros(const QList<float>& waveform);
};
