#include "exchange/WavFileWriter.h"

#include <QtEndian>

#include <cstring>
#include <vector>

namespace {

void put16(QByteArray& out, int offset, quint16 value)
{
    qToLittleEndian(value, out.data() + offset);
}

void put32(QByteArray& out, int offset, quint32 value)
{
    qToLittleEndian(value, out.data() + offset);
}

}  // namespace

QByteArray WavFileWriter::header(int sampleRate, quint32 dataBytes)
{
    QByteArray h(kHeaderSize, '\0');
    std::memcpy(h.data(), "RIFF", 4);
    put32(h, 4, 36u + dataBytes);
    std::memcpy(h.data() + 8, "WAVE", 4);
    std::memcpy(h.data() + 12, "fmt ", 4);
    put32(h, 16, 16);
    put16(h, 20, 3);  // IEEE float
    put16(h, 22, kChannels);
    put32(h, 24, quint32(sampleRate));
    put32(h, 28, quint32(sampleRate) * 8u);
    put16(h, 32, 8);
    put16(h, 34, 32);
    std::memcpy(h.data() + 36, "data", 4);
    put32(h, 40, dataBytes);
    return h;
}

bool WavFileWriter::open(const QString& path, int sampleRate)
{
    m_sampleRate = sampleRate;
    m_frames = 0;
    m_writeback.reset();
    m_error.clear();
    m_fileError = QFileDevice::NoError;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        return false;
    }
    // Sizes are filled in by finish().
    if (m_file.write(header(sampleRate, 0)) != kHeaderSize) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        m_file.cancelWriting();
        return false;
    }
    return true;
}

bool WavFileWriter::write(const float* interleaved, qint64 frames)
{
    if (frames <= 0)
        return true;
    if (m_frames + frames > kMaxFrames) {
        m_error = QStringLiteral("too long for a WAV file");
        return false;
    }
    const qint64 bytes = frames * kChannels * qint64(sizeof(float));
    qint64 written = 0;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        written = m_file.write(reinterpret_cast<const char*>(interleaved), bytes);
    } else {
        std::vector<float> swapped(size_t(frames) * kChannels);
        qToLittleEndian<float>(interleaved, qsizetype(swapped.size()), swapped.data());
        written = m_file.write(reinterpret_cast<const char*>(swapped.data()), bytes);
    }
    if (written != bytes) {
        m_error = QStringLiteral("expected %1 but wrote %2 (%3)")
                      .arg(bytes)
                      .arg(std::max<qint64>(written, 0))
                      .arg(m_file.errorString());
        m_fileError = m_file.error();
        return false;
    }
    m_frames += frames;
    if (m_file.flush())
        m_writeback.written(m_file.handle(), m_file.pos());
    return true;
}

bool WavFileWriter::finish()
{
    const quint32 dataBytes = quint32(m_frames * kChannels * qint64(sizeof(float)));
    if (!m_file.seek(0) || m_file.write(header(m_sampleRate, dataBytes)) != kHeaderSize) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        m_file.cancelWriting();
        return false;
    }
    if (!m_file.commit()) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        return false;
    }
    return true;
}

void WavFileWriter::discard()
{
    if (!m_file.isOpen())
        return;
    m_file.cancelWriting();
    m_file.commit();  // with writing cancelled this only removes the temporary file
}
