#include "input/FakeEvdevDevice.h"

#include "input/HidDeviceManager.h"

#include <QtGlobal>

#include <linux/input.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>


EvdevCapabilities FakeEvdevDevice::capabilities(Kind kind)
{
    EvdevCapabilities caps;
    caps.busType = BUS_USB;
    auto addKeys = [&caps](int first, int last) {
        for (int code = first; code <= last; ++code)
            caps.keys.set(size_t(code));
    };
    switch (kind) {
    case Kind::Presenter:
    case Kind::BluetoothPresenter:
    case Kind::InternalKeyboard:
    case Kind::KeyboardWithPointer:
        caps.vendor = 0x1D57;
        caps.product = 0xAD03;
        addKeys(KEY_ESC, KEY_KPDOT);
        addKeys(KEY_F11, KEY_F12);
        addKeys(KEY_HOME, KEY_DELETE);
        addKeys(KEY_LEFTMETA, KEY_RIGHTMETA);
        if (kind == Kind::BluetoothPresenter)
            caps.busType = BUS_BLUETOOTH;
        if (kind == Kind::InternalKeyboard)
            caps.busType = BUS_I8042;
        if (kind == Kind::KeyboardWithPointer) {
            addKeys(BTN_LEFT, BTN_MIDDLE);
            caps.relativePointer = true;
        }
        break;
    case Kind::Mouse:
        caps.vendor = 0x046D;
        caps.product = 0xC077;
        addKeys(BTN_LEFT, BTN_EXTRA);
        caps.relativePointer = true;
        break;
    case Kind::Pedal:
        // A three-button foot switch that reports as a joystick.
        caps.vendor = 0x0C45;
        caps.product = 0x7403;
        addKeys(BTN_TRIGGER, BTN_THUMB2);
        break;
    case Kind::MediaKeys:
        caps.vendor = 0x1D57;
        caps.product = 0xAD04;
        addKeys(KEY_MUTE, KEY_VOLUMEUP);
        addKeys(KEY_NEXTSONG, KEY_PLAYPAUSE);
        break;
    case Kind::TouchScreen:
        caps.vendor = 0x0EEF;
        caps.product = 0x0001;
        addKeys(BTN_TOUCH, BTN_TOUCH);
        caps.absolutePointer = true;
        break;
    }
    return caps;
}

QString FakeEvdevDevice::deviceId(Kind kind)
{
    const EvdevCapabilities caps = capabilities(kind);
    return HidDeviceManager::deviceIdFromIds(caps.busType, caps.vendor, caps.product);
}

FakeEvdevDevice::FakeEvdevDevice(HidDeviceManager& manager, Kind kind)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        qFatal("socketpair failed");
    // The reading end is non-blocking, as a device node is opened.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    m_device = new EvdevDevice(fds[0], QStringLiteral("socketpair"), capabilities(kind));
    m_writer = fds[1];
    m_handle = manager.addDevice(m_device);
}

FakeEvdevDevice::~FakeEvdevDevice()
{
    unplug();
}

void FakeEvdevDevice::send(int type, int code, int value)
{
    input_event event{};
    event.type = quint16(type);
    event.code = quint16(code);
    event.value = value;
    if (::write(m_writer, &event, sizeof(event)) != ssize_t(sizeof(event)))
        qFatal("write to the fake device failed");
}

void FakeEvdevDevice::report()
{
    send(EV_SYN, SYN_REPORT, 0);
}

void FakeEvdevDevice::key(int code, int value)
{
    send(EV_KEY, code, value);
    report();
}

void FakeEvdevDevice::unplug()
{
    if (m_writer >= 0)
        ::close(m_writer);
    m_writer = -1;
}
