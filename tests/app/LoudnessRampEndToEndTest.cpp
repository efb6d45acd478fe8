#include "app/LoudnessScan.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTreeView>
#include <QtTest>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr float kLevel = 0.1f;

// The loudness measurement stands in for the real one: it answers -20 LUFS
// (+6 dB at the -14 target) once the test lets it.
std::mutex gateMutex;
std::condition_variable gateOpened;
bool gateOpen = false;
std::vector<QString> measured;

double heldMeasurement(const QString& path)
{
    std::unique_lock lock(gateMutex);
    measured.push_back(path);
    gateOpened.wait(lock, [] { return gateOpen; });
    return -20.0;
}

void openGate()
{
    std::unique_lock lock(gateMutex);
    gateOpen = true;
    gateOpened.notify_all();
}

}  // namespace

// Loudness normalisation after a start of the program, as the audience hears
// it: stored loudness is forgotten at every start, so the cue first plays at
// the provisional level. When its measurement lands while it sounds, the
// level must move there smoothly. SDL's "disk" driver writes every block the
// device plays to a file; the cue is a constant level, so any difference
// between two neighbouring frames is the gain moving.
class LoudnessRampEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_playlist = -1;

private Q_SLOTS:
    void initTestCase();
    void aMeasurementLandingWhileTheCueSoundsMovesTheLevelWithoutAStep();
};

void LoudnessRampEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("device-output.raw")));
    Startup::setApplicationNames();
    LoudnessScan::setMeasureFunction(&heldMeasurement);
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(m_dir.filePath("main.db")));

    const QVector<float> samples(qsizetype(6 * kRate) * 2, kLevel);
    const QString path = m_dir.filePath("steady.wav");
    QVERIFY(TestAudio::writeWav(path, samples, kRate, 2, TestAudio::SampleFormat::Float32));
    PlaylistGroup group;
    group.name = QStringLiteral("show");
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    QVERIFY(db->insertPlaylistGroup(group, sortOrder));
    Cue cue(-1, QStringLiteral("steady"), path);
    cue.setDuration(6000);
    cue.setLoopRange(0, 6000, true);
    cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
    QVERIFY(cue.saveToDatabase(true));
    QVERIFY(db->insertPlaylistSong(group.id, cue.id(), 0));
    m_playlist = group.id;

    QSettings settings;
    settings.setValue(SettingsKeys::kLoudnessEnabled, true);
    settings.setValue(SettingsKeys::kLoudnessTarget, -14);
    settings.setValue(SettingsKeys::kMainVolume, 100);
}

void LoudnessRampEndToEndTest::aMeasurementLandingWhileTheCueSoundsMovesTheLevelWithoutAStep()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* tree = window->findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    const QModelIndex playlist = tree->model()->index(0, 0);
    QCOMPARE(playlist.data(Qt::UserRole).toInt(), m_playlist);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(playlist).center());
    auto* table = window->findChild<QTableView*>(QStringLiteral("trackList"));
    QCOMPARE(table->model()->rowCount(), 1);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(0, SongTableModel::DurationColumn)).center());

    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    QCOMPARE(AudioEngine::instance()->lufsGain(), -6.0);
    QTest::qWait(500);
    openGate();
    QTRY_COMPARE(AudioEngine::instance()->lufsGain(), 6.0);
    QTest::qWait(1200);
    CueManager::instance()->stopPlaylist();
    window.reset();
    QThreadPool::globalInstance()->waitForDone();
    {
        std::unique_lock lock(gateMutex);
        QCOMPARE(int(measured.size()), 1);  // one measurement, whoever asked first
    }

    QFile output(m_dir.filePath("device-output.raw"));
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QByteArray bytes = output.readAll();
    std::vector<float> written(size_t(bytes.size()) / sizeof(float));
    std::memcpy(written.data(), bytes.constData(), written.size() * sizeof(float));
    // Neighbouring frames that both sound: only the gain moves them.
    size_t first = 0;
    while (first < written.size() && written[first] == 0.0f)
        first += 2;
    QVERIFY2(first + size_t(kRate) < written.size(), "nothing was played");
    const float provisional = written[first + size_t(kRate / 4) * 2];  // 250 ms in, before the measurement
    float largestStep = 0.0f;
    float highest = 0.0f;
    // From the provisional level (the start's own fade-in is over) to the
    // last 100 ms before the stop (its own fade-out).
    size_t last = written.size() - 2;
    while (last > first && written[last] == 0.0f)
        last -= 2;
    QVERIFY(last > first + size_t(kRate / 2) * 2);
    for (size_t i = first + size_t(kRate / 4) * 2; i + 2 * size_t(kRate / 10) < last; i += 2) {
        const float previous = written[i - 2];
        const float now = written[i];
        highest = std::max(highest, now);
        if (previous != 0.0f && now != 0.0f)
            largestStep = std::max(largestStep, std::abs(now - previous));
    }
    // From -6 dB to +6 dB: four times the level.
    QVERIFY2(std::abs(highest / provisional - 3.981f) < 0.02f,
             qPrintable(QStringLiteral("%1 then %2").arg(provisional).arg(highest)));
    // The whole move is about 0.3 of full scale; a step is heard, the same
    // spread over 500 ms is not.
    QVERIFY2(largestStep < 1e-3f, qPrintable(QStringLiteral("a step of %1").arg(largestStep)));
}

QTEST_MAIN(LoudnessRampEndToEndTest)
#include "LoudnessRampEndToEndTest.moc"
