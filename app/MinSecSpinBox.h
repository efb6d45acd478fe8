#pragma once

#include <QDoubleSpinBox>

// A time in seconds shown and typed as minutes.seconds.centiseconds
// ("01.22.50"). A dotted text is always read as minutes and seconds, a plain
// number as seconds. Typing is never refused: what cannot be read becomes 0
// when the text is taken over. Range, decimals and step are the creator's.
class MinSecSpinBox : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QValidator::State validate(QString& input, int& pos) const override;
    double valueFromText(const QString& text) const override;
    QString textFromValue(double value) const override;
};
