#include "playback/CueVolumeRamp.h"

#include <QTimer>

#include <algorithm>

CueVolumeRamp::CueVolumeRamp(QObject* parent)
    : QObject(parent)
    , m_endTimer(new QTimer(this))
{
    m_elapsed.start();
    m_endTimer->setSingleShot(true);
    m_endTimer->setTimerType(Qt::PreciseTimer);
    connect(m_endTimer, &QTimer::timeout, this, &CueVolumeRamp::finishIfDue);
}

void CueVolumeRamp::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void CueVolumeRamp::setDurationMs(qint64 ms)
{
    m_durationMs = std::max<qint64>(ms, 0);
}

qint64 CueVolumeRamp::now() const
{
    return m_clock ? m_clock() : m_elapsed.elapsed();
}

void CueVolumeRamp::start(int from, int to)
{
    m_from = from;
    m_to = to;
    m_startMs = now();
    m_endMs = m_startMs + m_durationMs;
    m_running = true;
    m_endTimer->start(int(m_durationMs));
}

void CueVolumeRamp::retarget(int from, int to)
{
    if (!isActive()) {
        start(from, to);
        return;
    }
    // The rest of the running move's time, from the level reached so far.
    m_from = from;
    m_to = to;
    m_startMs = std::min(now(), m_endMs);
}

void CueVolumeRamp::stop()
{
    const int reached = level();
    m_from = m_to = reached;
    m_running = false;
    m_endTimer->stop();
}

bool CueVolumeRamp::isActive() const
{
    return m_running && now() < m_endMs;
}

int CueVolumeRamp::level() const
{
    if (!m_running)
        return m_to;
    const qint64 t = now();
    if (t >= m_endMs)
        return m_to;
    const double progress = std::clamp(double(t - m_startMs) / double(m_endMs - m_startMs), 0.0, 1.0);
    return int(m_from + progress * (m_to - m_from));
}

qint64 CueVolumeRamp::msLeft() const
{
    return m_running ? std::max<qint64>(m_endMs - now(), 0) : 0;
}

void CueVolumeRamp::finishIfDue()
{
    if (!m_running)
        return;
    const qint64 left = m_endMs - now();
    if (left > 0) {
        m_endTimer->start(int(left));
        return;
    }
    m_running = false;
    Q_EMIT finished(m_to);
}
