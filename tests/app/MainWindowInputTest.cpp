#include "MainWindowFixture.h"

#include "input/HidDeviceManager.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <memory>

// The operator's keys and device buttons on the real window: the transport
// keys act whichever widget has the focus (only a name or remark being typed
// keeps Space), every action of the shortcut table runs from a device button,
// and in show mode no key, button or click changes a stored cue.
class MainWindowInputTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    static constexpr const char* kButton = "ExtDev:VID_1234&PID_5678:Key40";
    static constexpr const char* kOtherButton = "ExtDev:VID_1234&PID_5678:Key41";

    AudioEngine::State state() const { return f.transport()->getState(); }
    Cue* row(int index) const { return f.cue(f.firstPlaylist, index); }
    static std::unique_ptr<Cue> stored(const Cue* cue)
    {
        auto fresh = std::make_unique<Cue>();
        fresh->loadFromDatabase(cue->id());
        return fresh;
    }
    QPushButton* statusButton(const QString& text) const
    {
        for (QPushButton* button : f.window->statusBar()->findChildren<QPushButton*>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }
    static void press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    static void pressDevice(const char* identifier)
    {
        Q_EMIT HidDeviceManager::instance()->buttonPressed(QString::fromLatin1(identifier));
    }
    static void bindDevice(const char* action, const char* identifier)
    {
        QSettings().setValue(SettingsKeys::shortcutDeviceKey(QString::fromLatin1(action)),
                             QString::fromLatin1(identifier));
    }
    void typeInto(QAbstractSpinBox* box, const QString& text);
    int storedRows() const
    {
        QList<int> ids;
        f.db()->getPlaylistSongIds(f.firstPlaylist, ids);
        return ids.size();
    }
    QComboBox* playModeList() const
    {
        for (QComboBox* combo : f.window->findChildren<QComboBox*>()) {
            if (combo->findText(QStringLiteral("单曲循环")) >= 0)
                return combo;
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void spaceAfterTypingIntoABoxPlays_data();
    void spaceAfterTypingIntoABoxPlays();
    void windowKeysFromBoxesAndLists_data();
    void windowKeysFromBoxesAndLists();
    void aNameBeingTypedKeepsSpace();

    void everyActionRunsFromADevice_data();
    void everyActionRunsFromADevice();

    void showModeChangesNoStoredCue_data();
    void showModeChangesNoStoredCue();
};

void MainWindowInputTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowInputTest::init()
{
    f.resetSettings();
    for (int index = 0; index < 3; ++index) {
        Cue* cue = row(index);
        cue->setVolumeA(80);
        cue->setVolumeB(20);
        cue->setVolumeChoose(0);
        cue->setPreWait(0);
        cue->setLoopCount(1);
        cue->setLoopRange(0, 4000, true);
        QVERIFY(cue->saveToDatabase(true));
    }
    f.open();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
}

void MainWindowInputTest::cleanup()
{
    HidDeviceManager::instance()->stopCapture();
    if (f.window)
        f.close();
    // Cues pasted by a test.
    QList<int> ids;
    f.db()->getPlaylistSongIds(f.firstPlaylist, ids);
    for (int extra = 3; extra < ids.size(); ++extra)
        f.db()->execute(QStringLiteral("DELETE FROM playlist_songs WHERE playlist_id = ? AND song_id = ?"),
                        {f.firstPlaylist, ids.at(extra)});
}

void MainWindowInputTest::typeInto(QAbstractSpinBox* box, const QString& text)
{
    QVERIFY(box && box->isEnabled());
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());
    box->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

void MainWindowInputTest::spaceAfterTypingIntoABoxPlays_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    QTest::newRow("预等待") << "preDurationSpinBox" << "3" << "3";
    QTest::newRow("范围") << "loopDurationSpinBox" << "00.03.00" << "00.03.00";
    QTest::newRow("循环次数") << "loopCountSpinBox" << "2" << "2";
    QTest::newRow("loop start") << "loopStartSpinBox" << "00.01.00" << "00.01.00";
}

void MainWindowInputTest::spaceAfterTypingIntoABoxPlays()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    f.clickRow(1);
    auto* spin = f.window->findChild<QAbstractSpinBox*>(box);
    typeInto(spin, typed);
    QVERIFY(spin->hasFocus() || spin->isAncestorOf(QApplication::focusWidget()));
    QVERIFY2(spin->text().contains(shown), qPrintable(spin->text()));
    const QString before = spin->text();

    press(Qt::Key_Space);
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), row(1));
    QCOMPARE(spin->text(), before);  // not blanked, nothing typed
    press(Qt::Key_Escape);
    QTRY_COMPARE(state(), AudioEngine::Stopped);
    QCOMPARE(spin->text(), before);
}

void MainWindowInputTest::windowKeysFromBoxesAndLists_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<int>("key");

    QTest::newRow("Page Down in 预等待") << "preDurationSpinBox" << int(Qt::Key_PageDown);
    QTest::newRow("Page Down in the play-mode list") << "playModeCombo" << int(Qt::Key_PageDown);
    QTest::newRow("Space in the play-mode list") << "playModeCombo" << int(Qt::Key_Space);
    QTest::newRow("Down in 预等待") << "preDurationSpinBox" << int(Qt::Key_Down);
    QTest::newRow("Right in the play-mode list") << "playModeCombo" << int(Qt::Key_Right);
}

void MainWindowInputTest::windowKeysFromBoxesAndLists()
{
    QFETCH(QString, widget);
    QFETCH(int, key);
    f.clickRow(0);
    QWidget* target = widget == "playModeCombo" ? playModeList() : f.window->findChild<QWidget*>(widget);
    QVERIFY(target);
    target->setFocus();
    QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
    auto* spin = qobject_cast<QSpinBox*>(target);
    auto* combo = qobject_cast<QComboBox*>(target);
    const int value = spin ? spin->value() : combo ? combo->currentIndex() : -1;

    press(Qt::Key_Space);
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), row(0));
    target->setFocus();
    if (key != Qt::Key_Space) {
        press(Qt::Key(key));
        QTRY_COMPARE(f.playingCue(), row(1));
    } else {
        press(Qt::Key(key));
        QTRY_COMPARE(state(), AudioEngine::Paused);
    }
    QCOMPARE(spin ? spin->value() : combo ? combo->currentIndex() : -1, value);
}

void MainWindowInputTest::aNameBeingTypedKeepsSpace()
{
    f.clickRow(0);
    const QModelIndex name = f.table()->model()->index(2, SongTableModel::NameColumn);
    f.table()->edit(name);
    QLineEdit* editor = nullptr;
    QTRY_VERIFY((editor = f.table()->findChild<QLineEdit*>()) && editor->hasFocus());
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("First dance"));
    QCOMPARE(editor->text(), QStringLiteral("First dance"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(name.data().toString(), QStringLiteral("First dance"));
    QTest::qWait(100);
    QCOMPARE(state(), AudioEngine::Stopped);
    QVERIFY(f.table()->model()->setData(name, QStringLiteral("C"), Qt::EditRole));
}

void MainWindowInputTest::everyActionRunsFromADevice_data()
{
    QTest::addColumn<QString>("action");
    for (const SettingsKeys::HotkeyAction& action : SettingsKeys::kHotkeyActions)
        QTest::newRow(action.id) << QString::fromLatin1(action.id);
}

void MainWindowInputTest::everyActionRunsFromADevice()
{
    QFETCH(QString, action);
    bindDevice(qPrintable(action), kButton);
    f.clickRow(0);
    Cue* a = row(0);
    const QString id = action;
    auto playA = [this] {
        QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
        QTRY_COMPARE(state(), AudioEngine::Playing);
    };

    if (id == "playPause") {
        pressDevice(kButton);
        QTRY_COMPARE(state(), AudioEngine::Playing);
        QCOMPARE(f.playingCue(), a);
    } else if (id == "prev" || id == "next") {
        playA();
        f.clickRow(1);
        pressDevice(kButton);
        QTRY_COMPARE(f.playingCue(), row(id == "prev" ? 2 : 1));
    } else if (id == "stop") {
        playA();
        pressDevice(kButton);
        QTRY_COMPARE(state(), AudioEngine::Stopped);
    } else if (id == "volumeSwitch") {
        playA();
        pressDevice(kButton);
        QCOMPARE(a->volumeChoose(), 1);
        QCOMPARE(stored(a)->volumeChoose(), 1);
        QCOMPARE(f.status(), QStringLiteral("已切换到B音量: 20"));
    } else if (id == "setLoopStart" || id == "setLoopEnd") {
        f.waveform()->setPosition(id == "setLoopStart" ? 1000 : 3000);
        pressDevice(kButton);
        QCOMPARE(id == "setLoopStart" ? a->loopStartMs() : a->loopEndMs(), qint64(id == "setLoopStart" ? 1000 : 3000));
        QCOMPARE(id == "setLoopStart" ? stored(a)->loopStartMs() : stored(a)->loopEndMs(),
                 qint64(id == "setLoopStart" ? 1000 : 3000));
    } else if (id == "audioStart" || id == "audioEnd") {
        a->setLoopRange(1000, 3000, false);
        f.waveform()->setPosition(2000);
        pressDevice(kButton);
        QCOMPARE(f.waveform()->playheadMs(), qint64(id == "audioStart" ? 1000 : 3000));
    } else if (id == "copy" || id == "paste") {
        // The other half of the pair on a second button.
        bindDevice(id == "copy" ? "paste" : "copy", kOtherButton);
        const char* copyButton = id == "copy" ? kButton : kOtherButton;
        const char* pasteButton = id == "copy" ? kOtherButton : kButton;
        pressDevice(copyButton);
        pressDevice(pasteButton);
        QTRY_COMPARE(f.table()->model()->rowCount(), 4);
        QCOMPARE(storedRows(), 4);
    } else {
        QFAIL("an action of the shortcut table without a case here");
    }
}

void MainWindowInputTest::showModeChangesNoStoredCue_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("device button: loop start") << "setLoopStart";
    QTest::newRow("device button: loop end") << "setLoopEnd";
    QTest::newRow("device button: paste") << "paste";
    QTest::newRow("click on the A caption") << "label_A";
    QTest::newRow("double-click on the B bar") << "volumeHorizontalScrollBar_2";
    QTest::newRow("A/B switch (Tab) on the playing cue") << "Tab";
}

void MainWindowInputTest::showModeChangesNoStoredCue()
{
    QFETCH(QString, input);
    Cue* a = row(0);
    a->setVolumeChoose(1);
    a->setVolumeB(40);
    QVERIFY(a->saveToDatabase(true));
    QSettings().setValue(SettingsKeys::kTemplateForceVolumeA, false);
    bindDevice("copy", kOtherButton);
    f.clickRow(0);
    pressDevice(kOtherButton);  // copied in edit mode, for the paste
    if (!input.startsWith(QLatin1String("label")) && !input.startsWith(QLatin1String("volume")))
        bindDevice(qPrintable(input), kButton);
    f.waveform()->setPosition(2000);
    QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
    QVERIFY(statusButton(QStringLiteral("演出"))->isChecked());

    if (input.startsWith(QLatin1String("label"))) {
        QTest::mouseClick(f.widget<QLabel>(qPrintable(input)), Qt::LeftButton);
    } else if (input.startsWith(QLatin1String("volume"))) {
        auto* bar = f.widget<QScrollBar>(qPrintable(input));
        QTest::mouseDClick(bar, Qt::LeftButton);
    } else if (input == "Tab") {
        // Heard at once: the playing cue ramps to its volume A.
        QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
        QTRY_COMPARE(state(), AudioEngine::Playing);
        f.button("stopButton")->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(f.status(), QStringLiteral("已切换到A音量: 80"));
        QCOMPARE(a->volumeChoose(), 0);
        QTRY_COMPARE(f.transport()->cueVolume(), 80);
    } else {
        pressDevice(kButton);
    }
    QTest::qWait(50);
    const std::unique_ptr<Cue> after = stored(a);
    QCOMPARE(a->loopStartMs(), qint64(0));
    QCOMPARE(a->loopEndMs(), qint64(4000));
    QCOMPARE(after->loopStartMs(), qint64(0));
    QCOMPARE(after->loopEndMs(), qint64(4000));
    if (input != "Tab")
        QCOMPARE(a->volumeChoose(), 1);
    QCOMPARE(after->volumeChoose(), 1);
    QCOMPARE(after->volumeB(), 40);
    QCOMPARE(storedRows(), 3);
    // Back in edit mode the cue has its own choice again.
    QTest::mouseClick(statusButton(QStringLiteral("编辑")), Qt::LeftButton);
    QCOMPARE(a->volumeChoose(), 1);
    QCOMPARE(stored(a)->volumeChoose(), 1);
}

QTEST_MAIN(MainWindowInputTest)
#include "MainWindowInputTest.moc"
