#include "recording/RecordingFileWriter.h"

#include <QSaveFile>
#include <QtEndian>

#include <lame/lame.h>

#include <algorithm>
#include <vector>

namespace {

void putLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

}  // namespace

RecordingFileWriter::Format RecordingFileWriter::formatForPath(const QString& path)
{
    return path.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive) ? Format::Mp3 : Format::Wav;
}

QByteArray RecordingFileWriter::wavHeader(qint64 dataBytes, int channels, int sampleRate)
{
    const quint32 size = quint32(dataBytes);
    QByteArray header;
    header.reserve(44);
    header.append("RIFF");
    putLe(header, size + 36, 4);
    header.append("WAVE");
    header.append("fmt ");
    putLe(header, 16, 4);
    putLe(header, 1, 2);
    putLe(header, quint32(channels), 2);
    putLe(header, quint32(sampleRate), 4);
    putLe(header, quint32(sampleRate * channels * 16 / 8), 4);
    putLe(header, quint32(channels * 16 / 8), 2);
    putLe(header, 16, 2);
    header.append("data");
    putLe(header, size, 4);
    return header;
}

bool RecordingFileWriter::write(const QString& path, const QByteArray& pcm, int channels, int sampleRate,
                                Format format, QString* error)
{
    if (pcm.isEmpty() || channels < 1 || sampleRate < 1) {
        setError(error, QStringLiteral("no audio to write"));
        return false;
    }
    QSaveFile file(path);
    // Write in place of the target only at commit(): a failure keeps the old file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    if (format == Format::Wav) {
        if (qint64(pcm.size()) > qint64(0xffffffffLL) - 36) {
            setError(error, QStringLiteral("recording too long for a WAV file"));
            file.cancelWriting();
            return false;
        }
        const QByteArray header = wavHeader(pcm.size(), channels, sampleRate);
        if (file.write(header) != header.size() || file.write(pcm) != pcm.size()) {
            setError(error, file.errorString());
            file.cancelWriting();
            return false;
        }
    } else if (!writeMp3(file, pcm, channels, sampleRate, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, file.errorString());
        return false;
    }
    return true;
}

bool RecordingFileWriter::writeMp3(QSaveFile& file, const QByteArray& pcm, int channels, int sampleRate,
                                   QString* error)
{
    lame_global_flags* lame = lame_init();
    if (!lame) {
        setError(error, QStringLiteral("MP3 encoder could not be created"));
        return false;
    }
    // LAME ignores a refused setting and would encode with its default.
    const bool settingsTaken = lame_set_num_channels(lame, channels) >= 0
                               && lame_set_in_samplerate(lame, sampleRate) >= 0
                               && lame_set_VBR(lame, vbr_mtrh) >= 0 && lame_set_VBR_q(lame, 2) >= 0;
    if (!settingsTaken || lame_init_params(lame) < 0) {
        lame_close(lame);
        setError(error, QStringLiteral("MP3 encoder rejected %1 Hz, %2 channels").arg(sampleRate).arg(channels));
        return false;
    }

    constexpr qint64 kChunkFrames = 8192;
    // LAME's own bound for one call: 1.25 x samples + 7200.
    std::vector<unsigned char> out(size_t(kChunkFrames * 5 / 4 + 7200));
    const qint64 frameBytes = qint64(channels) * 2;
    const qint64 totalFrames = pcm.size() / frameBytes;
    // Samples in host order for LAME (the buffer is little-endian).
    std::vector<short> chunk(size_t(kChunkFrames * channels));
    qint64 written = 0;
    bool ok = true;
    for (qint64 frame = 0; frame < totalFrames && ok; frame += kChunkFrames) {
        const qint64 frames = std::min(kChunkFrames, totalFrames - frame);
        const char* src = pcm.constData() + frame * frameBytes;
        for (qint64 i = 0; i < frames * channels; ++i)
            chunk[size_t(i)] = qFromLittleEndian<qint16>(src + i * 2);
        int result = 0;
        if (channels == 1)
            result = lame_encode_buffer(lame, chunk.data(), chunk.data(), int(frames), out.data(), int(out.size()));
        else
            result = lame_encode_buffer_interleaved(lame, chunk.data(), int(frames), out.data(), int(out.size()));
        if (result < 0) {
            setError(error, QStringLiteral("MP3 encoder error %1").arg(result));
            ok = false;
        } else if (result > 0) {
            if (file.write(reinterpret_cast<const char*>(out.data()), result) != result) {
                setError(error, file.errorString());
                ok = false;
            }
            written += result;
        }
    }
    if (ok) {
        const int result = lame_encode_flush(lame, out.data(), int(out.size()));
        if (result < 0) {
            setError(error, QStringLiteral("MP3 encoder error %1").arg(result));
            ok = false;
        } else if (result > 0) {
            if (file.write(reinterpret_cast<const char*>(out.data()), result) != result) {
                setError(error, file.errorString());
                ok = false;
            }
            written += result;
        }
    }
    if (ok && written > 0) {
        // The info frame (exact length, encoder delay) replaces the
        // placeholder frame LAME wrote first; without it players and the
        // cue's duration probe guess the length of a VBR file from its
        // first frame.
        unsigned char tag[2880];
        const size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
        if (tagSize > 0 && tagSize <= sizeof tag && qint64(tagSize) <= written) {
            const qint64 end = file.pos();
            if (!file.seek(0) || file.write(reinterpret_cast<const char*>(tag), qint64(tagSize)) != qint64(tagSize)
                || !file.seek(end)) {
                setError(error, file.errorString());
                ok = false;
            }
        }
    }
    lame_close(lame);
    if (ok && written == 0) {
        setError(error, QStringLiteral("MP3 encoder produced no data"));
        ok = false;
    }
    return ok;
}
