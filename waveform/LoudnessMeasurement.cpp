#include "waveform/LoudnessMeasurement.h"

#include "audiofile/AudioFileDecoder.h"
#include "waveform/AnalysisThreads.h"
#include "waveform/DecodeAheadReader.h"

#include <QDebug>

#include <ebur128.h>

namespace {

constexpr double kNotMeasured = -999.0;
constexpr double kQuietestResult = -100.0;
constexpr qint64 kReadFrames = 4096;
constexpr int kReadsAhead = 16;
constexpr int kReadsPerLimitCheck = 1000;
// 30 minutes: bounds the time one measurement takes.
constexpr qint64 kMaxMeasuredFrames = qint64(30) * 60 * AudioFileDecoder::kSampleRate;

// Feeds the decoded frames to the meter; returns false when feeding failed.
// Decoding runs ahead on its own thread: the meter's filters cost about as
// much as decoding, so the two together take little longer than either.
bool feedMeter(ebur128_state* state, AudioFileDecoder& decoder, const QString& filePath)
{
    DecodeAheadReader reader(decoder, kReadFrames, kReadsAhead);
    qint64 fedFrames = 0;
    for (int reads = 1;; ++reads) {
        if (reads % kReadsPerLimitCheck == 0 && fedFrames > kMaxMeasuredFrames) {
            qWarning() << "[LUFS] Safety limit reached for:" << filePath;
            return true;
        }
        const float* frames = nullptr;
        const qint64 count = reader.next(&frames);
        if (count == 0)
            return true;
        const int rc = ebur128_add_frames_float(state, frames, size_t(count));
        if (rc != EBUR128_SUCCESS) {
            qWarning() << "[LUFS] ebur128_add_frames_float failed:" << rc;
            return false;
        }
        fedFrames += count;
    }
}

}  // namespace

double measureLufs(const QString& filePath)
{
    AudioFileDecoder decoder;
    decoder.setCodecThreads(analysisCodecThreads());
    if (!decoder.open(filePath)) {
        qWarning() << "[LUFS] Failed to open decoder for:" << filePath << "error:" << decoder.errorString();
        return kNotMeasured;
    }

    ebur128_state* state = ebur128_init(AudioFileDecoder::kChannels, AudioFileDecoder::kSampleRate,
                                        EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I);
    if (!state)
        return kNotMeasured;

    feedMeter(state, decoder, filePath);

    // What was fed before a failure still counts.
    double loudness = kNotMeasured;
    double measured = 0.0;
    if (ebur128_loudness_global(state, &measured) == EBUR128_SUCCESS && measured >= kQuietestResult)
        loudness = measured;
    ebur128_destroy(&state);
    return loudness;
}
