#include "lists/CueText.h"

#include "model/Cue.h"

#include <QStringList>

namespace CueText {

namespace {

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

bool isAudioExtension(const QString& suffix)
{
    static const QStringList known = {QStringLiteral("wav"), QStringLiteral("mp3"), QStringLiteral("flac"),
                                      QStringLiteral("ogg"), QStringLiteral("m4a"), QStringLiteral("aac"),
                                      QStringLiteral("wma")};
    return known.contains(suffix.toLower());
}

}  // namespace

QString stripLeadingMarks(QString text)
{
    // Each mark is taken off as often as it repeats, in this order; an earlier
    // mark is not looked for again after a later one.
    static const QString marks[] = {kMissingMark, kBadFileMark, QStringLiteral("\u26A0 "),
                                    QStringLiteral("\u25B6 "), QStringLiteral("\u25BC ")};
    for (const QString& mark : marks) {
        while (text.startsWith(mark))
            text.remove(0, mark.size());
    }
    return text;
}

QString withoutAudioExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && isAudioExtension(name.mid(dot + 1)))
        return name.left(dot);
    return name;
}

QString withoutLastExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString baseDisplayName(const Cue& cue)
{
    const QString alias = cue.alias();
    return stripLeadingMarks(alias.isEmpty() ? withoutAudioExtension(cue.name()) : alias);
}

QString shortName(const Cue& cue)
{
    const QString alias = cue.alias();
    return withoutLastExtension(alias.isEmpty() ? cue.name() : alias);
}

QString formatTime(qint64 ms)
{
    if (ms < 1)
        return QStringLiteral("00:00");
    return twoDigits(ms / 60000) + QLatin1Char(':') + twoDigits((ms / 1000) % 60);
}

QString formatTimeMs(qint64 ms)
{
    if (ms < 1)
        return QStringLiteral("00:00.00");
    const qint64 seconds = ms / 1000;
    return twoDigits(seconds / 60) + QLatin1Char(':') + twoDigits(seconds % 60) + QLatin1Char('.')
        + twoDigits((ms % 1000) / 10);
}

}  // namespace CueText
