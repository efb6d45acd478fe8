// Press to sound at the loudspeaker, as the operator gets it: the real
// program in its window on an X server, F5 pressed through the X server
// (sent by this process with XTEST, the clock read just before the press
// goes out), until the first sample with sound at the null sink's monitor of
// a private PulseAudio server (parec, read sample by sample). Escape stops
// the cue between presses. The first press comes after 3 s of idle, as the
// first cue of a show does (a Shift tap before that idle has given the X
// server's keyboard over to the XTEST device, see below). The baseline, in the same run: paplay of a file
// of the same tone, from the start of its process until its first sample at
// the monitor (a whole new player started, connected and played).
//   tests/support/run-in-xvfb.sh build/bench/KeyToSoundBench [presses] [path to corvelle]
#include "BenchPulse.h"
#include "XTestKeyboard.h"
#include "app/Startup.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "settings/SettingsKeys.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <X11/keysym.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void waitMs(int ms)
{
    QThread::msleep(ulong(ms));
}

// ms from t0 to the first sound at the monitor after it, or -1.
double soundAfter(const BenchPulse::MonitorRecorder& recorder, double t0, int waitForMs)
{
    waitMs(waitForMs);
    const qint64 frame = recorder.firstSound(recorder.frameAt(t0));
    return frame < 0 ? -1.0 : (recorder.frameTimeNs(frame) - t0) / 1e6;
}

int storePlaylist(const QString& file, qint64 durationMs)
{
    PlaylistGroup group;
    group.name = QStringLiteral("bench");
    int sortOrder = 0;
    DatabaseManager* db = DatabaseManager::instance();
    db->getNextGroupSortOrder(sortOrder);
    if (!db->insertPlaylistGroup(group, sortOrder))
        return -1;
    Cue cue(-1, QStringLiteral("tone"), file);
    cue.setDuration(durationMs);
    cue.setLoopRange(0, durationMs, true);
    cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
    if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(group.id, cue.id(), 0))
        return -1;
    return group.id;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X server: run it through tests/support/run-in-xvfb.sh\n");
        return 1;
    }
    const int presses = argc > 1 ? std::max(3, QString::fromLocal8Bit(argv[1]).toInt()) : 20;
    const QString program = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                     : QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath() + "/../app/corvelle";
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    qputenv("QT_QPA_PLATFORM", "xcb");
    if (qgetenv("SDL_AUDIODRIVER") == "dummy" || qgetenv("SDL_AUDIODRIVER") == "disk")
        qunsetenv("SDL_AUDIODRIVER");

    BenchPulse::Server server;
    if (!server.start(dir.path(), QStringLiteral("key_bench"))) {
        std::fprintf(stderr, "the private PulseAudio server did not start\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    Startup::setApplicationNames();
    const QString file = dir.filePath("tone.wav");
    if (!BenchPulse::writeSine(file, 30) || !DatabaseManager::instance()->initialize(QString())) {
        std::fprintf(stderr, "the test file or the database could not be made\n");
        return 1;
    }
    const int playlist = storePlaylist(file, 30000);
    DatabaseManager::instance()->close();
    {
        QSettings settings;
        settings.setValue(SettingsKeys::kLastSelectedPlaylistId, playlist);
        settings.setValue(SettingsKeys::kMainVolume, 100);
    }

    BenchPulse::MonitorRecorder recorder;
    recorder.start(QStringLiteral("key_bench"));
    QProcess corvelle;
    corvelle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    corvelle.start(program, {});
    if (!corvelle.waitForStarted(5000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(program));
        return 1;
    }
    QProcess search;
    search.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "Corvelle"});
    if (!search.waitForFinished(20000) || search.exitCode() != 0) {
        std::fprintf(stderr, "the window did not show\n");
        return 1;
    }
    const QString window = QString::fromUtf8(search.readAllStandardOutput()).split('\n').value(0).trimmed();
    BenchPulse::runMs("xdotool", {"windowactivate", "--sync", window});
    BenchPulse::runMs("xdotool", {"windowfocus", "--sync", window});
    XTestKeyboard keyboard;
    if (!keyboard.open()) {
        std::fprintf(stderr, "the X server has no XTEST extension\n");
        return 1;
    }
    // The X server hands the keyboard over to the XTEST device at its first
    // key: a keymap change that every client reloads before that key (some
    // 4-9 ms here), which an operator's own keyboard, the one the server
    // heard last, does not cause. A Shift tap makes that change now.
    keyboard.tap(XK_Shift_L);
    waitMs(3000);  // the operator looks at the window a while before the first cue

    std::vector<double> keys;
    double firstCue = -1.0;
    for (int i = 0; i < presses; ++i) {
        const double t0 = BenchPulse::nowNs();
        keyboard.tap(XK_F5);
        const double ms = soundAfter(recorder, t0, 700);
        keyboard.tap(XK_Escape);
        waitMs(500 + (i * 37) % 100);  // silence again, at any phase of the output
        if (ms < 0) {
            std::fprintf(stderr, "press %d: no sound at the monitor\n", i + 1);
            return 1;
        }
        if (i == 0)
            firstCue = ms;
        else
            keys.push_back(ms);
    }
    corvelle.terminate();
    if (!corvelle.waitForFinished(5000))
        corvelle.kill();

    std::vector<double> paplay;
    for (int i = 0; i < presses; ++i) {
        QProcess player;
        const double t0 = BenchPulse::nowNs();
        player.start("paplay", {file});
        const double ms = soundAfter(recorder, t0, 700);
        player.kill();
        player.waitForFinished(2000);
        waitMs(500 + (i * 37) % 100);
        if (ms < 0) {
            std::fprintf(stderr, "paplay %d: no sound at the monitor\n", i + 1);
            return 1;
        }
        paplay.push_back(ms);
    }
    recorder.stop();

    auto line = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("  %-44s min %6.2f  median %6.2f  max %6.2f ms  (%zu runs)\n", what, v.front(), v[v.size() / 2],
                    v.back(), v.size());
    };
    std::printf("Press to sound at the sink's monitor (private PulseAudio server, null sink), %s\n",
                qPrintable(QFileInfo(program).fileName()));
    line("F5 through the X server (XTEST):", keys);
    line("paplay, from its process start (baseline):", paplay);
    const double target = median(paplay) + 5.0;
    std::printf("press-to-sound first cue of the show: %.2f ms (target ≤ baseline + 5 ms = %.2f ms)\n", firstCue,
                target);
    std::printf("press-to-sound at the monitor: median %.2f ms, max %.2f ms (target ≤ baseline + 5 ms = %.2f ms)\n",
                median(keys), *std::max_element(keys.begin(), keys.end()), target);
    std::printf("paplay to sound at the monitor (baseline): median %.2f ms, max %.2f ms\n", median(paplay),
                *std::max_element(paplay.begin(), paplay.end()));
    return 0;
}
