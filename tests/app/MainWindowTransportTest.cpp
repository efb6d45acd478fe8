#include "MainWindowFixture.h"

#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"
#include "playback/PlaybackEngine.h"
#include "support/LogCapture.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QtTest>

#include <SDL.h>

#include <memory>

// The transport side of the main window on the real transport: what the
// play, next, previous and stop buttons and the window's keys start, how the
// table follows the play order, the play-mode selector and its messages, and
// what the operator sees when a cue cannot be played.
class MainWindowTransportTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    void play() { QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton); }
    QComboBox* playModeSelector() const;
    int storedPlayMode(int playlistId) const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startTable_data();
    void startTable();
    void playStartsAtThePlayhead();
    void nextAndPreviousWrap();
    void nextAndPreviousWithoutPlayOrder();
    void nextSelectsThePlayingCueNotTheSameRowNumber();
    void stopClearsThePlayingRow();
    void playModeMessages_data();
    void playModeMessages();
    void switchingPlaylistsFollowsTheirModeWithoutStoringIt();
    void missingFileIsReportedAndNothingPlays();
    void windowKeys_data();
    void windowKeys();
    void lostOutputIsRetriedAndShown();
    void errorsOfTheTransportAndTheRegistryAreShown();
    void showingAPlaylistDecodesOnlyWhatPlaysFirst();
};

void MainWindowTransportTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowTransportTest::init()
{
    f.resetSettings();
    f.open();
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);
}

void MainWindowTransportTest::cleanup()
{
    f.close();
}

QComboBox* MainWindowTransportTest::playModeSelector() const
{
    // The selector of the playlist tree, placed in the waveform strip's top row.
    for (QComboBox* combo : f.widget("topWidget")->findChildren<QComboBox*>()) {
        if (combo->count() == 6)
            return combo;
    }
    return nullptr;
}

int MainWindowTransportTest::storedPlayMode(int playlistId) const
{
    QList<PlaylistGroup> groups;
    f.db()->loadAllPlaylistGroups(groups);
    for (const PlaylistGroup& group : groups) {
        if (group.id == playlistId)
            return group.playMode;
    }
    return -100;
}

void MainWindowTransportTest::startTable_data()
{
    QTest::addColumn<int>("selectRow");  // -1: nothing selected
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<int>("expectedState");
    QTest::addColumn<QString>("buttonText");

    QTest::newRow("nothing selected: the first cue") << -1 << 1 << 0 << int(AudioEngine::Playing) << "||";
    QTest::newRow("a row selected: its cue") << 2 << 1 << 2 << int(AudioEngine::Playing) << "||";
    QTest::newRow("playing: pauses") << 1 << 2 << 1 << int(AudioEngine::Paused) << "▶";
    QTest::newRow("paused: resumes") << 1 << 3 << 1 << int(AudioEngine::Playing) << "||";
}

void MainWindowTransportTest::startTable()
{
    QFETCH(int, selectRow);
    QFETCH(int, presses);
    QFETCH(int, expectedRow);
    QFETCH(int, expectedState);
    QFETCH(QString, buttonText);

    if (selectRow >= 0)
        f.clickRow(selectRow);
    QCOMPARE(f.selectedRow(), selectRow);

    qint64 pausedAt = -1;
    for (int i = 0; i < presses; ++i) {
        play();
        QTest::qWait(150);
        if (f.transport()->getState() == AudioEngine::Paused)
            pausedAt = f.cues()->getCurrentPosition();
    }

    Cue* expected = f.cue(f.firstPlaylist, expectedRow);
    QCOMPARE(f.playingCue(), expected);
    QCOMPARE(int(f.transport()->getState()), expectedState);
    QCOMPARE(f.cues()->isPlaying(), expectedState == AudioEngine::Playing);
    QCOMPARE(f.button("playPasueButton")->text(), buttonText);
    QCOMPARE(f.selectedRow(), expectedRow);
    QCOMPARE(f.cues()->getPlaylist().size(), 3);
    if (presses == 3) {
        // Resumed where it was paused, not started again.
        QVERIFY(pausedAt > 0);
        QVERIFY2(f.cues()->getCurrentPosition() >= pausedAt, qPrintable(QString::number(pausedAt)));
    }
}

void MainWindowTransportTest::playStartsAtThePlayhead()
{
    f.clickRow(1);
    QTRY_COMPARE(f.waveform()->cue(), f.cue(f.firstPlaylist, 1));
    f.waveform()->setPosition(2500);
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    QTest::qWait(100);
    QVERIFY2(f.cues()->getCurrentPosition() >= 2500, qPrintable(QString::number(f.cues()->getCurrentPosition())));
}

void MainWindowTransportTest::nextAndPreviousWrap()
{
    QVERIFY(!f.transport()->isCrossfadeEnabled());
    LogCapture log;
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    const QList<std::pair<const char*, int>> steps = {
        {"nextButton", 1}, {"nextButton", 2}, {"nextButton", 0}, {"prevButton", 2}, {"prevButton", 1},
    };
    for (const auto& [button, row] : steps) {
        QTest::mouseClick(f.button(button), Qt::LeftButton);
        QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, row));
        QCOMPARE(f.selectedRow(), row);
        QCOMPARE(f.waveform()->cue(), f.cue(f.firstPlaylist, row));
        QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    }
    // With crossfade switched off a direct switch is what was asked for.
    QCOMPARE(log.count("Crossfade FAILED"), 0);
}

void MainWindowTransportTest::nextAndPreviousWithoutPlayOrder()
{
    // Nothing played yet: next after the last row starts the first, previous
    // before the first row starts the last.
    f.clickRow(2);
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    f.close();
    init();
    f.clickRow(0);
    QTest::mouseClick(f.button("prevButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 2));
    f.close();
    init();
    QTest::mouseClick(f.button("prevButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 2));
}

void MainWindowTransportTest::nextSelectsThePlayingCueNotTheSameRowNumber()
{
    f.clickRow(0);
    play();
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));

    // The table now shows the other playlist; the play order is still "first".
    f.showPlaylist(f.secondPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 2);
    QTest::mouseClick(f.button("nextButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 1));
    // Row 1 of this table holds E, which is not playing: nothing is selected
    // and E is not put in the settings bar or the waveform view.
    QCOMPARE(f.selectedRow(), -1);
    QVERIFY(f.waveform()->cue() != f.cue(f.secondPlaylist, 1));

    // Back on "first", previous selects the cue that plays.
    f.showPlaylist(f.firstPlaylist);
    QTest::mouseClick(f.button("prevButton"), Qt::LeftButton);
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, 0));
    QCOMPARE(f.selectedRow(), 0);
}

void MainWindowTransportTest::stopClearsThePlayingRow()
{
    play();
    QVERIFY(f.playingCue());
    auto* model = qobject_cast<SongTableModel*>(f.table()->model());
    QCOMPARE(model->currentCue(), f.cue(f.firstPlaylist, 0));
    QTest::mouseClick(f.button("stopButton"), Qt::LeftButton);
    QCOMPARE(f.transport()->getState(), AudioEngine::Stopped);
    QCOMPARE(f.playingCue(), nullptr);
    QCOMPARE(model->currentCue(), nullptr);
    QCOMPARE(f.button("playPasueButton")->text(), QStringLiteral("▶"));
    QCOMPARE(f.status(), QStringLiteral("已停止播放"));
}

void MainWindowTransportTest::playModeMessages_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");  // in force and stored with the playlist

    QTest::newRow("0") << 0 << "单曲循环" << 0;
    QTest::newRow("1") << 1 << "列表循环" << 1;
    QTest::newRow("2") << 2 << "随机播放" << 2;
    QTest::newRow("3") << 3 << "自定义" << 3;
    QTest::newRow("4") << 4 << "自定义列表循环" << 4;
    QTest::newRow("5") << 5 << "自定义随机" << 5;
    QTest::newRow("beyond the list") << 9 << "列表循环" << 1;
    QTest::newRow("negative") << -1 << "列表循环" << 1;
}

void MainWindowTransportTest::playModeMessages()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(int, mode);

    // Start from another mode so that every row is a change.
    f.db()->execute(QStringLiteral("UPDATE playlist_groups SET play_mode = 2 WHERE id = ?"), {f.firstPlaylist});
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onPlayModeChanged", Q_ARG(int, 2)));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onPlayModeChanged", Q_ARG(int, index)));
    QCOMPARE(f.status(), QStringLiteral("播放模式已切换: ") + name);
    QCOMPARE(storedPlayMode(f.firstPlaylist), mode);

    // The registry sequences by the same mode: modes 0 to 2 play each cue
    // once to its end.
    QCOMPARE(f.cues()->isFinishAtEndMode(), mode < CueManager::Custom);
}

void MainWindowTransportTest::switchingPlaylistsFollowsTheirModeWithoutStoringIt()
{
    f.close();
    f.db()->execute(QStringLiteral("UPDATE playlist_groups SET play_mode = 3 WHERE id = ?"), {f.secondPlaylist});
    init();  // the tree reads the stored modes when it is made
    QComboBox* selector = playModeSelector();
    QVERIFY(selector);
    QCOMPARE(selector->currentIndex(), 1);
    f.showPlaylist(f.secondPlaylist);
    QCOMPARE(selector->currentIndex(), 3);
    QCOMPARE(storedPlayMode(f.firstPlaylist), 1);
    QCOMPARE(storedPlayMode(f.secondPlaylist), 3);
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(selector->currentIndex(), 1);
    QCOMPARE(storedPlayMode(f.secondPlaylist), 3);

    // A change by the operator is stored with the playlist shown.
    selector->setCurrentIndex(4);
    QCOMPARE(storedPlayMode(f.firstPlaylist), 4);
}

void MainWindowTransportTest::missingFileIsReportedAndNothingPlays()
{
    Cue* cue = f.cue(f.firstPlaylist, 1);
    const QString path = cue->filePath();
    const QString hidden = path + QStringLiteral(".away");
    QVERIFY(QFile::rename(path, hidden));
    auto restore = qScopeGuard([&] { QFile::rename(hidden, path); });

    // The table asks to play the row (a click in show mode, a double click).
    const QModelIndex index = f.table()->model()->index(1, SongTableModel::NameColumn);
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onTrackDoubleClicked", Q_ARG(QModelIndex, index)));
    QCOMPARE(f.status(), QStringLiteral("歌曲文件不存在: B"));
    QCOMPARE(f.transport()->getState(), AudioEngine::Stopped);
    QCOMPARE(f.playingCue(), nullptr);
    QVERIFY(!f.cues()->isPlaying());
    QCOMPARE(f.button("playPasueButton")->text(), QStringLiteral("▶"));
}

void MainWindowTransportTest::windowKeys_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<int>("expectedState");

    QTest::newRow("F5 plays") << QList<int>{Qt::Key_F5} << 0 << int(AudioEngine::Playing);
    QTest::newRow("F5 twice pauses") << QList<int>{Qt::Key_F5, Qt::Key_F5} << 0 << int(AudioEngine::Paused);
    QTest::newRow("Right: next") << QList<int>{Qt::Key_F5, Qt::Key_Right} << 1 << int(AudioEngine::Playing);
    QTest::newRow("Page Down: next") << QList<int>{Qt::Key_F5, Qt::Key_PageDown} << 1 << int(AudioEngine::Playing);
    QTest::newRow("Page Up: previous") << QList<int>{Qt::Key_F5, Qt::Key_PageUp} << 2 << int(AudioEngine::Playing);
    QTest::newRow("Left: previous") << QList<int>{Qt::Key_F5, Qt::Key_Left, Qt::Key_Left} << 1
                                    << int(AudioEngine::Playing);
}

void MainWindowTransportTest::windowKeys()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, expectedRow);
    QFETCH(int, expectedState);

    // As the operator has it: a click on the first row gives the table the
    // keyboard focus, and the keys (a presenter's too) go to it.
    f.clickRow(0);
    QTRY_VERIFY(f.table()->hasFocus());
    for (int key : keys)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, expectedRow));
    QCOMPARE(int(f.transport()->getState()), expectedState);
    QCOMPARE(f.selectedRow(), expectedRow);
}

void MainWindowTransportTest::lostOutputIsRetriedAndShown()
{
    play();
    QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    QTest::qWait(200);

    // The sound system goes away under the running device: the output stops
    // and cannot be opened again for a while.
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    auto reopen = qScopeGuard([] { SDL_InitSubSystem(SDL_INIT_AUDIO); });
    QTRY_VERIFY_WITH_TIMEOUT(f.status().startsWith(QStringLiteral("⚠ 音频输出中断")), 6000);
    // The cue is still the one meant to play, at its place.
    Cue* cue = f.transport()->getCurrentCue();
    QVERIFY(cue);
    QCOMPARE(f.transport()->getState(), AudioEngine::Playing);
    QVERIFY(f.cues()->isPlaying());
    QCOMPARE(f.button("playPasueButton")->text(), QStringLiteral("||"));
    auto* model = qobject_cast<SongTableModel*>(f.table()->model());
    QCOMPARE(model->currentCue(), cue);
    const qint64 where = f.transport()->getPosition();
    QTest::qWait(1500);
    QVERIFY(f.status().startsWith(QStringLiteral("⚠ 音频输出中断，正在重试")));
    QCOMPARE(f.transport()->getPosition(), where);

    // Back: the cue goes on from there by itself.
    SDL_InitSubSystem(SDL_INIT_AUDIO);
    reopen.dismiss();
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("音频输出已恢复"), 2500);
    QCOMPARE(f.transport()->getCurrentCue(), cue);
    QTRY_VERIFY_WITH_TIMEOUT(f.transport()->getPosition() > where, 2000);
    QVERIFY(f.transport()->getPosition() < where + 2000);
}

void MainWindowTransportTest::errorsOfTheTransportAndTheRegistryAreShown()
{
    LogCapture log;
    Q_EMIT f.transport()->errorOccurred(QStringLiteral("加载音频文件失败：X"));
    QCOMPARE(f.status(), QStringLiteral("⚠ 加载音频文件失败：X"));
    QVERIFY(log.contains("[MainWindow] AudioEngine error:"));
    Q_EMIT f.cues()->errorOccurred(QStringLiteral("播放列表中没有可以播放的音频，已停止播放"));
    QCOMPARE(f.status(), QStringLiteral("⚠ 播放列表中没有可以播放的音频，已停止播放"));
}

void MainWindowTransportTest::showingAPlaylistDecodesOnlyWhatPlaysFirst()
{
    auto* engine = f.transport()->findChild<PlaybackEngine*>();
    QVERIFY(engine);
    // Decodes may still run on worker threads when the test has ended.
    struct Counts {
        QMutex mutex;
        QHash<QString, int> byPath;
    };
    const auto decodes = std::make_shared<Counts>();
    // What the window's start decoded ahead is in the cache before the count
    // begins: a decode still under way would land there uncounted.
    QTRY_VERIFY(engine->isCached(f.cue(f.firstPlaylist, 0)->filePath()));
    QTRY_VERIFY(engine->isCached(f.cue(f.firstPlaylist, 1)->filePath()));
    auto count = [&](int row) {
        QMutexLocker lock(&decodes->mutex);
        return decodes->byPath.value(f.cue(f.firstPlaylist, row)->filePath());
    };
    engine->setDecodeFunction([decodes](const QString& path, PcmBuffer& out) {
        {
            QMutexLocker lock(&decodes->mutex);
            ++decodes->byPath[path];
        }
        decodeFileToBuffer(path, out);
    });
    engine->clearPreloadCache();
    f.showPlaylist(f.secondPlaylist);
    f.showPlaylist(f.firstPlaylist);

    // Play would start the first row; the second follows it. The third is
    // not decoded before anything plays.
    QTRY_VERIFY(engine->isCached(f.cue(f.firstPlaylist, 0)->filePath()));
    QTRY_VERIFY(engine->isCached(f.cue(f.firstPlaylist, 1)->filePath()));
    QTest::qWait(300);
    QCOMPARE(count(2), 0);

    // Pressed one after another, each cue starts from the cache: none is
    // decoded a second time. A double click arrives as a press and release,
    // then the second press.
    for (int row = 0; row < 3; ++row) {
        QTRY_VERIFY(engine->isCached(f.cue(f.firstPlaylist, row)->filePath()));
        const QModelIndex index = f.table()->model()->index(row, SongTableModel::DurationColumn);
        const QPoint cell = f.table()->visualRect(index).center();
        QTest::mouseClick(f.table()->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(f.table()->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(f.playingCue(), f.cue(f.firstPlaylist, row));
        QCOMPARE(count(row), 1);
    }
    f.cues()->stopPlaylist();
    engine->clearPreloadQueue();
    engine->setDecodeFunction({});
}

QTEST_MAIN(MainWindowTransportTest)
#include "MainWindowTransportTest.moc"
