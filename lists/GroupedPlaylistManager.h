#pragma once

#include "model/Cue.h"
#include "model/PlaylistGroup.h"

#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

class CueManager;
class QAction;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QMenu;
class QMouseEvent;
class QPaintEvent;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTimer;
class QTreeView;

// The list of playlists in the main window's left panel: a flat list over a
// QTreeView, one row per stored playlist in stored order. It turns clicks into
// the current playlist (playlistSwitched), adds, renames, deletes, copies,
// pastes and reorders playlists, keeps each playlist's play mode, marks the
// playlist being played, takes cues dragged from the cue table and imports
// dropped project and M3U8 files. GUI thread only.
class GroupedPlaylistManager : public QObject {
    Q_OBJECT

public:
    static constexpr int PlaylistIdRole = Qt::UserRole;
    static constexpr int kHeaderBarHeight = 33;

    // cues: the registry (CueManager::instance() when null).
    GroupedPlaylistManager(QTreeView* tree, QComboBox* playModeCombo, QObject* parent, CueManager* cues = nullptr);
    ~GroupedPlaylistManager() override;

    QComboBox* playModeCombo() const { return m_playModeCombo; }
    void setShowMode(bool showMode);
    void refreshPlaylistTree();
    int addPlaylist(const QString& name);
    void selectPlaylist(int playlistId);
    void setPlayingPlaylistId(int playlistId);
    bool setPlaylistPlayMode(int playlistId, int mode);
    bool hasPlaylist(int playlistId) const;
    int playModeOf(int playlistId) const;
    QList<int> selectedPlaylistIds() const;
    int currentPlaylistId() const { return m_currentPlaylistId; }

    // The tree's drop: project and M3U8 files become new playlists.
    bool importDroppedFiles(QDropEvent* event);

    bool eventFilter(QObject* watched, QEvent* event) override;

public Q_SLOTS:
    // A cue drag of the cue table, reported with screen positions.
    void onExternalDragStarted();
    void onExternalDragMoved(const QPoint& globalPos);
    void onExternalDragEnded(const QPoint& globalPos, const QList<Cue*>& cues);

Q_SIGNALS:
    void playlistSwitched(int playlistId);
    void statusMessage(const QString& message, int timeout);
    void cueDroppedOnPlaylist(int playlistId, const QList<Cue*>& cues);
    void batchOperationStarted();
    void batchOperationFinished();

private Q_SLOTS:
    void onItemClicked(const QModelIndex& index);
    void onAddPlaylist();
    void onDeletePlaylist();
    void onRenamePlaylist();
    void onCopyPlaylist();
    void onPastePlaylist();
    void onExportM3U8();
    void onExportExcelProgram();
    void onExportProject();
    void showContextMenu(const QPoint& pos);
    void onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);
    void onPressed(const QModelIndex& index);

private:
    CueManager* registry() const;
    void setupTreeView();
    void setupHeaderBar();
    void buildContextMenu();
    void reloadGroups();
    static bool isShown(const PlaylistGroup& group);
    QList<int> shownOrder() const;
    const PlaylistGroup* findGroup(int playlistId) const;
    int rowOfPlaylist(int playlistId) const;
    int createPlaylist(const QString& baseName);
    bool updatePlaylistName(int playlistId, const QString& name);
    void copyPlaylistsTo(int insertRow);
    void selectRowsOf(const QList<int>& playlistIds);
    void makeCurrentRow(int row);
    QModelIndex firstSelectedIndex() const;

    // Playlist drags within the list
    void handleViewportMouseMove(QMouseEvent* event);
    void updateDropIndicator(const QPoint& viewportPos);
    void selectDraggedRows();
    void finishPlaylistDrag();
    void movePlaylistsTo(int dropRow);
    void resetPlaylistDrag();
    void paintDropIndicator(QPaintEvent* event);
    bool acceptPlaylistFileDrag(QDragEnterEvent* event);

    // Cue drags from the cue table
    int playlistIdAt(const QPoint& globalPos) const;
    QStandardItem* itemForPlaylist(int playlistId) const;
    void setItemBackground(int playlistId, const QColor* color);
    void onDropPulseTimeout();
    void stopDropPulse();

    QComboBox* m_playModeCombo = nullptr;
    QPointer<QTreeView> m_treeView;
    QStandardItemModel* m_model = nullptr;
    QPushButton* m_addButton = nullptr;
    QMenu* m_contextMenu = nullptr;
    QAction* m_addAction = nullptr;
    QAction* m_renameAction = nullptr;
    QAction* m_deleteAction = nullptr;
    QAction* m_exportM3U8Action = nullptr;
    QAction* m_exportExcelAction = nullptr;
    QAction* m_exportProjectAction = nullptr;
    QAction* m_copyAction = nullptr;
    QAction* m_pasteAction = nullptr;
    CueManager* m_cues = nullptr;
    int m_currentPlaylistId = -1;
    int m_playingPlaylistId = -1;
    int m_copiedPlaylistId = -1;
    bool m_refreshing = false;
    QList<PlaylistGroup> m_groups;

    // Playlist drag state
    bool m_dragging = false;
    QPoint m_pressGlobalPos;
    int m_pressRow = -1;
    QList<int> m_dragPlaylistIds;
    int m_dropRow = -1;
    bool m_dropAbove = false;
    QList<int> m_selectedIdsAtPress;
    bool m_copyOnDrop = false;
    // What the viewport's last left press carried, for onPressed (emitted by
    // the view while it handles that press).
    QPoint m_lastPressGlobalPos;
    Qt::KeyboardModifiers m_lastPressModifiers;

    bool m_showMode = false;

    // Cue drag and drop pulse
    bool m_externalDragActive = false;
    int m_highlightedPlaylistId = -1;
    QTimer* m_pulseTimer = nullptr;
    int m_pulseElapsedMs = 0;
    int m_pulsePlaylistId = -1;
};
