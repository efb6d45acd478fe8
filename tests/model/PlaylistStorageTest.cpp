#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "support/LogCapture.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// Playlists, their order in the tree and the order of their cues.
class PlaylistStorageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_file = 0;
    std::vector<std::unique_ptr<Cue>> m_cues;
    DatabaseManager* db() { return DatabaseManager::instance(); }

    int newPlaylist(const QString& name, int sortOrder = 0)
    {
        PlaylistGroup group;
        group.name = name;
        return db()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
    }
    Cue* newCue()
    {
        m_cues.push_back(std::make_unique<Cue>(-1, "c", "/nowhere/c.wav"));
        m_cues.back()->saveToDatabase(false);
        return m_cues.back().get();
    }
    // (cue id, order) pairs of a playlist by order.
    QList<QPair<int, int>> orders(int playlistId)
    {
        QList<QPair<int, int>> result;
        QSqlQuery query = db()->execute(
            "SELECT song_id, song_order FROM playlist_songs WHERE playlist_id = ? ORDER BY song_order, song_id",
            {playlistId});
        while (query.next())
            result.append({query.value(0).toInt(), query.value(1).toInt()});
        return result;
    }

private Q_SLOTS:
    void init();
    void cleanup();
    void sortOrderOfTheNextPlaylist();
    void insertThenUpdateKeepsSortOrder();
    void playlistsLoadBySortOrderThenId();
    void treeOrderIsOneTransaction();
    void addToPlaylistShiftsLaterCues_data();
    void addToPlaylistShiftsLaterCues();
    void cueBelongsToOnePlaylistOnly();
    void removeLeavesAGap();
    void rewriteRenumbersOrRollsBack();
    void singleOrderUpdateNeedsTheRow();
    void deletingAPlaylistKeepsItsCues();
    void readersClearTheirOutputs();
    void gapBeforeAPosition_data();
    void gapBeforeAPosition();
};

void PlaylistStorageTest::init()
{
    QVERIFY(db()->initialize(m_dir.filePath(QStringLiteral("playlists-%1.db").arg(++m_file))));
}

void PlaylistStorageTest::cleanup()
{
    m_cues.clear();
}

void PlaylistStorageTest::sortOrderOfTheNextPlaylist()
{
    int next = -5;
    QVERIFY(db()->getNextGroupSortOrder(next));
    QCOMPARE(next, 0);
    newPlaylist("a", 0);
    newPlaylist("b", 1);
    newPlaylist("c", 5);
    QVERIFY(db()->getNextGroupSortOrder(next));
    QCOMPARE(next, 6);
}

void PlaylistStorageTest::insertThenUpdateKeepsSortOrder()
{
    PlaylistGroup group;
    group.name = "Act 1";
    group.playMode = 3;
    QVERIFY(db()->insertPlaylistGroup(group, 4));
    QVERIFY(group.id > 0);
    group.name = "Act One";
    group.currentIndex = 2;
    QVERIFY(db()->insertPlaylistGroup(group, 9));  // stored already: an update
    QList<PlaylistGroup> groups;
    QVERIFY(db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups[0].name, QString("Act One"));
    QCOMPARE(groups[0].playMode, 3);
    QCOMPARE(groups[0].currentIndex, 2);
    QSqlQuery order = db()->execute("SELECT sort_order FROM playlist_groups WHERE id = ?", {group.id});
    QVERIFY(order.next());
    QCOMPARE(order.value(0).toInt(), 4);
}

void PlaylistStorageTest::playlistsLoadBySortOrderThenId()
{
    const int one = newPlaylist("one", 1);
    const int two = newPlaylist("two", 1);
    const int three = newPlaylist("three", 0);
    QList<PlaylistGroup> groups;
    QVERIFY(db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 3);
    QCOMPARE((QList<int>{groups[0].id, groups[1].id, groups[2].id}), (QList<int>{three, one, two}));
}

void PlaylistStorageTest::treeOrderIsOneTransaction()
{
    const int a = newPlaylist("a", 0);
    const int b = newPlaylist("b", 1);
    QVERIFY(db()->updatePlaylistGroupOrder({b, a}));
    QList<PlaylistGroup> groups;
    QVERIFY(db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups[0].id, b);

    QVERIFY(db()->beginTransaction());
    QVERIFY(!db()->updatePlaylistGroupOrder({a, b}));  // the caller's transaction is open
    QVERIFY(db()->rollbackTransaction());
    QVERIFY(db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups[0].id, b);
}

void PlaylistStorageTest::addToPlaylistShiftsLaterCues_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QList<int>>("expectedOrderOfNew");  // index of the new cue among the four
    QTest::newRow("middle") << 1 << QList<int>{1};
    QTest::newRow("front") << 0 << QList<int>{0};
    QTest::newRow("negative appends") << -1 << QList<int>{3};
    QTest::newRow("past end appends") << 7 << QList<int>{3};
}

void PlaylistStorageTest::addToPlaylistShiftsLaterCues()
{
    QFETCH(int, position);
    QFETCH(QList<int>, expectedOrderOfNew);
    const int playlist = newPlaylist("p");
    Cue* c10 = newCue();
    Cue* c11 = newCue();
    Cue* c12 = newCue();
    QVERIFY(db()->updatePlaylistSongOrder(playlist, QList<int>{c10->id(), c11->id(), c12->id()}));
    Cue* c13 = newCue();
    QVERIFY(c13->addToPlaylist(playlist, position));

    QList<int> ids;
    QVERIFY(db()->getPlaylistSongIds(playlist, ids));
    QList<int> expected{c10->id(), c11->id(), c12->id()};
    expected.insert(expectedOrderOfNew.first(), c13->id());
    QCOMPARE(ids, expected);
    const auto rows = orders(playlist);
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows[i].second, i);  // contiguous here: every later cue moved one up

    QVERIFY(c11->addToPlaylist(playlist, 0));  // already a member: nothing changes
    QCOMPARE(orders(playlist), rows);
}

void PlaylistStorageTest::cueBelongsToOnePlaylistOnly()
{
    const int first = newPlaylist("first");
    const int second = newPlaylist("second");
    Cue* a = newCue();
    Cue* b = newCue();
    Cue* moving = newCue();
    QVERIFY(a->addToPlaylist(second, -1));
    QVERIFY(b->addToPlaylist(second, -1));
    QVERIFY(moving->addToPlaylist(first, 0));
    const auto before = orders(second);

    LogCapture log;
    QVERIFY(!moving->addToPlaylist(second, 0));
    QVERIFY(log.contains("SQL exec failed:"));
    QVERIFY(log.contains("UNIQUE constraint failed"));
    QVERIFY(log.contains("Cue::addToPlaylist - Failed to insert playlist song"));
    // The failed add leaves the target playlist exactly as it was.
    QCOMPARE(orders(second), before);
    QCOMPARE(moving->getPlaylistIds(), QList<int>{first});

    QVERIFY(moving->removeFromPlaylist(first));
    QVERIFY(moving->addToPlaylist(second, 0));
    QCOMPARE(moving->getPlaylistIds(), QList<int>{second});
}

void PlaylistStorageTest::removeLeavesAGap()
{
    const int playlist = newPlaylist("p");
    Cue* a = newCue();
    Cue* b = newCue();
    Cue* c = newCue();
    for (Cue* cue : {a, b, c})
        QVERIFY(cue->addToPlaylist(playlist, -1));
    QVERIFY(b->removeFromPlaylist(playlist));
    QCOMPARE(orders(playlist), (QList<QPair<int, int>>{{a->id(), 0}, {c->id(), 2}}));
    QVERIFY(b->removeFromPlaylist(playlist));  // not a member: still fine

    Cue unstored;
    LogCapture log;
    QVERIFY(!unstored.removeFromPlaylist(playlist));
    QVERIFY(!a->removeFromPlaylist(0));
    QVERIFY(unstored.getPlaylistIds().isEmpty());
    QVERIFY(log.contains("Cue::removeFromPlaylist - Invalid cue id: -1"));
    QVERIFY(log.contains("Cue::removeFromPlaylist - Invalid playlist id: 0"));
}

void PlaylistStorageTest::rewriteRenumbersOrRollsBack()
{
    const int playlist = newPlaylist("p");
    Cue* c10 = newCue();
    Cue* c11 = newCue();
    Cue* c12 = newCue();
    QVERIFY(db()->updatePlaylistSongOrder(playlist, QList<int>{c10->id(), c11->id(), c12->id()}));
    QVERIFY(db()->updatePlaylistSongOrder(playlist, QList<int>{c12->id(), c10->id(), c11->id()}));
    QCOMPARE(orders(playlist), (QList<QPair<int, int>>{{c12->id(), 0}, {c10->id(), 1}, {c11->id(), 2}}));

    const auto before = orders(playlist);
    LogCapture log;
    QVERIFY(!db()->updatePlaylistSongOrder(playlist, QList<int>{c12->id(), c12->id()}));
    QVERIFY(log.contains(QStringLiteral("Failed to insert playlist_song: %1 %2 1").arg(playlist).arg(c12->id())));
    QCOMPARE(orders(playlist), before);
    QVERIFY(!db()->isTransactionOpen());

    QVERIFY(!db()->updatePlaylistSongOrder(playlist, QList<int>{c10->id(), 999999}));  // no such cue
    QCOMPARE(orders(playlist), before);
    QVERIFY(!db()->updatePlaylistSongOrder(4242, QList<int>{c10->id()}));
    QVERIFY(log.contains("playlist_id 4242 does not exist in playlist_groups!"));

    QVERIFY(db()->updatePlaylistSongOrder(playlist, QList<int>{}));
    QVERIFY(orders(playlist).isEmpty());
}

void PlaylistStorageTest::singleOrderUpdateNeedsTheRow()
{
    const int playlist = newPlaylist("p");
    Cue* cue = newCue();
    LogCapture log;
    QVERIFY(!db()->updatePlaylistSongOrder(playlist, cue->id(), 4));
    QVERIFY(log.contains("updatePlaylistSongOrder (single) - No rows updated for song"));
    QVERIFY(cue->addToPlaylist(playlist, 0));
    QVERIFY(db()->updatePlaylistSongOrder(playlist, cue->id(), 4));
    QCOMPARE(orders(playlist).first().second, 4);
}

void PlaylistStorageTest::deletingAPlaylistKeepsItsCues()
{
    const int doomed = newPlaylist("doomed");
    const int other = newPlaylist("other");
    Cue* cue = newCue();
    QVERIFY(cue->addToPlaylist(doomed, 0));
    QVERIFY(db()->deletePlaylistGroup(doomed));
    QList<PlaylistGroup> groups;
    QVERIFY(db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 1);
    QVERIFY(cue->getPlaylistIds().isEmpty());
    QVERIFY(cue->addToPlaylist(other, 0));
    QVERIFY(db()->deletePlaylistGroup(777));  // no such playlist: no failure
}

void PlaylistStorageTest::readersClearTheirOutputs()
{
    QList<int> ids{1, 2, 3};
    QVERIFY(db()->getPlaylistSongIds(555, ids));
    QVERIFY(ids.isEmpty());
    QMap<int, QList<int>> all{{1, {1}}};
    const int playlist = newPlaylist("p");
    Cue* a = newCue();
    Cue* b = newCue();
    QVERIFY(b->addToPlaylist(playlist, 0));
    QVERIFY(a->addToPlaylist(playlist, 0));
    QVERIFY(db()->loadAllPlaylistSongs(all));
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.value(playlist), (QList<int>{a->id(), b->id()}));
}


void PlaylistStorageTest::gapBeforeAPosition_data()
{
    QTest::addColumn<QList<int>>("stored");  // song_order of cues 0, 1, 2 (gaps and ties as old files hold them)
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("firstOrder");
    QTest::addColumn<QList<int>>("after");  // their song_order afterwards

    QTest::newRow("front") << QList<int>{0, 1, 2} << 0 << 0 << QList<int>{2, 3, 4};
    QTest::newRow("middle") << QList<int>{0, 1, 2} << 1 << 1 << QList<int>{0, 3, 4};
    QTest::newRow("end") << QList<int>{0, 1, 2} << 3 << 3 << QList<int>{0, 1, 2};
    QTest::newRow("negative appends") << QList<int>{0, 1, 2} << -1 << 3 << QList<int>{0, 1, 2};
    QTest::newRow("past the end appends") << QList<int>{0, 1, 2} << 9 << 3 << QList<int>{0, 1, 2};
    QTest::newRow("gaps are kept") << QList<int>{0, 5, 9} << 2 << 9 << QList<int>{0, 5, 11};
    QTest::newRow("a tie before the place: numbered afresh") << QList<int>{0, 1, 1} << 2 << 2
                                                            << QList<int>{0, 1, 4};
}

void PlaylistStorageTest::gapBeforeAPosition()
{
    QFETCH(QList<int>, stored);
    QFETCH(int, position);
    QFETCH(int, firstOrder);
    QFETCH(QList<int>, after);
    const int playlist = newPlaylist("p");
    QList<Cue*> cues;
    for (int i = 0; i < stored.size(); ++i) {
        cues.append(newCue());
        QVERIFY(db()->insertPlaylistSong(playlist, cues[i]->id(), stored[i]));
    }
    int first = -1;
    QVERIFY(db()->openPlaylistGap(playlist, position, 2, &first));
    QCOMPARE(first, firstOrder);
    for (int i = 0; i < cues.size(); ++i) {
        QSqlQuery query = db()->execute("SELECT song_order FROM playlist_songs WHERE song_id = ?", {cues[i]->id()});
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), after[i]);
    }
    // Two new cues in the gap land where the position said.
    Cue* a = newCue();
    Cue* b = newCue();
    QVERIFY(db()->insertPlaylistSong(playlist, a->id(), first));
    QVERIFY(db()->insertPlaylistSong(playlist, b->id(), first + 1));
    QList<int> ids;
    QVERIFY(db()->getPlaylistSongIds(playlist, ids));
    const int at = position < 0 || position > 3 ? 3 : position;
    QCOMPARE(ids.indexOf(a->id()), at);
    QCOMPARE(ids.indexOf(b->id()), at + 1);
}

QTEST_GUILESS_MAIN(PlaylistStorageTest)
#include "PlaylistStorageTest.moc"
