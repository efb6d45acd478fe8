#pragma once

#include "model/Cue.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QScrollArea>
#include <QSet>

class CartButtonItem;
class QGridLayout;
class QTimer;

// The cart mode of the main window: the cues of the shown playlist as a grid
// of large tiles. Clicks select (single, Ctrl toggle, Shift rectangle); the
// play buttons and renames are passed on. A cue that is deleted leaves the
// grid at once. GUI thread only.
class CartWidget : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int kMinColumns = 1;
    static constexpr int kMaxColumns = 8;
    static constexpr int kMinItemHeight = 80;
    static constexpr int kMaxItemHeight = 320;

    explicit CartWidget(QWidget* parent = nullptr);

    void setCues(const QList<Cue*>& cues);
    void setColumnCount(int n);
    void setItemHeight(int h);
    void setSelectedCues(const QList<Cue*>& cues);
    void clearSelection();
    QList<Cue*> selectedCues() const;
    void setCurrentCue(Cue* cue, bool ensureVisible);
    void setPlayingCue(Cue* cue);
    void clearPlayingCue();
    void setCuePaused(Cue* cue, bool paused);
    void updateCueProgress(Cue* cue, qint64 positionMs);
    void refreshCue(Cue* cue);
    void setShowMode(bool showMode);

    int columnCount() const { return m_columnCount; }
    int itemHeight() const { return m_itemHeight; }
    QList<Cue*> cues() const;
    CartButtonItem* tileOf(Cue* cue) const { return m_tiles.value(cue, nullptr); }

Q_SIGNALS:
    void cueSelected(Cue* cue);
    void multiSelectionChanged(const QList<Cue*>& selected);
    void playRequested(Cue* cue);
    void cueNameChanged(Cue* cue, const QString& newName);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildGrid();
    void relayout();
    void onTileClicked(Cue* cue, Qt::KeyboardModifiers modifiers);
    void applySelection();
    void emitSelectionSignals();
    void onCueDestroyed(QObject* object);
    void dropDeletedCues();

    QWidget* m_container = nullptr;
    QGridLayout* m_gridLayout = nullptr;
    int m_columnCount = 4;
    int m_itemHeight = 80;
    QList<QPointer<Cue>> m_cues;
    QMap<Cue*, CartButtonItem*> m_tiles;
    QSet<Cue*> m_selection;
    int m_anchorIndex = -1;
    QPointer<Cue> m_currentCue;
    QPointer<Cue> m_playingCue;
    bool m_playingPaused = false;
    bool m_showMode = false;
    bool m_rebuilding = false;
    bool m_selectionLostCue = false;
    QTimer* m_relayoutTimer = nullptr;
    QTimer* m_pruneTimer = nullptr;
};
