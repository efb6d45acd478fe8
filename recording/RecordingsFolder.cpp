#include "recording/RecordingsFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString kFolderName = QStringLiteral("Recordings");
}

QString RecordingsFolder::besideProgram()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + kFolderName;
}

QString RecordingsFolder::inDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + kFolderName;
}

bool RecordingsFolder::prepare(const QString& folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString RecordingsFolder::resolve()
{
    const QString beside = besideProgram();
    if (prepare(beside))
        return beside;
    const QString data = inDataFolder();
    if (prepare(data))
        return data;
    return QString();
}

QString RecordingsFolder::uniqueFilePath(const QString& folder, const QString& word, const QDateTime& time,
                                         const QString& suffix)
{
    const QString stem = folder + QLatin1Char('/') + word + QLatin1Char('_')
                         + time.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    QString path = stem + QLatin1Char('.') + suffix;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QLatin1Char('_') + QString::number(n) + QLatin1Char('.') + suffix;
    return path;
}
