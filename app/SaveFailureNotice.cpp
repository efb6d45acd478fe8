#include "app/SaveFailureNotice.h"

#include "model/DatabaseManager.h"

#include <QStatusBar>

#include <sqlite3.h>

SaveFailureNotice::SaveFailureNotice(DatabaseManager* database, QStatusBar* statusBar, QObject* parent,
                                     int burstGapMs)
    : QObject(parent)
    , m_statusBar(statusBar)
    , m_burstGapMs(burstGapMs)
{
    connect(database, &DatabaseManager::writeFailed, this, &SaveFailureNotice::onWriteFailed);
}

QString SaveFailureNotice::message(const QString& error, int code)
{
    QString reason;
    switch (code & 0xff) {
    case SQLITE_FULL:
        reason = QStringLiteral("磁盘已满");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        reason = QStringLiteral("没有写入权限");
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        reason = QStringLiteral("数据库文件已损坏，请重新启动程序（会先备份再修复）");
        break;
    case SQLITE_IOERR:
        reason = QStringLiteral("磁盘读写错误");
        break;
    default:
        reason = error;
        break;
    }
    return QStringLiteral("⚠ 保存失败：%1").arg(reason);
}

void SaveFailureNotice::onWriteFailed(const QString& error, int code)
{
    const bool sameBurst = m_sinceLastFailure.isValid() && m_sinceLastFailure.elapsed() < m_burstGapMs;
    m_sinceLastFailure.start();
    if (sameBurst || !m_statusBar)
        return;
    m_statusBar->showMessage(message(error, code), kDisplayMs);
}
