#include "lists/FileExistenceCache.h"

#include "platform/FileWorkPool.h"
#include "platform/PoolTask.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QThreadPool>

FileExistenceCache::FileExistenceCache(QObject* parent)
    : QObject(parent)
{
}

FileExistenceCache::~FileExistenceCache()
{
    // A running check only touches its own copy of the paths; its answer is
    // simply not wanted any more.
    if (m_watcher)
        m_watcher->disconnect(this);
}

bool FileExistenceCache::exists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const auto it = m_exists.constFind(path);
    if (it != m_exists.constEnd())
        return it.value();
    const bool found = QFileInfo::exists(path);
    ++m_diskLookups;
    m_exists.insert(path, found);
    return found;
}

void FileExistenceCache::recheck(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (!path.isEmpty())
            m_waiting.insert(path);
    }
    if (!m_watcher && !m_waiting.isEmpty())
        startCheck();
}

void FileExistenceCache::forget(const QString& path)
{
    m_exists.remove(path);
}

void FileExistenceCache::clear()
{
    m_exists.clear();
}

void FileExistenceCache::startCheck()
{
    const QStringList paths(m_waiting.cbegin(), m_waiting.cend());
    m_waiting.clear();
    m_watcher = new QFutureWatcher<QHash<QString, bool>>(this);
    connect(m_watcher, &QFutureWatcherBase::finished, this, &FileExistenceCache::onCheckFinished);
    m_watcher->setFuture(PoolTask::run(FileWorkPool::instance(), [paths] {
        QHash<QString, bool> found;
        found.reserve(paths.size());
        for (const QString& path : paths)
            found.insert(path, QFileInfo::exists(path));
        return found;
    }));
}

void FileExistenceCache::onCheckFinished()
{
    const QHash<QString, bool> found = m_watcher->result();
    m_watcher->deleteLater();
    m_watcher = nullptr;

    QStringList changed;
    for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
        const auto known = m_exists.constFind(it.key());
        if (known != m_exists.constEnd() && known.value() != it.value())
            changed.append(it.key());
        m_exists.insert(it.key(), it.value());
    }
    if (!changed.isEmpty())
        Q_EMIT existenceChanged(changed);
    if (!m_waiting.isEmpty())
        startCheck();
}
