#pragma once

#include <QString>
#include <QVariant>

// Writes the settings the operator changes during a show (the main volume,
// the shown playlist and cue, the status bar's switches) on a thread of its
// own. QSettings rewrites its whole file and flushes it to disk on every
// write; while a recording, an export or a database checkpoint is writing,
// that flush waits for all of their data to reach the disk, and on the GUI
// thread it froze the window for as long. Only the latest value of each key
// waits to be written, so a slider dragged through fifty values costs one or
// two writes. Other QSettings objects of the program see a value once the
// writer's thread has taken it up, a moment after it was handed over.
class SettingsWriter {
public:
    static void write(const QString& key, const QVariant& value);
    // Writes only a value that differs from the one last handed over (or
    // the stored one, when the writer is idle). True when written.
    static bool writeIfChanged(const QString& key, const QVariant& value);
    // Waits until everything handed over is on disk: before values are read
    // back for certain, or written directly by a dialog. The application's
    // end waits for it as well. GUI thread only, as are the two above.
    static void flush();
};
