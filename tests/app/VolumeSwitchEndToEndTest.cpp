#include "app/MainWindow.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "support/DiskOutputShow.h"
#include "support/TestAudio.h"

#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kWindow = 256;
constexpr double kAmplitude = 0.5;
constexpr int kVolumeA = 80;
constexpr int kVolumeB = 20;
constexpr qint64 kSwitchMs = 2000;

double heardPeak(int volume)
{
    return kAmplitude * std::pow(volume / 100.0, 1.5);
}

}  // namespace

// The A/B volume switch as the audience hears it: the level moves from A to
// B over the switch time however late the window's thread is. SDL's "disk"
// driver writes every block the device plays to a file; the cue is a sine of
// constant amplitude with a whole number of periods in 100 frames, so the
// peak of every 256-frame window is the gain of that window.
class VolumeSwitchEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DiskOutputShow m_show;

private Q_SLOTS:
    void initTestCase();
    void theLevelMovesSmoothlyWhileTheWindowIsBusy();
};

void VolumeSwitchEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_show.initialize(m_dir.path()));
    TestAudio::WavSpec spec;
    spec.seconds = 8.0;
    spec.frequency = 441.0;
    spec.amplitude = kAmplitude;
    spec.format = TestAudio::SampleFormat::Float32;
    const QString path = m_dir.filePath("sine.wav");
    QVERIFY(TestAudio::writeWav(path, spec));
    QVERIFY(m_show.storeCue(QStringLiteral("sine"), path, 8000));
    Cue cue;
    QVERIFY(cue.loadFromDatabase(m_show.cueId()));
    cue.setVolumeA(kVolumeA);
    cue.setVolumeB(kVolumeB);
    cue.setVolumeChoose(0);
    cue.setPreWait(0);
    cue.setFadeEnabled(false);
    QVERIFY(cue.saveToDatabase(true));

    QSettings settings;
    settings.setValue(SettingsKeys::kLoudnessEnabled, false);
    settings.setValue(SettingsKeys::kMainVolume, 100);
    settings.setValue(SettingsKeys::kVolumeSwitchDuration, double(kSwitchMs) / 1000.0);
}

void VolumeSwitchEndToEndTest::theLevelMovesSmoothlyWhileTheWindowIsBusy()
{
    std::unique_ptr<MainWindow> window;
    m_show.openWithCueSelected(window);
    if (QTest::currentTestFailed())
        return;

    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    AudioEngine* transport = AudioEngine::instance();
    QCOMPARE(transport->cueVolume(), kVolumeA);
    // Waits follow what the output has played, which a loaded machine may
    // hold back behind the clock.
    const auto playUntil = [transport](qint64 ms) {
        return QTest::qWaitFor([&] { return transport->getPosition() >= ms; }, 20000);
    };
    QVERIFY(playUntil(600));
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onVolumeSwitchClicked"));
    const qint64 switchedAt = transport->getPosition();
    QVERIFY(playUntil(switchedAt + 600));
    // The window's thread is held up (as under load) in the middle of the move.
    QThread::msleep(400);
    QVERIFY(playUntil(switchedAt + kSwitchMs + 1000));
    QTRY_COMPARE(transport->cueVolume(), kVolumeB);
    CueManager::instance()->stopPlaylist();
    window.reset();
    QThreadPool::globalInstance()->waitForDone();

    const std::vector<float> written = m_show.deviceOutput();
    std::vector<double> peaks;  // per window, from the first frame heard
    size_t first = 0;
    while (first < written.size() && written[first] == 0.0f)
        first += 2;
    for (size_t w = first; w + size_t(kWindow) * 2 <= written.size(); w += size_t(kWindow) * 2) {
        float peak = 0.0f;
        for (size_t i = w; i < w + size_t(kWindow) * 2; ++i)
            peak = std::max(peak, std::fabs(written[i]));
        peaks.push_back(peak);
    }
    const double windowMs = kWindow * 1000.0 / kRate;
    QVERIFY2(peaks.size() * windowMs > 3500.0, "nothing was played");

    // Past the start's de-click, the level is A's until the move begins and
    // B's once it has arrived; the stop at the end is not looked at.
    const double levelA = heardPeak(kVolumeA);
    const double levelB = heardPeak(kVolumeB);
    const auto at = [&](double level, double value) { return std::abs(value - level) < 0.01 * level; };
    size_t begin = size_t(300.0 / windowMs);
    QVERIFY2(at(levelA, peaks[begin]), qPrintable(QStringLiteral("A plays at %1, not %2").arg(peaks[begin]).arg(levelA)));
    while (begin < peaks.size() && at(levelA, peaks[begin]))
        ++begin;
    size_t end = begin;
    while (end < peaks.size() && !at(levelB, peaks[end]))
        ++end;
    QVERIFY2(end < peaks.size(), "the level never reached B");
    size_t last = end;
    while (last < peaks.size() && peaks[last] > 0.5 * levelB)
        ++last;
    const size_t stopWindows = size_t(200.0 / windowMs);  // the stop's own fade
    QVERIFY2(last > end + 2 * stopWindows, "B was not held");
    for (size_t i = end; i + stopWindows < last; ++i)
        QVERIFY2(at(levelB, peaks[i]), qPrintable(QStringLiteral("%1 after the move at %2 ms").arg(peaks[i]).arg(i * windowMs)));

    // The whole move, A to B in kSwitchMs, is spread over about 345
    // windows; the steepest neighbouring windows of a smooth move differ by
    // about 0.0012. A step of the level is far more.
    double largestStep = 0.0;
    size_t largestAt = begin;
    for (size_t i = begin; i <= end; ++i) {
        const double step = peaks[i - 1] - peaks[i];
        QVERIFY2(step > -0.0005, qPrintable(QStringLiteral("the level rose at %1 ms").arg(i * windowMs)));
        if (step > largestStep) {
            largestStep = step;
            largestAt = i;
        }
    }
    QVERIFY2(largestStep < 0.005, qPrintable(QStringLiteral("a step of %1 (%2 -> %3) at %4 ms after the move began")
                                                 .arg(largestStep)
                                                 .arg(peaks[largestAt - 1])
                                                 .arg(peaks[largestAt])
                                                 .arg((largestAt - begin) * windowMs)));
    const double moveMs = double(end - begin) * windowMs;
    qInfo("largest step %.5f, move %.0f ms", largestStep, moveMs);
    QVERIFY2(std::abs(moveMs - double(kSwitchMs)) < 150.0, qPrintable(QStringLiteral("the move took %1 ms").arg(moveMs)));
}

QTEST_MAIN(VolumeSwitchEndToEndTest)
#include "VolumeSwitchEndToEndTest.moc"
