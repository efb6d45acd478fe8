#include "playback/AudioOutputDevice.h"

#include <SDL.h>

#include <cstring>

namespace {

bool pulseWanted()
{
    const QByteArray choice = qgetenv("CORVELLE_AUDIO_OUTPUT");
    if (choice == "sdl")
        return false;
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
    if (!driver.isEmpty() && driver != "pulseaudio" && driver != "pulse")
        return false;
    return PulseAudioOutput::serverReachable();
}

}  // namespace

AudioOutputDevice::AudioOutputDevice()
{
    if (pulseWanted()) {
        m_backend = Backend::PulseAudio;
        m_available = true;
        return;
    }
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
    if (m_available && m_backend == Backend::Sdl)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

QString AudioOutputDevice::libraryName() const
{
    if (m_backend == Backend::PulseAudio)
        return QStringLiteral("libpulse");
    const char* driver = SDL_GetCurrentAudioDriver();
    return QStringLiteral("SDL ") + QString::fromUtf8(driver ? driver : "(no driver)");
}

int AudioOutputDevice::bufferMs() const
{
    if (m_backend == Backend::PulseAudio)
        return PulseAudioOutput::kBufferMs;
    return (m_obtainedFrames > 0 ? m_obtainedFrames : kPeriodFrames) * 1000 / kSampleRate;
}

void AudioOutputDevice::lockOutput()
{
    if (m_backend == Backend::PulseAudio)
        m_pulse->lock();
    else if (m_id != 0)
        SDL_LockAudioDevice(m_id);
}

void AudioOutputDevice::unlockOutput()
{
    if (m_backend == Backend::PulseAudio)
        m_pulse->unlock();
    else if (m_id != 0)
        SDL_UnlockAudioDevice(m_id);
}

qint64 AudioOutputDevice::cut()
{
    return m_backend == Backend::PulseAudio ? m_pulse->cut() : 0;
}

QStringList AudioOutputDevice::outputDeviceNames(bool* ok) const
{
    QStringList names;
    if (ok)
        *ok = false;
    if (!m_available)
        return names;
    if (m_backend == Backend::PulseAudio)
        return PulseAudioOutput::sinkDescriptions(ok);
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

bool AudioOutputDevice::open(const QString& deviceName, RenderCallback callback, void* userData, QString* error,
                             ActiveProbe active, ContentProbe content)
{
    close();
    if (!m_available) {
        if (error)
            *error = m_initError;
        return false;
    }
    if (m_backend == Backend::PulseAudio) {
        m_started = false;
        m_obtainedFrames = m_pulse->open(deviceName, callback, active, content, userData, error) ? m_pulse->periodFrames() : 0;
        return m_pulse->isOpen();
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

void AudioOutputDevice::adopt(std::shared_ptr<PulseAudioOutput> output, RenderCallback callback, void* userData,
                              ActiveProbe active, ContentProbe content)
{
    close();
    if (m_backend != Backend::PulseAudio || !output || !output->isOpen())
        return;
    m_pulse = std::move(output);
    m_pulse->attach(callback, active, content, userData);
    m_started = false;
    m_obtainedFrames = m_pulse->periodFrames();
}

void AudioOutputDevice::close()
{
    if (m_backend == Backend::PulseAudio) {
        m_pulse->close();
        m_started = false;
        return;
    }
    if (m_id == 0)
        return;
    // Returns once SDL's audio thread has ended: no callback runs afterwards.
    SDL_CloseAudioDevice(m_id);
    m_id = 0;
    m_started = false;
}

bool AudioOutputDevice::start(QString* error)
{
    if (m_backend == Backend::PulseAudio) {
        if (!m_pulse->isOpen()) {
            if (error)
                *error = QStringLiteral("device not open");
            return false;
        }
        m_started = m_pulse->start(error);
        return m_started;
    }
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

int AudioOutputDevice::sinkWaitMs() const
{
    return m_backend == Backend::PulseAudio && m_started && m_pulse->isOpen() ? m_pulse->sinkWaitMs() : 0;
}

bool AudioOutputDevice::isLost() const
{
    if (m_backend == Backend::PulseAudio)
        return m_pulse->isOpen() && m_pulse->isLost();
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
