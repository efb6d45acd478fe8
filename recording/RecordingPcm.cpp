#include "recording/RecordingPcm.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

qint16 RecordingPcm::sampleAt(const char* data, qint64 index)
{
    return qFromLittleEndian<qint16>(data + index * kBytesPerSample);
}

qint64 RecordingPcm::byteOffsetOfMs(qint64 ms, int sampleRate, int channels)
{
    const qint64 frame = ms * sampleRate / 1000;
    return frame * frameBytes(channels);
}

qint64 RecordingPcm::durationMs(qint64 bytes, int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0)
        return 0;
    return bytes * 1000 / (qint64(sampleRate) * frameBytes(channels));
}

QList<PeakPair> RecordingPcm::peaks(const char* data, qint64 bytes, int channels, int sampleRate)
{
    QList<PeakPair> result;
    if (!data || bytes <= 0 || channels < 1)
        return result;
    const qint64 frames = (bytes / kBytesPerSample) / channels;
    const qint64 block = sampleRate >= 100 ? sampleRate / 100 : 1;
    constexpr float kScale = 3.0517578e-5f;  // 1 / 32768
    result.reserve((frames + block - 1) / block);
    for (qint64 first = 0; first < frames; first += block) {
        const qint64 end = std::min(first + block, frames);
        int lo = 32767;
        int hi = -32768;
        for (qint64 i = first * channels; i < end * channels; ++i) {
            const int s = sampleAt(data, i);
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
        result.append(PeakPair{float(lo) * kScale, float(hi) * kScale});
    }
    return result;
}

RecordingPcm::SilenceTrim RecordingPcm::silenceTrim(const char* data, qint64 bytes, int channels, int sampleRate,
                                                     float threshold)
{
    SilenceTrim trim;
    if (!data || bytes <= 0 || channels < 1)
        return trim;
    const qint64 frames = (bytes / kBytesPerSample) / channels;
    const qint64 block = sampleRate >= 100 ? sampleRate / 100 : 1;
    // |sample| / 32768 >= threshold, in whole sample values.
    const int level = std::max(1, int(std::ceil(double(threshold) * 32768.0)));
    auto loud = [&](qint64 frame) {
        for (int c = 0; c < channels; ++c) {
            const int s = sampleAt(data, frame * channels + c);
            if (s >= level || s <= -level)
                return true;
        }
        return false;
    };
    qint64 firstLoud = -1;
    for (qint64 f = 0; f < frames; ++f) {
        if (loud(f)) {
            firstLoud = f;
            break;
        }
    }
    if (firstLoud < 0)
        return trim;  // silent throughout: kept whole
    qint64 lastLoud = firstLoud;
    for (qint64 f = frames - 1; f > firstLoud; --f) {
        if (loud(f)) {
            lastLoud = f;
            break;
        }
    }
    const qint64 firstBlock = firstLoud / block;
    const qint64 lastBlock = lastLoud / block;
    if (firstBlock >= lastBlock)
        return trim;  // a single loud block cuts nothing
    const qint64 keepStart = firstBlock * block;
    const qint64 keepEnd = std::min((lastBlock + 1) * block, frames);
    trim.leadBytes = keepStart * frameBytes(channels);
    trim.trailBytes = bytes - keepEnd * frameBytes(channels);
    return trim;
}

QByteArray RecordingPcm::withoutLeadAndTrail(const QByteArray& pcm, qint64 leadMs, qint64 trailMs,
                                             int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0 || (leadMs <= 0 && trailMs <= 0))
        return pcm;
    const qint64 size = pcm.size();
    const qint64 start = std::min(byteOffsetOfMs(std::max<qint64>(leadMs, 0), sampleRate, channels), size);
    const qint64 rest = size - start;
    const qint64 tail = std::min(rest, byteOffsetOfMs(std::max<qint64>(trailMs, 0), sampleRate, channels));
    return pcm.mid(start, rest - tail);
}

qint64 RecordingPcm::trackChangeCutBytes(const char* data, qint64 bytes, int sampleRate, int channels)
{
    const qint64 frame = frameBytes(channels);
    if (sampleRate < 20 || channels < 1 || bytes < frame)
        return 0;
    const qint64 window = std::min(2 * qint64(sampleRate) * frame, bytes);
    const qint64 block = sampleRate / 20;  // 50 ms
    const qint64 n = window / frame / block;
    if (n < 2)
        return 0;
    const char* windowStart = data + (bytes - window);
    const qint64 blockSamples = block * channels;
    qint64 quiet = -1;
    for (qint64 b = 0; b <= n - 2; ++b) {
        const double level = rms(windowStart + b * blockSamples * kBytesPerSample, blockSamples * kBytesPerSample);
        if (level < 0.03)
            quiet = b;
    }
    const qint64 cutMs = quiet >= 0 ? (n - 1 - quiet) * 50 : 800;
    return std::min(frame * (cutMs * sampleRate / 1000), bytes);
}

double RecordingPcm::rms(const char* data, qint64 bytes)
{
    const qint64 n = bytes / kBytesPerSample;
    if (!data || n <= 0)
        return 0.0;
    double sum = 0.0;
    for (qint64 i = 0; i < n; ++i) {
        const double v = double(sampleAt(data, i)) / 32768.0;
        sum += v * v;
    }
    return std::sqrt(sum / double(n));
}

qint64 RecordingPcm::recentRmsWindowBytes(int sampleRate, int channels)
{
    return qint64(sampleRate * channels / 500) * 2000;
}

QByteArray RecordingPcm::withoutRange(const QByteArray& pcm, qint64 startByte, qint64 endByte)
{
    const qint64 size = pcm.size();
    startByte = std::clamp<qint64>(startByte, 0, size);
    endByte = std::clamp<qint64>(endByte, 0, size);
    if (startByte >= endByte)
        return pcm;
    QByteArray result;
    result.reserve(size - (endByte - startByte));
    result.append(pcm.constData(), startByte);
    result.append(pcm.constData() + endByte, size - endByte);
    return result;
}

QByteArray RecordingPcm::rangeOnly(const QByteArray& pcm, qint64 startByte, qint64 endByte)
{
    const qint64 size = pcm.size();
    startByte = std::clamp<qint64>(startByte, 0, size);
    endByte = std::clamp<qint64>(endByte, 0, size);
    if (startByte >= endByte)
        return pcm;
    // A real copy: the old buffer may still be read by the preview until swapped.
    return QByteArray(pcm.constData() + startByte, endByte - startByte);
}

qint64 RecordingPcm::withoutRangeBytes(qint64 size, qint64 startByte, qint64 endByte)
{
    startByte = std::clamp<qint64>(startByte, 0, size);
    endByte = std::clamp<qint64>(endByte, 0, size);
    return startByte >= endByte ? size : size - (endByte - startByte);
}

qint64 RecordingPcm::rangeOnlyBytes(qint64 size, qint64 startByte, qint64 endByte)
{
    startByte = std::clamp<qint64>(startByte, 0, size);
    endByte = std::clamp<qint64>(endByte, 0, size);
    return startByte >= endByte ? size : endByte - startByte;
}

void RecordingPcm::floatToS16(const float* in, qint16* out, qint64 samples)
{
    for (qint64 i = 0; i < samples; ++i) {
        // x 32768 undoes the decoder's / 32768, so 16-bit audio comes back exact.
        const long v = std::lround(double(in[i]) * 32768.0);
        out[i] = qToLittleEndian<qint16>(qint16(std::clamp<long>(v, -32768, 32767)));
    }
}
