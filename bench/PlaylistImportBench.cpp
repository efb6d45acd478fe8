// Imports of a whole playlist file into the running main window, dropped on
// the playlist tree as the operator does it (QT_QPA_PLATFORM offscreen when
// unset):
//   1. a project file (.crv) of 100 000 cues, written as the project export
//      writes one: path, duration, name, colour, fades and volume, and a stored
//      waveform on every 20th cue (on all of them the file would pass the
//      reader's 256 MB limit);
//   2. an M3U8 list of 100 000 entries ("#EXTINF" line and relative path).
// Every entry names a real short WAV file (2 to 5 s of noise at 44.1 kHz):
// 300 files, hard links of four generated ones each under a name of its own,
// reused in turn across the entries.
// The window shows a playlist of 20 cues, selected, as in a show.
//
// For each import: the total time from the drop until the drop returns
// (the file read, the cues stored, the tree reloaded and the new playlist
// selected into the table), of it the time until the progress dialog closed
// (the import's own work), and the worst lateness of a 16 ms GUI timer over
// the same two spans. Baselines measured in the same run: the same timer on
// the idle window, and the same work the plain way with no GUI: the file
// read and parsed, and the same cues and playlist rows stored in one SQLite
// transaction.
//
//   PlaylistImportBench [--cues N] [--only crv|m3u8]
#include "BenchAudio.h"
#include "BenchRun.h"
#include "BenchShow.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "exchange/M3U8Text.h"
#include "exchange/ProjectFileReader.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "model/PlaylistGroup.h"
#include "model/WaveformStorage.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTimerMs = 16;
constexpr double kLatenessTargetMs = 50.0;
constexpr int kAudioFiles = 300;
constexpr int kWaveformEvery = 20;

int argument(const QStringList& args, const QString& name, int fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// A 16 ms timer on the GUI thread; each tick's lateness with its time.
class LatenessProbe : public QObject {
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTimerMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 cpu = threadCpuNs();
            m_ticks.push_back({now, double(now - m_last) / 1e6 - kTimerMs, double(cpu - m_lastCpu) / 1e6});
            m_last = now;
            m_lastCpu = cpu;
        });
    }
    void start()
    {
        m_ticks.clear();
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    qint64 now() const { return m_clock.nsecsElapsed(); }
    // The worst lateness of the ticks that fired in [from, to] (ns since start).
    double worstMs(qint64 from = 0, qint64 to = std::numeric_limits<qint64>::max()) const
    {
        return worstOf(&Tick::lateMs, from, to);
    }
    // The most CPU time the GUI thread used between two ticks in [from, to]:
    // its own work, without the time other processes of a loaded machine
    // took from it.
    double worstCpuMs(qint64 from = 0, qint64 to = std::numeric_limits<qint64>::max()) const
    {
        return worstOf(&Tick::cpuMs, from, to);
    }
    size_t ticks() const { return m_ticks.size(); }

private:
    struct Tick {
        qint64 at;
        double lateMs;
        double cpuMs;
    };
    double worstOf(double Tick::*field, qint64 from, qint64 to) const
    {
        double worst = 0.0;
        for (const Tick& tick : m_ticks) {
            if (tick.at >= from && tick.at <= to)
                worst = std::max(worst, tick.*field);
        }
        return worst;
    }
    static qint64 threadCpuNs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    std::vector<Tick> m_ticks;
};

// Notes when the import's progress dialog shows and closes (the cues are
// stored then).
class ProgressWatch : public QObject {
public:
    explicit ProgressWatch(LatenessProbe* probe)
        : m_probe(probe)
    {
    }
    qint64 closedAt = -1;
    int dialogs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (qobject_cast<QProgressDialog*>(watched)) {
            if (event->type() == QEvent::Show)
                ++dialogs;
            else if (event->type() == QEvent::Hide)
                closedAt = m_probe->now();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    LatenessProbe* m_probe;
};

struct AudioSet {
    QStringList paths;
    QList<qint64> durationsMs;
    QList<QByteArray> waveforms;  // compressed blobs, as a project file carries them
};

bool makeAudio(const QString& folder, AudioSet& set)
{
    QDir().mkpath(folder);
    QStringList sources;
    for (int seconds = 2; seconds <= 5; ++seconds) {
        const QString path = QStringLiteral("%1/source %2.wav").arg(folder).arg(seconds);
        if (!BenchAudio::makeNoiseFile(path, seconds, {"-c:a", "pcm_s16le"}))
            return false;
        sources.append(path);
    }
    for (int i = 0; i < kAudioFiles; ++i) {
        const int source = i % int(sources.size());
        const QString path = QStringLiteral("%1/take %2.wav").arg(folder).arg(i, 3, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(sources[source]).constData(), QFile::encodeName(path).constData()) != 0)
            return false;
        set.paths.append(path);
        set.durationsMs.append(qint64(source + 2) * 1000);
        QList<float> peaks(Cue::kWaveformTargetPoints);
        for (int p = 0; p < peaks.size(); ++p)
            peaks[p] = float(0.3 + 0.25 * std::sin(p * (0.01 + 0.001 * i)) + 0.1 * std::sin(p * 0.37));
        set.waveforms.append(WaveformStorage::encodeCompressed(peaks, Cue::kWaveformTargetPoints));
    }
    return true;
}

QString cueName(int i)
{
    return QStringLiteral("第 %1 段 音效").arg(i + 1);
}

QByteArray projectFile(const AudioSet& set, int count)
{
    QJsonArray cues;
    for (int i = 0; i < count; ++i) {
        const int file = i % int(set.paths.size());
        QJsonObject o;
        o.insert(QStringLiteral("rowIndex"), i);
        o.insert(QStringLiteral("cueId"), i + 1);
        o.insert(QStringLiteral("filePath"), set.paths[file]);
        o.insert(QStringLiteral("duration"), double(set.durationsMs[file]) / 1000.0);
        o.insert(QStringLiteral("name"), cueName(i));
        o.insert(QStringLiteral("color"), QStringLiteral("#4a5a6a"));
        if (i % 3 == 0) {
            o.insert(QStringLiteral("fadeEnabled"), true);
            o.insert(QStringLiteral("fadeIn"), 0.5);
            o.insert(QStringLiteral("fadeOut"), 1.0);
        }
        if (i % 4 == 0) {
            o.insert(QStringLiteral("volumeA"), 0.8);
            o.insert(QStringLiteral("volume"), 0.8);
        }
        if (i % kWaveformEvery == 0) {
            o.insert(QStringLiteral("waveformData"), QString::fromLatin1(set.waveforms[file].toBase64()));
            o.insert(QStringLiteral("waveformTargetPoints"), Cue::kWaveformTargetPoints);
        }
        cues.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("version"), QStringLiteral("1.0"));
    root.insert(QStringLiteral("playlistName"), QStringLiteral("大型工程"));
    root.insert(QStringLiteral("totalCues"), count);
    root.insert(QStringLiteral("playMode"), 0);
    root.insert(QStringLiteral("cues"), cues);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray m3u8File(const AudioSet& set, int count, const QString& listFolder)
{
    QList<M3U8Text::Entry> entries;
    const QDir dir(listFolder);
    for (int i = 0; i < count; ++i) {
        const int file = i % int(set.paths.size());
        entries.append({set.durationsMs[file], cueName(i), dir.relativeFilePath(set.paths[file])});
    }
    return M3U8Text::write(entries);
}

int newPlaylist(const QString& name)
{
    PlaylistGroup group;
    group.name = name;
    int sortOrder = 0;
    DatabaseManager::instance()->getNextGroupSortOrder(sortOrder);
    return DatabaseManager::instance()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
}

// The plain way: the project file read and parsed, its cues and rows stored
// in one transaction. ms, or -1.
double plainProjectMs(const QString& path)
{
    QElapsedTimer wall;
    wall.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1.0;
    const ProjectDocument document = ProjectFileReader::parse(file.readAll());
    const QString base = QFileInfo(path).absolutePath();
    DatabaseManager* db = DatabaseManager::instance();
    const int playlist = newPlaylist(QStringLiteral("plain project"));
    DatabaseTransaction transaction(db);
    int row = 0;
    for (const QJsonValue& value : document.cues) {
        const ProjectCueEntry entry = ProjectFileReader::cueEntry(value, base);
        Cue cue(-1, entry.name.value_or(QString()), entry.filePath);
        cue.setDuration(entry.durationMs);
        cue.setColor(entry.color.value_or(QString()));
        cue.setVolumeA(entry.volumeA);
        cue.setFadeDurations(entry.fadeInMs, entry.fadeOutMs);
        cue.setFadeEnabled(entry.fadeEnabled);
        if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(playlist, cue.id(), row++))
            return -1.0;
        if (!entry.waveformBlob.isEmpty()
            && !db->insertWaveformData(cue.id(), entry.waveformTargetPoints, entry.waveformBlob))
            return -1.0;
    }
    return transaction.commit() ? double(wall.nsecsElapsed()) / 1e6 : -1.0;
}

// The plain way for the list: read, every path looked up, a cue and a row
// per existing file in one transaction. ms, or -1.
double plainM3u8Ms(const QString& path)
{
    QElapsedTimer wall;
    wall.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1.0;
    const M3U8Text::Reading reading = M3U8Text::read(file.readAll(), QFileInfo(path).absolutePath());
    DatabaseManager* db = DatabaseManager::instance();
    const int playlist = newPlaylist(QStringLiteral("plain list"));
    DatabaseTransaction transaction(db);
    int row = 0;
    for (const QString& audio : reading.paths) {
        if (!QFileInfo(audio).isFile())
            continue;
        Cue cue(-1, QFileInfo(audio).completeBaseName(), audio);
        if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(playlist, cue.id(), row++))
            return -1.0;
    }
    return transaction.commit() ? double(wall.nsecsElapsed()) / 1e6 : -1.0;
}

struct Run {
    double totalMs = 0.0;
    double storedMs = -1.0;  // until the progress dialog closed
    double worstMs = 0.0;
    double worstStoringMs = 0.0;
    double worstAfterMs = 0.0;
    double worstCpuStoringMs = 0.0;
    double worstCpuAfterMs = 0.0;
    int tableRows = 0;
    bool dialogShown = false;
    QStringList notices;
};

Run dropOn(QTreeView* tree, QTableView* table, const QString& path)
{
    Run run;
    LatenessProbe probe;
    ProgressWatch watch(&probe);
    qApp->installEventFilter(&watch);
    // A notice would wait for a click: it is noted and closed.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&run] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            run.notices.append(box->text());
            box->reject();
        }
    });
    closer.start(200);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QWidget* viewport = tree->viewport();
    const QPointF at(viewport->rect().center());
    BenchRun::runEventsFor(300);
    probe.start();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    const qint64 end = probe.now();
    BenchRun::runEventsFor(200);
    probe.stop();
    closer.stop();
    qApp->removeEventFilter(&watch);
    run.totalMs = double(end) / 1e6;
    run.dialogShown = watch.dialogs > 0;
    if (watch.closedAt >= 0) {
        run.storedMs = double(watch.closedAt) / 1e6;
        run.worstStoringMs = probe.worstMs(0, watch.closedAt);
        run.worstAfterMs = probe.worstMs(watch.closedAt + 1);
        run.worstCpuStoringMs = probe.worstCpuMs(0, watch.closedAt);
        run.worstCpuAfterMs = probe.worstCpuMs(watch.closedAt + 1);
    }
    run.worstMs = probe.worstMs();
    run.tableRows = table->model()->rowCount();
    return run;
}

// The total time before the time-bounded slices, as a multiple of the same
// run's plain way (a loaded machine slows both alike), both at 100 000 cues:
// the project file 84.9 s against 19.0 s (cores 2-7), the list 517 s against
// 11.3 s (cores 2 and 3; each of its cues made the window save every cue it
// held).
constexpr double kProjectTotalBefore = 4.46;
constexpr double kListTotalBefore = 45.6;

void print(const char* key, const char* what, int count, const Run& run, double plainMs, double totalBefore)
{
    std::printf("%s of %d cues, dropped on the playlist tree: %.0f ms in all, %.0f ms until the progress dialog "
                "closed; the table shows %d rows\n",
                what, count, run.totalMs, run.storedMs, run.tableRows);
    for (const QString& notice : run.notices)
        std::printf("  notice shown: %s\n", qPrintable(QString(notice).replace('\n', " / ")));
    std::printf("%s_import_gui_lateness_worst: %.1f ms (target ≤ %.0f)\n", key, run.worstMs, kLatenessTargetMs);
    std::printf("  of it until the progress dialog closed: %.1f ms; the tree's reload and the table's load of "
                "the new playlist after it: %.1f ms\n",
                run.worstStoringMs, run.worstAfterMs);
    std::printf("  the GUI thread's own CPU time between two ticks, worst: %.1f ms until the progress dialog "
                "closed, %.1f ms after it\n",
                run.worstCpuStoringMs, run.worstCpuAfterMs);
    std::printf("%s_import_total: %.0f ms (target ≤ %.0f)\n", key, run.totalMs, totalBefore * plainMs);
    std::printf("  the target: %.2f x the plain way's time, as it took before the change\n", totalBefore);
    std::printf("  baseline, the file read and parsed and the same cues and rows stored in one transaction, no "
                "GUI: %.0f ms\n",
                plainMs);
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    BenchShow::useWindowEnvironment(dir, "dummy");
    QApplication app(argc, argv);
    Startup::setApplicationNames();
    Startup::limitGlobalThreadPool();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    const QStringList args = app.arguments();
    const int count = std::max(1, argument(args, QStringLiteral("--cues"), 100000));
    const int onlyAt = int(args.indexOf(QStringLiteral("--only")));
    const QString only = onlyAt >= 0 && onlyAt + 1 < args.size() ? args[onlyAt + 1] : QString();
    const bool runProject = only.isEmpty() || only == QLatin1String("crv");
    const bool runM3u8 = only.isEmpty() || only == QLatin1String("m3u8");

    std::printf("Making %d WAV files, a %d-cue project file and a %d-entry M3U8 list...\n", kAudioFiles, count,
                count);
    std::fflush(stdout);
    AudioSet audio;
    if (!makeAudio(dir.filePath(QStringLiteral("audio")), audio)) {
        std::fprintf(stderr, "ffmpeg could not make the audio\n");
        return 1;
    }
    const QString lists = dir.filePath(QStringLiteral("lists"));
    QDir().mkpath(lists);
    const QString projectPath = lists + QStringLiteral("/大型工程.crv");
    const QString m3u8Path = lists + QStringLiteral("/大型列表.m3u8");
    for (const auto& [path, bytes] : {std::pair{projectPath, projectFile(audio, count)},
                                      std::pair{m3u8Path, m3u8File(audio, count, lists)}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
    }
    std::printf("  project file %.1f MB, list %.1f MB\n", double(QFileInfo(projectPath).size()) / 1e6,
                double(QFileInfo(m3u8Path).size()) / 1e6);

    DatabaseManager* db = DatabaseManager::instance();
    if (!db->initialize(dir.filePath(QStringLiteral("bench.db"))))
        return 1;
    const int show = BenchShow::storePlaylist(QStringLiteral("演出"), audio.paths.mid(0, 20), 2000);
    if (show < 0)
        return 1;

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("trackList"));
    if (!tree || !table)
        return 1;
    BenchShow::clickTreeRow(tree, show);
    BenchRun::runEventsFor(500);
    if (table->model()->rowCount() != 20) {
        std::fprintf(stderr, "the show's playlist is not shown\n");
        return 1;
    }

    LatenessProbe idle;
    idle.start();
    BenchRun::runEventsFor(2000);
    idle.stop();

    // Baselines first: the page cache holds both files for the imports too.
    const double plainProject = runProject ? plainProjectMs(projectPath) : 0.0;
    const double plainM3u8 = runM3u8 ? plainM3u8Ms(m3u8Path) : 0.0;
    if (plainProject < 0 || plainM3u8 < 0) {
        std::fprintf(stderr, "the plain import failed\n");
        return 1;
    }

    Run project;
    Run m3u8;
    if (runProject) {
        BenchShow::clickTreeRow(tree, show);
        BenchRun::runEventsFor(500);
        project = dropOn(tree, table, projectPath);
    }
    if (runM3u8) {
        BenchShow::clickTreeRow(tree, show);
        BenchRun::runEventsFor(500);
        m3u8 = dropOn(tree, table, m3u8Path);
    }

    std::printf("\nPlaylist file imports into the main window, %d cues each (16 ms timer on the idle window: "
                "worst %.1f ms late)\n",
                count, idle.worstMs());
    if (runProject)
        print("crv", "project file (.crv)", count, project, plainProject, kProjectTotalBefore);
    if (runM3u8)
        print("m3u8", "M3U8 list", count, m3u8, plainM3u8, kListTotalBefore);
    if ((runProject && !project.dialogShown) || (runM3u8 && !m3u8.dialogShown))
        std::printf("  (a progress dialog was not made for every import)\n");
    return 0;
}
