#include "ExchangeFixture.h"
#include "FakeExportUi.h"
#include "exchange/M3U8PlaylistIO.h"
#include "exchange/M3U8Text.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QtTest>

// M3U8 lists: the lines written, the paths read (BOM, CR LF, comments,
// backslashes, URLs), the export with and without audio, names unique within
// one export, and the import into a new playlist.
class M3U8Test : public QObject {
    Q_OBJECT

private:
    ExchangeFixture f;
    void write(const QString& name, const QByteArray& bytes);

private Q_SLOTS:
    void initTestCase();
    void init();
    void writer_data();
    void writer();
    void reader_data();
    void reader();
    void exportWithoutAudio();
    void exportWithAudioKeepsNamesApart();
    void exportNameStaysInsideTheFolder();
    void exportCancelledWritesWhatWasDone();
    void import_data();
    void import();
};

void M3U8Test::write(const QString& name, const QByteArray& bytes)
{
    QFile file(f.path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void M3U8Test::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void M3U8Test::init()
{
    f.reset();
}

void M3U8Test::writer_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("lines");
    QTest::newRow("alias with comma") << qint64(83456) << "Intro, Part 2" << "/m/a.mp3" << "MUSIC/a.wav"
                                      << "#EXTINF:83.46,Intro Part 2\nMUSIC/a.wav\n";
    QTest::newRow("base name") << qint64(1000) << "" << "/m/My Song.flac" << "songs/My Song.flac"
                               << "#EXTINF:1.00,My Song\nsongs/My Song.flac\n";
    QTest::newRow("line breaks and backslashes") << qint64(0) << "a\r\nb" << "/m/x.mp3" << "sub\\x.mp3"
                                                 << "#EXTINF:0.00,ab\nsub/x.mp3\n";
}

void M3U8Test::writer()
{
    QFETCH(qint64, duration);
    QFETCH(QString, alias);
    QFETCH(QString, path);
    QFETCH(QString, location);
    QFETCH(QString, lines);
    const QByteArray bytes = M3U8Text::write({{duration, M3U8Text::title(alias, path), location}});
    QCOMPARE(bytes, QByteArray("\xEF\xBB\xBF#EXTM3U\n#EXT-X-VERSION:3\n") + lines.toUtf8());
}

void M3U8Test::reader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<int>("urls");
    QTest::newRow("ours") << QByteArray("\xEF\xBB\xBF#EXTM3U\n#EXT-X-VERSION:3\n#EXTINF:1.00,a\nMUSIC/a.wav\n")
                          << true << QStringList{"/list/MUSIC/a.wav"} << 0;
    QTest::newRow("CR LF and blanks") << QByteArray("#EXTM3U\r\n\r\n  a.mp3  \r\n#comment\r\nb.mp3\r\n") << true
                                      << QStringList{"/list/a.mp3", "/list/b.mp3"} << 0;
    QTest::newRow("no header") << QByteArray("a.mp3\n") << false << QStringList{"/list/a.mp3"} << 0;
    QTest::newRow("windows separators") << QByteArray("#EXTM3U\nMUSIC\\sub\\a.mp3\n") << true
                                        << QStringList{"/list/MUSIC/sub/a.mp3"} << 0;
    QTest::newRow("absolute and up") << QByteArray("#EXTM3U\n/srv/a.mp3\n../b.mp3\n") << true
                                     << QStringList{"/srv/a.mp3", "/b.mp3"} << 0;
    QTest::newRow("urls only") << QByteArray("#EXTM3U\nhttp://radio/stream\nhttps://x/y.mp3\n") << true
                               << QStringList{} << 2;
    QTest::newRow("file url") << QByteArray("#EXTM3U\nfile:///srv/my%20song.mp3\n") << true
                              << QStringList{"/srv/my song.mp3"} << 0;
    QTest::newRow("drive letter") << QByteArray("#EXTM3U\nC:\\Music\\a.mp3\n") << true
                                  << QStringList{"C:/Music/a.mp3"} << 0;
    QTest::newRow("comments only") << QByteArray("#EXTM3U\n#EXTINF:1,a\n") << true << QStringList{} << 0;
}

void M3U8Test::reader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, header);
    QFETCH(QStringList, paths);
    QFETCH(int, urls);
    const M3U8Text::Reading reading = M3U8Text::read(bytes, "/list");
    QVERIFY(!reading.empty);
    QCOMPARE(reading.hasHeader, header);
    QCOMPARE(reading.paths, paths);
    QCOMPARE(int(reading.urls.size()), urls);
    QVERIFY(M3U8Text::read("\xEF\xBB\xBF \r\n\n", "/list").empty);
}

void M3U8Test::exportWithoutAudio()
{
    const int playlist = f.newPlaylist("Show");
    const QString folder = f.makeFolder("out");
    QDir().mkpath(folder + "/songs");
    QVERIFY(TestAudio::writeWav(folder + "/songs/track.wav", TestAudio::WavSpec{}));
    Cue* cue = f.addCue(playlist, folder + "/songs/track.wav", 83456);
    cue->setAlias("Intro, Part 2");
    f.addCue(playlist, f.path("missing.wav"), 1000);
    QSettings().setValue("export/m3u8/includeAudio", false);

    FakeExportUi ui;
    ui.folder = folder;
    LogCapture log;
    const auto summary = M3U8PlaylistIO::exportM3U8({playlist, "Show", "/last"}, ui, f.cues.get());
    QVERIFY(summary.written);
    QCOMPARE(summary.m3u8Path, folder + "/Show.m3u8");
    QVERIFY(log.contains("[Export M3U8] File not found:"));
    QFile file(summary.m3u8Path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("\xEF\xBB\xBF#EXTM3U\n#EXT-X-VERSION:3\n#EXTINF:83.46,Intro Part 2\nsongs/track.wav\n"));
    QCOMPARE(ui.progressLabel, QString("正在生成M3U8文件..."));
    // The missing file is a failure: a warning with its reason.
    QCOMPARE(ui.results.value(0).text,
             QString("导出完成！\n\nM3U8文件: %1\n\n失败原因：音频文件不存在（1 个）").arg(summary.m3u8Path));
    QCOMPARE(ui.results.value(0).icon, ExportUi::Icon::Warning);
    QCOMPARE(QSettings().value("export/lastDir").toString(), folder);
}

void M3U8Test::exportWithAudioKeepsNamesApart()
{
    // Two cues whose files share a base name: each entry plays its own clip.
    QDir().mkpath(f.path("a"));
    QDir().mkpath(f.path("b"));
    TestAudio::WavSpec spec;
    spec.seconds = 4;
    QVERIFY(TestAudio::writeWav(f.path("a/song.wav"), spec));
    spec.frequency = 880;
    QVERIFY(TestAudio::writeWav(f.path("b/song.wav"), spec));
    const int playlist = f.newPlaylist("Two songs");
    Cue* first = f.addCue(playlist, f.path("a/song.wav"), 4000);
    first->setLoopRange(0, 2500, true);
    Cue* second = f.addCue(playlist, f.path("b/song.wav"), 4000);
    second->setLoopRange(1000, 4000, true);
    const QString folder = f.makeFolder("out");
    // A file left by a former export is replaced, not kept beside.
    QDir().mkpath(folder + "/Two songs/MUSIC");
    QFile old(folder + "/Two songs/MUSIC/song.wav");
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    FakeExportUi ui;
    ui.folder = folder;
    const auto summary = M3U8PlaylistIO::exportM3U8({playlist, "Two songs", ""}, ui, f.cues.get());
    QVERIFY(summary.written);
    QCOMPARE(summary.succeeded, 2);
    QCOMPARE(summary.m3u8Path, folder + "/Two songs/Two songs.m3u8");
    QFile file(summary.m3u8Path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF#EXTM3U\n#EXT-X-VERSION:3\n#EXTINF:4.00,song\nMUSIC/song.wav\n"
                                        "#EXTINF:4.00,song\nMUSIC/song_1.wav\n"));
    QCOMPARE(QFileInfo(folder + "/Two songs/MUSIC/song.wav").size(), 44 + 110250 * 8);
    QCOMPARE(QFileInfo(folder + "/Two songs/MUSIC/song_1.wav").size(), 44 + 132300 * 8);
    QCOMPARE(ui.progressLabel, QString("正在导出 2 个音频..."));
    QCOMPARE(ui.results.value(0).text,
             QString("导出完成！\n音频文件: 成功 2 / 失败 0\n\nM3U8文件: %1").arg(summary.m3u8Path));
}

void M3U8Test::exportNameStaysInsideTheFolder()
{
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    const int playlist = f.newPlaylist("../../x");
    f.addCue(playlist, f.path("x.wav"), 1000);
    const QString folder = f.makeFolder("deep/out");
    FakeExportUi ui;
    ui.folder = folder;
    const auto summary = M3U8PlaylistIO::exportM3U8({playlist, "../../x", ""}, ui, f.cues.get());
    QVERIFY(summary.written);
    QCOMPARE(summary.m3u8Path, folder + "/....x/....x.m3u8");
    QVERIFY(QFile::exists(folder + "/....x/MUSIC/x.wav"));
}

void M3U8Test::exportCancelledWritesWhatWasDone()
{
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    const int playlist = f.newPlaylist("p");
    for (int i = 0; i < 5; ++i)
        f.addCue(playlist, f.path("x.wav"), 1000);
    QSettings().setValue("export/m3u8/includeAudio", false);
    FakeExportUi ui;
    ui.folder = f.makeFolder("out");
    ui.cancelAtValue = 100;  // seen before the third cue
    const auto summary = M3U8PlaylistIO::exportM3U8({playlist, "p", ""}, ui, f.cues.get());
    QVERIFY(summary.written);
    QFile file(summary.m3u8Path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("#EXTINF"), 2);
}

void M3U8Test::import_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("cues");
    QTest::newRow("ours") << QByteArray("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1.00,x\r\nx.wav\r\n")
                          << QStringList{} << 1;
    // One notice lists every line that was skipped.
    QTest::newRow("missing files and a URL")
        << QByteArray("#EXTM3U\nx.wav\nmissing.wav\nhttp://a/b.mp3\ngone.mp3\n")
        << QStringList{"导入提示/导入的文件中有些内容超出了允许的范围或无法使用，已做如下处理：\n"
                       "• 文件不存在，已跳过（2 处）\n• 不是本地文件（网址），已跳过（1 处）"}
        << 1;
    QTest::newRow("no header") << QByteArray("x.wav\nx.wav\n")
                               << QStringList{"警告/文件格式不是标准的 M3U8 播放列表，可能无法正常导入"} << 2;
    QTest::newRow("empty") << QByteArray("\n\n") << QStringList{"错误/M3U8 文件为空"} << -1;
    QTest::newRow("urls only") << QByteArray("#EXTM3U\nhttp://a/b.mp3\n")
                               << QStringList{"提示/M3U8 文件中没有找到有效的音频文件"} << -1;
    QTest::newRow("missing files only") << QByteArray("#EXTM3U\nnone.mp3\n")
                                        << QStringList{"提示/M3U8 文件中没有找到有效的音频文件"} << -1;
}

void M3U8Test::import()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, messages);
    QFETCH(int, cues);
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    QSettings().setValue("template/volumeA", 77);
    write("My List.m3u8", bytes);
    FakeExportUi ui;
    const PlaylistImportResult result = M3U8PlaylistIO::importM3U8(f.path("My List.m3u8"), ui, f.cues.get());
    QCOMPARE(ui.messageTexts(), messages);
    QCOMPARE(result.succeeded(), cues >= 0);
    QList<PlaylistGroup> groups;
    f.db()->loadAllPlaylistGroups(groups);
    QCOMPARE(groups.size(), cues >= 0 ? 1 : 0);
    if (cues < 0)
        return;
    QCOMPARE(groups[0].name, QString("My List"));
    QCOMPARE(groups[0].playMode, 0);
    QCOMPARE(result.statusText, QString("成功导入 M3U8 播放列表: My List (%1个音频文件)").arg(cues));
    QList<int> ids;
    QVERIFY(f.db()->getPlaylistSongIds(result.playlistId, ids));
    QCOMPARE(int(ids.size()), cues);
    Cue* cue = f.cues->getCue(ids[0]);
    QVERIFY(cue);
    QCOMPARE(cue->name(), QString("x"));
    QCOMPARE(cue->volumeA(), 77);  // the new-cue template
}

QTEST_MAIN(M3U8Test)
#include "M3U8Test.moc"
