#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"
#include "support/TestAudio.h"
#include "support/TestTiming.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

// The sound server goes away under a playing cue and comes back: a private
// PulseAudio server of this test, killed and started again. The GUI thread
// must keep running meanwhile, the transport must keep the cue at its place
// and tell what happens, and the cue must sound again, where it was, soon
// after the server is back.
class OutputRecoveryTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;
    std::unique_ptr<QProcess> m_server;

    bool startServer()
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
            if (info.waitForFinished(2000) && info.exitCode() == 0)
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
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + runtime + "/native"));
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        m_file = m_dir.filePath("tone.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 30.0;
        QVERIFY(TestAudio::writeWav(m_file, spec));
        QVERIFY2(startServer(), "the private PulseAudio server did not start");
    }

    void cleanupTestCase() { killServer(); }

    void serverKilledAndBack_data()
    {
        QTest::addColumn<int>("awayMs");
        QTest::newRow("away 3 s") << 3000;
        QTest::newRow("away 8 s") << 8000;
    }

    void serverKilledAndBack()
    {
        QFETCH(int, awayMs);
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
        sinceTick.restart();
        QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 3000);
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

        QVERIFY(startServer());
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
        auto soundHeard = [&monitor] {
            monitor.waitForReadyRead(20);
            const QByteArray data = monitor.readAllStandardOutput();
            const auto* samples = reinterpret_cast<const qint16*>(data.constData());
            for (qsizetype i = 0; i < data.size() / 2; ++i)
                if (qAbs(samples[i]) > 100)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(soundHeard(), 5000 * TestTiming::kSlowdown);
        const qint64 resumedMs = back.elapsed();
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
};

QTEST_GUILESS_MAIN(OutputRecoveryTest)
#include "OutputRecoveryTest.moc"
