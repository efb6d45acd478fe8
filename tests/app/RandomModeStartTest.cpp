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
#include "waveform/WaveformWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

// A start from a stopped transport in the random modes plays the row the
// operator selected, from the waveform's playhead, like in every other mode:
// the random choice is only for what follows it.
class RandomModeStartTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_playlist = -1;
    QList<int> m_ids;
    std::unique_ptr<MainWindow> m_window;

    QTableView* table() const { return m_window->findChild<QTableView*>(QStringLiteral("trackList")); }
    void clickRow(int row)
    {
        const QModelIndex index = table()->model()->index(row, SongTableModel::DurationColumn);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(index).center());
    }
    QString startedName() const
    {
        Cue* cue = CueManager::instance()->getCurrentCue();
        return cue ? QFileInfo(cue->filePath()).baseName() : QStringLiteral("none");
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void spaceStartsTheSelectedRow_data();
    void spaceStartsTheSelectedRow();
};

void RandomModeStartTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    Startup::setApplicationNames();
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(m_dir.filePath("main.db")));
    PlaylistGroup group;
    group.name = QStringLiteral("show");
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    QVERIFY(db->insertPlaylistGroup(group, sortOrder));
    for (int i = 1; i <= 6; ++i) {
        const QString path = m_dir.filePath(QStringLiteral("cue%1.wav").arg(i));
        TestAudio::WavSpec spec;
        spec.seconds = 30.0;
        spec.frequency = 220.0 * i;
        QVERIFY(TestAudio::writeWav(path, spec));
        Cue cue(-1, QStringLiteral("cue %1").arg(i), path);
        cue.setDuration(30000);
        // Cue 3 plays only its first 15 s.
        cue.setLoopRange(0, i == 3 ? 15000 : 30000, true);
        cue.setColor(QStringLiteral("#4a5a6a"));
        cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
        QVERIFY(cue.saveToDatabase(true));
        QVERIFY(db->insertPlaylistSong(group.id, cue.id(), i - 1));
        m_ids.append(cue.id());
    }
    m_playlist = group.id;
}

void RandomModeStartTest::init()
{
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::kPauseFadeEnabled, false);
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* tree = m_window->findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    const QModelIndex playlist = tree->model()->index(0, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(playlist).center());
    QCOMPARE(table()->model()->rowCount(), 6);
}

void RandomModeStartTest::cleanup()
{
    CueManager::instance()->stopPlaylist();
    CueManager::instance()->setPlaylist({});
    CueManager::instance()->setPlayMode(CueManager::ListLoop);
    m_window.reset();
}

void RandomModeStartTest::spaceStartsTheSelectedRow_data()
{
    // Cue 3 plays only its first 15 s of 30; the playhead was left at 17 s.
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("row");
    QTest::addColumn<qint64>("playhead");
    QTest::addColumn<bool>("playedBefore");  // another cue was played and stopped first
    QTest::addColumn<qint64>("startsAt");
    const QList<std::pair<int, const char*>> modes = {{CueManager::Random, "random"},
                                                      {CueManager::CustomRandom, "custom random"},
                                                      {CueManager::ListLoop, "list loop"}};
    for (const auto& [mode, name] : modes) {
        QTest::addRow("%s, playhead inside the cue", name) << mode << 3 << qint64(17000) << false << qint64(17000);
        QTest::addRow("%s, playhead past the loop end", name) << mode << 2 << qint64(17000) << false << qint64(0);
        QTest::addRow("%s, playhead past the loop end, after a stop", name)
            << mode << 2 << qint64(17000) << true << qint64(0);
    }
    QTest::newRow("random, playhead at the loop end") << int(CueManager::Random) << 2 << qint64(15000) << false
                                                      << qint64(0);
}

void RandomModeStartTest::spaceStartsTheSelectedRow()
{
    QFETCH(int, mode);
    QFETCH(int, row);
    QFETCH(qint64, playhead);
    QFETCH(bool, playedBefore);
    QFETCH(qint64, startsAt);
    // The operator picks the mode in the selector.
    QComboBox* modes = nullptr;
    for (QComboBox* combo : m_window->findChildren<QComboBox*>())
        if (combo->count() == 6 && combo->itemText(2) == QStringLiteral("随机播放"))
            modes = combo;
    QVERIFY(modes);
    modes->setCurrentIndex(mode);
    QCOMPARE(int(CueManager::instance()->playMode()), mode);

    auto space = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); };
    if (playedBefore) {
        clickRow(4);
        space();
        QTRY_COMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
        QTest::qWait(200);
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("stopButton")), Qt::LeftButton);
    }
    clickRow(row);
    auto* waveform = m_window->findChild<WaveformWidget*>(QStringLiteral("waveformWidget"));
    QTRY_COMPARE(waveform->cue() ? QFileInfo(waveform->cue()->filePath()).baseName() : QString(),
                 QStringLiteral("cue%1").arg(row + 1));
    waveform->setPosition(playhead);
    QVERIFY(QApplication::focusWidget());
    space();
    QTest::qWait(300);
    QCOMPARE(startedName(), QStringLiteral("cue%1").arg(row + 1));
    QCOMPARE(AudioEngine::instance()->getState(), AudioEngine::Playing);
    const qint64 position = AudioEngine::instance()->getPosition();
    QVERIFY2(position >= startsAt && position < startsAt + 2000, qPrintable(QString::number(position)));
}

QTEST_MAIN(RandomModeStartTest)
#include "RandomModeStartTest.moc"
