#include "app/AfterFirstPaint.h"
#include "app/DatabaseStartup.h"
#include "app/MainWindow.h"
#include "app/SaveFailureNotice.h"
#include "app/Startup.h"
#include "audiofile/FfmpegLibrary.h"
#include "model/DatabaseManager.h"
#include "platform/FontLanguage.h"
#include "platform/PlatformShell.h"

#include <QApplication>
#include <QDebug>

namespace {

// The longest a worker waits for the window before it loads FFmpeg anyway.
constexpr int kDecoderHoldMs = 2000;

}  // namespace

int main(int argc, char* argv[])
{
    long comError = 0;
    if (!PlatformShell::initializeGuiThread(&comError)) {
        qCritical() << "Failed to initialize COM on Windows, error:" << comError;
        return -1;
    }

    // Workers that start decoding while the window is being built (preloads,
    // loudness scans) wait for it to be painted before they load FFmpeg.
    FfmpegLibrary::holdWorkers(kDecoderHoldMs);
    FontLanguage::useSimplifiedChinese();
    QApplication app(argc, argv);
    Startup::closeOnTerminationSignals(app);
    if (!Startup::isSqlDriverAvailable()) {
        qCritical() << "SQLite driver not available!";
        return -1;
    }
    Startup::limitGlobalThreadPool();
    Startup::installUiTranslator(app);
    Startup::setApplicationNames();

    if (!DatabaseStartup::open(DatabaseManager::instance()))
        return -1;

    int exitCode = 0;
    {
        MainWindow window;
        SaveFailureNotice saveFailures(DatabaseManager::instance(), window.statusBar());
        window.show();
        // The decoder's libraries load behind the painted window, before
        // the first cue is played.
        AfterFirstPaint::run(&window, [] { FfmpegLibrary::warmUp(); });
        exitCode = app.exec();
        PlatformShell::uninitializeGuiThread();
    }  // the window goes before the translator and the application object
    return exitCode;
}
