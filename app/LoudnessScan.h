#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

template <typename T>
class QFutureWatcher;
class QThreadPool;

// Measures the loudness of cue files in the background, one task per cue, and reports each result on the GUI thread. The tasks get copies of
// the ids and paths and touch nothing else.
//
// The measurements run on threads of their own, as many at once as the global
// pool may run threads, never on the global pool: Qt's painting splits large
// fills into jobs on the global pool and waits for them, so a pool busy with
// measurements would hold up every repaint until one ends. A measurement
// takes helper threads (decoding ahead) from the global pool only while that
// leaves one of its threads idle (PoolThreadLease), like a measurement of one
// file anywhere else. The scans of the program share the measuring threads by
// priority: a free thread goes to the waiting cue of the scan with the
// highest priority (the playing cue before the table's scan).
//
// Cancelling drops the cues not started yet; a measurement under way is not
// interrupted, and nothing more is reported. Deleting a scan cancels it.
// GUI thread only.
class LoudnessScan : public QObject {
    Q_OBJECT

public:
    struct Item {
        int cueId = -1;
        QString filePath;
    };

    // What every task measures with: measureLufs unless replaced (tests count
    // or hold measurements); an empty function restores measureLufs. Tasks
    // take the function in force when they start.
    using MeasureFunction = std::function<double(const QString& filePath)>;
    static void setMeasureFunction(MeasureFunction measure);

    // id tags every report of this scan; a higher priority is served first.
    LoudnessScan(int id, int priority, QObject* parent = nullptr);
    ~LoudnessScan() override;

    int id() const { return m_id; }
    // Adds the cues (ids below 1 and repeated ids are left out) and starts as
    // many as the pool has room for; with none at all, finished is emitted
    // at once.
    void start(const QList<Item>& items);
    void cancel();
    bool isCancelled() const;
    // The cue's measurement is waiting or running and not reported yet.
    bool isMeasuring(int cueId) const
    {
        return !isCancelled() && (m_running.contains(cueId) || m_waitingIds.contains(cueId));
    }
    int pendingCount() const { return int(m_running.size() + m_waiting.size()); }
    // Drops the cue when its measurement has not started yet (someone else
    // measures it sooner); false when it is not waiting.
    bool takeWaiting(int cueId);
    // Drops every cue not started yet; those under way are still reported,
    // then finished is emitted.
    void dropWaiting();

    // The threads the measurements run on.
    static QThreadPool* measurementPool();

Q_SIGNALS:
    // lufs is the integrated loudness, or -100 and below when the file could
    // not be measured.
    void cueMeasured(int scanId, int cueId, const QString& filePath, double lufs);
    // Every cue has been reported (never after a cancel).
    void finished(int scanId);

private:
    // Hands free pool threads to the waiting cues of every scan, by priority.
    static void dispatchAll();
    // Whether a measuring thread is free.
    static bool poolHasRoom();
    void startNext();
    void onTaskFinished(QFutureWatcher<double>* watcher, int cueId, const QString& filePath);

    int m_id = 0;
    int m_priority = 0;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    QList<Item> m_waiting;
    QSet<int> m_waitingIds;
    QHash<int, QFutureWatcher<double>*> m_running;
    // Others may hold the pool: a scan that waits looks again shortly.
    QTimer m_retryTimer;
};
