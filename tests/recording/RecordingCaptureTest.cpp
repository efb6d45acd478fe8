#include "RecordingTestSupport.h"

#include "platform/PulseAudioCapture.h"
#include "recording/RecordingDialog.h"
#include "recording/RecordingWaveformWidget.h"
#include "support/TestAudio.h"
#include "support/TestTiming.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace RecordingTestSupport;

// Recording through the dialog from a private PulseAudio server's null sink.
class RecordingCaptureTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_low;   // 440 Hz
    QString m_high;  // 1000 Hz
    QString m_long;  // 440 Hz, long enough for the pause test

    // The pause is decided as the capture hands its blocks over, so the
    // recorded length is off by how late they come; a sanitizer build hands
    // them over later still. The pause grows with the bound, so an ignored
    // pause stays well outside it.
    static constexpr int kPauseMs = 1000 * TestTiming::kSlowdown;
    static constexpr int kLengthToleranceMs = 200 * TestTiming::kSlowdown;

    std::unique_ptr<QProcess> play(const QString& path)
    {
        auto process = std::make_unique<QProcess>();
        process->start("paplay", {path});
        return process;
    }

    void setUp(RecordingDialog& d, const QString& kind, const QString& text, quint32 pid, bool trim)
    {
        // Only the source given here: no list from the server in between.
        d.listSources = nullptr;
        const QString folder = m_dir.filePath(QTest::currentTestFunction());
        QDir().mkpath(folder);
        d.setRecordingsFolder(folder);
        d.formatCombo->setCurrentIndex(d.formatCombo->findData("wav"));
        d.trimSilenceCheck->setChecked(trim);
        auto* item = new QListWidgetItem(text, d.sourceList);
        item->setData(Qt::UserRole, kind);
        item->setData(Qt::UserRole + 1, pid);
        item->setCheckState(Qt::Checked);
    }

    static void settle(RecordingDialog& d)
    {
        QVERIFY(QTest::qWaitFor([&] { return !d.isBusyWithFiles(); }, 20000));
    }

    QByteArray recordedFile(RecordingDialog& d)
    {
        settle(d);
        if (d.recordingsModel->rowCount() != 1)
            return QByteArray();
        return wavData(d.recordingsModel->item(0)->data(Qt::UserRole).toString());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_low = m_dir.filePath("low.wav");
        m_high = m_dir.filePath("high.wav");
        m_long = m_dir.filePath("long.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 1.0;
        spec.amplitude = 0.3;
        spec.frequency = 440;
        QVERIFY(TestAudio::writeWav(m_low, spec));
        spec.frequency = 1000;
        QVERIFY(TestAudio::writeWav(m_high, spec));
        spec.frequency = 440;
        spec.seconds = 3.0 + kPauseMs / 1000.0;
        QVERIFY(TestAudio::writeWav(m_long, spec));
    }

    void recordsAllSystemAudio()
    {
        RecordingDialog d;
        setUp(d, "all", "ALL (录制所有声音)", 0, true);
        d.onRecordClicked();
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        auto low = play(m_low);
        auto high = play(m_high);
        QVERIFY(low->waitForFinished(10000) && high->waitForFinished(10000));
        QTest::qWait(300);
        QVERIFY(!d.waveform->peakList().isEmpty());  // the strip grew while recording
        d.onRecordClicked();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        const QByteArray pcm = recordedFile(d);
        QVERIFY(toneLevel(pcm, 44100, 440) > 0.1);
        QVERIFY(toneLevel(pcm, 44100, 1000) > 0.1);
        // The silence around the tones was trimmed: about a second is left.
        const qint64 ms = RecordingPcm::durationMs(pcm.size(), 44100, 2);
        QVERIFY2(ms >= 900 && ms <= 1300, qPrintable(QString::number(ms)));
    }

    void recordsOneApplication()
    {
        // See PulseAudioCaptureTest: keeps the null sink rendering in small blocks.
        char ignored = 0;
        PulseAudioCapture smallBlocks;
        smallBlocks.start({PulseAudioCapture::SourceKind::AllSystemAudio, 0, {}}, 44100,
                          [](void*, const char*, int) {}, &ignored, nullptr);
        auto low = play(m_low);
        QVERIFY(low->waitForStarted());
        RecordingDialog d;
        setUp(d, "application", "paplay", quint32(low->processId()), false);
        d.onRecordClicked();
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        auto high = play(m_high);
        QVERIFY(low->waitForFinished(10000) && high->waitForFinished(10000));
        d.stopRecording();
        const QByteArray pcm = recordedFile(d);
        QVERIFY(toneLevel(pcm, 44100, 440) > 0.05);
        QVERIFY(toneLevel(pcm, 44100, 1000) < 0.005);
    }

    void pauseShortensTheRecording()
    {
        auto tone = play(m_long);
        QVERIFY(tone->waitForStarted());
        RecordingDialog d;
        setUp(d, "all", "ALL (录制所有声音)", 0, false);
        d.sampleRateCombo->setCurrentIndex(d.sampleRateCombo->findData(48000));
        QElapsedTimer wall;
        d.onRecordClicked();
        wall.start();
        QTest::qWait(700);
        d.onPlayPauseClicked();
        QCOMPARE(d.state, int(RecordingDialog::RecordingPaused));
        const QString frozen = d.timeLabel->text();
        QElapsedTimer paused;
        paused.start();
        QTest::qWait(kPauseMs);
        QCOMPARE(d.timeLabel->text(), frozen);  // the time stands still while paused
        d.onPlayPauseClicked();
        const qint64 pauseMs = paused.elapsed();
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        QTest::qWait(700);
        d.onStopClicked();
        const qint64 wallMs = wall.elapsed();
        tone->waitForFinished(10000);
        settle(d);
        QCOMPARE(d.recordingsModel->rowCount(), 1);

        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        QCOMPARE(wavRate(path), 48000);
        const qint64 ms = RecordingPcm::durationMs(wavData(path).size(), 48000, 2);
        const qint64 expected = wallMs - pauseMs;
        QVERIFY2(std::llabs(ms - expected) < kLengthToleranceMs,
                 qPrintable(QString("%1 ms recorded, %2 ms expected").arg(ms).arg(expected)));
    }

    void nothingCheckedDoesNothing()
    {
        RecordingDialog d;
        d.onRecordClicked();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
    }
};

QTEST_MAIN(RecordingCaptureTest)
#include "RecordingCaptureTest.moc"
