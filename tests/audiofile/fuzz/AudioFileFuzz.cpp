// Any bytes as an audio file: the length probe, the decoder, the check and
// the whole-file decode neither crash nor hang, never believe a length the
// file's size cannot hold, and decode the same frames every way. (Single
// allocations beyond a bound tied to the input size are caught by the
// fuzzer's -malloc_limit_mb.)
#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Decoding stops here (about a minute of audio): a few bytes of a lossless
// codec can stand for hours of silence, which says nothing new.
constexpr qint64 kMaxFramesDecoded = qint64(AudioFileDecoder::kSampleRate) * 60;
constexpr qint64 kReadFrames = 4096;

QString g_path;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QByteArray tmp = qgetenv("TMPDIR");
    g_path = QDir(tmp.isEmpty() ? QStringLiteral("/tmp") : QString::fromLocal8Bit(tmp))
                 .filePath(QStringLiteral("corvelle-audio-fuzz-%1").arg(QCoreApplication::applicationPid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        QFile file(g_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const qint64 bytes = qint64(size);
    const qint64 mostFrames = bytes * AudioFileDecoder::kMaxFramesPerFileByte;

    const qint64 probed = probeDurationMs(g_path);
    check(probed >= 0 && probed <= AudioFileDecoder::framesToMs(mostFrames, AudioFileDecoder::kSampleRate));

    AudioFileDecoder decoder;
    if (!decoder.open(g_path))
        return 0;
    check(decoder.declaredFrames() >= 0 && decoder.declaredFrames() < std::max<qint64>(mostFrames, 1));
    check(PcmBuffer::plausibleFrames(decoder.declaredFrames(), bytes)
          <= bytes * PcmBuffer::kMaxFramesPerFileByte);
    std::vector<float> chunk(size_t(kReadFrames * AudioFileDecoder::kChannels));
    qint64 frames = 0;
    while (frames < kMaxFramesDecoded) {
        const qint64 got = decoder.read(chunk.data(), kReadFrames);
        check(got >= 0 && got <= kReadFrames);
        if (got == 0)
            break;
        frames += got;
    }
    if (!decoder.atEnd())
        return 0;  // too long to decode whole below

    // Short enough: the check and the whole-file decode read the same.
    QString reason;
    validateAudioFile(g_path, &reason);
    PcmBuffer buffer;
    decodeFileToBuffer(g_path, buffer);
    check(!buffer.isFilling());
    check(buffer.frames() == frames);
    return 0;
}
