#include "model/WaveformStorage.h"

#include <QDebug>
#include <QtEndian>

#include <cmath>

namespace {

// Peaks stored as 16-bit steps of 1/32767.
qint16 quantise(float v)
{
    if (v > 1.0f)
        return 32767;
    if (v > 0.0f)
        return qint16(v * 32767.0f);
    return 0;  // zero, negative and NaN
}

void appendLe32(QByteArray& out, qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// Reads a little-endian int32 at offset; bytes past the end read as 0.
qint32 readLe32(const QByteArray& data, qsizetype offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i) {
        if (offset + i < data.size())
            value |= quint32(quint8(data[offset + i])) << (8 * i);
    }
    return qint32(value);
}

// Longest raw record qUncompress may produce for a stored blob: 16 bytes of
// header and up to eight million peaks. Blobs also arrive from project files, and a
// forged length prefix must not make us allocate gigabytes.
constexpr quint32 kMaxRawRecordBytes = 16u * 1024u * 1024u;

}  // namespace

int WaveformStorage::countLeadingZeros(const QList<float>& waveform)
{
    int count = 0;
    for (float v : waveform) {
        if (count >= 100 || !(std::fabs(v) < 0.001f))
            break;
        ++count;
    }
    return count;
}

QByteArray WaveformStorage::encode(const QList<float>& waveform, int targetPoints)
{
    const int leading = countLeadingZeros(waveform);
    if (leading > 0)
        qWarning() << "⚠️ WaveformStorage::encode - Found" << leading << "leading zeros in input waveform!";

    QByteArray out;
    out.reserve(kHeaderSize + 2 * waveform.size());
    appendLe32(out, kMagic);
    appendLe32(out, kVersion);
    appendLe32(out, targetPoints);
    appendLe32(out, qint32(waveform.size()));
    for (float v : waveform) {
        char bytes[2];
        qToLittleEndian(quantise(v), bytes);
        out.append(bytes, 2);
    }
    return out;
}

QList<float> WaveformStorage::decode(const QByteArray& data, int* targetPoints)
{
    if (data.isEmpty()) {
        qWarning() << "WaveformStorage::decode: empty data";
        return {};
    }
    const qint32 magic = readLe32(data, 0);
    const qint32 version = readLe32(data, 4);
    const qint32 target = readLe32(data, 8);
    const qint32 count = readLe32(data, 12);
    if (magic != kMagic) {
        qWarning() << "WaveformStorage::decode: invalid magic number, got" << magic;
        return {};
    }
    if (version != kVersion) {
        qWarning() << "WaveformStorage::decode: unsupported version" << version;
        return {};
    }
    if (targetPoints)
        *targetPoints = target;

    QList<float> values;
    const qsizetype payload = std::max<qsizetype>(data.size() - kHeaderSize, 0);
    // Room only for what the bytes can hold, whatever count claims.
    values.reserve(std::min<qsizetype>(std::max<qint32>(count, 0), (payload + 1) / 2));
    qsizetype offset = kHeaderSize;
    while (values.size() < count && offset < data.size()) {
        // A last single byte reads as a value of 0.
        qint16 q = 0;
        if (offset + 1 < data.size())
            q = qFromLittleEndian<qint16>(data.constData() + offset);
        values.append(float(q) / 32767.0f);
        offset += 2;
    }

    const int leading = countLeadingZeros(values);
    if (leading > 0)
        qWarning() << "⚠️ WaveformStorage::decode - Found" << leading << "leading zeros at the beginning!";

    if (values.size() != count) {
        qWarning() << "Waveform decode incomplete: expected" << count << "got" << values.size();
        return {};
    }
    return values;
}

QByteArray WaveformStorage::encodeCompressed(const QList<float>& waveform, int targetPoints)
{
    return qCompress(encode(waveform, targetPoints), 9);
}

QList<float> WaveformStorage::decodeCompressed(const QByteArray& blob, int* targetPoints)
{
    if (blob.isEmpty()) {
        qWarning() << "WaveformStorage::decodeCompressed: empty data";
        return {};
    }
    QByteArray raw;
    if (blob.size() >= 4 && qFromBigEndian<quint32>(blob.constData()) <= kMaxRawRecordBytes)
        raw = qUncompress(blob);
    if (raw.isEmpty()) {
        qWarning() << "WaveformStorage::decodeCompressed: decompression failed, data size:" << blob.size();
        return {};
    }
    return decode(raw, targetPoints);
}

bool WaveformStorage::isValid(const QByteArray& data)
{
    return data.size() >= kHeaderSize && readLe32(data, 0) == kMagic;
}
