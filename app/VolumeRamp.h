#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>

class QTimer;

// The timed move of the playing cue's volume from one level to another when
// the operator switches between volumes A and B. Progress follows a monotonic
// clock, so a late tick lands where the ramp should be by then and a change
// of the system time cannot stretch, cut or freeze it.
class VolumeRamp : public QObject {
    Q_OBJECT

public:
    static constexpr int kTickMs = 16;
    // Milliseconds from a fixed point in the past; never goes backwards.
    using Clock = std::function<qint64()>;

    explicit VolumeRamp(QObject* parent = nullptr);

    // Tests hand in a clock of their own; the default one is a QElapsedTimer.
    void setClock(Clock clock);
    // Length of a full ramp; 0 ends a ramp on its first tick.
    void setDurationMs(qint64 ms);
    qint64 durationMs() const { return m_durationMs; }

    // A full-length ramp from one level to another.
    void start(int from, int to);
    // Heads for a new level from where the ramp is now, arriving when the
    // running ramp would have arrived; a ramp that is not running starts anew.
    void retarget(int from, int to);
    // Ends a running ramp where it is, without reaching its target.
    void stop();

    bool isActive() const { return m_active; }
    int targetVolume() const { return m_to; }

    // One step; run by the ramp's own timer every kTickMs.
    void tick();

Q_SIGNALS:
    // The level of this tick; the last one is the target.
    void volumeStepped(int volume);
    void finished(int volume);

private:
    qint64 now() const;

    QTimer* m_timer = nullptr;
    Clock m_clock;
    QElapsedTimer m_elapsed;
    qint64 m_durationMs = 2000;
    qint64 m_startMs = 0;
    qint64 m_endMs = 0;
    int m_from = 0;
    int m_to = 0;
    bool m_active = false;
};
