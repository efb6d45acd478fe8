#pragma once

#include <QIcon>
#include <QObject>

class LevelMeterScrollBar;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QWidget;

// The operating controls at the right end of the main window's status bar,
// left to right: loudness normalisation and its target, crossfade and its
// time, the output device, the main volume with the output level meter,
// recording, settings, and the edit and show mode buttons.
//
// It builds them from the stored settings and runs what is theirs alone:
// crossfade, device and pause-fade settings go to the transport and to the
// settings store. What involves the rest of the window (loudness policy,
// main volume, mode switch, recording, settings window) is reported by
// signal. Every control has the window as parent.
class StatusBarControls : public QObject {
    Q_OBJECT

public:
    StatusBarControls(QStatusBar* bar, QWidget* window);

    QCheckBox* loudnessCheckBox() const { return m_loudnessCheckBox; }
    QComboBox* loudnessTargetCombo() const { return m_loudnessTargetCombo; }
    QPushButton* crossfadeButton() const { return m_crossfadeButton; }
    QSpinBox* crossfadeDurationSpinBox() const { return m_crossfadeDurationSpinBox; }
    QComboBox* outputDeviceCombo() const { return m_outputDeviceCombo; }
    LevelMeterScrollBar* mainVolumeBar() const { return m_mainVolumeBar; }
    QPushButton* recordButton() const { return m_recordButton; }
    QPushButton* settingsButton() const { return m_settingsButton; }
    QPushButton* editModeButton() const { return m_editModeButton; }
    QPushButton* showModeButton() const { return m_showModeButton; }
    QIcon recordIcon() const { return m_recordIcon; }
    QIcon recordIconDimmed() const { return m_recordIconDimmed; }
    QIcon modeActiveIcon() const { return m_modeActiveIcon; }
    QIcon modeInactiveIcon() const { return m_modeInactiveIcon; }
    // Seconds of the A/B volume ramp, as stored at start or at the last
    // applyAudioSettings.
    double volumeSwitchSeconds() const { return m_volumeSwitchSeconds; }
    // The loudness target of the list, or the default without one.
    int loudnessTarget() const;

    // Fills the device list from the transport and selects the stored device
    // without switching to it; then a pick switches and is stored.
    void populateOutputDevices();
    // Crossfade, pause fade and the A/B ramp time from the store, after the
    // settings window.
    void applyAudioSettings();
    void updateCrossfadeButtonState(bool enabled);
    // Marks the show or the edit button as the mode in force.
    void showMode(bool showModeOn);

Q_SIGNALS:
    void statusMessage(const QString& message, int timeoutMs);
    void loudnessSwitched(bool on, int target);
    void loudnessTargetChanged(int target);

private:
    void buildLoudness();
    void buildCrossfade();
    void buildMainVolume();
    void buildButtons();
    void buildModeSwitch();
    void add(QWidget* widget);

    void onLoudnessToggled(bool on);
    void onLoudnessTargetIndexChanged(int index);
    void onCrossfadeClicked();
    void onCrossfadeDurationChanged(int seconds);
    void onOutputDeviceSelected(int index);

    QStatusBar* m_bar = nullptr;
    QWidget* m_window = nullptr;
    QCheckBox* m_loudnessCheckBox = nullptr;
    QComboBox* m_loudnessTargetCombo = nullptr;
    QPushButton* m_crossfadeButton = nullptr;
    QSpinBox* m_crossfadeDurationSpinBox = nullptr;
    QComboBox* m_outputDeviceCombo = nullptr;
    LevelMeterScrollBar* m_mainVolumeBar = nullptr;
    QPushButton* m_recordButton = nullptr;
    QPushButton* m_settingsButton = nullptr;
    QPushButton* m_editModeButton = nullptr;
    QPushButton* m_showModeButton = nullptr;
    QIcon m_recordIcon;
    QIcon m_recordIconDimmed;
    QIcon m_modeActiveIcon;
    QIcon m_modeInactiveIcon;
    double m_volumeSwitchSeconds = 2.0;
};
