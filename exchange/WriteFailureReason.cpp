#include "exchange/WriteFailureReason.h"

#include <QDir>
#include <QStringList>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

// Less than this left: nothing of any size fits any more.
constexpr qint64 kNearlyFullBytes = 64 * 1024;

// The folder, or the nearest existing folder above it.
QString existingFolder(const QString& folder)
{
    QString path = QFileInfo(folder).absoluteFilePath();
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

}  // namespace

QString WriteFailureReason::describe(const QString& folder, QFileDevice::FileError error, const QString& errorText,
                                     qint64 neededBytes)
{
    // Qt reports a write refused for want of space (ENOSPC) as a resource error.
    if (error == QFileDevice::ResourceError || errorText.contains(QLatin1String("No space left"), Qt::CaseInsensitive))
        return diskFull();
    if (error == QFileDevice::PermissionsError || errorText.contains(QLatin1String("Permission denied"))
        || errorText.contains(QLatin1String("Read-only file system")))
        return noPermission();
    const QFileInfo target(folder);
    if (target.exists() && !target.isDir())
        return QStringLiteral("目标不是文件夹");
    const QString existing = existingFolder(folder);
    if (!existing.isEmpty()) {
        const QFileInfo info(existing);
        if (!info.isWritable())
            return noPermission();
        const QStorageInfo storage(existing);
        // A short write sets no error of its own: the room left tells.
        if (storage.isValid() && storage.bytesAvailable() >= 0
            && (storage.bytesAvailable() < kNearlyFullBytes || storage.bytesAvailable() < neededBytes))
            return diskFull();
    }
    return errorText.isEmpty() ? QStringLiteral("写入失败") : errorText;
}

void WriteFailureReason::Tally::add(const QString& reason)
{
    const QString text = reason.isEmpty() ? QStringLiteral("原因不明") : reason;
    for (auto& item : m_reasons) {
        if (item.first == text) {
            ++item.second;
            return;
        }
    }
    m_reasons.append({text, 1});
}

QString WriteFailureReason::Tally::text() const
{
    QStringList parts;
    for (const auto& item : m_reasons)
        parts.append(QStringLiteral("%1（%2 个）").arg(item.first).arg(item.second));
    return parts.isEmpty() ? QString() : QStringLiteral("失败原因：") + parts.join(QStringLiteral("；"));
}
