#pragma once

#include <QByteArray>
#include <QString>

// Writes recorded 16-bit audio as a WAV file (44-byte header) or as an MP3
// through LAME (VBR, quality 2). The file is written under a temporary name
// and renamed over the target only when every byte and the encoder
// succeeded, so a failure leaves an existing file as it was.
class RecordingFileWriter {
public:
    enum class Format { Wav, Mp3 };

    // MP3 when the path ends with ".mp3" in any case, else WAV.
    static Format formatForPath(const QString& path);

    static QByteArray wavHeader(qint64 dataBytes, int channels, int sampleRate);

    // False with *error set when nothing was written: no audio, a folder or
    // file that cannot be written, a full disk or an encoder failure.
    static bool write(const QString& path, const QByteArray& pcm, int channels, int sampleRate,
                      Format format, QString* error);

private:
    static bool writeMp3(class QSaveFile& file, const QByteArray& pcm, int channels, int sampleRate,
                         QString* error);
};
