#include "lists/RowDropRules.h"

#include <QSet>

#include <algorithm>

RowDropRules::Insert RowDropRules::rowDragAt(int row, int top, int bottom, int y, int rowCount)
{
    if (row < 0)
        return {rowCount, false};
    const int middle = (top + bottom) / 2;
    Insert insert;
    if (y > middle) {
        insert.row = row + 1;
        insert.above = false;
    } else {
        insert.row = row;
        insert.above = true;
    }
    insert.row = std::clamp(insert.row, 0, rowCount);
    return insert;
}

RowDropRules::FileDrop RowDropRules::fileDragAt(int row, int top, int bottom, int y, int rowCount)
{
    FileDrop drop;
    if (row < 0) {
        drop.insert = {rowCount, false};
        return drop;
    }
    const int quarter = (bottom + 1 - top) / 4;
    if (y >= top + quarter && y <= bottom - quarter) {
        drop.replace = true;
        drop.replaceRow = row;
        drop.insert.row = -1;
        return drop;
    }
    drop.insert = rowDragAt(row, top, bottom, y, rowCount);
    return drop;
}

QList<Cue*> RowDropRules::movedOrder(const QList<Cue*>& shown, const QList<Cue*>& dragged, int insertRow)
{
    const QSet<Cue*> moving(dragged.cbegin(), dragged.cend());
    QList<Cue*> staying;
    QSet<Cue*> shownMoving;
    int above = 0;
    for (int row = 0; row < shown.size(); ++row) {
        Cue* cue = shown[row];
        if (!moving.contains(cue)) {
            staying.append(cue);
        } else if (!shownMoving.contains(cue)) {
            shownMoving.insert(cue);
            if (row < insertRow)
                ++above;
        }
    }
    const int at = std::clamp(insertRow - above, 0, int(staying.size()));
    QList<Cue*> order = staying.mid(0, at);
    for (Cue* cue : dragged) {
        // Each dragged cue of the table once, in the order of the drag.
        if (shownMoving.remove(cue))
            order.append(cue);
    }
    order += staying.mid(at);
    return order;
}
