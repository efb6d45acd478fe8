#include "waveform/PeakBuckets.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

// Bucket maxima over the whole sample list: the result the streaming
// reduction has to reproduce.
QList<float> wholeListPeaks(const std::vector<float>& samples, int points)
{
    if (points >= qsizetype(samples.size()))
        return QList<float>(samples.begin(), samples.end());
    const size_t bucket = samples.size() / size_t(points);
    QList<float> peaks;
    for (int i = 0; i < points; ++i)
        peaks.append(*std::max_element(samples.begin() + i * bucket, samples.begin() + (i + 1) * bucket));
    return peaks;
}

std::vector<float> spikySamples(qint64 count, quint32 seed)
{
    QRandomGenerator rng(seed);
    std::vector<float> samples(static_cast<size_t>(count));
    for (float& s : samples)
        s = float(rng.generateDouble() * 0.2);
    // Lone spikes, so a bucket edge that is off by one sample shows.
    for (qint64 i = 0; i < count / 500; ++i)
        samples[size_t(rng.bounded(count))] = float(0.3 + rng.generateDouble() * 0.7);
    return samples;
}

QList<float> streamed(const std::vector<float>& samples, int points, qint64 expected, qsizetype capacity,
                      qint64* blockSize = nullptr)
{
    PeakBuckets buckets(points, expected, capacity);
    QRandomGenerator rng(7);
    size_t done = 0;
    while (done < samples.size()) {
        const size_t n = std::min<size_t>(samples.size() - done, 1 + rng.bounded(5000));
        buckets.add(samples.data() + done, qsizetype(n));
        done += n;
    }
    if (blockSize)
        *blockSize = buckets.blockSize();
    return buckets.peaks();
}

}  // namespace

class PeakBucketsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesWholeListBuckets_data();
    void matchesWholeListBuckets();
    void neverLosesAPeakWhenTheLengthWasMispredicted();
    void emptyStreamGivesNothing();
};

void PeakBucketsTest::matchesWholeListBuckets_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("points");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<qsizetype>("capacity");

    // Long streams with a small capacity go through many block merges.
    QTest::newRow("length known, merged blocks") << qint64(1'234'567) << 2000 << qint64(1'234'567) << qsizetype(4096);
    QTest::newRow("known length, remainder ignored") << qint64(2000 * 613 + 1999) << 2000 << qint64(2000 * 613 + 1999) << qsizetype(4096);
    QTest::newRow("estimate off but same bucket size") << qint64(2000 * 500 + 10) << 2000 << qint64(2000 * 500 + 1500) << qsizetype(4096);
    QTest::newRow("unknown length, fits capacity") << qint64(300'001) << 2000 << qint64(0) << PeakBuckets::kDefaultBlockCapacity;
    QTest::newRow("estimate too short, fits capacity") << qint64(500'000) << 2000 << qint64(400'000) << PeakBuckets::kDefaultBlockCapacity;
    QTest::newRow("estimate too long, fits capacity") << qint64(500'000) << 2000 << qint64(900'000) << PeakBuckets::kDefaultBlockCapacity;
    QTest::newRow("fewer samples than points") << qint64(1500) << 2000 << qint64(1500) << PeakBuckets::kDefaultBlockCapacity;
    QTest::newRow("as many samples as points") << qint64(2000) << 2000 << qint64(0) << qsizetype(16);
    QTest::newRow("one sample more than points") << qint64(2001) << 2000 << qint64(2001) << qsizetype(16);
    QTest::newRow("single point") << qint64(99'999) << 1 << qint64(0) << qsizetype(64);
}

void PeakBucketsTest::matchesWholeListBuckets()
{
    QFETCH(qint64, length);
    QFETCH(int, points);
    QFETCH(qint64, expected);
    QFETCH(qsizetype, capacity);

    const std::vector<float> samples = spikySamples(length, quint32(length));
    const QList<float> reference = wholeListPeaks(samples, points);
    QCOMPARE(streamed(samples, points, expected, capacity), reference);
}

void PeakBucketsTest::neverLosesAPeakWhenTheLengthWasMispredicted()
{
    // The container lied and the stream outgrew the blocks: each bucket then
    // holds its own maximum, or a neighbour's from less than a block away.
    const int points = 2000;
    for (qint64 expected : {qint64(0), qint64(700'000), qint64(3'000'000)}) {
        const std::vector<float> samples = spikySamples(1'500'017, 99);
        qint64 block = 0;
        const QList<float> peaks = streamed(samples, points, expected, 8192, &block);
        QVERIFY(block > 1);
        QCOMPARE(peaks.size(), points);

        const QList<float> reference = wholeListPeaks(samples, points);
        const qint64 bucket = qint64(samples.size()) / points;
        for (int i = 0; i < points; ++i) {
            const qint64 from = std::max<qint64>(0, i * bucket - block);
            const qint64 to = std::min<qint64>(qint64(samples.size()), (i + 1) * bucket + block);
            const float widest = *std::max_element(samples.begin() + from, samples.begin() + to);
            QVERIFY2(peaks[i] >= reference[i] && peaks[i] <= widest, qPrintable(QString::number(i)));
        }
    }
}

void PeakBucketsTest::emptyStreamGivesNothing()
{
    PeakBuckets buckets(2000, 1'000'000);
    buckets.add(nullptr, 0);
    QVERIFY(buckets.peaks().isEmpty());
    QCOMPARE(buckets.sampleCount(), qint64(0));
}

QTEST_GUILESS_MAIN(PeakBucketsTest)
#include "PeakBucketsTest.moc"
