#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <bitset>

class QSocketNotifier;

// What a Linux input device node says about itself.
struct EvdevCapabilities {
    static constexpr int kKeyCount = 0x300;  // KEY_CNT

    quint16 busType = 0;
    quint16 vendor = 0;
    quint16 product = 0;
    std::bitset<kKeyCount> keys;  // EV_KEY codes it can send
    bool relativePointer = false;  // REL_X
    bool absolutePointer = false;  // ABS_X with a touch, pen or left button

    bool hasKey(int code) const { return code >= 0 && code < kKeyCount && keys.test(size_t(code)); }
    // A keyboard has keys of the main block, the editing block or F1 to F12;
    // a device that only has media or system keys is not one.
    bool isKeyboard() const;
    // A mouse, touchpad, touch screen or pen.
    bool isPointer() const { return relativePointer || absolutePointer; }
    // 1-based position of a code among the device's key codes in code order;
    // 0 when the device has no such key.
    int keyOrdinal(int code) const;
};

// One open evdev node (/dev/input/eventN): reads its events on the GUI thread
// through a socket notifier and reports every key and button change. The
// node is read without being grabbed, so the window system still sees it.
class EvdevDevice : public QObject {
    Q_OBJECT
public:
    // Opens a node read-only and non-blocking and reads its capabilities.
    // Null on failure, with the errno value in *error (ENOTTY: not an evdev
    // node).
    static EvdevDevice* open(const QString& path, int* error, QObject* parent = nullptr);

    // Reads events from an open, non-blocking descriptor; owns it from now on.
    EvdevDevice(int fd, const QString& path, const EvdevCapabilities& capabilities,
                QObject* parent = nullptr);
    ~EvdevDevice() override;

    QString path() const { return m_path; }
    const EvdevCapabilities& capabilities() const { return m_capabilities; }
    bool isOpen() const { return m_fd >= 0; }

    // Reads whatever the kernel holds for this device now, without waiting.
    void readPending();

signals:
    // An EV_KEY event: value 1 press, 2 auto-repeat, 0 release.
    void keyChanged(int code, int value);
    // The device went away (unplugged, or its descriptor failed); emitted once.
    void disconnected();

private:
    void handleEvent(quint16 type, quint16 code, qint32 value);
    void closeDevice();

    int m_fd = -1;
    QString m_path;
    EvdevCapabilities m_capabilities;
    QSocketNotifier* m_notifier = nullptr;
    bool m_droppingUntilReport = false;
    // Room for a batch of events; a short read keeps its partial event here.
    std::array<char, 64 * 24> m_buffer{};
    size_t m_filled = 0;
};
