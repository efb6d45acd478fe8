#pragma once

#include "model/DatabaseIntegrity.h"

#include <QString>

class DatabaseManager;
class QWidget;

// Opens the program's database at start-up and tells the operator, in a
// message box, when the file was damaged (where its copy is and what was
// rescued) or cannot be opened at all (which file, why, what to do).
class DatabaseStartup {
public:
    enum class Reason { NotADatabase, NoPermission, DiskFull, DamagedNoCopy, Other };

    // path: the database file; errorText: the manager's last error.
    static Reason classify(const QString& path, const DatabaseIntegrity::Check& check, const QString& errorText);
    static QString failureText(const QString& path, Reason reason, const QString& errorText);
    static QString recoveryText(const QString& path, const DatabaseIntegrity::Recovery& recovery);

    // initialize() with the default path (or path). False when the program
    // cannot go on; the operator has then been told why.
    static bool open(DatabaseManager* database, const QString& path = QString(), QWidget* parent = nullptr);
};
