#include "MainWindowFixture.h"

#include "app/MinSecSpinBox.h"
#include "playback/CueVolumeRamp.h"
#include "waveform/LevelMeterScrollBar.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QtTest>

#include <algorithm>

// Editing cues in the main window: the settings bar bound to the selected cue
// or to a multi-selection, the loop boxes, show mode with volume A for the
// show, and the A/B volumes with their ramp and double-click resets.
class MainWindowEditingTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;

    Cue* a() const { return f.cue(f.firstPlaylist, 0); }
    Cue* b() const { return f.cue(f.firstPlaylist, 1); }
    Cue* c() const { return f.cue(f.firstPlaylist, 2); }
    QScrollBar* bar(int group) const
    {
        return f.widget<QScrollBar>(group == 1 ? "volumeHorizontalScrollBar_2" : "volumeHorizontalScrollBar");
    }
    QLabel* valueLabel(int group) const { return bar(group)->findChild<QLabel*>(); }
    QPushButton* statusButton(const QString& text) const;
    void typeInto(const char* boxName, const QString& text);
    void selectRows(int first, int last);
    void play();
    // The A/B switch, as its shortcut and hotkey run it.
    void pressSwitch() { QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onVolumeSwitchClicked")); }
    // Stored values of a cue, read back from the database.
    static std::unique_ptr<Cue> stored(const Cue* cue);
    // Puts the three cues of the first playlist into a known state, stored.
    void setCueVolumes(const QList<std::array<int, 3>>& volumes);

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void editsReachTheDatabaseWhenTheSelectionMoves();
    void theBarFollowsTheSelectedCue();
    void loopBoxesTypedAndWheeled();
    void batchShowsEmptySetAndReachesEveryCue();
    void leavingBatchTouchesOnlyItsCues();
    void releasingABarInBatchModeReachesTheBatch();
    void showModeForcesVolumeA_data();
    void showModeForcesVolumeA();
    void restartInShowModeKeepsTheChoices();
    void showModeLocksTheBar();
    void aBatchInShowModeIsReadOnly();
    void switchRampsThePlayingCue();
    void switchWithoutAPlayingCue();
    void aRampEndsWhenAnotherCueStarts();
    void doubleClicksResetTheVolumes();
    void doubleClickInBatchModeReachesTheBatch();
    void anEmptyPlaylistShowsNothingOfAnotherCue();
};

void MainWindowEditingTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowEditingTest::init()
{
    f.resetSettings();
    // Short ramps keep the test quick; the ramp itself is tested on its own.
    QSettings().setValue(SettingsKeys::kVolumeSwitchDuration, 0.3);
    setCueVolumes({{80, 20, 0}, {80, 20, 0}, {80, 20, 0}});
    f.open();
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
}

void MainWindowEditingTest::cleanup()
{
    if (f.window)
        f.close();
}

QPushButton* MainWindowEditingTest::statusButton(const QString& text) const
{
    for (QPushButton* button : f.window->statusBar()->findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

void MainWindowEditingTest::typeInto(const char* boxName, const QString& text)
{
    auto* box = f.widget<QAbstractSpinBox>(boxName);
    QVERIFY(box);
    QVERIFY(box->isEnabled());
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

void MainWindowEditingTest::selectRows(int first, int last)
{
    f.clickRow(first);
    const QModelIndex index = f.table()->model()->index(last, SongTableModel::DurationColumn);
    QTest::mouseClick(f.table()->viewport(), Qt::LeftButton, Qt::ShiftModifier, f.table()->visualRect(index).center());
    QCOMPARE(f.table()->selectionModel()->selectedRows().size(), last - first + 1);
}

void MainWindowEditingTest::play()
{
    QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
    QTRY_VERIFY(f.playingCue());
}

std::unique_ptr<Cue> MainWindowEditingTest::stored(const Cue* cue)
{
    auto fresh = std::make_unique<Cue>();
    fresh->loadFromDatabase(cue->id());
    return fresh;
}

void MainWindowEditingTest::setCueVolumes(const QList<std::array<int, 3>>& volumes)
{
    for (int row = 0; row < volumes.size(); ++row) {
        Cue* cue = f.cue(f.firstPlaylist, row);
        cue->setVolumeA(volumes[row][0]);
        cue->setVolumeB(volumes[row][1]);
        cue->setVolumeChoose(volumes[row][2]);
        cue->setPreWait(0);
        cue->setFadeEnabled(false);
        cue->setFadeDurations(1000, 1000);
        cue->setLoopRange(0, 4000, true);
        QVERIFY(cue->saveToDatabase(true));
    }
}

void MainWindowEditingTest::editsReachTheDatabaseWhenTheSelectionMoves()
{
    f.clickRow(0);
    QTest::mouseClick(f.widget<QCheckBox>("fadeCheckBox"), Qt::LeftButton);
    typeInto("fadeInSpinBox", QStringLiteral("1.5"));
    QCOMPARE(a()->fadeInMs(), 1500);
    QCOMPARE(stored(a())->fadeInMs(), 1000);  // only marked as changed so far

    // An empty selection (a table reload) does not store it yet...
    f.table()->clearSelection();
    QCOMPARE(stored(a())->fadeInMs(), 1000);
    f.clickRow(0);
    // ...selecting another cue does.
    f.clickRow(1);
    QCOMPARE(stored(a())->fadeInMs(), 1500);
    QVERIFY(stored(a())->fadeEnabled());
    QVERIFY(!a()->isDirty());

    // Clicking the selected row again changes and saves nothing.
    typeInto("preDurationSpinBox", QStringLiteral("4"));
    f.clickRow(1);
    QCOMPARE(stored(b())->preWaitMs(), 0);
    QVERIFY(b()->isDirty());
}

void MainWindowEditingTest::theBarFollowsTheSelectedCue()
{
    b()->setPreWait(7000);
    b()->setLoopCount(0);
    f.clickRow(1);
    QCOMPARE(f.widget<QSpinBox>("preDurationSpinBox")->value(), 7);
    QCOMPARE(f.widget<QSpinBox>("loopCountSpinBox")->value(), 0);
    QVERIFY(f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(f.widget<QWidget>("loopEndSpinBox")->isEnabled());

    // Its changes come back into the bar and the table row.
    b()->setPreWait(2000);
    QCOMPARE(f.widget<QSpinBox>("preDurationSpinBox")->value(), 2);

    f.table()->clearSelection();
    QVERIFY(!f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(!f.widget<QWidget>("loopEndSpinBox")->isEnabled());
    QVERIFY(!f.waveform()->cue());
    b()->setLoopCount(1);
    b()->saveToDatabase(false);
}

void MainWindowEditingTest::loopBoxesTypedAndWheeled()
{
    f.clickRow(0);
    auto* start = f.widget<MinSecSpinBox>("loopStartSpinBox");
    auto* length = f.widget<MinSecSpinBox>("loopDurationSpinBox");
    auto* end = f.widget<MinSecSpinBox>("loopEndSpinBox");
    QCOMPARE(end->value(), 4.0);

    // Typed as minutes.seconds.centiseconds.
    typeInto("loopStartSpinBox", QStringLiteral("00.01.00"));
    QCOMPARE(a()->loopStartMs(), 1000);
    QCOMPARE(length->value(), 3.0);
    QCOMPARE(stored(a())->loopStartMs(), 1000);

    // A loop end 0.5 s after the start is refused by the cue: the whole file.
    typeInto("loopEndSpinBox", QStringLiteral("00.01.50"));
    QCOMPARE(a()->loopStartMs(), 0);
    QCOMPARE(a()->loopEndMs(), 4000);
    QCOMPARE(start->value(), 0.0);
    QCOMPARE(end->value(), 4.0);

    // A length of 0 goes back to the stored one.
    typeInto("loopDurationSpinBox", QStringLiteral("0"));
    QCOMPARE(length->value(), 4.0);
    QCOMPARE(a()->loopEndMs(), 4000);

    // Wheeling down over the end: 200 ms less.
    const QPointF at(end->width() / 2.0, end->height() / 2.0);
    QWheelEvent down(at, end->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(end, &down);
    QCOMPARE(a()->loopEndMs(), 3800);
    QCOMPARE(end->value(), 3.8);
    QCOMPARE(length->value(), 3.8);
    a()->setLoopRange(0, 4000, false);
}

void MainWindowEditingTest::batchShowsEmptySetAndReachesEveryCue()
{
    setCueVolumes({{70, 10, 0}, {70, 20, 0}, {70, 30, 0}});
    selectRows(0, 2);
    QVERIFY(f.waveform()->isHidden());
    QVERIFY(!f.widget<QWidget>("loopStartSpinBox")->isEnabled());
    QVERIFY(!f.widget<QCheckBox>("panCheckBox")->isEnabled());
    QCOMPARE(valueLabel(0)->text(), QStringLiteral("70"));
    QCOMPARE(valueLabel(1)->text(), QStringLiteral("∅"));
    QCOMPARE(f.status(), QStringLiteral("批量模式：修改实时应用到所有选中的 Cue"));

    typeInto("preDurationSpinBox", QStringLiteral("3"));
    for (Cue* cue : {a(), b(), c()})
        QCOMPARE(cue->preWaitMs(), 3000);
    for (Cue* cue : {a(), b(), c()})
        QTRY_COMPARE(stored(cue)->preWaitMs(), 3000);
    // Volume B was not edited: each cue keeps its own.
    QCOMPARE(stored(c())->volumeB(), 30);

    // Leaving reports how many cues the batch reached.
    f.clickRow(1);
    QCOMPARE(f.status(), QStringLiteral("批量设置已应用到 3 条 Cue"));
    QVERIFY(!f.waveform()->isHidden());
    QCOMPARE(valueLabel(1)->text(), QStringLiteral("20"));
    QCOMPARE(f.widget<QSpinBox>("preDurationSpinBox")->value(), 3);
}

void MainWindowEditingTest::leavingBatchTouchesOnlyItsCues()
{
    f.clickRow(2);  // C, selected before the batch
    selectRows(0, 1);
    typeInto("loopCountSpinBox", QStringLiteral("4"));
    QCOMPARE(a()->loopCount(), 4);
    QCOMPARE(b()->loopCount(), 4);
    f.clickRow(2);
    QCOMPARE(c()->loopCount(), 1);
    QCOMPARE(stored(c())->loopCount(), 1);
    QCOMPARE(stored(a())->loopCount(), 4);
    QCOMPARE(f.widget<QSpinBox>("loopCountSpinBox")->value(), 1);
    for (Cue* cue : {a(), b()}) {
        cue->setLoopCount(1);
        cue->saveToDatabase(false);
    }
}

void MainWindowEditingTest::releasingABarInBatchModeReachesTheBatch()
{
    setCueVolumes({{60, 20, 0}, {70, 20, 0}, {80, 20, 0}});
    f.clickRow(2);  // C selected alone first
    selectRows(0, 1);
    QCOMPARE(valueLabel(0)->text(), QStringLiteral("∅"));

    // Drag volume B's handle a little and let go: the batch's cues get the
    // level and B as their choice; C, selected before, is not touched.
    QScrollBar* barB = bar(1);
    QStyleOptionSlider option;
    option.initFrom(barB);
    option.minimum = barB->minimum();
    option.maximum = barB->maximum();
    option.sliderPosition = barB->sliderPosition();
    option.sliderValue = barB->value();
    option.pageStep = barB->pageStep();
    option.singleStep = barB->singleStep();
    option.orientation = Qt::Horizontal;
    option.state |= QStyle::State_Horizontal;
    option.subControls = QStyle::SC_All;
    const QRect handle = barB->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, barB);
    QVERIFY(handle.isValid());
    // The value label rides on the handle.
    QCOMPARE(valueLabel(1)->geometry(), handle);
    QSignalSpy released(barB, &QScrollBar::sliderReleased);
    QSignalSpy moved(barB, &QScrollBar::sliderMoved);
    QTest::mousePress(barB, Qt::LeftButton, {}, handle.center());
    QTest::mouseMove(barB, handle.center() + QPoint(20, 0));
    QTest::mouseRelease(barB, Qt::LeftButton, {}, handle.center() + QPoint(20, 0));
    const int level = barB->value();
    QCOMPARE(released.count(), 1);
    QVERIFY(moved.count() > 0);
    QVERIFY(level > 20);
    for (Cue* cue : {a(), b()}) {
        QCOMPARE(cue->volumeB(), level);
        QCOMPARE(cue->volumeChoose(), 1);
    }
    QCOMPARE(c()->volumeB(), 20);
    QCOMPARE(c()->volumeChoose(), 0);
    QCOMPARE(valueLabel(1)->text(), QString::number(level));
    f.clickRow(0);
    QCOMPARE(stored(b())->volumeChoose(), 1);
    QCOMPARE(stored(c())->volumeChoose(), 0);
}

void MainWindowEditingTest::showModeForcesVolumeA_data()
{
    QTest::addColumn<bool>("force");
    QTest::newRow("forceVolumeA on") << true;
    QTest::newRow("forceVolumeA off") << false;
}

void MainWindowEditingTest::showModeForcesVolumeA()
{
    QFETCH(bool, force);
    QSettings().setValue(SettingsKeys::kTemplateForceVolumeA, force);
    setCueVolumes({{80, 20, 1}, {80, 20, 0}, {80, 20, 1}});
    f.clickRow(0);

    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    QCOMPARE(a()->volumeChoose(), force ? 0 : 1);
    QCOMPARE(c()->volumeChoose(), force ? 0 : 1);
    QCOMPARE(b()->volumeChoose(), 0);
    // What a crash now would leave: the operator's own choices.
    QCOMPARE(stored(a())->volumeChoose(), 1);
    QCOMPARE(stored(c())->volumeChoose(), 1);
    // A played cue plays at the forced level.
    play();
    QCOMPARE(f.transport()->cueVolume(), force ? 80 : 20);
    f.cues()->stopPlaylist();

    // A second click on the show button keeps the held choices.
    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    QTest::mouseClick(statusButton(QStringLiteral("编辑")), Qt::LeftButton);
    QCOMPARE(a()->volumeChoose(), 1);
    QCOMPARE(c()->volumeChoose(), 1);
    QCOMPARE(b()->volumeChoose(), 0);
    QCOMPARE(stored(a())->volumeChoose(), 1);
}

void MainWindowEditingTest::restartInShowModeKeepsTheChoices()
{
    setCueVolumes({{80, 20, 1}, {80, 20, 0}, {80, 20, 0}});
    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    QCOMPARE(a()->volumeChoose(), 0);
    // Something that saves every cue while the show runs.
    a()->setRemark(QStringLiteral("during the show"));

    // Quit without leaving show mode, and start again.
    f.window->close();
    f.close();
    QCOMPARE(stored(a())->volumeChoose(), 1);
    QCOMPARE(stored(a())->remark(), QStringLiteral("during the show"));
    f.open();
    QCOMPARE(a()->volumeChoose(), 1);
    QVERIFY(statusButton(QStringLiteral("编辑"))->isChecked());
    f.showPlaylist(f.firstPlaylist);
    f.clickRow(0);
    play();
    QCOMPARE(f.transport()->cueVolume(), 20);
}

void MainWindowEditingTest::showModeLocksTheBar()
{
    f.clickRow(0);
    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    QVERIFY(!f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(!f.widget<QWidget>("infiniteLoopBtn")->isVisible());
    QVERIFY(!f.widget<QWidget>("loopStartSpinBox")->isEnabled());
    QVERIFY(f.tree()->isHidden());  // the playlist panel closes for the show
    QTRY_VERIFY(f.table()->width() > f.window->width() - 50);  // and the table takes its room
    QVERIFY(!statusButton(QStringLiteral("设置"))->isEnabled());
    QVERIFY(statusButton(QStringLiteral("演出"))->isChecked());

    // Selecting in show mode only rebinds the bar.
    f.clickRow(1);
    QVERIFY(!f.widget<QWidget>("setWidget")->isEnabled());
    QCOMPARE(f.waveform()->cue(), b());

    QTest::mouseClick(statusButton(QStringLiteral("编辑")), Qt::LeftButton);
    QVERIFY(f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(f.widget<QWidget>("infiniteLoopBtn")->isVisible());
    QVERIFY(f.widget<QWidget>("loopStartSpinBox")->isEnabled());
    QVERIFY(!f.tree()->isHidden());
    QCOMPARE(f.tree()->width(), 261);
    QVERIFY(statusButton(QStringLiteral("设置"))->isEnabled());
}

void MainWindowEditingTest::aBatchInShowModeIsReadOnly()
{
    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    selectRows(0, 2);
    QVERIFY(!f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(!f.widget<QWidget>("preDurationSpinBox")->isEnabled());
    QVERIFY(!bar(0)->isEnabled());
    f.clickRow(0);
    QVERIFY(!f.widget<QWidget>("setWidget")->isEnabled());
    QVERIFY(!f.widget<QWidget>("loopStartSpinBox")->isEnabled());
}

void MainWindowEditingTest::switchRampsThePlayingCue()
{
    setCueVolumes({{80, 20, 0}, {30, 60, 0}, {80, 20, 0}});
    f.clickRow(0);
    play();
    QCOMPARE(f.playingCue(), a());
    QCOMPARE(f.transport()->cueVolume(), 80);
    // Another cue is selected while A plays: the ramp still starts at A's level.
    f.clickRow(1);

    // Every level read lies on the straight line from one volume to the
    // other in the switch time, at a time between the press and the read:
    // judged against the clock, a test held up between two reads (it may
    // miss every level in between) still sees where the ramp is.
    const qint64 rampMs = f.transport()->cueVolumeRamp()->durationMs();
    QCOMPARE(rampMs, qint64(300));
    const auto lineAt = [rampMs](int from, int to, qint64 ms) {
        return int(from + std::clamp(double(ms) / double(rampMs), 0.0, 1.0) * (to - from));
    };
    QElapsedTimer timer;
    timer.start();
    pressSwitch();
    const qint64 pressed = timer.elapsed();  // the ramp began within [0, pressed]
    QCOMPARE(f.status(), QStringLiteral("已切换到B音量: 20"));
    QCOMPARE(a()->volumeChoose(), 1);
    QCOMPARE(stored(a())->volumeChoose(), 1);
    QList<int> levels;
    while ((levels.isEmpty() || levels.last() != 20) && timer.elapsed() < 5000) {
        const qint64 before = timer.elapsed();
        const int level = f.transport()->cueVolume();
        const qint64 after = timer.elapsed();
        QVERIFY2(level <= lineAt(80, 20, before - pressed) + 1 && level >= lineAt(80, 20, after) - 1,
                 qPrintable(QStringLiteral("%1 read between %2 and %3 ms").arg(level).arg(before).arg(after)));
        if (levels.isEmpty() || level != levels.last()) {
            if (!levels.isEmpty())
                QVERIFY(level < levels.last());
            levels << level;
        }
        QTest::qWait(5);
    }
    QCOMPARE(levels.last(), 20);

    // Switched back halfway, the ramp turns round from where it is. A test
    // held up past the end of the ramp before its second press tries again.
    int reached = 20;
    for (int attempt = 0; attempt < 5 && (reached <= 20 || reached >= 80); ++attempt) {
        QTRY_COMPARE(f.transport()->cueVolume(), 20);
        pressSwitch();
        QTest::qWait(100);
        pressSwitch();
        reached = f.transport()->cueVolume();
    }
    QVERIFY2(reached > 20 && reached < 80, qPrintable(QString::number(reached)));
    int last = reached;
    while (last != 20 && timer.elapsed() < 10000) {
        QTest::qWait(5);
        const int level = f.transport()->cueVolume();
        QVERIFY2(level <= last, qPrintable(QStringLiteral("%1 after %2").arg(level).arg(last)));
        last = level;
    }
    QCOMPARE(last, 20);
    QCOMPARE(a()->volumeChoose(), 1);
    QCOMPARE(stored(a())->volumeChoose(), 1);
}

void MainWindowEditingTest::aRampEndsWhenAnotherCueStarts()
{
    QSettings().setValue(SettingsKeys::kVolumeSwitchDuration, 1.5);
    f.close();
    f.open();
    f.showPlaylist(f.firstPlaylist);
    setCueVolumes({{80, 20, 0}, {30, 60, 0}, {80, 20, 0}});
    f.clickRow(0);
    // A plays its last half second, then the list goes on to B by itself
    // while the ramp of A's switch still runs.
    f.waveform()->setPosition(3500);
    play();
    QCOMPARE(f.playingCue(), a());
    pressSwitch();
    QTRY_COMPARE_WITH_TIMEOUT(f.playingCue(), b(), 3000);
    // B plays at its own level, not at the end of A's ramp.
    QTest::qWait(1600);
    QCOMPARE(f.transport()->cueVolume(), 30);
}

void MainWindowEditingTest::switchWithoutAPlayingCue()
{
    f.clickRow(0);
    pressSwitch();
    QCOMPARE(f.status(), QStringLiteral("没有正在播放或暂停的Cue"));
    QCOMPARE(a()->volumeChoose(), 0);
}

void MainWindowEditingTest::doubleClicksResetTheVolumes()
{
    setCueVolumes({{40, 40, 0}, {80, 20, 0}, {80, 20, 0}});
    f.clickRow(0);
    play();

    QTest::mouseDClick(bar(1), Qt::LeftButton, {}, QPoint(bar(1)->width() - 4, bar(1)->height() / 2));
    QCOMPARE(bar(1)->value(), 10);
    QCOMPARE(a()->volumeB(), 10);
    QCOMPARE(a()->volumeChoose(), 1);
    QCOMPARE(stored(a())->volumeB(), 10);
    QCOMPARE(f.status(), QStringLiteral("B音量已恢复模板默认值: 10"));
    QCOMPARE(valueLabel(1)->text(), QStringLiteral("10"));
    QTRY_COMPARE(f.transport()->cueVolume(), 10);

    QTest::mouseDClick(bar(0), Qt::LeftButton, {}, QPoint(4, bar(0)->height() / 2));
    QCOMPARE(a()->volumeA(), 90);
    QCOMPARE(a()->volumeChoose(), 0);
    QTRY_COMPARE(f.transport()->cueVolume(), 90);

    auto* mainVolume = f.window->findChild<LevelMeterScrollBar*>();
    QVERIFY(mainVolume);
    mainVolume->setValue(30);
    QTest::mouseDClick(mainVolume, Qt::LeftButton, {}, QPoint(4, mainVolume->height() / 2));
    QCOMPARE(mainVolume->value(), 80);
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kMainVolume).toInt(), 80);
    QCOMPARE(f.status(), QStringLiteral("主音量已恢复默认: 80"));
}

void MainWindowEditingTest::doubleClickInBatchModeReachesTheBatch()
{
    setCueVolumes({{80, 20, 0}, {80, 30, 0}, {80, 40, 0}});
    f.clickRow(2);
    selectRows(0, 1);
    QCOMPARE(valueLabel(1)->text(), QStringLiteral("∅"));

    QTest::mouseDClick(bar(1), Qt::LeftButton, {}, QPoint(4, bar(1)->height() / 2));
    for (Cue* cue : {a(), b()}) {
        QCOMPARE(cue->volumeB(), 10);
        QCOMPARE(cue->volumeChoose(), 1);
    }
    QCOMPARE(c()->volumeB(), 40);
    QCOMPARE(c()->volumeChoose(), 0);
    QCOMPARE(valueLabel(1)->text(), QStringLiteral("10"));
    for (Cue* cue : {a(), b()})
        QTRY_COMPARE(stored(cue)->volumeChoose(), 1);
}

// An empty playlist leaves no cue selected: the greyed bar shows no value of
// the cue shown before (its loop region, its endless count, its B choice),
// and nothing in it looks usable.
void MainWindowEditingTest::anEmptyPlaylistShowsNothingOfAnotherCue()
{
    PlaylistGroup empty;
    empty.name = QStringLiteral("empty");
    int sortOrder = 0;
    MainWindowFixture::db()->getNextGroupSortOrder(sortOrder);
    QVERIFY(MainWindowFixture::db()->insertPlaylistGroup(empty, sortOrder));
    f.close();
    f.open();

    Cue* cue = f.cue(f.firstPlaylist, 1);
    cue->setLoopRange(1000, 3500, true);
    cue->setLoopCount(3);
    cue->setVolumeChoose(1);
    cue->setPreWait(2000);
    f.showPlaylist(f.firstPlaylist);
    f.clickRow(1);
    auto* endless = f.button("infiniteLoopBtn");
    QTest::mouseClick(endless, Qt::LeftButton);  // endless now, offering 3 back
    QCOMPARE(endless->text(), QStringLiteral("3"));
    QCOMPARE(f.widget<QDoubleSpinBox>("loopStartSpinBox")->value(), 1.0);

    f.showPlaylist(empty.id);
    QCOMPARE(f.table()->model()->rowCount(), 0);
    for (const char* name : {"loopStartSpinBox", "loopDurationSpinBox", "loopEndSpinBox"})
        QVERIFY2(f.widget<QDoubleSpinBox>(name)->value() == 0.0, name);
    QVERIFY(!endless->isChecked());
    QCOMPARE(endless->text(), QStringLiteral("♾️"));
    QCOMPARE(f.widget<QLabel>("label_B")->styleSheet(), QStringLiteral("QLabel { color: #bbbbbb; }"));
    QCOMPARE(f.widget<QLabel>("label_A")->styleSheet(), QStringLiteral("QLabel { color: #2196F3; font-weight: bold; }"));

    QWidget* bar = f.widget<QWidget>("setWidget");
    QVERIFY(!bar->isEnabled());
    for (const char* name : {"preDurationSpinBox", "loopCountSpinBox", "fadeInSpinBox", "loopStartSpinBox"}) {
        auto* box = f.widget<QAbstractSpinBox>(name);
        QVERIFY2(box->styleSheet().contains(QStringLiteral("color: #888")), name);
    }
    for (const char* name : {"loopStartLockBtn", "loopDurationLockBtn", "loopEndLockBtn"})
        QVERIFY2(!f.button(name)->isEnabledTo(f.window.get()), name);
    QCOMPARE(f.widget<QLabel>("label_3")->styleSheet(), QStringLiteral("QLabel { color: #666; }"));

    cue->setLoopCount(1);
    cue->setVolumeChoose(0);
    f.close();
    QVERIFY(MainWindowFixture::db()->deletePlaylistGroup(empty.id));
    f.open();
}

QTEST_MAIN(MainWindowEditingTest)
#include "MainWindowEditingTest.moc"
