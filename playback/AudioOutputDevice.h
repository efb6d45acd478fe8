#pragma once

#include <QString>
#include <QStringList>

#include "platform/PulseAudioOutput.h"

#include <SDL_audio.h>

#include <memory>

// One audio output: 32-bit float, stereo, 44100 Hz, fed by a callback on an
// audio thread. Where a PulseAudio server answers (and SDL_AUDIODRIVER does
// not name another driver), the output is a libpulse stream with a deep
// buffer that is written over at every start (PulseAudioOutput); otherwise
// an SDL device with a short period (SDL's audio subsystem only, its signal
// handlers off). CORVELLE_AUDIO_OUTPUT=sdl chooses SDL whatever runs.
// All calls belong to one thread (the engine's); only the callback runs on
// the audio thread.
class AudioOutputDevice {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // 512 frames (11.6 ms): a start is heard within one period.
    static constexpr int kPeriodFrames = 512;

    using RenderCallback = void (*)(void* userData, float* out, int frames);
    // Whether anything is meant to sound (null: always); an idle stream rests.
    using ActiveProbe = bool (*)(void* userData);
    // Frames of cue content rendered so far (null: every frame is content).
    using ContentProbe = quint64 (*)(void* userData);

    enum class Backend { Sdl, PulseAudio };

    AudioOutputDevice();
    ~AudioOutputDevice();
    AudioOutputDevice(const AudioOutputDevice&) = delete;
    AudioOutputDevice& operator=(const AudioOutputDevice&) = delete;

    // False when SDL's audio subsystem could not start (initError() says why).
    bool isAvailable() const { return m_available; }
    QString initError() const { return m_initError; }

    // Names of the playback devices SDL knows, in SDL's order, without empty
    // ones. *ok is false when the list could not be read.
    QStringList outputDeviceNames(bool* ok) const;

    Backend backend() const { return m_backend; }
    // The library really used, for log lines: "libpulse" or "SDL <driver>".
    QString libraryName() const;
    // How far ahead of the loudspeaker the output is written.
    int bufferMs() const;

    // Opens the named device (empty: the system default), paused. One attempt;
    // false with *error set on failure.
    bool open(const QString& deviceName, RenderCallback callback, void* userData, QString* error,
              ActiveProbe active = nullptr, ContentProbe content = nullptr);
    // Takes over a PulseAudio output opened elsewhere (see OutputOpener),
    // paused, in place of whatever was open.
    void adopt(std::shared_ptr<PulseAudioOutput> output, RenderCallback callback, void* userData,
               ActiveProbe active = nullptr, ContentProbe content = nullptr);
    void close();
    bool isOpen() const { return m_id != 0 || m_pulse->isOpen(); }
    // What the callback renders from now on is heard now. False (with
    // *error) when the device does not run.
    bool start(QString* error);
    bool isStarted() const { return m_started; }
    // How much longer a started device waits for its sink before it asks
    // for its first block (see PulseAudioOutput::sinkWaitMs); 0 for SDL.
    int sinkWaitMs() const;
    // What the callback renders from now on replaces queued sound at once (a
    // stop or a pause). Returns the frames of sound that were rendered but
    // will not be heard.
    qint64 cut();
    // The device went away (unplugged, server gone) while open: SDL keeps
    // calling the callback but nothing is heard.
    bool isLost() const;
    int periodFrames() const { return m_obtainedFrames; }

    // While locked, the callback is not running and does not start; hold it
    // only for a few pointer swaps (nothing allocated or freed: the callback
    // waits meanwhile). Does nothing when no device is open.
    class Lock {
    public:
        explicit Lock(AudioOutputDevice& device)
            : m_device(device)
        {
            m_device.lockOutput();
            ++s_heldByThisThread;
        }
        ~Lock()
        {
            --s_heldByThisThread;
            m_device.unlockOutput();
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        // Whether the calling thread is inside a Lock (lets tests check what
        // happens there).
        static bool isHeldByThisThread() { return s_heldByThisThread > 0; }

    private:
        AudioOutputDevice& m_device;
        static inline thread_local int s_heldByThisThread = 0;
    };

private:
    static void sdlCallback(void* userData, Uint8* stream, int length);
    void lockOutput();
    void unlockOutput();

    Backend m_backend = Backend::Sdl;
    std::shared_ptr<PulseAudioOutput> m_pulse = std::make_shared<PulseAudioOutput>();
    bool m_available = false;
    QString m_initError;
    SDL_AudioDeviceID m_id = 0;
    bool m_started = false;
    int m_obtainedFrames = 0;
    RenderCallback m_callback = nullptr;
    void* m_userData = nullptr;
};
