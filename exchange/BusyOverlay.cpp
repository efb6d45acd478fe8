#include "exchange/BusyOverlay.h"

#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

BusyOverlay::BusyOverlay(QWidget* parent, const QString& text)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(200, 80);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(20, 20, 20, 179));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(5);
    layout->setContentsMargins(15, 10, 15, 10);
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 0.7); font-size: 13px;"));
    layout->addWidget(label);
    m_bar = new QLabel(this);
    m_bar->setAlignment(Qt::AlignCenter);
    m_bar->setFixedHeight(4);
    m_bar->setMinimumWidth(150);
    m_bar->setPixmap(breathingBarPixmap(0.3));
    layout->addWidget(m_bar);

    m_timer = new QTimer(this);
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, &BusyOverlay::onAnimationTick);
    m_timer->start();
}

void BusyOverlay::onAnimationTick()
{
    const double opacity = 0.65 + 0.35 * std::sin(m_phase);
    m_phase += 0.1;
    if (m_phase > 2.0 * M_PI)
        m_phase -= 2.0 * M_PI;
    m_bar->setPixmap(breathingBarPixmap(opacity));
}

QPixmap BusyOverlay::breathingBarPixmap(double opacity)
{
    const QString o = QString::number(opacity, 'g');
    const QString svg = QStringLiteral(
        "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='4' viewBox='0 0 200 4'>"
        "<defs>"
        "<linearGradient id='breathingGradient' x1='0%' y1='0%' x2='100%' y2='0%'>"
        "<stop offset='0%' stop-color='#1a4d8f' stop-opacity='%1'/>"
        "<stop offset='25%' stop-color='#2980e6' stop-opacity='%1'/>"
        "<stop offset='50%' stop-color='#4da6ff' stop-opacity='%1'/>"
        "<stop offset='75%' stop-color='#2980e6' stop-opacity='%1'/>"
        "<stop offset='100%' stop-color='#1a4d8f' stop-opacity='%1'/>"
        "</linearGradient>"
        "<filter id='glow'><feGaussianBlur stdDeviation='1.5' result='blur'/>"
        "<feMerge><feMergeNode in='blur'/><feMergeNode in='SourceGraphic'/></feMerge></filter>"
        "</defs>"
        "<rect x='0' y='0' width='200' height='4' rx='2' fill='#2a2a2a' opacity='0.5'/>"
        "<ellipse cx='100' cy='2' rx='80' ry='2' fill='url(#breathingGradient)' filter='url(#glow)'/>"
        "</svg>").arg(o);
    QSvgRenderer renderer(svg.toUtf8());
    QImage image(200, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return QPixmap::fromImage(image).scaled(200, 4, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
