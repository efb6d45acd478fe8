// Dropouts at the loudspeaker under full CPU load. A cue plays for 60 s
// through the program's transport and output into a null sink of a private
// PulseAudio server, with one busy loop per core; the sink's monitor is
// recorded with parec and read sample by sample, and every silent run longer
// than 2 ms between the first and the last sound counts as a gap. The
// baseline, in the same run under the same load: paplay of the same file
// (PulseAudio's own player, with its 2 s buffer).
//   OutputDropoutBench [seconds]   (default 60)
// CORVELLE_AUDIO_OUTPUT=sdl measures the SDL output instead of libpulse.
#include "BenchPulse.h"
#include "BenchRun.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

struct Segment {
    int gaps = 0;
    double longestMs = 0.0;
    double totalMs = 0.0;
    double soundMs = 0.0;
};

Segment analyse(const BenchPulse::MonitorRecorder& recorder, double fromNs, double toNs)
{
    Segment result;
    const qint64 from = recorder.frameAt(fromNs);
    const qint64 to = recorder.frameAt(toNs);
    const qint64 first = recorder.firstSound(from, to);
    const qint64 last = first < 0 ? -1 : recorder.lastSound(first, to);
    if (first < 0 || last <= first)
        return {-1, 0, 0, 0};
    result.soundMs = double(last - first) * 1000.0 / BenchPulse::MonitorRecorder::kRate;
    for (const auto& gap : recorder.gaps(first, last, 2.0)) {
        const double ms = double(gap.frames) * 1000.0 / BenchPulse::MonitorRecorder::kRate;
        ++result.gaps;
        result.longestMs = std::max(result.longestMs, ms);
        result.totalMs += ms;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(5, QString::fromLocal8Bit(argv[1]).toInt()) : 60;
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    if (qgetenv("SDL_AUDIODRIVER") == "dummy" || qgetenv("SDL_AUDIODRIVER") == "disk")
        qunsetenv("SDL_AUDIODRIVER");

    BenchPulse::Server server;
    if (!server.start(dir.path(), QStringLiteral("dropout_bench"))) {
        std::fprintf(stderr, "the private PulseAudio server did not start\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QString file = dir.filePath("tone.wav");
    if (!BenchPulse::writeSine(file, seconds + 5) || !DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "the test file or the database could not be made\n");
        return 1;
    }
    Cue cue(-1, QStringLiteral("tone"), file);
    cue.setDuration(qint64(seconds + 5) * 1000);
    cue.setLoopRange(0, qint64(seconds + 5) * 1000, true);
    cue.saveToDatabase(true);

    AudioEngine transport;
    transport.setMainVolume(100);
    transport.setOutputDevice(QStringLiteral("Default"));
    auto* engine = transport.findChild<PlaybackEngine*>();
    BenchPulse::MonitorRecorder recorder;
    if (!engine || !recorder.start(QStringLiteral("dropout_bench"))) {
        std::fprintf(stderr, "the recorder did not start\n");
        return 1;
    }
    const int cores = QThread::idealThreadCount();
    BenchPulse::BusyLoad load;
    load.start(cores);
    BenchRun::idleFor(1500);

    std::printf("Output: %s (buffer %d ms); %d s of a 440 Hz tone; one busy loop on each of %d cores\n",
                qPrintable(engine->outputLibrary()), engine->outputBufferMs(), seconds, cores);
    std::fflush(stdout);
    const double appStart = BenchPulse::nowNs();
    transport.play(&cue, true, 0);
    BenchRun::idleFor(seconds * 1000);
    transport.stop();
    const double appEnd = BenchPulse::nowNs();
    BenchRun::idleFor(1500);

    const double paplayStart = BenchPulse::nowNs();
    QProcess paplay;
    paplay.start(QStringLiteral("paplay"), {file});
    BenchRun::idleFor(seconds * 1000);
    paplay.kill();
    paplay.waitForFinished(5000);
    const double paplayEnd = BenchPulse::nowNs();
    BenchRun::idleFor(1000);
    load.stop();
    recorder.stop();

    const Segment mine = analyse(recorder, appStart, appEnd + 500e6);
    const Segment control = analyse(recorder, paplayStart, paplayEnd + 500e6);
    if (mine.gaps < 0 || control.gaps < 0) {
        std::fprintf(stderr, "no sound was recorded (program: %s, paplay: %s)\n", mine.gaps < 0 ? "none" : "ok",
                     control.gaps < 0 ? "none" : "ok");
        return 1;
    }
    std::printf("  program: %.1f s of sound, %d gaps over 2 ms, longest %.1f ms, %.1f ms in all\n",
                mine.soundMs / 1000.0, mine.gaps, mine.longestMs, mine.totalMs);
    std::printf("  paplay (baseline): %.1f s of sound, %d gaps over 2 ms, longest %.1f ms, %.1f ms in all\n",
                control.soundMs / 1000.0, control.gaps, control.longestMs, control.totalMs);
    std::printf("dropouts under full load: %d gaps (target ≤ 0)\n", mine.gaps);
    std::printf("dropouts under full load, paplay baseline: %d gaps\n", control.gaps);
    return 0;
}
