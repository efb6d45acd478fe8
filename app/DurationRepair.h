#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

template <typename T>
class QFutureWatcher;

// Measures the length of every cue's file again on a thread of the global
// pool, one cue after another, and reports on the GUI thread each length that
// differs from the stored one and how many cues are done. The task gets
// copies of ids, paths and stored lengths and touches nothing else. A cancel
// stops it before its next cue; what it found before still arrives, ahead of
// finished().
class DurationRepair : public QObject {
    Q_OBJECT

public:
    struct Item {
        int cueId = -1;
        QString filePath;
        qint64 durationMs = 0;  // as stored
    };

    // The length of a file in ms, 0 when it cannot be read: probeDurationMs
    // unless replaced (tests hold or script it); an empty function restores it.
    using ProbeFunction = std::function<qint64(const QString& filePath)>;
    static void setProbeFunction(ProbeFunction probe);

    explicit DurationRepair(QObject* parent = nullptr);
    ~DurationRepair() override;

    void start(const QList<Item>& items);
    void cancel();
    bool isFinished() const;

Q_SIGNALS:
    // The file of the cue is durationMs long, not what was stored.
    void durationFound(int cueId, qint64 durationMs);
    // done cues of the list are checked (skipped ones count).
    void progressed(int done);
    void finished();

private:
    // One per cue, in list order.
    struct Check {
        int index = 0;
        int cueId = -1;
        qint64 foundMs = 0;  // 0: nothing to change
    };
    void onChecksReady(int begin, int end);

    std::shared_ptr<std::atomic_bool> m_cancelled;
    QFutureWatcher<Check>* m_watcher = nullptr;
};
