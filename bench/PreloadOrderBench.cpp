// What showing a playlist costs before anything plays, and whether the cues
// the operator then presses in order start from the cache, through the main
// window as the operator uses it. The playlist holds 20 ten-minute MP3 files
// (made with ffmpeg/LAME here, one encode copied to 20 files: each path is
// decoded on its own).
//   1. the playlist is clicked in the tree (the window opens on an empty
//      one) and the window is left alone for a while: decodes started,
//      cache memory and the process's resident memory are read;
//   2. cues 1, 2 and 3 are double-clicked in the table a few seconds apart
//      (every decode is counted from the window's start on):
//      a start from the cache is one whose file was cached at the press and
//      is never decoded a second time.
// Baseline, same run, same files: the whole shown table decoded ahead (what
// showing a playlist did before), measured after the same wait.
#include "BenchAudio.h"
#include "BenchRun.h"
#include "BenchShow.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "audiofile/PcmBuffer.h"
#include "audiofile/PcmDecoding.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/PlaybackEngine.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <functional>

namespace {

constexpr int kCues = 20;
constexpr qint64 kCueMs = 600000;
constexpr int kShowWaitMs = 15000;  // the operator looks at the window
constexpr int kPressGapMs = 5000;
constexpr double kMiB = 1024.0 * 1024.0;

qint64 residentBytes()
{
    return BenchShow::processStatus("VmRSS:") * 1024;
}

class DecodeCounter {
public:
    DecodeFunction function()
    {
        return [this](const QString& path, PcmBuffer& out) {
            {
                QMutexLocker lock(&m_mutex);
                ++m_counts[path];
                ++m_total;
            }
            decodeFileToBuffer(path, out);
        };
    }
    int total() const
    {
        QMutexLocker lock(&m_mutex);
        return m_total;
    }
    int count(const QString& path) const
    {
        QMutexLocker lock(&m_mutex);
        return m_counts.value(path);
    }
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_counts.clear();
        m_total = 0;
    }

private:
    mutable QMutex m_mutex;
    QHash<QString, int> m_counts;
    int m_total = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    BenchShow::useWindowEnvironment(dir, "disk");
    QApplication app(argc, argv);
    Startup::setApplicationNames();
    Startup::limitGlobalThreadPool();

    std::printf("Making test files...\n");
    std::fflush(stdout);
    const QString master = dir.filePath("master.mp3");
    if (!BenchAudio::makeNoiseFile(master, int(kCueMs / 1000), {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < kCues; ++i) {
        const QString path = dir.filePath(QStringLiteral("cue-%1.mp3").arg(i + 1, 2, 10, QLatin1Char('0')));
        if (!QFile::copy(master, path)) {
            std::fprintf(stderr, "copy failed\n");
            return 1;
        }
        files.append(path);
    }
    if (!DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }
    // The window opens on an empty playlist: the show's is not shown until
    // it is clicked.
    const int opening = BenchShow::storePlaylist(QStringLiteral("opening"), {}, kCueMs);
    const int playlist = BenchShow::storePlaylist(QStringLiteral("show"), files, kCueMs);
    if (opening < 0 || playlist < 0)
        return 1;
    {
        QSettings settings;
        settings.setValue(SettingsKeys::kLastSelectedPlaylistId, opening);
        settings.setValue(SettingsKeys::kMainVolume, 100);
    }
    // Every decode is counted, from the window's start on.
    DecodeCounter decodes;
    AudioEngine* transport = AudioEngine::instance();
    auto* engine = transport->findChild<PlaybackEngine*>();
    if (!engine) {
        std::fprintf(stderr, "the playback engine was not found\n");
        return 1;
    }
    engine->setDecodeFunction(decodes.function());

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("trackList"));
    if (!tree || !table) {
        std::fprintf(stderr, "the window's controls were not found\n");
        return 1;
    }
    BenchRun::idleFor(1000);
    if (table->model()->rowCount() != 0 || decodes.total() != 0) {
        std::fprintf(stderr, "the show's playlist was shown before the click\n");
        return 1;
    }

    // 1. The playlist is shown.
    const qint64 residentBefore = residentBytes();
    BenchShow::clickTreeRow(tree, playlist);
    BenchRun::runEventsFor(kShowWaitMs);
    if (table->model()->rowCount() != kCues) {
        std::fprintf(stderr, "the playlist was not shown\n");
        return 1;
    }
    const int showDecodes = decodes.total();
    const double showCacheMiB = double(engine->cacheMemoryUsage()) / kMiB;
    const double showResidentMiB = double(residentBytes() - residentBefore) / kMiB;

    // 2. Cues 1, 2, 3 pressed in order.
    int hits = 0;
    for (int i = 0; i < 3; ++i) {
        const bool cachedAtPress = engine->isCached(files.at(i));
        // A double click on the duration cell (the name's opens its editor):
        // the press of the first click, then the second.
        const QRect cell = table->visualRect(table->model()->index(i, SongTableModel::DurationColumn));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        BenchRun::runEventsFor(kPressGapMs);
        const bool playing = CueManager::instance()->getCurrentCue()
                             && CueManager::instance()->getCurrentCue()->filePath() == files.at(i);
        const bool fromCache = cachedAtPress && decodes.count(files.at(i)) == 1 && playing;
        std::printf("  cue %d: %s at the press, decoded %d time(s), %s\n", i + 1,
                    cachedAtPress ? "cached" : "not cached", decodes.count(files.at(i)),
                    playing ? "playing" : "NOT PLAYING");
        hits += fromCache ? 1 : 0;
    }
    const int decodesWhilePlaying = decodes.total() - showDecodes;
    const double playingCacheMiB = double(engine->cacheMemoryUsage()) / kMiB;
    CueManager::instance()->stopPlaylist();
    BenchRun::runEventsFor(500);

    // Baseline: the whole shown table decoded ahead, after the same wait.
    engine->clearPreloadCache();
    BenchRun::runEventsFor(1000);
    decodes.reset();
    const qint64 residentBaseBefore = residentBytes();
    QList<Cue*> shown;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        if (Cue* cue = CueManager::instance()->getCue(CueManager::instance()->getPlaylistCueIds(playlist).value(row)))
            shown.append(cue);
    engine->preloadCues(shown, int(shown.size()));
    BenchRun::runEventsFor(kShowWaitMs);
    const int baseDecodes = decodes.total();
    const double baseCacheMiB = double(engine->cacheMemoryUsage()) / kMiB;
    const double baseResidentMiB = double(residentBytes() - residentBaseBefore) / kMiB;
    engine->clearPreloadQueue();

    std::printf("Playlist of %d ten-minute MP3s shown, %d s without a press, cores: %d\n", kCues, kShowWaitMs / 1000,
                QThread::idealThreadCount());
    std::printf("baseline whole table decoded ahead, decodes before play: %d\n", baseDecodes);
    std::printf("baseline whole table decoded ahead, cache before play: %.0f MiB (resident +%.0f MiB)\n",
                baseCacheMiB, baseResidentMiB);
    std::printf("show playlist decodes before play: %d decodes (target ≤ 2)\n", showDecodes);
    std::printf("show playlist cache before play: %.0f MiB (target ≤ 500 MB = 477 MiB)\n", showCacheMiB);
    std::printf("show playlist resident memory before play: +%.0f MiB (target ≤ 477 MiB)\n", showResidentMiB);
    std::printf("cues 1-3 pressed in order, started from the cache: %d of 3 (target 3)\n", hits);
    std::printf("decodes while cues 1-3 played: %d (the cues ahead; cache %.0f MiB)\n", decodesWhilePlaying,
                playingCacheMiB);
    return 0;
}
