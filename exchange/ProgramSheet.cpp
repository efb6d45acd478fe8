#include "exchange/ProgramSheet.h"

#include "exchange/ExcelExporter.h"
#include "exchange/ExportNames.h"
#include "exchange/ExportUi.h"
#include "exchange/WidgetExportUi.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QModelIndex>
#include <QSettings>
#include <QTimer>

#include <memory>

namespace {

// A loop end that is not set counts as the end of the file.
qint64 effectiveEnd(qint64 loopEndMs, qint64 durationMs)
{
    return loopEndMs <= 0 ? durationMs : loopEndMs;
}

bool playsPart(const ProgramSheet::Entry& e)
{
    return e.loopStartMs != 0 || effectiveEnd(e.loopEndMs, e.durationMs) != e.durationMs;
}

}  // namespace

QString ProgramSheet::formatProgramTime(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg((ms % 1000) / 10, 2, 10, QLatin1Char('0'));
}

QString ProgramSheet::playedRange(qint64 loopStartMs, qint64 loopEndMs, qint64 durationMs)
{
    const qint64 end = effectiveEnd(loopEndMs, durationMs);
    const bool fromStart = loopStartMs <= 0;
    const bool toEnd = end == durationMs;
    if (fromStart && toEnd)
        return {};
    const QString from = fromStart ? QStringLiteral("开始") : formatProgramTime(loopStartMs);
    const QString to = toEnd ? QStringLiteral("结束") : formatProgramTime(end);
    return from + QLatin1Char('~') + to;
}

ProgramSheet::Layout ProgramSheet::build(const QList<Entry>& entries)
{
    Layout layout;
    for (const Entry& e : entries) {
        if (!e.valid)
            continue;
        layout.hasRange = layout.hasRange || playsPart(e);
        layout.hasRemark = layout.hasRemark || !e.remark.trimmed().isEmpty();
        if (layout.hasRange && layout.hasRemark)
            break;
    }
    struct Column {
        QString header;
        int width;
        bool centered;
    };
    QList<Column> columns = {{QStringLiteral("顺序"), 7, true},
                             {QStringLiteral("流程"), 30, false},
                             {QStringLiteral("配乐"), 30, false}};
    if (layout.hasRange)
        columns.append({QStringLiteral("起止时间"), 22, true});
    if (layout.hasRemark)
        columns.append({QStringLiteral("备注"), 40, false});
    for (int c = 0; c < columns.size(); ++c) {
        layout.widths.append(columns[c].width);
        layout.cells.append({1, c, columns[c].header, true, true, true});
    }
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (!e.valid || !e.fileExists)
            continue;
        const int row = i + 2;
        const QFileInfo file(e.filePath);
        QStringList texts = {QString::number(i + 1), e.alias.isEmpty() ? file.completeBaseName() : e.alias,
                             file.fileName()};
        if (layout.hasRange)
            texts.append(playedRange(e.loopStartMs, e.loopEndMs, e.durationMs));
        if (layout.hasRemark)
            texts.append(e.remark.trimmed());
        for (int c = 0; c < texts.size(); ++c)
            layout.cells.append({row, c, texts[c], false, columns[c].centered, true});
    }
    return layout;
}

void ProgramSheet::startExport(QWidget* treeView, const QModelIndex& firstSelected)
{
    auto ui = std::make_shared<WidgetExportUi>(treeView);
    if (!firstSelected.isValid()) {
        ui->message(ExportUi::Icon::Information, QStringLiteral("提示"), QStringLiteral("请先选择一个播放列表"));
        return;
    }
    ExportRequest request;
    request.playlistId = firstSelected.data(Qt::UserRole).toInt();
    if (request.playlistId <= 0) {
        ui->message(ExportUi::Icon::Warning, QStringLiteral("错误"), QStringLiteral("无效的播放列表ID"));
        return;
    }
    const QString display = firstSelected.data(Qt::DisplayRole).toString();
    request.playlistName = display.isEmpty() ? QStringLiteral("未命名") : display;
    request.cleanedName = ExportNames::playlistFileName(request.playlistName);
    request.lastDir = QSettings().value(SettingsKeys::kExportLastDir, SettingsKeys::exportLastDirDefault()).toString();
    ui->showBusyOverlay();
    QTimer::singleShot(100, treeView, [ui, request] { exportExcelProgram(request, *ui); });
}

QString ProgramSheet::exportExcelProgram(const ExportRequest& request, ExportUi& ui, CueManager* cues)
{
    const QString folder = ui.chooseFolder(QStringLiteral("选择Excel节目单导出目录"), request.lastDir);
    if (folder.isEmpty())
        return {};
    QSettings().setValue(SettingsKeys::kExportLastDir, folder);

    QList<int> ids;
    if (!DatabaseManager::instance()->getPlaylistSongIds(request.playlistId, ids)) {
        ui.message(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("无法加载播放列表数据"));
        return {};
    }
    if (ids.isEmpty()) {
        ui.message(ExportUi::Icon::Information, QStringLiteral("提示"), QStringLiteral("该播放列表为空"));
        return {};
    }
    CueManager* registry = cues ? cues : CueManager::instance();
    QList<Entry> entries;
    for (int id : std::as_const(ids)) {
        Entry e;
        Cue* cue = registry->getCue(id);
        if (!cue || cue->id() < 1) {
            qWarning() << "[Export Excel] Invalid cue:" << id;
            entries.append(e);
            continue;
        }
        e.valid = true;
        e.alias = cue->alias();
        e.filePath = cue->filePath();
        e.remark = cue->remark();
        e.durationMs = cue->durationMs();
        e.loopStartMs = cue->loopStartMs();
        e.loopEndMs = cue->loopEndMs();
        e.fileExists = QFileInfo::exists(e.filePath);
        if (!e.fileExists)
            qWarning() << "[Export Excel] File not found:" << e.filePath;
        entries.append(e);
    }
    const Layout layout = build(entries);
    const QString name = ExportNames::playlistFileName(request.cleanedName);
    const QString base = QDir(folder).absoluteFilePath(name);
    const QString title = request.playlistName + QStringLiteral("节目单");

    QString written = base + QStringLiteral(".xlsx");
    if (!ExcelExporter::exportToExcel(written, title, layout.cells, layout.widths, kRowHeight)) {
        qWarning() << "[ExcelExporter] Failed to create Excel instance, falling back to CSV";
        written = base + QStringLiteral(".csv");
        if (!ExcelExporter::exportToCsv(written, layout.cells)) {
            ui.message(ExportUi::Icon::Critical, QStringLiteral("错误"), QStringLiteral("导出失败"));
            return {};
        }
    }
    const QString text = QStringLiteral("%1节目单已导出到：\n%2\n\n共导出 %3 条记录")
                             .arg(request.playlistName, written)
                             .arg(ids.size());
    if (ui.resultBox(ExportUi::Icon::Information, QStringLiteral("导出成功"), text,
                     ExportUi::ResultButtons::OpenFolderAndOk))
        ui.openFolder(folder);
    return written;
}
