// Start-up of the program with a large database, timed from outside as a
// user meets it: 10 000 stored cues in 50 playlists, each cue with the peaks
// of a varied signal stored as its waveform (about 4 KB compressed each) and
// a real 44.1 kHz stereo MP3 file behind it, the last playlist selected when
// the program was last closed. The real executable is started (fork and
// exec) on an X server of the benchmark's own (Xvfb), and the time runs until
// its main window is mapped and painted with the playlist's rows: this
// process reads the window's pixels from the X server every millisecond or
// so. The baseline, in the same run and measured the same way, is a bare Qt
// main window of the same size (BareQtWindow): the process, Qt, the fonts and
// the X connection start the same way for both, so the difference is the
// program's own.
//
//   StartupBench [--cues N] [--playlists N] [--runs N] [--display N] [--keep]
//   (a display number of its own for Xvfb; 173 unless given)
#include "BenchAudio.h"
#include "BenchRun.h"
#include "app/Startup.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "settings/SettingsKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kTargetMs = 300.0;

int argument(const QStringList& args, const QString& name, int fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// The peaks of a varied signal, as the waveform parser gives them for music:
// phrases of different loudness, beats, quiet passages, normalised to 1.
QList<float> musicLikePeaks(quint32 seed)
{
    QRandomGenerator rng(seed);
    QList<float> peaks(Cue::kWaveformTargetPoints);
    int i = 0;
    while (i < peaks.size()) {
        const int phrase = 40 + int(rng.bounded(260));
        const double level = 0.15 + rng.generateDouble() * 0.85;
        const double beat = 4 + rng.bounded(12);
        for (int k = 0; k < phrase && i < peaks.size(); ++k, ++i) {
            const double pulse = 0.75 + 0.25 * std::cos(2.0 * M_PI * double(k) / beat);
            peaks[i] = float(level * pulse * (0.55 + 0.45 * rng.generateDouble()));
        }
    }
    const float top = *std::max_element(peaks.cbegin(), peaks.cend());
    for (float& v : peaks)
        v /= top;
    return peaks;
}

bool storeLibrary(const QString& folder, const QString& audio, int cueCount, int playlistCount, int* lastPlaylist,
                  int* lastRows)
{
    DatabaseManager* db = DatabaseManager::instance();
    QDir().mkpath(folder);
    const int perList = cueCount / playlistCount;
    int made = 0;
    for (int list = 0; list < playlistCount; ++list) {
        PlaylistGroup group;
        group.name = QStringLiteral("第%1场").arg(list + 1);
        int sortOrder = 0;
        db->getNextGroupSortOrder(sortOrder);
        if (!db->insertPlaylistGroup(group, sortOrder))
            return false;
        const int count = list + 1 == playlistCount ? cueCount - made : perList;
        if (!db->beginTransaction())
            return false;
        for (int i = 0; i < count; ++i, ++made) {
            // Every cue a file of its own name: hard links of one real MP3.
            const QString path = QStringLiteral("%1/track %2.mp3").arg(folder).arg(made, 5, 10, QLatin1Char('0'));
            if (::link(QFile::encodeName(audio).constData(), QFile::encodeName(path).constData()) != 0
                && !QFile::exists(path))
                return false;
            Cue cue(-1, QStringLiteral("Cue %1").arg(made), path);
            cue.setDuration(180000);
            cue.setLoopRange(0, 180000, true);
            cue.setColor(made % 7 == 0 ? QStringLiteral("#4a5a6a") : QString());
            cue.setWaveform(musicLikePeaks(quint32(made + 1)));
            if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(group.id, cue.id(), i))
                return false;
        }
        if (!db->commitTransaction())
            return false;
        *lastPlaylist = group.id;
        *lastRows = count;
    }
    return true;
}

// The benchmark's own X server.
class Xvfb {
public:
    explicit Xvfb(int display) : m_display(display) {}
    ~Xvfb()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(3000)) {
                m_server.kill();
                m_server.waitForFinished();
            }
        }
    }

    bool start()
    {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(m_display);
        if (QFile::exists(socket)) {
            std::fprintf(stderr, "display :%d is taken; choose another with --display\n", m_display);
            return false;
        }
        // A black root: a window that is mapped but not painted yet shows black.
        m_server.start("Xvfb", {name(), "-screen", "0", "1600x1000x24", "-br", "-nolisten", "tcp"});
        if (!m_server.waitForStarted(5000))
            return false;
        for (int i = 0; i < 500 && !QFile::exists(socket); ++i)
            QThread::msleep(10);
        m_connection = xcb_connect(name().toLatin1().constData(), nullptr);
        if (!m_connection || xcb_connection_has_error(m_connection))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        return true;
    }

    QString name() const { return QStringLiteral(":%1").arg(m_display); }

    // A viewable top-level window at least the size of a main window, or 0.
    xcb_window_t mainWindow(int* width, int* height)
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (!tree)
            return 0;
        xcb_window_t found = 0;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0 && !found; --i) {
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, children[i]), nullptr);
            const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
            if (!viewable)
                continue;
            xcb_get_geometry_reply_t* geometry =
                xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, children[i]), nullptr);
            if (geometry && geometry->width >= 600 && geometry->height >= 400) {
                found = children[i];
                *width = geometry->width;
                *height = geometry->height;
            }
            std::free(geometry);
        }
        std::free(tree);
        return found;
    }

    // One row of the window's pixels (0x00RRGGBB each); empty when it fails.
    std::vector<quint32> row(xcb_window_t window, int y, int width)
    {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, qint16(y), quint16(width), 1, ~0u),
            nullptr);
        std::vector<quint32> pixels;
        if (image && xcb_get_image_data_length(image) >= width * 4) {
            const auto* data = reinterpret_cast<const quint32*>(xcb_get_image_data(image));
            pixels.assign(data, data + width);
        }
        std::free(image);
        return pixels;
    }

private:
    int m_display;
    QProcess m_server;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
};

bool bright(quint32 pixel)
{
    return ((pixel >> 16) & 0xff) > 0x90 || ((pixel >> 8) & 0xff) > 0x90 || (pixel & 0xff) > 0x90;
}

// Starts the program and times it until its window is mapped and painted.
// With rows, painted means the table's rows are drawn as well: bright text
// pixels on rows below the header, left of the playlist panel. -1 on failure.
double timeStart(Xvfb& x, const QString& program, const QProcessEnvironment& env, bool rows)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    child.start(program, {});
    double ms = -1.0;
    while (timer.elapsed() < 30000 && ms < 0.0) {
        if (child.state() == QProcess::NotRunning)
            break;
        int width = 0;
        int height = 0;
        const xcb_window_t window = x.mainWindow(&width, &height);
        if (window) {
            bool painted = false;
            // Rows across the window: any painted (non-black) pixel.
            for (double at : {0.12, 0.3, 0.5, 0.7, 0.9}) {
                const std::vector<quint32> line = x.row(window, int(at * height), width);
                painted = painted || std::any_of(line.cbegin(), line.cend(), [](quint32 p) { return (p & 0xffffff) != 0; });
            }
            if (painted && rows) {
                // Rows of text in the table (the first rows below its header).
                bool text = false;
                for (int y = 45; y < 140 && !text; y += 3) {
                    const std::vector<quint32> line = x.row(window, y, std::max(1, width - 300));
                    text = std::any_of(line.cbegin(), line.cend(), bright);
                }
                painted = text;
            }
            if (painted)
                ms = double(timer.nsecsElapsed()) / 1e6;
        }
        if (ms < 0.0)
            QThread::usleep(500);
    }
    if (ms < 0.0)
        std::fprintf(stderr, "%s: no painted window (state %d, exit %d)\n", qPrintable(program), int(child.state()),
                     child.exitCode());
    child.terminate();
    if (!child.waitForFinished(5000)) {
        child.kill();
        child.waitForFinished();
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    // The program finds its database and settings at their default places
    // under these folders.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cueCount = argument(args, QStringLiteral("--cues"), 10000);
    const int playlistCount = std::max(1, argument(args, QStringLiteral("--playlists"), 50));
    const int runs = std::max(1, argument(args, QStringLiteral("--runs"), 9));
    const int display = argument(args, QStringLiteral("--display"), 173);
    // Keeps the database, settings and files for a look afterwards.
    if (args.contains(QStringLiteral("--keep"))) {
        dir.setAutoRemove(false);
        std::printf("Keeping %s\n", qPrintable(dir.path()));
    }
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    const QString here = QCoreApplication::applicationDirPath();
    const QString programPath = QDir(here).filePath("../app/corvelle");
    const QString barePath = QDir(here).filePath("BareQtWindow");
    if (!QFileInfo(programPath).isExecutable() || !QFileInfo(barePath).isExecutable()) {
        std::fprintf(stderr, "needs %s and %s (build them first)\n", qPrintable(programPath), qPrintable(barePath));
        return 1;
    }

    std::printf("Storing %d cues in %d playlists...\n", cueCount, playlistCount);
    std::fflush(stdout);
    const QString audio = dir.filePath("song.mp3");
    if (!BenchAudio::makeNoiseFile(audio, 180, {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        std::fprintf(stderr, "ffmpeg could not make the audio file\n");
        return 1;
    }
    Startup::setApplicationNames();
    if (!DatabaseManager::instance()->initialize(QString())) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }
    const QString dbPath = DatabaseManager::instance()->databasePath();
    int lastPlaylist = -1;
    int lastRows = 0;
    if (!storeLibrary(dir.filePath("audio"), audio, cueCount, playlistCount, &lastPlaylist, &lastRows)) {
        std::fprintf(stderr, "could not store the library\n");
        return 1;
    }
    DatabaseManager::instance()->close();
    QSettings().setValue(SettingsKeys::kLastSelectedPlaylistId, lastPlaylist);
    QSettings().sync();
    std::printf("  database %.1f MB\n", double(QFileInfo(dbPath).size()) / 1e6);

    Xvfb x(display);
    if (!x.start()) {
        std::fprintf(stderr, "Xvfb %s did not start\n", qPrintable(x.name()));
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;*.warning=false"));
    if (!env.contains(QStringLiteral("SDL_AUDIODRIVER")))
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));

    std::vector<double> program;
    std::vector<double> bare;
    // One start of each first: files and libraries in the page cache, as on
    // a machine that has run the program before.
    timeStart(x, barePath, env, false);
    timeStart(x, programPath, env, true);
    for (int run = 0; run < runs; ++run) {
        const double b = timeStart(x, barePath, env, false);
        QThread::msleep(200);
        const double p = timeStart(x, programPath, env, true);
        QThread::msleep(200);
        if (b < 0 || p < 0)
            return 1;
        bare.push_back(b);
        program.push_back(p);
    }

    std::printf("Start-up of the real executable until its window is painted with the last playlist (%d rows), "
                "Xvfb, %d runs:\n",
                lastRows, runs);
    BenchRun::printRuns("bare Qt main window (baseline)", bare);
    BenchRun::printRuns("the program", program);
    std::printf("start-up with %d cues in %d playlists: %.1f ms (target ≤ %.0f ms; a bare Qt window's start of "
                "%.1f ms subtracted)\n",
                cueCount, playlistCount, BenchRun::median(program) - BenchRun::median(bare), kTargetMs,
                BenchRun::median(bare));
    return 0;
}
