#pragma once

#include "platform/EarlyWriteback.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// Writes interleaved 32-bit float stereo as a RIFF/WAVE file: a 44-byte
// header (format 3, IEEE float) and the samples, nothing else. The file is
// written under a temporary name and takes its real name only in finish(),
// so a failed or cancelled write leaves no partial file and an existing file
// of that name stays as it was until then.
class WavFileWriter {
public:
    static constexpr int kHeaderSize = 44;
    static constexpr int kChannels = 2;
    // The RIFF size field counts 36 + data bytes in 32 bits.
    static constexpr qint64 kMaxDataBytes = qint64(0xFFFFFFFFu) - 36;
    static constexpr qint64 kMaxFrames = kMaxDataBytes / 8;

    static QByteArray header(int sampleRate, quint32 dataBytes);

    bool open(const QString& path, int sampleRate);
    // False (with errorString()) when the disk refuses the samples or the
    // file would outgrow the 32-bit sizes.
    bool write(const float* interleaved, qint64 frames);
    bool finish();
    void discard();

    qint64 frames() const { return m_frames; }
    QString errorString() const { return m_error; }
    // What the file reported when writing it failed (NoError otherwise).
    QFileDevice::FileError fileError() const { return m_fileError; }

private:
    QSaveFile m_file;
    // The samples head for the disk as they come, not all in finish().
    EarlyWriteback m_writeback;
    int m_sampleRate = 0;
    qint64 m_frames = 0;
    QString m_error;
    QFileDevice::FileError m_fileError = QFileDevice::NoError;
};
