// The loudness scan of a playlist of 200 cues (30 s MP3 each) in the running
// main window, while a cue plays: switching normalisation on measures every
// cue of the table on the global pool. Measured: the scan's wall time, how
// many pool threads measure at once, and how late a 16 ms timer on the GUI
// thread fires meanwhile (the A/B volume ramp's tick: the GUI thread must
// stay free while the pool works and the results come back).
//
// Baselines, measured in the same run: the same cues measured one after
// another from one thread (measureLufs as any caller gets it, with its
// decode-ahead helper from the global pool), and the 16 ms timer's lateness
// with the window idle. The scan measures on threads of its own (as many as
// the global pool's limit) and leaves the global pool free for painting.
//
//   LoudnessScanBench [--cues N] [--seconds S]
//   (QT_QPA_PLATFORM chooses the platform; offscreen when unset)
#include "BenchAudio.h"
#include "BenchRun.h"
#include "app/LoudnessScan.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "waveform/LoudnessMeasurement.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr double kLatenessTargetMs = 50.0;
constexpr int kTickMs = 16;

int argument(const QStringList& args, const QString& name, int fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// A 16 ms timer on the GUI thread that records how late each tick is.
class TickLateness {
public:
    void start()
    {
        m_worst = 0.0;
        m_globalBusy = 0;
        m_lateness.clear();
        m_clock.start();
        m_last = 0;
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double late = double(now - m_last) / 1e6 - kTickMs;
            m_last = now;
            m_lateness.push_back(std::max(late, 0.0));
            m_worst = std::max(m_worst, late);
            m_globalBusy = std::max(m_globalBusy, QThreadPool::globalInstance()->activeThreadCount());
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(kTickMs);
    }
    void stop()
    {
        m_timer.stop();
        m_timer.disconnect();
    }
    double worst() const { return m_worst; }
    double percentile(double p) const
    {
        if (m_lateness.empty())
            return 0.0;
        std::vector<double> sorted = m_lateness;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
    }
    size_t ticks() const { return m_lateness.size(); }
    int globalBusy() const { return m_globalBusy; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_worst = 0.0;
    int m_globalBusy = 0;
    std::vector<double> m_lateness;
};

// Times every event the GUI thread delivers, to name what held it longest.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        QElapsedTimer timer;
        timer.start();
        const int type = int(event->type());
        const QByteArray name = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (recording && ms > longestMs) {
            longestMs = ms;
            longest = name + " event " + QByteArray::number(type);
        }
        return result;
    }
    bool recording = false;
    double longestMs = 0.0;
    QByteArray longest;
};

std::atomic<int> g_running{0};
std::atomic<int> g_peak{0};

double countedMeasure(const QString& path)
{
    const int now = ++g_running;
    int peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    const double lufs = measureLufs(path);
    --g_running;
    return lufs;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QTemporaryDir dir;
    // The settings store and the database of this run only.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    TimedApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cueCount = std::max(1, argument(args, QStringLiteral("--cues"), 200));
    const int seconds = std::max(1, argument(args, QStringLiteral("--seconds"), 30));
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    Startup::limitGlobalThreadPool();
    Startup::setApplicationNames();
    const int poolThreads = QThreadPool::globalInstance()->maxThreadCount();

    std::printf("Generating %d files of %d s MP3...\n", cueCount, seconds);
    std::fflush(stdout);
    const QString source = dir.filePath("source.mp3");
    if (!BenchAudio::makeNoiseFile(source, seconds, {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        std::fprintf(stderr, "ffmpeg could not make the audio\n");
        return 1;
    }
    QStringList paths;
    for (int i = 0; i < cueCount; ++i) {
        paths << dir.filePath(QStringLiteral("cue %1.mp3").arg(i, 3, 10, QLatin1Char('0')));
        if (!QFile::copy(source, paths.last()))
            return 1;
    }

    DatabaseManager* db = DatabaseManager::instance();
    if (!db->initialize(dir.filePath("bench.db")))
        return 1;
    PlaylistGroup group;
    group.name = QStringLiteral("演出");
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    if (!db->insertPlaylistGroup(group, sortOrder))
        return 1;
    for (int i = 0; i < cueCount; ++i) {
        Cue cue(-1, QStringLiteral("cue %1").arg(i), paths[i]);
        cue.setDuration(seconds * 1000);
        cue.setLoopRange(0, seconds * 1000, true);
        cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
        if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(group.id, cue.id(), i))
            return 1;
    }

    // Baseline: one after another on one thread.
    std::printf("Measuring the %d files one after another...\n", cueCount);
    std::fflush(stdout);
    QElapsedTimer serialTimer;
    serialTimer.start();
    for (const QString& path : paths) {
        if (measureLufs(path) <= -100.0) {
            std::fprintf(stderr, "measurement failed: %s\n", qPrintable(path));
            return 1;
        }
    }
    const double serialMs = double(serialTimer.nsecsElapsed()) / 1e6;

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    const QModelIndex playlist = tree->model()->index(0, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(playlist).center());
    auto* table = window.findChild<QTableView*>(QStringLiteral("trackList"));
    if (table->model()->rowCount() != cueCount) {
        std::fprintf(stderr, "the table shows %d cues\n", table->model()->rowCount());
        return 1;
    }
    QCheckBox* loudness = nullptr;
    for (QCheckBox* box : window.statusBar()->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("响度均衡"))
            loudness = box;
    }
    if (!loudness)
        return 1;
    // A show is running: the first cue plays.
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("playPasueButton")), Qt::LeftButton);
    BenchRun::runEventsFor(500);

    TickLateness idle;
    idle.start();
    BenchRun::runEventsFor(3000);
    idle.stop();

    LoudnessScan::setMeasureFunction(&countedMeasure);
    const QList<Cue*> cues = CueManager::instance()->allCues();
    auto measuredCount = [&cues] {
        return int(std::count_if(cues.begin(), cues.end(), [](const Cue* cue) { return cue->lufs() > -900.0; }));
    };
    TickLateness busy;
    busy.start();
    app.recording = true;
    QElapsedTimer scanTimer;
    scanTimer.start();
    loudness->click();
    while (measuredCount() < cueCount && scanTimer.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double scanMs = double(scanTimer.nsecsElapsed()) / 1e6;
    BenchRun::runEventsFor(200);
    busy.stop();
    app.recording = false;
    const double scanLongest = app.longestMs;
    const QByteArray scanLongestName = app.longest;
    QThreadPool::globalInstance()->waitForDone();
    LoudnessScan::setMeasureFunction({});
    if (measuredCount() < cueCount) {
        std::fprintf(stderr, "only %d of %d cues were measured\n", measuredCount(), cueCount);
        return 1;
    }
    const bool stillPlaying = AudioEngine::instance()->getState() == AudioEngine::Playing;

    // For comparison, what the scan avoids: every pool thread measuring at
    // once (the bench's own tasks, over as many files as 4 per thread).
    const QStringList some = paths.mid(0, std::min<qsizetype>(paths.size(), 4 * poolThreads));
    TickLateness saturated;
    app.longestMs = 0.0;
    app.recording = true;
    saturated.start();
    QFuture<void> everyThread = QtConcurrent::map(QThreadPool::globalInstance(), some,
                                                  [](const QString& path) { measureLufs(path); });
    while (!everyThread.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    saturated.stop();
    app.recording = false;
    const double saturatedLongest = app.longestMs;
    CueManager::instance()->stopPlaylist();

    std::printf("Pool of %d threads; the playing cue kept playing: %s.\n", poolThreads, stillPlaying ? "yes" : "no");
    std::printf("  idle window: %zu ticks, 99th percentile late %.1f ms, worst %.1f ms\n", idle.ticks(),
                idle.percentile(0.99), idle.worst());
    std::printf("  during the scan: %zu ticks, 99th percentile late %.1f ms, worst %.1f ms\n", busy.ticks(),
                busy.percentile(0.99), busy.worst());
    std::printf("  longest event on the GUI thread during the scan: %.1f ms (%s)\n", scanLongest,
                scanLongestName.constData());
    std::printf("  every pool thread measuring (for comparison, %lld files): %zu ticks, worst late %.1f ms, longest "
                "event %.1f ms\n",
                qlonglong(some.size()), saturated.ticks(), saturated.worst(), saturatedLongest);
    std::printf("loudness scan of %d cues: %.0f ms (target ≤ %.0f ms, the baseline: the same files measured one "
                "after another from one thread; %.2f x its speed)\n",
                cueCount, scanMs, serialMs, serialMs / scanMs);
    std::printf("worst 16 ms timer lateness during the scan: %.1f ms (target < %.0f ms; idle baseline %.1f ms)\n",
                busy.worst(), kLatenessTargetMs, idle.worst());
    const int measuringThreads = LoudnessScan::measurementPool()->maxThreadCount();
    std::printf("measurements at once: %d (target ≤ %d, the scan's own measuring threads)\n", g_peak.load(),
                measuringThreads);
    std::printf("global pool threads busy during the scan: %d (target ≤ %d: one of its %d stays free for "
                "painting)\n",
                busy.globalBusy(), std::max(1, poolThreads - 1), poolThreads);
    std::printf("worst 16 ms timer lateness with every pool thread measuring: %.1f ms (for comparison)\n",
                saturated.worst());
    return 0;
}
