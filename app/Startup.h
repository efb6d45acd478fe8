#pragma once

#include <QString>

class QApplication;
class QTranslator;
class QCoreApplication;

// The steps of start-up that main() runs before the main window exists.
namespace Startup {

// Threads of the global pool for a machine with `idealThreadCount` logical
// processors: at least 2, at most 8.
int poolThreadCount(int idealThreadCount);
void limitGlobalThreadPool();

// Loads the first translation ":/i18n/UI_<locale>" that matches one of the
// system's UI languages and installs it on app. Returns the installed
// translator (owned by app) or nullptr when none matched.
QTranslator* installUiTranslator(QCoreApplication& app);

// Organisation and application names: they select the settings store and the
// application-data folder.
void setApplicationNames();

bool isSqlDriverAvailable();

// SIGTERM and SIGINT close the windows and end the event loop with exit code
// 0, as closing the main window does; the shutdown after the loop is the same.
void closeOnTerminationSignals(QApplication& app);

}  // namespace Startup
