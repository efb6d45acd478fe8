#pragma once

#include "model/Cue.h"  // complete for the meta-types of the signals

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QTableView>

class FileExistenceCache;

// The cue table of one playlist: a row per cue in playlist order, six fixed
// columns. Cues are not owned (CueManager owns them); the model writes only
// the in-place edits of a name or remark back to a cue.
class SongTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        StatusColumn = 0,
        NameColumn = 1,
        PreWaitColumn = 2,
        DurationColumn = 3,
        LoopCountColumn = 4,
        RemarkColumn = 5,
        ColumnCount = 6,
    };

    enum Role {
        CueRole = Qt::UserRole + 1,
        CueIdRole = Qt::UserRole + 2,
        IsCurrentRole = Qt::UserRole + 3,
        EditableTextRole = 4096,
    };

    static constexpr const char* kRowMimeType = "application/x-cuerow";

    explicit SongTableModel(QObject* parent = nullptr);

    // Qt model interface
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    using QAbstractTableModel::removeRow;

    // Rows
    void setCueList(const QList<Cue*>& cues);
    const QList<Cue*>& cueList() const { return m_cues; }
    bool moveRow(int from, int to);
    void swapRows(int a, int b);
    void refresh();
    Cue* cueAt(int row) const;
    int rowOfCue(Cue* cue) const;
    QList<int> cueIds() const;

    // The playing (or paused) cue and where it is
    void setCurrentCue(Cue* cue, bool isPlaying);
    Cue* currentCue() const { return m_currentCue; }
    bool isPlaying() const { return m_isPlaying; }
    void setPosition(Cue* cue, qint64 positionMs);
    qint64 position() const { return m_positionMs; }

    // Range the duration column measures while a loop handle is dragged.
    void setDisplayRange(Cue* cue, qint64 startMs, qint64 endMs);
    void clearDisplayRange(Cue* cue);

    // One-cell refreshes after edits made elsewhere
    void refreshName(Cue* cue);
    void refreshPreWait(Cue* cue);
    void refreshDuration(Cue* cue);
    void refreshLoopCount(Cue* cue);
    void refreshRemark(Cue* cue);
    // One change of the cue's row from column first to column last.
    void refreshColumns(Cue* cue, int first, int last);

    // The view whose duration cell setPosition repaints directly.
    void setAttachedView(QTableView* view);

    // Texts
    QString formatTime(int ms) const;
    QString formatTimeMs(qint64 ms) const;
    QString displayName(Cue* cue) const;

    FileExistenceCache* fileExistence() const { return m_fileExistence; }

Q_SIGNALS:
    void cueListChanged();
    // The operator changed a cue's name or remark in place (column 1 or 5).
    void cueEdited(Cue* cue, int column);

private:
    QString durationText(Cue* cue) const;
    void refreshCell(Cue* cue, int column);
    void onExistenceChanged(const QStringList& paths);
    void forgetRows() const;

    QList<Cue*> m_cues;
    Cue* m_currentCue = nullptr;
    bool m_isPlaying = false;
    qint64 m_positionMs = -1;
    mutable QHash<Cue*, int> m_rowCache;
    mutable bool m_rowCacheUsable = false;
    QHash<Cue*, QPair<qint64, qint64>> m_displayRanges;
    QPointer<QTableView> m_view;
    FileExistenceCache* m_fileExistence = nullptr;
};
