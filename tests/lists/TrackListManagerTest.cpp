#include "TrackListFixture.h"
#include "lists/FileExistenceCache.h"
#include "lists/PlayingPositionTicker.h"
#include "lists/RowHeightFitter.h"
#include "model/WaveformRows.h"

#include <cmath>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

// The track list over the cue table: loading a playlist, following the
// registry and the playing cue, selection signals, show mode, the header
// buttons, edits written back, and the transport's hold on the parse queue.
class TrackListManagerTest : public QObject {
    Q_OBJECT

private:
    TrackListFixture f;
    int playlist = -1;
    QList<Cue*> cues;

    // Selects exactly the given rows (none clears the selection).
    void selectRows(const QList<int>& rows);
    // The track list's selection signals as text, in order.
    QStringList recordSelection(const std::function<void()>& steps);
    QPushButton* headerButton(const QString& toolTip) const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loadPlaylistShowsTheStoredOrder();
    void storedPeaksAreReadWhenACueIsFirstShown();
    void longPlaylistReadsOnlyThePeaksOnScreen();
    void selectionSignals_data();
    void selectionSignals();
    void refreshAnnouncesTheSameRowAgain();
    void selectedCueIsParsedFirst();
    void queriesFollowTheSelection();
    void selectCueMatchesTheStoredId();
    void registryAdditionsAndRemovals();
    void playingCueAndItsPosition();
    void refreshDoesNotTurnNamesIntoAliases();
    void nameEditIsStoredAndResizesTheRow();
    void rowsFitTheirContents();
    void rowsOffScreenAreFittedLater();
    void loopCountSetterStoresAndShows();
    void doubleClickAsksToPlay_data();
    void doubleClickAsksToPlay();
    void showModeLocksTheTable();
    void headerButtonsSitOverTheLastColumn();
    void transportForgetsADeletedTrackList();
};

void TrackListManagerTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void TrackListManagerTest::init()
{
    f.setUp();
    playlist = f.newPlaylist();
    cues = f.addCues(playlist, 4);
    QVERIFY(!cues.contains(nullptr));
    // Parses wait until a test lets them go, so none has finished unseen.
    f.holdParses->store(true);
    f.trackList->loadPlaylist(playlist);
}

void TrackListManagerTest::cleanup()
{
    f.tearDown();
}

void TrackListManagerTest::selectRows(const QList<int>& rows)
{
    QItemSelectionModel* selection = f.table->selectionModel();
    if (rows.isEmpty()) {
        selection->clearSelection();
        return;
    }
    QItemSelection wanted;
    for (int row : rows)
        wanted.select(f.cell(row, 0), f.cell(row, SongTableModel::ColumnCount - 1));
    selection->select(wanted, QItemSelectionModel::ClearAndSelect);
}

QStringList TrackListManagerTest::recordSelection(const std::function<void()>& steps)
{
    QStringList log;
    TrackListManager* list = f.trackList.get();
    QObject context;
    QObject::connect(list, &TrackListManager::cueSelected, &context,
                     [&](Cue* cue) { log << (cue ? "cue:" + cue->name() : QStringLiteral("cue:null")); });
    QObject::connect(list, &TrackListManager::batchModeChanged, &context,
                     [&](bool on) { log << (on ? "batch:on" : "batch:off"); });
    QObject::connect(list, &TrackListManager::batchSelectionChanged, &context, [&] { log << "batch:changed"; });
    steps();
    return log;
}

QPushButton* TrackListManagerTest::headerButton(const QString& toolTip) const
{
    for (QPushButton* button : f.table->horizontalHeader()->findChildren<QPushButton*>()) {
        if (button->toolTip() == toolTip)
            return button;
    }
    return nullptr;
}

void TrackListManagerTest::loadPlaylistShowsTheStoredOrder()
{
    QCOMPARE(f.trackList->rowCount(), 4);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(f.trackList->cueAt(row), cues[row]);
    QCOMPARE(f.trackList->cues(), cues);

    QVERIFY(f.registry->setPlaylistOrder(playlist, {cues[3]->id(), cues[0]->id(), cues[1]->id(), cues[2]->id()}));
    f.trackList->refreshTable();
    QCOMPARE(f.trackList->cueAt(0), cues[3]);

    f.trackList->loadPlaylist(-1);
    QCOMPARE(f.trackList->rowCount(), 0);
    QCOMPARE(f.trackList->currentPlaylistId(), -1);
    QVERIFY(f.trackList->cues().isEmpty());
}

void TrackListManagerTest::storedPeaksAreReadWhenACueIsFirstShown()
{
    // Two playlists whose cues all have stored peaks, then a start: the cue
    // registry loads every cue, the table shows the first playlist.
    const int other = f.newPlaylist(QStringLiteral("other"));
    QList<Cue*> hidden;
    for (int i = 0; i < 3; ++i)
        hidden.append(f.addCue(other, QStringLiteral("h%1.wav").arg(i)));
    QVERIFY(!hidden.contains(nullptr));
    QList<float> peaks;
    for (int i = 0; i < 2000; ++i)
        peaks.append(float(i % 100) / 100.0f);
    for (Cue* cue : cues + hidden)
        QVERIFY(DatabaseManager::instance()->saveWaveformDataCompressed(cue->id(), 2000, peaks));
    QList<int> shownIds;
    QList<int> hiddenIds;
    for (Cue* cue : std::as_const(cues))
        shownIds.append(cue->id());
    for (Cue* cue : std::as_const(hidden))
        hiddenIds.append(cue->id());

    f.trackList.reset();
    f.registry = std::make_unique<CueManager>(f.transport.transport.get());
    for (int id : shownIds + hiddenIds) {
        Cue* cue = f.registry->getCue(id);
        QVERIFY(cue);
        QVERIFY2(cue->waveform().isEmpty(), "the registry decoded stored peaks at start");
    }
    const int decodedAtStart = WaveformRows::decodedCount();
    auto parses = std::make_shared<std::atomic<int>>(0);
    f.trackList = std::make_unique<TrackListManager>(f.table.get(), nullptr, f.registry.get());
    f.trackList->waveformParseQueue()->setParseFunction(
        [parses](const QString&, WaveformParseJob&) -> WaveformParser::Result {
            ++*parses;
            return {QList<float>(2000, 0.5f), 0};
        });
    f.trackList->loadPlaylist(playlist);

    // The shown playlist's peaks come from the database, nothing else's.
    QCOMPARE(WaveformRows::decodedCount() - decodedAtStart, int(shownIds.size()));
    for (int id : std::as_const(shownIds)) {
        Cue* cue = f.registry->getCue(id);
        QVERIFY(f.trackList->hasCachedWaveform(cue));
        QCOMPARE(cue->waveform().size(), 2000);
        QVERIFY(std::fabs(cue->waveform()[57] - 0.57f) < 1e-3f);
        QVERIFY(!cue->waveformDirty());
    }
    for (int id : std::as_const(hiddenIds))
        QVERIFY(f.registry->getCue(id)->waveform().isEmpty());

    // A cue of the other playlist asked for (it plays, or the view shows it)
    // takes its stored peaks rather than parsing its file.
    Cue* asked = f.registry->getCue(hiddenIds.first());
    QSignalSpy updated(f.trackList.get(), &TrackListManager::waveformUpdated);
    f.trackList->enqueueWaveformParse(asked, false);
    QCOMPARE(asked->waveform().size(), 2000);
    QCOMPARE(updated.count(), 1);
    QTest::qWait(20);
    QCOMPARE(parses->load(), 0);
}

void TrackListManagerTest::longPlaylistReadsOnlyThePeaksOnScreen()
{
    // A long playlist whose cues have stored peaks, the last few none.
    constexpr int kCount = 300;
    constexpr int kUnstored = 3;
    const int big = f.newPlaylist(QStringLiteral("big"));
    QList<Cue*> all;
    const QList<float> peaks(2000, 0.25f);
    for (int i = 0; i < kCount; ++i) {
        Cue* cue = f.addCue(big, QStringLiteral("b%1.wav").arg(i));
        QVERIFY(cue);
        if (i < kCount - kUnstored)
            QVERIFY(DatabaseManager::instance()->saveWaveformDataCompressed(cue->id(), 2000, peaks));
        all.append(cue);
    }
    // The first playlist's parses are let go and done first.
    f.holdParses->store(false);
    QTRY_VERIFY(!f.trackList->waveformParseQueue()->isParsing());
    auto parses = std::make_shared<std::atomic<int>>(0);
    f.trackList->waveformParseQueue()->setParseFunction(
        [parses](const QString&, WaveformParseJob&) -> WaveformParser::Result {
            ++*parses;
            return {QList<float>(2000, 0.5f), 0};
        });
    QVERIFY(f.showTable());

    const int decodedBefore = WaveformRows::decodedCount();
    f.trackList->loadPlaylist(big);
    const int decoded = WaveformRows::decodedCount() - decodedBefore;
    const int firstShown = f.table->rowAt(0);
    const int lastShown = f.table->rowAt(f.table->viewport()->height() - 1);
    QVERIFY(firstShown == 0 && lastShown > 0 && lastShown < kCount / 4);
    // The rows on screen, and only they, have their peaks at once.
    QVERIFY2(decoded <= lastShown + 1,
             qPrintable(QStringLiteral("%1 stored peak lists decoded for %2 rows on screen").arg(decoded).arg(lastShown + 1)));
    for (int row = 0; row <= lastShown; ++row) {
        QVERIFY(f.trackList->hasCachedWaveform(all[row]));
        QCOMPARE(all[row]->waveform().size(), 2000);
    }
    QVERIFY(!f.trackList->hasCachedWaveform(all[kCount / 2]));

    // Scrolled to the end, those rows show their peaks once painted; the
    // ones in between are still in the database only.
    f.table->scrollToBottom();
    QTRY_VERIFY(f.trackList->hasCachedWaveform(all[kCount - kUnstored - 1]));
    QVERIFY(!all[kCount - kUnstored - 1]->waveformDirty());
    QVERIFY(!f.trackList->hasCachedWaveform(all[kCount / 2]));

    // A cue selected by other means shows its peaks at once.
    Cue* picked = all[kCount / 2];
    f.trackList->selectCue(picked);
    QCOMPARE(picked->waveform().size(), 2000);
    QVERIFY(std::fabs(picked->waveform()[7] - 0.25f) < 1e-3f);

    // Only the cues with no stored peaks are parsed from their files.
    QTRY_VERIFY(f.trackList->hasCachedWaveform(all.last()));
    for (int i = kCount - kUnstored; i < kCount; ++i)
        QTRY_VERIFY(f.trackList->hasCachedWaveform(all[i]));
    QTest::qWait(20);
    QCOMPARE(parses->load(), kUnstored);
}

void TrackListManagerTest::selectionSignals_data()
{
    QTest::addColumn<QList<QList<int>>>("steps");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one row") << QList<QList<int>>{{1}} << QStringList{"cue:c1"};
    QTest::newRow("grow to a batch, change it, back to one")
        << QList<QList<int>>{{1}, {1, 2}, {1, 2, 3}, {2}}
        << QStringList{"cue:c1", "batch:on", "batch:changed", "batch:off", "cue:c2"};
    QTest::newRow("clearing a batch") << QList<QList<int>>{{0, 1}, {}}
                                      << QStringList{"batch:on", "batch:off", "cue:null"};
    // Back to the row last announced: batch mode ends, the cue is not told again.
    QTest::newRow("back to the marked row") << QList<QList<int>>{{1}, {1, 2}, {1}}
                                            << QStringList{"cue:c1", "batch:on", "batch:off"};
    QTest::newRow("one row to another") << QList<QList<int>>{{0}, {3}, {}}
                                        << QStringList{"cue:c0", "cue:c3", "cue:null"};
}

void TrackListManagerTest::selectionSignals()
{
    QFETCH(QList<QList<int>>, steps);
    QFETCH(QStringList, expected);
    const QStringList log = recordSelection([&] {
        for (const QList<int>& rows : steps)
            selectRows(rows);
    });
    QCOMPARE(log, expected);
}

void TrackListManagerTest::refreshAnnouncesTheSameRowAgain()
{
    const QStringList log = recordSelection([&] {
        selectRows({2});
        f.trackList->refreshTable();  // clears the selection
        selectRows({2});
    });
    QCOMPARE(log, (QStringList{"cue:c2", "cue:null", "cue:c2"}));
}

void TrackListManagerTest::selectedCueIsParsedFirst()
{
    // A displaced parse winds down beside the next one; on a two-thread pool
    // it must end first instead (its own case in WaveformParseQueueTest).
    const int poolBefore = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(8);
    const auto restorePool = qScopeGuard([poolBefore] { QThreadPool::globalInstance()->setMaxThreadCount(poolBefore); });
    WaveformParseQueue* queue = f.trackList->waveformParseQueue();
    QCOMPARE(queue->parsingCue(), cues[0]);
    QCOMPARE(queue->queuedCues(), (QList<Cue*>{cues[1], cues[2], cues[3]}));

    selectRows({2});
    QCOMPARE(queue->parsingCue(), cues[2]);
    QCOMPARE(queue->queuedCues(), (QList<Cue*>{cues[1], cues[3], cues[0]}));

    f.holdParses->store(false);
    QTRY_VERIFY(!queue->isParsing() && queue->windingDownCount() == 0);
    for (Cue* cue : cues) {
        QVERIFY(f.trackList->hasCachedWaveform(cue));
        QCOMPARE(f.trackList->cachedWaveform(cue).size(), 2000);
    }
}

void TrackListManagerTest::queriesFollowTheSelection()
{
    QCOMPARE(f.trackList->selectedRow(), -1);
    selectRows({3, 1});
    QCOMPARE(f.trackList->selectedCues().size(), 2);
    QVERIFY(f.trackList->selectedCues().contains(cues[1]));
    QCOMPARE(f.trackList->batchCues().size(), 2);
    QCOMPARE(f.trackList->rowOfCue(cues[2]), 2);
    QCOMPARE(f.trackList->indexOfCue(cues[2]), f.cell(2, 0));
    QVERIFY(!f.trackList->indexOfCue(nullptr).isValid());
    f.trackList->selectRow(0);
    QCOMPARE(f.trackList->selectedRow(), 0);
    QCOMPARE(f.trackList->selectedCues(), QList<Cue*>{cues[0]});
}

void TrackListManagerTest::selectCueMatchesTheStoredId()
{
    Cue twin(cues[2]->id(), "twin", cues[2]->filePath());
    QSignalSpy selected(f.trackList.get(), &TrackListManager::cueSelected);
    f.trackList->selectCue(&twin);
    QCOMPARE(f.trackList->selectedRow(), 2);
    QCOMPARE(f.table->selectionModel()->currentIndex(), f.cell(2, 0));
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().at(0).value<Cue*>(), cues[2]);

    Cue stranger(9999, "stranger", "/nowhere.wav");
    f.trackList->selectCue(&stranger);
    QCOMPARE(f.trackList->selectedRow(), 2);
    f.trackList->selectCue(nullptr);
    QCOMPARE(f.trackList->selectedRow(), 2);
}

void TrackListManagerTest::registryAdditionsAndRemovals()
{
    // A cue stored into the shown playlist is listed at its place...
    auto* inserted = new Cue(-1, "inserted", f.placeholder("inserted.wav"));
    QVERIFY(inserted->saveToDatabase(false));
    QVERIFY(inserted->addToPlaylist(playlist, 1));
    f.registry->registerCue(inserted);
    QCOMPARE(f.trackList->rowCount(), 5);
    QCOMPARE(f.trackList->rowOfCue(inserted), 1);

    // ...one of another playlist is not.
    const int other = f.newPlaylist("other");
    auto* elsewhere = new Cue(-1, "elsewhere", f.placeholder("elsewhere.wav"));
    QVERIFY(elsewhere->saveToDatabase(false));
    QVERIFY(elsewhere->addToPlaylist(other, 0));
    f.registry->registerCue(elsewhere);
    QCOMPARE(f.trackList->rowCount(), 5);

    // A deleted cue leaves the table, the playing row and the parse queue.
    f.trackList->setCurrentCue(cues[2], true);
    f.trackList->enqueueWaveformParse(cues[2], false);
    Cue* gone = cues[2];
    QVERIFY(f.registry->deleteCue(gone));
    QCOMPARE(f.trackList->rowCount(), 4);
    QCOMPARE(f.trackList->rowOfCue(gone), -1);
    QVERIFY(!f.trackList->cues().contains(gone));
    QCOMPARE(f.trackList->currentCue(), nullptr);
    QCOMPARE(f.model()->currentCue(), nullptr);
    QVERIFY(!f.trackList->waveformParseQueue()->isPending(gone));
    QVERIFY(!f.trackList->hasCachedWaveform(gone));
}

void TrackListManagerTest::playingCueAndItsPosition()
{
    // Only a playing cue's position ticks: an idle window sleeps.
    auto positionTicking = [this] {
        for (QTimer* timer : f.trackList->findChildren<QTimer*>())
            if (timer->isActive() && timer->interval() == PlayingPositionTicker::kIntervalMs)
                return true;
        return false;
    };
    QVERIFY(!positionTicking());

    Cue* cue = cues[1];
    cue->setLoopRange(10000, 70000, false);
    f.registry->playCue(cue, 0);
    QVERIFY(positionTicking());
    QCOMPARE(f.trackList->currentCue(), cue);
    QCOMPARE(f.model()->currentCue(), cue);
    QCOMPARE(f.cell(1, SongTableModel::StatusColumn).data().toString(), QString("\u25B6"));

    f.transport.fake->position = 40000;
    QTRY_COMPARE(f.model()->position(), qint64(40000));
    QCOMPARE(f.cell(1, SongTableModel::DurationColumn).data().toString(), QString("00:30.00"));

    // Paused: the remaining time stays where it was.
    f.transport.transport->setPauseFadeEnabled(false);
    f.registry->pausePlaylist();
    QVERIFY(!f.registry->isPlaying());
    f.transport.fake->position = 50000;
    QTest::qWait(2 * PlayingPositionTicker::kIntervalMs);
    QCOMPARE(f.model()->position(), qint64(40000));
    QVERIFY(!positionTicking());
    // Resumed, it ticks again.
    f.transport.transport->resume();
    QVERIFY(f.registry->isPlaying());
    QVERIFY(positionTicking());
    QTRY_COMPARE(f.model()->position(), qint64(50000));
    f.registry->stopPlaylist();
    QTRY_VERIFY(!positionTicking());

    f.trackList->clearCurrentCue();
    QCOMPARE(f.model()->currentCue(), nullptr);
    QCOMPARE(f.cell(1, SongTableModel::StatusColumn).data().toString(), QString());
}

void TrackListManagerTest::refreshDoesNotTurnNamesIntoAliases()
{
    Cue* dotted = f.addCue(playlist, "01. Intro.wav");
    Cue* missing = f.addCue(playlist, "gone.wav");
    QVERIFY(dotted && missing);
    QCOMPARE(dotted->name(), QString("01. Intro"));
    QVERIFY(QFile::remove(missing->filePath()));
    f.trackList->loadPlaylist(playlist);
    f.model()->fileExistence()->forget(missing->filePath());

    for (Cue* cue : {dotted, missing}) {
        f.trackList->refreshCueRow(cue);
        f.model()->refreshName(cue);
    }
    f.trackList->refreshTable();
    QCOMPARE(dotted->alias(), QString());
    QCOMPARE(missing->alias(), QString());
    QCOMPARE(f.cell(f.trackList->rowOfCue(dotted), 1).data().toString(), QString("01. Intro"));
    QCOMPARE(f.cell(f.trackList->rowOfCue(missing), 1).data().toString(), QString("\u274C gone"));
    Cue stored;
    QVERIFY(stored.loadFromDatabase(dotted->id()));
    QCOMPARE(stored.alias(), QString());
}

void TrackListManagerTest::nameEditIsStoredAndResizesTheRow()
{
    QVERIFY(f.showTable());
    const QModelIndex name = f.cell(1, SongTableModel::NameColumn);
    QVERIFY(f.model()->setData(name, "A much longer name that needs more than one line in this narrow column"));
    QCOMPARE(cues[1]->alias(), QString("A much longer name that needs more than one line in this narrow column"));
    QVERIFY(!cues[1]->isDirty());
    // The row grew to show the new name.
    QVERIFY(f.table->rowHeight(1) > f.table->rowHeight(0));
}

void TrackListManagerTest::rowsFitTheirContents()
{
    QVERIFY(f.showTable());
    // Shown, the table takes its style sheet's font; the rows follow it.
    QTest::qWait(3 * RowHeightFitter::kFitDelayMs);
    const int oneLine = f.table->rowHeight(0);
    for (int row = 1; row < 4; ++row)
        QCOMPARE(f.table->rowHeight(row), oneLine);
    QVERIFY(oneLine >= f.table->fontMetrics().height() + 8);

    // A remark set elsewhere and shown: its row grows, the others stay.
    const QString remark = "Wait for the bride, then fade";
    f.trackList->setCueRemark(cues[2], remark);
    const int wide = f.table->rowHeight(2);
    QCOMPARE(f.table->rowHeight(2), oneLine);  // fits the wide last column
    f.table->horizontalHeader()->setStretchLastSection(false);
    f.table->setColumnWidth(SongTableModel::RemarkColumn, 120);
    QTRY_VERIFY(f.table->rowHeight(2) > oneLine + f.table->fontMetrics().lineSpacing());
    QCOMPARE(f.table->rowHeight(1), oneLine);

    // Wide again: back to one line.
    f.table->setColumnWidth(SongTableModel::RemarkColumn, 900);
    QTRY_COMPARE(f.table->rowHeight(2), wide);
}

void TrackListManagerTest::rowsOffScreenAreFittedLater()
{
    // A long playlist: the rows on screen are fitted with the load, the
    // others in slices after it, a remark that wraps far down included.
    QVERIFY(f.showTable());
    const int big = f.newPlaylist(QStringLiteral("long"));
    QList<Cue*> all;
    for (int i = 0; i < 300; ++i)
        all.append(f.addCue(big, QStringLiteral("r%1.wav").arg(i)));
    QVERIFY(!all.contains(nullptr));
    all[250]->setRemark(QStringList(60, QStringLiteral("fade")).join(u' '));
    f.trackList->loadPlaylist(big);
    const int oneLine = f.table->rowHeight(0);
    QTRY_VERIFY(f.table->rowHeight(250) > oneLine);
    QCOMPARE(f.table->rowHeight(249), oneLine);
    QCOMPARE(f.table->rowHeight(299), oneLine);
}

void TrackListManagerTest::loopCountSetterStoresAndShows()
{
    QSignalSpy changed(f.model(), &QAbstractItemModel::dataChanged);
    f.trackList->setCueLoopCount(cues[0], true, 5);
    QCOMPARE(cues[0]->loopCount(), 0);
    QCOMPARE(f.cell(0, SongTableModel::LoopCountColumn).data().toString(), QString("\u221E"));
    QCOMPARE(changed.size(), 1);
    f.trackList->setCueLoopCount(cues[0], false, 3);
    Cue stored;
    QVERIFY(stored.loadFromDatabase(cues[0]->id()));
    QCOMPARE(stored.loopCount(), 3);
    f.trackList->setCueLoopCount(nullptr, false, 3);
}

void TrackListManagerTest::doubleClickAsksToPlay_data()
{
    QTest::addColumn<bool>("showMode");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("plays");

    QTest::newRow("edit mode, duration cell") << false << int(SongTableModel::DurationColumn) << true << true;
    QTest::newRow("edit mode, name cell edits instead") << false << int(SongTableModel::NameColumn) << true << false;
    QTest::newRow("edit mode, remark cell edits instead") << false << int(SongTableModel::RemarkColumn) << true << false;
    QTest::newRow("edit mode, missing file") << false << int(SongTableModel::StatusColumn) << false << false;
    QTest::newRow("show mode, name cell") << true << int(SongTableModel::NameColumn) << true << true;
}

void TrackListManagerTest::doubleClickAsksToPlay()
{
    QFETCH(bool, showMode);
    QFETCH(int, column);
    QFETCH(bool, fileExists);
    QFETCH(bool, plays);

    if (!fileExists)
        QVERIFY(QFile::remove(cues[1]->filePath()));
    f.trackList->setShowMode(showMode);
    QSignalSpy play(f.trackList.get(), &TrackListManager::itemClickPlay);
    const QModelIndex index = f.cell(1, column);
    Q_EMIT f.table->doubleClicked(index);
    QCOMPARE(play.size(), plays ? 1 : 0);
    if (plays)
        QCOMPARE(play.first().at(0).toModelIndex(), index);
    // A missing file is looked for instead of played.
    const bool asksForTheFile = !showMode && !fileExists && column != SongTableModel::NameColumn
        && column != SongTableModel::RemarkColumn;
    QCOMPARE(f.ui->chooserTitles, asksForTheFile ? QStringList{"选择音频文件或文件夹"} : QStringList{});
}

void TrackListManagerTest::showModeLocksTheTable()
{
    QVERIFY(f.showTable());
    QPushButton* import = headerButton("导入音频文件");
    QPushButton* addGroup = headerButton("添加群组");
    QVERIFY(import && addGroup);
    QTRY_VERIFY(import->isVisible() && addGroup->isVisible());

    f.trackList->setShowMode(true);
    QCOMPARE(f.table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(f.table->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(f.table->dragDropMode(), QAbstractItemView::NoDragDrop);
    QVERIFY(!f.table->acceptDrops());
    QVERIFY(!import->isVisible() && !addGroup->isVisible());
    f.table->setColumnWidth(0, 60);  // a header change must not bring them back
    QVERIFY(!import->isVisible());

    f.trackList->setShowMode(false);
    QCOMPARE(f.table->editTriggers(), QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QCOMPARE(f.table->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(f.table->dragDropMode(), QAbstractItemView::DropOnly);
    QVERIFY(!f.table->dragEnabled());  // rows are dragged by the track list itself
    QVERIFY(import->isVisible() && addGroup->isVisible());
}

void TrackListManagerTest::headerButtonsSitOverTheLastColumn()
{
    QVERIFY(f.showTable());
    QHeaderView* header = f.table->horizontalHeader();
    QPushButton* import = headerButton("导入音频文件");
    QPushButton* addGroup = headerButton("添加群组");
    QVERIFY(import && addGroup);

    auto right = [&] { return header->sectionViewportPosition(5) + header->sectionSize(5); };
    QTRY_COMPARE(import->x(), right() - 26 - 4);
    QCOMPARE(addGroup->x(), right() - 60);
    QCOMPARE(import->y(), std::max((header->height() - 26) / 2, 0));

    // A header narrower than the offsets keeps them at its left edge.
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1);
    for (int column = 0; column < 6; ++column)
        f.table->setColumnWidth(column, 4);
    QTRY_COMPARE(import->x(), 0);
    QCOMPARE(addGroup->x(), 0);
}

void TrackListManagerTest::transportForgetsADeletedTrackList()
{
    AudioEngine* transport = f.transport.transport.get();
    transport->setTrackListManager(f.trackList->waveformParseQueue());
    Cue* first = f.addCue(playlist, "first.wav");
    Cue* second = f.addCue(playlist, "second.wav");
    QVERIFY(transport->play(first, true));
    QVERIFY(f.trackList->waveformParseQueue()->isPending(first));

    // The main window deletes the track list before the transport goes.
    f.holdParses->store(false);
    f.trackList.reset();
    QVERIFY(second->waveform().isEmpty());
    QVERIFY(transport->play(second, true));  // would reach the deleted queue
    transport->stop();
}

QTEST_MAIN(TrackListManagerTest)
#include "TrackListManagerTest.moc"
