#include "app/MinSecSpinBox.h"

#include <QStringList>

#include <cmath>

QValidator::State MinSecSpinBox::validate(QString&, int&) const
{
    return QValidator::Acceptable;
}

double MinSecSpinBox::valueFromText(const QString& text) const
{
    const QString trimmed = text.trimmed();

    if (trimmed.contains(QLatin1Char('.'))) {
        const QStringList parts = trimmed.split(QLatin1Char('.'));
        if (parts.size() >= 2) {
            bool minutesOk = false;
            bool secondsOk = false;
            bool centisOk = true;
            const int minutes = parts[0].toInt(&minutesOk);
            const int seconds = parts[1].toInt(&secondsOk);
            const int centis = parts.size() >= 3 ? parts[2].toInt(&centisOk) : 0;
            // Worked out in double so that a huge minute count cannot overflow.
            if (minutesOk && secondsOk && centisOk)
                return minutes * 60.0 + seconds + centis * 0.01;
        }
    }

    bool ok = false;
    const double seconds = trimmed.toDouble(&ok);
    return ok ? seconds : 0.0;
}

QString MinSecSpinBox::textFromValue(double value) const
{
    const qint64 ms = std::llround(value * 1000.0);
    const qint64 minutes = ms / 60000;
    const qint64 seconds = (ms % 60000) / 1000;
    const qint64 centis = (ms % 1000) / 10;
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1.%2.%3")
        .arg(minutes, 2, 10, zero)
        .arg(seconds, 2, 10, zero)
        .arg(centis, 2, 10, zero);
}
