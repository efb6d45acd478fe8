#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QTimer;

// The small frameless "正在打开文件夹选择器..." dialog with a breathing bar,
// shown while an export's folder chooser opens (that can take a moment).
class BusyOverlay : public QDialog {
    Q_OBJECT

public:
    explicit BusyOverlay(QWidget* parent);

    // The 200 x 4 bar image at the given stop opacity.
    static QPixmap breathingBarPixmap(double opacity);

private Q_SLOTS:
    void onAnimationTick();

private:
    QLabel* m_bar = nullptr;
    QTimer* m_timer = nullptr;
    double m_phase = 0.0;
};
