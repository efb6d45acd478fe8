#include "app/Startup.h"

#include "app/AppConstants.h"
#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QSqlDatabase>
#include <QThread>
#include <QThreadPool>
#include <QTranslator>

#include <algorithm>

namespace Startup {

int poolThreadCount(int idealThreadCount)
{
    return std::clamp(idealThreadCount, 2, 8);
}

void limitGlobalThreadPool()
{
    QThreadPool::globalInstance()->setMaxThreadCount(poolThreadCount(QThread::idealThreadCount()));
}

QTranslator* installUiTranslator(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    const QStringList languages = QLocale::system().uiLanguages();
    for (const QString& language : languages) {
        const QString baseName = QStringLiteral("UI_") + QLocale(language).name();
        if (translator->load(QStringLiteral(":/i18n/") + baseName)) {
            app.installTranslator(translator);
            return translator;
        }
    }
    delete translator;
    return nullptr;
}

void setApplicationNames()
{
    QCoreApplication::setOrganizationName(AppConstants::kOrganizationName);
    QCoreApplication::setApplicationName(AppConstants::kApplicationName);
}

bool isSqlDriverAvailable()
{
    return QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"));
}

void closeOnTerminationSignals(QApplication& app)
{
    auto* termination = new TerminationSignals(&app);
    QObject::connect(termination, &TerminationSignals::terminationRequested, &app, [](int signalNumber) {
        qWarning().noquote() << "Received" << TerminationSignals::signalName(signalNumber) << "- closing";
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);  // also when a window refused to close
    });
}

}  // namespace Startup
