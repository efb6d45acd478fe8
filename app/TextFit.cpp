#include "app/TextFit.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFontMetrics>

#include <algorithm>

void TextFit::fitNumberFont(QAbstractSpinBox* box, const QString& text)
{
    constexpr int kFrameAndMargins = 2 + 4;
    const int available = box->width() - kFrameAndMargins;
    QFont font(QStringLiteral("monospace"));
    int pixels = 12;
    for (; pixels > 8; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).horizontalAdvance(text) <= available)
            break;
    }
    QFont boxFont = box->font();
    boxFont.setPixelSize(pixels);
    box->setFont(boxFont);
}

int TextFit::comboWidthForItems(QComboBox* combo, int minimumWidth, int paddingPerSide)
{
    // The style sheet's font size reaches the widget when it is polished.
    combo->ensurePolished();
    const QFontMetrics metrics(combo->font());
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    // Frame of 1 px on each side and a pixel of air, so no glyph touches it.
    constexpr int kFrameAndAir = 2 * (1 + 1);
    return std::max(minimumWidth, widest + 2 * paddingPerSide + kFrameAndAir);
}
