#pragma once

#include <QString>
#include <QtGlobal>

class Cue;

// The texts the cue table shows for a cue: its display name with the status
// mark in front, and its times.
namespace CueText {

// Status marks put in front of a name.
inline const QString kMissingMark = QStringLiteral("\u274C ");        // "❌ "
inline const QString kBadFileMark = QStringLiteral("\u26A0\uFE0F ");  // "⚠️ "

// Takes off the marks that a shown or typed name may start with, so that a
// mark never ends up inside an alias.
QString stripLeadingMarks(QString text);

// "song.MP3" -> "song"; only the audio extensions the program imports are
// cut, so "01. Intro" stays whole.
QString withoutAudioExtension(const QString& name);

// Cuts whatever follows the last dot, unless the dot comes first.
QString withoutLastExtension(const QString& name);

// The name a cue shows without its status mark: its alias, else its name
// without an audio extension, marks stripped.
QString baseDisplayName(const Cue& cue);

// The name a status line uses: alias or name, last extension cut.
QString shortName(const Cue& cue);

// "mm:ss" and "mm:ss.hh"; below 1 ms both show zero.
QString formatTime(qint64 ms);
QString formatTimeMs(qint64 ms);

}  // namespace CueText
