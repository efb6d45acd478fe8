#include "TransportFixture.h"
#include "model/PlaylistGroup.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <memory>

// The registry that owns every cue: creation from the new-cue template,
// loading on demand, deletion with the database rows, orphans, and the
// shutdown at the end of the application.
class CueRegistryTest : public QObject {
    Q_OBJECT

private:
    TransportFixture f;
    std::unique_ptr<CueManager> manager;
    DatabaseManager* db() { return DatabaseManager::instance(); }
    int newPlaylist(const QString& name);
    int rowCount(const QString& sql, int id);

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void createCueFollowsTheTemplate_data();
    void createCueFollowsTheTemplate();
    void createCueRefusesAMissingFile();
    void getOrLoadCueRegistersWithoutAnnouncing();
    void deletingThePlayingCueStopsItFirst();
    void deletedCueWritesNothingBack();
    void cleanupDeletesCuesInNoPlaylist();
    void removingFromItsPlaylistDeletesTheCue();
    void resolveCueDurationFillsAMissingLength();
    void shutdownRunsWhenTheApplicationQuits();
};

void CueRegistryTest::initTestCase()
{
    QVERIFY(TransportFixture::initDatabase(f.dir));
}

void CueRegistryTest::init()
{
    for (const char* table : {"playlist_songs", "playlist_groups", "envelope_points", "pan_envelope_points",
                              "waveform_data", "songs"})
        db()->execute(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    QSettings().clear();
    f.reset();
    manager = std::make_unique<CueManager>(f.transport.get());
}

void CueRegistryTest::cleanup()
{
    manager.reset();
}

int CueRegistryTest::newPlaylist(const QString& name)
{
    PlaylistGroup group;
    group.name = name;
    int sortOrder = 0;
    db()->getNextGroupSortOrder(sortOrder);
    return db()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
}

int CueRegistryTest::rowCount(const QString& sql, int id)
{
    QSqlQuery query = db()->execute(sql, {id});
    return query.next() ? query.value(0).toInt() : -1;
}

void CueRegistryTest::createCueFollowsTheTemplate_data()
{
    using namespace SettingsKeys;
    QTest::addColumn<QVariantMap>("templateValues");
    QTest::addColumn<QVariantMap>("expected");
    QTest::newRow("no template keys") << QVariantMap{}
                                      << QVariantMap{{"volumeA", 90}, {"volumeB", 10}, {"choose", 0},
                                                     {"fade", false}, {"fadeIn", 1000}, {"fadeOut", 1000},
                                                     {"loopCount", 0}, {"preWait", 0}, {"envelope", false},
                                                     {"pan", false}};
    QTest::newRow("template")
        << QVariantMap{{kTemplatePreWaitSec, 1.5},   {kTemplateFadeInSec, 0.0015}, {kTemplateFadeOutSec, 4.35},
                       {kTemplateFadeEnabled, true}, {kTemplateLoopCount, 3},      {kTemplateVolumeA, 70},
                       {kTemplateVolumeB, 20},       {kTemplateEnvelopeEnabled, true}}
        << QVariantMap{{"volumeA", 70}, {"volumeB", 20}, {"choose", 0},     {"fade", true},
                       {"fadeIn", 1},   {"fadeOut", 4350}, {"loopCount", 3}, {"preWait", 1500},
                       {"envelope", true}, {"pan", false}};
}

void CueRegistryTest::createCueFollowsTheTemplate()
{
    QFETCH(QVariantMap, templateValues);
    QFETCH(QVariantMap, expected);
    {
        QSettings settings;
        for (auto it = templateValues.cbegin(); it != templateValues.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QSignalSpy created(manager.get(), &CueManager::cueCreated);
    Cue* cue = manager->createCue(f.placeholder("Intro Theme.final.mp3"));
    QVERIFY(cue);
    QCOMPARE(cue->name(), QStringLiteral("Intro Theme.final"));
    QVERIFY(cue->id() > 0);
    QCOMPARE(manager->getCue(cue->id()), cue);
    QCOMPARE(cue->parent(), manager.get());
    QCOMPARE(created.count(), 1);
    QVERIFY(!cue->isDirty());
    QCOMPARE(cue->volumeA(), expected["volumeA"].toInt());
    QCOMPARE(cue->volumeB(), expected["volumeB"].toInt());
    QCOMPARE(cue->volumeChoose(), expected["choose"].toInt());
    QCOMPARE(cue->fadeEnabled(), expected["fade"].toBool());
    QCOMPARE(cue->fadeInMs(), expected["fadeIn"].toLongLong());
    QCOMPARE(cue->fadeOutMs(), expected["fadeOut"].toLongLong());
    QCOMPARE(cue->loopCount(), expected["loopCount"].toInt());
    QCOMPARE(cue->preWaitMs(), expected["preWait"].toInt());
    QCOMPARE(cue->envelopeEnabled(), expected["envelope"].toBool());
    QCOMPARE(cue->panEnvelopeEnabled(), expected["pan"].toBool());
    QCOMPARE(cue->durationMs(), qint64(0));
}

void CueRegistryTest::createCueRefusesAMissingFile()
{
    QSignalSpy created(manager.get(), &CueManager::cueCreated);
    LogCapture log;
    QVERIFY(!manager->createCue(f.dir.filePath("nowhere.wav")));
    QVERIFY(!manager->createCue(QString()));
    QCOMPARE(created.count(), 0);
    QCOMPARE(log.count("CueManager::createCue - Invalid file path:"), 2);
}

void CueRegistryTest::getOrLoadCueRegistersWithoutAnnouncing()
{
    auto stored = std::make_unique<Cue>(-1, "late", f.placeholder("late.wav"));
    stored->setDuration(5000);
    QVERIFY(stored->saveToDatabase(false));
    const int id = stored->id();
    stored.reset();

    QSignalSpy created(manager.get(), &CueManager::cueCreated);
    QVERIFY(!manager->getCue(id));
    Cue* loaded = manager->getOrLoadCue(id);
    QVERIFY(loaded);
    QCOMPARE(loaded->name(), QStringLiteral("late"));
    QCOMPARE(manager->getOrLoadCue(id), loaded);
    QCOMPARE(manager->getCue(id), loaded);
    QCOMPARE(created.count(), 0);
    QVERIFY(!manager->getOrLoadCue(id + 1000));
}

void CueRegistryTest::deletingThePlayingCueStopsItFirst()
{
    Cue* cue = manager->createCue(f.placeholder("playing.wav"));
    QVERIFY(cue);
    cue->setDuration(30000);
    manager->playCue(cue, -1);
    QCOMPARE(f.transport->getCurrentCue(), cue);

    QStringList events;
    QObject listening;  // ends the connections with this test
    connect(manager.get(), &CueManager::playbackStateChanged, &listening,
            [&events](bool playing) { events << (playing ? "playing" : "stopped"); });
    connect(manager.get(), &CueManager::cueRemoved, &listening,
            [&events](Cue* removed) { events << "removed " + removed->name(); });
    QSignalSpy started(manager.get(), &CueManager::currentCueChanged);
    const int id = cue->id();
    QVERIFY(manager->deleteCue(id));
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.first(), QStringLiteral("stopped"));
    QCOMPARE(events.last(), QStringLiteral("removed playing"));
    QCOMPARE(f.transport->getState(), AudioEngine::Stopped);
    QVERIFY(!f.fake->playing);
    QCOMPARE(started.count(), 0);
    QVERIFY(!manager->getCue(id));
    QCOMPARE(rowCount("SELECT COUNT(*) FROM songs WHERE id = ?", id), 0);
    QVERIFY(!manager->deleteCue(id));
}

void CueRegistryTest::deletedCueWritesNothingBack()
{
    Cue* cue = manager->createCue(f.placeholder("edited.wav"));
    QVERIFY(cue);
    const int id = cue->id();
    cue->setDuration(30000);
    cue->setVolumeEnvelope({0, 10000, 20000}, {1.0, 0.5, 1.0});
    cue->setWaveform(QList<float>(2000, 0.5f));
    QVERIFY(cue->isDirty());
    LogCapture log;
    QVERIFY(manager->deleteCue(id));
    QCOMPARE(log.count("SQL exec failed"), 0);  // no attempt to write the deleted rows back
    QCOMPARE(rowCount("SELECT COUNT(*) FROM songs WHERE id = ?", id), 0);
    QCOMPARE(rowCount("SELECT COUNT(*) FROM envelope_points WHERE song_id = ?", id), 0);
    QCOMPARE(rowCount("SELECT COUNT(*) FROM waveform_data WHERE song_id = ?", id), 0);
}

void CueRegistryTest::cleanupDeletesCuesInNoPlaylist()
{
    QList<Cue*> cues;
    for (const char* name : {"three", "five", "eight"})
        cues.append(manager->createCue(f.placeholder(QString::fromLatin1(name) + ".wav")));
    const int playlist = newPlaylist("show");
    QVERIFY(manager->addCueToPlaylist(cues[1], playlist, -1));
    QCOMPARE(manager->getPlaylistCueIds(playlist), QList<int>{cues[1]->id()});

    QSignalSpy removed(manager.get(), &CueManager::cueRemoved);
    QCOMPARE(manager->cleanupOrphanedCues(), 2);
    QCOMPARE(removed.count(), 2);
    QVERIFY(manager->getCue(cues[1]->id()));
    QVERIFY(manager->deleteCueIfOrphaned(cues[1]));
    QVERIFY(manager->getCue(cues[1]->id()));
}

void CueRegistryTest::removingFromItsPlaylistDeletesTheCue()
{
    Cue* cue = manager->createCue(f.placeholder("shared.wav"));
    const int first = newPlaylist("first");
    const int second = newPlaylist("second");
    QVERIFY(manager->addCueToPlaylist(cue, first, -1));
    QCOMPARE(manager->getPlaylistCount(cue), 1);
    const int id = cue->id();
    manager->setPlaylist({cue});

    // Still held by a playlist: it stays.
    QVERIFY(manager->removeCueFromPlaylist(cue, second));
    QCOMPARE(manager->getCue(id), cue);
    QVERIFY(manager->getPlaylist().isEmpty());
    QVERIFY(manager->removeCueFromPlaylist(cue, first));
    QVERIFY(!manager->getCue(id));
}

void CueRegistryTest::resolveCueDurationFillsAMissingLength()
{
    const QString path = f.dir.filePath("second.wav");
    TestAudio::WavSpec spec;
    spec.seconds = 1.0;
    QVERIFY(TestAudio::writeWav(path, spec));
    Cue* cue = manager->createCue(path);
    QVERIFY(cue);
    manager->resolveCueDuration(cue);
    QVERIFY(std::abs(cue->durationMs() - 1000) <= 1);
    QCOMPARE(cue->loopEndMs(), cue->durationMs());
    QVERIFY(!cue->isDirty());
}

void CueRegistryTest::shutdownRunsWhenTheApplicationQuits()
{
    Cue* edited = manager->createCue(f.placeholder("unsaved.wav"));
    Cue* next = manager->createCue(f.placeholder("next.wav"));
    edited->setDuration(30000);
    next->setDuration(30000);
    const int id = edited->id();
    manager->setPlaylist({edited, next});
    manager->playPlaylist();
    edited->setVolumeA(33);
    QVERIFY(edited->isDirty());
    QSignalSpy started(manager.get(), &CueManager::currentCueChanged);

    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();

    QVERIFY(!manager->getCue(id));
    QCOMPARE(f.transport->getState(), AudioEngine::Stopped);
    QVERIFY(!f.fake->playing);
    QCOMPARE(started.count(), 0);  // the stop started no other cue
    Cue stored;
    QVERIFY(stored.loadFromDatabase(id));
    QCOMPARE(stored.volumeA(), 33);
}

QTEST_GUILESS_MAIN(CueRegistryTest)
#include "CueRegistryTest.moc"
