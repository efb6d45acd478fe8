#include "app/VolumeRamp.h"

#include <QTimer>

#include <algorithm>

VolumeRamp::VolumeRamp(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_elapsed.start();
    m_timer->setInterval(kTickMs);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &VolumeRamp::tick);
}

void VolumeRamp::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void VolumeRamp::setDurationMs(qint64 ms)
{
    m_durationMs = std::max<qint64>(ms, 0);
}

qint64 VolumeRamp::now() const
{
    return m_clock ? m_clock() : m_elapsed.elapsed();
}

void VolumeRamp::start(int from, int to)
{
    m_from = from;
    m_to = to;
    m_startMs = now();
    m_endMs = m_startMs + m_durationMs;
    m_active = true;
    m_timer->start();
}

void VolumeRamp::retarget(int from, int to)
{
    if (!m_active) {
        start(from, to);
        return;
    }
    // The rest of the running ramp's time, from the level reached so far.
    m_from = from;
    m_to = to;
    m_startMs = std::min(now(), m_endMs);
}

void VolumeRamp::stop()
{
    m_active = false;
    m_timer->stop();
}

void VolumeRamp::tick()
{
    if (!m_active)
        return;
    const qint64 t = now();
    if (t < m_endMs) {
        const double progress = std::clamp(double(t - m_startMs) / double(m_endMs - m_startMs), 0.0, 1.0);
        Q_EMIT volumeStepped(int(m_from + progress * (m_to - m_from)));
        return;
    }
    stop();
    Q_EMIT volumeStepped(m_to);
    Q_EMIT finished(m_to);
}
