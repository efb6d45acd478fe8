// Cost of rendering one 512-frame device block with the heaviest work the
// callback does: both cues' volume and pan envelopes and fades, and an
// EqualPower crossfade between them. Compared with the least a callback must
// do, copying the block out of the decoded data, measured in the same run.
#include "playback/CrossfadeCurve.h"
#include "playback/CueSnapshot.h"
#include "audiofile/PcmBuffer.h"
#include "playback/PlaybackRenderer.h"

#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr int kRate = 44100;
constexpr int kSeconds = 70;

std::shared_ptr<PcmBuffer> noise(quint32 seed)
{
    QRandomGenerator rng(seed);
    const qint64 frames = qint64(kSeconds) * kRate;
    std::vector<float> samples(size_t(frames) * 2);
    for (float& s : samples)
        s = float(rng.generateDouble() * 0.6 - 0.3);
    return PcmBuffer::fromInterleaved(samples.data(), frames);
}

CueSnapshot busyCue()
{
    CueSnapshot cue;
    cue.durationMs = kSeconds * 1000;
    cue.loopStartMs = 1000;
    cue.loopEndMs = (kSeconds - 1) * 1000;
    cue.fadeEnabled = true;
    cue.fadeInMs = 3000;
    cue.fadeOutMs = 5000;
    QList<qint64> times;
    QList<double> gains;
    QList<double> pans;
    for (int i = 0; i < 24; ++i) {
        times << qint64(i) * 3000;
        gains << (i % 2 ? 0.4 : 0.9);
        pans << (i % 3 - 1) * 0.7;
    }
    cue.volume = EnvelopeCurve(EnvelopeCurve::Kind::Gain, true, times, gains);
    cue.pan = EnvelopeCurve(EnvelopeCurve::Kind::Pan, true, times, pans);
    return cue;
}

struct Figures {
    double meanUs;
    double p99Us;
    double maxUs;
};

template <typename Render>
Figures timeBlocks(Render&& render, int blocks, int rounds)
{
    std::vector<double> timesUs;
    for (int round = 0; round < rounds; ++round) {
        for (int b = 0; b < blocks; ++b) {
            const auto start = std::chrono::steady_clock::now();
            render(b);
            const auto end = std::chrono::steady_clock::now();
            if (round > 0)  // the first round warms caches up
                timesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
    }
    std::sort(timesUs.begin(), timesUs.end());
    double sum = 0.0;
    for (double t : timesUs)
        sum += t;
    return {sum / double(timesUs.size()), timesUs[size_t(double(timesUs.size()) * 0.99)], timesUs.back()};
}

// Only the copy of each block out of the decoded data.
Figures measureCopy()
{
    auto data = noise(1);
    std::vector<float> block(kBlock * 2);
    const int blocks = (kSeconds - 5) * kRate / kBlock;
    return timeBlocks([&](int b) { data->copyFrames(qint64(b) * kBlock, kBlock, block.data()); }, blocks, 4);
}

Figures measure(bool crossfade)
{
    auto outgoing = noise(1);
    auto incoming = noise(2);
    const CueSnapshot outgoingCue = busyCue();
    const CueSnapshot incomingCue = busyCue();
    PlaybackRenderer renderer;
    std::vector<float> block(kBlock * 2);
    std::vector<double> timesUs;
    const int blocksPerRound = (kSeconds - 5) * kRate / kBlock;

    for (int round = 0; round < 4; ++round) {
        renderer.load(outgoing.get(), &outgoingCue, outgoingCue.durationMs);
        renderer.setVolume(0.7f);
        renderer.play();
        if (crossfade) {
            PlaybackRenderer::CrossfadeSetup setup;
            setup.incoming = incoming.get();
            setup.incomingCue = &incomingCue;
            setup.incomingDurationMs = incomingCue.durationMs;
            setup.lengthFrames = quint64(kSeconds) * kRate;  // mixes for the whole round
            setup.outgoingEndFrame = quint64(kSeconds) * kRate;
            setup.curve = int(CrossfadeCurve::EqualPower);
            setup.outgoingGain = 0.9f;
            renderer.beginCrossfade(setup);
        }
        for (int b = 0; b < blocksPerRound; ++b) {
            const auto start = std::chrono::steady_clock::now();
            renderer.render(block.data(), kBlock);
            const auto end = std::chrono::steady_clock::now();
            if (round > 0)  // the first round warms caches up
                timesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
    }
    std::sort(timesUs.begin(), timesUs.end());
    double sum = 0.0;
    for (double t : timesUs)
        sum += t;
    return {sum / double(timesUs.size()), timesUs[size_t(double(timesUs.size()) * 0.99)], timesUs.back()};
}

}  // namespace

int main()
{
    const double blockUs = 1e6 * kBlock / kRate;
    std::printf("Callback cost per %d-frame block (block = %.1f us of audio)\n", kBlock, blockUs);
    const Figures copy = measureCopy();
    std::printf("  %-46s mean %6.2f us (%.3f %%)  p99 %6.2f us (%.3f %%)  max %6.2f us\n", "baseline, copying the block:",
                copy.meanUs, 100.0 * copy.meanUs / blockUs, copy.p99Us, 100.0 * copy.p99Us / blockUs, copy.maxUs);
    double worst = 0.0;
    double worstBlock = 0.0;
    for (bool crossfade : {false, true}) {
        const Figures f = measure(crossfade);
        std::printf("  %-46s mean %6.2f us (%.3f %%)  p99 %6.2f us (%.3f %%)  max %6.2f us\n",
                    crossfade ? "envelopes, pan, fades + EqualPower crossfade:" : "envelopes, pan, fades, one cue:",
                    f.meanUs, 100.0 * f.meanUs / blockUs, f.p99Us, 100.0 * f.p99Us / blockUs, f.maxUs);
        worst = std::max(worst, f.meanUs);
        worstBlock = std::max(worstBlock, f.maxUs);
    }
    std::printf("callback cost, crossfade with envelopes: %.3f %% of a core (target ≤ 1 %%; baseline copy %.3f %%)\n",
                100.0 * worst / blockUs, 100.0 * copy.meanUs / blockUs);
    // The block that took longest of all: what decides whether a period is
    // missed, whatever the mean.
    std::printf("callback worst block: %.2f us, %.2f %% of a period (target ≤ 25 %%; baseline copy's worst %.2f us)\n",
                worstBlock, 100.0 * worstBlock / blockUs, copy.maxUs);
    return 0;
}
