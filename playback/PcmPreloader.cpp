#include "playback/PcmPreloader.h"

#include "audiofile/PcmBuffer.h"
#include "playback/PcmCache.h"
#include "playback/WorkerThread.h"

#include <QDebug>
#include <QFileInfo>
#include <QThread>

#include <mutex>

struct PcmPreloader::Shared {
    // Standard, so ThreadSanitizer sees the requests handed to the worker.
    std::mutex mutex;
    QList<PreloadRequest> queue;
    std::shared_ptr<PcmCache> cache;
    DecodeFunction decode;
    std::shared_ptr<PcmBuffer> active;  // the file being decoded, to cancel at shutdown
};

PcmPreloader::PcmPreloader(std::shared_ptr<PcmCache> cache, DecodeFunction decode)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->cache = std::move(cache);
    m_shared->decode = std::move(decode);
}

PcmPreloader::~PcmPreloader()
{
    shutdown(0);
}

void PcmPreloader::setDecodeFunction(DecodeFunction decode)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->decode = std::move(decode);
}

void PcmPreloader::replaceQueue(const QList<PreloadRequest>& requests)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue = requests;
    if (!m_shared->queue.isEmpty() && !isRunning())
        startWorkerLocked();
}

void PcmPreloader::prioritize(const PreloadRequest& request)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.removeIf([&](const PreloadRequest& r) { return r.filePath == request.filePath; });
    m_shared->queue.prepend(request);
    if (!isRunning())
        startWorkerLocked();
}

void PcmPreloader::clearQueue()
{
    std::lock_guard lock(m_shared->mutex);
    if (m_worker.keepGoing)
        m_worker.keepGoing->store(false);
    m_shared->queue.clear();
}

void PcmPreloader::stopWorker()
{
    std::lock_guard lock(m_shared->mutex);
    if (m_worker.keepGoing)
        m_worker.keepGoing->store(false);
}

bool PcmPreloader::isRunning() const
{
    return m_worker.keepGoing && m_worker.keepGoing->load();
}

QStringList PcmPreloader::queuedPaths() const
{
    std::lock_guard lock(m_shared->mutex);
    QStringList paths;
    for (const PreloadRequest& request : m_shared->queue)
        paths.append(request.filePath);
    return paths;
}

void PcmPreloader::retireWorkerLocked()
{
    // A previous worker has either ended or is finishing its last file with
    // its own run flag cleared; it never takes from the queue again.
    if (m_worker.keepGoing)
        m_worker.keepGoing->store(false);
    m_worker = Worker{};
}

void PcmPreloader::startWorkerLocked()
{
    retireWorkerLocked();
    m_worker.keepGoing = std::make_shared<std::atomic<bool>>(true);
    auto shared = m_shared;
    auto keepGoing = m_worker.keepGoing;
    m_worker.thread = WorkerThread::start(QStringLiteral("MAPreloadThread"),
                                          [shared, keepGoing] { preloadThreadMain(shared, keepGoing); });
}

bool PcmPreloader::shutdown(int waitMs)
{
    QPointer<QThread> thread;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_worker.keepGoing)
            m_worker.keepGoing->store(false);
        m_shared->queue.clear();
        if (m_shared->active)
            m_shared->active->requestCancel();
        thread = m_worker.thread;
        m_worker = Worker{};
    }
    return WorkerThread::wait(thread, waitMs);
}

void PcmPreloader::preloadThreadMain(const std::shared_ptr<Shared>& shared, const std::shared_ptr<std::atomic<bool>>& keepGoing)
{
    for (;;) {
        PreloadRequest request;
        DecodeFunction decode;
        {
            std::lock_guard lock(shared->mutex);
            if (!keepGoing->load() || shared->queue.isEmpty()) {
                keepGoing->store(false);
                return;
            }
            request = shared->queue.takeFirst();
            decode = shared->decode;
        }
        if (request.filePath.isEmpty() || shared->cache->contains(request.filePath))
            continue;

        // The stored length is a hint, never trusted beyond what the file
        // can hold.
        const QFileInfo file(request.filePath);
        const qint64 expectedFrames = PcmBuffer::plausibleFrames(PcmBuffer::msToFrames(request.durationMs),
                                                                 file.exists() ? file.size() : -1);
        // Room for the expected size first (10 MiB when it is unknown), made
        // only of what plays later than this file: a file that would push
        // out what plays sooner is not decoded ahead.
        shared->cache->updateCacheBudget();
        const qint64 estimate = expectedFrames * PcmBuffer::kChannels * qint64(sizeof(float));
        if (!shared->cache->makeRoomFor(request.filePath, estimate > 0 ? estimate : 10 * 1024 * 1024))
            continue;
        // Skipped when the file is cached or decoded elsewhere meanwhile (the
        // playback or a crossfade may be at it): one decode per file.
        const std::shared_ptr<PcmBuffer> buffer = shared->cache->beginPreload(request.filePath, expectedFrames);
        if (!buffer)
            continue;
        {
            std::lock_guard lock(shared->mutex);
            shared->active = buffer;
        }
        decode(request.filePath, *buffer);
        {
            std::lock_guard lock(shared->mutex);
            shared->active.reset();
        }

        shared->cache->decodeFinished(request.filePath, buffer);
        if (buffer->state() == PcmBuffer::State::Failed)
            qWarning() << "[MAPreload] 打开失败:" << request.filePath << "error:" << buffer->errorString();
    }
}
