#include "waveform/WaveformParser.h"

#include "audiofile/AudioFileDecoder.h"
#include "waveform/AnalysisThreads.h"
#include "waveform/PeakBuckets.h"
#include "waveform/PoolThreadLease.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>

#include <cmath>
#include <vector>

namespace {

constexpr qint64 kChunkFrames = 65536;
constexpr int kChunksPerCancelCheck = 100;
constexpr float kSilenceThreshold = 0.001f;
constexpr int kLeadingCheckPoints = 100;

const QSet<QString>& supportedSuffixes()
{
    static const QSet<QString> suffixes{"mp3", "wav", "flac", "ogg", "m4a",
                                        "aac", "wma", "mp4", "m4b", "m4r"};
    return suffixes;
}

// The mono signal a stereo-to-mono downmix gives (the average of both
// channels), as absolute values. A mono source arrives on both channels at
// full level, so it comes out unchanged.
void absoluteMono(const float* stereo, qint64 frames, float* mono)
{
    for (qint64 i = 0; i < frames; ++i)
        mono[i] = std::fabs((stereo[2 * i] + stereo[2 * i + 1]) * 0.5f);
}

void normalise(QList<float>& peaks)
{
    float loudest = 0.0f;
    for (float p : peaks)
        loudest = std::max(loudest, p);
    if (loudest > kSilenceThreshold) {
        for (float& p : peaks)
            p /= loudest;
    }
}

void warnAboutQuietStart(const QList<float>& peaks)
{
    const qsizetype checked = std::min<qsizetype>(kLeadingCheckPoints, peaks.size());
    qsizetype quiet = 0;
    while (quiet < checked && peaks[quiet] < kSilenceThreshold)
        ++quiet;
    if (quiet > 0)
        qWarning() << "⚠️ WaveformParser - Found" << quiet << "leading zeros at the beginning!";
}

}  // namespace

WaveformParser::WaveformParser(QObject* parent)
    : QObject(parent)
    , m_timeLimit(kAnalysisTimeLimit)
{
}

WaveformParser::~WaveformParser()
{
    m_cancelRequested = true;
}

void WaveformParser::cancel()
{
    m_cancelRequested = true;
}

void WaveformParser::setTimeLimit(std::chrono::milliseconds limit)
{
    m_timeLimit = limit;
}

void WaveformParser::reset()
{
    m_isParsing = false;
    m_currentFilePath.clear();
    m_cancelRequested = false;
}

bool WaveformParser::isSupportedFormat(const QString& filePath) const
{
    return supportedSuffixes().contains(QFileInfo(filePath).suffix().toLower());
}

WaveformParser::Result WaveformParser::parse(const QString& filePath, int targetPoints)
{
    if (!QFileInfo::exists(filePath)) {
        qWarning() << "❌ File not found:" << filePath;
        return {};
    }
    if (!isSupportedFormat(filePath)) {
        qWarning() << "❌ Unsupported format:" << filePath;
        return {};
    }
    if (targetPoints < 1) {
        qWarning() << "❌ Invalid point count:" << targetPoints << filePath;
        return {};
    }

    m_isParsing = true;
    m_currentFilePath = filePath;
    m_targetPoints = targetPoints;
    m_cancelRequested = false;
    Q_EMIT parsingStarted(filePath);

    const Result result = decodeAudioFile(filePath);

    m_isParsing = false;
    m_currentFilePath.clear();

    if (!result.peaks.isEmpty()) {
        Q_EMIT parsingCompleted(filePath, result.peaks);
        return result;
    }
    qWarning() << "❌ 解析失败";
    Q_EMIT parsingFailed(filePath);
    return {};
}

WaveformParser::Result WaveformParser::decodeAudioFile(const QString& filePath)
{
    // Declared first, so the held pool threads go back only after the
    // decoder's threads have ended.
    PoolThreadLease lease(QThreadPool::globalInstance());
    AudioFileDecoder decoder;
    if (!openForAnalysis(decoder, filePath, lease)) {
        qWarning() << "❌ FFmpeg: 打开文件失败, error code:" << decoder.errorString();
        return {};
    }

    // The container's length only drives progress and predicts the bucket
    // size; the real length is what the decoder delivers.
    const qint64 declaredFrames = decoder.declaredFrames();
    PeakBuckets buckets(m_targetPoints, declaredFrames);
    std::vector<float> stereo(static_cast<size_t>(kChunkFrames) * AudioFileDecoder::kChannels);
    std::vector<float> mono(static_cast<size_t>(kChunkFrames));

    // Any length is parsed; only a decode that runs past the time limit is
    // given up.
    const QDeadlineTimer deadline(m_timeLimit);
    qint64 decodedFrames = 0;
    int lastProgress = 0;
    for (int chunk = 1;; ++chunk) {
        if (chunk % kChunksPerCancelCheck == 0 && m_cancelRequested)
            return {};
        if (deadline.hasExpired()) {
            qWarning() << "⚠️ 解析超时，强制终止";
            return {};
        }

        const qint64 frames = decoder.read(stereo.data(), kChunkFrames);
        if (frames == 0) {
            if (decoder.stoppedOnError())
                qWarning() << "❌ 读取音频数据失败, error code:" << decoder.errorString();
            break;
        }
        absoluteMono(stereo.data(), frames, mono.data());
        buckets.add(mono.data(), qsizetype(frames));
        decodedFrames += frames;

        if (declaredFrames > 0) {
            const qint64 percent = decodedFrames * 100 / declaredFrames;
            if (percent > lastProgress && percent % 10 == 0) {
                lastProgress = int(percent);
                Q_EMIT parsingProgress(lastProgress);
            }
        }
    }
    decoder.close();

    if (decodedFrames == 0) {
        qWarning() << "❌ 没有读取到任何音频数据";
        return {};
    }

    Result result;
    result.durationMs = qint64(double(decodedFrames) / AudioFileDecoder::kSampleRate * 1000.0);
    result.peaks = buckets.peaks();
    normalise(result.peaks);
    warnAboutQuietStart(result.peaks);
    return result;
}
