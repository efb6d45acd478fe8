#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>

class QTimer;

// Where the timed move of the current cue's volume from one level to another
// stands, when the operator switches between volumes A and B. The output
// moves the gain itself, per sample; this keeps the level the move has
// reached for the window to show and for a move that turns round. Progress
// follows a monotonic clock, so a late look lands where the move is by then
// and a change of the system time cannot stretch, cut or freeze it.
class CueVolumeRamp : public QObject {
    Q_OBJECT

public:
    // Milliseconds from a fixed point in the past; never goes backwards.
    using Clock = std::function<qint64()>;

    explicit CueVolumeRamp(QObject* parent = nullptr);

    // Tests hand in a clock of their own; the default one is a QElapsedTimer.
    void setClock(Clock clock);
    // Length of a full move; 0 arrives at once.
    void setDurationMs(qint64 ms);
    qint64 durationMs() const { return m_durationMs; }

    // A full-length move from one level to another.
    void start(int from, int to);
    // Heads for a new level from where the move is now, arriving when the
    // running move would have arrived; with no move running it starts anew.
    void retarget(int from, int to);
    // Ends a running move where it is, without reaching its target.
    void stop();

    bool isActive() const;
    // The level reached now: the target once the move is over, the level it
    // stopped at after stop().
    int level() const;
    int targetVolume() const { return m_to; }
    // Time left until the move arrives (0 when none runs).
    qint64 msLeft() const;

    // Announces the end of a move that has arrived; run by the move's own
    // timer at its end.
    void finishIfDue();

Q_SIGNALS:
    // A move has reached its target (not one that was stopped).
    void finished(int volume);

private:
    qint64 now() const;

    QTimer* m_endTimer = nullptr;
    Clock m_clock;
    QElapsedTimer m_elapsed;
    qint64 m_durationMs = 2000;
    qint64 m_startMs = 0;
    qint64 m_endMs = 0;
    int m_from = 0;
    int m_to = 0;
    bool m_running = false;  // started, not stopped, end not announced yet
};
