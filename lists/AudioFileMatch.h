#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>

class Cue;

// How a moved or renamed audio file is recognised as the one a cue lost: the
// same file name (exactly) and a length within kDurationToleranceMs of the
// cue's. Everything here reads files only, so the searches can run on any
// thread.
class AudioFileMatch {
public:
    static constexpr qint64 kDurationToleranceMs = 100;

    // "duration" (ms, 0 when it cannot be decoded), "fileSize", "fileName",
    // "baseName"; empty for an empty path or one that names nothing.
    static QVariantMap audioFileInfo(const QString& path);
    // What the cue's lost file looked like: its stored duration and the
    // names of its stored path.
    static QVariantMap expectedInfo(const Cue& cue);
    // Names equal when both are known, durations within the tolerance when
    // both are above 0.
    static bool matchesAudioInfo(const QVariantMap& expected, const QVariantMap& found);

    // Every regular file below folder, at any depth, named exactly fileName,
    // in the order of the walk; empty when either is empty.
    static QStringList findFilesByName(const QString& folder, const QString& fileName);
    // The home folder for an empty path; else the path's folder, or its
    // parent, when it exists; else "/".
    static QString nearestExistingDir(const QString& path);

    // The file opens as audio and its first frames decode. Opens the file
    // and decodes a fraction of a second: a few milliseconds.
    static bool decodesAudio(const QString& path);

    // One lost file to look for in a folder.
    struct Wanted {
        QString fileName;
        qint64 durationMs = 0;
    };
    struct Candidate {
        QString path;  // empty: no file of that name below the folder
        QVariantMap info;  // audioFileInfo of path
        bool accepted = false;  // it matches and decodes
    };
    // For each wanted file: the file of that name right in the folder, else
    // the one below it (one walk for all of them) whose length is nearest to
    // the wanted one (the first of the walk on a tie; files that cannot be
    // decoded only when nothing else is there). Probes only files of a wanted name.
    static QList<Candidate> searchFolder(const QString& folder, const QList<Wanted>& wanted);
};
