#pragma once

#include "exchange/ExcelCell.h"

#include <QList>
#include <QString>

// Writes a table of text cells as a formatted ".xlsx" workbook (a merged bold
// title over the columns, bold centred bordered headers, column widths, row
// heights, no grid lines) or as a plain CSV file. Both write under a
// temporary name and report success only once the file is really there.
class ExcelExporter {
public:
    // Spreadsheet column letters of a 1-based column: 1 A, 26 Z, 27 AA; empty below 1.
    static QString columnLetters(int column);
    // The title as a sheet name: without []:*?/\ and apostrophes at the
    // ends, at most 31 characters, "Sheet1" when nothing is left.
    static QString sheetName(const QString& title);

    // Row 0 holds the title, merged over the columns (5 without widths);
    // every row from 0 to the last cell's row gets rowHeight.
    static bool exportToExcel(const QString& path, const QString& title, const QList<ExcelCell>& cells,
                              const QList<int>& columnWidths, int rowHeight);
    // UTF-8 with a byte order mark, fields joined by ",", lines ended by CR
    // LF, rows 0 to the last cell's row; no title.
    static bool exportToCsv(const QString& path, const QList<ExcelCell>& cells);
    static QByteArray csvText(const QList<ExcelCell>& cells);
};
