#include "waveform/LoudnessMeasurement.h"

#include "audiofile/AudioFileDecoder.h"
#include "waveform/AnalysisThreads.h"
#include "waveform/DecodeAheadReader.h"
#include "waveform/PoolThreadLease.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QThreadPool>

#include <ebur128.h>

namespace {

constexpr double kNotMeasured = -999.0;
constexpr double kQuietestResult = -100.0;
constexpr qint64 kReadFrames = 4096;
constexpr int kReadsAhead = 16;
constexpr int kReadsPerTimeCheck = 256;

enum class Feed { Done, Failed, TimedOut };

// Feeds every decoded frame of the file to the meter. Decoding runs ahead on
// its own thread when it has one: the meter's filters cost about as much as
// decoding, so the two together take little longer than either.
Feed feedMeter(ebur128_state* state, AudioFileDecoder& decoder, bool decodeAhead)
{
    DecodeAheadReader reader(decoder, kReadFrames, kReadsAhead, decodeAhead);
    const QDeadlineTimer deadline(kAnalysisTimeLimit);
    for (int reads = 1;; ++reads) {
        if (reads % kReadsPerTimeCheck == 0 && deadline.hasExpired())
            return Feed::TimedOut;
        const float* frames = nullptr;
        const qint64 count = reader.next(&frames);
        if (count == 0)
            return Feed::Done;
        const int rc = ebur128_add_frames_float(state, frames, size_t(count));
        if (rc != EBUR128_SUCCESS) {
            qWarning() << "[LUFS] ebur128_add_frames_float failed:" << rc;
            return Feed::Failed;
        }
    }
}

}  // namespace

double measureLufs(const QString& filePath)
{
    // Declared first, so the held pool threads go back only after the
    // decoder's and the reader's threads have ended.
    PoolThreadLease lease(QThreadPool::globalInstance());
    const bool decodeAhead = lease.take(1) == 1;
    AudioFileDecoder decoder;
    if (!openForAnalysis(decoder, filePath, lease)) {
        qWarning() << "[LUFS] Failed to open decoder for:" << filePath << "error:" << decoder.errorString();
        return kNotMeasured;
    }

    ebur128_state* state = ebur128_init(AudioFileDecoder::kChannels, AudioFileDecoder::kSampleRate,
                                        EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I);
    if (!state)
        return kNotMeasured;

    // The whole file is measured: the loudness of a part says nothing about
    // the rest.
    const Feed feed = feedMeter(state, decoder, decodeAhead);
    if (feed == Feed::TimedOut) {
        qWarning() << "[LUFS] Safety limit reached for:" << filePath;
        ebur128_destroy(&state);
        return kNotMeasured;
    }

    // What was fed before a failure still counts.
    double loudness = kNotMeasured;
    double measured = 0.0;
    if (ebur128_loudness_global(state, &measured) == EBUR128_SUCCESS && measured >= kQuietestResult)
        loudness = measured;
    ebur128_destroy(&state);
    return loudness;
}
