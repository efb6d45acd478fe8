#include "PlaylistTreeFixture.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSqlError>
#include <QtTest>

// The playlist tree: names of new playlists, switching, renaming, deleting
// with the cues left without a playlist, copy and paste, play modes, show
// mode and the entries of the exports.
class PlaylistTreeTest : public QObject {
    Q_OBJECT

private:
    PlaylistTreeFixture f;

    QPushButton* addButton() const { return f.tree->findChild<QPushButton*>(); }
    void invoke(const char* slot) { QVERIFY(QMetaObject::invokeMethod(f.manager, slot)); }
    static QList<int> ids(const QSignalSpy& spy)
    {
        QList<int> list;
        for (const QList<QVariant>& args : spy)
            list.append(args.at(0).toInt());
        return list;
    }
    static QStringList messages(const QSignalSpy& spy)
    {
        QStringList list;
        for (const QList<QVariant>& args : spy)
            list.append(args.at(0).toString() + "@" + QString::number(args.at(1).toInt()));
        return list;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.initDatabase()); }
    void init() { f.reset(); }
    void cleanupTestCase() { f.reset(); }

    void newPlaylistNames_data();
    void newPlaylistNames();
    void hiddenRecordsBlockNamesButShowNoRow();
    void clickSwitchesOnlyToAnotherPlaylist();
    void renameThroughTheEditor();
    void backgroundChangesAreNoRenames();
    void deleteCurrentLeavesTheOtherCurrent();
    void deleteKeepsASurvivingCurrentPlaylist();
    void deleteWithoutSelectionDoesNothing();
    void deleteRemovesCuesNotYetLoaded();
    void failedDeleteRollsEverythingBack();
    void pasteCopiesEveryCueWithItsSettings();
    void pasteGoesToTheEndWithoutCurrentRow();
    void pasteWithoutOrWithDeletedMarkDoesNothing();
    void playModesAreStoredPerPlaylist();
    void playingPlaylistCarriesTheDot();
    void contextMenuEntriesFollowThePosition();
    void showModeRoundTrip();
    void exportsAskForASelectedPlaylist();
};

void PlaylistTreeTest::newPlaylistNames_data()
{
    QTest::addColumn<bool>("button");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("button") << true << QString() << QStringList{"新播放列表", "新播放列表 2", "新播放列表 3"};
    QTest::newRow("empty name") << false << QString() << QStringList{"新播放列表", "新播放列表 2", "新播放列表 3"};
    QTest::newRow("given name") << false << QString("录音") << QStringList{"录音", "录音 2", "录音 3"};
}

void PlaylistTreeTest::newPlaylistNames()
{
    QFETCH(bool, button);
    QFETCH(QString, given);
    QFETCH(QStringList, expected);
    const int existing = f.newPlaylist("Opening");
    QVERIFY(f.start());
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);

    for (int i = 0; i < 3; ++i) {
        if (button)
            QTest::mouseClick(addButton(), Qt::LeftButton);
        else
            QVERIFY(f.manager->addPlaylist(given) > 0);
        const int id = f.rowIds().last();
        QCOMPARE(f.rowNames().last(), expected[i]);
        QCOMPARE(f.manager->currentPlaylistId(), id);
        QCOMPARE(switched.last().at(0).toInt(), id);
        QCOMPARE(f.manager->playModeOf(id), int(CueManager::SingleLoop));
        QCOMPARE(f.selectedRows(), QList<int>{i + 1});  // the new row only
        QCOMPARE(status.last().at(0).toString(), QString("已添加: %1").arg(expected[i]));
        QCOMPARE(status.last().at(1).toInt(), 2000);
        QStringList openEditors;
        for (QLineEdit* editor : f.tree->findChildren<QLineEdit*>()) {
            if (editor->isVisible())
                openEditors.append(editor->text());
        }
        QCOMPARE(openEditors, button ? QStringList{expected[i]} : QStringList{});
    }
    QCOMPARE(f.storedNames(), QStringList{"Opening"} + expected);
    QCOMPARE(f.rowIds().first(), existing);
}

void PlaylistTreeTest::hiddenRecordsBlockNamesButShowNoRow()
{
    const int tagged = f.newPlaylist("新播放列表", 1, "tag");
    const int header = f.newPlaylist("新播放列表 2", 1, QString(), true);
    const int shown = f.newPlaylist("Shown", 3);
    QVERIFY(f.start());
    QCOMPARE(f.rowIds(), QList<int>{shown});
    QCOMPARE(f.manager->addPlaylist(QString()) > 0, true);
    QCOMPARE(f.rowNames(), (QStringList{"Shown", "新播放列表 3"}));
    QVERIFY(f.manager->hasPlaylist(tagged));
    QVERIFY(!f.manager->hasPlaylist(header));
    QCOMPARE(f.manager->playModeOf(shown), 3);
    QCOMPARE(f.manager->playModeOf(header), -1);
    QCOMPARE(f.manager->playModeOf(9999), -1);
    QVERIFY(!f.manager->hasPlaylist(9999));
}

void PlaylistTreeTest::clickSwitchesOnlyToAnotherPlaylist()
{
    const int p1 = f.newPlaylist("P1");
    const int p2 = f.newPlaylist("P2");
    QVERIFY(f.start());
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    f.clickRow(0);
    QCOMPARE(ids(switched), QList<int>{p1});
    f.clickRow(0);
    QCOMPARE(ids(switched), QList<int>{p1});
    f.clickRow(1);
    QCOMPARE(ids(switched), (QList<int>{p1, p2}));
    QCOMPARE(f.manager->currentPlaylistId(), p2);
}

void PlaylistTreeTest::renameThroughTheEditor()
{
    const int p1 = f.newPlaylist("P1");
    QVERIFY(f.start());
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    f.clickRow(0);
    invoke("onRenamePlaylist");
    auto* editor = f.tree->findChild<QLineEdit*>();
    QVERIFY(editor && editor->isVisible());
    editor->selectAll();
    editor->insert("婚礼 开场");  // typed (keyClicks knows ASCII only)
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(messages(status), QStringList{"已重命名为: 婚礼 开场@2000"});
    QCOMPARE(f.storedNames(), QStringList{"婚礼 开场"});
    QCOMPARE(f.manager->playModeOf(p1), 1);
}

void PlaylistTreeTest::backgroundChangesAreNoRenames()
{
    f.newPlaylist("P1");
    QVERIFY(f.start());
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    f.model()->item(0)->setBackground(QColor(77, 166, 255, 80));
    f.model()->item(0)->setBackground(QBrush());
    QVERIFY(status.isEmpty());
    QCOMPARE(f.storedNames(), QStringList{"P1"});
}

void PlaylistTreeTest::deleteCurrentLeavesTheOtherCurrent()
{
    const int p1 = f.newPlaylist("P1");
    const int p2 = f.newPlaylist("P2");
    Cue* a = f.addCue(p1, "a");
    Cue* b = f.addCue(p1, "b");
    Cue* c = f.addCue(p2, "c");
    const int aId = a->id();
    const int bId = b->id();
    QPointer<Cue> watchA(a);
    QVERIFY(f.start());
    f.clickRow(0);
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);

    invoke("onDeletePlaylist");
    QCOMPARE(messages(status), QStringList{"已删除 1 个播放列表@3000"});
    QCOMPARE(f.rowNames(), QStringList{"P2"});
    QCOMPARE(f.manager->currentPlaylistId(), p2);
    QCOMPARE(f.selectedRows(), QList<int>{0});
    QTRY_COMPARE(ids(switched), QList<int>{p2});  // reported once control is back

    // The deleted playlist's cues are gone from memory and storage.
    QVERIFY(watchA.isNull());
    QVERIFY(!f.cues->getCue(aId));
    QVERIFY(!f.cues->getCue(bId));
    QCOMPARE(f.cues->getCue(c->id()), c);
    QCOMPARE(f.storedCueCount(), 1);
    QCOMPARE(f.storedNames(), QStringList{"P2"});
}

void PlaylistTreeTest::deleteKeepsASurvivingCurrentPlaylist()
{
    const int p1 = f.newPlaylist("P1");
    f.newPlaylist("P2");
    const int p3 = f.newPlaylist("P3");
    QVERIFY(f.start());
    f.clickRow(2);
    // The operator picks P1 for deletion (as a right-click does) while the
    // cue table still shows P3.
    f.tree->selectionModel()->select(f.model()->index(0, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);

    invoke("onDeletePlaylist");
    QTest::qWait(20);
    QCOMPARE(f.rowNames(), (QStringList{"P2", "P3"}));
    QCOMPARE(f.manager->currentPlaylistId(), p3);
    QCOMPARE(ids(switched), QList<int>{p3});  // never the first playlist
    QCOMPARE(f.selectedRows(), QList<int>{1});  // the tree shows what the table shows
    QVERIFY(!f.manager->hasPlaylist(p1));
}

void PlaylistTreeTest::deleteWithoutSelectionDoesNothing()
{
    f.newPlaylist("P1");
    QVERIFY(f.start());
    f.tree->selectionModel()->clearSelection();
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    invoke("onDeletePlaylist");
    QVERIFY(status.isEmpty());
    QCOMPARE(f.storedNames(), QStringList{"P1"});
}

void PlaylistTreeTest::deleteRemovesCuesNotYetLoaded()
{
    const int p1 = f.newPlaylist("Imported");
    const int stored = f.addStoredCue(p1, "imported");
    QVERIFY(stored > 0);
    QVERIFY(!f.cues->getCue(stored));
    QVERIFY(f.start());
    f.clickRow(0);
    invoke("onDeletePlaylist");
    QCOMPARE(f.storedCueCount(), 0);
    QVERIFY(!f.cues->getCue(stored));
    QTRY_COMPARE(f.manager->currentPlaylistId(), -1);
}

void PlaylistTreeTest::failedDeleteRollsEverythingBack()
{
    const int p1 = f.newPlaylist("P1");
    const int p2 = f.newPlaylist("P2");
    Cue* a = f.addCue(p1, "a");
    const int aId = a->id();
    const int stored = f.addStoredCue(p2, "late");
    QVERIFY(f.start());
    f.tree->selectAll();
    QVERIFY(f.db()->execute("CREATE TRIGGER refuse_playlist_delete BEFORE DELETE ON playlist_groups "
                            "WHEN OLD.name = 'P2' BEGIN SELECT RAISE(ABORT, 'refused'); END")
                .lastError()
                .type()
            == QSqlError::NoError);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);

    invoke("onDeletePlaylist");
    QCOMPARE(messages(status), QStringList{"删除失败：删除播放列表失败@3000"});
    // P1 went first and was rolled back with P2: both whole, with their cues.
    QCOMPARE(f.storedNames(), (QStringList{"P1", "P2"}));
    QCOMPARE(f.rowNames(), (QStringList{"P1", "P2"}));
    QCOMPARE(f.cues->getPlaylistCueIds(p1), QList<int>{aId});
    QCOMPARE(f.cues->getPlaylistCueIds(p2), QList<int>{stored});
    QCOMPARE(f.storedCueCount(), 2);
    QVERIFY(f.cues->getCue(aId));  // back in memory
    QVERIFY(!f.db()->isTransactionOpen());
}

void PlaylistTreeTest::pasteCopiesEveryCueWithItsSettings()
{
    const int p1 = f.newPlaylist("Act 1", 4);
    const int p2 = f.newPlaylist("Act 2");
    Cue* first = f.addCue(p1, "first");
    first->setAlias("Entrance");
    first->setRemark("cue 12");
    first->setVolumeA(70);
    first->setVolumeB(30);
    first->setVolumeChoose(1);
    first->setPreWait(1500);
    first->setLoopCount(3);
    first->setLoopRange(1000, 9000, true);
    first->setFadeEnabled(true);
    first->setFadeDurations(500, 700);
    first->setVolumeEnvelope({0, 5000}, {1.0, 0.5});
    first->setEnvelopeEnabled(true);
    first->setColor("#5a3a3a");
    first->setPanEnvelope({0, 4000}, {-1.0, 1.0});
    first->setPanEnvelopeEnabled(true);
    first->setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.25f));
    first->setLufs(-20.0);
    QVERIFY(first->saveToDatabase(true));
    Cue* second = f.addCue(p1, "second");
    const int late = f.addStoredCue(p1, "late");
    QVERIFY(f.start());
    f.clickRow(0);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    QSignalSpy started(f.manager, &GroupedPlaylistManager::batchOperationStarted);
    QSignalSpy finished(f.manager, &GroupedPlaylistManager::batchOperationFinished);

    invoke("onCopyPlaylist");
    invoke("onPastePlaylist");
    QCOMPARE(messages(status), (QStringList{"已复制播放列表标记@1000", "已复制 1 项@1000"}));
    QCOMPARE(started.size(), 1);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(f.rowNames(), (QStringList{"Act 1", "Act 1 副本", "Act 2"}));
    const int copy = f.rowIds().at(1);
    QCOMPARE(f.rowIds().at(2), p2);
    QCOMPARE(f.manager->currentPlaylistId(), copy);
    QCOMPARE(ids(switched).last(), copy);
    QCOMPARE(f.selectedRows(), QList<int>{1});
    QCOMPARE(f.manager->playModeOf(copy), int(CueManager::SingleLoop));

    const QList<int> copied = f.cues->getPlaylistCueIds(copy);
    QCOMPARE(copied.size(), 3);
    const QList<int> sources{first->id(), second->id(), late};
    for (int i = 0; i < 3; ++i) {
        // Read back from storage: what a restart would see.
        Cue stored;
        QVERIFY(stored.loadFromDatabase(copied[i]));
        Cue original;
        QVERIFY(original.loadFromDatabase(sources[i]));
        QVERIFY(copied[i] != sources[i]);
        QCOMPARE(stored.filePath(), original.filePath());
        QCOMPARE(stored.name(), original.name());
        QCOMPARE(stored.alias(), original.alias());
        QCOMPARE(stored.remark(), original.remark());
        QCOMPARE(stored.durationMs(), original.durationMs());
        QCOMPARE(stored.volumeA(), original.volumeA());
        QCOMPARE(stored.volumeB(), original.volumeB());
        QCOMPARE(stored.volumeChoose(), original.volumeChoose());
        QCOMPARE(stored.preWaitMs(), original.preWaitMs());
        QCOMPARE(stored.loopCount(), original.loopCount());
        QCOMPARE(stored.loopStartMs(), original.loopStartMs());
        QCOMPARE(stored.loopEndMs(), original.loopEndMs());
        QCOMPARE(stored.fadeEnabled(), original.fadeEnabled());
        QCOMPARE(stored.fadeInMs(), original.fadeInMs());
        QCOMPARE(stored.fadeOutMs(), original.fadeOutMs());
        QCOMPARE(stored.envelopeEnabled(), original.envelopeEnabled());
        QCOMPARE(stored.envelopeTimes(), original.envelopeTimes());
        QCOMPARE(stored.envelopeGains(), original.envelopeGains());
        QCOMPARE(stored.panEnvelopeEnabled(), original.panEnvelopeEnabled());
        QCOMPARE(stored.panEnvelopeTimes(), original.panEnvelopeTimes());
        QCOMPARE(stored.panEnvelopePositions(), original.panEnvelopePositions());
        QCOMPARE(stored.color(), original.color());
        QVERIFY(f.cues->getCue(copied[i]));
    }
    QCOMPARE(f.cues->getCue(copied[0])->alias(), QString("Entrance"));
    QCOMPARE(f.cues->getCue(copied[0])->loopStartMs(), qint64(1000));
    QList<float> peaks;
    QVERIFY(f.db()->loadWaveformDataCompressed(copied[0], peaks, nullptr));
    QCOMPARE(peaks.size(), Cue::kWaveformTargetPoints);
    // The sources stay where they were.
    QCOMPARE(f.cues->getPlaylistCueIds(p1), sources);
}

void PlaylistTreeTest::pasteGoesToTheEndWithoutCurrentRow()
{
    f.newPlaylist("A");
    f.newPlaylist("B");
    QVERIFY(f.start());
    f.clickRow(0);
    invoke("onCopyPlaylist");
    f.tree->selectionModel()->clear();
    invoke("onPastePlaylist");
    QCOMPARE(f.rowNames(), (QStringList{"A", "B", "A 副本"}));
    invoke("onPastePlaylist");  // the mark stays across pastes
    QCOMPARE(f.rowNames(), (QStringList{"A", "B", "A 副本", "A 副本"}));
}

void PlaylistTreeTest::pasteWithoutOrWithDeletedMarkDoesNothing()
{
    f.newPlaylist("A");
    f.newPlaylist("B");
    QVERIFY(f.start());
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    f.clickRow(0);
    invoke("onPastePlaylist");
    QVERIFY(status.isEmpty());

    invoke("onCopyPlaylist");
    invoke("onDeletePlaylist");
    QTest::qWait(20);
    status.clear();
    invoke("onPastePlaylist");
    QCOMPARE(f.rowNames(), QStringList{"B"});
    QVERIFY(status.isEmpty());
}

void PlaylistTreeTest::playModesAreStoredPerPlaylist()
{
    const int p1 = f.newPlaylist("P1");
    const int p2 = f.newPlaylist("P2", 2);
    QVERIFY(f.start());
    QVERIFY(f.manager->setPlaylistPlayMode(p1, 5));
    QCOMPARE(f.manager->playModeOf(p1), 5);
    QCOMPARE(f.manager->playModeOf(p2), 2);
    QVERIFY(!f.manager->setPlaylistPlayMode(4242, 1));
    QList<PlaylistGroup> groups;
    QVERIFY(f.db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.at(0).playMode, 5);
    QCOMPARE(groups.at(1).playMode, 2);

    QComboBox* combo = f.manager->playModeCombo();
    QVERIFY(combo);
    QCOMPARE(combo->count(), 6);
    QCOMPARE(combo->itemText(0), QString("单曲循环"));
    QCOMPARE(combo->itemText(5), QString("自定义随机播放"));
}

void PlaylistTreeTest::playingPlaylistCarriesTheDot()
{
    const int p1 = f.newPlaylist("P1");
    const int p2 = f.newPlaylist("P2");
    QVERIFY(f.start());
    f.clickRow(0);
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    f.manager->setPlayingPlaylistId(p2);
    QVERIFY(f.model()->item(0)->data(Qt::DecorationRole).isNull());
    QVERIFY(!f.model()->item(1)->data(Qt::DecorationRole).value<QPixmap>().isNull());
    QCOMPARE(ids(switched), QList<int>{p1});  // the rebuild reports the current playlist again
    f.manager->setPlayingPlaylistId(p2);
    QCOMPARE(switched.size(), 1);
}

void PlaylistTreeTest::contextMenuEntriesFollowThePosition()
{
    f.newPlaylist("P1");
    QVERIFY(f.start());
    auto* menu = f.tree->findChild<QMenu*>();
    QVERIFY(menu);
    auto visible = [menu] {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (action->isVisible() && !action->isSeparator())
                texts.append(action->text());
        }
        return texts;
    };
    Q_EMIT f.tree->customContextMenuRequested(f.rowCenter(0));
    QCOMPARE(visible(), (QStringList{"添加播放列表", "复制列表", "重命名", "删除", "导出通用M3U8列表", "导出工程文件",
                                     "导出Exdel节目单"}));
    menu->close();
    f.clickRow(0);
    QMetaObject::invokeMethod(f.manager, "onCopyPlaylist");
    Q_EMIT f.tree->customContextMenuRequested(QPoint(10, 300));  // empty space
    QCOMPARE(visible(), (QStringList{"添加播放列表", "粘贴列表到此处"}));
    menu->close();
}

void PlaylistTreeTest::showModeRoundTrip()
{
    f.newPlaylist("P1");
    QVERIFY(f.start());
    f.manager->setShowMode(true);
    QCOMPARE(f.tree->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(f.tree->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(f.tree->dragDropMode(), QAbstractItemView::NoDragDrop);
    QVERIFY(addButton()->isHidden());
    Q_EMIT f.tree->customContextMenuRequested(f.rowCenter(0));
    QVERIFY(!f.tree->findChild<QMenu*>()->isVisible());

    f.manager->setShowMode(false);
    QCOMPARE(f.tree->editTriggers(), QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QCOMPARE(f.tree->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(f.tree->dragDropMode(), QAbstractItemView::DropOnly);
    QVERIFY(!f.tree->dragEnabled());
    QVERIFY(!addButton()->isHidden());
}

void PlaylistTreeTest::exportsAskForASelectedPlaylist()
{
    f.newPlaylist("P1");
    QVERIFY(f.start());
    f.tree->selectionModel()->clear();
    QCOMPARE(PlaylistTreeFixture::answerMessageBox([&] { invoke("onExportM3U8"); }),
             QString("提示/请先选择一个播放列表"));
    QCOMPARE(PlaylistTreeFixture::answerMessageBox([&] { invoke("onExportExcelProgram"); }),
             QString("提示/请先选择一个播放列表"));
    QCOMPARE(PlaylistTreeFixture::answerMessageBox([&] { invoke("onExportProject"); }),
             QString("提示/请先选择一个播放列表"));
}

QTEST_MAIN(PlaylistTreeTest)
#include "PlaylistTreeTest.moc"
