#pragma once

#include "lists/GroupedPlaylistManager.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/FakePlaybackEngine.h"
#include "support/TestAudio.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <memory>

// A database in a temporary folder, a cue registry on a transport without a
// device, and the playlist tree shown on a real QTreeView.
class PlaylistTreeFixture {
public:
    QTemporaryDir dir;
    std::unique_ptr<AudioEngine> transport;
    std::unique_ptr<CueManager> cues;
    std::unique_ptr<QTreeView> tree;
    GroupedPlaylistManager* manager = nullptr;  // child of tree

    static DatabaseManager* db() { return DatabaseManager::instance(); }

    bool initDatabase() { return db()->initialize(dir.filePath("tree.db")); }

    // Empties the database and the settings and builds a fresh registry; the
    // tree is made by start() once the test has stored its playlists.
    void reset()
    {
        manager = nullptr;
        tree.reset();
        cues.reset();
        db()->execute("DROP TRIGGER IF EXISTS refuse_playlist_delete");
        for (const char* table : {"playlist_songs", "playlist_groups", "envelope_points", "pan_envelope_points",
                                  "waveform_data", "songs"})
            db()->execute(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
        QSettings().clear();
        transport = std::make_unique<AudioEngine>(new FakePlaybackEngine());
        cues = std::make_unique<CueManager>(transport.get());
    }

    bool start()
    {
        tree = std::make_unique<QTreeView>();
        tree->resize(260, 420);
        manager = new GroupedPlaylistManager(tree.get(), nullptr, tree.get(), cues.get());
        tree->show();
        return QTest::qWaitForWindowExposed(tree.get());
    }

    int newPlaylist(const QString& name, int playMode = 1, const QString& groupTag = {}, bool header = false)
    {
        PlaylistGroup group;
        group.name = name;
        group.playMode = playMode;
        group.groupTag = groupTag;
        group.isGroupHeader = header;
        int sortOrder = 0;
        db()->getNextGroupSortOrder(sortOrder);
        return db()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
    }

    QString audioFile(const QString& name)
    {
        const QString path = dir.filePath(name + ".wav");
        if (!QFile::exists(path)) {
            TestAudio::WavSpec spec;
            spec.seconds = 0.2;
            TestAudio::writeWav(path, spec);
        }
        return path;
    }

    // A stored cue in the registry, appended to the playlist.
    Cue* addCue(int playlistId, const QString& name)
    {
        Cue* cue = cues->createCue(audioFile(name));
        if (!cue)
            return nullptr;
        cue->setDuration(10000);
        cue->setLoopRange(0, 10000, true);
        cue->saveToDatabase(true);
        cues->addCueToPlaylist(cue, playlistId, -1);
        return cue;
    }

    // A stored cue that is not in memory, as an import leaves it.
    int addStoredCue(int playlistId, const QString& name)
    {
        Cue cue(-1, name, audioFile(name));
        cue.setDuration(8000);
        cue.setAlias(name + " alias");
        if (!cue.saveToDatabase(true))
            return -1;
        QList<int> ids;
        db()->getPlaylistSongIds(playlistId, ids);
        db()->insertPlaylistSong(playlistId, cue.id(), int(ids.size()));
        cue.clearDirty();
        return cue.id();
    }

    QStandardItemModel* model() const { return qobject_cast<QStandardItemModel*>(tree->model()); }

    QStringList rowNames() const
    {
        QStringList names;
        for (int row = 0; row < model()->rowCount(); ++row)
            names.append(model()->item(row)->text());
        return names;
    }
    QList<int> rowIds() const
    {
        QList<int> ids;
        for (int row = 0; row < model()->rowCount(); ++row)
            ids.append(model()->item(row)->data(GroupedPlaylistManager::PlaylistIdRole).toInt());
        return ids;
    }
    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex& index : tree->selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    QStringList storedNames() const
    {
        QList<PlaylistGroup> groups;
        db()->loadAllPlaylistGroups(groups);
        QStringList names;
        for (const PlaylistGroup& g : groups)
            names.append(g.name);
        return names;
    }
    int storedCueCount() const
    {
        QSqlQuery query = db()->execute("SELECT COUNT(*) FROM songs");
        return query.next() ? query.value(0).toInt() : -1;
    }

    QPoint rowCenter(int row) const { return tree->visualRect(model()->index(row, 0)).center(); }

    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers, rowCenter(row));
    }

    // Runs trigger, answers the first modal box it opens and returns the
    // box's title and text ("title/text"; empty when none opened).
    static QString answerMessageBox(const std::function<void()>& trigger)
    {
        QString seen;
        QTimer closer;
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->windowTitle() + "/" + box->text();
                box->close();
            }
        });
        closer.start();
        trigger();
        QTest::qWait(50);
        return seen;
    }
};
