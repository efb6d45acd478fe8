#include "lists/CartButtonItem.h"
#include "model/Cue.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <memory>

// One cart tile: its texts, the remaining time and progress strip of the
// loop region, its colours, the inline rename and what show mode blocks.
class CartButtonItemTest : public QObject {
    Q_OBJECT

private:
    // A cue of the cart, not stored.
    static std::unique_ptr<Cue> makeCue(const QString& name, qint64 durationMs = 60000)
    {
        auto cue = std::make_unique<Cue>(-1, name, "/show/" + name + ".wav");
        cue->setDuration(durationMs);
        cue->setLoopRange(0, durationMs, true);
        return cue;
    }
    static std::unique_ptr<CartButtonItem> makeTile(Cue* cue, int number = 1, int width = 204)
    {
        auto tile = std::make_unique<CartButtonItem>(cue, number, nullptr, 80);
        tile->resize(width, 80);
        tile->show();
        return tile;
    }
    static QString text(CartButtonItem* tile, const char* label)
    {
        return tile->findChild<QLabel*>(label)->text();
    }
    static QColor pixel(CartButtonItem* tile, int x, int y) { return tile->grab().toImage().pixelColor(x, y); }
    static bool near(const QColor& a, const QColor& b)
    {
        return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3
            && std::abs(a.blue() - b.blue()) <= 3;
    }
    static QPoint ownArea(CartButtonItem* tile) { return QPoint(tile->width() / 2, tile->height() - 4); }

private Q_SLOTS:
    void textsFollowTheCue_data();
    void textsFollowTheCue();
    void formatTime_data();
    void formatTime();
    void longNamesAreElidedToTheWidth();
    void progressCountsTheLoopRegion_data();
    void progressCountsTheLoopRegion();
    void stoppingEndsTheStrip();
    void cueColourPaintsTheStripes();
    void textsKeepClearOfStripeAndFrame();
    void renameSetsTheAliasUnlessBlank();
    void clicksCarryTheModifiers();
    void dragGestureBeyondTheStartDistance();
    void showModeBlocksPlayRenameAndDrag();
};

void CartButtonItemTest::textsFollowTheCue_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<int>("preWaitMs");
    QTest::addColumn<int>("loops");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("preWait");
    QTest::addColumn<QString>("loopText");
    QTest::newRow("name, no pre-wait, once") << QString() << 0 << 1 << "Intro" << QString() << "1次";
    QTest::newRow("alias, pre-wait, endless") << "Walk-in" << 1500 << 0 << "Walk-in" << "等1.5s" << "∞";
    QTest::newRow("three loops") << QString() << 2000 << 3 << "Intro" << "等2.0s" << "3次";
}

void CartButtonItemTest::textsFollowTheCue()
{
    QFETCH(QString, alias);
    QFETCH(int, preWaitMs);
    QFETCH(int, loops);
    QFETCH(QString, title);
    QFETCH(QString, preWait);
    QFETCH(QString, loopText);
    auto cue = makeCue("Intro", 95000);
    cue->setAlias(alias);
    cue->setPreWait(preWaitMs);
    cue->setLoopCount(loops);
    auto tile = makeTile(cue.get(), 7, 300);
    tile->updateInfo();
    QCOMPARE(text(tile.get(), "titleLabel"), title);
    QCOMPARE(text(tile.get(), "numberLabel"), QString("7"));
    QCOMPARE(text(tile.get(), "preWaitLabel"), preWait);
    QCOMPARE(text(tile.get(), "loopLabel"), loopText);
    QCOMPARE(text(tile.get(), "timeLabel"), QString("1:35"));
    QCOMPARE(tile->toolTip(), QString("#7 %1").arg(title));
}

void CartButtonItemTest::formatTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << "0:00";
    QTest::newRow("negative") << qint64(-5) << "0:00";
    QTest::newRow("under a second") << qint64(999) << "0:00";
    QTest::newRow("last second of a minute") << qint64(59999) << "0:59";
    QTest::newRow("a minute and a second") << qint64(61000) << "1:01";
    QTest::newRow("an hour") << qint64(3600000) << "60:00";
}

void CartButtonItemTest::formatTime()
{
    QFETCH(qint64, ms);
    QFETCH(QString, expected);
    QCOMPARE(CartButtonItem::formatTime(ms), expected);
}

void CartButtonItemTest::longNamesAreElidedToTheWidth()
{
    auto cue = makeCue("A very long name for the finale of the second act");
    auto tile = makeTile(cue.get(), 1, 120);
    const QString narrow = text(tile.get(), "titleLabel");
    QVERIFY2(narrow.endsWith(QChar(0x2026)), qPrintable(narrow));
    tile->resize(1400, 80);
    QApplication::processEvents();
    QCOMPARE(text(tile.get(), "titleLabel"), cue->name());
}

void CartButtonItemTest::progressCountsTheLoopRegion_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("remaining");
    QTest::addColumn<int>("played");  // strip pixels played, of 200
    QTest::newRow("before the region") << qint64(9000) << "0:30" << 0;
    QTest::newRow("at its start") << qint64(10000) << "0:30" << 0;
    QTest::newRow("half way") << qint64(25000) << "0:15" << 100;
    QTest::newRow("at its end") << qint64(40000) << "0:00" << 200;
}

void CartButtonItemTest::progressCountsTheLoopRegion()
{
    QFETCH(qint64, position);
    QFETCH(QString, remaining);
    QFETCH(int, played);
    auto cue = makeCue("Song", 60000);
    cue->setLoopRange(10000, 40000, true);
    auto tile = makeTile(cue.get(), 1, 204);  // a strip of 200 px from x 4
    const int h = tile->height();
    QCOMPARE(text(tile.get(), "timeLabel"), QString("0:30"));
    tile->setPlaying(true);
    tile->setPosition(position);
    QCOMPARE(text(tile.get(), "timeLabel"), remaining);

    const QImage shot = tile->grab().toImage();
    const QColor playedColor(0x3c, 0x41, 0x4b);
    // rgb(0, 110, 200) at alpha 200 over the tile's fill #2a2a2a
    const QColor restColor(9, 95, 166);
    const int y = h - 4;
    if (played > 0) {
        QCOMPARE(shot.pixelColor(4, y), playedColor);
        QCOMPARE(shot.pixelColor(std::min(played + 3, 202), y), playedColor);  // x 203 is the frame
    }
    if (played < 200) {
        QVERIFY2(near(shot.pixelColor(played + 4, y), restColor), qPrintable(shot.pixelColor(played + 4, y).name()));
        QVERIFY(near(shot.pixelColor(202, y), restColor));
    }
    // The strip leaves the two rows above it to the band's fill.
    QCOMPARE(shot.pixelColor(100, h - 9), QColor(0x2a, 0x2a, 0x2a));
}

void CartButtonItemTest::stoppingEndsTheStrip()
{
    auto cue = makeCue("Song", 60000);
    auto tile = makeTile(cue.get());
    tile->setPlaying(true);
    tile->setPosition(30000);
    QCOMPARE(text(tile.get(), "timeLabel"), QString("0:30"));
    tile->setPlaying(false);
    QCOMPARE(text(tile.get(), "timeLabel"), QString("1:00"));
    QCOMPARE(pixel(tile.get(), 100, tile->height() - 4), QColor(0x2a, 0x2a, 0x2a));
}

void CartButtonItemTest::cueColourPaintsTheStripes()
{
    auto plain = makeCue("Plain");
    auto coloured = makeCue("Coloured");
    coloured->setColor("#5a3a3a");
    for (Cue* cue : {plain.get(), coloured.get()}) {
        auto tile = makeTile(cue);
        tile->setPlaying(true);
        tile->setPosition(0);
        const QImage shot = tile->grab().toImage();
        const int h = tile->height();
        const QColor stripe = cue->color().isEmpty() ? QColor("#666666") : QColor(cue->color());
        QCOMPARE(shot.pixelColor(2, 20), stripe);
        // The band carries the cue's own colour only.
        QCOMPARE(shot.pixelColor(2, h - 4), cue->color().isEmpty() ? QColor(0x2a, 0x2a, 0x2a) : stripe);
    }
}

// "等2.0s" touched the accent stripe on the left; "1次" comes as close to
// the frame on the right. Both keep some air, measured on the painted tile.
void CartButtonItemTest::textsKeepClearOfStripeAndFrame()
{
    auto cue = makeCue("Intro", 95000);
    cue->setColor("#5a3a3a");
    cue->setPreWait(2000);
    cue->setLoopCount(3);
    auto tile = makeTile(cue.get(), 1, 204);
    tile->setSelected(true);  // the widest frame
    tile->updateInfo();
    QApplication::processEvents();
    const QImage shot = tile->grab().toImage();
    // Text is light; fill, stripe and frame are dark or blue.
    auto isText = [&](int x, int y) { return qGray(shot.pixel(x, y)) > 150; };
    for (const char* name : {"preWaitLabel", "loopLabel", "titleLabel", "numberLabel"}) {
        const QRect area = tile->findChild<QLabel*>(name)->geometry();
        int left = shot.width();
        int right = -1;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                if (area.contains(x, y) && isText(x, y)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        QVERIFY2(right >= 0, name);
        QVERIFY2(left >= 4 + 4, qPrintable(QStringLiteral("%1 starts at x %2").arg(name).arg(left)));
        QVERIFY2(right <= shot.width() - 1 - 2 - 4,
                 qPrintable(QStringLiteral("%1 ends at x %2 of %3").arg(name).arg(right).arg(shot.width())));
    }
}

void CartButtonItemTest::renameSetsTheAliasUnlessBlank()
{
    auto cue = makeCue("Song");
    auto tile = makeTile(cue.get());
    QSignalSpy renamed(tile.get(), &CartButtonItem::nameChanged);
    auto* editor = tile->findChild<QLineEdit*>("nameEdit");

    QTest::mouseDClick(tile.get(), Qt::LeftButton, {}, ownArea(tile.get()));
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->text(), QString("Song"));
    editor->setText("   ");
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(!editor->isVisible());
    QVERIFY(renamed.isEmpty());
    QCOMPARE(cue->alias(), QString());

    // A double-click on the title label opens the editor too.
    QTest::mouseDClick(tile->findChild<QLabel*>("titleLabel"), Qt::LeftButton);
    QVERIFY(editor->isVisible());
    editor->setText("  Finale ");
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(renamed.size(), 1);
    QCOMPARE(renamed.at(0).at(0).value<Cue*>(), cue.get());
    QCOMPARE(renamed.at(0).at(1).toString(), QString("Finale"));
    QCOMPARE(cue->alias(), QString("Finale"));
    QCOMPARE(text(tile.get(), "titleLabel"), QString("Finale"));
    QVERIFY(!editor->isVisible());
}

void CartButtonItemTest::clicksCarryTheModifiers()
{
    auto cue = makeCue("Song");
    auto tile = makeTile(cue.get());
    QSignalSpy clicked(tile.get(), &CartButtonItem::clicked);
    QTest::mouseClick(tile.get(), Qt::LeftButton, Qt::ControlModifier, ownArea(tile.get()));
    QTest::mouseClick(tile->findChild<QLabel*>("timeLabel"), Qt::LeftButton, Qt::ShiftModifier);
    QTest::mouseClick(tile.get(), Qt::RightButton, {}, ownArea(tile.get()));
    QCOMPARE(clicked.size(), 2);
    QCOMPARE(clicked.at(0).at(0).value<Cue*>(), cue.get());
    QCOMPARE(clicked.at(0).at(1).value<Qt::KeyboardModifiers>(), Qt::KeyboardModifiers(Qt::ControlModifier));
    QCOMPARE(clicked.at(1).at(1).value<Qt::KeyboardModifiers>(), Qt::KeyboardModifiers(Qt::ShiftModifier));
}

void CartButtonItemTest::dragGestureBeyondTheStartDistance()
{
    auto cue = makeCue("Song");
    auto tile = makeTile(cue.get());
    QSignalSpy drag(tile.get(), &CartButtonItem::dragStarted);
    const QPoint start = ownArea(tile.get());
    const int distance = QApplication::startDragDistance();
    QTest::mousePress(tile.get(), Qt::LeftButton, {}, start);
    QTest::mouseMove(tile.get(), start + QPoint(distance / 2, 0));
    QVERIFY(drag.isEmpty());
    QTest::mouseMove(tile.get(), start + QPoint(distance + 2, 0));
    QTest::mouseMove(tile.get(), start + QPoint(distance + 6, 0));
    QTest::mouseRelease(tile.get(), Qt::LeftButton, {}, start + QPoint(distance + 6, 0));
    QCOMPARE(drag.size(), 1);
    QCOMPARE(drag.at(0).at(0).value<Cue*>(), cue.get());
}

void CartButtonItemTest::showModeBlocksPlayRenameAndDrag()
{
    auto cue = makeCue("Song");
    auto tile = makeTile(cue.get());
    QSignalSpy play(tile.get(), &CartButtonItem::playClicked);
    QSignalSpy clicked(tile.get(), &CartButtonItem::clicked);
    QSignalSpy drag(tile.get(), &CartButtonItem::dragStarted);
    auto* button = tile->findChild<QToolButton*>("playButton");
    auto* editor = tile->findChild<QLineEdit*>("nameEdit");

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(play.size(), 1);
    QCOMPARE(play.at(0).at(0).value<Cue*>(), cue.get());

    tile->setShowMode(true);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(play.size(), 1);
    QTest::mouseDClick(tile.get(), Qt::LeftButton, {}, ownArea(tile.get()));
    QTest::mouseDClick(tile->findChild<QLabel*>("titleLabel"), Qt::LeftButton);
    QVERIFY(!editor->isVisible());
    const QPoint start = ownArea(tile.get());
    QTest::mousePress(tile.get(), Qt::LeftButton, {}, start);
    QTest::mouseMove(tile.get(), start + QPoint(40, 0));
    QTest::mouseRelease(tile.get(), Qt::LeftButton, {}, start + QPoint(40, 0));
    QVERIFY(drag.isEmpty());
    QVERIFY(clicked.size() >= 1);  // clicks still select in show mode
}

QTEST_MAIN(CartButtonItemTest)
#include "CartButtonItemTest.moc"
