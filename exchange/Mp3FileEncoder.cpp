#include "exchange/Mp3FileEncoder.h"

#include <lame/lame.h>

#include <algorithm>

Mp3FileEncoder::Mp3FileEncoder() = default;

Mp3FileEncoder::~Mp3FileEncoder()
{
    discard();
}

void Mp3FileEncoder::closeLame()
{
    if (m_lame) {
        lame_close(m_lame);
        m_lame = nullptr;
    }
}

bool Mp3FileEncoder::open(const QString& path, int sampleRate)
{
    m_bytes = 0;
    m_encodeError = false;
    m_error.clear();
    m_fileError = QFileDevice::NoError;
    m_lame = lame_init();
    if (!m_lame) {
        m_error = QStringLiteral("lame_init() failed");
        return false;
    }
    lame_set_num_channels(m_lame, 2);
    lame_set_in_samplerate(m_lame, sampleRate);
    lame_set_VBR(m_lame, vbr_mtrh);
    lame_set_VBR_quality(m_lame, 2.0f);
    if (lame_init_params(m_lame) < 0) {
        m_error = QStringLiteral("lame_init_params() failed");
        closeLame();
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("Cannot open output file: ") + path;
        m_fileError = m_file.error();
        closeLame();
        return false;
    }
    m_buffer.resize(size_t(kChunkFrames * 1.25 + 7200));
    return true;
}

bool Mp3FileEncoder::writeOut(int count)
{
    if (count <= 0)
        return true;
    if (m_file.write(reinterpret_cast<const char*>(m_buffer.data()), count) != count) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        return false;
    }
    m_bytes += count;
    return true;
}

bool Mp3FileEncoder::encode(const float* interleaved, qint64 frames)
{
    if (!m_lame)
        return false;
    for (qint64 done = 0; done < frames;) {
        const int n = int(std::min<qint64>(kChunkFrames, frames - done));
        const int rc = lame_encode_buffer_interleaved_ieee_float(m_lame, interleaved + done * 2, n, m_buffer.data(),
                                                                 int(m_buffer.size()));
        if (rc < 0) {
            m_encodeError = true;
            m_error = QStringLiteral("lame_encode_buffer error: %1").arg(rc);
            return false;
        }
        if (!writeOut(rc))
            return false;
        done += n;
    }
    return true;
}

bool Mp3FileEncoder::finish()
{
    if (!m_lame)
        return false;
    const int flushed = lame_encode_flush(m_lame, m_buffer.data(), int(m_buffer.size()));
    if (flushed < 0) {
        m_encodeError = true;
        m_error = QStringLiteral("lame_encode_flush error: %1").arg(flushed);
    } else if (!writeOut(flushed)) {
        m_encodeError = true;
    }
    if (!m_encodeError && m_bytes > 0) {
        // The info frame replaces the placeholder frame LAME wrote first.
        unsigned char tag[2880];
        const size_t tagSize = lame_get_lametag_frame(m_lame, tag, sizeof tag);
        if (tagSize > 0 && qint64(tagSize) <= m_bytes && tagSize <= sizeof tag) {
            if (!m_file.seek(0) || m_file.write(reinterpret_cast<const char*>(tag), qint64(tagSize)) != qint64(tagSize)) {
                m_encodeError = true;
                m_error = m_file.errorString();
                m_fileError = m_file.error();
            }
        }
    }
    closeLame();
    if (m_encodeError || m_bytes == 0) {
        m_file.cancelWriting();
        m_file.commit();
        return false;
    }
    if (!m_file.commit()) {
        m_error = m_file.errorString();
        m_fileError = m_file.error();
        m_encodeError = true;
        return false;
    }
    return true;
}

void Mp3FileEncoder::discard()
{
    closeLame();
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit();
    }
}
