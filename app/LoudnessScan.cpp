#include "app/LoudnessScan.h"

#include "platform/PoolTask.h"
#include "waveform/LoudnessMeasurement.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

constexpr int kRetryMs = 5;

// What a task whose scan was cancelled before it started hands back.
constexpr double kSkipped = std::numeric_limits<double>::quiet_NaN();

std::mutex& measureMutex()
{
    static std::mutex mutex;
    return mutex;
}

LoudnessScan::MeasureFunction& replacedMeasure()
{
    static LoudnessScan::MeasureFunction measure;
    return measure;
}

LoudnessScan::MeasureFunction currentMeasure()
{
    std::lock_guard lock(measureMutex());
    const LoudnessScan::MeasureFunction measure = replacedMeasure();
    return measure ? measure : LoudnessScan::MeasureFunction(&measureLufs);
}

// Measurements started and not ended yet, of every scan (a cancelled scan's
// too: they hold their thread until they end).
std::atomic<int> g_measuring{0};

// Every scan that exists, in the order they were made.
QList<LoudnessScan*>& liveScans()
{
    static QList<LoudnessScan*> scans;
    return scans;
}

}  // namespace

void LoudnessScan::setMeasureFunction(MeasureFunction measure)
{
    std::lock_guard lock(measureMutex());
    replacedMeasure() = std::move(measure);
}

LoudnessScan::LoudnessScan(int id, int priority, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_priority(priority)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &LoudnessScan::dispatchAll);
    liveScans().append(this);
}

LoudnessScan::~LoudnessScan()
{
    liveScans().removeAll(this);
    // Started tasks run to their end; the watchers go with this object, so
    // nothing reaches it afterwards.
    cancel();
}

void LoudnessScan::start(const QList<Item>& items)
{
    for (const Item& item : items) {
        if (item.cueId < 1 || m_running.contains(item.cueId) || m_waitingIds.contains(item.cueId))
            continue;
        m_waiting.append(item);
        m_waitingIds.insert(item.cueId);
    }
    if (m_waiting.isEmpty() && m_running.isEmpty()) {
        Q_EMIT finished(m_id);
        return;
    }
    dispatchAll();
}

void LoudnessScan::cancel()
{
    m_cancelled->store(true);
    m_retryTimer.stop();
    m_waiting.clear();
    m_waitingIds.clear();
    for (QFutureWatcher<double>* watcher : std::as_const(m_running))
        watcher->disconnect(this);
}

bool LoudnessScan::takeWaiting(int cueId)
{
    if (!m_waitingIds.remove(cueId))
        return false;
    m_waiting.removeIf([cueId](const Item& item) { return item.cueId == cueId; });
    if (m_waiting.isEmpty() && m_running.isEmpty() && !isCancelled()) {
        // Nothing else to report: the scan has ended. Told from the event
        // loop, not from inside the caller.
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT finished(m_id); }, Qt::QueuedConnection);
    }
    return true;
}

void LoudnessScan::dropWaiting()
{
    const QList<Item> waiting = m_waiting;
    for (const Item& item : waiting)
        takeWaiting(item.cueId);
}

bool LoudnessScan::isCancelled() const
{
    return m_cancelled->load();
}

QThreadPool* LoudnessScan::measurementPool()
{
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool();
        threads->setObjectName(QStringLiteral("LoudnessScan"));
        return threads;
    }();
    // As many threads as the global pool may run, whose limit start-up sets.
    pool->setMaxThreadCount(std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
    return pool;
}

bool LoudnessScan::poolHasRoom()
{
    return g_measuring.load() < measurementPool()->maxThreadCount();
}

void LoudnessScan::dispatchAll()
{
    QList<LoudnessScan*> scans = liveScans();
    std::stable_sort(scans.begin(), scans.end(),
                     [](const LoudnessScan* a, const LoudnessScan* b) { return a->m_priority > b->m_priority; });
    for (LoudnessScan* scan : std::as_const(scans)) {
        while (!scan->m_waiting.isEmpty() && poolHasRoom())
            scan->startNext();
        if (!scan->m_waiting.isEmpty())
            scan->m_retryTimer.start();
    }
}

void LoudnessScan::startNext()
{
    const Item item = m_waiting.takeFirst();
    m_waitingIds.remove(item.cueId);
    auto* watcher = new QFutureWatcher<double>(this);
    m_running.insert(item.cueId, watcher);
    const int cueId = item.cueId;
    const QString path = item.filePath;
    connect(watcher, &QFutureWatcher<double>::finished, this,
            [this, watcher, cueId, path] { onTaskFinished(watcher, cueId, path); });
    const MeasureFunction measure = currentMeasure();
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    ++g_measuring;
    watcher->setFuture(PoolTask::run(
        measurementPool(),
        [measure, cancelled, path] {
            const double lufs = cancelled->load() ? kSkipped : measure(path);
            // Before the result is reported: the next cue may start at once.
            --g_measuring;
            return lufs;
        },
        m_priority));
}

void LoudnessScan::onTaskFinished(QFutureWatcher<double>* watcher, int cueId, const QString& filePath)
{
    const double lufs = watcher->future().result();
    m_running.remove(cueId);
    watcher->deleteLater();
    // The thread is free again: the next waiting cue, of whichever scan.
    dispatchAll();
    if (isCancelled() || std::isnan(lufs))
        return;
    const QPointer<LoudnessScan> alive(this);
    Q_EMIT cueMeasured(m_id, cueId, filePath, lufs);
    if (alive && m_running.isEmpty() && m_waiting.isEmpty() && !isCancelled())
        Q_EMIT finished(m_id);
}
