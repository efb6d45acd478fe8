#pragma once

#include "exchange/PlaylistImportResult.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>

class CueManager;
class ExportUi;
class QDropEvent;
class QWidget;

// Project and M3U8 files dropped on the playlist tree: each becomes a new
// playlist, project files first, then M3U8 lists, each in drop order.
class DroppedFilesImport {
public:
    using Imported = std::function<void(const PlaylistImportResult&)>;

    struct Sorted {
        QStringList projects;
        QStringList playlists;
    };
    // Local files ending in ".crv" or ".m3u8" (any case); others are ignored.
    static Sorted sort(const QList<QUrl>& urls);

    // The tree's drop: true when the drop held a project or M3U8 file and
    // was handled (its proposed action accepted). onImported runs after each
    // successful import: the tree reloads, selects the playlist and shows
    // the status text.
    static bool importDroppedFiles(QDropEvent* event, QWidget* treeView, const Imported& onImported);
    static bool importFiles(const QList<QUrl>& urls, ExportUi& ui, const Imported& onImported,
                            CueManager* cues = nullptr);
};
