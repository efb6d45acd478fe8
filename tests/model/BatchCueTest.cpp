#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

// Applying one edit to a multi-selection.
class BatchCueTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    void appliesFlaggedFields_data();
    void appliesFlaggedFields();
    void skipsNullAndUnmeasuredCues();
    void freshBatchOnlySaves();
    void applyingTwiceChangesNothingMore();
};

using Edit = std::function<void(BatchCue&)>;
using Check = std::function<bool(const Cue&)>;
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Check)

namespace {

// A stored cue of 4000 ms with the region (0, 4000) and fades 1000/1000.
std::unique_ptr<Cue> shortCue(qint64 loopEnd = 4000)
{
    auto cue = std::make_unique<Cue>(-1, "batch", "/nowhere/batch.wav");
    cue->setDuration(4000);
    cue->setLoading(true);
    cue->setLoopRange(0, loopEnd, true);
    cue->setLoading(false);
    cue->setColor("#3a4a5a");
    cue->saveToDatabase(false);
    return cue;
}

}  // namespace

void BatchCueTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("batch.db")));
}

void BatchCueTest::appliesFlaggedFields_data()
{
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<Check>("check");

    QTest::newRow("endless loop") << qint64(4000) << Edit([](BatchCue& b) { b.loopCountModified = true; b.infiniteLoop = true; })
                                  << Check([](const Cue& c) { return c.loopCount() == 0; });
    QTest::newRow("three loops") << qint64(4000) << Edit([](BatchCue& b) { b.loopCountModified = true; b.infiniteLoop = false; b.loopCount = 3; })
                                 << Check([](const Cue& c) { return c.loopCount() == 3; });
    QTest::newRow("loop count unflagged") << qint64(4000) << Edit([](BatchCue& b) { b.infiniteLoop = false; b.loopCount = 3; })
                                          << Check([](const Cue& c) { return c.loopCount() == 1; });
    QTest::newRow("pre-wait") << qint64(4000) << Edit([](BatchCue& b) { b.preWaitModified = true; b.preWaitMs = 2500; })
                              << Check([](const Cue& c) { return c.preWaitMs() == 2500; });
    QTest::newRow("fade in fits") << qint64(4000) << Edit([](BatchCue& b) { b.fadeEnabled = true; b.fadeInModified = true; b.fadeInMs = 3000; })
                                  << Check([](const Cue& c) { return c.fadeInMs() == 3000 && c.fadeOutMs() == 1000; });
    QTest::newRow("fade in too long") << qint64(4000) << Edit([](BatchCue& b) { b.fadeEnabled = true; b.fadeInModified = true; b.fadeInMs = 3500; })
                                      << Check([](const Cue& c) { return c.fadeInMs() == 1000 && c.fadeOutMs() == 1000; });
    QTest::newRow("fades need the batch switch") << qint64(4000) << Edit([](BatchCue& b) { b.fadeInModified = true; b.fadeInMs = 500; })
                                                 << Check([](const Cue& c) { return c.fadeInMs() == 1000; });
    QTest::newRow("both fades") << qint64(4000) << Edit([](BatchCue& b) { b.fadeEnabled = true; b.fadeInModified = b.fadeOutModified = true; b.fadeInMs = 1500; b.fadeOutMs = 2500; })
                                << Check([](const Cue& c) { return c.fadeInMs() == 1500 && c.fadeOutMs() == 2500; });
    QTest::newRow("fade out, region open") << qint64(0) << Edit([](BatchCue& b) { b.fadeEnabled = true; b.fadeOutModified = true; b.fadeOutMs = 3000; })
                                           << Check([](const Cue& c) { return c.fadeOutMs() == 3000; });
    QTest::newRow("fade switch") << qint64(4000) << Edit([](BatchCue& b) { b.fadeEnabledModified = true; b.fadeEnabled = true; })
                                 << Check([](const Cue& c) { return c.fadeEnabled(); });
    QTest::newRow("volumes") << qint64(4000) << Edit([](BatchCue& b) { b.volumeAModified = b.volumeBModified = b.volumeChooseModified = true; b.volumeA = 120; b.volumeB = 5; b.volumeChoose = 1; })
                             << Check([](const Cue& c) { return c.volumeA() == 100 && c.volumeB() == 5 && c.volumeChoose() == 1; });
    QTest::newRow("colour") << qint64(4000) << Edit([](BatchCue& b) { b.colorModified = true; b.color = QColor("#5A3A5A"); })
                            << Check([](const Cue& c) { return c.color() == "#5a3a5a"; });
    QTest::newRow("no colour") << qint64(4000) << Edit([](BatchCue& b) { b.colorModified = true; b.color = QColor(); })
                               << Check([](const Cue& c) { return c.color().isEmpty(); });
}

void BatchCueTest::appliesFlaggedFields()
{
    QFETCH(qint64, loopEnd);
    QFETCH(Edit, edit);
    QFETCH(Check, check);
    auto first = shortCue(loopEnd);
    auto second = shortCue(loopEnd);
    BatchCue batch;
    edit(batch);
    QCOMPARE(batch.applyTo({first.get(), second.get()}), 2);
    QVERIFY(check(*first));
    QVERIFY(check(*second));
    // Saved: a reload shows the same.
    Cue reloaded;
    QVERIFY(reloaded.loadFromDatabase(first->id()));
    QVERIFY(check(reloaded));
    QVERIFY(!first->isDirty());
}

void BatchCueTest::skipsNullAndUnmeasuredCues()
{
    Cue noDuration(-1, "x", "/nowhere/x.wav");
    BatchCue batch;
    batch.volumeAModified = true;
    batch.volumeA = 10;
    QCOMPARE(batch.applyTo({nullptr, &noDuration}), 0);
    QCOMPARE(noDuration.volumeA(), 50);
    QCOMPARE(noDuration.id(), -1);  // not saved
}

void BatchCueTest::freshBatchOnlySaves()
{
    auto cue = shortCue();
    cue->setRemark("unsaved");
    QSignalSpy updated(cue.get(), &Cue::dataUpdated);
    BatchCue batch;
    QCOMPARE(batch.applyTo({cue.get()}), 1);
    QCOMPARE(updated.count(), 0);
    QVERIFY(!cue->isDirty());
}

void BatchCueTest::applyingTwiceChangesNothingMore()
{
    auto cue = shortCue();
    BatchCue batch;
    batch.volumeAModified = true;
    batch.volumeA = 70;
    batch.colorModified = true;
    batch.color = QColor("#4a5a3a");
    batch.applyTo({cue.get()});
    QSignalSpy updated(cue.get(), &Cue::dataUpdated);
    QCOMPARE(batch.applyTo({cue.get()}), 1);
    QCOMPARE(updated.count(), 0);
    QCOMPARE(cue->volumeA(), 70);
}

QTEST_GUILESS_MAIN(BatchCueTest)
#include "BatchCueTest.moc"
