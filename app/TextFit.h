#pragma once

#include <QString>

class QAbstractSpinBox;
class QComboBox;

// Keeps texts whole in controls whose size the form fixes.
class TextFit {
public:
    // Gives a number box of fixed width the largest font size (12 px at
    // most) at which text fits inside its frame and the line edit's margins.
    // The face is the one its sheet names ("monospace"), which fontconfig
    // picks by the interface's language.
    static void fitNumberFont(QAbstractSpinBox* box, const QString& text);

    // The width at which a drop-down list shows the longest of its items
    // whole, at its polished font and padding (horizontal padding of each
    // side and frame given); never below minimumWidth.
    static int comboWidthForItems(QComboBox* combo, int minimumWidth, int paddingPerSide);
};
