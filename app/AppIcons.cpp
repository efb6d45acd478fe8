#include "app/AppIcons.h"

#include <QPainter>

#include <cmath>

namespace AppIcons {

namespace {

QString circleSvg(const QString& fill, const QString& opacityAttribute)
{
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"24\" height=\"24\">"
                          "<circle cx=\"12\" cy=\"12\" r=\"6\" fill=\"%1\"%2/></svg>")
        .arg(fill, opacityAttribute);
}

}  // namespace

double indicatorOpacity(double phase)
{
    return (std::sin(phase) * 0.5 + 0.5) * 0.7 + 0.3;
}

QString indicatorSvg(AudioEngine::State state, double phase)
{
    if (state == AudioEngine::Stopped)
        return circleSvg(QStringLiteral("#666666"), QString());
    const QString opacity =
        QStringLiteral(" fill-opacity=\"%1\"").arg(QString::number(indicatorOpacity(phase), 'f', 3));
    return circleSvg(state == AudioEngine::Playing ? QStringLiteral("#4da6ff") : QStringLiteral("#ff8c1a"),
                     opacity);
}

QString recordSvg(const QString& color)
{
    return QStringLiteral(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"20\" viewBox=\"0 0 24 24\">"
               "<rect x=\"2\" y=\"4\" width=\"20\" height=\"16\" rx=\"2\" fill=\"none\" stroke=\"%1\""
               " stroke-width=\"1.5\"/>"
               "<rect x=\"4.5\" y=\"7\" width=\"15\" height=\"5.5\" rx=\"1\" fill=\"none\" stroke=\"%1\""
               " stroke-width=\"1\"/>"
               "<circle cx=\"8\" cy=\"9.75\" r=\"1.8\" fill=\"none\" stroke=\"%1\" stroke-width=\"1\"/>"
               "<circle cx=\"8\" cy=\"9.75\" r=\"0.5\" fill=\"%1\"/>"
               "<circle cx=\"16\" cy=\"9.75\" r=\"1.8\" fill=\"none\" stroke=\"%1\" stroke-width=\"1\"/>"
               "<circle cx=\"16\" cy=\"9.75\" r=\"0.5\" fill=\"%1\"/>"
               "<line x1=\"5\" y1=\"15\" x2=\"19\" y2=\"15\" stroke=\"%1\" stroke-width=\"1\"/>"
               "<line x1=\"7\" y1=\"17\" x2=\"17\" y2=\"17\" stroke=\"%1\" stroke-width=\"0.8\"/>"
               "</svg>")
        .arg(color);
}

QString crossfadeSvg(bool enabled)
{
    return QStringLiteral(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\" viewBox=\"0 0 16 16\">"
               "<path d=\"M 2 14 Q 8 2 14 14\" fill=\"none\" stroke=\"%1\" stroke-width=\"1.5\""
               " stroke-linecap=\"round\"/>"
               "<path d=\"M 2 2 Q 8 14 14 2\" fill=\"none\" stroke=\"%1\" stroke-width=\"1.5\""
               " stroke-linecap=\"round\"/>"
               "</svg>")
        .arg(enabled ? QStringLiteral("#ff8c00") : QStringLiteral("#bbbbbb"));
}

QPixmap renderSvg(const QString& svg)
{
    QPixmap pixmap;
    pixmap.loadFromData(svg.toUtf8(), "SVG");
    return pixmap;
}

QPixmap modeDot(const QColor& color)
{
    QPixmap pixmap(10, 10);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(1, 1, 8, 8));
    return pixmap;
}

}  // namespace AppIcons
