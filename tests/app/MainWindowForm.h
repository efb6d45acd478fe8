#pragma once

#include "app/SettingsWidget.h"
#include "ui_MainWindow.h"

#include <QMainWindow>

// The main window's generated form built into a bare window, with the ranges
// the window gives its settings bar, and a settings bar controller bound to
// it: the bar can be tested without the playback singletons.
struct MainWindowForm {
    QMainWindow window;
    Ui_MainWindow ui;
    SettingsWidget* bar = nullptr;

    MainWindowForm()
    {
        ui.setupUi(&window);
        ui.volumeHorizontalScrollBar->setRange(0, 100);
        ui.volumeHorizontalScrollBar_2->setRange(0, 100);
        ui.volumeHorizontalScrollBar_2->setValue(50);
        ui.loopCountSpinBox->setRange(0, 99);
        ui.loopCountSpinBox->setSpecialValueText(QStringLiteral("∞"));
        ui.loopCountSpinBox->setValue(1);
        ui.preDurationSpinBox->setRange(0, 60);
        ui.preDurationSpinBox->setSingleStep(1);
        ui.preDurationSpinBox->setValue(0);
        ui.volumeHorizontalScrollBar->setValue(50);

        bar = new SettingsWidget(&window);
        bar->setWidgets(ui.infiniteLoopBtn, ui.loopLabel, ui.loopCountSuffix, ui.loopCountSpinBox,
                        ui.fadeCheckBox, ui.preDurationSpinBox, ui.volumeHorizontalScrollBar,
                        ui.volumeEnvelopeCheckBox, ui.panCheckBox, ui.colorButton, ui.fadeInSpinBox,
                        ui.fadeOutSpinBox, ui.fadeInLabel, ui.fadeOutLabel, ui.loopDurationLabel,
                        ui.label_3, ui.label_5, ui.label_4, ui.panEnvelopeLabel, ui.volumeEnvelopeLabel,
                        ui.volumeHorizontalScrollBar_2);
    }
};
