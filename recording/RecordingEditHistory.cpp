#include "recording/RecordingEditHistory.h"

#include <QtGlobal>

void RecordingEditHistory::State::fill(QByteArray pcm)
{
    Q_ASSERT(!m_filled.load(std::memory_order_relaxed));
    m_pcm = std::move(pcm);
    m_filled.store(true, std::memory_order_release);
}

const QByteArray& RecordingEditHistory::State::pcm() const
{
    // The acquire pairs with fill()'s release, whichever thread filled it.
    [[maybe_unused]] const bool filled = m_filled.load(std::memory_order_acquire);
    Q_ASSERT(filled);
    return m_pcm;
}

void RecordingEditHistory::reset(const QByteArray& pcm)
{
    m_undo.clear();
    m_current = std::make_shared<State>(pcm.size());
    m_current->fill(pcm);
    m_written = m_current;
}

QList<RecordingEditHistory::StatePtr> RecordingEditHistory::takeAll()
{
    QList<StatePtr> all = std::move(m_undo);
    m_undo.clear();
    if (m_current)
        all.append(std::move(m_current));
    if (m_written)
        all.append(std::move(m_written));
    m_current.reset();
    m_written.reset();
    return all;
}

RecordingEditHistory::StatePtr RecordingEditHistory::push(qint64 bytes)
{
    if (m_current)
        m_undo.append(m_current);
    m_current = std::make_shared<State>(bytes);
    return m_current;
}

RecordingEditHistory::StatePtr RecordingEditHistory::undo()
{
    if (m_undo.isEmpty())
        return nullptr;
    m_current = m_undo.takeLast();
    return m_current;
}
