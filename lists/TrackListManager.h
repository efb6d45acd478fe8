#pragma once

#include "model/Cue.h"  // complete for the meta-types of the signals

#include <QItemSelection>
#include <QList>
#include <QModelIndex>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class CueManager;
class PlayingRowHighlightDelegate;
class QPushButton;
class QTableView;
class QTimer;
class SongTableModel;
class WaveformParseQueue;

// Controller of the main window's cue table: shows the cues of one playlist,
// follows the cue registry and the playing cue, turns the table's selection
// into one-cue or batch signals, keeps the playing cue's remaining time
// moving, switches the table between editing and read-only show mode, and
// gives the cues their waveform peaks through its parse queue.
//
// The widget itself is never shown; it only anchors signals and children.
class TrackListManager : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPositionIntervalMs = 100;
    // How often the files of the rows on screen are looked at again.
    static constexpr int kFileCheckIntervalMs = 2000;
    static constexpr int kHeaderButtonSize = 26;
    // Rows are fitted again this long after the columns stop changing width.
    static constexpr int kRowFitDelayMs = 50;
    static constexpr int kMaxSingleRowFits = 64;

    // A null registry means CueManager::instance().
    explicit TrackListManager(QTableView* table, QWidget* parent = nullptr, CueManager* registry = nullptr);
    ~TrackListManager() override;

    QTableView* tableView() const { return m_table; }
    SongTableModel* model() const { return m_model; }
    // What the transport is handed to have peaks parsed for a cue it plays.
    WaveformParseQueue* waveformParseQueue() const { return m_parseQueue; }

    // Playlist and table
    void loadPlaylist(int playlistId);
    void reloadCurrentPlaylist();
    void refreshTable();
    void setCues(const QList<Cue*>& cues);
    int currentPlaylistId() const { return m_currentPlaylistId; }
    QList<Cue*> cues() const { return m_cues; }
    void setShowMode(bool showMode);
    bool isShowMode() const { return m_showMode; }

    // Selection
    void selectCue(Cue* cue);
    void selectRow(int row);
    int selectedRow() const;
    QList<Cue*> selectedCues() const;
    QList<Cue*> batchCues() const { return m_batchCues; }

    // The playing cue
    void setCurrentCue(Cue* cue, bool isPlaying);
    void clearCurrentCue();
    Cue* currentCue() const { return m_currentCue; }
    void requestJumpToPlaying();

    // Edits made elsewhere
    void refreshCueRow(Cue* cue);
    void setCueLoopCount(Cue* cue, bool infinite, int count);
    void setCueAlias(Cue* cue, const QString& alias);
    void setCueRemark(Cue* cue, const QString& remark);
    void setCuePreWait(Cue* cue, int preWaitMs);
    void setCueVolumeA(Cue* cue, int volume);

    // Queries
    Cue* cueAt(int row) const;
    int rowCount() const;
    int rowOfCue(Cue* cue) const;
    QModelIndex indexOfCue(Cue* cue) const;

    // Makes every row as tall as its contents: one line, or more for a text
    // that wraps.
    void fitRowHeights();

    // Waveform peaks
    bool hasCachedWaveform(Cue* cue) const;
    QList<float> cachedWaveform(Cue* cue) const;
    void enqueueWaveformParse(Cue* cue, bool priority);
    void loadOrParseWaveform();
    void clearWaveformCache();
    void clearParseQueue();
    void stopWaveformParsing();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void cueSelected(Cue* cue);
    void jumpToPlayingRequested();
    void cueDoubleClicked(Cue* cue);
    void batchModeChanged(bool isBatch);
    void batchSelectionChanged();
    void statusMessage(QString message, int timeout = 2000);
    void itemClickPlay(QModelIndex index);
    void waveformUpdated(Cue* cue);
    void cuesImported(QList<Cue*> newCues);
    void waveformParseStatus(QString message, int timeout = 3000);
    void cueDragStarted();
    void cueDragMoved(QPoint globalPos);
    void cueDragEnded(QPoint globalPos, QList<Cue*> cues);
    void batchOperationStarted();
    void batchOperationFinished();

private Q_SLOTS:
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onDoubleClicked(const QModelIndex& index);
    void onImportFile();

private:
    void setupTable();
    void placeHeaderButtons();
    void placeHeaderButton(QPushButton* button, int xFromRight);
    void reloadModel();
    void onPositionTick();
    void onCueCreated(Cue* cue);
    void onCueRemoved(Cue* cue);
    void onCurrentCueChanged(Cue* cue);
    void onCueEdited(Cue* cue, int column);
    void recheckVisibleFiles();
    void repaintTable();
    // Fits rows first..last; every row when the default height changed.
    void fitRows(int first, int last);
    void onCellsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    QPointer<QTableView> m_table;
    SongTableModel* m_model = nullptr;
    CueManager* m_registry = nullptr;
    PlayingRowHighlightDelegate* m_delegate = nullptr;
    WaveformParseQueue* m_parseQueue = nullptr;
    int m_currentPlaylistId = -1;
    Cue* m_currentCue = nullptr;
    QList<Cue*> m_cues;
    QTimer* m_positionTimer = nullptr;
    QTimer* m_fileCheckTimer = nullptr;
    QTimer* m_rowFitTimer = nullptr;
    qint64 m_lastPositionMs = 0;
    Cue* m_lastPositionCue = nullptr;
    int m_markedRow = -1;
    int m_lastSelectionCount = 0;
    QList<Cue*> m_batchCues;
    bool m_showMode = false;
    QPushButton* m_importButton = nullptr;
    QPushButton* m_addGroupButton = nullptr;
};
