#include "platform/PulseAudioSources.h"
#include "support/TestAudio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pulse/simple.h>

#include <memory>

// What the sound server offers to record from, read from a private server
// whose only output is a null sink.
class PulseAudioSourcesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;

    static quint32 self() { return quint32(QCoreApplication::applicationPid()); }

    static QString pactl(const QStringList& arguments)
    {
        QProcess process;
        process.start("pactl", arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    std::unique_ptr<QProcess> play()
    {
        auto process = std::make_unique<QProcess>();
        process->start("paplay", {m_tone});
        return process;
    }

    // Until the server lists what was started (or 5 s).
    static int sinkInputCount()
    {
        return int(pactl({"list", "short", "sink-inputs"}).split('\n', Qt::SkipEmptyParts).size());
    }

    static RecordingSourceList queryUntil(const std::function<bool(const RecordingSourceList&)>& done)
    {
        RecordingSourceList list;
        QElapsedTimer clock;
        clock.start();
        do {
            list = PulseAudioSources::query(self());
            if (done(list))
                break;
            QTest::qWait(50);
        } while (clock.elapsed() < 5000);
        return list;
    }

    static int countNamed(const RecordingSourceList& list, const QString& name)
    {
        return int(std::count_if(list.applications.cbegin(), list.applications.cend(),
                                 [&](const AudioSessionProcess& app) { return app.name == name; }));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tone = m_dir.filePath("tone.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 3.0;
        spec.amplitude = 0.2;
        QVERIFY(TestAudio::writeWav(m_tone, spec));
    }

    void monitorsAreNoCaptureDevices()
    {
        const RecordingSourceList list = PulseAudioSources::query(self());
        QVERIFY(list.serverReachable);
        QCOMPARE(list.captureDevices, QStringList());  // the null sink has only its monitor
        QCOMPARE(list.applications.size(), 0);
    }

    void captureDevicesByDescription()
    {
        const QString module = pactl({"load-module", "module-null-source", "source_name=corvelle_mic",
                                      "description=Stage_Mic"});
        QVERIFY(!module.isEmpty());
        const RecordingSourceList list = PulseAudioSources::query(self());
        pactl({"unload-module", module});
        QCOMPARE(list.captureDevices, QStringList{"Stage_Mic"});
    }

    void programsPlayingSound()
    {
        // The second program starts only once the server holds the first's
        // stream, so "first" is first in the server's order too.
        auto first = play();
        QVERIFY(first->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(sinkInputCount(), 1, 5000);
        auto second = play();
        QVERIFY(second->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(sinkInputCount(), 2, 5000);
        // paplay is pacat under another name; the server knows the executable.
        const RecordingSourceList list = queryUntil([](const RecordingSourceList& l) {
            return l.applications.size() == 1 && l.applications.first().name == "pacat";
        });
        // Two streams of one program: one entry, with the first one's process id.
        QCOMPARE(countNamed(list, "pacat"), 1);
        QCOMPARE(list.applications.first().pid, quint32(first->processId()));
        first->kill();
        second->kill();
        first->waitForFinished();
        second->waitForFinished();
    }

    // This program's own playback (the preview) is no source.
    void ownStreamsAreLeftOut()
    {
        pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "sources test", PA_STREAM_PLAYBACK, nullptr, "own", &spec,
                                          nullptr, nullptr, &error);
        QVERIFY(stream);
        const QByteArray silence(44100 * 4 / 10, '\0');
        pa_simple_write(stream, silence.constData(), size_t(silence.size()), &error);
        const RecordingSourceList mine = PulseAudioSources::query(0);  // nothing excluded
        const RecordingSourceList others = PulseAudioSources::query(self());
        pa_simple_free(stream);
        QCOMPARE(mine.applications.size(), 1);
        QCOMPARE(mine.applications.first().pid, self());
        QCOMPARE(others.applications.size(), 0);
    }

    void noServerAnswersAtOnce()
    {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + m_dir.filePath("no-server").toLocal8Bit());
        QElapsedTimer clock;
        clock.start();
        const RecordingSourceList list = PulseAudioSources::query(self(), 2000);
        const qint64 took = clock.elapsed();
        qputenv("PULSE_SERVER", server);
        QVERIFY(!list.serverReachable);
        QVERIFY(list.captureDevices.isEmpty() && list.applications.isEmpty());
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));  // refused, not timed out
    }
};

QTEST_GUILESS_MAIN(PulseAudioSourcesTest)
#include "PulseAudioSourcesTest.moc"
