// Runs on a private Xvfb display (tests/support/run-in-xvfb.sh): keys are
// pressed with xdotool on the X server, as an operator presses them.
#include "MainWindowFixture.h"

#include "app/HotkeyBindings.h"
#include "input/HidDeviceManager.h"
#include "platform/XcbKeyGrabber.h"
#include "settings/SettingsPanel.h"

#include <QMessageBox>
#include <QProcess>
#include <QShortcut>
#include <QStandardPaths>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

bool pressKey(const QString& key)
{
    return xdotool({QStringLiteral("key"), key});
}

// A window of another program: with the X keyboard focus there, the main
// window is not active and hears no keys of its own.
class OtherProgramWindow {
public:
    OtherProgramWindow()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        const quint32 values[] = {1};  // override-redirect
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    ~OtherProgramWindow() { xcb_disconnect(m_connection); }

    void takeFocus()
    {
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, m_window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_window = 0;
};

}  // namespace

// Keys, device buttons and show mode's system-wide hotkeys as the operator
// uses them: which keys act where, that a binding changed in the settings
// takes effect, which action a device press runs, and that show mode's
// hotkeys work while another program has the focus.
class MainWindowShortcutsTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    void openShowingFirst();
    void focusWindow();
    AudioEngine::State state() const { return f.transport()->getState(); }
    Cue* cueA() const { return f.cue(f.firstPlaylist, 0); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void bindingsFromAnEmptyStore_data();
    void bindingsFromAnEmptyStore();
    void storedBindings();
    void showModeHotkeys_data();
    void showModeHotkeys();
    void deviceActionIsTheFirstInDispatchOrder();

    void spacePressTogglesPlay();
    void transportKeysWorkAnywhere();
    void escapeClosingADialogKeepsPlaying();
    void loopKeysOnlyWithFocusInTheWaveform();
    void changedBindingsTakeEffectAfterTheSettings();
    void devicePresses();
    void globalHotkeyIds();
    void showModeHotkeysWorkFromAnotherProgram();
    void keyBoundAsDeviceKeyActsOnce();
};

void MainWindowShortcutsTest::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(),
             "xdotool is missing (scripts/install-deps.sh installs it)");
    QCOMPARE(XcbKeyGrabber::unavailableReason(), QString());
    QVERIFY(f.initOnce());
}

void MainWindowShortcutsTest::init()
{
    f.resetSettings();
}

void MainWindowShortcutsTest::cleanup()
{
    HidDeviceManager::instance()->stopCapture();
    if (f.window)
        f.close();
    HidDeviceManager::instance()->unregisterAllHotkeys();
}

void MainWindowShortcutsTest::openShowingFirst()
{
    f.open();
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
    focusWindow();
    // Not a text field, which would take Space as text.
    f.button("playPasueButton")->setFocus();
}

void MainWindowShortcutsTest::focusWindow()
{
    QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                     QString::number(f.window->winId())}));
    QTRY_COMPARE(QApplication::activeWindow(), f.window.get());
}

void MainWindowShortcutsTest::bindingsFromAnEmptyStore_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("inWaveform");

    QTest::newRow("playPause") << "playPause" << "Space" << false;
    QTest::newRow("prev") << "prev" << "Up" << false;
    QTest::newRow("next") << "next" << "Down" << false;
    QTest::newRow("stop") << "stop" << "Esc" << false;
    QTest::newRow("volumeSwitch") << "volumeSwitch" << "Tab" << false;
    QTest::newRow("setLoopStart") << "setLoopStart" << "I" << true;
    QTest::newRow("setLoopEnd") << "setLoopEnd" << "O" << true;
    QTest::newRow("audioStart") << "audioStart" << "[" << true;
    QTest::newRow("audioEnd") << "audioEnd" << "]" << true;
}

void MainWindowShortcutsTest::bindingsFromAnEmptyStore()
{
    QFETCH(QString, action);
    QFETCH(QString, key);
    QFETCH(bool, inWaveform);

    const QList<HotkeyBindings::Shortcut> bindings = HotkeyBindings::shortcuts();
    QCOMPARE(bindings.size(), 9);  // copy and paste are the table's own
    auto binding = std::find_if(bindings.begin(), bindings.end(),
                                [&](const HotkeyBindings::Shortcut& b) { return b.actionId == action; });
    QVERIFY(binding != bindings.end());
    QCOMPARE(binding->sequence, QKeySequence(key));
    QCOMPARE(binding->scope == HotkeyBindings::Scope::WaveformView, inWaveform);

    // The window's shortcut for it: the whole program, or the waveform view.
    f.open();
    QList<QShortcut*> matching;
    for (QShortcut* shortcut : f.window->findChildren<QShortcut*>()) {
        if (shortcut->key() == QKeySequence(key))
            matching.append(shortcut);
    }
    QCOMPARE(matching.size(), 1);
    QCOMPARE(matching.first()->context(),
             inWaveform ? Qt::WidgetWithChildrenShortcut : Qt::ApplicationShortcut);
    QCOMPARE(matching.first()->parent() == f.waveform(), inWaveform);
}

void MainWindowShortcutsTest::storedBindings()
{
    QSettings settings;
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("playPause")), QStringLiteral("F9"));
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("stop")), QString());
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("next")), QStringLiteral("Ctrl+Shift+N"));
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("prev")), QStringLiteral("Ctrl+NoSuchKey"));
    QStringList actions;
    for (const HotkeyBindings::Shortcut& binding : HotkeyBindings::shortcuts()) {
        actions << binding.actionId;
        if (binding.actionId == QStringLiteral("playPause"))
            QCOMPARE(binding.sequence, QKeySequence(Qt::Key_F9));
        if (binding.actionId == QStringLiteral("next"))
            QCOMPARE(binding.sequence, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    }
    // A cleared binding and one that does not parse make no shortcut.
    QVERIFY(!actions.contains(QStringLiteral("stop")));
    QVERIFY(!actions.contains(QStringLiteral("prev")));
    QCOMPARE(actions.size(), 7);
}

void MainWindowShortcutsTest::showModeHotkeys_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QStringList>("registered");

    QTest::newRow("nothing stored: all but stop")
        << QVariantMap() << QStringList{"playPause:Space", "prev:Up", "next:Down", "volumeSwitch:Tab"};
    QTest::newRow("stop switched on, play switched off")
        << QVariantMap{{"shortcuts/stop_showGlobal", true}, {"shortcuts/playPause_showGlobal", false}}
        << QStringList{"prev:Up", "next:Down", "stop:Esc", "volumeSwitch:Tab"};
    QTest::newRow("a cleared key registers nothing")
        << QVariantMap{{"shortcuts/next", QString()}, {"shortcuts/prev", "F7"}}
        << QStringList{"playPause:Space", "prev:F7", "volumeSwitch:Tab"};
}

void MainWindowShortcutsTest::showModeHotkeys()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QStringList, registered);
    QSettings settings;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        settings.setValue(it.key(), it.value());
    QStringList got;
    for (const auto& [action, sequence] : HotkeyBindings::showModeHotkeys())
        got << action + QLatin1Char(':') + sequence.toString(QKeySequence::PortableText);
    QCOMPARE(got, registered);
}

void MainWindowShortcutsTest::deviceActionIsTheFirstInDispatchOrder()
{
    const QString button = QStringLiteral("ExtDev:VID_1234&PID_5678:Key34");
    QSettings settings;
    QCOMPARE(HotkeyBindings::deviceAction(button), QString());
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("audioEnd")), button);
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("stop")), button);
    QCOMPARE(HotkeyBindings::deviceAction(button), QStringLiteral("stop"));
    QCOMPARE(HotkeyBindings::deviceAction(button.toLower()), QString());
    // Every action the shortcut table offers a device cell for is found;
    // the transport and loop actions come first, then the A/B switch, copy
    // and paste.
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("stop")), QString());
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("audioEnd")), QString());
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("paste")), button);
    QCOMPARE(HotkeyBindings::deviceAction(button), QStringLiteral("paste"));
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("copy")), button);
    QCOMPARE(HotkeyBindings::deviceAction(button), QStringLiteral("copy"));
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("volumeSwitch")), button);
    QCOMPARE(HotkeyBindings::deviceAction(button), QStringLiteral("volumeSwitch"));
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("audioEnd")), button);
    QCOMPARE(HotkeyBindings::deviceAction(button), QStringLiteral("audioEnd"));
    QCOMPARE(HotkeyBindings::deviceAction(QString()), QString());
}

void MainWindowShortcutsTest::spacePressTogglesPlay()
{
    openShowingFirst();
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), cueA());
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Paused);
    // With the focus in the waveform view as well.
    f.waveform()->setFocus();
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), cueA());
}

void MainWindowShortcutsTest::transportKeysWorkAnywhere()
{
    openShowingFirst();
    f.waveform()->setFocus();
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(f.playingCue(), cueA());
    f.button("stopButton")->setFocus();
    QVERIFY(pressKey(QStringLiteral("Down")));
    QTRY_COMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    QVERIFY(pressKey(QStringLiteral("Up")));
    QTRY_COMPARE(f.playingCue(), cueA());
    QVERIFY(pressKey(QStringLiteral("Escape")));
    QTRY_COMPARE(state(), AudioEngine::Stopped);
    QCOMPARE(f.status(), QStringLiteral("已停止播放"));
}

void MainWindowShortcutsTest::escapeClosingADialogKeepsPlaying()
{
    openShowingFirst();
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Playing);

    // Esc and Space typed into a dialog belong to the dialog, not the show.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("x"),
                                QMessageBox::Ok, f.window.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    QTRY_COMPARE(QApplication::activeModalWidget(), box);
    QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(box->winId())}));
    QTRY_COMPARE(QApplication::activeWindow(), box);
    QPointer<QMessageBox> guard(box);
    QVERIFY(pressKey(QStringLiteral("Escape")));
    QTRY_VERIFY(!guard || !guard->isVisible());
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Playing);

    // Back in the window, the keys act again.
    focusWindow();
    f.button("playPasueButton")->setFocus();
    QVERIFY(pressKey(QStringLiteral("Escape")));
    QTRY_COMPARE(state(), AudioEngine::Stopped);
}

void MainWindowShortcutsTest::loopKeysOnlyWithFocusInTheWaveform()
{
    openShowingFirst();
    f.clickRow(0);
    QTRY_COMPARE(f.waveform()->cue(), cueA());
    f.waveform()->setPosition(1500);

    // Focus elsewhere in the window: the waveform's keys do nothing.
    f.button("stopButton")->setFocus();
    QVERIFY(pressKey(QStringLiteral("i")));
    QTest::qWait(200);
    QCOMPARE(cueA()->loopStartMs(), qint64(0));

    f.waveform()->setFocus();
    QVERIFY(pressKey(QStringLiteral("i")));
    QTRY_COMPARE(cueA()->loopStartMs(), qint64(1500));
    QCOMPARE(f.status(), QStringLiteral("设置音频起点"));
    QVERIFY(pressKey(QStringLiteral("bracketright")));
    QTRY_COMPARE(f.status(), QStringLiteral("跳转到音频终点"));
    QCOMPARE(f.waveform()->playheadMs(), qint64(4000));
    QVERIFY(pressKey(QStringLiteral("bracketleft")));
    QTRY_COMPARE(f.status(), QStringLiteral("跳转到音频起点"));
    QCOMPARE(f.waveform()->playheadMs(), qint64(1500));

    cueA()->setLoopRange(0, 4000, false);
}

void MainWindowShortcutsTest::changedBindingsTakeEffectAfterTheSettings()
{
    openShowingFirst();
    QSettings settings;
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("stop")), QString());
    settings.setValue(SettingsKeys::shortcutKey(QStringLiteral("playPause")), QStringLiteral("F9"));
    // The settings window reports its accepted changes.
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onSettingsClicked"));
    auto* panel = f.window->findChild<SettingsPanel*>();
    QVERIFY(panel);
    Q_EMIT panel->settingsChanged();
    panel->close();
    focusWindow();
    f.waveform()->setFocus();

    QVERIFY(pressKey(QStringLiteral("space")));
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Stopped);
    QVERIFY(pressKey(QStringLiteral("F9")));
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QVERIFY(pressKey(QStringLiteral("Escape")));
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Playing);
}

void MainWindowShortcutsTest::devicePresses()
{
    const QString button = QStringLiteral("ExtDev:VID_1234&PID_5678:Key34");
    QSettings settings;
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("prev")), button);
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("next")), button);
    openShowingFirst();
    HidDeviceManager* input = HidDeviceManager::instance();

    // While the settings window captures a binding, a press runs nothing.
    input->startCapture(HidDeviceManager::CaptureDevicePress);
    Q_EMIT input->buttonPressed(button);
    QCOMPARE(state(), AudioEngine::Stopped);
    input->stopCapture();

    // Bound to previous and next: previous comes first (the last row).
    Q_EMIT input->buttonPressed(button);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 2));
    Q_EMIT input->buttonPressed(QStringLiteral("ExtDev:VID_1234&PID_5678:Key35"));
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 2));
}

void MainWindowShortcutsTest::globalHotkeyIds()
{
    openShowingFirst();
    HidDeviceManager* input = HidDeviceManager::instance();
    Q_EMIT input->globalHotkeyTriggered(QStringLiteral("playPause"));
    QCOMPARE(f.playingCue(), cueA());
    QCOMPARE(state(), AudioEngine::Playing);
    // Only the five transport actions; ids compare exactly.
    for (const char* id : {"setLoopStart", "audioEnd", "PlayPause", "copy", ""})
        Q_EMIT input->globalHotkeyTriggered(QString::fromLatin1(id));
    QCOMPARE(state(), AudioEngine::Playing);
    QCOMPARE(cueA()->loopStartMs(), qint64(0));
    Q_EMIT input->globalHotkeyTriggered(QStringLiteral("next"));
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    Q_EMIT input->globalHotkeyTriggered(QStringLiteral("stop"));
    QCOMPARE(state(), AudioEngine::Stopped);
}

void MainWindowShortcutsTest::showModeHotkeysWorkFromAnotherProgram()
{
    openShowingFirst();
    OtherProgramWindow other;
    other.takeFocus();
    QTRY_VERIFY(!QApplication::activeWindow());

    // Edit mode: the program does not hear keys meant for another.
    QVERIFY(pressKey(QStringLiteral("space")));
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Stopped);

    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onShowModeClicked"));
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), cueA());
    QVERIFY(pressKey(QStringLiteral("Down")));
    QTRY_COMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    // Escape is not a show-mode hotkey by default.
    QVERIFY(pressKey(QStringLiteral("Escape")));
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Playing);

    // Back in edit mode the keys are released.
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onEditModeClicked"));
    QVERIFY(pressKey(QStringLiteral("space")));
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Playing);
}

void MainWindowShortcutsTest::keyBoundAsDeviceKeyActsOnce()
{
    // Space bound as a device key for play/pause: the shortcut gives way,
    // so one press plays (it would pause again if both acted).
    QSettings settings;
    settings.setValue(SettingsKeys::shortcutDeviceKey(QStringLiteral("playPause")), QStringLiteral("Keyboard:Key32"));
    HidDeviceManager::instance()->addBoundKeyboardKey(32);  // as the shortcut table does
    openShowingFirst();
    QVERIFY(pressKey(QStringLiteral("space")));
    QTRY_COMPARE(state(), AudioEngine::Playing);
    QTest::qWait(200);
    QCOMPARE(state(), AudioEngine::Playing);
    QCOMPARE(f.playingCue(), cueA());
}

QTEST_MAIN(MainWindowShortcutsTest)
#include "MainWindowShortcutsTest.moc"
