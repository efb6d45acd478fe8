#include "audiofile/PcmBuffer.h"

#include <QtTest>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

namespace {

// Every sample tells where it belongs, so a reader can check what it got.
float valueOf(qint64 frame, int channel)
{
    return float(frame % 100003) + (channel == 0 ? 0.0f : 0.5f);
}

}  // namespace

class PcmBufferTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void copiesAcrossChunkBoundaries();
    void readersSeeOnlyWrittenFramesWhileItGrows();
    void finalStateComesAfterTheLastFrame();
    void reservationsTrustNoAbsurdLength_data();
    void reservationsTrustNoAbsurdLength();
};

void PcmBufferTest::copiesAcrossChunkBoundaries()
{
    const qint64 frames = PcmBuffer::kChunkFrames * 2 + 100;
    std::vector<float> samples(size_t(frames) * 2);
    for (qint64 i = 0; i < frames; ++i) {
        samples[size_t(i) * 2] = valueOf(i, 0);
        samples[size_t(i) * 2 + 1] = valueOf(i, 1);
    }
    auto buffer = PcmBuffer::fromInterleaved(samples.data(), frames);
    QCOMPARE(buffer->frames(), frames);
    QCOMPARE(buffer->state(), PcmBuffer::State::Complete);
    QCOMPARE(buffer->byteSize(), frames * 8);

    std::vector<float> out(1000 * 2);
    const qint64 first = PcmBuffer::kChunkFrames - 500;
    QCOMPARE(buffer->copyFrames(first, 1000, out.data()), qint64(1000));
    for (qint64 i = 0; i < 1000; ++i) {
        QCOMPARE(out[size_t(i) * 2], valueOf(first + i, 0));
        QCOMPARE(out[size_t(i) * 2 + 1], valueOf(first + i, 1));
    }
    // Near the end only what is there.
    QCOMPARE(buffer->copyFrames(frames - 10, 1000, out.data()), qint64(10));
    QCOMPARE(buffer->copyFrames(frames, 10, out.data()), qint64(0));
    QCOMPARE(buffer->sample(frames - 1, 1), valueOf(frames - 1, 1));
}

void PcmBufferTest::readersSeeOnlyWrittenFramesWhileItGrows()
{
    // Starts with room for one chunk, so the chunk table is replaced several
    // times while the reader copies.
    auto buffer = std::make_shared<PcmBuffer>(0);
    const qint64 total = PcmBuffer::kChunkFrames * 40 + 123;
    std::atomic<bool> wrong{false};
    std::atomic<qint64> checked{0};

    std::thread reader([&] {
        std::vector<float> out(4096 * 2);
        qint64 position = 0;
        while (position < total && !wrong) {
            const qint64 n = buffer->copyFrames(position, 4096, out.data());
            for (qint64 i = 0; i < n; ++i) {
                if (out[size_t(i) * 2] != valueOf(position + i, 0) || out[size_t(i) * 2 + 1] != valueOf(position + i, 1))
                    wrong = true;
            }
            position += n;
            checked = position;
        }
    });

    std::vector<float> chunk(3000 * 2);
    qint64 written = 0;
    while (written < total) {
        const qint64 n = std::min<qint64>(3000, total - written);
        for (qint64 i = 0; i < n; ++i) {
            chunk[size_t(i) * 2] = valueOf(written + i, 0);
            chunk[size_t(i) * 2 + 1] = valueOf(written + i, 1);
        }
        buffer->append(chunk.data(), n);
        written += n;
    }
    buffer->finish(PcmBuffer::State::Complete);
    reader.join();
    QVERIFY(!wrong);
    QCOMPARE(checked.load(), total);
}

void PcmBufferTest::finalStateComesAfterTheLastFrame()
{
    // Whoever sees the final state sees every frame.
    for (int round = 0; round < 200; ++round) {
        auto buffer = std::make_shared<PcmBuffer>(0);
        std::vector<float> samples(size_t(5000) * 2, 0.25f);
        std::thread writer([&] {
            for (int i = 0; i < 10; ++i)
                buffer->append(samples.data(), 5000);
            buffer->finish(PcmBuffer::State::Complete);
        });
        while (buffer->isFilling()) {
        }
        QCOMPARE(buffer->frames(), qint64(50000));
        writer.join();
    }
}

void PcmBufferTest::reservationsTrustNoAbsurdLength_data()
{
    QTest::addColumn<qint64>("hintMs");
    QTest::addColumn<qint64>("fileBytes");
    QTest::addColumn<qint64>("expected");
    const qint64 fiveMinutes = qint64(44100) * 300;
    QTest::newRow("a 5-minute MP3") << qint64(300000) << qint64(7200000) << fiveMinutes;
    QTest::newRow("size unknown") << qint64(300000) << qint64(-1) << fiveMinutes;
    QTest::newRow("10^15 ms in a 40 kB file") << qint64(1000000000000000) << qint64(40000)
                                             << 40000 * PcmBuffer::kMaxFramesPerFileByte;
    QTest::newRow("10^15 ms, size unknown") << qint64(1000000000000000) << qint64(-1) << PcmBuffer::kMaxReserveFrames;
    QTest::newRow("largest value") << std::numeric_limits<qint64>::max() << std::numeric_limits<qint64>::max()
                                   << PcmBuffer::kMaxReserveFrames;
    QTest::newRow("negative") << qint64(-5) << qint64(1000) << qint64(0);
}

void PcmBufferTest::reservationsTrustNoAbsurdLength()
{
    QFETCH(qint64, hintMs);
    QFETCH(qint64, fileBytes);
    QFETCH(qint64, expected);
    const qint64 frames = PcmBuffer::plausibleFrames(PcmBuffer::msToFrames(hintMs), fileBytes);
    QCOMPARE(frames, expected);

    // Sized by the raw hint as well, nothing throws and the buffer works.
    const qint64 raw = PcmBuffer::msToFrames(hintMs);
    QVERIFY(raw >= 0);
    PcmBuffer buffer(raw);
    buffer.reserveFrames(raw);
    buffer.reserveFrames(std::numeric_limits<qint64>::max());
    const std::vector<float> samples(200, 0.5f);
    buffer.append(samples.data(), 100);
    QCOMPARE(buffer.frames(), qint64(100));
}

QTEST_GUILESS_MAIN(PcmBufferTest)
#include "PcmBufferTest.moc"
