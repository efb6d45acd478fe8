#pragma once

#include "exchange/ExcelCell.h"

#include <QList>
#include <QString>

#include <functional>

class CueManager;
class ExportUi;
class QModelIndex;
class QWidget;

// The programme sheet of one playlist: its running order with number,
// programme item, audio file, the played part of the file and the remark,
// written as an ".xlsx" workbook or, when that fails, as a ".csv" file.
class ProgramSheet {
public:
    // What the sheet needs of the cue at one position of the playlist.
    struct Entry {
        bool valid = false;       // a stored cue
        bool fileExists = false;  // else its row stays empty
        QString alias;
        QString filePath;
        QString remark;
        qint64 durationMs = 0;
        qint64 loopStartMs = 0;
        qint64 loopEndMs = 0;
    };
    struct Layout {
        QList<ExcelCell> cells;
        QList<int> widths;
        bool hasRange = false;
        bool hasRemark = false;
    };

    static constexpr int kRowHeight = 30;

    // "mm:ss.hh"; minutes do not wrap at 60.
    static QString formatProgramTime(qint64 ms);
    static QString playedRange(qint64 loopStartMs, qint64 loopEndMs, qint64 durationMs);
    // Row 0 left for the title, headers in row 1, the cue at position p
    // (1-based) in row p + 1.
    static Layout build(const QList<Entry>& entries);

    // The tree's "导出Exdel节目单" action for its first selected index.
    static void startExport(QWidget* treeView, const QModelIndex& firstSelected);

    struct ExportRequest {
        int playlistId = -1;
        QString playlistName;  // the display text, "未命名" when empty
        QString cleanedName;
        QString lastDir;
    };
    // From the folder chooser to the result box; the written file's path,
    // empty when nothing was written.
    static QString exportExcelProgram(const ExportRequest& request, ExportUi& ui, CueManager* cues = nullptr);
};
