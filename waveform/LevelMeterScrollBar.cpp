#include "waveform/LevelMeterScrollBar.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

int trackRange(const QScrollBar* bar)
{
    const int range = bar->maximum() - bar->minimum();
    return range < 1 ? 1 : range;
}

}  // namespace

LevelMeterScrollBar::LevelMeterScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
    , m_decayTimer(new QTimer(this))
{
    // Ticks only while there is something to show: an idle window would
    // otherwise wake twenty times a second to redraw nothing.
    m_decayTimer->setInterval(kDecayIntervalMs);
    connect(m_decayTimer, &QTimer::timeout, this, &LevelMeterScrollBar::onDecayTimer);
}

void LevelMeterScrollBar::setLevel(float amplitude)
{
    if (amplitude > 1.0f) {
        m_level = 1.0f;
    } else if (amplitude > 0.0f && amplitude >= 0.0001f) {
        const float scaled = (20.0f * std::log10(amplitude) + 60.0f) / 60.0f;
        m_level = scaled > 1.0f ? 1.0f : (scaled > 0.0f ? scaled : 0.0f);
    } else {
        m_level = 0.0f;  // silence, below -80 dB, negative or NaN
    }
    if (m_level > 0.0f && !m_decayTimer->isActive())
        m_decayTimer->start();
}

void LevelMeterScrollBar::setActive(bool active)
{
    m_active = active;
    if (!active) {
        m_level = 0.0f;
        m_displayLevel = 0.0f;
        m_peakLevel = 0.0f;
        m_peakHoldTicks = 0;
        m_decayTimer->stop();
    }
    update();
}

QColor LevelMeterScrollBar::levelColor(float level)
{
    if (level < 0.7f)
        return QColor("#4CAF50");
    if (level < 0.9f)
        return QColor("#FF9800");
    return QColor("#F44336");
}

void LevelMeterScrollBar::onDecayTimer()
{
    const float oldDisplay = m_displayLevel;
    const float oldPeak = m_peakLevel;
    // A level that holds steady keeps the bar standing; only a lower one lets
    // it fall.
    if (m_level >= oldDisplay) {
        m_displayLevel = m_level;
    } else {
        m_displayLevel = 0.9f * oldDisplay;
        if (m_displayLevel < 0.01f)
            m_displayLevel = 0.0f;
    }
    if (m_level >= oldPeak) {
        m_peakLevel = m_level;
        m_peakHoldTicks = kPeakHoldTicks;
    } else if (m_peakHoldTicks >= 1) {
        --m_peakHoldTicks;
    } else {
        m_peakLevel = 0.95f * oldPeak;
        if (m_peakLevel < 0.01f)
            m_peakLevel = 0.0f;
    }
    if (m_displayLevel != oldDisplay || m_peakLevel != oldPeak)
        update();
    if (m_level == 0.0f && m_displayLevel == 0.0f && m_peakLevel == 0.0f)
        m_decayTimer->stop();
}

int LevelMeterScrollBar::handleX() const
{
    const int usable = width() - kHandleWidth;
    return int(float(usable) * float(value() - minimum()) / float(trackRange(this)));
}

int LevelMeterScrollBar::valueAt(int pointerX, int grabOffset) const
{
    const int usable = std::max(width() - kHandleWidth, 1);
    const int v = minimum() + int(float(trackRange(this)) * float(pointerX - grabOffset) / float(usable));
    return std::clamp(v, minimum(), maximum());
}

void LevelMeterScrollBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const int w = width();
    const int h = height();
    const qreal radius = h / 2;

    QPainterPath pill;
    pill.addRoundedRect(QRectF(0, 0, w, h), radius, radius);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#444444"));
    painter.drawPath(pill);

    if (m_active && m_displayLevel > 0.01f) {
        painter.setClipPath(pill);
        QLinearGradient meter(0, 0, w, 0);
        meter.setColorAt(0.0, QColor("#4CAF50"));
        meter.setColorAt(0.7, QColor("#4CAF50"));
        meter.setColorAt(0.8, QColor("#FF9800"));
        meter.setColorAt(0.9, QColor("#FF9800"));
        meter.setColorAt(0.95, QColor("#F44336"));
        meter.setColorAt(1.0, QColor("#F44336"));
        painter.setBrush(meter);
        painter.drawRect(QRect(0, 0, int(m_displayLevel * float(w)), h));
        if (m_peakLevel > m_displayLevel + 0.02f) {
            painter.setPen(QPen(QBrush(QColor(255, 255, 255, 180)), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            const int x = int(m_peakLevel * float(w));
            painter.drawLine(x, 1, x, h - 2);
        }
        painter.setClipping(false);
    }

    const int x = handleX();
    QLinearGradient handle(x, 0, x, h);
    handle.setColorAt(0.0, QColor("#64B5F6"));
    handle.setColorAt(0.5, QColor("#2196F3"));
    handle.setColorAt(1.0, QColor("#1565C0"));
    painter.setPen(QPen(QBrush(QColor("#0D47A1")), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(handle);
    painter.drawRoundedRect(QRectF(x, 0, kHandleWidth, h), radius, radius);
}

void LevelMeterScrollBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QScrollBar::mousePressEvent(event);
        return;
    }
    const int pointer = int(event->position().x());
    const int x = handleX();
    m_dragging = true;
    if (pointer >= x && pointer <= x + kHandleWidth - 1) {
        m_dragOffset = pointer - x;
    } else {
        m_dragOffset = kHandleWidth / 2;
        setValue(valueAt(pointer, m_dragOffset));
    }
    event->accept();
}

void LevelMeterScrollBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging) {
        event->ignore();
        return;
    }
    setValue(valueAt(int(event->position().x()), m_dragOffset));
    event->accept();
}

void LevelMeterScrollBar::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QScrollBar::mouseReleaseEvent(event);
}
