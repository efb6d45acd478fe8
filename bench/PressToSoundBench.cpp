// Press to sound through the main window, as the operator gets it: from a
// real click on the play button (QTest::mouseClick, press and release) to
// the first block with sound that the device callback renders, watched from
// a thread of its own.
//   0. the first cue of the show: the window has been up for 3 s, the
//      cue is preloaded, nothing has played yet;
//   1. a cue whose file the preload cache holds, on a running device;
//   2. a 10-minute MP3 that nothing has decoded yet.
// The baseline, measured in the same run on the same device, is the
// transport's own start of the same cue (AudioEngine::play), without the
// window. The SDL audio driver comes from SDL_AUDIODRIVER: "disk" paces
// itself like a device with a 512-frame period, a PulseAudio null sink
// measures the real path.
#include "BenchAudio.h"
#include "BenchRun.h"
#include "BenchShow.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/AudioOutputDevice.h"
#include "playback/CueManager.h"
#include "playback/PlaybackEngine.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr double kPeriodMs = AudioOutputDevice::kPeriodFrames * 1000.0 / AudioOutputDevice::kSampleRate;

// Runs start() and waits until a rendered block has sound: ms, or -1. The
// sound is watched from a thread of its own, so the time is when the
// callback rendered it, even where the click goes on doing GUI work after
// it has started the cue (the audience hears the cue then, not when the
// click returns).
double toSoundMs(PlaybackEngine& engine, const std::function<void()>& start)
{
    QElapsedTimer timer;
    std::atomic<qint64> soundNs{-1};
    std::atomic<bool> started{false};
    std::thread watcher([&] {
        while (!started.load())
            std::this_thread::yield();
        while (engine.getPeakLevel() <= 0.0f) {
            if (timer.elapsed() > 5000)
                return;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        soundNs = timer.nsecsElapsed();
    });
    timer.start();
    started = true;
    start();
    watcher.join();
    return soundNs < 0 ? -1.0 : double(soundNs) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    BenchShow::useWindowEnvironment(dir);
    QApplication app(argc, argv);
    Startup::setApplicationNames();
    Startup::limitGlobalThreadPool();

    const QString shortFile = dir.filePath("short.flac");
    const QString longFile = dir.filePath("ten-minutes.mp3");
    std::printf("Making test files...\n");
    std::fflush(stdout);
    if (!BenchAudio::makeNoiseFile(shortFile, 30, {"-c:a", "flac"})
        || !BenchAudio::makeNoiseFile(longFile, 600, {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    if (!DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }
    const int shortList = BenchShow::storePlaylist(QStringLiteral("preloaded"), {shortFile}, 30000);
    const int longList = BenchShow::storePlaylist(QStringLiteral("cold"), {longFile}, 600000);
    {
        QSettings settings;
        settings.setValue(SettingsKeys::kLastSelectedPlaylistId, shortList);
        settings.setValue(SettingsKeys::kMainVolume, 100);
    }

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }
    auto* play = window.findChild<QPushButton*>(QStringLiteral("playPasueButton"));
    auto* stop = window.findChild<QPushButton*>(QStringLiteral("stopButton"));
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("trackList"));
    AudioEngine* transport = AudioEngine::instance();
    auto* engine = transport->findChild<PlaybackEngine*>();
    if (!play || !stop || !tree || !table || !engine) {
        std::fprintf(stderr, "the window's controls were not found\n");
        return 1;
    }

    // The shown playlist's file is decoded ahead, and the operator looks at
    // the window a while before the first press.
    if (!BenchRun::waitFor([&] { return table->model()->rowCount() == 1 && engine->isCached(shortFile); }, 10000)) {
        std::fprintf(stderr, "the short file was not preloaded\n");
        return 1;
    }
    BenchRun::idleFor(3000);
    const double firstCueMs = toSoundMs(*engine, [&] { QTest::mouseClick(play, Qt::LeftButton); });
    BenchRun::idleFor(300);
    if (engine->getPeakLevel() <= 0.0f) {
        std::fprintf(stderr, "No sound from the output. Choose the SDL driver with SDL_AUDIODRIVER: "
                             "disk (a file, paced like a device) or pulseaudio (e.g. into a null sink).\n");
        return 1;
    }
    std::printf("Audio driver: %s (%s); device period: %d frames (%.1f ms); Qt platform: %s\n",
                SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "none",
                qEnvironmentVariableIsSet("SDL_AUDIODRIVER") ? "from SDL_AUDIODRIVER" : "SDL's default",
                AudioOutputDevice::kPeriodFrames, kPeriodMs, qPrintable(QGuiApplication::platformName()));

    Cue* shortCue = CueManager::instance()->getCue(CueManager::instance()->getPlaylistCueIds(shortList).value(0));
    Cue* longCue = CueManager::instance()->getCue(CueManager::instance()->getPlaylistCueIds(longList).value(0));
    QRandomGenerator rng(7);
    auto stopAndSettle = [&](bool dropCache) {
        QTest::mouseClick(stop, Qt::LeftButton);
        if (dropCache)
            engine->clearPreloadCache();
        BenchRun::idleFor(20 + int(rng.bounded(12)));  // any phase of the device period
    };

    std::vector<double> preloadedWindow;
    std::vector<double> preloadedTransport;
    for (int run = 0; run < 30; ++run) {
        stopAndSettle(false);
        preloadedWindow.push_back(toSoundMs(*engine, [&] { QTest::mouseClick(play, Qt::LeftButton); }));
        stopAndSettle(false);
        preloadedTransport.push_back(toSoundMs(*engine, [&] { transport->play(shortCue, true, 0); }));
    }

    // The cold file's playlist: shown once (which decodes it ahead), then
    // every start finds the cache empty.
    stopAndSettle(false);
    BenchShow::clickTreeRow(tree, longList);
    if (!BenchRun::waitFor([&] { return engine->isCached(longFile); }, 20000)) {
        std::fprintf(stderr, "the long file was not preloaded\n");
        return 1;
    }
    std::vector<double> coldWindow;
    std::vector<double> coldTransport;
    for (int run = 0; run < 15; ++run) {
        stopAndSettle(true);
        coldWindow.push_back(toSoundMs(*engine, [&] { QTest::mouseClick(play, Qt::LeftButton); }));
        BenchRun::idleFor(200);
        stopAndSettle(true);
        coldTransport.push_back(toSoundMs(*engine, [&] { transport->play(longCue, true, 0); }));
        BenchRun::idleFor(200);
    }
    stopAndSettle(false);

    for (const std::vector<double>* runs : {&preloadedWindow, &preloadedTransport, &coldWindow, &coldTransport}) {
        if (std::find(runs->begin(), runs->end(), -1.0) != runs->end()) {
            std::fprintf(stderr, "a start produced no sound within 5 s\n");
            return 1;
        }
    }
    std::printf("Press to sound (click on the play button until the callback renders sound):\n");
    BenchRun::printRuns("preloaded cue, click:", preloadedWindow, 46);
    BenchRun::printRuns("preloaded cue, transport alone (baseline):", preloadedTransport, 46);
    BenchRun::printRuns("10-minute MP3 not decoded, click:", coldWindow, 46);
    BenchRun::printRuns("10-minute MP3 not decoded, transport alone:", coldTransport, 46);
    std::printf("press-to-sound first cue of the show: %.2f ms (target ≤ %.1f ms, one device period + 2 ms)\n",
                firstCueMs, kPeriodMs + 2.0);
    std::printf("press-to-sound preloaded: %.2f ms (target ≤ %.1f ms, one device period + 2 ms)\n",
                BenchRun::median(preloadedWindow), kPeriodMs + 2.0);
    std::printf("press-to-sound preloaded over the transport alone: %.2f ms\n",
                BenchRun::median(preloadedWindow) - BenchRun::median(preloadedTransport));
    std::printf("press-to-sound cold 10-minute MP3: %.2f ms (target ≤ 50 ms)\n", BenchRun::median(coldWindow));
    std::printf("press-to-sound cold over the transport alone: %.2f ms\n",
                BenchRun::median(coldWindow) - BenchRun::median(coldTransport));
    return 0;
}
