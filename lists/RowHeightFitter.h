#pragma once

#include <QObject>
#include <QPointer>

class PlayingRowHighlightDelegate;
class QFontMetrics;
class QTableView;
class QTimer;
class SongTableModel;

// Makes the cue table's rows as tall as their contents: one line, or more for
// a name or remark that wraps. Qt's own sizing to contents lays out every cell
// of every row on each layout pass; here the rows on screen are fitted at
// once and the others in slices of a few milliseconds between events, so a
// playlist of any length never holds the GUI thread for long.
class RowHeightFitter : public QObject {
    Q_OBJECT

public:
    // Rows are fitted again this long after the columns stop changing width.
    static constexpr int kFitDelayMs = 50;
    // The work of one slice of rows off screen.
    static constexpr qint64 kSliceNs = 4'000'000;
    // Rows fitted at once: those on screen, at most this many.
    static constexpr int kMaxPageRows = 200;

    RowHeightFitter(QTableView* table, SongTableModel* model, PlayingRowHighlightDelegate* delegate,
                    QObject* parent = nullptr);

    // Every row: those on screen now, the rest in slices.
    void fitAll();
    // Rows first..last now (cells that changed), unless the one-line height
    // changed: then every row, as fitAll().
    void fitRows(int first, int last);
    // fitAll() once the columns or the font have settled.
    void fitAllSoon();
    // Rows off screen still waiting for their slice.
    bool isFitting() const;

private:
    // What fitting a row needs, taken once for many rows.
    struct Measure {
        int oneLine = 0;
        int margins = 0;
        int nameWidth = 0;
        int remarkWidth = 0;
    };

    Measure measure() const;
    // One line, or as tall as its wrapped text.
    void fitRow(int row, const Measure& measure, const QFontMetrics& metrics);
    void fitNextSlice();

    QPointer<QTableView> m_table;
    SongTableModel* m_model = nullptr;
    PlayingRowHighlightDelegate* m_delegate = nullptr;
    QTimer* m_delayTimer = nullptr;
    QTimer* m_sliceTimer = nullptr;
    int m_nextRow = 0;
    // The rows fitted at once by the last fitAll(), skipped by the slices.
    int m_doneFirst = -1;
    int m_doneLast = -1;
};
