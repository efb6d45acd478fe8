#include "recording/AutoStopMode.h"

namespace AutoStopModes {

const QSet<QString>& mediaSessionApps()
{
    // Players and browsers that publish an MPRIS player with title and state.
    static const QSet<QString> apps{
        QStringLiteral("netease-cloud-music"), QStringLiteral("qqmusic"),  QStringLiteral("spotify"),
        QStringLiteral("rhythmbox"),           QStringLiteral("vlc"),      QStringLiteral("elisa"),
        QStringLiteral("msedge"),              QStringLiteral("chrome"),   QStringLiteral("chromium"),
        QStringLiteral("firefox"),             QStringLiteral("firefox-esr"),
    };
    return apps;
}

const QSet<QString>& silenceDetectApps()
{
    // Editors and command-line players: no MPRIS player of their own.
    // (paplay runs as "pacat"; pw-play as "pw-cat".)
    static const QSet<QString> apps{
        QStringLiteral("audacity"), QStringLiteral("ardour"), QStringLiteral("mpv"),   QStringLiteral("mplayer"),
        QStringLiteral("ffplay"),   QStringLiteral("pacat"),  QStringLiteral("aplay"), QStringLiteral("pw-cat"),
    };
    return apps;
}

AutoStopMode defaultMode(const QString& name)
{
    return silenceDetectApps().contains(name.toLower()) ? Silence : MediaSession;
}

QHash<QString, AutoStopMode> parseOverrides(const QStringList& entries)
{
    QHash<QString, AutoStopMode> overrides;
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('|'));
        if (parts.size() != 2)
            continue;
        overrides.insert(parts.at(0), parts.at(1) == QLatin1String("G") ? MediaSession : Silence);
    }
    return overrides;
}

QStringList serializeOverrides(const QHash<QString, AutoStopMode>& overrides)
{
    QStringList entries;
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        entries.append(it.key() + QLatin1Char('|') + (it.value() == MediaSession ? QLatin1Char('G') : QLatin1Char('R')));
    return entries;
}

}  // namespace AutoStopModes
