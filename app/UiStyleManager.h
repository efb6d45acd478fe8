#pragma once

#include <QObject>

class QScrollBar;
class QTableView;
class QTreeView;
class QWidget;

// The program's one dark look: the application palette and style, and the
// styling of the main window's lists and bars. Every operation is static and
// does nothing for a null widget.
class UiStyleManager : public QObject {
    Q_OBJECT

public:
    explicit UiStyleManager(QObject* parent = nullptr);

    // Dark palette and the Fusion style for the whole application; run once,
    // before the main window builds its form.
    static void applyApplicationStyle();

    static void styleTrackTable(QTableView* table);
    static void stylePlaylistTree(QTreeView* tree);
    // Replaces the widget's style sheet with plain text colours per class.
    static void styleLabels(QWidget* widget);
    // A null argument is skipped on its own.
    static void applySizes(QWidget* cueTable, QWidget* playlistTree, QWidget* transportPanel,
                           QWidget* waveformView);
    static void styleScrollBars(QScrollBar* bar);
};
