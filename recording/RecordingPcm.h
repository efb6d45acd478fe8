#pragma once

#include "recording/PeakPair.h"

#include <QByteArray>
#include <QtGlobal>

// Arithmetic on recorded audio: interleaved signed 16-bit little-endian
// samples. Times become byte offsets through whole frames, so a cut never
// splits a frame.
class RecordingPcm {
public:
    static constexpr int kBytesPerSample = 2;

    static qint64 frameBytes(int channels) { return qint64(channels) * kBytesPerSample; }
    // frame = ms * rate / 1000 (integer division), offset = frame * channels * 2.
    static qint64 byteOffsetOfMs(qint64 ms, int sampleRate, int channels);
    // Length in ms of that many bytes; 0 when rate or channels is not positive.
    static qint64 durationMs(qint64 bytes, int sampleRate, int channels);

    // One peak pair per block of rate / 100 frames (1 below 100), the last
    // block possibly short: the smallest and largest sample over all channels.
    static QList<PeakPair> peaks(const char* data, qint64 bytes, int channels, int sampleRate);

    // Leading and trailing silence, in bytes from each end, in whole blocks
    // of rate / 100 frames (10 ms) counted from the first frame: a block is
    // loud when any of its samples reaches threshold (of full scale). What
    // lies before the first loud block and after the last one is silence;
    // nothing is cut when no block, or only one, is loud. Works on the
    // samples themselves, so the cut is exact however the audio arrived.
    struct SilenceTrim {
        qint64 leadBytes = 0;
        qint64 trailBytes = 0;
    };
    static SilenceTrim silenceTrim(const char* data, qint64 bytes, int channels, int sampleRate, float threshold);

    // Cuts lead ms from the front and trail ms from the back (both limited to
    // what is there).
    static QByteArray withoutLeadAndTrail(const QByteArray& pcm, qint64 leadMs, qint64 trailMs,
                                          int sampleRate, int channels);

    // Bytes to cut from the end after a track change: the last quiet 50 ms
    // block (RMS below 0.03) of the final 2 s marks where the next track
    // began; 800 ms when none is quiet; 0 with too little audio.
    static qint64 trackChangeCutBytes(const char* data, qint64 bytes, int sampleRate, int channels);

    // Root mean square of the samples (each / 32768); 0 for no samples.
    static double rms(const char* data, qint64 bytes);
    // Bytes of about the last 2 s that recentRms() looks at.
    static qint64 recentRmsWindowBytes(int sampleRate, int channels);

    // A new buffer without the bytes start .. end - 1 (both limited to the
    // buffer), or holding only them.
    static QByteArray withoutRange(const QByteArray& pcm, qint64 startByte, qint64 endByte);
    static QByteArray rangeOnly(const QByteArray& pcm, qint64 startByte, qint64 endByte);
    // Their lengths, known before the bytes are copied.
    static qint64 withoutRangeBytes(qint64 size, qint64 startByte, qint64 endByte);
    static qint64 rangeOnlyBytes(qint64 size, qint64 startByte, qint64 endByte);

    // Float samples (-1..1) to 16-bit with rounding and clipping, and back.
    static void floatToS16(const float* in, qint16* out, qint64 samples);
    static float s16ToFloat(qint16 sample) { return float(sample) * (1.0f / 32768.0f); }

    static qint16 sampleAt(const char* data, qint64 index);
};
