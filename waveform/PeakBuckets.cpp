#include "waveform/PeakBuckets.h"

#include <algorithm>

namespace {

float maxOf(const float* samples, qsizetype count, float start)
{
    float m = start;
    for (qsizetype i = 0; i < count; ++i)
        m = std::max(m, samples[i]);
    return m;
}

}  // namespace

PeakBuckets::PeakBuckets(int targetPoints, qint64 expectedSamples, qsizetype blockCapacity)
    : m_points(std::max(1, targetPoints))
{
    // Room for at least two blocks per point, and an even count so that
    // halving never leaves half a pair.
    m_blockCapacity = std::max(blockCapacity, qsizetype(m_points) * 2);
    m_blockCapacity += m_blockCapacity % 2;
    m_blocks.reserve(size_t(m_blockCapacity));

    if (expectedSamples / m_points >= 1) {
        m_predictedBucketSize = expectedSamples / m_points;
        m_predicted.assign(size_t(m_points), 0.0f);
    }
}

void PeakBuckets::add(const float* absSamples, qsizetype count)
{
    if (count <= 0)
        return;
    addToPredictedBuckets(absSamples, count);
    addToBlocks(absSamples, count);
    m_total += count;
}

void PeakBuckets::addToPredictedBuckets(const float* samples, qsizetype count)
{
    if (m_predictedBucketSize == 0)
        return;
    const qint64 covered = m_predictedBucketSize * m_points;
    qint64 position = m_total;
    qsizetype done = 0;
    while (done < count && position < covered) {
        const qint64 bucket = position / m_predictedBucketSize;
        const qint64 run = std::min<qint64>(count - done, (bucket + 1) * m_predictedBucketSize - position);
        float& peak = m_predicted[size_t(bucket)];
        peak = maxOf(samples + done, qsizetype(run), peak);
        done += qsizetype(run);
        position += run;
    }
}

void PeakBuckets::addToBlocks(const float* samples, qsizetype count)
{
    qsizetype done = 0;
    while (done < count) {
        const qint64 run = std::min<qint64>(count - done, m_blockSize - m_blockFill);
        m_blockMax = maxOf(samples + done, qsizetype(run), m_blockMax);
        m_blockFill += run;
        done += qsizetype(run);
        if (m_blockFill < m_blockSize)
            continue;

        m_blocks.push_back(m_blockMax);
        m_blockFill = 0;
        m_blockMax = 0.0f;
        if (qsizetype(m_blocks.size()) == m_blockCapacity) {
            // Full: merge neighbours and go on with blocks twice as long.
            for (size_t i = 0; i < m_blocks.size() / 2; ++i)
                m_blocks[i] = std::max(m_blocks[2 * i], m_blocks[2 * i + 1]);
            m_blocks.resize(m_blocks.size() / 2);
            m_blockSize *= 2;
        }
    }
}

float PeakBuckets::blockRangeMax(qint64 firstSample, qint64 endSample) const
{
    const qint64 firstBlock = firstSample / m_blockSize;
    const qint64 lastBlock = (endSample - 1) / m_blockSize;
    float m = 0.0f;
    for (qint64 b = firstBlock; b <= lastBlock; ++b)
        m = std::max(m, b < qint64(m_blocks.size()) ? m_blocks[size_t(b)] : m_blockMax);
    return m;
}

QList<float> PeakBuckets::peaks() const
{
    QList<float> result;
    if (m_total == 0)
        return result;

    if (m_total <= m_points) {
        // Fewer samples than points: the samples themselves. The capacity
        // holds at least twice the points, so the blocks are still samples.
        result.reserve(qsizetype(m_total));
        for (float sample : m_blocks)
            result.append(sample);
        return result;
    }

    const qint64 bucketSize = m_total / m_points;
    if (bucketSize == m_predictedBucketSize)
        return QList<float>(m_predicted.begin(), m_predicted.end());

    result.reserve(m_points);
    for (qint64 i = 0; i < m_points; ++i)
        result.append(blockRangeMax(i * bucketSize, (i + 1) * bucketSize));
    return result;
}
