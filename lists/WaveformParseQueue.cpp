#include "lists/WaveformParseQueue.h"

#include "lists/CueText.h"
#include "lists/WaveformParseJob.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/WaveformRows.h"
#include "platform/PoolTask.h"

#include <QFileInfo>
#include <QSet>
#include <QFutureWatcher>
#include <QThreadPool>

#include <algorithm>


WaveformParser::Result WaveformParseQueue::parseFile(const QString& filePath, WaveformParseJob& job)
{
    WaveformParser parser;
    if (!job.attach(&parser))
        return {};
    // parse() clears an earlier stop request as it begins; one that came in
    // meanwhile is passed on again once it has begun.
    QObject::connect(&parser, &WaveformParser::parsingStarted, [&parser, &job] {
        if (job.isCancelled())
            parser.cancel();
    });
    WaveformParser::Result result = parser.parse(filePath, Cue::kWaveformTargetPoints);
    job.detach();
    return result;
}

WaveformParseQueue::WaveformParseQueue(QObject* parent)
    : WaveformParseRequester(parent)
    , m_parse(&WaveformParseQueue::parseFile)
{
}

WaveformParseQueue::~WaveformParseQueue()
{
    for (Watcher* watcher : std::as_const(m_windingDown))
        watcher->disconnect(this);
    if (m_watcher) {
        m_watcher->disconnect(this);
        if (!m_watcher->isFinished()) {
            m_job->cancel();
            m_watcher->cancel();
            m_watcher->waitForFinished();
        }
    }
}

void WaveformParseQueue::setParseFunction(ParseFunction parse)
{
    m_parse = parse ? std::move(parse) : ParseFunction(&WaveformParseQueue::parseFile);
}

QList<Cue*> WaveformParseQueue::queuedCues() const
{
    QList<Cue*> cues;
    for (const QPointer<Cue>& cue : m_queue)
        cues.append(cue.data());
    return cues;
}

bool WaveformParseQueue::fileUsable(Cue* cue) const
{
    const QString path = cue->filePath();
    return !path.isEmpty() && QFileInfo::exists(path);
}

void WaveformParseQueue::enqueueWaveformParse(Cue* cue, bool priority)
{
    if (!cue || m_cache.contains(cue))
        return;
    if (!cue->waveform().isEmpty()) {
        m_cache.insert(cue, cue->waveform());
        return;
    }
    // A cue of a playlist not shown yet: its peaks are read when it is first
    // asked for, and parsed only when none are stored.
    if (loadStoredPeaks(cue)) {
        Q_EMIT waveformUpdated(cue);
        return;
    }
    if (!fileUsable(cue))
        return;

    if (priority) {
        if (m_parsing && m_watcher) {
            if (m_runningCue == cue)
                return;
            abandonRunningParse();
        }
        m_queue.removeAll(cue);
        m_queue.prepend(cue);
        m_pending.insert(cue);
        if (!m_parsing)
            processNextParseTask();
        return;
    }

    // Every queued cue is pending too, so one look answers both.
    if (m_pending.contains(cue))
        return;
    m_queue.append(cue);
    m_pending.insert(cue);
    if (!m_parsing)
        processNextParseTask();
}

void WaveformParseQueue::loadOrParse(const QList<Cue*>& cues)
{
    if (cues.isEmpty())
        return;
    // The stored peaks of every cue that needs them, in a few statements
    // rather than one per cue.
    QList<Cue*> unknown;
    QList<int> ids;
    for (Cue* cue : cues) {
        if (!cue || m_cache.contains(cue))
            continue;
        if (!cue->waveform().isEmpty()) {
            m_cache.insert(cue, cue->waveform());
            continue;
        }
        unknown.append(cue);
        if (cue->id() > 0)
            ids.append(cue->id());
    }
    const QHash<int, QList<float>> stored =
        ids.isEmpty() ? QHash<int, QList<float>>() : WaveformRows(*DatabaseManager::instance()).loadPeaksOf(ids);
    QList<Cue*> unstored;
    for (Cue* cue : std::as_const(unknown)) {
        const auto peaks = stored.constFind(cue->id());
        if (peaks != stored.constEnd())
            adoptStoredPeaks(cue, *peaks);
        else
            unstored.append(cue);
    }
    queueForParse(unstored);
}

void WaveformParseQueue::queueForParse(const QList<Cue*>& cues)
{
    for (Cue* cue : cues) {
        if (!cue || m_cache.contains(cue) || m_pending.contains(cue))
            continue;
        if (!cue->waveform().isEmpty()) {
            m_cache.insert(cue, cue->waveform());
            continue;
        }
        m_queue.append(cue);
        m_pending.insert(cue);
    }
    if (!m_queue.isEmpty() && !m_parsing)
        processNextParseTask();
}

void WaveformParseQueue::adoptStoredPeaks(Cue* cue, const QList<float>& peaks)
{
    cue->setWaveform(peaks);
    // They came from the database; nothing to write back.
    cue->clearWaveformDirty();
    m_cache.insert(cue, peaks);
}

bool WaveformParseQueue::loadStoredPeaks(Cue* cue)
{
    if (cue->id() < 1)
        return false;
    QList<float> peaks;
    int targetPoints = 0;
    if (!DatabaseManager::instance()->loadWaveformDataCompressed(cue->id(), peaks, &targetPoints)
        || peaks.isEmpty())
        return false;
    adoptStoredPeaks(cue, peaks);
    return true;
}

int WaveformParseQueue::windingDownAllowed()
{
    // Every parse holds a pool thread; one of them stays free for Qt's
    // painting, which splits large fills into jobs on the global pool and
    // waits for them. On two threads a displaced parse therefore ends before
    // the next one starts.
    return std::clamp(QThreadPool::globalInstance()->maxThreadCount() - 2, 0, kMaxWindingDown);
}

void WaveformParseQueue::processNextParseTask()
{
    if (m_parsing || m_windingDown.size() > windingDownAllowed())
        return;
    m_parsing = true;
    Cue* cue = takeNextParsable();
    if (!cue) {
        m_parsing = false;
        return;
    }
    Q_EMIT waveformParseStatus(
        tr("正在解析波形: %1 (剩余 %2)").arg(CueText::shortName(*cue)).arg(m_queue.size()), 2000);
    startParse(cue);
}

Cue* WaveformParseQueue::takeNextParsable()
{
    while (!m_queue.isEmpty()) {
        Cue* cue = m_queue.takeFirst().data();
        if (!cue)
            continue;
        if (m_cache.contains(cue) || !fileUsable(cue)) {
            m_pending.remove(cue);
            continue;
        }
        if (!cue->waveform().isEmpty()) {
            m_cache.insert(cue, cue->waveform());
            m_pending.remove(cue);
            continue;
        }
        return cue;
    }
    return nullptr;
}

void WaveformParseQueue::startParse(Cue* cue)
{
    auto job = std::make_shared<WaveformParseJob>();
    auto* watcher = new Watcher(this);
    m_watcher = watcher;
    m_job = job;
    m_runningCue = cue;

    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, guarded = QPointer<Cue>(cue), job] { onParseFinished(watcher, guarded, job); });

    // The task gets copies only: the path, the parse function and the job.
    watcher->setFuture(PoolTask::run(QThreadPool::globalInstance(),
                                         [parse = m_parse, path = cue->filePath(), job]() -> QList<float> {
                                             if (job->isCancelled())
                                                 return {};
                                             const WaveformParser::Result result = parse(path, *job);
                                             job->setDurationMs(result.durationMs);
                                             return result.peaks;
                                         }));
}

void WaveformParseQueue::onParseFinished(Watcher* watcher, QPointer<Cue> cue, std::shared_ptr<WaveformParseJob> job)
{
    if (watcher != m_watcher) {
        // Not the parse the queue waits for (it was displaced meanwhile).
        watcher->deleteLater();
        return;
    }
    m_watcher = nullptr;
    m_job.reset();
    m_runningCue = nullptr;
    watcher->deleteLater();

    Cue* const parsed = cue.data();
    if (!watcher->isCanceled() && parsed) {
        const QList<float> peaks = watcher->future().resultCount() > 0 ? watcher->result() : QList<float>();
        const qint64 duration = job->durationMs();
        if (duration > 0) {
            // A cue without a length, or whose region ended at the old end of
            // the file, follows the file as it really is.
            if (cue->durationMs() < 1 || (cue->loopEndMs() >= 1 && cue->loopEndMs() == cue->durationMs())) {
                cue->setDuration(duration);
                cue->setLoopRange(cue->loopStartMs(), duration, false);
                cue->saveToDatabase(false);
            }
            Q_EMIT durationParsed(cue);
        }
        if (cue && !peaks.isEmpty()) {
            m_cache.insert(cue, peaks);
            cue->setWaveform(peaks);
            cue->saveToDatabase(true);
            Q_EMIT waveformUpdated(cue);
            Q_EMIT waveformParseStatus(tr("波形解析完成: %1").arg(CueText::shortName(*cue)), 1500);
        }
        // A failed parse leaves no peaks behind: a later request tries again.
        m_pending.remove(parsed);
    }
    m_parsing = false;
    processNextParseTask();
}

void WaveformParseQueue::abandonRunningParse()
{
    Watcher* watcher = m_watcher;
    Cue* cue = m_runningCue;
    m_job->cancel();
    watcher->disconnect(this);
    watcher->cancel();
    letWindDown(watcher);
    m_watcher = nullptr;
    m_job.reset();
    m_runningCue = nullptr;
    m_parsing = false;
    // Parsed again later, from the end of the queue.
    if (cue && !m_queue.contains(cue))
        m_queue.append(cue);
}

void WaveformParseQueue::letWindDown(Watcher* watcher)
{
    if (watcher->isFinished()) {
        watcher->deleteLater();
        return;
    }
    m_windingDown.append(watcher);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        m_windingDown.removeOne(watcher);
        watcher->deleteLater();
        processNextParseTask();
    });
}

void WaveformParseQueue::clearParseQueue()
{
    if (m_watcher) {
        m_job->cancel();
        m_watcher->disconnect(this);
        m_watcher->cancel();
        letWindDown(m_watcher);
        m_watcher = nullptr;
        m_job.reset();
        m_runningCue = nullptr;
    }
    m_queue.clear();
    m_pending.clear();
    m_parsing = false;
}

void WaveformParseQueue::stopWaveformParsing()
{
    // The running parse is cancelled through its job in every case, so there
    // is no need to find out which parser's signal called us.
    clearParseQueue();
}

void WaveformParseQueue::forgetCue(Cue* cue)
{
    if (!cue)
        return;
    m_cache.remove(cue);
    m_pending.remove(cue);
    m_queue.removeAll(cue);
    if (m_parsing && m_watcher && m_runningCue == cue) {
        // Its result has nowhere to go; free the pool for the next cue.
        abandonRunningParse();
        m_queue.removeAll(cue);
        m_pending.remove(cue);
        processNextParseTask();
    }
}
