#include "TrackListFixture.h"
#include "support/LogCapture.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

// Cues pointed at their audio again: the search for missing files in a
// folder, the dialog for one missing cue, and the plain replacement of a
// cue's audio (menu and drop), with files that cannot be decoded and while
// a cue plays.
class MissingFilesTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    // A cue whose file is gone: stored path below "gone/", given length.
    Cue* missingCue(const QString& fileName, qint64 durationMs, const QString& alias = QString());
    QString garbage(const QString& relativePath);
    QString folder(const QString& relativePath) const { return f.transport.dir.filePath(relativePath); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void replaceThroughTheMenu();
    void replacementWithTheSameFileKeepsThePeaks();
    void undecodableFileIsNoReplacement();
    void replacementWhilePlayingStopsPlayback();
    void folderSearchFindsMovedFiles();
    void folderSearchListsTenAndMore();
    void folderSearchWithNothingMissing();
    void singleCueDialog_data();
    void singleCueDialog();
    void singleCueDialogSearchesOn();
};

void MissingFilesTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void MissingFilesTest::init()
{
    QSettings().remove("LastReplaceFilePath");
    QSettings().setValue("LastImportPath", f.transport.dir.path());
    f.setUp();
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 3);
    QVERIFY(!cues.contains(nullptr));
    f.trackList->loadPlaylist(playlist);
}

void MissingFilesTest::cleanup()
{
    f.tearDown();
}

Cue* MissingFilesTest::missingCue(const QString& fileName, qint64 durationMs, const QString& alias)
{
    Cue* cue = f.addCue(playlist, fileName, durationMs);
    const QString gone = folder("gone/" + fileName);
    QFile::remove(cue->filePath());
    cue->setFilePath(gone);
    cue->setAlias(alias);
    if (durationMs >= 4000)
        cue->setLoopRange(1000, durationMs - 1000, false);
    cue->saveToDatabase(false);
    f.trackList->refreshTable();
    return cue;
}

QString MissingFilesTest::garbage(const QString& relativePath)
{
    const QString path = folder(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QByteArray(8192, 'x'));
    return path;
}

void MissingFilesTest::replaceThroughTheMenu()
{
    Cue* cue = cues[1];
    cue->setAlias("Entrance");
    cue->setRemark("cue the doors");
    cue->setWaveform(QList<float>(2000, 0.5f));
    QVERIFY(cue->saveToDatabase(false));
    QVERIFY(DatabaseManager::instance()->hasWaveformData(cue->id()));
    const QString other = f.audio("new/fanfare.wav", 2.0);
    f.ui->fileAnswers = {other};
    f.holdParses->store(true);
    f.trackList->selectRow(1);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onReplaceAudio"));

    QCOMPARE(f.ui->chooserTitles, QStringList{"选择替换音频文件"});
    QCOMPARE(f.ui->chooserFolders, QStringList{f.transport.dir.path()});  // LastImportPath until one is chosen
    QCOMPARE(f.ui->chooserParents.value(0), f.table.get());
    QCOMPARE(f.texts(status).last(), QString("已替换 1 个Cue的音频文件"));
    QCOMPARE(cue->filePath(), other);
    QCOMPARE(cue->name(), QString("fanfare"));
    QCOMPARE(cue->alias(), QString("Entrance"));
    QCOMPARE(cue->remark(), QString("cue the doors"));
    QVERIFY(cue->waveform().isEmpty());
    QVERIFY(!DatabaseManager::instance()->hasWaveformData(cue->id()));  // the old file's peaks are gone
    QCOMPARE(f.trackList->waveformParseQueue()->isPending(cue), true);
    QCOMPARE(QSettings().value("LastReplaceFilePath").toString(), folder("new"));
    // Stored as well.
    Cue stored;
    QVERIFY(stored.loadFromDatabase(cue->id()));
    QCOMPARE(stored.filePath(), other);
    QCOMPARE(stored.alias(), QString("Entrance"));

    // Without a selection.
    f.table->clearSelection();
    status.clear();
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onReplaceAudio"));
    QCOMPARE(f.texts(status), QStringList{"请先选择要替换的Cue"});
}

void MissingFilesTest::replacementWithTheSameFileKeepsThePeaks()
{
    const QString file = f.audio("same/c0.wav", 2.0);
    Cue* cue = cues[0];
    cue->setDuration(2000);
    cue->setWaveform(QList<float>(2000, 0.5f));
    cue->saveToDatabase(false);
    QVERIFY(f.trackList->replaceCueFile(cue, file));
    QCOMPARE(cue->filePath(), file);
    QCOMPARE(cue->waveform().size(), 2000);
    QVERIFY(DatabaseManager::instance()->hasWaveformData(cue->id()));
    QVERIFY(!f.trackList->replaceCueFile(nullptr, file));
    QVERIFY(!f.trackList->replaceCueFile(cue, QString()));
    QVERIFY(!f.trackList->replaceCueFile(cue, folder("same/none.wav")));
    QVERIFY(!f.trackList->replaceCueFile(cue, folder("same")));  // a folder is no audio file
}

void MissingFilesTest::undecodableFileIsNoReplacement()
{
    const QString broken = garbage("broken/noise.mp3");
    Cue* cue = cues[0];
    const QString before = cue->filePath();
    LogCapture log;
    QVERIFY(!f.trackList->replaceCueFile(cue, broken));
    QCOMPARE(cue->filePath(), before);
    QVERIFY(log.contains("[ReplaceFile] Not decodable"));

    // Through the menu: a failure, not a success.
    f.ui->fileAnswers = {broken};
    f.trackList->selectRow(0);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onReplaceAudio"));
    QCOMPARE(f.texts(status), QStringList{"替换失败"});
    QCOMPARE(cue->filePath(), before);

    // Through the dialog for a missing cue.
    Cue* lost = missingCue("lost.wav", 5000);
    const QString stored = lost->filePath();
    f.ui->fileOrFolderAnswers = {broken};
    f.trackList->replaceCueAudio(lost);
    QCOMPARE(f.ui->messages.size(), 1);
    QCOMPARE(f.ui->messages[0].title, QString("错误"));
    QVERIFY(f.ui->messages[0].text.contains(broken));
    QCOMPARE(lost->filePath(), stored);
    QCOMPARE(lost->durationMs(), qint64(5000));
}

void MissingFilesTest::replacementWhilePlayingStopsPlayback()
{
    f.registry->setPlaylist(f.shown());
    f.registry->playCue(cues[2], 0);
    QVERIFY(f.registry->isPlaying());
    const int playsBefore = f.transport.fake->playCalls;
    // Another cue than the playing one: the engine lets go of every file.
    QVERIFY(f.trackList->replaceCueFile(cues[0], f.audio("live/other.wav", 1.0)));
    QVERIFY(!f.registry->isPlaying());
    QCOMPARE(f.transport.transport->getState(), AudioEngine::Stopped);
    // The transport's end report starts no other cue.
    f.transport.run(100);
    QTest::qWait(50);
    QVERIFY(!f.registry->isPlaying());
    QCOMPARE(f.transport.fake->playCalls, playsBefore);

    // The folder search leaves the engine alone.
    Cue* lost = missingCue("found.wav", 1000);
    f.audio("search/found.wav", 1.0);
    f.registry->setPlaylist(f.shown());
    f.registry->playCue(cues[2], 0);
    QVERIFY(f.registry->isPlaying());
    f.ui->folderAnswers = {folder("search")};
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onFindMissingFilesWithList", Q_ARG(QList<Cue*>, {lost})));
    QCOMPARE(lost->filePath(), folder("search/found.wav"));
    QVERIFY(f.registry->isPlaying());
}

void MissingFilesTest::folderSearchFindsMovedFiles()
{
    Cue* moved = missingCue("moved.wav", 5000, "Overture");
    Cue* twice = missingCue("twice.wav", 6000);
    Cue* longer = missingCue("longer.wav", 4000);
    f.audio("library/a/b/moved.wav", 5.0);
    f.audio("library/x/twice.wav", 6.1);
    f.audio("library/y/twice.wav", 6.05);
    f.audio("library/longer.wav", 4.2);
    f.audio("second/longer.wav", 4.0);
    f.ui->folderAnswers = {folder("library"), folder("second")};
    f.ui->searchOnAnswers = {true};

    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onFindMissingFiles"));

    QCOMPARE(f.ui->chooserTitles, (QStringList{"选择文件夹", "选择文件夹"}));
    QCOMPARE(f.ui->chooserFolders.value(0), QDir::homePath());
    QCOMPARE(f.ui->chooserFolders.value(1), folder("library"));  // where the last search looked
    QCOMPARE(f.ui->questions.size(), 1);
    QCOMPARE(f.ui->questions[0].title, QString("查找结果"));
    QCOMPARE(f.ui->questions[0].text, QString("已成功替换 2 个文件:\n"
                                               "  ✓ Overture - moved.wav\n"
                                               "  ✓ twice.wav\n"
                                               "\n"
                                               "还有 1 个文件未找到:\n"
                                               "  longer.wav\n"
                                               "\n是否继续查找剩余文件?"));
    QCOMPARE(moved->filePath(), folder("library/a/b/moved.wav"));
    QCOMPARE(twice->filePath(), folder("library/y/twice.wav"));
    QCOMPARE(longer->filePath(), folder("second/longer.wav"));  // found on the second round
    // Only the path changed.
    QCOMPARE(moved->alias(), QString("Overture"));
    QCOMPARE(moved->name(), QString("moved"));
    QCOMPARE(moved->loopStartMs(), qint64(1000));
    QCOMPARE(moved->loopEndMs(), qint64(4000));
    QCOMPARE(moved->durationMs(), qint64(5000));
    Cue stored;
    QVERIFY(stored.loadFromDatabase(twice->id()));
    QCOMPARE(stored.filePath(), folder("library/y/twice.wav"));
}

void MissingFilesTest::folderSearchListsTenAndMore()
{
    QList<Cue*> lost;
    for (int i = 0; i < 12; ++i)
        lost.append(missingCue(QStringLiteral("m%1.wav").arg(i, 2, 10, QLatin1Char('0')), 1000));
    QDir().mkpath(folder("empty"));
    f.ui->folderAnswers = {folder("empty")};
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onFindMissingFiles"));
    QCOMPARE(f.ui->questions.size(), 1);
    QString expected = "还有 12 个文件未找到:\n";
    for (int i = 0; i < 10; ++i)
        expected += QStringLiteral("  m%1.wav\n").arg(i, 2, 10, QLatin1Char('0'));
    expected += "  ...\n\n是否继续查找剩余文件?";
    QCOMPARE(f.ui->questions[0].text, expected);
    // Cancelling a later chooser ends the search too.
    QCOMPARE(f.ui->chooserTitles.size(), 1);
}

void MissingFilesTest::folderSearchWithNothingMissing()
{
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onFindMissingFiles"));
    QCOMPARE(f.ui->messages.size(), 1);
    QCOMPARE(f.ui->messages[0].title, QString("提示"));
    QCOMPARE(f.ui->messages[0].text, QString("当前播放列表没有丢失文件"));
    QVERIFY(f.ui->chooserTitles.isEmpty());
}

void MissingFilesTest::singleCueDialog_data()
{
    QTest::addColumn<QString>("setUpFile");  // "relative path:seconds" written before, empty for none
    QTest::addColumn<QString>("answer");  // relative path chosen in the dialog
    QTest::addColumn<QString>("title");  // of the box shown at the end
    QTest::addColumn<QString>("text");  // "%1": the candidate's full path
    QTest::addColumn<QString>("newPath");  // relative, empty: unchanged
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");

    QTest::newRow("folder with the file") << "dlg1/solo.wav:5" << "dlg1" << "文件替换成功"
                                          << "已成功替换音频文件:\n%1\n\n文件信息: 保留原有参数" << "dlg1/solo.wav"
                                          << qint64(5000) << qint64(1000);
    QTest::newRow("folder with the file in a subfolder")
        << "dlg2/sub/solo.wav:5" << "dlg2" << "文件替换成功" << "已成功替换音频文件:\n%1\n\n文件信息: 保留原有参数"
        << "dlg2/sub/solo.wav" << qint64(5000) << qint64(1000);
    QTest::newRow("folder with a file of another length")
        << "dlg3/solo.wav:5.2" << "dlg3" << "错误" << "系统内部错误：找到的文件与预期不匹配。\n请重新尝试或联系开发者。"
        << "" << qint64(5000) << qint64(1000);
    QTest::newRow("the same file chosen") << "dlg4/solo.wav:5" << "dlg4/solo.wav" << "文件验证成功"
                                          << "已验证音频文件:\n%1\n\n文件名和时长一致，所有参数保持不变"
                                          << "dlg4/solo.wav" << qint64(5000) << qint64(1000);
    QTest::newRow("another file chosen")
        << "dlg5/intro.wav:3" << "dlg5/intro.wav" << "文件替换成功"
        << "已将 \"Solo - solo.wav\" 替换为 \"intro.wav\"\n\n已保留别名和备注，其他参数已重置" << "dlg5/intro.wav"
        << qint64(3000) << qint64(0);
    QTest::newRow("a path that is neither") << "" << "dlg6/nothing" << "错误" << "选择的路径无效" << ""
                                            << qint64(5000) << qint64(1000);
}

void MissingFilesTest::singleCueDialog()
{
    QFETCH(QString, setUpFile);
    QFETCH(QString, answer);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, newPath);
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    Cue* cue = missingCue("solo.wav", 5000, "Solo");
    cue->setRemark("spot on the stage");
    cue->setWaveform(QList<float>(2000, 0.5f));
    const QString stored = cue->filePath();
    if (!setUpFile.isEmpty())
        QVERIFY(!f.audio(setUpFile.section(':', 0, 0), setUpFile.section(':', 1).toDouble()).isEmpty());
    f.ui->fileOrFolderAnswers = {folder(answer)};

    f.trackList->replaceCueAudio(cue);

    QCOMPARE(f.ui->chooserTitles, QStringList{"选择音频文件或文件夹"});
    QCOMPARE(f.ui->chooserFolders.value(0), folder("gone").section('/', 0, -2));  // nearest existing folder
    QCOMPARE(f.ui->messages.size(), 1);
    QCOMPARE(f.ui->messages[0].title, title);
    const QString candidate = newPath.isEmpty() ? QString() : folder(newPath);
    QCOMPARE(f.ui->messages[0].text, text.contains("%1") ? text.arg(candidate) : text);
    QCOMPARE(cue->filePath(), newPath.isEmpty() ? stored : candidate);
    QCOMPARE(cue->durationMs(), duration);
    QCOMPARE(cue->loopStartMs(), loopStart);
    QCOMPARE(cue->alias(), QString("Solo"));
    QCOMPARE(cue->remark(), QString("spot on the stage"));
    QCOMPARE(cue->waveform().size(), 2000);  // the dialog keeps the peaks
}

void MissingFilesTest::singleCueDialogSearchesOn()
{
    Cue* cue = missingCue("late.wav", 2000, "Late");
    QDir().mkpath(folder("first"));
    f.audio("later/late.wav", 2.0);
    f.ui->fileOrFolderAnswers = {folder("first"), folder("later")};
    f.ui->searchOnAnswers = {true};
    f.registry->setPlaylist(f.shown());
    f.registry->playCue(cues[0], 0);

    f.trackList->replaceCueAudio(cue);

    QCOMPARE(f.ui->questions.size(), 1);
    QCOMPARE(f.ui->questions[0].title, QString("未找到文件"));
    QCOMPARE(f.ui->questions[0].text, QString("当前文件夹没有找到 \"Late - late.wav\".\n\n是否继续查找?"));
    QCOMPARE(f.ui->chooserFolders.value(1), folder("first"));
    QCOMPARE(cue->filePath(), folder("later/late.wav"));
    QVERIFY(!f.registry->isPlaying());  // a replacement lets the engine go
}

QTEST_MAIN(MissingFilesTest)
#include "MissingFilesTest.moc"
