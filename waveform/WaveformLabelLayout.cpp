#include "waveform/WaveformLabelLayout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <limits>

WaveformLabelLayout::WaveformLabelLayout(const QRect& area, int gap)
    : m_area(area)
    , m_gap(gap)
{
}

void WaveformLabelLayout::reserve(const QRect& mark)
{
    if (mark.isValid())
        m_taken.append(mark);
}

QSize WaveformLabelLayout::textBox(const QFont& font, const QString& text, int paddingX, int paddingY)
{
    const QFontMetrics metrics(font);
    return QSize(metrics.horizontalAdvance(text) + 2 * paddingX, metrics.height() + 2 * paddingY);
}

bool WaveformLabelLayout::isFree(const QRect& rect) const
{
    if (!m_area.contains(rect))
        return false;
    const QRect padded = rect.adjusted(-m_gap, -m_gap, m_gap, m_gap);
    return std::none_of(m_taken.cbegin(), m_taken.cend(), [&](const QRect& taken) { return taken.intersects(padded); });
}

// From each candidate corner the label may slide: to the corner itself, to
// the edges of the view, and to just beside each rectangle taken so far, as
// far as its slack allows. The free position nearest the candidate wins.
QRect WaveformLabelLayout::placeOne(const WaveformLabel& label) const
{
    const QSize size = label.rect.size();
    QList<QPoint> candidates{label.rect.topLeft()};
    candidates += label.alternatives;
    for (const QPoint& corner : std::as_const(candidates)) {
        QList<int> xs{corner.x(), m_area.left(), m_area.right() + 1 - size.width()};
        QList<int> ys{corner.y(), m_area.top(), m_area.bottom() + 1 - size.height()};
        for (const QRect& taken : m_taken) {
            xs << taken.left() - m_gap - size.width() << taken.right() + 1 + m_gap;
            ys << taken.top() - m_gap - size.height() << taken.bottom() + 1 + m_gap;
        }
        QRect best;
        int bestDistance = std::numeric_limits<int>::max();
        for (const int x : std::as_const(xs)) {
            const int dx = std::abs(x - corner.x());
            if (dx > label.slackX)
                continue;
            for (const int y : std::as_const(ys)) {
                const int dy = std::abs(y - corner.y());
                if (dy > label.slackY || dx + dy >= bestDistance)
                    continue;
                const QRect rect(QPoint(x, y), size);
                if (isFree(rect)) {
                    best = rect;
                    bestDistance = dx + dy;
                }
            }
        }
        if (best.isValid())
            return best;
    }
    return {};
}

QList<WaveformLabel> WaveformLabelLayout::place(QList<WaveformLabel> labels)
{
    std::stable_sort(labels.begin(), labels.end(),
                     [](const WaveformLabel& a, const WaveformLabel& b) { return a.kind < b.kind; });
    QList<WaveformLabel> placed;
    for (WaveformLabel& label : labels) {
        if (label.text.isEmpty() || label.rect.isEmpty())
            continue;
        const QRect rect = placeOne(label);
        if (!rect.isValid())
            continue;
        label.rect = rect;
        m_taken.append(rect);
        placed.append(label);
    }
    return placed;
}

// The box as drawRect() draws it with a 1 px frame, made of plain rectangles:
// Qt fills those on this thread, where a framed rectangle in a translucent
// colour is handed in parts to the global thread pool and waited for.
void WaveformLabelLayout::paintBox(QPainter& painter, const QRect& box, const QColor& fill, const QColor& frame)
{
    if (box.width() < 3 || box.height() < 3) {
        painter.setPen(frame.isValid() ? QPen(frame, 1) : QPen(Qt::NoPen));
        painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setBrush(Qt::NoBrush);
        return;
    }
    if (fill.isValid())
        painter.fillRect(QRect(box.left(), box.top(), box.width() - 1, box.height() - 1), fill);
    if (frame.isValid()) {
        painter.fillRect(QRect(box.left(), box.top(), box.width(), 1), frame);
        painter.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), frame);
        painter.fillRect(QRect(box.left(), box.top() + 1, 1, box.height() - 2), frame);
        painter.fillRect(QRect(box.right(), box.top() + 1, 1, box.height() - 2), frame);
    }
}

void WaveformLabelLayout::paint(QPainter& painter, const QList<WaveformLabel>& labels)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const WaveformLabel& label : labels) {
        if (label.fill.isValid() || label.frame.isValid())
            paintBox(painter, label.rect, label.fill, label.frame);
        painter.setFont(label.font);
        painter.setPen(QPen(label.textColour, 1));
        painter.drawText(label.rect, label.alignment, label.text);
    }
    painter.restore();
}
