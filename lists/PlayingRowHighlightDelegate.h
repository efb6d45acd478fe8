#pragma once

#include "lists/LeftAlignDelegate.h"

#include <QFont>
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
    // Spare room a measured text keeps, for rounding in the text layout.
    static constexpr int kWrapSlack = 1;

    // A null registry means CueManager::instance().
    PlayingRowHighlightDelegate(SongTableModel* model, QObject* parent = nullptr,
                                CueManager* registry = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // A cell of one line of text in a view: the room the style takes around
    // the text, and the row height it needs (the band included).
    struct OneLine {
        int margins = 0;
        int height = 0;
    };
    OneLine oneLine(const QWidget* view) const;
    // Whether a cell of the column surely shows text on one line at the
    // given width. Times, counts and the state mark hold no place where a
    // line could break, so only the name and the remark can wrap.
    static bool fitsOnOneLine(int column, const QFontMetrics& metrics, const QString& text, int cellWidth,
                              int margins);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void paintStatusCell(QPainter* painter, const QStyleOptionViewItem& option, const QColor& cueColor) const;
    void paintProgressCell(QPainter* painter, const QStyleOptionViewItem& option) const;
    OneLine oneLineFor(const QStyleOptionViewItem& option) const;

    QPointer<SongTableModel> m_model;
    QPointer<CueManager> m_registry;
    // oneLineFor() the last font and style asked about
    mutable QFont m_oneLineFont;
    mutable const QStyle* m_oneLineStyle = nullptr;
    mutable OneLine m_oneLine;
};
