// The recordings list of RecordingDialog: rename, export, the recordings
// folder, confirm, and what closing the dialog keeps or deletes.
#include "recording/RecordingDialog.h"

#include "exchange/AtomicFileCopy.h"
#include "platform/DesktopFileManager.h"
#include "recording/RecordingJobQueue.h"
#include "recording/RecordingWaveformWidget.h"
#include "recording/RecordingsFolder.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTimer>

#include <algorithm>

// --- rename ------------------------------------------------------------------

void RecordingDialog::onRecordingDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                             const QList<int>& roles)
{
    Q_UNUSED(bottomRight);
    if (updatingItem)
        return;
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole))
        return;
    // Renamed from the event loop, once the line editor is closed (a message
    // box must not take the focus from an editor still committing), and once
    // a file still being written, loaded or copied is done.
    const QPersistentModelIndex index(topLeft);
    QTimer::singleShot(0, this, [this, index] { jobs->whenIdle(this, [this, index] { renameRecording(index); }); });
}

void RecordingDialog::renameRecording(const QPersistentModelIndex& index)
{
    QStandardItem* item = index.isValid() ? recordingsModel->itemFromIndex(index) : nullptr;
    if (!item)
        return;
    QString wanted = item->text();
    const QString path = item->data(Qt::UserRole).toString();
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    const QString base = info.baseName();
    const QString suffix = info.suffix();
    if (wanted == base)
        return;

    auto restore = [this, item, &base] {
        updatingItem = true;
        item->setText(base);
        updatingItem = false;
    };
    if (wanted.isEmpty()) {
        restore();
        return;
    }
    if (!suffix.isEmpty() && wanted.endsWith(QLatin1Char('.') + suffix, Qt::CaseInsensitive))
        wanted.chop(suffix.size() + 1);
    const QString fileName = suffix.isEmpty() ? wanted : wanted + QLatin1Char('.') + suffix;
    const QString target = info.path() + QLatin1Char('/') + fileName;

    if (QFileInfo::exists(target) && target != path) {
        restore();
        showMessage(QMessageBox::Warning, tr("错误"), tr("文件已存在：%1").arg(wanted));
        return;
    }
    if (!QFile::rename(path, target)) {
        restore();
        showMessage(QMessageBox::Critical, tr("错误"), tr("文件重命名失败"));
        return;
    }
    updatingItem = true;
    item->setData(target, Qt::UserRole);
    item->setText(wanted);
    updatingItem = false;
    if (editPath == path)
        editPath = target;
    if (previewPath == path)
        previewPath = target;
}

// --- folder and export ----------------------------------------------------------

void RecordingDialog::onOpenRecordingDir()
{
    const QString folder = recordingsFolderPath();
    if (folder.isEmpty())
        return;
    QDir dir(folder);
    if (!dir.exists())
        QDir().mkpath(folder);
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.wav"), QStringLiteral("*.mp3")}, QDir::Files, QDir::Time);
    if (files.isEmpty())
        DesktopFileManager::openFolder(folder);
    else
        DesktopFileManager::showFile(files.constFirst().absoluteFilePath());
}

void RecordingDialog::onExport()
{
    QStandardItem* item = currentRecordingItem();
    if (!item) {
        showMessage(QMessageBox::Information, tr("提示"), tr("请先在列表中选择要导出的录音文件。"));
        return;
    }
    const QString path = item->data(Qt::UserRole).toString();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        showMessage(QMessageBox::Warning, tr("错误"), tr("录音文件不存在。"));
        return;
    }
    QSettings settings;
    QString start = settings.value(SettingsKeys::kRecordingExportDir).toString();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QFileInfo(path).absolutePath();
    const QString chosen = chooseFolder(tr("选择导出目录"), start);
    if (chosen.isEmpty())
        return;
    const QString folder = QDir(chosen).absolutePath();
    settings.setValue(SettingsKeys::kRecordingExportDir, folder);

    const QFileInfo source(path);
    const QString sourceFolder = source.absolutePath();
    if (QDir(folder) == QDir(sourceFolder)
        || (!QFileInfo(folder).canonicalFilePath().isEmpty()
            && QFileInfo(folder).canonicalFilePath() == QFileInfo(sourceFolder).canonicalFilePath())) {
        showMessage(QMessageBox::Information, tr("提示"), tr("文件已在当前目录，无需导出。"));
        return;
    }
    const QString target = folder + QLatin1Char('/') + source.fileName();
    // Copied under a temporary name and renamed over the target at the end:
    // a failed copy leaves an existing file of that name as it was. It runs
    // after any writing of the recording given before.
    jobs->enqueue([path, target] { return AtomicFileCopy::copy(path, target) == AtomicFileCopy::Result::Copied; },
                  [this, target](bool copied) {
                      const QString shown = QDir::toNativeSeparators(target);
                      if (!copied) {
                          showMessage(QMessageBox::Warning, tr("导出失败"), tr("无法复制文件到：\n%1").arg(shown));
                          return;
                      }
                      QMessageBox box(QMessageBox::Information, tr("导出成功"), tr("文件已导出到：\n%1").arg(shown),
                                      QMessageBox::NoButton, this);
                      QPushButton* open = box.addButton(tr("打开所在文件夹"), QMessageBox::AcceptRole);
                      box.setDefaultButton(open);
                      box.exec();
                      if (box.clickedButton() == open)
                          DesktopFileManager::showFile(target);
                  });
}

// --- confirm and close -------------------------------------------------------------

void RecordingDialog::onConfirm()
{
    if (confirmPending || closeRequested)
        return;
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    saveEditsIfModified();
    if (refuseWhileUnsaved())
        return;
    // Recordings still being saved or written belong to the decision.
    confirmPending = true;
    if (!jobs->isIdle())
        setWaitingForFiles(true);
    jobs->whenIdle(this, [this] {
        confirmPending = false;
        setWaitingForFiles(false);
        finishConfirm();
    });
}

bool RecordingDialog::refuseWhileUnsaved()
{
    // A recording held only in memory is saved or given up before the
    // others are handed on and deleted.
    if (unsavedRecordings.isEmpty())
        return false;
    if (saveFailureBox) {
        saveFailureBox->show();
        saveFailureBox->raise();
    } else {
        reportSaveFailure(tr("还有录音未保存"));
    }
    return true;
}

void RecordingDialog::finishConfirm()
{
    if (refuseWhileUnsaved())
        return;
    QStringList kept;
    QStringList discarded;
    for (int row = 0; row < recordingsModel->rowCount(); ++row) {
        const QStandardItem* item = recordingsModel->item(row);
        const QString path = item ? item->data(Qt::UserRole).toString() : QString();
        if (path.isEmpty() || !QFileInfo::exists(path))
            continue;
        if (item->checkState() == Qt::Checked)
            kept.append(path);
        else
            discarded.append(path);
    }
    if (kept.isEmpty() && recordingsModel->rowCount() == 1 && discarded.size() == 1)
        kept.append(discarded.takeFirst());
    if (kept.isEmpty()) {
        showMessage(QMessageBox::Warning, tr("提示"), tr("您还没有选定的录音"));
        return;
    }
    emit recordingsConfirmed(kept);
    for (const QString& path : std::as_const(discarded)) {
        if (!QFile::remove(path))
            qWarning() << "[Recording] Failed to delete unselected file:" << path;
    }
    accept();
}

void RecordingDialog::done(int result)
{
    // A confirm under way closes the dialog itself; a close under way is
    // already waiting for the files.
    if (confirmPending || closeRequested)
        return;
    closeRequested = true;

    QSettings settings;
    using namespace SettingsKeys;
    QStringList appOrder;
    for (int i = 0; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->data(Qt::UserRole).toString() == QLatin1String("application"))
            appOrder.append(sourceList->item(i)->text());
    }
    if (!appOrder.isEmpty())
        settings.setValue(kRecordingAppOrder, appOrder);
    settings.setValue(kRecordingTrimSilence, trimSilenceCheck->isChecked());
    settings.setValue(kRecordingAutoStop, autoStopCheck->isChecked());
    settings.setValue(kRecordingFormat, formatCombo->currentData().toString());
    settings.setValue(kRecordingSampleRate, sampleRateCombo->currentData().toInt());
    saveSmtcOverrides();

    if (sourceRefreshTimer)
        sourceRefreshTimer->stop();
    if (indicatorTimer)
        indicatorTimer->stop();
    if (waveformTimer)
        waveformTimer->stop();

    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    // A running recording is finished and saved like any other.
    if (state == Recording || state == RecordingPaused)
        stopRecording();
    if (result == QDialog::Accepted)
        saveEditsIfModified();

    if (!jobs->isIdle())
        setWaitingForFiles(true);
    jobs->whenIdle(this, [this, result] { finishClosing(result); });
}

void RecordingDialog::finishClosing(int result)
{
    if (result == QDialog::Rejected) {
        // Nothing made here is kept without a confirm.
        for (int row = 0; row < recordingsModel->rowCount(); ++row) {
            const QString path = recordingsModel->item(row)->data(Qt::UserRole).toString();
            if (!path.isEmpty())
                QFile::remove(path);
        }
        recordingsModel->clear();
        waveform->clear();
        releaseEditor();
    }
    if (!unsavedRecordings.isEmpty()) {
        qWarning() << "[Recording] Closed with recordings that could not be saved:" << unsavedRecordings.size();
        unsavedRecordings.clear();
    }
    if (saveFailureBox)
        saveFailureBox->hide();
    setWaitingForFiles(false);
    closeRequested = false;
    QDialog::done(result);
}
