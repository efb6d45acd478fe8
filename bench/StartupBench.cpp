// Start-up of the program with a large database: 10 000 stored cues (peaks
// stored with them) in 50 playlists, the last one selected when the program
// was last closed. Measured from starting the process to the main window
// shown with that playlist in its table, as a user waits for it: the
// program's start-up steps (database, cue registry, window) run in a child
// process, timed by this one. The baseline, measured in the same run, is a
// child that shows a bare Qt main window: the process, Qt and the platform
// start the same way for both, so the difference is the program's own.
//
//   StartupBench [--cues N] [--playlists N] [--runs N]
//   (QT_QPA_PLATFORM chooses the platform; offscreen when unset)
#include "BenchRun.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "platform/FontLanguage.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kTargetMs = 1500.0;

int argument(const QStringList& args, const QString& name, int fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

bool waitForPaint(QWidget& window)
{
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// The program's start-up as main() runs it, until the window shows the
// playlist it was closed with (expectedRows rows).
int runProgram(int argc, char** argv, int expectedRows)
{
    FontLanguage::useSimplifiedChinese();
    QApplication app(argc, argv);
    if (!Startup::isSqlDriverAvailable())
        return 2;
    Startup::limitGlobalThreadPool();
    Startup::installUiTranslator(app);
    Startup::setApplicationNames();
    if (!DatabaseManager::instance()->initialize(QString()))
        return 3;
    MainWindow window;
    window.show();
    if (!waitForPaint(window))
        return 5;
    auto* table = window.findChild<QTableView*>(QStringLiteral("trackList"));
    if (!table || table->model()->rowCount() != expectedRows)
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    return 0;
}

int runBareWindow(int argc, char** argv)
{
    FontLanguage::useSimplifiedChinese();
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1171, 672);
    window.show();
    if (!waitForPaint(window))
        return 5;
    std::printf("ready\n");
    std::fflush(stdout);
    return 0;
}

// Wall time from starting the child to its "ready", or -1.
double timeChild(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    child.start(program, args);
    while (child.state() != QProcess::NotRunning || child.bytesAvailable() > 0) {
        if (child.canReadLine() && child.readLine().startsWith("ready")) {
            const double ms = double(timer.nsecsElapsed()) / 1e6;
            child.waitForFinished(30000);
            return ms;
        }
        if (timer.elapsed() > 60000)
            break;
        child.waitForReadyRead(50);
    }
    child.kill();
    child.waitForFinished();
    std::fprintf(stderr, "child failed (exit %d): %s\n", child.exitCode(), child.readAllStandardError().constData());
    return -1.0;
}

bool storeLibrary(const QString& folder, int cueCount, int playlistCount, int* lastPlaylist, int* lastRows)
{
    DatabaseManager* db = DatabaseManager::instance();
    QDir().mkpath(folder);
    const QList<float> peaks(Cue::kWaveformTargetPoints, 0.5f);
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
        QList<int> ids;
        for (int i = 0; i < count; ++i, ++made) {
            const QString path = QStringLiteral("%1/track %2.mp3").arg(folder).arg(made, 5, 10, QLatin1Char('0'));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write("ID3");
            Cue cue(-1, QStringLiteral("Cue %1").arg(made), path);
            cue.setDuration(180000 + made);
            cue.setLoopRange(0, 180000 + made, true);
            cue.setColor(made % 7 == 0 ? QStringLiteral("#4a5a6a") : QString());
            cue.setWaveform(peaks);
            if (!cue.saveToDatabase(true))
                return false;
            ids.append(cue.id());
        }
        db->beginTransaction();
        for (int i = 0; i < ids.size(); ++i)
            db->insertPlaylistSong(group.id, ids[i], i);
        if (!db->commitTransaction())
            return false;
        *lastPlaylist = group.id;
        *lastRows = count;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    if (argc >= 3 && QByteArray(argv[1]) == "--child-program")
        return runProgram(argc, argv, QByteArray(argv[2]).toInt());
    if (argc >= 2 && QByteArray(argv[1]) == "--child-bare")
        return runBareWindow(argc, argv);

    QTemporaryDir dir;
    // The children find the database and the settings at their default
    // places under these folders.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cueCount = argument(args, QStringLiteral("--cues"), 10000);
    const int playlistCount = std::max(1, argument(args, QStringLiteral("--playlists"), 50));
    const int runs = std::max(1, argument(args, QStringLiteral("--runs"), 7));
    // Quiet: the children's and the database's warnings are not measured.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    Startup::setApplicationNames();
    std::printf("Storing %d cues in %d playlists...\n", cueCount, playlistCount);
    std::fflush(stdout);
    if (!DatabaseManager::instance()->initialize(QString())) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }
    int lastPlaylist = -1;
    int lastRows = 0;
    if (!storeLibrary(dir.filePath("audio"), cueCount, playlistCount, &lastPlaylist, &lastRows)) {
        std::fprintf(stderr, "could not store the library\n");
        return 1;
    }
    DatabaseManager::instance()->close();
    QSettings().setValue(SettingsKeys::kLastSelectedPlaylistId, lastPlaylist);
    QSettings().sync();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;*.warning=false"));
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> program;
    std::vector<double> bare;
    // One start of each first: the files and libraries in the page cache,
    // as on a machine that has run the program before.
    timeChild(self, {"--child-bare"}, env);
    timeChild(self, {"--child-program", QString::number(lastRows)}, env);
    for (int run = 0; run < runs; ++run) {
        const double b = timeChild(self, {"--child-bare"}, env);
        const double p = timeChild(self, {"--child-program", QString::number(lastRows)}, env);
        if (b < 0 || p < 0)
            return 1;
        bare.push_back(b);
        program.push_back(p);
    }

    std::printf("Start-up to the window shown with the last playlist (%d rows), platform %s, %d runs:\n", lastRows,
                qgetenv("QT_QPA_PLATFORM").constData(), runs);
    std::printf("  bare Qt main window: median %.1f ms; the program: median %.1f ms\n", BenchRun::median(bare),
                BenchRun::median(program));
    std::printf("start-up with %d cues in %d playlists: %.1f ms (target ≤ %.0f ms; a bare Qt window's start of %.1f ms "
                "subtracted)\n",
                cueCount, playlistCount, BenchRun::median(program) - BenchRun::median(bare), kTargetMs, BenchRun::median(bare));
    return 0;
}
