#pragma once

#include <QString>

// One cell of a sheet handed to ExcelExporter; row and column are 0-based.
struct ExcelCell {
    int row = 0;
    int col = 0;
    QString text;
    bool bold = false;
    bool centered = false;
    bool bordered = false;
};
