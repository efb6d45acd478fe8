// Time from the transport's start of a cue (load, seek, play) to the first
// block with sound that the device callback hands to the output, as a user
// would see it: the SDL audio driver comes from SDL_AUDIODRIVER (SDL's own
// choice when unset). SDL_AUDIODRIVER=disk paces itself like a real device
// with a 512-frame period; a PulseAudio null sink measures the real path.
//   1. a cue that is in the preload cache, on a device that is running;
//   2. a 10-minute MP3 that nothing has decoded yet.
// Each start goes through AudioEngine::play, as the play order starts cues,
// and the decodes each cold start causes are counted: one file, one decode.
#include "BenchAudio.h"
#include "BenchRun.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr double kPeriodMs = 512 * 1000.0 / 44100;

// Starts the cue as the play order does and waits, spinning, for the peak of
// a rendered block to rise above zero.
double goToSoundMs(AudioEngine& transport, PlaybackEngine& engine, Cue* cue)
{
    QElapsedTimer timer;
    timer.start();
    transport.play(cue, true, 0);
    while (engine.getPeakLevel() <= 0.0f) {
        if (timer.elapsed() > 5000)
            return -1.0;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("SDL_DISKAUDIOFILE"))
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");  // only the disk driver reads it
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString shortFile = dir.filePath("short.flac");
    const QString longFile = dir.filePath("ten-minutes.mp3");
    std::printf("Making test files...\n");
    if (!BenchAudio::makeNoiseFile(shortFile, 30, {"-c:a", "flac"})
        || !BenchAudio::makeNoiseFile(longFile, 600, {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }

    Cue preloaded(1, "short", shortFile);
    preloaded.setDuration(30000);
    preloaded.clearDirty();
    Cue longCue(2, "long", longFile);
    longCue.setDuration(600000);
    longCue.clearDirty();

    auto* engine = new PlaybackEngine();
    std::atomic<int> longDecodes{0};
    engine->setDecodeFunction([&longDecodes, longFile](const QString& path, PcmBuffer& out) {
        if (path == longFile)
            ++longDecodes;
        decodeFileToBuffer(path, out);
    });
    AudioEngine transport(engine);
    transport.setMainVolume(100);
    QElapsedTimer openTimer;
    openTimer.start();
    if (!engine->loadCue(&preloaded)) {  // opens the device
        std::fprintf(stderr, "No audio output could be opened. Choose the SDL driver with SDL_AUDIODRIVER: "
                             "disk (a file, paced like a device) or pulseaudio (e.g. into a null sink).\n");
        return 1;
    }
    const double openMs = double(openTimer.nsecsElapsed()) / 1e6;
    // The runs below are on a running device: a new output stream can take
    // a second before it asks for its first block (PulseAudio's does), which
    // the program spends at start-up, long before the first cue.
    const double firstBlockMs = goToSoundMs(transport, *engine, &preloaded);
    BenchRun::idleFor(300);
    std::printf("Audio driver: %s (%s); device period: %d frames (%.1f ms); opening the device took %.1f ms, "
                "its first block came %.1f ms after the start\n",
                SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "none",
                qEnvironmentVariableIsSet("SDL_AUDIODRIVER") ? "from SDL_AUDIODRIVER" : "SDL's default", 512,
                kPeriodMs, openMs, firstBlockMs);

    QRandomGenerator rng(7);
    std::vector<double> cached;
    std::vector<double> undecoded;
    for (int run = 0; run < 30; ++run) {
        transport.stop();  // the complete data goes back to the cache
        BenchRun::idleFor(20 + int(rng.bounded(12)));  // any phase of the device period
        if (!engine->isCached(shortFile)) {
            std::fprintf(stderr, "short file not cached\n");
            return 1;
        }
        cached.push_back(goToSoundMs(transport, *engine, &preloaded));
    }
    const int colds = 15;
    for (int run = 0; run < colds; ++run) {
        transport.stop();
        engine->clearPreloadCache();
        BenchRun::idleFor(20 + int(rng.bounded(12)));
        undecoded.push_back(goToSoundMs(transport, *engine, &longCue));
        BenchRun::idleFor(200);  // a second decode of the file would have started by now
    }
    transport.stop();
    BenchRun::idleFor(100);

    std::printf("Go-to-sound (AudioEngine::play until the callback renders sound):\n");
    BenchRun::printRuns("preloaded cue, device running:", cached);
    BenchRun::printRuns("10-minute MP3, not decoded yet:", undecoded);
    std::printf("go-to-sound preloaded: %.2f ms (target ≤ %.1f ms, one device period)\n", BenchRun::median(cached), kPeriodMs);
    std::printf("go-to-sound cold 10-minute MP3: %.2f ms (target ≤ 50 ms)\n", BenchRun::median(undecoded));
    std::printf("decodes per cold start: %.2f (target ≤ 1)\n", double(longDecodes.load()) / colds);
    return 0;
}
