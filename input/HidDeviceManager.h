#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <map>

class EvdevDevice;
class QFileSystemWatcher;
class QKeyEvent;
class XcbKeyGrabber;

// The program's one receiver of input from keyboards, mice and USB or
// Bluetooth HID devices such as presenters and foot pedals. Device nodes are
// read directly (evdev), so a bound button keeps working while another
// application is in front. Every press becomes a textual input identifier:
// "ExtDev:VID_045E&PID_028E:Key34", "ExtDev:VID_045E&PID_028E:Btn1",
// "Keyboard:Key32" (key numbers are Windows virtual-key codes, see
// VirtualKeyMap). Bound identifiers are reported as buttonPressed; while the
// shortcut table captures a binding, the next one is reported as
// buttonCaptured instead. It also captures key sequences through an
// application-wide event filter and owns the system-wide hotkeys of show mode.
class HidDeviceManager : public QObject {
    Q_OBJECT
public:
    // One row of the device table.
    struct DeviceInfo {
        QString path;             // the device node
        QString id;               // "VID_%1&PID_%2", or empty
        bool hasId = false;
        bool isKeyboard = false;
        EvdevDevice* reader = nullptr;  // open only for devices with an id
        quint64 inode = 0;        // tells a node from a later one of the same name
    };
    struct HotkeyBinding {
        QString actionId;
        int hotkeyId = 0;
    };

    enum CaptureMode { NoCapture = 0, CaptureKeySequence = 1, CaptureDevicePress = 2 };

    static HidDeviceManager* instance();

    // Reads the device nodes of deviceDirectory (/dev/input for the program).
    explicit HidDeviceManager(const QString& deviceDirectory = QStringLiteral("/dev/input"),
                              QObject* parent = nullptr);
    ~HidDeviceManager() override;

    void start();
    void ensureStarted();
    void stop();
    bool isRunning() const { return m_running; }

    void startCapture(int mode);
    void stopCapture();
    bool isCapturing() const { return m_capturing; }

    void setBoundIdentifiers(const QSet<QString>& identifiers);
    void setGlobalMode(bool on);

    // Rescans the device directory: devices that went away leave the table,
    // new nodes are opened. Called at start and whenever the directory changes.
    void refreshDevices();
    // Follows the device directory for devices plugged in later; false (and
    // a warning) when it cannot be watched.
    bool watchDeviceDirectory();
    // Adds an open device to the table and reads it; takes ownership.
    // Returns the device's handle.
    quint64 addDevice(EvdevDevice* device);
    bool isDeviceUsable(quint64 handle) const;
    // "VID_%1&PID_%2" for a USB or Bluetooth device, empty for others.
    static QString deviceIdFromIds(quint16 busType, quint16 vendor, quint16 product);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Registers a system-wide hotkey for an action; false when it could not
    // be registered (logged).
    bool registerGlobalHotkey(const QString& actionId, const QKeySequence& keySequence);
    void unregisterAllHotkeys();
    void handleHotkey(int hotkeyId);

    void addBoundKeyboardKey(int virtualKey);
    bool isKeyboardKeyBound(int virtualKey) const;

    static int qtKeyToVirtualKey(int qtKey);
    static int qtModifiersToWin(int keyCombination);

signals:
    void buttonPressed(const QString& identifier);
    void buttonCaptured(const QString& identifier);
    void globalHotkeyTriggered(const QString& id);

private:
    void processDeviceKey(quint64 handle, int code, int value);
    // The identifier of a press ("" for anything else); *keyboardKey gets the
    // virtual-key code when it is a key of a keyboard.
    QString deviceIdentifier(const DeviceInfo& device, int code, int value, int* keyboardKey) const;
    void reportIdentifier(const QString& identifier);
    void queueReport(const QString& identifier);
    void readPendingDeviceInput();
    void removeDevice(quint64 handle);
    void ensureNativeFilter();
    int virtualKeyOf(const QKeyEvent* event) const;
    bool applicationIsActive() const;

    bool m_running = false;
    bool m_capturing = false;
    int m_captureMode = NoCapture;
    QSet<int> m_boundKeyboardKeys;
    QSet<QString> m_boundIdentifiers;
    bool m_globalMode = false;
    std::map<quint64, DeviceInfo> m_devices;
    int m_lastRawKeyVk = 0;
    quint64 m_lastDevice = 0;
    QList<HotkeyBinding> m_hotkeys;
    int m_nextHotkeyId = 1;
    XcbKeyGrabber* m_nativeFilter = nullptr;

    QString m_deviceDirectory;
    QFileSystemWatcher* m_directoryWatcher = nullptr;
    quint64 m_nextHandle = 1;
    bool m_permissionLogged = false;
    bool m_hotkeysUnavailableLogged = false;
    bool m_scanCodesAreEvdev = false;
};
