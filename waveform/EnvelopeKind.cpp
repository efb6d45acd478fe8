#include "waveform/EnvelopeKind.h"

#include "model/Cue.h"
#include "waveform/WaveformMapping.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kNoDurationEndMs = 10000;

QList<qint64> timesOf(const QList<EnvelopePoint>& points)
{
    QList<qint64> times;
    times.reserve(points.size());
    for (const EnvelopePoint& point : points)
        times.append(point.timeMs);
    return times;
}

QList<double> valuesOf(const QList<EnvelopePoint>& points)
{
    QList<double> values;
    values.reserve(points.size());
    for (const EnvelopePoint& point : points)
        values.append(point.value);
    return values;
}

}  // namespace

EnvelopeKind::EnvelopeKind(Definition definition)
    : m_def(std::move(definition))
{
}

const EnvelopeKind& EnvelopeKind::volume()
{
    static const EnvelopeKind kind({
        {&Cue::envelopeEnabled, &Cue::envelopeTimes, &Cue::envelopeGains, &Cue::setVolumeEnvelope},
        0,
        100,
        1.0,
        [](const WaveformMapping& mapping, double gain) { return mapping.gainToY(float(gain)); },
        [](const WaveformMapping& mapping, float y) { return mapping.yToGain(y); },
        [](int percent) { return QString::number(percent); },
        30,
        QColor(255, 200, 100),
        QColor(255, 220, 150),
        false,
        QStringLiteral("设置音量包络点"),
        QStringLiteral("音量值 (0-100):\n当前: %1"),
    });
    return kind;
}

const EnvelopeKind& EnvelopeKind::pan()
{
    static const EnvelopeKind kind({
        {&Cue::panEnvelopeEnabled, &Cue::panEnvelopeTimes, &Cue::panEnvelopePositions, &Cue::setPanEnvelope},
        -100,
        100,
        0.0,
        [](const WaveformMapping& mapping, double pan) { return mapping.panToY(pan); },
        [](const WaveformMapping& mapping, float y) { return mapping.yToPan(y); },
        [](int percent) {
            const QString side = percent < 0 ? QStringLiteral("左")
                                             : (percent == 0 ? QStringLiteral("中") : QStringLiteral("右"));
            return QStringLiteral("%1:%2%").arg(side).arg(std::abs(percent));
        },
        50,
        QColor(200, 100, 255),
        QColor(220, 160, 255),
        true,
        QStringLiteral("设置声像包络点"),
        QStringLiteral("声像位置 (-100到+100):\n负数=左，正数=右，0=中间\n当前: %1%"),
    });
    return kind;
}

bool EnvelopeKind::isEnabled(const Cue& cue) const
{
    return (cue.*m_def.cue.enabled)();
}

QList<EnvelopePoint> EnvelopeKind::pointsOf(const Cue* cue) const
{
    const double neutral = m_def.neutralValue;
    if (!cue)
        return {{0, neutral, false}, {kNoDurationEndMs, neutral, false}};
    const QList<qint64> times = (cue->*m_def.cue.times)();
    const QList<double> values = (cue->*m_def.cue.values)();
    if (!times.isEmpty() && !values.isEmpty()) {
        QList<EnvelopePoint> points;
        const qsizetype n = std::min(times.size(), values.size());
        for (qsizetype i = 0; i < n; ++i)
            points.append({times[i], values[i], false});
        return points;
    }
    const qint64 end = cue->durationMs() >= 1 ? cue->durationMs() : kNoDurationEndMs;
    return {{0, neutral, false}, {end, neutral, false}};
}

void EnvelopeKind::write(Cue& cue, const QList<EnvelopePoint>& points) const
{
    (cue.*m_def.cue.write)(timesOf(points), valuesOf(points));
}

float EnvelopeKind::valueToY(const WaveformMapping& mapping, double value) const
{
    return m_def.toY(mapping, value);
}

float EnvelopeKind::yToValue(const WaveformMapping& mapping, float y) const
{
    return m_def.fromY(mapping, y);
}

int EnvelopeKind::percentOf(double value)
{
    return int(100.0 * value);
}

QPointF EnvelopeKind::screenPos(const WaveformMapping& mapping, const EnvelopePoint& point) const
{
    return QPointF(mapping.timeToX(point.timeMs), valueToY(mapping, point.value));
}

int EnvelopeKind::pointAt(const QList<EnvelopePoint>& points, const WaveformMapping& mapping, const QPointF& pos,
                          float radius) const
{
    for (qsizetype i = 0; i < points.size(); ++i) {
        const float x = mapping.timeToX(points[i].timeMs);
        const float y = valueToY(mapping, points[i].value);
        if (std::abs(pos.x() - x) < radius && std::abs(pos.y() - y) < radius)
            return int(i);
    }
    return -1;
}

int EnvelopeKind::nearestPoint(const QList<EnvelopePoint>& points, const WaveformMapping& mapping,
                               const QPointF& pos, double radius) const
{
    int index = -1;
    double nearest = radius;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const double distance = QLineF(screenPos(mapping, points[i]), pos).length();
        if (distance < nearest) {
            nearest = distance;
            index = int(i);
        }
    }
    return index;
}

std::optional<double> EnvelopeKind::valueFromPercentText(const QString& text) const
{
    bool isNumber = false;
    const int percent = text.toInt(&isNumber);
    if (!isNumber || percent < m_def.minPercent || percent > m_def.maxPercent)
        return std::nullopt;
    return percent / 100.0;
}
