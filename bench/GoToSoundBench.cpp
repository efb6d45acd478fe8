// Time from the transport's start of a cue (load, seek, play) to the first
// block with sound that the device callback hands to the output, as a user
// would see it: the SDL audio driver comes from SDL_AUDIODRIVER (SDL's own
// choice when unset). SDL_AUDIODRIVER=disk paces itself like a real device
// with a 512-frame period; a PulseAudio null sink measures the real path.
//   1. a cue that is in the preload cache, on a device that is running;
//   2. a 10-minute MP3 that nothing has decoded yet.
// Each start goes through AudioEngine::play, as the play order starts cues,
// and the decodes each cold start causes are counted: one file, one decode.
// Same-run baselines, the plain way: a bare SDL device of the same format
// whose callback starts to sound when asked (the device's own latency), and
// for the cold start that latency plus opening the file with the decoder and
// decoding its first 2205 frames (what the callback waits for). Before every
// cold start the file's pages are dropped from the page cache
// (POSIX_FADV_DONTNEED) and what stayed resident is reported (mincore): when
// the kernel keeps them, the start is a warm one and the bench says so.
#include "BenchAudio.h"
#include "BenchRun.h"
#include "audiofile/AudioFileDecoder.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
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

// A bare SDL device: silence until asked, then sound; the time between.
struct BareDevice {
    SDL_AudioDeviceID id = 0;
    std::atomic<bool> wanted{false};
    std::atomic<bool> sounding{false};

    static void callback(void* user, Uint8* stream, int bytes)
    {
        auto* self = static_cast<BareDevice*>(user);
        auto* out = reinterpret_cast<float*>(stream);
        const bool sound = self->wanted.load();
        for (int i = 0; i < bytes / int(sizeof(float)); ++i)
            out[i] = sound ? 0.25f : 0.0f;
        if (sound)
            self->sounding.store(true);
    }
    bool open()
    {
        SDL_AudioSpec want{};
        want.freq = 44100;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 512;
        want.callback = &BareDevice::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (id != 0)
            SDL_PauseAudioDevice(id, 0);
        return id != 0;
    }
    // From the request to the first callback that renders sound.
    double soundMs()
    {
        wanted.store(false);
        sounding.store(false);
        QThread::msleep(30);
        sounding.store(false);
        QElapsedTimer timer;
        timer.start();
        wanted.store(true);
        while (!sounding.load()) {
            if (timer.elapsed() > 5000)
                return -1.0;
        }
        return double(timer.nsecsElapsed()) / 1e6;
    }
    ~BareDevice()
    {
        if (id != 0)
            SDL_CloseAudioDevice(id);
    }
};

// Drops the file's pages from the page cache; the share still resident.
double dropFromPageCache(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return 1.0;
    struct stat info {};
    ::fstat(fd, &info);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    double resident = 1.0;
    const long page = ::sysconf(_SC_PAGESIZE);
    void* map = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
        std::vector<unsigned char> pages(size_t((info.st_size + page - 1) / page));
        if (::mincore(map, size_t(info.st_size), pages.data()) == 0)
            resident = double(std::count_if(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; }))
                / double(std::max<size_t>(pages.size(), 1));
        ::munmap(map, size_t(info.st_size));
    }
    ::close(fd);
    return resident;
}

// Opening the file with the decoder and decoding its first 2205 frames.
double plainDecodeStartMs(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    AudioFileDecoder decoder;
    if (!decoder.open(path))
        return -1.0;
    std::vector<float> frames(2205 * AudioFileDecoder::kChannels);
    qint64 got = 0;
    while (got < 2205) {
        const qint64 n = decoder.read(frames.data(), 2205 - got);
        if (n <= 0)
            break;
        got += n;
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
    if (firstBlockMs < 0.0) {
        // A device that never plays would print -1 for every figure.
        std::fprintf(stderr, "No sound from the output. Choose the SDL driver with SDL_AUDIODRIVER: "
                             "disk (a file, paced like a device) or pulseaudio (e.g. into a null sink).\n");
        return 1;
    }
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
    std::vector<double> resident;
    for (int run = 0; run < colds; ++run) {
        transport.stop();
        engine->clearPreloadCache();
        BenchRun::idleFor(20 + int(rng.bounded(12)));
        resident.push_back(dropFromPageCache(longFile));
        undecoded.push_back(goToSoundMs(transport, *engine, &longCue));
        BenchRun::idleFor(200);  // a second decode of the file would have started by now
    }
    transport.stop();
    BenchRun::idleFor(100);
    for (const std::vector<double>* runs : {&cached, &undecoded}) {
        if (std::find(runs->begin(), runs->end(), -1.0) != runs->end()) {
            std::fprintf(stderr, "a start produced no sound within the wait\n");
            return 1;
        }
    }

    // Baselines, the plain way, in the same run.
    BareDevice bare;
    std::vector<double> bareSound;
    std::vector<double> bareCold;
    if (bare.open()) {
        for (int run = 0; run < 30; ++run)
            bareSound.push_back(bare.soundMs());
        for (int run = 0; run < colds; ++run) {
            dropFromPageCache(longFile);
            const double decode = plainDecodeStartMs(longFile);
            bareCold.push_back(decode + bare.soundMs());
        }
    }
    const double residentShare = BenchRun::median(resident);

    std::printf("Go-to-sound (AudioEngine::play until the callback renders sound):\n");
    BenchRun::printRuns("preloaded cue, device running:", cached);
    BenchRun::printRuns("10-minute MP3, not decoded yet:", undecoded);
    if (!bareSound.empty()) {
        BenchRun::printRuns("baseline, bare SDL device starting to sound:", bareSound);
        BenchRun::printRuns("baseline, open + decode 2205 frames + that:", bareCold);
    }
    std::printf("the 10-minute MP3 before each cold start: %.0f %% of its pages in the page cache (%s)\n",
                residentShare * 100.0,
                residentShare < 0.05 ? "dropped: cold starts read from the disk (or the disk's own cache)"
                                     : "the kernel kept them: these cold starts are warm ones");
    std::printf("go-to-sound preloaded: %.2f ms (target ≤ %.1f ms, one device period; baseline, bare SDL device: "
                "%.2f ms)\n",
                BenchRun::median(cached), kPeriodMs, bareSound.empty() ? -1.0 : BenchRun::median(bareSound));
    std::printf("go-to-sound cold 10-minute MP3: %.2f ms (target ≤ 50 ms; baseline, plain decoder start and bare "
                "device: %.2f ms)\n",
                BenchRun::median(undecoded), bareCold.empty() ? -1.0 : BenchRun::median(bareCold));
    std::printf("decodes per cold start: %.2f (target ≤ 1)\n", double(longDecodes.load()) / colds);
    return 0;
}
