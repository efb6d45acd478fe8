#include "waveform/EnvelopeLayerPainter.h"

#include "waveform/EnvelopeKind.h"
#include "waveform/WaveformTexts.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

QPen solidPen(const QColor& color, qreal width)
{
    return QPen(QBrush(color), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

// A small filled disc in the painter's brush, smoothed.
void drawDisc(QPainter& painter, const QRectF& bounds)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawEllipse(bounds);
    painter.setRenderHint(QPainter::Antialiasing, false);
}

}  // namespace

EnvelopeLayerPainter::EnvelopeLayerPainter(QPainter& painter, const WaveformMapping& mapping, const QFont& labelFont,
                                           bool showMode, QList<WaveformLabel>* labels, QList<QRect>* marks)
    : m_painter(painter)
    , m_mapping(mapping)
    , m_labelFont(labelFont)
    , m_showMode(showMode)
    , m_labels(labels)
    , m_marks(marks)
{
}

void EnvelopeLayerPainter::paintFades(qint64 startMs, qint64 endMs, qint64 fadeInMs, qint64 fadeOutMs)
{
    QPainter& painter = m_painter;
    const WaveformMapping& map = m_mapping;
    const QPointF p0(map.timeToX(startMs), map.gainToY(0));
    const QPointF p1(map.timeToX(std::min(startMs + fadeInMs, endMs)), map.gainToY(1));
    const QPointF p2(map.timeToX(std::max(endMs - fadeOutMs, startMs)), map.gainToY(1));
    const QPointF p3(map.timeToX(endMs), map.gainToY(0));

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 80));
    if (fadeInMs > 0)
        painter.drawPolygon(QPolygonF({QPointF(p0.x(), 0), QPointF(p1.x(), 0), p1, p0}));
    if (fadeOutMs > 0)
        painter.drawPolygon(QPolygonF({QPointF(p2.x(), 0), QPointF(p3.x(), 0), p3, p2}));

    painter.setBrush(Qt::NoBrush);
    painter.setPen(solidPen(QColor(70, 120, 200, m_showMode ? 80 : 200), 2));
    if (fadeInMs > 0)
        painter.drawLine(p0, QPointF(p1.x(), 5));
    if (fadeOutMs > 0)
        painter.drawLine(QPointF(p2.x(), 5), p3);
    if (m_showMode)
        return;

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 120, 200));
    const QRectF inHandle(p1.x() - 5, 0, 10, 10);
    const QRectF outHandle(p2.x() - 5, 0, 10, 10);
    drawDisc(painter, inHandle);
    drawDisc(painter, outHandle);
    painter.setBrush(Qt::NoBrush);
    if (m_marks)
        *m_marks << inHandle.toAlignedRect() << outHandle.toAlignedRect();
    if (!m_labels)
        return;

    const QColor colour(70, 120, 200, 220);
    const qreal ly = (map.height() - 24) * 0.3 + 3;
    *m_labels << WaveformTexts::fadeLength(
        m_labelFont, colour, p1.x(), ly, true,
        QStringLiteral("in %1s").arg(QString::number(double(fadeInMs) / 1000.0, 'f', 1)));
    *m_labels << WaveformTexts::fadeLength(
        m_labelFont, colour, p2.x(), ly, false,
        QStringLiteral("out %1s").arg(QString::number(double(fadeOutMs) / 1000.0, 'f', 1)));
}

void EnvelopeLayerPainter::paintEnvelope(const EnvelopeKind& kind, const QList<EnvelopePoint>& points, bool edited)
{
    QPainter& painter = m_painter;
    struct Screen {
        QPointF pos;
        qsizetype index;
    };
    QList<Screen> screen;
    QPolygonF line;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QPointF pos = kind.screenPos(m_mapping, points[i]);
        if (!std::isfinite(pos.x()) || !std::isfinite(pos.y()))
            continue;
        screen.append({pos, i});
        line.append(pos);
    }
    const QColor colour = kind.colour();
    if (!edited) {
        painter.setPen(solidPen(withAlpha(colour, 80), 1.5));
        painter.drawPolyline(line);
        return;
    }
    painter.setPen(solidPen(withAlpha(colour, 220), 2));
    painter.drawPolyline(line);

    // A label goes below a point in the upper half of the band, above one in
    // the lower half.
    const float middle = kind.valueToY(m_mapping, kind.middleValue());
    if (kind.hasCentreLine()) {
        painter.setPen(QPen(QBrush(withAlpha(colour, 100)), 1, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawLine(QPointF(0, int(middle)), QPointF(m_mapping.width(), int(middle)));
    }

    const qsizetype last = points.size() - 1;
    const int labelWidth = kind.labelWidth();
    for (const Screen& point : std::as_const(screen)) {
        const qreal x = point.pos.x();
        const qreal y = point.pos.y();
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        const QRectF disc(x - 4, y - 4, 8, 8);
        drawDisc(painter, disc);
        painter.setBrush(Qt::NoBrush);
        if (m_marks)
            *m_marks << disc.toAlignedRect();
        if (!m_labels)
            continue;
        const qreal ly = y >= middle ? y - 20 : y + 10;
        const qreal lx = point.index == 0 ? x + 2 : (point.index == last ? x - (labelWidth + 2) : x - labelWidth / 2);
        *m_labels << WaveformTexts::envelopeValue(m_labelFont, kind.labelColour(), QRectF(lx, ly, labelWidth, 14), y,
                                                  kind.label(points[point.index].value));
    }
}
