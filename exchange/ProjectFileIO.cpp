#include "exchange/ProjectFileIO.h"

#include "exchange/AtomicFileCopy.h"
#include "exchange/ExportNames.h"
#include "exchange/ExportUi.h"
#include "exchange/ExportWorker.h"
#include "exchange/GuiThreadSlices.h"
#include "exchange/ImportNotes.h"
#include "exchange/ProjectFileReader.h"
#include "exchange/WidgetExportUi.h"
#include "exchange/WriteFailureReason.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "model/TransactionPageFlush.h"
#include "platform/PoolTask.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr char kUntitled[] = "未命名播放列表";

CueManager* registry(CueManager* cues)
{
    return cues ? cues : CueManager::instance();
}

QJsonArray envelopeToJson(const QList<qint64>& times, const QList<double>& values)
{
    QJsonArray points;
    const qsizetype n = std::min(times.size(), values.size());
    for (qsizetype i = 0; i < n; ++i) {
        QJsonObject point;
        point.insert(QStringLiteral("time"), double(times[i]) / 1000.0);
        point.insert(QStringLiteral("value"), values[i]);
        points.append(point);
    }
    return points;
}

// The copy's name: the file name up to its first dot, then its suffix.
QString copyName(const QString& soundFolder, const QFileInfo& source)
{
    const QString fileName = source.fileName();
    const qsizetype firstDot = fileName.indexOf(QLatin1Char('.'));
    const qsizetype lastDot = fileName.lastIndexOf(QLatin1Char('.'));
    QString base = firstDot < 0 ? fileName : fileName.left(firstDot);
    if (base.isEmpty())
        base = QStringLiteral("audio");
    const QString suffix = lastDot < 0 ? QString() : fileName.mid(lastDot + 1);
    auto make = [&](int counter) {
        const QString stem = counter == 0 ? base : QStringLiteral("%1_%2").arg(base).arg(counter);
        return suffix.isEmpty() ? stem : stem + QLatin1Char('.') + suffix;
    };
    QString name = make(0);
    for (int counter = 1; QFileInfo::exists(soundFolder + QLatin1Char('/') + name); ++counter)
        name = make(counter);
    return name;
}

}  // namespace

QString ProjectFileIO::projectFileBaseName(const QString& playlistName)
{
    const QString name = ExportNames::component(playlistName);
    return name.isEmpty() ? QString::fromUtf8(kUntitled) : name;
}

void ProjectFileIO::startExport(QWidget* treeView, int currentPlaylistId, const QList<PlaylistGroup>& playlists)
{
    auto ui = std::make_shared<WidgetExportUi>(treeView);
    if (currentPlaylistId == -1) {
        ui->message(ExportUi::Icon::Warning, QStringLiteral("提示"), QStringLiteral("请先选择一个播放列表"));
        return;
    }
    const auto record = std::find_if(playlists.cbegin(), playlists.cend(),
                                     [currentPlaylistId](const PlaylistGroup& g) { return g.id == currentPlaylistId; });
    if (record == playlists.cend()) {
        ui->message(ExportUi::Icon::Warning, QStringLiteral("错误"), QStringLiteral("找不到当前播放列表"));
        return;
    }
    using namespace SettingsKeys;
    QSettings settings;
    ExportRequest request;
    request.playlistId = currentPlaylistId;
    request.playlistName = record->name.isEmpty() ? QString::fromUtf8(kUntitled) : record->name;
    request.includeAudio =
        settings.value(kExportProjectIncludeAudio, kExportProjectIncludeAudioDefaultExport).toBool();
    request.lastDir = settings.value(kExportLastDir, exportLastDirDefault()).toString();
    request.playlists = playlists;
    ui->showBusyOverlay();
    QTimer::singleShot(100, treeView, [ui, request] { runExport(request, *ui); });
}

bool ProjectFileIO::runExport(const ExportRequest& request, ExportUi& ui, CueManager* cues)
{
    const QString folder = ui.chooseFolder(QStringLiteral("选择工程文件导出目录"), request.lastDir);
    if (folder.isEmpty())
        return false;
    QSettings().setValue(SettingsKeys::kExportLastDir, folder);

    QString reason;
    if (!exportProject(folder, request.playlistName, request.playlistId, request.includeAudio, request.playlists, ui,
                       cues, &reason)) {
        ui.message(ExportUi::Icon::Critical, QStringLiteral("导出失败"),
                   reason.isEmpty() ? QStringLiteral("导出工程文件时发生错误")
                                    : QStringLiteral("导出工程文件时发生错误\n原因：%1\n未留下任何文件。").arg(reason));
        return false;
    }
    const QString text = QStringLiteral("工程文件已导出到:\n%1").arg(folder)
        + (request.includeAudio ? QStringLiteral("\n\n播放列表: %1\n包含音频文件")
                                : QStringLiteral("\n\n播放列表: %1\n不包含音频文件"))
              .arg(request.playlistName);
    if (ui.resultBox(ExportUi::Icon::Information, QStringLiteral("导出成功"), text,
                     ExportUi::ResultButtons::OpenFolderAndOk))
        ui.openFolder(request.includeAudio ? QDir(folder).filePath(projectFileBaseName(request.playlistName))
                                           : folder);
    return true;
}

bool ProjectFileIO::exportProject(const QString& folder, const QString& playlistName, int playlistId,
                                  bool includeAudio, const QList<PlaylistGroup>& playlists, ExportUi& ui,
                                  CueManager* cues, QString* failureReason)
{
    // One path component: the project never lands outside the chosen folder.
    const QString baseName = projectFileBaseName(playlistName);
    QString projectPath = QDir(folder).filePath(baseName + QStringLiteral(".crv"));
    QString soundFolder;
    // What this export made: a failed export takes it all back.
    QStringList madeFolders;
    QHash<QString, QString> copied;
    auto fail = [&](const QString& reason) {
        if (failureReason)
            *failureReason = reason;
        for (const QString& name : std::as_const(copied))
            QFile::remove(soundFolder + QLatin1Char('/') + name);
        for (auto it = madeFolders.crbegin(); it != madeFolders.crend(); ++it)
            QDir().rmdir(*it);  // only removes an empty folder
        return false;
    };
    if (includeAudio) {
        const QString projectFolder = QDir(folder).filePath(baseName);
        projectPath = QDir(projectFolder).filePath(baseName + QStringLiteral(".crv"));
        soundFolder = QDir(projectFolder).filePath(QStringLiteral("CUESOUND"));
        for (const QString& made : {projectFolder, soundFolder}) {
            if (QFileInfo(made).isDir())
                continue;
            if (!QDir().mkpath(made)) {
                qCritical() << "[Export Project] Failed to create directory:" << made;
                return fail(WriteFailureReason::describe(made));
            }
            madeFolders.append(made);
        }
    }

    QList<int> ids;
    if (!DatabaseManager::instance()->getPlaylistSongIds(playlistId, ids)) {
        qCritical() << "[Export Project] Failed to load playlist song IDs";
        ui.message(ExportUi::Icon::Warning, QStringLiteral("错误"), QStringLiteral("无法加载播放列表数据"));
        return fail(QString());
    }
    if (ids.isEmpty()) {
        qWarning() << "[Export Project] No cues found in playlist:" << playlistId;
        ui.message(ExportUi::Icon::Warning, QStringLiteral("提示"), QStringLiteral("当前播放列表没有Cue"));
        return fail(QString());
    }
    QList<Cue*> exported;
    for (int id : std::as_const(ids)) {
        Cue* cue = registry(cues)->getCue(id);
        if (cue && cue->id() >= 1)
            exported.append(cue);
    }
    if (exported.isEmpty()) {
        qWarning() << "[Export Project] No valid cues found in playlist:" << playlistId;
        ui.message(ExportUi::Icon::Warning, QStringLiteral("提示"), QStringLiteral("当前播放列表没有有效Cue"));
        return fail(QString());
    }

    QString copyReason;
    if (includeAudio && !copyAudioFiles(exported, soundFolder, copied, &ui, &copyReason)) {
        qCritical() << "[Export Project] Failed to copy audio files";
        return fail(copyReason);
    }

    int playMode = -1;
    for (const PlaylistGroup& group : playlists) {
        if (group.id == playlistId && !group.isGroupHeader) {
            playMode = group.playMode;
            break;
        }
    }
    QJsonObject root;
    root.insert(QStringLiteral("version"), QStringLiteral("1.0"));
    root.insert(QStringLiteral("playlistName"), playlistName);
    root.insert(QStringLiteral("exportTime"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    root.insert(QStringLiteral("totalCues"), int(exported.size()));
    root.insert(QStringLiteral("totalDuration"), calculateTotalDuration(exported));
    root.insert(QStringLiteral("includesAudio"), includeAudio);
    root.insert(QStringLiteral("playMode"), playMode);
    QJsonArray cueArray;
    for (int i = 0; i < exported.size(); ++i)
        cueArray.append(cueToJson(exported[i], i, copied, includeAudio));
    root.insert(QStringLiteral("cues"), cueArray);

    QSaveFile file(projectPath);
    const QString projectFolder = QFileInfo(projectPath).absolutePath();
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical() << "[Export Project] Failed to open file for writing:" << projectPath;
        return fail(WriteFailureReason::describe(projectFolder, file.error(), file.errorString()));
    }
    const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(json) != json.size() || !file.commit()) {
        qCritical() << "[Export Project] Failed to write file:" << projectPath << file.errorString();
        return fail(WriteFailureReason::describe(projectFolder, file.error(), file.errorString()));
    }
    return true;
}

QJsonObject ProjectFileIO::cueToJson(const Cue* cue, int rowIndex, const QHash<QString, QString>& copiedFiles,
                                     bool includeAudio)
{
    QJsonObject o;
    o.insert(QStringLiteral("rowIndex"), rowIndex);
    o.insert(QStringLiteral("cueId"), cue->id());
    const QString path = cue->filePath();
    o.insert(QStringLiteral("filePath"), includeAudio && copiedFiles.contains(path)
                                             ? QStringLiteral("CUESOUND/") + copiedFiles.value(path)
                                             : path);
    const qint64 duration = cue->durationMs();
    if (duration > 0)
        o.insert(QStringLiteral("duration"), double(duration) / 1000.0);
    auto text = [&o](const char* key, const QString& value) {
        if (!value.isEmpty())
            o.insert(QLatin1String(key), value);
    };
    text("name", cue->name());
    text("alias", cue->alias());
    text("remark", cue->remark());
    text("color", cue->color());
    if (cue->preWaitMs() > 0)
        o.insert(QStringLiteral("preWait"), cue->preWaitMs());
    if (cue->loopStartMs() > 0)
        o.insert(QStringLiteral("start"), double(cue->loopStartMs()) / 1000.0);
    // A loop that runs to the end of the file has no end of its own; with an
    // unknown duration a set end is kept.
    if (cue->loopEndMs() > 0 && (duration <= 0 || cue->loopEndMs() < duration))
        o.insert(QStringLiteral("end"), double(cue->loopEndMs()) / 1000.0);
    if (cue->loopCount() != 1)
        o.insert(QStringLiteral("playCount"), cue->loopCount());
    if (cue->fadeEnabled())
        o.insert(QStringLiteral("fadeEnabled"), true);
    if (cue->fadeInMs() >= 1)
        o.insert(QStringLiteral("fadeIn"), double(cue->fadeInMs()) / 1000.0);
    if (cue->fadeOutMs() >= 1)
        o.insert(QStringLiteral("fadeOut"), double(cue->fadeOutMs()) / 1000.0);
    if (cue->volumeA() != 100) {
        o.insert(QStringLiteral("volumeA"), cue->volumeA() / 100.0);
        o.insert(QStringLiteral("volume"), cue->volumeA() / 100.0);
    }
    if (cue->volumeB() != 100)
        o.insert(QStringLiteral("volumeB"), cue->volumeB() / 100.0);
    if (cue->storedVolumeChoose() != 0)
        o.insert(QStringLiteral("volumeChoose"), cue->storedVolumeChoose());
    if (cue->envelopeEnabled() && !cue->envelopeTimes().isEmpty())
        o.insert(QStringLiteral("volumeEnvelope"), envelopeToJson(cue->envelopeTimes(), cue->envelopeGains()));
    if (cue->panEnvelopeEnabled() && !cue->panEnvelopeTimes().isEmpty())
        o.insert(QStringLiteral("panEnvelope"),
                 envelopeToJson(cue->panEnvelopeTimes(), cue->panEnvelopePositions()));

    QByteArray blob;
    int targetPoints = Cue::kWaveformTargetPoints;
    if (DatabaseManager::instance()->loadWaveformData(cue->id(), blob, &targetPoints) && !blob.isEmpty()) {
        o.insert(QStringLiteral("waveformData"), QString::fromLatin1(blob.toBase64()));
        o.insert(QStringLiteral("waveformTargetPoints"), targetPoints);
    }
    return o;
}

bool ProjectFileIO::copyAudioFiles(const QList<Cue*>& cues, const QString& soundFolder,
                                   QHash<QString, QString>& copiedFiles, ExportUi* ui, QString* failureReason)
{
    QStringList paths;
    for (const Cue* cue : cues) {
        if (cue)
            paths.append(cue->filePath());
    }
    bool ok = true;
    auto work = [&](const std::atomic<bool>& cancel, std::atomic<int>& permille) {
        QHash<QString, QString> done;  // one copy per source file
        for (int i = 0; i < paths.size(); ++i) {
            const QString& path = paths[i];
            permille.store(int(qint64(i) * 1000 / paths.size()));
            if (path.isEmpty()) {
                qWarning() << "[Export Project] Cue has empty file path, skipping";
                continue;
            }
            if (done.contains(path)) {
                copiedFiles.insert(path, done.value(path));
                continue;
            }
            const QFileInfo source(path);
            if (!source.isFile()) {
                qWarning() << "[Export Project] Source file does not exist:" << path;
                continue;
            }
            const QString name = copyName(soundFolder, source);
            const QString target = soundFolder + QLatin1Char('/') + name;
            QString reason;
            const AtomicFileCopy::Result result = AtomicFileCopy::copy(path, target, &cancel, nullptr, &reason);
            if (result != AtomicFileCopy::Result::Copied) {
                qCritical() << "[Export Project] Failed to copy file:" << path << "to" << target;
                if (failureReason)
                    *failureReason = result == AtomicFileCopy::Result::Cancelled ? QStringLiteral("已取消") : reason;
                ok = false;
                return;
            }
            done.insert(path, name);
            copiedFiles.insert(path, name);
        }
    };
    if (ui && !paths.isEmpty()) {
        ui->progressStart(QStringLiteral("导出进度"), QStringLiteral("正在导出 %1 个音频...").arg(paths.size()), 1000);
        ExportWorker::run(work, ui, 0, 1000);
        ui->progressEnd();
    } else {
        ExportWorker::run(work, nullptr);
    }
    return ok;
}

double ProjectFileIO::calculateTotalDuration(const QList<Cue*>& cues)
{
    double total = 0.0;
    for (const Cue* cue : cues) {
        if (cue)
            total += double(cue->durationMs()) / 1000.0;
    }
    return total;
}

namespace {

constexpr int kImportProgressSteps = 1000;

struct ProjectReading {
    bool opened = false;
    ProjectDocument document;
    QList<ProjectCueEntry> entries;
    bool cancelled = false;
};

// Reads and checks the whole file; runs on a worker thread.
void readProject(const QString& path, ProjectReading* reading, const std::atomic<bool>& cancel,
                 std::atomic<int>& permille)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    reading->opened = true;
    // A file this large is no project of ours; not read into memory.
    if (file.size() > ProjectFileReader::kMaxFileBytes) {
        reading->document.error = ProjectDocument::Error::NotAnObject;
        return;
    }
    reading->document = ProjectFileReader::parse(file.readAll());
    permille.store(300);
    if (reading->document.error != ProjectDocument::Error::None)
        return;
    const QString baseFolder = QFileInfo(path).absolutePath();
    const qsizetype n = reading->document.cues.size();
    reading->entries.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        if (cancel.load()) {
            reading->cancelled = true;
            return;
        }
        reading->entries.append(ProjectFileReader::cueEntry(reading->document.cues.at(i), baseFolder));
        permille.store(300 + int(700 * (i + 1) / n));
    }
    reading->document.cues = QJsonArray();  // the entries hold what is needed
}

}  // namespace

PlaylistImportResult ProjectFileIO::importProject(const QString& path, ExportUi& ui, CueManager* cues)
{
    PlaylistImportResult result;
    // The file is read and checked off the GUI thread; the cues are stored
    // on it (the database belongs to it) in slices between repaints.
    ProjectReading reading;
    ui.progressStart(QStringLiteral("导入进度"), QStringLiteral("正在导入工程文件..."), kImportProgressSteps);
    ExportWorker::run([&](const std::atomic<bool>& cancel,
                          std::atomic<int>& permille) { readProject(path, &reading, cancel, permille); },
                      &ui, 0, kImportProgressSteps / 2);
    const ProjectDocument& document = reading.document;
    auto fail = [&](ExportUi::Icon icon, const QString& title, const QString& text) {
        ui.progressEnd();
        ui.message(icon, title, text);
        return result;
    };
    if (!reading.opened)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("无法打开文件: %1").arg(path));
    if (document.error == ProjectDocument::Error::NotAnObject)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("无效的CRV文件格式"));
    if (!document.versionSupported())
        ui.message(ExportUi::Icon::Warning, QStringLiteral("警告"),
                   QStringLiteral("不支持的版本: %1\n可能无法正常导入").arg(document.version));
    if (document.error == ProjectDocument::Error::EmptyName)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("播放列表名称为空"));
    if (document.error == ProjectDocument::Error::NoCues)
        return fail(ExportUi::Icon::Warning, QStringLiteral("提示"), QStringLiteral("该工程文件没有包含任何Cue"));
    if (reading.cancelled) {
        ui.progressEnd();
        return result;
    }

    ImportNotes notes;
    if (document.playModeAdjusted)
        notes.add(QStringLiteral("播放模式无效，已改为列表循环"));
    bool cancelled = false;
    const int id = createPlaylistFromEntries(document.playlistName, reading.entries, document.playMode, &ui, &notes,
                                             &cancelled, cues);
    // The entries of a hundred thousand cues take tens of milliseconds to
    // free: that happens on a pool thread, moved out there so that the last
    // reference is its own.
    const qsizetype entryCount = reading.entries.size();
    auto aside = std::make_shared<QList<ProjectCueEntry>>(std::exchange(reading.entries, {}));
    PoolTask::run(QThreadPool::globalInstance(), [aside] { QList<ProjectCueEntry> freed = std::move(*aside); });
    ui.progressEnd();
    if (cancelled)
        return result;
    if (id < 0)
        return fail(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("创建播放列表失败"));
    if (!notes.isEmpty())
        ui.message(ExportUi::Icon::Warning, QStringLiteral("导入提示"), notes.text());
    result.playlistId = id;
    result.statusText =
        QStringLiteral("成功导入播放列表: %1 (%2个Cue)").arg(document.playlistName).arg(entryCount);
    return result;
}

int ProjectFileIO::createPlaylistFromProject(const QString& name, const QJsonArray& cues, const QString& baseFolder,
                                             int playMode)
{
    QList<ProjectCueEntry> entries;
    entries.reserve(cues.size());
    for (const QJsonValue& element : cues)
        entries.append(ProjectFileReader::cueEntry(element.toObject(), baseFolder));
    return createPlaylistFromEntries(name, entries, playMode, nullptr, nullptr, nullptr);
}

int ProjectFileIO::createPlaylistFromEntries(const QString& name, const QList<ProjectCueEntry>& entries, int playMode,
                                             ExportUi* ui, ImportNotes* notes, bool* cancelled, CueManager* cues)
{
    DatabaseManager* db = DatabaseManager::instance();
    // The whole import is one transaction: a cancel, a failure or a killed
    // process leaves the database as it was.
    DatabaseTransaction transaction(db);
    if (!transaction.isActive()) {
        qCritical() << "[Import] Failed to begin transaction";
        return -1;
    }
    PlaylistGroup group;
    group.name = name;
    group.playMode = playMode;
    group.currentIndex = 0;
    int sortOrder = 0;
    if (!db->getNextGroupSortOrder(sortOrder) || !db->insertPlaylistGroup(group, sortOrder)) {
        qCritical() << "[Import] Failed to add playlist to database";
        return -1;
    }
    // A cue given up after it was stored: its rows go, and its object must
    // not write them back when it is destroyed.
    auto discard = [](Cue* cue) {
        if (cue->id() > 0)
            cue->deleteFromDatabase();
        cue->clearDirty();
        cue->clearWaveformDirty();
        delete cue;
    };
    std::vector<std::unique_ptr<Cue>> made;
    int songOrder = 0;
    qsizetype next = 0;
    bool lost = false;
    auto storeOne = [&] {
        if (next >= entries.size())
            return false;
        if (!transaction.isActive()) {
            lost = true;  // the database took the transaction back
            return false;
        }
        Cue* cue = cueFromEntry(entries.at(next++), notes);
        if (!cue) {
            qWarning() << "[Import] Failed to create cue at row" << songOrder;
            return true;
        }
        // A cue with a waveform was stored already to hold it.
        if (!cue->saveToDatabase(cue->id() < 1)) {
            qCritical() << "[Import] Failed to save cue to database";
            discard(cue);
            return true;
        }
        if (!db->insertPlaylistSong(group.id, cue->id(), songOrder)) {
            qCritical() << "[Import] Failed to add cue to playlist";
            discard(cue);
            return true;
        }
        ++songOrder;
        if (cues)
            made.emplace_back(cue);  // registered once the playlist is committed
        else
            delete cue;  // stored: the track list loads it from the database when shown
        return true;
    };
    bool stored = true;
    if (ui) {
        stored = GuiThreadSlices::run(storeOne, [&] {
            // What the last slice wrote goes to the log now, not all at the commit.
            TransactionPageFlush::flush();
            ui->progressSet(kImportProgressSteps / 2 + int(qint64(kImportProgressSteps / 2) * next / entries.size()));
            return !ui->progressCancelled();
        });
        if (stored)
            ui->progressSet(kImportProgressSteps);
    } else {
        while (storeOne()) {
        }
    }
    // A cancel up to the commit takes the whole import back.
    if (!stored || (ui && ui->progressCancelled())) {
        transaction.rollback();
        if (cancelled)
            *cancelled = true;
        return -1;
    }
    if (lost || !transaction.commit()) {
        qCritical() << "[Import] Failed to commit the imported playlist";
        return -1;
    }
    // The table finds them there when it shows the playlist, rather than
    // reading every cue back from the database. In slices as well.
    size_t registered = 0;
    auto registerOne = [&] {
        if (registered >= made.size())
            return false;
        cues->registerImportedCue(made[registered++].release());
        return true;
    };
    if (ui) {
        GuiThreadSlices::run(registerOne, [] { return true; });
    } else {
        while (registerOne()) {
        }
    }
    return group.id;
}

Cue* ProjectFileIO::cueFromJson(const QJsonObject& object, const QString& baseFolder)
{
    return cueFromEntry(ProjectFileReader::cueEntry(object, baseFolder), nullptr);
}

Cue* ProjectFileIO::cueFromEntry(const ProjectCueEntry& entry, ImportNotes* notes)
{
    if (entry.filePath.isEmpty()) {
        qWarning().noquote() << "[Import] Empty filePath, skipping cue"
                             << (entry.skipReason == QLatin1String("empty filePath") ? QString()
                                                                                     : "(" + entry.skipReason + ")");
        if (notes)
            notes->add(QStringLiteral("Cue 没有可用的音频文件路径，未导入"));
        return nullptr;
    }
    if (notes)
        notes->merge(entry.notes);
    auto* cue = new Cue();
    cue->setFilePath(entry.filePath);
    if (entry.durationMs > 0)
        cue->setDuration(entry.durationMs);
    if (entry.name)
        cue->setName(*entry.name);
    if (entry.alias)
        cue->setAlias(*entry.alias);
    if (entry.remark)
        cue->setRemark(*entry.remark);
    if (entry.color)
        cue->setColor(*entry.color);
    cue->setVolumeA(entry.volumeA);
    cue->setVolumeB(entry.volumeB);
    if (entry.volumeChoose)
        cue->setVolumeChoose(*entry.volumeChoose);

    const qint64 fileEnd = cue->durationMs();
    if (entry.endMs > 0) {
        if (entry.startMs <= entry.endMs)
            cue->setLoopRange(entry.startMs, entry.endMs, true);
    } else if (entry.startMs > 0) {
        cue->setLoopRange(entry.startMs, fileEnd, true);
    }
    if (entry.preWaitMs)
        cue->setPreWait(*entry.preWaitMs);
    // Fades fit into the part of the file that plays, as the settings bar
    // keeps them: the fade-out first, the fade-in in what is left.
    qint64 fadeInMs = entry.fadeInMs;
    qint64 fadeOutMs = entry.fadeOutMs;
    const qint64 playedMs = cue->loopEndMs() > cue->loopStartMs() ? cue->loopEndMs() - cue->loopStartMs()
                                                                   : cue->durationMs();
    if (playedMs > 0 && fadeInMs + fadeOutMs > playedMs) {
        fadeOutMs = std::min(fadeOutMs, playedMs);
        fadeInMs = std::min(fadeInMs, playedMs - fadeOutMs);
        if (notes)
            notes->add(QStringLiteral("淡入淡出比 Cue 的播放范围还长，已缩短"));
    }
    cue->setFadeDurations(fadeInMs, fadeOutMs);
    cue->setFadeEnabled(entry.fadeEnabled);
    if (entry.loopCount)
        cue->setLoopCount(*entry.loopCount);
    if (entry.hasVolumeEnvelope) {
        cue->setEnvelopeEnabled(true);
        cue->setVolumeEnvelope(entry.volumeTimes, entry.volumeGains);
    }
    if (entry.hasPanEnvelope) {
        cue->setPanEnvelopeEnabled(true);
        cue->setPanEnvelope(entry.panTimes, entry.panPositions);
    }
    if (entry.waveformRejected)
        qWarning() << "[Import] Invalid waveform data, not restored for" << entry.filePath;
    if (!entry.waveformBlob.isEmpty()) {
        if (!cue->saveToDatabase(true))
            qWarning() << "[Import] Failed to save cue before restoring waveform";
        else if (!DatabaseManager::instance()->insertWaveformData(cue->id(), entry.waveformTargetPoints,
                                                                  entry.waveformBlob))
            qWarning() << "[Import] Failed to save waveform data for cue:" << cue->id();
    }
    return cue;
}
