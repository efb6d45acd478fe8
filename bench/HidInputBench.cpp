// How long a device button takes from the kernel to the buttonPressed
// signal, and what the key filter adds to every key press of the program.
// Each figure is set against a baseline measured in the same run: a bare
// socket notifier for the first, a key press with no device open for the
// second.
#include "BenchRun.h"
#include "input/HidDeviceManager.h"
#include "platform/EvdevDevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <linux/input.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 2000;

struct SocketPair {
    SocketPair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            qFatal("socketpair failed");
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        reader = fds[0];
        writer = fds[1];
    }
    ~SocketPair() { ::close(writer); }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    void press(int code, int value) const
    {
        input_event events[2]{};
        events[0].type = EV_KEY;
        events[0].code = quint16(code);
        events[0].value = value;
        events[1].type = EV_SYN;
        events[1].code = SYN_REPORT;
        if (::write(writer, events, sizeof(events)) != ssize_t(sizeof(events)))
            qFatal("write failed");
    }
    int reader;
    int writer;
};

EvdevCapabilities presenter()
{
    EvdevCapabilities caps;
    caps.busType = BUS_USB;
    caps.vendor = 0x1D57;
    caps.product = 0xAD03;
    for (int code = KEY_ESC; code <= KEY_DELETE; ++code)
        caps.keys.set(size_t(code));
    return caps;
}

// Writes a record, then runs the event loop until `arrived` turns true.
template <typename Write>
double roundTripUs(Write write, const bool& arrived)
{
    QElapsedTimer timer;
    timer.start();
    write();
    while (!arrived)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return double(timer.nsecsElapsed()) / 1000.0;
}

double notifierBaselineUs()
{
    SocketPair pair;
    QSocketNotifier notifier(pair.reader, QSocketNotifier::Read);
    bool arrived = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char buffer[64];
        while (::read(pair.reader, buffer, sizeof(buffer)) > 0) {
        }
        arrived = true;
    });
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        arrived = false;
        times.push_back(roundTripUs([&] { pair.press(KEY_PAGEDOWN, i % 2); }, arrived));
    }
    ::close(pair.reader);
    return BenchRun::median(times);
}

double devicePressUs()
{
    HidDeviceManager manager(QString{});
    manager.setGlobalMode(true);
    manager.setBoundIdentifiers({QStringLiteral("ExtDev:VID_1D57&PID_AD03:Key34")});
    SocketPair pair;
    manager.addDevice(new EvdevDevice(pair.reader, QStringLiteral("bench"), presenter()));
    bool arrived = false;
    QObject::connect(&manager, &HidDeviceManager::buttonPressed, [&arrived] { arrived = true; });
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        arrived = false;
        times.push_back(roundTripUs([&] { pair.press(KEY_PAGEDOWN, 1); }, arrived));
        pair.press(KEY_PAGEDOWN, 0);
    }
    return BenchRun::median(times);
}

double keyFilterUs(int devices)
{
    QWidget target;
    HidDeviceManager manager(QString{});
    manager.start();
    std::vector<std::unique_ptr<SocketPair>> pairs;
    for (int i = 0; i < devices; ++i) {
        pairs.push_back(std::make_unique<SocketPair>());
        manager.addDevice(new EvdevDevice(pairs.back()->reader, QStringLiteral("bench"), presenter()));
    }
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QElapsedTimer timer;
        timer.start();
        QCoreApplication::sendEvent(&target, &press);
        times.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    return BenchRun::median(times);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const double baseline = notifierBaselineUs();
    const double press = devicePressUs();
    std::printf("socket notifier wake-up (baseline): %.1f us\n", baseline);
    std::printf("device press to buttonPressed: %.1f us (target ≤ 1000)\n", press);
    std::printf("device press over the baseline: %.1f us (target ≤ 200)\n", press - baseline);

    const double bare = keyFilterUs(0);
    const double eight = keyFilterUs(8);
    std::printf("key press through the application, no device (baseline): %.2f us\n", bare);
    std::printf("key filter cost with 8 devices open: %.2f us per key press (target ≤ 50)\n", eight - bare);
    return 0;
}
