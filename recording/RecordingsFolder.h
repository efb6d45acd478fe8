#pragma once

#include <QDateTime>
#include <QString>

// Where recordings are saved: a "Recordings" folder beside the program when
// it can be created and written there, else "Recordings" in the user's data
// folder. New recordings get names that never replace an existing file.
class RecordingsFolder {
public:
    static QString besideProgram();
    static QString inDataFolder();

    // Creates the folder (with missing parents) and returns it; empty when
    // neither place can be written.
    static QString resolve();

    // True when folder exists or can be created, and can be written.
    static bool prepare(const QString& folder);

    // folder + "/" + word + "_" + time as "yyyy-MM-dd_HHmmss" + "." + suffix;
    // "_2", "_3", ... before the suffix while that name is taken.
    static QString uniqueFilePath(const QString& folder, const QString& word, const QDateTime& time,
                                  const QString& suffix);
};
