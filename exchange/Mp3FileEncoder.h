#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <vector>

struct lame_global_struct;

// Encodes interleaved 32-bit float stereo to MP3 with LAME: VBR mode 4
// (mtrh) at quality 2. Like WavFileWriter it writes under a temporary name
// and renames only in finish(). finish() also writes LAME's info frame over
// the placeholder it put first, so players know the length and the gapless
// padding.
class Mp3FileEncoder {
public:
    static constexpr int kChunkFrames = 8192;

    Mp3FileEncoder();
    ~Mp3FileEncoder();
    Mp3FileEncoder(const Mp3FileEncoder&) = delete;
    Mp3FileEncoder& operator=(const Mp3FileEncoder&) = delete;

    // False with errorString() "lame_init() failed", "lame_init_params()
    // failed" or "Cannot open output file: <path>".
    bool open(const QString& path, int sampleRate);
    bool encode(const float* interleaved, qint64 frames);
    // False when LAME reported an error or produced nothing.
    bool finish();
    void discard();

    bool encodeError() const { return m_encodeError; }
    qint64 bytesWritten() const { return m_bytes; }
    QString errorString() const { return m_error; }
    // What the file reported when writing it failed (NoError otherwise).
    QFileDevice::FileError fileError() const { return m_fileError; }

private:
    bool writeOut(int count);
    void closeLame();

    lame_global_struct* m_lame = nullptr;
    QSaveFile m_file;
    std::vector<unsigned char> m_buffer;
    qint64 m_bytes = 0;
    bool m_encodeError = false;
    QString m_error;
    QFileDevice::FileError m_fileError = QFileDevice::NoError;
};
