#include "app/LoudnessScan.h"
#include "app/MainWindow.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "support/DiskOutputShow.h"
#include "support/TestAudio.h"

#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr float kLevel = 0.1f;

// The loudness measurement stands in for the real one: it answers -20 LUFS
// (+6 dB at the -14 target) once the test lets it.
std::mutex gateMutex;
std::condition_variable gateOpened;
bool gateOpen = false;
std::vector<QString> measured;

double heldMeasurement(const QString& path)
{
    std::unique_lock lock(gateMutex);
    measured.push_back(path);
    gateOpened.wait(lock, [] { return gateOpen; });
    return -20.0;
}

void openGate()
{
    std::unique_lock lock(gateMutex);
    gateOpen = true;
    gateOpened.notify_all();
}

}  // namespace

// Loudness normalisation after a start of the program, as the audience hears
// it: stored loudness is forgotten at every start, so a cue pressed before the
// measurement of the shown table reaches it plays at the provisional level
// (here the measurement is held). When it lands while the cue sounds, the
// level must move there smoothly. SDL's "disk" driver writes every block the
// device plays to a file; the cue is a constant level, so any difference
// between two neighbouring frames is the gain moving.
class LoudnessRampEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DiskOutputShow m_show;

private Q_SLOTS:
    void initTestCase();
    void aMeasurementLandingWhileTheCueSoundsMovesTheLevelWithoutAStep();
};

void LoudnessRampEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_show.initialize(m_dir.path()));
    LoudnessScan::setMeasureFunction(&heldMeasurement);
    const QVector<float> samples(qsizetype(6 * kRate) * 2, kLevel);
    const QString path = m_dir.filePath("steady.wav");
    QVERIFY(TestAudio::writeWav(path, samples, kRate, 2, TestAudio::SampleFormat::Float32));
    QVERIFY(m_show.storeCue(QStringLiteral("steady"), path, 6000));

    QSettings settings;
    settings.setValue(SettingsKeys::kLoudnessEnabled, true);
    settings.setValue(SettingsKeys::kLoudnessTarget, -14);
    settings.setValue(SettingsKeys::kMainVolume, 100);
}

void LoudnessRampEndToEndTest::aMeasurementLandingWhileTheCueSoundsMovesTheLevelWithoutAStep()
{
    std::unique_ptr<MainWindow> window;
    m_show.openWithCueSelected(window);
    if (QTest::currentTestFailed())
        return;

    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    QCOMPARE(AudioEngine::instance()->lufsGain(), -6.0);
    QTest::qWait(500);
    openGate();
    QTRY_COMPARE(AudioEngine::instance()->lufsGain(), 6.0);
    // 1.2 s played after the new gain: its 500 ms ramp and a steady stretch.
    const qint64 played = m_show.framesPlayed();
    QTRY_VERIFY_WITH_TIMEOUT(m_show.framesPlayed() >= played + qint64(kRate) * 6 / 5, 15000);
    CueManager::instance()->stopPlaylist();
    window.reset();
    QThreadPool::globalInstance()->waitForDone();
    {
        std::unique_lock lock(gateMutex);
        QCOMPARE(int(measured.size()), 1);  // one measurement, whoever asked first
    }

    const std::vector<float> written = m_show.deviceOutput();
    // Neighbouring frames that both sound: only the gain moves them.
    size_t first = 0;
    while (first < written.size() && written[first] == 0.0f)
        first += 2;
    QVERIFY2(first + size_t(kRate) < written.size(), "nothing was played");
    const float provisional = written[first + size_t(kRate / 4) * 2];  // 250 ms in, before the measurement
    float largestStep = 0.0f;
    float highest = 0.0f;
    // From the first frame heard (the start's own fade-in is as smooth) to
    // the last 100 ms before the stop.
    size_t last = written.size() - 2;
    while (last > first && written[last] == 0.0f)
        last -= 2;
    QVERIFY(last > first + size_t(kRate / 2) * 2);
    for (size_t i = first + 2; i + 2 * size_t(kRate / 10) < last; i += 2) {
        const float previous = written[i - 2];
        const float now = written[i];
        highest = std::max(highest, now);
        if (previous != 0.0f && now != 0.0f)
            largestStep = std::max(largestStep, std::abs(now - previous));
    }
    // From -6 dB to +6 dB: four times the level.
    QVERIFY2(std::abs(highest / provisional - 3.981f) < 0.02f,
             qPrintable(QStringLiteral("%1 then %2").arg(provisional).arg(highest)));
    // The whole move is about 0.3 of full scale; a step is heard, the same
    // spread over 500 ms is not.
    QVERIFY2(largestStep < 1e-3f, qPrintable(QStringLiteral("a step of %1").arg(largestStep)));
}

QTEST_MAIN(LoudnessRampEndToEndTest)
#include "LoudnessRampEndToEndTest.moc"
