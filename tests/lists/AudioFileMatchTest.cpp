#include "lists/AudioFileMatch.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// How a lost audio file is recognised: the match rule, the search by name
// below a folder, the choice among several files of that name, and files
// that cannot be decoded.
class AudioFileMatchTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    // A silent WAV of the given length (small: mono, 8 kHz).
    QString wav(const QString& relativePath, double seconds);
    QString garbage(const QString& relativePath);

private Q_SLOTS:
    void matchRule_data();
    void matchRule();
    void infoOfAFile();
    void findFilesByNameIsExact();
    void nearestExistingDir_data();
    void nearestExistingDir();
    void searchFolder_data();
    void searchFolder();
    void oneWalkForSeveralNames();
    void decodesAudio();
};

QString AudioFileMatchTest::wav(const QString& relativePath, double seconds)
{
    const QString path = dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    TestAudio::WavSpec spec;
    spec.sampleRate = 8000;
    spec.channels = 1;
    spec.seconds = seconds;
    spec.signal = TestAudio::Signal::Silence;
    return TestAudio::writeWav(path, spec) ? path : QString();
}

QString AudioFileMatchTest::garbage(const QString& relativePath)
{
    const QString path = dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QByteArray(4096, 'x'));
    return path;
}

void AudioFileMatchTest::matchRule_data()
{
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<qint64>("expectedMs");
    QTest::addColumn<QString>("foundName");
    QTest::addColumn<qint64>("foundMs");
    QTest::addColumn<bool>("matches");

    QTest::newRow("same name and length") << "a.mp3" << qint64(60000) << "a.mp3" << qint64(60000) << true;
    QTest::newRow("100 ms apart") << "a.mp3" << qint64(60000) << "a.mp3" << qint64(60100) << true;
    QTest::newRow("101 ms apart") << "a.mp3" << qint64(60000) << "a.mp3" << qint64(60101) << false;
    QTest::newRow("shorter by 100 ms") << "a.mp3" << qint64(60000) << "a.mp3" << qint64(59900) << true;
    QTest::newRow("names differ in case") << "Song.mp3" << qint64(60000) << "song.mp3" << qint64(60000) << false;
    QTest::newRow("cue without a length takes any") << "a.mp3" << qint64(0) << "a.mp3" << qint64(123456) << true;
    QTest::newRow("file without a length: name only") << "a.mp3" << qint64(60000) << "a.mp3" << qint64(0) << true;
    QTest::newRow("no expected name: length only") << "" << qint64(60000) << "b.mp3" << qint64(60050) << true;
}

void AudioFileMatchTest::matchRule()
{
    QFETCH(QString, expectedName);
    QFETCH(qint64, expectedMs);
    QFETCH(QString, foundName);
    QFETCH(qint64, foundMs);
    QFETCH(bool, matches);
    const QVariantMap expected{{"fileName", expectedName}, {"duration", expectedMs}};
    const QVariantMap found{{"fileName", foundName}, {"duration", foundMs}};
    QCOMPARE(AudioFileMatch::matchesAudioInfo(expected, found), matches);
    QVERIFY(!AudioFileMatch::matchesAudioInfo({}, found));
    QVERIFY(!AudioFileMatch::matchesAudioInfo(expected, {}));
}

void AudioFileMatchTest::infoOfAFile()
{
    const QString path = wav("info/take one.v2.wav", 3.0);
    const QVariantMap info = AudioFileMatch::audioFileInfo(path);
    QCOMPARE(info.value("duration").toLongLong(), qint64(3000));
    QCOMPARE(info.value("fileSize").toLongLong(), QFileInfo(path).size());
    QCOMPARE(info.value("fileName").toString(), QString("take one.v2.wav"));
    QCOMPARE(info.value("baseName").toString(), QString("take one.v2"));
    QCOMPARE(AudioFileMatch::audioFileInfo(garbage("info/noise.wav")).value("duration").toLongLong(), qint64(0));
    QVERIFY(AudioFileMatch::audioFileInfo(QString()).isEmpty());
    QVERIFY(AudioFileMatch::audioFileInfo(dir.filePath("info/none.wav")).isEmpty());
}

void AudioFileMatchTest::findFilesByNameIsExact()
{
    const QString a = wav("find/one/Intro.wav", 1.0);
    const QString b = wav("find/two/deeper/Intro.wav", 1.0);
    wav("find/two/intro.wav", 1.0);  // another case: another name
    const QStringList found = AudioFileMatch::findFilesByName(dir.filePath("find"), "Intro.wav");
    QCOMPARE(found.size(), 2);
    QVERIFY(found.contains(a));
    QVERIFY(found.contains(b));
    QVERIFY(AudioFileMatch::findFilesByName(dir.filePath("find"), "INTRO.wav").isEmpty());
    QVERIFY(AudioFileMatch::findFilesByName(QString(), "Intro.wav").isEmpty());
    QVERIFY(AudioFileMatch::findFilesByName(dir.filePath("find"), QString()).isEmpty());
}

void AudioFileMatchTest::nearestExistingDir_data()
{
    QTest::addColumn<QString>("path");  // below the test folder; "-" for none
    QTest::addColumn<QString>("expected");  // below the test folder; "~" home, "/" root

    QTest::newRow("empty path: home") << "-" << "~";
    QTest::newRow("the file's folder") << "near/a/gone.wav" << "near/a";
    QTest::newRow("its parent when the folder is gone") << "near/a/missing/gone.wav" << "near/a";
    QTest::newRow("root when neither exists") << "nowhere/at/all/gone.wav" << "/";
}

void AudioFileMatchTest::nearestExistingDir()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QDir().mkpath(dir.filePath("near/a"));
    const QString input = path == "-" ? QString() : dir.filePath(path);
    const QString want = expected == "~" ? QDir::homePath() : expected == "/" ? QString("/") : dir.filePath(expected);
    QCOMPARE(AudioFileMatch::nearestExistingDir(input), want);
}

void AudioFileMatchTest::searchFolder_data()
{
    QTest::addColumn<QStringList>("files");  // "relative path:seconds", seconds -1 for a file that is no audio
    QTest::addColumn<qint64>("cueMs");
    QTest::addColumn<QString>("candidate");  // relative path, empty for none
    QTest::addColumn<bool>("accepted");

    QTest::newRow("moved into a subfolder") << QStringList{"sub/deep/song.wav:60"} << qint64(60000)
                                            << "sub/deep/song.wav" << true;
    QTest::newRow("the nearest length of two wins")
        << QStringList{"x/song.wav:61", "y/song.wav:60.05"} << qint64(60000) << "y/song.wav" << true;
    QTest::newRow("right in the folder comes first")
        << QStringList{"song.wav:30", "x/song.wav:60"} << qint64(60000) << "song.wav" << false;
    QTest::newRow("200 ms longer is another recording") << QStringList{"x/song.wav:60.2"} << qint64(60000)
                                                         << "x/song.wav" << false;
    QTest::newRow("another case is another name") << QStringList{"x/Song.wav:60"} << qint64(60000) << "" << false;
    QTest::newRow("a cue without a length takes it") << QStringList{"x/song.wav:42"} << qint64(0)
                                                     << "x/song.wav" << true;
    QTest::newRow("a file of that name that does not decode")
        << QStringList{"x/song.wav:-1"} << qint64(0) << "x/song.wav" << false;
    QTest::newRow("the one that decodes rather than the broken one")
        << QStringList{"a/song.wav:-1", "b/song.wav:60"} << qint64(0) << "b/song.wav" << true;
}

void AudioFileMatchTest::searchFolder()
{
    QFETCH(QStringList, files);
    QFETCH(qint64, cueMs);
    QFETCH(QString, candidate);
    QFETCH(bool, accepted);
    const QString folder = QStringLiteral("search/%1").arg(QTest::currentDataTag()).replace(' ', '_');
    for (const QString& file : files) {
        const QString relative = folder + '/' + file.section(':', 0, 0);
        const double seconds = file.section(':', 1).toDouble();
        QVERIFY(!(seconds < 0 ? garbage(relative) : wav(relative, seconds)).isEmpty());
    }
    const QList<AudioFileMatch::Candidate> found =
        AudioFileMatch::searchFolder(dir.filePath(folder), {{"song.wav", cueMs}});
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].path, candidate.isEmpty() ? QString() : dir.filePath(folder + '/' + candidate));
    QCOMPARE(found[0].accepted, accepted);
}

void AudioFileMatchTest::oneWalkForSeveralNames()
{
    wav("many/1/a.wav", 2.0);
    wav("many/2/b.wav", 3.0);
    const QList<AudioFileMatch::Candidate> found =
        AudioFileMatch::searchFolder(dir.filePath("many"), {{"a.wav", 2000}, {"c.wav", 1000}, {"b.wav", 3000}, {}});
    QCOMPARE(found.size(), 4);
    QVERIFY(found[0].accepted);
    QVERIFY(found[1].path.isEmpty());
    QVERIFY(found[2].accepted);
    QCOMPARE(found[2].info.value("duration").toLongLong(), qint64(3000));
    QVERIFY(found[3].path.isEmpty());
}

void AudioFileMatchTest::decodesAudio()
{
    QVERIFY(AudioFileMatch::decodesAudio(wav("decode/good.wav", 0.5)));
    QVERIFY(!AudioFileMatch::decodesAudio(garbage("decode/bad.mp3")));
    QVERIFY(!AudioFileMatch::decodesAudio(dir.filePath("decode/none.wav")));
}

QTEST_GUILESS_MAIN(AudioFileMatchTest)
#include "AudioFileMatchTest.moc"
