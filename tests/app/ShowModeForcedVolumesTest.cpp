#include "app/ShowModeForcedVolumes.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Show mode's volume A for every cue, and what the database keeps meanwhile.
class ShowModeForcedVolumesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    void forcesBCuesAndGivesThemBack();
    void theDatabaseKeepsTheOwnChoice();
    void quittingInShowModeKeepsTheOwnChoice();
    void aSecondForceKeepsTheFirstChoices();
    void switchesDuringTheShowAreUndone();
    void deletedCuesAreSkipped();
};

namespace {

std::unique_ptr<Cue> storedCue(int choice)
{
    auto cue = std::make_unique<Cue>(-1, QStringLiteral("show"), QStringLiteral("/nowhere/show.wav"));
    cue->setDuration(10000);
    cue->setVolumeA(80);
    cue->setVolumeB(20);
    cue->setVolumeChoose(choice);
    cue->setColor(QStringLiteral("#4a5a6a"));
    cue->saveToDatabase(false);
    return cue;
}

int storedChoice(int id)
{
    Cue fresh;
    if (!fresh.loadFromDatabase(id))
        return -1;
    return fresh.volumeChoose();
}

}  // namespace

void ShowModeForcedVolumesTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("show.db")));
}

void ShowModeForcedVolumesTest::forcesBCuesAndGivesThemBack()
{
    auto onA = storedCue(0);
    auto onB = storedCue(1);
    ShowModeForcedVolumes forced;

    QVERIFY(forced.force({onA.get(), onB.get(), nullptr}));
    QVERIFY(forced.isActive());
    QCOMPARE(forced.forcedCount(), 1);
    QVERIFY(forced.isForced(onB.get()));
    QVERIFY(!forced.isForced(onA.get()));
    QCOMPARE(onB->volumeChoose(), 0);
    QVERIFY(!onA->isDirty());

    QCOMPARE(forced.restore(), 1);
    QVERIFY(!forced.isActive());
    QCOMPARE(onB->volumeChoose(), 1);
    QVERIFY(!onB->hasHeldVolumeChoose());
    QCOMPARE(onA->volumeChoose(), 0);
}

void ShowModeForcedVolumesTest::theDatabaseKeepsTheOwnChoice()
{
    auto cue = storedCue(1);
    ShowModeForcedVolumes forced;
    forced.force({cue.get()});

    // Saves of any kind during the show store the operator's choice.
    cue->setPreWait(3000);
    QVERIFY(cue->saveToDatabase(false));
    QCOMPARE(storedChoice(cue->id()), 1);
    QVERIFY(cue->saveToDatabase(true));
    QCOMPARE(storedChoice(cue->id()), 1);
    QCOMPARE(cue->storedVolumeChoose(), 1);

    forced.restore();
    cue->saveToDatabase(true);
    QCOMPARE(storedChoice(cue->id()), 1);
}

void ShowModeForcedVolumesTest::quittingInShowModeKeepsTheOwnChoice()
{
    auto cue = storedCue(1);
    const int id = cue->id();
    ShowModeForcedVolumes forced;
    forced.force({cue.get()});
    QVERIFY(cue->isDirty());

    // The program ends without leaving show mode: the cue saves itself as it
    // is destroyed, and the next start loads it on B.
    cue.reset();
    QCOMPARE(storedChoice(id), 1);
    QCOMPARE(forced.restore(), 0);
}

void ShowModeForcedVolumesTest::aSecondForceKeepsTheFirstChoices()
{
    auto cue = storedCue(1);
    ShowModeForcedVolumes forced;
    QVERIFY(forced.force({cue.get()}));
    QVERIFY(!forced.force({cue.get()}));
    QVERIFY(forced.isForced(cue.get()));

    QCOMPARE(forced.restore(), 1);
    QCOMPARE(cue->volumeChoose(), 1);
}

void ShowModeForcedVolumesTest::switchesDuringTheShowAreUndone()
{
    auto forcedCue = storedCue(1);
    auto freeCue = storedCue(0);
    ShowModeForcedVolumes forced;
    forced.force({forcedCue.get(), freeCue.get()});

    // The A/B switch during the show, on both cues.
    forcedCue->setVolumeChoose(1);
    forcedCue->saveToDatabase(false);
    forcedCue->setVolumeChoose(0);
    forcedCue->saveToDatabase(false);
    freeCue->setVolumeChoose(1);
    freeCue->saveToDatabase(false);

    forced.restore();
    QCOMPARE(forcedCue->volumeChoose(), 1);
    QCOMPARE(storedChoice(forcedCue->id()), 1);
    // A cue that was on A when the show began keeps what the operator chose.
    QCOMPARE(freeCue->volumeChoose(), 1);
    QCOMPARE(storedChoice(freeCue->id()), 1);
}

void ShowModeForcedVolumesTest::deletedCuesAreSkipped()
{
    auto kept = storedCue(1);
    auto deleted = storedCue(1);
    ShowModeForcedVolumes forced;
    forced.force({kept.get(), deleted.get()});
    QCOMPARE(forced.forcedCount(), 2);

    deleted.reset();
    QCOMPARE(forced.restore(), 1);
    QCOMPARE(kept->volumeChoose(), 1);
}

QTEST_MAIN(ShowModeForcedVolumesTest)
#include "ShowModeForcedVolumesTest.moc"
