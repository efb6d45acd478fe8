#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

template <typename T>
class QFutureWatcher;

// Whether the files of the shown cues exist, known without touching the disk
// while the table paints. A path is looked up on disk the first time it is
// asked for; after that only recheck() looks again, on a pool thread, and
// reports the paths whose answer changed.
class FileExistenceCache : public QObject {
    Q_OBJECT

public:
    explicit FileExistenceCache(QObject* parent = nullptr);
    ~FileExistenceCache() override;

    // GUI thread. An empty path never exists.
    bool exists(const QString& path);

    // Looks at the given paths again in the background; paths asked for while
    // a check runs are checked after it.
    void recheck(const QStringList& paths);
    bool isChecking() const { return m_watcher != nullptr; }

    // How often exists() had to ask the disk itself.
    int diskLookups() const { return m_diskLookups; }

    // The next question about a path goes to the disk again.
    void forget(const QString& path);
    void clear();

Q_SIGNALS:
    void existenceChanged(QStringList paths);

private:
    void startCheck();
    void onCheckFinished();

    QHash<QString, bool> m_exists;
    QSet<QString> m_waiting;
    int m_diskLookups = 0;
    QFutureWatcher<QHash<QString, bool>>* m_watcher = nullptr;
};
