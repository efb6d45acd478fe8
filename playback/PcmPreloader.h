#pragma once

#include "audiofile/PcmDecoding.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <memory>

class PcmCache;
class QThread;

struct PreloadRequest {
    QString filePath;
    qint64 durationMs = 0;  // the cue's length when it was asked for, 0 unknown
};

// Decodes the files expected to play next into the PCM cache, one at a time,
// on the worker thread "MAPreloadThread". A file that is cached, or that the
// playback is decoding already, is skipped; one the playback takes over
// while it decodes goes on decoding for the playback. The worker owns nothing
// of its caller: a worker that is stopped finishes its current file (which
// still enters the cache) and ends by itself.
class PcmPreloader {
public:
    PcmPreloader(std::shared_ptr<PcmCache> cache, DecodeFunction decode);
    ~PcmPreloader();
    PcmPreloader(const PcmPreloader&) = delete;
    PcmPreloader& operator=(const PcmPreloader&) = delete;

    void setDecodeFunction(DecodeFunction decode);

    // Replaces the queue and starts the worker when it is not running.
    void replaceQueue(const QList<PreloadRequest>& requests);
    // Moves (or puts) the request to the head of the queue.
    void prioritize(const PreloadRequest& request);
    // Stops the worker after its current file and empties the queue.
    void clearQueue();
    // Stops the worker after its current file; the queue stays.
    void stopWorker();
    bool isRunning() const;
    QStringList queuedPaths() const;

    // Stops the worker, cancels its current file and waits up to waitMs for
    // it to end; a worker still running then is left to end by itself.
    // False when it had to be left.
    bool shutdown(int waitMs);

private:
    struct Shared;
    struct Worker {
        QPointer<QThread> thread;
        std::shared_ptr<std::atomic<bool>> keepGoing;
    };

    void startWorkerLocked();
    void retireWorkerLocked();
    static void preloadThreadMain(const std::shared_ptr<Shared>& shared, const std::shared_ptr<std::atomic<bool>>& keepGoing);

    std::shared_ptr<Shared> m_shared;
    Worker m_worker;  // guarded by the shared mutex
};
