#include "lists/ImportProgressDialog.h"

#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QtTest>

// The thin progress dialog of imports and long pastes: its size over the
// table, its bar, and the events it lets through on each step.
class ImportProgressDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void widthFollowsTheParent_data();
    void widthFollowsTheParent();
    void withoutParentCentredOnTheScreen();
    void progressBeforeTotalDoesNothing();
    void progressIsClampedAndLetsEventsRun();
};

void ImportProgressDialogTest::widthFollowsTheParent_data()
{
    QTest::addColumn<int>("parentWidth");
    QTest::addColumn<int>("width");
    QTest::newRow("wide table: at most 600") << 1000 << 600;
    QTest::newRow("70 percent") << 500 << 350;
    QTest::newRow("narrow table: at least 300") << 400 << 300;
}

void ImportProgressDialogTest::widthFollowsTheParent()
{
    QFETCH(int, parentWidth);
    QFETCH(int, width);
    QWidget parent;
    parent.setGeometry(100, 50, parentWidth, 400);
    ImportProgressDialog dialog(&parent);
    QCOMPARE(dialog.size(), QSize(width, 80));
    QVERIFY(dialog.isModal());
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    const QPoint centre = parent.mapToGlobal(parent.rect().center());
    QCOMPARE(dialog.pos(), centre - QPoint(width / 2, 40));
}

void ImportProgressDialogTest::withoutParentCentredOnTheScreen()
{
    ImportProgressDialog dialog(nullptr);
    QCOMPARE(dialog.size(), QSize(400, 80));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(dialog.pos(), screen.center() - QPoint(200, 40));
}

void ImportProgressDialogTest::progressBeforeTotalDoesNothing()
{
    ImportProgressDialog dialog(nullptr);
    bool ran = false;
    QTimer::singleShot(0, &dialog, [&ran] { ran = true; });
    dialog.setProgress(5);
    QCOMPARE(dialog.value(), 0);
    QVERIFY(!ran);  // no events processed either
}

void ImportProgressDialogTest::progressIsClampedAndLetsEventsRun()
{
    ImportProgressDialog dialog(nullptr);
    dialog.setTotal(10);
    QCOMPARE(dialog.findChild<QProgressBar*>()->maximum(), 10);
    bool ran = false;
    QTimer::singleShot(0, &dialog, [&ran] { ran = true; });
    dialog.setProgress(4);
    QCOMPARE(dialog.value(), 4);
    QVERIFY(ran);
    dialog.setProgress(12);
    QCOMPARE(dialog.value(), 10);  // a full bar
    dialog.reset();
    QCOMPARE(dialog.total(), 0);
    QCOMPARE(dialog.value(), 0);
}

QTEST_MAIN(ImportProgressDialogTest)
#include "ImportProgressDialogTest.moc"
