#pragma once

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/FakePlaybackEngine.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// A database in a temporary folder and a cue registry on a transport
// without a device, for the import and export flows.
class ExchangeFixture {
public:
    QTemporaryDir dir;
    std::unique_ptr<AudioEngine> transport;
    std::unique_ptr<CueManager> cues;

    DatabaseManager* db() { return DatabaseManager::instance(); }

    bool initDatabase() { return db()->initialize(dir.filePath("exchange.db")); }

    // Empties the database and the settings, and makes a new registry.
    void reset()
    {
        cues.reset();
        for (const char* table : {"playlist_songs", "playlist_groups", "envelope_points", "pan_envelope_points",
                                  "waveform_data", "songs"})
            db()->execute(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
        QSettings().clear();
        transport = std::make_unique<AudioEngine>(new FakePlaybackEngine());
        cues = std::make_unique<CueManager>(transport.get());
    }

    int newPlaylist(const QString& name, int playMode = 1)
    {
        PlaylistGroup group;
        group.name = name;
        group.playMode = playMode;
        int sortOrder = 0;
        db()->getNextGroupSortOrder(sortOrder);
        return db()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
    }

    // A stored cue registered in the registry and added to the playlist.
    Cue* addCue(int playlistId, const QString& filePath, qint64 durationMs)
    {
        auto* cue = new Cue(-1, QFileInfo(filePath).completeBaseName(), filePath);
        cue->setDuration(durationMs);
        cue->setColor("#4a5a6a");
        cue->saveToDatabase(true);
        cues->registerCue(cue);
        QList<int> ids;
        db()->getPlaylistSongIds(playlistId, ids);
        db()->insertPlaylistSong(playlistId, cue->id(), int(ids.size()));
        return cue;
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString makeFolder(const QString& name) const
    {
        QDir().mkpath(dir.filePath(name));
        return dir.filePath(name);
    }
};
