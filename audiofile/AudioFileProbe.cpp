#include "audiofile/AudioFileProbe.h"

#include "audiofile/AudioFileDecoder.h"

#include <QDebug>
#include <QFileInfo>

#include <vector>

qint64 probeDurationMs(const QString& filePath)
{
    if (filePath.isEmpty() || !QFileInfo::exists(filePath)) {
        qWarning() << "probeDurationMs - 文件不存在或路径为空:" << filePath;
        return 0;
    }

    AudioFileDecoder decoder;
    if (!decoder.open(filePath)) {
        qWarning() << "probeDurationMs - 打开失败:" << filePath << "error:" << decoder.errorString();
        return 0;
    }

    const qint64 frames = decoder.declaredFrames();
    if (frames <= 0) {
        qWarning() << "probeDurationMs - 无效参数: totalFrames=" << frames
                   << "sampleRate=" << AudioFileDecoder::kSampleRate;
        return 0;
    }
    return qint64(double(frames) / AudioFileDecoder::kSampleRate * 1000.0);
}

bool validateAudioFile(const QString& filePath, QString* reason)
{
    auto refuse = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return false;
    };

    if (filePath.isEmpty())
        return refuse("File path is empty");
    const QFileInfo info(filePath);
    if (!info.exists())
        return refuse("File not found");
    if (info.size() == 0)
        return refuse("File is empty (0 bytes)");

    AudioFileDecoder decoder;
    if (!decoder.open(filePath))
        return refuse("Decoder init failed: " + decoder.errorString());

    constexpr qint64 kReadFrames = 16384;
    std::vector<float> buffer(kReadFrames * AudioFileDecoder::kChannels);
    qint64 frames = 0;
    while (const qint64 got = decoder.read(buffer.data(), kReadFrames))
        frames += got;
    if (decoder.stoppedOnError())
        return refuse("Read failed: " + decoder.errorString());
    if (frames == 0)
        return refuse("No PCM data could be decoded (0 frames)");
    if (decoder.endedShort()) {
        return refuse(QStringLiteral("File is damaged: only %1 of %2 ms decode")
                          .arg(AudioFileDecoder::framesToMs(frames, AudioFileDecoder::kSampleRate))
                          .arg(AudioFileDecoder::framesToMs(decoder.declaredFrames(), AudioFileDecoder::kSampleRate)));
    }
    return true;
}
