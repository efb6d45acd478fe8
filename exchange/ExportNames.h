#pragma once

#include <QSet>
#include <QString>

// File and folder names built from playlist names, aliases and audio file
// names. Every name made here is a single path component: no separators, no
// "." or "..", so a write always stays inside the folder the operator chose.
class ExportNames {
public:
    // Drops < > : / \ | ? * and the double quote, and control characters.
    static QString clean(const QString& text);

    // A cleaned name that is usable as one path component; empty when
    // nothing usable is left ("." and ".." count as nothing).
    static QString component(const QString& text);

    // The playlist's file name: "未命名" for an empty display text, then
    // cleaned, "playlist" when nothing is left.
    static QString playlistFileName(const QString& displayText);

    // Name of one exported cue without extension. number is the sequence
    // number written with at least two digits.
    struct CueNaming {
        bool useSeq = false;
        bool useAlias = false;
        bool useFilename = true;
    };
    static QString cueFileName(const CueNaming& naming, int number, const QString& alias,
                               const QString& audioFilePath, int cueId);

    // name + extension, or name_1 + extension, name_2 ... : the first that is
    // neither in taken (compared case-insensitively) nor, when
    // avoidExisting, present in folder.
    static QString uniqueFileName(const QString& folder, const QString& name, const QString& extension,
                                  const QSet<QString>& taken, bool avoidExisting);

    // True when path lies inside folder (after resolving "." and "..").
    static bool isInside(const QString& folder, const QString& path);
};
