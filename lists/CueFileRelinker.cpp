#include "lists/CueFileRelinker.h"

#include "lists/AudioFileMatch.h"
#include "lists/TrackListUi.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "platform/FileWorkPool.h"
#include "playback/AudioEngine.h"
#include "platform/PoolTask.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSettings>
#include <QThreadPool>

namespace {

constexpr int kMaxListedMissing = 10;
const QString kDuration = QStringLiteral("duration");

// Runs a folder walk on the pool while the GUI thread keeps its timers and
// painting going (the transport among them); the operator's input waits, as
// it would behind a dialog.
template <typename Result, typename Work>
Result runOffGuiThread(Work work)
{
    QFuture<Result> future = PoolTask::run(FileWorkPool::instance(), std::move(work));
    QFutureWatcher<Result> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return future.result();
}

}  // namespace

CueFileRelinker::CueFileRelinker(CueManager* registry, WaveformParseQueue* parseQueue, Host host)
    : m_registry(registry)
    , m_parseQueue(parseQueue)
    , m_host(std::move(host))
{
}

void CueFileRelinker::releaseEngine()
{
    AudioEngine* engine = m_registry->audioEngine();
    if (!engine)
        return;
    // Through the registry, so that it asks for the stop and starts nothing else.
    if (engine->getState() != AudioEngine::Stopped)
        m_registry->stopPlaylist();
    engine->clearPreloadCache();
    engine->clearPreloadQueue();
}

bool CueFileRelinker::replaceCueFile(Cue* cue, const QString& path)
{
    if (!cue || path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    // A file that does not decode would leave the cue without sound.
    if (!AudioFileMatch::decodesAudio(path)) {
        qWarning() << "[ReplaceFile] Not decodable, the cue keeps its audio:" << path;
        return false;
    }
    const QVariantMap found = AudioFileMatch::audioFileInfo(path);
    const bool sameName = QFileInfo(path).fileName() == QFileInfo(cue->filePath()).fileName();
    const bool sameLength = found.value(kDuration).toLongLong() == cue->durationMs();
    if (sameName && sameLength) {
        cue->setFilePath(path);
        cue->saveToDatabase(false);
    } else {
        const QString alias = cue->alias();
        const QString remark = cue->remark();
        cue->setFilePath(path);
        cue->setWaveform({});
        m_parseQueue->forgetCue(cue);
        // The stored peaks are those of the old file.
        if (cue->id() > 0)
            DatabaseManager::instance()->deleteWaveformData(cue->id());
        cue->setAlias(alias);
        cue->setRemark(remark);
        cue->saveToDatabase(false);
    }
    releaseEngine();
    return true;
}

QString CueFileRelinker::startFolder(const QString& fallback) const
{
    // The last folder of these choosers when it still exists, else the fallback.
    const QString stored = QSettings().value(SettingsKeys::kLastReplaceFilePath, fallback).toString();
    return !stored.isEmpty() && QFileInfo(stored).isDir() ? stored : fallback;
}

void CueFileRelinker::rememberFolder(const QString& folder)
{
    QSettings().setValue(SettingsKeys::kLastReplaceFilePath, folder);
}

QString CueFileRelinker::displayName(const Cue& cue)
{
    const QString fileName = QFileInfo(cue.filePath()).fileName();
    return cue.alias().isEmpty() ? fileName : cue.alias() + QStringLiteral(" - ") + fileName;
}


void CueFileRelinker::replaceWithChosenFile(const QList<Cue*>& cues)
{
    QList<QPointer<Cue>> targets;
    for (Cue* cue : cues) {
        if (cue)
            targets.append(cue);
    }
    if (targets.isEmpty())
        return;
    const QString chosen = m_host.ui()->chooseFile(
        m_host.dialogParent, tr("选择替换音频文件"), startFolder(m_host.lastImportPath()),
        tr("音频文件 (*.mp3 *.wav *.flac *.ogg *.m4a *.aac *.wma);;所有文件 (*)"));
    if (chosen.isEmpty())
        return;
    rememberFolder(QFileInfo(chosen).absolutePath());
    int replaced = 0;
    for (const QPointer<Cue>& cue : std::as_const(targets)) {
        if (cue && replaceCueFile(cue, chosen))
            ++replaced;
    }
    m_host.refreshTable();
    if (replaced == 0) {
        m_host.statusMessage(tr("替换失败"), 2000);
        return;
    }
    for (const QPointer<Cue>& cue : std::as_const(targets))
        m_parseQueue->enqueueWaveformParse(cue, false);
    m_host.statusMessage(tr("已替换 %1 个Cue的音频文件").arg(replaced), 3000);
}

void CueFileRelinker::searchFolders(const QList<Cue*>& missingCues)
{
    QList<QPointer<Cue>> missing;
    for (Cue* cue : missingCues) {
        // Without a file name there is nothing to look for.
        if (cue && !QFileInfo(cue->filePath()).fileName().isEmpty())
            missing.append(cue);
    }
    while (!missing.isEmpty() && !m_busy) {
        const QString folder =
            m_host.ui()->chooseFolder(m_host.dialogParent, tr("选择文件夹"), startFolder(QDir::homePath()));
        if (folder.isEmpty())
            return;
        rememberFolder(folder);

        QList<AudioFileMatch::Wanted> wanted;
        for (const QPointer<Cue>& cue : std::as_const(missing))
            wanted.append({cue ? QFileInfo(cue->filePath()).fileName() : QString(), cue ? cue->durationMs() : 0});
        m_busy = true;
        const QList<AudioFileMatch::Candidate> found = runOffGuiThread<QList<AudioFileMatch::Candidate>>(
            [folder, wanted] { return AudioFileMatch::searchFolder(folder, wanted); });
        m_busy = false;

        QList<Cue*> replaced;
        QList<QPointer<Cue>> stillMissing;
        for (int i = 0; i < missing.size(); ++i) {
            Cue* cue = missing[i];
            if (!cue)
                continue;  // deleted meanwhile
            if (found[i].accepted) {
                // Only the path changes: it is the same audio.
                cue->setFilePath(found[i].path);
                cue->saveToDatabase(false);
                replaced.append(cue);
            } else {
                stillMissing.append(cue);
            }
        }
        m_host.refreshTable();
        if (stillMissing.isEmpty())
            return;

        QString text;
        if (!replaced.isEmpty()) {
            text += tr("已成功替换 %1 个文件:\n").arg(replaced.size());
            for (Cue* cue : std::as_const(replaced))
                text += QStringLiteral("  ✓ ") + displayName(*cue) + QLatin1Char('\n');
            text += QLatin1Char('\n');
        }
        text += tr("还有 %1 个文件未找到:\n").arg(stillMissing.size());
        for (int i = 0; i < stillMissing.size() && i < kMaxListedMissing; ++i)
            text += QStringLiteral("  ") + displayName(*stillMissing[i]) + QLatin1Char('\n');
        if (stillMissing.size() > kMaxListedMissing)
            text += QStringLiteral("  ...\n");
        text += QStringLiteral("\n是否继续查找剩余文件?");
        if (!m_host.ui()->askToSearchOn(m_host.dialogParent, tr("查找结果"), text))
            return;
        missing = stillMissing;
    }
}

void CueFileRelinker::replaceCueAudio(Cue* cue)
{
    if (!cue || m_busy)
        return;
    const QPointer<Cue> target(cue);
    const QString missingName = QFileInfo(cue->filePath()).fileName();
    const QString filter = tr("音频文件 (*.mp3 *.wav *.flac *.ogg *.m4a *.aac *.wma);;所有文件 (*)");
    for (;;) {
        if (!target)
            return;
        const QString start = startFolder(AudioFileMatch::nearestExistingDir(cue->filePath()));
        const QString chosen = m_host.ui()->chooseFileOrFolder(m_host.dialogParent, tr("选择音频文件或文件夹"), start, filter);
        if (chosen.isEmpty() || !target)
            return;
        const QFileInfo chosenInfo(chosen);
        rememberFolder(chosenInfo.isDir() ? chosen : chosenInfo.absolutePath());

        const QString oldName = displayName(*cue);
        const qint64 oldDuration = cue->durationMs();
        QString candidate;
        QVariantMap found;
        bool folderMode = false;
        if (chosenInfo.isFile()) {
            candidate = chosen;
            found = AudioFileMatch::audioFileInfo(candidate);
        } else if (chosenInfo.isDir()) {
            folderMode = true;
            m_busy = true;
            const QList<AudioFileMatch::Candidate> search = runOffGuiThread<QList<AudioFileMatch::Candidate>>(
                [chosen, wanted = AudioFileMatch::Wanted{missingName, oldDuration}] {
                    return AudioFileMatch::searchFolder(chosen, {wanted});
                });
            m_busy = false;
            if (!target)
                return;
            if (search.value(0).path.isEmpty()) {
                const QString text = tr("当前文件夹没有找到 ") + QLatin1Char('"') + oldName + QLatin1Char('"')
                    + QStringLiteral(".\n\n是否继续查找?");
                if (m_host.ui()->askToSearchOn(m_host.dialogParent, tr("未找到文件"), text))
                    continue;
                return;
            }
            candidate = search.value(0).path;
            found = search.value(0).info;
        } else {
            qWarning() << "[ReplaceFile] 无效的路径类型";
            m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Warning, tr("错误"), tr("选择的路径无效"));
            return;
        }

        // A file that does not decode would leave the cue without sound.
        if (!AudioFileMatch::decodesAudio(candidate)) {
            qWarning() << "[ReplaceFile] Not decodable:" << candidate;
            m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Warning, tr("错误"),
                          tr("无法解码该音频文件，未作替换:\n%1").arg(candidate));
            return;
        }
        const qint64 foundDuration = found.value(kDuration).toLongLong();
        if (folderMode) {
            if (!AudioFileMatch::matchesAudioInfo(AudioFileMatch::expectedInfo(*cue), found)) {
                qWarning() << "[ReplaceFile] 警告：文件夹模式下找到不匹配的文件，这可能是BUG";
                m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Warning, tr("错误"),
                              tr("系统内部错误：找到的文件与预期不匹配。\n请重新尝试或联系开发者。"));
                return;
            }
            cue->setFilePath(candidate);
            cue->saveToDatabase(false);
            m_host.refreshTable();
            m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Information, tr("文件替换成功"),
                          tr("已成功替换音频文件:\n%1\n\n文件信息: 保留原有参数").arg(candidate));
            releaseEngine();
            return;
        }

        const bool same = QFileInfo(candidate).fileName() == missingName && foundDuration == oldDuration;
        if (same) {
            cue->setFilePath(candidate);
            cue->saveToDatabase(false);
        } else {
            const QString alias = cue->alias();
            const QString remark = cue->remark();
            cue->setFilePath(candidate);
            cue->setDuration(foundDuration);
            cue->setLoopRange(0, foundDuration, false);
            cue->setAlias(alias);
            cue->setRemark(remark);
            cue->saveToDatabase(false);
        }
        m_host.refreshTable();
        if (same) {
            m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Information, tr("文件验证成功"),
                          tr("已验证音频文件:\n%1\n\n文件名和时长一致，所有参数保持不变").arg(candidate));
        } else {
            m_host.ui()->message(m_host.dialogParent, TrackListUi::Icon::Information, tr("文件替换成功"),
                          tr("已将 \"%1\" 替换为 \"%2\"\n\n已保留别名和备注，其他参数已重置")
                              .arg(oldName, QFileInfo(candidate).fileName()));
        }
        releaseEngine();
        return;
    }
}
