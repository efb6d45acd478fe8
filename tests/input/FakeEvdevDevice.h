#pragma once

#include "platform/EvdevDevice.h"

#include <QString>

class HidDeviceManager;

// An evdev device whose events a test writes into the other end of a socket
// pair, in the kernel's own record format.
class FakeEvdevDevice {
public:
    enum class Kind { Presenter, BluetoothPresenter, Mouse, Pedal, MediaKeys, InternalKeyboard,
                      KeyboardWithPointer, TouchScreen };

    static EvdevCapabilities capabilities(Kind kind);
    // The device id the kind's capabilities give ("" for an internal one).
    static QString deviceId(Kind kind);

    FakeEvdevDevice(HidDeviceManager& manager, Kind kind);
    ~FakeEvdevDevice();
    FakeEvdevDevice(const FakeEvdevDevice&) = delete;
    FakeEvdevDevice& operator=(const FakeEvdevDevice&) = delete;

    quint64 handle() const { return m_handle; }
    EvdevDevice* device() const { return m_device; }

    void send(int type, int code, int value);
    void report();                          // SYN_REPORT
    void key(int code, int value);          // one EV_KEY and a report
    void press(int code) { key(code, 1); }
    void release(int code) { key(code, 0); }
    void tap(int code) { press(code); release(code); }
    void unplug();                          // closes the writing end

private:
    int m_writer = -1;
    EvdevDevice* m_device = nullptr;
    quint64 m_handle = 0;
};
