#pragma once

#include "exchange/PlaylistImportResult.h"
#include "model/PlaylistGroup.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class Cue;
class CueManager;
class ExportUi;
class ImportNotes;
struct ProjectCueEntry;
class QWidget;

// Project files (".crv"): one playlist with every cue setting and the cues'
// stored waveforms as JSON, optionally in a folder of its own beside a
// "CUESOUND" folder of copied audio; written from the playlist tree and read
// back into a new playlist. GUI thread; audio copies run on a worker thread.
class ProjectFileIO {
public:
    // The tree's "导出工程文件" action for its current playlist (-1: none).
    static void startExport(QWidget* treeView, int currentPlaylistId, const QList<PlaylistGroup>& playlists);

    struct ExportRequest {
        int playlistId = -1;
        QString playlistName;  // as the playlist is named
        bool includeAudio = false;
        QString lastDir;
        QList<PlaylistGroup> playlists;  // the tree's records, for the play mode
    };
    // From the folder chooser to the success or failure box.
    static bool runExport(const ExportRequest& request, ExportUi& ui, CueManager* cues = nullptr);

    // Writes the project into folder; warns through ui about an empty
    // playlist or unreadable data; true when the project file was written.
    // A failed export leaves nothing behind (the copies and folders it made
    // go again); failureReason then says why, in the operator's words.
    static bool exportProject(const QString& folder, const QString& playlistName, int playlistId, bool includeAudio,
                              const QList<PlaylistGroup>& playlists, ExportUi& ui, CueManager* cues = nullptr,
                              QString* failureReason = nullptr);
    // The name of the project file and folder: the playlist name as one
    // path component ("未命名播放列表" when nothing usable is left).
    static QString projectFileBaseName(const QString& playlistName);

    static QJsonObject cueToJson(const Cue* cue, int rowIndex, const QHash<QString, QString>& copiedFiles,
                                 bool includeAudio);
    // Copies each cue's audio file once into soundFolder under a free name;
    // copiedFiles maps source path to the copy's file name. False only when
    // a copy fails. With a ui the copies run on a worker thread.
    static bool copyAudioFiles(const QList<Cue*>& cues, const QString& soundFolder,
                               QHash<QString, QString>& copiedFiles, ExportUi* ui = nullptr,
                               QString* failureReason = nullptr);
    static double calculateTotalDuration(const QList<Cue*>& cues);

    // Reads a project file into a new playlist: the file is read and
    // checked on a worker thread behind the ui's progress dialog, values
    // outside the settings bar's ranges are brought into them, and one
    // notice lists what was changed or left out. cues: the registry the new
    // cues join (none: they are only stored, and read when shown).
    static PlaylistImportResult importProject(const QString& path, ExportUi& ui, CueManager* cues = nullptr);
    static int createPlaylistFromProject(const QString& name, const QJsonArray& cues, const QString& baseFolder,
                                         int playMode);
    // Stores the checked entries as a new playlist in one transaction; with
    // a ui, in slices of a few ms with the window's events between them, and
    // a cancel takes back what was stored (*cancelled is then true and the
    // result -1). With a registry, the new cues join it once stored.
    static int createPlaylistFromEntries(const QString& name, const QList<ProjectCueEntry>& entries, int playMode,
                                         ExportUi* ui, ImportNotes* notes, bool* cancelled,
                                         CueManager* cues = nullptr);
    // A new cue without parent, filled from one entry (not stored unless it
    // carries a waveform); nullptr when the entry has no usable file path.
    static Cue* cueFromJson(const QJsonObject& object, const QString& baseFolder);
    static Cue* cueFromEntry(const ProjectCueEntry& entry, ImportNotes* notes);
};
