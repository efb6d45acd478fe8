// Runs on a private Xvfb display (tests/support/run-in-xvfb.sh) and presses
// keys with xdotool, as an operator would on the X server.
#include "input/HidDeviceManager.h"
#include "platform/XcbKeyGrabber.h"
#include "support/LogCapture.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

constexpr quint16 kControl = XCB_MOD_MASK_CONTROL;
constexpr quint16 kAlt = XCB_MOD_MASK_1;
constexpr quint16 kNumLock = XCB_MOD_MASK_2;

bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// A second X client on the same display, holding key combinations of its own.
class OtherClient {
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool isConnected() const { return xcb_connection_has_error(m_connection) == 0; }

    // The first key code that carries the keysym unshifted.
    quint8 keycodeOf(quint32 keysym) const
    {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, quint8(count)), nullptr);
        quint8 keycode = 0;
        if (reply) {
            const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
            for (int k = 0; k < count && keycode == 0; ++k) {
                if (syms[k * reply->keysyms_per_keycode] == keysym)
                    keycode = quint8(setup->min_keycode + k);
            }
            std::free(reply);
        }
        return keycode;
    }

    bool grab(quint32 keysym, quint16 modifiers)
    {
        xcb_generic_error_t* error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycodeOf(keysym),
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
};

// Counts the key presses X sends to the root window, before anything else
// sees them.
class RootKeyPresses : public QAbstractNativeEventFilter {
public:
    int presses = 0;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType == "xcb_generic_event_t"
            && (static_cast<xcb_generic_event_t*>(message)->response_type & ~0x80) == XCB_KEY_PRESS)
            ++presses;
        return false;
    }
};

xcb_key_press_event_t keyEvent(quint8 type, quint8 keycode, quint16 state, quint32 time)
{
    xcb_key_press_event_t event{};
    event.response_type = type;
    event.detail = keycode;
    event.state = state;
    event.time = time;
    return event;
}

QStringList ids(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& arguments : spy)
        result.append(arguments.at(0).toString());
    return result;
}

}  // namespace

class GlobalHotkeyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void firesOnceWhileHeld();
    void firesUnderEveryLockState();
    void onlyTheFirstCombinationCounts();
    void combinationHeldByAnotherClientFails();
    void unregisteringReleasesTheKeys();
    void hotkeyIdsAreNeverReused();
    void repeatsAndReleasesOfGrabbedKeys();
};

void GlobalHotkeyTest::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(),
             "xdotool is missing (scripts/install-deps.sh installs it)");
    QCOMPARE(XcbKeyGrabber::unavailableReason(), QString());
}

void GlobalHotkeyTest::firesOnceWhileHeld()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("playPause"), QKeySequence(QStringLiteral("Ctrl+Alt+P"))));
    RootKeyPresses raw;
    qGuiApp->installNativeEventFilter(&raw);

    // Held past the server's auto-repeat delay.
    QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+p")}));
    QTest::qWait(1200);
    QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+p")}));
    QTRY_COMPARE(ids(triggered), QStringList{QStringLiteral("playPause")});
    QTest::qWait(200);
    QCOMPARE(triggered.count(), 1);
    qInfo() << "key presses X sent while the hotkey was held:" << raw.presses;

    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+p")}));
    QTRY_COMPARE(triggered.count(), 2);
    // Without its modifiers the key is not the hotkey.
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("p")}));
    QTest::qWait(200);
    QCOMPARE(triggered.count(), 2);
    qGuiApp->removeNativeEventFilter(&raw);
}

void GlobalHotkeyTest::firesUnderEveryLockState()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("next"), QKeySequence(QStringLiteral("Ctrl+Alt+N"))));

    const QList<QStringList> toggles = {{}, {QStringLiteral("Num_Lock")}, {QStringLiteral("Caps_Lock")},
                                        {QStringLiteral("Num_Lock")}};
    int expected = 0;
    for (const QStringList& toggle : toggles) {
        if (!toggle.isEmpty())
            QVERIFY(xdotool(QStringList{QStringLiteral("key")} + toggle));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+n")}));
        ++expected;
        QTRY_COMPARE(triggered.count(), expected);
    }
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")}));
}

void GlobalHotkeyTest::onlyTheFirstCombinationCounts()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("prev"),
                                         QKeySequence(QStringLiteral("Ctrl+Alt+Q, Ctrl+Alt+W"))));
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+w")}));
    QTest::qWait(200);
    QCOMPARE(triggered.count(), 0);
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")}));
    QTRY_COMPARE(ids(triggered), QStringList{QStringLiteral("prev")});
}

void GlobalHotkeyTest::combinationHeldByAnotherClientFails()
{
    OtherClient other;
    QVERIFY(other.isConnected());
    QVERIFY(other.grab('k', kControl | kAlt));

    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    LogCapture log;
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("stop"), QKeySequence(QStringLiteral("Ctrl+Alt+K"))));
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] RegisterHotKey failed for \"stop\" error: 10")), 1);

    // Another client holding only the Num Lock variant is enough to fail, and
    // then none of the other variants stays grabbed by us.
    QVERIFY(other.grab('j', kControl | kAlt | kNumLock));
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("next"), QKeySequence(QStringLiteral("Ctrl+Alt+J"))));
    QVERIFY(other.grab('j', kControl | kAlt));

    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
    QTest::qWait(200);
    QCOMPARE(triggered.count(), 0);
}

void GlobalHotkeyTest::unregisteringReleasesTheKeys()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("volumeSwitch"), QKeySequence(QStringLiteral("Ctrl+Alt+U"))));
    OtherClient other;
    QVERIFY(!other.grab('u', kControl | kAlt));

    manager.unregisterAllHotkeys();
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+u")}));
    QTest::qWait(200);
    QCOMPARE(triggered.count(), 0);
    QVERIFY(other.grab('u', kControl | kAlt));
}

void GlobalHotkeyTest::hotkeyIdsAreNeverReused()
{
    HidDeviceManager manager(QString{});
    QSignalSpy triggered(&manager, &HidDeviceManager::globalHotkeyTriggered);
    OtherClient other;
    QVERIFY(other.grab('y', kControl | kAlt));
    LogCapture log;

    // A key without a code uses no id; a refused grab uses one.
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("audioStart"), QKeySequence(QStringLiteral("F13"))));
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("playPause"), QKeySequence(QStringLiteral("Ctrl+Alt+A"))));
    QVERIFY(!manager.registerGlobalHotkey(QStringLiteral("stop"), QKeySequence(QStringLiteral("Ctrl+Alt+Y"))));
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("next"), QKeySequence(QStringLiteral("Ctrl+Alt+B"))));
    manager.handleHotkey(1);
    manager.handleHotkey(3);
    manager.handleHotkey(2);
    QTRY_COMPARE(ids(triggered), (QStringList{QStringLiteral("playPause"), QStringLiteral("next")}));
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Unknown hotkey ID: 2")), 1);

    manager.unregisterAllHotkeys();
    QVERIFY(manager.registerGlobalHotkey(QStringLiteral("prev"), QKeySequence(QStringLiteral("Ctrl+Alt+A"))));
    manager.handleHotkey(1);
    manager.handleHotkey(4);
    QTRY_COMPARE(ids(triggered).size(), 3);
    QCOMPARE(ids(triggered).last(), QStringLiteral("prev"));
    QCOMPARE(log.count(QStringLiteral("[HidDeviceManager] Unknown hotkey ID: 1")), 1);
}

void GlobalHotkeyTest::repeatsAndReleasesOfGrabbedKeys()
{
    XcbKeyGrabber grabber;
    QSignalSpy pressed(&grabber, &XcbKeyGrabber::keyPressed);
    QCOMPARE(grabber.grab(7, 'p', XcbKeyGrabber::ControlModifier | XcbKeyGrabber::AltModifier),
             XcbKeyGrabber::GrabResult::Grabbed);
    const quint8 p = OtherClient().keycodeOf('p');
    const quint8 q = OtherClient().keycodeOf('q');
    QVERIFY(p != 0);
    auto feed = [&grabber](quint8 type, quint8 keycode, quint16 state, quint32 time) {
        xcb_key_press_event_t event = keyEvent(type, keycode, state, time);
        return grabber.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    };
    const quint16 held = kControl | kAlt;

    // X repeats a held key as a release and a press with the same time.
    QVERIFY(feed(XCB_KEY_PRESS, p, held, 100));
    QVERIFY(feed(XCB_KEY_RELEASE, p, held, 700));
    QVERIFY(feed(XCB_KEY_PRESS, p, held, 700));
    QVERIFY(feed(XCB_KEY_RELEASE, p, held, 740));
    QVERIFY(feed(XCB_KEY_PRESS, p, held, 740));
    QVERIFY(feed(XCB_KEY_RELEASE, p, held, 800));
    QCOMPARE(pressed.count(), 1);

    // A new press; then the modifiers come up before the key.
    QVERIFY(feed(XCB_KEY_PRESS, p, held | kNumLock | XCB_MOD_MASK_LOCK, 1000));
    QVERIFY(feed(XCB_KEY_RELEASE, p, 0, 1100));
    QVERIFY(feed(XCB_KEY_PRESS, p, held, 1200));
    QCOMPARE(pressed.count(), 3);

    // Other keys and other modifiers are not ours.
    QVERIFY(!feed(XCB_KEY_PRESS, q, held, 1300));
    QVERIFY(!feed(XCB_KEY_PRESS, p, kControl, 1400));
    QCOMPARE(pressed.count(), 3);
    QCOMPARE(pressed.first().at(0).toInt(), 7);
}

QTEST_MAIN(GlobalHotkeyTest)
#include "GlobalHotkeyTest.moc"
