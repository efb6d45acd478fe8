#include "app/DatabaseStartup.h"

#include "model/DatabaseManager.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStorageInfo>

namespace {

// Less than this left on the data folder's disk: SQLite cannot even start
// its write-ahead log.
constexpr qint64 kFullDiskBytes = 256 * 1024;

bool writable(const QFileInfo& info)
{
    return info.exists() && info.isWritable();
}

}  // namespace

DatabaseStartup::Reason DatabaseStartup::classify(const QString& path, const DatabaseIntegrity::Check& check,
                                                  const QString& errorText)
{
    if (check.state == DatabaseIntegrity::State::NotADatabase)
        return Reason::NotADatabase;
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!writable(folder) || (file.exists() && !file.isWritable())
        || errorText.contains(QLatin1String("readonly"), Qt::CaseInsensitive)
        || errorText.contains(QLatin1String("permission"), Qt::CaseInsensitive))
        return Reason::NoPermission;
    const QStorageInfo storage(folder.absoluteFilePath());
    if (errorText.contains(QLatin1String("disk is full"), Qt::CaseInsensitive)
        || (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < kFullDiskBytes))
        return Reason::DiskFull;
    if (check.state == DatabaseIntegrity::State::Damaged)
        return Reason::DamagedNoCopy;
    return Reason::Other;
}

QString DatabaseStartup::failureText(const QString& path, Reason reason, const QString& errorText)
{
    QString why;
    QString todo;
    switch (reason) {
    case Reason::NotADatabase:
        why = QStringLiteral("该文件不是 SQLite 数据库（文件头已损坏，或不是本程序的数据文件）。");
        todo = QStringLiteral("该文件已原样保留，未做任何改动。请把它移到别处或改名后重新启动程序，程序会新建一个空的数据库；"
                              "原文件可交给技术支持尝试恢复。");
        break;
    case Reason::NoPermission:
        why = QStringLiteral("没有写入权限：数据文件夹或数据库文件是只读的。");
        todo = QStringLiteral("请确认当前用户可以写入该文件夹（磁盘没有以只读方式挂载），然后重新启动程序。");
        break;
    case Reason::DiskFull:
        why = QStringLiteral("磁盘已满。");
        todo = QStringLiteral("请清理该磁盘的空间后重新启动程序。");
        break;
    case Reason::DamagedNoCopy:
        why = QStringLiteral("数据库文件已损坏，而且无法在它旁边保存一份备份，所以没有修复它。");
        todo = QStringLiteral("请确认该文件夹可写、磁盘有空闲空间，然后重新启动程序；程序会先备份损坏的文件再修复。");
        break;
    case Reason::Other:
        why = QStringLiteral("数据库无法打开。");
        todo = QStringLiteral("请检查该文件和所在的磁盘，然后重新启动程序。");
        break;
    }
    QString text = QStringLiteral("无法打开数据库文件：\n%1\n\n原因：%2").arg(QDir::toNativeSeparators(path), why);
    if (!errorText.isEmpty())
        text += QStringLiteral("\n（%1）").arg(errorText);
    text += QStringLiteral("\n\n%1\n\n程序将退出。").arg(todo);
    return text;
}

QString DatabaseStartup::recoveryText(const QString& path, const DatabaseIntegrity::Recovery& recovery)
{
    QString text = QStringLiteral("数据库文件已损坏：\n%1\n\n损坏的文件已原样备份为：\n%2\n\n")
                       .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(recovery.damagedCopy));
    if (recovery.nothingReadable())
        text += QStringLiteral("其中没有能读出的数据，程序已使用一个空的数据库继续运行。");
    else if (recovery.incompleteTables.isEmpty())
        text += QStringLiteral("所有数据都已读出（共 %1 行），程序已用它们继续运行。").arg(recovery.rowsRead);
    else
        text += QStringLiteral("程序已用能读出的数据（共 %1 行）继续运行；部分播放列表、Cue 或波形可能缺失，"
                               "请在演出前检查。")
                    .arg(recovery.rowsRead);
    return text;
}

bool DatabaseStartup::open(DatabaseManager* database, const QString& path, QWidget* parent)
{
    if (!database->initialize(path)) {
        const QString file = database->databasePath();
        const QString error = database->lastErrorText();
        const Reason reason = classify(file, database->startCheck(), error);
        qCritical() << "Failed to initialize database, exiting...";
        QMessageBox box(QMessageBox::Critical, QStringLiteral("无法打开数据库"), failureText(file, reason, error),
                        QMessageBox::Ok, parent);
        box.exec();
        return false;
    }
    const DatabaseIntegrity::Recovery recovery = database->recovery();
    if (recovery.replaced) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("数据库已损坏"),
                        recoveryText(database->databasePath(), recovery), QMessageBox::Ok, parent);
        box.exec();
    }
    return true;
}
