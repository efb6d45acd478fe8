#pragma once

#include <QColor>
#include <QWidget>

// The waveform view of the selected cue in the main window's form.
class WaveformWidget : public QWidget {
    Q_OBJECT

public:
    explicit WaveformWidget(QWidget* parent = nullptr);
    ~WaveformWidget() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_backgroundColor{25, 25, 30};
};
