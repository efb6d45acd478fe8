#include "app/DurationRepair.h"

#include "audiofile/AudioFileProbe.h"
#include "platform/FileWorkPool.h"
#include "platform/PoolTask.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <mutex>

namespace {

std::mutex& probeMutex()
{
    static std::mutex mutex;
    return mutex;
}

DurationRepair::ProbeFunction& replacedProbe()
{
    static DurationRepair::ProbeFunction probe;
    return probe;
}

DurationRepair::ProbeFunction currentProbe()
{
    std::lock_guard lock(probeMutex());
    const DurationRepair::ProbeFunction probe = replacedProbe();
    return probe ? probe : DurationRepair::ProbeFunction(&probeDurationMs);
}

}  // namespace

void DurationRepair::setProbeFunction(ProbeFunction probe)
{
    std::lock_guard lock(probeMutex());
    replacedProbe() = std::move(probe);
}

DurationRepair::DurationRepair(QObject* parent)
    : QObject(parent)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
}

DurationRepair::~DurationRepair()
{
    m_cancelled->store(true);
}

void DurationRepair::start(const QList<Item>& items)
{
    if (m_watcher)
        return;
    m_watcher = new QFutureWatcher<Check>(this);
    connect(m_watcher, &QFutureWatcher<Check>::resultsReadyAt, this, &DurationRepair::onChecksReady);
    connect(m_watcher, &QFutureWatcher<Check>::finished, this, &DurationRepair::finished);

    // The future itself is never cancelled (a cancelled future drops results
    // not yet delivered); the task watches its own flag instead.
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    const ProbeFunction probe = currentProbe();
    m_watcher->setFuture(PoolTask::runWithPromise<Check>(
        FileWorkPool::instance(), [items, cancelled, probe](QPromise<Check>& promise) {
            for (int i = 0; i < items.size(); ++i) {
                if (cancelled->load())
                    return;
                const Item& item = items.at(i);
                Check check;
                check.index = i;
                check.cueId = item.cueId;
                if (!item.filePath.isEmpty() && QFileInfo::exists(item.filePath)) {
                    const qint64 found = probe(item.filePath);
                    if (found >= 1 && found != item.durationMs)
                        check.foundMs = found;
                }
                promise.addResult(check);
            }
        }));
}

void DurationRepair::cancel()
{
    m_cancelled->store(true);
}

bool DurationRepair::isFinished() const
{
    return !m_watcher || m_watcher->isFinished();
}

void DurationRepair::onChecksReady(int begin, int end)
{
    for (int i = begin; i < end; ++i) {
        const Check check = m_watcher->resultAt(i);
        if (check.foundMs > 0)
            Q_EMIT durationFound(check.cueId, check.foundMs);
        Q_EMIT progressed(check.index + 1);
    }
}
