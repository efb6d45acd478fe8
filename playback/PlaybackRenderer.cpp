#include "playback/PlaybackRenderer.h"

#include "playback/CrossfadeCurve.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

qint64 framesToMs(quint64 frames)
{
    return qint64(double(frames) * 1000.0 / PlaybackRenderer::kSampleRate);
}

}  // namespace

PlaybackRenderer::PlaybackRenderer()
    : m_incomingScratch(size_t(kMaxBlockFrames * kChannels), 0.0f)
{
}

// ---------------------------------------------------------------------------
// Control

void PlaybackRenderer::load(const PcmBuffer* buffer, const CueSnapshot* cue, qint64 durationMs)
{
    resetVoice(Voice{buffer, cue, durationMs});
    m_durationMs.store(durationMs, kRelaxed);
}

void PlaybackRenderer::unload()
{
    resetVoice(Voice{});
}

void PlaybackRenderer::resetVoice(const Voice& voice)
{
    clearCrossfade();
    m_current = voice;
    m_durationFromData = false;
    m_playing.store(false, kRelaxed);
    m_positionFrames.store(0, kRelaxed);
    m_positionMs.store(0, kRelaxed);
    m_pendingSeekFrame = -1;
    m_pendingSeekMs = -1;
    m_endReported = false;
    m_gainHeld.store(false, kRelaxed);
    m_gainHeard = false;
}

void PlaybackRenderer::setCurrentCue(const CueSnapshot* cue)
{
    m_current.cue = cue;
}

void PlaybackRenderer::setIncomingCue(const CueSnapshot* cue)
{
    m_incoming.cue = cue;
}

void PlaybackRenderer::play()
{
    // Every start and resume ramps in from the last output sample (0 after
    // silence), so nothing clicks.
    m_declickFramesLeft = kDeclickFrames;
    m_playing.store(true, kRelaxed);
}

void PlaybackRenderer::pause()
{
    m_playing.store(false, kRelaxed);
}

void PlaybackRenderer::seek(quint64 frame, qint64 ms)
{
    m_pendingSeekFrame = qint64(frame);
    m_pendingSeekMs = ms;
    m_positionMs.store(ms, kRelaxed);
    m_endReported = false;
}

void PlaybackRenderer::setPosition(quint64 frame, qint64 ms)
{
    m_positionFrames.store(frame, kRelaxed);
    m_positionMs.store(ms, kRelaxed);
}

void PlaybackRenderer::holdOutgoingGain(float gain)
{
    m_heldGain.store(gain, kRelaxed);
    m_gainHeld.store(true, kRelaxed);
}

float PlaybackRenderer::currentCueGain() const
{
    return m_gainHeld.load(kRelaxed) ? m_heldGain.load(kRelaxed) : m_volume.load(kRelaxed);
}

void PlaybackRenderer::beginCrossfade(const CrossfadeSetup& setup)
{
    m_incoming = Voice{setup.sameFile ? m_current.buffer : setup.incoming, setup.incomingCue,
                       setup.incomingDurationMs, setup.incomingPassesLeft};
    m_sameFile = setup.sameFile;
    m_incomingPositionFrames.store(setup.incomingStartFrame, kRelaxed);
    m_crossfadeProgress = 0;
    m_crossfadeLength = setup.lengthFrames;
    m_outgoingEndFrame = setup.outgoingEndFrame;
    m_mixStartFrame = setup.mixStartFrame;
    m_crossfadeCurve = setup.curve;
    m_outgoingGain = setup.outgoingGain;
    m_gainHeld.store(false, kRelaxed);
    m_crossfading = true;
    m_crossfadeActive.store(true, kRelaxed);
}

void PlaybackRenderer::cancelCrossfade()
{
    m_crossfading = false;
    m_crossfadeActive.store(false, kRelaxed);
}

void PlaybackRenderer::clearCrossfade()
{
    m_crossfading = false;
    m_crossfadeActive.store(false, kRelaxed);
    m_incoming = Voice{};
    m_sameFile = false;
    m_incomingPositionFrames.store(0, kRelaxed);
    m_crossfadeProgress = 0;
    m_crossfadeLength = 0;
    m_outgoingEndFrame = 0;
    m_mixStartFrame = 0;
    m_outgoingGain = 1.0f;
}

void PlaybackRenderer::setPassesLeft(int passes)
{
    m_current.passesLeft = passes;
}

void PlaybackRenderer::setIncomingPassesLeft(int passes)
{
    m_incoming.passesLeft = passes;
}

// ---------------------------------------------------------------------------
// Rendering

void PlaybackRenderer::render(float* out, qint64 frames)
{
    if (!out || frames <= 0)
        return;
    m_renderCalls.fetch_add(1, kRelaxed);
    refreshDuration();
    while (frames > 0) {
        const qint64 n = std::min(frames, kMaxBlockFrames);
        renderBlock(out, n);
        out += n * kChannels;
        frames -= n;
    }
}

void PlaybackRenderer::refreshDuration()
{
    // Once the whole file is in, its decoded length is the length.
    const PcmBuffer* buffer = m_current.buffer;
    if (m_durationFromData || !buffer || buffer->isFilling())
        return;
    m_durationFromData = true;
    const qint64 ms = framesToMs(quint64(buffer->frames()));
    if (ms > 0) {
        m_current.durationMs = ms;
        m_durationMs.store(ms, kRelaxed);
    }
}

void PlaybackRenderer::silence(float* out, qint64 frames)
{
    std::memset(out, 0, size_t(frames * kChannels) * sizeof(float));
    m_peakLevel.store(0.0f, kRelaxed);
}

void PlaybackRenderer::reportEnd()
{
    if (m_endReported)
        return;
    m_endReported = true;
    m_endReports.fetch_add(1, std::memory_order_release);
}

void PlaybackRenderer::updateGains(VoiceGains& gains, const Voice& voice, const FadeRegion& region, quint64 frame)
{
    const qint64 ms = qint64(frame * 1000 / kSampleRate);
    gains.ms = ms;
    gains.nextFrame = (quint64(ms + 1) * kSampleRate + 999) / 1000;
    const CueSnapshot* cue = voice.cue;
    if (!cue) {
        gains.left = gains.right = 1.0f;
        return;
    }
    double shape = cue->volume.valueAt(ms);
    if (region.fadesApply)
        shape *= cue->fadeGainAt(std::clamp<qint64>(ms - region.startMs, 0, region.lengthMs), region.lengthMs);
    // Linear balance: the far side is attenuated, the near side keeps unity.
    const double pan = cue->pan.valueAt(ms);
    const float g = float(shape);
    gains.left = pan > 0.0 ? float(g * (1.0 - pan)) : g;
    gains.right = pan <= 0.0 ? float(g * (1.0 + pan)) : g;
}

inline void PlaybackRenderer::applyDeclick(float& left, float& right, qint64 i, qint64 rampFrames, float rampLeft,
                                           float rampRight) const
{
    if (i >= rampFrames)
        return;
    const float a = float(kDeclickFrames - rampFrames + i) / float(kDeclickFrames);
    left = a * left + (1.0f - a) * rampLeft;
    right = a * right + (1.0f - a) * rampRight;
}

quint64 PlaybackRenderer::regionEndFrame() const
{
    const CueSnapshot* cue = m_current.cue;
    if (!cue || cue->loopEndMs < 1 || cue->loopEndMs >= m_current.durationMs)
        return 0;
    return quint64(PcmBuffer::msToFrames(cue->loopEndMs));
}

quint64 PlaybackRenderer::loopStartFrame() const
{
    const CueSnapshot* cue = m_current.cue;
    if (!cue)
        return 0;
    const bool loopEndInside = cue->loopEndMs >= 1 && cue->loopEndMs < m_current.durationMs;
    const qint64 endMs = loopEndInside ? cue->loopEndMs : m_current.durationMs;
    return cue->loopStartMs > 0 && cue->loopStartMs < endMs ? quint64(PcmBuffer::msToFrames(cue->loopStartMs)) : 0;
}

bool PlaybackRenderer::wrapToLoopStart(quint64 dataFrames)
{
    if (m_current.passesLeft == 0)
        return false;
    const quint64 start = loopStartFrame();
    const PcmBuffer* buffer = m_current.buffer;
    // Nothing there to play again (the data ends before the loop start).
    if (start >= dataFrames && !(buffer && buffer->isFilling()))
        return false;
    if (m_current.passesLeft > 0)
        --m_current.passesLeft;
    setPosition(start, framesToMs(start));
    m_declickFramesLeft = kDeclickFrames;
    m_endReported = false;
    m_loopWraps.fetch_add(1, std::memory_order_release);
    return true;
}

qint64 PlaybackRenderer::renderCurrent(float* out, qint64 n, quint64 p, float rampLeft, float rampRight, float& peak)
{
    // State before frames: once a buffer says it is complete, the frame count
    // read after it is final.
    const PcmBuffer* buffer = m_current.buffer;
    const bool filling = buffer && buffer->isFilling();
    const quint64 decoded = buffer ? quint64(buffer->frames()) : 0;
    if (!m_current.cue)
        return kWaiting;
    if (!filling) {
        // Also reached at once when nothing could be decoded: the end is
        // reported so the show moves on instead of playing silence forever.
        if (p >= decoded)
            return kDataEnded;
    } else if (decoded < kStartFrames || p >= decoded) {
        // Waiting for the decoder; sound resumes by itself, ramped in.
        m_declickFramesLeft = kDeclickFrames;
        return kWaiting;
    }

    const qint64 count = qint64(std::min<quint64>(decoded - p, quint64(n)));
    const qint64 copied = buffer->copyFrames(qint64(p), count, out);
    std::memset(out + copied * kChannels, 0, size_t((count - copied) * kChannels) * sizeof(float));

    const FadeRegion region = m_current.cue->fadeRegion(m_current.durationMs);
    const float target = currentCueGain();
    if (!m_gainHeard || target != m_rampTo) {
        // The ramp length stored before the gain is the one that goes with it.
        std::atomic_thread_fence(std::memory_order_acquire);
        const qint64 rampFrames = m_volumeRampFrames.load(kRelaxed);
        if (m_gainHeard && rampFrames > 0 && !m_gainHeld.load(kRelaxed)) {
            m_rampFrom = m_heardGain;
            m_rampLeft = m_rampTotal = rampFrames;
        } else {
            m_rampLeft = 0;
        }
        m_rampTo = target;
        m_gainHeard = true;
    }
    const qint64 ramp = m_declickFramesLeft;
    VoiceGains gains;
    for (qint64 i = 0; i < count; ++i) {
        const quint64 frame = p + quint64(i);
        if (gains.ms < 0 || frame >= gains.nextFrame)
            updateGains(gains, m_current, region, frame);
        float volume = m_rampTo;
        if (m_rampLeft > 0) {
            volume += (m_rampFrom - m_rampTo) * float(m_rampLeft) / float(m_rampTotal);
            --m_rampLeft;
        }
        m_heardGain = volume;
        float left = out[i * kChannels] * (gains.left * volume);
        float right = out[i * kChannels + 1] * (gains.right * volume);
        applyDeclick(left, right, i, ramp, rampLeft, rampRight);
        out[i * kChannels] = left;
        out[i * kChannels + 1] = right;
        peak = std::max(peak, std::max(std::fabs(left), std::fabs(right)));
    }

    const quint64 end = p + quint64(count);
    m_contentFrames.fetch_add(quint64(count), kRelaxed);
    m_positionFrames.store(end, kRelaxed);
    m_positionMs.store(framesToMs(end), kRelaxed);
    m_declickFramesLeft = ramp > 0 ? (count >= ramp ? 0 : ramp - count) : 0;
    return count;
}

void PlaybackRenderer::renderBlock(float* out, qint64 n)
{
    // A crossfade goes on when the outgoing cue is gone (it is silent then):
    // the mix must still reach the incoming cue.
    if (m_outputLost.load(kRelaxed) || (!m_current.cue && !m_crossfading) || !m_playing.load(kRelaxed)) {
        silence(out, n);
        m_lastLeft = m_lastRight = 0.0f;
        return;
    }
    const float lastLeft = m_lastLeft;
    const float lastRight = m_lastRight;
    m_lastLeft = m_lastRight = 0.0f;

    quint64 p = m_positionFrames.load(kRelaxed);
    if (m_pendingSeekFrame >= 0) {
        const PcmBuffer* buffer = m_current.buffer;
        const bool filling = buffer && buffer->isFilling();
        const quint64 decoded = buffer ? quint64(buffer->frames()) : 0;
        if (quint64(m_pendingSeekFrame) > decoded && filling) {
            silence(out, n);  // the jump waits for the decoder
            return;
        }
        p = quint64(m_pendingSeekFrame);
        m_positionFrames.store(p, kRelaxed);
        m_positionMs.store(m_pendingSeekMs, kRelaxed);
        m_pendingSeekFrame = -1;
        m_pendingSeekMs = -1;
        m_declickFramesLeft = kDeclickFrames;
    }
    // A de-click ramp starts from the last sample heard and blends from that
    // one sample to its end, whatever the blocks it spans: blending each
    // block from the block before would step at every block boundary.
    const bool declickUnderWay = m_declickFramesLeft > 0 && m_declickFramesLeft < kDeclickFrames;
    float rampLeft = declickUnderWay ? m_declickFromLeft : lastLeft;
    float rampRight = declickUnderWay ? m_declickFromRight : lastRight;

    // The block is rendered in pieces wherever something happens inside it,
    // to the frame: the region end (a wrap to the loop start, or the end of
    // the cue), the start of a mix, the hand-over of a crossfade.
    float peak = 0.0f;
    qint64 done = 0;
    auto rampFromLastSample = [&] {
        if (done > 0) {
            rampLeft = out[(done - 1) * kChannels];
            rampRight = out[(done - 1) * kChannels + 1];
        }
    };
    while (done < n) {
        float* o = out + done * kChannels;
        qint64 todo = n - done;
        if (m_crossfading) {
            if (p < m_mixStartFrame && m_current.cue) {
                // The outgoing cue alone until the mix has to begin.
                const qint64 r = renderCurrent(o, std::min<qint64>(todo, qint64(m_mixStartFrame - p)), p, rampLeft,
                                               rampRight, peak);
                if (r > 0) {
                    done += r;
                    p += quint64(r);
                } else if (r == kWaiting) {
                    break;
                } else {
                    m_mixStartFrame = p;  // its data ended early: the mix begins now
                }
                continue;
            }
            if (m_crossfadeLength == 0) {
                // No fade: the incoming cue simply goes on from here.
                finishCrossfade();
                if (!m_playing.load(kRelaxed))
                    break;
                p = m_positionFrames.load(kRelaxed);
                m_declickFramesLeft = kDeclickFrames;
                rampFromLastSample();
                continue;
            }
            if (m_crossfadeProgress < m_crossfadeLength)
                todo = std::min<qint64>(todo, qint64(m_crossfadeLength - m_crossfadeProgress));
            mixCrossfade(o, todo, p, rampLeft, rampRight, peak);
            m_contentFrames.fetch_add(quint64(todo), kRelaxed);
            done += todo;
            if (!m_playing.load(kRelaxed))
                break;  // faded to silence
            p = m_positionFrames.load(kRelaxed);
            continue;
        }

        const quint64 regionEnd = regionEndFrame();
        if (regionEnd > 0) {
            if (p >= regionEnd) {
                const quint64 dataFrames = m_current.buffer ? quint64(m_current.buffer->frames()) : 0;
                if (!wrapToLoopStart(dataFrames)) {
                    // The last pass ends here, to the frame.
                    reportEnd();
                    break;
                }
                p = m_positionFrames.load(kRelaxed);
                rampFromLastSample();
                continue;
            }
            todo = std::min<qint64>(todo, qint64(regionEnd - p));
        }
        const qint64 r = renderCurrent(o, todo, p, rampLeft, rampRight, peak);
        if (r > 0) {
            done += r;
            p += quint64(r);
            continue;
        }
        if (r == kDataEnded) {
            if (wrapToLoopStart(m_current.buffer ? quint64(m_current.buffer->frames()) : 0)) {
                p = m_positionFrames.load(kRelaxed);
                rampFromLastSample();
                continue;
            }
            reportEnd();
        }
        break;
    }

    if (done < n)
        std::memset(out + done * kChannels, 0, size_t((n - done) * kChannels) * sizeof(float));
    m_lastLeft = out[(n - 1) * kChannels];
    m_lastRight = out[(n - 1) * kChannels + 1];
    m_declickFromLeft = rampLeft;
    m_declickFromRight = rampRight;
    m_peakLevel.store(peak, kRelaxed);
}

void PlaybackRenderer::mixCrossfade(float* out, qint64 n, quint64 startFrame, float rampLeft, float rampRight,
                                    float& peak)
{
    const float incomingVolume = m_volume.load(kRelaxed);
    const float outgoingVolume = m_outgoingGain;

    // The outgoing cue plays up to its region end (or as far as it has
    // data), then is silent; a cue that is gone is silent throughout.
    const PcmBuffer* outgoing = m_current.cue ? m_current.buffer : nullptr;
    const PcmBuffer* incoming = m_sameFile ? m_current.buffer : m_incoming.buffer;
    const qint64 outAvailable = startFrame < m_outgoingEndFrame ? qint64(m_outgoingEndFrame - startFrame) : 0;
    const qint64 outCopied = outgoing ? outgoing->copyFrames(qint64(startFrame), std::min(n, outAvailable), out) : 0;
    std::memset(out + outCopied * kChannels, 0, size_t((n - outCopied) * kChannels) * sizeof(float));
    float* in = m_incomingScratch.data();
    const quint64 incomingStart = m_incomingPositionFrames.load(kRelaxed);
    const bool incomingFilling = incoming && incoming->isFilling();
    const qint64 inCopied = incoming ? incoming->copyFrames(qint64(incomingStart), n, in) : 0;
    std::memset(in + inCopied * kChannels, 0, size_t((n - inCopied) * kChannels) * sizeof(float));

    const FadeRegion outRegion = m_current.cue ? m_current.cue->fadeRegion(m_current.durationMs) : FadeRegion{};
    const FadeRegion inRegion = m_incoming.cue ? m_incoming.cue->fadeRegion(m_incoming.durationMs) : FadeRegion{};
    const qint64 ramp = m_declickFramesLeft;
    VoiceGains outGains;
    VoiceGains inGains;
    for (qint64 i = 0; i < n; ++i) {
        const float t = m_crossfadeLength > 0
            ? std::min(float(m_crossfadeProgress) / float(m_crossfadeLength), 1.0f)
            : 1.0f;
        const CrossfadeGains curve = crossfadeGains(m_crossfadeCurve, t);
        const quint64 outFrame = startFrame + quint64(i);
        const quint64 inFrame = incomingStart + quint64(i);
        if (outGains.ms < 0 || outFrame >= outGains.nextFrame)
            updateGains(outGains, m_current, outRegion, outFrame);
        if (inGains.ms < 0 || inFrame >= inGains.nextFrame)
            updateGains(inGains, m_incoming, inRegion, inFrame);
        const float go = curve.out * outgoingVolume;
        const float gi = curve.in * incomingVolume;
        float left = out[i * kChannels] * (go * outGains.left) + in[i * kChannels] * (gi * inGains.left);
        float right = out[i * kChannels + 1] * (go * outGains.right) + in[i * kChannels + 1] * (gi * inGains.right);
        applyDeclick(left, right, i, ramp, rampLeft, rampRight);
        out[i * kChannels] = left;
        out[i * kChannels + 1] = right;
        peak = std::max(peak, std::max(std::fabs(left), std::fabs(right)));
        ++m_crossfadeProgress;
    }

    // An incoming cue still being decoded waits where its data ends instead
    // of skipping what has not arrived yet.
    m_incomingPositionFrames.store(incomingStart + quint64(incomingFilling ? inCopied : n), kRelaxed);
    const quint64 end = startFrame + quint64(n);
    m_positionFrames.store(end, kRelaxed);
    m_positionMs.store(framesToMs(end), kRelaxed);
    m_declickFramesLeft = ramp > 0 ? (n >= ramp ? 0 : ramp - n) : 0;

    if (m_crossfadeProgress >= m_crossfadeLength)
        finishCrossfade();
}

void PlaybackRenderer::finishCrossfade()
{
    if (m_incoming.cue) {
        // The incoming cue simply plays on as the current one.
        if (!m_sameFile)
            m_current.buffer = m_incoming.buffer;
        m_current.cue = m_incoming.cue;
        m_current.passesLeft = m_incoming.passesLeft;
        const PcmBuffer* buffer = m_current.buffer;
        const bool ended = buffer && !buffer->isFilling();
        const quint64 frames = buffer ? quint64(buffer->frames()) : 0;
        m_durationFromData = ended;
        m_current.durationMs = (ended && frames > 0) ? framesToMs(frames) : m_incoming.durationMs;
        m_durationMs.store(m_current.durationMs, kRelaxed);
        const quint64 position = m_incomingPositionFrames.load(kRelaxed);
        setPosition(position, framesToMs(position));
        m_endReported = false;
        m_lastHandover = Handover::ToIncoming;
    } else {
        // A fade to silence: the cue has ended.
        m_playing.store(false, kRelaxed);
        m_current.buffer = nullptr;
        setPosition(0, 0);
        m_endReported = false;
        reportEnd();
        m_lastHandover = Handover::ToSilence;
    }
    clearCrossfade();
    m_gainHeld.store(false, kRelaxed);
    m_gainHeard = false;
    m_handovers.fetch_add(1, std::memory_order_release);
}
