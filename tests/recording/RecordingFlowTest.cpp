#include "RecordingTestSupport.h"

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "platform/PulseAudioCapture.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "recording/RecordingDialog.h"
#include "recording/RecordingWaveformWidget.h"
#include "support/TestAudio.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace RecordingTestSupport;

// The whole road with a private PulseAudio server: a program plays a tone,
// the operator picks it in the dialog, records, stops, confirms, and the
// recording becomes a cue of the current playlist (done here as the main
// window's confirm slot does it).
class RecordingFlowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;      // 440 Hz, 4 s
    QString m_short;     // 440 Hz, 2 s
    QString m_opening;   // the cue already in the playlist
    // The null sink renders as far ahead as its streams allow and a monitor
    // of one stream hears only what is rendered after it attached; a 20 ms
    // monitor of the whole output keeps it rendering in small blocks, as a
    // desktop with any low-latency stream does.
    std::unique_ptr<PulseAudioCapture> m_smallBlocks;

    std::unique_ptr<QProcess> play(const QString& path)
    {
        auto process = std::make_unique<QProcess>();
        process->start("paplay", {path});
        return process;
    }

    // Picks the source with a click, as the operator does.
    static bool clickSource(RecordingDialog& d, const QString& text)
    {
        const auto found = d.sourceList->findItems(text, Qt::MatchExactly);
        if (found.isEmpty())
            return false;
        const QRect rect = d.sourceList->visualItemRect(found.first());
        QTest::mouseClick(d.sourceList->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        return d.checkedSourceText() == text;
    }

    static bool listed(RecordingDialog& d, const QString& text)
    {
        return !d.sourceList->findItems(text, Qt::MatchExactly).isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("flow.db")));
        TestAudio::WavSpec spec;
        spec.amplitude = 0.3;
        spec.seconds = 4.0;
        m_tone = m_dir.filePath("tone.wav");
        QVERIFY(TestAudio::writeWav(m_tone, spec));
        spec.seconds = 2.0;
        m_short = m_dir.filePath("short.wav");
        QVERIFY(TestAudio::writeWav(m_short, spec));
        spec.frequency = 880;
        m_opening = m_dir.filePath("opening.wav");
        QVERIFY(TestAudio::writeWav(m_opening, spec));
        char ignored = 0;
        m_smallBlocks = std::make_unique<PulseAudioCapture>();
        QVERIFY(m_smallBlocks->start({PulseAudioCapture::SourceKind::AllSystemAudio, 0, {}}, 44100,
                                     [](void*, const char*, int) {}, &ignored, nullptr));
    }

    void cleanupTestCase()
    {
        m_smallBlocks.reset();
    }

    void init()
    {
        QSettings().clear();
    }

    void recordConfirmAndBecomeACue()
    {
        // The current playlist, with a cue in it already.
        PlaylistGroup show;
        show.name = "Show";
        int sortOrder = 0;
        QVERIFY(DatabaseManager::instance()->getNextGroupSortOrder(sortOrder));
        QVERIFY(DatabaseManager::instance()->insertPlaylistGroup(show, sortOrder));
        AudioEngine engine;
        CueManager cues(&engine);
        Cue* opening = cues.createCue(m_opening);
        QVERIFY(opening && cues.addCueToPlaylist(opening, show.id, -1));

        auto tone = play(m_tone);
        QVERIFY(tone->waitForStarted());
        RecordingDialog d;
        const QString folder = m_dir.filePath("recordings");
        d.setRecordingsFolder(folder);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        // paplay runs as pacat: that is the name the server gives.
        QTRY_VERIFY_WITH_TIMEOUT(listed(d, "pacat"), 6000);
        QVERIFY(listed(d, "ALL (录制所有声音)"));
        QVERIFY(clickSource(d, "pacat"));
        QCOMPARE(QSettings().value("recording/lastSource").toString(), QString("pacat"));

        QTest::mouseClick(d.recordIndicator, Qt::LeftButton);
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        QVERIFY(tone->waitForFinished(15000));
        QTest::qWait(300);
        QVERIFY(!d.waveform->peakList().isEmpty());  // the strip grew while recording
        d.stopButton->click();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        QTRY_COMPARE_WITH_TIMEOUT(d.recordingsModel->rowCount(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.isBusyWithFiles(), 15000);

        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        QVERIFY(path.startsWith(folder + "/录音_"));
        QVERIFY(path.endsWith(".mp3"));  // the default format
        // The editor holds the decoded recording: the tone, its silence trimmed.
        QVERIFY(toneLevel(d.editPcm, 44100, 440) > 0.05);
        const qint64 recordedMs = d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong();
        QVERIFY2(recordedMs > 1000 && recordedMs < 4300, qPrintable(QString::number(recordedMs)));

        QSignalSpy confirmed(&d, &RecordingDialog::recordingsConfirmed);
        d.confirmButton->click();
        QTRY_COMPARE(confirmed.count(), 1);
        QCOMPARE(confirmed.at(0).at(0).toStringList(), QStringList{path});
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(!d.isVisible());

        // The main window's slot: each confirmed file becomes a cue appended
        // to the current playlist.
        QList<int> added;
        for (const QString& file : confirmed.at(0).at(0).toStringList()) {
            Cue* cue = cues.createCue(file);
            QVERIFY(cue);
            QVERIFY(cues.addCueToPlaylist(cue, show.id, -1));
            added << cue->id();
        }
        QCOMPARE(cues.getPlaylistCueIds(show.id), (QList<int>{opening->id(), added.first()}));
        Cue* recorded = cues.getCue(added.first());
        QCOMPARE(recorded->filePath(), path);
        QVERIFY(QFileInfo::exists(path));
        cues.resolveCueDuration(recorded);
        QVERIFY2(std::llabs(recorded->durationMs() - recordedMs) < 100,
                 qPrintable(QString("%1 / %2").arg(recorded->durationMs()).arg(recordedMs)));
    }

    // Smart end on a program without a media player: the recording ends by
    // itself after the tone, once the level has stayed low long enough.
    void smartEndStopsAfterTheTone()
    {
        QSettings().setValue("recording/autoStop", true);
        QSettings().setValue("recording/format", "wav");
        // One program that stays: pacat playing what it is given, silence between.
        QProcess player;
        player.start("pacat", {"--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                               "--latency-msec=50"});
        QVERIFY(player.waitForStarted());
        player.write(silence(44100, 300));
        RecordingDialog d;
        d.setRecordingsFolder(m_dir.filePath("smart"));
        QTRY_VERIFY_WITH_TIMEOUT(listed(d, "pacat"), 6000);
        QVERIFY(clickSource(d, "pacat"));
        QCOMPARE(d.autoStopModeFor("pacat"), Silence);

        d.onRecordClicked();
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        d.accumulatedMs = 20000;  // as if the first 20 s had passed
        QTest::qWait(1500);       // quiet before any sound: no stop
        QCOMPARE(d.state, int(RecordingDialog::Recording));
        player.write(sine(44100, 2000, 440, 0.3));
        QTest::qWait(2000);
        QElapsedTimer quiet;
        quiet.start();
        QTRY_COMPARE_WITH_TIMEOUT(d.state, int(RecordingDialog::Idle), 15000);
        // Net 5 s of quiet checks, the first ones still hearing the tone's
        // end in their 2 s window.
        QVERIFY2(quiet.elapsed() > 4500, qPrintable(QString::number(quiet.elapsed())));
        player.closeWriteChannel();
        player.waitForFinished(5000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.isBusyWithFiles(), 15000);
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        QVERIFY(toneLevel(d.editPcm, 44100, 440) > 0.05);
    }
};

QTEST_MAIN(RecordingFlowTest)
#include "RecordingFlowTest.moc"
