// What the output costs while nothing plays, and how quickly the first cue
// sounds after that idle time: the transport with its output open and
// nothing playing for 10 s, the process's CPU time measured (user + system),
// then a cue started and timed to its first sample at the null sink's
// monitor of a private PulseAudio server. As in the window, the cue is in the
// preload cache before it is started (the window decodes the selected cue
// ahead), so the figure is the output's, not the decoder's: before this, the
// first of the three ways also paid for loading FFmpeg and decoding the file.
// Three ways of idling, in one run:
// the libpulse stream corked (what the program does), the libpulse stream
// running silence, and the SDL device running silence (before). The
// baseline: the same process with no output open at all. The thread that
// reads the monitor is the bench's own: its CPU time is left out of every
// figure (it varied by a quarter of the target's margin from run to run), and
// the idle spans run an event loop that sleeps until an event comes, as the
// window's does, rather than the benchmarks' usual 1 ms polling, which cost
// more than the output itself.
#include "BenchPulse.h"
#include "BenchRun.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

constexpr int kIdleMs = 10000;

// CPU time of this process but for the monitor's reader thread.
double cpuMs(const BenchPulse::MonitorRecorder& recorder)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3)
        - recorder.readerCpuMs();
}

struct Figures {
    double cpuPercent = 0.0;
    double firstCueMs = -1.0;
    QString library;
};

Figures measure(const QByteArray& output, const QByteArray& idle, Cue& cue, BenchPulse::MonitorRecorder& recorder)
{
    qputenv("CORVELLE_AUDIO_OUTPUT", output);
    qputenv("CORVELLE_OUTPUT_IDLE", idle);
    Figures figures;
    auto transport = std::make_unique<AudioEngine>();
    transport->setMainVolume(100);
    transport->setOutputDevice(QStringLiteral("Default"));
    auto* engine = transport->findChild<PlaybackEngine*>();
    figures.library = engine->outputLibrary();
    engine->preloadCues({&cue});
    for (int waited = 0; !engine->isCached(cue.filePath()) && waited < 10000; waited += 50)
        BenchRun::idleFor(50);
    if (!engine->isCached(cue.filePath()))
        std::fprintf(stderr, "the cue was not preloaded\n");
    BenchRun::idleFor(1000);  // settled
    const double cpuBefore = cpuMs(recorder);
    BenchRun::sleepInEventLoop(kIdleMs);
    figures.cpuPercent = 100.0 * (cpuMs(recorder) - cpuBefore) / kIdleMs;
    const double t0 = BenchPulse::nowNs();
    transport->play(&cue, true, 0);
    BenchRun::idleFor(500);
    const qint64 frame = recorder.firstSound(recorder.frameAt(t0));
    figures.firstCueMs = frame < 0 ? -1.0 : (recorder.frameTimeNs(frame) - t0) / 1e6;
    transport->stop();
    transport.reset();
    BenchRun::idleFor(500);
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    qputenv("SDL_AUDIODRIVER", "pulseaudio");
    BenchPulse::Server server;
    if (!server.start(dir.path(), QStringLiteral("idle_bench"))) {
        std::fprintf(stderr, "the private PulseAudio server did not start\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QString file = dir.filePath("tone.wav");
    if (!BenchPulse::writeSine(file, 10) || !DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "the test file or the database could not be made\n");
        return 1;
    }
    Cue cue(-1, QStringLiteral("tone"), file);
    cue.setDuration(10000);
    cue.setLoopRange(0, 10000, true);
    cue.saveToDatabase(true);
    BenchPulse::MonitorRecorder recorder;
    recorder.start(QStringLiteral("idle_bench"));
    BenchRun::idleFor(1000);

    // Baseline: the event loop alone, no output.
    const double cpuBefore = cpuMs(recorder);
    BenchRun::sleepInEventLoop(kIdleMs);
    const double bare = 100.0 * (cpuMs(recorder) - cpuBefore) / kIdleMs;

    const Figures corked = measure("pulse", "", cue, recorder);
    const Figures running = measure("pulse", "run", cue, recorder);
    const Figures sdl = measure("sdl", "", cue, recorder);
    recorder.stop();

    std::printf("Idle output for %d s, then a cue (CPU time of this process but the monitor's reader; sound at the monitor)\n", kIdleMs / 1000);
    auto line = [](const char* what, const Figures& f) {
        std::printf("  %-40s %5.2f %% of a core, first cue %6.2f ms  (%s)\n", what, f.cpuPercent, f.firstCueMs,
                    qPrintable(f.library));
    };
    line("stream corked while idle:", corked);
    line("stream running silence while idle:", running);
    line("SDL device running silence (before):", sdl);
    std::printf("  no output open (baseline): %.2f %% of a core\n", bare);
    std::printf("idle CPU, corked output: %.2f %% of a core (target ≤ baseline %.2f %% + 0.1)\n", corked.cpuPercent,
                bare);
    std::printf("first cue after idle, corked output: %.2f ms (target ≤ running silence's %.2f ms + 5)\n",
                corked.firstCueMs, running.firstCueMs);
    return 0;
}
