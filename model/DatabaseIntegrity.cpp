#include "model/DatabaseIntegrity.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <limits>

namespace {

// A read-only connection: opening, checking and reading never write into the
// file (a read-only connection also never copies the write-ahead log back).
sqlite3* openReadOnly(const QString& path, QString* error)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    int rc = SQLITE_OK;
    Statement(sqlite3* db, const QByteArray& sql) { rc = sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr); }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

bool isDamageCode(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

QByteArray quoted(const QByteArray& name)
{
    QByteArray copy = name;
    copy.replace('"', "\"\"");
    return '"' + copy + '"';
}

struct TableCopy {
    qint64 rows = 0;
    bool incomplete = false;
};

// Copies the rows of one table in rowid order. A read that meets a damaged
// page starts again further on, leaping ever further, so that rows after a
// damaged stretch are still found.
TableCopy copyRows(sqlite3* from, sqlite3* to, const QByteArray& table, const QList<QByteArray>& columns)
{
    TableCopy copy;
    QByteArray columnList;
    QByteArray placeholders;
    for (const QByteArray& column : columns) {
        if (!columnList.isEmpty()) {
            columnList += ", ";
            placeholders += ", ";
        }
        columnList += quoted(column);
        placeholders += '?';
    }
    Statement insert(to, "INSERT OR IGNORE INTO " + quoted(table) + " (" + columnList + ") VALUES (" + placeholders
                             + ")");
    if (insert.rc != SQLITE_OK) {
        copy.incomplete = true;
        return copy;
    }
    const QByteArray select =
        "SELECT rowid, " + columnList + " FROM " + quoted(table) + " WHERE rowid > ? ORDER BY rowid";

    sqlite3_int64 after = std::numeric_limits<sqlite3_int64>::min();
    int leap = 0;  // the next leap past a damaged page is 2^leap rowids
    while (true) {
        Statement read(from, select);
        if (read.rc != SQLITE_OK) {
            copy.incomplete = true;
            return copy;
        }
        sqlite3_bind_int64(read.stmt, 1, after);
        int rc = SQLITE_OK;
        bool progressed = false;
        while ((rc = sqlite3_step(read.stmt)) == SQLITE_ROW) {
            const sqlite3_int64 rowid = sqlite3_column_int64(read.stmt, 0);
            // A damaged page can hand out rowids out of order. Going back
            // with them would read the same stretch again, for ever.
            if (rowid <= after) {
                rc = SQLITE_CORRUPT;
                break;
            }
            progressed = true;
            after = rowid;
            for (int i = 0; i < columns.size(); ++i)
                sqlite3_bind_value(insert.stmt, i + 1, sqlite3_column_value(read.stmt, i + 1));
            if (sqlite3_step(insert.stmt) == SQLITE_DONE)
                ++copy.rows;
            else
                copy.incomplete = true;
            sqlite3_reset(insert.stmt);
            sqlite3_clear_bindings(insert.stmt);
        }
        if (rc == SQLITE_DONE)
            return copy;
        copy.incomplete = true;
        if (!isDamageCode(rc) && rc != SQLITE_IOERR)
            return copy;
        if (progressed)
            leap = 0;
        if (after == std::numeric_limits<sqlite3_int64>::min())
            after = 0;  // rowids of our tables start at 1
        if (leap > 40)
            return copy;
        const sqlite3_int64 step = sqlite3_int64(1) << leap;
        if (after > std::numeric_limits<sqlite3_int64>::max() - step)
            return copy;
        after += step;
        ++leap;
    }
}

bool copyFile(const QString& from, const QString& to, QString* error)
{
    QFile source(from);
    if (!QFile::copy(from, to)) {
        *error = QStringLiteral("%1 -> %2: %3").arg(from, to, source.errorString());
        return false;
    }
    if (QFileInfo(to).size() != source.size()) {
        *error = QStringLiteral("%1 -> %2: incomplete copy").arg(from, to);
        QFile::remove(to);
        return false;
    }
    return true;
}

void removeDatabaseFiles(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    QFile::remove(path + QStringLiteral("-journal"));
}

}  // namespace

DatabaseIntegrity::Check DatabaseIntegrity::inspect(const QString& path)
{
    Check check;
    const QFileInfo info(path);
    if (!info.exists() || (info.isFile() && info.size() == 0)) {
        check.state = State::Missing;
        return check;
    }
    if (!info.isFile() || !info.isReadable()) {
        check.state = State::Unreadable;
        check.detail = info.isFile() ? QStringLiteral("permission denied") : QStringLiteral("not a file");
        return check;
    }
    sqlite3* db = openReadOnly(path, &check.detail);
    if (!db) {
        check.state = State::Unreadable;
        return check;
    }
    {
        Statement quick(db, "PRAGMA quick_check");
        int rc = quick.rc;
        QString firstProblem;
        if (rc == SQLITE_OK) {
            while ((rc = sqlite3_step(quick.stmt)) == SQLITE_ROW) {
                const QString line = QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(quick.stmt, 0)));
                if (line != QLatin1String("ok") && firstProblem.isEmpty())
                    firstProblem = line;
            }
        }
        if ((rc & 0xff) == SQLITE_NOTADB) {
            check.state = State::NotADatabase;
            check.detail = QString::fromUtf8(sqlite3_errmsg(db));
        } else if (rc != SQLITE_DONE && rc != SQLITE_OK) {
            check.state = isDamageCode(rc) ? State::Damaged : State::Unreadable;
            check.detail = QString::fromUtf8(sqlite3_errmsg(db));
        } else if (!firstProblem.isEmpty()) {
            check.state = State::Damaged;
            check.detail = firstProblem;
        } else {
            check.state = State::Healthy;
        }
    }
    sqlite3_close(db);
    return check;
}

QString DatabaseIntegrity::damagedCopyPath(const QString& path)
{
    const QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".damaged-")
        + stamp;
    QString candidate = base + suffix;
    for (int n = 1; QFileInfo::exists(candidate) || QFileInfo::exists(candidate + QStringLiteral("-wal")); ++n)
        candidate = base + QStringLiteral("_%1").arg(n) + suffix;
    return candidate;
}

DatabaseIntegrity::Recovery DatabaseIntegrity::recover(const QString& path)
{
    Recovery recovery;

    // 1. The byte copy, before anything else touches the file.
    const QString copyPath = damagedCopyPath(path);
    if (!copyFile(path, copyPath, &recovery.error))
        return recovery;
    const QString wal = path + QStringLiteral("-wal");
    if (QFileInfo::exists(wal) && !copyFile(wal, copyPath + QStringLiteral("-wal"), &recovery.error)) {
        QFile::remove(copyPath);
        return recovery;
    }
    recovery.damagedCopy = copyPath;

    // 2. Every row that can be read, into a new file.
    const QString rescuePath = path + QStringLiteral(".rescue");
    removeDatabaseFiles(rescuePath);
    sqlite3* to = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(rescuePath).constData(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr)
        != SQLITE_OK) {
        recovery.error = to ? QString::fromUtf8(sqlite3_errmsg(to)) : QStringLiteral("cannot create %1").arg(rescuePath);
        sqlite3_close(to);
        return recovery;
    }
    sqlite3_exec(to, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);

    QString openError;
    sqlite3* from = openReadOnly(path, &openError);
    if (from) {
        QList<QPair<QByteArray, QByteArray>> tables;
        {
            Statement schema(from, "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND sql IS NOT NULL "
                                   "AND name NOT LIKE 'sqlite_%'");
            if (schema.rc == SQLITE_OK) {
                while (sqlite3_step(schema.stmt) == SQLITE_ROW)
                    tables.append({QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(schema.stmt, 0))),
                                   QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(schema.stmt, 1)))});
            }
        }
        for (const auto& [table, sql] : tables) {
            QList<QByteArray> columns;
            {
                Statement info(from, "PRAGMA table_info(" + quoted(table) + ")");
                if (info.rc == SQLITE_OK) {
                    while (sqlite3_step(info.stmt) == SQLITE_ROW)
                        columns.append(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(info.stmt, 1))));
                }
            }
            if (columns.isEmpty() || sqlite3_exec(to, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                recovery.incompleteTables.append(QString::fromUtf8(table));
                continue;
            }
            const TableCopy copy = copyRows(from, to, table, columns);
            ++recovery.tablesRead;
            recovery.rowsRead += copy.rows;
            if (copy.incomplete)
                recovery.incompleteTables.append(QString::fromUtf8(table));
        }
        sqlite3_close(from);
    }
    const bool committed = sqlite3_exec(to, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(to);
    if (!committed) {
        recovery.error = QStringLiteral("cannot write %1").arg(rescuePath);
        removeDatabaseFiles(rescuePath);
        return recovery;
    }

    // 3. The rescued file takes the damaged one's place; the copy keeps it.
    removeDatabaseFiles(path);
    if (!QFile::rename(rescuePath, path)) {
        recovery.error = QStringLiteral("cannot move %1 to %2").arg(rescuePath, path);
        return recovery;
    }
    recovery.replaced = true;
    qWarning().noquote() << "[DB FIX] Damaged database kept as" << copyPath << "- rescued" << recovery.rowsRead
                         << "rows of" << recovery.tablesRead << "tables"
                         << (recovery.incompleteTables.isEmpty()
                                 ? QString()
                                 : "(unreadable rows in " + recovery.incompleteTables.join(", ") + ")");
    return recovery;
}
