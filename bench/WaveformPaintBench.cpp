// What the waveform view costs the GUI thread, at 1920 x 200 px with 2000
// peaks, a loop region, fades and both envelopes:
//   1. a rebuild of the cached background (waveform, time axis, loop);
//   2. one playhead tick (the playhead layer and the envelopes above it);
//   3. the GUI thread's CPU while a cue plays with the view shown, the
//      position fed at most every 50 ms as the main window does, against the
//      same playback with no view.
// Baseline of 1 and 2: a repaint of a bare widget of the same size.
//
//   WaveformPaintBench [--runs N] [--seconds S]
//   WaveformPaintBench --shot FILE   (the main window with the cue bound,
//                                     captured from the screen; for Xvfb)

#include "BenchAudio.h"
#include "BenchRun.h"
#include "app/MainWindow.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "waveform/LevelMeterScrollBar.h"
#include "waveform/WaveformWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 200;
constexpr qint64 kDurationMs = 60000;

class BareWidget : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(25, 25, 30));
    }
};

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

double medianMs(int runs, const std::function<void(int)>& work)
{
    std::vector<double> all;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        all.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(all.begin(), all.end());
    return all[all.size() / 2];
}

// A cue that uses every layer the view draws.
void dressCue(Cue* cue)
{
    cue->setDuration(kDurationMs);
    QList<float> peaks;
    for (int i = 0; i < Cue::kWaveformTargetPoints; ++i)
        peaks.append(float(0.3 + 0.6 * std::abs(std::sin(i * 0.05)) * (0.6 + 0.4 * std::sin(i * 0.0031))));
    cue->setWaveform(peaks);
    cue->setLoopRange(8000, 52000, true);
    cue->setFadeEnabled(true);
    cue->setFadeDurations(4000, 6000);
    cue->setVolumeEnvelope({0, 12000, 24000, 36000, kDurationMs}, {1.0, 0.8, 0.45, 0.9, 1.0});
    cue->setEnvelopeEnabled(true);
    cue->setPanEnvelope({0, 20000, 40000, kDurationMs}, {0.0, -0.6, 0.5, 0.0});
    cue->setPanEnvelopeEnabled(true);
    cue->saveToDatabase(false);
}

struct Playback {
    double guiCpuPercent = 0.0;
    int viewRepaints = 0;
};

// Plays the cue for the given time and measures the GUI thread's CPU.
Playback playFor(Cue* cue, int seconds, WaveformWidget* view, LevelMeterScrollBar* meter)
{
    CueManager* registry = CueManager::instance();
    QElapsedTimer sinceFeed;
    sinceFeed.start();
    QMetaObject::Connection position;
    if (view) {
        position = QObject::connect(registry, &CueManager::playbackPositionChanged, view, [&](qlonglong ms) {
            if (sinceFeed.elapsed() > 49) {
                sinceFeed.restart();
                view->setPlaybackPosition(registry->getCurrentCue(), ms);
            }
        });
    }
    QMetaObject::Connection level;
    if (meter)
        level = QObject::connect(AudioEngine::instance(), &AudioEngine::levelUpdated, meter,
                                 &LevelMeterScrollBar::setLevel);

    registry->playCue(cue, 8000);
    BenchRun::idleFor(500);  // past the device start
    const int placementsBefore = view ? view->playheadPlacementCount() : 0;
    const double cpuBefore = threadCpuMs();
    QElapsedTimer wall;
    wall.start();
    // Waiting in the event loop, as the window does: a polling wait would
    // count its own wake-ups, a thousand a second, as the view's cost.
    BenchRun::sleepInEventLoop(seconds * 1000);
    const double cpu = threadCpuMs() - cpuBefore;
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    Playback result;
    result.guiCpuPercent = 100.0 * cpu / wallMs;
    result.viewRepaints = view ? view->playheadPlacementCount() - placementsBefore : 0;
    registry->stopPlaylist();
    BenchRun::idleFor(300);
    QObject::disconnect(position);
    QObject::disconnect(level);
    return result;
}

int takeShot(const QString& file, Cue* cue)
{
    MainWindow window;
    window.resize(1400, 820);
    window.show();
    auto* view = window.findChild<WaveformWidget*>("waveformWidget");
    if (!view) {
        std::fprintf(stderr, "the form has no waveform view\n");
        return 1;
    }
    view->setCue(cue);
    view->setPosition(21500);
    BenchRun::idleFor(1000);
    QPixmap shot = window.screen()->grabWindow(0);
    if (shot.isNull() || !shot.save(file)) {
        std::fprintf(stderr, "could not capture the screen to %s\n", qPrintable(file));
        return 1;
    }
    std::printf("screen captured to %s (%dx%d); view %dx%d at (%d, %d)\n", qPrintable(file), shot.width(),
                shot.height(), view->width(), view->height(), view->mapTo(&window, QPoint()).x(),
                view->mapTo(&window, QPoint()).y());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", "/dev/null");
    bool shotMode = false;
    for (int i = 1; i < argc; ++i)
        shotMode = shotMode || QByteArray(argv[i]) == "--shot";
    if (!shotMode && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Vostrand");
    QApplication::setApplicationName("Corvelle");

    int runs = 200;
    int seconds = 8;
    QString shotFile;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        if (args[i] == "--seconds")
            seconds = std::max(1, args[i + 1].toInt());
        if (args[i] == "--shot")
            shotFile = args[i + 1];
    }

    if (!DatabaseManager::instance()->initialize(home.filePath("bench.db"))) {
        std::fprintf(stderr, "database failed\n");
        return 1;
    }
    const QString audio = home.filePath("cue.flac");
    if (!BenchAudio::makeNoiseFile(audio, int(kDurationMs / 1000), {"-c:a", "flac"})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    auto cue = std::make_unique<Cue>(-1, QStringLiteral("Bench cue.flac"), audio);
    dressCue(cue.get());

    if (!shotFile.isEmpty()) {
        const int rc = takeShot(shotFile, cue.get());
        CueManager::instance()->shutdown();
        return rc;
    }

    // 1 and 2: paint cost.
    BareWidget bare;
    bare.setFixedSize(kWidth, kHeight);
    bare.show();
    WaveformWidget view;
    view.setFixedSize(kWidth, kHeight);
    view.show();
    BenchRun::idleFor(200);
    view.setCue(cue.get());
    view.setPosition(20000);
    view.repaint();

    const double bareMs = medianMs(runs, [&](int) { bare.repaint(); });
    const int backgroundsBefore = view.backgroundRebuildCount();
    const double rebuildMs = medianMs(runs, [&](int i) {
        view.setWaveformColor(i % 2 ? QColor(0, 150, 255, 200) : QColor(0, 151, 255, 200));
        view.repaint();
    });
    const int rebuilds = view.backgroundRebuildCount() - backgroundsBefore;
    const int backgroundsBeforeTicks = view.backgroundRebuildCount();
    const double tickMs = medianMs(runs, [&](int i) {
        view.setPlaybackPosition(cue.get(), 8000 + (i * 50) % 44000);
        view.repaint();
    });
    const int ticksRebuiltBackground = view.backgroundRebuildCount() - backgroundsBeforeTicks;

    std::printf("waveform view at %dx%d, %d peaks, loop region, fades, volume and pan envelopes; median of %d "
                "repaints\n",
                kWidth, kHeight, Cue::kWaveformTargetPoints, runs);
    std::printf("baseline bare widget repaint: %.3f ms\n", bareMs);
    std::printf("background rebuild: %.3f ms (target ≤ 8 ms)  [%d rebuilds for %d repaints]\n", rebuildMs, rebuilds,
                runs);
    std::printf("playhead tick: %.3f ms (target ≤ 1 ms)  [background rebuilt %d times in %d ticks]\n", tickMs,
                ticksRebuiltBackground, runs);
    std::fflush(stdout);
    bare.hide();

    // 3: a cue playing, without and with the view (and the level meter).
    view.setCue(cue.get());
    view.hide();
    const Playback engineOnly = playFor(cue.get(), seconds, nullptr, nullptr);
    view.show();
    const Playback withView = playFor(cue.get(), seconds, &view, nullptr);
    LevelMeterScrollBar meter(Qt::Horizontal, nullptr);
    meter.setRange(0, 100);
    meter.setValue(80);
    meter.setFixedSize(160, 16);
    meter.show();
    const Playback withMeter = playFor(cue.get(), seconds, &view, &meter);

    std::printf("baseline GUI thread CPU while playing, no view: %.2f %% of a core\n", engineOnly.guiCpuPercent);
    std::printf("GUI thread CPU while playing, view shown: %.2f %% of a core (target ≤ 5 %%)  [%d playhead repaints "
                "in %d s]\n",
                withView.guiCpuPercent, withView.viewRepaints, seconds);
    std::printf("GUI thread CPU while playing, view and level meter shown: %.2f %% of a core\n",
                withMeter.guiCpuPercent);

    CueManager::instance()->shutdown();
    return 0;
}
