#include "playback/OutputOpener.h"

#include "platform/PulseAudioOutput.h"
#include "playback/WorkerThread.h"

#include <QDebug>

#include <mutex>

// What the worker threads share with the opener: whether it still exists,
// which open counts, and the result of that open until the opener takes it.
// The result passes here, under the mutex, not in the posted call: the call
// is carried by Qt's event queue, whose lock ThreadSanitizer cannot see.
struct OutputOpener::Shared {
    std::mutex mutex;
    OutputOpener* opener = nullptr;
    quint64 generation = 0;
    bool resultReady = false;
    std::shared_ptr<PulseAudioOutput> output;
    QString error;
};

OutputOpener::OutputOpener(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->opener = this;
}

OutputOpener::~OutputOpener()
{
    // A thread still opening closes what it opened itself.
    std::lock_guard lock(m_shared->mutex);
    m_shared->opener = nullptr;
}

void OutputOpener::open(const QString& sinkDescription)
{
    const quint64 generation = ++m_generation;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->generation = generation;
        dropResultLocked();
    }
    m_opening = true;
    std::shared_ptr<Shared> shared = m_shared;
    WorkerThread::start(QStringLiteral("OutputOpenThread"), [shared, generation, sinkDescription] {
        QString sink;
        if (!sinkDescription.isEmpty()) {
            bool listed = false;
            const QStringList sinks = PulseAudioOutput::sinkDescriptions(&listed);
            if (listed && sinks.contains(sinkDescription))
                sink = sinkDescription;
            else if (listed)
                qWarning() << "PlaybackEngine - device not found:" << sinkDescription;
        }
        auto output = std::make_shared<PulseAudioOutput>();
        QString error;
        if (!output->open(sink, nullptr, nullptr, nullptr, nullptr, &error))
            output.reset();
        std::lock_guard lock(shared->mutex);
        if (!shared->opener || shared->generation != generation)
            return;  // dropped: the output closes with this thread's last reference
        shared->resultReady = true;
        shared->output = std::move(output);
        shared->error = error;
        QMetaObject::invokeMethod(shared->opener, "takeResult", Qt::QueuedConnection);
    });
}

void OutputOpener::cancel()
{
    ++m_generation;
    std::lock_guard lock(m_shared->mutex);
    m_shared->generation = m_generation;
    dropResultLocked();
    m_opening = false;
}

void OutputOpener::dropResultLocked()
{
    m_shared->resultReady = false;
    m_shared->output.reset();
    m_shared->error.clear();
}

void OutputOpener::takeResult()
{
    std::shared_ptr<PulseAudioOutput> output;
    QString error;
    {
        std::lock_guard lock(m_shared->mutex);
        // Taken already, or dropped by a newer open or a cancel.
        if (!m_shared->resultReady || m_shared->generation != m_generation)
            return;
        output = std::move(m_shared->output);
        error = m_shared->error;
        dropResultLocked();
    }
    m_opening = false;
    Q_EMIT opened(std::move(output), error);
}
