#include "app/MainWindow.h"

#include "app/AppConstants.h"
#include "app/AppIcons.h"
#include "app/DialogKeyGuard.h"
#include "app/BatchEditSession.h"
#include "app/ControlStyleSheets.h"
#include "app/DurationRepair.h"
#include "app/InputActionRouter.h"
#include "app/LoudnessGain.h"
#include "app/LoudnessNormalizer.h"
#include "app/LoopRangeBoxes.h"
#include "app/LoudnessScan.h"
#include "app/SelectAllOnFocusFilter.h"
#include "app/SettingsWidget.h"
#include "app/StatusBarControls.h"
#include "app/StyleSheetSetter.h"
#include "app/TextFit.h"
#include "app/UiStyleManager.h"
#include "input/HidDeviceManager.h"
#include "lists/CartWidget.h"
#include "lists/GroupedPlaylistManager.h"
#include "lists/SongTableModel.h"
#include "lists/TrackListManager.h"
#include "lists/WaveformParseQueue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "platform/PlatformShell.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "playback/CueVolumeRamp.h"
#include "recording/RecordingDialog.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsPanel.h"
#include "settings/SettingsWriter.h"
#include "ui_MainWindow.h"
#include "waveform/LevelMeterScrollBar.h"
#include "waveform/WaveformWidget.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>
#include <memory>

namespace {

constexpr int kPanelWidth = 261;
constexpr int kPanelAnimationMs = 150;
constexpr int kIndicatorIntervalMs = 50;
constexpr double kIndicatorPhaseStep = 0.1;
constexpr int kPositionRepaintGapMs = 49;
constexpr int kEngineErrorTimeoutMs = 5000;

// The loop-range boxes, usable and off limits.
CueManager* registry()
{
    return CueManager::instance();
}

AudioEngine* transport()
{
    return AudioEngine::instance();
}

QString playModeName(int mode)
{
    switch (mode) {
    case CueManager::SingleLoop:
        return QStringLiteral("单曲循环");
    case CueManager::Random:
        return QStringLiteral("随机播放");
    case CueManager::Custom:
        return QStringLiteral("自定义");
    case CueManager::CustomListLoop:
        return QStringLiteral("自定义列表循环");
    case CueManager::CustomRandom:
        return QStringLiteral("自定义随机");
    default:
        return QStringLiteral("列表循环");
    }
}

// Removes every font-size rule from a sheet and appends the given rules.
QString withFontSize(QString sheet, const QString& rules)
{
    static const QRegularExpression fontSize(QStringLiteral("font-size:\\s*\\d+px;"));
    sheet.remove(fontSize);
    return sheet + rules;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    // The palette must be in place before the form's widgets are polished.
    UiStyleManager::applyApplicationStyle();
    ui->setupUi(this);
    removeMenuBar();
    setWindowTitle(AppConstants::kApplicationName);
    PlatformShell::colorWindowCaption(this);

    LoudnessNormalizer::Sources loudnessSources;
    loudnessSources.enabled = [this] { return loudnessEnabled(); };
    loudnessSources.target = [this] { return loudnessTarget(); };
    loudnessSources.shownCues = [this] { return trackListManager ? trackListManager->cues() : QList<Cue*>{}; };
    loudnessSources.selectedCue = [this] { return selectedCue.data(); };
    loudness = new LoudnessNormalizer(transport(), registry(), loudnessSources, this);

    setupControls();

    // Keys go to the window's own handlers, not to the two lists.
    ui->trackList->setFocusPolicy(Qt::NoFocus);
    ui->playlistGroup->setFocusPolicy(Qt::NoFocus);

    connectCueManagerSignals();
    connect(transport(), &AudioEngine::errorOccurred, this, &MainWindow::showEngineError);
    // Shown for as long as the output is away; the return for a while.
    connect(transport(), &AudioEngine::outputStatusChanged, this, [this](const QString& message, bool lost) {
        showStatus(lost ? QStringLiteral("⚠ ") + message : message, lost ? 0 : kEngineErrorTimeoutMs);
    });
    // A cue's loudness gain is in place before its first block sounds.
    connect(transport(), &AudioEngine::cueStarting, this, &MainWindow::applyLufsGain);
    connect(registry(), &CueManager::errorOccurred, this, [this](const QString& message) {
        qWarning() << "[MainWindow] CueManager error:" << message;
        showStatus(QStringLiteral("⚠ ") + message, kEngineErrorTimeoutMs);
    });

    trackListManager = new TrackListManager(ui->trackList, this);
    transport()->setTrackListManager(trackListManager->waveformParseQueue());
    connectTrackList();

    playlistManager = new GroupedPlaylistManager(ui->playlistGroup, nullptr, this);
    connectPlaylistTree();

    buildTransportBar();
    buildLoopControls();

    installEventFilter(this);
    ui->trackList->installEventFilter(this);
    ui->waveformWidget->installEventFilter(this);
    connectWaveformView();
    applyFormRanges();

    connect(transport()->cueVolumeRamp(), &CueVolumeRamp::finished, this, &MainWindow::onVolumeRampFinished);

    if (WaveformWidget* view = waveformView()) {
        view->setWaveformColor(QColor(0, 150, 255, 200));
        view->setBackgroundColor(QColor(25, 25, 30));
        view->setGridColor(QColor(50, 50, 60));
        view->setPlayheadColor(QColor(255, 100, 100));
        view->setDisplayMode(0);
        view->setAmplitudeScale(1.0f);
    }

    // The selection is read before the playback restore switches playlists:
    // a switch stores the playlist it shows as the last selected one.
    QSettings settings;
    const int lastSelectedPlaylist =
        settings.value(SettingsKeys::kLastSelectedPlaylistId, SettingsKeys::kLastSelectedPlaylistIdDefault).toInt();
    const int lastSelectedCue =
        settings.value(SettingsKeys::kLastSelectedCueId, SettingsKeys::kLastSelectedCueIdDefault).toInt();
    restoreLastPlayback();
    restoreLastSelection(lastSelectedPlaylist, lastSelectedCue);
    applyTrackListFontSize();
    applyHeaderFontSize();
    restorePanelVisibility();

    if (settings.value(SettingsKeys::kCartMode, SettingsKeys::kCartModeDefault).toBool() && cartModeButton)
        cartModeButton->setChecked(true);
}

MainWindow::~MainWindow()
{
    // Reports of the stop below must not reach a window being taken apart,
    // and the registry must not take the stop for the end of a cue and start
    // the next one.
    registry()->disconnect(this);
    transport()->disconnect(this);
    registry()->stopPlaylist();
    if (trackListManager) {
        trackListManager->stopWaveformParsing();
        trackListManager->clearParseQueue();
    }
    // The cues outlive the window: they get their own volume choice back
    // (the database never held the forced one).
    forcedVolumes.restore();
    delete batchSession;
    batchSession = nullptr;
    saveAllCues();
    delete trackListManager;
    trackListManager = nullptr;
    delete playlistManager;
    playlistManager = nullptr;
    delete settingsWidget;
    settingsWidget = nullptr;
    delete ui;
    ui = nullptr;
    // The child widgets go after this destructor, in QWidget's, and still
    // signal on the way (a loop box losing the focus reports an edit):
    // nothing of this window is left to take it.
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
}

void MainWindow::removeMenuBar()
{
    // menuBar() makes one on demand; the window has none, not even an empty
    // strip or a global menu on desktops that export it.
    if (QMenuBar* bar = menuBar()) {
        bar->setNativeMenuBar(false);
        bar->setFixedHeight(0);
        bar->hide();
        setMenuBar(nullptr);
    }
}

void MainWindow::connectTrackList()
{
    TrackListManager* list = trackListManager;
    connect(list, &TrackListManager::cueSelected, this, &MainWindow::onCueSelected);
    connect(list, &TrackListManager::cueSelected, loudness, &LoudnessNormalizer::onCueSelected);
    connect(list, &TrackListManager::batchModeChanged, this, &MainWindow::onBatchModeChanged);
    connect(list, &TrackListManager::batchSelectionChanged, this, &MainWindow::onBatchSelectionChanged);
    connect(list, &TrackListManager::waveformUpdated, this, &MainWindow::onWaveformUpdated);
    connect(list, &TrackListManager::cuesImported, this, [this] { prefillLufsGains(); });
    connect(list, &TrackListManager::statusMessage, this, &MainWindow::showStatus);
    connect(list, &TrackListManager::itemClickPlay, this, &MainWindow::onTrackDoubleClicked);
    connect(list, &TrackListManager::waveformParseStatus, this, &MainWindow::showStatus);
}

void MainWindow::connectPlaylistTree()
{
    GroupedPlaylistManager* tree = playlistManager;
    TrackListManager* list = trackListManager;
    connect(tree, &GroupedPlaylistManager::playlistSwitched, this, &MainWindow::onPlaylistSwitched);
    connect(tree, &GroupedPlaylistManager::statusMessage, this, &MainWindow::showStatus);
    connect(list, &TrackListManager::jumpToPlayingRequested, this, &MainWindow::onPlaybackIndicatorClicked);
    connect(list, &TrackListManager::cueDragStarted, tree, &GroupedPlaylistManager::onExternalDragStarted);
    connect(list, &TrackListManager::cueDragMoved, tree, &GroupedPlaylistManager::onExternalDragMoved);
    connect(list, &TrackListManager::cueDragEnded, tree, &GroupedPlaylistManager::onExternalDragEnded);
    connect(list, &TrackListManager::batchOperationStarted, this, [this] { batchOperationActive = true; });
    connect(list, &TrackListManager::batchOperationFinished, this, [this] { batchOperationActive = false; });
    connect(tree, &GroupedPlaylistManager::batchOperationStarted, this, [this] { batchOperationActive = true; });
    connect(tree, &GroupedPlaylistManager::batchOperationFinished, this, [this] {
        batchOperationActive = false;
        saveAllCues();
    });
    connect(tree, &GroupedPlaylistManager::cueDroppedOnPlaylist, this, &MainWindow::onCuesDroppedOnPlaylist);
}

void MainWindow::connectWaveformView()
{
    WaveformWidget* view = waveformView();
    if (!view)
        return;
    connect(view, &WaveformWidget::positionClicked, this, &MainWindow::onWaveformPositionClicked);
    connect(view, &WaveformWidget::loopRangeDragging, this, [this](qlonglong start, qlonglong end) {
        if (selectedCue && trackListManager)
            trackListManager->model()->setDisplayRange(selectedCue, start, end);
    });
}

void MainWindow::applyFormRanges()
{
    ui->volumeHorizontalScrollBar->setRange(0, 100);
    ui->volumeHorizontalScrollBar_2->setRange(0, 100);
    ui->volumeHorizontalScrollBar_2->setValue(50);
    ui->loopCountSpinBox->setRange(0, 99);
    ui->loopCountSpinBox->setSpecialValueText(QStringLiteral("∞"));
    ui->loopCountSpinBox->setValue(1);
    ui->preDurationSpinBox->setRange(0, 60);
    ui->preDurationSpinBox->setSingleStep(1);
    ui->preDurationSpinBox->setValue(0);
    ui->volumeHorizontalScrollBar->setValue(50);
}

void MainWindow::restorePanelVisibility()
{
    const bool visible = QSettings().value(SettingsKeys::kLeftPanelVisible, SettingsKeys::kLeftPanelVisibleDefault).toBool();
    if (visible || !panelVisible)
        return;
    ui->playlistGroup->hide();
    ui->spacingWidget->hide();
    ui->playlistGroup->setFixedWidth(0);
    panelVisible = false;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveLastPlayback();
    saveLastSelection();
    saveAllCues();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    layoutTopRow();
}

void MainWindow::layoutTopRow()
{
    QWidget* top = ui ? ui->topWidget : nullptr;
    QComboBox* selector = playlistManager ? playlistManager->playModeCombo() : nullptr;
    if (!top || !selector || !playbackIndicator || !cartModeButton || !ui->togglePanelBtn)
        return;
    const int cartWidth = cartModeButton->sizeHint().width();
    const int free = top->width() - 12 - selector->width() - playbackIndicator->width() - cartWidth
        - ui->togglePanelBtn->width();
    const int gap = free > 5 ? free / 3 : 2;
    const int y = (top->height() - 18) / 2;
    selector->move(6, y);
    const int indicatorX = 6 + selector->width() + gap;
    playbackIndicator->move(indicatorX, y);
    const int cartX = indicatorX + playbackIndicator->width() + gap;
    cartModeButton->move(cartX, y);
    ui->togglePanelBtn->move(cartX + cartWidth + gap, y);
}

// ---------------------------------------------------------------------------
// Controls

void MainWindow::setupControls()
{
    UiStyleManager::styleLabels(this);
    setStyleSheet(styleSheet() + ControlStyleSheets::windowAdditions());
    UiStyleManager::styleTrackTable(ui->trackList);
    UiStyleManager::stylePlaylistTree(ui->playlistGroup);
    UiStyleManager::applySizes(ui->trackList, ui->playlistGroup, ui->playControlWidget, ui->waveformWidget);

    // The number boxes of the settings bar keep the form's widths: their
    // text gets the largest size at which the widest value fits.
    for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{ui->fadeInSpinBox, ui->fadeOutSpinBox})
        TextFit::fitNumberFont(box, QStringLiteral("20.00"));
    loopBoxes = std::make_unique<LoopRangeBoxes>(ui->loopStartSpinBox, ui->loopDurationSpinBox, ui->loopEndSpinBox,
                                                 ui->loopStartLockBtn, ui->loopDurationLockBtn, ui->loopEndLockBtn);
    loopBoxes->style();
    loopBoxes->setUsable(false);  // until a cue is selected

    // Transport buttons share the panel's width.
    const QHBoxLayout* transportLayout = ui->playControlLayout;
    const QMargins margins = transportLayout->contentsMargins();
    const int buttonWidth =
        (ui->playControlWidget->width() - margins.left() - margins.right() - 3 * transportLayout->spacing()) / 4;
    for (QPushButton* button : {ui->prevButton, ui->playPasueButton, ui->nextButton, ui->stopButton})
        button->setFixedSize(buttonWidth, 52);

    UiStyleManager::styleScrollBars(ui->volumeHorizontalScrollBar);
    UiStyleManager::styleScrollBars(ui->volumeHorizontalScrollBar_2);
    buildVolumeValueLabels();

    QScrollBar* barA = ui->volumeHorizontalScrollBar;
    QScrollBar* barB = ui->volumeHorizontalScrollBar_2;
    connect(barA, &QScrollBar::valueChanged, this, [this] { onVolumeBarChanged(0); });
    connect(barB, &QScrollBar::valueChanged, this, [this] { onVolumeBarChanged(1); });
    updateVolumeValueLabel(0);
    updateVolumeValueLabel(1);
    connect(barA, &QScrollBar::sliderReleased, this, [this] { onVolumeBarReleased(0); });
    connect(barB, &QScrollBar::sliderReleased, this, [this] { onVolumeBarReleased(1); });
    connect(barA, &QScrollBar::sliderMoved, this, [this] { onVolumeBarMoved(0); });
    connect(barB, &QScrollBar::sliderMoved, this, [this] { onVolumeBarMoved(1); });
    barA->installEventFilter(this);
    barB->installEventFilter(this);

    styleTransportControls();
    buildStatusBarControls();
    connectDeviceInput();

    // Every plain spin box of the window looks alike; those of the settings
    // bar keep the form's height.
    for (QSpinBox* box : findChildren<QSpinBox*>()) {
        if (box->metaObject() != &QSpinBox::staticMetaObject)
            continue;
        box->setStyleSheet(box->parentWidget() == ui->setWidget ? ControlStyleSheets::settingsBarSpinBox()
                                                                : ControlStyleSheets::commonSpinBox());
    }
}

void MainWindow::buildStatusBarControls()
{
    statusControls = new StatusBarControls(ui->statusbar, this);
    StatusBarControls* controls = statusControls;
    loudnessCheckBox = controls->loudnessCheckBox();
    loudnessTargetCombo = controls->loudnessTargetCombo();
    crossfadeButton = controls->crossfadeButton();
    crossfadeDurationSpinBox = controls->crossfadeDurationSpinBox();
    outputDeviceCombo = controls->outputDeviceCombo();
    mainVolumeBar = controls->mainVolumeBar();
    recordButton = controls->recordButton();
    settingsButton = controls->settingsButton();
    editModeButton = controls->editModeButton();
    showModeButton = controls->showModeButton();
    recordIcon = controls->recordIcon();
    recordIconDimmed = controls->recordIconDimmed();
    modeActiveIcon = controls->modeActiveIcon();
    modeInactiveIcon = controls->modeInactiveIcon();
    transport()->setCueVolumeRampMs(qint64(controls->volumeSwitchSeconds() * 1000.0));

    connect(controls, &StatusBarControls::statusMessage, this, &MainWindow::showStatus);
    connect(controls, &StatusBarControls::loudnessSwitched, this, &MainWindow::onLoudnessSwitched);
    connect(controls, &StatusBarControls::loudnessTargetChanged, this, &MainWindow::onLoudnessTargetChanged);
    // The stored volume is in place before the handler is connected.
    connect(mainVolumeBar, &QScrollBar::valueChanged, this, &MainWindow::onMainVolumeChanged);
    applyLevelMeterSetting();
    mainVolumeBar->installEventFilter(this);
    connect(recordButton, &QPushButton::clicked, this, &MainWindow::openRecordingDialog);
    connect(settingsButton, &QPushButton::clicked, this, &MainWindow::onSettingsClicked);
    connect(editModeButton, &QPushButton::clicked, this, &MainWindow::onEditModeClicked);
    connect(showModeButton, &QPushButton::clicked, this, &MainWindow::onShowModeClicked);

    // The indicator is placed in the waveform strip by buildTransportBar.
    playbackIndicator = new QLabel(this);
    playbackIndicator->setFixedSize(18, 18);
    playbackIndicator->setAlignment(Qt::AlignCenter);
    playbackIndicator->setToolTip(QStringLiteral("点击跳转到正在播放/暂停的Cue"));
    playbackIndicator->setCursor(Qt::PointingHandCursor);
    playbackIndicator->setPixmap(AppIcons::renderSvg(AppIcons::indicatorSvg(AudioEngine::Stopped, 0.0)));
    playbackIndicator->installEventFilter(this);
    indicatorTimer = new QTimer(this);
    indicatorTimer->setInterval(kIndicatorIntervalMs);
    connect(indicatorTimer, &QTimer::timeout, this, [this] {
        indicatorPhase += kIndicatorPhaseStep;
        updatePlaybackIndicator();
    });
    connect(transport(), &AudioEngine::stateChanged, this, &MainWindow::updatePlaybackIndicator);
}

void MainWindow::buildVolumeValueLabels()
{
    auto makeLabel = [this](QScrollBar* bar) {
        auto* label = new QLabel(bar);
        label->setAlignment(Qt::AlignCenter);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont font = label->font();
        font.setPixelSize(8);
        font.setWeight(QFont::Bold);
        label->setFont(font);
        label->setStyleSheet(ControlStyleSheets::volumeValueLabel());
        label->raise();
        return label;
    };
    volumeValueLabelA = makeLabel(ui->volumeHorizontalScrollBar);
    volumeValueLabelB = makeLabel(ui->volumeHorizontalScrollBar_2);
    activeVolumeGroup = 0;
    updateVolumeGroupLabels();
}

void MainWindow::styleTransportControls()
{
    const QString sheet = ControlStyleSheets::transportButtons();
    for (QPushButton* button : {ui->prevButton, ui->playPasueButton, ui->nextButton, ui->stopButton})
        button->setStyleSheet(sheet);
}

void MainWindow::connectDeviceInput()
{
    inputRouter = new InputActionRouter(this, ui->waveformWidget, inputActions());
    inputRouter->setupShortcuts();
    new DialogKeyGuard(this, [this] { return inputRouter->shortcuts(); });
    HidDeviceManager* input = HidDeviceManager::instance();
    input->ensureStarted();
    connect(input, &HidDeviceManager::buttonPressed, inputRouter, &InputActionRouter::onDeviceButtonPressed);
    connect(input, &HidDeviceManager::globalHotkeyTriggered, inputRouter,
            &InputActionRouter::onGlobalHotkeyTriggered);

    QSettings settings;
    QSet<QString> bound;
    for (const SettingsKeys::HotkeyAction& action : SettingsKeys::kHotkeyActions) {
        const QString identifier =
            settings.value(SettingsKeys::shortcutDeviceKey(QLatin1String(action.id))).toString();
        if (!identifier.isEmpty())
            bound.insert(identifier);
    }
    input->setBoundIdentifiers(bound);
    input->setGlobalMode(
        settings.value(SettingsKeys::kDeviceGlobalEnabled, SettingsKeys::kDeviceGlobalEnabledDefault).toBool());
}

void MainWindow::buildTransportBar()
{
    connect(ui->prevButton, &QPushButton::clicked, this, &MainWindow::onPrevClicked);
    connect(ui->playPasueButton, &QPushButton::clicked, this, &MainWindow::onPlayPauseClicked);
    connect(ui->nextButton, &QPushButton::clicked, this, &MainWindow::onNextClicked);
    connect(ui->stopButton, &QPushButton::clicked, this, &MainWindow::onStopClicked);

    if (QComboBox* selector = playlistManager ? playlistManager->playModeCombo() : nullptr) {
        connect(selector, &QComboBox::currentIndexChanged, this, &MainWindow::onPlayModeChanged);
        selector->setStyleSheet(ControlStyleSheets::playModeSelector());
        // 68 px at the least, and wide enough for "自定义列表循环".
        selector->setFixedSize(TextFit::comboWidthForItems(selector, 68, 3), 18);
        ui->topWidgetLayout->insertWidget(0, selector, 0, Qt::AlignVCenter);

        cartModeButton = new QPushButton(QStringLiteral("卡片"), ui->topWidget);
        cartModeButton->setFixedSize(50, 18);
        cartModeButton->setCheckable(true);
        cartModeButton->setCursor(Qt::PointingHandCursor);
        updateCartButton();
        connect(cartModeButton, &QPushButton::toggled, this, &MainWindow::setCartMode);

        // The four widgets of the top row are placed by layoutTopRow.
        ui->topWidgetLayout->removeWidget(ui->togglePanelBtn);
        for (QWidget* widget : {static_cast<QWidget*>(playbackIndicator), static_cast<QWidget*>(ui->togglePanelBtn)}) {
            widget->setParent(ui->topWidget);
            widget->show();
            widget->raise();
        }
        cartModeButton->raise();
        layoutTopRow();
    }

    ui->togglePanelBtn->setText(QStringLiteral("☰"));
    connect(ui->togglePanelBtn, &QPushButton::clicked, this, &MainWindow::onTogglePanelClicked);

    panelAnimation = new QPropertyAnimation(ui->playlistGroup, "maximumWidth", this);
    panelAnimation->setDuration(kPanelAnimationMs);
    panelAnimation->setEasingCurve(QEasingCurve::InOutQuad);

    ui->volumeHorizontalScrollBar->installEventFilter(this);
    ui->label_A->installEventFilter(this);
    ui->label_B->installEventFilter(this);

    populateOutputDevices();
}

void MainWindow::populateOutputDevices()
{
    statusControls->populateOutputDevices();
}

void MainWindow::applyAudioSettings()
{
    statusControls->applyAudioSettings();
    transport()->setCueVolumeRampMs(qint64(statusControls->volumeSwitchSeconds() * 1000.0));
}

void MainWindow::updateCrossfadeButtonState(bool enabled)
{
    if (statusControls)
        statusControls->updateCrossfadeButtonState(enabled);
}

void MainWindow::onOutputDeviceChanged(int index)
{
    // The list switches the device itself (StatusBarControls).
    Q_UNUSED(index);
}

void MainWindow::onLoudnessSwitched(bool on)
{
    if (on) {
        prefillLufsGains();
        startLufsScan();
        if (Cue* cue = registry()->getCurrentCue())
            applyLufsGain(cue);
        return;
    }
    stopLufsScan();
    transport()->setLufsGain(0.0);
}

void MainWindow::onLoudnessTargetChanged(int target)
{
    recomputeLufsGains(target);
    if (Cue* cue = registry()->getCurrentCue())
        applyLufsGain(cue);
}

void MainWindow::onVolumeBarChanged(int group)
{
    if (activeVolumeGroup != group) {
        activeVolumeGroup = group;
        updateVolumeGroupLabels();
    }
    updateVolumeValueLabel(group);
}

void MainWindow::onVolumeBarMoved(int group)
{
    if (!batchMode || !batchSession)
        return;
    // Dragged over the selection: every cue gets this value.
    batchSession->setVolumeUniform(group, true);
    updateVolumeValueLabel(group);
}

void MainWindow::onVolumeBarReleased(int group)
{
    // The bar's value and its group become the selected cue's, or in batch
    // mode the choice of every cue of the batch.
    selectVolumeGroup(group);
    if (!batchMode || !batchSession || !trackListManager || trackListManager->batchCues().isEmpty())
        return;
    batchSession->recheckVolumeUniform(group);
    updateVolumeValueLabel(group);
}

// ---------------------------------------------------------------------------
// Settings window, playlist panel, fonts

void MainWindow::onSettingsClicked()
{
    auto* panel = new SettingsPanel(this);
    panel->setWindowFlag(Qt::Dialog);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(QStringLiteral("设置"));
    connect(panel, &SettingsPanel::settingsChanged, this, [this] {
        inputRouter->setupShortcuts();
        applyAudioSettings();
        applyTrackListFontSize();
        applyHeaderFontSize();
        applyLevelMeterSetting();
        if (cartWidget) {
            QSettings settings;
            cartWidget->setColumnCount(
                settings.value(SettingsKeys::kCartColumns, SettingsKeys::kCartColumnsDefault).toInt());
            cartWidget->setItemHeight(
                settings.value(SettingsKeys::kCartItemHeight, SettingsKeys::kCartItemHeightDefault).toInt());
        }
    });
    connect(panel, &SettingsPanel::cacheCleared, this, [this] {
        if (trackListManager)
            trackListManager->clearWaveformCache();
    });
    panel->show();
}

void MainWindow::onTogglePanelClicked()
{
    if (!panelAnimation || panelAnimation->state() == QAbstractAnimation::Running)
        return;
    QWidget* tree = ui->playlistGroup;
    if (panelVisible) {
        // The fixed width would hold the panel open while its maximum shrinks.
        tree->setMinimumWidth(0);
        panelAnimation->setStartValue(kPanelWidth);
        panelAnimation->setEndValue(0);
        connect(
            panelAnimation, &QPropertyAnimation::finished, this,
            [this] {
                ui->playlistGroup->hide();
                ui->spacingWidget->hide();
                panelVisible = false;
                SettingsWriter::write(SettingsKeys::kLeftPanelVisible, false);
            },
            Qt::SingleShotConnection);
    } else {
        tree->show();
        ui->spacingWidget->show();
        tree->setMinimumWidth(0);
        tree->setMaximumWidth(0);
        panelAnimation->setStartValue(0);
        panelAnimation->setEndValue(kPanelWidth);
        connect(
            panelAnimation, &QPropertyAnimation::finished, this,
            [this] {
                ui->playlistGroup->setFixedWidth(kPanelWidth);
                panelVisible = true;
                SettingsWriter::write(SettingsKeys::kLeftPanelVisible, true);
            },
            Qt::SingleShotConnection);
    }
    panelAnimation->start();
}

void MainWindow::applyTrackListFontSize()
{
    const int size = QSettings().value(SettingsKeys::kFontSize, SettingsKeys::kFontSizeDefault).toInt();
    QTableView* table = ui->trackList;
    table->setStyleSheet(withFontSize(table->styleSheet(),
                                      QStringLiteral("\n#trackList { font-size: %1px; }\n"
                                                     "\n#trackList::item { font-size: %1px; }\n")
                                          .arg(size)));
}

void MainWindow::applyHeaderFontSize()
{
    const int size = QSettings().value(SettingsKeys::kHeaderFontSize, SettingsKeys::kHeaderFontSizeDefault).toInt();
    const QString rule = QStringLiteral("\nQHeaderView::section { font-size: %1px; }\n").arg(size);
    for (QHeaderView* header : {ui->trackList->horizontalHeader(), ui->trackList->verticalHeader()})
        header->setStyleSheet(withFontSize(header->styleSheet(), rule));
}

void MainWindow::applyLevelMeterSetting()
{
    if (mainVolumeBar)
        mainVolumeBar->setActive(
            QSettings().value(SettingsKeys::kShowLevelMeter, SettingsKeys::kShowLevelMeterDefault).toBool());
}

// ---------------------------------------------------------------------------
// Transport

void MainWindow::connectCueManagerSignals()
{
    CueManager* cues = registry();
    connect(cues, &CueManager::playbackStateChanged, this, &MainWindow::onPlaybackStateChanged);
    connect(cues, &CueManager::currentCueChanged, this, &MainWindow::onCurrentCueChanged);
    connect(cues, &CueManager::playlistFinished, this, &MainWindow::onPlaylistFinished);
    connect(cues, &CueManager::playModeChanged, this, &MainWindow::onRegistryPlayModeChanged);
    connect(cues, &CueManager::cueCreated, this, [this] { saveAllCues(); });
    connect(cues, &CueManager::playbackPositionChanged, this, &MainWindow::followPlaybackPosition);
    connect(cues, &CueManager::playbackDurationChanged, this, [this] {
        if (selectedCue && trackListManager)
            trackListManager->refreshCueRow(selectedCue);
    });
}

void MainWindow::onRegistryPlayModeChanged(int mode)
{
    QComboBox* selector = playlistManager ? playlistManager->playModeCombo() : nullptr;
    if (selector && selector->currentIndex() != mode)
        selector->setCurrentIndex(mode);
}

QList<Cue*> MainWindow::tableCues() const
{
    QList<Cue*> cues;
    if (!trackListManager)
        return cues;
    const int rows = trackListManager->rowCount();
    cues.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        if (Cue* cue = trackListManager->cueAt(row))
            cues.append(cue);
    }
    return cues;
}

void MainWindow::playPlaylistFrom(int playlistId, int row, qint64 startPosMs)
{
    CueManager* cues = registry();
    if (cues->isPaused())
        cues->stopPlaylist();

    const QList<Cue*> order = tableCues();
    if (!order.isEmpty()) {
        Cue* target = trackListManager->cueAt(row);
        cues->setPlaylist(order);
        cues->setCurrentIndex(std::max<int>(0, target ? int(order.indexOf(target)) : 0));
        // The cue starts where it was asked to: starting it at its loop start
        // and seeking afterwards would let the device play a block from there.
        cues->playPlaylist(startPosMs);
        if (playlistManager)
            playlistManager->setPlayingPlaylistId(playlistId);
        if (Cue* current = cues->getCurrentCue()) {
            trackListManager->setCurrentCue(current, true);
            trackListManager->selectCue(current);
            if (cartMode && cartWidget) {
                cartWidget->setCurrentCue(current, true);
                cartWidget->setPlayingCue(current);
            }
        }
        showStatus(QStringLiteral("正在播放，共 %1 首").arg(order.size()), 3000);
        return;
    }

    // The table shows nothing: the stored playlist itself.
    const QList<int> ids = cues->getPlaylistCueIds(playlistId);
    if (ids.isEmpty()) {
        showStatus(QStringLiteral("歌单为空或加载失败"), 3000);
        return;
    }
    QList<Cue*> stored;
    for (int id : ids) {
        Cue* cue = cues->getCue(id);
        if (!cue)
            cue = cues->getOrLoadCue(id);
        if (cue)
            stored.append(cue);
    }
    if (stored.isEmpty()) {
        showStatus(QStringLiteral("歌单为空或加载失败"), 3000);
        return;
    }
    Cue* target = trackListManager ? trackListManager->cueAt(row) : nullptr;
    cues->setPlaylist(stored);
    cues->setCurrentIndex(std::max<int>(0, target ? int(stored.indexOf(target)) : 0));
    cues->playPlaylist();
    showStatus(QStringLiteral("正在播放，共 %1 首").arg(stored.size()), 3000);
}

void MainWindow::playCueInPlaylist(int playlistId, Cue* cue, qint64 startPosMs)
{
    if (!cue || !trackListManager)
        return;
    const int row = trackListManager->rowOfCue(cue);
    playPlaylistFrom(playlistId, row >= 0 ? row : 0, startPosMs);
}

qint64 MainWindow::startFromPlayhead(const Cue* cue) const
{
    // The playhead says where the operator wants the cue to start, when the
    // view shows that cue and the playhead lies where the cue plays. At or
    // past its loop end nothing of it would sound: the selected cue would
    // end at once and the play mode would start another. Then, as for any
    // other cue, it starts at its loop start (0 here).
    const WaveformWidget* view = waveformView();
    if (!view || !cue || view->cue() != cue)
        return 0;
    const qint64 at = view->playheadMs();
    const qint64 duration = cue->durationMs();
    const qint64 loopEnd = cue->loopEndMs();
    const qint64 end = (loopEnd >= 1 && (duration < 1 || loopEnd < duration)) ? loopEnd : duration;
    return end > 0 && at >= end ? 0 : at;
}

void MainWindow::onPlayPauseClicked()
{
    CueManager* cues = registry();
    if (cues->isPlaying()) {
        cues->pausePlaylist();
        return;
    }
    if (cues->isPaused()) {
        cues->playPlaylist();
        return;
    }
    if (currentPlaylistId == -1) {
        if (selectedCue)
            cues->playCue(selectedCue, startFromPlayhead(selectedCue));
        return;
    }
    const int row = trackListManager->selectedRow();
    Cue* target = trackListManager->cueAt(row >= 0 ? row : 0);
    playPlaylistFrom(currentPlaylistId, row, startFromPlayhead(target));
}

void MainWindow::onNextClicked()
{
    CueManager* cues = registry();
    if (cues->getPlaylist().isEmpty() && currentPlaylistId != -1) {
        const int row = trackListManager->selectedRow();
        playPlaylistFrom(currentPlaylistId, row < trackListManager->rowCount() - 1 ? row + 1 : 0, 0);
        return;
    }
    cues->playNext();
    selectPlayingCue(true);
    if (!cues->isPlaying() && !cues->isPaused())
        cues->playPlaylist();
}

void MainWindow::onPrevClicked()
{
    CueManager* cues = registry();
    if (cues->getPlaylist().isEmpty() && currentPlaylistId != -1) {
        const int row = trackListManager->selectedRow();
        playPlaylistFrom(currentPlaylistId, row < 1 ? trackListManager->rowCount() - 1 : row - 1, 0);
        return;
    }
    cues->playPrevious();
    selectPlayingCue(false);
    if (!cues->isPlaying() && !cues->isPaused())
        cues->playPlaylist();
}

void MainWindow::selectPlayingCue(bool touchCart)
{
    // The row of the cue the play order is at; the table may show another
    // playlist, where the same row number holds another cue.
    const CueManager* cues = registry();
    const QList<Cue*> order = cues->getPlaylist();
    const int index = cues->getCurrentIndex();
    if (!trackListManager || index < 0 || index >= order.size())
        return;
    Cue* cue = order.at(index);
    if (!cue || trackListManager->rowOfCue(cue) < 0)
        return;
    trackListManager->selectCue(cue);
    if (cue != selectedCue)
        onCueSelected(cue);
    if (touchCart && cartMode && cartWidget) {
        cartWidget->clearSelection();
        cartWidget->setCurrentCue(cue, true);
        cartWidget->setPlayingCue(cue);
    }
}

void MainWindow::onStopClicked()
{
    registry()->stopPlaylist();
    if (trackListManager)
        trackListManager->clearCurrentCue();
    if (cartWidget)
        cartWidget->clearPlayingCue();
    updatePlayButtonIcon(false);
    showStatus(QStringLiteral("已停止播放"), 2000);
}

void MainWindow::onTrackDoubleClicked(QModelIndex index)
{
    if (!index.isValid() || index.row() < 0 || index.column() < 0 || !index.model() || currentPlaylistId == -1
        || !trackListManager)
        return;
    const int row = index.row();
    Cue* cue = trackListManager->cueAt(row);
    if (!cue)
        return;
    if (cue->filePath().isEmpty() || !QFileInfo::exists(cue->filePath())) {
        showStatus(QStringLiteral("歌曲文件不存在: ") + cue->name(), 3000);
        return;
    }
    playPlaylistFrom(currentPlaylistId, row, 0);
    if (WaveformWidget* view = waveformView()) {
        view->setCue(cue);
        QList<float> peaks = cue->waveform();
        if (peaks.isEmpty())
            peaks = trackListManager->cachedWaveform(cue);
        if (!peaks.isEmpty())
            view->setAudioData(peaks);
    }
    trackListManager->selectCue(cue);
}

void MainWindow::onPlayModeChanged(int index)
{
    // The selector's index is a play mode; anything else plays as ListLoop
    // and is stored as such.
    const int mode = index >= CueManager::SingleLoop && index <= CueManager::CustomRandom ? index
                                                                                         : int(CueManager::ListLoop);
    registry()->setPlayMode(CueManager::PlayMode(mode));
    registry()->rebuildLoopCountMemory();
    if (!suppressPlayModeSave && currentPlaylistId != -1 && playlistManager)
        playlistManager->setPlaylistPlayMode(currentPlaylistId, mode);
    if (!suppressPlayModeSave)  // a shown playlist's own mode is no switch
        showStatus(QStringLiteral("播放模式已切换: %1").arg(playModeName(mode)), 2000);
}

void MainWindow::onPlaylistSwitched(int playlistId)
{
    currentPlaylistId = playlistId;
    SettingsWriter::writeIfChanged(SettingsKeys::kLastSelectedPlaylistId, playlistId);

    const int mode = playlistManager ? playlistManager->playModeOf(playlistId) : -1;
    if (mode >= CueManager::SingleLoop && mode <= CueManager::CustomRandom) {
        suppressPlayModeSave = true;
        if (QComboBox* selector = playlistManager->playModeCombo())
            selector->setCurrentIndex(mode);
        registry()->setPlayMode(CueManager::PlayMode(mode));
        suppressPlayModeSave = false;
    }

    if (playlistId >= 0) {
        trackListManager->loadPlaylist(playlistId);
        // Stored loudness does not outlive a start: with normalisation on,
        // the shown cues are measured now, not when each first plays.
        if (loudnessEnabled())
            loudness->scanShownTable();
        else
            prefillLufsGains();
    } else {
        trackListManager->loadPlaylist(-1);
    }
    // The bar lets go of the cue too: it is not in the table any more. The
    // waveform view keeps what it shows (in show mode, the playing cue).
    releaseSelectedCue();
    if (cartMode && cartWidget) {
        cartWidget->clearSelection();
        cartWidget->setCues(trackListManager->cues());
    }
}

void MainWindow::followPlaybackPosition(qlonglong positionMs)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastPositionRepaintMs <= kPositionRepaintGapMs)
        return;
    lastPositionRepaintMs = now;
    WaveformWidget* view = waveformView();
    Cue* current = registry()->getCurrentCue();
    if (!current) {
        if (view)
            view->setPlaybackPosition(nullptr, positionMs);
        return;
    }
    if (view)
        view->setPlaybackPosition(current, positionMs);
    if (view && view->isMousePressed())
        return;
    if (trackListManager)
        trackListManager->model()->setPosition(current, positionMs);
    if (cartMode && cartWidget)
        cartWidget->updateCueProgress(current, positionMs);
}

void MainWindow::onCurrentCueChanged(Cue* cue)
{
    if (trackListManager && cue) {
        trackListManager->setCurrentCue(cue, registry()->isPlaying());
        if (showMode) {
            trackListManager->selectCue(cue);
            if (cartMode && cartWidget) {
                cartWidget->clearSelection();
                cartWidget->setCurrentCue(cue, true);
                cartWidget->setPlayingCue(cue);
            }
        }
        showStatus(QStringLiteral("正在播放: %1").arg(cue->name()), 3000);
        showCueInWaveformIfNeeded(cue);
    }
    applyLufsGain(cue);
}

void MainWindow::showCueInWaveformIfNeeded(Cue* cue)
{
    // In edit mode the cue the operator looks at stays in the view while
    // another cue starts.
    WaveformWidget* view = waveformView();
    if (!view || view->cue() == cue)
        return;
    if (!transport()->isCrossfading() && !showMode && view->cue())
        return;
    view->setCue(cue);
    if (showMode)
        view->setShowMode(true);
    QList<float> peaks = cue->waveform();
    if (peaks.isEmpty())
        peaks = trackListManager->cachedWaveform(cue);
    if (!peaks.isEmpty())
        view->setAudioData(peaks);
    else
        trackListManager->enqueueWaveformParse(cue, false);
    view->setPlaybackPosition(cue, registry()->getCurrentPosition());
}

void MainWindow::onPlaybackStateChanged(bool isPlaying)
{
    updatePlayButtonIcon(isPlaying);
    Cue* current = registry()->getCurrentCue();
    WaveformWidget* view = waveformView();
    // Not playing and not paused is a stop, also where the transport keeps
    // the cue it could not go on with (a device that failed to come back).
    const bool stopped = !isPlaying && !registry()->isPaused();
    if (current && !stopped) {
        if (trackListManager)
            trackListManager->setCurrentCue(current, isPlaying);
        if (view)
            view->setPlaybackPosition(current, registry()->getCurrentPosition());
        if (cartWidget) {
            cartWidget->setPlayingCue(current);
            cartWidget->setCuePaused(current, !isPlaying);
        }
        return;
    }
    if (trackListManager && !isPlaying)
        trackListManager->setCurrentCue(nullptr, false);
    if (view)
        view->setPlaybackPosition(nullptr, 0);
    if (cartWidget)
        cartWidget->clearPlayingCue();
}

void MainWindow::updatePlayButtonIcon(bool isPlaying)
{
    ui->playPasueButton->setText(isPlaying ? QStringLiteral("||") : QStringLiteral("▶"));
    ui->playPasueButton->setToolTip(isPlaying ? QStringLiteral("暂停") : QStringLiteral("播放"));
}

void MainWindow::onPlaylistFinished()
{
    updatePlayButtonIcon(false);
    if (cartWidget)
        cartWidget->clearPlayingCue();
    if (trackListManager)
        trackListManager->clearCurrentCue();
    showStatus(QStringLiteral("播放完成（已暂停）"), 2000);
}

void MainWindow::updatePlaybackIndicator()
{
    if (!playbackIndicator)
        return;
    if (const WaveformWidget* view = waveformView(); view && view->isMousePressed())
        return;
    const AudioEngine::State state = transport()->getState();
    playbackIndicator->setPixmap(AppIcons::renderSvg(AppIcons::indicatorSvg(state, indicatorPhase)));
    if (!indicatorTimer)
        return;
    if (state == AudioEngine::Stopped)
        indicatorTimer->stop();
    else if (!indicatorTimer->isActive())
        indicatorTimer->start();
}

void MainWindow::onPlaybackIndicatorClicked()
{
    Cue* cue = transport()->getCurrentCue();
    if (!cue) {
        showStatus(QStringLiteral("没有正在播放或暂停的Cue"), 2000);
        return;
    }
    const QList<int> playlists = cue->getPlaylistIds();
    if (playlists.isEmpty()) {
        showStatus(QStringLiteral("该Cue不属于任何播放列表"), 2000);
        return;
    }
    if (playlists.first() != currentPlaylistId && playlistManager)
        playlistManager->selectPlaylist(playlists.first());
    if (trackListManager) {
        const int row = trackListManager->model()->rowOfCue(cue);
        if (row >= 0) {
            QTableView* table = trackListManager->tableView();
            const QModelIndex index = trackListManager->model()->index(row, 0);
            table->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            table->scrollTo(index);
        }
    }
    if (cartMode && cartWidget) {
        cartWidget->clearSelection();
        cartWidget->setCurrentCue(cue, true);
        cartWidget->setPlayingCue(cue);
    }
    if (selectedCue) {
        disconnect(selectedCue, &Cue::loopRangeChanged, this, nullptr);
        disconnect(selectedCue, &Cue::dataUpdated, this, nullptr);
        if (selectedCue->isDirty())
            selectedCue->saveToDatabase(false);
        selectedCue = nullptr;
    }
    onCueSelected(cue);
    showStatus(QStringLiteral("已跳转到: %1").arg(cue->alias().isEmpty() ? cue->name() : cue->alias()), 2000);
}

// ---------------------------------------------------------------------------
// Loop-position commands

Cue* MainWindow::loopCommandCue() const
{
    return selectedCue ? selectedCue.data() : registry()->getCurrentCue();
}

namespace {

qint64 effectiveLoopEnd(const Cue* cue)
{
    const qint64 end = cue->loopEndMs();
    return end >= 1 && end < cue->durationMs() ? end : cue->durationMs();
}

}  // namespace

void MainWindow::seekToLoopStart()
{
    Cue* cue = loopCommandCue();
    if (!cue || cue->loopStartMs() < 0 || effectiveLoopEnd(cue) <= cue->loopStartMs())
        return;
    registry()->seek(cue->loopStartMs());
    if (WaveformWidget* view = waveformView())
        view->setPosition(cue->loopStartMs());
    showStatus(QStringLiteral("跳转到音频起点"), 1500);
}

void MainWindow::seekToLoopEnd()
{
    Cue* cue = loopCommandCue();
    if (!cue)
        return;
    const qint64 end = effectiveLoopEnd(cue);
    registry()->seek(end);
    if (WaveformWidget* view = waveformView())
        view->setPosition(end);
    showStatus(QStringLiteral("跳转到音频终点"), 1500);
}

void MainWindow::setLoopStartAtCurrentPosition()
{
    // Show mode changes no stored cue, from whichever input.
    Cue* cue = showMode ? nullptr : loopCommandCue();
    WaveformWidget* view = waveformView();
    if (!cue || !view)
        return;
    const qint64 position = view->playheadMs();
    if (effectiveLoopEnd(cue) <= position) {
        showStatus(QStringLiteral("音频起点必须小于终点"), 1500);
        return;
    }
    cue->setLoopRange(position, effectiveLoopEnd(cue), false);
    cue->saveToDatabase(false);
    showStatus(QStringLiteral("设置音频起点"), 1500);
    view->update();
    showLoopRangeInBoxes(cue);
}

void MainWindow::setLoopEndAtCurrentPosition()
{
    // Show mode changes no stored cue, from whichever input.
    Cue* cue = showMode ? nullptr : loopCommandCue();
    WaveformWidget* view = waveformView();
    if (!cue || !view)
        return;
    const qint64 position = view->playheadMs();
    if (position <= cue->loopStartMs()) {
        showStatus(QStringLiteral("音频终点必须大于起点"), 1500);
        return;
    }
    cue->setLoopRange(cue->loopStartMs(), position, false);
    cue->saveToDatabase(false);
    showStatus(QStringLiteral("设置音频终点 %1 ms").arg(position), 1500);
    view->update();
    showLoopRangeInBoxes(cue);
}

void MainWindow::showLoopRangeInBoxes(Cue* cue)
{
    showLoopRangeInBoxes(cue->loopStartMs(), cue->loopEndMs());
}

void MainWindow::showLoopRangeInBoxes(qint64 startMs, qint64 endMs)
{
    if (loopBoxes)
        loopBoxes->show(startMs, endMs);
}

// ---------------------------------------------------------------------------
// Connections of the constructor

void MainWindow::showStatus(const QString& message, int timeoutMs)
{
    ui->statusbar->showMessage(message, timeoutMs);
}

void MainWindow::showEngineError(const QString& message)
{
    qWarning() << "[MainWindow] AudioEngine error:" << message;
    showStatus(QStringLiteral("⚠ ") + message, kEngineErrorTimeoutMs);
}

WaveformWidget* MainWindow::waveformView() const
{
    return ui ? qobject_cast<WaveformWidget*>(ui->waveformWidget) : nullptr;
}

int MainWindow::loudnessTarget() const
{
    return statusControls ? statusControls->loudnessTarget() : SettingsKeys::kLoudnessTargetDefault;
}

void MainWindow::onWaveformPositionClicked(qlonglong positionMs)
{
    if (!selectedCue)
        return;
    Cue* current = registry()->getCurrentCue();
    if (!current) {
        registry()->seek(positionMs);
        trackListManager->refreshCueRow(selectedCue);
        return;
    }
    if (current->id() != selectedCue->id()) {
        trackListManager->refreshCueRow(selectedCue);
        return;
    }
    registry()->seek(positionMs);
    trackListManager->model()->setPosition(selectedCue, positionMs);
    trackListManager->refreshCueRow(selectedCue);
    if (cartMode && cartWidget)
        cartWidget->updateCueProgress(selectedCue, positionMs);
}

void MainWindow::onCuesDroppedOnPlaylist(int playlistId, const QList<Cue*>& cues)
{
    if (!trackListManager)
        return;
    const int copied = trackListManager->pasteCues(cues, playlistId, -1, nullptr);
    if (copied > 0)
        showStatus(QStringLiteral("已复制 %1 个Cue到列表尾部").arg(copied), 2000);
}

// ---------------------------------------------------------------------------
// Cue editing

void MainWindow::buildLoopControls()
{
    fadeInSpin = ui->fadeInSpinBox;
    fadeOutSpin = ui->fadeOutSpinBox;
    fadeInSpin->setSuffix(QString());
    fadeOutSpin->setSuffix(QString());
    loopDurationSpin = ui->loopDurationSpinBox;
    loopStartSpin = ui->loopStartSpinBox;
    loopEndSpin = ui->loopEndSpinBox;
    loopRangeLabel = ui->loopDurationLabel;
    loopStartLockButton = ui->loopStartLockBtn;
    loopDurationLockButton = ui->loopDurationLockBtn;
    loopEndLockButton = ui->loopEndLockBtn;

    auto* selectAll = new SelectAllOnFocusFilter(this);
    for (QWidget* box : {static_cast<QWidget*>(ui->fadeInSpinBox), static_cast<QWidget*>(ui->fadeOutSpinBox),
                         static_cast<QWidget*>(ui->loopDurationSpinBox), static_cast<QWidget*>(ui->loopStartSpinBox),
                         static_cast<QWidget*>(ui->loopEndSpinBox), static_cast<QWidget*>(ui->preDurationSpinBox),
                         static_cast<QWidget*>(ui->loopCountSpinBox)})
        box->installEventFilter(selectAll);
    for (QWidget* widget : {static_cast<QWidget*>(ui->loopDurationSpinBox), static_cast<QWidget*>(ui->loopStartSpinBox),
                            static_cast<QWidget*>(ui->loopEndSpinBox), static_cast<QWidget*>(ui->loopDurationLabel)})
        widget->installEventFilter(this);

    settingsWidget = new SettingsWidget(this);
    settingsWidget->setWidgets(ui->infiniteLoopBtn, ui->loopLabel, ui->loopCountSuffix, ui->loopCountSpinBox,
                               ui->fadeCheckBox, ui->preDurationSpinBox, ui->volumeHorizontalScrollBar,
                               ui->volumeEnvelopeCheckBox, ui->panCheckBox, ui->colorButton, ui->fadeInSpinBox,
                               ui->fadeOutSpinBox, ui->fadeInLabel, ui->fadeOutLabel, ui->loopDurationLabel,
                               ui->label_3, ui->label_5, ui->label_4, ui->panEnvelopeLabel, ui->volumeEnvelopeLabel,
                               ui->volumeHorizontalScrollBar_2);
    connect(settingsWidget, &SettingsWidget::statusMessage, this, &MainWindow::showStatus);
    connect(settingsWidget, &SettingsWidget::loopSettingsChanged, this, [this](bool infinite, int count) {
        if (trackListManager && selectedCue)
            trackListManager->setCueLoopCount(selectedCue, infinite, count);
    });
    connect(settingsWidget, &SettingsWidget::volumeChanged, this, [this] {
        if (selectedCue)
            selectedCue->saveToDatabase(false);
    });
    connect(settingsWidget, &SettingsWidget::cueColorChanged, this, &MainWindow::refreshTableKeepingSelection);
    connect(settingsWidget, &SettingsWidget::switchEnvelopeEditMode, this, [this](bool panEditMode) {
        if (WaveformWidget* view = waveformView())
            view->setEnvelopeEditMode(panEditMode);
    });

    using Box = LoopBoxRules::Box;
    connect(loopDurationSpin, &QAbstractSpinBox::editingFinished, this, [this] { onLoopBoxEdited(Box::Length); });
    connect(loopStartSpin, &QAbstractSpinBox::editingFinished, this, [this] { onLoopBoxEdited(Box::Start); });
    connect(loopEndSpin, &QAbstractSpinBox::editingFinished, this, [this] { onLoopBoxEdited(Box::End); });
    if (WaveformWidget* view = waveformView())
        connect(view, &WaveformWidget::loopRangeDragging, this, &MainWindow::followLoopDrag);

    connect(loopStartLockButton, &QPushButton::clicked, this, &MainWindow::onLoopStartLockClicked);
    connect(loopDurationLockButton, &QPushButton::clicked, this, &MainWindow::onLoopDurationLockClicked);
    connect(loopEndLockButton, &QPushButton::clicked, this, &MainWindow::onLoopEndLockClicked);
}

void MainWindow::refreshTableKeepingSelection()
{
    if (!trackListManager || !trackListManager->model())
        return;
    QItemSelectionModel* selection = ui->trackList->selectionModel();
    QList<int> rows;
    for (const QModelIndex& index : selection->selectedRows(0)) {
        if (index.isValid())
            rows << index.row();
    }
    trackListManager->refreshTable();
    selection->clearSelection();
    for (int row : std::as_const(rows)) {
        selection->select(trackListManager->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void MainWindow::onCueSelected(Cue* cue)
{
    if (!cue) {
        clearSelectedCue();
        return;
    }
    if (selectedCue == cue)
        return;
    if (selectedCue) {
        disconnectCueSignals(selectedCue);
        // Edits of the settings bar reach the database when the operator moves on.
        if (selectedCue->isDirty())
            selectedCue->saveToDatabase(false);
    }
    selectedCue = cue;
    settingsWidget->setCue(cue);
    if (!showMode) {
        ui->setWidget->setEnabled(true);
        settingsWidget->setReadOnly(false);
        updateVolumeBarBStyle(false);
        settingsWidget->applyControlStyles(false);
        setLoopBoxesUsable(true);
    }
    loadCueControls(cue);
    connectCueSignals(cue);
    SettingsWriter::writeIfChanged(SettingsKeys::kLastSelectedCueId, cue->id());
}

void MainWindow::clearSelectedCue()
{
    releaseSelectedCue();
    if (WaveformWidget* view = waveformView())
        view->setCue(nullptr);
}

void MainWindow::releaseSelectedCue()
{
    // The cue left is not saved here: an empty selection is often only the
    // table being reloaded.
    if (selectedCue)
        disconnectCueSignals(selectedCue);
    selectedCue = nullptr;
    if (batchMode)
        return;  // the bar edits the batch
    settingsWidget->setCue(nullptr);
    ui->setWidget->setEnabled(false);
    settingsWidget->setReadOnly(true);
    settingsWidget->applyControlStyles(false);
    updateVolumeBarBStyle(true);
    setLoopBoxesUsable(false);
    // Nothing of the cue shown before: empty loop boxes, volume A marked.
    if (loopBoxes)
        loopBoxes->clear();
    activeVolumeGroup = 0;
    updateVolumeGroupLabels();
}

void MainWindow::setLoopBoxesUsable(bool usable)
{
    if (loopBoxes)
        loopBoxes->setUsable(usable);
}

void MainWindow::loadCueControls(Cue* cue)
{
    if (!cue)
        return;
    activeVolumeGroup = cue->volumeChoose();
    updateVolumeGroupLabels();
    {
        const QSignalBlocker blockA(ui->volumeHorizontalScrollBar);
        const QSignalBlocker blockB(ui->volumeHorizontalScrollBar_2);
        ui->volumeHorizontalScrollBar->setValue(cue->volumeA());
        ui->volumeHorizontalScrollBar_2->setValue(cue->volumeB());
    }
    updateVolumeValueLabel(0);
    updateVolumeValueLabel(1);

    // A ramp of another cue ends where it is.
    if (transport()->getCurrentCue() == cue)
        transport()->setCueVolume(cue->volumeChoose() == 1 ? cue->volumeB() : cue->volumeA());
    else
        transport()->stopCueVolumeRamp();

    showCueInWaveform(cue);
    if (trackListManager)
        trackListManager->refreshCueRow(cue);
    showLoopRangeInBoxes(cue);
}

void MainWindow::connectCueSignals(Cue* cue)
{
    if (!cue)
        return;
    // Never twice for one cue.
    disconnectCueSignals(cue);
    connect(cue, &Cue::dataUpdated, this, [this] {
        if (!selectedCue)
            return;
        if (trackListManager)
            trackListManager->refreshCueRow(selectedCue);
        if (cartMode && cartWidget)
            cartWidget->refreshCue(selectedCue);
    });
    connect(cue, &Cue::loopRangeChanged, this, [this](qlonglong start, qlonglong end) {
        if (!selectedCue || !trackListManager)
            return;
        trackListManager->refreshCueRow(selectedCue);
        if (trackListManager->model() && registry()->isCurrentCue(selectedCue))
            trackListManager->model()->setPosition(selectedCue, registry()->getCurrentPosition());
        showLoopRangeInBoxes(start, end);
        if (cartMode && cartWidget)
            cartWidget->refreshCue(selectedCue);
    });
}

void MainWindow::disconnectCueSignals(Cue* cue)
{
    if (!cue)
        return;
    disconnect(cue, &Cue::dataUpdated, this, nullptr);
    disconnect(cue, &Cue::loopRangeChanged, this, nullptr);
}

void MainWindow::showCueInWaveform(Cue* cue)
{
    WaveformWidget* view = waveformView();
    if (!view || !cue)
        return;
    view->setCue(cue);
    if (showMode)
        view->setShowMode(true);
    const QList<float> peaks = peaksOf(cue);
    if (!peaks.isEmpty())
        view->setAudioData(peaks);
}

QList<float> MainWindow::peaksOf(Cue* cue) const
{
    QList<float> peaks = trackListManager ? trackListManager->cachedWaveform(cue) : QList<float>();
    if (peaks.isEmpty())
        peaks = cue->waveform();
    return peaks;
}

void MainWindow::onWaveformUpdated(Cue* cue)
{
    WaveformWidget* view = waveformView();
    if (!cue || !view || (view->cue() != cue && selectedCue != cue))
        return;
    const QList<float> peaks = peaksOf(cue);
    if (!peaks.isEmpty())
        view->setAudioData(peaks);
}

void MainWindow::selectCueInTable(Cue* cue)
{
    if (!trackListManager)
        return;
    const int row = cue ? trackListManager->rowOfCue(cue) : -1;
    if (row >= 0) {
        trackListManager->selectRow(row);
        trackListManager->selectCue(cue);
        selectedCue = cue;
        loadCueControls(cue);
        return;
    }
    if (trackListManager->rowCount() == 0)
        return;
    Cue* first = trackListManager->cueAt(0);
    trackListManager->selectRow(0);
    trackListManager->selectCue(first);
    selectedCue = first;
    loadCueControls(first);
}

void MainWindow::onLoopBoxEdited(LoopBoxRules::Box box)
{
    QDoubleSpinBox* spin = loopBox(box);
    if (!selectedCue || !waveformView() || !spin)
        return;
    const bool accepted = LoopBoxRules::applyTyped(selectedCue, box, LoopBoxRules::secondsToMs(spin->value()));
    // A refused value goes back to the stored one; an accepted one shows
    // what the cue made of it.
    showLoopRangeInBoxes(selectedCue);
    if (accepted)
        refreshLoopView();
}

QDoubleSpinBox* MainWindow::loopBox(LoopBoxRules::Box box) const
{
    switch (box) {
    case LoopBoxRules::Box::Start:
        return loopStartSpin;
    case LoopBoxRules::Box::Length:
        return loopDurationSpin;
    case LoopBoxRules::Box::End:
        return loopEndSpin;
    }
    return nullptr;
}

void MainWindow::refreshLoopView()
{
    if (WaveformWidget* view = waveformView()) {
        view->showFullRange();
        view->updateLoopValid();
        view->update();
    }
}

void MainWindow::followLoopDrag(qlonglong start, qlonglong end)
{
    if (!loopStartSpin || !loopDurationSpin || !loopEndSpin)
        return;
    showLoopRangeInBoxes(start, end);
    if (!selectedCue)
        return;
    for (const auto& [box, ms] : {std::pair{fadeInSpin, selectedCue->fadeInMs()},
                                  std::pair{fadeOutSpin, selectedCue->fadeOutMs()}}) {
        const QSignalBlocker blocker(box);
        box->setValue(double(ms) / 1000.0);
    }
}

void MainWindow::onBatchModeChanged(bool isBatch)
{
    if (isBatch)
        enterBatchMode();
    else
        leaveBatchMode();
}

void MainWindow::enterBatchMode()
{
    batchMode = true;
    delete batchSession;
    batchSession = new BatchEditSession(trackListManager ? trackListManager->batchCues() : QList<Cue*>(), this);

    // Show mode keeps the bar read-only, for a multi-selection too.
    ui->setWidget->setEnabled(!showMode);
    settingsWidget->setBatchSource(batchSession->batch());
    settingsWidget->setReadOnly(showMode);
    updateVolumeBarBStyle(showMode);
    updateVolumeValueLabels();
    settingsWidget->applyEnvelopeStyles(true);
    setLoopBoxesUsable(false);
    ui->waveformWidget->hide();
    showStatus(QStringLiteral("批量模式：修改实时应用到所有选中的 Cue"), 3000);
}

void MainWindow::leaveBatchMode()
{
    if (!batchSession) {
        batchMode = false;
        return;
    }
    // Every edit already reached the cues of the batch; this stores them
    // and gives the count. A cue selected now and never in the batch is
    // not touched.
    const int handled = batchSession->finish();
    settingsWidget->setCue(selectedCue);
    delete batchSession;
    batchSession = nullptr;
    batchMode = false;
    if (selectedCue) {
        // Showing the cue's volumes moved the bars; the cue's own choice is
        // the group in use.
        activeVolumeGroup = selectedCue->volumeChoose();
        updateVolumeGroupLabels();
    }
    updateVolumeValueLabels();

    ui->waveformWidget->show();
    setLoopBoxesUsable(selectedCue && !showMode);
    settingsWidget->applyEnvelopeStyles(false);
    showStatus(QStringLiteral("批量设置已应用到 %1 条 Cue").arg(handled), 3000);
}

void MainWindow::onBatchSelectionChanged()
{
    if (!batchSession || !trackListManager)
        return;
    const QList<Cue*> cues = trackListManager->batchCues();
    if (cues.isEmpty())
        return;
    batchSession->setSelection(cues);
    // The shared volumes of the new selection are the batch's now.
    settingsWidget->setBatchSource(batchSession->batch());
    updateVolumeValueLabels();
}

void MainWindow::saveAllCues()
{
    if (savingAllCues || batchOperationActive)
        return;
    savingAllCues = true;
    // Cues with unsaved changes, in one transaction: a cue the database
    // already holds as it is needs no second write.
    DatabaseTransaction transaction(DatabaseManager::instance());
    const QList<Cue*> cues = registry()->allCues();
    for (Cue* cue : cues) {
        if (cue->isDirty())
            cue->saveToDatabase(false);
    }
    transaction.commit();
    savingAllCues = false;
}

// What a lock does is not settled: the box keeps its state and nothing else
// looks at the locks.
void MainWindow::onLoopStartLockClicked()
{
    keepLoopBoxState(loopStartSpin, loopStartLockButton);
}

void MainWindow::onLoopDurationLockClicked()
{
    keepLoopBoxState(loopDurationSpin, loopDurationLockButton);
}

void MainWindow::onLoopEndLockClicked()
{
    keepLoopBoxState(loopEndSpin, loopEndLockButton);
}

void MainWindow::keepLoopBoxState(QDoubleSpinBox* box, QPushButton* lock)
{
    if (!box || !lock)
        return;
    const bool enabled = box->isEnabled();
    box->setEnabled(enabled);
    lock->setChecked(!enabled);
}

void MainWindow::onEnvelopePointsChanged(QList<EnvelopePoint> points)
{
    if (!selectedCue)
        return;
    QList<qint64> times;
    QList<double> values;
    for (const EnvelopePoint& point : points) {
        times << point.timeMs;
        values << point.value;
    }
    selectedCue->setVolumeEnvelope(times, values);
    selectedCue->setEnvelopeEnabled(true);
}

void MainWindow::onEnvelopeEnabledChanged(bool enabled)
{
    if (selectedCue)
        selectedCue->setEnvelopeEnabled(enabled);
}

void MainWindow::onDataSyncNeeded()
{
    if (trackListManager)
        trackListManager->reloadCurrentPlaylist();
    showStatus(QStringLiteral("数据同步完成"), 2000);
}

// ---------------------------------------------------------------------------
// Show mode and volumes

void MainWindow::onShowModeClicked()
{
    if (showMode) {
        // A second click keeps the choices held since the show began.
        applyModeAppearance(true);
        return;
    }
    showMode = true;
    if (QSettings().value(SettingsKeys::kTemplateForceVolumeA, SettingsKeys::kTemplateForceVolumeADefault).toBool()) {
        forcedVolumes.force(registry()->allCues());
        if (selectedCue)
            showVolumesOf(selectedCue, 0);
    }
    applyModeAppearance(true);
    inputRouter->registerShowModeGlobalHotkeys();
    HidDeviceManager::instance()->setGlobalMode(true);
}

void MainWindow::onEditModeClicked()
{
    showMode = false;
    // Given back whenever cues were forced, also if the setting changed since.
    if (forcedVolumes.isActive()) {
        forcedVolumes.restore();
        if (selectedCue)
            showVolumesOf(selectedCue, selectedCue->volumeChoose());
    }
    applyModeAppearance(false);
    HidDeviceManager* input = HidDeviceManager::instance();
    input->unregisterAllHotkeys();
    input->setGlobalMode(
        QSettings().value(SettingsKeys::kDeviceGlobalEnabled, SettingsKeys::kDeviceGlobalEnabledDefault).toBool());
}

void MainWindow::showVolumesOf(Cue* cue, int group)
{
    activeVolumeGroup = group;
    {
        const QSignalBlocker blockA(ui->volumeHorizontalScrollBar);
        const QSignalBlocker blockB(ui->volumeHorizontalScrollBar_2);
        ui->volumeHorizontalScrollBar->setValue(cue->volumeA());
        ui->volumeHorizontalScrollBar_2->setValue(cue->volumeB());
    }
    updateVolumeValueLabels();
    updateVolumeGroupLabels();
    if (registry()->getCurrentCue() == cue)
        transport()->setCueVolume(group == 1 ? cue->volumeB() : cue->volumeA());
}

void MainWindow::applyModeAppearance(bool show)
{
    const QSettings settings;
    WaveformWidget* view = waveformView();
    if (show) {
        ui->setWidget->setVisible(
            settings.value(SettingsKeys::kShowSettingsPanelInShowMode, SettingsKeys::kShowSettingsPanelInShowModeDefault)
                .toBool());
        ui->setWidget->setEnabled(false);
        ui->waveformWidget->setVisible(
            !batchMode
            && settings.value(SettingsKeys::kShowWaveformInShowMode, SettingsKeys::kShowWaveformInShowModeDefault).toBool());
        ui->waveformWidget->setEnabled(false);
        settingsWidget->setReadOnly(true);
        updateVolumeBarBStyle(true);
        setLoopBoxesUsable(false);
        settingsButton->setStyleSheet(QStringLiteral("QPushButton { color: #666; }"));
        settingsButton->setEnabled(false);
        recordButton->setEnabled(false);
        recordButton->setIcon(recordIconDimmed);
        ui->infiniteLoopBtn->hide();
        if (!settings.value(SettingsKeys::kShowModeCloseList, SettingsKeys::kShowModeCloseListDefault).toBool()
            && panelVisible) {
            ui->playlistGroup->hide();
            ui->spacingWidget->hide();
            panelVisible = false;
            panelHiddenByShowMode = true;
        }
    } else {
        // A multi-selection is edited through the batch, one cue directly.
        const bool editable = batchMode || selectedCue;
        ui->setWidget->show();
        ui->setWidget->setEnabled(editable);
        ui->waveformWidget->setVisible(!batchMode);
        ui->waveformWidget->setEnabled(!batchMode);
        settingsWidget->setReadOnly(!editable);
        updateVolumeBarBStyle(!editable);
        setLoopBoxesUsable(selectedCue && !batchMode);
        settingsButton->setStyleSheet(QString());
        settingsButton->setEnabled(true);
        recordButton->setEnabled(!cartMode);
        recordButton->setIcon(cartMode ? recordIconDimmed : recordIcon);
        ui->infiniteLoopBtn->show();
        if (panelHiddenByShowMode) {
            ui->playlistGroup->show();
            ui->spacingWidget->show();
            ui->playlistGroup->setFixedWidth(kPanelWidth);
            panelVisible = true;
            panelHiddenByShowMode = false;
        }
        if (cartModeButton)
            cartModeButton->show();
    }
    if (view)
        view->setShowMode(show);
    statusControls->showMode(show);
    trackListManager->setShowMode(show);
    if (cartWidget)
        cartWidget->setShowMode(show);
    playlistManager->setShowMode(show);
    registry()->setShowMode(show);
    transport()->setShowMode(show);
}

void MainWindow::onVolumeSwitchClicked()
{
    Cue* cue = registry()->getCurrentCue();
    if (!cue) {
        showStatus(QStringLiteral("没有正在播放或暂停的Cue"), 2000);
        return;
    }
    const int choice = 1 - cue->volumeChoose();
    const int target = choice == 1 ? cue->volumeB() : cue->volumeA();
    if (showMode)  // heard at once, stored never
        forcedVolumes.hold(cue);
    cue->setVolumeChoose(choice);
    cue->saveToDatabase(false);
    if (cue == selectedCue) {
        activeVolumeGroup = choice;
        QScrollBar* bar = volumeBar(choice);
        const QSignalBlocker blocker(bar);
        bar->setValue(target);
    }
    updateVolumeValueLabels();
    updateVolumeGroupLabels();
    // The output moves the level from where it is, whatever this thread does.
    transport()->rampCueVolume(target);
    showStatus(QStringLiteral("已切换到%1音量: %2").arg(choice == 1 ? QStringLiteral("B") : QStringLiteral("A")).arg(target),
               2000);
}

QScrollBar* MainWindow::volumeBar(int group) const
{
    return group == 1 ? ui->volumeHorizontalScrollBar_2 : ui->volumeHorizontalScrollBar;
}

void MainWindow::onVolumeRampFinished()
{
    if (selectedCue)
        selectedCue->saveToDatabase(false);
}

void MainWindow::selectVolumeGroup(int group)
{
    if (showMode)  // a show changes no stored choice
        return;
    if (batchMode) {
        // The choice reaches every cue of the batch, never the single cue
        // that was selected before.
        if (!batchSession)
            return;
        batchSession->chooseVolumeGroup(group);
        Cue* current = registry()->getCurrentCue();
        if (current && batchSession->cues().contains(current))
            transport()->rampCueVolume(group == 1 ? current->volumeB() : current->volumeA());
        return;
    }
    if (!selectedCue)
        return;
    const int value = volumeBar(group)->value();
    const int oldChoice = selectedCue->volumeChoose();
    {
        const QSignalBlocker blocker(selectedCue.data());
        if (group == 1)
            selectedCue->setVolumeB(value);
        else
            selectedCue->setVolumeA(value);
        selectedCue->setVolumeChoose(group);
    }
    selectedCue->saveToDatabase(false);
    if (trackListManager)
        trackListManager->refreshCueRow(selectedCue);

    // The transport's ramp belongs to the cue it plays (a new cue ends it).
    if (transport()->getCurrentCue() != selectedCue)
        return;
    if (group == oldChoice)
        transport()->retargetCueVolume(value);
    else
        transport()->rampCueVolume(value);
}

void MainWindow::resetCueVolumeToTemplate(int group)
{
    if (showMode || (!selectedCue && !(batchMode && batchSession)))
        return;
    const QSettings settings;
    const int value = group == 1
        ? settings.value(SettingsKeys::kTemplateVolumeB, SettingsKeys::kTemplateVolumeBDefault).toInt()
        : settings.value(SettingsKeys::kTemplateVolumeA, SettingsKeys::kTemplateVolumeADefault).toInt();
    // With its signals on, so the settings bar writes it into the cue or the batch.
    volumeBar(group)->setValue(value);
    selectVolumeGroup(group);
    showStatus(QStringLiteral("%1音量已恢复模板默认值: %2")
                   .arg(group == 1 ? QStringLiteral("B") : QStringLiteral("A"))
                   .arg(value),
               2000);
}

void MainWindow::resetMainVolume()
{
    mainVolumeResetting = true;
    mainVolumeBar->setValue(SettingsKeys::kMainVolumeDefault);
    registry()->setMainVolume(SettingsKeys::kMainVolumeDefault);
    SettingsWriter::write(SettingsKeys::kMainVolume, SettingsKeys::kMainVolumeDefault);
    showStatus(QStringLiteral("主音量已恢复默认: %1").arg(SettingsKeys::kMainVolumeDefault), 2000);
    mainVolumeResetting = false;
}

void MainWindow::updateVolumeGroupLabels()
{
    StyleSheetSetter::apply(ui->label_A, activeVolumeGroup == 0 ? ControlStyleSheets::activeVolumeGroupLabel()
                                                                : ControlStyleSheets::inactiveVolumeGroupLabel());
    StyleSheetSetter::apply(ui->label_B, activeVolumeGroup == 1 ? ControlStyleSheets::activeVolumeGroupLabel()
                                                                : ControlStyleSheets::inactiveVolumeGroupLabel());
}

bool MainWindow::isBatchVolumeUniform(int group) const
{
    return !batchMode || !batchSession || batchSession->isVolumeUniform(group);
}

void MainWindow::updateVolumeValueLabel(int group)
{
    QScrollBar* bar = group == 0 ? ui->volumeHorizontalScrollBar : ui->volumeHorizontalScrollBar_2;
    QLabel* label = group == 0 ? volumeValueLabelA : volumeValueLabelB;
    if (!bar || !label)
        return;
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    option.orientation = Qt::Horizontal;
    // The bars' style sheet is for horizontal bars: without this state the
    // style measures a handle of another size than the one drawn.
    option.state |= QStyle::State_Horizontal;
    option.subControls = QStyle::SC_All;
    const QRect handle = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    if (!handle.isValid()) {
        label->hide();
        return;
    }
    label->setGeometry(handle);
    label->setText(isBatchVolumeUniform(group) ? QString::number(bar->value()) : QStringLiteral("∅"));
    label->show();
    label->raise();
}

void MainWindow::updateVolumeValueLabels()
{
    updateVolumeValueLabel(0);
    updateVolumeValueLabel(1);
}

void MainWindow::updateVolumeBarBStyle(bool gray)
{
    ui->volumeHorizontalScrollBar_2->setEnabled(!gray);
    StyleSheetSetter::apply(ui->volumeHorizontalScrollBar_2, ControlStyleSheets::cueVolumeBar(gray));
    updateVolumeValueLabel(1);
}

void MainWindow::onMainVolumeChanged(int value)
{
    if (mainVolumeResetting)
        return;
    registry()->setMainVolume(value);
    SettingsWriter::write(SettingsKeys::kMainVolume, value);
    showStatus(QStringLiteral("主音量: %1").arg(value), 2000);
}

bool MainWindow::onLoopBoxWheel(LoopBoxRules::Box box, QWheelEvent* wheel)
{
    QDoubleSpinBox* spin = loopBox(box);
    if (!selectedCue || batchMode || showMode || !spin)
        return true;
    if (!LoopBoxRules::applyWheel(selectedCue, box, wheel->angleDelta().y()))
        return true;
    showLoopRangeInBoxes(selectedCue);
    QMetaObject::invokeMethod(spin, &QAbstractSpinBox::selectAll, Qt::QueuedConnection);
    refreshLoopView();
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    using Box = LoopBoxRules::Box;
    const QEvent::Type type = event->type();
    if (type == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (watched == loopDurationSpin)
            return onLoopBoxWheel(Box::Length, wheel);
        if (watched == loopEndSpin)
            return onLoopBoxWheel(Box::End, wheel);
        if (watched == loopStartSpin)
            return onLoopBoxWheel(Box::Start, wheel);
    }
    if (type == QEvent::MouseButtonPress) {
        if (watched == ui->label_A || watched == ui->label_B) {
            if (showMode)  // the choice is the cue's, stored: not changed in a show
                return true;
            activeVolumeGroup = watched == ui->label_B ? 1 : 0;
            updateVolumeGroupLabels();
            selectVolumeGroup(activeVolumeGroup);
            return true;
        }
        if (watched == playbackIndicator) {
            onPlaybackIndicatorClicked();
            return true;
        }
    }
    if (type == QEvent::Resize) {
        if (watched == ui->volumeHorizontalScrollBar)
            updateVolumeValueLabel(0);
        else if (watched == ui->volumeHorizontalScrollBar_2)
            updateVolumeValueLabel(1);
    }
    if (type == QEvent::MouseButtonDblClick) {
        if (watched == mainVolumeBar) {
            resetMainVolume();
            return true;
        }
        if (watched == ui->volumeHorizontalScrollBar || watched == ui->volumeHorizontalScrollBar_2) {
            const int group = watched == ui->volumeHorizontalScrollBar_2 ? 1 : 0;
            resetCueVolumeToTemplate(group);
            if (batchMode && batchSession && trackListManager && !trackListManager->batchCues().isEmpty()) {
                batchSession->recheckVolumeUniform(group);
                updateVolumeValueLabel(group);
            }
            return true;
        }
        if (watched == ui->loopDurationLabel) {
            if (WaveformWidget* view = waveformView())
                view->toggleLoopView();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Loudness normalisation (LoudnessNormalizer)

bool MainWindow::loudnessEnabled() const
{
    return loudnessCheckBox && loudnessCheckBox->isChecked();
}

void MainWindow::applyLufsGain(Cue* cue)
{
    loudness->applyGain(cue);
}

void MainWindow::startLufsScan()
{
    if (!trackListManager) {
        loudness->stopScan();
        qWarning() << "[LUFS] No track manager";
        return;
    }
    if (!trackListManager->model()) {
        loudness->stopScan();
        qWarning() << "[LUFS] No song table model";
        return;
    }
    loudness->startScan();
}

void MainWindow::stopLufsScan()
{
    loudness->stopScan();
}

void MainWindow::prefillLufsGains()
{
    if (trackListManager)
        loudness->prefillGains();
}

void MainWindow::recomputeLufsGains(int target)
{
    if (trackListManager)
        loudness->recomputeGains(target);
}

// ---------------------------------------------------------------------------
// Maintenance

void MainWindow::onFixAllDurations()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QStringLiteral("确认修复"),
        QStringLiteral("此操作将重新获取所有歌曲的时长（使用 FFmpeg 解析）。\n\n注意：\n"
                       "• 这可能需要几分钟时间，具体取决于歌曲数量\n• 处理过程中界面可能会短暂无响应\n"
                       "• 修复完成后会自动刷新显示\n\n确定要继续吗？"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer != QMessageBox::Yes)
        return;
    if (!trackListManager) {
        QMessageBox::warning(this, QStringLiteral("错误"), QStringLiteral("TrackListManager 未初始化"));
        return;
    }
    const QList<Cue*> all = registry()->allCues();
    if (all.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("没有找到任何歌曲"));
        return;
    }

    const QList<QPushButton*> transportButtons = {ui->playPasueButton, ui->prevButton, ui->nextButton,
                                                  ui->stopButton};
    for (QPushButton* button : transportButtons)
        button->setEnabled(false);

    auto* progress = new QProgressDialog(QStringLiteral("正在修复歌曲时长..."), QStringLiteral("取消"), 0,
                                         int(all.size()), this);
    progress->setWindowTitle(QStringLiteral("修复进度"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    // The dialog stays up until the repair has ended, also after a cancel.
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    const QPointer<QProgressDialog> dialog(progress);

    QList<DurationRepair::Item> items;
    items.reserve(all.size());
    for (const Cue* cue : all)
        items.append({cue->id(), cue->filePath(), cue->durationMs()});

    auto* repair = new DurationRepair(this);
    connect(repair, &DurationRepair::durationFound, this, &MainWindow::onDurationRepaired);
    connect(repair, &DurationRepair::progressed, this, [dialog](int done) {
        // A cancelled dialog is hidden; a value would show it again.
        if (dialog && !dialog->wasCanceled())
            dialog->setValue(done);
    });
    connect(progress, &QProgressDialog::canceled, this, [repair] {
        if (repair->isFinished())
            return;
        repair->cancel();
        QMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("已取消修复操作"));
    });
    connect(repair, &DurationRepair::finished, this, [this, repair, dialog, transportButtons] {
        if (dialog)
            dialog->close();
        for (QPushButton* button : transportButtons)
            button->setEnabled(true);
        if (currentPlaylistId != -1 && trackListManager) {
            trackListManager->loadPlaylist(currentPlaylistId);
            prefillLufsGains();
        }
        if (selectedCue)
            loadCueControls(selectedCue);
        QMessageBox::information(this, QStringLiteral("完成"), QStringLiteral("歌曲时长修复完成！"));
        repair->deleteLater();
    });
    repair->start(items);
}

void MainWindow::onDurationRepaired(int cueId, qint64 durationMs)
{
    Cue* cue = registry()->getCue(cueId);
    if (!cue)
        return;
    // A loop end at the old end of the file moves to the new end, so a file
    // that turned out longer is not cut short.
    const qint64 oldDuration = cue->durationMs();
    const qint64 oldLoopEnd = cue->loopEndMs();
    const bool endFollowsFile =
        oldLoopEnd < 1 || (oldDuration > 0 && oldLoopEnd == oldDuration) || oldLoopEnd == durationMs;
    cue->setDuration(durationMs);
    if (endFollowsFile)
        cue->setLoopRange(cue->loopStartMs(), durationMs, false);
    cue->saveToDatabase(false);
}

void MainWindow::checkAndClearCorruptedWaveformData()
{
    // Waveforms shifted by a fault start with silence, but so do many files:
    // only when every stored waveform starts with silence are they cleared.
    constexpr int kLeadLimit = 100;
    constexpr float kSilent = 0.001f;
    const QList<Cue*> all = registry()->allCues();
    DatabaseManager* db = DatabaseManager::instance();
    int firstLead = -1;
    for (const Cue* cue : all) {
        QList<float> peaks;
        if (!db->loadWaveformDataCompressed(cue->id(), peaks, nullptr) || peaks.isEmpty())
            continue;
        int lead = 0;
        while (lead < kLeadLimit && lead < peaks.size() && std::fabs(peaks.at(lead)) < kSilent)
            ++lead;
        if (lead == 0)
            return;
        if (firstLead < 0)
            firstLead = lead;
    }
    if (firstLead < 0)
        return;
    qWarning().noquote() << QStringLiteral("⚠️ 检测到数据库中的波形数据有") << firstLead << QStringLiteral("个前导零！");
    qWarning().noquote() << QStringLiteral("⚠️ 这会导致波形图向右偏移，左侧出现静音区域");
    qWarning().noquote() << QStringLiteral("⚠️ 正在清除所有波形数据...");
    if (!db->deleteAllWaveformData()) {
        qWarning().noquote() << QStringLiteral("❌ 清除波形数据失败");
        return;
    }
    for (Cue* cue : all)
        cue->setWaveform({});
}

// ---------------------------------------------------------------------------
// Shortcuts and device input

QHash<QString, InputActionRouter::Action> MainWindow::inputActions()
{
    auto slot = [this](void (MainWindow::*method)()) { return [this, method] { (this->*method)(); }; };
    // The cue table's copy and paste; they change nothing in show mode,
    // like the table's own keys.
    auto tableAction = [this](void (TrackListManager::*method)()) {
        return [this, method] {
            if (trackListManager && !showMode)
                (trackListManager->*method)();
        };
    };
    return {
        {QStringLiteral("playPause"), slot(&MainWindow::onPlayPauseClicked)},
        {QStringLiteral("prev"), slot(&MainWindow::onPrevClicked)},
        {QStringLiteral("next"), slot(&MainWindow::onNextClicked)},
        {QStringLiteral("stop"), slot(&MainWindow::onStopClicked)},
        {QStringLiteral("volumeSwitch"), slot(&MainWindow::onVolumeSwitchClicked)},
        {QStringLiteral("setLoopStart"), slot(&MainWindow::setLoopStartAtCurrentPosition)},
        {QStringLiteral("setLoopEnd"), slot(&MainWindow::setLoopEndAtCurrentPosition)},
        {QStringLiteral("audioStart"), slot(&MainWindow::seekToLoopStart)},
        {QStringLiteral("audioEnd"), slot(&MainWindow::seekToLoopEnd)},
        {QStringLiteral("copy"), tableAction(&TrackListManager::onCopySelected)},
        {QStringLiteral("paste"), tableAction(&TrackListManager::onPasteCues)},
    };
}

// ---------------------------------------------------------------------------
// Last state, cart mode and recordings

void MainWindow::saveLastPlayback()
{
    Cue* current = registry()->getCurrentCue();
    SettingsWriter::write(SettingsKeys::kLastPlaylistId, currentPlaylistId);
    SettingsWriter::write(SettingsKeys::kLastCueId, current ? current->id() : -1);
    SettingsWriter::write(SettingsKeys::kLastPosition, registry()->getCurrentPosition());
}

void MainWindow::saveLastSelection()
{
    SettingsWriter::write(SettingsKeys::kLastSelectedPlaylistId, currentPlaylistId);
    SettingsWriter::write(SettingsKeys::kLastSelectedCueId, selectedCue ? selectedCue->id() : -1);
}

void MainWindow::restoreLastPlayback()
{
    QSettings settings;
    const int playlistId = settings.value(SettingsKeys::kLastPlaylistId, SettingsKeys::kLastPlaylistIdDefault).toInt();
    const int cueId = settings.value(SettingsKeys::kLastCueId, SettingsKeys::kLastCueIdDefault).toInt();
    const qint64 position =
        settings.value(SettingsKeys::kLastPosition, SettingsKeys::kLastPositionDefault).toLongLong();
    if (playlistId == -1 || cueId == -1 || !playlistManager || !playlistManager->hasPlaylist(playlistId))
        return;
    playlistManager->selectPlaylist(playlistId);

    // The table fills from the switch above; wait for it, about 2 s at most.
    constexpr int kRestoreIntervalMs = 100;
    constexpr int kRestoreAttempts = 20;
    auto* timer = new QTimer(this);
    timer->setInterval(kRestoreIntervalMs);
    auto attempts = std::make_shared<int>(0);
    connect(timer, &QTimer::timeout, this, [this, timer, attempts, cueId, position] {
        ++*attempts;
        if (!trackListManager || trackListManager->rowCount() == 0) {
            if (*attempts >= kRestoreAttempts) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        Cue* cue = registry()->getCue(cueId);
        const int row = cue ? trackListManager->rowOfCue(cue) : -1;
        if (row < 0)
            return;
        trackListManager->selectRow(row);
        selectedCue = cue;
        loadCueControls(cue);
        if (registry()->isCurrentCue(cue))
            registry()->seek(position);
        // The next Play starts where the show left off.
        if (WaveformWidget* view = waveformView())
            view->setPlaybackPosition(cue, position);
    });
    timer->start();
}

void MainWindow::restoreLastSelection(int playlistId, int cueId)
{
    // Nothing stored, but the restored playback already shows a playlist.
    if (!playlistManager || (playlistId == -1 && currentPlaylistId != -1))
        return;
    if (!playlistManager->hasPlaylist(playlistId)) {
        // None stored (a first start) or gone: the first playlist the tree
        // shows (it shows no group headers).
        const QAbstractItemModel* model = ui->playlistGroup->model();
        if (model && model->rowCount() > 0)
            playlistManager->selectPlaylist(
                model->index(0, 0).data(GroupedPlaylistManager::PlaylistIdRole).toInt());
        return;
    }
    playlistManager->selectPlaylist(playlistId);
    // A cue that is gone gives the first row.
    QTimer::singleShot(500, this, [this, cueId] { selectCueInTable(registry()->getCue(cueId)); });
}

void MainWindow::setCartMode(bool on)
{
    cartMode = on;
    SettingsWriter::writeIfChanged(SettingsKeys::kCartMode, on);
    updateCartButton();
    if (recordButton) {
        // Show mode keeps recording off whichever view is shown.
        const bool recordable = !on && !showMode;
        recordButton->setEnabled(recordable);
        recordButton->setIcon(recordable ? recordIcon : recordIconDimmed);
    }

    if (on) {
        if (!cartWidget)
            createCartWidget();
        QSettings settings;
        cartWidget->setColumnCount(
            settings.value(SettingsKeys::kCartColumns, SettingsKeys::kCartColumnsDefault).toInt());
        cartWidget->setItemHeight(
            settings.value(SettingsKeys::kCartItemHeight, SettingsKeys::kCartItemHeightDefault).toInt());
        cartWidget->setCues(trackListManager ? trackListManager->cues() : QList<Cue*>());
        if (trackListManager) {
            const QList<Cue*> selected = trackListManager->selectedCues();
            if (!selected.isEmpty()) {
                const QSignalBlocker blocker(cartWidget);
                cartWidget->setSelectedCues(selected);
            }
        }
        if (selectedCue)
            cartWidget->setCurrentCue(selectedCue, true);
        ui->trackList->hide();
        cartWidget->show();
        cartWidget->setShowMode(showMode);
        return;
    }

    if (cartWidget && trackListManager) {
        QTableView* table = trackListManager->tableView();
        QItemSelectionModel* selection = table->selectionModel();
        selection->clearSelection();
        for (Cue* cue : cartWidget->selectedCues()) {
            const int row = trackListManager->rowOfCue(cue);
            if (row >= 0)
                selection->select(trackListManager->model()->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    if (cartWidget)
        cartWidget->hide();
    ui->trackList->show();
}

void MainWindow::createCartWidget()
{
    cartWidget = new CartWidget(this);
    ui->horizontalLayout->insertWidget(0, cartWidget);
    connect(cartWidget, &CartWidget::playRequested, this, &MainWindow::onCartPlayRequested);
    connect(cartWidget, &CartWidget::cueSelected, this, &MainWindow::onCartCueSelected);
    connect(cartWidget, &CartWidget::multiSelectionChanged, this, &MainWindow::onCartSelectionChanged);
    connect(cartWidget, &CartWidget::cueNameChanged, this, [this](Cue* cue) {
        if (trackListManager)
            trackListManager->refreshCueRow(cue);
    });
}

void MainWindow::onCartCueSelected(Cue* cue)
{
    // In show mode one click on a button plays it.
    if (showMode) {
        Q_EMIT cartWidget->playRequested(cue);
        return;
    }
    onCueSelected(cue);
    if (!cue)
        return;
    if (trackListManager)
        trackListManager->selectCue(cue);
    cartWidget->setCurrentCue(cue, false);
}

void MainWindow::onCartSelectionChanged(const QList<Cue*>& selected)
{
    if (selected.size() >= 2) {
        // The grid's selection is the batch's, as the table's would be.
        if (trackListManager)
            trackListManager->setBatchCues(selected);
        if (!batchMode)
            onBatchModeChanged(true);
        else
            onBatchSelectionChanged();
        return;
    }
    if (batchMode)
        onBatchModeChanged(false);
}

void MainWindow::onCartPlayRequested(Cue* cue)
{
    if (!cue)
        return;
    onCueSelected(cue);
    if (trackListManager)
        trackListManager->selectCue(cue);
    if (cartWidget)
        cartWidget->setCurrentCue(cue, true);

    CueManager* cues = registry();
    if (cues->isCurrentCue(cue)) {
        onPlayPauseClicked();
        return;
    }
    if (cues->isPlaying() || cues->isPaused()) {
        if (cartWidget)
            cartWidget->clearPlayingCue();
        if (trackListManager)
            trackListManager->clearCurrentCue();
        cues->stopPlaylist();
    }

    // From the playhead when it lies in the cue's loop region, else from the
    // loop start.
    qint64 start = cue->loopStartMs();
    if (WaveformWidget* view = waveformView()) {
        view->setCue(cue);
        const qint64 playhead = view->playheadMs();
        if (playhead >= cue->loopStartMs() && playhead <= effectiveLoopEnd(cue))
            start = playhead;
    }
    if (currentPlaylistId == -1)
        cues->playCue(cue, start);
    else
        playCueInPlaylist(currentPlaylistId, cue, start);
}

void MainWindow::updateCartButton()
{
    if (!cartModeButton)
        return;
    cartModeButton->setText(cartMode ? QStringLiteral("列表") : QStringLiteral("卡片"));
    cartModeButton->setStyleSheet(
        cartMode ? QStringLiteral("QPushButton { background-color: #1a6cb8; color: #90c0e8; border: none;"
                                  " border-radius: 3px; padding: 0px 8px; font-size: 12px; font-weight: bold; }")
                 : QStringLiteral("QPushButton { background-color: #3a3a3a; color: #999999;"
                                  " border: 1px solid #444444; border-radius: 3px; padding: 0px 8px;"
                                  " font-size: 12px; }\n"
                                  "QPushButton:hover { background-color: #444444; color: #cccccc; }"));
}

void MainWindow::openRecordingDialog()
{
    RecordingDialog dialog(this);
    connect(&dialog, &RecordingDialog::recordingsConfirmed, this, &MainWindow::onRecordingsConfirmed);
    dialog.move(geometry().center() - QPoint(449, 299));
    dialog.exec();
}

void MainWindow::onRecordingsConfirmed(QStringList filePaths)
{
    if (filePaths.isEmpty() || !playlistManager || !trackListManager)
        return;
    CueManager* cues = registry();
    // The tree shows every playlist that is not a group header.
    if (ui->playlistGroup->model()->rowCount() == 0
        && playlistManager->addPlaylist(QStringLiteral("新播放列表")) < 0) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("创建播放列表失败"));
        return;
    }
    const int playlistId = playlistManager->currentPlaylistId();
    if (playlistId < 1) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("请先选中一个播放列表"));
        return;
    }

    const QList<int> before = cues->getPlaylistCueIds(playlistId);
    int insertAt = int(before.size());
    if (selectedCue && before.contains(selectedCue->id()))
        insertAt = int(before.indexOf(selectedCue->id())) + 1;

    QList<int> newIds;
    for (const QString& path : std::as_const(filePaths)) {
        Cue* cue = cues->createCue(path);
        if (cue && cues->addCueToPlaylist(cue, playlistId, -1))
            newIds.append(cue->id());
    }
    if (newIds.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("录音文件导入失败"));
        return;
    }
    if (insertAt < before.size()) {
        QList<int> order = cues->getPlaylistCueIds(playlistId);
        for (int id : std::as_const(newIds))
            order.removeAll(id);
        for (int i = 0; i < newIds.size(); ++i)
            order.insert(insertAt + i, newIds[i]);
        cues->setPlaylistOrder(playlistId, order);
    }

    trackListManager->loadPlaylist(playlistId);
    prefillLufsGains();

    // Sequencing goes on over the new content of the table.
    const QList<Cue*> shown = tableCues();
    if ((cues->isPlaying() || !cues->getPlaylist().isEmpty()) && !shown.isEmpty()) {
        Cue* current = cues->getCurrentCue();
        cues->setPlaylist(shown);
        cues->setCurrentIndex(std::max<int>(0, current ? int(shown.indexOf(current)) : 0));
    }

    QItemSelectionModel* selection = trackListManager->tableView()->selectionModel();
    selection->clearSelection();
    Cue* last = nullptr;
    for (int id : std::as_const(newIds)) {
        Cue* cue = cues->getCue(id);
        const int row = trackListManager->rowOfCue(cue);
        if (row < 0)
            continue;
        selection->select(trackListManager->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        last = cue;
    }
    selectedCue = last;
    showStatus(QStringLiteral("已导入 %1 个录音到当前播放列表").arg(newIds.size()), 3000);
}
