#include "RecordingTestSupport.h"

#include "platform/MprisSessionPoller.h"
#include "recording/MediaSessionTracker.h"
#include "recording/MediaSessionWatcher.h"
#include "recording/RecordingDialog.h"
#include "recording/RecordingWaveformWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace RecordingTestSupport;

// An MPRIS player as the watcher sees it: PlaybackStatus and Metadata of
// "org.mpris.MediaPlayer2.Player" at "/org/mpris/MediaPlayer2".
class FakePlayer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)

public:
    explicit FakePlayer(const QString& name, const QString& status = "Stopped", const QString& title = QString())
        : status(status)
        , title(title)
        , connectionName("fake-player-" + name)
        , serviceName("org.mpris.MediaPlayer2." + name)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
        registered = bus.registerObject("/org/mpris/MediaPlayer2", this, QDBusConnection::ExportAllProperties)
                     && bus.registerService(serviceName);
    }
    ~FakePlayer() override { leave(); }

    // The player quits: its name leaves the bus.
    void leave()
    {
        if (!registered)
            return;
        QDBusConnection bus(connectionName);
        bus.unregisterService(serviceName);
        bus.unregisterObject("/org/mpris/MediaPlayer2");
        QDBusConnection::disconnectFromBus(connectionName);
        registered = false;
    }

    QString playbackStatus() const { return status; }
    QVariantMap metadata() const
    {
        QVariantMap map;
        map.insert("xesam:title", title);
        return map;
    }

    QString status;
    QString title;
    bool registered = false;

private:
    QString connectionName;
    QString serviceName;
};

Q_DECLARE_METATYPE(std::optional<MediaPlaybackStatus>)

// The media-session watcher: the decisions from what a player reports, and
// the watcher itself against fake MPRIS players on a private session bus
// (started by this test's main before anything touches D-Bus).
class MediaSessionWatcherTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static bool waitPolls(MediaSessionWatcher& watcher, int polls)
    {
        const int target = watcher.pollCount() + polls;
        return QTest::qWaitFor([&] { return watcher.pollCount() >= target; }, 10000);
    }

    static MediaSessionReading readOnce(MprisSessionPoller& poller)
    {
        QSignalSpy spy(&poller, &MprisSessionPoller::readingFinished);
        if (!poller.read() || !spy.wait(5000))
            return MediaSessionReading();
        return spy.at(0).at(0).value<MediaSessionReading>();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the private session bus did not start");
    }

    // Tokens: P playing, a paused, S stopped, C closed, O opened, G changing,
    // x status unreadable, "t:<title>" a title read at a title poll.
    void tracker_data()
    {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("playing, then paused") << QStringList{"P", "P", "a"} << QStringList{"-", "-", "stop"};
        QTest::newRow("playing, then stopped") << QStringList{"P", "S"} << QStringList{"-", "stop"};
        QTest::newRow("playing, then closed") << QStringList{"P", "C"} << QStringList{"-", "stop"};
        QTest::newRow("never played") << QStringList{"a", "S", "C"} << QStringList{"-", "-", "-"};
        QTest::newRow("paused to stopped after the stop") << QStringList{"P", "a", "S"}
                                                          << QStringList{"-", "stop", "-"};
        QTest::newRow("opened and changing end nothing") << QStringList{"P", "O", "P", "G"}
                                                         << QStringList{"-", "-", "-", "-"};
        QTest::newRow("unreadable status in between") << QStringList{"P", "x", "a"} << QStringList{"-", "-", "stop"};
        QTest::newRow("played again after a pause") << QStringList{"P", "a", "P", "a"}
                                                    << QStringList{"-", "stop", "-", "stop"};
        QTest::newRow("another title while playing") << QStringList{"P", "t:One", "P", "t:Two"}
                                                     << QStringList{"-", "-", "-", "track"};
        QTest::newRow("same title again") << QStringList{"P", "t:One", "P", "t:One"}
                                          << QStringList{"-", "-", "-", "-"};
        QTest::newRow("title at the poll playing began") << QStringList{"a", "t:One", "P", "t:Two"}
                                                         << QStringList{"-", "-", "-", "-"};
        QTest::newRow("title before anything played") << QStringList{"S", "t:One", "S", "t:Two"}
                                                       << QStringList{"-", "-", "-", "-"};
        QTest::newRow("first title is no change") << QStringList{"P", "P", "t:One"} << QStringList{"-", "-", "-"};
        QTest::newRow("an empty title is no reference") << QStringList{"P", "t:", "P", "t:Two"}
                                                        << QStringList{"-", "-", "-", "-"};
        QTest::newRow("unreadable status ends a fresh start") << QStringList{"S", "P", "x", "t:One", "P", "t:Two"}
                                                              << QStringList{"-", "-", "-", "-", "-", "track"};
    }
    void tracker()
    {
        QFETCH(QStringList, inputs);
        MediaSessionTracker tracker;
        QStringList events;
        for (const QString& input : inputs) {
            MediaSessionTracker::Event event = MediaSessionTracker::Event::None;
            if (input.startsWith("t:")) {
                event = tracker.onTitle(input.mid(2));
            } else {
                std::optional<MediaPlaybackStatus> status;
                const QHash<QString, MediaPlaybackStatus> codes{
                    {"P", MediaPlaybackStatus::Playing}, {"a", MediaPlaybackStatus::Paused},
                    {"S", MediaPlaybackStatus::Stopped}, {"C", MediaPlaybackStatus::Closed},
                    {"O", MediaPlaybackStatus::Opened},  {"G", MediaPlaybackStatus::Changing}};
                if (codes.contains(input))
                    status = codes.value(input);
                event = tracker.onStatus(status);
            }
            events << (event == MediaSessionTracker::Event::Stop          ? "stop"
                       : event == MediaSessionTracker::Event::TrackChange ? "track"
                                                                          : "-");
        }
        QTEST(events, "events");
    }

    // Each step holds the player in one state for some polls; a title is
    // read every fifth poll, so title steps hold for at least five.
    void watcher_data()
    {
        QTest::addColumn<QStringList>("steps");  // "status/title/polls", status "gone": the player quits
        QTest::addColumn<QStringList>("events"); // "stop@step" or "track@step"
        QTest::newRow("playing, then paused") << QStringList{"Playing/A/3", "Paused/A/3"} << QStringList{"stop@1"};
        QTest::newRow("paused and stopped before playing") << QStringList{"Paused/A/3", "Stopped/A/3"}
                                                           << QStringList();
        QTest::newRow("only the change away from playing counts")
            << QStringList{"Playing/A/3", "Paused/A/3", "Stopped/A/3"} << QStringList{"stop@1"};
        QTest::newRow("another title while playing") << QStringList{"Playing/A/6", "Playing/B/6"}
                                                     << QStringList{"track@1"};
        QTest::newRow("the player quits") << QStringList{"Playing/A/3", "gone//3"} << QStringList{"stop@1"};
    }
    void watcher()
    {
        QFETCH(QStringList, steps);
        FakePlayer player("watched");
        QVERIFY(player.registered);
        MediaSessionWatcher watcher(0);
        watcher.setPollInterval(30);
        QStringList events;
        int step = 0;
        connect(&watcher, &MediaSessionWatcher::stopRequested, this, [&](bool trackChanged) {
            events << QStringLiteral("%1@%2").arg(trackChanged ? "track" : "stop").arg(step);
        });
        for (const QString& spec : steps) {
            const QStringList parts = spec.split('/');
            if (parts.at(0) == "gone") {
                player.leave();
            } else {
                player.status = parts.at(0);
                player.title = parts.at(1);
            }
            if (step == 0)
                QVERIFY(watcher.start());
            QVERIFY(waitPolls(watcher, parts.at(2).toInt()));
            ++step;
        }
        QTEST(events, "events");
    }

    // The recorded program's player is followed, also when another plays too.
    void prefersThePlayerOfTheRecordedProcess()
    {
        FakePlayer local("aaa", "Playing", "Here");
        // A player in a process of its own: this program run as one.
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--fake-player", "zzz", "Playing", "There"});
        QVERIFY(child.waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered("org.mpris.MediaPlayer2.zzz"); },
            10000));

        MprisSessionPoller byChild(QDBusConnection::sessionBus(), quint32(child.processId()));
        MediaSessionReading reading = readOnce(byChild);
        QCOMPARE(reading.player, QString("org.mpris.MediaPlayer2.zzz"));
        QCOMPARE(reading.title, QString("There"));
        QVERIFY(reading.statusRead);
        QCOMPARE(reading.status, MediaPlaybackStatus::Playing);

        MprisSessionPoller bySelf(QDBusConnection::sessionBus(), quint32(QCoreApplication::applicationPid()));
        QCOMPARE(readOnce(bySelf).player, QString("org.mpris.MediaPlayer2.aaa"));

        // No recorded program: the first playing player by name.
        MprisSessionPoller byNone(QDBusConnection::sessionBus(), 0);
        QCOMPARE(readOnce(byNone).player, QString("org.mpris.MediaPlayer2.aaa"));

        child.kill();
        child.waitForFinished();
    }

    // An idle player gives way to one that plays; one that has played is
    // kept, so that its pause is seen while another plays on.
    void followsThePlayerThatPlays()
    {
        FakePlayer idle("aaa", "Stopped", "Idle");
        FakePlayer music("bbb", "Stopped", "Song");
        MprisSessionPoller poller(QDBusConnection::sessionBus(), 0);
        QCOMPARE(readOnce(poller).player, QString("org.mpris.MediaPlayer2.aaa"));
        music.status = "Playing";
        QCOMPARE(readOnce(poller).player, QString("org.mpris.MediaPlayer2.bbb"));
        idle.status = "Playing";
        music.status = "Paused";
        const MediaSessionReading paused = readOnce(poller);
        QCOMPARE(paused.player, QString("org.mpris.MediaPlayer2.bbb"));
        QCOMPARE(paused.status, MediaPlaybackStatus::Paused);
        // It quits: reported closed once, then the other is followed.
        music.leave();
        const MediaSessionReading closed = readOnce(poller);
        QVERIFY(closed.hasSession && closed.statusRead);
        QCOMPARE(closed.status, MediaPlaybackStatus::Closed);
        QCOMPARE(readOnce(poller).player, QString("org.mpris.MediaPlayer2.aaa"));
        idle.leave();
        QCOMPARE(readOnce(poller).status, MediaPlaybackStatus::Closed);
        QVERIFY(!readOnce(poller).hasSession);  // nothing left to follow
    }

    void withoutASessionBusNothingIsWatched()
    {
        QDBusConnection none = QDBusConnection::connectToBus(
            "unix:path=" + m_dir.filePath("no-bus-here"), "no-bus");
        QVERIFY(!none.isConnected());
        MediaSessionWatcher watcher(0, none);
        QVERIFY(!watcher.start());
        QVERIFY(!watcher.isRunning());
        QDBusConnection::disconnectFromBus("no-bus");
    }

    // Deleted with its calls on the way: nothing arrives afterwards.
    void deletedWhileAsking()
    {
        FakePlayer player("ask", "Playing", "A");
        for (int i = 0; i < 20; ++i) {
            auto watcher = std::make_unique<MediaSessionWatcher>(0);
            QVERIFY(watcher->start());
            if (i % 2)
                QTest::qWait(1);
            watcher.reset();
        }
        QTest::qWait(100);
    }

    // The whole road in the dialog: a recording in media-session mode ends
    // by itself when the player pauses.
    void dialogStopsWhenThePlayerPauses()
    {
        FakePlayer player("show", "Playing", "Track");
        RecordingDialog d;
        d.listSources = nullptr;
        const QString folder = m_dir.filePath("dialog");
        QDir().mkpath(folder);
        d.setRecordingsFolder(folder);
        d.formatCombo->setCurrentIndex(d.formatCombo->findData("wav"));
        d.trimSilenceCheck->setChecked(false);
        d.autoStopCheck->setChecked(true);
        d.state = RecordingDialog::Recording;
        d.captureSampleRate = 44100;
        d.captureChannels = 2;
        d.accumulatedMs = 20000;  // past the first 20 s
        d.recordClock.start();
        d.smtcActive = d.autoStopModeFor("ALL (录制所有声音)") == MediaSession;
        QVERIFY(d.smtcActive);
        d.startMediaSessionWatcher(0);
        QVERIFY(d.mediaSessionWatcher && d.mediaSessionWatcher->isRunning());
        const QByteArray loud = sine(44100, 2000, 440, 0.5);
        d.appendCapturedAudio(loud.constData(), int(loud.size()));
        d.checkAutoStop();  // sound heard
        QTest::qWait(700);
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        player.status = "Paused";
        QTRY_COMPARE_WITH_TIMEOUT(d.state, int(RecordingDialog::Idle), 3000);
        QVERIFY(!d.mediaSessionWatcher);
        QVERIFY(QTest::qWaitFor([&] { return !d.isBusyWithFiles(); }, 10000));
        QCOMPARE(d.recordingsModel->rowCount(), 1);
    }
};

namespace {

// A session bus of this test's own: dbus-daemon started here, its address
// given to everything in this process and its children.
class PrivateSessionBus {
public:
    bool start()
    {
        QByteArray command = "dbus-daemon --session --fork --print-address=1 --print-pid=1";
        const QByteArray tmp = qgetenv("TMPDIR");
        command += " --address=unix:tmpdir=" + (tmp.isEmpty() ? QByteArray("/tmp") : tmp);
        FILE* out = popen(command.constData(), "r");
        if (!out)
            return false;
        char address[1024] = {};
        char pidText[64] = {};
        const bool read = fgets(address, sizeof address, out) && fgets(pidText, sizeof pidText, out);
        pclose(out);
        pid = QByteArray(pidText).trimmed().toInt();
        if (!read || pid <= 0)
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray(address).trimmed());
        return true;
    }
    ~PrivateSessionBus()
    {
        if (pid > 0)
            kill(pid, SIGTERM);
    }

private:
    int pid = 0;
};

// A player living in a process of its own (the pid test).
int runFakePlayer(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    FakePlayer player(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                      QString::fromLocal8Bit(argv[4]));
    return player.registered ? app.exec() : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && QByteArray(argv[1]) == "--fake-player")
        return runFakePlayer(argc, argv);
    PrivateSessionBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "dbus-daemon could not be started (scripts/install-deps.sh installs it)\n");
        return 1;
    }
    QApplication app(argc, argv);
    MediaSessionWatcherTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MediaSessionWatcherTest.moc"
