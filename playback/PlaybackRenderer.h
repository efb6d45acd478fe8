#pragma once

#include "playback/CueSnapshot.h"
#include "audiofile/PcmBuffer.h"

#include <QtGlobal>

#include <atomic>
#include <vector>

// Renders the output blocks of the playback engine: the current cue's decoded
// samples with its fades, volume and pan envelopes, the output gain and a
// de-click ramp after every start and seek, and the crossfade from one cue
// into the next (or into silence).
//
// render() runs on the audio thread. It takes no lock, allocates and frees
// nothing, logs nothing and never sees a QObject: it reads PcmBuffers and
// CueSnapshots that its owner keeps alive. The control calls change that
// state; they run on the owner's thread while no render() is in progress
// (with the output device locked, or with no device open). Values other
// threads poll are atomics. Events (the end of the data, a finished
// crossfade) are counted, for the owner to pick up and announce.
class PlaybackRenderer {
public:
    static constexpr int kChannels = PcmBuffer::kChannels;
    static constexpr int kSampleRate = PcmBuffer::kSampleRate;
    // 100 ms ramp from the last output sample after a start or a jump.
    static constexpr qint64 kDeclickFrames = 4410;
    // While decoding runs, sound starts once 50 ms of audio are there.
    static constexpr quint64 kStartFrames = 2205;
    static constexpr qint64 kMaxBlockFrames = 4096;

    enum class Handover { None, ToIncoming, ToSilence };

    struct CrossfadeSetup {
        const PcmBuffer* incoming = nullptr;  // null (and not sameFile): fade to silence
        const CueSnapshot* incomingCue = nullptr;
        bool sameFile = false;  // the incoming cue reads the current buffer
        qint64 incomingDurationMs = 0;
        quint64 incomingStartFrame = 0;
        quint64 lengthFrames = 0;
        // The outgoing frame where the mix begins: the outgoing cue plays
        // alone until then, so that the fade ends at its region end. A
        // length of 0 hands over there without a fade.
        quint64 mixStartFrame = 0;
        // Passes of its loop region the incoming cue plays after its first
        // (-1: endless).
        int incomingPassesLeft = 0;
        // Where the outgoing cue's region ends: it is silent from there on,
        // and never jumps back to fill the fade.
        quint64 outgoingEndFrame = 0;
        int curve = 2;
        float outgoingGain = 1.0f;
    };

    PlaybackRenderer();

    // --- control: owner thread, no render() in progress ---
    // A new current cue at position 0, paused, with no crossfade.
    void load(const PcmBuffer* buffer, const CueSnapshot* cue, qint64 durationMs);
    // No current cue: silence from now on.
    void unload();
    // New parameters for the current or the incoming cue; null = the cue is gone.
    void setCurrentCue(const CueSnapshot* cue);
    void setIncomingCue(const CueSnapshot* cue);
    void play();   // starts or resumes with a de-click ramp
    void pause();
    void seek(quint64 frame, qint64 ms);
    void setPosition(quint64 frame, qint64 ms);
    void beginCrossfade(const CrossfadeSetup& setup);
    // Passes of the loop region the current (or, while a crossfade is
    // prepared, the incoming) cue plays after the one that is playing:
    // at the region end it wraps to the loop start while any are left
    // (-1: endless), else it falls silent there and reports its end.
    void setPassesLeft(int passes);
    void setIncomingPassesLeft(int passes);
    int passesLeft() const { return m_current.passesLeft; }
    void cancelCrossfade();
    Handover lastHandover() const { return m_lastHandover; }
    const PcmBuffer* currentBuffer() const { return m_current.buffer; }
    const CueSnapshot* currentCue() const { return m_current.cue; }

    // --- any thread ---
    // A gain change is heard at once, or, with rampFrames, moves there
    // linearly over that many frames from the gain heard at that moment (a
    // new cue always starts at its gain).
    void setVolume(float gain, qint64 rampFrames = 0)
    {
        m_volumeRampFrames.store(rampFrames, std::memory_order_relaxed);
        m_volume.store(gain, std::memory_order_release);
    }
    float volume() const { return m_volume.load(std::memory_order_relaxed); }
    // While held, the current cue plays at this gain whatever setVolume says
    // (its successor's gain is set while the successor still decodes).
    void holdOutgoingGain(float gain);
    void releaseOutgoingGain() { m_gainHeld.store(false, std::memory_order_relaxed); }
    bool isOutgoingGainHeld() const { return m_gainHeld.load(std::memory_order_relaxed); }
    // The gain the current cue plays at right now.
    float currentCueGain() const;
    // The output no longer reaches a device: stay silent and keep the position.
    void setOutputLost(bool lost) { m_outputLost.store(lost, std::memory_order_relaxed); }
    bool isOutputLost() const { return m_outputLost.load(std::memory_order_relaxed); }

    bool isPlaying() const { return m_playing.load(std::memory_order_relaxed); }
    qint64 positionMs() const { return m_positionMs.load(std::memory_order_relaxed); }
    quint64 positionFrames() const { return m_positionFrames.load(std::memory_order_relaxed); }
    qint64 durationMs() const { return m_durationMs.load(std::memory_order_relaxed); }
    float peakLevel() const { return m_peakLevel.load(std::memory_order_relaxed); }
    bool isCrossfading() const { return m_crossfadeActive.load(std::memory_order_relaxed); }
    quint64 incomingPositionFrames() const { return m_incomingPositionFrames.load(std::memory_order_relaxed); }
    // Ends of data reported so far; each is to be announced once.
    quint64 endReports() const { return m_endReports.load(std::memory_order_acquire); }
    // Jumps from the region end back to the loop start made so far.
    quint64 loopWraps() const { return m_loopWraps.load(std::memory_order_acquire); }
    // Crossfades that have handed over so far.
    quint64 handovers() const { return m_handovers.load(std::memory_order_acquire); }
    // Blocks the output has asked for so far: it stands still only when the
    // device does, whatever the cue is doing (waiting for data included).
    quint64 renderCalls() const { return m_renderCalls.load(std::memory_order_relaxed); }
    // Frames rendered from cue data so far (not silence put in while
    // nothing plays or the decoder is behind).
    quint64 contentFrames() const { return m_contentFrames.load(std::memory_order_relaxed); }

    // --- audio thread ---
    void render(float* out, qint64 frames);

private:
    struct Voice {
        const PcmBuffer* buffer = nullptr;
        const CueSnapshot* cue = nullptr;
        qint64 durationMs = 0;
        int passesLeft = 0;
    };

    // Per-millisecond gains of one voice: fades, volume envelope and pan.
    struct VoiceGains {
        qint64 ms = -1;
        quint64 nextFrame = 0;  // first frame of the next millisecond
        float left = 1.0f;
        float right = 1.0f;
    };

    void renderBlock(float* out, qint64 frames);
    // Renders up to frames of the current cue alone from frame p; returns
    // the frames rendered, kDataEnded at the end of its data, or kWaiting
    // while the decoder has not got there yet.
    qint64 renderCurrent(float* out, qint64 frames, quint64 p, float rampLeft, float rampRight, float& peak);
    static constexpr qint64 kDataEnded = -1;
    static constexpr qint64 kWaiting = -2;
    // Where the current cue's loop region ends (0: at the end of its data)
    // and starts, in frames.
    quint64 regionEndFrame() const;
    quint64 loopStartFrame() const;
    // At the region end: back to the loop start while passes are left
    // (true), else the cue ends here.
    bool wrapToLoopStart(quint64 dataFrames);
    void mixCrossfade(float* out, qint64 frames, quint64 startFrame, float rampLeft, float rampRight, float& peak);
    void finishCrossfade();
    void silence(float* out, qint64 frames);
    void reportEnd();
    void refreshDuration();
    void clearCrossfade();
    void resetVoice(const Voice& voice);
    static void updateGains(VoiceGains& gains, const Voice& voice, const FadeRegion& region, quint64 frame);
    void applyDeclick(float& left, float& right, qint64 i, qint64 rampFrames, float rampLeft, float rampRight) const;

    Voice m_current;
    Voice m_incoming;
    bool m_sameFile = false;
    qint64 m_pendingSeekFrame = -1;
    qint64 m_pendingSeekMs = -1;
    qint64 m_declickFramesLeft = 0;
    float m_lastLeft = 0.0f;
    float m_lastRight = 0.0f;
    // The sample a de-click ramp blends from, kept for all of its blocks.
    float m_declickFromLeft = 0.0f;
    float m_declickFromRight = 0.0f;
    bool m_endReported = false;
    bool m_durationFromData = false;
    // The cue gain as heard and its ramp (audio thread).
    bool m_gainHeard = false;  // false: the next gain is taken at once
    float m_heardGain = 1.0f;
    float m_rampFrom = 1.0f;
    float m_rampTo = 1.0f;
    qint64 m_rampLeft = 0;
    qint64 m_rampTotal = 0;

    bool m_crossfading = false;
    quint64 m_crossfadeProgress = 0;
    quint64 m_crossfadeLength = 0;
    quint64 m_outgoingEndFrame = 0;
    quint64 m_mixStartFrame = 0;
    int m_crossfadeCurve = 2;
    float m_outgoingGain = 1.0f;
    Handover m_lastHandover = Handover::None;

    std::vector<float> m_incomingScratch;

    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_outputLost{false};
    std::atomic<float> m_volume{1.0f};
    std::atomic<qint64> m_volumeRampFrames{0};
    std::atomic<bool> m_gainHeld{false};
    std::atomic<float> m_heldGain{1.0f};
    std::atomic<qint64> m_positionMs{0};
    std::atomic<quint64> m_positionFrames{0};
    std::atomic<qint64> m_durationMs{0};
    std::atomic<float> m_peakLevel{0.0f};
    std::atomic<bool> m_crossfadeActive{false};
    std::atomic<quint64> m_incomingPositionFrames{0};
    std::atomic<quint64> m_endReports{0};
    std::atomic<quint64> m_handovers{0};
    std::atomic<quint64> m_loopWraps{0};
    std::atomic<quint64> m_renderCalls{0};
    std::atomic<quint64> m_contentFrames{0};
};
