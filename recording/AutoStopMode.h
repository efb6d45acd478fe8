#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// How the smart end of a recording detects that the recorded track has
// ended: by the media session's playback state and title, or by the level
// staying low. Stored as "G" and "R".
enum AutoStopMode : qint32 { MediaSession = 0, Silence = 1 };

namespace AutoStopModes {

// Lower-case program names whose media session is known to be usable.
const QSet<QString>& mediaSessionApps();
// Lower-case program names of audio programs that report no usable media
// session: they default to the silence detector.
const QSet<QString>& silenceDetectApps();

// Silence for the programs of silenceDetectApps (any letter case), else
// MediaSession; devices and the whole system are looked up by their text.
AutoStopMode defaultMode(const QString& name);

// "name|G" / "name|R" entries; an entry without exactly one "|" is skipped,
// anything but "G" after it reads as Silence, a later entry of a name wins.
QHash<QString, AutoStopMode> parseOverrides(const QStringList& entries);
QStringList serializeOverrides(const QHash<QString, AutoStopMode>& overrides);

}  // namespace AutoStopModes
