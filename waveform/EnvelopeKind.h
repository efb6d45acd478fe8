#pragma once

#include "waveform/EnvelopePoint.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

#include <optional>

class Cue;
class WaveformMapping;

// What sets the cue's volume envelope and its pan envelope apart in the
// waveform view: where the cue keeps the points, the range and the neutral
// value of a point, where a point stands on the screen, and how a value reads
// in a label or a dialog. The view's code for points serves both envelopes
// through the two instances.
class EnvelopeKind {
public:
    static const EnvelopeKind& volume();  // gain 0..1
    static const EnvelopeKind& pan();     // -1 (left) .. +1 (right)

    // The cue's side
    bool isEnabled(const Cue& cue) const;
    // The stored points; without any, two neutral points over the file
    // (0..10000 ms without a cue or a duration).
    QList<EnvelopePoint> pointsOf(const Cue* cue) const;
    void write(Cue& cue, const QList<EnvelopePoint>& points) const;

    // Values
    double neutralValue() const { return m_def.neutralValue; }  // leaves the sound as it is
    double middleValue() const { return (m_def.minPercent + m_def.maxPercent) / 200.0; }
    float valueToY(const WaveformMapping& mapping, double value) const;
    float yToValue(const WaveformMapping& mapping, float y) const;  // clamped into the range
    static int percentOf(double value);

    // Points on the screen
    QPointF screenPos(const WaveformMapping& mapping, const EnvelopePoint& point) const;
    // The first point within radius of pos horizontally and vertically, or -1.
    int pointAt(const QList<EnvelopePoint>& points, const WaveformMapping& mapping, const QPointF& pos,
                float radius) const;
    // The point nearest to pos, closer than radius, or -1; the first of equals.
    int nearestPoint(const QList<EnvelopePoint>& points, const WaveformMapping& mapping, const QPointF& pos,
                     double radius) const;

    // Texts and colours
    QString label(double value) const { return m_def.label(percentOf(value)); }
    int labelWidth() const { return m_def.labelWidth; }
    QColor colour() const { return m_def.colour; }
    QColor labelColour() const { return m_def.labelColour; }
    bool hasCentreLine() const { return m_def.centreLine; }
    QString dialogTitle() const { return m_def.dialogTitle; }
    QString dialogLabel(int percent) const { return m_def.dialogLabel.arg(percent); }
    // A dialog answer: a whole number of percent within the range.
    std::optional<double> valueFromPercentText(const QString& text) const;

private:
    // The cue's getters and setter of one envelope.
    struct CueAccess {
        bool (Cue::*enabled)() const;
        QList<qint64> (Cue::*times)() const;
        QList<double> (Cue::*values)() const;
        void (Cue::*write)(const QList<qint64>&, const QList<double>&);
    };
    using ToY = float (*)(const WaveformMapping&, double);
    using FromY = float (*)(const WaveformMapping&, float);
    using Label = QString (*)(int percent);

    struct Definition {
        CueAccess cue;
        int minPercent;
        int maxPercent;
        double neutralValue;
        ToY toY;
        FromY fromY;
        Label label;
        int labelWidth;
        QColor colour;
        QColor labelColour;
        bool centreLine;
        QString dialogTitle;
        QString dialogLabel;  // %1: the current value in percent
    };
    explicit EnvelopeKind(Definition definition);

    Definition m_def;
};
