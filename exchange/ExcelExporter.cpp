#include "exchange/ExcelExporter.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QSaveFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>

namespace {

lxw_format* cellFormat(lxw_workbook* workbook, lxw_format* cache[8], const ExcelCell& cell)
{
    const int key = (cell.bold ? 1 : 0) | (cell.centered ? 2 : 0) | (cell.bordered ? 4 : 0);
    if (!cache[key]) {
        lxw_format* format = workbook_add_format(workbook);
        if (cell.bold)
            format_set_bold(format);
        format_set_font_size(format, 12);
        format_set_align(format, cell.centered ? LXW_ALIGN_CENTER : LXW_ALIGN_LEFT);
        format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
        format_set_text_wrap(format);
        if (cell.bordered)
            format_set_border(format, LXW_BORDER_THIN);
        cache[key] = format;
    }
    return cache[key];
}

}  // namespace

QString ExcelExporter::columnLetters(int column)
{
    QString letters;
    int n = column;
    while (n >= 1) {
        const int u = n - 1;
        letters.prepend(QChar(u'A' + u % 26));
        n = u / 26;
    }
    return letters;
}

QString ExcelExporter::sheetName(const QString& title)
{
    QString name;
    for (QChar c : title) {
        if (!QStringLiteral("[]:*?/\\").contains(c) && c.unicode() >= 0x20)
            name.append(c);
    }
    auto trimApostrophes = [&name] {
        while (name.startsWith(QLatin1Char('\'')))
            name.remove(0, 1);
        while (name.endsWith(QLatin1Char('\'')))
            name.chop(1);
    };
    trimApostrophes();
    // 31 characters, counted as code points, never splitting a surrogate pair.
    const QList<uint> codePoints = name.toUcs4();
    if (codePoints.size() > 31)
        name = QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()), 31);
    trimApostrophes();
    return name.isEmpty() ? QStringLiteral("Sheet1") : name;
}

bool ExcelExporter::exportToExcel(const QString& path, const QString& title, const QList<ExcelCell>& cells,
                                  const QList<int>& columnWidths, int rowHeight)
{
    // Written beside the target and renamed once complete.
    const QString temporary = QStringLiteral("%1.%2.part").arg(path).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                            QLatin1Char('0'));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    lxw_workbook* workbook = workbook_new(temporaryName.constData());
    if (!workbook) {
        qWarning() << "[ExcelExporter] Failed to create workbook:" << path;
        return false;
    }
    const QByteArray sheet = sheetName(title).toUtf8();
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.constData());
    if (!worksheet) {
        workbook_close(workbook);
        QFile::remove(temporary);
        qWarning() << "[ExcelExporter] Failed to add worksheet:" << path;
        return false;
    }

    const int columns = columnWidths.isEmpty() ? 5 : int(columnWidths.size());
    lxw_format* titleFormat = workbook_add_format(workbook);
    format_set_bold(titleFormat);
    format_set_font_size(titleFormat, 14);
    format_set_align(titleFormat, LXW_ALIGN_CENTER);
    format_set_align(titleFormat, LXW_ALIGN_VERTICAL_CENTER);
    format_set_bottom(titleFormat, LXW_BORDER_THIN);
    const QByteArray titleText = title.toUtf8();
    if (columns > 1)
        worksheet_merge_range(worksheet, 0, 0, 0, lxw_col_t(columns - 1), titleText.constData(), titleFormat);
    else
        worksheet_write_string(worksheet, 0, 0, titleText.constData(), titleFormat);

    for (int i = 0; i < columnWidths.size(); ++i)
        worksheet_set_column(worksheet, lxw_col_t(i), lxw_col_t(i), columnWidths[i], nullptr);
    worksheet_gridlines(worksheet, LXW_HIDE_ALL_GRIDLINES);

    lxw_format* formats[8] = {};
    int lastRow = 0;
    for (const ExcelCell& cell : cells) {
        if (cell.row < 0 || cell.col < 0 || cell.row >= 1048576 || cell.col >= 16384)
            continue;
        lastRow = std::max(lastRow, cell.row);
        const QByteArray text = cell.text.toUtf8();
        worksheet_write_string(worksheet, lxw_row_t(cell.row), lxw_col_t(cell.col), text.constData(),
                               cellFormat(workbook, formats, cell));
    }
    for (int row = 0; row <= lastRow; ++row)
        worksheet_set_row(worksheet, lxw_row_t(row), rowHeight, nullptr);

    const lxw_error error = workbook_close(workbook);
    if (error != LXW_NO_ERROR) {
        qWarning() << "[ExcelExporter] Failed to write workbook:" << path << lxw_strerror(error);
        QFile::remove(temporary);
        return false;
    }
    if (std::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0) {
        qWarning() << "[ExcelExporter] Failed to write workbook:" << path;
        QFile::remove(temporary);
        return false;
    }
    return true;
}

QByteArray ExcelExporter::csvText(const QList<ExcelCell>& cells)
{
    QMap<int, QMap<int, QString>> rows;
    int lastRow = 0;
    int lastCol = 0;
    for (const ExcelCell& cell : cells) {
        rows[cell.row][cell.col] = cell.text;
        lastRow = std::max(lastRow, cell.row);
        lastCol = std::max(lastCol, cell.col);
    }
    QString text;
    for (int row = 0; row <= lastRow; ++row) {
        const QMap<int, QString> fields = rows.value(row);
        for (int col = 0; col <= lastCol; ++col) {
            if (col > 0)
                text += QLatin1Char(',');
            QString field = fields.value(col);
            if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) || field.contains(QLatin1Char('\n')))
                field = QLatin1Char('"') + field.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
            text += field;
        }
        text += QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool ExcelExporter::exportToCsv(const QString& path, const QList<ExcelCell>& cells)
{
    QSaveFile file(path);
    const QByteArray text = csvText(cells);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning() << "[ExcelExporter] Failed to create CSV file:" << path;
        return false;
    }
    return true;
}
