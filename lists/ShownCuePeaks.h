#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>

class Cue;
class CueManager;
class QTableView;
class QTimer;
class SongTableModel;
class WaveformParseQueue;

// Gives the cues of the shown playlist their waveform peaks without reading
// a whole playlist's at once on the GUI thread. The rows on screen take their
// stored peaks when they are painted (a page at a time), the selected cue when
// it is selected. The rest are only looked up, a few hundred ids per slice
// between events, so that those with no stored peaks are queued for parsing
// from their files; their stored peaks stay in the database until their row
// is shown.
class ShownCuePeaks : public QObject {
    Q_OBJECT

public:
    // Cue ids looked up per slice: a query of about a millisecond.
    static constexpr int kIdsPerSlice = 500;
    // Rows taken as being on screen at most, whatever the table's height.
    static constexpr int kMaxPageRows = 200;

    ShownCuePeaks(QTableView* table, SongTableModel* model, CueManager* registry, WaveformParseQueue* queue,
                  QObject* parent = nullptr);

    // A playlist was loaded: the rows on screen take their peaks now, the
    // others are looked up in slices.
    void setShownCues(const QList<Cue*>& cues);
    // The rows on screen take their stored peaks, or are queued for parsing.
    void loadVisibleRows();
    // First and last row on screen (or on the first page of a table not shown
    // yet); -1, -1 for an empty table.
    QPair<int, int> visibleRows() const;
    // Looked-up slices still to come, for tests.
    bool isLookingUp() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void lookUpNextSlice();

    QPointer<QTableView> m_table;
    SongTableModel* m_model = nullptr;
    CueManager* m_registry = nullptr;
    WaveformParseQueue* m_queue = nullptr;
    QTimer* m_visibleTimer = nullptr;
    QTimer* m_lookupTimer = nullptr;
    QList<int> m_lookupIds;  // shown cues not looked up yet, in table order
    qsizetype m_lookupNext = 0;
    // Cues whose stored peaks were read or looked for, or that were queued.
    QSet<int> m_seenIds;
};
