#include "MainWindowFixture.h"

#include "lists/CartButtonItem.h"
#include "lists/CartWidget.h"
#include "lists/TrackListManager.h"
#include "settings/SettingsWriter.h"

#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

// What the window brings back at the next start (two window lifetimes over
// one settings store and one database), and the cart grid in place of the
// table: switching, the selection carried between the two views, playing
// from a button in edit and in show mode.
class MainWindowRestoreAndCartTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    void play() { QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton); }
    void restart();
    QPushButton* cartButton() const;
    QPushButton* recordButton() const;
    CartWidget* cart() const { return f.window->findChild<CartWidget*>(); }
    CartButtonItem* tile(Cue* cue) const { return cart() ? cart()->tileOf(cue) : nullptr; }
    void clickTile(Cue* cue, Qt::KeyboardModifiers modifiers = {});
    QList<int> selectedRows() const;
    Cue* first(int row) const { return f.cue(f.firstPlaylist, row); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void restartComesBackToTheLastPlaylistCueAndPosition();
    void firstStartShowsTheFirstPlaylist();
    void aDeletedLastCueSelectsNothing();
    void theLastSelectedPlaylistWinsOverTheLastPlayedOne();
    void aStartThatRestoresEverythingLeavesTheSettingsFileAlone();

    void cartSwitchReplacesTheTable();
    void cartSelectionCarriesOverToTheTable();
    void cartModeIsKeptAcrossStarts();
    void cartPlayButtonInEditMode();
    void cartInShowMode();
};

void MainWindowRestoreAndCartTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowRestoreAndCartTest::init()
{
    f.resetSettings();
}

void MainWindowRestoreAndCartTest::cleanup()
{
    if (f.window)
        f.close();
}

void MainWindowRestoreAndCartTest::restart()
{
    // The operator closes the window (which stores the last state), the
    // program ends, and starts again.
    f.window->close();
    f.close();
    f.open();
}

QPushButton* MainWindowRestoreAndCartTest::cartButton() const
{
    for (QPushButton* button : f.widget("topWidget")->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("卡片") || button->text() == QStringLiteral("列表"))
            return button;
    }
    return nullptr;
}

QPushButton* MainWindowRestoreAndCartTest::recordButton() const
{
    for (QPushButton* button : f.window->findChildren<QPushButton*>()) {
        if (button->toolTip() == QStringLiteral("录音"))
            return button;
    }
    return nullptr;
}

void MainWindowRestoreAndCartTest::clickTile(Cue* cue, Qt::KeyboardModifiers modifiers)
{
    CartButtonItem* item = tile(cue);
    QVERIFY(item);
    QTest::mouseClick(item, Qt::LeftButton, modifiers, QPoint(item->width() / 2, item->height() - 4));
}

QList<int> MainWindowRestoreAndCartTest::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : f.table()->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void MainWindowRestoreAndCartTest::restartComesBackToTheLastPlaylistCueAndPosition()
{
    Cue* e = f.cue(f.secondPlaylist, 1);
    f.open();
    f.showPlaylist(f.secondPlaylist);
    f.clickRow(1);
    play();
    QCOMPARE(f.playingCue(), e);
    f.cues()->seek(2500);
    QTest::qWait(100);

    restart();
    QSettings settings;
    QCOMPARE(settings.value(SettingsKeys::kLastPlaylistId).toInt(), f.secondPlaylist);
    QCOMPARE(settings.value(SettingsKeys::kLastCueId).toInt(), e->id());
    const qint64 position = settings.value(SettingsKeys::kLastPosition).toLongLong();
    QVERIFY2(position >= 2500 && position < 4000, qPrintable(QString::number(position)));

    QTRY_COMPARE(f.table()->model()->rowCount(), 2);
    QTRY_COMPARE(f.selectedRow(), 1);
    QCOMPARE(f.waveform()->cue(), e);
    QCOMPARE(f.waveform()->playheadMs(), position);
    QCOMPARE(f.playingCue(), nullptr);

    // Play goes on where the show left off.
    play();
    QCOMPARE(f.playingCue(), e);
    QVERIFY2(f.cues()->getCurrentPosition() >= position,
             qPrintable(QString::number(f.cues()->getCurrentPosition())));
    // The selection restore that follows keeps the same cue.
    QTest::qWait(600);
    QCOMPARE(f.selectedRow(), 1);
}

void MainWindowRestoreAndCartTest::firstStartShowsTheFirstPlaylist()
{
    // Playlists, but nothing stored of a last state: the first playlist is
    // shown, ready to play, and no cue is chosen for the operator.
    f.open();
    QTRY_COMPARE(f.table()->model()->rowCount(), 3);
    const QModelIndexList chosen = f.tree()->selectionModel()->selectedIndexes();
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().data(Qt::UserRole).toInt(), f.firstPlaylist);
    QTest::qWait(600);
    QCOMPARE(f.waveform()->cue(), nullptr);
    QCOMPARE(f.transport()->getState(), AudioEngine::Stopped);

    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClick(f.window.get(), Qt::Key_F5);
    QTRY_COMPARE(f.transport()->getState(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), first(0));
}

void MainWindowRestoreAndCartTest::aDeletedLastCueSelectsNothing()
{
    QSettings settings;
    settings.setValue(SettingsKeys::kLastPlaylistId, f.firstPlaylist);
    settings.setValue(SettingsKeys::kLastCueId, 99999);
    settings.setValue(SettingsKeys::kLastPosition, 1000);
    f.open();
    QTRY_COMPARE(f.table()->model()->rowCount(), 3);
    QTest::qWait(300);
    QCOMPARE(f.selectedRow(), -1);
    QCOMPARE(f.waveform()->cue(), nullptr);
}

void MainWindowRestoreAndCartTest::theLastSelectedPlaylistWinsOverTheLastPlayedOne()
{
    QSettings settings;
    settings.setValue(SettingsKeys::kLastPlaylistId, f.firstPlaylist);
    settings.setValue(SettingsKeys::kLastCueId, first(1)->id());
    settings.setValue(SettingsKeys::kLastPosition, 1000);
    settings.setValue(SettingsKeys::kLastSelectedPlaylistId, f.secondPlaylist);
    settings.setValue(SettingsKeys::kLastSelectedCueId, f.cue(f.secondPlaylist, 1)->id());
    f.open();
    QTRY_COMPARE(f.table()->model()->rowCount(), 2);
    QTRY_COMPARE(f.selectedRow(), 1);
    QCOMPARE(f.table()->model()->rowCount(), 2);
}

void MainWindowRestoreAndCartTest::aStartThatRestoresEverythingLeavesTheSettingsFileAlone()
{
    // Every write rewrites and flushes the whole file on the GUI thread; a
    // start that shows what was stored has nothing to write.
    Cue* selected = f.cue(f.secondPlaylist, 1);
    {
        QSettings settings;
        settings.setValue(SettingsKeys::kLastSelectedPlaylistId, f.secondPlaylist);
        settings.setValue(SettingsKeys::kLastSelectedCueId, selected->id());
        settings.setValue(SettingsKeys::kCartMode, true);
    }
    const QString file = QSettings().fileName();
    struct stat before = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);

    f.open();
    QTRY_VERIFY(cart() && cart()->isVisible());
    QTRY_COMPARE(f.waveform()->cue(), selected);  // the stored cue, selected again

    struct stat after = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

void MainWindowRestoreAndCartTest::cartSwitchReplacesTheTable()
{
    f.open();
    f.showPlaylist(f.firstPlaylist);
    f.clickRow(1);
    QPushButton* button = cartButton();
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("卡片"));
    QVERIFY(recordButton()->isEnabled());
    const qint64 iconKey = recordButton()->icon().cacheKey();

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isChecked());
    QCOMPARE(button->text(), QStringLiteral("列表"));
    QVERIFY(cart() && cart()->isVisible());
    QVERIFY(!f.table()->isVisible());
    QCOMPARE(cart()->cues(), (QList<Cue*>{first(0), first(1), first(2)}));
    QCOMPARE(cart()->selectedCues(), QList<Cue*>{first(1)});
    QVERIFY(tile(first(1))->isCurrent());
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kCartMode).toBool(), true);
    // Recording is not offered in cart mode.
    QVERIFY(!recordButton()->isEnabled());
    QVERIFY(recordButton()->icon().cacheKey() != iconKey);

    // The grid follows the playlist shown.
    f.showPlaylist(f.secondPlaylist);
    QCOMPARE(cart()->cues().size(), 2);

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("卡片"));
    QVERIFY(!cart()->isVisible());
    QVERIFY(f.table()->isVisible());
    QVERIFY(recordButton()->isEnabled());
    QCOMPARE(recordButton()->icon().cacheKey(), iconKey);
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kCartMode).toBool(), false);
}

void MainWindowRestoreAndCartTest::cartSelectionCarriesOverToTheTable()
{
    f.open();
    f.showPlaylist(f.firstPlaylist);
    cartButton()->click();

    // One button: that cue is selected in the table and shown.
    clickTile(first(2));
    QCOMPARE(selectedRows(), QList<int>{2});
    QTRY_COMPARE(f.waveform()->cue(), first(2));

    // Two buttons: a batch edit of both.
    clickTile(first(0), Qt::ControlModifier);
    QCOMPARE(cart()->selectedCues(), (QList<Cue*>{first(0), first(2)}));
    auto* list = f.window->findChild<TrackListManager*>();
    QVERIFY(list);
    QCOMPARE(list->batchCues(), (QList<Cue*>{first(0), first(2)}));

    cartButton()->click();
    QCOMPARE(selectedRows(), (QList<int>{0, 2}));
}

void MainWindowRestoreAndCartTest::cartModeIsKeptAcrossStarts()
{
    QSettings().setValue(SettingsKeys::kCartMode, true);
    f.open();
    QVERIFY(cartButton()->isChecked());
    QVERIFY(cart() && cart()->isVisible());
    QVERIFY(!f.table()->isVisible());
    f.showPlaylist(f.secondPlaylist);
    QCOMPARE(cart()->cues().size(), 2);
}

void MainWindowRestoreAndCartTest::cartPlayButtonInEditMode()
{
    f.open();
    f.showPlaylist(f.firstPlaylist);
    cartButton()->click();
    clickTile(first(1));
    QTRY_COMPARE(f.waveform()->cue(), first(1));
    f.waveform()->setPosition(2000);

    // The play button starts at the playhead when it lies in the loop.
    QToolButton* playB = tile(first(1))->findChild<QToolButton*>();
    QVERIFY(playB);
    QTest::mouseClick(playB, Qt::LeftButton);
    QCOMPARE(f.playingCue(), first(1));
    QVERIFY2(f.cues()->getCurrentPosition() >= 2000, qPrintable(QString::number(f.cues()->getCurrentPosition())));
    QTRY_VERIFY(tile(first(1))->isPlaying());
    // Again: pauses.
    QTest::mouseClick(playB, Qt::LeftButton);
    QCOMPARE(f.transport()->getState(), AudioEngine::Paused);

    // Another cue: the paused one stops, the new one starts at its loop start.
    QTest::mouseClick(tile(first(2))->findChild<QToolButton*>(), Qt::LeftButton);
    QCOMPARE(f.playingCue(), first(2));
    QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    QVERIFY(f.cues()->getCurrentPosition() < 1000);
    QCOMPARE(f.cues()->getPlaylist().size(), 3);
    QTRY_VERIFY(tile(first(2))->isPlaying());
    QVERIFY(!tile(first(1))->isPlaying());
}

void MainWindowRestoreAndCartTest::cartInShowMode()
{
    f.open();
    f.showPlaylist(f.firstPlaylist);
    cartButton()->click();
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onShowModeClicked"));
    QVERIFY(tile(first(1))->showMode());

    // One click on a button plays it, the next pauses, the next resumes.
    clickTile(first(1));
    QCOMPARE(f.playingCue(), first(1));
    QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    QTRY_VERIFY(tile(first(1))->isPlaying());
    clickTile(first(1));
    QCOMPARE(f.transport()->getState(), AudioEngine::Paused);
    clickTile(first(1));
    QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), first(1));

    // Another button: that cue, from its loop start.
    clickTile(first(2));
    QCOMPARE(f.playingCue(), first(2));
    QVERIFY(f.cues()->getCurrentPosition() < 1000);
    QTRY_VERIFY(tile(first(2))->isPlaying());
    QVERIFY(!tile(first(1))->isPlaying());

    // The playlist goes on by itself: the grid marks the cue that plays.
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), first(0));
    QTRY_VERIFY(tile(first(0))->isPlaying());
    QVERIFY(tile(first(0))->isCurrent());

    // Back to the table during the show: still no recording.
    cartButton()->click();
    QVERIFY(f.table()->isVisible());
    QVERIFY(!recordButton()->isEnabled());
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onEditModeClicked"));
    QVERIFY(recordButton()->isEnabled());
}

QTEST_MAIN(MainWindowRestoreAndCartTest)
#include "MainWindowRestoreAndCartTest.moc"
