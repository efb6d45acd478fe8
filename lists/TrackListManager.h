#pragma once

#include "lists/ImportProgressDialog.h"
#include "model/Cue.h"  // complete for the meta-types of the signals

#include <QItemSelection>
#include <QList>
#include <QModelIndex>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <memory>

class CueFileRelinker;
class CueManager;
class PlayOrderPreload;
class PlayingRowHighlightDelegate;
class QAction;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QPushButton;
class QTableView;
class QTimer;
class RowHeightFitter;
class ShownCuePeaks;
class SongTableModel;
class TrackListUi;
class WaveformParseQueue;

// Controller of the main window's cue table: shows the cues of one playlist,
// follows the cue registry and the playing cue, turns the table's selection
// into one-cue or batch signals, keeps the playing cue's remaining time
// moving, switches the table between editing and read-only show mode, and
// gives the cues their waveform peaks through its parse queue.
//
// The operator's work on the table is here too: importing files and folders
// (chosen, or dropped on the table), moving and copying rows by dragging them,
// copy, paste and delete, and pointing cues at audio files that were moved or
// replaced. Dialogs and the file manager go through a TrackListUi.
//
// The widget itself is never shown; it only anchors signals and children.
class TrackListManager : public QWidget {
    Q_OBJECT

public:
    // How often the files of the rows on screen are looked at again.
    static constexpr int kFileCheckIntervalMs = 2000;
    static constexpr int kHeaderButtonSize = 26;

    // From this many cues on, a paste shows its progress dialog.
    static constexpr int kCopyProgressThreshold = 50;
    // Pixels around the table inside which a released row drag still drops.
    static constexpr int kDragZoneMargin = 20;
    static constexpr int kChooserDelayMs = 100;
    static constexpr int kChooserWatchdogMs = 3000;
    static constexpr int kReselectDelayMs = 50;
    static constexpr int kImportEventSliceMs = 10;

    // A null registry means CueManager::instance().
    explicit TrackListManager(QTableView* table, QWidget* parent = nullptr, CueManager* registry = nullptr);
    ~TrackListManager() override;

    // Dialogs and the desktop; WidgetTrackListUi unless replaced.
    void setUi(std::unique_ptr<TrackListUi> ui);
    TrackListUi* ui() const { return m_ui.get(); }

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
    // The cues a batch edit applies to when they are chosen elsewhere (the
    // cart grid's multi-selection).
    void setBatchCues(const QList<Cue*>& cues) { m_batchCues = cues; }

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
    // that wraps. The rows on screen at once, the others in slices.
    void fitRowHeights();

    // Import of files and folders
    void importUrls(const QList<QUrl>& urls);
    void insertUrlsAt(const QList<QUrl>& urls, int row);
    void importFolder(const QString& folder);
    void importFile(const QString& path);
    QStringList collectAudioFiles(const QList<QUrl>& urls);
    bool isAudioFile(const QString& path) const;
    void handleFileDrop(QDropEvent* event);
    void fillMissingDurations();
    QString lastImportPath() const;
    void saveLastImportPath(const QString& folder);
    void showImportProgress(int total);
    void hideImportProgress();
    void showCopyProgress(int total);
    void closeCopyProgress();
    ImportProgressDialog* importProgressDialog() const { return m_importProgressDialog; }
    ImportProgressDialog* copyProgressDialog() const { return m_copyProgressDialog; }
    // An import, a paste or a folder search is running (events run meanwhile).
    bool isBusy() const;

    // Copies of cues, stored and put into a playlist before insertRow (-1 or
    // out of range: at the end). Returns how many were made.
    int pasteCues(const QList<Cue*>& cues, int playlistId, int insertRow, QList<Cue*>* created = nullptr);
    QList<Cue*> copiedCues() const;
    QMenu* contextMenu() const { return m_contextMenu; }

    // Row dragging
    void dropDraggedCues();
    void moveDraggedCuesTo(int row);
    bool isRowDragActive() const { return m_rowDragActive; }
    bool isCopyDrag() const { return m_copyDrag; }
    QList<Cue*> draggedCues() const;
    int insertRow() const { return m_insertRow; }
    bool isInsertAbove() const { return m_insertAbove; }
    bool isDropReplaceMode() const { return m_dropReplaceMode; }
    int dropReplaceRow() const { return m_dropReplaceRow; }

    // Missing files and audio replacement
    bool replaceCueFile(Cue* cue, const QString& path);
    void replaceCueAudio(Cue* cue);
    QVariantMap audioFileInfo(const QString& path) const;
    bool matchesAudioInfo(const QVariantMap& expected, const QVariantMap& found) const;
    QStringList findFilesByName(const QString& folder, const QString& fileName) const;
    QString nearestExistingDir(const QString& path) const;

    // Waveform peaks
    bool hasCachedWaveform(Cue* cue) const;
    QList<float> cachedWaveform(Cue* cue) const;
    void enqueueWaveformParse(Cue* cue, bool priority);
    // The rows on screen take their stored peaks; the other shown cues are
    // looked up in slices and queued for parsing when none are stored.
    void loadOrParseWaveform();
    void clearWaveformCache();
    void clearParseQueue();
    void stopWaveformParsing();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public Q_SLOTS:
    // Copy the selected cues; paste the copied ones into the shown playlist.
    void onCopySelected();
    void onPasteCues();

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
    void showContextMenu(const QPoint& pos);
    void onImportFile();
    void onDeleteSelected();
    void onExportSelected();
    void onOpenContainingFolder();
    void onFindMissingFiles();
    void onFindMissingFilesWithList(const QList<Cue*>& missingCues);
    void onPressed(const QModelIndex& index);
    void onReplaceAudio();
    void onDoubleClicked(const QModelIndex& index);

private:
    struct AddOutcome {
        QList<Cue*> added;
        int failed = 0;
    };

    void setupTable();
    void setupContextMenu();
    // Event filter parts
    bool filterKeyPress(QKeyEvent* event);
    bool filterViewportEvent(QEvent* event);
    void onMouseMove(QMouseEvent* event);
    void onMouseRelease(QMouseEvent* event);
    void onFileDragEnter(QDragEnterEvent* event);
    void onFileDragMove(QDragMoveEvent* event);
    void onFileDragLeave();
    bool matchesBinding(QKeyEvent* event, const char* actionId) const;
    QRect dragZone() const;
    void updateInsertIndicator(const QPoint& viewportPos);
    void paintIndicators();
    void selectAllRows();
    void selectDraggedRows();
    void resetDragState();
    // Import and paste
    QStringList audioFilesFor(const QList<QUrl>& urls);
    AddOutcome addFiles(const QStringList& files, int row);
    void refreshPlayOrder();
    void selectCues(const QList<Cue*>& cues, bool scrollToFirst);
    bool refuseWhileBusy();

    void placeHeaderButtons();
    void placeHeaderButton(QPushButton* button, int xFromRight);
    // The shown playlist's cues in their stored order, or the given ones.
    void reloadModel(const QList<Cue*>* cues = nullptr);
    void refreshTable(const QList<Cue*>* cues);
    void onCueCreated(Cue* cue);
    void onCueRemoved(Cue* cue);
    void onCurrentCueChanged(Cue* cue);
    void onCueEdited(Cue* cue, int column);
    void recheckVisibleFiles();
    void repaintTable();
    void onCellsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    QPointer<QTableView> m_table;
    SongTableModel* m_model = nullptr;
    CueManager* m_registry = nullptr;
    PlayOrderPreload* m_playOrderPreload = nullptr;
    PlayingRowHighlightDelegate* m_delegate = nullptr;
    WaveformParseQueue* m_parseQueue = nullptr;
    ShownCuePeaks* m_shownPeaks = nullptr;
    RowHeightFitter* m_rowFitter = nullptr;
    int m_currentPlaylistId = -1;
    Cue* m_currentCue = nullptr;
    QList<Cue*> m_cues;
    QTimer* m_fileCheckTimer = nullptr;
    QTimer* m_preloadTimer = nullptr;
    int m_markedRow = -1;
    int m_lastSelectionCount = 0;
    QList<Cue*> m_batchCues;
    bool m_showMode = false;
    QPushButton* m_importButton = nullptr;
    QPushButton* m_addGroupButton = nullptr;

    std::unique_ptr<TrackListUi> m_ui;
    std::unique_ptr<CueFileRelinker> m_relinker;
    QMenu* m_contextMenu = nullptr;
    QAction* m_importAction = nullptr;
    QAction* m_copyAction = nullptr;
    QAction* m_pasteAction = nullptr;
    QAction* m_replaceAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_openFolderAction = nullptr;
    QAction* m_findMissingAction = nullptr;
    QAction* m_deleteAction = nullptr;
    // Guarded: a copied cue may be deleted before the paste.
    QList<QPointer<Cue>> m_copiedCues;

    // Row drag
    bool m_dragStarted = false;
    bool m_rowDragActive = false;
    QPoint m_pressPos;
    int m_pressRow = -1;
    bool m_copyDrag = false;
    QList<QPointer<Cue>> m_draggedCues;
    QList<QPointer<Cue>> m_dragSnapshot;
    int m_dragTargetRow = -1;
    int m_insertRow = -1;
    bool m_insertAbove = false;
    // The press as the viewport saw it, for the table's pressed() that follows.
    QPoint m_lastPressGlobal;
    bool m_lastPressCtrl = false;

    // File drop
    bool m_dropReplaceMode = false;
    int m_dropReplaceRow = -1;

    QPointer<ImportProgressDialog> m_importProgressDialog;
    QPointer<ImportProgressDialog> m_copyProgressDialog;
    bool m_busy = false;
    // Cues are being added or removed in bulk: the registry's per-cue reports
    // are not worth a refresh each, the table is refreshed once at the end.
    bool m_bulkChange = false;
};
