#include "exchange/M3U8PlaylistIO.h"

#include "exchange/AudioExporter.h"
#include "exchange/ExportNames.h"
#include "exchange/ExportUi.h"
#include "exchange/ExportWorker.h"
#include "exchange/GuiThreadSlices.h"
#include "exchange/ImportNotes.h"
#include "exchange/M3U8Text.h"
#include "exchange/WidgetExportUi.h"
#include "exchange/WriteFailureReason.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "model/TransactionPageFlush.h"
#include "model/PlaylistGroup.h"
#include "playback/CueManager.h"
#include "playback/CueTemplate.h"
#include "settings/SettingsKeys.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QModelIndex>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int kImportProgressSteps = 1000;
constexpr int kStepsPerCue = 100;

CueManager* registry(CueManager* cues)
{
    return cues ? cues : CueManager::instance();
}

}  // namespace

void M3U8PlaylistIO::startExport(QWidget* treeView, const QModelIndex& firstSelected,
                                 std::function<void(const QString&, int)> statusMessage)
{
    auto ui = std::make_shared<WidgetExportUi>(treeView, std::move(statusMessage));
    if (!firstSelected.isValid()) {
        ui->message(ExportUi::Icon::Information, QStringLiteral("提示"), QStringLiteral("请先选择一个播放列表"));
        return;
    }
    ExportRequest request;
    request.playlistId = firstSelected.model() ? firstSelected.data(Qt::UserRole).toInt() : 0;
    if (request.playlistId <= 0) {
        ui->message(ExportUi::Icon::Warning, QStringLiteral("错误"), QStringLiteral("无效的播放列表ID"));
        return;
    }
    request.cleanedName = ExportNames::playlistFileName(firstSelected.data(Qt::DisplayRole).toString());
    request.lastDir = QSettings().value(SettingsKeys::kExportLastDir, SettingsKeys::exportLastDirDefault()).toString();
    ui->showBusyOverlay();
    QTimer::singleShot(100, treeView, [ui, request] { exportM3U8(request, *ui); });
}

M3U8PlaylistIO::ExportSummary M3U8PlaylistIO::exportM3U8(const ExportRequest& request, ExportUi& ui, CueManager* cues)
{
    ExportSummary summary;
    const QString folder = ui.chooseFolder(QStringLiteral("选择M3U8导出目录"), request.lastDir);
    if (folder.isEmpty())
        return summary;

    using namespace SettingsKeys;
    QSettings settings;
    settings.setValue(kExportLastDir, folder);
    const bool includeAudio = settings.value(kExportM3u8IncludeAudio, kExportM3u8IncludeAudioDefault).toBool();
    const QString type = settings.value(kExportM3u8Type, kExportM3u8TypeDefault).toString();
    const QString format = settings.value(kExportFormat, kExportFormatDefaultM3u8).toString();
    int sampleRate = settings.value(kExportSampleRate, kExportSampleRateDefault).toInt();
    if (sampleRate <= 0)
        sampleRate = kExportSampleRateDefault;

    QList<int> ids;
    if (!DatabaseManager::instance()->getPlaylistSongIds(request.playlistId, ids)) {
        ui.message(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("无法加载播放列表数据"));
        return summary;
    }
    if (ids.isEmpty()) {
        ui.message(ExportUi::Icon::Information, QStringLiteral("提示"), QStringLiteral("该播放列表为空"));
        return summary;
    }

    // The name is one cleaned path component: everything stays inside folder.
    const QString name = ExportNames::playlistFileName(request.cleanedName);
    QString listFolder = folder;
    QString musicFolder;
    // Folders this export made: they go again when they stay empty.
    QStringList madeFolders;
    auto removeEmptyMadeFolders = [&madeFolders] {
        for (auto it = madeFolders.crbegin(); it != madeFolders.crend(); ++it)
            QDir().rmdir(*it);  // only removes an empty folder
    };
    if (includeAudio) {
        listFolder = QDir(folder).filePath(name);
        musicFolder = QDir(listFolder).filePath(QStringLiteral("MUSIC"));
        for (const QString& made : {listFolder, musicFolder}) {
            if (QFileInfo(made).isDir())
                continue;
            if (!QDir().mkpath(made)) {
                removeEmptyMadeFolders();
                ui.message(ExportUi::Icon::Critical, QStringLiteral("错误"),
                           (made == listFolder ? QStringLiteral("无法创建播放列表文件夹: ")
                                               : QStringLiteral("无法创建MUSIC文件夹: "))
                               + made + QStringLiteral("\n原因：") + WriteFailureReason::describe(made));
                return summary;
            }
            madeFolders.append(made);
        }
    }
    summary.m3u8Path = QDir(listFolder).filePath(name + QStringLiteral(".m3u8"));

    const int count = int(ids.size());
    ui.progressStart(QStringLiteral("导出进度"),
                     includeAudio ? QStringLiteral("正在导出 %1 个音频...").arg(count)
                                  : QStringLiteral("正在生成M3U8文件..."),
                     count * kStepsPerCue);
    QList<M3U8Text::Entry> entries;
    QSet<QString> taken;
    WriteFailureReason::Tally reasons;
    const QDir listDir(listFolder);
    for (int i = 0; i < count; ++i) {
        if (ui.progressCancelled())
            break;
        ui.progressSet(i * kStepsPerCue);
        Cue* cue = registry(cues)->getCue(ids[i]);
        if (!cue || cue->id() < 1) {
            qWarning() << "[Export M3U8] Invalid cue:" << ids[i];
            ++summary.failed;
            reasons.add(QStringLiteral("Cue 已不存在"));
            continue;
        }
        if (!QFileInfo::exists(cue->filePath())) {
            qWarning() << "[Export M3U8] File not found:" << cue->filePath();
            ++summary.failed;
            reasons.add(QStringLiteral("音频文件不存在"));
            continue;
        }
        M3U8Text::Entry entry;
        entry.durationMs = cue->durationMs();
        entry.title = M3U8Text::title(cue->alias(), cue->filePath());
        if (includeAudio) {
            QString written;
            bool cancelled = false;
            QString reason;
            if (!AudioExporter::exportCueAudio(cue, i, musicFolder, format, sampleRate, type, written, &taken, &ui,
                                               i * kStepsPerCue, kStepsPerCue, &cancelled, &reason)) {
                if (cancelled)
                    break;  // the cue being written counts neither way
                ++summary.failed;
                reasons.add(reason);
                continue;
            }
            entry.location = QStringLiteral("MUSIC/") + written;
            ++summary.succeeded;
        } else {
            entry.location = listDir.relativeFilePath(QFileInfo(cue->filePath()).absoluteFilePath());
        }
        entries.append(entry);
    }
    ui.progressSet(count * kStepsPerCue);
    ui.progressEnd();

    QSaveFile file(summary.m3u8Path);
    if (!file.open(QIODevice::WriteOnly) || file.write(M3U8Text::write(entries)) < 0 || !file.commit()) {
        const QString reason = WriteFailureReason::describe(listFolder, file.error(), file.errorString());
        removeEmptyMadeFolders();
        QString text = QStringLiteral("无法创建M3U8文件\n原因：%1").arg(reason);
        if (summary.succeeded > 0)
            text += QStringLiteral("\n已导出的 %1 个音频文件保留在: %2").arg(summary.succeeded).arg(musicFolder);
        ui.message(ExportUi::Icon::Critical, QStringLiteral("错误"), text);
        return summary;
    }
    summary.written = true;

    QString text = includeAudio ? QStringLiteral("导出完成！\n音频文件: 成功 %1 / 失败 %2\n\nM3U8文件: %3")
                                      .arg(summary.succeeded)
                                      .arg(summary.failed)
                                      .arg(summary.m3u8Path)
                                : QStringLiteral("导出完成！\n\nM3U8文件: %1").arg(summary.m3u8Path);
    if (!reasons.isEmpty())
        text += QStringLiteral("\n\n") + reasons.text();
    // Anything that failed is a warning, not news.
    if (ui.resultBox(summary.failed > 0 ? ExportUi::Icon::Warning : ExportUi::Icon::Information,
                     QStringLiteral("导出结果"), text, ExportUi::ResultButtons::OpenFolderAndOk))
        ui.openFolder(listFolder);
    return summary;
}

PlaylistImportResult M3U8PlaylistIO::importM3U8(const QString& path, ExportUi& ui, CueManager* cues)
{
    PlaylistImportResult result;
    // The list is read and every file looked up off the GUI thread.
    struct Reading {
        bool opened = false;
        M3U8Text::Reading text;
        QStringList existing;
        int missing = 0;
    } reading;
    ui.progressStart(QStringLiteral("导入进度"), QStringLiteral("正在导入 M3U8 播放列表..."), kImportProgressSteps);
    ExportWorker::run(
        [&](const std::atomic<bool>& cancel, std::atomic<int>& permille) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
                return;
            reading.opened = true;
            reading.text = M3U8Text::read(file.readAll(), QFileInfo(path).absolutePath());
            const qsizetype n = reading.text.paths.size();
            for (qsizetype i = 0; i < n && !cancel.load(); ++i) {
                const QString& candidate = reading.text.paths.at(i);
                if (QFileInfo(candidate).isFile()) {
                    reading.existing.append(candidate);
                } else {
                    qWarning() << "[M3U8 Import] File not found:" << candidate;
                    ++reading.missing;
                }
                permille.store(int(1000 * (i + 1) / n));
            }
        },
        &ui, 0, kImportProgressSteps / 2);
    const bool cancelledWhileReading = ui.progressCancelled();
    auto fail = [&](ExportUi::Icon icon, const QString& title, const QString& text) {
        ui.progressEnd();
        ui.message(icon, title, text);
        return result;
    };
    if (!reading.opened)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("无法打开文件: %1").arg(path));
    if (reading.text.empty)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("M3U8 文件为空"));
    if (cancelledWhileReading) {
        ui.progressEnd();
        return result;
    }
    if (!reading.text.hasHeader)
        ui.message(ExportUi::Icon::Warning, QStringLiteral("警告"),
                   QStringLiteral("文件格式不是标准的 M3U8 播放列表，可能无法正常导入"));
    for (const QString& url : reading.text.urls)
        qWarning() << "[M3U8 Import] Not a local file:" << url;
    const QStringList& existing = reading.existing;
    if (existing.isEmpty())
        return fail(ExportUi::Icon::Warning, QStringLiteral("提示"),
                    QStringLiteral("M3U8 文件中没有找到有效的音频文件"));
    const QString name = QFileInfo(path).completeBaseName();
    bool cancelled = false;
    const int id = createPlaylistFromM3U8(name, existing, cues, &ui, &cancelled);
    ui.progressEnd();
    if (cancelled)
        return result;
    if (id < 0)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("创建播放列表失败"));
    ImportNotes notes;
    if (reading.missing > 0)
        notes.add(QStringLiteral("文件不存在，已跳过"), reading.missing);
    if (!reading.text.urls.isEmpty())
        notes.add(QStringLiteral("不是本地文件（网址），已跳过"), int(reading.text.urls.size()));
    if (!notes.isEmpty())
        ui.message(ExportUi::Icon::Warning, QStringLiteral("导入提示"), notes.text());
    result.playlistId = id;
    result.statusText = QStringLiteral("成功导入 M3U8 播放列表: %1 (%2个音频文件)").arg(name).arg(existing.size());
    return result;
}

int M3U8PlaylistIO::createPlaylistFromM3U8(const QString& name, const QStringList& filePaths, CueManager* cues,
                                           ExportUi* ui, bool* cancelled)
{
    DatabaseManager* db = DatabaseManager::instance();
    // The whole import is one transaction: a cancel, a failure or a killed
    // process leaves the database as it was.
    DatabaseTransaction transaction(db);
    if (!transaction.isActive()) {
        qCritical() << "[M3U8 Import] Failed to begin transaction";
        return -1;
    }
    PlaylistGroup group;
    group.name = name;
    group.playMode = 0;
    group.currentIndex = 0;
    int sortOrder = 0;
    if (!db->getNextGroupSortOrder(sortOrder) || !db->insertPlaylistGroup(group, sortOrder)) {
        qCritical() << "[M3U8 Import] Failed to add playlist to database";
        return -1;
    }
    // Stored cues, registered once the playlist is committed.
    std::vector<std::unique_ptr<Cue>> made;
    made.reserve(size_t(filePaths.size()));
    const CueTemplate cueTemplate = CueTemplate::fromSettings();
    bool lost = false;
    qsizetype next = 0;
    auto storeOne = [&] {
        if (next >= filePaths.size())
            return false;
        if (!transaction.isActive()) {
            lost = true;  // the database took the transaction back
            return false;
        }
        const QString& path = filePaths.at(next++);
        std::unique_ptr<Cue> cue(registry(cues)->newCueFromTemplate(path, cueTemplate));
        if (!cue) {
            qWarning() << "[M3U8 Import] Failed to create cue for file:" << path;
            return true;
        }
        if (!cue->saveToDatabase(true)) {
            qCritical() << "[M3U8 Import] Failed to save cue to database";
            return true;
        }
        if (!db->insertPlaylistSong(group.id, cue->id(), int(made.size()))) {
            qCritical() << "[M3U8 Import] Failed to add cue to playlist";
            cue->deleteFromDatabase();
            cue->clearDirty();
            return true;
        }
        made.push_back(std::move(cue));
        return true;
    };
    bool stored = true;
    if (ui) {
        stored = GuiThreadSlices::run(storeOne, [&] {
            // What the last slice wrote goes to the log now, not all at the commit.
            TransactionPageFlush::flush();
            ui->progressSet(kImportProgressSteps / 2
                            + int(qint64(kImportProgressSteps / 2) * next / std::max<qsizetype>(filePaths.size(), 1)));
            return !ui->progressCancelled();
        });
    } else {
        while (storeOne()) {
        }
    }
    // A cancel up to the commit takes the whole import back; the rollback
    // takes the cues' ids back too, so their objects write nothing when they go.
    const bool cancel = !stored || (ui && ui->progressCancelled());
    if (cancel || lost || !transaction.commit()) {
        if (cancel) {
            transaction.rollback();
            if (cancelled)
                *cancelled = true;
        } else {
            qCritical() << "[M3U8 Import] Failed to store the imported playlist";
        }
        return -1;
    }
    // Registered in slices as well: the new playlist is not shown yet.
    size_t registered = 0;
    auto registerOne = [&] {
        if (registered >= made.size())
            return false;
        registry(cues)->registerImportedCue(made[registered++].release());
        return true;
    };
    if (ui) {
        GuiThreadSlices::run(registerOne, [] { return true; });
        ui->progressSet(kImportProgressSteps);
    } else {
        while (registerOne()) {
        }
    }
    return group.id;
}
