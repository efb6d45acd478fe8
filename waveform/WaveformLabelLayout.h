#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

class QPainter;

// One text of the waveform view: a time, a loop mark, a fade length, an
// envelope value, the file's length. It has the place it takes when nothing
// is in the way and, in order, the places it may move to; from each it may
// also slide by up to its slack.
struct WaveformLabel {
    // Placement order: the earlier kinds keep their places, the later ones
    // move, or are left out when no place is free.
    enum class Kind { Playhead, LoopMark, EnvelopePoint, Fade, Total, Tick };

    Kind kind = Kind::Tick;
    QString text;
    QRect rect;  // the preferred place; after placing, the final one
    QList<QPoint> alternatives;  // further top-left corners, in order
    int slackX = 0;
    int slackY = 0;
    QFont font;
    QColor textColour;
    QColor fill;  // invalid: no box behind the text
    QColor frame;  // invalid: no frame
    int alignment = 0x0084;  // Qt::AlignCenter
};

// Places the view's texts so that none overlaps another or a mark that
// stays where it is drawn (loop handles, the loop grip, fade and envelope
// points), and none leaves the view.
class WaveformLabelLayout {
public:
    explicit WaveformLabelLayout(const QRect& area, int gap = 1);

    // A mark no text may cover.
    void reserve(const QRect& mark);
    // Places the labels in the order of their kinds (stable within a kind);
    // returns the placed ones with their final rectangles.
    QList<WaveformLabel> place(QList<WaveformLabel> labels);

    static void paint(QPainter& painter, const QList<WaveformLabel>& labels);

    // The box of a text in a font, with room around it.
    static QSize textBox(const QFont& font, const QString& text, int paddingX = 0, int paddingY = 0);

private:
    bool isFree(const QRect& rect) const;
    QRect placeOne(const WaveformLabel& label) const;
    static void paintBox(QPainter& painter, const QRect& box, const QColor& fill, const QColor& frame);

    QRect m_area;
    int m_gap;
    QList<QRect> m_taken;
};
