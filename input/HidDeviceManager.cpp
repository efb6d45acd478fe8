#include "input/HidDeviceManager.h"

#include "input/VirtualKeyMap.h"
#include "platform/EvdevDevice.h"
#include "platform/XcbKeyGrabber.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QPointer>

#include <linux/input.h>

#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace {

// Windows hotkey modifier flags.
constexpr int kModAlt = 0x1;
constexpr int kModControl = 0x2;
constexpr int kModShift = 0x4;
constexpr int kModWin = 0x8;

// Shift, Control, Alt, the Windows keys and Caps Lock alone never give a press.
bool isIgnoredDeviceKey(int virtualKey)
{
    return (virtualKey >= 0x10 && virtualKey <= 0x12) || virtualKey == 0x5B || virtualKey == 0x5C
        || virtualKey == 0x14;
}

bool isModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_CapsLock:
    case Qt::Key_AltGr:
    // What X and Wayland call the Windows keys and their kin
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

// The five buttons a pointer reports, numbered as a Windows mouse numbers them.
int mouseButtonNumber(int code)
{
    switch (code) {
    case BTN_LEFT:
        return 1;
    case BTN_RIGHT:
        return 2;
    case BTN_MIDDLE:
        return 3;
    case BTN_SIDE:
    case BTN_BACK:
        return 4;
    case BTN_EXTRA:
    case BTN_FORWARD:
        return 5;
    default:
        return 0;
    }
}

bool isKeyCode(int code)
{
    return code < BTN_MISC || code >= KEY_OK;
}

quint64 inodeOf(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return quint64(info.st_ino);
}

QString keyName(int qtKey)
{
    const char* name = QMetaEnum::fromType<Qt::Key>().valueToKey(qtKey);
    return name ? QString::fromLatin1(name) : QString::number(qtKey);
}

}  // namespace

HidDeviceManager* HidDeviceManager::instance()
{
    static HidDeviceManager manager;
    return &manager;
}

HidDeviceManager::HidDeviceManager(const QString& deviceDirectory, QObject* parent)
    : QObject(parent), m_deviceDirectory(deviceDirectory)
{
}

HidDeviceManager::~HidDeviceManager()
{
    unregisterAllHotkeys();
    // Also when never started: a hotkey registration installs the native filter.
    stop();
    m_running = false;
}

void HidDeviceManager::start()
{
    const QString platform = QGuiApplication::platformName();
    m_scanCodesAreEvdev = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    ensureNativeFilter();
    watchDeviceDirectory();
    refreshDevices();
    m_running = true;
}

void HidDeviceManager::ensureStarted()
{
    if (!m_running)
        start();
}

void HidDeviceManager::stop()
{
    unregisterAllHotkeys();
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
        if (m_nativeFilter)
            app->removeNativeEventFilter(m_nativeFilter);
    }
    delete m_nativeFilter;
    m_nativeFilter = nullptr;
    delete m_directoryWatcher;
    m_directoryWatcher = nullptr;
    for (auto& [handle, device] : m_devices)
        delete device.reader;
    m_devices.clear();
    m_lastRawKeyVk = 0;
}

void HidDeviceManager::ensureNativeFilter()
{
    if (m_nativeFilter)
        return;
    m_nativeFilter = new XcbKeyGrabber;
    connect(m_nativeFilter, &XcbKeyGrabber::keyPressed, this, &HidDeviceManager::handleHotkey);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installNativeEventFilter(m_nativeFilter);
}

void HidDeviceManager::startCapture(int mode)
{
    m_capturing = true;
    m_captureMode = mode;
}

void HidDeviceManager::stopCapture()
{
    m_capturing = false;
    m_captureMode = NoCapture;
}

void HidDeviceManager::setBoundIdentifiers(const QSet<QString>& identifiers)
{
    m_boundIdentifiers = identifiers;
}

void HidDeviceManager::setGlobalMode(bool on)
{
    m_globalMode = on;
}

// --- devices ---------------------------------------------------------------

bool HidDeviceManager::watchDeviceDirectory()
{
    if (m_directoryWatcher)
        return true;
    if (m_deviceDirectory.isEmpty())
        return false;  // devices are only added by hand
    auto* watcher = new QFileSystemWatcher(this);
    if (!QFileInfo(m_deviceDirectory).isDir() || !watcher->addPath(m_deviceDirectory)) {
        qWarning() << "[HidDeviceManager] Cannot watch" << m_deviceDirectory
                   << "for input devices; devices plugged in later are not seen";
        delete watcher;
        return false;
    }
    // A new node shows up as created, and again when udev has set its owner
    // and mode; both reach us as a change of the directory.
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &HidDeviceManager::refreshDevices);
    m_directoryWatcher = watcher;
    return true;
}

void HidDeviceManager::refreshDevices()
{
    // A device that was unplugged fails its next read and leaves the table.
    readPendingDeviceInput();

    std::vector<quint64> stale;
    for (const auto& [handle, device] : m_devices) {
        if (device.inode != 0 && inodeOf(device.path) != device.inode)
            stale.push_back(handle);
    }
    for (quint64 handle : stale)
        removeDevice(handle);

    QSet<QString> known;
    for (const auto& [handle, device] : m_devices)
        known.insert(device.path);

    if (m_deviceDirectory.isEmpty())
        return;
    const QDir directory(m_deviceDirectory);
    const QStringList names = directory.entryList({QStringLiteral("event*")},
                                                  QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString path = directory.filePath(name);
        if (known.contains(path))
            continue;
        int error = 0;
        EvdevDevice* reader = EvdevDevice::open(path, &error, this);
        if (!reader) {
            // Not yet readable (udev still setting it up) or not an input
            // device: nothing to keep; a later change of the directory retries.
            if ((error == EACCES || error == EPERM) && !m_permissionLogged) {
                m_permissionLogged = true;
                qWarning() << "[HidDeviceManager] No permission to read input devices (the user must be in"
                           << "the 'input' group); device buttons do not work:" << path;
            }
            continue;
        }
        const quint64 inode = inodeOf(path);
        const quint64 handle = addDevice(reader);
        DeviceInfo& device = m_devices[handle];
        device.inode = inode;
        if (!device.hasId) {
            // Its input is never used: keep the row, stop reading.
            delete device.reader;
            device.reader = nullptr;
        }
    }
}

quint64 HidDeviceManager::addDevice(EvdevDevice* reader)
{
    const quint64 handle = m_nextHandle++;
    reader->setParent(this);
    const EvdevCapabilities& caps = reader->capabilities();
    DeviceInfo device;
    device.path = reader->path();
    device.id = deviceIdFromIds(caps.busType, caps.vendor, caps.product);
    device.hasId = !device.id.isEmpty();
    device.isKeyboard = caps.isKeyboard();
    device.reader = reader;
    m_devices[handle] = device;
    connect(reader, &EvdevDevice::keyChanged, this,
            [this, handle](int code, int value) { processDeviceKey(handle, code, value); });
    connect(reader, &EvdevDevice::disconnected, this, [this, handle] { removeDevice(handle); });
    return handle;
}

void HidDeviceManager::removeDevice(quint64 handle)
{
    auto it = m_devices.find(handle);
    if (it == m_devices.end())
        return;
    if (EvdevDevice* reader = it->second.reader) {
        reader->disconnect(this);
        // It may be the sender of the signal being handled.
        reader->deleteLater();
    }
    m_devices.erase(it);
}

bool HidDeviceManager::isDeviceUsable(quint64 handle) const
{
    const auto it = m_devices.find(handle);
    return it != m_devices.end() && it->second.hasId && it->second.reader;
}

QString HidDeviceManager::deviceIdFromIds(quint16 busType, quint16 vendor, quint16 product)
{
    if (busType != BUS_USB && busType != BUS_BLUETOOTH)
        return {};
    return QStringLiteral("VID_%1&PID_%2")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'))
        .toUpper();
}

void HidDeviceManager::readPendingDeviceInput()
{
    std::vector<QPointer<EvdevDevice>> readers;
    readers.reserve(m_devices.size());
    for (const auto& [handle, device] : m_devices) {
        if (device.reader)
            readers.emplace_back(device.reader);
    }
    for (const QPointer<EvdevDevice>& reader : readers) {
        if (reader && reader->isOpen())
            reader->readPending();
    }
}

QString HidDeviceManager::deviceIdentifier(const DeviceInfo& device, int code, int value,
                                           int* keyboardKey) const
{
    const EvdevCapabilities& caps = device.reader->capabilities();
    bool keyboardRecord = false;
    int number = mouseButtonNumber(code);
    if (number != 0) {
        if (value != 1)
            return {};
    } else if (device.isKeyboard && isKeyCode(code)) {
        // Every auto-repeat of a held key is a press of its own.
        if (value != 1 && value != 2)
            return {};
        number = VirtualKeyMap::fromEvdevCode(code);
        if (number == 0 || isIgnoredDeviceKey(number))
            return {};
        keyboardRecord = true;
        *keyboardKey = number;
    } else if (caps.isPointer()) {
        return {};  // touches, pen tools and other pointer buttons
    } else {
        // Buttons of pedals, joysticks, consumer controls: numbered by their
        // place among the device's buttons, as a HID report lays them out.
        if (value != 1)
            return {};
        number = caps.keyOrdinal(code);
        if (number == 0)
            return {};
    }
    return QStringLiteral("ExtDev:%1:%2%3")
        .arg(device.id, keyboardRecord ? QStringLiteral("Key") : QStringLiteral("Btn"))
        .arg(number);
}

void HidDeviceManager::processDeviceKey(quint64 handle, int code, int value)
{
    if (value == 0 || !isDeviceUsable(handle))
        return;  // releases never count
    const DeviceInfo& device = m_devices.at(handle);
    int keyboardKey = 0;  // the virtual-key code of a keyboard record
    const QString identifier = deviceIdentifier(device, code, value, &keyboardKey);
    if (identifier.isEmpty())
        return;
    const bool keyboardRecord = keyboardKey != 0;

    if (m_capturing && m_captureMode == CaptureDevicePress) {
        m_lastDevice = handle;
        // A key is taken from the key event that follows it.
        if (!keyboardRecord)
            queueReport(identifier);
        return;
    }
    if (m_capturing && m_captureMode == CaptureKeySequence)
        return;

    if (!m_boundIdentifiers.contains(identifier))
        return;
    if (!m_globalMode && !applicationIsActive())
        return;
    if (keyboardRecord)
        m_lastRawKeyVk = keyboardKey;
    m_lastDevice = handle;
    queueReport(identifier);
}

bool HidDeviceManager::applicationIsActive() const
{
    return QGuiApplication::focusWindow() != nullptr;
}

void HidDeviceManager::queueReport(const QString& identifier)
{
    QMetaObject::invokeMethod(this, [this, identifier] { reportIdentifier(identifier); }, Qt::QueuedConnection);
}

void HidDeviceManager::reportIdentifier(const QString& identifier)
{
    if (m_capturing) {
        m_capturing = false;
        emit buttonCaptured(identifier);
    } else {
        emit buttonPressed(identifier);
    }
}

// --- keys of the application -------------------------------------------------

int HidDeviceManager::virtualKeyOf(const QKeyEvent* event) const
{
    return VirtualKeyMap::fromKeyEvent(event->nativeScanCode(), event->nativeVirtualKey(), event->key(),
                                       m_scanCodesAreEvdev);
}

bool HidDeviceManager::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);

    if (type == QEvent::ShortcutOverride) {
        // Accepted, so that no shortcut fires and the key press itself
        // comes here: during a key-sequence capture, and for a key that has
        // just acted as a device key.
        bool consume = m_capturing && m_captureMode == CaptureKeySequence;
        if (!consume && !isModifierKey(key->key())) {
            const int virtualKey = virtualKeyOf(key);
            if (virtualKey != 0) {
                readPendingDeviceInput();
                consume = virtualKey == m_lastRawKeyVk;
            }
        }
        if (consume)
            event->accept();
        return consume;
    }

    if (isModifierKey(key->key()))
        return false;
    const int virtualKey = virtualKeyOf(key);
    if (virtualKey == 0)
        return false;

    // The device's own record of this key sits in its node before the window
    // system passes the key on; read it first, as the device comes first.
    readPendingDeviceInput();

    if (virtualKey == m_lastRawKeyVk) {
        m_lastRawKeyVk = 0;
        return true;
    }
    if (m_capturing && m_captureMode == CaptureKeySequence) {
        const QKeyCombination combination(key->modifiers(), Qt::Key(key->key()));
        reportIdentifier(QKeySequence(combination).toString(QKeySequence::PortableText));
        return true;
    }
    if (m_capturing && m_captureMode == CaptureDevicePress) {
        const auto it = m_devices.find(m_lastDevice);
        if (it != m_devices.end() && it->second.isKeyboard && it->second.hasId)
            reportIdentifier(QStringLiteral("ExtDev:%1:Key%2").arg(it->second.id).arg(virtualKey));
        return true;
    }
    if (m_boundKeyboardKeys.contains(virtualKey)) {
        reportIdentifier(QStringLiteral("Keyboard:Key%1").arg(virtualKey));
        return true;
    }
    return false;
}

void HidDeviceManager::addBoundKeyboardKey(int virtualKey)
{
    m_boundKeyboardKeys.insert(virtualKey);
}

bool HidDeviceManager::isKeyboardKeyBound(int virtualKey) const
{
    return m_boundKeyboardKeys.contains(virtualKey);
}

int HidDeviceManager::qtKeyToVirtualKey(int qtKey)
{
    const int virtualKey = VirtualKeyMap::hotkeyCodeFromQtKey(qtKey);
    if (virtualKey == 0)
        qWarning() << "[HidDeviceManager] Unmapped Qt key for Windows VK:" << keyName(qtKey);
    return virtualKey;
}

int HidDeviceManager::qtModifiersToWin(int keyCombination)
{
    int modifiers = 0;
    if (keyCombination & Qt::ControlModifier)
        modifiers |= kModControl;
    if (keyCombination & Qt::ShiftModifier)
        modifiers |= kModShift;
    if (keyCombination & Qt::AltModifier)
        modifiers |= kModAlt;
    if (keyCombination & Qt::MetaModifier)
        modifiers |= kModWin;
    return modifiers;
}

// --- system-wide hotkeys -----------------------------------------------------

bool HidDeviceManager::registerGlobalHotkey(const QString& actionId, const QKeySequence& keySequence)
{
    if (actionId.isEmpty() || keySequence.isEmpty())
        return false;
    const QKeyCombination combination = keySequence[0];
    const int qtKey = int(combination.key());
    const int virtualKey = qtKeyToVirtualKey(qtKey);
    if (virtualKey == 0) {
        qWarning() << "[HidDeviceManager] Cannot map Qt key to Windows VK:" << keyName(qtKey);
        return false;
    }
    ensureNativeFilter();
    const int hotkeyId = m_nextHotkeyId++;

    const QString unavailable = XcbKeyGrabber::unavailableReason();
    if (!unavailable.isEmpty()) {
        if (!m_hotkeysUnavailableLogged) {
            m_hotkeysUnavailableLogged = true;
            qWarning().noquote() << "[HidDeviceManager] Global hotkeys are not available:" << unavailable;
        }
        return false;
    }

    const int windowsModifiers = qtModifiersToWin(combination.toCombined());
    int modifiers = XcbKeyGrabber::NoModifier;
    if (windowsModifiers & kModControl)
        modifiers |= XcbKeyGrabber::ControlModifier;
    if (windowsModifiers & kModShift)
        modifiers |= XcbKeyGrabber::ShiftModifier;
    if (windowsModifiers & kModAlt)
        modifiers |= XcbKeyGrabber::AltModifier;
    if (windowsModifiers & kModWin)
        modifiers |= XcbKeyGrabber::SuperModifier;

    int errorCode = 0;
    const XcbKeyGrabber::GrabResult result =
        m_nativeFilter->grab(hotkeyId, VirtualKeyMap::keysymOf(virtualKey), modifiers, &errorCode);
    switch (result) {
    case XcbKeyGrabber::GrabResult::Grabbed:
        m_hotkeys.append({actionId, hotkeyId});
        return true;
    case XcbKeyGrabber::GrabResult::Refused:
        // BadAccess (10): another client holds the combination.
        qWarning() << "[HidDeviceManager] RegisterHotKey failed for" << actionId << "error:" << errorCode;
        return false;
    case XcbKeyGrabber::GrabResult::NoKeycode:
        qWarning() << "[HidDeviceManager] RegisterHotKey failed for" << actionId
                   << "error: the keyboard map has no key for" << keyName(qtKey);
        return false;
    case XcbKeyGrabber::GrabResult::Unavailable:
        break;
    }
    qWarning() << "[HidDeviceManager] RegisterHotKey failed for" << actionId << "error: no X11 connection";
    return false;
}

void HidDeviceManager::unregisterAllHotkeys()
{
    for (const HotkeyBinding& binding : std::as_const(m_hotkeys)) {
        if (m_nativeFilter)
            m_nativeFilter->ungrab(binding.hotkeyId);
    }
    m_hotkeys.clear();
}

void HidDeviceManager::handleHotkey(int hotkeyId)
{
    for (const HotkeyBinding& binding : std::as_const(m_hotkeys)) {
        if (binding.hotkeyId == hotkeyId) {
            const QString actionId = binding.actionId;
            QMetaObject::invokeMethod(this, [this, actionId] { emit globalHotkeyTriggered(actionId); },
                                      Qt::QueuedConnection);
            return;
        }
    }
    qWarning() << "[HidDeviceManager] Unknown hotkey ID:" << hotkeyId;
}
