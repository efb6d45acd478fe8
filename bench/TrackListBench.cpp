// The cue table under load, on an offscreen window with the program's style:
//   1. switching the table to a stored 10 000-cue playlist (load, refresh,
//      first paint), with peaks stored and without (each cue then looked for
//      in the database and queued for parsing), against a plain QTableView
//      on the same model (a SongTableModel given the same cues), with no
//      delegates, no row sizing and no parse queue;
//   2. painting a full page of rows with a playing row, against the same
//      plain table, and the files looked up on disk while painting.
//   Every cue has a real file of its own (hard links of ten short MP3s of
//   music-like noise, 44.1 kHz stereo).
//   3. the waveform parse queue working through 1 000 cues without peaks
//      (real files, real parser, the operator clicking cues meanwhile): the
//      worst lateness of a 16 ms GUI timer against the idle GUI thread, and
//      the threads it used against the pool's bound.
//
//   TrackListBench [--cues N] [--parse-cues N]
#include "BenchAudio.h"
#include "BenchRun.h"
#include "BenchShow.h"
#include "app/Startup.h"
#include "app/UiStyleManager.h"
#include "lists/FileExistenceCache.h"
#include "lists/SongTableModel.h"
#include "lists/TrackListManager.h"
#include "lists/WaveformParseJob.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/CueManager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPageWidth = 1200;
constexpr int kPageHeight = 800;
constexpr double kSwitchTargetMs = 200.0;
constexpr double kPaintTargetMs = 5.0;
constexpr double kLatenessTargetMs = 50.0;
constexpr int kTimerMs = 16;

double timeMs(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

int newPlaylist(const QString& name)
{
    PlaylistGroup group;
    group.name = name;
    int sortOrder = 0;
    DatabaseManager::instance()->getNextGroupSortOrder(sortOrder);
    return DatabaseManager::instance()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
}

// Stores count cues on the given files (cycled) in a new playlist; peaks
// stored with them when withPeaks.
int storePlaylist(const QString& name, const QStringList& files, int count, bool withPeaks)
{
    const int playlist = newPlaylist(name);
    DatabaseManager* db = DatabaseManager::instance();
    QList<int> ids;
    ids.reserve(count);
    const QList<float> peaks(Cue::kWaveformTargetPoints, 0.5f);
    for (int i = 0; i < count; ++i) {
        Cue cue(-1, QStringLiteral("%1 cue %2").arg(name).arg(i), files[i % files.size()]);
        cue.setColor(i % 7 == 0 ? QStringLiteral("#4a5a6a") : QString());
        cue.setDuration(180000 + i);
        cue.setRemark(i % 5 == 0 ? QStringLiteral("a remark for the stage manager") : QString());
        if (withPeaks)
            cue.setWaveform(peaks);
        if (!cue.saveToDatabase(true))
            return -1;
        ids.append(cue.id());
    }
    db->beginTransaction();
    for (int i = 0; i < ids.size(); ++i)
        db->insertPlaylistSong(playlist, ids[i], i);
    db->commitTransaction();
    return playlist;
}

// count files of their own names, hard links of ten real short MP3s.
QStringList audioFiles(const QString& folder, int count)
{
    QStringList files;
    QDir().mkpath(folder);
    QStringList sources;
    for (int i = 0; i < 10; ++i) {
        const QString source = QStringLiteral("%1/source %2.mp3").arg(folder).arg(i);
        if (!BenchAudio::makeNoiseFile(source, 8 + i, {"-c:a", "libmp3lame", "-b:a", "192k"}))
            return {};
        sources.append(source);
    }
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/track %2.mp3").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(sources[i % 10]).constData(), QFile::encodeName(path).constData()) != 0)
            return {};
        files.append(path);
    }
    return files;
}

// Records how late a 16 ms timer fires while it runs.
class LatenessProbe : public QObject {
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTimerMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_worstMs = std::max(m_worstMs, double(now - m_last) / 1e6 - kTimerMs);
            m_last = now;
            m_maxThreads = std::max(m_maxThreads, int(BenchShow::processStatus("Threads:")));
            m_maxPoolActive = std::max(m_maxPoolActive, QThreadPool::globalInstance()->activeThreadCount());
        });
    }
    void start()
    {
        m_worstMs = 0.0;
        m_last = -1;
        m_maxThreads = 0;
        m_maxPoolActive = 0;
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double worstMs() const { return m_worstMs; }
    int maxThreads() const { return m_maxThreads; }
    int maxPoolActive() const { return m_maxPoolActive; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    double m_worstMs = 0.0;
    int m_maxThreads = 0;
    int m_maxPoolActive = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", "dummy");
    QTemporaryDir dir;
    BenchShow::usePrivateFolders(dir);
    QApplication app(argc, argv);
    Startup::setApplicationNames();
    Startup::limitGlobalThreadPool();
    UiStyleManager::applyApplicationStyle();
    // The parser's and the engine's warnings about the placeholder files are
    // not what is measured here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    int cueCount = 10000;
    int parseCount = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--cues")
            cueCount = args[i + 1].toInt();
        else if (args[i] == "--parse-cues")
            parseCount = args[i + 1].toInt();
    }

    if (!DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }

    std::printf("Storing two %d-cue playlists and making their files...\n", cueCount);
    std::fflush(stdout);
    const QStringList files = audioFiles(dir.filePath("audio"), cueCount);
    if (files.size() != cueCount) {
        std::fprintf(stderr, "could not make the audio files\n");
        return 1;
    }
    const int bigList = storePlaylist("big", files, cueCount, true);
    const int smallList = storePlaylist("small", files.mid(0, 10), 10, true);
    const int bareList = storePlaylist("bare", files, cueCount, false);
    if (bigList < 0 || smallList < 0 || bareList < 0) {
        std::fprintf(stderr, "could not store the playlists\n");
        return 1;
    }

    // --- 1. Switching -------------------------------------------------------
    CueManager* registry = CueManager::instance();
    QTableView table;
    table.resize(kPageWidth, kPageHeight);
    auto* trackList = new TrackListManager(&table, nullptr, registry);
    table.show();
    QCoreApplication::processEvents();

    std::vector<double> switches;
    for (int run = 0; run < 5; ++run) {
        trackList->loadPlaylist(smallList);
        BenchRun::runEventsFor(50);
        switches.push_back(timeMs([&] {
            trackList->loadPlaylist(bigList);
            table.viewport()->repaint();
            QCoreApplication::processEvents();
        }));
    }
    if (trackList->rowCount() != cueCount) {
        std::fprintf(stderr, "the table shows %d rows, not %d\n", trackList->rowCount(), cueCount);
        return 1;
    }
    // Cues without peaks are looked for in the database and queued.
    std::vector<double> bareSwitches;
    for (int run = 0; run < 3; ++run) {
        trackList->loadPlaylist(smallList);
        trackList->clearParseQueue();
        BenchRun::runEventsFor(50);
        bareSwitches.push_back(timeMs([&] {
            trackList->loadPlaylist(bareList);
            table.viewport()->repaint();
            QCoreApplication::processEvents();
        }));
    }
    trackList->clearParseQueue();
    trackList->loadPlaylist(bigList);

    // The same cues in a plain QTableView on the same model: the model is
    // given the cue lists the registry holds, nothing else happens.
    auto cuesOf = [registry](int playlist) {
        QList<Cue*> list;
        for (int id : registry->getPlaylistCueIds(playlist))
            list.append(registry->getCue(id));
        return list;
    };
    const QList<Cue*> bigCues = cuesOf(bigList);
    const QList<Cue*> smallCues = cuesOf(smallList);
    QTableView plainTable;
    plainTable.resize(kPageWidth, kPageHeight);
    SongTableModel plainModel;
    plainTable.setModel(&plainModel);
    plainTable.show();
    std::vector<double> plainSwitches;
    for (int run = 0; run < 5; ++run) {
        plainModel.setCueList(smallCues);
        BenchRun::runEventsFor(50);
        plainSwitches.push_back(timeMs([&] {
            plainModel.setCueList(bigCues);
            plainTable.viewport()->repaint();
            QCoreApplication::processEvents();
        }));
    }

    // --- 2. Painting a page --------------------------------------------------
    Cue* playing = trackList->cueAt(3);
    trackList->setCurrentCue(playing, true);
    trackList->model()->setPosition(playing, 60000);
    trackList->selectRow(5);
    table.viewport()->repaint();
    const int lookupsBefore = trackList->model()->fileExistence()->diskLookups();
    std::vector<double> paints;
    std::vector<double> plainPaints;
    for (int run = 0; run < 100; ++run) {
        paints.push_back(timeMs([&] { table.viewport()->repaint(); }));
        plainPaints.push_back(timeMs([&] { plainTable.viewport()->repaint(); }));
    }
    const int lookupsPerPaint = (trackList->model()->fileExistence()->diskLookups() - lookupsBefore) / 100;
    const int rowsOnPage = table.rowAt(table.viewport()->height() - 1) - table.rowAt(0) + 1;
    trackList->clearCurrentCue();
    trackList->loadPlaylist(-1);

    // --- 3. The parse queue --------------------------------------------------
    std::printf("Making %d audio files for the parse queue...\n", 40);
    std::fflush(stdout);
    QStringList audio;
    for (int i = 0; i < 40; ++i) {
        const bool mp3 = i % 2 == 0;
        const QString path = dir.filePath(QStringLiteral("audio/parse%1.%2").arg(i).arg(mp3 ? "mp3" : "wav"));
        const QStringList codec = mp3 ? QStringList{"-c:a", "libmp3lame", "-b:a", "192k"}
                                      : QStringList{"-c:a", "pcm_s16le"};
        if (!BenchAudio::makeNoiseFile(path, 5 + i % 5 * 5, codec)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(path));
            return 1;
        }
        audio.append(path);
    }
    const int parseList = storePlaylist("parse", audio, parseCount, false);

    LatenessProbe probe;
    probe.start();
    BenchRun::runEventsFor(2000);
    probe.stop();
    const double idleLatenessMs = probe.worstMs();
    const int idleThreads = probe.maxThreads();

    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    trackList->waveformParseQueue()->setParseFunction([&](const QString& path, WaveformParseJob& job) {
        const int now = ++running;
        int seen = maxRunning.load();
        while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
        }
        WaveformParser::Result result = WaveformParseQueue::parseFile(path, job);
        --running;
        return result;
    });

    WaveformParseQueue* queue = trackList->waveformParseQueue();
    probe.start();
    QElapsedTimer wall;
    wall.start();
    trackList->loadPlaylist(parseList);
    const double loadMs = double(wall.nsecsElapsed()) / 1e6;
    // The operator clicks through cues while the queue works.
    QTimer clicker;
    int clicked = 0;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        trackList->selectRow((clicked * 37) % trackList->rowCount());
        ++clicked;
    });
    clicker.start(150);
    while (queue->isParsing() || !queue->queuedCues().isEmpty() || queue->windingDownCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (wall.elapsed() > 600000)
            break;
    }
    clicker.stop();
    const double queueMs = double(wall.nsecsElapsed()) / 1e6;
    probe.stop();
    int parsed = 0;
    for (int row = 0; row < trackList->rowCount(); ++row)
        parsed += trackList->hasCachedWaveform(trackList->cueAt(row)) ? 1 : 0;

    const int poolBound = QThreadPool::globalInstance()->maxThreadCount();
    std::printf("\nTrack list, %d rows on a %d x %d page\n", cueCount, kPageWidth, kPageHeight);
    std::printf("switch to a %d-cue playlist: %.1f ms (target ≤ %.0f)\n", cueCount, BenchRun::median(switches),
                kSwitchTargetMs);
    std::printf("  baseline, a plain QTableView on the same model given the same %d cues: %.1f ms\n", cueCount,
                BenchRun::median(plainSwitches));
    std::printf("switch to a %d-cue playlist without stored peaks: %.1f ms (target ≤ %.0f)\n", cueCount,
                BenchRun::median(bareSwitches), kSwitchTargetMs);
    std::printf("paint a page of rows (%d rows, playing row on it): %.2f ms (target ≤ %.0f)\n", rowsOnPage,
                BenchRun::median(paints), kPaintTargetMs);
    std::printf("  baseline, the plain table's page: %.2f ms\n", BenchRun::median(plainPaints));
    std::printf("files looked up on disk per page paint: %d (target ≤ 0)\n", lookupsPerPaint);
    std::printf("16 ms timer worst lateness, parse queue on %d cues: %.1f ms (target ≤ %.0f)\n", parseCount,
                probe.worstMs(), kLatenessTargetMs);
    std::printf("  baseline, the same timer with the queue idle: %.1f ms\n", idleLatenessMs);
    std::printf("parses running at once: %d (target ≤ %d, the pool's bound %d)\n", maxRunning.load(),
                1 + WaveformParseQueue::windingDownAllowed(), poolBound);
    std::printf("pool threads busy at once: %d (target ≤ %d: one of the pool's %d stays free for painting)\n",
                probe.maxPoolActive(), std::max(1, poolBound - 1), poolBound);
    std::printf("process threads at most: %d (baseline, queue idle: %d)\n", probe.maxThreads(), idleThreads);
    std::printf("  %d of %d cues parsed in %.1f s (%d clicks on the way); loading the playlist took %.1f ms\n",
                parsed, parseCount, queueMs / 1000.0, clicked, loadMs);

    delete trackList;
    return 0;
}
