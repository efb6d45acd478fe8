#include "app/MainWindow.h"
#include "app/Startup.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "support/TestAudio.h"
#include "waveform/WaveformWidget.h"

#include <QFile>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <cstring>
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
    int m_playlist = -1;
    int m_cueId = -1;

private Q_SLOTS:
    void initTestCase();
    void firstAudioComesFromThePlayhead();
};

void PlayFromPlayheadEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Before any SDL initialisation in this process.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("device-output.raw")));
    Startup::setApplicationNames();
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(m_dir.filePath("main.db")));

    QVector<float> samples(kFrames * 2);
    for (qint64 f = 0; f < kFrames; ++f) {
        samples[f * 2] = float(0.5 * double(f + 1) / double(kFrames));
        samples[f * 2 + 1] = 0.5f;
    }
    const QString path = m_dir.filePath("ramp.wav");
    QVERIFY(TestAudio::writeWav(path, samples, kRate, 2, TestAudio::SampleFormat::Float32));

    PlaylistGroup group;
    group.name = QStringLiteral("show");
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    QVERIFY(db->insertPlaylistGroup(group, sortOrder));
    Cue cue(-1, QStringLiteral("ramp"), path);
    cue.setDuration(4000);
    cue.setLoopRange(0, 4000, true);
    cue.setColor(QStringLiteral("#4a5a6a"));
    cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
    QVERIFY(cue.saveToDatabase(true));
    QVERIFY(db->insertPlaylistSong(group.id, cue.id(), 0));
    m_playlist = group.id;
    m_cueId = cue.id();
}

void PlayFromPlayheadEndToEndTest::firstAudioComesFromThePlayhead()
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
    const QModelIndex row = table->model()->index(0, SongTableModel::DurationColumn);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(row).center());
    auto* waveform = window->findChild<WaveformWidget*>(QStringLiteral("waveformWidget"));
    QTRY_COMPARE(waveform->cue() ? waveform->cue()->id() : -1, m_cueId);

    waveform->setPosition(2500);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    QTest::qWait(400);
    CueManager::instance()->stopPlaylist();
    window.reset();

    QFile output(m_dir.filePath("device-output.raw"));
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QByteArray bytes = output.readAll();
    std::vector<float> written(size_t(bytes.size()) / sizeof(float));
    std::memcpy(written.data(), bytes.constData(), written.size() * sizeof(float));
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
