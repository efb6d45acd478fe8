#include "app/StatusBarControls.h"

#include "app/AppIcons.h"
#include "app/ComboBoxHoverDelegate.h"
#include "app/ControlStyleSheets.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsWriter.h"
#include "waveform/LevelMeterScrollBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>

namespace {

AudioEngine* transport()
{
    return AudioEngine::instance();
}

// The stored curve name as the transport's CrossfadeCurve value.
int crossfadeCurveFromName(const QString& name)
{
    if (name == QLatin1String("EqualPower"))
        return 0;
    if (name == QLatin1String("Linear"))
        return 1;
    return 2;
}

void applyPauseFade(const QSettings& settings)
{
    using namespace SettingsKeys;
    transport()->setPauseFadeEnabled(settings.value(kPauseFadeEnabled, kPauseFadeEnabledDefault).toBool());
    transport()->setPauseFadeDuration(settings.value(kPauseFadeDuration, kPauseFadeDurationDefault).toInt());
    transport()->setPauseFadeShowModeOnly(
        settings.value(kPauseFadeShowModeOnly, kPauseFadeShowModeOnlyDefault).toBool());
}

}  // namespace

StatusBarControls::StatusBarControls(QStatusBar* bar, QWidget* window)
    : QObject(window)
    , m_bar(bar)
    , m_window(window)
{
    m_bar->setContentsMargins(0, 0, 24, 0);
    buildLoudness();
    buildCrossfade();

    // The device list is filled once the rest of the window exists.
    m_outputDeviceCombo = new QComboBox(m_window);
    m_outputDeviceCombo->setFixedWidth(180);
    m_outputDeviceCombo->setToolTip(QStringLiteral("选择音频输出设备"));
    add(m_outputDeviceCombo);

    buildMainVolume();
    buildButtons();
    buildModeSwitch();
}

void StatusBarControls::add(QWidget* widget)
{
    // Permanent widgets line up from the left at the bar's right end; its
    // left part keeps the status messages.
    m_bar->addPermanentWidget(widget, 0);
}

void StatusBarControls::buildLoudness()
{
    using namespace SettingsKeys;
    m_loudnessCheckBox = new QCheckBox(QStringLiteral("响度均衡"), m_window);
    m_loudnessCheckBox->setToolTip(QStringLiteral("开启后，自动调整每首曲目的播放响度至目标 LUFS 值"));
    m_loudnessCheckBox->setStyleSheet(QStringLiteral("QCheckBox { color: #bbbbbb; margin-left: 4px; }"));
    add(m_loudnessCheckBox);

    m_loudnessTargetCombo = new QComboBox(m_window);
    m_loudnessTargetCombo->setFixedWidth(70);
    m_loudnessTargetCombo->setToolTip(QStringLiteral("目标响度（LUFS）"));
    for (int target : {-10, -14, -16, -20, -23})
        m_loudnessTargetCombo->addItem(QStringLiteral("%1 LUFS").arg(target), target);
    m_loudnessTargetCombo->setCurrentIndex(1);
    m_loudnessTargetCombo->setStyleSheet(ControlStyleSheets::loudnessTargetList());
    m_loudnessTargetCombo->setItemDelegate(new ComboBoxHoverDelegate(m_window));
    m_loudnessTargetCombo->setEnabled(false);
    add(m_loudnessTargetCombo);
    auto* spacer = new QLabel(m_window);
    spacer->setFixedWidth(8);
    add(spacer);

    // Showing the stored state runs no handler and writes nothing back: a
    // stored target that is not in the list stays stored.
    const QSettings settings;
    const bool on = settings.value(kLoudnessEnabled, kLoudnessEnabledDefault).toBool();
    m_loudnessCheckBox->setChecked(on);
    m_loudnessTargetCombo->setEnabled(on);
    {
        const QSignalBlocker blocker(m_loudnessTargetCombo);
        const int index = m_loudnessTargetCombo->findData(settings.value(kLoudnessTarget, kLoudnessTargetDefault).toInt());
        if (index >= 0)
            m_loudnessTargetCombo->setCurrentIndex(index);
    }
    connect(m_loudnessCheckBox, &QCheckBox::toggled, this, &StatusBarControls::onLoudnessToggled);
    connect(m_loudnessTargetCombo, &QComboBox::currentIndexChanged, this,
            &StatusBarControls::onLoudnessTargetIndexChanged);
}

void StatusBarControls::buildCrossfade()
{
    using namespace SettingsKeys;
    m_crossfadeButton = new QPushButton(m_window);
    m_crossfadeButton->setFlat(true);
    m_crossfadeButton->setIconSize(QSize(16, 16));
    m_crossfadeButton->setFixedSize(24, 24);
    m_crossfadeButton->setToolTip(QStringLiteral("交叉淡入淡出"));
    m_crossfadeButton->setStyleSheet(ControlStyleSheets::crossfadeButton());
    add(m_crossfadeButton);

    m_crossfadeDurationSpinBox = new QSpinBox(m_window);
    m_crossfadeDurationSpinBox->setRange(kCrossfadeDurationMin, kCrossfadeDurationMax);
    m_crossfadeDurationSpinBox->setValue(kCrossfadeDurationDefault);
    m_crossfadeDurationSpinBox->setFixedSize(30, 24);
    m_crossfadeDurationSpinBox->setToolTip(QStringLiteral("交叉淡入淡出时长（秒）"));
    m_crossfadeDurationSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    add(m_crossfadeDurationSpinBox);
    auto* seconds = new QLabel(QStringLiteral("秒"), m_window);
    seconds->setStyleSheet(QStringLiteral("color: #bbbbbb; margin-right: 8px;"));
    add(seconds);

    // The transport is made here, on its first use.
    const QSettings settings;
    const bool on = settings.value(kCrossfadeEnabled, kCrossfadeEnabledDefault).toBool();
    const int duration = settings.value(kCrossfadeDuration, kCrossfadeDurationDefault).toInt();
    const QString curve = settings.value(kCrossfadeCurve, QString::fromLatin1(kCrossfadeCurveDefault)).toString();
    m_crossfadeDurationSpinBox->setValue(duration);
    m_crossfadeDurationSpinBox->setEnabled(on);
    transport()->setCrossfadeEnabled(on);
    transport()->setCrossfadeDuration(duration);
    transport()->setCrossfadeCurve(crossfadeCurveFromName(curve));
    updateCrossfadeButtonState(on);
    applyPauseFade(settings);

    connect(m_crossfadeButton, &QPushButton::clicked, this, &StatusBarControls::onCrossfadeClicked);
    connect(m_crossfadeDurationSpinBox, &QSpinBox::valueChanged, this,
            &StatusBarControls::onCrossfadeDurationChanged);
}

void StatusBarControls::buildMainVolume()
{
    using namespace SettingsKeys;
    auto* label = new QLabel(QStringLiteral("主音量:"), m_window);
    label->setStyleSheet(QStringLiteral("color: #bbbbbb; margin-left: 10px;"));
    add(label);

    const QSettings settings;
    m_mainVolumeBar = new LevelMeterScrollBar(Qt::Horizontal, m_window);
    m_mainVolumeBar->setFixedSize(100, 12);
    m_mainVolumeBar->setRange(0, 100);
    m_mainVolumeBar->setValue(settings.value(kMainVolume, kMainVolumeDefault).toInt());
    m_mainVolumeBar->setToolTip(QStringLiteral("主音量（双击恢复默认）"));
    connect(transport(), &AudioEngine::levelUpdated, m_mainVolumeBar, &LevelMeterScrollBar::setLevel);
    // The cue registry is made here, on its first use.
    CueManager::instance()->setMainVolume(m_mainVolumeBar->value());
    m_volumeSwitchSeconds = settings.value(kVolumeSwitchDuration, double(kVolumeSwitchDurationDefault)).toDouble();
    add(m_mainVolumeBar);
}

void StatusBarControls::buildButtons()
{
    m_recordButton = new QPushButton(m_window);
    m_recordButton->setFlat(true);
    m_recordButton->setFixedSize(28, 28);
    m_recordButton->setToolTip(QStringLiteral("录音"));
    m_recordButton->setCursor(Qt::PointingHandCursor);
    m_recordIcon = QIcon(AppIcons::renderSvg(AppIcons::recordSvg(QStringLiteral("#aaa"))));
    m_recordIconDimmed = QIcon(AppIcons::renderSvg(AppIcons::recordSvg(QStringLiteral("#555"))));
    m_recordButton->setIcon(m_recordIcon);
    m_recordButton->setIconSize(QSize(20, 20));
    m_recordButton->setStyleSheet(ControlStyleSheets::recordButton());
    add(m_recordButton);

    m_settingsButton = new QPushButton(QStringLiteral("设置"), m_window);
    m_settingsButton->setFlat(true);
    m_settingsButton->setToolTip(QStringLiteral("打开设置"));
    add(m_settingsButton);
    m_bar->showMessage(QStringLiteral("就绪......"));
}

void StatusBarControls::buildModeSwitch()
{
    m_modeActiveIcon = QIcon(AppIcons::modeDot(QColor(0x00, 0xa4, 0xef)));
    m_modeInactiveIcon = QIcon(AppIcons::modeDot(QColor(0x44, 0x44, 0x44)));
    auto makeButton = [this](const QString& text, const QString& toolTip) {
        auto* button = new QPushButton(text, m_window);
        button->setToolTip(toolTip);
        button->setFixedSize(54, 28);
        button->setCheckable(true);
        button->setIconSize(QSize(10, 10));
        button->setProperty("activeStyle", ControlStyleSheets::modeButtonActive());
        button->setProperty("inactiveStyle", ControlStyleSheets::modeButtonInactive());
        return button;
    };
    m_editModeButton = makeButton(QStringLiteral("编辑"), QStringLiteral("进入编辑模式"));
    m_showModeButton = makeButton(QStringLiteral("演出"), QStringLiteral("进入演出模式"));
    showMode(false);

    auto* container = new QWidget(m_window);
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);
    layout->addWidget(m_editModeButton);
    layout->addWidget(m_showModeButton);
    add(container);
}

void StatusBarControls::showMode(bool showModeOn)
{
    auto look = [this](QPushButton* button, bool active) {
        button->setChecked(active);
        button->setIcon(active ? m_modeActiveIcon : m_modeInactiveIcon);
        button->setStyleSheet(button->property(active ? "activeStyle" : "inactiveStyle").toString());
    };
    look(m_editModeButton, !showModeOn);
    look(m_showModeButton, showModeOn);
}

int StatusBarControls::loudnessTarget() const
{
    return m_loudnessTargetCombo ? m_loudnessTargetCombo->currentData().toInt()
                                 : SettingsKeys::kLoudnessTargetDefault;
}

void StatusBarControls::populateOutputDevices()
{
    if (!m_outputDeviceCombo)
        return;
    const QStringList names = transport()->getAvailableDevices();
    {
        const QSignalBlocker blocker(m_outputDeviceCombo);
        m_outputDeviceCombo->clear();
        for (const QString& name : names)
            m_outputDeviceCombo->addItem(name, name);
    }
    const QString saved =
        QSettings()
            .value(SettingsKeys::kAudioOutputDevice, QString::fromLatin1(SettingsKeys::kAudioOutputDeviceDefault))
            .toString();
    const int index = m_outputDeviceCombo->findData(saved, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        const QSignalBlocker blocker(m_outputDeviceCombo);
        m_outputDeviceCombo->setCurrentIndex(index);
    }
    // A stored device that is gone: the transport logs it and plays on the
    // default device; the stored choice comes back with the device.
    transport()->setOutputDevice(saved);
    connect(m_outputDeviceCombo, &QComboBox::currentIndexChanged, this, &StatusBarControls::onOutputDeviceSelected,
            Qt::UniqueConnection);
}

void StatusBarControls::applyAudioSettings()
{
    using namespace SettingsKeys;
    const QSettings settings;
    const bool on = settings.value(kCrossfadeEnabled, kCrossfadeEnabledDefault).toBool();
    const int duration = settings.value(kCrossfadeDuration, kCrossfadeDurationDefault).toInt();
    {
        const QSignalBlocker blocker(m_crossfadeDurationSpinBox);
        m_crossfadeDurationSpinBox->setValue(duration);
    }
    m_crossfadeDurationSpinBox->setEnabled(on);
    transport()->setCrossfadeEnabled(on);
    transport()->setCrossfadeDuration(duration);
    transport()->setCrossfadeCurve(crossfadeCurveFromName(
        settings.value(kCrossfadeCurve, QString::fromLatin1(kCrossfadeCurveDefault)).toString()));
    updateCrossfadeButtonState(on);
    applyPauseFade(settings);
    m_volumeSwitchSeconds = settings.value(kVolumeSwitchDuration, double(kVolumeSwitchDurationDefault)).toDouble();
}

void StatusBarControls::updateCrossfadeButtonState(bool enabled)
{
    if (m_crossfadeButton)
        m_crossfadeButton->setIcon(QIcon(AppIcons::renderSvg(AppIcons::crossfadeSvg(enabled))));
}

void StatusBarControls::onLoudnessToggled(bool on)
{
    m_loudnessTargetCombo->setEnabled(on);
    const int target = loudnessTarget();
    SettingsWriter::write(SettingsKeys::kLoudnessEnabled, on);
    SettingsWriter::write(SettingsKeys::kLoudnessTarget, target);
    Q_EMIT statusMessage(on ? QStringLiteral("响度均衡已开启（目标: %1 LUFS）").arg(target)
                            : QStringLiteral("响度均衡已关闭"),
                         2000);
    Q_EMIT loudnessSwitched(on, target);
}

void StatusBarControls::onLoudnessTargetIndexChanged(int index)
{
    const int target = m_loudnessTargetCombo->itemData(index).toInt();
    SettingsWriter::write(SettingsKeys::kLoudnessTarget, target);
    if (!m_loudnessCheckBox->isChecked())
        return;
    Q_EMIT statusMessage(QStringLiteral("响度均衡目标: %1 LUFS").arg(target), 2000);
    Q_EMIT loudnessTargetChanged(target);
}

void StatusBarControls::onCrossfadeClicked()
{
    // The transport owns the switch; the button, the time box and the store
    // follow it.
    const bool on = !transport()->isCrossfadeEnabled();
    transport()->setCrossfadeEnabled(on);
    m_crossfadeDurationSpinBox->setEnabled(on);
    updateCrossfadeButtonState(on);
    SettingsWriter::write(SettingsKeys::kCrossfadeEnabled, on);
    Q_EMIT statusMessage(on ? QStringLiteral("交叉淡入淡出已开启") : QStringLiteral("交叉淡入淡出已关闭"), 2000);
}

void StatusBarControls::onCrossfadeDurationChanged(int seconds)
{
    transport()->setCrossfadeDuration(seconds);
    SettingsWriter::write(SettingsKeys::kCrossfadeDuration, seconds);
}

void StatusBarControls::onOutputDeviceSelected(int index)
{
    const QString name = m_outputDeviceCombo->itemData(index).toString();
    transport()->setOutputDevice(name);
    SettingsWriter::write(SettingsKeys::kAudioOutputDevice, name);
}
