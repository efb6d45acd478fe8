#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingsFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

QByteArray sinePcm(int rate, double seconds, double frequency = 440.0)
{
    QByteArray pcm;
    const int frames = int(rate * seconds);
    for (int i = 0; i < frames; ++i) {
        const qint16 v = qToLittleEndian<qint16>(qint16(std::lround(12000.0 * std::sin(2 * M_PI * frequency * i / rate))));
        pcm.append(reinterpret_cast<const char*>(&v), 2);
        pcm.append(reinterpret_cast<const char*>(&v), 2);
    }
    return pcm;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 u32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 u16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

}  // namespace

class RecordingFileWriterTest : public QObject {
    Q_OBJECT

private slots:
    void wavHeaderFollowsRateAndChannels_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("44100") << 44100;
        QTest::newRow("48000") << 48000;
        QTest::newRow("32000") << 32000;
    }
    void wavHeaderFollowsRateAndChannels()
    {
        QFETCH(int, rate);
        QTemporaryDir dir;
        const QString path = dir.filePath("take.wav");
        const QByteArray pcm = sinePcm(rate, 0.1);
        QString error;
        QVERIFY2(RecordingFileWriter::write(path, pcm, 2, rate, RecordingFileWriter::Format::Wav, &error),
                 qPrintable(error));
        const QByteArray file = readAll(path);
        QCOMPARE(file.size(), pcm.size() + 44);
        QCOMPARE(file.left(4), QByteArray("RIFF"));
        QCOMPARE(u32(file, 4), quint32(pcm.size() + 36));
        QCOMPARE(file.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(u32(file, 16), 16u);
        QCOMPARE(u16(file, 20), quint16(1));
        QCOMPARE(u16(file, 22), quint16(2));
        QCOMPARE(u32(file, 24), quint32(rate));
        QCOMPARE(u32(file, 28), quint32(rate * 4));  // 192000 at 48000 Hz
        QCOMPARE(u16(file, 32), quint16(4));
        QCOMPARE(u16(file, 34), quint16(16));
        QCOMPARE(file.mid(36, 4), QByteArray("data"));
        QCOMPARE(u32(file, 40), quint32(pcm.size()));
        QCOMPARE(file.mid(44), pcm);
    }

    void mp3DecodesBackToTheSameSound()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("take.mp3");
        const QByteArray pcm = sinePcm(44100, 2.0);
        QString error;
        QVERIFY2(RecordingFileWriter::write(path, pcm, 2, 44100, RecordingFileWriter::Format::Mp3, &error),
                 qPrintable(error));
        AudioFileDecoder decoder;
        QVERIFY2(decoder.open(path), qPrintable(decoder.errorString()));
        std::vector<float> out(44100 * 2 * 3);
        qint64 frames = 0;
        while (qint64 n = decoder.read(out.data() + frames * 2, 4096))
            frames += n;
        // LAME adds encoder delay and padding of a few frames.
        QVERIFY2(std::llabs(frames - 88200) < 3000, qPrintable(QString::number(frames)));
        double peak = 0;
        for (qint64 i = 0; i < frames * 2; ++i)
            peak = std::max(peak, double(std::fabs(out[size_t(i)])));
        QVERIFY2(std::fabs(peak - 12000.0 / 32768.0) < 0.05, qPrintable(QString::number(peak)));
    }

    // A VBR file whose first frames are silent: only the info frame tells
    // its true length to a probe that does not decode (the cue's duration).
    void mp3KnowsItsLength()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("take.mp3");
        const QByteArray pcm = QByteArray(44100 * 4 * 2, '\0') + sinePcm(44100, 6.0);
        QString error;
        QVERIFY2(RecordingFileWriter::write(path, pcm, 2, 44100, RecordingFileWriter::Format::Mp3, &error),
                 qPrintable(error));
        const qint64 ms = probeDurationMs(path);
        QVERIFY2(std::llabs(ms - 8000) < 60, qPrintable(QString::number(ms)));
    }

    void formatFollowsThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("mp3");
        QTest::newRow("mp3") << "a.mp3" << true;
        QTest::newRow("upper case") << "a.MP3" << true;
        QTest::newRow("wav") << "a.wav" << false;
        QTest::newRow("anything else") << "a.mp3.bak" << false;
    }
    void formatFollowsThePath()
    {
        QFETCH(QString, path);
        QFETCH(bool, mp3);
        QCOMPARE(RecordingFileWriter::formatForPath(path) == RecordingFileWriter::Format::Mp3, mp3);
    }

    // A failed rewrite must leave the earlier file exactly as it was.
    void failureKeepsTheExistingFile_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("emptyAudio");
        QTest::newRow("encoder refuses the format") << 7 << 44100 << false;
        QTest::newRow("no audio") << 2 << 44100 << true;
    }
    void failureKeepsTheExistingFile()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(bool, emptyAudio);
        QTemporaryDir dir;
        const QString path = dir.filePath("take.mp3");
        const QByteArray before("an earlier recording");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        QString error;
        const QByteArray pcm = emptyAudio ? QByteArray() : QByteArray(7 * 2 * 1000, '\x10');
        QVERIFY(!RecordingFileWriter::write(path, pcm, channels, rate, RecordingFileWriter::Format::Mp3, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"take.mp3"});  // no temporary left
    }

    void unwritableFolderFails()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath("file");
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QString error;
        QVERIFY(!RecordingFileWriter::write(blocker + "/Recordings/x.wav", sinePcm(44100, 0.1), 2, 44100,
                                            RecordingFileWriter::Format::Wav, &error));
        QVERIFY(!RecordingsFolder::prepare(blocker + "/Recordings"));
    }

    void namesNeverRepeat()
    {
        QTemporaryDir dir;
        const QDateTime when(QDate(2024, 5, 6), QTime(7, 8, 9));
        const QString first = RecordingsFolder::uniqueFilePath(dir.path(), "录音", when, "wav");
        QCOMPARE(QFileInfo(first).fileName(), QString("录音_2024-05-06_070809.wav"));
        QFile(first).open(QIODevice::WriteOnly);
        const QString second = RecordingsFolder::uniqueFilePath(dir.path(), "录音", when, "wav");
        QCOMPARE(QFileInfo(second).fileName(), QString("录音_2024-05-06_070809_2.wav"));
        QFile(second).open(QIODevice::WriteOnly);
        QCOMPARE(QFileInfo(RecordingsFolder::uniqueFilePath(dir.path(), "录音", when, "wav")).fileName(),
                 QString("录音_2024-05-06_070809_3.wav"));
        // Another format of the same second is a different name.
        QCOMPARE(QFileInfo(RecordingsFolder::uniqueFilePath(dir.path(), "录音", when, "mp3")).fileName(),
                 QString("录音_2024-05-06_070809.mp3"));
    }

    void folderBesideTheProgramWhenWritable()
    {
        QCOMPARE(RecordingsFolder::resolve(), QCoreApplication::applicationDirPath() + "/Recordings");
        QVERIFY(QFileInfo(RecordingsFolder::resolve()).isDir());
        QVERIFY(RecordingsFolder::inDataFolder().endsWith("/Recordings"));
        QDir().rmdir(RecordingsFolder::resolve());  // only when nothing is in it
    }
};

QTEST_MAIN(RecordingFileWriterTest)
#include "RecordingFileWriterTest.moc"
