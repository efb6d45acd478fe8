#pragma once

#include <QString>

// Style sheets of the controls the main window adds to its form: the
// transport buttons, the status bar's controls, the play-mode selector and
// the mode switch, and the rules that keep the dark form readable.
namespace ControlStyleSheets {

QString transportButtons();
QString playModeSelector();
QString loudnessTargetList();
QString crossfadeButton();
QString recordButton();
// Every QSpinBox of the window (loop count, pre-wait, crossfade time).
QString commonSpinBox();
// The same for the boxes of the cue settings bar, which keep the form's
// 18 px height.
QString settingsBarSpinBox();
QString volumeValueLabel();
QString modeButtonActive();
QString modeButtonInactive();
// The caption of the cue volume group in use, and of the other one.
QString activeVolumeGroupLabel();
QString inactiveVolumeGroupLabel();
// The cue volume bar; grey handle when the bar is off limits.
QString cueVolumeBar(bool gray);

// Added to the window's own sheet: check boxes with a visible box on the
// dark background, and dark tool tips (a tool tip is a child of the widget
// it explains and takes that widget's sheets).
QString windowAdditions();

}  // namespace ControlStyleSheets
