#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "audiofile/PcmBuffer.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/PlaybackEngine.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr qint64 kBlockFrames = 512;  // what the output device asks for at a time

qint64 msFrames(qint64 ms)
{
    return PcmBuffer::msToFrames(ms);
}

// What the output device was given, frame by frame.
struct DeviceOutput {
    std::vector<float> samples;
    qint64 frames() const { return qint64(samples.size() / 2); }
    float left(qint64 f) const { return samples[size_t(f) * 2]; }
    float right(qint64 f) const { return samples[size_t(f) * 2 + 1]; }
    bool silent(qint64 f) const { return left(f) == 0.0f && right(f) == 0.0f; }
};

// A cue whose left channel counts its frames ((frame + 1) / 2^21) and whose
// right channel holds a constant: their ratio is the frame heard, whatever
// gain the output applies.
constexpr double kRampScale = 2097152.0;
constexpr float kRampCode = 0.25f;

QVector<float> positionRamp(qint64 frames)
{
    QVector<float> samples(frames * 2);
    for (qint64 f = 0; f < frames; ++f) {
        samples[f * 2] = float(double(f + 1) / kRampScale);
        samples[f * 2 + 1] = kRampCode;
    }
    return samples;
}

// The frame of a ramp cue heard in output frame f (-1: silence).
qint64 rampFrame(const DeviceOutput& out, qint64 f)
{
    if (out.right(f) == 0.0f)
        return -1;
    return qint64(std::llround(double(out.left(f)) / double(out.right(f)) * double(kRampCode) * kRampScale)) - 1;
}

// A cue on one channel only: a constant on the left (or the right).
QVector<float> oneChannel(qint64 frames, bool left)
{
    QVector<float> samples(frames * 2, 0.0f);
    for (qint64 f = 0; f < frames; ++f)
        samples[f * 2 + (left ? 0 : 1)] = 0.5f;
    return samples;
}

}  // namespace

// What the audience hears at the turns of a show: the end of a cue handed
// over to the next (with the crossfade refused or shortened), the passes of a
// loop region, a fading pause. The real transport, play order and engine play
// through SDL's "disk" driver, which writes every block the device plays to
// a file; each cue's samples tell which cue and which frame of it is heard.
class HeardTimingEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_run = 0;

    QString writeCue(const QString& name, const QVector<float>& samples);
    // Runs a show on a fresh engine and returns what the device played.
    DeviceOutput play(const std::function<void(AudioEngine&, CueManager&)>& show);
    Cue* makeCue(CueManager& manager, const QString& path);
    // Plays the two files one after the other (list loop) with a 3 s
    // crossfade set, for waitMs.
    DeviceOutput playPairWithCrossfade(const QString& first, const QString& second, int waitMs);

private Q_SLOTS:
    void initTestCase();
    void refusedCrossfadePlaysTheCueToItsEnd_data();
    void refusedCrossfadePlaysTheCueToItsEnd();
    void shortenedCrossfadeEndsAtTheRegionEnd();
    void loopPassesEndAtTheLoopEnd();
    void fadingPauseResumesWhereTheSoundStopped();
};

void HeardTimingEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("SDL_AUDIODRIVER", "disk");  // before any SDL initialisation in this process
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("heard.db")));
}

QString HeardTimingEndToEndTest::writeCue(const QString& name, const QVector<float>& samples)
{
    const QString path = m_dir.filePath(name + ".wav");
    // Stored as float: decoding gives back exactly these samples.
    return TestAudio::writeWav(path, samples, kRate, 2, TestAudio::SampleFormat::Float32) ? path : QString();
}

Cue* HeardTimingEndToEndTest::makeCue(CueManager& manager, const QString& path)
{
    Cue* cue = manager.createCue(path);
    if (!cue)
        return nullptr;
    manager.resolveCueDuration(cue);
    cue->setVolumeA(100);  // with the main volume at 100: a gain of exactly 1
    cue->saveToDatabase(false);
    return cue;
}

DeviceOutput HeardTimingEndToEndTest::play(const std::function<void(AudioEngine&, CueManager&)>& show)
{
    const QString file = m_dir.filePath(QStringLiteral("device-output-%1.raw").arg(++m_run));
    // The disk driver opens the file named here whenever the device opens.
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(file));
    {
        AudioEngine transport(new PlaybackEngine());
        CueManager manager(&transport);
        manager.setMainVolume(100);
        transport.setCrossfadeCurve(1);  // linear: each cue is heard up to the last frame of a fade
        show(transport, manager);
        manager.stopPlaylist();
    }  // closing the device flushes the file
    DeviceOutput out;
    QFile output(file);
    if (!output.open(QIODevice::ReadOnly))
        return out;
    const QByteArray bytes = output.readAll();
    out.samples.resize(size_t(bytes.size()) / sizeof(float));
    std::memcpy(out.samples.data(), bytes.constData(), out.samples.size() * sizeof(float));
    return out;
}

DeviceOutput HeardTimingEndToEndTest::playPairWithCrossfade(const QString& first, const QString& second, int waitMs)
{
    return play([&](AudioEngine& transport, CueManager& manager) {
        Cue* a = makeCue(manager, first);
        Cue* b = makeCue(manager, second);
        QVERIFY(a && b);
        transport.setCrossfadeEnabled(true);
        transport.setCrossfadeDuration(3);
        manager.setPlayMode(CueManager::ListLoop);
        manager.setPlaylist({a, b});
        manager.playPlaylist();
        QTest::qWait(waitMs);
    });
}

void HeardTimingEndToEndTest::refusedCrossfadePlaysTheCueToItsEnd_data()
{
    QTest::addColumn<qint64>("firstMs");
    QTest::addColumn<qint64>("secondMs");
    // A 3 s crossfade needs 4 s cues: each pair is refused.
    QTest::newRow("the next cue is too short") << qint64(6000) << qint64(2500);
    QTest::newRow("the playing cue is too short") << qint64(3500) << qint64(6000);
}

void HeardTimingEndToEndTest::refusedCrossfadePlaysTheCueToItsEnd()
{
    QFETCH(qint64, firstMs);
    QFETCH(qint64, secondMs);
    const QString first = writeCue(QStringLiteral("first%1").arg(firstMs), oneChannel(msFrames(firstMs), true));
    const QString second = writeCue(QStringLiteral("second%1").arg(secondMs), oneChannel(msFrames(secondMs), false));
    QVERIFY(!first.isEmpty() && !second.isEmpty());

    const DeviceOutput out = playPairWithCrossfade(first, second, int(firstMs) + 1000);
    QVERIFY(!QTest::currentTestFailed());

    // The first cue is on the left, the next on the right.
    qint64 firstHeard = -1;
    qint64 secondHeard = -1;
    for (qint64 f = 0; f < out.frames() && secondHeard < 0; ++f) {
        if (firstHeard < 0 && out.left(f) != 0.0f)
            firstHeard = f;
        if (out.right(f) != 0.0f)
            secondHeard = f;
    }
    QVERIFY2(firstHeard >= 0 && secondHeard > firstHeard, "both cues are heard, one after the other");
    // Both start with a ramp from the sample before, whose first frame is
    // that sample: the distance between them is the first cue's length.
    const qint64 heardMs = (secondHeard - firstHeard) * 1000 / kRate;
    QVERIFY2(std::llabs(secondHeard - firstHeard - msFrames(firstMs)) <= 2,
             qPrintable(QString("the first cue is heard for %1 ms of %2 ms").arg(heardMs).arg(firstMs)));
    // ... at its full level to the end: not faded, not cut.
    for (qint64 f = firstHeard + PlaybackRenderer::kDeclickFrames; f < secondHeard - 1; ++f)
        QCOMPARE(out.left(f), 0.5f);
    // And the next cue follows without a gap.
    QVERIFY(!out.silent(secondHeard - 1));
}

void HeardTimingEndToEndTest::shortenedCrossfadeEndsAtTheRegionEnd()
{
    // A 4.5 s cue with a 3 s setting fades over half its length, 2.25 s:
    // from 2.25 s to its end at 4.5 s.
    const QString first = writeCue("short", oneChannel(msFrames(4500), true));
    const QString second = writeCue("long", oneChannel(msFrames(6000), false));
    QVERIFY(!first.isEmpty() && !second.isEmpty());

    const DeviceOutput out = playPairWithCrossfade(first, second, 5500);
    QVERIFY(!QTest::currentTestFailed());

    qint64 firstHeard = -1;
    qint64 firstLast = -1;
    qint64 secondHeard = -1;
    for (qint64 f = 0; f < out.frames(); ++f) {
        if (out.left(f) != 0.0f) {
            if (firstHeard < 0)
                firstHeard = f;
            firstLast = f;
        }
        if (secondHeard < 0 && out.right(f) != 0.0f)
            secondHeard = f;
    }
    QVERIFY2(firstHeard >= 0 && secondHeard >= 0, "both cues are heard");
    // Frame 0 of the first cue is output frame firstHeard - 1 (its ramp
    // starts at the silence before it).
    const qint64 origin = firstHeard - 1;
    const qint64 tailMs = (firstLast - origin + 1) * 1000 / kRate;
    QVERIFY2(std::llabs(firstLast - origin - (msFrames(4500) - 1)) <= 2,
             qPrintable(QString("the first cue is heard to %1 ms of 4500 ms").arg(tailMs)));
    // The incoming gain is 0 on the first frame of the mix.
    QVERIFY2(std::llabs(secondHeard - origin - (msFrames(2250) + 1)) <= 2,
             qPrintable(QString("the fade starts at %1 ms, not at 2250 ms")
                            .arg((secondHeard - origin) * 1000 / kRate)));
}

void HeardTimingEndToEndTest::loopPassesEndAtTheLoopEnd()
{
    const QString path = writeCue("loop", positionRamp(msFrames(5000)));
    QVERIFY(!path.isEmpty());
    const DeviceOutput out = play([&](AudioEngine&, CueManager& manager) {
        Cue* cue = makeCue(manager, path);
        QVERIFY(cue);
        cue->setLoopRange(1000, 3200, false);
        cue->setLoopCount(3);
        cue->saveToDatabase(false);
        manager.setPlayMode(CueManager::Custom);
        manager.setPlaylist({cue});
        manager.playPlaylist();
        QTest::qWait(3 * 2200 + 1000);
    });

    // The highest frame heard in each pass: a pass ends where the frames
    // heard stop rising (the jump back ramps down from the last one).
    QList<qint64> passEnds;
    qint64 previous = -1;
    bool rising = false;
    qint64 riseStart = -1;
    qint64 highest = -1;
    for (qint64 f = 0; f < out.frames(); ++f) {
        const qint64 frame = rampFrame(out, f);
        if (frame < 0)
            continue;
        highest = std::max(highest, frame);
        if (rising && frame < previous - 2) {
            // A pass climbs for far longer than the rounding within a ramp.
            if (previous - riseStart > PlaybackRenderer::kDeclickFrames)
                passEnds.append(previous);
            rising = false;
        } else if (!rising && previous >= 0 && frame > previous) {
            rising = true;
            riseStart = previous;
        }
        previous = frame;
    }
    if (rising && previous - riseStart > PlaybackRenderer::kDeclickFrames)
        passEnds.append(previous);

    QStringList heard;
    for (qint64 end : std::as_const(passEnds))
        heard << QString::number(double(end + 1) * 1000.0 / kRate, 'f', 2);
    const QString heardText = heard.join(", ") + " ms";
    QVERIFY2(passEnds.size() == 3, qPrintable("pass ends heard: " + heardText));
    for (qint64 end : std::as_const(passEnds))
        QVERIFY2(std::llabs(end - (msFrames(3200) - 1)) <= 1, qPrintable("pass ends heard: " + heardText));
    QCOMPARE(highest, msFrames(3200) - 1);
}

void HeardTimingEndToEndTest::fadingPauseResumesWhereTheSoundStopped()
{
    const QString path = writeCue("pause", positionRamp(msFrames(6000)));
    QVERIFY(!path.isEmpty());
    const DeviceOutput out = play([&](AudioEngine& transport, CueManager& manager) {
        Cue* cue = makeCue(manager, path);
        QVERIFY(cue);
        transport.setPauseFadeEnabled(true);
        transport.setPauseFadeDuration(1000);
        manager.setPlayMode(CueManager::Custom);
        manager.setPlaylist({cue});
        manager.playPlaylist();
        QTest::qWait(2000);
        manager.pausePlaylist();  // fades out over 1 s, then pauses
        QTRY_COMPARE_WITH_TIMEOUT(transport.getState(), AudioEngine::Paused, 5000);
        QTest::qWait(1000);
        manager.playPlaylist();  // resumes
        QTest::qWait(1000);
    });

    // The pause: the longest silent stretch after the sound has started.
    qint64 lastBefore = -1;
    qint64 firstAfter = -1;
    qint64 longest = 0;
    qint64 heard = -1;
    for (qint64 f = 0; f < out.frames();) {
        if (!out.silent(f)) {
            heard = f;
            ++f;
            continue;
        }
        qint64 end = f;
        while (end < out.frames() && out.silent(end))
            ++end;
        if (heard >= 0 && end < out.frames() && end - f > longest) {
            longest = end - f;
            lastBefore = heard;
            firstAfter = end;
        }
        f = end;
    }
    QVERIFY2(lastBefore >= 0 && longest > msFrames(500),
             qPrintable(QString("the cue paused and resumed: longest silence %1 frames of %2").arg(longest).arg(out.frames())));
    const qint64 before = rampFrame(out, lastBefore);
    const qint64 after = rampFrame(out, firstAfter);
    QVERIFY(before > msFrames(2000) && after > before);
    QVERIFY2(after - before <= kBlockFrames,
             qPrintable(QString("resumed at %1 ms after the last sound at %2 ms: %3 ms never heard")
                            .arg(double(after) * 1000.0 / kRate, 0, 'f', 1)
                            .arg(double(before) * 1000.0 / kRate, 0, 'f', 1)
                            .arg(double(after - before - 1) * 1000.0 / kRate, 0, 'f', 1)));
}

QTEST_GUILESS_MAIN(HeardTimingEndToEndTest)
#include "HeardTimingEndToEndTest.moc"
