#pragma once

#include <QScrollBar>

class QTimer;

// A scroll bar that doubles as the output level meter: behind a small pill
// handle it draws the level on a 60 dB scale, green to orange to red, with a
// peak-hold line. The bar rises at once and falls smoothly on a 50 ms tick,
// which runs only from a level above silence until the bar is empty.
class LevelMeterScrollBar : public QScrollBar {
    Q_OBJECT

public:
    static constexpr int kHandleWidth = 16;
    static constexpr int kDecayIntervalMs = 50;
    static constexpr int kPeakHoldTicks = 10;

    LevelMeterScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

    static QColor levelColor(float level);

    // Meter scale 0..1 (-60 dBFS .. 0 dBFS).
    float level() const { return m_level; }
    float displayLevel() const { return m_displayLevel; }
    float peakLevel() const { return m_peakLevel; }
    bool isActive() const { return m_active; }

public Q_SLOTS:
    // A linear peak amplitude; drawn from the next decay tick on.
    void setLevel(float amplitude);
    void setActive(bool active);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private Q_SLOTS:
    void onDecayTimer();

private:
    int handleX() const;
    int valueAt(int pointerX, int grabOffset) const;

    float m_level = 0.0f;
    float m_displayLevel = 0.0f;
    float m_peakLevel = 0.0f;
    int m_peakHoldTicks = 0;
    bool m_active = true;
    QTimer* m_decayTimer = nullptr;
    bool m_dragging = false;
    int m_dragOffset = 0;
};
