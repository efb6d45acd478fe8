#include "waveform/DecodeAheadReader.h"

#include "audiofile/AudioFileDecoder.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

std::vector<float> readDirectly(const QString& path)
{
    AudioFileDecoder decoder;
    std::vector<float> all;
    if (!decoder.open(path))
        return all;
    std::vector<float> chunk(1000 * 2);
    while (const qint64 n = decoder.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + n * 2);
    return all;
}

}  // namespace

class DecodeAheadReaderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;

private Q_SLOTS:
    void initTestCase();
    void deliversTheSameStreamAsDirectReads_data();
    void deliversTheSameStreamAsDirectReads();
    void stopsWhenDroppedHalfWay();
};

void DecodeAheadReaderTest::initTestCase()
{
    TestAudio::WavSpec spec;
    spec.seconds = 7.0;
    spec.signal = TestAudio::Signal::Noise;
    m_file = m_dir.filePath("noise.flac");
    QVERIFY(TestAudio::makeFile(m_file, spec));
}

void DecodeAheadReaderTest::deliversTheSameStreamAsDirectReads_data()
{
    QTest::addColumn<int>("blockFrames");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("codecThreads");
    QTest::addColumn<bool>("ownThread");
    QTest::newRow("4096 x 16") << 4096 << 16 << 1 << true;
    QTest::newRow("4096 x 16, threaded codec") << 4096 << 16 << 4 << true;
    QTest::newRow("smallest ring") << 333 << 2 << 1 << true;
    QTest::newRow("ring of one, raised to two") << 100 << 1 << 1 << true;
    QTest::newRow("no thread of its own") << 4096 << 16 << 1 << false;
}

void DecodeAheadReaderTest::deliversTheSameStreamAsDirectReads()
{
    QFETCH(int, blockFrames);
    QFETCH(int, blocks);
    QFETCH(int, codecThreads);
    QFETCH(bool, ownThread);

    AudioFileDecoder decoder;
    decoder.setCodecThreads(codecThreads);
    QVERIFY(decoder.open(m_file));
    std::vector<float> all;
    {
        DecodeAheadReader reader(decoder, blockFrames, blocks, ownThread);
        const float* frames = nullptr;
        while (const qint64 n = reader.next(&frames)) {
            QVERIFY(n <= blockFrames);
            all.insert(all.end(), frames, frames + n * 2);
        }
        QCOMPARE(reader.next(&frames), qint64(0));  // the end stays the end
    }
    QCOMPARE(all.size(), size_t(7 * 44100 * 2));
    QVERIFY(all == readDirectly(m_file));
}

void DecodeAheadReaderTest::stopsWhenDroppedHalfWay()
{
    AudioFileDecoder decoder;
    QVERIFY(decoder.open(m_file));
    {
        DecodeAheadReader reader(decoder, 4096, 8, true);
        const float* frames = nullptr;
        QCOMPARE(reader.next(&frames), qint64(4096));
    }
    // The thread has let go of the decoder: it can be read on from here.
    std::vector<float> chunk(4096 * 2);
    QVERIFY(decoder.read(chunk.data(), 4096) > 0);
}

QTEST_GUILESS_MAIN(DecodeAheadReaderTest)
#include "DecodeAheadReaderTest.moc"
