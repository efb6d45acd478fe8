#pragma once

#include <QList>
#include <QtGlobal>

#include <vector>

// A cue's volume or pan envelope as plain arrays, evaluated exactly like the
// cue evaluates it (linear between points, the end values outside them).
// Copied once when the cue changes so the audio thread never touches the cue.
class EnvelopeCurve {
public:
    enum class Kind { Gain, Pan };

    explicit EnvelopeCurve(Kind kind = Kind::Gain)
        : m_kind(kind)
    {
    }
    EnvelopeCurve(Kind kind, bool enabled, const QList<qint64>& times, const QList<double>& values);

    bool isEnabled() const { return m_enabled; }
    // Gain 0..1 (1 when off) or pan -1..1 (0 when off).
    double valueAt(qint64 ms) const;

private:
    double clamp(double value) const;
    double fallback() const { return m_kind == Kind::Gain ? 1.0 : 0.0; }

    Kind m_kind = Kind::Gain;
    bool m_enabled = false;
    std::vector<qint64> m_times;
    std::vector<double> m_values;
};
