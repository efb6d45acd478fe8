#include "RecordingTestSupport.h"

#include "recording/RecordingDialog.h"
#include "support/LimitedFolder.h"
#include "support/TestTiming.h"
#include "recording/RecordingWaveformWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <limits>

using namespace RecordingTestSupport;

namespace {
constexpr int kRate = 44100;

qint64 frameOf(qint64 ms) { return ms * kRate / 1000; }
qint64 offsetOf(qint64 ms) { return frameOf(ms) * 4; }
}  // namespace

// One edit as the waveform is asked for it: D(elete), K(eep) or U(ndo).
struct Edit {
    char op;
    qint64 startMs = 0;
    qint64 endMs = 0;
};
Q_DECLARE_METATYPE(QList<Edit>)

class RecordingDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_diskOutput;

    // A recording as the capture would have left it, stopped the normal way.
    void record(RecordingDialog& d, const QByteArray& pcm, int rate = kRate)
    {
        d.state = RecordingDialog::Recording;
        d.captureSampleRate = rate;
        d.captureChannels = 2;
        d.waveform->clear();
        d.waveform->setRecording(true);
        d.waveform->setInteractive(false);
        d.waveform->setPlaybackPosition(-1);
        d.appendCapturedAudio(pcm.constData(), int(pcm.size()));
        d.stopRecording();
        settle(d);
    }

    // Waits until the saving, writing and loading given to the worker is done.
    static void settle(RecordingDialog& d)
    {
        QVERIFY(QTest::qWaitFor([&] { return !d.isBusyWithFiles(); }, 20000));
    }

    QStandardItem* addItem(RecordingDialog& d, const QString& path, qint64 durationMs)
    {
        auto* item = new QStandardItem(QFileInfo(path).completeBaseName());
        item->setData(path, Qt::UserRole);
        item->setData(QVariant::fromValue<qint64>(durationMs), Qt::UserRole + 1);
        item->setCheckable(true);
        d.recordingsModel->appendRow(item);
        return item;
    }

    void select(RecordingDialog& d, int row)
    {
        d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(row, 0),
                                                             QItemSelectionModel::ClearAndSelect);
        settle(d);
    }

    QString newFolder(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    QString setUpDialog(RecordingDialog& d, const QString& folderName, const QString& format = "wav")
    {
        const QString folder = newFolder(folderName);
        d.setRecordingsFolder(folder);
        d.formatCombo->setCurrentIndex(d.formatCombo->findData(format));
        d.trimSilenceCheck->setChecked(true);
        return folder;
    }

    void applyEdit(RecordingDialog& d, const Edit& e)
    {
        if (e.op == 'U') {
            d.waveform->undo();
            return;
        }
        d.waveform->setSelection(e.startMs, e.endMs);
        if (e.op == 'D')
            d.waveform->deleteSelection();
        else
            d.waveform->keepOnlySelection();
    }

    // A long recording, every frame different, made quickly.
    static QByteArray longCounting(qint64 seconds)
    {
        const qint64 frames = seconds * kRate;
        QByteArray pcm(qsizetype(frames * 4), Qt::Uninitialized);
        auto* out = reinterpret_cast<qint16*>(pcm.data());
        for (qint64 i = 0; i < frames; ++i) {
            out[2 * i] = qToLittleEndian<qint16>(qint16(i % 30011 + 1));
            out[2 * i + 1] = qToLittleEndian<qint16>(qint16(-(i % 29989) - 1));
        }
        return pcm;
    }

    // The editor takes pcm for path as if the worker had just decoded it.
    static void loadDecoded(RecordingDialog& d, const QString& path, const QByteArray& pcm)
    {
        d.loadForEditing(QString(), -1);
        d.editPath = path;
        d.loadPending = true;
        d.onRecordingLoaded(d.loadGeneration, {pcm, RecordingPcm::peaks(pcm.constData(), pcm.size(), 2, kRate)});
        QCOMPARE(d.editPcm.size(), pcm.size());
    }

    // The longest the GUI thread went between two ticks of a 16 ms timer,
    // from request() (made between two ticks) until landed() holds.
    static qint64 longestGuiGap(const std::function<void()>& request, const std::function<bool()>& landed)
    {
        QEventLoop loop;
        QElapsedTimer gap;
        qint64 longest = 0;
        bool requested = false;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(16);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            longest = std::max(longest, gap.restart());
            if (!requested) {
                requested = true;
                longest = 0;
                QTimer::singleShot(4, &loop, request);
            } else if (landed()) {
                loop.quit();
            }
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        gap.start();
        tick.start();
        loop.exec();
        return landed() ? longest : -1;
    }

    // The same edit made on plain bytes, as the expected result.
    static QByteArray modelEdit(const QByteArray& pcm, const Edit& e)
    {
        const qint64 start = std::min<qint64>(offsetOf(e.startMs), pcm.size());
        const qint64 end = std::min<qint64>(offsetOf(e.endMs), pcm.size());
        if (e.op == 'D')
            return pcm.left(start) + pcm.mid(end);
        return pcm.mid(start, end - start);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_diskOutput = m_dir.filePath("preview.raw");
        // The preview's output lands in a file instead of a sound card.
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", m_diskOutput.toLocal8Bit());
    }

    // --- stopping and saving ---------------------------------------------

    void stopTrimsSilenceAndSaves()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "trim");
        const QByteArray tone = sine(kRate, 1000, 440);
        record(d, silence(kRate, 1000) + tone + silence(kRate, 1000));
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        QVERIFY(path.startsWith(folder + "/录音_"));
        QVERIFY(path.endsWith(".wav"));
        QCOMPARE(wavData(path), tone);
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(1000));
        QCOMPARE(d.timeLabel->text(), QString("00:01.00"));
        // The new recording is selected and in the editor.
        QCOMPARE(d.editPath, path);
        QCOMPARE(d.editPcm, tone);
        QVERIFY(d.waveform->isInteractive());
    }

    // A long recording arrives in pieces that are no multiple of the 10 ms
    // peak block, one piece per waveform flush: 1 s of silence, ten 1 s tone
    // steps (300 to 1200 Hz), 30 s of silence. The trim keeps exactly the
    // ten steps, and the waveform's time is the audio's time.
    void trimOfALongRecordingKeepsEveryToneStep()
    {
        RecordingDialog d;
        setUpDialog(d, "steps");
        QByteArray tones;
        for (int step = 0; step < 10; ++step)
            tones += sine(kRate, 1000, 300 + 100 * step);
        const QByteArray audio = silence(kRate, 1000) + tones + silence(kRate, 30000);

        d.state = RecordingDialog::Recording;
        d.captureSampleRate = kRate;
        d.captureChannels = 2;
        d.waveform->clear();
        d.waveform->setRecording(true);
        for (qint64 at = 0, piece = 0; at < audio.size(); ++piece) {
            const qint64 frames = 2205 + (piece * 37) % 200 - 100;  // about 50 ms
            const qint64 bytes = std::min<qint64>(frames * 4, audio.size() - at);
            d.appendCapturedAudio(audio.constData() + at, int(bytes));
            d.flushWaveform();
            at += bytes;
        }
        // Each peak is 10 ms of audio (the last short block still to come).
        QVERIFY(d.waveform->durationMs() <= 41000);
        QVERIFY(d.waveform->durationMs() > 41000 - 10);

        d.stopRecording();
        settle(d);
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        const QByteArray saved = wavData(path);
        QCOMPARE(saved.size(), tones.size());
        QVERIFY(saved == tones);
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(10000));
        // Every step where it was played, the last ones included.
        for (int step = 0; step < 10; ++step) {
            const QByteArray second = saved.mid(offsetOf(1000 * step), offsetOf(1000));
            QVERIFY2(toneLevel(second, kRate, 300 + 100 * step) > 0.3, qPrintable(QString::number(step)));
        }
        QCOMPARE(d.waveform->durationMs(), qint64(10000));
    }

    void silentRecordingStaysWhole()
    {
        RecordingDialog d;
        setUpDialog(d, "silent");
        record(d, silence(kRate, 500));
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(500));
    }

    void mp3Recording()
    {
        RecordingDialog d;
        setUpDialog(d, "mp3", "mp3");
        record(d, sine(kRate, 1500, 440));
        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        QVERIFY(path.endsWith(".mp3"));
        QVERIFY(readFile(path).size() > 1000);
        QVERIFY(std::llabs(d.editDurationMs - 1500) <= 50);
    }

    // Two recordings stopped within one second must both survive.
    void namesAreUnique()
    {
        RecordingDialog d;
        setUpDialog(d, "unique");
        const QByteArray first = sine(kRate, 300, 440);
        const QByteArray second = sine(kRate, 300, 880);
        record(d, first);
        record(d, second);
        QCOMPARE(d.recordingsModel->rowCount(), 2);
        const QString a = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        const QString b = d.recordingsModel->item(1)->data(Qt::UserRole).toString();
        QVERIFY(a != b);
        QCOMPARE(wavData(a), first);
        QCOMPARE(wavData(b), second);
    }

    // A recording that cannot go into the first folder (a full disk) goes into
    // the next, and the operator is told where and why.
    void fullFolderFallbackIsSaid()
    {
        LimitedFolder full(LimitedFolder::Kind::Full, 256 * 1024, [](const QString&) {});
        LimitedFolder readOnly(LimitedFolder::Kind::ReadOnly, 256 * 1024, [](const QString&) {});
        const LimitedFolder& refused = full.usable() ? full : readOnly;
        if (!refused.usable())
            QSKIP("no full or read-only folder can be made here");
        const QString reason = full.usable() ? QStringLiteral("磁盘已满") : QStringLiteral("没有写入权限");
        RecordingDialog::UnsavedRecording recording;
        recording.pcm = sine(kRate, 3000, 440);  // larger than the small disk
        recording.suffix = QStringLiteral("wav");
        const QString good = newFolder("fallback-good");
        QString error;
        QString fallback;
        const QString path = RecordingDialog::writeRecordingFile({refused.path(), good}, recording, "录音",
                                                                 QDateTime::currentDateTime(), &error, &fallback);
        QVERIFY2(path.startsWith(good), qPrintable(error));
        QVERIFY2(fallback.contains(reason), qPrintable(fallback));
        QVERIFY(QDir(refused.path()).entryList(QDir::Files).isEmpty());

        RecordingDialog d;
        setUpDialog(d, "fallback");
        RecordingDialog::SaveOutcome outcome;
        outcome.path = path;
        outcome.durationMs = 3000;
        outcome.fallback = fallback;
        ++d.savesInFlight;
        d.onRecordingSaved(outcome);
        QMessageBox* box = d.findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY2(box->text().contains(reason) && box->text().contains(QDir::toNativeSeparators(good)),
                 qPrintable(box->text()));
        QCOMPARE(d.recordingsModel->rowCount(), 1);
    }

    // A save that fails tells the operator and keeps the audio for another try.
    // Focus moves while the dialog's children are deleted (the focused one
    // among the last): nothing may reach a child that is already gone.
    void destroyedWhileAChildHasTheFocus()
    {
        auto* d = new RecordingDialog;
        d->show();
        QApplication::setActiveWindow(d);
        QVERIFY(QTest::qWaitForWindowActive(d));
        auto* edit = new QLineEdit(d);
        edit->show();
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QPointer<QLineEdit> guard(edit);
        delete d;
        QVERIFY(!guard);
    }

    void failedSaveKeepsTheAudio()
    {
        RecordingDialog d;
        setUpDialog(d, "failed");
        const QString blocker = m_dir.filePath("not-a-folder");
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        d.setRecordingsFolder(blocker + "/Recordings");
        const QByteArray tone = sine(kRate, 700, 440);
        record(d, tone);
        QCOMPARE(d.recordingsModel->rowCount(), 0);
        QCOMPARE(d.unsavedRecordingCount(), 1);
        QPointer<QMessageBox> box = d.findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), QString("录音保存失败"));
        QVERIFY(d.editPcm.isEmpty());  // the editor did not take the failed recording's peaks
        QVERIFY(d.waveform->peakList().isEmpty());

        // Nothing is handed on while a recording is only in memory.
        QSignalSpy confirmed(&d, &RecordingDialog::recordingsConfirmed);
        box->hide();
        d.onConfirm();
        settle(d);
        QCOMPARE(confirmed.count(), 0);
        QVERIFY(box->isVisible());

        d.retryUnsavedRecordings();  // still unwritable
        settle(d);
        QCOMPARE(d.unsavedRecordingCount(), 1);
        QVERIFY(box && box->isVisible());
        const QString good = newFolder("failed-retry");
        d.retryUnsavedRecordings(good);
        settle(d);
        QCOMPARE(d.unsavedRecordingCount(), 0);
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
        QVERIFY(path.startsWith(good));
        QCOMPARE(wavData(path), tone);
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(700));
        QTRY_VERIFY(!box || !box->isVisible());
        d.onConfirm();
        settle(d);
        QCOMPARE(confirmed.count(), 1);
        QCOMPARE(confirmed.at(0).at(0).toStringList(), QStringList{path});
    }

    // The silence trim of a new recording reports its duration while the
    // previous recording is still the current list item: that item keeps its own.
    void stopTrimLeavesThePreviousRecordingAlone()
    {
        RecordingDialog d;
        setUpDialog(d, "previous");
        const QByteArray first = sine(kRate, 2000, 440);
        record(d, first);
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(2000));
        record(d, silence(kRate, 500) + sine(kRate, 600, 440) + silence(kRate, 500));
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(2000));
        QCOMPARE(d.recordingsModel->item(1)->data(Qt::UserRole + 1).toLongLong(), qint64(600));
        select(d, 0);
        QCOMPARE(d.editPcm, first);  // loaded whole, not cut to the other's length
    }

    void pauseDropsCapturedAudio()
    {
        RecordingDialog d;
        d.state = RecordingDialog::Recording;
        d.recordClock.start();
        const QByteArray a = sine(kRate, 100, 440);
        d.appendCapturedAudio(a.constData(), int(a.size()));
        d.toggleRecordingPause();
        QCOMPARE(d.state, int(RecordingDialog::RecordingPaused));
        d.appendCapturedAudio(a.constData(), int(a.size()));
        d.toggleRecordingPause();
        d.appendCapturedAudio(a.constData(), int(a.size()));
        QCOMPARE(d.recordedPcm, a + a);
        d.state = RecordingDialog::Idle;
    }

    void recentRmsLooksAtTheLastTwoSeconds()
    {
        RecordingDialog d;
        const QByteArray loudThenQuiet = sine(kRate, 3000, 440, 0.5) + silence(kRate, 2000);
        d.appendCapturedAudio(loudThenQuiet.constData(), int(loudThenQuiet.size()));
        QCOMPARE(d.recentRms(), 0.0);
        const QByteArray loud = sine(kRate, 2000, 440, 0.5);
        d.appendCapturedAudio(loud.constData(), int(loud.size()));
        QVERIFY(std::fabs(d.recentRms() - 0.5 / std::sqrt(2.0)) < 0.01);
    }

    // --- editing -----------------------------------------------------------

    void editSequences_data()
    {
        QTest::addColumn<QList<Edit>>("edits");
        QTest::newRow("delete") << QList<Edit>{{'D', 100, 300}};
        QTest::newRow("keep") << QList<Edit>{{'K', 250, 750}};
        QTest::newRow("delete, delete, undo") << QList<Edit>{{'D', 0, 150}, {'D', 500, 850}, {'U'}};
        QTest::newRow("keep then delete inside") << QList<Edit>{{'K', 100, 900}, {'D', 15, 25}};
        QTest::newRow("delete to the end") << QList<Edit>{{'D', 990, 1000}};
        QTest::newRow("undo everything") << QList<Edit>{{'D', 100, 300}, {'K', 50, 400}, {'D', 20, 90}, {'U'}, {'U'}, {'U'}};
    }
    void editSequences()
    {
        QFETCH(QList<Edit>, edits);
        RecordingDialog d;
        const QString folder = setUpDialog(d, QStringLiteral("edit-%1").arg(QTest::currentDataTag()));
        const QByteArray original = counting(kRate, 1000);
        const QString path = folder + "/take.wav";
        QVERIFY(writeWav(path, original, kRate));
        const QString other = folder + "/other.wav";
        QVERIFY(writeWav(other, sine(kRate, 200, 440), kRate));
        addItem(d, path, 1000);
        addItem(d, other, 200);
        select(d, 0);
        QCOMPARE(d.editPcm, original);  // a 16-bit WAV loads bit-exact

        QList<QByteArray> history{original};
        for (const Edit& e : edits) {
            applyEdit(d, e);
            if (e.op == 'U')
                history.removeLast();
            else
                history.append(modelEdit(history.last(), e));
            if (d.editPcm != history.last()) {
                qsizetype at = 0;
                while (at < std::min(d.editPcm.size(), history.last().size()) && d.editPcm[at] == history.last()[at])
                    ++at;
                QFAIL(qPrintable(QString("after %1: %2 bytes, expected %3, first difference at %4")
                                     .arg(e.op).arg(d.editPcm.size()).arg(history.last().size()).arg(at)));
            }
            QVERIFY(std::llabs(d.waveform->durationMs() - d.editDurationMs) <= 10);
        }
        const bool modified = history.size() > 1;
        QCOMPARE(d.editHistory.undoDepth(), history.size() - 1);

        // Moving on writes the edits back, and only when something changed.
        const QDateTime stamp = QFileInfo(path).lastModified();
        select(d, 1);
        QCOMPARE(wavData(path), history.last());
        if (!modified)
            QCOMPARE(QFileInfo(path).lastModified(), stamp);
        select(d, 0);
        QCOMPARE(d.editPcm, history.last());
    }

    void editedRecordingIsRewrittenAt44100()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "rate");
        const QString path = folder + "/take48.wav";
        QVERIFY(writeWav(path, sine(48000, 1000, 440), 48000));
        addItem(d, path, 1000);
        addItem(d, folder + "/missing.wav", 500);
        select(d, 0);
        QCOMPARE(d.editFrames, qint64(44100));
        d.waveform->setSelection(0, 100);
        d.waveform->deleteSelection();
        select(d, 1);
        QCOMPARE(wavRate(path), 44100);
        QCOMPARE(wavData(path).size(), qint64(44100 - 4410) * 4);
    }

    void storedDurationLimitsTheLoad()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "limit");
        const QString path = folder + "/take.wav";
        const QByteArray pcm = counting(kRate, 1000);
        QVERIFY(writeWav(path, pcm, kRate));
        addItem(d, path, 400);
        select(d, 0);
        QCOMPARE(d.editPcm, pcm.left(offsetOf(400)));
        QCOMPARE(d.waveform->durationMs(), qint64(400));
    }

    void missingFileShowsNothingAndStaysListed()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "missing");
        const QString path = folder + "/take.wav";
        QVERIFY(writeWav(path, sine(kRate, 300, 440), kRate));
        addItem(d, path, 300);
        addItem(d, folder + "/gone.wav", 300);
        select(d, 0);
        QVERIFY(!d.waveform->peakList().isEmpty());
        select(d, 1);
        QVERIFY(d.waveform->peakList().isEmpty());
        QCOMPARE(d.timeLabel->text(), QString("00:00.00"));
        QVERIFY(d.editPcm.isEmpty());
        QCOMPARE(d.recordingsModel->rowCount(), 2);
    }

    // A cut of a 10-minute recording copies about 100 MB: the copy runs on
    // the worker, and the GUI thread keeps serving its timers meanwhile.
    void cutOfALongRecordingLeavesTheGuiThreadFree()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "long-cut");
        const QByteArray pcm = longCounting(600);
        loadDecoded(d, folder + "/long.wav", pcm);
        const QByteArray expected = pcm.left(offsetOf(60000)) + pcm.mid(offsetOf(120000));
        // A copy of the recording is what a cut on the GUI thread costs it;
        // the bound follows that when a loaded machine slows the copy down.
        // Its floor grows in a sanitizer build, where the GUI thread's own
        // share of the cut runs several times slower.
        qint64 copyMs = std::numeric_limits<qint64>::max();
        for (int i = 0; i < 2; ++i) {
            QElapsedTimer clock;
            clock.start();
            const QByteArray copy(pcm.constData(), pcm.size());
            copyMs = std::min(copyMs, clock.elapsed());
            QVERIFY(copy.size() == pcm.size());
        }
        const qint64 bound = std::max<qint64>(150 * TestTiming::kSlowdown, copyMs / 3);

        const qint64 cutGap = longestGuiGap(
            [&] {
                d.waveform->setSelection(60000, 120000);
                d.waveform->deleteSelection();
            },
            [&] { return !d.isBusyWithFiles() && d.editPcm.size() == expected.size(); });
        QVERIFY2(cutGap >= 0, "the cut did not land");
        QVERIFY2(cutGap < bound, qPrintable(QString("the GUI thread stood still %1 ms during the cut (bound %2 ms, a copy "
                                                    "of the recording %3 ms)")
                                                .arg(cutGap)
                                                .arg(bound)
                                                .arg(copyMs)));
        QVERIFY(d.editPcm == expected);
        QCOMPARE(d.waveform->durationMs(), qint64(540000));
        QCOMPARE(d.editDurationMs, qint64(540000));

        const qint64 undoGap = longestGuiGap([&] { d.waveform->undo(); },
                                             [&] { return !d.isBusyWithFiles() && d.editPcm.size() == pcm.size(); });
        QVERIFY2(undoGap >= 0, "the undo did not land");
        QVERIFY(d.editPcm == pcm);
    }

    // Edits, an undo and what ends the editing, given at once while the cuts
    // are still built on the worker: they land in the order given, the file
    // gets the last state, and no cut reaches the recording taken up next.
    void editsInFlightKeepTheirOrder_data()
    {
        QTest::addColumn<QList<Edit>>("edits");
        QTest::addColumn<char>("end");  // S(elect the other), C(onfirm), A(ccept the close)
        QTest::newRow("cut, cut, undo, select")
            << QList<Edit>{{'D', 1000, 3000}, {'D', 5000, 9000}, {'U'}} << 'S';
        QTest::newRow("cut, undo, select") << QList<Edit>{{'D', 1000, 3000}, {'U'}} << 'S';
        QTest::newRow("cut, keep, confirm") << QList<Edit>{{'D', 0, 2000}, {'K', 1000, 20000}} << 'C';
        QTest::newRow("keep, cut, undo, close") << QList<Edit>{{'K', 500, 25000}, {'D', 100, 900}, {'U'}} << 'A';
    }
    void editsInFlightKeepTheirOrder()
    {
        QFETCH(QList<Edit>, edits);
        QFETCH(char, end);
        RecordingDialog d;
        const QString folder = setUpDialog(d, QStringLiteral("order-%1").arg(QTest::currentDataTag()));
        const QByteArray original = longCounting(30);  // well past what is cut at once
        const QString path = folder + "/take.wav";
        QVERIFY(writeWav(path, original, kRate));
        const QString other = folder + "/other.wav";
        const QByteArray otherPcm = sine(kRate, 200, 440);
        QVERIFY(writeWav(other, otherPcm, kRate));
        addItem(d, path, 30000)->setCheckState(Qt::Checked);
        addItem(d, other, 200);
        select(d, 0);
        QCOMPARE(d.editPcm, original);

        QList<QByteArray> history{original};
        for (const Edit& e : edits) {
            applyEdit(d, e);
            if (e.op == 'U')
                history.removeLast();
            else
                history.append(modelEdit(history.last(), e));
        }
        QVERIFY(d.isBusyWithFiles());  // the first cut is still being built
        QSignalSpy confirmed(&d, &RecordingDialog::recordingsConfirmed);
        if (end == 'S')
            d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(1, 0),
                                                                 QItemSelectionModel::ClearAndSelect);
        else if (end == 'C')
            d.onConfirm();
        else
            d.done(QDialog::Accepted);
        settle(d);

        QVERIFY(wavData(path) == history.last());
        if (end == 'S') {
            QCOMPARE(d.editPath, other);
            QCOMPARE(d.editPcm, otherPcm);
            QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(),
                     RecordingPcm::durationMs(history.last().size(), kRate, 2));
            select(d, 0);
            QVERIFY(d.editPcm == history.last());
        } else if (end == 'C') {
            QCOMPARE(confirmed.count(), 1);
            QCOMPARE(confirmed.at(0).at(0).toStringList(), QStringList{path});
        }
    }

    void deletingEverythingDeletesTheRecording()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "delete-all");
        const QString a = folder + "/a.wav";
        const QString b = folder + "/b.wav";
        QVERIFY(writeWav(a, sine(kRate, 300, 440), kRate));
        QVERIFY(writeWav(b, counting(kRate, 200), kRate));
        addItem(d, a, 300);
        addItem(d, b, 200);
        select(d, 0);
        d.waveform->setSelection(0, 300);
        d.waveform->deleteSelection();
        QTRY_COMPARE(d.recordingsModel->rowCount(), 1);
        settle(d);
        QVERIFY(!QFile::exists(a));
        QCOMPARE(d.editPath, b);
        QCOMPARE(d.editPcm, counting(kRate, 200));
    }

    // --- preview (SDL's disk driver) --------------------------------------

    void previewPlaysToTheEnd()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "preview");
        const QString path = folder + "/take.wav";
        const QByteArray pcm = counting(kRate, 600);
        QVERIFY(writeWav(path, pcm, kRate));
        addItem(d, path, 600);
        d.onPlayPauseClicked();
        settle(d);  // the preview starts once the recording is decoded
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        QTRY_COMPARE_WITH_TIMEOUT(d.state, int(RecordingDialog::Idle), 5000);
        QCOMPARE(d.waveform->playbackPosition(), qint64(0));
        QCOMPARE(d.timeLabel->text(), QString("00:00.60"));

        const QByteArray out = readFile(m_diskOutput);
        const auto* samples = reinterpret_cast<const float*>(out.constData());
        const qint64 count = out.size() / 4;
        qint64 first = 0;
        while (first < count && samples[first] == 0.0f)
            ++first;  // SDL may write silence before the device starts
        const qint64 frames = pcm.size() / 4;
        QVERIFY2(count - first >= frames * 2, qPrintable(QString::number(count - first)));
        for (qint64 i = 0; i < frames * 2; ++i) {
            const float expected = RecordingPcm::s16ToFloat(RecordingPcm::sampleAt(pcm.constData(), i));
            if (samples[first + i] != expected)
                QFAIL(qPrintable(QString("sample %1 differs").arg(i)));
        }
        for (qint64 i = first + frames * 2; i < count; ++i)
            QCOMPARE(samples[i], 0.0f);
    }

    void previewRepeatsTheSelection()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "loop");
        const QString path = folder + "/take.wav";
        const QByteArray pcm = counting(kRate, 1000);
        QVERIFY(writeWav(path, pcm, kRate));
        addItem(d, path, 1000);
        select(d, 0);
        d.waveform->setSelection(200, 300);
        d.startPlayback();
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        QTest::qWait(600);  // several rounds
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        d.stopPlayback();
        QCOMPARE(d.waveform->playbackPosition(), qint64(200));

        const QByteArray out = readFile(m_diskOutput);
        const auto* samples = reinterpret_cast<const float*>(out.constData());
        const qint64 count = out.size() / 4;
        qint64 first = 0;
        while (first < count && samples[first] == 0.0f)
            ++first;
        const qint64 loopFrames = frameOf(300) - frameOf(200);
        QVERIFY(count - first >= loopFrames * 2 * 3);
        for (qint64 i = 0; i < loopFrames * 3; ++i) {
            const qint64 source = frameOf(200) + i % loopFrames;
            const float expected = RecordingPcm::s16ToFloat(RecordingPcm::sampleAt(pcm.constData(), source * 2));
            if (samples[first + i * 2] != expected)
                QFAIL(qPrintable(QString("frame %1 differs").arg(i)));
        }
    }

    // Cuts and undos while the preview plays: the callback must only ever see
    // whole buffers, and the position follows the cut.
    void editsDuringThePreview()
    {
        RecordingDialog d;
        const QString folder = setUpDialog(d, "live");
        const QString path = folder + "/take.wav";
        QVERIFY(writeWav(path, counting(kRate, 5000), kRate));
        addItem(d, path, 5000);
        select(d, 0);
        d.waveform->setPlaybackPosition(3000);
        d.startPlayback();
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        QTest::qWait(100);
        // A selection made while playing is the loop at once, so cut while paused.
        d.onPlayPauseClicked();
        QCOMPARE(d.state, int(RecordingDialog::PlaybackPaused));
        const qint64 before = d.playFrame.load();
        QVERIFY(before > frameOf(3000));
        QTest::qWait(60);
        QCOMPARE(d.playFrame.load(), before);  // paused: the position stays
        d.waveform->setSelection(0, 1000);     // wholly before the playing position
        d.waveform->deleteSelection();
        QCOMPARE(d.playFrame.load(), before - frameOf(1000));  // the same sound goes on
        d.onPlayPauseClicked();
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        for (int i = 0; i < 50; ++i) {
            d.waveform->setSelection(100, 200);
            d.waveform->deleteSelection();
            d.waveform->undo();
            QTest::qWait(2);
        }
        d.waveform->undo();
        QCOMPARE(d.editPcm, counting(kRate, 5000));
        d.stopPlayback();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
    }

    void playWithAnEmptyListDoesNothing()
    {
        RecordingDialog d;
        d.onPlayPauseClicked();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
    }
};

QTEST_MAIN(RecordingDialogTest)
#include "RecordingDialogTest.moc"
