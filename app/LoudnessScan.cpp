#include "app/LoudnessScan.h"

#include "waveform/LoudnessMeasurement.h"

#include <QFutureWatcher>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent/qtconcurrenttask.h>

#include <cmath>
#include <limits>

namespace {

QMutex& measureMutex()
{
    static QMutex mutex;
    return mutex;
}

LoudnessScan::MeasureFunction& replacedMeasure()
{
    static LoudnessScan::MeasureFunction measure;
    return measure;
}

LoudnessScan::MeasureFunction currentMeasure()
{
    QMutexLocker lock(&measureMutex());
    const LoudnessScan::MeasureFunction measure = replacedMeasure();
    return measure ? measure : LoudnessScan::MeasureFunction(&measureLufs);
}

// What a task that was cancelled before it started hands back.
constexpr double kSkipped = std::numeric_limits<double>::quiet_NaN();

}  // namespace

void LoudnessScan::setMeasureFunction(MeasureFunction measure)
{
    QMutexLocker lock(&measureMutex());
    replacedMeasure() = std::move(measure);
}

LoudnessScan::LoudnessScan(int id, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
}

LoudnessScan::~LoudnessScan()
{
    // Tasks still queued skip their cue; the watchers go with this object,
    // so nothing reaches it afterwards.
    cancel();
}

void LoudnessScan::start(const QList<Item>& items, int poolPriority)
{
    const MeasureFunction measure = currentMeasure();
    for (const Item& item : items) {
        if (item.cueId < 1 || m_running.contains(item.cueId))
            continue;
        auto* watcher = new QFutureWatcher<double>(this);
        m_running.insert(item.cueId, watcher);
        const int cueId = item.cueId;
        const QString path = item.filePath;
        connect(watcher, &QFutureWatcher<double>::finished, this,
                [this, watcher, cueId, path] { onTaskFinished(watcher, cueId, path); });
        const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
        watcher->setFuture(QtConcurrent::task([measure, cancelled, path] {
                               return cancelled->load() ? kSkipped : measure(path);
                           })
                               .onThreadPool(*QThreadPool::globalInstance())
                               .withPriority(poolPriority)
                               .spawn());
    }
    if (m_running.isEmpty())
        Q_EMIT finished(m_id);
}

void LoudnessScan::cancel()
{
    m_cancelled->store(true);
    for (QFutureWatcher<double>* watcher : std::as_const(m_running))
        watcher->disconnect(this);
}

bool LoudnessScan::isCancelled() const
{
    return m_cancelled->load();
}

void LoudnessScan::onTaskFinished(QFutureWatcher<double>* watcher, int cueId, const QString& filePath)
{
    const double lufs = watcher->future().result();
    m_running.remove(cueId);
    watcher->deleteLater();
    if (isCancelled() || std::isnan(lufs))
        return;
    const QPointer<LoudnessScan> alive(this);
    Q_EMIT cueMeasured(m_id, cueId, filePath, lufs);
    if (alive && m_running.isEmpty() && !isCancelled())
        Q_EMIT finished(m_id);
}
