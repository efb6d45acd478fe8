#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The text of an M3U8 playlist, without any file system access: the lines we
// write, and the paths read from a list made here or by other programs
// (with or without a byte order mark, LF or CR LF, "\" or "/" separators).
class M3U8Text {
public:
    struct Entry {
        qint64 durationMs = 0;
        QString title;
        QString location;  // "MUSIC/<name>" or a path relative to the list
    };

    // The alias, else the audio file's complete base name, without commas
    // and line breaks.
    static QString title(const QString& alias, const QString& audioFilePath);
    // UTF-8 with a byte order mark: "#EXTM3U", "#EXT-X-VERSION:3", then
    // "#EXTINF:<seconds with two decimals>,<title>" and the location per entry.
    static QByteArray write(const QList<Entry>& entries);

    struct Reading {
        bool empty = true;       // no line with any text
        bool hasHeader = false;  // the first line begins with "#EXTM3U"
        QStringList paths;       // every path line, resolved, in order
        QStringList urls;        // lines naming something other than a local file
    };
    // Lines are trimmed; empty lines and lines beginning with "#" are
    // skipped. A relative path resolves against folder.
    static Reading read(const QByteArray& bytes, const QString& folder);
    static QString resolve(const QString& line, const QString& folder);
};
