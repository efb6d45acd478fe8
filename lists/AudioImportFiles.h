#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Which files the cue table takes as audio, and the audio files that dropped
// or chosen URLs name, folders walked.
class AudioImportFiles {
public:
    // The suffix (after the last dot, any case) is one the table imports:
    // mp3, wav, flac, ogg, m4a, aac, wma.
    static bool isAudioFile(const QString& path);

    // The file chooser's filter: every suffix the table imports, then all
    // files.
    static QString chooserFilter();

    // For each URL in order: a local audio file; every audio file below a
    // local folder, in the order of the walk; other files are left out and,
    // when they were named directly, listed in *skipped. Anything else
    // (remote URLs, paths that do not exist) is left out silently.
    static QStringList collect(const QList<QUrl>& urls, QStringList* skipped = nullptr);

    // The URLs worth a file drop: local audio files and local folders.
    static QList<QUrl> droppable(const QList<QUrl>& urls);
};
