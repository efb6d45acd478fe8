#include "lists/RowDropRules.h"
#include "model/Cue.h"

#include <QtTest>

#include <memory>
#include <vector>

// Where dragged rows and files land over a row of the cue table, and the
// order a row move gives.
class RowDropRulesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fileDragBands_data();
    void fileDragBands();
    void rowDragLine_data();
    void rowDragLine();
    void movedOrder_data();
    void movedOrder();
};

// Row 3 of a table of 6 rows spans y 90..119 (30 px): quarter 7, middle 104.
void RowDropRulesTest::fileDragBands_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<int>("insertRow");
    QTest::addColumn<bool>("above");

    QTest::newRow("top edge inserts before") << 3 << 90 << false << 3 << true;
    QTest::newRow("last pixel of the upper quarter") << 3 << 96 << false << 3 << true;
    QTest::newRow("first pixel of the middle half") << 3 << 97 << true << -1 << false;
    QTest::newRow("middle") << 3 << 104 << true << -1 << false;
    QTest::newRow("last pixel of the middle half") << 3 << 112 << true << -1 << false;
    QTest::newRow("first pixel of the lower quarter") << 3 << 113 << false << 4 << false;
    QTest::newRow("bottom edge inserts after") << 3 << 119 << false << 4 << false;
    QTest::newRow("below the last row appends") << -1 << 500 << false << 6 << false;
}

void RowDropRulesTest::fileDragBands()
{
    QFETCH(int, row);
    QFETCH(int, y);
    QFETCH(bool, replace);
    QFETCH(int, insertRow);
    QFETCH(bool, above);
    const RowDropRules::FileDrop drop = RowDropRules::fileDragAt(row, row * 30, row * 30 + 29, y, 6);
    QCOMPARE(drop.replace, replace);
    QCOMPARE(drop.replaceRow, replace ? row : -1);
    QCOMPARE(drop.insert.row, insertRow);
    if (!replace)
        QCOMPARE(drop.insert.above, above);
}

void RowDropRulesTest::rowDragLine_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("insertRow");
    QTest::addColumn<bool>("above");

    QTest::newRow("upper half: above the row") << 2 << 61 << 4 << 2 << true;
    QTest::newRow("exact middle counts as upper") << 2 << 74 << 4 << 2 << true;
    QTest::newRow("lower half: below the row") << 2 << 75 << 4 << 3 << false;
    QTest::newRow("lower half of the last row: the end") << 3 << 115 << 4 << 4 << false;
    QTest::newRow("below the last row: the end") << -1 << 300 << 4 << 4 << false;
    QTest::newRow("empty table") << -1 << 10 << 0 << 0 << false;
}

void RowDropRulesTest::rowDragLine()
{
    QFETCH(int, row);
    QFETCH(int, y);
    QFETCH(int, rowCount);
    QFETCH(int, insertRow);
    QFETCH(bool, above);
    const RowDropRules::Insert insert = RowDropRules::rowDragAt(row, row * 30, row * 30 + 29, y, rowCount);
    QCOMPARE(insert.row, insertRow);
    QCOMPARE(insert.above, above);
}

void RowDropRulesTest::movedOrder_data()
{
    QTest::addColumn<QList<int>>("dragged");  // rows of a six-row table, in drag order
    QTest::addColumn<int>("insertRow");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("row 0 into the gap between 1 and 2") << QList<int>{0} << 2 << QList<int>{1, 0, 2, 3, 4, 5};
    QTest::newRow("last row to the top") << QList<int>{5} << 0 << QList<int>{5, 0, 1, 2, 3, 4};
    QTest::newRow("first row to the end") << QList<int>{0} << 6 << QList<int>{1, 2, 3, 4, 5, 0};
    QTest::newRow("onto its own place") << QList<int>{2} << 2 << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("just below itself") << QList<int>{2} << 3 << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("two apart, moved together down") << QList<int>{1, 3} << 5 << QList<int>{0, 2, 4, 1, 3, 5};
    QTest::newRow("two apart, moved together up") << QList<int>{2, 4} << 1 << QList<int>{0, 2, 4, 1, 3, 5};
    QTest::newRow("drag order kept") << QList<int>{4, 1} << 0 << QList<int>{4, 1, 0, 2, 3, 5};
    QTest::newRow("surrounding the line") << QList<int>{1, 2, 3} << 2 << QList<int>{0, 1, 2, 3, 4, 5};
}

void RowDropRulesTest::movedOrder()
{
    QFETCH(QList<int>, dragged);
    QFETCH(int, insertRow);
    QFETCH(QList<int>, expected);
    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> shown;
    for (int i = 0; i < 6; ++i) {
        owned.push_back(std::make_unique<Cue>());
        shown.append(owned.back().get());
    }
    QList<Cue*> moving;
    for (int row : dragged)
        moving.append(shown[row]);
    QList<int> order;
    for (Cue* cue : RowDropRules::movedOrder(shown, moving, insertRow))
        order.append(int(shown.indexOf(cue)));
    QCOMPARE(order, expected);
}

QTEST_GUILESS_MAIN(RowDropRulesTest)
#include "RowDropRulesTest.moc"
