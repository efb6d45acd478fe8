#include "lists/PlayingRowHighlightDelegate.h"

#include "lists/CueText.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace {

const QColor kPlayedColor(60, 65, 75);
const QColor kToPlayStart(0, 120, 215, 200);
const QColor kToPlayEnd(0, 80, 180, 200);

// The cue's colour, invalid when it has none or it does not parse.
QColor colorOf(const Cue* cue)
{
    if (!cue || cue->color().isEmpty())
        return QColor();
    return QColor::fromString(cue->color());
}

void tint(QPainter* painter, const QRect& rect, QColor color)
{
    color.setAlpha(80);
    painter->save();
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->fillRect(rect, color);
    painter->restore();
}

void drawPlayTriangle(QPainter* painter, int x, int y)
{
    const QPoint points[] = {{x + 4, y}, {x + 4, y + 15}, {x + 13, y + 7}};
    painter->drawPolygon(points, 3);
}

void drawPauseBars(QPainter* painter, int x, int y)
{
    painter->drawRect(x + 3, y + 2, 3, 12);
    painter->drawRect(x + 10, y + 2, 3, 12);
}

}  // namespace

PlayingRowHighlightDelegate::PlayingRowHighlightDelegate(SongTableModel* model, QObject* parent,
                                                         CueManager* registry)
    : LeftAlignDelegate(parent)
    , m_model(model)
    , m_registry(registry ? registry : CueManager::instance())
{
}

void PlayingRowHighlightDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    LeftAlignDelegate::initStyleOption(option, index);
    // Cells painted the standard way leave a band between the rows.
    option->rect.adjust(0, kRowGap, 0, -kRowGap);
}

bool PlayingRowHighlightDelegate::fitsOnOneLine(int column, const QFontMetrics& metrics, const QString& text,
                                                int cellWidth, int margins)
{
    if (text.isEmpty() || (column != SongTableModel::NameColumn && column != SongTableModel::RemarkColumn))
        return true;
    const int room = cellWidth - margins - kWrapSlack;
    return room > 0 && !text.contains(QLatin1Char('\n')) && metrics.horizontalAdvance(text) <= room;
}

QSize PlayingRowHighlightDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // A text that surely fits on one line is measured, not laid out: rows
    // size themselves to their contents, thousands at a time. The band
    // between the rows is taken off the painted text, so the row makes room
    // for it; otherwise a wrapped text would be cut.
    const QString text = index.data(Qt::DisplayRole).toString();
    const OneLine line = oneLineFor(option);
    if (fitsOnOneLine(index.column(), option.fontMetrics, text, option.rect.width(), line.margins))
        return QSize(line.margins + option.fontMetrics.horizontalAdvance(text), line.height);
    return LeftAlignDelegate::sizeHint(option, index) + QSize(0, 2 * kRowGap);
}

PlayingRowHighlightDelegate::OneLine PlayingRowHighlightDelegate::oneLine(const QWidget* view) const
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.widget = view;
    return oneLineFor(option);
}

PlayingRowHighlightDelegate::OneLine PlayingRowHighlightDelegate::oneLineFor(const QStyleOptionViewItem& option) const
{
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    if (style != m_oneLineStyle || option.font != m_oneLineFont || m_oneLine.height == 0) {
        // Latin and CJK glyphs, so that a fallback font's taller line counts.
        static const QString sample = QStringLiteral("Ag\u4E2D");
        QStyleOptionViewItem one = option;
        one.features = QStyleOptionViewItem::HasDisplay;
        one.text = sample;
        one.icon = QIcon();
        one.decorationSize = QSize();
        const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &one, QSize(), option.widget);
        m_oneLine.margins = std::max(size.width() - option.fontMetrics.horizontalAdvance(sample), 0);
        m_oneLine.height = size.height() + 2 * kRowGap;
        m_oneLineFont = option.font;
        m_oneLineStyle = style;
    }
    return m_oneLine;
}

void PlayingRowHighlightDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const
{
    if (!m_model) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    Cue* rowCue = index.data(SongTableModel::CueRole).value<Cue*>();
    const bool isCurrent = rowCue && rowCue == m_model->currentCue();
    const QColor color = colorOf(m_model->cueAt(index.row()));
    if (color.isValid())
        tint(painter, option.rect, color);

    const int column = index.column();
    if (isCurrent && column == SongTableModel::StatusColumn) {
        paintStatusCell(painter, option, color);
    } else if (isCurrent && column == SongTableModel::DurationColumn) {
        paintProgressCell(painter, option);
        if (color.isValid())
            tint(painter, option.rect, color);
    } else {
        QStyledItemDelegate::paint(painter, option, index);
    }
}

void PlayingRowHighlightDelegate::paintStatusCell(QPainter* painter, const QStyleOptionViewItem& option,
                                                  const QColor& cueColor) const
{
    const QRect& rect = option.rect;
    painter->save();
    if (option.state & QStyle::State_Selected) {
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active)                               ? QPalette::Active
                                                                                   : QPalette::Inactive;
        painter->fillRect(rect, option.palette.brush(group, QPalette::Highlight));
    } else if (cueColor.isValid()) {
        QColor opaque = cueColor;
        opaque.setAlpha(255);
        painter->fillRect(rect, opaque);
    } else {
        painter->fillRect(rect, option.palette.base());
    }
    painter->restore();

    const bool playing = m_registry && m_registry->isPlaying();
    const bool waiting = m_registry && m_registry->audioEngine() && m_registry->audioEngine()->isPreWaitActive();
    const int top = rect.top() + (rect.height() - kIconSize) / 2;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    if (playing && waiting) {
        const int left = rect.left() + (rect.width() - (2 * kIconSize + kIconGap)) / 2;
        drawPlayTriangle(painter, left, top);
        drawPauseBars(painter, left + kIconSize + kIconGap, top);
    } else if (playing) {
        drawPlayTriangle(painter, rect.left() + (rect.width() - kIconSize) / 2, top);
    } else {
        drawPauseBars(painter, rect.left() + (rect.width() - kIconSize) / 2, top);
    }
    painter->restore();
}

void PlayingRowHighlightDelegate::paintProgressCell(QPainter* painter, const QStyleOptionViewItem& option) const
{
    const QRect& rect = option.rect;
    qint64 position = m_registry ? m_registry->getCurrentPosition() : 0;
    qint64 span = m_registry ? m_registry->getCurrentDuration() : 0;
    if (const Cue* cue = m_model->currentCue(); cue && cue->loopEndMs() > cue->loopStartMs()) {
        span = cue->loopEndMs() - cue->loopStartMs();
        position -= cue->loopStartMs();
    }
    span = std::max<qint64>(span, 0);
    const qint64 played = std::clamp<qint64>(position, 0, span);
    const double fraction = span < 1 ? 0.0 : std::clamp(double(played) / double(span), 0.0, 1.0);
    const int filled = int(rect.width() * fraction);
    const int rest = rect.width() - filled;

    if (filled > 0)
        painter->fillRect(QRect(rect.left(), rect.top(), filled, rect.height()), kPlayedColor);
    if (rest > 0) {
        QLinearGradient gradient(rect.left() + filled, 0, rect.left() + rect.width(), 0);
        gradient.setColorAt(0.0, kToPlayStart);
        gradient.setColorAt(1.0, kToPlayEnd);
        painter->fillRect(QRect(rect.left() + filled, rect.top(), rest, rect.height()), gradient);
    }

    painter->save();
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignCenter, CueText::formatTimeMs(span - played));
    painter->restore();
}
