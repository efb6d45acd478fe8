#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Captures 16-bit stereo audio from the PulseAudio server (also PipeWire's
// pulse server) on its own thread, in fragments of about 20 ms:
// - all system audio: the monitor of the default output;
// - one application: the monitor of its playback stream only; when that
//   stream ends and the application plays again, the capture re-attaches;
// - a capture device: that source (the default one when the name is unknown).
// The delivered audio follows the wall clock: while nothing can be captured
// (no application stream, a stalled or lost stream) silence is delivered in
// its place, so a recording is as long as the time it ran.
class PulseAudioCapture {
public:
    enum class SourceKind { AllSystemAudio, Application, Device };
    struct Source {
        SourceKind kind = SourceKind::AllSystemAudio;
        quint32 processId = 0;  // Application
        QString deviceName;     // Device: a source's name or description
    };

    // Called on the capture thread with whole frames; must return quickly.
    using DataCallback = void (*)(void* userData, const char* data, int bytes);

    static constexpr int kChannels = 2;
    static constexpr int kBytesPerFrame = 4;
    static constexpr int kFragmentMs = 20;
    // No data for this long counts as a stall, filled with silence.
    static constexpr int kStallMs = 300;

    PulseAudioCapture();
    ~PulseAudioCapture();
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    // Connects to the server and starts capturing. False with *error set when
    // the server cannot be reached or the source cannot be opened (an
    // application that is not playing yet is waited for, not an error).
    bool start(const Source& source, int sampleRate, DataCallback callback, void* userData, QString* error);
    // Returns once no callback runs any more.
    void stop();
    bool isRunning() const;

    // A capture stream is connected and delivering.
    bool isAttached() const;
    // How often a stream was connected (1 after a plain start).
    int attachCount() const;
    qint64 deliveredFrames() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
