#include "recording/RecordingDialog.h"
#include "recording/RecordingPcm.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

// Interleaved stereo 16-bit audio from per-frame values (both channels alike
// unless right is given).
QByteArray stereo(const QList<int>& left, const QList<int>& right = {})
{
    QByteArray pcm;
    for (qsizetype i = 0; i < left.size(); ++i) {
        qint16 l = qToLittleEndian<qint16>(qint16(left[i]));
        qint16 r = qToLittleEndian<qint16>(qint16(right.isEmpty() ? left[i] : right[i]));
        pcm.append(reinterpret_cast<const char*>(&l), 2);
        pcm.append(reinterpret_cast<const char*>(&r), 2);
    }
    return pcm;
}

// Blocks of 50 ms at the given rate, each a constant level (a square wave of
// that amplitude, so its RMS is exactly the level).
QByteArray blocks(const QList<double>& levels, int rate)
{
    QList<int> frames;
    const int block = rate / 20;
    for (double level : levels) {
        for (int i = 0; i < block; ++i)
            frames.append(int(std::lround((i % 2 ? -level : level) * 32767.0)));
    }
    return stereo(frames);
}

}  // namespace

class RecordingPcmTest : public QObject {
    Q_OBJECT

private slots:
    void formatTime_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00.00";
        QTest::newRow("hundredths truncate") << qint64(61234) << "01:01.23";
        QTest::newRow("just below a second") << qint64(999) << "00:00.99";
        QTest::newRow("minutes do not wrap") << qint64(100 * 60000) << "100:00.00";
        QTest::newRow("59.999 s") << qint64(59999) << "00:59.99";
    }
    void formatTime()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(RecordingDialog::formatTime(ms), text);
    }

    void byteOffsets_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("1 s at 44100") << qint64(1000) << 44100 << qint64(176400);
        QTest::newRow("whole frames only") << qint64(1) << 44100 << qint64(44 * 4);
        QTest::newRow("48000") << qint64(250) << 48000 << qint64(12000 * 4);
        QTest::newRow("32000, 15 ms") << qint64(15) << 32000 << qint64(480 * 4);
    }
    void byteOffsets()
    {
        QFETCH(qint64, ms);
        QFETCH(int, rate);
        QFETCH(qint64, offset);
        QCOMPARE(RecordingPcm::byteOffsetOfMs(ms, rate, 2), offset);
        QCOMPARE(RecordingPcm::durationMs(offset, rate, 2), qint64(offset / 4) * 1000 / rate);
    }

    void peaksPerBlock_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("expectedPairs");
        QTest::newRow("44100: 441-frame blocks") << 44100 << 882 << 2;
        QTest::newRow("short last block") << 44100 << 883 << 3;
        QTest::newRow("48000: 480-frame blocks") << 48000 << 4800 << 10;
        QTest::newRow("below 100 Hz: one frame each") << 50 << 7 << 7;
        QTest::newRow("nothing") << 44100 << 0 << 0;
    }
    void peaksPerBlock()
    {
        QFETCH(int, rate);
        QFETCH(int, frames);
        QFETCH(int, expectedPairs);
        QList<int> left;
        QList<int> right;
        for (int i = 0; i < frames; ++i) {
            left.append(i % 7 == 0 ? 16384 : 0);
            right.append(i % 11 == 0 ? -32768 : 100);
        }
        const QByteArray pcm = stereo(left, right);
        const QList<PeakPair> peaks = RecordingPcm::peaks(pcm.constData(), pcm.size(), 2, rate);
        QCOMPARE(peaks.size(), expectedPairs);
        const int block = rate >= 100 ? rate / 100 : 1;
        for (int b = 0; b < peaks.size(); ++b) {
            int lo = 32767;
            int hi = -32768;
            for (int f = b * block; f < std::min(frames, (b + 1) * block); ++f) {
                lo = std::min({lo, left[f], right[f]});
                hi = std::max({hi, left[f], right[f]});
            }
            QCOMPARE(peaks[b].min, float(lo) / 32768.0f);
            QCOMPARE(peaks[b].max, float(hi) / 32768.0f);
        }
    }

    void peaksOverAllChannels()
    {
        const QByteArray pcm = stereo({0, 100}, {-32768, 32767});
        const QList<PeakPair> peaks = RecordingPcm::peaks(pcm.constData(), pcm.size(), 2, 44100);
        QCOMPARE(peaks.size(), 1);
        QCOMPARE(peaks[0].min, -1.0f);
        QCOMPARE(peaks[0].max, 32767.0f / 32768.0f);
    }

    void leadAndTrailTrim_data()
    {
        QTest::addColumn<qint64>("leadMs");
        QTest::addColumn<qint64>("trailMs");
        QTest::addColumn<int>("firstFrame");
        QTest::addColumn<int>("frameCount");
        // 1000 frames at 1000 Hz: one frame per ms.
        QTest::newRow("both") << qint64(100) << qint64(200) << 100 << 700;
        QTest::newRow("lead only") << qint64(10) << qint64(0) << 10 << 990;
        QTest::newRow("trail only") << qint64(0) << qint64(999) << 0 << 1;
        QTest::newRow("lead past the end") << qint64(5000) << qint64(10) << 1000 << 0;
        QTest::newRow("trail longer than the rest") << qint64(600) << qint64(600) << 600 << 0;
        QTest::newRow("nothing") << qint64(0) << qint64(0) << 0 << 1000;
    }
    void leadAndTrailTrim()
    {
        QFETCH(qint64, leadMs);
        QFETCH(qint64, trailMs);
        QFETCH(int, firstFrame);
        QFETCH(int, frameCount);
        QList<int> frames;
        for (int i = 0; i < 1000; ++i)
            frames.append(i);
        const QByteArray pcm = stereo(frames);
        const QByteArray trimmed = RecordingPcm::withoutLeadAndTrail(pcm, leadMs, trailMs, 1000, 2);
        QCOMPARE(trimmed, pcm.mid(firstFrame * 4, frameCount * 4));
    }

    // Silence at both ends, in whole 10 ms blocks taken from the samples:
    // 100 frames per block at 10000 Hz, 2000 frames (20 blocks) in all; a
    // sample of 33 reaches 0.001 of full scale, 32 does not.
    void silenceTrim_data()
    {
        QTest::addColumn<QList<int>>("loudFrames");  // frame, then its value
        QTest::addColumn<qint64>("leadFrames");
        QTest::addColumn<qint64>("trailFrames");
        QTest::newRow("silent throughout: kept whole") << QList<int>{} << qint64(0) << qint64(0);
        QTest::newRow("one loud block: kept whole") << QList<int>{250, 5000, 299, -5000} << qint64(0) << qint64(0);
        QTest::newRow("loud from block 2 to block 10") << QList<int>{250, 5000, 1010, 5000} << qint64(200)
                                                       << qint64(2000 - 1100);
        QTest::newRow("block edges") << QList<int>{100, 33, 1999, -33} << qint64(100) << qint64(0);
        QTest::newRow("too faint to count") << QList<int>{100, 32, 500, 40, 900, -40, 1500, -32} << qint64(500)
                                            << qint64(2000 - 1000);
        QTest::newRow("first and last frame") << QList<int>{0, 1000, 1999, 1000} << qint64(0) << qint64(0);
    }
    void silenceTrim()
    {
        QFETCH(QList<int>, loudFrames);
        QFETCH(qint64, leadFrames);
        QFETCH(qint64, trailFrames);
        QList<int> left(2000, 0);
        QList<int> right(2000, 0);
        for (qsizetype i = 0; i + 1 < loudFrames.size(); i += 2)
            right[loudFrames[i]] = loudFrames[i + 1];  // one channel is enough
        const QByteArray pcm = stereo(left, right);
        const RecordingPcm::SilenceTrim trim =
            RecordingPcm::silenceTrim(pcm.constData(), pcm.size(), 2, 10000, 0.001f);
        QCOMPARE(trim.leadBytes, leadFrames * 4);
        QCOMPARE(trim.trailBytes, trailFrames * 4);
    }

    // Cut after a track change: the last quiet 50 ms block of the final 2 s
    // (the very last block not examined) marks where the next track began.
    void trackChangeTail_data()
    {
        QTest::addColumn<QList<double>>("levels");
        QTest::addColumn<qint64>("cutMs");
        const QList<double> loud(40, 0.5);
        QList<double> gapAt30 = loud;
        gapAt30[30] = 0.0;
        QList<double> twoGaps = loud;
        twoGaps[5] = 0.01;
        twoGaps[20] = 0.02;
        QList<double> onlyLastQuiet = loud;
        onlyLastQuiet[39] = 0.0;
        QList<double> longer(60, 0.5);
        longer[10] = 0.0;  // outside the final 2 s: not seen
        longer[45] = 0.0;
        QTest::newRow("quiet block 30 of 40") << gapAt30 << qint64((40 - 1 - 30) * 50);
        QTest::newRow("the later of two quiet blocks") << twoGaps << qint64((40 - 1 - 20) * 50);
        QTest::newRow("no quiet block: 800 ms") << loud << qint64(800);
        QTest::newRow("last block not examined") << onlyLastQuiet << qint64(800);
        QTest::newRow("only the final 2 s count") << longer << qint64((40 - 1 - 25) * 50);
        QTest::newRow("just above the threshold is loud") << QList<double>(40, 0.031) << qint64(800);
        QTest::newRow("100 ms: two blocks") << QList<double>{0.0, 0.5} << qint64(50);
    }
    void trackChangeTail()
    {
        QFETCH(QList<double>, levels);
        QFETCH(qint64, cutMs);
        const int rate = 44100;
        const QByteArray pcm = blocks(levels, rate);
        QCOMPARE(RecordingPcm::trackChangeCutBytes(pcm.constData(), pcm.size(), rate, 2),
                 qint64(4) * (cutMs * rate / 1000));
    }

    void trackChangeTailNeedsAudio_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("rate");
        QTest::newRow("less than 100 ms") << 4409 << 44100;
        QTest::newRow("no frame") << 0 << 44100;
        QTest::newRow("rate below 20") << 1000 << 19;
    }
    void trackChangeTailNeedsAudio()
    {
        QFETCH(int, frames);
        QFETCH(int, rate);
        const QByteArray pcm = stereo(QList<int>(frames, 20000));
        QCOMPARE(RecordingPcm::trackChangeCutBytes(pcm.constData(), pcm.size(), rate, 2), qint64(0));
    }

    void rmsOfKnownSignals()
    {
        QCOMPARE(RecordingPcm::rms(nullptr, 0), 0.0);
        const QByteArray square = stereo({16384, -16384, 16384, -16384});
        QCOMPARE(RecordingPcm::rms(square.constData(), square.size()), 0.5);
        QCOMPARE(RecordingPcm::recentRmsWindowBytes(44100, 2), qint64(176 * 2000));
    }

    void rangeEdits()
    {
        const QByteArray pcm = stereo({1, 2, 3, 4, 5});
        QCOMPARE(RecordingPcm::withoutRange(pcm, 4, 12), stereo({1, 4, 5}));
        QCOMPARE(RecordingPcm::rangeOnly(pcm, 4, 12), stereo({2, 3}));
        QCOMPARE(RecordingPcm::withoutRange(pcm, 12, 400), stereo({1, 2, 3}));
        QCOMPARE(RecordingPcm::rangeOnly(pcm, -8, 8), stereo({1, 2}));
        QCOMPARE(RecordingPcm::withoutRange(pcm, 8, 8), pcm);
        // The lengths an edit names before its bytes are copied.
        const QList<std::pair<qint64, qint64>> ranges{{4, 12}, {12, 400}, {-8, 8}, {8, 8}, {12, 4}, {0, 20}};
        for (const auto& [start, end] : ranges) {
            QCOMPARE(RecordingPcm::withoutRangeBytes(pcm.size(), start, end),
                     qint64(RecordingPcm::withoutRange(pcm, start, end).size()));
            QCOMPARE(RecordingPcm::rangeOnlyBytes(pcm.size(), start, end),
                     qint64(RecordingPcm::rangeOnly(pcm, start, end).size()));
        }
    }

    void floatRoundTripIsExact()
    {
        QList<qint16> values{-32768, -1, 0, 1, 12345, 32767};
        QList<float> floats;
        for (qint16 v : values)
            floats.append(RecordingPcm::s16ToFloat(v));
        QList<qint16> back(values.size());
        RecordingPcm::floatToS16(floats.constData(), back.data(), floats.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            QCOMPARE(qFromLittleEndian<qint16>(back[i]), values[i]);
        const float over[2] = {1.5f, -2.0f};
        qint16 clipped[2];
        RecordingPcm::floatToS16(over, clipped, 2);
        QCOMPARE(qFromLittleEndian<qint16>(clipped[0]), qint16(32767));
        QCOMPARE(qFromLittleEndian<qint16>(clipped[1]), qint16(-32768));
    }
};

QTEST_MAIN(RecordingPcmTest)
#include "RecordingPcmTest.moc"
