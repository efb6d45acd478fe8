#include "platform/EvdevDevice.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <linux/input.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A device reading from one end of a socket pair; the test writes the other.
struct Pipe {
    Pipe()
    {
        int fds[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        reader = fds[0];
        writer = fds[1];
    }
    ~Pipe()
    {
        if (writer >= 0)
            ::close(writer);
    }
    void write(const void* data, size_t size) const { QCOMPARE(::write(writer, data, size), ssize_t(size)); }
    void event(int type, int code, int value) const
    {
        input_event e{};
        e.type = quint16(type);
        e.code = quint16(code);
        e.value = value;
        write(&e, sizeof(e));
    }
    void closeWriter()
    {
        ::close(writer);
        writer = -1;
    }
    int reader = -1;
    int writer = -1;
};

QList<QPair<int, int>> changes(const QSignalSpy& spy)
{
    QList<QPair<int, int>> result;
    for (const QList<QVariant>& arguments : spy)
        result.append({arguments.at(0).toInt(), arguments.at(1).toInt()});
    return result;
}

EvdevCapabilities withKeys(std::initializer_list<int> codes)
{
    EvdevCapabilities caps;
    for (int code : codes)
        caps.keys.set(size_t(code));
    return caps;
}

}  // namespace

class EvdevDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void eventSplitAcrossReads();
    void overflowDropsUntilReport();
    void disconnectsOnce();
    void openFailures();
    void kinds_data();
    void kinds();
    void keyOrdinal();
};

void EvdevDeviceTest::eventSplitAcrossReads()
{
    Pipe pipe;
    EvdevDevice device(pipe.reader, QStringLiteral("pipe"), EvdevCapabilities{});
    QSignalSpy changed(&device, &EvdevDevice::keyChanged);
    input_event press{};
    press.type = EV_KEY;
    press.code = KEY_B;
    press.value = 1;
    const auto* bytes = reinterpret_cast<const char*>(&press);

    pipe.write(bytes, 10);
    device.readPending();
    QCOMPARE(changed.count(), 0);
    pipe.write(bytes + 10, sizeof(press) - 10);
    pipe.event(EV_REL, REL_X, 3);  // not a key
    pipe.event(EV_KEY, KEY_B, 0);
    device.readPending();
    QCOMPARE(changes(changed), (QList<QPair<int, int>>{{KEY_B, 1}, {KEY_B, 0}}));
}

void EvdevDeviceTest::overflowDropsUntilReport()
{
    Pipe pipe;
    EvdevDevice device(pipe.reader, QStringLiteral("pipe"), EvdevCapabilities{});
    QSignalSpy changed(&device, &EvdevDevice::keyChanged);
    pipe.event(EV_SYN, SYN_DROPPED, 0);
    pipe.event(EV_KEY, KEY_A, 1);
    pipe.event(EV_SYN, SYN_REPORT, 0);
    pipe.event(EV_KEY, KEY_C, 1);
    // Through the event loop this time.
    QTRY_COMPARE(changes(changed), (QList<QPair<int, int>>{{KEY_C, 1}}));
}

void EvdevDeviceTest::disconnectsOnce()
{
    Pipe pipe;
    EvdevDevice device(pipe.reader, QStringLiteral("pipe"), EvdevCapabilities{});
    QSignalSpy changed(&device, &EvdevDevice::keyChanged);
    QSignalSpy gone(&device, &EvdevDevice::disconnected);
    pipe.event(EV_KEY, KEY_A, 1);
    pipe.closeWriter();
    QTRY_COMPARE(gone.count(), 1);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!device.isOpen());
    device.readPending();
    QTest::qWait(20);
    QCOMPARE(gone.count(), 1);
}

void EvdevDeviceTest::openFailures()
{
    QTemporaryDir directory;
    int error = 0;
    QVERIFY(!EvdevDevice::open(directory.filePath(QStringLiteral("event0")), &error));
    QCOMPARE(error, ENOENT);

    QFile file(directory.filePath(QStringLiteral("event1")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    error = 0;
    QVERIFY(!EvdevDevice::open(file.fileName(), &error));
    QCOMPARE(error, ENOTTY);
}

void EvdevDeviceTest::kinds_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<bool>("absolute");
    QTest::addColumn<bool>("keyboard");
    QTest::addColumn<bool>("pointer");
    QTest::newRow("presenter") << QList<int>{KEY_PAGEUP, KEY_PAGEDOWN, KEY_B, KEY_F5, KEY_ESC} << false << false
                               << true << false;
    QTest::newRow("arrow keys only") << QList<int>{KEY_UP, KEY_DOWN} << false << false << true << false;
    QTest::newRow("media keys") << QList<int>{KEY_MUTE, KEY_VOLUMEUP, KEY_PLAYPAUSE} << false << false << false
                                << false;
    QTest::newRow("mouse") << QList<int>{BTN_LEFT, BTN_RIGHT} << true << false << false << true;
    QTest::newRow("touch screen") << QList<int>{BTN_TOUCH} << false << true << false << true;
    QTest::newRow("pedal") << QList<int>{BTN_TRIGGER, BTN_THUMB} << false << false << false << false;
}

void EvdevDeviceTest::kinds()
{
    QFETCH(QList<int>, keys);
    QFETCH(bool, relative);
    QFETCH(bool, absolute);
    QFETCH(bool, keyboard);
    QFETCH(bool, pointer);
    EvdevCapabilities caps;
    for (int code : keys)
        caps.keys.set(size_t(code));
    caps.relativePointer = relative;
    caps.absolutePointer = absolute;
    QCOMPARE(caps.isKeyboard(), keyboard);
    QCOMPARE(caps.isPointer(), pointer);
}

void EvdevDeviceTest::keyOrdinal()
{
    const EvdevCapabilities caps = withKeys({BTN_TRIGGER, BTN_THUMB, BTN_THUMB2, BTN_TRIGGER_HAPPY1});
    QCOMPARE(caps.keyOrdinal(BTN_TRIGGER), 1);
    QCOMPARE(caps.keyOrdinal(BTN_THUMB2), 3);
    QCOMPARE(caps.keyOrdinal(BTN_TRIGGER_HAPPY1), 4);
    QCOMPARE(caps.keyOrdinal(BTN_TOP), 0);
    QCOMPARE(caps.keyOrdinal(-1), 0);
    QCOMPARE(caps.keyOrdinal(EvdevCapabilities::kKeyCount), 0);
}

QTEST_GUILESS_MAIN(EvdevDeviceTest)
#include "EvdevDeviceTest.moc"
