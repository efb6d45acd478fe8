#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"
#include "support/TestTiming.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

// How late a 16 ms timer of the window runs at worst, and, as the measure of
// what the machine's load alone costs, how late a plain thread of the same
// process wakes from 16 ms sleeps meanwhile.
class FrameLateness {
public:
    FrameLateness()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_gui = std::max(m_gui, m_sinceFrame.restart() - 16); });
        m_sinceFrame.start();
        m_timer.start(16);
        m_thread = std::thread([this] {
            QElapsedTimer since;
            since.start();
            while (!m_stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(16));
                m_beside.store(std::max(m_beside.load(), since.restart() - 16));
            }
        });
    }
    ~FrameLateness() { stop(); }
    void stop()
    {
        m_timer.stop();
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    qint64 gui() const { return m_gui; }
    qint64 beside() const { return m_beside.load(); }
    // The GUI thread never held the timer up by more than ~100 ms of its own.
    bool onTime() const { return m_gui <= 100 + beside(); }
    QString report() const
    {
        return QString("a 16 ms timer ran %1 ms late (a thread beside it woke %2 ms late)").arg(m_gui).arg(beside());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceFrame;
    qint64 m_gui = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_beside{0};
};

// The sound server goes away under a playing cue and comes back: a private
// PulseAudio server of this test, killed and started again, or killed and
// replaced for a while by one that takes connections and never answers (a
// hung server), so that every attempt to reopen the output waits for it. The
// GUI thread must keep running meanwhile, the transport must keep the cue at
// its place and tell what happens, and the cue must sound again, where it
// was, soon after the server is back.
class OutputRecoveryTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;
    std::unique_ptr<QProcess> m_server;
    QString m_socketPath;
    int m_hungServer = -1;

    // Listens on the server's socket and never accepts: clients connect
    // (the kernel queues them) and wait for an answer that never comes.
    bool startHungServer()
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_socketPath);
        if (path.size() >= qsizetype(sizeof address.sun_path))
            return false;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        ::unlink(path.constData());
        m_hungServer = ::socket(AF_UNIX, SOCK_STREAM, 0);
        return m_hungServer >= 0 && ::bind(m_hungServer, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::listen(m_hungServer, 128) == 0;
    }

    void stopHungServer()
    {
        if (m_hungServer < 0)
            return;
        ::close(m_hungServer);
        m_hungServer = -1;
        ::unlink(QFile::encodeName(m_socketPath).constData());
    }

    // ownWait, when given, restarts after each of the test's blocking
    // waits for the server, so that a timer of the GUI thread running in
    // between does not take them for the program's.
    bool startServer(QElapsedTimer* ownWait = nullptr)
    {
        m_server = std::make_unique<QProcess>();
        m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server->start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                       "--disable-shm=yes", "--log-level=error", "--log-target=stderr",
                                       "--load=module-null-sink sink_name=recovery_test",
                                       "--load=module-native-protocol-unix"});
        if (!m_server->waitForStarted(5000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            QProcess info;
            info.start("pactl", {"info"});
            const bool answered = info.waitForFinished(2000) && info.exitCode() == 0;
            if (ownWait)
                ownWait->restart();
            if (answered)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    void killServer()
    {
        if (!m_server)
            return;
        m_server->kill();
        m_server->waitForFinished(5000);
        m_server.reset();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // This test's own server, whatever the desktop runs.
        const QString runtime = m_dir.filePath("pulse");
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QDir().mkpath(m_dir.filePath("pulse-state")));
        qputenv("PULSE_RUNTIME_PATH", QFile::encodeName(runtime));
        qputenv("PULSE_STATE_PATH", QFile::encodeName(m_dir.filePath("pulse-state")));
        m_socketPath = runtime + "/native";
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + m_socketPath));
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        m_file = m_dir.filePath("tone.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 30.0;
        QVERIFY(TestAudio::writeWav(m_file, spec));
        QVERIFY2(startServer(), "the private PulseAudio server did not start");
    }

    // A case that failed while the hung server stood in leaves the socket
    // to the next server.
    void cleanup() { stopHungServer(); }

    void cleanupTestCase()
    {
        stopHungServer();
        killServer();
    }

    // A stream that starts right after the last one left the sink: the
    // sink, idle meanwhile, has rendered as far ahead as it may (a null
    // sink: 2 s) and reads the new stream only once that has played. That
    // wait is no stall: reopening the output would leave the sink idle
    // again and start the wait over.
    void startRightAfterTheLastStreamLeft()
    {
        if (!m_server)
            QVERIFY(startServer());
        Cue cue(1, "tone", m_file);
        cue.setDuration(30000);
        LogCapture log;
        for (int round = 0; round < 3; ++round) {
            AudioEngine transport;  // a new stream each round
            transport.setOutputDevice("Default");
            QVERIFY(transport.play(&cue, true));
            // The sink's wait (under 2 s), then 1.5 s of the cue.
            QTRY_VERIFY_WITH_TIMEOUT(transport.getPosition() > 1500, 5000 * TestTiming::kSlowdown);
            QCOMPARE(log.count("Device stuck detected"), 0);
            transport.stop();
        }  // the stream leaves the sink here
    }

    // The server stops answering (stopped, not gone) while a cue plays: a
    // pause and a resume, which write over what the output holds, go by the
    // stream's timing at hand rather than ask the server and wait for it.
    void serverStopsAnswering()
    {
        if (!m_server)
            QVERIFY(startServer());
        AudioEngine transport;
        transport.setOutputDevice("Default");
        transport.setPauseFadeEnabled(false);
        Cue cue(1, "tone", m_file);
        cue.setDuration(30000);
        QVERIFY(transport.play(&cue, true));
        QTRY_VERIFY_WITH_TIMEOUT(transport.getPosition() > 500, 5000);

        const auto server = pid_t(m_server->processId());
        QVERIFY(::kill(server, SIGSTOP) == 0);
        QElapsedTimer timer;
        timer.start();
        transport.pause();
        const qint64 pauseMs = timer.restart();
        transport.resume();
        const qint64 resumeMs = timer.elapsed();
        ::kill(server, SIGCONT);
        const QString took = QString("pause took %1 ms, resume %2 ms").arg(pauseMs).arg(resumeMs);
        // Asking the server would take its 2 s timeout each.
        QVERIFY2(pauseMs < 1000 * TestTiming::kSlowdown && resumeMs < 1000 * TestTiming::kSlowdown, qPrintable(took));
        QCOMPARE(transport.getState(), AudioEngine::Playing);
        transport.stop();
    }

    void serverKilledAndBack_data()
    {
        QTest::addColumn<int>("awayMs");
        QTest::addColumn<bool>("hung");
        QTest::newRow("away 3 s") << 3000 << false;
        QTest::newRow("away 8 s") << 8000 << false;
        QTest::newRow("hung 8 s") << 8000 << true;
    }

    void serverKilledAndBack()
    {
        QFETCH(int, awayMs);
        QFETCH(bool, hung);
        if (!m_server)
            QVERIFY(startServer());
        AudioEngine transport;
        transport.setOutputDevice("Default");
        auto* engine = transport.findChild<PlaybackEngine*>();
        QVERIFY(engine);
        QSignalSpy notices(&transport, &AudioEngine::outputStatusChanged);
        QSignalSpy finished(&transport, &AudioEngine::playbackFinished);

        Cue cue(1, "tone", m_file);
        cue.setDuration(30000);
        QVERIFY(transport.play(&cue, true));
        QTRY_VERIFY_WITH_TIMEOUT(transport.getPosition() > 1500, 5000);
        QVERIFY(engine->isPlaying());

        // The GUI thread's longest pause from here on (not counting the
        // test's own waits for the server).
        QElapsedTimer sinceTick;
        sinceTick.start();
        qint64 longestPause = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        connect(&ticker, &QTimer::timeout, this, [&] {
            longestPause = std::max(longestPause, sinceTick.restart());
        });
        ticker.start(5);
        killServer();
        if (hung)
            QVERIFY(startHungServer());
        sinceTick.restart();
        // While the server is away.
        FrameLateness lateness;
        // A hung server keeps the first attempt waiting for its answer.
        QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), hung ? 5000 : 3000);
        QCOMPARE(notices.first().at(0).toString(), QStringLiteral("音频输出中断，正在重试…"));
        QCOMPARE(notices.first().at(1).toBool(), true);
        QTest::qWait(300);
        const qint64 where = transport.getPosition();
        QTest::qWait(awayMs - 300);
        // Still the cue, still meant to play, at the same place.
        QCOMPARE(transport.getCurrentCue(), &cue);
        QCOMPARE(transport.getState(), AudioEngine::Playing);
        QCOMPARE(finished.count(), 0);
        QVERIFY(qAbs(transport.getPosition() - where) <= 50);
        lateness.stop();
        // The output was tried again (and again) all along.
        QVERIFY2(notices.size() >= 3, qPrintable(QString("%1 notices").arg(notices.size())));
        QVERIFY2(lateness.onTime(), qPrintable(lateness.report()));

        stopHungServer();
        QVERIFY(startServer(&sinceTick));
        QElapsedTimer back;
        back.start();
        sinceTick.restart();
        // What is heard: the sink's monitor.
        QProcess monitor;
        monitor.setStandardInputFile(QProcess::nullDevice());
        monitor.start("parec", {"--device=recovery_test.monitor", "--raw", "--format=s16le", "--channels=2",
                                "--latency-msec=10"});
        QVERIFY(monitor.waitForStarted(5000));
        sinceTick.restart();
        // Each call takes what the monitor delivered since the last one, so
        // the first sound is kept: QTRY_VERIFY asks again after the first
        // yes, and the monitor may well have delivered nothing new by then
        // (parec's chunks come tens of ms apart on a loaded machine).
        qint64 resumedMs = -1;
        auto soundHeard = [&] {
            if (resumedMs >= 0)
                return true;
            monitor.waitForReadyRead(20);
            const QByteArray data = monitor.readAllStandardOutput();
            const auto* samples = reinterpret_cast<const qint16*>(data.constData());
            for (qsizetype i = 0; i < data.size() / 2; ++i) {
                if (qAbs(samples[i]) > 100) {
                    resumedMs = back.elapsed();
                    return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(soundHeard(), 5000 * TestTiming::kSlowdown);
        qInfo() << "sound back" << resumedMs << "ms after the server";
        monitor.kill();
        monitor.waitForFinished(2000);
        sinceTick.restart();
        QVERIFY(!transport.hasOutputFailed());
        QVERIFY2(resumedMs <= 2500, qPrintable(QString("sound back %1 ms after the server").arg(resumedMs)));
        QCOMPARE(notices.last().at(0).toString(), QStringLiteral("音频输出已恢复"));
        QCOMPARE(notices.last().at(1).toBool(), false);
        // It goes on where it was (the output's buffer ahead of the ear may be skipped).
        QVERIFY2(transport.getPosition() >= where && transport.getPosition() < where + 3000,
                 qPrintable(QString("position %1, was %2").arg(transport.getPosition()).arg(where)));
        ticker.stop();
        QVERIFY2(longestPause < 400 * TestTiming::kSlowdown, qPrintable(QString("the GUI thread stood still %1 ms").arg(longestPause)));
        transport.stop();
    }

    // What the operator does while an open waits for a hung server (a
    // device change, a stop, a new start, quitting) waits for nothing, and
    // the open, finishing on its own later, reaches nothing that is gone.
    void openUnderWayLeftBehind()
    {
        if (!m_server)
            QVERIFY(startServer());
        auto transport = std::make_unique<AudioEngine>();
        transport->setOutputDevice("Default");
        auto* engine = transport->findChild<PlaybackEngine*>();
        QVERIFY(engine);
        Cue cue(1, "tone", m_file);
        cue.setDuration(30000);
        QVERIFY(transport->play(&cue, true));
        QTRY_VERIFY_WITH_TIMEOUT(transport->getPosition() > 500, 5000);

        killServer();
        QVERIFY(startHungServer());
        QTRY_VERIFY_WITH_TIMEOUT(engine->isOpeningDevice(), 3000);

        FrameLateness lateness;
        transport->setOutputDevice("Default");
        QVERIFY(engine->isOpeningDevice());
        QTest::qWait(200);
        transport->stop();
        QVERIFY(transport->play(&cue, true, 2000));
        QTest::qWait(200);
        QElapsedTimer quitting;
        quitting.start();
        transport.reset();
        const qint64 quitMs = quitting.elapsed();
        // The opens left behind end (time out) meanwhile.
        QTest::qWait(2500);
        lateness.stop();
        QVERIFY2(quitMs < 100 * TestTiming::kSlowdown + lateness.beside(), qPrintable(QString("quitting took %1 ms; ").arg(quitMs) + lateness.report()));
        QVERIFY2(lateness.onTime(), qPrintable(lateness.report()));
        stopHungServer();
    }
};

QTEST_GUILESS_MAIN(OutputRecoveryTest)
#include "OutputRecoveryTest.moc"
