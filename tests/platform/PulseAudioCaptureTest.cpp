#include "platform/PulseAudioCapture.h"
#include "recording/RecordingTestSupport.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pulse/simple.h>

#include <memory>

using RecordingTestSupport::toneLevel;

namespace {

constexpr int kRate = 44100;

// Collects what the capture thread delivers.
struct Collector {
    QMutex mutex;
    QByteArray pcm;

    static void callback(void* user, const char* data, int bytes)
    {
        auto* self = static_cast<Collector*>(user);
        QMutexLocker lock(&self->mutex);
        self->pcm.append(data, bytes);
    }
    QByteArray take()
    {
        QMutexLocker lock(&mutex);
        return pcm;
    }
};

// Plays 16-bit stereo audio from this very process, as one playback stream.
bool playHere(const QByteArray& pcm)
{
    pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 2};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "capture test", PA_STREAM_PLAYBACK, nullptr, "tone", &spec, nullptr,
                                 nullptr, &error);
    if (!s)
        return false;
    const bool ok = pa_simple_write(s, pcm.constData(), size_t(pcm.size()), &error) == 0
                    && pa_simple_drain(s, &error) == 0;
    pa_simple_free(s);  // the stream ends here
    return ok;
}

// The null sink renders as far ahead as its streams allow (paplay: 2 s),
// and a monitor of one stream only hears what is rendered after it attached.
// A 20 ms monitor of the whole output keeps the sink rendering in small
// blocks, as a desktop with any low-latency stream does.
struct SinkInSmallBlocks {
    Collector ignored;
    PulseAudioCapture capture;
    SinkInSmallBlocks()
    {
        capture.start({PulseAudioCapture::SourceKind::AllSystemAudio, 0, {}}, kRate, &Collector::callback, &ignored,
                      nullptr);
    }
};

}  // namespace

class PulseAudioCaptureTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_low;   // 440 Hz
    QString m_high;  // 1000 Hz

    std::unique_ptr<QProcess> play(const QString& path)
    {
        auto process = std::make_unique<QProcess>();
        process->start("paplay", {path});
        return process;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_low = m_dir.filePath("low.wav");
        m_high = m_dir.filePath("high.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 1.5;
        spec.amplitude = 0.3;
        spec.frequency = 440;
        QVERIFY(TestAudio::writeWav(m_low, spec));
        spec.frequency = 1000;
        QVERIFY(TestAudio::writeWav(m_high, spec));
    }

    void allSystemAudioHearsEveryStream()
    {
        Collector collector;
        PulseAudioCapture capture;
        QString error;
        QVERIFY2(capture.start({PulseAudioCapture::SourceKind::AllSystemAudio, 0, {}}, kRate, &Collector::callback,
                               &collector, &error),
                 qPrintable(error));
        QVERIFY(capture.isAttached());
        auto low = play(m_low);
        auto high = play(m_high);
        QVERIFY(low->waitForFinished(10000) && low->exitCode() == 0);
        QVERIFY(high->waitForFinished(10000) && high->exitCode() == 0);
        capture.stop();
        const QByteArray pcm = collector.take();
        QVERIFY(toneLevel(pcm, kRate, 440) > 0.05);
        QVERIFY(toneLevel(pcm, kRate, 1000) > 0.05);
        QVERIFY(toneLevel(pcm, kRate, 700) < 0.01);
    }

    void applicationHearsOnlyItsOwnStream()
    {
        SinkInSmallBlocks smallBlocks;
        auto low = play(m_low);
        QVERIFY(low->waitForStarted());
        QThread::msleep(300);  // playing already when the capture starts
        Collector collector;
        PulseAudioCapture capture;
        QString error;
        QVERIFY2(capture.start({PulseAudioCapture::SourceKind::Application, quint32(low->processId()), {}}, kRate,
                               &Collector::callback, &collector, &error),
                 qPrintable(error));
        auto high = play(m_high);
        QVERIFY(low->waitForFinished(10000) && low->exitCode() == 0);
        QVERIFY(high->waitForFinished(10000) && high->exitCode() == 0);
        capture.stop();
        const QByteArray pcm = collector.take();
        const double wanted = toneLevel(pcm, kRate, 440);
        const double other = toneLevel(pcm, kRate, 1000);
        QVERIFY2(wanted > 0.05, qPrintable(QString::number(wanted)));
        QVERIFY2(other < 0.005, qPrintable(QString::number(other)));
        QVERIFY(capture.attachCount() >= 1);
    }

    // The application stops its stream and plays again: the capture follows,
    // and the gap is silence as long as the gap was.
    void applicationComesBackAfterAGap()
    {
        Collector collector;
        PulseAudioCapture capture;
        QString error;
        QElapsedTimer wall;
        wall.start();
        QVERIFY2(capture.start({PulseAudioCapture::SourceKind::Application,
                                quint32(QCoreApplication::applicationPid()), {}},
                               kRate, &Collector::callback, &collector, &error),
                 qPrintable(error));
        QVERIFY(!capture.isAttached());  // not playing yet
        const QByteArray tone = RecordingTestSupport::sine(kRate, 500, 440, 0.3);
        QVERIFY(playHere(tone));
        QThread::msleep(1000);
        QVERIFY(playHere(tone));
        QThread::msleep(300);
        capture.stop();
        const qint64 elapsed = wall.elapsed();
        QVERIFY2(capture.attachCount() >= 2, qPrintable(QString::number(capture.attachCount())));

        const QByteArray pcm = collector.take();
        const qint64 recordedMs = pcm.size() / 4 * 1000 / kRate;
        QVERIFY2(std::llabs(recordedMs - elapsed) < 250,
                 qPrintable(QString("%1 ms recorded in %2 ms").arg(recordedMs).arg(elapsed)));
        // 100 ms windows: loud, then a long quiet run, then loud again.
        QString shape;
        const qint64 window = kRate / 10 * 4;
        for (qint64 at = 0; at + window <= pcm.size(); at += window)
            shape += toneLevel(pcm.mid(at, window), kRate, 440) > 0.1 ? 'X' : '.';
        const QRegularExpression pattern("X{3,}\\.{7,}X{3,}");
        QVERIFY2(pattern.match(shape).hasMatch(), qPrintable(shape));
    }

    void deviceRecordsThatSource_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("by name") << "corvelle_test.monitor";
        QTest::newRow("unknown: the default source") << "no such device";
    }
    void deviceRecordsThatSource()
    {
        QFETCH(QString, name);
        Collector collector;
        PulseAudioCapture capture;
        QString error;
        QVERIFY2(capture.start({PulseAudioCapture::SourceKind::Device, 0, name}, 48000, &Collector::callback,
                               &collector, &error),
                 qPrintable(error));
        auto low = play(m_low);
        QVERIFY(low->waitForFinished(10000) && low->exitCode() == 0);
        capture.stop();
        QVERIFY(toneLevel(collector.take(), 48000, 440) > 0.05);
    }

    void noServerFailsAtOnce()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + m_dir.filePath("nothing-here").toLocal8Bit());
        Collector collector;
        PulseAudioCapture capture;
        QString error;
        QElapsedTimer timer;
        timer.start();
        const bool started = capture.start({}, kRate, &Collector::callback, &collector, &error);
        qputenv("PULSE_SERVER", saved);
        QVERIFY(!started);
        QVERIFY(!error.isEmpty());
        QVERIFY(!capture.isRunning());
        QVERIFY(timer.elapsed() < 3000);
    }
};

QTEST_MAIN(PulseAudioCaptureTest)
#include "PulseAudioCaptureTest.moc"
