#pragma once

#include <QList>

class Cue;

// Where rows and files dragged over the cue table land: pure rules of the
// row geometry, so the mouse handling only measures and paints.
class RowDropRules {
public:
    struct Insert {
        int row = -1;  // the row the dragged items go before; the row count appends
        bool above = false;  // the line belongs to the upper edge of the row under the pointer
    };
    struct FileDrop {
        bool replace = false;  // the pointer is in the row's middle band: one file replaces its audio
        int replaceRow = -1;
        Insert insert;
    };

    // A row drag at y over row `row` spanning top..bottom (inclusive); row -1
    // for no row (below the last or an empty table). The exact middle counts
    // as the upper half.
    static Insert rowDragAt(int row, int top, int bottom, int y, int rowCount);

    // A file drag at y: the middle half of a row replaces, its upper and
    // lower quarters insert before or after it.
    static FileDrop fileDragAt(int row, int top, int bottom, int y, int rowCount);

    // The table's order after the dragged cues (in their drag order) move to
    // where the line stood before `insertRow` of `shown`.
    static QList<Cue*> movedOrder(const QList<Cue*>& shown, const QList<Cue*>& dragged, int insertRow);
};
