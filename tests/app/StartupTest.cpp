#include "app/Startup.h"
#include "app/AppConstants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <csignal>

namespace {

struct ProgramRun {
    bool started = false;
    bool finished = false;
    int exitCode = 0;
    QString output;
};

// Runs the built program with the given environment changes and waits for it
// to end on its own.
ProgramRun runProgram(const QString& program, const QHash<QString, QString>& env,
                      const QString& workingDir = QString(), int timeoutMs = 20000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, {});

    ProgramRun run;
    run.started = process.waitForStarted(5000);
    run.finished = run.started && process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -999;
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

// main() returns -1; the parent sees the low byte of it.
constexpr int kFailedStartExitCode = 255;

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void poolThreadCountIsClamped_data();
    void poolThreadCountIsClamped();
    void globalPoolFollowsThisMachine();
    void namesSelectSettingsAndDataFolder();
    void noMatchingTranslationInstallsNothing();
    void missingSqlDriverEndsStartup();
    void unopenableDatabaseIsExplainedBeforeExit_data();
    void unopenableDatabaseIsExplainedBeforeExit();
    void startsAndKeepsRunningWithItsDatabase();
    void terminationSignalClosesLikeTheWindow_data();
    void terminationSignalClosesLikeTheWindow();
};

void StartupTest::poolThreadCountIsClamped_data()
{
    QTest::addColumn<int>("ideal");
    QTest::addColumn<int>("expected");
    QTest::newRow("unknown") << 0 << 2;
    QTest::newRow("one processor") << 1 << 2;
    QTest::newRow("two") << 2 << 2;
    QTest::newRow("six") << 6 << 6;
    QTest::newRow("eight") << 8 << 8;
    QTest::newRow("sixteen") << 16 << 8;
    QTest::newRow("many") << 128 << 8;
}

void StartupTest::poolThreadCountIsClamped()
{
    QFETCH(int, ideal);
    QFETCH(int, expected);
    QCOMPARE(Startup::poolThreadCount(ideal), expected);
}

void StartupTest::globalPoolFollowsThisMachine()
{
    Startup::limitGlobalThreadPool();
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    QCOMPARE(threads, Startup::poolThreadCount(QThread::idealThreadCount()));
    QVERIFY(threads >= 2 && threads <= 8);
}

void StartupTest::namesSelectSettingsAndDataFolder()
{
    Startup::setApplicationNames();
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Vostrand"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Corvelle"));
}

void StartupTest::noMatchingTranslationInstallsNothing()
{
    // The program carries no translation for this test's locale: start-up
    // goes on with the built-in texts.
    QVERIFY(Startup::installUiTranslator(*QCoreApplication::instance()) == nullptr);
    QCOMPARE(QCoreApplication::translate("MainWindow", "播放"), QStringLiteral("播放"));
}

void StartupTest::missingSqlDriverEndsStartup()
{
    QVERIFY(Startup::isSqlDriverAvailable());

    // A copy of the program beside a qt.conf whose plugin folder is empty
    // finds no SQL driver; only the display plugin is pointed at directly.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("corvelle"));
    QVERIFY(QFile::copy(QStringLiteral(CORVELLE_PROGRAM), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("noplugins")));
    QFile conf(dir.filePath(QStringLiteral("qt.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Paths]\nPlugins=" + dir.filePath(QStringLiteral("noplugins")).toUtf8() + "\n");
    conf.close();

    const QString platforms = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    const ProgramRun run = runProgram(program, {{QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH"), platforms},
                                                {QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data"))}});
    QVERIFY(run.started);
    QVERIFY2(run.finished, "the program kept running without an SQL driver");
    QCOMPARE(run.exitCode, kFailedStartExitCode);
    QVERIFY2(run.output.contains(QStringLiteral("SQLite driver not available!")), qPrintable(run.output));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("data"))));
}

void StartupTest::unopenableDatabaseIsExplainedBeforeExit_data()
{
    QTest::addColumn<QString>("setup");
    // The data folder's parent is a plain file: the folder cannot be made.
    QTest::newRow("data folder cannot be made") << QStringLiteral("blocked folder");
    // A database file whose header is not SQLite's.
    QTest::newRow("garbage header") << QStringLiteral("garbage header");
}

void StartupTest::unopenableDatabaseIsExplainedBeforeExit()
{
    QFETCH(QString, setup);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString dataHome = dir.path();
    QString database;
    if (setup == QLatin1String("blocked folder")) {
        dataHome = dir.filePath(QStringLiteral("not-a-folder"));
        QFile file(dataHome);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    } else {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Vostrand/Corvelle")));
        database = dir.filePath(QStringLiteral("Vostrand/Corvelle/playlist_data.db"));
        QFile file(database);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, '#'));
    }

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(CORVELLE_PROGRAM), {});
    QVERIFY(process.waitForStarted(5000));

    // The program does not vanish: it waits for the operator to read why.
    QString output;
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(process.readAll()))
                                 .contains(QStringLiteral("Failed to initialize database, exiting...")),
                             15000);
    QVERIFY2(!process.waitForFinished(1500), qPrintable(output));

    // Closing the box ends start-up as before.
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), kFailedStartExitCode);
    if (!database.isEmpty()) {
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(4096, '#'));  // the file is kept
    }
}

void StartupTest::startsAndKeepsRunningWithItsDatabase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(CORVELLE_PROGRAM), {});
    QVERIFY(process.waitForStarted(5000));

    const QString database = dir.filePath(QStringLiteral("Vostrand/Corvelle/playlist_data.db"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(database), 10000);
    // The event loop runs: the program stays up until it is told to close.
    QVERIFY(!process.waitForFinished(1500));
    QCOMPARE(process.state(), QProcess::Running);

    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

void StartupTest::terminationSignalClosesLikeTheWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM, a desktop logout") << int(SIGTERM) << "SIGTERM";
    QTest::newRow("SIGINT, Ctrl+C in the terminal") << int(SIGINT) << "SIGINT";
}

void StartupTest::terminationSignalClosesLikeTheWindow()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(CORVELLE_PROGRAM), {});
    QVERIFY(process.waitForStarted(5000));
    const QString database = dir.filePath(QStringLiteral("Vostrand/Corvelle/playlist_data.db"));
    // Open in write-ahead mode: the log exists while the program runs.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(database + QStringLiteral("-wal")), 10000);

    QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
    QVERIFY(process.waitForFinished(10000));
    const QString output = QString::fromLocal8Bit(process.readAll());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(output));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(output.contains(QStringLiteral("Received %1 - closing").arg(name)), qPrintable(output));
    // The shutdown after the event loop ran: the database was closed, which
    // copies its log into the file and removes it.
    QVERIFY(!QFileInfo::exists(database + QStringLiteral("-wal")));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
