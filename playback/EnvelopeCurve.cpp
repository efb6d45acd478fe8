#include "playback/EnvelopeCurve.h"

#include <algorithm>
#include <cmath>

EnvelopeCurve::EnvelopeCurve(Kind kind, bool enabled, const QList<qint64>& times, const QList<double>& values)
    : m_kind(kind)
    , m_enabled(enabled)
{
    const qsizetype n = std::min(times.size(), values.size());
    m_times.assign(times.begin(), times.begin() + n);
    m_values.assign(values.begin(), values.begin() + n);
}

double EnvelopeCurve::clamp(double value) const
{
    if (m_kind == Kind::Gain) {
        if (value > 1.0)
            return 1.0;
        return value > 0.0 ? value : 0.0;
    }
    if (value > 1.0)
        return 1.0;
    if (!(value > -1.0))
        return std::isnan(value) ? 0.0 : -1.0;
    return value;
}

double EnvelopeCurve::valueAt(qint64 ms) const
{
    if (!m_enabled)
        return fallback();
    const size_t n = m_times.size();
    if (n < 2)
        return fallback();
    if (ms <= m_times.front())
        return m_values.front();
    if (ms >= m_times[n - 1])
        return m_values[n - 1];
    // Stored points are not necessarily sorted: the first segment that holds
    // the time wins, as in the cue.
    for (size_t i = 0; i + 1 < n; ++i) {
        if (m_times[i] <= ms && ms <= m_times[i + 1]) {
            if (m_times[i] == m_times[i + 1])
                return m_values[i];
            const double t = double(ms - m_times[i]) / double(m_times[i + 1] - m_times[i]);
            return clamp(m_values[i] + t * (m_values[i + 1] - m_values[i]));
        }
    }
    return fallback();
}
