#include "waveform/WaveformWidget.h"

#include <QPainter>
#include <QPaintEvent>

WaveformWidget::WaveformWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(81);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_MouseTracking);
    setFocusPolicy(Qt::StrongFocus);
}

WaveformWidget::~WaveformWidget() = default;

void WaveformWidget::paintEvent(QPaintEvent* event)
{
    // The view paints opaquely, so every pixel it owns must be drawn here.
    QPainter painter(this);
    painter.fillRect(event->rect(), m_backgroundColor);
}
