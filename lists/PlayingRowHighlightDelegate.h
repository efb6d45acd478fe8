#pragma once

#include "lists/LeftAlignDelegate.h"

#include <QPointer>

class CueManager;
class SongTableModel;

// The cue table's delegate on every column: tints each row with its cue's
// colour, draws the current cue's state as an icon in the status column and
// turns its duration cell into a progress bar with the remaining time. The
// state and position come straight from the cue registry, so a repaint of
// the current row always shows the engine's latest position.
class PlayingRowHighlightDelegate : public LeftAlignDelegate {
public:
    static constexpr int kIconSize = 16;
    static constexpr int kIconGap = 4;
    static constexpr int kRowGap = 4;  // taken off the top and the bottom of a cell

    // A null registry means CueManager::instance().
    PlayingRowHighlightDelegate(SongTableModel* model, QObject* parent = nullptr,
                                CueManager* registry = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void paintStatusCell(QPainter* painter, const QStyleOptionViewItem& option, const QColor& cueColor) const;
    void paintProgressCell(QPainter* painter, const QStyleOptionViewItem& option) const;

    QPointer<SongTableModel> m_model;
    QPointer<CueManager> m_registry;
};
