#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <memory>

// The states the editor's audio went through: the current one, those an undo
// goes back to, and the one the file holds. A state's length is known as soon
// as the edit is asked for; its audio may be built later on the file worker.
// Those jobs run one after the other in the order given, so a later job (the
// next edit, a write-back) always finds the state it starts from filled.
class RecordingEditHistory {
public:
    class State {
    public:
        explicit State(qint64 bytes)
            : m_bytes(bytes)
        {
        }
        qint64 bytes() const { return m_bytes; }
        // Once, by whoever builds the audio.
        void fill(QByteArray pcm);
        // Only once filled: after the job that fills it has run, or on the
        // thread that filled it.
        const QByteArray& pcm() const;

    private:
        const qint64 m_bytes;
        QByteArray m_pcm;
        std::atomic<bool> m_filled{false};
    };
    using StatePtr = std::shared_ptr<State>;

    // A recording just loaded: its only state, and what the file holds.
    void reset(const QByteArray& pcm);
    // Hands every state over (for freeing away from the GUI thread).
    QList<StatePtr> takeAll();

    StatePtr current() const { return m_current; }
    qint64 currentBytes() const { return m_current ? m_current->bytes() : 0; }
    // A new current state of that length, not filled yet; the one before it
    // goes on the undo stack.
    StatePtr push(qint64 bytes);
    // Back to the state before the last edit; null when there is none.
    StatePtr undo();
    int undoDepth() const { return int(m_undo.size()); }

    // Undoing every edit gives back the very state loaded or written, which
    // is then not modified.
    bool isModified() const { return m_current && !m_undo.isEmpty() && m_current != m_written; }
    void markWritten() { m_written = m_current; }

private:
    StatePtr m_current;
    StatePtr m_written;
    QList<StatePtr> m_undo;
};
