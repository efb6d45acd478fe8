#include "TrackListFixture.h"
#include "lists/CenterDelegate.h"
#include "lists/LeftAlignDelegate.h"
#include "lists/PlayingRowHighlightDelegate.h"

#include <QApplication>
#include <QFocusEvent>
#include <QImage>
#include <QLineEdit>
#include <QStyleOptionViewItem>
#include <QtTest>

namespace {

bool isWhite(QColor c)
{
    return c.red() > 230 && c.green() > 230 && c.blue() > 230;
}

bool isToPlayBlue(QColor c)
{
    return c.blue() > 120 && c.red() < 40 && c.blue() > c.green();
}

QColor over(QColor top, int alpha, QColor below)
{
    auto mix = [&](int a, int b) { return (a * alpha + b * (255 - alpha) + 127) / 255; };
    return QColor(mix(top.red(), below.red()), mix(top.green(), below.green()), mix(top.blue(), below.blue()));
}

bool near(QColor a, QColor b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// Opens the option set-up of a delegate to the test.
template <typename Delegate>
struct Exposed : Delegate {
    using Delegate::Delegate;
    using Delegate::initStyleOption;
};

}  // namespace

// The cue table's delegates: editor limits and keys, the row tint, the state
// icon of the playing row and its progress bar, read from a scripted
// transport and checked on the painted pixels.
class CueTableDelegatesTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    QImage paintedTable();
    QRect cellRect(int row, int column) const { return f.table->visualRect(f.cell(row, column)); }
    QLineEdit* openNameEditor(int row);

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void alignments();
    void editorLengthLimits_data();
    void editorLengthLimits();
    void editorKeys_data();
    void editorKeys();
    void progressBar_data();
    void progressBar();
    void stateIcon_data();
    void stateIcon();
    void statusBackground();
    void rowTint();
};

void CueTableDelegatesTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void CueTableDelegatesTest::init()
{
    f.setUp();
    f.holdParses->store(true);
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 3);
    QVERIFY(!cues.contains(nullptr));
    f.trackList->loadPlaylist(playlist);
    QVERIFY(f.showTable());
}

void CueTableDelegatesTest::cleanup()
{
    f.tearDown();
}

QImage CueTableDelegatesTest::paintedTable()
{
    return f.table->viewport()->grab().toImage();
}

QLineEdit* CueTableDelegatesTest::openNameEditor(int row)
{
    const QModelIndex name = f.cell(row, SongTableModel::NameColumn);
    f.table->setCurrentIndex(name);
    f.table->edit(name);
    return f.table->viewport()->findChild<QLineEdit*>();
}

void CueTableDelegatesTest::alignments()
{
    Exposed<CenterDelegate> center;
    Exposed<LeftAlignDelegate> left;
    Exposed<PlayingRowHighlightDelegate> playing(f.model(), nullptr, f.registry.get());
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignVCenter;
    const Qt::Alignment leftAligned = Qt::AlignLeft | Qt::AlignVCenter;
    for (int column = 0; column < SongTableModel::ColumnCount; ++column) {
        const bool text = column == SongTableModel::NameColumn || column == SongTableModel::RemarkColumn;
        auto option = [&](const auto& delegate) {
            QStyleOptionViewItem o;
            o.rect = QRect(10, 20, 100, 40);
            delegate.initStyleOption(&o, f.cell(0, column));
            return o;
        };
        QCOMPARE(option(center).displayAlignment, centred);
        QCOMPARE(option(left).displayAlignment, text ? leftAligned : centred);
        const QStyleOptionViewItem painted = option(playing);
        QCOMPARE(painted.displayAlignment, text ? leftAligned : centred);
        QCOMPARE(painted.rect, QRect(10, 24, 100, 32));  // a band between the rows
        // ...for which the row makes room, so that no text is cut.
        QStyleOptionViewItem o;
        o.rect = QRect(0, 0, 100, 40);
        QVERIFY(playing.sizeHint(o, f.cell(0, column)).height() >= left.sizeHint(o, f.cell(0, column)).height() + 8);
    }
    // One line of any script gets the same height as the style's own layout
    // gives the tallest; a wrapped text gets the layout's height.
    QStyleOptionViewItem o;
    o.rect = QRect(0, 0, 100, 40);
    o.features |= QStyleOptionViewItem::WrapText;
    cues[0]->setAlias("\u4E2D\u6587");
    QCOMPARE(playing.sizeHint(o, f.cell(0, 1)).height(), left.sizeHint(o, f.cell(0, 1)).height() + 8);
    cues[0]->setAlias("a name long enough to need three lines or more at this width");
    QCOMPARE(playing.sizeHint(o, f.cell(0, 1)).height(), left.sizeHint(o, f.cell(0, 1)).height() + 8);
    QVERIFY(playing.sizeHint(o, f.cell(0, 1)).height() > 2 * o.fontMetrics.lineSpacing());
}

void CueTableDelegatesTest::editorLengthLimits_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("maxLength");
    QTest::newRow("name") << int(SongTableModel::NameColumn) << 100;
    QTest::newRow("remark") << int(SongTableModel::RemarkColumn) << 256;
    QTest::newRow("other text: no limit") << int(SongTableModel::PreWaitColumn) << QLineEdit().maxLength();
}

void CueTableDelegatesTest::editorLengthLimits()
{
    QFETCH(int, column);
    QFETCH(int, maxLength);
    LeftAlignDelegate delegate;
    QWidget parent;
    std::unique_ptr<QWidget> editor(delegate.createEditor(&parent, QStyleOptionViewItem(), f.cell(0, column)));
    auto* line = qobject_cast<QLineEdit*>(editor.get());
    QVERIFY(line);
    QCOMPARE(line->maxLength(), maxLength);
    QTest::keyClicks(line, QString(300, QLatin1Char('x')));
    QCOMPARE(line->text().size(), std::min(300, maxLength));
}

void CueTableDelegatesTest::editorKeys_data()
{
    QTest::addColumn<int>("key");  // 0: the editor loses the focus
    QTest::addColumn<QString>("alias");
    QTest::newRow("Return commits") << int(Qt::Key_Return) << "Edited";
    QTest::newRow("Enter commits") << int(Qt::Key_Enter) << "Edited";
    QTest::newRow("Escape drops the edit") << int(Qt::Key_Escape) << "";
    QTest::newRow("leaving commits") << 0 << "Edited";
}

void CueTableDelegatesTest::editorKeys()
{
    QFETCH(int, key);
    QFETCH(QString, alias);
    QLineEdit* editor = openNameEditor(1);
    QVERIFY(editor);
    QCOMPARE(editor->text(), QString("c1"));
    editor->setText("Edited");
    if (key == 0) {
        QFocusEvent leave(QEvent::FocusOut, Qt::MouseFocusReason);
        QApplication::sendEvent(editor, &leave);
    } else {
        QTest::keyClick(editor, Qt::Key(key));
    }
    QCOMPARE(cues[1]->alias(), alias);
    QTRY_VERIFY(!f.table->viewport()->findChild<QLineEdit*>());
}

void CueTableDelegatesTest::progressBar_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<double>("playedFraction");  // where the dark part ends

    QTest::newRow("half of the loop region") << qint64(90000) << qint64(10000) << qint64(70000) << qint64(40000)
                                             << 0.5;
    QTest::newRow("before the region: all to play") << qint64(90000) << qint64(10000) << qint64(70000)
                                                    << qint64(5000) << 0.0;
    QTest::newRow("past the region: all played") << qint64(90000) << qint64(10000) << qint64(70000)
                                                 << qint64(80000) << 1.0;
    QTest::newRow("no region: the whole file") << qint64(80000) << qint64(0) << qint64(0) << qint64(20000) << 0.25;
    QTest::newRow("no length: all to play") << qint64(0) << qint64(0) << qint64(0) << qint64(20000) << 0.0;
}

void CueTableDelegatesTest::progressBar()
{
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(qint64, position);
    QFETCH(double, playedFraction);

    Cue* cue = cues[1];
    cue->setDuration(duration);
    if (loopEnd > 0)
        cue->setLoopRange(loopStart, loopEnd, true);
    f.transport.fake->duration = 0;
    f.registry->playCue(cue, 0);
    QCOMPARE(f.model()->currentCue(), cue);
    f.transport.fake->position = position;
    QCOMPARE(f.registry->getCurrentPosition(), position);

    const QImage image = paintedTable();
    const QRect rect = cellRect(1, SongTableModel::DurationColumn);
    const int y = rect.top() + 2;  // above the text
    for (double at : {0.05, 0.3, 0.45, 0.55, 0.7, 0.95}) {
        const QColor pixel = image.pixelColor(rect.left() + int(rect.width() * at), y);
        if (at < playedFraction)
            QVERIFY2(pixel == QColor(60, 65, 75), qPrintable(QString("%1 at %2").arg(pixel.name()).arg(at)));
        else
            QVERIFY2(isToPlayBlue(pixel), qPrintable(QString("%1 at %2").arg(pixel.name()).arg(at)));
    }
}

void CueTableDelegatesTest::stateIcon_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("preWait");
    QTest::addColumn<bool>("triangle");
    QTest::addColumn<bool>("bars");

    QTest::newRow("playing: triangle") << false << false << true << false;
    QTest::newRow("paused: bars") << true << false << false << true;
    QTest::newRow("waiting to start: both") << false << true << true << true;
}

void CueTableDelegatesTest::stateIcon()
{
    QFETCH(bool, paused);
    QFETCH(bool, preWait);
    QFETCH(bool, triangle);
    QFETCH(bool, bars);

    Cue* cue = cues[0];
    if (preWait) {
        cue->setPreWait(5000);
        f.registry->setPlayMode(CueManager::Custom);
    }
    f.registry->playCue(cue, 0);
    QCOMPARE(f.transport.transport->isPreWaitActive(), preWait);
    if (paused) {
        f.transport.transport->setPauseFadeEnabled(false);
        f.registry->pausePlaylist();
    }
    QCOMPARE(f.registry->isPlaying(), !paused);

    const QImage image = paintedTable();
    const QRect rect = cellRect(0, SongTableModel::StatusColumn);
    const int y = rect.top() + (rect.height() - 16) / 2;
    const int single = rect.left() + (rect.width() - 16) / 2;
    const int pair = rect.left() + (rect.width() - 36) / 2;
    const int triangleX = triangle && bars ? pair : single;
    const int barsX = triangle && bars ? pair + 20 : single;
    auto at = [&](int x, int dy) { return image.pixelColor(x, y + dy); };

    if (triangle) {
        QVERIFY(isWhite(at(triangleX + 6, 7)));
        QVERIFY(!isWhite(at(triangleX + 12, 2)));
    }
    if (bars) {
        QVERIFY(isWhite(at(barsX + 4, 7)));
        QVERIFY(!isWhite(at(barsX + 8, 7)));  // the gap between the bars
        QVERIFY(isWhite(at(barsX + 11, 7)));
    }
    if (!triangle)
        QVERIFY(!isWhite(at(single + 6, 1)));  // no triangle where one would start
    // Only the playing row has an icon.
    QVERIFY(!isWhite(image.pixelColor(cellRect(1, 0).center())));
}

void CueTableDelegatesTest::statusBackground()
{
    Cue* cue = cues[0];
    f.registry->playCue(cue, 0);
    const QRect rect = cellRect(0, SongTableModel::StatusColumn);
    const QPoint corner = rect.topLeft() + QPoint(2, 2);

    QCOMPARE(paintedTable().pixelColor(corner), f.table->palette().color(QPalette::Base));

    cue->setColor("#5a3a3a");
    QCOMPARE(paintedTable().pixelColor(corner), QColor("#5a3a3a"));

    // Selected: the highlight wins over the cue's colour.
    f.trackList->selectRow(0);
    const QColor pixel = paintedTable().pixelColor(corner);
    QVERIFY2(pixel == f.table->palette().color(QPalette::Active, QPalette::Highlight)
                 || pixel == f.table->palette().color(QPalette::Inactive, QPalette::Highlight),
             qPrintable(pixel.name()));

    cue->setColor("no colour at all");
    f.table->clearSelection();
    QCOMPARE(paintedTable().pixelColor(corner), f.table->palette().color(QPalette::Base));
}

void CueTableDelegatesTest::rowTint()
{
    const QImage plain = paintedTable();
    cues[2]->setColor("#4a5a3a");
    f.table->viewport()->update();
    const QImage tinted = paintedTable();
    for (int column : {1, 2, 4, 5}) {
        const QPoint spot = cellRect(2, column).topRight() + QPoint(-3, 1);
        const QColor expected = over(QColor("#4a5a3a"), 80, plain.pixelColor(spot));
        QVERIFY2(near(tinted.pixelColor(spot), expected),
                 qPrintable(tinted.pixelColor(spot).name() + " vs " + expected.name()));
    }
    // Other rows keep their look.
    const QPoint other = cellRect(1, 2).topRight() + QPoint(-3, 1);
    QCOMPARE(tinted.pixelColor(other), plain.pixelColor(other));
}

QTEST_MAIN(CueTableDelegatesTest)
#include "CueTableDelegatesTest.moc"
