#pragma once

#include <QList>
#include <QtGlobal>

#include <vector>

// Largest absolute sample of each of N equal buckets of a stream whose
// length is only known at its end, in bounded memory.
//
// The stream is cut into bucket size B = total / N (the remainder at the end
// belongs to no bucket). Two records are kept while samples arrive:
// - the maxima of the buckets the expected length predicts, which are exact
//   whenever the real length gives the same bucket size (any file whose
//   container tells its length);
// - the maxima of small blocks, at most blockCapacity of them, whose size
//   doubles whenever they fill up. When the prediction was wrong the buckets
//   are taken from these; a block that straddles two buckets counts for
//   both, so no peak is ever lost, and while the stream fits the capacity
//   (a block of one sample) the result is exact as well.
// A stream of no more than N samples gives the samples themselves.
class PeakBuckets {
public:
    static constexpr qsizetype kDefaultBlockCapacity = qsizetype(1) << 20;  // 4 MiB of maxima

    // targetPoints must be at least 1; expectedSamples may be 0 (unknown).
    PeakBuckets(int targetPoints, qint64 expectedSamples,
                qsizetype blockCapacity = kDefaultBlockCapacity);

    // absSamples are absolute sample values, in stream order.
    void add(const float* absSamples, qsizetype count);

    qint64 sampleCount() const { return m_total; }
    qint64 blockSize() const { return m_blockSize; }

    // The bucket maxima (not normalised); empty when nothing was added.
    QList<float> peaks() const;

private:
    void addToBlocks(const float* samples, qsizetype count);
    void addToPredictedBuckets(const float* samples, qsizetype count);
    float blockRangeMax(qint64 firstSample, qint64 endSample) const;

    int m_points;
    qint64 m_total = 0;

    qint64 m_predictedBucketSize = 0;  // 0: no prediction
    std::vector<float> m_predicted;

    qsizetype m_blockCapacity;
    std::vector<float> m_blocks;  // completed blocks
    qint64 m_blockSize = 1;
    qint64 m_blockFill = 0;  // samples in the block being filled
    float m_blockMax = 0.0f;
};
