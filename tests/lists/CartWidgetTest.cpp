#include "lists/CartButtonItem.h"
#include "lists/CartWidget.h"
#include "model/Cue.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <vector>

// The cart grid: column and height limits, selection with Ctrl and Shift,
// the press on empty space, playing and progress, show mode across rebuilds
// and cues deleted while they are shown.
class CartWidgetTest : public QObject {
    Q_OBJECT

private:
    std::vector<std::unique_ptr<Cue>> m_cues;
    std::unique_ptr<CartWidget> m_cart;

    QList<Cue*> cues() const
    {
        QList<Cue*> list;
        for (const auto& cue : m_cues)
            list.append(cue.get());
        return list;
    }
    Cue* cue(int i) const { return m_cues.at(size_t(i)).get(); }
    CartButtonItem* tile(int i) const { return m_cart->tileOf(cue(i)); }
    void click(int i, Qt::KeyboardModifiers modifiers = {})
    {
        CartButtonItem* t = tile(i);
        QTest::mouseClick(t, Qt::LeftButton, modifiers, QPoint(t->width() / 2, t->height() - 4));
    }
    QWidget* container() const { return m_cart->widget(); }
    void pressEmptySpace()
    {
        QTest::mouseClick(container(), Qt::LeftButton, {}, QPoint(4, container()->height() - 4));
    }
    QList<int> indexesOf(const QList<Cue*>& list) const
    {
        QList<int> indexes;
        for (Cue* c : list)
            indexes.append(int(cues().indexOf(c)));
        return indexes;
    }
    QList<CartButtonItem*> liveTiles() const
    {
        QList<CartButtonItem*> tiles;
        for (CartButtonItem* t : container()->findChildren<CartButtonItem*>()) {
            if (!t->isHidden())
                tiles.append(t);
        }
        return tiles;
    }

private Q_SLOTS:
    void init();
    void cleanup();
    void limitsAndRebuilds_data();
    void limitsAndRebuilds();
    void tilesStandInRowsOfTheColumnCount();
    void shiftClickSelectsARectangle();
    void ctrlClickToggles();
    void pressOnEmptySpaceClears();
    void selectionFromTheTable();
    void progressReachesOnlyThePlayingCue();
    void emptyListShowsNothing();
    void showModeAndPlayingSurviveARebuild();
    void deletedCuesLeaveTheGrid();
    void renameAndPlayArePassedOn();
    void currentCueIsMarked();
};

void CartWidgetTest::init()
{
    m_cues.clear();
    for (int i = 0; i < 10; ++i) {
        auto c = std::make_unique<Cue>(-1, QString("Cue %1").arg(i + 1), QString("/show/%1.wav").arg(i + 1));
        c->setDuration(60000);
        c->setLoopRange(0, 60000, true);
        m_cues.push_back(std::move(c));
    }
    m_cart = std::make_unique<CartWidget>();
    m_cart->resize(820, 600);
    m_cart->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_cart.get()));
    m_cart->setCues(cues());
    QApplication::processEvents();
}

void CartWidgetTest::cleanup()
{
    m_cart.reset();
    m_cues.clear();
}

void CartWidgetTest::limitsAndRebuilds_data()
{
    QTest::addColumn<bool>("columns");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");
    QTest::newRow("no columns") << true << 0 << 1;
    QTest::newRow("twelve columns") << true << 12 << 8;
    QTest::newRow("three columns") << true << 3 << 3;
    QTest::newRow("low tiles") << false << 40 << 80;
    QTest::newRow("tall tiles") << false << 500 << 320;
    QTest::newRow("120 px tiles") << false << 120 << 120;
}

void CartWidgetTest::limitsAndRebuilds()
{
    QFETCH(bool, columns);
    QFETCH(int, requested);
    QFETCH(int, expected);
    if (columns) {
        m_cart->setColumnCount(requested);
        QCOMPARE(m_cart->columnCount(), expected);
    } else {
        m_cart->setItemHeight(requested);
        QCOMPARE(m_cart->itemHeight(), expected);
        QCOMPARE(tile(0)->height(), expected);
    }
    // The same value again keeps the tiles.
    CartButtonItem* before = tile(0);
    if (columns)
        m_cart->setColumnCount(requested);
    else
        m_cart->setItemHeight(requested);
    QCOMPARE(tile(0), before);
}

void CartWidgetTest::tilesStandInRowsOfTheColumnCount()
{
    QTRY_COMPARE(liveTiles().size(), 10);
    QTRY_VERIFY(tile(0)->width() > 100);
    QCOMPARE(tile(4)->x(), tile(0)->x());
    QVERIFY(tile(4)->y() > tile(0)->y());
    QCOMPARE(tile(5)->x(), tile(1)->x());
    QCOMPARE(tile(3)->y(), tile(0)->y());
    QCOMPARE(tile(9)->number(), 10);
    QCOMPARE(tile(0)->width(), tile(3)->width());  // equal columns
}

void CartWidgetTest::shiftClickSelectsARectangle()
{
    QSignalSpy multi(m_cart.get(), &CartWidget::multiSelectionChanged);
    QSignalSpy single(m_cart.get(), &CartWidget::cueSelected);
    click(1);
    QCOMPARE(single.last().at(0).value<Cue*>(), cue(1));
    click(6, Qt::ShiftModifier);
    QCOMPARE(indexesOf(m_cart->selectedCues()), (QList<int>{1, 2, 5, 6}));
    QCOMPARE(indexesOf(multi.last().at(0).value<QList<Cue*>>()), (QList<int>{1, 2, 5, 6}));
    QCOMPARE(single.size(), 1);  // a multi-selection reports no single cue
    for (int i = 0; i < 10; ++i)
        QCOMPARE(tile(i)->isSelected(), QList<int>({1, 2, 5, 6}).contains(i));

    // The anchor stays: Shift from index 1 to 8 spans rows 0..2, columns 0..1.
    click(8, Qt::ShiftModifier);
    QCOMPARE(indexesOf(m_cart->selectedCues()), (QList<int>{0, 1, 4, 5, 8, 9}));
}

void CartWidgetTest::ctrlClickToggles()
{
    QSignalSpy multi(m_cart.get(), &CartWidget::multiSelectionChanged);
    QSignalSpy single(m_cart.get(), &CartWidget::cueSelected);
    click(3);
    click(3, Qt::ControlModifier);
    QVERIFY(m_cart->selectedCues().isEmpty());
    QCOMPARE(multi.size(), 2);
    QVERIFY(multi.last().at(0).value<QList<Cue*>>().isEmpty());
    QCOMPARE(single.size(), 2);
    QCOMPARE(single.last().at(0).value<Cue*>(), nullptr);

    click(0, Qt::ControlModifier);
    QTest::mouseClick(tile(2)->findChild<QLabel*>("titleLabel"), Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(indexesOf(m_cart->selectedCues()), (QList<int>{0, 2}));
    QCOMPARE(indexesOf(multi.last().at(0).value<QList<Cue*>>()), (QList<int>{0, 2}));
}

void CartWidgetTest::pressOnEmptySpaceClears()
{
    click(0);
    click(1, Qt::ControlModifier);
    QSignalSpy multi(m_cart.get(), &CartWidget::multiSelectionChanged);
    QSignalSpy single(m_cart.get(), &CartWidget::cueSelected);
    pressEmptySpace();
    QVERIFY(m_cart->selectedCues().isEmpty());
    QVERIFY(!tile(0)->isSelected());
    QCOMPARE(multi.size(), 1);
    QCOMPARE(single.size(), 1);
    QCOMPARE(single.last().at(0).value<Cue*>(), nullptr);
    pressEmptySpace();
    QCOMPARE(multi.size(), 1);
    QCOMPARE(single.size(), 1);
}

void CartWidgetTest::selectionFromTheTable()
{
    Cue stranger(-1, "elsewhere", "/show/x.wav");
    QSignalSpy multi(m_cart.get(), &CartWidget::multiSelectionChanged);
    QSignalSpy single(m_cart.get(), &CartWidget::cueSelected);
    m_cart->setSelectedCues({nullptr, &stranger, cue(7)});
    QCOMPARE(m_cart->selectedCues(), QList<Cue*>{cue(7)});
    QCOMPARE(single.last().at(0).value<Cue*>(), cue(7));
    // The anchor is the first listed cue of the grid.
    click(5, Qt::ShiftModifier);
    QCOMPARE(indexesOf(m_cart->selectedCues()), (QList<int>{5, 6, 7}));

    single.clear();
    multi.clear();
    m_cart->clearSelection();
    QVERIFY(m_cart->selectedCues().isEmpty());
    QCOMPARE(multi.size(), 1);
    QVERIFY(single.isEmpty());
}

void CartWidgetTest::progressReachesOnlyThePlayingCue()
{
    auto time = [this](int i) { return tile(i)->findChild<QLabel*>("timeLabel")->text(); };
    m_cart->setPlayingCue(cue(1));
    QVERIFY(tile(1)->isPlaying());
    m_cart->updateCueProgress(cue(2), 30000);
    QCOMPARE(time(2), QString("1:00"));
    m_cart->updateCueProgress(cue(1), 45000);
    QCOMPARE(time(1), QString("0:15"));
    m_cart->setPlayingCue(cue(3));
    QVERIFY(!tile(1)->isPlaying());
    QCOMPARE(time(1), QString("1:00"));
    QVERIFY(tile(3)->isPlaying());
    m_cart->clearPlayingCue();
    QVERIFY(!tile(3)->isPlaying());
    m_cart->updateCueProgress(cue(3), 1000);
    QCOMPARE(time(3), QString("1:00"));
}

void CartWidgetTest::emptyListShowsNothing()
{
    m_cart->setCues({});
    QTRY_VERIFY(liveTiles().isEmpty());
    QSignalSpy multi(m_cart.get(), &CartWidget::multiSelectionChanged);
    m_cart->updateCueProgress(cue(0), 1000);
    pressEmptySpace();
    QVERIFY(multi.isEmpty());
    QVERIFY(m_cart->selectedCues().isEmpty());
}

void CartWidgetTest::showModeAndPlayingSurviveARebuild()
{
    QSignalSpy play(m_cart.get(), &CartWidget::playRequested);
    m_cart->setShowMode(true);
    m_cart->setPlayingCue(cue(2));
    m_cart->setCuePaused(cue(2), true);
    m_cart->setColumnCount(3);  // every tile is made anew
    QTRY_COMPARE(liveTiles().size(), 10);
    for (int i = 0; i < 10; ++i)
        QVERIFY(tile(i)->showMode());
    QVERIFY(tile(2)->isPlaying());
    QTest::mouseClick(tile(0)->findChild<QToolButton*>("playButton"), Qt::LeftButton);
    QVERIFY(play.isEmpty());

    m_cart->setShowMode(false);
    m_cart->setCues(cues());
    QTest::mouseClick(tile(0)->findChild<QToolButton*>("playButton"), Qt::LeftButton);
    QCOMPARE(play.size(), 1);
    QCOMPARE(play.at(0).at(0).value<Cue*>(), cue(0));
}

void CartWidgetTest::deletedCuesLeaveTheGrid()
{
    click(4);
    m_cart->setCurrentCue(cue(4), false);
    m_cart->setPlayingCue(cue(4));
    QSignalSpy single(m_cart.get(), &CartWidget::cueSelected);
    Cue* doomed = cue(4);
    m_cues.erase(m_cues.begin() + 4);  // the registry deletes the cue
    QVERIFY(!m_cart->tileOf(doomed));
    QCOMPARE(m_cart->cues().size(), 9);
    QVERIFY(m_cart->selectedCues().isEmpty());
    m_cart->updateCueProgress(doomed, 1000);  // a late report for it changes nothing

    QTRY_COMPARE(single.size(), 1);  // once the deleting operation is over
    QCOMPARE(liveTiles().size(), 9);
    QCOMPARE(single.last().at(0).value<Cue*>(), nullptr);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(tile(i)->number(), i + 1);
    QCOMPARE(tile(4)->cue(), cue(4));
    QVERIFY(!m_cart->grab().isNull());
    m_cart->setCurrentCue(cue(0), true);
    QVERIFY(tile(0)->isCurrent());
}

void CartWidgetTest::renameAndPlayArePassedOn()
{
    QSignalSpy renamed(m_cart.get(), &CartWidget::cueNameChanged);
    CartButtonItem* t = tile(2);
    QTest::mouseDClick(t, Qt::LeftButton, {}, QPoint(t->width() / 2, t->height() - 4));
    auto* editor = t->findChild<QLineEdit*>("nameEdit");
    QVERIFY(editor->isVisible());
    editor->setText("Bows");
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(renamed.size(), 1);
    QCOMPARE(renamed.at(0).at(0).value<Cue*>(), cue(2));
    QCOMPARE(renamed.at(0).at(1).toString(), QString("Bows"));
    m_cart->refreshCue(cue(2));
    QCOMPARE(t->findChild<QLabel*>("titleLabel")->text(), QString("Bows"));
}

void CartWidgetTest::currentCueIsMarked()
{
    m_cart->setCurrentCue(cue(5), true);
    QVERIFY(tile(5)->isCurrent());
    m_cart->setCurrentCue(cue(6), false);
    QVERIFY(!tile(5)->isCurrent());
    QVERIFY(tile(6)->isCurrent());
    m_cart->setItemHeight(200);
    QVERIFY(tile(6)->isCurrent());
    m_cart->setCurrentCue(nullptr, true);
    QVERIFY(!tile(6)->isCurrent());
}

QTEST_MAIN(CartWidgetTest)
#include "CartWidgetTest.moc"
