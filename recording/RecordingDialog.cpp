#include "recording/RecordingDialog.h"

#include "platform/PulseAudioCapture.h"
#include "exchange/WriteFailureReason.h"
#include "playback/AudioOutputDevice.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingItemDelegate.h"
#include "recording/RecordingJobQueue.h"
#include "recording/RecordingPcm.h"
#include "recording/RecordingWaveformWidget.h"
#include "recording/RecordingsFolder.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace {

QPixmap svgPixmap(const QString& svg)
{
    QPixmap pixmap;
    pixmap.loadFromData(svg.toUtf8(), "SVG");
    return pixmap;
}

QIcon playIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<path d='M7 5 L19 12 L7 19 Z' fill='#e0e0e0'/></svg>")));
}

QIcon pauseIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<rect x='6' y='5' width='4' height='14' rx='1' fill='#e0e0e0'/>"
                                          "<rect x='14' y='5' width='4' height='14' rx='1' fill='#e0e0e0'/>"
                                          "</svg>")));
}

QIcon stopIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<rect x='6' y='6' width='12' height='12' rx='1' fill='#e0e0e0'/>"
                                          "</svg>")));
}

const QString kLookOn = QStringLiteral("QPushButton { background: transparent; border: none; }"
                                       "QPushButton:hover { background: #3a3a3a; border-radius: 4px; }");
const QString kLookOff = QStringLiteral("QPushButton { background: transparent; border: none; }"
                                        "QPushButton:hover { background: transparent; }");
const QString kButtonStyle = QStringLiteral(
    "QPushButton {   background-color: #2b2b2b;   color: #999;   border: 1px solid #444;   border-radius: 4px;   "
    "padding: 6px 16px;   font-size: 13px;}QPushButton:hover { background-color: #3a3a3a; color: #ddd; }"
    "QPushButton:pressed { background-color: #333; }");
const QString kComboStyle = QStringLiteral(
    "QComboBox { background-color: #2b2b2b; color: #ccc; border: 1px solid #444;  border-radius: 4px; padding: 3px "
    "8px; font-size: 13px; min-width: %1px; }QComboBox::drop-down { border: none; }QComboBox QAbstractItemView { "
    "background-color: #2b2b2b; color: #ccc;  selection-background-color: #2d5a8e; }");
const QString kOptionLabelStyle = QStringLiteral("color: #999; font-size: 13px;");
const QString kCheckStyle = QStringLiteral("color: #999; font-size: 14px;");

constexpr float kSilenceThreshold = 0.001f;

QPushButton* iconButton(QWidget* parent, const QString& tooltip, const QIcon& icon)
{
    auto* button = new QPushButton(parent);
    button->setFixedSize(32, 32);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(tooltip);
    button->setIcon(icon);
    button->setStyleSheet(kLookOn);
    button->setAutoDefault(false);
    return button;
}

QPushButton* textButton(QWidget* parent, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setStyleSheet(kButtonStyle);
    // Return belongs to the stop shortcut and to renaming, never to a button.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

RecordingDialog::RecordingDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(900, 600);

    QSettings settings;
    using namespace SettingsKeys;
    lastSource = settings.value(kRecordingLastSource).toString();
    trimSilence = settings.value(kRecordingTrimSilence, kRecordingTrimSilenceDefault).toBool();
    autoStop = settings.value(kRecordingAutoStop, kRecordingAutoStopDefault).toBool();
    format = settings.value(kRecordingFormat, QString::fromLatin1(kRecordingFormatDefault)).toString();
    sampleRate = settings.value(kRecordingSampleRate, kRecordingSampleRateDefault).toInt();

    loadSmtcOverrides();
    // Any program's playback stream can be recorded through its monitor.
    processLoopbackSupported = true;

    jobs = new RecordingJobQueue(this);
    setupUi();

    // Until the sound server answers, the list holds what is always there.
    sourceList->clear();
    addSourceHeader(tr("== 音频设备 =="));
    addSourceHeader(tr("== 软音源 =="));
    addAllSourceItem();
    restoreLastSource();
    updateAutoStopModeIcon();

    const quint32 ownPid = quint32(QCoreApplication::applicationPid());
    listSources = [ownPid] { return PulseAudioSources::query(ownPid); };
    chooseFolder = [this](const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(this, title, start,
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    };
    if (processLoopbackSupported) {
        sourceRefreshTimer = new QTimer(this);
        sourceRefreshTimer->setInterval(2000);
        connect(sourceRefreshTimer, &QTimer::timeout, this, &RecordingDialog::requestSourceList);
        sourceRefreshTimer->start();
    }
    QTimer::singleShot(0, this, &RecordingDialog::requestSourceList);
}

RecordingDialog::~RecordingDialog()
{
    // Files given to the worker are written before anything goes; their
    // results are not taken any more.
    delete jobs;
    jobs = nullptr;
    stopMediaSessionWatcher();
    // No callback may run into a half-destroyed dialog.
    closePreviewDevice();
    if (captureDevice)
        captureDevice->stop();
    captureDevice.reset();
}

void RecordingDialog::setupUi()
{
    setWindowTitle(tr("录音"));
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(10, 10, 10, 10);
    mainLayout->setSpacing(8);

    // Title strip: the drag handle of the frameless window.
    titleBar = new QWidget(this);
    titleBar->setFixedHeight(36);
    titleBar->setStyleSheet(QStringLiteral("background-color: #222; border-radius: 6px;"));
    titleBar->installEventFilter(this);
    auto* titleLayout = new QHBoxLayout(titleBar);
    titleLayout->setContentsMargins(12, 0, 4, 0);
    titleLabel = new QLabel(tr("录音"), titleBar);
    titleLabel->setStyleSheet(
        QStringLiteral("color: #e0e0e0; font-size: 14px; font-weight: bold; background: transparent;"));
    titleLayout->addWidget(titleLabel);
    titleLayout->addSpacing(24);
    autoStopWarningLabel = new QLabel(titleBar);
    autoStopWarningLabel->setStyleSheet(
        QStringLiteral("font-size: 13px; font-weight: bold; background: transparent;"));
    autoStopWarningLabel->hide();
    titleLayout->addWidget(autoStopWarningLabel);
    titleLayout->addStretch(0);
    closeButton = new QPushButton(QStringLiteral("×"), titleBar);
    closeButton->setFixedSize(28, 28);
    closeButton->setAutoDefault(false);
    closeButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; border: none; color: #999; font-size: 16px; }"
        "QPushButton:hover { color: #fff; background: #e74c3c; border-radius: 4px; }"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    titleLayout->addWidget(closeButton);
    mainLayout->addWidget(titleBar);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(8);
    sourceList = new QListWidget(this);
    sourceList->setStyleSheet(QStringLiteral(
        "QListWidget { background-color: #1e1e1e; border: 1px solid #333; border-radius: 4px;  color: #bbb; "
        "font-size: 12px; }QListWidget::item { padding: 4px 8px; }QListWidget::item:hover { background-color: "
        "#2a3a4a; }QListWidget::item:selected { background-color: #2d5a8e; color: #fff; }"));
    sourceList->setMinimumWidth(200);
    sourceList->setSelectionMode(QAbstractItemView::SingleSelection);
    sourceList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    sourceList->setIconSize(QSize(16, 16));
    connect(sourceList, &QListWidget::itemClicked, this, &RecordingDialog::onSourceItemClicked);
    middle->addWidget(sourceList, 1);

    auto* right = new QHBoxLayout;
    right->setSpacing(8);
    auto* controls = new QVBoxLayout;
    controls->setSpacing(8);

    auto* recordBar = new QWidget(this);
    auto* recordLayout = new QHBoxLayout(recordBar);
    recordLayout->setContentsMargins(0, 0, 0, 0);
    recordLayout->setSpacing(8);
    recordIndicator = new QLabel(recordBar);
    recordIndicator->setAlignment(Qt::AlignCenter);
    recordIndicator->setFixedSize(40, 40);
    recordIndicator->setStyleSheet(QStringLiteral("background: transparent;"));
    recordIndicator->setCursor(Qt::PointingHandCursor);
    recordIndicator->setToolTip(tr("点击开始录音"));
    recordIndicator->installEventFilter(this);
    showIndicator(QStringLiteral("#e74c3c"), 1.0);
    playPauseButton = iconButton(recordBar, tr("暂停"), pauseIcon());
    connect(playPauseButton, &QPushButton::clicked, this, &RecordingDialog::onPlayPauseClicked);
    stopButton = iconButton(recordBar, tr("停止录音"), stopIcon());
    connect(stopButton, &QPushButton::clicked, this, &RecordingDialog::onStopClicked);
    openFolderButton = textButton(recordBar, tr("打开录音目录"));
    connect(openFolderButton, &QPushButton::clicked, this, &RecordingDialog::onOpenRecordingDir);
    recordLayout->addWidget(recordIndicator);
    recordLayout->addWidget(playPauseButton);
    recordLayout->addWidget(stopButton);
    recordLayout->addStretch(0);
    recordLayout->addWidget(openFolderButton);
    controls->addWidget(recordBar);

    auto* timeRow = new QHBoxLayout;
    timeRow->setContentsMargins(0, 0, 0, 0);
    timeRow->setSpacing(8);
    timeLabel = new QLabel(QStringLiteral("00:00.00"), this);
    timeLabel->setStyleSheet(
        QStringLiteral("color: #4a9eff; font-size: 18px; font-weight: bold; font-family: monospace;"));
    selectionLabel = new QLabel(this);
    selectionLabel->setStyleSheet(
        QStringLiteral("color: #e0c060; font-size: 18px; font-weight: bold; font-family: monospace;"));
    selectionLabel->hide();
    timeRow->addWidget(timeLabel);
    timeRow->addWidget(selectionLabel);
    controls->addLayout(timeRow);
    controls->addStretch(0);

    auto* options = new QVBoxLayout;
    options->setContentsMargins(0, 0, 0, 0);
    options->setSpacing(16);
    auto* formatRow = new QHBoxLayout;
    formatRow->setContentsMargins(0, 0, 0, 0);
    formatRow->setSpacing(6);
    auto* formatLabel = new QLabel(tr("格式"), this);
    formatLabel->setStyleSheet(kOptionLabelStyle);
    formatRow->addWidget(formatLabel);
    formatCombo = new QComboBox(this);
    formatCombo->addItem(QStringLiteral("MP3"), QStringLiteral("mp3"));
    formatCombo->addItem(QStringLiteral("WAV"), QStringLiteral("wav"));
    const int formatIndex = formatCombo->findData(format);
    if (formatIndex >= 0)
        formatCombo->setCurrentIndex(formatIndex);
    formatCombo->setStyleSheet(kComboStyle.arg(60));
    formatRow->addWidget(formatCombo);
    formatRow->addSpacing(8);
    auto* rateLabel = new QLabel(tr("采样率"), this);
    rateLabel->setStyleSheet(kOptionLabelStyle);
    formatRow->addWidget(rateLabel);
    sampleRateCombo = new QComboBox(this);
    sampleRateCombo->addItem(QStringLiteral("44100 Hz"), 44100);
    sampleRateCombo->addItem(QStringLiteral("48000 Hz"), 48000);
    sampleRateCombo->addItem(QStringLiteral("32000 Hz"), 32000);
    const int rateIndex = sampleRateCombo->findData(sampleRate);
    if (rateIndex >= 0)
        sampleRateCombo->setCurrentIndex(rateIndex);
    sampleRateCombo->setStyleSheet(kComboStyle.arg(80));
    formatRow->addWidget(sampleRateCombo);
    formatRow->addStretch(0);
    options->addLayout(formatRow);

    auto* checkRow = new QHBoxLayout;
    checkRow->setContentsMargins(0, 0, 0, 0);
    checkRow->setSpacing(2);
    trimSilenceCheck = new QCheckBox(tr("截掉首尾静音"), this);
    trimSilenceCheck->setChecked(trimSilence);
    trimSilenceCheck->setStyleSheet(kCheckStyle);
    checkRow->addWidget(trimSilenceCheck);
    checkRow->addStretch(0);
    autoStopModeIcon = new QLabel(this);
    autoStopModeIcon->setFixedSize(20, 20);
    autoStopModeIcon->setAlignment(Qt::AlignCenter);
    autoStopModeIcon->setStyleSheet(QStringLiteral("background: transparent;"));
    autoStopModeIcon->setToolTip(tr("点击切换检测模式"));
    autoStopModeIcon->installEventFilter(this);
    checkRow->addWidget(autoStopModeIcon);
    autoStopCheck = new QCheckBox(tr("智能结束"), this);
    autoStopCheck->setChecked(autoStop);
    autoStopCheck->setStyleSheet(kCheckStyle);
    autoStopActive = autoStop;
    connect(autoStopCheck, &QCheckBox::toggled, this, [this](bool on) { autoStopActive = on; });
    checkRow->addWidget(autoStopCheck);
    options->addLayout(checkRow);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    exportButton = textButton(this, tr("导出"));
    connect(exportButton, &QPushButton::clicked, this, &RecordingDialog::onExport);
    confirmButton = textButton(this, tr("确定"));
    connect(confirmButton, &QPushButton::clicked, this, &RecordingDialog::onConfirm);
    buttonRow->addWidget(exportButton);
    buttonRow->addWidget(confirmButton);
    options->addLayout(buttonRow);
    controls->addLayout(options);
    right->addLayout(controls);

    recordingsView = new QListView(this);
    recordingsModel = new QStandardItemModel(recordingsView);
    recordingsView->setModel(recordingsModel);
    recordingsView->setStyleSheet(QStringLiteral(
        "QListView { background-color: #1e1e1e; border: 1px solid #333; border-radius: 4px;  color: #bbb; "
        "font-size: 12px; }QListView::item { padding: 4px 8px; }QListView::item:hover { background-color: "
        "#2a3a4a; }QListView::item:selected { background-color: #2d5a8e; color: #fff; }"));
    recordingsView->setMinimumWidth(150);
    itemDelegate = new RecordingItemDelegate(recordingsView);
    recordingsView->setItemDelegate(itemDelegate);
    recordingsView->setEditTriggers(QAbstractItemView::DoubleClicked);
    connect(recordingsModel, &QStandardItemModel::dataChanged, this, &RecordingDialog::onRecordingDataChanged);
    connect(recordingsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RecordingDialog::onRecordingSelectionChanged);
    right->addWidget(recordingsView, 1);
    middle->addLayout(right, 2);
    mainLayout->addLayout(middle, 0);

    waveform = new RecordingWaveformWidget(this);
    mainLayout->addWidget(waveform, 1);
    connect(waveform, &RecordingWaveformWidget::durationChanged, this, &RecordingDialog::onWaveformDurationChanged);
    connect(waveform, &RecordingWaveformWidget::rangeDeleted, this, &RecordingDialog::onRangeDeleted);
    connect(waveform, &RecordingWaveformWidget::rangeKept, this, &RecordingDialog::onRangeKept);
    connect(waveform, &RecordingWaveformWidget::undoPerformed, this, &RecordingDialog::onUndoPerformed);
    connect(waveform, &RecordingWaveformWidget::selectionChanged, this, &RecordingDialog::onWaveformSelectionChanged);
    connect(waveform, &RecordingWaveformWidget::selectionRangeChanged, this,
            &RecordingDialog::onWaveformSelectionRangeChanged);
    connect(waveform, &RecordingWaveformWidget::playbackPosChanged, this,
            &RecordingDialog::onWaveformPlaybackPosChanged);

    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &RecordingDialog::onPlayPauseClicked);
    returnShortcut = new QShortcut(QKeySequence(Qt::Key_Return), this);
    returnShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(returnShortcut, &QShortcut::activated, this, [this] {
        if (state == Playing || state == PlaybackPaused)
            stopPlayback();
        else if (state == Recording || state == RecordingPaused)
            stopRecording();
    });
    // Return ends a rename in the list while a line editor has the focus.
    // The shortcut is the context: focus still moves while the dialog's
    // children are being deleted, after the shortcut itself is gone.
    QShortcut* shortcut = returnShortcut;
    connect(qApp, &QGuiApplication::focusObjectChanged, shortcut,
            [shortcut](QObject* focus) { shortcut->setEnabled(!qobject_cast<QLineEdit*>(focus)); });
    auto* record = new QShortcut(QKeySequence(Qt::Key_R), this);
    record->setContext(Qt::WidgetWithChildrenShortcut);
    connect(record, &QShortcut::activated, this, [this] {
        // R starts a recording (stopping a preview first), never stops one.
        if (state != Recording && state != RecordingPaused)
            onRecordClicked();
    });

    updateTransportButtons();
}

bool RecordingDialog::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (watched == titleBar) {
        if (type == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            // The window manager moves the window where it can; else it follows the pointer here.
            QWindow* window = windowHandle();
            if (window && window->startSystemMove()) {
                dragging = false;
            } else {
                dragging = true;
                dragOffset = static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - pos();
            }
        } else if (type == QEvent::MouseMove && dragging) {
            move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset);
        } else if (type == QEvent::MouseButtonRelease) {
            dragging = false;
        }
    } else if (type == QEvent::MouseButtonRelease
               && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == recordIndicator)
            onRecordClicked();
        else if (watched == autoStopModeIcon)
            toggleAutoStopMode();
    }
    return QDialog::eventFilter(watched, event);
}

void RecordingDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        // Escape clears a selection; it never closes the dialog.
        if (waveform->hasSelection())
            waveform->clearSelection();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void RecordingDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor("#444"), 1));
    painter.setBrush(QColor("#2b2b2b"));
    painter.drawRoundedRect(QRectF(2, 2, width() - 4, height() - 4), 8, 8);
}

void RecordingDialog::updateTransportButtons()
{
    const bool hasItems = recordingsModel->rowCount() > 0;
    switch (state) {
    case Idle:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(hasItems ? tr("播放") : QString());
        playPauseButton->setStyleSheet(hasItems ? kLookOn : kLookOff);
        stopButton->setStyleSheet(kLookOff);
        return;
    case Recording:
        playPauseButton->setIcon(pauseIcon());
        playPauseButton->setToolTip(tr("暂停录音"));
        break;
    case RecordingPaused:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(tr("继续录音"));
        break;
    case Playing:
        playPauseButton->setIcon(pauseIcon());
        playPauseButton->setToolTip(tr("暂停播放"));
        break;
    case PlaybackPaused:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(tr("继续播放"));
        break;
    }
    playPauseButton->setStyleSheet(kLookOn);
    stopButton->setStyleSheet(kLookOn);
}

void RecordingDialog::onStopClicked()
{
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    else if (state == Recording || state == RecordingPaused)
        stopRecording();
}

QString RecordingDialog::formatTime(qint64 ms)
{
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg((ms / 10) % 100, 2, 10, QLatin1Char('0'));
}

void RecordingDialog::showIndicator(const QString& color, double opacity)
{
    const QString svg = QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
                                       "<circle cx='20' cy='20' r='10' fill='%1' fill-opacity='%2'/></svg>")
                            .arg(color, QString::number(opacity, 'f', 2));
    recordIndicator->setPixmap(svgPixmap(svg));
}

// --- capture ---------------------------------------------------------------

void RecordingDialog::onRecordClicked()
{
    if (closeRequested)
        return;
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    if (state == Recording || state == RecordingPaused)
        stopRecording();
    else if (!checkedSourceText().isEmpty())
        startRecording();
}

void RecordingDialog::startRecording()
{
    if (state != Idle)
        return;
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < sourceList->count() && !item; ++i) {
        if (sourceList->item(i)->checkState() == Qt::Checked)
            item = sourceList->item(i);
    }
    if (!item)
        return;
    const QString kind = item->data(Qt::UserRole).toString();
    const quint32 pid = kind == QLatin1String("application") ? item->data(Qt::UserRole + 1).toUInt() : 0;
    if (kind.isEmpty())
        return;

    PulseAudioCapture::Source source;
    if (kind == QLatin1String("all")) {
        source.kind = PulseAudioCapture::SourceKind::AllSystemAudio;
    } else if (kind == QLatin1String("application") && pid != 0) {
        source.kind = PulseAudioCapture::SourceKind::Application;
        source.processId = pid;
    } else {
        source.kind = PulseAudioCapture::SourceKind::Device;
        source.deviceName = item->text();
    }
    int rate = sampleRateCombo->currentData().toInt();
    if (rate <= 0)
        rate = 44100;

    auto capture = std::make_unique<PulseAudioCapture>();
    QString error;
    if (!capture->start(source, rate, &RecordingDialog::captureDataCallback, this, &error)) {
        qWarning() << "[Recording] Capture could not start:" << error;
        return;
    }

    // The editor lets go of its recording (edits are written back): the
    // waveform now shows the new one.
    saveEditsIfModified();
    releaseEditor();
    ++loadGeneration;
    loadPending = false;
    playWhenLoaded = false;

    state = Recording;
    captureDevice = std::move(capture);
    captureChannels = PulseAudioCapture::kChannels;
    captureSampleRate = rate;
    capturePaused = false;
    accumulatedMs = 0;
    {
        std::lock_guard lock(captureMutex);
        pendingPcm.clear();
        recordedPcm.clear();
    }
    peakCarry.clear();

    waveform->clear();
    waveform->setRecording(true);
    updateWaveformInteractivity();
    waveform->setPlaybackPosition(-1);
    recordClock.start();
    timeLabel->setText(QStringLiteral("00:00.00"));
    if (sourceRefreshTimer)
        sourceRefreshTimer->stop();

    delete indicatorTimer;
    indicatorTimer = new QTimer(this);
    indicatorTimer->setInterval(50);
    connect(indicatorTimer, &QTimer::timeout, this, &RecordingDialog::onIndicatorTick);
    delete waveformTimer;
    waveformTimer = new QTimer(this);
    waveformTimer->setInterval(50);
    connect(waveformTimer, &QTimer::timeout, this, &RecordingDialog::flushWaveform);
    indicatorTimer->start();
    waveformTimer->start();

    sourcePid = pid;
    silenceMs = 0;
    heardSound = false;
    smtcStopRequested = false;
    smtcTrackChanged = false;
    if (autoStopActive) {
        smtcActive = autoStopModeFor(item->text()) == MediaSession;
        if (smtcActive)
            startMediaSessionWatcher(sourcePid);
        delete autoStopTimer;
        autoStopTimer = new QTimer(this);
        autoStopTimer->setInterval(500);
        connect(autoStopTimer, &QTimer::timeout, this, &RecordingDialog::checkAutoStop);
        autoStopTimer->start();
    }
    updateTransportButtons();
}

void RecordingDialog::captureDataCallback(void* userData, const char* data, int bytes)
{
    auto* self = static_cast<RecordingDialog*>(userData);
    if (!self || !data)
        return;
    self->appendCapturedAudio(data, bytes);
}

void RecordingDialog::appendCapturedAudio(const char* data, int bytes)
{
    if (capturePaused.load(std::memory_order_relaxed))
        return;
    std::lock_guard lock(captureMutex);
    pendingPcm.append(data, bytes);
    recordedPcm.append(data, bytes);
}

void RecordingDialog::toggleRecordingPause()
{
    if (state == Recording) {
        capturePaused = true;
        accumulatedMs += recordClock.elapsed();
        state = RecordingPaused;
    } else if (state == RecordingPaused) {
        capturePaused = false;
        recordClock.restart();
        state = Recording;
    }
    updateTransportButtons();
}

void RecordingDialog::flushWaveform()
{
    flushWaveformPeaks(false);
}

void RecordingDialog::flushWaveformPeaks(bool last)
{
    if (state != Recording)
        return;
    QByteArray fresh;
    {
        std::lock_guard lock(captureMutex);
        fresh.swap(pendingPcm);
    }
    // The capture hands over whatever arrived; a peak still covers exactly
    // 10 ms of audio, so its index is its time.
    QByteArray audio = peakCarry.isEmpty() ? fresh : peakCarry + fresh;
    peakCarry.clear();
    const qint64 blockFrames = captureSampleRate >= 100 ? captureSampleRate / 100 : 1;
    const qint64 blockBytes = blockFrames * RecordingPcm::frameBytes(std::max(captureChannels, 1));
    if (!last) {
        const qint64 whole = audio.size() / blockBytes * blockBytes;
        peakCarry = audio.mid(whole);
        audio.truncate(whole);
    }
    if (audio.isEmpty())
        return;
    const QList<PeakPair> peaks =
        RecordingPcm::peaks(audio.constData(), audio.size(), captureChannels, captureSampleRate);
    if (!peaks.isEmpty())
        waveform->appendPeaks(peaks);
}

void RecordingDialog::onIndicatorTick()
{
    if (state == Recording || state == RecordingPaused) {
        ++indicatorPhase;
        const double opacity = (1.0 + std::sin(indicatorPhase * 0.1)) * 0.5 * 0.7 + 0.3;
        showIndicator(state == Recording ? QStringLiteral("#e74c3c") : QStringLiteral("#883333"), opacity);
        if (state == Recording)
            timeLabel->setText(formatTime(accumulatedMs + recordClock.elapsed()));
    } else if (state == Playing) {
        updatePlaybackPosition();
    }
}

double RecordingDialog::recentRms() const
{
    if (captureSampleRate < 1 || captureChannels < 1)
        return 0.0;
    const qint64 window = RecordingPcm::recentRmsWindowBytes(captureSampleRate, captureChannels);
    QByteArray recent;
    {
        std::lock_guard lock(captureMutex);
        recent = recordedPcm.right(window);
        recent.detach();  // no reference into the shared buffer after unlocking
    }
    return RecordingPcm::rms(recent.constData(), recent.size());
}

void RecordingDialog::stopRecording()
{
    if (state != Recording && state != RecordingPaused)
        return;
    if (captureDevice)
        captureDevice->stop();  // returns once no callback runs any more
    captureDevice.reset();
    delete indicatorTimer;
    indicatorTimer = nullptr;
    delete waveformTimer;
    waveformTimer = nullptr;
    delete autoStopTimer;
    autoStopTimer = nullptr;
    stopMediaSessionWatcher();
    smtcActive = false;
    silenceMs = 0;

    flushWaveformPeaks(true);

    // The peaks are cut here (while still recording, so the duration report
    // leaves the list alone) for the display; the audio is cut on the worker
    // from its own samples, and the saved file then replaces the display.
    const bool trim = trimSilenceCheck->isChecked();
    if (trim)
        waveform->trimSilence(kSilenceThreshold, nullptr, nullptr);
    UnsavedRecording recording;
    {
        std::lock_guard lock(captureMutex);
        recording.pcm.swap(recordedPcm);
        pendingPcm.clear();
    }
    recording.channels = captureChannels;
    recording.sampleRate = captureSampleRate;
    recording.suffix = formatCombo->currentData().toString() == QLatin1String("mp3") ? QStringLiteral("mp3")
                                                                                     : QStringLiteral("wav");
    const bool trackChanged = smtcTrackChanged.exchange(false);
    const bool captured = !recording.pcm.isEmpty();
    if (captured)
        queueSave(std::move(recording), trim, trackChanged, recordingsFolder);

    state = Idle;
    capturePaused = false;
    waveform->setRecording(false);
    updateWaveformInteractivity();
    waveform->setPlaybackPosition(0);
    indicatorPhase = 0;
    showIndicator(QStringLiteral("#e74c3c"), 1.0);
    if (sourceRefreshTimer)
        sourceRefreshTimer->start();
    timeLabel->setText(formatTime(waveform->durationMs()));
    if (!captured && currentRecordingItem())
        onRecordingSelected();  // nothing to save: back to the recording in the list
    updateTransportButtons();
}

// --- files -----------------------------------------------------------------

QString RecordingDialog::recordingsFolderPath() const
{
    return recordingsFolder.isEmpty() ? RecordingsFolder::resolve() : recordingsFolder;
}

bool RecordingDialog::isBusyWithFiles() const
{
    return !jobs->isIdle();
}

void RecordingDialog::queueSave(UnsavedRecording recording, bool trimSilence, bool trackChanged,
                                const QString& folder)
{
    ++savesInFlight;
    updateWaveformInteractivity();
    const QString word = tr("录音");
    const QDateTime time = QDateTime::currentDateTime();
    jobs->enqueue(
        [recording = std::move(recording), trimSilence, trackChanged, folder, word, time]() mutable {
            return saveInBackground(std::move(recording), trimSilence, trackChanged, folder, word, time);
        },
        [this](const SaveOutcome& outcome) { onRecordingSaved(outcome); });
}

// Worker thread: touches nothing of the dialog.
RecordingDialog::SaveOutcome RecordingDialog::saveInBackground(UnsavedRecording recording, bool trimSilence,
                                                               bool trackChanged, const QString& folder,
                                                               const QString& word, const QDateTime& time)
{
    SaveOutcome outcome;
    if (trimSilence && recording.sampleRate > 0 && recording.channels > 0) {
        const RecordingPcm::SilenceTrim cut =
            RecordingPcm::silenceTrim(recording.pcm.constData(), recording.pcm.size(), recording.channels,
                                      recording.sampleRate, kSilenceThreshold);
        if (cut.leadBytes > 0 || cut.trailBytes > 0)
            recording.pcm = recording.pcm.mid(cut.leadBytes, recording.pcm.size() - cut.leadBytes - cut.trailBytes);
    }
    if (trackChanged) {
        // Cut the start of the next track that the title change caught.
        const qint64 cut = RecordingPcm::trackChangeCutBytes(recording.pcm.constData(), recording.pcm.size(),
                                                             recording.sampleRate, recording.channels);
        if (cut > 0)
            recording.pcm.chop(cut);
    }
    outcome.durationMs = RecordingPcm::durationMs(recording.pcm.size(), recording.sampleRate, recording.channels);
    if (recording.pcm.isEmpty())
        return outcome;
    // Beside the program first, then the data folder (a full or read-only disk
    // there must not lose the recording).
    const QStringList folders = folder.isEmpty()
        ? QStringList{RecordingsFolder::besideProgram(), RecordingsFolder::inDataFolder()}
        : QStringList{folder};
    outcome.path = writeRecordingFile(folders, recording, word, time, &outcome.error, &outcome.fallback);
    if (outcome.path.isEmpty())
        outcome.recording = std::move(recording);
    return outcome;
}

QString RecordingDialog::writeRecordingFile(const QStringList& folders, const UnsavedRecording& recording,
                                            const QString& word, const QDateTime& time, QString* error,
                                            QString* fallback)
{
    QString firstFailure;
    for (const QString& candidate : folders) {
        if (!RecordingsFolder::prepare(candidate)) {
            *error = tr("无法写入文件夹 %1（%2）")
                         .arg(QDir::toNativeSeparators(candidate), WriteFailureReason::describe(candidate));
            if (firstFailure.isEmpty())
                firstFailure = *error;
            continue;
        }
        // The worker writes one file at a time, so a free name stays free.
        const QString path = RecordingsFolder::uniqueFilePath(candidate, word, time, recording.suffix);
        const auto fileFormat = recording.suffix == QLatin1String("mp3") ? RecordingFileWriter::Format::Mp3
                                                                         : RecordingFileWriter::Format::Wav;
        QString writeError;
        if (RecordingFileWriter::write(path, recording.pcm, recording.channels, recording.sampleRate, fileFormat,
                                       &writeError)) {
            if (fallback && !firstFailure.isEmpty())
                *fallback = firstFailure;
            return path;
        }
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                              WriteFailureReason::describe(candidate, QFileDevice::NoError, writeError,
                                                                          fileFormat == RecordingFileWriter::Format::Wav
                                                                              ? recording.pcm.size()
                                                                              : recording.pcm.size() / 8));
        if (firstFailure.isEmpty())
            firstFailure = *error;
    }
    return QString();
}

void RecordingDialog::reportSaveFallback(const QString& fallback, const QString& savedFolder)
{
    qWarning() << "[Recording] Saved in another folder:" << fallback;
    // Not modal: the recording is safe, the operator only learns where it is.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音已改存到其他文件夹"),
                                tr("录音未能保存到原文件夹：%1\n已改存到：%2")
                                    .arg(fallback, QDir::toNativeSeparators(savedFolder)),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void RecordingDialog::onRecordingSaved(const SaveOutcome& outcome)
{
    --savesInFlight;
    const bool idle = state == Idle;
    if (!outcome.path.isEmpty()) {
        addRecordingItem(outcome.path, outcome.durationMs);
        if (!outcome.fallback.isEmpty())
            reportSaveFallback(outcome.fallback, QFileInfo(outcome.path).absolutePath());
        if (idle)
            timeLabel->setText(formatTime(outcome.durationMs));
    } else {
        if (!outcome.error.isEmpty()) {
            unsavedRecordings.append(outcome.recording);
            reportSaveFailure(outcome.error);
        }
        playWhenLoaded = false;
        // The waveform must show what the editor holds, or cuts would not match.
        if (idle && savesInFlight == 0) {
            if (currentRecordingItem()) {
                onRecordingSelected();
            } else {
                waveform->clear();
                timeLabel->setText(formatTime(0));
            }
        }
    }
    updateWaveformInteractivity();
    updateTransportButtons();
}

void RecordingDialog::retryUnsavedRecordings(const QString& folder)
{
    const QList<UnsavedRecording> retry = unsavedRecordings;
    unsavedRecordings.clear();
    // Shown again if this try fails too. (close() is refused by a message box
    // without an escape button.)
    if (saveFailureBox)
        saveFailureBox->hide();
    for (const UnsavedRecording& recording : retry)
        queueSave(recording, false, false, folder.isEmpty() ? recordingsFolder : folder);
}

void RecordingDialog::discardUnsavedRecordings()
{
    if (!unsavedRecordings.isEmpty())
        qWarning() << "[Recording] Unsaved recordings given up:" << unsavedRecordings.size();
    unsavedRecordings.clear();
}

void RecordingDialog::reportSaveFailure(const QString& error)
{
    qWarning() << "[Recording] Failed to save recording:" << error;
    const QString text = tr("录音未能保存：%1\n录音仍保留在内存中，可以重试，或另选一个文件夹保存。").arg(error);
    if (saveFailureBox) {
        saveFailureBox->setText(text);
        saveFailureBox->show();
        return;
    }
    // Not modal: a recording stopped by itself must not wait for a click.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音保存失败"), text, QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* retry = box->addButton(tr("重试"), QMessageBox::AcceptRole);
    QPushButton* saveElsewhere = box->addButton(tr("另存到…"), QMessageBox::ActionRole);
    QPushButton* discard = box->addButton(tr("放弃录音"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::buttonClicked, this, [this, retry, saveElsewhere, discard](QAbstractButton* button) {
        if (button == retry) {
            QTimer::singleShot(0, this, [this] { retryUnsavedRecordings(); });
        } else if (button == saveElsewhere) {
            QTimer::singleShot(0, this, [this] {
                const QString folder = chooseFolder(tr("选择保存目录"), QString());
                if (folder.isEmpty())
                    reportSaveFailure(tr("未选择文件夹"));
                else
                    retryUnsavedRecordings(folder);
            });
        } else if (button == discard) {
            discardUnsavedRecordings();
        }
    });
    saveFailureBox = box;
    box->open();
}

void RecordingDialog::addRecordingItem(const QString& path, qint64 durationMs)
{
    auto* item = new QStandardItem(QFileInfo(path).completeBaseName());
    item->setData(path, Qt::UserRole);
    item->setData(QVariant::fromValue<qint64>(durationMs), Qt::UserRole + 1);
    item->setCheckable(true);
    item->setCheckState(Qt::Unchecked);
    recordingsModel->appendRow(item);
    recordingsView->selectionModel()->setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
}

void RecordingDialog::updateWaveformInteractivity()
{
    // Cuts are made on the editor's audio: only while it holds what is shown.
    waveform->setInteractive(state != Recording && state != RecordingPaused && savesInFlight == 0 && !loadPending);
}

int RecordingDialog::showMessage(int icon, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::Ok, this);
    return box.exec();
}

void RecordingDialog::setWaitingForFiles(bool waiting)
{
    // Nothing may start while the dialog waits for its files before it
    // confirms or closes.
    setEnabled(!waiting);
    titleLabel->setText(waiting ? tr("录音 - 正在保存…") : tr("录音"));
}
