#include "exchange/ExportNames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Names of exported files and folders: the naming switches, cleaning, and
// names that could reach outside the chosen folder.
class ExportNamesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cueFileName_data();
    void cueFileName();
    void playlistFileName_data();
    void playlistFileName();
    void uniqueNames();
    void insideTheFolder_data();
    void insideTheFolder();
};

void ExportNamesTest::cueFileName_data()
{
    QTest::addColumn<bool>("seq");
    QTest::addColumn<bool>("alias");
    QTest::addColumn<bool>("file");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("aliasText");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("sequence and alias") << true << true << false << 4 << "Intro" << "/m/song.mp3" << "04.Intro";
    QTest::newRow("sequence, no alias") << true << true << false << 4 << "" << "/m/song.mp3" << "04.song";
    QTest::newRow("alias and file") << false << true << true << 1 << "Intro" << "/m/song.mp3" << "Intro-song";
    QTest::newRow("cleaned-away alias still counts") << true << true << true << 1 << "<>?" << "/m/song.mp3"
                                                     << "01.-song";
    QTest::newRow("no alias, alias and file on") << true << true << true << 1 << "" << "/m/song.mp3" << "01.song";
    QTest::newRow("file name only") << false << false << true << 7 << "Intro" << "/m/a.b.wav" << "a.b";
    QTest::newRow("nothing on") << false << false << false << 7 << "Intro" << "/m/song.wav" << "song";
    QTest::newRow("three digits") << true << false << false << 100 << "" << "/m/song.wav" << "100";
    QTest::newRow("empty becomes cue id") << false << true << false << 1 << "***" << "/m/x.wav" << "cue_42";
    QTest::newRow("separators removed") << false << true << false << 1 << "../../etc/passwd" << "/m/x.wav"
                                        << "....etcpasswd";
    QTest::newRow("dot-dot alias is no name") << false << true << false << 1 << ".." << "/m/x.wav" << "cue_42";
}

void ExportNamesTest::cueFileName()
{
    QFETCH(bool, seq);
    QFETCH(bool, alias);
    QFETCH(bool, file);
    QFETCH(int, number);
    QFETCH(QString, aliasText);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const ExportNames::CueNaming naming{seq, alias, file};
    QCOMPARE(ExportNames::cueFileName(naming, number, aliasText, path, 42), expected);
}

void ExportNamesTest::playlistFileName_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Gala" << "Gala";
    QTest::newRow("removed characters") << "a/b:c" << "abc";
    QTest::newRow("only removed characters") << "<>|" << "playlist";
    QTest::newRow("empty") << "" << "未命名";
    QTest::newRow("traversal") << "../../x" << "....x";
    QTest::newRow("dot") << "." << "playlist";
    QTest::newRow("dot dot") << ".." << "playlist";
    QTest::newRow("control characters") << QString("a\nb\tc") << "abc";
}

void ExportNamesTest::playlistFileName()
{
    QFETCH(QString, display);
    QFETCH(QString, expected);
    QCOMPARE(ExportNames::playlistFileName(display), expected);
}

void ExportNamesTest::uniqueNames()
{
    QTemporaryDir dir;
    QSet<QString> taken;
    QCOMPARE(ExportNames::uniqueFileName(dir.path(), "song", ".wav", taken, true), QString("song.wav"));
    QFile(dir.filePath("song.wav")).open(QIODevice::WriteOnly);
    QCOMPARE(ExportNames::uniqueFileName(dir.path(), "song", ".wav", taken, true), QString("song_1.wav"));
    // Replacing a former export is allowed, a name of this export is not.
    QCOMPARE(ExportNames::uniqueFileName(dir.path(), "song", ".wav", taken, false), QString("song.wav"));
    taken.insert("song.wav");
    taken.insert("song_1.wav");
    QCOMPARE(ExportNames::uniqueFileName(dir.path(), "Song", ".wav", taken, false), QString("Song_2.wav"));
}

void ExportNamesTest::insideTheFolder_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("inside");
    QTest::newRow("file") << "a.wav" << true;
    QTest::newRow("sub folder") << "MUSIC/a.wav" << true;
    QTest::newRow("up and out") << "../a.wav" << false;
    QTest::newRow("up and back") << "x/../a.wav" << true;
    QTest::newRow("the folder itself") << "." << false;
}

void ExportNamesTest::insideTheFolder()
{
    QFETCH(QString, relative);
    QFETCH(bool, inside);
    QCOMPARE(ExportNames::isInside("/srv/out", "/srv/out/" + relative), inside);
}

QTEST_GUILESS_MAIN(ExportNamesTest)
#include "ExportNamesTest.moc"
