#pragma once

#include <QString>
#include <QStringList>

// Looks at the database file before the program writes to it, and rescues
// what can be read from a damaged one. Works on SQLite's own API with a
// read-only connection, so that looking never writes into the file.
class DatabaseIntegrity {
public:
    enum class State {
        Missing,       // no file, or an empty one: SQLite makes a new database
        Healthy,       // the quick check found nothing wrong
        Damaged,       // a database whose pages are partly unreadable
        NotADatabase,  // the header is not SQLite's: nothing to rescue
        Unreadable,    // the file or its folder cannot be opened
    };

    struct Check {
        State state = State::Missing;
        QString detail;  // SQLite's message, or the first problem the check found
    };

    // A quick check (SQLite's "PRAGMA quick_check") of the file at path.
    static Check inspect(const QString& path);

    struct Recovery {
        bool replaced = false;   // path now holds the rescued database
        QString damagedCopy;     // byte copy of the damaged file (and its log)
        QString error;           // why nothing was replaced
        int tablesRead = 0;      // tables whose rows were copied
        qint64 rowsRead = 0;
        QStringList incompleteTables;  // tables with rows that could not be read
        bool nothingReadable() const { return rowsRead == 0; }
    };

    // Keeps a byte copy of the damaged file beside it (its write-ahead log
    // beside the copy), copies every row that can still be read into a new
    // file and puts that in the damaged file's place. Nothing is replaced
    // when the copy cannot be made.
    static Recovery recover(const QString& path);

    // The name of the byte copy: "<name>.damaged-<yyyyMMdd-HHmmss><.suffix>"
    // beside the file, numbered when one of that name exists.
    static QString damagedCopyPath(const QString& path);
};
