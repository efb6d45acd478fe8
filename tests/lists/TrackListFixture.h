#pragma once

#include "ScriptedTrackListUi.h"
#include "lists/SongTableModel.h"
#include "lists/TrackListManager.h"
#include "lists/WaveformParseJob.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/CueManager.h"
#include "playback/TransportFixture.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

// A track list over a real table, a cue registry on a scripted transport,
// stored playlists of cues on placeholder files, and a parse function that
// answers at once (or holds every parse while `holdParses` is set).
class TrackListFixture {
public:
    TransportFixture transport;
    std::unique_ptr<CueManager> registry;
    std::unique_ptr<QTableView> table;
    std::unique_ptr<TrackListManager> trackList;
    ScriptedTrackListUi* ui = nullptr;  // owned by the track list
    std::shared_ptr<std::atomic<bool>> holdParses = std::make_shared<std::atomic<bool>>(false);

    bool initDatabase() { return TransportFixture::initDatabase(transport.dir); }

    void setUp()
    {
        DatabaseManager* db = DatabaseManager::instance();
        for (const char* name : {"playlist_songs", "playlist_groups", "envelope_points", "pan_envelope_points",
                                 "waveform_data", "songs"})
            db->execute(QStringLiteral("DELETE FROM %1").arg(QLatin1String(name)));
        transport.reset();
        registry = std::make_unique<CueManager>(transport.transport.get());
        table = std::make_unique<QTableView>();
        table->resize(900, 400);
        trackList = std::make_unique<TrackListManager>(table.get(), nullptr, registry.get());
        auto scripted = std::make_unique<ScriptedTrackListUi>();
        ui = scripted.get();
        trackList->setUi(std::move(scripted));
        holdParses->store(false);
        trackList->waveformParseQueue()->setParseFunction(
            [hold = holdParses](const QString&, WaveformParseJob& job) -> WaveformParser::Result {
                while (hold->load() && !job.isCancelled())
                    QThread::msleep(2);
                if (job.isCancelled())
                    return {};
                return {QList<float>(2000, 0.5f), 0};
            });
    }

    void tearDown()
    {
        holdParses->store(false);
        ui = nullptr;
        trackList.reset();
        table.reset();
        registry.reset();
    }

    int newPlaylist(const QString& name = QStringLiteral("list"))
    {
        PlaylistGroup group;
        group.name = name;
        int sortOrder = 0;
        DatabaseManager::instance()->getNextGroupSortOrder(sortOrder);
        return DatabaseManager::instance()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
    }

    QString placeholder(const QString& fileName) { return transport.placeholder(fileName); }

    // A registered, stored cue at the end of the playlist.
    Cue* addCue(int playlistId, const QString& fileName, qint64 durationMs = 90000)
    {
        Cue* cue = registry->createCue(placeholder(fileName));
        if (!cue)
            return nullptr;
        cue->setDuration(durationMs);
        cue->saveToDatabase(false);
        registry->addCueToPlaylist(cue, playlistId, registry->getPlaylistCueIds(playlistId).size());
        return cue;
    }

    // count cues "c0.wav", "c1.wav", … at the end of the playlist; nullptr
    // entries for the ones that could not be stored.
    QList<Cue*> addCues(int playlistId, int count)
    {
        QList<Cue*> cues;
        for (int i = 0; i < count; ++i)
            cues.append(addCue(playlistId, QStringLiteral("c%1.wav").arg(i)));
        return cues;
    }

    // Shows the table and waits until it is on screen.
    bool showTable()
    {
        table->show();
        return QTest::qWaitForWindowExposed(table.get());
    }

    // A real, decodable file: silence, mono at 8 kHz.
    QString audio(const QString& relativePath, double seconds = 1.0)
    {
        const QString path = transport.dir.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        TestAudio::WavSpec spec;
        spec.sampleRate = 8000;
        spec.channels = 1;
        spec.seconds = seconds;
        spec.signal = TestAudio::Signal::Silence;
        return TestAudio::writeWav(path, spec) ? path : QString();
    }

    static void exec(const QString& sql) { DatabaseManager::instance()->execute(sql); }
    static int count(const QString& sql)
    {
        QSqlQuery query = DatabaseManager::instance()->execute(sql);
        return query.next() ? query.value(0).toInt() : -1;
    }
    // Stored cues that belong to no playlist.
    static int orphans()
    {
        return count("SELECT COUNT(*) FROM songs WHERE id NOT IN (SELECT song_id FROM playlist_songs)");
    }

    // The texts of a spy on statusMessage.
    static QStringList texts(const QSignalSpy& spy)
    {
        QStringList list;
        for (const QList<QVariant>& arguments : spy)
            list.append(arguments.at(0).toString());
        return list;
    }

    QList<Cue*> shown() const { return trackList->cues(); }
    QStringList shownNames() const
    {
        QStringList names;
        for (Cue* cue : trackList->cues())
            names.append(cue->name());
        return names;
    }

    SongTableModel* model() const { return trackList->model(); }
    QModelIndex cell(int row, int column) const { return model()->index(row, column); }
};
