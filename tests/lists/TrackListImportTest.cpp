#include "TrackListFixture.h"
#include "lists/AudioImportFiles.h"
#include "exchange/BusyOverlay.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

// Audio files into the shown playlist: through the chooser, dropped on the
// table (appended, inserted at a row, or replacing a row's audio), folders
// walked; what is counted and kept when a file cannot be stored, and the
// play order of a playlist that is playing.
class TrackListImportTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    QList<QUrl> urls(const QStringList& paths) const;
    // A file drag entering the viewport, moving to y and dropped there.
    bool dropAt(const QStringList& paths, int y, Qt::DropAction action = Qt::CopyAction);
    int rowTop(int row) const;
    int rowHeight(int row) const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void chooserImportSkipsOtherFiles();
    void chooserFilterNamesEverySuffixImportTakes();
    void chooserWithoutPlaylistWarns();
    void chooserCancelledAddsNothing();
    void slowChoosingIsNoFailure();
    void folderWalkTakesAudioOfAnyCase();
    void failedFilesAreNotCountedAndLeaveNoRow_data();
    void failedFilesAreNotCountedAndLeaveNoRow();
    void failedCommitKeepsNothing_data();
    void failedCommitKeepsNothing();
    void dropOnARow_data();
    void dropOnARow();
    void dropInsertsAtRowZeroAndSelectsTheNewRows();
    void dropWithoutPlaylistCreatesNothing();
    void dragOfOtherFilesIsRefused();
    void showModeSwallowsDrops();
    void importWhilePlayingKeepsTheCurrentCue();
};

void TrackListImportTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void TrackListImportTest::init()
{
    f.setUp();
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 4);
    QVERIFY(!cues.contains(nullptr));
    f.trackList->loadPlaylist(playlist);
    QVERIFY(f.showTable());
}

void TrackListImportTest::cleanup()
{
    f.exec("DROP TRIGGER IF EXISTS refuse");
    f.exec("DROP TRIGGER IF EXISTS fail_commit");
    f.tearDown();
}

QList<QUrl> TrackListImportTest::urls(const QStringList& paths) const
{
    QList<QUrl> list;
    for (const QString& path : paths)
        list.append(QUrl::fromLocalFile(path));
    return list;
}

int TrackListImportTest::rowTop(int row) const
{
    return f.table->visualRect(f.cell(row, 0)).top();
}

int TrackListImportTest::rowHeight(int row) const
{
    return f.table->visualRect(f.cell(row, 0)).height();
}

bool TrackListImportTest::dropAt(const QStringList& paths, int y, Qt::DropAction action)
{
    QWidget* viewport = f.table->viewport();
    QMimeData data;
    data.setUrls(urls(paths));
    const QPoint pos(100, y);
    QDragEnterEvent enter(pos, action, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(pos, action, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(pos), action, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

void TrackListImportTest::chooserImportSkipsOtherFiles()
{
    QSettings().setValue("LastImportPath", f.transport.dir.path());
    const QString a = f.placeholder("one.mp3");
    const QString b = f.placeholder("two.MP3");
    const QString text = f.placeholder("notes.txt");
    f.ui->filesAnswers = {a, text, b};
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy imported(f.trackList.get(), &TrackListManager::cuesImported);

    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onImportFile"));
    // The opening notice shows at once; the chooser opens 100 ms later.
    QCOMPARE(f.table->findChildren<BusyOverlay*>().size(), 1);
    QVERIFY(f.ui->chooserTitles.isEmpty());
    QTRY_COMPARE(imported.size(), 1);
    QCOMPARE(f.ui->chooserTitles, QStringList{"选择音频文件"});
    QCOMPARE(f.ui->chooserFolders, QStringList{f.transport.dir.path()});
    QCOMPARE(f.ui->chooserParents.value(0), nullptr);
    QTRY_VERIFY(f.table->findChildren<BusyOverlay*>().isEmpty());

    QCOMPARE(f.shownNames(), (QStringList{"c0", "c1", "c2", "c3", "one", "two"}));
    QCOMPARE(f.texts(status), (QStringList{"跳过非音频文件: notes.txt", "成功添加 2 个文件"}));
    QCOMPARE(status.last().at(1).toInt(), 3000);
    QCOMPARE(imported.first().at(0).value<QList<Cue*>>(), f.shown());  // the whole table, not only the new
    QCOMPARE(QSettings().value("LastImportPath").toString(), QFileInfo(a).absolutePath());
    QVERIFY(!f.trackList->importProgressDialog());
}

// The chooser offers, as audio, exactly the files the import takes: an .aac
// or .wma file must not hide behind "所有文件".
void TrackListImportTest::chooserFilterNamesEverySuffixImportTakes()
{
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onImportFile"));
    QTRY_COMPARE(f.ui->chooserFilters.size(), 1);
    const QStringList groups = f.ui->chooserFilters.first().split(QStringLiteral(";;"));
    QCOMPARE(groups.size(), 2);
    QCOMPARE(groups.last(), QStringLiteral("所有文件 (*.*)"));
    const QString audio = groups.first();
    QVERIFY2(audio.startsWith(QStringLiteral("音频 (")) && audio.endsWith(QLatin1Char(')')), qPrintable(audio));
    const QStringList patterns = audio.mid(4, audio.size() - 5).split(QLatin1Char(' '));
    QStringList offered;
    for (const QString& pattern : patterns) {
        QVERIFY2(pattern.startsWith(QStringLiteral("*.")), qPrintable(pattern));
        offered << pattern.mid(2);
        QVERIFY2(AudioImportFiles::isAudioFile(QStringLiteral("x.") + pattern.mid(2)), qPrintable(pattern));
    }
    QCOMPARE(offered, (QStringList{"mp3", "wav", "flac", "ogg", "m4a", "aac", "wma"}));
    for (const QString& suffix : {"aac", "wma", "AAC"})
        QVERIFY(AudioImportFiles::isAudioFile(QStringLiteral("x.") + suffix));
}

void TrackListImportTest::chooserWithoutPlaylistWarns()
{
    f.trackList->loadPlaylist(-1);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onImportFile"));
    QCOMPARE(f.ui->messages.size(), 1);
    QCOMPARE(f.ui->messages[0].title, QString("提示"));
    QCOMPARE(f.ui->messages[0].text, QString("请先选中一个歌单！"));
    QTest::qWait(2 * TrackListManager::kChooserDelayMs);
    QVERIFY(f.ui->chooserTitles.isEmpty());
}

void TrackListImportTest::chooserCancelledAddsNothing()
{
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onImportFile"));
    QTRY_COMPARE(f.ui->chooserTitles.size(), 1);
    QTRY_VERIFY(f.table->findChildren<BusyOverlay*>().isEmpty());
    QCOMPARE(f.trackList->rowCount(), 4);
    QVERIFY(status.isEmpty());
}

void TrackListImportTest::slowChoosingIsNoFailure()
{
    // The operator takes longer than the watchdog's 3 s to choose: the
    // chooser is not closed, its files are imported, and no line claims
    // that anything timed out or was forced shut.
    const QString a = f.placeholder("slow.mp3");
    f.ui->filesAnswers = {a};
    f.ui->whileChoosingFiles = [] { QTest::qWait(TrackListManager::kChooserWatchdogMs + 300); };
    QSignalSpy imported(f.trackList.get(), &TrackListManager::cuesImported);
    LogCapture log;
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onImportFile"));
    QTRY_COMPARE_WITH_TIMEOUT(imported.size(), 1, 10000);
    f.ui->whileChoosingFiles = {};
    QVERIFY(f.shownNames().contains(QStringLiteral("slow")));
    QVERIFY2(!log.contains("强制关闭") && !log.contains("超时"), qPrintable(log.lines().join(QLatin1Char('\n'))));
    QVERIFY(log.contains("[Import] 文件选择器已打开超过 3 秒"));
}

void TrackListImportTest::folderWalkTakesAudioOfAnyCase()
{
    QDir().mkpath(f.transport.dir.filePath("drop/sub"));
    f.placeholder("drop/sub/LOUD.MP3");
    f.placeholder("drop/sub/quiet.wav");
    f.placeholder("drop/sub/readme.txt");
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    f.trackList->importUrls(urls({f.transport.dir.filePath("drop")}));
    QCOMPARE(f.trackList->rowCount(), 6);
    QStringList added = f.shownNames().mid(4);
    added.sort();
    QCOMPARE(added, (QStringList{"LOUD", "quiet"}));
    QCOMPARE(f.texts(status), QStringList{"成功添加 2 个文件"});  // the text file without a word
}

void TrackListImportTest::failedFilesAreNotCountedAndLeaveNoRow_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("the cue cannot be stored")
        << "CREATE TRIGGER refuse BEFORE INSERT ON songs WHEN NEW.file_path LIKE '%bad%' "
           "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    // The cue row is written, then its place in the playlist is refused: the
    // row must not stay behind as an orphan.
    QTest::newRow("the cue cannot join the playlist")
        << "CREATE TRIGGER refuse BEFORE INSERT ON playlist_songs "
           "WHEN NEW.song_id IN (SELECT id FROM songs WHERE file_path LIKE '%bad%') "
           "BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
}

void TrackListImportTest::failedFilesAreNotCountedAndLeaveNoRow()
{
    QFETCH(QString, trigger);
    f.exec(trigger);
    const int storedBefore = f.count("SELECT COUNT(*) FROM songs");
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy created(f.registry.get(), &CueManager::cueCreated);
    LogCapture log;
    f.trackList->importUrls(urls({f.placeholder("good1.wav"), f.placeholder("bad.wav"), f.placeholder("good2.wav")}));

    QCOMPARE(f.shownNames(), (QStringList{"c0", "c1", "c2", "c3", "good1", "good2"}));
    QCOMPARE(f.texts(status), QStringList{"成功添加 2 个文件，1 个文件导入失败"});
    QVERIFY(log.contains("[Import] Failed to add"));
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs"), storedBefore + 2);
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs WHERE file_path LIKE '%bad%'"), 0);
    QCOMPARE(f.orphans(), 0);
    QCOMPARE(created.size(), 2);
    QCOMPARE(f.registry->getPlaylistCueIds(playlist).size(), 6);
    QVERIFY(!DatabaseManager::instance()->isTransactionOpen());
}

void TrackListImportTest::failedCommitKeepsNothing_data()
{
    QTest::addColumn<QStringList>("setup");
    // A deferred foreign key that is broken makes the COMMIT itself fail.
    QTest::newRow("the commit fails")
        << QStringList{"CREATE TEMP TABLE IF NOT EXISTS commit_parent (id INTEGER PRIMARY KEY)",
                       "CREATE TEMP TABLE IF NOT EXISTS commit_child (parent INTEGER REFERENCES commit_parent(id) "
                       "DEFERRABLE INITIALLY DEFERRED)",
                       "CREATE TEMP TRIGGER fail_commit AFTER INSERT ON main.playlist_songs "
                       "BEGIN INSERT INTO commit_child VALUES (4242); END"};
    // The database ends the transaction on its own half-way (disk full).
    QTest::newRow("the transaction is lost half-way")
        << QStringList{"CREATE TRIGGER refuse BEFORE INSERT ON songs WHEN NEW.file_path LIKE '%second%' "
                       "BEGIN SELECT RAISE(ROLLBACK, 'disk full (test)'); END"};
}

void TrackListImportTest::failedCommitKeepsNothing()
{
    QFETCH(QStringList, setup);
    for (const QString& sql : setup)
        f.exec(sql);
    const int storedBefore = f.count("SELECT COUNT(*) FROM songs");
    const int registeredBefore = int(f.registry->getPlaylistCueIds(playlist).size());
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy created(f.registry.get(), &CueManager::cueCreated);
    f.trackList->importUrls(
        urls({f.placeholder("first.wav"), f.placeholder("second.wav"), f.placeholder("third.wav")}));

    QCOMPARE(f.texts(status), QStringList{"成功添加 0 个文件，3 个文件导入失败"});
    QCOMPARE(f.trackList->rowCount(), 4);
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs"), storedBefore);
    QCOMPARE(int(f.registry->getPlaylistCueIds(playlist).size()), registeredBefore);
    QVERIFY(created.isEmpty());
    QVERIFY(!DatabaseManager::instance()->isTransactionOpen());

    // Nothing is left hanging: the next import works.
    f.exec("DROP TRIGGER IF EXISTS refuse");
    f.exec("DROP TRIGGER IF EXISTS temp.fail_commit");
    f.trackList->importUrls(urls({f.placeholder("later.wav")}));
    QCOMPARE(f.shownNames().last(), QString("later"));
    QCOMPARE(f.orphans(), 0);
}

void TrackListImportTest::dropOnARow_data()
{
    QTest::addColumn<int>("files");  // dropped at once
    QTest::addColumn<QString>("where");  // "upper", "middle", "lower" of row 2, or "below"
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QString>("message");

    QTest::newRow("upper quarter inserts before the row")
        << 1 << "upper" << QStringList{"c0", "c1", "new0", "c2", "c3"} << "已在位置 2 插入 1 个文件";
    QTest::newRow("lower quarter inserts after it")
        << 1 << "lower" << QStringList{"c0", "c1", "c2", "new0", "c3"} << "已在位置 3 插入 1 个文件";
    QTest::newRow("middle half replaces its audio")
        << 1 << "middle" << QStringList{"c0", "c1", "new0", "c3"} << "已替换: new0";
    QTest::newRow("two files on the middle insert both")
        << 2 << "middle" << QStringList{"c0", "c1", "new0", "new1", "c2", "c3"} << "已在位置 2 插入 2 个文件";
    QTest::newRow("below the last row appends")
        << 1 << "below" << QStringList{"c0", "c1", "c2", "c3", "new0"} << "已在位置 4 插入 1 个文件";
}

void TrackListImportTest::dropOnARow()
{
    QFETCH(int, files);
    QFETCH(QString, where);
    QFETCH(QStringList, order);
    QFETCH(QString, message);
    QStringList paths;
    for (int i = 0; i < files; ++i)
        paths.append(f.audio(QStringLiteral("new%1.wav").arg(i)));
    const int top = rowTop(2);
    const int height = rowHeight(2);
    const int y = where == "upper" ? top + 1
        : where == "lower"         ? top + height - 2
        : where == "middle"        ? top + height / 2
                                   : rowTop(3) + rowHeight(3) + 20;
    Cue* replaced = cues[2];
    replaced->setAlias(QString());
    replaced->setRemark("keep me");
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);

    QVERIFY(dropAt(paths, y));
    QCOMPARE(f.shownNames(), order);
    QCOMPARE(f.texts(status), QStringList{message});
    if (where == "middle" && files == 1) {
        QCOMPARE(f.trackList->cueAt(2), replaced);  // the same cue, other audio
        QCOMPARE(replaced->filePath(), paths[0]);
        QCOMPARE(replaced->remark(), QString("keep me"));
    }
    // The drop state is gone after every drop.
    QVERIFY(!f.trackList->isDropReplaceMode());
    QCOMPARE(f.trackList->dropReplaceRow(), -1);
    QCOMPARE(f.trackList->insertRow(), -1);
}

void TrackListImportTest::dropInsertsAtRowZeroAndSelectsTheNewRows()
{
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    f.trackList->insertUrlsAt(urls({f.placeholder("x.wav"), f.placeholder("y.wav")}), 0);
    QCOMPARE(f.texts(status), QStringList{"已在位置 0 插入 2 个文件"});
    QCOMPARE(f.shownNames().mid(0, 3), (QStringList{"x", "y", "c0"}));
    QCOMPARE(f.table->selectionModel()->selectedRows().size(), 2);
    QVERIFY(f.table->selectionModel()->isRowSelected(0));
    QVERIFY(f.table->selectionModel()->isRowSelected(1));
    // Stored in that order too.
    const QList<int> ids = f.registry->getPlaylistCueIds(playlist);
    QCOMPARE(ids.value(2), cues[0]->id());
}

void TrackListImportTest::dropWithoutPlaylistCreatesNothing()
{
    f.trackList->loadPlaylist(-1);
    const int storedBefore = f.count("SELECT COUNT(*) FROM songs");
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    dropAt({f.placeholder("lost.wav")}, 10);
    QCOMPARE(f.texts(status), QStringList{"请先选中一个歌单！"});
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs"), storedBefore);
}

void TrackListImportTest::dragOfOtherFilesIsRefused()
{
    QVERIFY(!dropAt({f.placeholder("notes.txt")}, 10));
    QCOMPARE(f.trackList->rowCount(), 4);
    // A folder is fine even without audio in it.
    QDir().mkpath(f.transport.dir.filePath("empty"));
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(dropAt({f.transport.dir.filePath("empty")}, 10));
    QCOMPARE(f.texts(status), QStringList{"没有找到有效的音频文件"});
}

void TrackListImportTest::showModeSwallowsDrops()
{
    f.trackList->setShowMode(true);
    QWidget* viewport = f.table->viewport();
    QMimeData data;
    data.setUrls(urls({f.placeholder("show.wav")}));
    QDropEvent drop(QPointF(100, 10), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QCOMPARE(f.trackList->rowCount(), 4);
}

void TrackListImportTest::importWhilePlayingKeepsTheCurrentCue()
{
    f.registry->setPlaylist(f.shown());
    f.registry->playCue(cues[1], 0);
    QVERIFY(f.registry->isPlaying());
    f.trackList->insertUrlsAt(urls({f.placeholder("early.wav")}), 0);
    QCOMPARE(f.registry->getPlaylist(), f.shown());
    QCOMPARE(f.registry->getPlaylist().size(), 5);
    QCOMPARE(f.registry->getCurrentIndex(), 2);
    QCOMPARE(f.registry->getCurrentCue(), cues[1]);
}

QTEST_MAIN(TrackListImportTest)
#include "TrackListImportTest.moc"
