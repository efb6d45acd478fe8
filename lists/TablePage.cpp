#include "lists/TablePage.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

QPair<int, int> TablePage::rowsOnScreen(const QTableView& table, int maxRows)
{
    const int rows = table.model() ? table.model()->rowCount() : 0;
    if (rows == 0 || maxRows < 1)
        return {-1, -1};
    const int height = table.viewport()->height();
    const int first = std::max(table.rowAt(0), 0);
    int last = table.isVisible() ? table.rowAt(height - 1) : -1;
    if (last < 0) {
        // Not shown yet, or the rows end above the bottom: a page's worth
        // of rows of the usual height.
        const int rowHeight = std::max(table.verticalHeader()->defaultSectionSize(), 1);
        last = first + std::max(height, table.height()) / rowHeight;
    }
    return {first, std::min({last, rows - 1, first + maxRows - 1})};
}
