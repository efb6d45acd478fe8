#pragma once

#include "app/InputActionRouter.h"
#include "app/LoopBoxRules.h"
#include "app/ShowModeForcedVolumes.h"
#include "model/Cue.h"
#include "waveform/EnvelopePoint.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QModelIndex>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <memory>

class BatchEditSession;
class CartWidget;
class DurationRepair;
class GroupedPlaylistManager;
class LevelMeterScrollBar;
class LoudnessNormalizer;
class LoopRangeBoxes;
class LoudnessScan;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QTimer;
class QWheelEvent;
class SettingsWidget;
class StatusBarControls;
class TrackListManager;
class Ui_MainWindow;
class WaveformWidget;

// The application window and the hub of the program: it owns the cue table,
// the playlist tree and the cue settings bar, wires them to the transport
// and the cue registry, and holds the operating controls of the status bar.
//
// Construction builds the form, the added controls and the list controllers
// and connects them; the transport slots start, pause, skip and stop the
// play order and follow the registry's reports in the table, the cart grid,
// the waveform view and the playback indicator.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Places the play-mode selector, the playback indicator, the cart switch
    // and the panel toggle in the top row of the waveform strip.
    void layoutTopRow();

    // Starts a playlist at a row of the table, or at the row that shows cue.
    void playPlaylistFrom(int playlistId, int row, qint64 startPosMs);
    void playCueInPlaylist(int playlistId, Cue* cue, qint64 startPosMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private Q_SLOTS:
    void onEditModeClicked();
    void onShowModeClicked();
    void onSettingsClicked();
    void applyTrackListFontSize();
    void applyHeaderFontSize();
    void applyLevelMeterSetting();
    void updateVolumeGroupLabels();
    void updateVolumeValueLabel(int group);
    void updateVolumeValueLabels();
    void updateVolumeBarBStyle(bool gray);
    void updatePlaybackIndicator();
    void onPlaybackIndicatorClicked();
    void updateCrossfadeButtonState(bool enabled);
    void checkAndClearCorruptedWaveformData();
    void onPrevClicked();
    void onPlayPauseClicked();
    void onNextClicked();
    void onStopClicked();
    void onVolumeSwitchClicked();
    void onLoopStartLockClicked();
    void onLoopDurationLockClicked();
    void onLoopEndLockClicked();
    void onPlayModeChanged(int index);
    void onTogglePanelClicked();
    void onMainVolumeChanged(int value);
    void onPlaybackStateChanged(bool isPlaying);
    void onCurrentCueChanged(Cue* cue);
    void onPlaylistFinished();
    void onPlaylistSwitched(int playlistId);
    void onTrackDoubleClicked(QModelIndex index);
    void onCueSelected(Cue* cue);
    void onWaveformUpdated(Cue* cue);
    void onBatchModeChanged(bool isBatch);
    void updatePlayButtonIcon(bool isPlaying);
    void onOutputDeviceChanged(int index);
    void onEnvelopePointsChanged(QList<EnvelopePoint> points);
    void onEnvelopeEnabledChanged(bool enabled);
    void seekToLoopStart();
    void seekToLoopEnd();
    void setLoopStartAtCurrentPosition();
    void setLoopEndAtCurrentPosition();
    void onFixAllDurations();
    void onDataSyncNeeded();
    void onRecordingsConfirmed(QStringList filePaths);

private:
    // Construction
    void removeMenuBar();
    void setupControls();
    void buildTransportBar();
    void styleTransportControls();
    void populateOutputDevices();
    void applyAudioSettings();
    void connectCueManagerSignals();
    void connectTrackList();
    void connectPlaylistTree();
    void connectWaveformView();
    void applyFormRanges();
    void restorePanelVisibility();
    void buildStatusBarControls();
    void buildVolumeValueLabels();

    // Status bar and cue volume bar handlers
    void onLoudnessSwitched(bool on);
    void onLoudnessTargetChanged(int target);
    void onVolumeBarChanged(int group);
    void onVolumeBarMoved(int group);
    void onVolumeBarReleased(int group);

    // Transport helpers
    void showStatus(const QString& message, int timeoutMs);
    void showEngineError(const QString& message);
    void followPlaybackPosition(qlonglong positionMs);
    void onRegistryPlayModeChanged(int mode);
    // Marks and selects the cue the play order is at after next/previous.
    void selectPlayingCue(bool touchCart);
    Cue* loopCommandCue() const;
    void showLoopRangeInBoxes(Cue* cue);
    void showLoopRangeInBoxes(qint64 startMs, qint64 endMs);
    void showCueInWaveformIfNeeded(Cue* cue);
    WaveformWidget* waveformView() const;
    // Where a start from a stopped transport begins the cue: the playhead.
    qint64 startFromPlayhead(const Cue* cue) const;
    QList<Cue*> tableCues() const;
    int loudnessTarget() const;
    void onWaveformPositionClicked(qlonglong positionMs);
    void onBatchSelectionChanged();
    void onCuesDroppedOnPlaylist(int playlistId, const QList<Cue*>& cues);
    void openSettingsPanel();

    // Cue editing: the settings bar, the loop boxes and batch edits
    void buildLoopControls();
    // No cue selected: the bar and the loop boxes let go of it; clearing
    // also empties the waveform view.
    void clearSelectedCue();
    void releaseSelectedCue();
    void loadCueControls(Cue* cue);
    void connectCueSignals(Cue* cue);
    void disconnectCueSignals(Cue* cue);
    void showCueInWaveform(Cue* cue);
    QList<float> peaksOf(Cue* cue) const;
    void selectCueInTable(Cue* cue);
    void refreshTableKeepingSelection();
    void setLoopBoxesUsable(bool usable);
    QDoubleSpinBox* loopBox(LoopBoxRules::Box box) const;
    void onLoopBoxEdited(LoopBoxRules::Box box);
    bool onLoopBoxWheel(LoopBoxRules::Box box, QWheelEvent* wheel);
    void refreshLoopView();
    void followLoopDrag(qlonglong startMs, qlonglong endMs);
    void keepLoopBoxState(QDoubleSpinBox* box, QPushButton* lock);
    void enterBatchMode();
    void leaveBatchMode();
    void saveAllCues();

    // Show mode and volumes
    void applyModeAppearance(bool show);
    // Shows a cue's two volumes with the group in use, and hands the group's
    // level to the transport when the cue plays.
    void showVolumesOf(Cue* cue, int group);
    QScrollBar* volumeBar(int group) const;
    bool isBatchVolumeUniform(int group) const;
    void selectVolumeGroup(int group);
    void resetCueVolumeToTemplate(int group);
    void resetMainVolume();
    void onVolumeRampFinished();

    // Loudness normalisation
    void applyLufsGain(Cue* cue);
    void startLufsScan();
    void stopLufsScan();
    void prefillLufsGains();
    void recomputeLufsGains(int target);
    bool loudnessEnabled() const;

    // Maintenance
    void onDurationRepaired(int cueId, qint64 durationMs);

    // Shortcuts and device input
    void connectDeviceInput();
    // What each action of the shortcut table runs.
    QHash<QString, InputActionRouter::Action> inputActions();

    // Last state, cart mode and recordings
    void saveLastPlayback();
    void saveLastSelection();
    void restoreLastPlayback();
    // The last selected playlist and cue as stored when the window started.
    void restoreLastSelection(int playlistId, int cueId);
    void setCartMode(bool on);
    void updateCartButton();
    void openRecordingDialog();
    void createCartWidget();
    void onCartPlayRequested(Cue* cue);
    void onCartCueSelected(Cue* cue);
    void onCartSelectionChanged(const QList<Cue*>& selected);

    Ui_MainWindow* ui = nullptr;
    QPushButton* editModeButton = nullptr;
    QPushButton* showModeButton = nullptr;
    QPushButton* settingsButton = nullptr;
    QPushButton* recordButton = nullptr;
    QIcon recordIcon;
    QIcon recordIconDimmed;
    QIcon modeActiveIcon;
    QIcon modeInactiveIcon;
    TrackListManager* trackListManager = nullptr;
    GroupedPlaylistManager* playlistManager = nullptr;
    SettingsWidget* settingsWidget = nullptr;
    int currentPlaylistId = -1;
    QPointer<Cue> selectedCue;
    // The edit of a multi-selection: its batch, its cues and whether they
    // share each volume.
    BatchEditSession* batchSession = nullptr;
    bool batchMode = false;
    bool mainVolumeResetting = false;
    bool savingAllCues = false;
    bool batchOperationActive = false;
    bool showMode = false;
    // Cues switched to volume A for the show, their own choice held.
    ShowModeForcedVolumes forcedVolumes;
    bool suppressPlayModeSave = false;
    QPropertyAnimation* panelAnimation = nullptr;
    bool panelVisible = true;
    bool panelHiddenByShowMode = false;
    qint64 lastPositionRepaintMs = 0;
    QComboBox* outputDeviceCombo = nullptr;
    LevelMeterScrollBar* mainVolumeBar = nullptr;
    QCheckBox* loudnessCheckBox = nullptr;
    QComboBox* loudnessTargetCombo = nullptr;
    QPushButton* crossfadeButton = nullptr;
    QSpinBox* crossfadeDurationSpinBox = nullptr;
    QLabel* playbackIndicator = nullptr;
    QTimer* indicatorTimer = nullptr;
    double indicatorPhase = 0.0;
    QPushButton* cartModeButton = nullptr;
    bool cartMode = false;
    CartWidget* cartWidget = nullptr;
    QLabel* volumeValueLabelA = nullptr;
    QLabel* volumeValueLabelB = nullptr;
    int activeVolumeGroup = 0;
    QDoubleSpinBox* fadeInSpin = nullptr;
    QDoubleSpinBox* fadeOutSpin = nullptr;
    QDoubleSpinBox* loopDurationSpin = nullptr;
    QDoubleSpinBox* loopStartSpin = nullptr;
    QDoubleSpinBox* loopEndSpin = nullptr;
    QLabel* loopRangeLabel = nullptr;
    QPushButton* loopStartLockButton = nullptr;
    QPushButton* loopDurationLockButton = nullptr;
    QPushButton* loopEndLockButton = nullptr;
    InputActionRouter* inputRouter = nullptr;
    std::unique_ptr<LoopRangeBoxes> loopBoxes;
    StatusBarControls* statusControls = nullptr;
    LoudnessNormalizer* loudness = nullptr;
};
