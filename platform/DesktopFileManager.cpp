#include "platform/DesktopFileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace DesktopFileManager {

void openFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void showFile(const QString& filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance()) {
        openFolder(folder);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message.setArguments({QStringList{QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()).toString()},
                          QString()});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 3000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError())
            openFolder(folder);
    });
}

}  // namespace DesktopFileManager
