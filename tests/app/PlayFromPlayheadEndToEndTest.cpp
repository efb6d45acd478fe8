#include "app/MainWindow.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "support/DiskOutputShow.h"
#include "support/TestAudio.h"
#include "waveform/WaveformWidget.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr qint64 kFrames = 4 * kRate;

}  // namespace

// Play pressed with the waveform's playhead inside a cue: the first audio the
// output device receives must come from the playhead, not from the loop
// start. SDL's "disk" driver writes every block the device plays to a file.
// The cue's left channel rises steadily through the file while its right
// channel stays constant, so the ratio of the two in any played frame tells
// where in the file that frame came from, whatever the gains.
class PlayFromPlayheadEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DiskOutputShow m_show;

private Q_SLOTS:
    void initTestCase();
    void firstAudioComesFromThePlayhead();
};

void PlayFromPlayheadEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_show.initialize(m_dir.path()));
    QVector<float> samples(kFrames * 2);
    for (qint64 f = 0; f < kFrames; ++f) {
        samples[f * 2] = float(0.5 * double(f + 1) / double(kFrames));
        samples[f * 2 + 1] = 0.5f;
    }
    const QString path = m_dir.filePath("ramp.wav");
    QVERIFY(TestAudio::writeWav(path, samples, kRate, 2, TestAudio::SampleFormat::Float32));
    QVERIFY(m_show.storeCue(QStringLiteral("ramp"), path, 4000, QStringLiteral("#4a5a6a")));
}

void PlayFromPlayheadEndToEndTest::firstAudioComesFromThePlayhead()
{
    std::unique_ptr<MainWindow> window;
    m_show.openWithCueSelected(window);
    if (QTest::currentTestFailed())
        return;
    auto* waveform = window->findChild<WaveformWidget*>(QStringLiteral("waveformWidget"));
    QTRY_COMPARE(waveform->cue() ? waveform->cue()->id() : -1, m_show.cueId());

    waveform->setPosition(2500);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    QTest::qWait(400);
    CueManager::instance()->stopPlaylist();
    window.reset();

    const std::vector<float> written = m_show.deviceOutput();
    qint64 first = -1;
    for (size_t i = 0; i + 1 < written.size(); i += 2) {
        if (written[i] != 0.0f && written[i + 1] != 0.0f) {
            first = qint64(i / 2);
            break;
        }
    }
    QVERIFY2(first >= 0, "nothing was played");
    const double fileFrame = double(written[size_t(first) * 2]) / double(written[size_t(first) * 2 + 1]) * kFrames - 1;
    const double positionMs = fileFrame * 1000.0 / kRate;
    QVERIFY2(std::abs(positionMs - 2500.0) < 5.0, qPrintable(QString::number(positionMs)));
}

QTEST_MAIN(PlayFromPlayheadEndToEndTest)
#include "PlayFromPlayheadEndToEndTest.moc"
