#pragma once

#include <QPair>

class QTableView;

// The rows a table shows on screen, for work done only for what the operator
// sees.
class TablePage {
public:
    // First and last row on screen, at most maxRows of them; for a table not
    // shown yet, the page it will show first. -1, -1 for an empty table.
    static QPair<int, int> rowsOnScreen(const QTableView& table, int maxRows);
};
