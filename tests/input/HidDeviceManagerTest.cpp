#include "input/FakeEvdevDevice.h"
#include "input/HidDeviceManager.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <linux/input.h>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using Kind = FakeEvdevDevice::Kind;

namespace {

struct Step {
    int type;
    int code;
    int value;
};
using Steps = QList<Step>;

// Key events, each followed by the report that closes its frame.
Steps keys(std::initializer_list<std::pair<int, int>> events)
{
    Steps steps;
    for (const auto& [code, value] : events) {
        steps.append({EV_KEY, code, value});
        steps.append({EV_SYN, SYN_REPORT, 0});
    }
    return steps;
}

QSet<QString> everyIdentifierOf(const QString& deviceId)
{
    QSet<QString> identifiers;
    for (int n = 0; n < 256; ++n) {
        identifiers.insert(QStringLiteral("ExtDev:%1:Key%2").arg(deviceId).arg(n));
        identifiers.insert(QStringLiteral("ExtDev:%1:Btn%2").arg(deviceId).arg(n));
    }
    return identifiers;
}

QStringList texts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& arguments : spy)
        result.append(arguments.at(0).toString());
    return result;
}

QString presenterKey(int virtualKey)
{
    return QStringLiteral("ExtDev:%1:Key%2").arg(FakeEvdevDevice::deviceId(Kind::Presenter)).arg(virtualKey);
}

// Reads what the device holds and runs the queued reports.
void deliver(FakeEvdevDevice& device)
{
    device.device()->readPending();
    QCoreApplication::sendPostedEvents();
}

// A focused window that counts the key presses it gets, modifiers aside.
class KeyTarget : public QWidget {
public:
    KeyTarget()
    {
        setFocusPolicy(Qt::StrongFocus);
        show();
        activateWindow();
        setFocus();
    }
    int presses = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const int key = event->key();
        if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt && key != Qt::Key_Meta)
            ++presses;
    }
};

// Runs the file system work of a test as an unprivileged user, so that a
// node without read permission is unreadable even when the test runs as root.
class UnprivilegedFiles {
public:
    UnprivilegedFiles() : m_previous(setfsuid(65534)) {}
    ~UnprivilegedFiles() { setfsuid(m_previous); }

private:
    int m_previous;
};

}  // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(FakeEvdevDevice::Kind)

class HidDeviceManagerTest : public QObject {
    Q_OBJECT
private slots:
    void identifiers_data();
    void identifiers();
    void captureOrPress_data();
    void captureOrPress();
    void reportIsDecidedWhenDelivered();
    void unpluggedDeviceLeavesTable();
    void deviceIds_data();
    void deviceIds();

    void keySequenceCapture_data();
    void keySequenceCapture();
    void keySequenceCaptureStopsShortcuts();
    void deviceCaptureTakesKeyOfLastKeyboard();
    void deviceKeyIsNotAlsoAnOrdinaryKey();
    void deviceKeyDoesNotFireShortcut();
    void boundKeyboardKeys();

    void qtKeys_data();
    void qtKeys();
    void qtModifiers_data();
    void qtModifiers();
    void unmappableHotkeyRegistersNothing();
    void hotkeysNeedX11();
    void unknownHotkeyId();

    void unreadableNodesAreLoggedOnce();
    void stopClosesDevices();
};

// --- devices ---------------------------------------------------------------

void HidDeviceManagerTest::identifiers_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QStringList>("expected");

    const QString presenter = FakeEvdevDevice::deviceId(Kind::Presenter);
    const QString mouse = FakeEvdevDevice::deviceId(Kind::Mouse);
    const QString pedal = FakeEvdevDevice::deviceId(Kind::Pedal);
    const QString media = FakeEvdevDevice::deviceId(Kind::MediaKeys);
    auto id = [](const QString& device, const char* kind, int n) {
        return QStringLiteral("ExtDev:%1:%2%3").arg(device, QLatin1String(kind)).arg(n);
    };

    QTest::newRow("presenter page down") << Kind::Presenter << keys({{KEY_PAGEDOWN, 1}, {KEY_PAGEDOWN, 0}})
                                         << QStringList{id(presenter, "Key", 34)};
    QTest::newRow("held key repeats") << Kind::Presenter
                                      << keys({{KEY_PAGEUP, 1}, {KEY_PAGEUP, 2}, {KEY_PAGEUP, 2}, {KEY_PAGEUP, 0}})
                                      << QStringList(3, id(presenter, "Key", 33));
    QTest::newRow("release alone") << Kind::Presenter << keys({{KEY_B, 0}}) << QStringList{};
    QTest::newRow("modifiers alone") << Kind::Presenter
                                     << keys({{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 2}, {KEY_RIGHTSHIFT, 1},
                                              {KEY_LEFTCTRL, 1}, {KEY_RIGHTCTRL, 1}, {KEY_LEFTALT, 1},
                                              {KEY_RIGHTALT, 1}, {KEY_LEFTMETA, 1}, {KEY_RIGHTMETA, 1},
                                              {KEY_CAPSLOCK, 1}})
                                     << QStringList{};
    QTest::newRow("key under a held modifier")
        << Kind::Presenter << keys({{KEY_LEFTSHIFT, 1}, {KEY_F5, 1}, {KEY_F5, 0}, {KEY_LEFTSHIFT, 0}})
        << QStringList{id(presenter, "Key", 116)};
    QTest::newRow("presenter keys") << Kind::Presenter
                                    << keys({{KEY_B, 1}, {KEY_DOT, 1}, {KEY_ESC, 1}, {KEY_SPACE, 1}, {KEY_ENTER, 1}})
                                    << QStringList{id(presenter, "Key", 66), id(presenter, "Key", 190),
                                                   id(presenter, "Key", 27), id(presenter, "Key", 32),
                                                   id(presenter, "Key", 13)};
    QTest::newRow("bluetooth presenter") << Kind::BluetoothPresenter << keys({{KEY_B, 1}})
                                         << QStringList{id(presenter, "Key", 66)};
    QTest::newRow("built-in keyboard has no id") << Kind::InternalKeyboard << keys({{KEY_B, 1}}) << QStringList{};
    QTest::newRow("mouse buttons")
        << Kind::Mouse
        << keys({{BTN_LEFT, 1}, {BTN_LEFT, 0}, {BTN_RIGHT, 1}, {BTN_MIDDLE, 1}, {BTN_SIDE, 1}, {BTN_EXTRA, 1}})
        << QStringList{id(mouse, "Btn", 1), id(mouse, "Btn", 2), id(mouse, "Btn", 3), id(mouse, "Btn", 4),
                       id(mouse, "Btn", 5)};
    QTest::newRow("mouse movement") << Kind::Mouse
                                    << Steps{{EV_REL, REL_X, 5}, {EV_REL, REL_WHEEL, 1}, {EV_SYN, SYN_REPORT, 0}}
                                    << QStringList{};
    QTest::newRow("pedal buttons by place") << Kind::Pedal
                                            << keys({{BTN_THUMB, 1}, {BTN_THUMB, 0}, {BTN_TRIGGER, 1}})
                                            << QStringList{id(pedal, "Btn", 2), id(pedal, "Btn", 1)};
    QTest::newRow("media keys by place") << Kind::MediaKeys << keys({{KEY_PLAYPAUSE, 1}, {KEY_PLAYPAUSE, 2}})
                                         << QStringList{id(media, "Btn", 5)};
    QTest::newRow("keyboard with pointer") << Kind::KeyboardWithPointer << keys({{BTN_LEFT, 1}, {KEY_B, 1}})
                                           << QStringList{id(presenter, "Btn", 1), id(presenter, "Key", 66)};
    QTest::newRow("touch") << Kind::TouchScreen << keys({{BTN_TOUCH, 1}}) << QStringList{};
    QTest::newRow("events lost in an overflow")
        << Kind::Presenter
        << Steps{{EV_KEY, KEY_B, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_SYN, SYN_DROPPED, 0}, {EV_KEY, KEY_C, 1},
                 {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_D, 1}, {EV_SYN, SYN_REPORT, 0}}
        << QStringList{id(presenter, "Key", 66), id(presenter, "Key", 68)};
}

void HidDeviceManagerTest::identifiers()
{
    QFETCH(Kind, kind);
    QFETCH(Steps, steps);
    QFETCH(QStringList, expected);

    HidDeviceManager manager(QString{});
    manager.setGlobalMode(true);
    // Everything the device could say is bound, so that every press shows.
    manager.setBoundIdentifiers(everyIdentifierOf(FakeEvdevDevice::deviceId(kind))
                                | everyIdentifierOf(FakeEvdevDevice::deviceId(Kind::Presenter)));
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);
    FakeEvdevDevice device(manager, kind);
    for (const Step& step : steps)
        device.send(step.type, step.code, step.value);
    deliver(device);
    QCOMPARE(texts(pressed), expected);
}

void HidDeviceManagerTest::captureOrPress_data()
{
    QTest::addColumn<int>("captureMode");  // -1: no capture
    QTest::addColumn<bool>("bound");
    QTest::addColumn<bool>("globalMode");
    QTest::addColumn<bool>("appActive");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("expectPressed");
    QTest::addColumn<bool>("expectCaptured");
    QTest::addColumn<bool>("stillCapturing");

    QTest::newRow("bound, global") << -1 << true << true << false << Kind::Mouse << true << false << false;
    QTest::newRow("not bound") << -1 << false << true << true << Kind::Mouse << false << false << false;
    QTest::newRow("bound, in the back, not global")
        << -1 << true << false << false << Kind::Presenter << false << false << false;
    QTest::newRow("bound, in front, not global")
        << -1 << true << false << true << Kind::Presenter << true << false << false;
    QTest::newRow("device capture takes any button")
        << 2 << false << false << false << Kind::Mouse << false << true << false;
    QTest::newRow("device capture waits for the key event")
        << 2 << true << true << true << Kind::Presenter << false << false << true;
    QTest::newRow("key capture ignores devices") << 1 << true << true << true << Kind::Mouse << false << false << true;
    QTest::newRow("capture in no mode goes the bound way")
        << 0 << true << true << false << Kind::Mouse << false << true << false;
    QTest::newRow("capture in no mode, not bound") << 0 << false << true << false << Kind::Mouse << false << false
                                                   << true;
}

void HidDeviceManagerTest::captureOrPress()
{
    QFETCH(int, captureMode);
    QFETCH(bool, bound);
    QFETCH(bool, globalMode);
    QFETCH(bool, appActive);
    QFETCH(Kind, kind);
    QFETCH(bool, expectPressed);
    QFETCH(bool, expectCaptured);
    QFETCH(bool, stillCapturing);

    std::unique_ptr<KeyTarget> window;
    if (appActive) {
        window = std::make_unique<KeyTarget>();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    QVERIFY(appActive == (QGuiApplication::focusWindow() != nullptr));

    HidDeviceManager manager(QString{});
    FakeEvdevDevice device(manager, kind);
    const int code = kind == Kind::Mouse ? BTN_LEFT : KEY_B;
    const QString identifier = kind == Kind::Mouse
        ? QStringLiteral("ExtDev:%1:Btn1").arg(FakeEvdevDevice::deviceId(kind))
        : presenterKey(0x42);
    if (bound)
        manager.setBoundIdentifiers({identifier});
    manager.setGlobalMode(globalMode);
    if (captureMode >= 0)
        manager.startCapture(captureMode);
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);
    QSignalSpy captured(&manager, &HidDeviceManager::buttonCaptured);

    device.tap(code);
    deliver(device);

    QCOMPARE(texts(pressed), expectPressed ? QStringList{identifier} : QStringList{});
    QCOMPARE(texts(captured), expectCaptured ? QStringList{identifier} : QStringList{});
    QCOMPARE(manager.isCapturing(), stillCapturing);
}

void HidDeviceManagerTest::reportIsDecidedWhenDelivered()
{
    // A press read during a capture is reported as a press when the capture
    // ended before the queued report ran; later presses go the bound way.
    HidDeviceManager manager(QString{});
    FakeEvdevDevice device(manager, Kind::Pedal);
    const QString identifier = QStringLiteral("ExtDev:%1:Btn1").arg(FakeEvdevDevice::deviceId(Kind::Pedal));
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);
    QSignalSpy captured(&manager, &HidDeviceManager::buttonCaptured);

    manager.startCapture(HidDeviceManager::CaptureDevicePress);
    device.tap(BTN_TRIGGER);
    device.device()->readPending();
    manager.stopCapture();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(texts(pressed), QStringList{identifier});
    QCOMPARE(captured.count(), 0);

    // Through the event loop: the device's notifier reads, the report follows.
    manager.startCapture(HidDeviceManager::CaptureDevicePress);
    device.tap(BTN_TRIGGER);
    QTRY_COMPARE(captured.count(), 1);
    QVERIFY(!manager.isCapturing());
}

void HidDeviceManagerTest::unpluggedDeviceLeavesTable()
{
    HidDeviceManager manager(QString{});
    manager.setGlobalMode(true);
    manager.setBoundIdentifiers({presenterKey(34)});
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);
    auto device = std::make_unique<FakeEvdevDevice>(manager, Kind::Presenter);
    const quint64 handle = device->handle();
    QPointer<EvdevDevice> reader = device->device();
    QVERIFY(manager.isDeviceUsable(handle));

    // The last press before the device went away still counts.
    device->press(KEY_PAGEDOWN);
    device->unplug();
    QTRY_VERIFY(!manager.isDeviceUsable(handle));
    QTRY_VERIFY(reader.isNull());
    QCOMPARE(texts(pressed), QStringList{presenterKey(34)});
    QVERIFY(!manager.isDeviceUsable(0));
}

void HidDeviceManagerTest::deviceIds_data()
{
    QTest::addColumn<int>("bus");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<QString>("expected");
    QTest::newRow("usb") << int(BUS_USB) << 0x045E << 0x028E << QStringLiteral("VID_045E&PID_028E");
    QTest::newRow("bluetooth") << int(BUS_BLUETOOTH) << 0x045E << 0x07A5 << QStringLiteral("VID_045E&PID_07A5");
    QTest::newRow("small numbers padded") << int(BUS_USB) << 0x1 << 0xAB << QStringLiteral("VID_0001&PID_00AB");
    QTest::newRow("built-in keyboard") << int(BUS_I8042) << 0x0001 << 0x0001 << QString();
    QTest::newRow("virtual device") << int(BUS_VIRTUAL) << 0x045E << 0x028E << QString();
}

void HidDeviceManagerTest::deviceIds()
{
    QFETCH(int, bus);
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(QString, expected);
    QCOMPARE(HidDeviceManager::deviceIdFromIds(quint16(bus), quint16(vendor), quint16(product)), expected);
}

// --- keys of the application -------------------------------------------------

void HidDeviceManagerTest::keySequenceCapture_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected");  // empty: nothing captured
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << int(Qt::ControlModifier) << QStringLiteral("Ctrl+C");
    QTest::newRow("Ctrl+Shift+A") << int(Qt::Key_A) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << QStringLiteral("Ctrl+Shift+A");
    QTest::newRow("Escape binds, does not cancel") << int(Qt::Key_Escape) << 0 << QStringLiteral("Esc");
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << QStringLiteral("Space");
    QTest::newRow("F5") << int(Qt::Key_F5) << 0 << QStringLiteral("F5");
    QTest::newRow("a letter is not typed") << int(Qt::Key_A) << 0 << QStringLiteral("A");
    QTest::newRow("Shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << QString();
    QTest::newRow("Control alone") << int(Qt::Key_Control) << int(Qt::ControlModifier) << QString();
}

void HidDeviceManagerTest::keySequenceCapture()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);

    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    HidDeviceManager manager(QString{});
    manager.start();
    QSignalSpy captured(&manager, &HidDeviceManager::buttonCaptured);
    manager.startCapture(HidDeviceManager::CaptureKeySequence);

    QTest::keyPress(&target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::keyRelease(&target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(texts(captured), expected.isEmpty() ? QStringList{} : QStringList{expected});
    QCOMPARE(manager.isCapturing(), expected.isEmpty());
    QCOMPARE(target.presses, 0);
}

void HidDeviceManagerTest::keySequenceCaptureStopsShortcuts()
{
    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    int fired = 0;
    QShortcut shortcut(QKeySequence(QStringLiteral("Space")), &target);
    shortcut.setContext(Qt::ApplicationShortcut);
    connect(&shortcut, &QShortcut::activated, this, [&fired] { ++fired; });
    HidDeviceManager manager(QString{});
    manager.start();
    QSignalSpy captured(&manager, &HidDeviceManager::buttonCaptured);

    manager.startCapture(HidDeviceManager::CaptureKeySequence);
    QTest::keyClick(&target, Qt::Key_Space);
    QCOMPARE(texts(captured), QStringList{QStringLiteral("Space")});
    QCOMPARE(fired, 0);

    // Captured once; afterwards the shortcut works again.
    QTest::keyClick(&target, Qt::Key_Space);
    QCOMPARE(fired, 1);
    QCOMPARE(captured.count(), 1);
}

void HidDeviceManagerTest::deviceCaptureTakesKeyOfLastKeyboard()
{
    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    HidDeviceManager manager(QString{});
    manager.start();
    FakeEvdevDevice builtIn(manager, Kind::InternalKeyboard);
    FakeEvdevDevice presenter(manager, Kind::Presenter);
    QSignalSpy captured(&manager, &HidDeviceManager::buttonCaptured);
    manager.startCapture(HidDeviceManager::CaptureDevicePress);

    // A key of a keyboard without ids names no device: nothing, and the key is swallowed.
    builtIn.tap(KEY_B);
    QTest::keyClick(&target, Qt::Key_B);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(captured.count(), 0);
    QVERIFY(manager.isCapturing());
    QCOMPARE(target.presses, 0);

    // The presenter's record comes first (it is read before the key is
    // handled, even while the event loop has not seen it yet).
    presenter.tap(KEY_PAGEDOWN);
    QTest::keyClick(&target, Qt::Key_PageDown);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(texts(captured), QStringList{presenterKey(34)});
    QVERIFY(!manager.isCapturing());
    QCOMPARE(target.presses, 0);

    // The next built-in key is still put down to the presenter that came last.
    manager.startCapture(HidDeviceManager::CaptureDevicePress);
    builtIn.tap(KEY_C);
    QTest::keyClick(&target, Qt::Key_C);
    QCOMPARE(texts(captured).value(1), presenterKey(0x43));
}

void HidDeviceManagerTest::deviceKeyIsNotAlsoAnOrdinaryKey()
{
    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    HidDeviceManager manager(QString{});
    manager.start();
    manager.setBoundIdentifiers({presenterKey(34)});
    FakeEvdevDevice presenter(manager, Kind::Presenter);
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);

    // The window system hands the key over before our event loop has read the
    // device; the device still comes first and the key is swallowed once.
    presenter.press(KEY_PAGEDOWN);
    QTest::keyPress(&target, Qt::Key_PageDown);
    QCOMPARE(target.presses, 0);
    QTRY_COMPARE(texts(pressed), QStringList{presenterKey(34)});

    QTest::keyPress(&target, Qt::Key_PageDown);
    QCOMPARE(target.presses, 1);
    QCOMPARE(pressed.count(), 1);
}

void HidDeviceManagerTest::deviceKeyDoesNotFireShortcut()
{
    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    int fired = 0;
    QShortcut shortcut(QKeySequence(QStringLiteral("Space")), &target);
    shortcut.setContext(Qt::ApplicationShortcut);
    connect(&shortcut, &QShortcut::activated, this, [&fired] { ++fired; });
    HidDeviceManager manager(QString{});
    manager.start();
    manager.setBoundIdentifiers({presenterKey(32)});
    FakeEvdevDevice presenter(manager, Kind::Presenter);
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);

    presenter.tap(KEY_SPACE);
    QTest::keyClick(&target, Qt::Key_Space);
    QTRY_COMPARE(pressed.count(), 1);
    QCOMPARE(fired, 0);

    // Space of another keyboard is the ordinary shortcut.
    QTest::keyClick(&target, Qt::Key_Space);
    QCOMPARE(fired, 1);
    QCOMPARE(pressed.count(), 1);
}

void HidDeviceManagerTest::boundKeyboardKeys()
{
    KeyTarget target;
    QVERIFY(QTest::qWaitForWindowActive(&target));
    HidDeviceManager manager(QString{});
    manager.start();
    manager.addBoundKeyboardKey(34);
    QVERIFY(manager.isKeyboardKeyBound(34));
    QVERIFY(!manager.isKeyboardKeyBound(33));
    QSignalSpy pressed(&manager, &HidDeviceManager::buttonPressed);

    // Reported at once, while the key event is handled; the key is used up.
    QTest::keyClick(&target, Qt::Key_PageDown);
    QCOMPARE(texts(pressed), QStringList{QStringLiteral("Keyboard:Key34")});
    QCOMPARE(target.presses, 0);
    QTest::keyClick(&target, Qt::Key_PageDown);
    QCOMPARE(pressed.count(), 2);

    // Repeats are presses too.
    QTest::sendKeyEvent(QTest::Press, &target, Qt::Key_PageDown, QString(), Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(&target, &repeat);
    QCOMPARE(pressed.count(), 4);

    QTest::keyClick(&target, Qt::Key_PageUp);
    QCOMPARE(pressed.count(), 4);
    QCOMPARE(target.presses, 1);
}

// --- system-wide hotkeys -----------------------------------------------------

void HidDeviceManagerTest::qtKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");
    const QList<QPair<int, int>> table = {
        {Qt::Key_Space, 32},   {Qt::Key_0, 48},        {Qt::Key_9, 57},      {Qt::Key_A, 65},
        {Qt::Key_Z, 90},       {Qt::Key_Escape, 27},   {Qt::Key_Tab, 9},     {Qt::Key_Backspace, 8},
        {Qt::Key_Return, 13},  {Qt::Key_Enter, 13},    {Qt::Key_Insert, 45}, {Qt::Key_Delete, 46},
        {Qt::Key_Home, 36},    {Qt::Key_End, 35},      {Qt::Key_Left, 37},   {Qt::Key_Up, 38},
        {Qt::Key_Right, 39},   {Qt::Key_Down, 40},     {Qt::Key_PageUp, 33}, {Qt::Key_PageDown, 34},
        {Qt::Key_F1, 112},     {Qt::Key_F12, 123},     {Qt::Key_F13, 0},     {Qt::Key_BracketLeft, 0},
        {Qt::Key_Period, 0},   {Qt::Key_MediaPlay, 0},
    };
    for (const auto& [key, code] : table)
        QTest::addRow("%s", QKeySequence(key).toString().toLatin1().constData()) << key << code;
}

void HidDeviceManagerTest::qtKeys()
{
    QFETCH(int, key);
    QFETCH(int, expected);
    LogCapture log;
    QCOMPARE(HidDeviceManager::qtKeyToVirtualKey(key), expected);
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Unmapped Qt key for Windows VK:")), expected == 0 ? 1 : 0);
}

void HidDeviceManagerTest::qtModifiers_data()
{
    QTest::addColumn<int>("combination");
    QTest::addColumn<int>("expected");
    auto combined = [](Qt::KeyboardModifiers modifiers, Qt::Key key) {
        return QKeyCombination(modifiers, key).toCombined();
    };
    QTest::newRow("Ctrl+Alt+P") << combined(Qt::ControlModifier | Qt::AltModifier, Qt::Key_P) << 0x3;
    QTest::newRow("Shift") << combined(Qt::ShiftModifier, Qt::Key_A) << 0x4;
    QTest::newRow("Meta") << combined(Qt::MetaModifier, Qt::Key_A) << 0x8;
    QTest::newRow("all four")
        << combined(Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier, Qt::Key_F1) << 0xF;
    QTest::newRow("keypad dropped") << combined(Qt::KeypadModifier, Qt::Key_1) << 0;
}

void HidDeviceManagerTest::qtModifiers()
{
    QFETCH(int, combination);
    QFETCH(int, expected);
    QCOMPARE(HidDeviceManager::qtModifiersToWin(combination), expected);
}

void HidDeviceManagerTest::unmappableHotkeyRegistersNothing()
{
    HidDeviceManager manager(QString{});
    LogCapture log;
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("audioStart"), QKeySequence(QStringLiteral("F13"))));
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("audioStart"), QKeySequence(QStringLiteral("["))));
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Unmapped Qt key for Windows VK:")), 2);
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Cannot map Qt key to Windows VK:")), 2);
    QVERIFY(log.contains(QStringLiteral("Key_F13")));
    // Empty action or key: nothing at all.
    log.clear();
    QVERIFY(!manager.registerGlobalHotkey(QString(), QKeySequence(QStringLiteral("Space"))));
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("playPause"), QKeySequence()));
    QCOMPARE(log.lines(), QStringList{});
}

void HidDeviceManagerTest::hotkeysNeedX11()
{
    // Tests run on the offscreen platform: no X server to grab keys on.
    HidDeviceManager manager(QString{});
    LogCapture log;
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("playPause"), QKeySequence(QStringLiteral("Space"))));
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("next"), QKeySequence(QStringLiteral("Down"))));
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Global hotkeys are not available:")), 1);
    QVERIFY(log.contains(QStringLiteral("offscreen")));
    manager.unregisterAllHotkeys();
}

void HidDeviceManagerTest::unknownHotkeyId()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    LogCapture log;
    manager.handleHotkey(-3);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(triggered.count(), 0);
    QCOMPARE(log.lines(), QStringList{QStringLiteral("[HidDeviceManager] Unknown hotkey ID: -3")});
}

// --- the device directory ----------------------------------------------------

void HidDeviceManagerTest::unreadableNodesAreLoggedOnce()
{
    // Below /tmp, so that the unprivileged user can reach it.
    QTemporaryDir directory(QStringLiteral("/tmp/corvelle-input-XXXXXX"));
    QVERIFY(directory.isValid());
    QVERIFY(::chmod(QFile::encodeName(directory.path()).constData(), 0777) == 0);
    UnprivilegedFiles unprivileged;
    auto makeNode = [&directory](const char* name, mode_t mode) {
        const QByteArray path = QFile::encodeName(directory.filePath(QLatin1String(name)));
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0)
            ::close(fd);
        ::chmod(path.constData(), mode);
        return fd >= 0;
    };

    LogCapture log;
    HidDeviceManager manager(directory.path());
    manager.start();
    QCOMPARE(log.count(QStringLiteral("No permission")), 0);

    // Plugged in later: the watch on the directory finds it.
    QVERIFY(makeNode("event3", 0));
    QTRY_COMPARE(log.count(QStringLiteral("[HidDeviceManager] No permission to read input devices")), 1);
    QVERIFY(log.contains(QStringLiteral("'input' group")));

    // Once is enough: more unreadable nodes and rescans stay quiet.
    QVERIFY(makeNode("event4", 0));
    QVERIFY(makeNode("mouse0", 0644));
    QVERIFY(makeNode("event5", 0644));  // readable, but no input device
    manager.refreshDevices();
    QTest::qWait(100);
    QCOMPARE(log.count(QStringLiteral("No permission")), 1);
}

void HidDeviceManagerTest::stopClosesDevices()
{
    HidDeviceManager manager(QString{});
    manager.start();
    FakeEvdevDevice device(manager, Kind::Presenter);
    QPointer<EvdevDevice> reader = device.device();
    manager.stop();
    QVERIFY(reader.isNull());
    QVERIFY(!manager.isDeviceUsable(device.handle()));
}

QTEST_MAIN(HidDeviceManagerTest)
#include "HidDeviceManagerTest.moc"
