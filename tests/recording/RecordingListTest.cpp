#include "ModalAnswerer.h"
#include "RecordingTestSupport.h"

#include "recording/RecordingDialog.h"
#include "recording/RecordingItemDelegate.h"
#include "recording/RecordingJobQueue.h"
#include "recording/RecordingWaveformWidget.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

using namespace RecordingTestSupport;

namespace {
constexpr int kRate = 44100;

// Holds the file worker on a job of its own until released (also when a
// check fails), so that a test sees what happens while files are written.
class WorkerGate {
public:
    explicit WorkerGate(RecordingDialog& d)
        : semaphore(std::make_shared<QSemaphore>())
    {
        auto* jobs = d.findChild<RecordingJobQueue*>();
        auto held = semaphore;
        jobs->enqueue([held] { held->acquire(); return 0; }, [](int) {});
    }
    ~WorkerGate() { release(); }
    void release()
    {
        if (!released)
            semaphore->release();
        released = true;
    }

private:
    std::shared_ptr<QSemaphore> semaphore;
    bool released = false;
};
}  // namespace

// Catches what the dialog hands to the desktop's file manager.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl& url) { opened.append(url); }
};

// The recordings list: check boxes, renaming, export, confirm, and closing;
// and that none of it loses a file still being written on the worker.
class RecordingListTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    UrlCatcher m_urls;

    static void settle(RecordingDialog& d)
    {
        QVERIFY(QTest::qWaitFor([&] { return !d.isBusyWithFiles(); }, 20000));
    }

    QString newFolder(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }

    static QStandardItem* addItem(RecordingDialog& d, const QString& path, qint64 durationMs)
    {
        auto* item = new QStandardItem(QFileInfo(path).completeBaseName());
        item->setData(path, Qt::UserRole);
        item->setData(QVariant::fromValue<qint64>(durationMs), Qt::UserRole + 1);
        item->setCheckable(true);
        d.recordingsModel->appendRow(item);
        return item;
    }

    static void select(RecordingDialog& d, int row)
    {
        d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(row, 0),
                                                             QItemSelectionModel::ClearAndSelect);
        settle(d);
    }

    // A recording as the capture would have left it; the save is only queued.
    static void stopWith(RecordingDialog& d, const QByteArray& pcm)
    {
        d.state = RecordingDialog::Recording;
        d.captureSampleRate = kRate;
        d.captureChannels = 2;
        d.waveform->clear();
        d.waveform->setRecording(true);
        d.appendCapturedAudio(pcm.constData(), int(pcm.size()));
        d.stopRecording();
    }

    // A dialog saving WAV files into its own folder, with no sources read.
    static void prepare(RecordingDialog& d, const QString& folder)
    {
        d.listSources = nullptr;
        d.setRecordingsFolder(folder);
        d.formatCombo->setCurrentIndex(d.formatCombo->findData("wav"));
        d.trimSilenceCheck->setChecked(false);
    }

    // As a mouse sends it: press, release, the second press as a double click, release.
    static void doubleClick(QWidget* widget, const QPoint& pos)
    {
        QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, pos);
    }

    static QStringList filesIn(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDesktopServices::setUrlHandler("file", &m_urls, "openUrl");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
    }

    // --- check boxes and the line editor ---------------------------------------

    void checkBoxClickTogglesWithoutSelecting()
    {
        RecordingDialog d;
        const QString folder = newFolder("check");
        prepare(d, folder);
        QVERIFY(writeWav(folder + "/a.wav", sine(kRate, 300, 440), kRate));
        QVERIFY(writeWav(folder + "/b.wav", sine(kRate, 300, 440), kRate));
        addItem(d, folder + "/a.wav", 300);
        addItem(d, folder + "/b.wav", 300);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QWidget* viewport = d.recordingsView->viewport();
        const QModelIndex second = d.recordingsModel->index(1, 0);
        const QPoint box = RecordingItemDelegate::checkBoxRect(d.recordingsView->visualRect(second)).center();

        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, box);
        QCOMPARE(d.recordingsModel->item(1)->checkState(), Qt::Checked);
        QVERIFY(!d.recordingsView->selectionModel()->isSelected(second));
        settle(d);
        QVERIFY(d.editPath.isEmpty());  // nothing loaded into the editor
        // Each release in the box toggles: a double click leaves it as it was.
        doubleClick(viewport, box);
        QVERIFY(!viewport->findChild<QLineEdit*>());  // no rename either
        QCOMPARE(d.recordingsModel->item(1)->checkState(), Qt::Checked);
        QVERIFY(!d.recordingsView->selectionModel()->isSelected(second));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, box);
        QCOMPARE(d.recordingsModel->item(1)->checkState(), Qt::Unchecked);

        // A click on the name selects and loads it.
        const QPoint name = d.recordingsView->visualRect(second).center();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, name);
        settle(d);
        QCOMPARE(d.editPath, folder + "/b.wav");
        QCOMPARE(d.recordingsModel->item(1)->checkState(), Qt::Unchecked);
    }

    void nameEditorLeavesTheDurationInView()
    {
        RecordingDialog d;
        const QString folder = newFolder("editor");
        prepare(d, folder);
        QVERIFY(writeWav(folder + "/take.wav", sine(kRate, 300, 440), kRate));
        addItem(d, folder + "/take.wav", 61234);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QModelIndex index = d.recordingsModel->index(0, 0);
        const QRect row = d.recordingsView->visualRect(index);
        QTest::mouseClick(d.recordingsView->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
        QVERIFY(!d.recordingsView->viewport()->findChild<QLineEdit*>());  // a click does not rename
        doubleClick(d.recordingsView->viewport(), row.center());
        auto* editor = d.recordingsView->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("take"));
        QCOMPARE(editor->selectedText(), QString("take"));
        const int durationWidth = QFontMetrics(d.recordingsView->font()).horizontalAdvance("01:01.23");
        QCOMPARE(editor->geometry().left(), row.x() + 28);
        QVERIFY(editor->geometry().right() <= row.right() - durationWidth - 17);
    }

    // --- rename --------------------------------------------------------------

    void rename_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fileAfter");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<QString>("box");
        QTest::newRow("plain name") << "mp3" << "Intro" << "Intro.mp3" << "Intro" << "";
        QTest::newRow("typed with its suffix") << "mp3" << "Intro.mp3" << "Intro.mp3" << "Intro" << "";
        QTest::newRow("suffix in another case") << "mp3" << "Intro.MP3" << "Intro.mp3" << "Intro" << "";
        QTest::newRow("another suffix stays in the name") << "wav" << "Intro.mp3" << "Intro.mp3.wav" << "Intro.mp3"
                                                          << "";
        QTest::newRow("empty name") << "mp3" << "" << "take.mp3" << "take" << "";
        QTest::newRow("unchanged") << "wav" << "take" << "take.wav" << "take" << "";
        QTest::newRow("name of another recording") << "mp3" << "other" << "take.mp3" << "take"
                                                   << "错误|文件已存在：other";
        QTest::newRow("rename fails") << "wav" << "no/such/folder" << "take.wav" << "take" << "错误|文件重命名失败";
    }
    void rename()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, typed);
        QFETCH(QString, fileAfter);
        QFETCH(QString, textAfter);
        QFETCH(QString, box);
        RecordingDialog d;
        const QString folder = newFolder("rename");
        prepare(d, folder);
        // Both names decode whatever their suffix says: the content is probed.
        QVERIFY(writeWav(folder + "/take." + suffix, sine(kRate, 300, 440), kRate));
        QVERIFY(writeWav(folder + "/other." + suffix, sine(kRate, 300, 440), kRate));
        addItem(d, folder + "/take." + suffix, 300);
        select(d, 0);
        d.previewPath = folder + "/take." + suffix;
        QVERIFY(!d.editPcm.isEmpty());

        ModalAnswerer answerer;
        d.recordingsModel->item(0)->setText(typed);  // as the line editor commits it
        QTest::qWait(50);
        settle(d);
        QTRY_COMPARE(d.recordingsModel->item(0)->text(), textAfter);
        const QString path = folder + "/" + fileAfter;
        QVERIFY2(QFileInfo::exists(path), qPrintable(filesIn(folder).join(", ")));
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole).toString(), path);
        QCOMPARE(filesIn(folder).size(), 2);
        QCOMPARE(answerer.seen, box.isEmpty() ? QStringList() : QStringList{box});
        // The editor and the next preview follow the file.
        QCOMPARE(d.editPath, path);
        QCOMPARE(d.previewPath, path);
        QCOMPARE(d.recordingsModel->item(0)->data(Qt::UserRole + 1).toLongLong(), qint64(300));
    }

    // A rename given while the file is still written waits for the writing.
    void renameWaitsForTheWriting()
    {
        RecordingDialog d;
        const QString folder = newFolder("rename-wait");
        prepare(d, folder);
        const QByteArray pcm = counting(kRate, 1000);
        QVERIFY(writeWav(folder + "/a.wav", pcm, kRate));
        QVERIFY(writeWav(folder + "/b.wav", sine(kRate, 200, 440), kRate));
        addItem(d, folder + "/a.wav", 1000);
        addItem(d, folder + "/b.wav", 200);
        select(d, 0);
        d.waveform->setSelection(0, 500);
        d.waveform->deleteSelection();
        WorkerGate gate(d);
        // Only queued: a.wav is written back behind the gate.
        d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(1, 0),
                                                             QItemSelectionModel::ClearAndSelect);
        d.recordingsModel->item(0)->setText("renamed");
        QTest::qWait(100);
        QVERIFY(QFileInfo::exists(folder + "/a.wav"));  // not renamed under the writer's feet
        gate.release();
        settle(d);
        QTRY_COMPARE(d.recordingsModel->item(0)->data(Qt::UserRole).toString(), folder + "/renamed.wav");
        QCOMPARE(filesIn(folder), QStringList({"b.wav", "renamed.wav"}));
        QCOMPARE(wavData(folder + "/renamed.wav"), pcm.mid(int(qint64(kRate) / 2 * 4)));
    }

    // --- confirm -------------------------------------------------------------

    void confirm_data()
    {
        QTest::addColumn<QString>("ticked");   // one flag per recording
        QTest::addColumn<QString>("missing");  // files removed behind the dialog
        QTest::addColumn<QList<int>>("kept");
        QTest::addColumn<bool>("warned");
        QTest::newRow("one, unticked") << "0" << "0" << QList<int>{0} << false;
        QTest::newRow("one, ticked") << "1" << "0" << QList<int>{0} << false;
        QTest::newRow("two, none ticked") << "00" << "00" << QList<int>{} << true;
        QTest::newRow("two, second ticked") << "01" << "00" << QList<int>{1} << false;
        QTest::newRow("three, two ticked") << "101" << "000" << QList<int>{0, 2} << false;
        QTest::newRow("a ticked file is gone") << "11" << "10" << QList<int>{1} << false;
        QTest::newRow("the only file is gone") << "0" << "1" << QList<int>{} << true;
    }
    void confirm()
    {
        QFETCH(QString, ticked);
        QFETCH(QString, missing);
        QFETCH(QList<int>, kept);
        QFETCH(bool, warned);
        RecordingDialog d;
        const QString folder = newFolder("confirm");
        prepare(d, folder);
        QStringList paths;
        for (int i = 0; i < ticked.size(); ++i) {
            paths << folder + QStringLiteral("/take%1.wav").arg(i);
            QVERIFY(writeWav(paths.last(), sine(kRate, 200, 440), kRate));
            QStandardItem* item = addItem(d, paths.last(), 200);
            item->setCheckState(ticked.at(i) == '1' ? Qt::Checked : Qt::Unchecked);
        }
        for (int i = 0; i < missing.size(); ++i) {
            if (missing.at(i) == '1')
                QFile::remove(paths.at(i));
        }
        d.show();
        QSignalSpy confirmed(&d, &RecordingDialog::recordingsConfirmed);
        ModalAnswerer answerer;
        d.confirmButton->click();
        settle(d);
        if (warned) {
            QCOMPARE(confirmed.count(), 0);
            QCOMPARE(answerer.seen, QStringList{"提示|您还没有选定的录音"});
            QVERIFY(d.isVisible());
            for (int i = 0; i < paths.size(); ++i)
                QCOMPARE(QFileInfo::exists(paths.at(i)), missing.at(i) == '0');  // nothing deleted
            return;
        }
        QCOMPARE(confirmed.count(), 1);
        QStringList expected;
        for (int i : kept)
            expected << paths.at(i);
        QCOMPARE(confirmed.at(0).at(0).toStringList(), expected);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(!d.isVisible());
        // The kept files stay; the others are deleted.
        for (int i = 0; i < paths.size(); ++i)
            QCOMPARE(QFileInfo::exists(paths.at(i)), kept.contains(i));
    }

    // Confirm right after a stop: the recording still being written is part
    // of the decision, and its file is there when the signal is sent.
    void confirmWaitsForTheSave()
    {
        RecordingDialog d;
        const QString folder = newFolder("confirm-wait");
        prepare(d, folder);
        d.show();
        const QByteArray tone = sine(kRate, 800, 440);
        WorkerGate gate(d);
        stopWith(d, tone);
        QCOMPARE(d.state, int(RecordingDialog::Idle));  // the stop did not wait for the file
        QCOMPARE(d.recordingsModel->rowCount(), 0);
        QVERIFY(!d.waveform->isInteractive());  // no cuts before the editor holds it
        QSignalSpy confirmed(&d, &RecordingDialog::recordingsConfirmed);
        QStringList seenAtSignal;
        connect(&d, &RecordingDialog::recordingsConfirmed, this,
                [&](const QStringList& paths) { seenAtSignal = filesIn(folder); Q_UNUSED(paths); });
        d.confirmButton->click();
        QTest::qWait(100);
        QCOMPARE(confirmed.count(), 0);
        QVERIFY(d.isVisible());
        QVERIFY(!d.isEnabled());  // waiting: nothing else can start
        d.reject();               // a close meanwhile is left to the confirm
        gate.release();
        QTRY_COMPARE(confirmed.count(), 1);
        const QStringList paths = confirmed.at(0).at(0).toStringList();
        QCOMPARE(paths.size(), 1);
        QCOMPARE(seenAtSignal, QStringList{QFileInfo(paths.at(0)).fileName()});
        QCOMPARE(wavData(paths.at(0)), tone);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        settle(d);
        QVERIFY(QFileInfo::exists(paths.at(0)));
    }

    // --- close -----------------------------------------------------------------

    // Closing keeps nothing made here, a recording still running included,
    // and waits for the file still being written so none is left behind.
    void closeDeletesEveryRecording()
    {
        RecordingDialog d;
        const QString folder = newFolder("close");
        prepare(d, folder);
        d.show();
        stopWith(d, sine(kRate, 300, 440));
        settle(d);
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        WorkerGate gate(d);
        stopWith(d, sine(kRate, 400, 440));  // queued behind the gate
        d.state = RecordingDialog::Recording;  // and a third one still running
        const QByteArray running = sine(kRate, 500, 440);
        d.appendCapturedAudio(running.constData(), int(running.size()));
        d.closeButton->click();
        QTest::qWait(100);
        QVERIFY(d.isVisible());
        gate.release();
        QTRY_VERIFY(!d.isVisible());
        settle(d);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(filesIn(folder), QStringList());
        QCOMPARE(d.recordingsModel->rowCount(), 0);
        QVERIFY(d.waveform->peakList().isEmpty());
    }

    void acceptWritesTheEdits()
    {
        RecordingDialog d;
        const QString folder = newFolder("accept");
        prepare(d, folder);
        const QByteArray pcm = counting(kRate, 1000);
        QVERIFY(writeWav(folder + "/take.wav", pcm, kRate));
        addItem(d, folder + "/take.wav", 1000);
        select(d, 0);
        d.waveform->setSelection(0, 250);
        d.waveform->deleteSelection();
        d.accept();
        settle(d);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(wavData(folder + "/take.wav"), pcm.mid(int(qint64(kRate) / 4 * 4)));
    }

    // --- file work leaves the GUI thread -----------------------------------------

    void loadingRunsOnTheWorker()
    {
        RecordingDialog d;
        const QString folder = newFolder("load");
        prepare(d, folder);
        const QByteArray pcm = counting(kRate, 500);
        QVERIFY(writeWav(folder + "/take.wav", pcm, kRate));
        addItem(d, folder + "/take.wav", 500);
        WorkerGate gate(d);
        d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(0, 0),
                                                             QItemSelectionModel::ClearAndSelect);
        d.onPlayPauseClicked();  // asked before the audio is there: starts once it is
        QTest::qWait(100);
        QVERIFY(d.editPcm.isEmpty());
        QCOMPARE(d.editPath, folder + "/take.wav");
        QVERIFY(!d.waveform->isInteractive());
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        gate.release();
        settle(d);
        QCOMPARE(d.editPcm, pcm);
        QVERIFY(d.waveform->isInteractive());
        QCOMPARE(d.waveform->durationMs(), qint64(500));
        QCOMPARE(d.state, int(RecordingDialog::Playing));
        d.stopPlayback();
    }

    // A selection made while an older one still loads wins.
    void laterSelectionWins()
    {
        RecordingDialog d;
        const QString folder = newFolder("later");
        prepare(d, folder);
        QVERIFY(writeWav(folder + "/a.wav", counting(kRate, 300), kRate));
        QVERIFY(writeWav(folder + "/b.wav", sine(kRate, 700, 440), kRate));
        addItem(d, folder + "/a.wav", 300);
        addItem(d, folder + "/b.wav", 700);
        {
            WorkerGate gate(d);
            d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(0, 0),
                                                                 QItemSelectionModel::ClearAndSelect);
            d.recordingsView->selectionModel()->setCurrentIndex(d.recordingsModel->index(1, 0),
                                                                 QItemSelectionModel::ClearAndSelect);
        }
        settle(d);
        QCOMPARE(d.editPath, folder + "/b.wav");
        QCOMPARE(d.editPcm, sine(kRate, 700, 440));
        QCOMPARE(d.waveform->durationMs(), qint64(700));
    }

    // --- export and the folder --------------------------------------------------

    void exportWithoutASelection()
    {
        RecordingDialog d;
        prepare(d, newFolder("export-none"));
        ModalAnswerer answerer;
        d.exportButton->click();
        QCOMPARE(answerer.seen, QStringList{"提示|请先在列表中选择要导出的录音文件。"});
    }

    void exportReplacesAFileOnlyWhenTheCopyWorked()
    {
        RecordingDialog d;
        const QString folder = newFolder("export-from");
        const QString target = newFolder("export-to");
        prepare(d, folder);
        const QByteArray pcm = counting(kRate, 400);
        QVERIFY(writeWav(folder + "/take.wav", pcm, kRate));
        addItem(d, folder + "/take.wav", 400);
        select(d, 0);
        QFile old(target + "/take.wav");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an earlier export");
        old.close();

        // The copy fails (its source is gone when the worker gets to it):
        // the earlier file of that name stays as it was.
        ModalAnswerer answerer;
        answerer.chooseFolder = target;
        d.chooseFolder = [&answerer](const QString& title, const QString&) { return answerer.answerFolder(title); };
        {
            WorkerGate gate(d);
            d.exportButton->click();
            QFile::rename(folder + "/take.wav", folder + "/away.wav");
        }
        settle(d);
        QTRY_COMPARE(answerer.seen.size(), 2);
        QCOMPARE(answerer.seen.at(1), "导出失败|无法复制文件到：\n" + QDir::toNativeSeparators(target + "/take.wav"));
        QCOMPARE(readFile(target + "/take.wav"), QByteArray("an earlier export"));
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingExportDir).toString(), target);

        // It works: the file is replaced whole, the recording stays.
        QFile::rename(folder + "/away.wav", folder + "/take.wav");
        answerer.seen.clear();
        answerer.pressButton = "打开所在文件夹";
        m_urls.opened.clear();
        d.exportButton->click();
        settle(d);
        QTRY_COMPARE(answerer.seen.size(), 2);
        QCOMPARE(answerer.seen.at(1), "导出成功|文件已导出到：\n" + QDir::toNativeSeparators(target + "/take.wav"));
        QCOMPARE(wavData(target + "/take.wav"), pcm);
        QVERIFY(QFileInfo::exists(folder + "/take.wav"));
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        QCOMPARE(QDir(target).entryList(QDir::Files), QStringList{"take.wav"});  // no temporary left
        // No file manager on a bus here: its folder is opened.
        QTRY_COMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(target)});

        // Into the recording's own folder: nothing to do.
        answerer.seen.clear();
        answerer.chooseFolder = folder;
        d.exportButton->click();
        QTRY_COMPARE(answerer.seen.size(), 2);
        QCOMPARE(answerer.seen.at(1), QString("提示|文件已在当前目录，无需导出。"));
    }

    void openFolderShowsTheNewestRecording()
    {
        RecordingDialog d;
        const QString folder = newFolder("open");
        prepare(d, folder);
        m_urls.opened.clear();
        d.openFolderButton->click();
        QTRY_COMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
        QVERIFY(writeWav(folder + "/older.wav", sine(kRate, 100, 440), kRate));
        QFile older(folder + "/older.wav");
        QVERIFY(older.open(QIODevice::ReadWrite));
        QVERIFY(older.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        older.close();
        QVERIFY(writeWav(folder + "/newer.wav", sine(kRate, 100, 440), kRate));
        m_urls.opened.clear();
        d.openFolderButton->click();
        // Without a file manager on the bus, the folder of the newest file opens.
        QTRY_COMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
    }
};

QTEST_MAIN(RecordingListTest)
#include "RecordingListTest.moc"
