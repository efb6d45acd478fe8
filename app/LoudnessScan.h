#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

template <typename T>
class QFutureWatcher;

// Measures the loudness of cue files on the global thread pool, one pool task
// per cue, and reports each result on the GUI thread. The tasks get copies of
// the ids and paths and touch nothing else.
//
// Tasks are queued at a pool priority: a lower one lets work queued later at
// a higher one (the selected cue's waveform) run first. Cancelling skips the
// cues whose task has not started yet; a measurement under way is not
// interrupted, and nothing more is reported. Deleting a scan cancels it.
class LoudnessScan : public QObject {
    Q_OBJECT

public:
    struct Item {
        int cueId = -1;
        QString filePath;
    };

    // What every task measures with: measureLufs unless replaced (tests count
    // or hold measurements); an empty function restores measureLufs. Tasks
    // take the function in force when they are queued.
    using MeasureFunction = std::function<double(const QString& filePath)>;
    static void setMeasureFunction(MeasureFunction measure);

    // id tags every report of this scan.
    explicit LoudnessScan(int id, QObject* parent = nullptr);
    ~LoudnessScan() override;

    int id() const { return m_id; }
    // Queues one task per cue (ids below 1 and repeated ids are left out);
    // with none queued, finished is emitted at once.
    void start(const QList<Item>& items, int poolPriority);
    void cancel();
    bool isCancelled() const;
    // The cue's measurement is queued or running and not reported yet.
    bool isMeasuring(int cueId) const { return !isCancelled() && m_running.contains(cueId); }
    int pendingCount() const { return int(m_running.size()); }

Q_SIGNALS:
    // lufs is the integrated loudness, or -100 and below when the file could
    // not be measured.
    void cueMeasured(int scanId, int cueId, const QString& filePath, double lufs);
    // Every task has reported (never after a cancel).
    void finished(int scanId);

private:
    void onTaskFinished(QFutureWatcher<double>* watcher, int cueId, const QString& filePath);

    int m_id = 0;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    QHash<int, QFutureWatcher<double>*> m_running;
};
