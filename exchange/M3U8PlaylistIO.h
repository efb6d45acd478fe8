#pragma once

#include "exchange/PlaylistImportResult.h"

#include <QString>
#include <QStringList>

#include <functional>

class CueManager;
class ExportUi;
class QModelIndex;
class QWidget;

// M3U8 lists in both directions: the playlist tree's export of a playlist
// (pointing at the cues' own files, or into a folder of its own with a
// "MUSIC" folder of exported audio) and the import of a dropped list into a
// new playlist. GUI thread; the audio of an export is rendered on a worker
// thread behind a progress dialog.
class M3U8PlaylistIO {
public:
    struct ExportRequest {
        int playlistId = -1;
        QString cleanedName;
        QString lastDir;
    };
    struct ExportSummary {
        bool written = false;
        int succeeded = 0;
        int failed = 0;
        QString m3u8Path;
    };

    // The tree's "导出通用M3U8列表" action: firstSelected is the first
    // selected index of the tree (invalid when none), holding the playlist id
    // in Qt::UserRole and the name as its display text.
    static void startExport(QWidget* treeView, const QModelIndex& firstSelected,
                            std::function<void(const QString&, int)> statusMessage);

    // From the folder chooser to the result box. cues: the registry
    // (CueManager::instance() when null).
    static ExportSummary exportM3U8(const ExportRequest& request, ExportUi& ui, CueManager* cues = nullptr);

    // Reads the list and makes a playlist of the files it names that exist:
    // read and looked up on a worker thread behind the ui's progress dialog;
    // one notice lists the lines that were skipped.
    static PlaylistImportResult importM3U8(const QString& path, ExportUi& ui, CueManager* cues = nullptr);
    // The new playlist's id, -1 when the playlist cannot be stored. One
    // transaction; with a ui, in slices of a few ms with the window's events
    // between them, and a cancel takes back what was stored (*cancelled is
    // then true and the result -1). The cues join the registry once stored.
    static int createPlaylistFromM3U8(const QString& name, const QStringList& filePaths, CueManager* cues = nullptr,
                                      ExportUi* ui = nullptr, bool* cancelled = nullptr);

    // Lists larger than this are not read.
    static constexpr qint64 kMaxFileBytes = qint64(64) * 1024 * 1024;
};
