#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QTimer;

// The small frameless "正在打开文件夹选择器..." dialog with a breathing bar,
// shown while an export's folder chooser opens (that can take a moment); the
// cue table's import shows it with its own text while its file chooser opens.
class BusyOverlay : public QDialog {
    Q_OBJECT

public:
    explicit BusyOverlay(QWidget* parent, const QString& text = QStringLiteral("正在打开文件夹选择器..."));

    // The 200 x 4 bar image at the given stop opacity.
    static QPixmap breathingBarPixmap(double opacity);

private Q_SLOTS:
    void onAnimationTick();

private:
    QLabel* m_bar = nullptr;
    QTimer* m_timer = nullptr;
    double m_phase = 0.0;
};
