#include "playback/OutputOpener.h"

#include "platform/PulseAudioOutput.h"
#include "playback/WorkerThread.h"

#include <QDebug>

#include <mutex>

// What the worker threads share with the opener: whether it still exists,
// and which open counts. The mutex is held only to look and to post.
struct OutputOpener::Shared {
    std::mutex mutex;
    OutputOpener* opener = nullptr;
    quint64 generation = 0;
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
        QMetaObject::invokeMethod(
            shared->opener,
            [opener = shared->opener, generation, output = std::move(output), error] { opener->deliver(generation, output, error); },
            Qt::QueuedConnection);
    });
}

void OutputOpener::cancel()
{
    ++m_generation;
    std::lock_guard lock(m_shared->mutex);
    m_shared->generation = m_generation;
    m_opening = false;
}

void OutputOpener::deliver(quint64 generation, std::shared_ptr<PulseAudioOutput> output, const QString& error)
{
    if (generation != m_generation)
        return;
    m_opening = false;
    Q_EMIT opened(std::move(output), error);
}
