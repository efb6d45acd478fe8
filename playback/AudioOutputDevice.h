#pragma once

#include <QString>
#include <QStringList>

#include <SDL_audio.h>

// One SDL audio output device: 32-bit float, stereo, 44100 Hz, with a short
// period, fed by a callback on SDL's audio thread. Only SDL's audio subsystem
// is started (with its signal handlers off); the device list comes from SDL.
// All calls belong to one thread (the engine's); only the callback runs on
// the audio thread.
class AudioOutputDevice {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // 512 frames (11.6 ms): a start is heard within one period.
    static constexpr int kPeriodFrames = 512;

    using RenderCallback = void (*)(void* userData, float* out, int frames);

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

    // Opens the named device (empty: the system default), paused. One attempt;
    // false with *error set on failure.
    bool open(const QString& deviceName, RenderCallback callback, void* userData, QString* error);
    void close();
    bool isOpen() const { return m_id != 0; }
    // Lets the callback run. False (with *error) when the device does not run.
    bool start(QString* error);
    bool isStarted() const { return m_started; }
    // The device went away (unplugged, server gone) while open: SDL keeps
    // calling the callback but nothing is heard.
    bool isLost() const;
    int periodFrames() const { return m_obtainedFrames; }

    // While locked, the callback is not running and does not start; hold it
    // only for a few pointer swaps (nothing allocated or freed: the callback
    // waits meanwhile). Does nothing when no device is open.
    class Lock {
    public:
        explicit Lock(const AudioOutputDevice& device)
            : m_id(device.m_id)
        {
            if (m_id != 0)
                SDL_LockAudioDevice(m_id);
            ++s_heldByThisThread;
        }
        ~Lock()
        {
            --s_heldByThisThread;
            if (m_id != 0)
                SDL_UnlockAudioDevice(m_id);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        // Whether the calling thread is inside a Lock (lets tests check what
        // happens there).
        static bool isHeldByThisThread() { return s_heldByThisThread > 0; }

    private:
        SDL_AudioDeviceID m_id;
        static inline thread_local int s_heldByThisThread = 0;
    };

private:
    static void sdlCallback(void* userData, Uint8* stream, int length);

    bool m_available = false;
    QString m_initError;
    SDL_AudioDeviceID m_id = 0;
    bool m_started = false;
    int m_obtainedFrames = 0;
    RenderCallback m_callback = nullptr;
    void* m_userData = nullptr;
};
