#pragma once

#include <QString>
#include <QStringList>

class QTemporaryDir;
class QTreeView;

// A show as the window benchmarks set it up and drive it: private settings
// and data for the run, a stored playlist of real files, the playlist tree
// clicked, and what the process holds meanwhile.
namespace BenchShow {

// Settings and the database go below dir, never to the user's folders;
// before the QApplication is made.
void usePrivateFolders(const QTemporaryDir& dir);

// What a bench of the main window runs in, each unless the environment says
// otherwise: the offscreen Qt platform, SDL's audio driver audioDriver (SDL's
// own choice when null), the disk driver writing to /dev/null; and private
// folders below dir. Before the QApplication is made.
void useWindowEnvironment(const QTemporaryDir& dir, const char* audioDriver = nullptr);

// A new playlist named name holding one cue per file, each durationMs long
// with its whole length as the loop region and stored peaks (the table
// needs no parse). The playlist's id, or -1 when storing failed.
int storePlaylist(const QString& name, const QStringList& files, qint64 durationMs);

// Clicks the playlist's row in the tree, as the operator shows it.
void clickTreeRow(QTreeView* tree, int playlistId);

// A number field of /proc/self/status ("VmRSS:" in kB, "Threads:"), or -1.
qint64 processStatus(const char* field);

}  // namespace BenchShow
