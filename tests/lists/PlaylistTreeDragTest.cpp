#include "PlaylistTreeFixture.h"
#include "support/LogCapture.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QtTest>

// Dragging on the playlist tree: playlists reordered and copied with the
// mouse, cues from the cue table dropped on a playlist, and the project and
// M3U8 files it takes from outside.
class PlaylistTreeDragTest : public QObject {
    Q_OBJECT

public:
    enum Target { UpperHalf, LowerHalf, BelowAllRows };
    Q_ENUM(Target)

private:
    PlaylistTreeFixture f;

    QWidget* viewport() const { return f.tree->viewport(); }
    QPoint targetPoint(Target target, int row) const
    {
        if (target == BelowAllRows) {
            const QRect last = f.tree->visualRect(f.model()->index(f.model()->rowCount() - 1, 0));
            return QPoint(last.center().x(), last.bottom() + 60);
        }
        const QRect rect = f.tree->visualRect(f.model()->index(row, 0));
        return QPoint(rect.center().x(), target == UpperHalf ? rect.top() + 3 : rect.bottom() - 2);
    }
    void dragRow(int row, const QPoint& to, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mousePress(viewport(), Qt::LeftButton, modifiers, f.rowCenter(row));
        QTest::mouseMove(viewport(), to);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
    }
    QPoint globalRow(int row) const { return viewport()->mapToGlobal(f.rowCenter(row)); }
    QBrush background(int row) const { return f.model()->item(row)->background(); }
    static QStringList messages(const QSignalSpy& spy)
    {
        QStringList list;
        for (const QList<QVariant>& args : spy)
            list.append(args.at(0).toString() + "@" + QString::number(args.at(1).toInt()));
        return list;
    }
    static QMimeData* urlData(const QStringList& paths)
    {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        mime->setUrls(urls);
        return mime;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.initDatabase()); }
    void init()
    {
        f.reset();
        f.newPlaylist("P1");
        f.newPlaylist("P2");
        f.newPlaylist("P3");
        QVERIFY(f.start());
    }
    void cleanupTestCase() { f.reset(); }

    void reorderByDragging_data();
    void reorderByDragging();
    void pressWithoutMovingMovesNothing();
    void ctrlDragCopiesTheSelectedPlaylists();
    void ctrlPressOnASelectedRowLeavesItOut();
    void dropIndicatorIsDrawnAtTheDropRow();
    void showModeStartsNoPlaylistDrag();
    void cueDragHighlightsOneRowAndPulsesOnDrop();
    void fileDragFilter_data();
    void fileDragFilter();
    void droppedProjectBecomesTheCurrentPlaylist();
    void dropWithoutProjectOrListIsIgnored();
};

void PlaylistTreeDragTest::reorderByDragging_data()
{
    QTest::addColumn<int>("fromRow");
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("targetRow");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("P2 onto the lower half of P3") << 1 << LowerHalf << 2 << QStringList{"P1", "P3", "P2"};
    QTest::newRow("P2 onto the upper half of P1") << 1 << UpperHalf << 0 << QStringList{"P2", "P1", "P3"};
    QTest::newRow("P3 onto the upper half of P2") << 2 << UpperHalf << 1 << QStringList{"P1", "P3", "P2"};
    QTest::newRow("P1 below every row") << 0 << BelowAllRows << -1 << QStringList{"P2", "P3", "P1"};
    QTest::newRow("P1 back onto itself") << 0 << LowerHalf << 0 << QStringList{"P1", "P2", "P3"};
}

void PlaylistTreeDragTest::reorderByDragging()
{
    QFETCH(int, fromRow);
    QFETCH(Target, target);
    QFETCH(int, targetRow);
    QFETCH(QStringList, expected);
    const int dragged = f.rowIds().at(fromRow);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);

    dragRow(fromRow, targetPoint(target, targetRow));
    QCOMPARE(f.rowNames(), expected);
    QCOMPARE(f.storedNames(), expected);
    QCOMPARE(messages(status), QStringList{"已移动 1 项@1000"});
    QCOMPARE(f.selectedRows(), QList<int>{int(f.rowIds().indexOf(dragged))});
    QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
}

void PlaylistTreeDragTest::pressWithoutMovingMovesNothing()
{
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    const QPoint at = f.rowCenter(1);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at);
    QTest::mouseMove(viewport(), at + QPoint(3, 4));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at + QPoint(3, 4));
    QCOMPARE(f.rowNames(), (QStringList{"P1", "P2", "P3"}));
    QVERIFY(status.isEmpty());
    QCOMPARE(f.selectedRows(), QList<int>{1});
    QCOMPARE(switched.size(), 1);
}

void PlaylistTreeDragTest::ctrlDragCopiesTheSelectedPlaylists()
{
    f.clickRow(0);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    dragRow(1, targetPoint(BelowAllRows, -1), Qt::ControlModifier);
    QCOMPARE(f.rowNames(), (QStringList{"P1", "P2", "P3", "P1 副本", "P2 副本"}));
    QCOMPARE(f.storedNames(), f.rowNames());
    QCOMPARE(messages(status), QStringList{"已复制 2 项@1000"});
    QCOMPARE(f.selectedRows(), (QList<int>{3, 4}));
    QCOMPARE(f.manager->currentPlaylistId(), f.rowIds().at(3));
}

void PlaylistTreeDragTest::ctrlPressOnASelectedRowLeavesItOut()
{
    f.clickRow(0);
    f.clickRow(1, Qt::ControlModifier);
    QCOMPARE(f.selectedRows(), (QList<int>{0, 1}));
    // Ctrl held again on P2 takes it out of the selection and of the drag.
    dragRow(1, targetPoint(UpperHalf, 0), Qt::ControlModifier);
    QCOMPARE(f.rowNames(), (QStringList{"P1 副本", "P1", "P2", "P3"}));
}

void PlaylistTreeDragTest::dropIndicatorIsDrawnAtTheDropRow()
{
    const QColor indicator(0x00, 0xc8, 0xff);
    const int x = viewport()->width() / 2;
    QTest::mousePress(viewport(), Qt::LeftButton, {}, f.rowCenter(2));
    QTest::mouseMove(viewport(), targetPoint(BelowAllRows, -1));
    const int lastBottom = f.tree->visualRect(f.model()->index(2, 0)).bottom();
    QImage shot = viewport()->grab().toImage();
    QCOMPARE(shot.pixelColor(x, lastBottom + 1), indicator);
    QVERIFY(shot.pixelColor(x, lastBottom + 20) != indicator);

    QTest::mouseMove(viewport(), targetPoint(UpperHalf, 0));
    shot = viewport()->grab().toImage();
    QVERIFY(shot.pixelColor(x, lastBottom + 1) != indicator);
    // Above row 0 the line lies on the top edge of the list.
    QVERIFY2(shot.pixelColor(x, 0).blue() > 100, qPrintable(shot.pixelColor(x, 0).name()));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, targetPoint(UpperHalf, 0));
    QCOMPARE(f.rowNames(), (QStringList{"P3", "P1", "P2"}));
}

void PlaylistTreeDragTest::showModeStartsNoPlaylistDrag()
{
    f.manager->setShowMode(true);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);
    dragRow(0, targetPoint(BelowAllRows, -1));
    QCOMPARE(f.rowNames(), (QStringList{"P1", "P2", "P3"}));
    QVERIFY(status.isEmpty());
}

void PlaylistTreeDragTest::cueDragHighlightsOneRowAndPulsesOnDrop()
{
    const QColor hover(77, 166, 255, 80);
    Cue a(-1, "a", "/show/a.wav");
    Cue b(-1, "b", "/show/b.wav");
    const QList<Cue*> cues{&a, &b};
    const QPoint empty = viewport()->mapToGlobal(QPoint(10, viewport()->height() - 10));
    QSignalSpy dropped(f.manager, &GroupedPlaylistManager::cueDroppedOnPlaylist);

    f.manager->onExternalDragMoved(globalRow(0));  // no drag under way
    QCOMPARE(background(0).style(), Qt::NoBrush);

    f.manager->onExternalDragStarted();
    for (int row = 0; row < 3; ++row) {
        f.manager->onExternalDragMoved(globalRow(row));
        for (int other = 0; other < 3; ++other) {
            if (other == row)
                QCOMPARE(background(other).color(), hover);
            else
                QCOMPARE(background(other).style(), Qt::NoBrush);
        }
    }
    f.manager->onExternalDragMoved(empty);
    QCOMPARE(background(2).style(), Qt::NoBrush);
    f.manager->onExternalDragEnded(empty, cues);
    QVERIFY(dropped.isEmpty());

    // The table's drag works in show mode too.
    f.manager->setShowMode(true);
    f.manager->onExternalDragStarted();
    f.manager->onExternalDragMoved(globalRow(1));
    f.manager->onExternalDragEnded(globalRow(1), {});
    QVERIFY(dropped.isEmpty());  // no cues, no drop
    QCOMPARE(background(1).style(), Qt::NoBrush);

    f.manager->onExternalDragStarted();
    f.manager->onExternalDragMoved(globalRow(1));
    f.manager->onExternalDragEnded(globalRow(1), cues);
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.at(0).at(0).toInt(), f.rowIds().at(1));
    QCOMPARE(dropped.at(0).at(1).value<QList<Cue*>>(), cues);

    QTest::qWait(175);
    const QBrush pulse = background(1);
    QCOMPARE(pulse.style(), Qt::SolidPattern);
    QCOMPARE(pulse.color().rgb(), QColor(77, 166, 255).rgb());
    QVERIFY(pulse.color().alpha() >= 24 && pulse.color().alpha() <= 80);
    QCOMPARE(background(0).style(), Qt::NoBrush);
    QTRY_COMPARE_WITH_TIMEOUT(background(1).style(), Qt::NoBrush, 3000);
    QTest::qWait(120);
    QCOMPARE(background(1).style(), Qt::NoBrush);
}

void PlaylistTreeDragTest::fileDragFilter_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("showMode");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("project in capitals") << QStringList{"/show/GALA.CRV"} << false << true;
    QTest::newRow("m3u8 list") << QStringList{"/show/list.m3u8"} << false << true;
    QTest::newRow("audio and a list") << QStringList{"/show/a.wav", "/show/b.M3U8"} << false << true;
    QTest::newRow("audio alone") << QStringList{"/show/a.wav"} << false << false;
    QTest::newRow("no files") << QStringList{} << false << false;
    QTest::newRow("show mode") << QStringList{"/show/gala.crv"} << true << false;
}

void PlaylistTreeDragTest::fileDragFilter()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, showMode);
    QFETCH(bool, accepted);
    f.manager->setShowMode(showMode);
    std::unique_ptr<QMimeData> mime(paths.isEmpty() ? new QMimeData : urlData(paths));
    if (paths.isEmpty())
        mime->setText("not a file");
    QDragEnterEvent enter(f.rowCenter(0), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(viewport(), &enter);
    QCOMPARE(enter.isAccepted(), accepted);
}

void PlaylistTreeDragTest::droppedProjectBecomesTheCurrentPlaylist()
{
    const QString audio = f.audioFile("song");
    QJsonObject cue{{"filePath", audio}, {"name", "song"}, {"duration", 0.2}};
    QJsonObject project{{"version", "1.0"}, {"playlistName", "Gala"}, {"cues", QJsonArray{cue}}};
    const QString crv = f.dir.filePath("gala.crv");
    QFile file(crv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(project).toJson());
    file.close();
    QSignalSpy switched(f.manager, &GroupedPlaylistManager::playlistSwitched);
    QSignalSpy status(f.manager, &GroupedPlaylistManager::statusMessage);

    // As a drag from the file manager arrives: enter, move, drop.
    std::unique_ptr<QMimeData> mime(urlData({audio, crv}));
    QDragEnterEvent enter(f.rowCenter(0), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(f.rowCenter(1), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    move.setAccepted(false);
    QApplication::sendEvent(viewport(), &move);
    QVERIFY(move.isAccepted());
    QDropEvent drop(f.rowCenter(1), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(f.rowNames(), (QStringList{"P1", "P2", "P3", "Gala"}));
    const int gala = f.rowIds().last();
    QCOMPARE(f.manager->currentPlaylistId(), gala);
    QCOMPARE(switched.last().at(0).toInt(), gala);
    QCOMPARE(f.selectedRows(), QList<int>{3});
    QCOMPARE(messages(status), QStringList{"成功导入播放列表: Gala (1个Cue)@3000"});
    QCOMPARE(f.cues->getPlaylistCueIds(gala).size(), 1);
}

void PlaylistTreeDragTest::dropWithoutProjectOrListIsIgnored()
{
    // The entry refuses such a drag (fileDragFilter); a drop that arrives
    // anyway imports nothing.
    LogCapture log;
    std::unique_ptr<QMimeData> mime(urlData({f.audioFile("song"), f.dir.filePath("notes.txt")}));
    QDropEvent drop(f.rowCenter(0), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QVERIFY(!f.manager->importDroppedFiles(&drop));
    QVERIFY(!drop.isAccepted());
    QCOMPARE(log.count("[Import] No CRV or M3U8 files found in drop"), 1);
    QCOMPARE(f.storedNames(), (QStringList{"P1", "P2", "P3"}));
}

QTEST_MAIN(PlaylistTreeDragTest)
#include "PlaylistTreeDragTest.moc"
