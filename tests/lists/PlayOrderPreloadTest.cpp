#include "lists/PlayOrderPreload.h"
#include "model/Cue.h"

#include <QtTest>

#include <memory>
#include <vector>

// What is decoded ahead and how the cache ranks the rest, for each play mode
// and state of the show: the cue Play would start and the ones after it.
class PlayOrderPreloadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void plansTheNextCuesOfThePlayOrder_data();
    void plansTheNextCuesOfThePlayOrder();
    void aLongPlaylistIsPlannedOnlyAhead();
};

void PlayOrderPreloadTest::plansTheNextCuesOfThePlayOrder_data()
{
    // Five cues 0..4 shown in the table and, when one plays, the play order.
    // current: the playing cue's index (-1 none); selected: -1 none.
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("decodeAhead");
    const int listLoop = CueManager::ListLoop;
    const int random = CueManager::Random;
    QTest::newRow("shown, nothing selected") << listLoop << -1 << -1 << "01234" << 2;
    QTest::newRow("shown, third selected") << listLoop << -1 << 2 << "23401" << 2;
    QTest::newRow("shown, random, third selected") << random << -1 << 2 << "23401" << 1;
    QTest::newRow("second plays") << listLoop << 1 << 1 << "2340" << 2;
    QTest::newRow("second plays, fourth selected") << listLoop << 1 << 3 << "3240" << 2;
    QTest::newRow("last plays, custom") << int(CueManager::Custom) << 4 << 4 << "0123" << 2;
    QTest::newRow("random plays, next unknown") << random << 1 << 1 << "2340" << 0;
    QTest::newRow("random plays, fourth selected") << random << 1 << 3 << "3240" << 1;
}

void PlayOrderPreloadTest::plansTheNextCuesOfThePlayOrder()
{
    QFETCH(int, mode);
    QFETCH(int, current);
    QFETCH(int, selected);
    QFETCH(QString, order);
    QFETCH(int, decodeAhead);
    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> cues;
    for (int i = 0; i < 5; ++i) {
        owned.push_back(std::make_unique<Cue>(i + 1, QString::number(i), QStringLiteral("/%1.mp3").arg(i)));
        owned.back()->clearDirty();
        cues.append(owned.back().get());
    }
    const PlayOrderPreload::Plan plan =
        PlayOrderPreload::plan(CueManager::PlayMode(mode), current >= 0 ? cues.at(current) : nullptr,
                               current >= 0 ? cues : QList<Cue*>{}, current, cues,
                               selected >= 0 ? cues.at(selected) : nullptr);
    QString got;
    for (Cue* cue : plan.order)
        got.append(QString::number(cues.indexOf(cue)));
    QCOMPARE(got, order);
    QCOMPARE(plan.decodeAhead, decodeAhead);
}

void PlayOrderPreloadTest::aLongPlaylistIsPlannedOnlyAhead()
{
    // A playlist far longer than what is planned, playing near its end: the
    // plan holds the planned count of cues, from the one after the current,
    // wrapping round, and ranks nothing beyond.
    const int count = PlayOrderPreload::kPlannedCues * 3;
    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> cues;
    for (int i = 0; i < count; ++i) {
        owned.push_back(std::make_unique<Cue>(i + 1, QString::number(i), QStringLiteral("/%1.mp3").arg(i)));
        owned.back()->clearDirty();
        cues.append(owned.back().get());
    }
    const int current = count - 10;
    for (Cue* selected : {cues.at(current), cues.at(5)}) {
        const PlayOrderPreload::Plan plan =
            PlayOrderPreload::plan(CueManager::ListLoop, cues.at(current), cues, current, cues, selected);
        QCOMPARE(plan.order.size(), PlayOrderPreload::kPlannedCues);
        const bool selectedFirst = selected != cues.at(current);
        if (selectedFirst)
            QCOMPARE(plan.order.first(), selected);
        QCOMPARE(plan.order.at(selectedFirst ? 1 : 0), cues.at(current + 1));
        QCOMPARE(plan.order.at(selectedFirst ? 10 : 9), cues.at(0));
        QVERIFY(!plan.order.contains(cues.at(current)));
    }
}

QTEST_GUILESS_MAIN(PlayOrderPreloadTest)
#include "PlayOrderPreloadTest.moc"
