#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/WaveformStorage.h"
#include "support/LogCapture.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// The stored waveform blob: its exact bytes, the inputs it refuses, and the
// waveform rows of the database.
class WaveformStorageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void encodesTheExactBytes();
    void decodesWhatItEncoded();
    void emptyListIsAHeaderOnly();
    void badInputGivesEmptyList_data();
    void badInputGivesEmptyList();
    void forgedLengthPrefixAllocatesNothingHuge();
    void leadingZeroCountIsCapped_data();
    void leadingZeroCountIsCapped();
    void waveformRows();

private:
    QTemporaryDir m_dir;
};

namespace {

QByteArray rawRecord(qint32 magic, qint32 version, qint32 target, qint32 count, int values)
{
    QByteArray out;
    for (qint32 v : {magic, version, target, count}) {
        char bytes[4];
        qToLittleEndian(v, bytes);
        out.append(bytes, 4);
    }
    for (int i = 0; i < values; ++i) {
        char bytes[2];
        qToLittleEndian<qint16>(qint16(1000 + i), bytes);
        out.append(bytes, 2);
    }
    return out;
}

}  // namespace

void WaveformStorageTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("waveforms.db")));
}

void WaveformStorageTest::encodesTheExactBytes()
{
    LogCapture log;
    const QByteArray record = WaveformStorage::encode({0.0f, 0.5f, 1.0f, 1.5f, -0.2f}, 2000);
    QCOMPARE(record.toHex(' '), QByteArray("45 56 41 57 01 00 00 00 d0 07 00 00 05 00 00 00 "
                                           "00 00 ff 3f ff 7f ff 7f 00 00"));
    QVERIFY(log.contains("⚠️ WaveformStorage::encode - Found 1 leading zeros in input waveform!"));

    // Compressed form: big-endian raw length, then a zlib stream.
    const QByteArray blob = WaveformStorage::encodeCompressed({0.25f, 0.75f}, 2000);
    QCOMPARE(qFromBigEndian<quint32>(blob.constData()), quint32(20));
    QCOMPARE(quint8(blob[4]), quint8(0x78));
}

void WaveformStorageTest::decodesWhatItEncoded()
{
    int target = 0;
    const QList<float> values =
        WaveformStorage::decode(WaveformStorage::encode({0.0f, 0.5f, 1.0f, 1.5f, -0.2f}, 2000), &target);
    QCOMPARE(target, 2000);
    QCOMPARE(values, (QList<float>{0.0f, 16383.0f / 32767.0f, 1.0f, 1.0f, 0.0f}));

    QList<float> peaks;
    for (int i = 0; i < 2000; ++i)
        peaks << float(i % 97) / 96.0f;
    const QList<float> restored =
        WaveformStorage::decodeCompressed(WaveformStorage::encodeCompressed(peaks, 2000), &target);
    QCOMPARE(restored.size(), peaks.size());
    for (int i = 0; i < peaks.size(); ++i)
        QCOMPARE(restored[i], float(qint16(peaks[i] * 32767.0f)) / 32767.0f);
}

void WaveformStorageTest::emptyListIsAHeaderOnly()
{
    const QByteArray record = WaveformStorage::encode({}, 2000);
    QCOMPARE(record.size(), 16);
    LogCapture log;
    int target = 0;
    QVERIFY(WaveformStorage::decode(record, &target).isEmpty());
    QVERIFY(!log.contains("incomplete"));
    QCOMPARE(target, 2000);
}

void WaveformStorageTest::badInputGivesEmptyList_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("targetUntouched");

    QList<float> peaks;
    for (int i = 0; i < 2000; ++i)
        peaks << float((i * 7919) % 1000) / 1000.0f;
    const QByteArray good = WaveformStorage::encodeCompressed(peaks, 2000);
    QTest::newRow("empty raw") << QByteArray() << false << "WaveformStorage::decode: empty data" << true;
    QTest::newRow("empty blob") << QByteArray() << true << "WaveformStorage::decodeCompressed: empty data" << true;
    QTest::newRow("wrong magic") << rawRecord(0x12345678, 1, 2000, 0, 0) << false
                                 << "WaveformStorage::decode: invalid magic number, got 305419896" << true;
    QTest::newRow("version 2") << rawRecord(WaveformStorage::kMagic, 2, 2000, 0, 0) << false
                               << "WaveformStorage::decode: unsupported version 2" << true;
    QTest::newRow("short values") << rawRecord(WaveformStorage::kMagic, 1, 2000, 2000, 1000) << false
                                  << "Waveform decode incomplete: expected 2000 got 1000" << false;
    QTest::newRow("negative count") << rawRecord(WaveformStorage::kMagic, 1, 2000, -5, 3) << false
                                    << "Waveform decode incomplete: expected -5 got 0" << false;
    QTest::newRow("huge count") << rawRecord(WaveformStorage::kMagic, 1, 2000, 0x7fffffff, 2) << false
                                << "Waveform decode incomplete" << false;
    QTest::newRow("header cut") << rawRecord(WaveformStorage::kMagic, 1, 2000, 5, 0).left(4) << false
                                << "unsupported version 0" << true;
    QTest::newRow("truncated blob") << good.left(100) << true
                                    << "WaveformStorage::decodeCompressed: decompression failed, data size: 100" << true;
    QTest::newRow("not zlib") << QByteArray("\x00\x00\x10\x00garbage-garbage", 19) << true << "decompression failed"
                              << true;
}

void WaveformStorageTest::badInputGivesEmptyList()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, compressed);
    QFETCH(QString, warning);
    QFETCH(bool, targetUntouched);
    LogCapture log;
    int target = -7;
    const QList<float> values = compressed ? WaveformStorage::decodeCompressed(blob, &target)
                                           : WaveformStorage::decode(blob, &target);
    QVERIFY(values.isEmpty());
    QVERIFY2(log.contains(warning), qPrintable(log.lines().join('\n')));
    if (targetUntouched)
        QCOMPARE(target, -7);
}

void WaveformStorageTest::forgedLengthPrefixAllocatesNothingHuge()
{
    // A blob from a project file claiming 4 GB of raw data.
    QByteArray forged = WaveformStorage::encodeCompressed({0.5f}, 2000);
    qToBigEndian<quint32>(0xfffffff0u, forged.data());
    LogCapture log;
    int target = 0;
    QVERIFY(WaveformStorage::decodeCompressed(forged, &target).isEmpty());
    QVERIFY(log.contains("decompression failed"));
}

void WaveformStorageTest::leadingZeroCountIsCapped_data()
{
    QTest::addColumn<int>("zeros");
    QTest::addColumn<int>("peaks");
    QTest::addColumn<int>("logged");
    QTest::newRow("150 zeros") << 150 << 10 << 100;
    QTest::newRow("only 3 zeros") << 3 << 0 << 3;
    QTest::newRow("none") << 0 << 10 << 0;
}

void WaveformStorageTest::leadingZeroCountIsCapped()
{
    QFETCH(int, zeros);
    QFETCH(int, peaks);
    QFETCH(int, logged);
    QList<float> list(zeros, 0.0f);
    list.append(QList<float>(peaks, 0.5f));
    QCOMPARE(WaveformStorage::countLeadingZeros(list), logged);
}

void WaveformStorageTest::waveformRows()
{
    DatabaseManager* db = DatabaseManager::instance();
    Cue cue(-1, "wave", "/nowhere/wave.wav");
    QVERIFY(cue.saveToDatabase(false));
    const int id = cue.id();

    QList<float> kept{0.5f};
    int target = 1;
    QVERIFY(!db->loadWaveformDataCompressed(id, kept, &target));  // no row
    QCOMPARE(kept, QList<float>{0.5f});

    QVERIFY(db->saveWaveformDataCompressed(id, 2000, {0.1f, 0.2f}));
    QVERIFY(db->saveWaveformDataCompressed(id, 2000, {0.3f, 0.4f, 0.5f}));  // replaces
    QList<float> loaded;
    QVERIFY(db->loadWaveformDataCompressed(id, loaded, &target));
    QCOMPARE(loaded.size(), 3);
    QCOMPARE(target, 2000);

    QVERIFY(db->insertWaveformData(id, 2000, QByteArray("corrupt")));
    QVERIFY(!db->loadWaveformDataCompressed(id, loaded, &target));
    QVERIFY(loaded.isEmpty());

    QVERIFY(!db->insertWaveformData(999999, 2000, QByteArray("x")));  // no such cue

    QVERIFY(db->hasWaveformData(id));
    QVERIFY(cue.deleteFromDatabase());
    QVERIFY(!db->hasWaveformData(id));
}

QTEST_GUILESS_MAIN(WaveformStorageTest)
#include "WaveformStorageTest.moc"
