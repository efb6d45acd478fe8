#include "app/BatchEditSession.h"
#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// One batch edit of a multi-selection, down to the database.
class BatchEditSessionTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    void startsWithTheSharedVolumes();
    void anEditReachesEveryCueInTheDatabase();
    void aGrownSelectionGetsTheEditsSoFar();
    void finishingTouchesOnlyTheBatch();
    void choosingAGroupReachesEveryCue();
    void deletedCuesAreLeftOut();
    void nothingIsLeftUnsaved();
    void aLargeSelectionIsStoredInChunks();
};

namespace {

std::unique_ptr<Cue> storedCue(int volumeA, int volumeB)
{
    auto cue = std::make_unique<Cue>(-1, QStringLiteral("batch"), QStringLiteral("/nowhere/batch.wav"));
    cue->setDuration(10000);
    cue->setLoading(true);
    cue->setLoopRange(0, 10000, true);
    cue->setLoading(false);
    cue->setVolumeA(volumeA);
    cue->setVolumeB(volumeB);
    cue->setColor(QStringLiteral("#4a5a6a"));
    cue->saveToDatabase(false);
    return cue;
}

std::unique_ptr<Cue> reloaded(const Cue& cue)
{
    auto fresh = std::make_unique<Cue>();
    fresh->loadFromDatabase(cue.id());
    return fresh;
}

struct ThreeCues {
    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> list;
    ThreeCues()
    {
        for (int b : {10, 20, 30}) {
            owned.push_back(storedCue(40, b));
            list.append(owned.back().get());
        }
    }
};

}  // namespace

void BatchEditSessionTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("session.db")));
}

void BatchEditSessionTest::startsWithTheSharedVolumes()
{
    ThreeCues cues;
    BatchEditSession session(cues.list);
    QVERIFY(session.isVolumeUniform(0));
    QVERIFY(!session.isVolumeUniform(1));
    QCOMPARE(session.batch()->volumeA, 40);
    QCOMPARE(session.batch()->volumeB, 50);
    QCOMPARE(session.cues().size(), 3);
    for (Cue* cue : cues.list)
        QVERIFY(!cue->isDirty());
}

void BatchEditSessionTest::anEditReachesEveryCueInTheDatabase()
{
    ThreeCues cues;
    BatchEditSession session(cues.list);
    QSignalSpy applied(&session, &BatchEditSession::applied);

    session.batch()->preWaitMs = 3000;
    session.batch()->preWaitModified = true;
    Q_EMIT session.batch()->dataChanged();

    QCOMPARE(applied.count(), 1);
    QCOMPARE(applied.first().first().toInt(), 3);
    // At once in the cues, stored once the edits pause.
    for (Cue* cue : cues.list)
        QCOMPARE(cue->preWaitMs(), 3000);
    QVERIFY(session.hasUnsavedCues());
    QTRY_VERIFY(!session.hasUnsavedCues());
    for (Cue* cue : cues.list) {
        QVERIFY(!cue->isDirty());
        QCOMPARE(reloaded(*cue)->preWaitMs(), 3000);
        // Fields not edited in the batch stay as they were.
        QCOMPARE(reloaded(*cue)->volumeB(), cue->volumeB());
    }
    QCOMPARE(reloaded(*cues.list.at(2))->volumeB(), 30);
}

void BatchEditSessionTest::aGrownSelectionGetsTheEditsSoFar()
{
    ThreeCues cues;
    BatchEditSession session(cues.list.mid(0, 2));
    QVERIFY(!session.isVolumeUniform(1));
    session.batch()->volumeB = 70;
    session.batch()->volumeBModified = true;
    Q_EMIT session.batch()->dataChanged();
    QCOMPARE(cues.list.at(2)->volumeB(), 30);

    auto fourth = storedCue(55, 30);
    QList<Cue*> grown = cues.list;
    grown.append(fourth.get());
    session.setSelection(grown);
    QCOMPARE(cues.list.at(2)->volumeB(), 70);
    QCOMPARE(fourth->volumeB(), 70);
    session.saveNow();
    QCOMPARE(reloaded(*cues.list.at(2))->volumeB(), 70);
    QCOMPARE(reloaded(*fourth)->volumeB(), 70);
    // B was edited in the batch: it is shared now; A differs with the fourth.
    QVERIFY(session.isVolumeUniform(1));
    QVERIFY(!session.isVolumeUniform(0));

    // An empty selection (the table being reloaded) keeps the batch's cues.
    session.setSelection({});
    QCOMPARE(session.cues().size(), 4);
}

void BatchEditSessionTest::finishingTouchesOnlyTheBatch()
{
    ThreeCues cues;
    auto outsider = storedCue(40, 40);
    BatchEditSession session(cues.list);
    session.batch()->loopCountModified = true;
    session.batch()->infiniteLoop = true;
    Q_EMIT session.batch()->dataChanged();

    QCOMPARE(session.finish(), 3);
    QCOMPARE(outsider->loopCount(), 1);
    QCOMPARE(reloaded(*outsider)->loopCount(), 1);
    for (Cue* cue : cues.list)
        QCOMPARE(reloaded(*cue)->loopCount(), 0);
}

void BatchEditSessionTest::choosingAGroupReachesEveryCue()
{
    ThreeCues cues;
    BatchEditSession session(cues.list);
    session.chooseVolumeGroup(1);
    session.saveNow();
    for (Cue* cue : cues.list) {
        QCOMPARE(cue->volumeChoose(), 1);
        QCOMPARE(reloaded(*cue)->volumeChoose(), 1);
    }
    // The levels themselves were not part of the choice.
    QCOMPARE(cues.list.at(0)->volumeB(), 10);
    QCOMPARE(cues.list.at(2)->volumeB(), 30);

    cues.list.at(0)->setVolumeB(30);
    cues.list.at(1)->setVolumeB(30);
    session.recheckVolumeUniform(1);
    QVERIFY(session.isVolumeUniform(1));
}

void BatchEditSessionTest::deletedCuesAreLeftOut()
{
    ThreeCues cues;
    BatchEditSession session(cues.list);
    cues.owned.at(1).reset();
    QCOMPARE(session.cues().size(), 2);
    QCOMPARE(session.finish(), 2);
}

void BatchEditSessionTest::nothingIsLeftUnsaved()
{
    ThreeCues cues;
    auto session = std::make_unique<BatchEditSession>(cues.list);
    session->batch()->fadeEnabled = true;
    session->batch()->fadeEnabledModified = true;
    Q_EMIT session->batch()->dataChanged();

    // A cue that leaves the selection before the store keeps its edit too.
    session->setSelection(cues.list.mid(0, 2));
    session.reset();
    for (Cue* cue : cues.list) {
        QVERIFY(!cue->isDirty());
        QVERIFY(reloaded(*cue)->fadeEnabled());
    }
}

void BatchEditSessionTest::aLargeSelectionIsStoredInChunks()
{
    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> list;
    for (int i = 0; i < BatchEditSession::kSaveChunk * 3 + 1; ++i) {
        owned.push_back(storedCue(40, 40));
        list.append(owned.back().get());
    }
    BatchEditSession session(list);
    session.batch()->volumeA = 12;
    session.batch()->volumeAModified = true;
    Q_EMIT session.batch()->dataChanged();

    QTRY_VERIFY(!session.hasUnsavedCues());
    for (Cue* cue : list)
        QCOMPARE(reloaded(*cue)->volumeA(), 12);
}

QTEST_MAIN(BatchEditSessionTest)
#include "BatchEditSessionTest.moc"
