#include "TrackListFixture.h"
#include "settings/SettingsKeys.h"

#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

// Copy, paste and delete on the cue table, its context menu and keys, and
// the hand-over of the export and of "open containing folder".
class TrackListEditTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    void selectRows(const QList<int>& rows);
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    QAction* action(const QString& text) const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void pastePositions_data();
    void pastePositions();
    void pasteIntoAnotherPlaylist();
    void pasteSkipsCuesDeletedSinceTheCopy();
    void copyAndPasteNeedSomething();
    void pasteShowsProgressFromFifty_data();
    void pasteShowsProgressFromFifty();
    void pasteWhoseCommitFailsKeepsNothing();
    void pasteForTheTree();
    void deleteAndReselect_data();
    void deleteAndReselect();
    void deletingThePlayingCueStopsIt();
    void contextMenuEntries_data();
    void contextMenuEntries();
    void copyAndPasteKeysFollowTheSettings();
    void showModeKeys();
    void exportHandsOverTheSelection();
    void openContainingFolder();
};

void TrackListEditTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void TrackListEditTest::init()
{
    QSettings().remove("shortcuts");
    f.setUp();
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 6);
    QVERIFY(!cues.contains(nullptr));
    f.trackList->loadPlaylist(playlist);
    QVERIFY(f.showTable());
}

void TrackListEditTest::cleanup()
{
    f.exec("DROP TRIGGER IF EXISTS temp.fail_commit");
    if (QMenu* menu = f.trackList->contextMenu())
        menu->hide();
    f.tearDown();
}

void TrackListEditTest::selectRows(const QList<int>& rows)
{
    QItemSelectionModel* selection = f.table->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(f.cell(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TrackListEditTest::press(int key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(f.table.get(), Qt::Key(key), modifiers);
}

QAction* TrackListEditTest::action(const QString& text) const
{
    for (QAction* entry : f.trackList->contextMenu()->actions()) {
        if (entry->text() == text)
            return entry;
    }
    return nullptr;
}

void TrackListEditTest::pastePositions_data()
{
    QTest::addColumn<QList<int>>("selected");  // at the paste
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("nothing selected: at the end")
        << QList<int>{} << QStringList{"c0", "c1", "c2", "c3", "c4", "c5", "c0", "c3"};
    QTest::newRow("after the selected row") << QList<int>{1} << QStringList{"c0", "c1", "c0", "c3", "c2", "c3", "c4", "c5"};
    QTest::newRow("after the highest selected row")
        << QList<int>{4, 2} << QStringList{"c0", "c1", "c2", "c3", "c4", "c0", "c3", "c5"};
    QTest::newRow("after the last row") << QList<int>{5} << QStringList{"c0", "c1", "c2", "c3", "c4", "c5", "c0", "c3"};
}

void TrackListEditTest::pastePositions()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, expected);
    selectRows({3, 0});
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    QCOMPARE(f.trackList->copiedCues(), (QList<Cue*>{cues[0], cues[3]}));  // in row order
    selectRows(selected);
    QSignalSpy started(f.trackList.get(), &TrackListManager::batchOperationStarted);
    QSignalSpy finished(f.trackList.get(), &TrackListManager::batchOperationFinished);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));

    QCOMPARE(f.shownNames(), expected);
    QCOMPARE(f.texts(status), (QStringList{"已复制 2 个Cue", "已粘贴 2 个Cue"}));
    QCOMPARE(started.size(), 1);
    QCOMPARE(finished.size(), 1);
    const int at = selected.isEmpty() ? 6 : *std::max_element(selected.begin(), selected.end()) + 1;
    QCOMPARE(f.table->selectionModel()->selectedRows().size(), 2);
    QVERIFY(f.table->selectionModel()->isRowSelected(at));
    QVERIFY(f.table->selectionModel()->isRowSelected(at + 1));
    // New cues with their own rows; the registry holds them.
    Cue* copy = f.trackList->cueAt(at);
    QVERIFY(copy != cues[0] && copy->id() > 0);
    QCOMPARE(f.registry->getCue(copy->id()), copy);
    QCOMPARE(f.orphans(), 0);
}

void TrackListEditTest::pasteIntoAnotherPlaylist()
{
    cues[1]->setAlias("the second");
    cues[1]->setLoopCount(3);
    cues[1]->setWaveform(QList<float>(2000, 0.25f));
    selectRows({1, 2});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    const int other = f.newPlaylist("other");
    f.addCue(other, "o0.wav");
    f.trackList->loadPlaylist(other);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));

    QCOMPARE(f.shownNames(), (QStringList{"o0", "c1", "c2"}));
    QCOMPARE(f.texts(status), QStringList{"已粘贴 2 个Cue"});
    QVERIFY(f.table->selectionModel()->isRowSelected(1));
    QVERIFY(f.table->selectionModel()->isRowSelected(2));
    Cue* copy = f.trackList->cueAt(1);
    QCOMPARE(copy->alias(), QString("the second"));
    QCOMPARE(copy->loopCount(), 3);
    QCOMPARE(copy->waveform().size(), 2000);
    // The sources stay in their playlist.
    QCOMPARE(f.registry->getPlaylistCueIds(playlist).size(), 6);
    QVERIFY(f.registry->getPlaylistCueIds(playlist).contains(cues[1]->id()));
}

void TrackListEditTest::pasteSkipsCuesDeletedSinceTheCopy()
{
    selectRows({0, 1});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    selectRows({0});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onDeleteSelected"));  // c0 is gone, object and all
    QCOMPARE(f.registry->getCue(cues[1]->id()), cues[1]);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    selectRows({});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));
    QCOMPARE(f.texts(status), QStringList{"已粘贴 1 个Cue"});
    QCOMPARE(f.shownNames(), (QStringList{"c1", "c2", "c3", "c4", "c5", "c1"}));

    // Nothing left of the copy at all: as if nothing had been copied.
    selectRows({0, 5});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    selectRows({0, 5});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onDeleteSelected"));
    status.clear();
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));
    QCOMPARE(f.texts(status), QStringList{"剪贴板为空"});
}

void TrackListEditTest::copyAndPasteNeedSomething()
{
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));
    selectRows({2});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    f.trackList->loadPlaylist(-1);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));
    QCOMPARE(f.texts(status), (QStringList{"请先选择要复制的Cue", "剪贴板为空", "已复制 1 个Cue", "没有当前歌单"}));
}

void TrackListEditTest::pasteShowsProgressFromFifty_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("dialog");
    QTest::newRow("49 cues") << 49 << false;
    QTest::newRow("50 cues") << 50 << true;
}

void TrackListEditTest::pasteShowsProgressFromFifty()
{
    QFETCH(int, count);
    QFETCH(bool, dialog);
    QList<Cue*> sources;
    for (int i = 0; i < count; ++i)
        sources.append(cues[i % cues.size()]);
    int shown = 0;
    QSignalSpy started(f.trackList.get(), &TrackListManager::batchOperationStarted);
    // Seen while the paste runs: the dialog lets events through.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { shown = std::max(shown, f.trackList->copyProgressDialog() ? 1 : 0); });
    probe.start(0);
    const int made = f.trackList->pasteCues(sources, playlist, -1, nullptr);
    probe.stop();
    QCOMPARE(made, count);
    QCOMPARE(shown, dialog ? 1 : 0);
    QVERIFY(!f.trackList->copyProgressDialog());
    QCOMPARE(f.trackList->rowCount(), 6 + count);
    QCOMPARE(started.size(), 1);
}

void TrackListEditTest::pasteWhoseCommitFailsKeepsNothing()
{
    // A deferred foreign key that is broken makes the COMMIT fail.
    f.exec("CREATE TEMP TABLE IF NOT EXISTS commit_parent (id INTEGER PRIMARY KEY)");
    f.exec("CREATE TEMP TABLE IF NOT EXISTS commit_child (parent INTEGER REFERENCES commit_parent(id) "
           "DEFERRABLE INITIALLY DEFERRED)");
    f.exec("CREATE TEMP TRIGGER fail_commit AFTER INSERT ON main.playlist_songs "
           "BEGIN INSERT INTO commit_child VALUES (4242); END");
    const int storedBefore = f.count("SELECT COUNT(*) FROM songs");
    selectRows({0, 1, 2});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy started(f.trackList.get(), &TrackListManager::batchOperationStarted);
    QSignalSpy finished(f.trackList.get(), &TrackListManager::batchOperationFinished);
    QSignalSpy created(f.registry.get(), &CueManager::cueCreated);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));

    QCOMPARE(f.texts(status), QStringList{"已粘贴 0 个Cue"});
    QCOMPARE(f.trackList->rowCount(), 6);
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs"), storedBefore);
    QVERIFY(!DatabaseManager::instance()->isTransactionOpen());
    QVERIFY(created.isEmpty());
    QCOMPARE(started.size(), 1);
    QCOMPARE(finished.size(), 1);

    f.exec("DROP TRIGGER temp.fail_commit");
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onPasteCues"));
    QCOMPARE(f.trackList->rowCount(), 9);
}

void TrackListEditTest::pasteForTheTree()
{
    // What the main window does for cues dropped on a playlist of the tree.
    const int other = f.newPlaylist("other");
    QList<Cue*> made;
    QCOMPARE(f.trackList->pasteCues({cues[4], cues[5]}, other, -1, &made), 2);
    QCOMPARE(made.size(), 2);
    const QList<int> ids = f.registry->getPlaylistCueIds(other);
    QCOMPARE(ids, (QList<int>{made[0]->id(), made[1]->id()}));
    QCOMPARE(f.trackList->rowCount(), 6);  // the shown playlist is untouched
    QCOMPARE(f.trackList->pasteCues({}, other, -1, nullptr), 0);
    QCOMPARE(f.trackList->pasteCues({cues[0]}, -1, -1, nullptr), 0);
}

void TrackListEditTest::deleteAndReselect_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("reselected");  // -1: none, cueSelected(null)

    QTest::newRow("the last two: the new last row") << QList<int>{5, 4} << QStringList{"c0", "c1", "c2", "c3"} << 3;
    QTest::newRow("one in the middle: the row that took its place")
        << QList<int>{2} << QStringList{"c0", "c1", "c3", "c4", "c5"} << 2;
    QTest::newRow("two apart: the first's place") << QList<int>{1, 3} << QStringList{"c0", "c2", "c4", "c5"} << 1;
    QTest::newRow("all of them") << QList<int>{0, 1, 2, 3, 4, 5} << QStringList{} << -1;
}

void TrackListEditTest::deleteAndReselect()
{
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, left);
    QFETCH(int, reselected);
    const int storedBefore = f.count("SELECT COUNT(*) FROM songs");
    selectRows(rows);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy selected(f.trackList.get(), &TrackListManager::cueSelected);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onDeleteSelected"));

    QCOMPARE(f.shownNames(), left);
    QCOMPARE(f.texts(status), QStringList{QStringLiteral("已删除 %1 首歌曲").arg(rows.size())});
    QCOMPARE(f.count("SELECT COUNT(*) FROM songs"), storedBefore - int(rows.size()));
    selected.clear();
    QTRY_VERIFY(!selected.isEmpty());
    QTest::qWait(20);
    Cue* last = selected.last().at(0).value<Cue*>();
    if (reselected < 0) {
        QCOMPARE(last, nullptr);
    } else {
        QCOMPARE(last, f.trackList->cueAt(reselected));
        QCOMPARE(f.trackList->selectedRow(), reselected);
    }
}

void TrackListEditTest::deletingThePlayingCueStopsIt()
{
    f.registry->setPlaylist(f.shown());
    f.registry->playCue(cues[2], 0);
    QVERIFY(f.registry->isPlaying());
    selectRows({2});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onDeleteSelected"));
    QVERIFY(!f.registry->isPlaying());
    QCOMPARE(f.registry->getCurrentCue(), nullptr);
    QCOMPARE(f.trackList->currentCue(), nullptr);
    QTest::qWait(TrackListManager::kReselectDelayMs * 2);
    QVERIFY(!f.registry->isPlaying());  // no other cue started instead
}

void TrackListEditTest::contextMenuEntries_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QStringList>("visible");  // in menu order
    QTest::addColumn<QString>("exportText");

    QTest::newRow("nothing selected or copied") << QList<int>{} << false << false << QStringList{"导入音频文件"}
                                                << "导出音频";
    QTest::newRow("nothing selected, something copied, a file missing")
        << QList<int>{} << true << true << QStringList{"导入音频文件", "粘贴到此处", "查找丢失文件"} << "导出音频";
    QTest::newRow("one row")
        << QList<int>{2} << false << false
        << QStringList{"导入音频文件", "复制选中项", "替换所选音频", "导出音频", "打开所在文件夹", "删除选中项"}
        << "导出音频";
    QTest::newRow("two rows") << QList<int>{1, 3} << false << false
                              << QStringList{"导入音频文件", "复制选中项", "批量导出音频 (2)", "删除选中项"}
                              << "批量导出音频 (2)";
}

void TrackListEditTest::contextMenuEntries()
{
    QFETCH(QList<int>, rows);
    QFETCH(bool, copied);
    QFETCH(bool, missing);
    QFETCH(QStringList, visible);
    QFETCH(QString, exportText);
    if (copied) {
        selectRows({0});
        QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onCopySelected"));
    }
    if (missing)
        QVERIFY(QFile::remove(cues[4]->filePath()));
    selectRows(rows);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "showContextMenu", Q_ARG(QPoint, QPoint(30, 30))));
    QMenu* menu = f.trackList->contextMenu();
    QVERIFY(menu->isVisible());
    QStringList shown;
    for (QAction* entry : menu->actions()) {
        if (!entry->isSeparator() && entry->isVisible()) {
            shown.append(entry->text());
            QVERIFY(entry->isEnabled());
        }
    }
    QCOMPARE(shown, visible);
    QCOMPARE(menu->actions().size(), 11);  // eight entries, three separators
    QVERIFY(action(exportText));
    menu->hide();

    f.trackList->setShowMode(true);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "showContextMenu", Q_ARG(QPoint, QPoint(30, 30))));
    QVERIFY(!menu->isVisible());
}

void TrackListEditTest::copyAndPasteKeysFollowTheSettings()
{
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    selectRows({1});
    press(Qt::Key_C, Qt::ControlModifier);
    press(Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.texts(status), (QStringList{"已复制 1 个Cue", "已粘贴 1 个Cue"}));
    QCOMPARE(f.shownNames().value(2), QString("c1"));

    // Rebound: the old key does nothing, the new one copies, at once.
    QSettings().setValue(SettingsKeys::shortcutKey("copy"), "Ctrl+K");
    status.clear();
    selectRows({0});
    press(Qt::Key_C, Qt::ControlModifier);
    QVERIFY(status.isEmpty());
    press(Qt::Key_K, Qt::ControlModifier);
    QCOMPARE(f.texts(status), QStringList{"已复制 1 个Cue"});
    // An empty binding switches the key off.
    QSettings().setValue(SettingsKeys::shortcutKey("paste"), "");
    status.clear();
    press(Qt::Key_V, Qt::ControlModifier);
    QVERIFY(status.isEmpty());

    // Ctrl+A selects every row.
    press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(f.table->selectionModel()->selectedRows().size(), f.trackList->rowCount());
}

void TrackListEditTest::showModeKeys()
{
    f.trackList->setShowMode(true);
    selectRows({1});
    f.table->selectionModel()->setCurrentIndex(f.cell(1, 0), QItemSelectionModel::NoUpdate);
    press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(f.table->selectionModel()->selectedRows().size(), 1);
    press(Qt::Key_Delete);
    press(Qt::Key_Backspace);
    QCOMPARE(f.trackList->rowCount(), 6);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    press(Qt::Key_C, Qt::ControlModifier);
    QVERIFY(status.isEmpty());
    // Arrows still reach the table.
    press(Qt::Key_Down);
    QCOMPARE(f.table->currentIndex().row(), 2);
}

void TrackListEditTest::exportHandsOverTheSelection()
{
    QItemSelectionModel* selection = f.table->selectionModel();
    selection->select(f.cell(4, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(f.cell(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onExportSelected"));
    QCOMPARE(f.ui->exports.size(), 1);
    const QList<SelectedCuesExport::Item> items = f.ui->exports[0];
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0].cue.data(), cues[4]);  // in the order of the selection
    QCOMPARE(items[0].row, 4);
    QCOMPARE(items[1].cue.data(), cues[1]);
    QCOMPARE(items[1].row, 1);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    f.ui->exportStatus("导出完成: 2 成功, 0 失败", 3000);
    QCOMPARE(f.texts(status), QStringList{"导出完成: 2 成功, 0 失败"});
}

void TrackListEditTest::openContainingFolder()
{
    selectRows({3});
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onOpenContainingFolder"));
    QCOMPARE(f.ui->fileManager, QStringList{cues[3]->filePath()});
    QVERIFY(f.ui->messages.isEmpty());

    QVERIFY(QFile::remove(cues[3]->filePath()));
    QVERIFY(QMetaObject::invokeMethod(f.trackList.get(), "onOpenContainingFolder"));
    QCOMPARE(f.ui->fileManager.size(), 1);
    QCOMPARE(f.ui->messages.size(), 1);
    QCOMPARE(f.ui->messages[0].title, QString("错误"));
    QCOMPARE(f.ui->messages[0].text, "文件不存在：" + cues[3]->filePath());
}

QTEST_MAIN(TrackListEditTest)
#include "TrackListEditTest.moc"
