#include "waveform/WaveformTexts.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace WaveformTexts {

namespace {

constexpr int kTimeBoxWidth = 60;
constexpr int kPlayheadBoxHeight = 20;
constexpr int kLoopBoxHeight = 18;
constexpr int kHandleWidth = 18;
constexpr int kHandleHeight = 12;

const QColor kWhite(255, 255, 255);

// At least the given width, wider for a text that needs more.
int boxWidth(const QFont& font, const QString& text, int minimum)
{
    return std::max(minimum, QFontMetrics(font).horizontalAdvance(text) + 6);
}

}  // namespace

WaveformLabel tick(const QFont& font, const QColor& colour, int x, int height, const QString& text)
{
    const QFontMetrics metrics(font);
    WaveformLabel label;
    label.kind = WaveformLabel::Kind::Tick;
    label.text = text;
    // The baseline 5 px above the bottom edge, as the axis has always had it.
    label.rect = QRect(QPoint(x + 3, height - 5 - metrics.ascent()), WaveformLabelLayout::textBox(font, text));
    label.font = font;
    label.textColour = colour;
    label.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    return label;
}

WaveformLabel totalLength(const QFont& font, const QColor& colour, int width, const QString& text)
{
    const QFontMetrics metrics(font);
    const QSize size = WaveformLabelLayout::textBox(font, text);
    WaveformLabel label;
    label.kind = WaveformLabel::Kind::Total;
    label.text = text;
    // The baseline at the font's height + 5, the text ending 5 px before
    // the right edge.
    label.rect = QRect(QPoint(width - size.width() - 5, metrics.height() + 5 - metrics.ascent()), size);
    label.slackX = width;
    label.font = font;
    label.textColour = colour;
    label.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    return label;
}

static WaveformLabel loopBox(const QFont& font, float x, int height, const QString& text, bool preferLeft)
{
    const int yb = height - 12;
    const int w = QFontMetrics(font).horizontalAdvance(text) + 10;
    const int right = int(x + 5);
    const int left = int(x - 5) - w;
    const int first = preferLeft ? left : right;
    const int second = preferLeft ? right : left;
    WaveformLabel label;
    label.kind = WaveformLabel::Kind::LoopMark;
    label.text = text;
    label.rect = QRect(first, yb - 22, w, kLoopBoxHeight);
    // The other side of the line, then both sides one row higher, then the
    // bottom row beside the handle.
    const int higher = yb - 22 - kLoopBoxHeight - 2;
    label.alternatives = {QPoint(second, yb - 22), QPoint(first, higher), QPoint(second, higher),
                          QPoint(int(x + 14), height - kLoopBoxHeight), QPoint(int(x - 14) - w, height - kLoopBoxHeight)};
    label.slackX = 120;
    label.slackY = 4;
    label.font = font;
    label.textColour = kWhite;
    label.fill = QColor(0, 0, 0, 150);
    label.frame = QColor(0, 0, 0, 180);
    return label;
}

LoopMark loopStart(const QFont& font, float xs, int height, const QString& text)
{
    const int yb = height - 12;
    return {QRect(int(xs - 6), yb, kHandleWidth, kHandleHeight), loopBox(font, xs, height, text, xs > 60)};
}

LoopMark loopEnd(const QFont& font, float xe, int width, int height, const QString& text)
{
    const int yb = height - 12;
    return {QRect(int(xe - 12), yb, kHandleWidth, kHandleHeight),
            loopBox(font, xe, height, text, float(width) - xe < 60)};
}

QRect loopGrip(float xs, float xe, int height)
{
    if (xe <= xs)
        return {};
    return QRect(int((xs + xe) * 0.5f - 20), height - 6, 40, 6);
}

QList<WaveformLabel> playheadBoxes(const QFont& font, float x, float xs, float xe, int width, int height,
                                   const QString& position, const QString& remaining)
{
    Q_UNUSED(width);
    auto box = [&](const QString& text, int y, bool preferRight) {
        WaveformLabel label;
        label.kind = WaveformLabel::Kind::Playhead;
        label.text = text;
        const int w = boxWidth(font, text, kTimeBoxWidth);
        const int right = int(x + 3);
        const int left = int(x - 3) - w;
        label.rect = QRect(preferRight ? right : left, y, w, kPlayheadBoxHeight);
        label.alternatives = {QPoint(preferRight ? left : right, y)};
        // Past a loop handle beside the line, or off a fade handle or the
        // loop grip, not farther.
        label.slackX = 16;
        label.slackY = 12;
        label.font = font;
        label.textColour = kWhite;
        label.fill = QColor(0, 0, 0, 100);
        label.frame = QColor(0, 0, 0, 100);
        return label;
    };
    return {box(position, 3, x - xs < 60), box(remaining, height - 23, !(xe - x < 60))};
}

WaveformLabel fadeLength(const QFont& font, const QColor& colour, qreal x, qreal y, bool fadeIn,
                         const QString& text)
{
    const QSize size = WaveformLabelLayout::textBox(font, text, 1);
    WaveformLabel label;
    label.kind = WaveformLabel::Kind::Fade;
    label.text = text;
    const int left = fadeIn ? int(std::floor(x + 5)) : int(std::floor(x - 5)) - size.width();
    const int top = int(std::floor(y));
    label.rect = QRect(QPoint(left, top), size);
    // Below the first choice, then on the other side of the handle.
    const int other = fadeIn ? int(std::floor(x - 5)) - size.width() : int(std::floor(x + 5));
    label.alternatives = {QPoint(left, top + size.height() + 2), QPoint(other, top)};
    label.slackX = 40;
    label.slackY = 12;
    label.font = font;
    label.textColour = colour;
    label.alignment = fadeIn ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

WaveformLabel envelopeValue(const QFont& font, const QColor& colour, const QRectF& preferred, qreal pointY,
                            const QString& text)
{
    const QSize size = WaveformLabelLayout::textBox(font, text, 1);
    WaveformLabel label;
    label.kind = WaveformLabel::Kind::EnvelopePoint;
    label.text = text;
    const int centreX = int(std::floor(preferred.center().x()));
    const int top = int(std::floor(preferred.center().y())) - size.height() / 2;
    label.rect = QRect(QPoint(centreX - size.width() / 2, top), size);
    // The other side of the point: below it when the label sat above.
    const bool above = preferred.center().y() < pointY;
    const int otherTop = above ? int(std::floor(pointY)) + 6 : int(std::floor(pointY)) - 6 - size.height();
    label.alternatives = {QPoint(label.rect.left(), otherTop)};
    label.slackX = 40;
    label.slackY = 14;
    label.font = font;
    label.textColour = colour;
    return label;
}

}  // namespace WaveformTexts
