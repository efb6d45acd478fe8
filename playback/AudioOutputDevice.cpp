#include "playback/AudioOutputDevice.h"

#include <SDL.h>

#include <cstring>

AudioOutputDevice::AudioOutputDevice()
{
    // The program handles its own signals; SDL must not install handlers.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        m_available = true;
    } else {
        m_initError = QString::fromUtf8(SDL_GetError());
    }
}

AudioOutputDevice::~AudioOutputDevice()
{
    close();
    if (m_available)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

QStringList AudioOutputDevice::outputDeviceNames(bool* ok) const
{
    QStringList names;
    if (ok)
        *ok = false;
    if (!m_available)
        return names;
    const int count = SDL_GetNumAudioDevices(0);
    if (count < 0)
        return names;
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        if (name && *name)
            names.append(QString::fromUtf8(name, qsizetype(strnlen(name, 256))));
    }
    if (ok)
        *ok = true;
    return names;
}

bool AudioOutputDevice::open(const QString& deviceName, RenderCallback callback, void* userData, QString* error)
{
    close();
    if (!m_available) {
        if (error)
            *error = m_initError;
        return false;
    }
    m_callback = callback;
    m_userData = userData;

    SDL_AudioSpec wanted;
    std::memset(&wanted, 0, sizeof wanted);
    wanted.freq = kSampleRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = kChannels;
    wanted.samples = kPeriodFrames;
    wanted.callback = &AudioOutputDevice::sdlCallback;
    wanted.userdata = this;
    SDL_AudioSpec obtained;
    std::memset(&obtained, 0, sizeof obtained);

    const QByteArray name = deviceName.toUtf8();
    // No allowed changes: SDL converts to whatever the hardware needs, so
    // the callback always sees this exact format.
    m_id = SDL_OpenAudioDevice(deviceName.isEmpty() ? nullptr : name.constData(), 0, &wanted, &obtained, 0);
    if (m_id == 0) {
        if (error)
            *error = QString::fromUtf8(SDL_GetError());
        return false;
    }
    m_obtainedFrames = obtained.samples;
    m_started = false;
    return true;
}

void AudioOutputDevice::close()
{
    if (m_id == 0)
        return;
    // Returns once SDL's audio thread has ended: no callback runs afterwards.
    SDL_CloseAudioDevice(m_id);
    m_id = 0;
    m_started = false;
}

bool AudioOutputDevice::start(QString* error)
{
    if (m_id == 0) {
        if (error)
            *error = QStringLiteral("device not open");
        return false;
    }
    SDL_PauseAudioDevice(m_id, 0);
    if (SDL_GetAudioDeviceStatus(m_id) != SDL_AUDIO_PLAYING) {
        if (error) {
            const QString sdlError = QString::fromUtf8(SDL_GetError());
            *error = sdlError.isEmpty() ? QStringLiteral("device is not running") : sdlError;
        }
        return false;
    }
    m_started = true;
    return true;
}

bool AudioOutputDevice::isLost() const
{
    return m_id != 0 && SDL_GetAudioDeviceStatus(m_id) == SDL_AUDIO_STOPPED;
}

void AudioOutputDevice::sdlCallback(void* userData, Uint8* stream, int length)
{
    auto* self = static_cast<AudioOutputDevice*>(userData);
    const int frames = length / int(kChannels * sizeof(float));
    if (!self || !self->m_callback) {
        std::memset(stream, 0, size_t(length));
        return;
    }
    self->m_callback(self->m_userData, reinterpret_cast<float*>(stream), frames);
}
