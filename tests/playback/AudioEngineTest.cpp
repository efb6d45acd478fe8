#include "TransportFixture.h"
#include "playback/WaveformParseRequester.h"
#include "support/LogCapture.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

// The transport on a scripted engine: where a cue starts, pre-wait, the
// pause fade, the volume law, stall recovery, the stored length, queued cues
// and failed starts.
class AudioEngineTest : public QObject {
    Q_OBJECT

private:
    TransportFixture f;
    AudioEngine* transport() { return f.transport.get(); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void startsInsideTheLoopRegion_data();
    void startsInsideTheLoopRegion();
    void preWaitDelaysOnlyTheSound();
    void pauseDuringPreWaitAbandonsIt();
    void pauseFadeSteps_data();
    void pauseFadeSteps();
    void secondPauseDuringAFadeIsImmediate();
    void resumeFadesIn();
    void playCancelsARunningPauseFade();
    void volumeLaw_data();
    void volumeLaw();
    void loudnessGainIsSetBeforeTheFirstBlock();
    void cueVolumeWithoutACueIsIgnored();
    void aVolumeSwitchIsOneMoveOfTheOutput();
    void stallRecovery_data();
    void stallRecovery();
    void failedStallRecoveryKeepsTheCue();
    void outputRetriesBackOff();
    void pauseWhileTheOutputIsAwayKeepsThePosition();
    void storedLengthFollowsOnlyACompleteDecode_data();
    void storedLengthFollowsOnlyACompleteDecode();
    void queuedCueKeepsItsStopAtEndRule();
    void stopDropsTheQueuedCue();
    void failedStartTellsTheOperator_data();
    void failedStartTellsTheOperator();
    void positionBeforeTheLoopStartJumpsToIt();
    void cueWithoutPeaksAsksForThem();
    void outputDeviceSwitch_data();
    void outputDeviceSwitch();
    void outputDeviceThatFailsIsRetried();
    void everyStartChecksTheDevice_data();
    void everyStartChecksTheDevice();
    void crossfadeSwitchedOffWhilePreparedRestartsTheCue();
    void preparedCrossfadeRefusedStartsTheCueAlone_data();
    void preparedCrossfadeRefusedStartsTheCueAlone();
    void endOfDataWithNothingToRepeat_data();
    void endOfDataWithNothingToRepeat();
    void preparedCrossfadeGoesOnAfterAPause();
    void levelTicksOnlyWhileACuePlays();
};

namespace {

class RecordingParseQueue : public WaveformParseRequester {
public:
    QList<QPair<Cue*, bool>> requests;
    void enqueueWaveformParse(Cue* cue, bool priority) override { requests.append({cue, priority}); }
};

}  // namespace

void AudioEngineTest::initTestCase()
{
    QVERIFY(TransportFixture::initDatabase(f.dir));
}

void AudioEngineTest::init()
{
    f.reset();
}

void AudioEngineTest::startsInsideTheLoopRegion_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("finishAtEnd");
    QTest::addColumn<qint64>("startPos");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("loop start by default") << qint64(30000) << qint64(60000) << true << qint64(-1) << qint64(30000);
    QTest::newRow("before the region") << qint64(30000) << qint64(60000) << true << qint64(10000) << qint64(30000);
    QTest::newRow("inside") << qint64(30000) << qint64(60000) << false << qint64(45000) << qint64(45000);
    QTest::newRow("beyond the region") << qint64(30000) << qint64(60000) << true << qint64(70000) << qint64(60000);
    QTest::newRow("unset loop, inside") << qint64(0) << qint64(0) << true << qint64(10000) << qint64(10000);
    QTest::newRow("unset loop, default") << qint64(0) << qint64(0) << false << qint64(-1) << qint64(0);
    QTest::newRow("unset loop, beyond the file") << qint64(0) << qint64(0) << true << qint64(95000) << qint64(90000);
}

void AudioEngineTest::startsInsideTheLoopRegion()
{
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, finishAtEnd);
    QFETCH(qint64, startPos);
    QFETCH(qint64, expected);
    Cue* cue = f.makeCue("bounds", 90000, loopStart, loopEnd);
    QVERIFY(transport()->play(cue, finishAtEnd, startPos));
    QCOMPARE(f.fake->seeks.last(), expected);
    QCOMPARE(f.fake->playCalls, 1);
}

void AudioEngineTest::preWaitDelaysOnlyTheSound()
{
    Cue* cue = f.makeCue("prewait", 60000);
    cue->setPreWait(150);
    QSignalSpy states(transport(), &AudioEngine::stateChanged);
    QSignalSpy current(transport(), &AudioEngine::currentCueChanged);

    QVERIFY(transport()->play(cue, false));
    QCOMPARE(states.count(), 1);
    QCOMPARE(current.count(), 1);
    QVERIFY(transport()->isPreWaitActive());
    QCOMPARE(f.fake->playCalls, 0);
    QTRY_COMPARE(f.fake->playCalls, 1);
    QVERIFY(!transport()->isPreWaitActive());
    QCOMPARE(transport()->getState(), AudioEngine::Playing);

    // The play modes that end after one pass start at once.
    f.reset();
    QVERIFY(f.transport->play(cue, true));
    QCOMPARE(f.fake->playCalls, 1);
}

void AudioEngineTest::pauseDuringPreWaitAbandonsIt()
{
    Cue* cue = f.makeCue("abandon", 60000);
    cue->setPreWait(3000);
    transport()->setPauseFadeEnabled(false);
    QVERIFY(transport()->play(cue, false));
    transport()->pause();
    QCOMPARE(transport()->getState(), AudioEngine::Paused);
    QVERIFY(!transport()->isPreWaitActive());
    transport()->resume();
    QCOMPARE(f.fake->playCalls, 1);
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
}

void AudioEngineTest::pauseFadeSteps_data()
{
    QTest::addColumn<int>("fadeMs");
    QTest::addColumn<bool>("showModeOnly");
    QTest::addColumn<bool>("showMode");
    QTest::addColumn<int>("steps");  // 0: no fade, pauses at once
    QTest::newRow("1000 ms") << 1000 << false << false << 100;
    QTest::newRow("25 ms") << 25 << false << false << 2;
    QTest::newRow("5 ms gives one step") << 5 << false << false << 1;
    QTest::newRow("0 ms") << 0 << false << false << 0;
    QTest::newRow("show mode only, in show mode") << 200 << true << true << 20;
    QTest::newRow("show mode only, in edit mode") << 200 << true << false << 0;
}

void AudioEngineTest::pauseFadeSteps()
{
    QFETCH(int, fadeMs);
    QFETCH(bool, showModeOnly);
    QFETCH(bool, showMode);
    QFETCH(int, steps);
    Cue* cue = f.makeCue("fade", 60000);
    cue->setVolumeA(100);
    transport()->setMainVolume(100);
    transport()->setPauseFadeDuration(fadeMs);
    transport()->setPauseFadeShowModeOnly(showModeOnly);
    transport()->setShowMode(showMode);
    QVERIFY(transport()->play(cue, true));
    QCOMPARE(f.fake->volume, 1.0f);
    QSignalSpy states(transport(), &AudioEngine::stateChanged);

    transport()->pause();
    if (steps == 0) {
        QCOMPARE(transport()->getState(), AudioEngine::Paused);
        QCOMPARE(f.fake->pauseCalls, 1);
        return;
    }
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    for (int k = 1; k < steps; ++k) {
        f.fadeStep();
        QCOMPARE(f.fake->volume, float(steps - k) * 1.0f / float(steps));
        QCOMPARE(transport()->getState(), AudioEngine::Playing);
    }
    QCOMPARE(f.fake->pauseCalls, 0);
    // The step that would reach no gain pauses: nothing plays unheard.
    QVERIFY(f.fake->volume > 0.0f);
    f.fadeStep();
    QCOMPARE(transport()->getState(), AudioEngine::Paused);
    QCOMPARE(f.fake->pauseCalls, 1);
    QCOMPARE(states.count(), 1);
    QCOMPARE(f.fake->volume, 1.0f);  // full gain again while paused
}

void AudioEngineTest::secondPauseDuringAFadeIsImmediate()
{
    Cue* cue = f.makeCue("twice", 60000);
    QVERIFY(transport()->play(cue, true));
    transport()->pause();
    f.fadeStep();
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    transport()->pause();
    QCOMPARE(transport()->getState(), AudioEngine::Paused);
    QCOMPARE(f.fake->pauseCalls, 1);
}

void AudioEngineTest::resumeFadesIn()
{
    Cue* cue = f.makeCue("resume", 60000);
    cue->setVolumeA(100);
    transport()->setMainVolume(100);
    transport()->setPauseFadeDuration(40);
    QVERIFY(transport()->play(cue, true));
    transport()->setPauseFadeEnabled(false);
    transport()->pause();
    transport()->setPauseFadeEnabled(true);

    transport()->resume();
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    // It starts at the first step: nothing plays unheard at no gain.
    QCOMPARE(f.fake->volume, 0.25f);
    const QList<float> expected{0.5f, 0.75f, 1.0f};
    for (float gain : expected) {
        f.fadeStep();
        QCOMPARE(f.fake->volume, gain);
    }
    f.fadeStep();
    QCOMPARE(f.fake->volume, 1.0f);
    QCOMPARE(f.fake->pauseCalls, 1);
}

void AudioEngineTest::playCancelsARunningPauseFade()
{
    Cue* first = f.makeCue("outgoing", 60000);
    Cue* second = f.makeCue("incoming", 60000);
    second->setVolumeA(100);
    transport()->setMainVolume(100);
    QVERIFY(transport()->play(first, true));
    transport()->pause();
    for (int i = 0; i < 10; ++i)
        f.fadeStep();

    QVERIFY(transport()->play(second, true));
    for (int i = 0; i < 200; ++i)
        f.fadeStep();
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QCOMPARE(transport()->getCurrentCue(), second);
    QCOMPARE(f.fake->pauseCalls, 0);
    QVERIFY(f.fake->playing);
    QCOMPARE(f.fake->volume, 1.0f);
}

void AudioEngineTest::volumeLaw_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<bool>("withCue");
    QTest::addColumn<int>("mainVolume");
    QTest::addColumn<int>("cueVolume");
    QTest::addColumn<double>("lufsDb");
    QTest::addColumn<double>("expected");
    QTest::newRow("80 x 90, 0 dB") << true << 80 << 90 << 0.0 << std::pow(0.8, 1.5) * std::pow(0.9, 1.5);
    QTest::newRow("+8 dB clamps to 2.0") << true << 100 << 100 << 8.0 << 2.0;
    QTest::newRow("-15 dB") << true << 100 << 100 << -15.0 << std::pow(10.0, -0.75);
    QTest::newRow("main above 100 is 100") << true << 150 << 100 << 0.0 << 1.0;
    QTest::newRow("main below 0 is silent") << true << -5 << 100 << 0.0 << 0.0;
    QTest::newRow("negative cue volume is silent") << true << 100 << -10 << 0.0 << 0.0;
    QTest::newRow("NaN dB is silent") << true << 100 << 100 << nan << 0.0;
    QTest::newRow("without a cue only the main volume") << false << 80 << 100 << 8.0 << std::pow(0.8, 1.5);
}

void AudioEngineTest::volumeLaw()
{
    QFETCH(bool, withCue);
    QFETCH(int, mainVolume);
    QFETCH(int, cueVolume);
    QFETCH(double, lufsDb);
    QFETCH(double, expected);
    if (withCue) {
        Cue* cue = f.makeCue("gain", 60000);
        QVERIFY(transport()->play(cue, true));
        transport()->setCueVolume(cueVolume);
    }
    transport()->setLufsGain(lufsDb);
    transport()->setMainVolume(mainVolume);
    QVERIFY2(std::abs(double(f.fake->volume) - expected) < 1e-5,
             qPrintable(QString::number(f.fake->volume) + " != " + QString::number(expected)));
}

void AudioEngineTest::aVolumeSwitchIsOneMoveOfTheOutput()
{
    // The output moves the gain itself, in one move to the new level over
    // the switch time. A main volume change on the way heads for the same
    // end in the time left, a pause fades from the level reached, and the
    // next cue plays at its own level at once.
    constexpr qint64 kMoveMs = 60000;  // never over while the test runs
    constexpr qint64 kMoveFrames = kMoveMs * 44100 / 1000;
    const auto law = [](int main, int cue) { return float(std::pow(main / 100.0, 1.5) * std::pow(cue / 100.0, 1.5)); };
    transport()->setMainVolume(100);
    transport()->setCueVolumeRampMs(kMoveMs);
    transport()->setPauseFadeEnabled(true);
    transport()->setPauseFadeDuration(1000);
    Cue* cue = f.makeCue("switched", 600000);
    cue->setVolumeA(80);
    cue->setVolumeB(20);
    Cue* next = f.makeCue("next", 600000);
    next->setVolumeA(50);
    QVERIFY(transport()->play(cue, true));
    QCOMPARE(f.fake->rampLengths.last(), qint64(0));

    transport()->rampCueVolume(20);
    QCOMPARE(f.fake->volume, law(100, 20));
    QVERIFY(f.fake->rampLengths.last() > kMoveFrames - 44100 && f.fake->rampLengths.last() <= kMoveFrames);
    QVERIFY(transport()->cueVolume() <= 80 && transport()->cueVolume() > 70);

    const qint64 before = f.fake->rampLengths.last();
    transport()->setMainVolume(50);
    QCOMPARE(f.fake->volume, law(50, 20));
    QVERIFY(f.fake->rampLengths.last() > 0 && f.fake->rampLengths.last() <= before);

    transport()->pause();
    f.fadeStep();
    QVERIFY2(f.fake->volume > 0.9f * law(50, 70),
             qPrintable(QStringLiteral("the fade starts at %1").arg(f.fake->volume)));

    QVERIFY(transport()->play(next, true));
    QCOMPARE(transport()->cueVolume(), 50);
    QCOMPARE(f.fake->volume, law(50, 50));
    QCOMPARE(f.fake->rampLengths.last(), qint64(0));
}

void AudioEngineTest::loudnessGainIsSetBeforeTheFirstBlock()
{
    // The previous cue played 8 dB up; the next one must not start there.
    transport()->setMainVolume(100);
    Cue* loud = f.makeCue("loud", 60000);
    Cue* quiet = f.makeCue("quiet", 60000);
    loud->setVolumeA(100);
    quiet->setVolumeA(100);
    connect(transport(), &AudioEngine::cueStarting, this,
            [this, quiet](Cue* cue) { transport()->setLufsGain(cue == quiet ? -12.0 : 8.0); });
    QVERIFY(transport()->play(loud, true));
    QVERIFY(transport()->play(quiet, true));
    QVERIFY2(std::abs(double(f.fake->volumeAtPlay) - std::pow(10.0, -12.0 / 20.0)) < 1e-5,
             qPrintable(QString::number(f.fake->volumeAtPlay)));
}

void AudioEngineTest::cueVolumeWithoutACueIsIgnored()
{
    transport()->setMainVolume(100);
    transport()->setCueVolume(70);
    Cue* cue = f.makeCue("choice", 60000);
    cue->setVolumeA(30);
    cue->setVolumeB(90);
    cue->setVolumeChoose(1);
    QVERIFY(transport()->play(cue, true));
    QCOMPARE(f.fake->volume, std::pow(0.9f, 1.5f));
}

void AudioEngineTest::stallRecovery_data()
{
    // The position stands still in every row; what counts is whether the
    // output device still asks for blocks. sinkTicks: how many of the first
    // ticks the started output waits for its sink to play out what the sink
    // had queued ahead (an idle null sink: up to 2 s, 40 ticks).
    QTest::addColumn<qint64>("position");
    QTest::addColumn<bool>("deviceStalled");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("sinkTicks");
    QTest::addColumn<int>("recoveries");
    QTest::newRow("device silent for 39 ticks") << qint64(5000) << true << 39 << 0 << 0;
    QTest::newRow("device silent for 2 s") << qint64(5000) << true << 40 << 0 << 1;
    QTest::newRow("still silent a while later") << qint64(5000) << true << 70 << 0 << 1;
    QTest::newRow("silent at 0") << qint64(0) << true << 40 << 0 << 1;
    QTest::newRow("waiting for the decoder") << qint64(5000) << false << 200 << 0 << 0;
    QTest::newRow("standing at 0, nothing decoded yet") << qint64(0) << false << 200 << 0 << 0;
    QTest::newRow("at the end of the file") << qint64(60000) << false << 200 << 0 << 0;
    QTest::newRow("behind the sink's 2 s queue") << qint64(0) << true << 79 << 40 << 0;
    QTest::newRow("silent for 2 s after the sink's queue") << qint64(0) << true << 80 << 40 << 1;
}

void AudioEngineTest::stallRecovery()
{
    QFETCH(qint64, position);
    QFETCH(bool, deviceStalled);
    QFETCH(int, ticks);
    QFETCH(int, sinkTicks);
    QFETCH(int, recoveries);
    Cue* cue = f.makeCue("stall", 60000);
    QVERIFY(transport()->play(cue, true));
    f.fake->position = position;
    f.fake->endReported = true;
    f.fake->seeks.clear();
    LogCapture log;
    f.tick();  // the device runs up to here
    f.fake->deviceStalled = deviceStalled;
    for (int i = 0; i < ticks; ++i) {
        f.fake->waitingForSink = i < sinkTicks;
        f.tick();
    }
    QCOMPARE(f.fake->reinitCalls, recoveries);
    QCOMPARE(log.count("Device stuck detected"), recoveries);
    if (recoveries > 0) {
        QCOMPARE(f.fake->seeks.first(), position);
        QCOMPARE(transport()->getState(), AudioEngine::Playing);
    }
}

void AudioEngineTest::failedStallRecoveryKeepsTheCue()
{
    Cue* cue = f.makeCue("dead", 60000);
    QVERIFY(transport()->play(cue, true));
    f.fake->position = 1234;
    f.fake->reinitSucceeds = false;
    QSignalSpy notices(transport(), &AudioEngine::outputStatusChanged);
    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    QSignalSpy states(transport(), &AudioEngine::stateChanged);
    f.tick();
    f.fake->deviceStalled = true;
    for (int i = 0; i < 41; ++i)
        f.tick();
    // Meant to play, at its place, the output tried again in the background.
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.first().at(0).toString(), QStringLiteral("音频输出中断，正在重试…"));
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QCOMPARE(transport()->getCurrentCue(), cue);
    QVERIFY(transport()->hasOutputFailed());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(states.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(f.fake->reinitCalls >= 4, 3000);
    QVERIFY(notices.last().at(1).toBool());

    // Back: the cue goes on where it was.
    f.fake->reinitSucceeds = true;
    f.fake->deviceStalled = false;
    f.fake->position = 0;
    QTRY_VERIFY_WITH_TIMEOUT(!transport()->hasOutputFailed(), 2000);
    QVERIFY(f.fake->playing);
    QCOMPARE(f.fake->seeks.last(), qint64(1234));
    QCOMPARE(notices.last().at(0).toString(), QStringLiteral("音频输出已恢复"));
    QCOMPARE(notices.last().at(1).toBool(), false);
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
}

void AudioEngineTest::outputRetriesBackOff()
{
    // Quick at first, then once a second for as long as it takes.
    QList<int> delays;
    for (int failed = 0; failed < 8; ++failed)
        delays << AudioEngine::outputRetryDelayMs(failed);
    QCOMPARE(delays, (QList<int>{100, 200, 400, 800, 1000, 1000, 1000, 1000}));
}

void AudioEngineTest::pauseWhileTheOutputIsAwayKeepsThePosition()
{
    // The operator's F5 while the output is away pauses the cue where it
    // stands; the next F5 resumes it there once the output is back.
    Cue* cue = f.makeCue("away", 60000);
    QVERIFY(transport()->play(cue, true));
    f.fake->position = 10000;
    f.fake->playSucceeds = false;
    f.fake->reinitSucceeds = false;
    f.fake->playing = false;
    Q_EMIT f.fake->outputLost();
    QVERIFY(transport()->hasOutputFailed());
    QCOMPARE(transport()->getState(), AudioEngine::Playing);

    transport()->pause();
    QCOMPARE(transport()->getState(), AudioEngine::Paused);
    const int attempts = f.fake->reinitCalls;
    QTest::qWait(400);
    QCOMPARE(f.fake->reinitCalls, attempts);  // not meant to play: no retries

    f.fake->playSucceeds = true;
    f.fake->reinitSucceeds = true;
    QSignalSpy notices(transport(), &AudioEngine::outputStatusChanged);
    transport()->resume();
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QVERIFY(f.fake->playing);
    QCOMPARE(f.fake->position, qint64(10000));
    QVERIFY(!transport()->hasOutputFailed());
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.first().at(0).toString(), QStringLiteral("音频输出已恢复"));
}

void AudioEngineTest::storedLengthFollowsOnlyACompleteDecode_data()
{
    QTest::addColumn<qint64>("decoded");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<bool>("badFile");
    QTest::addColumn<qint64>("expectedDuration");
    QTest::addColumn<qint64>("expectedLoopEnd");
    // Stored: 10000 ms with the loop region 0..10000.
    QTest::newRow("350 ms longer") << qint64(10350) << true << false << qint64(10350) << qint64(10350);
    QTest::newRow("150 ms longer") << qint64(10150) << true << false << qint64(10000) << qint64(10000);
    QTest::newRow("shorter, whole file decoded") << qint64(6000) << true << false << qint64(6000) << qint64(6000);
    QTest::newRow("shorter, cut by a read error") << qint64(6000) << false << false << qint64(10000) << qint64(10000);
    QTest::newRow("bad file") << qint64(10350) << true << true << qint64(10000) << qint64(10000);
}

void AudioEngineTest::storedLengthFollowsOnlyACompleteDecode()
{
    QFETCH(qint64, decoded);
    QFETCH(bool, complete);
    QFETCH(bool, badFile);
    QFETCH(qint64, expectedDuration);
    QFETCH(qint64, expectedLoopEnd);
    Cue* cue = f.makeCue("length", 10000, 0, 10000);
    cue->setBadFile(badFile);
    cue->saveToDatabase(false);
    QVERIFY(transport()->play(cue, true));
    f.fake->duration = decoded;
    f.fake->decodeComplete = complete;
    f.fake->position = 1000;
    f.tick();
    QCOMPARE(cue->durationMs(), expectedDuration);
    QCOMPARE(cue->loopEndMs(), expectedLoopEnd);
}

void AudioEngineTest::queuedCueKeepsItsStopAtEndRule()
{
    Cue* a = f.makeCue("qa", 60000);
    Cue* b = f.makeCue("qb", 60000);
    Cue* c = f.makeCue("qc", 60000, 0, 0, 0);  // endless in the custom modes
    f.fake->crossfadeEnabled = true;
    QVERIFY(transport()->play(a, true));
    QVERIFY(transport()->play(b, true));  // crossfades
    QVERIFY(f.fake->crossfading);
    f.tick();
    QVERIFY(!transport()->play(c, true));  // queued behind the mix
    QCOMPARE(transport()->getCurrentCue(), b);

    f.fake->crossfading = false;
    f.fake->loaded = b;
    f.tick();
    QCOMPARE(transport()->getCurrentCue(), c);
    QVERIFY(transport()->finishAtEnd);
}

void AudioEngineTest::stopDropsTheQueuedCue()
{
    Cue* a = f.makeCue("sa", 60000);
    Cue* b = f.makeCue("sb", 60000);
    Cue* c = f.makeCue("sc", 60000);
    Cue* d = f.makeCue("sd", 60000);
    f.fake->crossfadeEnabled = true;
    QVERIFY(transport()->play(a, true));
    QVERIFY(transport()->play(b, true));
    f.tick();
    QVERIFY(!transport()->play(c, true));
    transport()->stop();

    QVERIFY(transport()->play(d, true));
    f.tick();
    QCOMPARE(transport()->getCurrentCue(), d);
    // The next mix ends: nothing queued before the stop may come in now.
    Cue* e = f.makeCue("se", 60000);
    QVERIFY(transport()->play(e, true));
    f.tick();
    f.fake->crossfading = false;
    f.fake->loaded = e;
    f.tick();
    QCOMPARE(transport()->getCurrentCue(), e);
    QVERIFY(!f.fake->crossfadeRequests.contains(c));
    QCOMPARE(f.fake->loadCalls, 2);  // a and d, never c
}

void AudioEngineTest::failedStartTellsTheOperator_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing file") << false << QStringLiteral("文件不存在：gone.wav");
    QTest::newRow("engine refuses") << true << QStringLiteral("加载音频文件失败：gone");
}

void AudioEngineTest::failedStartTellsTheOperator()
{
    QFETCH(bool, fileExists);
    QFETCH(QString, message);
    Cue* playing = f.makeCue("before", 60000);
    Cue* cue = f.makeCue("gone", 60000, 0, 0, 1, fileExists);
    QVERIFY(transport()->play(playing, true));
    f.fake->loadSucceeds = false;
    QSignalSpy errors(transport(), &AudioEngine::errorOccurred);
    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    QSignalSpy states(transport(), &AudioEngine::stateChanged);

    QVERIFY(!transport()->play(cue, true));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), message);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(states.count(), 0);
    QCOMPARE(transport()->getState(), AudioEngine::Stopped);
    QVERIFY(!transport()->getCurrentCue());
    // The cue that played before does not sound on unseen.
    QVERIFY(!f.fake->playing);
}

void AudioEngineTest::positionBeforeTheLoopStartJumpsToIt()
{
    Cue* cue = f.makeCue("jump", 60000, 20000, 40000);
    QVERIFY(transport()->play(cue, true));
    f.fake->position = 5000;
    f.tick();
    QCOMPARE(f.fake->seeks.last(), qint64(20000));
}

void AudioEngineTest::cueWithoutPeaksAsksForThem()
{
    RecordingParseQueue queue;
    transport()->setTrackListManager(&queue);
    Cue* bare = f.makeCue("bare", 60000);
    Cue* drawn = f.makeCue("drawn", 60000);
    drawn->setWaveform(QList<float>(2000, 0.5f));
    QVERIFY(transport()->play(drawn, true));
    QVERIFY(queue.requests.isEmpty());
    QVERIFY(transport()->play(bare, true));
    QCOMPARE(queue.requests.size(), 1);
    QCOMPARE(queue.requests.first().first, bare);
    QCOMPARE(queue.requests.first().second, false);
    transport()->setTrackListManager(nullptr);
}

void AudioEngineTest::outputDeviceSwitch_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("while playing") << "playing";
    QTest::newRow("while paused") << "paused";
    QTest::newRow("during a crossfade") << "mix";
    QTest::newRow("during a pre-wait") << "pre-wait";
}

void AudioEngineTest::outputDeviceSwitch()
{
    // Only the device changes: the engine keeps the cue, the position and a
    // running mix, and what waits goes on waiting.
    QFETCH(QString, during);
    Cue* a = f.makeCue("device", 60000);
    Cue* b = f.makeCue("device-next", 60000);
    transport()->setPauseFadeEnabled(false);
    if (during == "pre-wait") {
        a->setPreWait(3000);
        QVERIFY(transport()->play(a, false));
        QVERIFY(transport()->isPreWaitActive());
    } else {
        QVERIFY(transport()->play(a, true));
        f.fake->position = 12345;
    }
    if (during == "paused")
        transport()->pause();
    if (during == "mix") {
        transport()->setCrossfadeEnabled(true);
        QVERIFY(transport()->play(b, true));
        QVERIFY(f.fake->isCrossfading());
    }
    const int loads = f.fake->loadCalls;
    const int plays = f.fake->playCalls;
    const int seeks = int(f.fake->seeks.size());
    const AudioEngine::State state = transport()->getState();
    Cue* current = transport()->getCurrentCue();
    QSignalSpy states(transport(), &AudioEngine::stateChanged);

    transport()->setOutputDevice("USB Audio");
    QCOMPARE(f.fake->deviceName, QStringLiteral("USB Audio"));
    QCOMPARE(states.count(), 0);
    QCOMPARE(transport()->getState(), state);
    QCOMPARE(transport()->getCurrentCue(), current);
    QCOMPARE(f.fake->loadCalls, loads);
    QCOMPARE(int(f.fake->seeks.size()), seeks);
    QCOMPARE(f.fake->position, during == "pre-wait" ? qint64(0) : qint64(12345));
    if (during == "playing" || during == "mix") {
        QCOMPARE(f.fake->playCalls, plays + 1);  // the output goes on on the new device
        QVERIFY(f.fake->playing);
    } else {
        QCOMPARE(f.fake->playCalls, plays);
        QVERIFY(!f.fake->playing);
    }
    if (during == "mix") {
        QVERIFY(f.fake->isCrossfading());
        QCOMPARE(f.fake->loaded.data(), a);  // still mixing from a into b
        QCOMPARE(f.fake->mixTarget.data(), b);
    }
    if (during == "pre-wait") {
        QMetaObject::invokeMethod(transport(), "onPreWaitTimeout", Qt::DirectConnection);
        QCOMPARE(f.fake->playCalls, plays + 1);
        QCOMPARE(states.count(), 1);
        QVERIFY(f.fake->playing);
    }
}

void AudioEngineTest::outputDeviceThatFailsIsRetried()
{
    Cue* cue = f.makeCue("gone", 60000);
    QVERIFY(transport()->play(cue, true));
    f.fake->position = 2000;
    f.fake->playSucceeds = false;
    QSignalSpy errors(transport(), &AudioEngine::errorOccurred);
    QSignalSpy states(transport(), &AudioEngine::stateChanged);
    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    transport()->setOutputDevice("USB Audio");
    QVERIFY(errors.count() >= 1);  // the engine's own message, relayed
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QVERIFY(transport()->hasOutputFailed());
    QCOMPARE(states.count(), 0);
    QCOMPARE(transport()->getCurrentCue(), cue);
    QCOMPARE(finished.count(), 0);

    f.fake->playSucceeds = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.fake->playing, 2000);
    QCOMPARE(f.fake->seeks.last(), qint64(2000));
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QVERIFY(!transport()->hasOutputFailed());
}

void AudioEngineTest::everyStartChecksTheDevice_data()
{
    QTest::addColumn<QString>("start");
    QTest::newRow("normal start") << "normal";
    QTest::newRow("end of a pre-wait") << "pre-wait";
    QTest::newRow("resume") << "resume";
    QTest::newRow("resume with fade-in") << "resume fading";
    QTest::newRow("stalled device reopened") << "stall";
}

// A device that fails to start plays nothing: whatever started the cue, the
// transport notices and the operator is told.
void AudioEngineTest::everyStartChecksTheDevice()
{
    QFETCH(QString, start);
    Cue* cue = f.makeCue("nostart", 60000);
    QSignalSpy errors(transport(), &AudioEngine::errorOccurred);
    transport()->setPauseFadeEnabled(start == "resume fading");
    if (start == "normal") {
        f.fake->playSucceeds = false;
        QVERIFY(transport()->play(cue, true));
    } else if (start == "pre-wait") {
        cue->setPreWait(3000);
        QVERIFY(transport()->play(cue, false));
        QVERIFY(transport()->isPreWaitActive());
        QVERIFY(!transport()->hasOutputFailed());
        f.fake->playSucceeds = false;
        QMetaObject::invokeMethod(transport(), "onPreWaitTimeout", Qt::DirectConnection);
    } else if (start.startsWith("resume")) {
        QVERIFY(transport()->play(cue, true));
        transport()->setPauseFadeEnabled(false);
        transport()->pause();
        QCOMPARE(transport()->getState(), AudioEngine::Paused);
        transport()->setPauseFadeEnabled(start == "resume fading");
        f.fake->playSucceeds = false;
        transport()->resume();
    } else if (start == "stall") {
        QVERIFY(transport()->play(cue, true));
        f.tick();
        f.fake->deviceStalled = true;
        f.fake->playSucceeds = false;
        for (int i = 0; i < AudioEngine::kStuckTickLimit; ++i)
            f.tick();
        QCOMPARE(f.fake->reinitCalls, 1);
    }
    QVERIFY(!f.fake->playing);
    QVERIFY2(transport()->hasOutputFailed(), "the transport did not notice the silent device");
    QVERIFY(errors.count() >= 1);
    QCOMPARE(transport()->getCurrentCue(), cue);
}

void AudioEngineTest::crossfadeSwitchedOffWhilePreparedRestartsTheCue()
{
    Cue* a = f.makeCue("pa", 60000);
    Cue* b = f.makeCue("pb", 60000, 10000, 50000);
    transport()->setCrossfadeEnabled(true);
    QVERIFY(transport()->play(a, true));
    // The engine decodes b before it can mix it in.
    f.fake->crossfadeAccepted = true;
    QVERIFY(transport()->play(b, true));
    f.fake->crossfading = false;
    f.fake->crossfadeDecoding = true;
    f.fake->pendingCue = b;
    QCOMPARE(transport()->getCurrentPosition(), qint64(10000));

    QSignalSpy current(transport(), &AudioEngine::currentCueChanged);
    transport()->setCrossfadeEnabled(false);
    QVERIFY(!transport()->isCrossfadeEnabled());
    QVERIFY(!f.fake->crossfadeEnabled);
    QCOMPARE(f.fake->loaded.data(), b);
    QCOMPARE(f.fake->seeks.last(), qint64(10000));
    QVERIFY(f.fake->playing);
    QCOMPARE(current.count(), 1);
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
}

void AudioEngineTest::preparedCrossfadeRefusedStartsTheCueAlone_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("file there") << true;
    QTest::newRow("file gone meanwhile") << false;
}

void AudioEngineTest::preparedCrossfadeRefusedStartsTheCueAlone()
{
    QFETCH(bool, fileExists);
    Cue* a = f.makeCue("ra", 60000);
    Cue* b = f.makeCue("rb", 60000, 5000, 40000);
    transport()->setCrossfadeEnabled(true);
    QVERIFY(transport()->play(a, true));
    QVERIFY(transport()->play(b, true));  // the fake mixes at once; pretend it decodes first
    f.fake->crossfading = false;
    f.fake->pendingCue = b;
    f.fake->crossfadeAccepted = false;
    if (!fileExists)
        QFile::remove(b->filePath());

    QSignalSpy errors(transport(), &AudioEngine::errorOccurred);
    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    Q_EMIT f.fake->crossfadeDecodeReady();
    if (fileExists) {
        QCOMPARE(transport()->getCurrentCue(), b);
        QCOMPARE(f.fake->loaded.data(), b);
        QCOMPARE(f.fake->seeks.last(), qint64(5000));
        QVERIFY(f.fake->playing);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(finished.count(), 0);
    } else {
        QVERIFY(!transport()->getCurrentCue());
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(), QStringLiteral("文件不存在：rb.wav"));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!f.fake->playing);
    }
}

void AudioEngineTest::endOfDataWithNothingToRepeat_data()
{
    // A cue of 10 s (loop start 5 s where given), endless in a custom mode,
    // whose data ends at `decoded` ms.
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("decoded");
    QTest::addColumn<bool>("crossfade");
    QTest::addColumn<bool>("ends");
    QTest::newRow("nothing decoded") << qint64(0) << qint64(0) << false << true;
    QTest::newRow("nothing decoded, crossfade on") << qint64(0) << qint64(0) << true << true;
    QTest::newRow("data ends before the loop start") << qint64(5000) << qint64(3000) << false << true;
    QTest::newRow("data cut short, region still there") << qint64(0) << qint64(3000) << false << false;
    QTest::newRow("whole file") << qint64(5000) << qint64(10000) << false << false;
}

void AudioEngineTest::endOfDataWithNothingToRepeat()
{
    QFETCH(qint64, loopStart);
    QFETCH(qint64, decoded);
    QFETCH(bool, crossfade);
    QFETCH(bool, ends);
    Cue* cue = f.makeCue("hollow", 10000, loopStart, loopStart > 0 ? 10000 : 0, 0);
    transport()->setCrossfadeEnabled(crossfade);
    transport()->autoAdvance = true;
    QVERIFY(transport()->play(cue, false));
    f.fake->decodedLength = decoded;
    f.fake->position = std::max(decoded, loopStart);
    f.fake->decodeComplete = decoded == 10000;
    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    f.fake->seeks.clear();

    Q_EMIT f.fake->playbackFinished();
    if (ends) {
        // However often it is reported: a cue with nothing to play ends once.
        QCOMPARE(finished.count(), 1);
        QCOMPARE(transport()->getState(), AudioEngine::Stopped);
        QVERIFY(transport()->endedWithoutSound());
        QVERIFY(!f.fake->playing);  // nothing to crossfade from
        QVERIFY(f.fake->seeks.isEmpty());
    } else {
        QCOMPARE(finished.count(), 0);
        QCOMPARE(f.fake->seeks, QList<qint64>{loopStart});
        QCOMPARE(transport()->getState(), AudioEngine::Playing);
        QVERIFY(!transport()->endedWithoutSound());
    }
    for (int i = 0; i < 5; ++i) {
        f.fake->position = std::max(decoded, loopStart);
        Q_EMIT f.fake->playbackFinished();
        f.tick();
    }
    QVERIFY(finished.count() <= 1);
    QCOMPARE(transport()->getState(), ends ? AudioEngine::Stopped : AudioEngine::Playing);
}

void AudioEngineTest::preparedCrossfadeGoesOnAfterAPause()
{
    Cue* a = f.makeCue("pause-a", 60000);
    Cue* b = f.makeCue("pause-b", 60000, 5000, 40000);
    transport()->setCrossfadeEnabled(true);
    transport()->setPauseFadeEnabled(false);
    QVERIFY(transport()->play(a, true));
    QVERIFY(transport()->play(b, true));  // the fake mixes at once; pretend it waits for b's data
    f.fake->crossfading = false;
    f.fake->crossfadeDecoding = true;
    f.fake->pendingCue = b;
    f.fake->crossfadeRequests.clear();
    f.tick();
    QVERIFY(f.fake->crossfadeRequests.isEmpty());

    transport()->pause();
    f.fake->crossfadeDecoding = false;  // its data comes while paused
    Q_EMIT f.fake->crossfadeDecodeReady();
    QVERIFY(f.fake->crossfadeRequests.isEmpty());
    QVERIFY(!f.fake->crossfading);

    QSignalSpy finished(transport(), &AudioEngine::playbackFinished);
    transport()->resume();
    QCOMPARE(f.fake->crossfadeRequests, QList<Cue*>{b});
    QVERIFY(f.fake->crossfading);
    QCOMPARE(transport()->getCurrentCue(), b);
    QCOMPARE(transport()->getState(), AudioEngine::Playing);
    QCOMPARE(finished.count(), 0);
}

void AudioEngineTest::levelTicksOnlyWhileACuePlays()
{
    // Idle, nothing wakes the window for the meter.
    QSignalSpy levels(transport(), &AudioEngine::levelUpdated);
    QTest::qWait(4 * AudioEngine::kLevelIntervalMs);
    QCOMPARE(levels.count(), 0);

    Cue* cue = f.makeCue("level", 60000);
    f.fake->peak = 0.5f;
    QVERIFY(transport()->play(cue, false));
    QTRY_VERIFY(!levels.isEmpty() && levels.last().first().toFloat() == 0.5f);

    // Paused or stopped, the meter falls to zero once and the ticks rest.
    for (const bool pause : {true, false}) {
        if (pause)
            transport()->pause();
        else
            transport()->stop();
        QTRY_COMPARE(levels.last().first().toFloat(), 0.0f);
        const qsizetype ticks = levels.count();
        QTest::qWait(4 * AudioEngine::kLevelIntervalMs);
        QCOMPARE(levels.count(), ticks);
        if (pause) {
            transport()->resume();
            QTRY_COMPARE(levels.last().first().toFloat(), 0.5f);
        }
    }
}

QTEST_GUILESS_MAIN(AudioEngineTest)
#include "AudioEngineTest.moc"
