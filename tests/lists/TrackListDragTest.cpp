#include "TrackListFixture.h"
#include "lists/GroupedPlaylistManager.h"

#include <QApplication>
#include <QTreeView>
#include <QSignalSpy>
#include <QtTest>

// Rows dragged with the mouse, with real mouse events on the table: when a
// press becomes a drag, where the insert line stands, moves and copies
// dropped inside the table, and drags released outside it (for the playlist
// tree to take).
class TrackListDragTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    QWidget* viewport() const { return f.table->viewport(); }
    QPoint rowPoint(int row, double share = 0.5) const;  // share of the row's height from its top
    QStringList order() const { return f.shownNames(); }
    QStringList storedOrder() const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void dragStartsBeyondTheStartDistance_data();
    void dragStartsBeyondTheStartDistance();
    void rowMoves_data();
    void rowMoves();
    void insertLineFollowsThePointer_data();
    void insertLineFollowsThePointer();
    void ctrlDragCopiesTheSelectionAndThePressedRow();
    void releaseFarOutsideOnlyReportsTheDrop();
    void releaseJustOutsideStillDrops();
    void pressWithoutDragLeavesTheTableAsItWas();
    void showModeStartsNoDrag();
    void dropOnAPlaylistOfTheTreeCopiesThere();
};

void TrackListDragTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void TrackListDragTest::init()
{
    f.setUp();
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 4);
    QVERIFY(!cues.contains(nullptr));
    f.trackList->loadPlaylist(playlist);
    QVERIFY(f.showTable());
}

void TrackListDragTest::cleanup()
{
    f.tearDown();
}

QPoint TrackListDragTest::rowPoint(int row, double share) const
{
    const QRect rect = f.table->visualRect(f.cell(row, 1));
    return QPoint(rect.left() + 20, rect.top() + int(share * (rect.height() - 1)));
}

QStringList TrackListDragTest::storedOrder() const
{
    QStringList names;
    for (int id : f.registry->getPlaylistCueIds(playlist))
        names.append(f.registry->getCue(id)->name());
    return names;
}

void TrackListDragTest::dragStartsBeyondTheStartDistance_data()
{
    QTest::addColumn<int>("extra");  // pixels beyond the start distance
    QTest::addColumn<bool>("starts");
    QTest::newRow("exactly the start distance") << 0 << false;
    QTest::newRow("one pixel more") << 1 << true;
}

void TrackListDragTest::dragStartsBeyondTheStartDistance()
{
    QFETCH(int, extra);
    QFETCH(bool, starts);
    QSignalSpy started(f.trackList.get(), &TrackListManager::cueDragStarted);
    const QPoint press = rowPoint(1);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    // Split between the two axes: the distance is the Manhattan length.
    const int distance = QApplication::startDragDistance() + extra;
    QTest::mouseMove(viewport(), press + QPoint(distance / 2, distance - distance / 2));
    QCOMPARE(started.size(), starts ? 1 : 0);
    QCOMPARE(f.trackList->isRowDragActive(), starts);
    if (starts) {
        QCOMPARE(viewport()->cursor().shape(), Qt::DragMoveCursor);
        QCOMPARE(f.trackList->draggedCues(), QList<Cue*>{cues[1]});
    }
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, press + QPoint(distance, 0));
    QVERIFY(!f.trackList->isRowDragActive());
    QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
}

void TrackListDragTest::rowMoves_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("toRow");  // row under the pointer at the release, -1 below the last
    QTest::addColumn<double>("share");  // where in that row
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("row 0 into the gap between rows 1 and 2")
        << 0 << 2 << 0.2 << QStringList{"c1", "c0", "c2", "c3"};
    QTest::newRow("row 0 onto the lower half of row 1 (the same gap)")
        << 0 << 1 << 0.8 << QStringList{"c1", "c0", "c2", "c3"};
    QTest::newRow("last row to the top") << 3 << 0 << 0.1 << QStringList{"c3", "c0", "c1", "c2"};
    QTest::newRow("row 1 below the last row") << 1 << -1 << 0.0 << QStringList{"c0", "c2", "c3", "c1"};
    QTest::newRow("onto itself") << 2 << 2 << 0.3 << QStringList{"c0", "c1", "c2", "c3"};
}

void TrackListDragTest::rowMoves()
{
    QFETCH(int, from);
    QFETCH(int, toRow);
    QFETCH(double, share);
    QFETCH(QStringList, expected);
    QSignalSpy started(f.trackList.get(), &TrackListManager::cueDragStarted);
    QSignalSpy moved(f.trackList.get(), &TrackListManager::cueDragMoved);
    QSignalSpy ended(f.trackList.get(), &TrackListManager::cueDragEnded);

    const QPoint press = rowPoint(from);
    const QPoint target = toRow >= 0 ? rowPoint(toRow, share)
                                     : QPoint(rowPoint(3).x(), f.table->visualRect(f.cell(3, 0)).bottom() + 20);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(viewport(), press + QPoint(0, 30));
    QTest::mouseMove(viewport(), target);
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, target);

    QCOMPARE(order(), expected);
    QCOMPARE(storedOrder(), expected);
    QCOMPARE(started.size(), 1);
    QCOMPARE(moved.size(), 2);
    QCOMPARE(moved.last().at(0).toPoint(), viewport()->mapToGlobal(target));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).toPoint(), viewport()->mapToGlobal(target));
    QCOMPARE(ended.first().at(1).value<QList<Cue*>>(), QList<Cue*>{cues[from]});
    // The moved row stays selected where it landed; the drag is over.
    QCOMPARE(f.trackList->selectedCues(), QList<Cue*>{cues[from]});
    QCOMPARE(f.trackList->insertRow(), -1);
    QVERIFY(!f.trackList->isRowDragActive());
}

void TrackListDragTest::insertLineFollowsThePointer_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("offset");  // from the top of the row's first cell; -1: its middle
    QTest::addColumn<int>("insertRow");
    QTest::addColumn<bool>("above");

    QTest::newRow("upper half") << 2 << 2 << 2 << true;
    QTest::newRow("exact middle counts as upper") << 2 << -1 << 2 << true;
    QTest::newRow("one below the middle") << 2 << -2 << 3 << false;
    QTest::newRow("lower half of the last row") << 3 << 1000 << 4 << false;
}

void TrackListDragTest::insertLineFollowsThePointer()
{
    QFETCH(int, row);
    QFETCH(int, offset);
    QFETCH(int, insertRow);
    QFETCH(bool, above);
    const QRect cell = f.table->visualRect(f.cell(row, 0));
    const int middle = (cell.top() + cell.bottom()) / 2;
    const int y = offset == -1 ? middle : offset == -2 ? middle + 1 : std::min(cell.top() + offset, cell.bottom());
    const QPoint press = rowPoint(0);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(viewport(), press + QPoint(40, 0));
    QTest::mouseMove(viewport(), QPoint(60, y));
    QCOMPARE(f.trackList->insertRow(), insertRow);
    QCOMPARE(f.trackList->isInsertAbove(), above);

    // The line is drawn where the rows meet, over the band between them.
    const QImage image = viewport()->grab().toImage();
    const int lineY = insertRow < f.trackList->rowCount()
        ? f.table->visualRect(f.cell(insertRow, 0)).top() - (insertRow == 0 ? 1 : 0)
        : f.table->visualRect(f.cell(insertRow - 1, 0)).bottom() + 1;
    const QRect at(0, lineY - 1, viewport()->width(), 3);
    bool drawn = false;
    for (int x = 10; x < viewport()->width() - 10 && !drawn; x += 7)
        for (int dy = 0; dy < at.height() && !drawn; ++dy)
            drawn = image.pixelColor(x * image.devicePixelRatio(), (at.top() + dy) * image.devicePixelRatio())
                    == QColor(0, 200, 255);
    QVERIFY(drawn);
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(-500, -500));
}

void TrackListDragTest::ctrlDragCopiesTheSelectionAndThePressedRow()
{
    cues[2]->setRemark("cue two");
    cues[2]->setVolumeA(73);
    f.trackList->selectRow(0);
    QSignalSpy status(f.trackList.get(), &TrackListManager::statusMessage);
    QSignalSpy ended(f.trackList.get(), &TrackListManager::cueDragEnded);

    // Ctrl on an unselected row: that row joins the dragged selection.
    const QPoint press = rowPoint(2);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::ControlModifier, press);
    QVERIFY(f.trackList->isCopyDrag());
    QCOMPARE(f.trackList->draggedCues(), (QList<Cue*>{cues[0], cues[2]}));
    QTest::mouseMove(viewport(), press + QPoint(0, 25));
    QCOMPARE(viewport()->cursor().shape(), Qt::DragCopyCursor);
    const QPoint target = rowPoint(3, 0.1);
    QTest::mouseMove(viewport(), target);
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, target);

    QCOMPARE(order(), (QStringList{"c0", "c1", "c2", "c0", "c2", "c3"}));
    QCOMPARE(storedOrder(), order());
    QCOMPARE(ended.first().at(1).value<QList<Cue*>>(), (QList<Cue*>{cues[0], cues[2]}));
    QCOMPARE(f.texts(status).last(), QString("已复制 2 项"));
    QCOMPARE(status.last().at(1).toInt(), 1000);
    Cue* copy = f.trackList->cueAt(4);
    QVERIFY(copy != cues[2]);
    QVERIFY(copy->id() > 0 && copy->id() != cues[2]->id());
    QCOMPARE(copy->remark(), QString("cue two"));
    QCOMPARE(copy->volumeA(), 73);
    // The copies are selected; the sources stay where they were.
    QCOMPARE(f.trackList->selectedCues().size(), 2);
    QVERIFY(f.table->selectionModel()->isRowSelected(3));
    QVERIFY(f.table->selectionModel()->isRowSelected(4));
    QCOMPARE(f.trackList->cueAt(0), cues[0]);
}

void TrackListDragTest::releaseFarOutsideOnlyReportsTheDrop()
{
    QSignalSpy moved(f.trackList.get(), &TrackListManager::cueDragMoved);
    QSignalSpy ended(f.trackList.get(), &TrackListManager::cueDragEnded);
    const QPoint press = rowPoint(0);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(viewport(), rowPoint(2));
    QCOMPARE(f.trackList->insertRow(), 2);
    const QPoint outside(-(TrackListManager::kDragZoneMargin + 1), rowPoint(2).y());
    QTest::mouseMove(viewport(), outside);
    // The line goes, the position is still reported (for the playlist tree).
    QCOMPARE(f.trackList->insertRow(), -1);
    QCOMPARE(moved.size(), 2);
    QCOMPARE(moved.last().at(0).toPoint(), viewport()->mapToGlobal(outside));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, outside);

    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).toPoint(), viewport()->mapToGlobal(outside));
    QCOMPARE(ended.first().at(1).value<QList<Cue*>>(), QList<Cue*>{cues[0]});
    QCOMPARE(order(), (QStringList{"c0", "c1", "c2", "c3"}));
    QVERIFY(!f.trackList->isRowDragActive());
}

void TrackListDragTest::releaseJustOutsideStillDrops()
{
    const QPoint press = rowPoint(3);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(viewport(), press - QPoint(0, 30));
    const QPoint nearby(-TrackListManager::kDragZoneMargin, rowPoint(1, 0.2).y());
    QTest::mouseMove(viewport(), nearby);
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, nearby);
    QCOMPARE(order(), (QStringList{"c0", "c3", "c1", "c2"}));
}

void TrackListDragTest::pressWithoutDragLeavesTheTableAsItWas()
{
    QSignalSpy started(f.trackList.get(), &TrackListManager::cueDragStarted);
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(1));
    QCOMPARE(f.trackList->selectedCues(), QList<Cue*>{cues[1]});
    // A later click elsewhere selects as usual.
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(3));
    QCOMPARE(f.trackList->selectedCues(), QList<Cue*>{cues[3]});
    QVERIFY(started.isEmpty());
    QCOMPARE(order(), (QStringList{"c0", "c1", "c2", "c3"}));

    // And after a drag, too.
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(0));
    QTest::mouseMove(viewport(), rowPoint(2, 0.2));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(2, 0.2));
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(3));
    QCOMPARE(f.trackList->selectedCues(), QList<Cue*>{cues[3]});
}

void TrackListDragTest::showModeStartsNoDrag()
{
    f.trackList->setShowMode(true);
    QSignalSpy started(f.trackList.get(), &TrackListManager::cueDragStarted);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(0));
    QTest::mouseMove(viewport(), rowPoint(3));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(3));
    QVERIFY(started.isEmpty());
    QCOMPARE(order(), (QStringList{"c0", "c1", "c2", "c3"}));
}

void TrackListDragTest::dropOnAPlaylistOfTheTreeCopiesThere()
{
    // Wired as the main window wires them: the tree follows the table's
    // drag by screen positions and hands the cues to the table's paste.
    const int other = f.newPlaylist("other");
    f.addCue(other, "o0.wav");
    QTreeView treeView;
    treeView.resize(260, 300);
    treeView.move(f.table->geometry().right() + 50, f.table->geometry().top());
    auto* tree = new GroupedPlaylistManager(&treeView, nullptr, &treeView, f.registry.get());
    treeView.show();
    QVERIFY(QTest::qWaitForWindowExposed(&treeView));
    TrackListManager* list = f.trackList.get();
    connect(list, &TrackListManager::cueDragStarted, tree, &GroupedPlaylistManager::onExternalDragStarted);
    connect(list, &TrackListManager::cueDragMoved, tree, &GroupedPlaylistManager::onExternalDragMoved);
    connect(list, &TrackListManager::cueDragEnded, tree, &GroupedPlaylistManager::onExternalDragEnded);
    connect(tree, &GroupedPlaylistManager::cueDroppedOnPlaylist, list,
            [list](int playlistId, const QList<Cue*>& dropped) { list->pasteCues(dropped, playlistId, -1, nullptr); });

    QModelIndex target;
    for (int row = 0; row < treeView.model()->rowCount(); ++row) {
        const QModelIndex index = treeView.model()->index(row, 0);
        if (index.data(256).toInt() == other)
            target = index;
    }
    QVERIFY(target.isValid());
    const QPoint overTarget =
        viewport()->mapFromGlobal(treeView.viewport()->mapToGlobal(treeView.visualRect(target).center()));

    const QPoint press = rowPoint(1);
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(viewport(), press + QPoint(0, 30));
    QTest::mouseMove(viewport(), overTarget);
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, overTarget);

    QCOMPARE(order(), (QStringList{"c0", "c1", "c2", "c3"}));  // the shown playlist is untouched
    QStringList names;
    for (int id : f.registry->getPlaylistCueIds(other))
        names.append(f.registry->getCue(id)->name());
    QCOMPARE(names, (QStringList{"o0", "c1"}));
    QVERIFY(f.registry->getPlaylistCueIds(other).last() != cues[1]->id());  // a copy
}

QTEST_MAIN(TrackListDragTest)
#include "TrackListDragTest.moc"
