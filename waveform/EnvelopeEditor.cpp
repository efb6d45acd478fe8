#include "waveform/EnvelopeEditor.h"

#include <algorithm>
#include <cstdlib>

EnvelopeEditor::EnvelopeEditor(const EnvelopeKind& kind, QList<EnvelopePoint>& points,
                               const WaveformMapping& mapping, qint64 fileEndMs)
    : m_kind(kind)
    , m_points(points)
    , m_mapping(mapping)
    , m_fileEndMs(fileEndMs)
{
}

void EnvelopeEditor::select(int index)
{
    for (qsizetype i = 0; i < m_points.size(); ++i)
        m_points[i].selected = (i == index);
}

bool EnvelopeEditor::nearAnother(qint64 timeMs) const
{
    return std::any_of(m_points.cbegin(), m_points.cend(), [timeMs](const EnvelopePoint& point) {
        return std::abs(point.timeMs - timeMs) <= kPointAddGapMs;
    });
}

bool EnvelopeEditor::addAt(const QPoint& pos)
{
    return add(m_mapping.xToTime(pos.x()), m_kind.yToValue(m_mapping, pos.y()));
}

bool EnvelopeEditor::add(qint64 timeMs, double value)
{
    if (nearAnother(timeMs))
        return false;
    m_points.append({timeMs, value, false});
    sort();
    return true;
}

void EnvelopeEditor::sort()
{
    std::stable_sort(m_points.begin(), m_points.end(),
                     [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.timeMs < b.timeMs; });
    if (m_points.isEmpty())
        return;
    m_points.first().timeMs = 0;
    if (m_points.size() >= 2)
        m_points.last().timeMs = m_fileEndMs;
}

void EnvelopeEditor::dragTo(int index, const QPoint& pos, bool keepValue)
{
    EnvelopePoint& point = m_points[index];
    if (index > 0 && index < m_points.size() - 1) {
        qint64 t = std::max<qint64>(std::min(m_mapping.xToTime(pos.x()), m_fileEndMs), 0);
        t = std::max(t, m_points[index - 1].timeMs + kPointSpacingMs);
        t = std::min(t, m_points[index + 1].timeMs - kPointSpacingMs);
        point.timeMs = t;
    }
    if (!keepValue)
        point.value = m_kind.yToValue(m_mapping, pos.y());
}

bool EnvelopeEditor::nudgeSelected(double notches)
{
    const auto selected = std::find_if(m_points.begin(), m_points.end(),
                                       [](const EnvelopePoint& point) { return point.selected; });
    if (selected == m_points.end())
        return false;
    const qsizetype index = selected - m_points.begin();
    qint64 t = m_points[index].timeMs + qint64(notches * 50.0);
    if (index > 0)
        t = std::max(t, m_points[index - 1].timeMs + kPointSpacingMs);
    if (index < m_points.size() - 1)
        t = std::min(t, m_points[index + 1].timeMs - kPointSpacingMs);
    t = std::max<qint64>(std::min(t, m_fileEndMs), 0);
    m_points[index].timeMs = t;
    return true;
}

bool EnvelopeEditor::removeInner(int index)
{
    if (index <= 0 || index >= m_points.size() - 1)
        return false;
    m_points.removeAt(index);
    return true;
}

void EnvelopeEditor::resetValue(int index)
{
    m_points[index].value = m_kind.neutralValue();
}
