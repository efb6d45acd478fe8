#include "platform/EvdevDevice.h"

#include <QFile>
#include <QSocketNotifier>

#include <linux/input.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

static_assert(sizeof(input_event) == 24, "the read buffer holds whole 64-bit input events");

namespace {

template <size_t N>
bool readBits(int fd, unsigned type, std::bitset<N>& bits)
{
    std::array<unsigned char, (N + 7) / 8> raw{};
    if (ioctl(fd, EVIOCGBIT(type, raw.size()), raw.data()) < 0)
        return false;
    for (size_t i = 0; i < N; ++i) {
        if (raw[i / 8] & (1u << (i % 8)))
            bits.set(i);
    }
    return true;
}

}  // namespace

bool EvdevCapabilities::isKeyboard() const
{
    for (int code = KEY_ESC; code <= KEY_KPDOT; ++code) {
        if (hasKey(code))
            return true;
    }
    for (int code : {KEY_F11, KEY_F12, KEY_HOME, KEY_UP, KEY_PAGEUP, KEY_LEFT, KEY_RIGHT, KEY_END,
                     KEY_DOWN, KEY_PAGEDOWN, KEY_INSERT, KEY_DELETE}) {
        if (hasKey(code))
            return true;
    }
    return false;
}

int EvdevCapabilities::keyOrdinal(int code) const
{
    if (!hasKey(code))
        return 0;
    int ordinal = 0;
    for (int c = 0; c <= code; ++c)
        ordinal += keys.test(size_t(c)) ? 1 : 0;
    return ordinal;
}

EvdevDevice* EvdevDevice::open(const QString& path, int* error, QObject* parent)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return nullptr;
    }
    EvdevCapabilities caps;
    input_id id{};
    std::bitset<EV_CNT> eventTypes;
    if (ioctl(fd, EVIOCGID, &id) < 0 || !readBits(fd, 0, eventTypes)) {
        if (error)
            *error = ENOTTY;
        ::close(fd);
        return nullptr;
    }
    caps.busType = id.bustype;
    caps.vendor = id.vendor;
    caps.product = id.product;
    if (eventTypes.test(EV_KEY))
        readBits(fd, EV_KEY, caps.keys);
    if (eventTypes.test(EV_REL)) {
        std::bitset<REL_CNT> rel;
        if (readBits(fd, EV_REL, rel))
            caps.relativePointer = rel.test(REL_X);
    }
    if (eventTypes.test(EV_ABS)) {
        std::bitset<ABS_CNT> abs;
        if (readBits(fd, EV_ABS, abs)) {
            // Joysticks have an X axis too; pointers also have a touch, pen or button.
            caps.absolutePointer = abs.test(ABS_X)
                && (caps.hasKey(BTN_TOUCH) || caps.hasKey(BTN_TOOL_PEN) || caps.hasKey(BTN_LEFT));
        }
    }
    return new EvdevDevice(fd, path, caps, parent);
}

EvdevDevice::EvdevDevice(int fd, const QString& path, const EvdevCapabilities& capabilities,
                         QObject* parent)
    : QObject(parent), m_fd(fd), m_path(path), m_capabilities(capabilities)
{
    m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EvdevDevice::readPending);
}

EvdevDevice::~EvdevDevice()
{
    closeDevice();
}

void EvdevDevice::readPending()
{
    while (m_fd >= 0) {
        const ssize_t n = ::read(m_fd, m_buffer.data() + m_filled, m_buffer.size() - m_filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            // ENODEV after an unplug, 0 when the other end of a pipe closed.
            closeDevice();
            emit disconnected();
            return;
        }
        m_filled += size_t(n);
        const size_t whole = m_filled / sizeof(input_event);
        for (size_t i = 0; i < whole; ++i) {
            input_event event;
            std::memcpy(&event, m_buffer.data() + i * sizeof(input_event), sizeof(event));
            handleEvent(event.type, event.code, event.value);
            if (m_fd < 0)
                return;
        }
        const size_t rest = m_filled - whole * sizeof(input_event);
        if (rest > 0)
            std::memmove(m_buffer.data(), m_buffer.data() + whole * sizeof(input_event), rest);
        m_filled = rest;
    }
}

void EvdevDevice::handleEvent(quint16 type, quint16 code, qint32 value)
{
    if (type == EV_SYN) {
        // After an overflow the kernel drops events up to the next report;
        // what comes before it is incomplete.
        if (code == SYN_DROPPED)
            m_droppingUntilReport = true;
        else if (code == SYN_REPORT)
            m_droppingUntilReport = false;
        return;
    }
    if (type == EV_KEY && !m_droppingUntilReport)
        emit keyChanged(code, value);
}

void EvdevDevice::closeDevice()
{
    if (m_fd < 0)
        return;
    m_notifier->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_filled = 0;
}
