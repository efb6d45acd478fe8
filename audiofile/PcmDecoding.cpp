#include "audiofile/PcmDecoding.h"

#include "audiofile/AudioFileDecoder.h"
#include "audiofile/PcmBuffer.h"

#include <QFileInfo>

namespace {

// Small reads: the first frames are playable within milliseconds and a
// cancellation is noticed quickly.
constexpr qint64 kReadFrames = 8192;

QString shortFileReason(qint64 frames, qint64 declaredFrames)
{
    return QStringLiteral("only %1 of %2 ms decode")
        .arg(PcmBuffer::framesToMs(frames))
        .arg(PcmBuffer::framesToMs(declaredFrames));
}

}  // namespace

void decodeFileToBuffer(const QString& path, PcmBuffer& out)
{
    AudioFileDecoder decoder;
    // Codecs that can decode frames in parallel (FLAC above all) finish a
    // long file several times sooner; the others ignore it.
    decoder.setCodecThreads(0);
    if (!decoder.open(path)) {
        out.finish(PcmBuffer::State::Failed, decoder.errorString());
        return;
    }
    // The declared length is only an estimate (a damaged header may claim
    // anything), trusted no further than the file's size allows; leave room
    // for a wrong one.
    const qint64 expected = PcmBuffer::plausibleFrames(decoder.declaredFrames(), QFileInfo(path).size());
    if (expected > 0)
        out.reserveFrames(expected + expected / 5);

    for (;;) {
        if (out.cancelRequested()) {
            out.finish(PcmBuffer::State::Cancelled);
            return;
        }
        qint64 room = 0;
        float* target = out.writeRoom(kReadFrames, &room);
        const qint64 got = decoder.read(target, room);
        if (got <= 0)
            break;
        out.commit(got);
    }
    // Data cut short by a read error is kept but not taken for the whole file.
    if (decoder.stoppedOnError())
        out.finish(PcmBuffer::State::Failed, decoder.errorString());
    else if (decoder.endedShort())
        out.finish(PcmBuffer::State::Short, shortFileReason(out.frames(), decoder.declaredFrames()));
    else
        out.finish(PcmBuffer::State::Complete);
}
