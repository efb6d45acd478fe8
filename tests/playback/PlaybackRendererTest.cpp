#include "model/Cue.h"
#include "playback/CrossfadeCurve.h"
#include "playback/CrossfadePlan.h"
#include "playback/CueSnapshot.h"
#include "audiofile/PcmBuffer.h"
#include "playback/PlaybackRenderer.h"

#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kRate = PlaybackRenderer::kSampleRate;
constexpr float kLeft = 0.5f;
constexpr float kRight = -0.25f;

quint64 msToFrame(qint64 ms)
{
    return quint64(double(kRate) * double(ms) / 1000.0);
}

// A constant signal, distinct on each channel, so every output sample shows
// the gain applied to it.
std::shared_ptr<PcmBuffer> constantBuffer(qint64 frames, bool complete = true, float left = kLeft,
                                          float right = kRight)
{
    auto buffer = std::make_shared<PcmBuffer>(frames);
    std::vector<float> samples(size_t(frames) * 2);
    for (qint64 i = 0; i < frames; ++i) {
        samples[size_t(i) * 2] = left;
        samples[size_t(i) * 2 + 1] = right;
    }
    buffer->append(samples.data(), frames);
    if (complete)
        buffer->finish(PcmBuffer::State::Complete);
    return buffer;
}

struct Output {
    std::vector<float> samples;
    float left(qint64 frame) const { return samples[size_t(frame) * 2]; }
    float right(qint64 frame) const { return samples[size_t(frame) * 2 + 1]; }
    bool silent() const
    {
        for (float s : samples)
            if (s != 0.0f)
                return false;
        return true;
    }
};

// Renders frames in device-sized blocks, as the callback is called.
Output render(PlaybackRenderer& renderer, qint64 frames, qint64 block = 512)
{
    Output out;
    out.samples.assign(size_t(frames) * 2, 1234.0f);
    for (qint64 done = 0; done < frames; done += block)
        renderer.render(out.samples.data() + done * 2, std::min(block, frames - done));
    return out;
}

// Renders from ms - 150 (past the de-click ramp of the jump) to just after
// ms and returns the output frame that lies at ms.
std::pair<float, float> sampleAt(PlaybackRenderer& renderer, qint64 ms)
{
    const qint64 from = ms - 150;
    renderer.seek(msToFrame(from), from);
    const qint64 offset = qint64(msToFrame(ms) - msToFrame(from));
    const Output out = render(renderer, offset + 1);
    return {out.left(offset), out.right(offset)};
}

// A linear mix into incoming over lengthFrames, the outgoing cue's data
// ending 10 s in.
PlaybackRenderer::CrossfadeSetup linearMixInto(PcmBuffer* incoming, const CueSnapshot* incomingCue,
                                               quint64 lengthFrames)
{
    PlaybackRenderer::CrossfadeSetup setup;
    setup.incoming = incoming;
    setup.incomingCue = incomingCue;
    setup.incomingDurationMs = incomingCue->durationMs;
    setup.lengthFrames = lengthFrames;
    setup.outgoingEndFrame = quint64(10 * kRate);
    setup.curve = int(CrossfadeCurve::Linear);
    return setup;
}

}  // namespace

class PlaybackRendererTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void staysSilentUntilEnoughIsDecoded_data();
    void staysSilentUntilEnoughIsDecoded();
    void rampsInAfterStartsAndJumps_data();
    void rampsInAfterStartsAndJumps();
    void fadesOverTheLoopRegion_data();
    void fadesOverTheLoopRegion();
    void appliesEnvelopesPanAndVolume_data();
    void appliesEnvelopesPanAndVolume();
    void reportsTheEndExactlyOnce_data();
    void reportsTheEndExactlyOnce();
    void seekBeyondTheDecodedPartWaits();
    void staysSilentWhileTheOutputIsLost();
    void heldGainKeepsTheOutgoingLevel();
    void crossfadeCurves_data();
    void crossfadeCurves();
    void crossfadeMixesAndHandsOver();
    void crossfadeToSilenceEndsOnce();
    void crossfadeWithinOneFileReadsOneBuffer();
    void crossfadeGoesOnWhenTheOutgoingCueIsGone();
    void outgoingCueIsSilentPastItsEnd();
    void incomingCueWaitsForItsData();
    void snapshotEnvelopesMatchTheCue();
};

void PlaybackRendererTest::staysSilentUntilEnoughIsDecoded_data()
{
    QTest::addColumn<qint64>("decoded");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<bool>("sound");
    QTest::newRow("2204 frames, decoding") << qint64(2204) << false << false;
    QTest::newRow("2205 frames, decoding") << qint64(2205) << false << true;
    QTest::newRow("100 frames, complete") << qint64(100) << true << true;
}

void PlaybackRendererTest::staysSilentUntilEnoughIsDecoded()
{
    QFETCH(qint64, decoded);
    QFETCH(bool, complete);
    QFETCH(bool, sound);
    auto buffer = constantBuffer(decoded, complete);
    CueSnapshot cue;
    cue.durationMs = 1000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();

    const Output out = render(renderer, 64);
    QCOMPARE(!out.silent(), sound);
    QCOMPARE(renderer.positionFrames(), sound ? quint64(64) : quint64(0));
    QCOMPARE(renderer.endReports(), quint64(0));
}

void PlaybackRendererTest::rampsInAfterStartsAndJumps_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("start") << "start";
    QTest::newRow("resume after pause") << "resume";
    QTest::newRow("seek inside the decoded part") << "seek";
}

void PlaybackRendererTest::rampsInAfterStartsAndJumps()
{
    QFETCH(QString, action);
    // Left rises along the file so that a jump is a discontinuity.
    const qint64 frames = 5 * kRate;
    auto buffer = std::make_shared<PcmBuffer>(frames);
    std::vector<float> samples(size_t(frames) * 2);
    for (qint64 i = 0; i < frames; ++i) {
        samples[size_t(i) * 2] = float(i) / float(frames);
        samples[size_t(i) * 2 + 1] = kRight;
    }
    buffer->append(samples.data(), frames);
    buffer->finish(PcmBuffer::State::Complete);
    CueSnapshot cue;
    cue.durationMs = 5000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();

    float rampFrom = 0.0f;
    quint64 jumpTo = 0;
    if (action != "start") {
        const Output before = render(renderer, 10000);
        rampFrom = before.left(9999);
        if (action == "resume") {
            renderer.pause();
            QVERIFY(render(renderer, 512).silent());
            rampFrom = 0.0f;  // silence was the last thing heard
            renderer.play();
            jumpTo = 10000;
        } else {
            jumpTo = msToFrame(3000);
            renderer.seek(jumpTo, 3000);
        }
    }

    // The whole ramp blends from what was heard before the start or jump,
    // across the device's blocks: frames 512 and 513 are as smooth as 300.
    const Output out = render(renderer, 6000);
    for (qint64 i : {qint64(0), qint64(1), qint64(300), qint64(511), qint64(512), qint64(513), qint64(2205),
                     qint64(4409), qint64(4410), qint64(5000)}) {
        const float from = rampFrom;
        const float source = samples[size_t(jumpTo + quint64(i)) * 2];
        const float a = i < 4410 ? float(i) / 4410.0f : 1.0f;
        QVERIFY2(std::fabs(out.left(i) - (a * source + (1.0f - a) * from)) < 1e-6f,
                 qPrintable(QString("frame %1: %2").arg(i).arg(out.left(i))));
    }
    QCOMPARE(renderer.positionFrames(), jumpTo + 6000);
}

void PlaybackRendererTest::fadesOverTheLoopRegion_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("fadeEnabled");
    QTest::addColumn<qint64>("fadeIn");
    QTest::addColumn<qint64>("fadeOut");
    QTest::addColumn<qint64>("atMs");
    QTest::addColumn<double>("gain");

    // A 10 s region (2..12 s) of a 15 s file.
    QTest::newRow("fade-out half 1 s before the end") << qint64(2000) << qint64(12000) << true << qint64(0)
                                                       << qint64(2000) << qint64(11000) << 0.5;
    QTest::newRow("fade-out silent at the end") << qint64(2000) << qint64(12000) << true << qint64(0) << qint64(2000)
                                                << qint64(12000) << 0.0;
    QTest::newRow("fade-out not yet begun") << qint64(2000) << qint64(12000) << true << qint64(0) << qint64(2000)
                                            << qint64(9000) << 1.0;
    QTest::newRow("fade-in halfway") << qint64(2000) << qint64(12000) << true << qint64(1000) << qint64(0)
                                     << qint64(2500) << 0.5;
    QTest::newRow("overlapping fades multiply") << qint64(2000) << qint64(12000) << true << qint64(8000)
                                                << qint64(4000) << qint64(9000) << (7.0 / 8.0) * (3.0 / 4.0);
    QTest::newRow("fade of 10 ms is ignored") << qint64(2000) << qint64(12000) << true << qint64(10) << qint64(10)
                                              << qint64(2005) << 1.0;
    QTest::newRow("fades off") << qint64(2000) << qint64(12000) << false << qint64(1000) << qint64(2000)
                               << qint64(11000) << 1.0;
    QTest::newRow("no region: whole file") << qint64(0) << qint64(0) << true << qint64(0) << qint64(2000)
                                           << qint64(14000) << 0.5;
    QTest::newRow("loop end past the data: the data's end") << qint64(0) << qint64(20000) << true << qint64(0)
                                                            << qint64(2000) << qint64(14000) << 0.5;
}

void PlaybackRendererTest::fadesOverTheLoopRegion()
{
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, fadeEnabled);
    QFETCH(qint64, fadeIn);
    QFETCH(qint64, fadeOut);
    QFETCH(qint64, atMs);
    QFETCH(double, gain);

    auto buffer = constantBuffer(15 * kRate);
    CueSnapshot cue;
    cue.durationMs = 15000;
    cue.loopStartMs = loopStart;
    cue.loopEndMs = loopEnd;
    cue.fadeEnabled = fadeEnabled;
    cue.fadeInMs = fadeIn;
    cue.fadeOutMs = fadeOut;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();

    const auto [left, right] = sampleAt(renderer, atMs);
    QVERIFY2(std::fabs(left - kLeft * gain) < 1e-5, qPrintable(QString::number(left)));
    QVERIFY2(std::fabs(right - kRight * gain) < 1e-5, qPrintable(QString::number(right)));
}

void PlaybackRendererTest::appliesEnvelopesPanAndVolume_data()
{
    QTest::addColumn<bool>("volumeEnvelope");
    QTest::addColumn<double>("pan");
    QTest::addColumn<float>("volume");
    QTest::addColumn<double>("leftGain");
    QTest::addColumn<double>("rightGain");

    // The volume envelope runs 1.0 -> 0.0 over 0..10 s and is read at 5 s.
    QTest::newRow("volume envelope halfway") << true << 0.0 << 1.0f << 0.5 << 0.5;
    QTest::newRow("output volume") << false << 0.0 << 0.8f << 0.8 << 0.8;
    QTest::newRow("pan -1 silences the right") << false << -1.0 << 1.0f << 1.0 << 0.0;
    QTest::newRow("pan +0.5 halves the left") << false << 0.5 << 1.0f << 0.5 << 1.0;
    QTest::newRow("pan +1 silences the left") << false << 1.0 << 1.0f << 0.0 << 1.0;
    QTest::newRow("all together") << true << -0.5 << 0.8f << 0.4 << 0.2;
}

void PlaybackRendererTest::appliesEnvelopesPanAndVolume()
{
    QFETCH(bool, volumeEnvelope);
    QFETCH(double, pan);
    QFETCH(float, volume);
    QFETCH(double, leftGain);
    QFETCH(double, rightGain);

    auto buffer = constantBuffer(10 * kRate);
    CueSnapshot cue;
    cue.durationMs = 10000;
    cue.volume = EnvelopeCurve(EnvelopeCurve::Kind::Gain, volumeEnvelope, {0, 10000}, {1.0, 0.0});
    cue.pan = EnvelopeCurve(EnvelopeCurve::Kind::Pan, pan != 0.0, {0, 10000}, {pan, pan});
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.setVolume(volume);
    renderer.play();

    const auto [left, right] = sampleAt(renderer, 5000);
    QVERIFY2(std::fabs(left - kLeft * leftGain) < 1e-5, qPrintable(QString::number(left)));
    QVERIFY2(std::fabs(right - kRight * rightGain) < 1e-5, qPrintable(QString::number(right)));
}

void PlaybackRendererTest::reportsTheEndExactlyOnce_data()
{
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<int>("state");
    QTest::newRow("complete data") << qint64(3000) << int(PcmBuffer::State::Complete);
    QTest::newRow("file decoded to nothing") << qint64(0) << int(PcmBuffer::State::Complete);
    QTest::newRow("file could not be opened") << qint64(0) << int(PcmBuffer::State::Failed);
    QTest::newRow("read error after some data") << qint64(3000) << int(PcmBuffer::State::Failed);
}

void PlaybackRendererTest::reportsTheEndExactlyOnce()
{
    QFETCH(qint64, frames);
    QFETCH(int, state);
    auto buffer = constantBuffer(frames, false);
    buffer->finish(PcmBuffer::State(state));
    CueSnapshot cue;
    cue.durationMs = 1000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();

    render(renderer, 10 * 512);
    QCOMPARE(renderer.endReports(), quint64(1));
    QCOMPARE(renderer.positionFrames(), quint64(frames));
    QVERIFY(render(renderer, 512).silent());
    QCOMPARE(renderer.endReports(), quint64(1));

    // A jump makes the next end news again.
    renderer.seek(0, 0);
    render(renderer, 10 * 512);
    QCOMPARE(renderer.endReports(), quint64(2));
}

void PlaybackRendererTest::seekBeyondTheDecodedPartWaits()
{
    auto buffer = constantBuffer(10000, false);
    CueSnapshot cue;
    cue.durationMs = 10000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();
    render(renderer, 1024);

    renderer.seek(30000, 680);
    QVERIFY(render(renderer, 1024).silent());
    QCOMPARE(renderer.positionFrames(), quint64(1024));
    QCOMPARE(renderer.positionMs(), qint64(680));

    std::vector<float> more(size_t(30000) * 2, 0.5f);
    buffer->append(more.data(), 30000);
    QVERIFY(!render(renderer, 1024).silent());
    QCOMPARE(renderer.positionFrames(), quint64(31024));
    QCOMPARE(renderer.endReports(), quint64(0));
}

void PlaybackRendererTest::staysSilentWhileTheOutputIsLost()
{
    auto buffer = constantBuffer(kRate);
    CueSnapshot cue;
    cue.durationMs = 1000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();
    render(renderer, 512);

    renderer.setOutputLost(true);
    QVERIFY(render(renderer, 2048).silent());
    QCOMPARE(renderer.positionFrames(), quint64(512));
    QVERIFY(renderer.isPlaying());
}

void PlaybackRendererTest::heldGainKeepsTheOutgoingLevel()
{
    auto buffer = constantBuffer(kRate);
    CueSnapshot cue;
    cue.durationMs = 1000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.setVolume(0.8f);
    renderer.play();
    render(renderer, 5000);

    renderer.holdOutgoingGain(0.8f);
    renderer.setVolume(0.2f);  // meant for the cue that is still decoding
    Output out = render(renderer, 512);
    QVERIFY(std::fabs(out.left(100) - kLeft * 0.8f) < 1e-6f);

    renderer.releaseOutgoingGain();
    out = render(renderer, 512);
    QVERIFY(std::fabs(out.left(100) - kLeft * 0.2f) < 1e-6f);
}

void PlaybackRendererTest::crossfadeCurves_data()
{
    QTest::addColumn<int>("curve");
    QTest::addColumn<float>("t");
    QTest::addColumn<float>("in");
    QTest::addColumn<float>("out");
    const int equalPower = int(CrossfadeCurve::EqualPower);
    const int linear = int(CrossfadeCurve::Linear);
    const int smooth = int(CrossfadeCurve::SmoothStep);
    QTest::newRow("EqualPower 0") << equalPower << 0.0f << 0.0f << 1.0f;
    QTest::newRow("EqualPower 0.5") << equalPower << 0.5f << 0.70710678f << 0.70710678f;
    QTest::newRow("EqualPower 1") << equalPower << 1.0f << 1.0f << 0.0f;
    QTest::newRow("Linear 0.25") << linear << 0.25f << 0.25f << 0.75f;
    QTest::newRow("Linear 0.5") << linear << 0.5f << 0.5f << 0.5f;
    QTest::newRow("SmoothStep 0.25") << smooth << 0.25f << 0.15625f << 0.84375f;
    QTest::newRow("SmoothStep 0.5") << smooth << 0.5f << 0.5f << 0.5f;
    QTest::newRow("SmoothStep 1") << smooth << 1.0f << 1.0f << 0.0f;
    QTest::newRow("unknown value mixes as EqualPower") << 7 << 0.5f << 0.70710678f << 0.70710678f;
}

void PlaybackRendererTest::crossfadeCurves()
{
    QFETCH(int, curve);
    QFETCH(float, t);
    QFETCH(float, in);
    QFETCH(float, out);
    const CrossfadeGains gains = crossfadeGains(curve, t);
    QVERIFY(std::fabs(gains.in - in) < 1e-6f);
    QVERIFY(std::fabs(gains.out - out) < 1e-6f);
}

void PlaybackRendererTest::crossfadeMixesAndHandsOver()
{
    auto outgoing = constantBuffer(10 * kRate, true, 1.0f, 1.0f);
    auto incoming = constantBuffer(10 * kRate, true, 0.5f, -0.5f);
    CueSnapshot outgoingCue;
    outgoingCue.durationMs = 10000;
    CueSnapshot incomingCue;
    incomingCue.durationMs = 10000;
    PlaybackRenderer renderer;
    renderer.load(outgoing.get(), &outgoingCue, outgoingCue.durationMs);
    renderer.play();
    render(renderer, 5000);

    PlaybackRenderer::CrossfadeSetup setup = linearMixInto(incoming.get(), &incomingCue, 2000);
    setup.incomingStartFrame = 1000;
    setup.outgoingGain = 0.8f;
    renderer.beginCrossfade(setup);
    renderer.setVolume(0.6f);  // the incoming cue's gain
    QVERIFY(renderer.isCrossfading());

    const Output out = render(renderer, 2000);
    for (qint64 i : {qint64(0), qint64(500), qint64(1000), qint64(1999)}) {
        const float t = float(i) / 2000.0f;
        const float left = (1.0f - t) * 0.8f * 1.0f + t * 0.6f * 0.5f;
        const float right = (1.0f - t) * 0.8f * 1.0f + t * 0.6f * -0.5f;
        QVERIFY2(std::fabs(out.left(i) - left) < 1e-5f, qPrintable(QString("frame %1").arg(i)));
        QVERIFY2(std::fabs(out.right(i) - right) < 1e-5f, qPrintable(QString("frame %1").arg(i)));
    }
    QVERIFY(!renderer.isCrossfading());
    QCOMPARE(renderer.handovers(), quint64(1));
    QCOMPARE(renderer.lastHandover(), PlaybackRenderer::Handover::ToIncoming);
    QCOMPARE(renderer.currentBuffer(), incoming.get());
    QCOMPARE(renderer.positionFrames(), quint64(3000));
    QCOMPARE(renderer.durationMs(), qint64(10000));

    // The incoming cue plays on at its own gain, without a ramp.
    const Output after = render(renderer, 512);
    QVERIFY(std::fabs(after.left(0) - 0.6f * 0.5f) < 1e-6f);
    QCOMPARE(renderer.positionFrames(), quint64(3512));
    QCOMPARE(renderer.endReports(), quint64(0));
}

void PlaybackRendererTest::crossfadeToSilenceEndsOnce()
{
    auto outgoing = constantBuffer(10 * kRate);
    CueSnapshot cue;
    cue.durationMs = 10000;
    PlaybackRenderer renderer;
    renderer.load(outgoing.get(), &cue, cue.durationMs);
    renderer.play();
    render(renderer, 5000);

    PlaybackRenderer::CrossfadeSetup setup;
    setup.lengthFrames = 4410;
    setup.outgoingEndFrame = quint64(10 * kRate);
    setup.curve = int(CrossfadeCurve::EqualPower);
    setup.outgoingGain = 1.0f;
    renderer.beginCrossfade(setup);
    const Output out = render(renderer, 4608);
    QVERIFY(std::fabs(out.left(2205) - kLeft * 0.70710678f) < 1e-5f);
    QVERIFY(!renderer.isPlaying());
    QCOMPARE(renderer.lastHandover(), PlaybackRenderer::Handover::ToSilence);
    QCOMPARE(renderer.endReports(), quint64(1));
    QCOMPARE(renderer.positionFrames(), quint64(0));
    QVERIFY(render(renderer, 4096).silent());
    QCOMPARE(renderer.endReports(), quint64(1));
}

void PlaybackRendererTest::crossfadeWithinOneFileReadsOneBuffer()
{
    // A cue crossfading into its own loop start.
    const qint64 frames = 4 * kRate;
    auto buffer = std::make_shared<PcmBuffer>(frames);
    std::vector<float> samples(size_t(frames) * 2);
    for (qint64 i = 0; i < frames; ++i)
        samples[size_t(i) * 2] = samples[size_t(i) * 2 + 1] = float(i) / float(frames);
    buffer->append(samples.data(), frames);
    buffer->finish(PcmBuffer::State::Complete);
    CueSnapshot cue;
    cue.durationMs = 4000;
    PlaybackRenderer renderer;
    renderer.load(buffer.get(), &cue, cue.durationMs);
    renderer.play();
    renderer.seek(msToFrame(3000), 3000);
    render(renderer, 5000);

    PlaybackRenderer::CrossfadeSetup setup;
    setup.sameFile = true;
    setup.incomingCue = &cue;
    setup.incomingDurationMs = 4000;
    setup.incomingStartFrame = 0;
    setup.lengthFrames = 1000;
    setup.outgoingEndFrame = quint64(frames);
    setup.curve = int(CrossfadeCurve::Linear);
    renderer.beginCrossfade(setup);
    const quint64 outgoingStart = renderer.positionFrames();
    const Output out = render(renderer, 1000);
    const float t = 0.5f;
    const float expected = (1.0f - t) * samples[size_t(outgoingStart + 500) * 2] + t * samples[500 * 2];
    QVERIFY(std::fabs(out.left(500) - expected) < 1e-5f);
    QCOMPARE(renderer.currentBuffer(), buffer.get());
    QCOMPARE(renderer.positionFrames(), quint64(1000));
}

void PlaybackRendererTest::crossfadeGoesOnWhenTheOutgoingCueIsGone()
{
    auto outgoing = constantBuffer(10 * kRate, true, 1.0f, 1.0f);
    auto incoming = constantBuffer(10 * kRate, true, 0.5f, -0.5f);
    CueSnapshot outgoingCue;
    outgoingCue.durationMs = 10000;
    CueSnapshot incomingCue;
    incomingCue.durationMs = 10000;
    PlaybackRenderer renderer;
    renderer.load(outgoing.get(), &outgoingCue, outgoingCue.durationMs);
    renderer.play();
    render(renderer, 5000);

    const PlaybackRenderer::CrossfadeSetup setup = linearMixInto(incoming.get(), &incomingCue, 4096);
    renderer.beginCrossfade(setup);
    render(renderer, 1024);
    renderer.setCurrentCue(nullptr);  // the outgoing cue was deleted

    // The rest of the mix is the incoming cue alone, fading in; then it plays on.
    const Output out = render(renderer, 3072);
    const float t = 2048.0f / 4096.0f;
    QVERIFY2(std::fabs(out.left(1024) - t * 0.5f) < 1e-5f, qPrintable(QString::number(out.left(1024))));
    QVERIFY(!renderer.isCrossfading());
    QCOMPARE(renderer.lastHandover(), PlaybackRenderer::Handover::ToIncoming);
    QCOMPARE(renderer.currentCue(), &incomingCue);
    const Output after = render(renderer, 512);
    QVERIFY(std::fabs(after.left(0) - 0.5f) < 1e-6f);
    QCOMPARE(renderer.positionFrames(), quint64(4096 + 512));
}

void PlaybackRendererTest::outgoingCueIsSilentPastItsEnd()
{
    // A fade that starts where the outgoing data has ended (a read error cut
    // it short) must not jump back and play its last part again.
    const qint64 frames = 2 * kRate;
    auto outgoing = constantBuffer(frames);
    CueSnapshot cue;
    cue.durationMs = 2000;
    PlaybackRenderer renderer;
    renderer.load(outgoing.get(), &cue, cue.durationMs);
    renderer.play();
    render(renderer, frames + 1024);
    QCOMPARE(renderer.positionFrames(), quint64(frames));

    CrossfadeRequest request;
    request.wantedMs = 500;
    request.currentDurationMs = 2000;
    request.outgoingRegionEndMs = 2000;
    request.positionFrames = renderer.positionFrames();
    const CrossfadePlan plan = CrossfadePlan::make(request);
    PlaybackRenderer::CrossfadeSetup setup;  // into silence: only the outgoing cue could be heard
    setup.lengthFrames = plan.lengthFrames;
    setup.outgoingEndFrame = plan.outgoingEndFrames;
    renderer.beginCrossfade(setup);
    quint64 last = renderer.positionFrames();
    for (int block = 0; block < 100 && renderer.isCrossfading(); ++block) {
        QVERIFY(render(renderer, 512).silent());
        QVERIFY(renderer.positionFrames() >= last || !renderer.isPlaying());
        last = renderer.positionFrames();
    }
    QVERIFY(!renderer.isCrossfading());
}

void PlaybackRendererTest::incomingCueWaitsForItsData()
{
    // The next cue is still being decoded when the mix starts: it comes in
    // from where its data begins, nothing of it skipped.
    auto outgoing = constantBuffer(10 * kRate, true, 1.0f, 1.0f);
    auto incoming = std::make_shared<PcmBuffer>(kRate);
    CueSnapshot outgoingCue;
    outgoingCue.durationMs = 10000;
    CueSnapshot incomingCue;
    PlaybackRenderer renderer;
    renderer.load(outgoing.get(), &outgoingCue, outgoingCue.durationMs);
    renderer.play();
    render(renderer, 1024);

    const PlaybackRenderer::CrossfadeSetup setup = linearMixInto(incoming.get(), &incomingCue, 8192);
    renderer.beginCrossfade(setup);
    render(renderer, 2048);
    QCOMPARE(renderer.incomingPositionFrames(), quint64(0));

    std::vector<float> samples(1000 * 2, 0.25f);
    incoming->append(samples.data(), 1000);
    render(renderer, 512);
    QCOMPARE(renderer.incomingPositionFrames(), quint64(512));
    render(renderer, 1024);
    QCOMPARE(renderer.incomingPositionFrames(), quint64(1000));
    incoming->finish(PcmBuffer::State::Complete);
    render(renderer, 512);
    QCOMPARE(renderer.incomingPositionFrames(), quint64(1512));  // complete: silence past its end
}

void PlaybackRendererTest::snapshotEnvelopesMatchTheCue()
{
    // Stored points may be unsorted, repeated or out of range; the snapshot
    // the callback reads must answer exactly like the cue.
    Cue cue;
    cue.assignStoredEnvelopes({0, 1000, 500, 3000, 3000, 4000}, {0.2, 1.2, 0.6, 0.4, 0.9, -0.3});
    cue.assignStoredPanEnvelope({0, 1000, 500, 3000, 3000, 4000}, {-1.5, 0.5, 0.0, 1.0, -0.2, 0.7});
    cue.setEnvelopeEnabled(true);
    cue.setPanEnvelopeEnabled(true);
    std::shared_ptr<const CueSnapshot> snapshot = CueSnapshot::fromCue(cue);
    for (qint64 ms = -100; ms <= 4200; ms += 25) {
        QCOMPARE(snapshot->volume.valueAt(ms), cue.volumeAt(ms));
        QCOMPARE(snapshot->pan.valueAt(ms), cue.panAt(ms));
    }

    cue.setEnvelopeEnabled(false);
    cue.setPanEnvelopeEnabled(false);
    snapshot = CueSnapshot::fromCue(cue);
    QCOMPARE(snapshot->volume.valueAt(700), 1.0);
    QCOMPARE(snapshot->pan.valueAt(700), 0.0);
}

QTEST_GUILESS_MAIN(PlaybackRendererTest)
#include "PlaybackRendererTest.moc"
