#pragma once

#include <QMainWindow>

class Ui_MainWindow;

// The application window: the generated form with the cue table, the
// playlist panel, the cue settings bar and the waveform strip.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private:
    void removeMenuBar();

    Ui_MainWindow* ui = nullptr;
};
