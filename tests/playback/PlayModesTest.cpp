#include "TransportFixture.h"
#include "playback/CueManager.h"
#include "support/LogCapture.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The play order on a scripted engine: what each play mode does at the end
// of a cue (loop count, crossfade), random order and its history, cues that
// cannot start, and direct starts.
class PlayModesTest : public QObject {
    Q_OBJECT

private:
    TransportFixture f;
    std::unique_ptr<CueManager> manager;
    QList<Cue*> starts;
    int finished = 0;

    // Plays the first cue of the order until another cue starts, the
    // playlist finishes or (endless) the region has repeated four times.
    // Returns the passes of the loop region heard.
    int runFirstCue(bool endless, int maxTicks = 4000);
    QList<Cue*> threeCues(qint64 loopStart, qint64 loopEnd, int loopCount, const QString& missing = "");

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void endOfCue_data();
    void endOfCue();
    void userNextAndPreviousWrap();
    void randomCyclesThroughEveryCue();
    void randomDrawRetriesOutOfRangeValues();
    void randomHistoryWalksBack();
    void randomWithOneCueReplaysIt();
    void cuesThatCannotStart_data();
    void cuesThatCannotStart();
    void playCueOutsideTheOrder_data();
    void playCueOutsideTheOrder();
    void playCueOfThePlayingCueRestartsIt();
    void showModeStartsAtTheLoopStart();
    void playPlaylistStartsTheCueAtTheGivenPosition();
    void modeChangeAppliesToTheRunningCue();
    void modeChangeWhilePausedAppliesOnResume();
    void modeChangeDecodesTheCueThatNowFollows_data();
    void modeChangeDecodesTheCueThatNowFollows();
    void failedDeviceRecoveryKeepsTheRegistryPlaying();
    void emptyPlaylistStartsNothing();
    void nullEntriesDoNotSkipForever();
};

void PlayModesTest::initTestCase()
{
    QVERIFY(TransportFixture::initDatabase(f.dir));
}

void PlayModesTest::init()
{
    f.reset();
    manager = std::make_unique<CueManager>(f.transport.get());
    manager->setRandomSource([] { return quint64(1); });
    starts.clear();
    finished = 0;
    connect(manager.get(), &CueManager::currentCueChanged, this, [this](Cue* cue) { starts.append(cue); });
    connect(manager.get(), &CueManager::playlistFinished, this, [this] { ++finished; });
}

void PlayModesTest::cleanup()
{
    manager.reset();
}

QList<Cue*> PlayModesTest::threeCues(qint64 loopStart, qint64 loopEnd, int loopCount, const QString& missing)
{
    QList<Cue*> cues;
    const QStringList names{"A", "B", "C"};
    for (int i = 0; i < 3; ++i)
        cues.append(f.makeCue(names[i], 10000, loopStart, loopEnd, loopCount, !missing.contains(names[i])));
    return cues;
}

int PlayModesTest::runFirstCue(bool endless, int maxTicks)
{
    int jumps = 0;
    qint64 last = f.fake->position;
    for (int i = 0; i < maxTicks; ++i) {
        f.run();
        if (finished > 0 || starts.size() >= 2 || !manager->isPlaying())
            break;
        if (f.fake->position < last)
            ++jumps;
        last = f.fake->position;
        if (endless && jumps >= 4)
            break;
    }
    return jumps + 1;
}

void PlayModesTest::endOfCue_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<bool>("crossfade");
    QTest::addColumn<bool>("crossfadeAccepted");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<int>("passes");  // -1: endless
    QTest::addColumn<QString>("next");  // cue started next, or "finished"

    const QStringList modeNames{"SingleLoop", "ListLoop", "Random", "Custom", "CustomListLoop", "CustomRandom"};
    const QStringList nextByMode{"A", "B", "C", "finished", "B", "C"};
    for (int mode = 0; mode < 6; ++mode) {
        for (int loopCount : {0, 1, 3}) {
            for (bool crossfade : {false, true}) {
                const bool custom = mode >= 3;
                const int passes = !custom ? 1 : (loopCount == 0 ? -1 : loopCount);
                const QString next = passes == -1 ? QString() : nextByMode[mode];
                QTest::addRow("%s, loop %d, crossfade %s", qPrintable(modeNames[mode]), loopCount,
                              crossfade ? "on" : "off")
                    << mode << loopCount << crossfade << true << qint64(1000) << qint64(8000) << passes << next;
            }
        }
    }
    // The end of the data rather than a region end inside the file.
    QTest::newRow("whole file, CustomListLoop 3") << 4 << 3 << false << true << qint64(0) << qint64(0) << 3 << "B";
    QTest::newRow("whole file, Custom 1") << 3 << 1 << false << true << qint64(0) << qint64(0) << 1 << "finished";
    QTest::newRow("whole file, ListLoop") << 1 << 3 << false << true << qint64(0) << qint64(0) << 1 << "B";
    QTest::newRow("whole file, SingleLoop") << 0 << 3 << false << true << qint64(0) << qint64(0) << 1 << "A";
    QTest::newRow("whole file, CustomRandom endless") << 5 << 0 << false << true << qint64(0) << qint64(0) << -1 << "";
    QTest::newRow("whole file, CustomListLoop 3, crossfade")
        << 4 << 3 << true << true << qint64(0) << qint64(0) << 3 << "B";
    // Every crossfade refused: each pass still counts once.
    QTest::newRow("refused, CustomListLoop 3") << 4 << 3 << true << false << qint64(1000) << qint64(8000) << 3 << "B";
    QTest::newRow("refused, Custom 3") << 3 << 3 << true << false << qint64(1000) << qint64(8000) << 3 << "finished";
    QTest::newRow("refused, CustomListLoop endless") << 4 << 0 << true << false << qint64(1000) << qint64(8000) << -1 << "";
    QTest::newRow("refused, ListLoop") << 1 << 3 << true << false << qint64(1000) << qint64(8000) << 1 << "B";
    // A region no longer than the crossfade has no crossfade window.
    QTest::newRow("short region, Custom, crossfade") << 3 << 1 << true << true << qint64(0) << qint64(2500) << 1
                                                     << "finished";
    QTest::newRow("short region, CustomListLoop, crossfade") << 4 << 2 << true << true << qint64(0) << qint64(2500)
                                                             << 2 << "B";
}

void PlayModesTest::endOfCue()
{
    QFETCH(int, mode);
    QFETCH(int, loopCount);
    QFETCH(bool, crossfade);
    QFETCH(bool, crossfadeAccepted);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(int, passes);
    QFETCH(QString, next);

    const QList<Cue*> cues = threeCues(loopStart, loopEnd, loopCount);
    AudioEngine* transport = f.transport.get();
    transport->setCrossfadeEnabled(crossfade);
    transport->setCrossfadeDuration(3);
    f.fake->crossfadeAccepted = crossfadeAccepted;
    manager->setPlayMode(CueManager::PlayMode(mode));
    manager->setPlaylist(cues);
    manager->playPlaylist();
    QCOMPARE(starts, QList<Cue*>{cues[0]});

    const bool endless = passes == -1;
    const int heard = runFirstCue(endless);
    if (endless) {
        QVERIFY(heard >= 5);
        QCOMPARE(starts.size(), 1);
        QCOMPARE(finished, 0);
        QCOMPARE(transport->getCurrentCue(), cues[0]);
        return;
    }
    QCOMPARE(heard, passes);
    if (next == "finished") {
        QCOMPARE(finished, 1);
        QCOMPARE(starts.size(), 1);
        QVERIFY(!manager->isPlaying());
        QVERIFY2(!f.fake->playing, "the sound must stop when the playlist ends");
        return;
    }
    QCOMPARE(finished, 0);
    QCOMPARE(starts.size(), 2);
    Cue* expected = cues[QStringLiteral("ABC").indexOf(next.at(0))];
    QCOMPARE(starts.at(1), expected);
    if (crossfade && crossfadeAccepted)
        QVERIFY(f.fake->crossfadeRequests.contains(expected));
    else
        QCOMPARE(f.fake->loadCalls, 2);
}

void PlayModesTest::userNextAndPreviousWrap()
{
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlaylist(cues);
    manager->setCurrentIndex(2);
    manager->playNext();
    QCOMPARE(manager->getCurrentIndex(), 0);
    manager->playPrevious();
    QCOMPARE(manager->getCurrentIndex(), 2);
    QCOMPARE(starts, (QList<Cue*>{cues[0], cues[2]}));
}

void PlayModesTest::randomCyclesThroughEveryCue()
{
    QRandomGenerator generator(20240601);
    manager->setRandomSource([&generator] { return generator.generate64(); });
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlayMode(CueManager::Random);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    QList<int> order{manager->getCurrentIndex()};
    for (int i = 0; i < 29; ++i) {
        manager->playNext();
        order.append(manager->getCurrentIndex());
    }
    for (int i = 0; i + 2 < order.size(); i += 3) {
        QList<int> cycle = order.mid(i, 3);
        std::sort(cycle.begin(), cycle.end());
        QCOMPARE(cycle, (QList<int>{0, 1, 2}));
    }
    for (int i = 1; i < order.size(); ++i)
        QVERIFY(order[i] != order[i - 1]);
}

void PlayModesTest::randomDrawRetriesOutOfRangeValues()
{
    QList<quint64> values{3, 6};
    manager->setRandomSource([&values] { return values.takeFirst(); });
    QList<Cue*> cues = threeCues(0, 0, 1);
    cues.append(f.makeCue("D", 10000));
    manager->setPlayMode(CueManager::Random);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    // Candidates 1, 2, 3 under the mask 3: 3 is out of range, 6 & 3 = 2 picks the third.
    manager->playNext();
    QCOMPARE(manager->getCurrentIndex(), 3);
    QVERIFY(values.isEmpty());
}

void PlayModesTest::randomHistoryWalksBack()
{
    manager->setRandomSource([] { return quint64(0); });
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlayMode(CueManager::Random);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    manager->playNext();
    manager->playNext();
    QCOMPARE(starts, (QList<Cue*>{cues[0], cues[1], cues[2]}));
    QList<int> back;
    for (int i = 0; i < 3; ++i) {
        manager->playPrevious();
        back.append(manager->getCurrentIndex());
    }
    QCOMPARE(back, (QList<int>{1, 0, 0}));
}

void PlayModesTest::randomWithOneCueReplaysIt()
{
    Cue* only = f.makeCue("only", 10000);
    manager->setPlayMode(CueManager::Random);
    manager->setPlaylist({only});
    manager->playPlaylist();
    runFirstCue(false);
    QCOMPARE(starts, (QList<Cue*>{only, only}));
}

void PlayModesTest::cuesThatCannotStart_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QString>("unloadable");
    QTest::addColumn<bool>("crossfade");
    QTest::addColumn<int>("ticks");  // how long the first cue plays
    QTest::addColumn<QString>("started");  // cues that started, in order
    QTest::addColumn<QStringList>("errors");  // one message naming each cue skipped
    QTest::addColumn<bool>("stopped");  // nothing in the order could sound
    QTest::newRow("operator starts a missing file") << "A" << "" << false << 0 << "B"
                                                    << QStringList{"文件不存在：A.wav"} << false;
    QTest::newRow("two missing files in a row") << "AB" << "" << false << 0 << "C"
                                                << QStringList{"文件不存在：A.wav", "文件不存在：B.wav"} << false;
    QTest::newRow("the next cue is missing") << "B" << "" << false << 250 << "AC"
                                             << QStringList{"文件不存在：B.wav"} << false;
    QTest::newRow("the next cue is missing, crossfade")
        << "B" << "" << true << 250 << "AC" << QStringList{"文件不存在：B.wav"} << false;
    QTest::newRow("the next two cues are missing") << "BC" << "" << false << 250 << "AA"
                                                   << QStringList{"文件不存在：B.wav", "文件不存在：C.wav"} << false;
    QTest::newRow("the next cue cannot be loaded") << "" << "B" << false << 250 << "AC"
                                                   << QStringList{"加载音频文件失败：B"} << false;
    QTest::newRow("the engine cannot load it") << "" << "A" << false << 0 << "B"
                                               << QStringList{"加载音频文件失败：A"} << false;
    QTest::newRow("no file of the order exists")
        << "ABC" << "" << false << 0 << ""
        << QStringList{"文件不存在：A.wav", "文件不存在：B.wav", "文件不存在：C.wav"} << true;
}

void PlayModesTest::cuesThatCannotStart()
{
    QFETCH(QString, missing);
    QFETCH(QString, unloadable);
    QFETCH(bool, crossfade);
    QFETCH(int, ticks);
    QFETCH(QString, started);
    QFETCH(QStringList, errors);
    QFETCH(bool, stopped);

    const QList<Cue*> cues = threeCues(0, 0, 1, missing);
    for (Cue* cue : cues)
        if (unloadable.contains(cue->name()))
            f.fake->unloadable.append(cue->filePath());
    f.transport->setCrossfadeEnabled(crossfade);
    QStringList shown;
    QObject listening;
    connect(f.transport.get(), &AudioEngine::errorOccurred, &listening,
            [&shown](const QString& text) { shown << text; });
    QSignalSpy registryErrors(manager.get(), &CueManager::errorOccurred);

    manager->setPlaylist(cues);
    manager->playPlaylist();
    for (int i = 0; i < ticks && manager->isPlaying(); ++i)
        f.run();

    QString names;
    for (Cue* cue : std::as_const(starts))
        names += cue->name();
    QCOMPARE(names, started);
    QCOMPARE(shown, errors);
    QCOMPARE(manager->isPlaying(), !stopped);
    QCOMPARE(registryErrors.count(), stopped ? 1 : 0);
    if (stopped) {
        QCOMPARE(registryErrors.first().first().toString(), QStringLiteral("播放列表中没有可以播放的音频，已停止播放"));
        QVERIFY2(!f.fake->playing, "nothing sounds once the playlist has stopped");
    } else {
        QVERIFY2(f.fake->playing, "the show goes on with the cue after the ones skipped");
        QCOMPARE(f.transport->getCurrentCue(), starts.last());
    }
}

void PlayModesTest::playCueOutsideTheOrder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("orderSize");
    QTest::addColumn<int>("index");
    QTest::newRow("ListLoop appends it") << int(CueManager::ListLoop) << 3 << 2;
    QTest::newRow("CustomListLoop leaves the order") << int(CueManager::CustomListLoop) << 2 << 0;
}

void PlayModesTest::playCueOutsideTheOrder()
{
    QFETCH(int, mode);
    QFETCH(int, orderSize);
    QFETCH(int, index);
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlayMode(CueManager::PlayMode(mode));
    manager->setPlaylist({cues[0], cues[1]});
    manager->playCue(cues[2], -1);
    QCOMPARE(f.transport->getCurrentCue(), cues[2]);
    QCOMPARE(manager->getPlaylist().size(), orderSize);
    QCOMPARE(manager->getCurrentIndex(), index);
    // The cue after the current index is decoded ahead.
    QCOMPARE(f.fake->prioritized.last(), index == 0 ? cues[1] : cues[0]);
}

void PlayModesTest::playCueOfThePlayingCueRestartsIt()
{
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    f.run();
    manager->playCue(cues[0], -1);
    QCOMPARE(starts, (QList<Cue*>{cues[0], cues[0]}));
    QCOMPARE(finished, 0);
    QCOMPARE(f.transport->getState(), AudioEngine::Playing);
}

void PlayModesTest::showModeStartsAtTheLoopStart()
{
    Cue* cue = f.makeCue("show", 90000, 30000, 60000);
    manager->setShowMode(true);
    manager->playCue(cue, 42000);
    QCOMPARE(f.fake->seeks.last(), qint64(30000));
    manager->setShowMode(false);
    manager->stopPlaylist();
    manager->playCue(cue, 42000);
    QCOMPARE(f.fake->seeks.last(), qint64(42000));
    manager->stopPlaylist();
    manager->playCue(cue, 70000);
    QCOMPARE(f.fake->seeks.last(), qint64(60000));
}

void PlayModesTest::playPlaylistStartsTheCueAtTheGivenPosition()
{
    const QList<Cue*> cues = threeCues(1000, 8000, 1);
    manager->setPlaylist(cues);
    manager->setCurrentIndex(1);
    manager->playPlaylist(2500);
    // One seek, made before the device starts: nothing from the loop start
    // is heard first.
    QCOMPARE(starts, (QList<Cue*>{cues[1]}));
    QCOMPARE(f.fake->seeks, (QList<qint64>{2500}));
    QCOMPARE(f.fake->playCalls, 1);

    // The cue that follows starts at its own loop start.
    for (int i = 0; i < 400 && starts.size() < 2; ++i)
        f.run();
    QCOMPARE(starts, (QList<Cue*>{cues[1], cues[2]}));
    QCOMPARE(f.fake->seeks.last(), qint64(1000));

    // Past the loop region: its end.
    manager->stopPlaylist();
    manager->setCurrentIndex(0);
    manager->playPlaylist(9500);
    QCOMPARE(f.fake->seeks.last(), qint64(8000));
}

void PlayModesTest::modeChangeAppliesToTheRunningCue()
{
    const QList<Cue*> cues = threeCues(1000, 8000, 2);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    f.run();
    manager->setPlayMode(CueManager::Custom);
    QCOMPARE(runFirstCue(false), 2);
    QCOMPARE(finished, 1);
    QCOMPARE(starts.size(), 1);
}

void PlayModesTest::modeChangeWhilePausedAppliesOnResume()
{
    // A cue paused in ListLoop (once to its end), resumed in Custom: it
    // plays its region twice, as its loop count says, and the list stops.
    const QList<Cue*> cues = threeCues(1000, 8000, 2);
    f.transport->setPauseFadeEnabled(false);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    f.run();
    manager->pausePlaylist();
    QCOMPARE(f.transport->getState(), AudioEngine::Paused);
    manager->setPlayMode(CueManager::Custom);
    manager->playPlaylist();
    QCOMPARE(f.transport->getState(), AudioEngine::Playing);
    QCOMPARE(runFirstCue(false), 2);
    QCOMPARE(finished, 1);
    QCOMPARE(starts.size(), 1);
}

void PlayModesTest::modeChangeDecodesTheCueThatNowFollows_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("decodedAhead");  // index into the order; -1: none

    QTest::newRow("random to list loop") << int(CueManager::Random) << int(CueManager::ListLoop) << 1;
    QTest::newRow("custom to custom list loop") << int(CueManager::Custom) << int(CueManager::CustomListLoop) << 1;
    QTest::newRow("list loop to single loop") << int(CueManager::ListLoop) << int(CueManager::SingleLoop) << -1;
}

void PlayModesTest::modeChangeDecodesTheCueThatNowFollows()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, decodedAhead);

    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlayMode(CueManager::PlayMode(from));
    manager->setPlaylist(cues);
    manager->playPlaylist();
    f.run();
    f.fake->prioritized.clear();
    manager->setPlayMode(CueManager::PlayMode(to));
    if (decodedAhead < 0)
        QVERIFY(f.fake->prioritized.isEmpty());
    else
        QCOMPARE(f.fake->prioritized, (QList<Cue*>{cues[decodedAhead]}));
}

void PlayModesTest::failedDeviceRecoveryKeepsTheRegistryPlaying()
{
    const QList<Cue*> cues = threeCues(0, 0, 1);
    manager->setPlaylist(cues);
    manager->playPlaylist();
    f.run();
    QVERIFY(manager->isPlaying());
    QSignalSpy states(manager.get(), &CueManager::playbackStateChanged);
    f.fake->reinitSucceeds = false;
    f.fake->deviceStalled = true;
    for (int i = 0; i <= AudioEngine::kStuckTickLimit; ++i)
        f.tick();
    QCOMPARE(f.fake->reinitCalls, 1);
    // The output is retried; nothing moves on meanwhile.
    QCOMPARE(f.transport->getState(), AudioEngine::Playing);
    QVERIFY(f.transport->hasOutputFailed());
    QVERIFY(manager->isPlaying());
    QCOMPARE(states.size(), 0);
    QCOMPARE(finished, 0);
    QCOMPARE(starts.size(), 1);

    // Back: the same cue plays on.
    f.fake->reinitSucceeds = true;
    f.fake->deviceStalled = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.transport->hasOutputFailed(), 2000);
    QVERIFY(manager->isPlaying());
    QCOMPARE(f.transport->getState(), AudioEngine::Playing);
    QCOMPARE(f.transport->getCurrentCue(), cues.first());
    QCOMPARE(starts.size(), 1);
}

void PlayModesTest::emptyPlaylistStartsNothing()
{
    manager->setPlaylist({});
    manager->playPlaylist();
    QVERIFY(starts.isEmpty());
    QVERIFY(!manager->isPlaying());
    QCOMPARE(f.fake->loadCalls, 0);
}

void PlayModesTest::nullEntriesDoNotSkipForever()
{
    manager->setPlaylist({nullptr, nullptr});
    manager->playPlaylist();
    QVERIFY(starts.isEmpty());
    QCOMPARE(finished, 1);
    QVERIFY(!manager->isPlaying());
}

QTEST_GUILESS_MAIN(PlayModesTest)
#include "PlayModesTest.moc"
