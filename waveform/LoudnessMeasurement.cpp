#include "waveform/LoudnessMeasurement.h"

#include "playback/AudioFileDecoder.h"

#include <QDebug>

#include <ebur128.h>

#include <array>

namespace {

constexpr double kNotMeasured = -999.0;
constexpr double kQuietestResult = -100.0;
constexpr qint64 kReadFrames = 4096;
constexpr int kReadsPerLimitCheck = 1000;
// 30 minutes: bounds the time one measurement takes.
constexpr qint64 kMaxMeasuredFrames = qint64(30) * 60 * AudioFileDecoder::kSampleRate;

}  // namespace

double measureLufs(const QString& filePath)
{
    AudioFileDecoder decoder;
    if (!decoder.open(filePath)) {
        qWarning() << "[LUFS] Failed to open decoder for:" << filePath << "error:" << decoder.errorString();
        return kNotMeasured;
    }

    ebur128_state* state = ebur128_init(AudioFileDecoder::kChannels, AudioFileDecoder::kSampleRate,
                                        EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I);
    if (!state)
        return kNotMeasured;

    std::array<float, kReadFrames * AudioFileDecoder::kChannels> buffer{};
    qint64 fedFrames = 0;
    for (int reads = 1;; ++reads) {
        if (reads % kReadsPerLimitCheck == 0 && fedFrames > kMaxMeasuredFrames) {
            qWarning() << "[LUFS] Safety limit reached for:" << filePath;
            break;
        }
        const qint64 frames = decoder.read(buffer.data(), kReadFrames);
        if (frames == 0)
            break;
        const int rc = ebur128_add_frames_float(state, buffer.data(), size_t(frames));
        if (rc != EBUR128_SUCCESS) {
            qWarning() << "[LUFS] ebur128_add_frames_float failed:" << rc;
            break;
        }
        fedFrames += frames;
    }

    double loudness = kNotMeasured;
    double measured = 0.0;
    if (ebur128_loudness_global(state, &measured) == EBUR128_SUCCESS && measured >= kQuietestResult)
        loudness = measured;
    ebur128_destroy(&state);
    return loudness;
}
