#include "settings/SettingsPanel.h"

#include "input/HidDeviceManager.h"
#include "model/Cue.h"  // AudioEngine.h needs the complete type
#include "model/DatabaseManager.h"
#include "platform/PlatformShell.h"
#include "playback/AudioEngine.h"
#include "settings/AboutText.h"
#include "settings/AppVersion.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsPanelStyle.h"
#include "settings/SettingsWriter.h"
#include "ui_SettingsPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTableWidgetItem>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using namespace SettingsKeys;

int SettingsPanel::lastTabIndex = 2;
bool SettingsPanel::firstOpen = true;

namespace {

const char kCaptureStyleSheet[] =
    "QLineEdit { background-color: #2c3e50; border: 1px solid #3498db; color: #ecf0f1; }";
const char kScrollAreaStyleSheet[] = "QScrollArea { background-color: transparent; }";
const char kLoopInfiniteText[] = "♾️";

const char kRowProperty[] = "shortcutRow";
const char kColumnProperty[] = "shortcutCol";
constexpr int kKeyColumn = 1;
constexpr int kDeviceColumn = 2;

// The crossfade curve of a selector item's data; anything unknown is the default.
int curveFromName(const QString& name)
{
    if (name == QLatin1String("EqualPower"))
        return 0;
    if (name == QLatin1String("Linear"))
        return 1;
    return 2;
}

// Windows virtual-key codes of the named keys of a "Keyboard:" identifier.
int virtualKeyOfKeyboardName(const QString& name)
{
    static const QList<QPair<QString, int>> kNamed = {
        {QStringLiteral("UpArrow"), 38},  {QStringLiteral("DownArrow"), 40}, {QStringLiteral("LeftArrow"), 37},
        {QStringLiteral("RightArrow"), 39}, {QStringLiteral("PageUp"), 33},  {QStringLiteral("PageDown"), 34},
        {QStringLiteral("Home"), 36},     {QStringLiteral("End"), 35},       {QStringLiteral("Escape"), 27},
        {QStringLiteral("Return"), 13},   {QStringLiteral("Space"), 32},
    };
    for (const auto& [text, code] : kNamed) {
        if (name == text)
            return code;
    }
    if (name.startsWith(QLatin1String("Key"))) {
        bool ok = false;
        const int code = name.mid(3).toInt(&ok);
        if (ok && code >= 0)
            return code;
    }
    return -1;
}

QString appDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// Moves the widgets of a layout, in order, into another; spacers are dropped.
void moveWidgets(QLayout* from, QBoxLayout* to)
{
    while (QLayoutItem* item = from->takeAt(0)) {
        if (QWidget* widget = item->widget())
            to->addWidget(widget);
        delete item;
    }
}

QScrollArea* makeScrollArea(QWidget* tab, QWidget* content)
{
    auto* scrollArea = new QScrollArea(tab);
    scrollArea->setWidget(content);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setStyleSheet(QString::fromLatin1(kScrollAreaStyleSheet));
    auto* tabLayout = new QVBoxLayout(tab);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->addWidget(scrollArea);
    return scrollArea;
}

}  // namespace

SettingsPanel::SettingsPanel(QWidget* parent)
    : SettingsPanel(Seams(), parent)
{
}

SettingsPanel::SettingsPanel(const Seams& seams, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SettingsPanel)
    , m_seams(seams)
{
    m_input = seams.input ? seams.input : HidDeviceManager::instance();
    ui->setupUi(this);
    // A dialog over its owner, modal to it, gone once closed.
    setWindowFlags(Qt::Dialog);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    setFixedSize(600, 500);
    setStyleSheet(settingsPanelStyleSheet());
    // The form's own spin-box sheets would show a disabled box like an
    // enabled one.
    for (QSpinBox* spin : findChildren<QSpinBox*>()) {
        if (!spin->styleSheet().isEmpty())
            spin->setStyleSheet(spin->styleSheet() + QLatin1String("\nQSpinBox:disabled {\n    color: #666666;\n}"));
    }

    disconnect(ui->buttonBox, &QDialogButtonBox::accepted, this, nullptr);
    disconnect(ui->buttonBox, &QDialogButtonBox::rejected, this, nullptr);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &SettingsPanel::onAccept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &SettingsPanel::onReject);
    if (QPushButton* restore = ui->buttonBox->button(QDialogButtonBox::RestoreDefaults)) {
        restore->setText(tr("重置为默认"));
        connect(restore, &QPushButton::clicked, this, &SettingsPanel::onRestoreDefaults);
    }
    if (QPushButton* ok = ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setText(tr("确定"));
    if (QPushButton* cancel = ui->buttonBox->button(QDialogButtonBox::Cancel))
        cancel->setText(tr("取消"));
    // Some desktop styles put icons on these buttons; the dark look has none.
    for (QAbstractButton* button : ui->buttonBox->buttons())
        button->setIcon(QIcon());

    connect(ui->crossfadeCheckBox, &QCheckBox::toggled, ui->crossfadeDurationSpin, &QWidget::setEnabled);
    connect(ui->pauseFadeCheckBox, &QCheckBox::toggled, ui->pauseFadeDurationSpin, &QWidget::setEnabled);
    // The curve applies at once, also when the window is then cancelled.
    connect(ui->crossfadeCurveCombo, &QComboBox::currentIndexChanged, this, [this] {
        AudioEngine::instance()->setCrossfadeCurve(
            curveFromName(ui->crossfadeCurveCombo->currentData().toString()));
    });
    connect(ui->preloadSlider, &QSlider::valueChanged, this, &SettingsPanel::onPreloadSliderChanged);

    m_captureTimer = new QTimer(this);
    m_captureTimer->setSingleShot(true);
    m_captureTimer->setTimerType(Qt::CoarseTimer);
    connect(m_captureTimer, &QTimer::timeout, this, [this] {
        if (captureRow >= 0)
            stopShortcutCapture();
    });
    setupShortcutTab();
    connect(ui->resetShortcutsBtn, &QPushButton::clicked, this, &SettingsPanel::onResetShortcuts);

    makeAudioTabScrollable();

    setupAboutTab();
    connect(ui->checkUpdateBtn, &QPushButton::clicked, this, &SettingsPanel::onCheckUpdate);
    connect(ui->creditsBtn, &QPushButton::clicked, this, &SettingsPanel::onCredits);

    updateCacheSizeLabel();
    connect(ui->clearCacheBtn, &QPushButton::clicked, this, &SettingsPanel::onClearCache);
    connect(ui->openDbDirBtn, &QPushButton::clicked, this, &SettingsPanel::onOpenDbDir);
    connect(ui->openLogDirBtn, &QPushButton::clicked, this, &SettingsPanel::onOpenLogDir);
    connect(ui->resetFontBtn, &QPushButton::clicked, this, &SettingsPanel::onResetFont);

    connect(ui->m3u8IncludeAudioCheck, &QCheckBox::toggled, ui->m3u8FullRadio, &QWidget::setEnabled);
    connect(ui->m3u8IncludeAudioCheck, &QCheckBox::toggled, ui->m3u8ClipRadio, &QWidget::setEnabled);

    setupTemplateTab();
    loadSettings();

    // The first window of a run opens on the shortcut tab, later ones on the
    // tab shown last.
    if (firstOpen) {
        lastTabIndex = 2;
        firstOpen = false;
    }
    if (lastTabIndex >= 0 && lastTabIndex < ui->tabWidget->count())
        ui->tabWidget->setCurrentIndex(lastTabIndex);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [](int index) { lastTabIndex = index; });
}

SettingsPanel::~SettingsPanel()
{
    // Nothing of the window may run while its parts go away.
    qApp->removeEventFilter(this);
    ui->tabWidget->disconnect(this);
    if (captureRow >= 0)
        stopShortcutCapture();
    QSettings().setValue(kSettingsPanelLastTabIndex, lastTabIndex);
    delete ui;
    ui = nullptr;
}

// --- load and store ----------------------------------------------------------

void SettingsPanel::loadSettings()
{
    QSettings settings;
    loadControls([&settings](const char* key, const QVariant& defaultValue) {
        return settings.value(QLatin1String(key), defaultValue);
    });
}

void SettingsPanel::loadControls(const ValueSource& value)
{
    ui->crossfadeCheckBox->setChecked(value(kCrossfadeEnabled, kCrossfadeEnabledDefault).toBool());
    ui->crossfadeDurationSpin->setRange(kCrossfadeDurationMin, kCrossfadeDurationMax);
    ui->crossfadeDurationSpin->setValue(value(kCrossfadeDuration, kCrossfadeDurationDefault).toInt());
    ui->crossfadeDurationSpin->setEnabled(ui->crossfadeCheckBox->isChecked());

    // Refilling hands the engine the first curve, selecting the stored one
    // then puts that into effect.
    ui->crossfadeCurveCombo->clear();
    ui->crossfadeCurveCombo->addItem(tr("缓入缓出 (推荐)"), QStringLiteral("SmoothStep"));
    ui->crossfadeCurveCombo->addItem(tr("等功率"), QStringLiteral("EqualPower"));
    ui->crossfadeCurveCombo->addItem(tr("线性"), QStringLiteral("Linear"));
    const int curveIndex =
        ui->crossfadeCurveCombo->findData(value(kCrossfadeCurve, QString::fromLatin1(kCrossfadeCurveDefault)).toString());
    ui->crossfadeCurveCombo->setCurrentIndex(std::max(curveIndex, 0));

    const int preload = value(kPreloadBuffer, kPreloadBufferDefault).toInt();
    ui->preloadSlider->setValue(preload);
    ui->preloadValueLabel->setText(QStringLiteral("%1 ms").arg(ui->preloadSlider->value()));
    ui->waveformCacheSpin->setValue(value(kWaveformCacheMB, kWaveformCacheMBDefault).toInt());
    ui->volumeSwitchDurationSpin->setValue(value(kVolumeSwitchDuration, kVolumeSwitchDurationDefault).toInt());

    ui->pauseFadeCheckBox->setChecked(value(kPauseFadeEnabled, kPauseFadeEnabledDefault).toBool());
    ui->pauseFadeDurationSpin->setRange(0, 2000);
    ui->pauseFadeDurationSpin->setValue(value(kPauseFadeDuration, kPauseFadeDurationDefault).toInt());
    ui->pauseFadeDurationSpin->setEnabled(ui->pauseFadeCheckBox->isChecked());
    ui->showModeOnlyCheckBox->setChecked(value(kPauseFadeShowModeOnly, kPauseFadeShowModeOnlyDefault).toBool());

    ui->exportFormatCombo->clear();
    ui->exportFormatCombo->addItem(QStringLiteral("WAV"), QStringLiteral("WAV"));
    ui->exportFormatCombo->addItem(QStringLiteral("MP3"), QStringLiteral("MP3"));
    const int formatIndex = ui->exportFormatCombo->findData(
        value(kExportFormat, QString::fromLatin1(kExportFormatDefaultWindow)).toString());
    ui->exportFormatCombo->setCurrentIndex(std::max(formatIndex, 0));
    ui->exportSampleRateCombo->clear();
    for (int rate : {44100, 48000, 96000})
        ui->exportSampleRateCombo->addItem(QStringLiteral("%1 Hz").arg(rate), rate);
    const int rateIndex =
        ui->exportSampleRateCombo->findData(value(kExportSampleRate, kExportSampleRateDefault).toInt());
    ui->exportSampleRateCombo->setCurrentIndex(std::max(rateIndex, 0));

    const QString range = value(kExportRange, QString::fromLatin1(kExportRangeDefaultWindow)).toString();
    if (range == QLatin1String("whole"))
        ui->exportWholeRadio->setChecked(true);
    else if (range == QLatin1String("clip"))
        ui->exportClipRadio->setChecked(true);
    ui->exportSeqCheckBox->setChecked(value(kExportUseSeq, kExportUseSeqDefaultWindow).toBool());
    ui->exportAliasCheckBox->setChecked(value(kExportUseAlias, kExportUseAliasDefaultWindow).toBool());
    ui->exportFilenameCheckBox->setChecked(value(kExportUseFilename, kExportUseFilenameDefaultWindow).toBool());
    const QString processing =
        value(kExportProcessing, QString::fromLatin1(kExportProcessingDefaultWindow)).toString();
    if (processing == QLatin1String("raw"))
        ui->exportRawRadio->setChecked(true);
    else if (processing == QLatin1String("processed"))
        ui->exportProcessedRadio->setChecked(true);

    ui->fontSizeSpin->setValue(value(kFontSize, kFontSizeDefault).toInt());
    ui->headerFontSizeSpin->setValue(value(kHeaderFontSize, kHeaderFontSizeDefault).toInt());
    ui->showSettingsPanelInShowModeCheck->setChecked(
        value(kShowSettingsPanelInShowMode, kShowSettingsPanelInShowModeDefault).toBool());
    ui->showWaveformInShowModeCheck->setChecked(
        value(kShowWaveformInShowMode, kShowWaveformInShowModeDefault).toBool());
    ui->showModeCloseListCheck->setChecked(value(kShowModeCloseList, kShowModeCloseListDefault).toBool());
    ui->cartColumnsSpin->setValue(value(kCartColumns, kCartColumnsDefault).toInt());
    ui->cartHeightSpin->setValue(value(kCartItemHeight, kCartItemHeightDefault).toInt());

    ui->enableLoggingCheck->setChecked(value(kEnableLogging, kEnableLoggingDefault).toBool());
    ui->logLevelCombo->setCurrentIndex(value(kLogLevel, kLogLevelDefault).toInt());
    ui->gpuAccelerationCheck->setChecked(value(kGpuAcceleration, kGpuAccelerationDefault).toBool());
    ui->asyncDecodeCheck->setChecked(value(kAsyncDecode, kAsyncDecodeDefault).toBool());

    const bool m3u8Audio = value(kExportM3u8IncludeAudio, kExportM3u8IncludeAudioDefault).toBool();
    ui->m3u8IncludeAudioCheck->setChecked(m3u8Audio);
    ui->m3u8FullRadio->setEnabled(m3u8Audio);
    ui->m3u8ClipRadio->setEnabled(m3u8Audio);
    const QString m3u8Type = value(kExportM3u8Type, QString::fromLatin1(kExportM3u8TypeDefault)).toString();
    if (m3u8Type == QLatin1String("full"))
        ui->m3u8FullRadio->setChecked(true);
    else if (m3u8Type == QLatin1String("clip"))
        ui->m3u8ClipRadio->setChecked(true);
    ui->projectIncludeAudioCheck->setChecked(
        value(kExportProjectIncludeAudio, kExportProjectIncludeAudioDefaultWindow).toBool());

    fadeEnabledCheck->setChecked(value(kTemplateFadeEnabled, kTemplateFadeEnabledDefault).toBool());
    fadeInSpin->setValue(value(kTemplateFadeInSec, kTemplateFadeInSecDefault).toDouble());
    fadeOutSpin->setValue(value(kTemplateFadeOutSec, kTemplateFadeOutSecDefault).toDouble());
    const int loopCount = value(kTemplateLoopCount, kTemplateLoopCountDefault).toInt();
    lastFiniteLoopCount = loopCount > 0 ? loopCount : 1;
    loopCountSpin->setValue(loopCount);
    onTemplateLoopCountChanged(loopCountSpin->value());
    preWaitSpin->setValue(value(kTemplatePreWaitSec, kTemplatePreWaitSecDefault).toDouble());
    panEnvelopeCheck->setChecked(value(kTemplatePanEnvelopeEnabled, kTemplatePanEnvelopeEnabledDefault).toBool());
    volumeEnvelopeCheck->setChecked(value(kTemplateEnvelopeEnabled, kTemplateEnvelopeEnabledDefault).toBool());
    volumeASpin->setValue(value(kTemplateVolumeA, kTemplateVolumeADefault).toInt());
    volumeBSpin->setValue(value(kTemplateVolumeB, kTemplateVolumeBDefault).toInt());
    forceVolumeACheck->setChecked(value(kTemplateForceVolumeA, kTemplateForceVolumeADefault).toBool());

    updateBoundDeviceIdentifiers();
}

void SettingsPanel::saveSettings()
{
    // The status bar hands some of these keys to the writer's thread; what
    // it still holds must not land over what is saved here.
    SettingsWriter::flush();
    QSettings settings;
    settings.setValue(kCrossfadeEnabled, ui->crossfadeCheckBox->isChecked());
    settings.setValue(kCrossfadeDuration, ui->crossfadeDurationSpin->value());
    settings.setValue(kCrossfadeCurve, ui->crossfadeCurveCombo->currentData().toString());

    settings.setValue(kPreloadBuffer, ui->preloadSlider->value());
    settings.setValue(kWaveformCacheMB, ui->waveformCacheSpin->value());
    settings.setValue(kVolumeSwitchDuration, ui->volumeSwitchDurationSpin->value());
    settings.setValue(kPauseFadeEnabled, ui->pauseFadeCheckBox->isChecked());
    settings.setValue(kPauseFadeDuration, ui->pauseFadeDurationSpin->value());
    settings.setValue(kPauseFadeShowModeOnly, ui->showModeOnlyCheckBox->isChecked());

    settings.setValue(kExportFormat, ui->exportFormatCombo->currentData().toString());
    settings.setValue(kExportSampleRate, ui->exportSampleRateCombo->currentData().toInt());
    settings.setValue(kExportRange, ui->exportWholeRadio->isChecked() ? QStringLiteral("whole")
                                                                      : QStringLiteral("clip"));
    settings.setValue(kExportUseSeq, ui->exportSeqCheckBox->isChecked());
    settings.setValue(kExportUseAlias, ui->exportAliasCheckBox->isChecked());
    settings.setValue(kExportUseFilename, ui->exportFilenameCheckBox->isChecked());
    settings.setValue(kExportProcessing, ui->exportRawRadio->isChecked() ? QStringLiteral("raw")
                                                                         : QStringLiteral("processed"));

    settings.setValue(kFontSize, ui->fontSizeSpin->value());
    settings.setValue(kHeaderFontSize, ui->headerFontSizeSpin->value());
    settings.setValue(kShowSettingsPanelInShowMode, ui->showSettingsPanelInShowModeCheck->isChecked());
    settings.setValue(kShowWaveformInShowMode, ui->showWaveformInShowModeCheck->isChecked());
    settings.setValue(kShowModeCloseList, ui->showModeCloseListCheck->isChecked());
    settings.setValue(kCartColumns, ui->cartColumnsSpin->value());
    settings.setValue(kCartItemHeight, ui->cartHeightSpin->value());

    settings.setValue(kDeviceGlobalEnabled, ui->deviceGlobalCheck->isChecked());
    for (int row = 0; row < shortcutEntries.size(); ++row) {
        const QString& id = shortcutEntries.at(row).id;
        // An empty cell is stored empty: the action is unbound.
        if (row < keyEdits.size())
            settings.setValue(shortcutKey(id), keyEdits.at(row)->text());
        if (row < deviceEdits.size())
            settings.setValue(shortcutDeviceKey(id), deviceEdits.at(row)->text());
        if (QCheckBox* check = showGlobalCheck(row))
            settings.setValue(shortcutShowGlobalKey(id), check->isChecked());
    }

    settings.setValue(kEnableLogging, ui->enableLoggingCheck->isChecked());
    settings.setValue(kLogLevel, ui->logLevelCombo->currentIndex());
    settings.setValue(kGpuAcceleration, ui->gpuAccelerationCheck->isChecked());
    settings.setValue(kAsyncDecode, ui->asyncDecodeCheck->isChecked());

    settings.setValue(kExportM3u8IncludeAudio, ui->m3u8IncludeAudioCheck->isChecked());
    settings.setValue(kExportM3u8Type, ui->m3u8FullRadio->isChecked() ? QStringLiteral("full")
                                                                      : QStringLiteral("clip"));
    settings.setValue(kExportProjectIncludeAudio, ui->projectIncludeAudioCheck->isChecked());

    settings.setValue(kTemplateFadeEnabled, fadeEnabledCheck->isChecked());
    settings.setValue(kTemplateFadeInSec, fadeInSpin->value());
    settings.setValue(kTemplateFadeOutSec, fadeOutSpin->value());
    settings.setValue(kTemplateLoopCount, loopCountSpin->value());
    settings.setValue(kTemplatePreWaitSec, preWaitSpin->value());
    settings.setValue(kTemplatePanEnvelopeEnabled, panEnvelopeCheck->isChecked());
    settings.setValue(kTemplateEnvelopeEnabled, volumeEnvelopeCheck->isChecked());
    settings.setValue(kTemplateVolumeA, volumeASpin->value());
    settings.setValue(kTemplateVolumeB, volumeBSpin->value());
    settings.setValue(kTemplateForceVolumeA, forceVolumeACheck->isChecked());

    settings.setValue(kSettingsPanelLastTabIndex, ui->tabWidget->currentIndex());
    settings.sync();
    updateBoundDeviceIdentifiers();
}

void SettingsPanel::onAccept()
{
    saveSettings();
    AudioEngine* engine = AudioEngine::instance();
    engine->setCrossfadeEnabled(ui->crossfadeCheckBox->isChecked());
    engine->setCrossfadeDuration(ui->crossfadeDurationSpin->value());
    engine->setCrossfadeCurve(curveFromName(ui->crossfadeCurveCombo->currentData().toString()));
    emit settingsChanged();
    close();
}

void SettingsPanel::onReject()
{
    close();
}

void SettingsPanel::onRestoreDefaults()
{
    if (showMessage(QMessageBox::Question, tr("恢复默认设置"), tr("确定要恢复所有设置为默认值吗？\n快捷键也会被重置。"),
                    QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    // Only the controls: the store keeps everything until OK, and keys the
    // window does not show (volume, device, last state, recording) are never
    // touched.
    resetShortcutEditors();
    loadControls([](const char*, const QVariant& defaultValue) { return defaultValue; });
    showMessage(QMessageBox::Information, tr("已恢复默认"),
                tr("所有设置已恢复为默认值。\n点击“确定”保存，点击“取消”则保留原有设置。"), QMessageBox::Ok);
}

void SettingsPanel::onResetFont()
{
    ui->fontSizeSpin->setValue(16);
    ui->headerFontSizeSpin->setValue(16);
}

void SettingsPanel::onPreloadSliderChanged(int value)
{
    ui->preloadValueLabel->setText(QStringLiteral("%1 ms").arg(value));
}

void SettingsPanel::closeEvent(QCloseEvent* event)
{
    // A capture left running would swallow the next key or presenter press.
    if (captureRow >= 0)
        stopShortcutCapture();
    event->accept();
}

void SettingsPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    PlatformShell::colorWindowCaption(this);
}

// --- tabs built or reworked in code -------------------------------------------

void SettingsPanel::makeAudioTabScrollable()
{
    auto* content = new QWidget;
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setSpacing(10);
    contentLayout->setContentsMargins(9, 9, 9, 9);
    QLayout* formLayout = ui->audioTab->layout();
    moveWidgets(formLayout, contentLayout);
    delete formLayout;
    ui->audioTabLayout = nullptr;
    makeScrollArea(ui->audioTab, content);
}

void SettingsPanel::setupTemplateTab()
{
    templateTab = new QWidget;
    templateTab->setObjectName(QStringLiteral("templateTab"));
    auto* tabLayout = new QVBoxLayout(templateTab);
    tabLayout->setSpacing(10);

    auto* info = new QLabel(tr("此设置仅针对新建轨道时的初始设置"), templateTab);
    info->setAlignment(Qt::AlignCenter);
    info->setStyleSheet(QStringLiteral(
        "QLabel { color: #aaaaaa; font-size: 12px; font-style: italic; padding: 2px; }"));
    tabLayout->addWidget(info);

    auto addGroup = [&](const QString& title, QBoxLayout* layout) {
        auto* box = new QGroupBox(title, templateTab);
        box->setLayout(layout);
        tabLayout->addWidget(box);
    };
    auto seconds = [this](double maximum, double step, const QString& suffix) {
        auto* spin = new QDoubleSpinBox(templateTab);
        spin->setRange(0.0, maximum);
        spin->setSingleStep(step);
        spin->setDecimals(1);
        spin->setSuffix(suffix);
        return spin;
    };

    fadeEnabledCheck = new QCheckBox(tr("启用淡入淡出"), templateTab);
    fadeInSpin = seconds(20.0, 0.1, QString());
    fadeOutSpin = seconds(20.0, 0.1, QString());
    auto* fadeLayout = new QHBoxLayout;
    fadeLayout->setSpacing(10);
    fadeLayout->addWidget(fadeEnabledCheck);
    fadeLayout->addWidget(new QLabel(tr("入点时间:"), templateTab));
    fadeLayout->addWidget(fadeInSpin);
    fadeLayout->addWidget(new QLabel(tr("出点时间:"), templateTab));
    fadeLayout->addWidget(fadeOutSpin);
    fadeLayout->addStretch();
    addGroup(tr("淡入淡出"), fadeLayout);

    loopCountSpin = new QSpinBox(templateTab);
    loopCountSpin->setRange(0, 99);
    loopCountSpin->setValue(0);
    loopCountSpin->setSpecialValueText(QStringLiteral("∞"));
    loopInfiniteButton = new QPushButton(QString::fromUtf8(kLoopInfiniteText), templateTab);
    loopInfiniteButton->setCheckable(true);
    loopInfiniteButton->setFixedWidth(40);
    preWaitSpin = seconds(60.0, 0.5, QStringLiteral(" s"));
    auto* playLayout = new QHBoxLayout;
    playLayout->setSpacing(10);
    playLayout->addWidget(new QLabel(tr("播放次数:"), templateTab));
    playLayout->addWidget(loopCountSpin);
    playLayout->addWidget(loopInfiniteButton);
    playLayout->addSpacing(20);
    playLayout->addWidget(new QLabel(tr("预等待时间:"), templateTab));
    playLayout->addWidget(preWaitSpin);
    playLayout->addStretch();
    addGroup(tr("播放设置"), playLayout);

    panEnvelopeCheck = new QCheckBox(tr("启用声像包络"), templateTab);
    volumeEnvelopeCheck = new QCheckBox(tr("启用音量包络"), templateTab);
    auto* envelopeLayout = new QHBoxLayout;
    envelopeLayout->setSpacing(20);
    envelopeLayout->addWidget(panEnvelopeCheck);
    envelopeLayout->addWidget(volumeEnvelopeCheck);
    envelopeLayout->addStretch();
    addGroup(tr("包络设置"), envelopeLayout);

    volumeASpin = new QSpinBox(templateTab);
    volumeASpin->setRange(0, 100);
    volumeASpin->setValue(kTemplateVolumeADefault);
    volumeBSpin = new QSpinBox(templateTab);
    volumeBSpin->setRange(0, 100);
    volumeBSpin->setValue(kTemplateVolumeBDefault);
    auto* volumeLayout = new QHBoxLayout;
    volumeLayout->setSpacing(10);
    volumeLayout->addWidget(new QLabel(tr("轨道A音量:"), templateTab));
    volumeLayout->addWidget(volumeASpin);
    volumeLayout->addSpacing(10);
    volumeLayout->addWidget(new QLabel(tr("轨道B音量:"), templateTab));
    volumeLayout->addWidget(volumeBSpin);
    volumeLayout->addStretch();
    addGroup(tr("音量设置"), volumeLayout);

    forceVolumeACheck = new QCheckBox(tr("演出模式是否强制初始状态为A音量"), templateTab);
    auto* showLayout = new QVBoxLayout;
    showLayout->setSpacing(8);
    showLayout->addWidget(forceVolumeACheck);
    addGroup(tr("演出模式"), showLayout);
    tabLayout->addStretch();

    const QList<QPair<QWidget*, const char*>> names = {
        {fadeEnabledCheck, "fadeEnabledCheck"},   {fadeInSpin, "fadeInSpin"},
        {fadeOutSpin, "fadeOutSpin"},             {loopCountSpin, "loopCountSpin"},
        {loopInfiniteButton, "loopInfiniteButton"}, {preWaitSpin, "preWaitSpin"},
        {panEnvelopeCheck, "panEnvelopeCheck"},   {volumeEnvelopeCheck, "volumeEnvelopeCheck"},
        {volumeASpin, "volumeASpin"},             {volumeBSpin, "volumeBSpin"},
        {forceVolumeACheck, "forceVolumeACheck"},
    };
    for (const auto& [widget, name] : names)
        widget->setObjectName(QLatin1String(name));
    ui->tabWidget->insertTab(ui->tabWidget->indexOf(ui->projectExportTab) + 1, templateTab, tr("模板"));

    connect(loopInfiniteButton, &QPushButton::clicked, this, &SettingsPanel::onTemplateLoopInfiniteClicked);
    connect(loopCountSpin, &QSpinBox::valueChanged, this, &SettingsPanel::onTemplateLoopCountChanged);
}

// The endless button shows "♾️" while the count is finite, and the count it
// goes back to while it is endless.
void SettingsPanel::onTemplateLoopCountChanged(int value)
{
    if (value != 0) {
        loopInfiniteButton->setChecked(false);
        loopInfiniteButton->setText(QString::fromUtf8(kLoopInfiniteText));
        lastFiniteLoopCount = value;
    } else {
        loopInfiniteButton->setChecked(true);
        loopInfiniteButton->setText(QString::number(std::max(lastFiniteLoopCount, 1)));
    }
}

void SettingsPanel::onTemplateLoopInfiniteClicked()
{
    if (loopInfiniteButton->isChecked()) {
        if (loopCountSpin->value() > 0)
            lastFiniteLoopCount = loopCountSpin->value();
        loopCountSpin->setValue(0);
        loopInfiniteButton->setText(QString::number(lastFiniteLoopCount));
    } else {
        loopCountSpin->setValue(std::max(lastFiniteLoopCount, 1));
        loopInfiniteButton->setText(QString::fromUtf8(kLoopInfiniteText));
    }
}

void SettingsPanel::setupAboutTab()
{
    ui->appVersionLabel->setText(tr("版本 %1").arg(appVersionString()));

    if (ui->appIconLabel) {
        const QString appDir = QCoreApplication::applicationDirPath();
        const QStringList candidates = {
            QStringLiteral(":/images/LOGO.png"),
            QDir(appDir).filePath(QStringLiteral("../../../icons/LOGO.png")),
            QDir(appDir).filePath(QStringLiteral("../icons/LOGO.png")),
            appDir + QStringLiteral("/../Resources/icons/LOGO.png"),
            QDir::currentPath() + QStringLiteral("/icons/LOGO.png"),
        };
        for (const QString& path : candidates) {
            QPixmap logo(path);
            if (logo.isNull())
                continue;
            const QScreen* screen = QGuiApplication::primaryScreen();
            const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
            QPixmap scaled = logo.scaled(QSize(100, 76) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            scaled.setDevicePixelRatio(ratio);
            ui->appIconLabel->setPixmap(scaled);
            ui->appIconLabel->setFixedHeight(76);
            break;
        }
    }
    if (ui->appDescLabel)
        ui->appDescLabel->setText(tr("一款面向婚礼、剧场、晚会、话剧的音频实时处理播放软件."));
    ui->copyrightLabel->setText(AboutText::rightsLine());

    if (ui->contactGroup) {
        if (QLayout* old = ui->contactGroup->layout()) {
            while (QLayoutItem* item = old->takeAt(0)) {
                if (QWidget* widget = item->widget())
                    widget->deleteLater();
                delete item;
            }
            delete old;
        }
        ui->contactLayout = nullptr;
        ui->supportLabel = nullptr;
        ui->supportEmailLabel = nullptr;
        ui->contactGroup->setTitle(tr("软件版权与致谢"));
        auto* layout = new QVBoxLayout(ui->contactGroup);
        layout->setContentsMargins(4, 4, 4, 4);
        auto* notice = new QTextEdit(ui->contactGroup);
        notice->setObjectName(QStringLiteral("noticeText"));
        notice->setReadOnly(true);
        notice->setTextInteractionFlags(Qt::NoTextInteraction);
        notice->setMinimumHeight(200);
        notice->setStyleSheet(QStringLiteral(
            "QTextEdit { background-color: #2a2a2a; color: #cccccc; border: 1px solid #555555; border-radius: 2px;"
            " font-size: 12px; }QTextEdit:disabled { color: #666666; }"));
        notice->setPlainText(AboutText::noticePlainText());
        layout->addWidget(notice);
    }

    if (QLayout* old = ui->aboutTab->layout()) {
        auto* support = new QGroupBox(tr("技术支持"));
        support->setObjectName(QStringLiteral("supportGroup"));
        auto* grid = new QGridLayout(support);
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(8);
        grid->addWidget(new QLabel(tr("技术支持:"), support), 0, 0);
        auto* contact = new QLabel(AboutText::supportContact(), support);
        contact->setStyleSheet(QStringLiteral("color: #4A90D9;"));
        grid->addWidget(contact, 0, 1);
        grid->addWidget(new QLabel(tr("作者:"), support), 1, 0);
        grid->addWidget(new QLabel(AboutText::authorLine(), support), 1, 1);
        grid->setColumnStretch(1, 1);

        auto* content = new QWidget;
        auto* contentLayout = new QVBoxLayout(content);
        contentLayout->setSpacing(15);
        contentLayout->setContentsMargins(20, 20, 20, 20);
        // The buttons sit in a layout of their own; keep it with its widgets.
        QLayout* buttons = ui->aboutButtonLayout;
        while (QLayoutItem* item = old->takeAt(0)) {
            if (QWidget* widget = item->widget()) {
                if (widget == ui->contactGroup)
                    contentLayout->addWidget(support);
                contentLayout->addWidget(widget);
                delete item;
            } else if (item->layout() == buttons) {
                buttons->setParent(nullptr);
                contentLayout->addLayout(buttons);
            } else {
                delete item;
            }
        }
        delete old;
        ui->aboutTabLayout = nullptr;
        makeScrollArea(ui->aboutTab, content);
    }
}

// --- storage and about actions ----------------------------------------------

QString SettingsPanel::databasePath() const
{
    return appDataFolder() + QStringLiteral("/playlist_data.db");
}

void SettingsPanel::updateCacheSizeLabel()
{
    const QFileInfo file(databasePath());
    if (!file.exists()) {
        ui->cacheSizeValueLabel->setText(tr("文件不存在"));
        return;
    }
    const qint64 bytes = file.size();
    if (bytes < 1024 * 1024)
        ui->cacheSizeValueLabel->setText(QStringLiteral("%1 KB").arg(bytes / 1024));
    else
        ui->cacheSizeValueLabel->setText(QStringLiteral("%1 MB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1));
}

void SettingsPanel::onClearCache()
{
    if (showMessage(QMessageBox::Question, tr("清除缓存"),
                    tr("确定要清除所有波形缓存数据吗？\n这不会删除您的音频文件和Cue数据。"),
                    QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;

    const QString cacheFolder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir cache(cacheFolder);
    if (!cacheFolder.isEmpty() && cache.exists()) {
        cache.removeRecursively();
        QDir().mkpath(cacheFolder);
    }

    const QString connection = QString::fromLatin1(DatabaseManager::kConnectionName);
    if (QSqlDatabase::contains(connection) && QSqlDatabase::database(connection, false).isOpen()) {
        DatabaseManager* database = DatabaseManager::instance();
        if (database->deleteAllWaveformData()) {
            database->vacuum();
            // In WAL mode the rewritten file lands in the journal; fold it
            // back so the size shown below is the real one.
            database->execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
    } else {
        qWarning().noquote() << "数据库连接 'playlist_db' 未打开，无法清除波形数据";
    }
    emit cacheCleared();
    updateCacheSizeLabel();
}

void SettingsPanel::onOpenDbDir()
{
    QString folder = QFileInfo(databasePath()).absolutePath();
    if (!QDir(folder).exists()) {
        folder = appDataFolder();
        QDir().mkpath(folder);
    }
    openFolder(folder);
}

void SettingsPanel::onOpenLogDir()
{
    const QString folder = appDataFolder();
    QDir().mkpath(folder);
    openFolder(folder);
}

void SettingsPanel::onCheckUpdate()
{
    // The program never goes online: say so rather than claim it is current.
    showMessage(QMessageBox::Information, tr("检查更新"),
                tr("当前版本：%1\n\n本软件不联网检查更新。如有更新需求，请联系技术支持：\n%2")
                    .arg(appVersionString(), AboutText::supportContact()),
                QMessageBox::Ok);
}

void SettingsPanel::onCredits()
{
    showMessage(QMessageBox::NoIcon, tr("版权与致谢"), AboutText::creditsRichText(), QMessageBox::Ok);
}

QMessageBox::StandardButton SettingsPanel::showMessage(QMessageBox::Icon icon, const QString& title,
                                                      const QString& text, QMessageBox::StandardButtons buttons)
{
    if (m_seams.showMessage)
        return m_seams.showMessage(this, icon, title, text, buttons);
    QMessageBox box(icon, title, text, buttons, this);
    const QList<QPair<QMessageBox::StandardButton, QString>> texts = {
        {QMessageBox::Yes, tr("是")}, {QMessageBox::No, tr("否")}, {QMessageBox::Ok, tr("确定")}};
    for (const auto& [which, buttonText] : texts) {
        if (QAbstractButton* button = box.button(which)) {
            button->setText(buttonText);
            button->setIcon(QIcon());
        }
    }
    return QMessageBox::StandardButton(box.exec());
}

void SettingsPanel::openFolder(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(QDir::toNativeSeparators(path));
    const bool opened = m_seams.openFolder ? m_seams.openFolder(url) : QDesktopServices::openUrl(url);
    if (!opened)
        qWarning() << "[SettingsPanel] Cannot open the folder" << path;
}

// --- shortcut table and key capture -------------------------------------------

void SettingsPanel::setupShortcutTab()
{
    shortcutEntries = {
        {tr("(播控)播放/暂停"), QStringLiteral("playPause"), QString()},
        {tr("(播控)上一首"), QStringLiteral("prev"), QString()},
        {tr("(播控)下一首"), QStringLiteral("next"), QString()},
        {tr("(播控)停止"), QStringLiteral("stop"), QString()},
        {tr("(播控)AB音量切换"), QStringLiteral("volumeSwitch"), QString()},
        {tr("设置起点"), QStringLiteral("setLoopStart"), QString()},
        {tr("设置终点"), QStringLiteral("setLoopEnd"), QString()},
        {tr("跳转起点"), QStringLiteral("audioStart"), QString()},
        {tr("跳转终点"), QStringLiteral("audioEnd"), QString()},
        {tr("复制"), QStringLiteral("copy"), QString()},
        {tr("粘贴"), QStringLiteral("paste"), QString()},
    };
    for (ShortcutEntry& entry : shortcutEntries)
        entry.defaultKey = defaultHotkey(entry.id);

    QTableWidget* table = ui->shortcutTable;
    table->setRowCount(int(shortcutEntries.size()));
    table->setColumnCount(3);
    auto* keyHeader = new QTableWidgetItem(tr("键盘快捷键    （演出全局）"));
    keyHeader->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setHorizontalHeaderItem(kKeyColumn, keyHeader);
    table->setColumnWidth(0, 110);
    table->setColumnWidth(1, 155);
    table->setColumnWidth(2, 170);

    QSettings settings;
    connect(ui->deviceGlobalCheck, &QCheckBox::toggled, m_input, &HidDeviceManager::setGlobalMode);
    const bool deviceGlobal = settings.value(kDeviceGlobalEnabled, kDeviceGlobalEnabledDefault).toBool();
    ui->deviceGlobalCheck->setChecked(deviceGlobal);
    m_input->setGlobalMode(deviceGlobal);

    keyEdits.clear();
    deviceEdits.clear();
    for (int row = 0; row < shortcutEntries.size(); ++row) {
        const ShortcutEntry& entry = shortcutEntries.at(row);
        auto* labelItem = new QTableWidgetItem(entry.label);
        labelItem->setFlags(labelItem->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, 0, labelItem);

        auto* keyCell = new QWidget;
        auto* keyLayout = new QHBoxLayout(keyCell);
        keyLayout->setContentsMargins(0, 0, 0, 0);
        keyLayout->setSpacing(6);
        auto* keyEdit = new QLineEdit(keyCell);
        keyEdit->setPlaceholderText(tr("未设置"));
        keyEdit->setClearButtonEnabled(true);
        keyEdit->setFixedSize(100, 21);
        keyEdit->setText(settings.value(shortcutKey(entry.id), entry.defaultKey).toString());
        keyEdit->setProperty(kRowProperty, row);
        keyEdit->setProperty(kColumnProperty, kKeyColumn);
        keyLayout->addWidget(keyEdit);
        keyEdits.append(keyEdit);
        if (row < kShowGlobalActionCount) {
            auto* global = new QCheckBox(keyCell);
            global->setFocusPolicy(Qt::NoFocus);
            global->setToolTip(tr("勾选后，此快捷键在软件未聚焦时也能生效"));
            global->setChecked(
                settings.value(shortcutShowGlobalKey(entry.id), shortcutShowGlobalDefault(entry.id)).toBool());
            keyLayout->addWidget(global);
        } else {
            keyLayout->addStretch();
        }
        table->setCellWidget(row, kKeyColumn, keyCell);

        auto* deviceEdit = new QLineEdit;
        deviceEdit->setPlaceholderText(tr("未设置"));
        deviceEdit->setClearButtonEnabled(true);
        deviceEdit->setFixedHeight(21);
        deviceEdit->setText(settings.value(shortcutDeviceKey(entry.id), QString()).toString());
        deviceEdit->setProperty(kRowProperty, row);
        deviceEdit->setProperty(kColumnProperty, kDeviceColumn);
        table->setCellWidget(row, kDeviceColumn, deviceEdit);
        deviceEdits.append(deviceEdit);
    }

    connect(m_input, &HidDeviceManager::buttonCaptured, this, &SettingsPanel::onShortcutCaptured);
    // Installed after the input manager's own filter, so this one sees each
    // event first.
    qApp->installEventFilter(this);
}

QCheckBox* SettingsPanel::showGlobalCheck(int row) const
{
    if (row >= kShowGlobalActionCount)
        return nullptr;
    QWidget* cell = ui->shortcutTable->cellWidget(row, kKeyColumn);
    return cell ? cell->findChild<QCheckBox*>() : nullptr;
}

bool SettingsPanel::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    if (!press && type != QEvent::KeyPress && type != QEvent::ContextMenu && type != QEvent::InputMethod
        && type != QEvent::DragEnter && type != QEvent::Drop)
        return false;
    if (!watched->isWidgetType())
        return false;  // the window of a widget sees its mouse press first

    auto* edit = qobject_cast<QLineEdit*>(watched);
    const bool bindingCell = edit && edit->property(kColumnProperty).isValid() && isAncestorOf(edit);
    if (!bindingCell) {
        // A click anywhere else ends the capture and does what it does.
        if (press && captureRow >= 0)
            stopShortcutCapture();
        return false;
    }

    if (type == QEvent::KeyPress) {
        // The cells are never typed into (their clear buttons empty them);
        // the cursor and the focus still move.
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_Right:
        case Qt::Key_Down:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return false;
        default:
            return true;
        }
    }
    if (!press)
        return true;  // no paste menu, no dropped or composed text

    const int row = edit->property(kRowProperty).toInt();
    const int column = edit->property(kColumnProperty).toInt();
    if (row == captureRow && column == captureColumn)
        return true;
    if (captureRow >= 0)
        stopShortcutCapture();
    startShortcutCapture(row, column);
    return true;
}

void SettingsPanel::startShortcutCapture(int row, int column)
{
    captureRow = row;
    captureColumn = column;
    const bool keyColumn = column == kKeyColumn;
    m_input->startCapture(keyColumn ? HidDeviceManager::CaptureKeySequence : HidDeviceManager::CaptureDevicePress);
    const QList<QLineEdit*>& edits = keyColumn ? keyEdits : deviceEdits;
    if (row >= 0 && row < edits.size()) {
        QLineEdit* edit = edits.at(row);
        savedPlaceholder = edit->placeholderText();
        edit->setPlaceholderText(tr("等待按键..."));
        edit->setStyleSheet(QString::fromLatin1(kCaptureStyleSheet));
    }
    // Keys go to the window, never into a cell.
    ui->shortcutTable->clearFocus();
    setFocus();
    m_captureTimer->start(std::max(m_seams.captureTimeoutMs, 0));
}

void SettingsPanel::stopShortcutCapture()
{
    const int row = captureRow;
    const int column = captureColumn;
    captureRow = -1;
    captureColumn = -1;
    m_captureTimer->stop();
    m_input->stopCapture();
    const QList<QLineEdit*>& edits = column == kKeyColumn ? keyEdits : deviceEdits;
    if (row >= 0 && row < edits.size()) {
        QLineEdit* edit = edits.at(row);
        edit->setPlaceholderText(savedPlaceholder);
        edit->setStyleSheet(QString());
    }
}

void SettingsPanel::onShortcutCaptured(const QString& identifier)
{
    if (captureRow < 0 || captureRow >= shortcutEntries.size())
        return;
    const int row = captureRow;
    const QList<QLineEdit*>& edits = captureColumn == kKeyColumn ? keyEdits : deviceEdits;

    bool bind = true;
    for (int other = 0; other < edits.size(); ++other) {
        if (other == row || edits.at(other)->text().isEmpty() || edits.at(other)->text() != identifier)
            continue;
        bind = showMessage(QMessageBox::Question, tr("按键冲突警告"),
                           tr("该按键 (%1) 已被功能 \"%2\" 使用。\n\n是否继续绑定？")
                               .arg(identifier, shortcutEntries.at(other).label),
                           QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
        break;
    }

    if (bind) {
        if (identifier.startsWith(QLatin1String("Keyboard:"))) {
            const int virtualKey = virtualKeyOfKeyboardName(identifier.mid(9));
            if (virtualKey >= 0)
                m_input->addBoundKeyboardKey(virtualKey);
        }
        if (row < edits.size())
            edits.at(row)->setText(identifier);
    }
    updateBoundDeviceIdentifiers();
    stopShortcutCapture();
}

void SettingsPanel::updateBoundDeviceIdentifiers()
{
    // A cell emptied but not yet stored keeps its stored binding until OK.
    QSettings settings;
    QSet<QString> identifiers;
    for (int row = 0; row < shortcutEntries.size(); ++row) {
        QString identifier = row < deviceEdits.size() ? deviceEdits.at(row)->text() : QString();
        if (identifier.isEmpty())
            identifier = settings.value(shortcutDeviceKey(shortcutEntries.at(row).id), QString()).toString();
        if (!identifier.isEmpty())
            identifiers.insert(identifier);
    }
    m_input->setBoundIdentifiers(identifiers);
}

void SettingsPanel::onResetShortcuts()
{
    if (showMessage(QMessageBox::Question, tr("恢复默认快捷键"), tr("确定要恢复所有快捷键为默认值吗？"),
                    QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes)
        resetShortcutEditors();
}

void SettingsPanel::resetShortcutEditors()
{
    for (int row = 0; row < shortcutEntries.size(); ++row) {
        const ShortcutEntry& entry = shortcutEntries.at(row);
        if (row < keyEdits.size())
            keyEdits.at(row)->setText(entry.defaultKey);
        if (row < deviceEdits.size())
            deviceEdits.at(row)->clear();
        if (QCheckBox* check = showGlobalCheck(row))
            check->setChecked(shortcutShowGlobalDefault(entry.id));
    }
    ui->deviceGlobalCheck->setChecked(kDeviceGlobalEnabledDefault);
}
