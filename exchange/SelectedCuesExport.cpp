#include "exchange/SelectedCuesExport.h"

#include "exchange/AudioExporter.h"
#include "exchange/ExportUi.h"
#include "exchange/ExportWorker.h"
#include "exchange/WidgetExportUi.h"
#include "exchange/WriteFailureReason.h"
#include "model/Cue.h"
#include "settings/SettingsKeys.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <memory>

namespace {

constexpr int kStepsPerCue = 100;

}  // namespace

SelectedCuesExport::Settings SelectedCuesExport::Settings::read()
{
    using namespace SettingsKeys;
    QSettings store;
    Settings s;
    s.format = store.value(kExportFormat, kExportFormatDefaultSelected).toString();
    s.clip = store.value(kExportRange, kExportRangeDefaultSelected).toString() == QLatin1String("clip");
    s.processed =
        store.value(kExportProcessing, kExportProcessingDefaultSelected).toString() == QLatin1String("processed");
    s.sampleRate = store.value(kExportSampleRate, kExportSampleRateDefault).toInt();
    if (s.sampleRate < 1)
        s.sampleRate = kExportSampleRateDefault;
    s.naming.useSeq = store.value(kExportUseSeq, kExportUseSeqDefaultExport).toBool();
    s.naming.useAlias = store.value(kExportUseAlias, kExportUseAliasDefaultExport).toBool();
    s.naming.useFilename = store.value(kExportUseFilename, kExportUseFilenameDefaultExport).toBool();
    s.lastDir = store.value(kExportLastDir, exportLastDirDefault()).toString();
    return s;
}

void SelectedCuesExport::start(QWidget* tableView, const QList<Item>& selected,
                               std::function<void(const QString&, int)> statusMessage)
{
    auto ui = std::make_shared<WidgetExportUi>(tableView, std::move(statusMessage));
    if (selected.isEmpty()) {
        ui->message(ExportUi::Icon::Information, QStringLiteral("提示"), QStringLiteral("请先选择要导出的Cue"));
        return;
    }
    QList<Item> stored;
    for (const Item& item : selected) {
        if (item.cue && item.cue->id() >= 1)
            stored.append(item);
    }
    if (stored.isEmpty()) {
        ui->message(ExportUi::Icon::Warning, QStringLiteral("提示"), QStringLiteral("没有可导出的有效Cue"));
        return;
    }
    const Settings settings = Settings::read();
    ui->showBusyOverlay();
    QTimer::singleShot(100, tableView, [ui, stored, settings] { run(stored, settings, *ui); });
}

SelectedCuesExport::Summary SelectedCuesExport::run(const QList<Item>& items, const Settings& settings, ExportUi& ui)
{
    Summary summary;
    const QString folder = ui.chooseFolder(QStringLiteral("选择导出目录"), settings.lastDir);
    if (folder.isEmpty())
        return summary;
    summary.started = true;
    summary.folder = folder;
    QSettings().setValue(SettingsKeys::kExportLastDir, folder);

    const bool mp3 = AudioExporter::isMp3(settings.format);
    const QString formatName = settings.format;
    const int count = int(items.size());
    ui.progressStart(QStringLiteral("导出进度"),
                     QStringLiteral("正在导出 %1 个音频 (%2)...").arg(count).arg(formatName),
                     count * kStepsPerCue);

    QSet<QString> taken;
    WriteFailureReason::Tally reasons;
    for (int i = 0; i < count; ++i) {
        if (ui.progressCancelled())
            break;
        ui.progressSet(i * kStepsPerCue);
        Cue* cue = items[i].cue;
        if (!cue) {
            ++summary.failed;
            reasons.add(QStringLiteral("Cue 已不存在"));
            continue;
        }
        if (!QFileInfo::exists(cue->filePath())) {
            qWarning() << "[Export] File not found:" << cue->filePath();
            ++summary.failed;
            reasons.add(QStringLiteral("音频文件不存在"));
            continue;
        }
        AudioExportJob job = AudioExportJob::fromCue(*cue);
        job.mp3 = mp3;
        job.sampleRate = settings.sampleRate;
        job.clip = settings.clip;
        job.processed = settings.processed;
        job.logPrefix = QStringLiteral("[Export] ");
        const QString name =
            ExportNames::cueFileName(settings.naming, items[i].row + 1, cue->alias(), cue->filePath(), cue->id());
        const QString fileName = ExportNames::uniqueFileName(folder, name, AudioExporter::extension(mp3), taken, true);
        job.targetPath = QDir(folder).filePath(fileName);
        if (!ExportNames::isInside(folder, job.targetPath)) {
            ++summary.failed;
            reasons.add(QStringLiteral("文件名无效"));
            continue;
        }

        AudioExportResult result;
        ExportWorker::run([&](const std::atomic<bool>& cancel,
                              std::atomic<int>& permille) { result = AudioExporter::run(job, &cancel, &permille); },
                          &ui, i * kStepsPerCue, kStepsPerCue);
        if (result.status == AudioExportResult::Status::Cancelled)
            break;  // neither a success nor a failure
        if (result.succeeded()) {
            ++summary.succeeded;
            taken.insert(fileName.toLower());
        } else {
            ++summary.failed;
            reasons.add(result.reason);
        }
    }
    ui.progressSet(count * kStepsPerCue);
    ui.progressEnd();

    const bool clean = summary.failed == 0;
    const QString text = clean ? QStringLiteral("成功导出 %1 个 %2 音频文件到:\n%3")
                                     .arg(summary.succeeded)
                                     .arg(formatName, folder)
                               : QStringLiteral("成功 %1 个，失败 %2 个\n导出目录: %3\n%4")
                                     .arg(summary.succeeded)
                                     .arg(summary.failed)
                                     .arg(folder, reasons.text());
    if (ui.resultBox(clean ? ExportUi::Icon::Information : ExportUi::Icon::Warning, QStringLiteral("导出完成"), text,
                     ExportUi::ResultButtons::OpenExportFolderAndClose))
        ui.openFolder(folder);
    ui.statusMessage(QStringLiteral("导出完成: %1 成功, %2 失败").arg(summary.succeeded).arg(summary.failed), 3000);
    return summary;
}
