#include "settings/SettingsKeys.h"
#include "ui_SettingsPanel.h"

#include <QButtonGroup>
#include <QtTest>

// The generated form on its own, before the window reworks it: the objects
// other code finds by name, and the states the form starts with.
class SettingsFormTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void objectsByName_data();
    void objectsByName();
    void buttonGroups();
    void formStates();

private:
    QWidget* m_window = nullptr;
    Ui_SettingsPanel m_form;
};

void SettingsFormTest::init()
{
    m_window = new QWidget;
    m_form.setupUi(m_window);
}

void SettingsFormTest::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void SettingsFormTest::objectsByName_data()
{
    QTest::addColumn<QString>("className");
    const QList<QPair<const char*, const char*>> objects = {
        {"tabWidget", "QTabWidget"}, {"buttonBox", "QDialogButtonBox"}, {"mainLayout", "QVBoxLayout"},
        // audio
        {"audioTab", "QWidget"}, {"crossfadeGroup", "QGroupBox"}, {"crossfadeLayout", "QVBoxLayout"},
        {"topRowLayout", "QHBoxLayout"}, {"crossfadeCheckBox", "QCheckBox"}, {"pauseFadeLabel", "QLabel"},
        {"pauseFadeCheckBox", "QCheckBox"}, {"middleRowLayout", "QHBoxLayout"}, {"durationLabel", "QLabel"},
        {"crossfadeDurationSpin", "QSpinBox"}, {"curveLabel", "QLabel"}, {"crossfadeCurveCombo", "QComboBox"},
        {"pauseFadeDurationLabel", "QLabel"}, {"pauseFadeDurationSpin", "QSpinBox"},
        {"showModeOnlyCheckBox", "QCheckBox"}, {"bottomRowLayout", "QHBoxLayout"}, {"volumeSwitchLabel", "QLabel"},
        {"volumeSwitchDurationSpin", "QSpinBox"}, {"deviceGroup", "QGroupBox"}, {"deviceLayout", "QGridLayout"},
        {"outputDeviceLabel", "QLabel"}, {"outputDeviceCombo", "QComboBox"}, {"sampleRateLabel", "QLabel"},
        {"sampleRateCombo", "QComboBox"}, {"performanceGroup", "QGroupBox"}, {"performanceLayout", "QGridLayout"},
        {"preloadLabel", "QLabel"}, {"preloadSlider", "QSlider"}, {"preloadValueLabel", "QLabel"},
        {"waveformCacheLabel", "QLabel"}, {"waveformCacheSpin", "QSpinBox"}, {"exportGroup", "QGroupBox"},
        {"exportLayout", "QVBoxLayout"}, {"exportRow1Layout", "QHBoxLayout"}, {"exportFormatLabel", "QLabel"},
        {"exportFormatCombo", "QComboBox"}, {"exportSampleRateLabel", "QLabel"},
        {"exportSampleRateCombo", "QComboBox"}, {"exportWholeRadio", "QRadioButton"},
        {"exportClipRadio", "QRadioButton"}, {"exportRow2Layout", "QHBoxLayout"},
        {"exportSeqCheckBox", "QCheckBox"}, {"exportPlusLabel1", "QLabel"}, {"exportAliasCheckBox", "QCheckBox"},
        {"exportPlusLabel2", "QLabel"}, {"exportFilenameCheckBox", "QCheckBox"}, {"exportRawRadio", "QRadioButton"},
        {"exportProcessedRadio", "QRadioButton"},
        // appearance
        {"appearanceTab", "QWidget"}, {"showModeGroup", "QGroupBox"}, {"showModeLayout", "QVBoxLayout"},
        {"showSettingsPanelInShowModeCheck", "QCheckBox"}, {"showWaveformInShowModeCheck", "QCheckBox"},
        {"showModeCloseListCheck", "QCheckBox"}, {"cartSettingsGroup", "QGroupBox"},
        {"cartSettingsLayout", "QGridLayout"}, {"cartColumnsLabel", "QLabel"}, {"cartColumnsSpin", "QSpinBox"},
        {"cartHeightLabel", "QLabel"}, {"cartHeightLayout", "QHBoxLayout"}, {"cartHeightSpin", "QSpinBox"},
        {"fontGroup", "QGroupBox"}, {"fontLayout", "QGridLayout"}, {"fontSizeLabel", "QLabel"},
        {"fontSizeSpin", "QSpinBox"}, {"headerFontSizeLabel", "QLabel"}, {"headerFontSizeSpin", "QSpinBox"},
        {"fontResetLayout", "QHBoxLayout"}, {"resetFontBtn", "QPushButton"},
        // shortcuts
        {"shortcutTab", "QWidget"}, {"shortcutInfoLabel", "QLabel"}, {"deviceGlobalCheck", "QCheckBox"},
        {"shortcutTable", "QTableWidget"}, {"shortcutButtonLayout", "QHBoxLayout"},
        {"resetShortcutsBtn", "QPushButton"},
        // storage
        {"storageTab", "QWidget"}, {"databaseGroup", "QGroupBox"}, {"databaseLayout", "QVBoxLayout"},
        {"dbPathLayout", "QHBoxLayout"}, {"openDbDirBtn", "QPushButton"}, {"autoBackupCheck", "QCheckBox"},
        {"cacheGroup", "QGroupBox"}, {"cacheLayout", "QVBoxLayout"}, {"cacheSizeLayout", "QHBoxLayout"},
        {"cacheSizeLabel", "QLabel"}, {"cacheSizeValueLabel", "QLabel"}, {"clearCacheBtn", "QPushButton"},
        // list export
        {"projectExportTab", "QWidget"}, {"m3u8ExportGroup", "QGroupBox"}, {"m3u8ExportLayout", "QVBoxLayout"},
        {"m3u8IncludeAudioCheck", "QCheckBox"}, {"m3u8SubOptionsLayout", "QHBoxLayout"},
        {"m3u8FullRadio", "QRadioButton"}, {"m3u8ClipRadio", "QRadioButton"}, {"projectFileGroup", "QGroupBox"},
        {"projectFileLayout", "QVBoxLayout"}, {"projectIncludeAudioCheck", "QCheckBox"},
        // advanced
        {"advancedTab", "QWidget"}, {"debugGroup", "QGroupBox"}, {"debugLayout", "QVBoxLayout"},
        {"enableLoggingCheck", "QCheckBox"}, {"logLevelLayout", "QHBoxLayout"}, {"logLevelLabel", "QLabel"},
        {"logLevelCombo", "QComboBox"}, {"openLogDirBtn", "QPushButton"}, {"experimentalGroup", "QGroupBox"},
        {"experimentalLayout", "QVBoxLayout"}, {"gpuAccelerationCheck", "QCheckBox"},
        {"asyncDecodeCheck", "QCheckBox"}, {"experimentalWarningLabel", "QLabel"},
        // about
        {"aboutTab", "QWidget"}, {"aboutTabLayout", "QVBoxLayout"}, {"appIconLabel", "QLabel"},
        {"appNameLabel", "QLabel"}, {"appVersionLabel", "QLabel"}, {"appDescGroup", "QGroupBox"},
        {"appDescLayout", "QVBoxLayout"}, {"appDescLabel", "QLabel"}, {"contactGroup", "QGroupBox"},
        {"contactLayout", "QGridLayout"}, {"supportLabel", "QLabel"}, {"supportEmailLabel", "QLabel"},
        {"aboutButtonLayout", "QHBoxLayout"}, {"checkUpdateBtn", "QPushButton"}, {"creditsBtn", "QPushButton"},
        {"copyrightLabel", "QLabel"},
    };
    for (const auto& [name, className] : objects)
        QTest::newRow(name) << QString::fromLatin1(className);
}

void SettingsFormTest::objectsByName()
{
    QFETCH(QString, className);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QObject* object = m_window->findChild<QObject*>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
}

void SettingsFormTest::buttonGroups()
{
    const QList<QPair<QButtonGroup*, QList<QAbstractButton*>>> groups = {
        {m_form.exportRangeGroup, {m_form.exportWholeRadio, m_form.exportClipRadio}},
        {m_form.exportProcessingGroup, {m_form.exportRawRadio, m_form.exportProcessedRadio}},
        {m_form.m3u8TypeGroup, {m_form.m3u8FullRadio, m_form.m3u8ClipRadio}},
    };
    for (const auto& [group, buttons] : groups) {
        QVERIFY(group->exclusive());
        QCOMPARE(group->buttons(), buttons);
    }
}

void SettingsFormTest::formStates()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("SettingsPanel"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("设置"));
    QCOMPARE(m_window->minimumSize(), QSize(550, 450));
    QCOMPARE(int(m_form.buttonBox->standardButtons()), 0x8400400);
    QStringList tabs;
    for (int i = 0; i < m_form.tabWidget->count(); ++i)
        tabs << m_form.tabWidget->tabText(i);
    QCOMPARE(tabs, (QStringList{"音频", "外观", "快捷键", "存储", "列表导出", "高级", "关于"}));
    QCOMPARE(m_form.tabWidget->currentIndex(), 0);
    // Before the window fills them from the store.
    QCOMPARE(m_form.shortcutTable->rowCount(), 6);
    QCOMPARE(m_form.shortcutTable->item(5, 0)->text(), QStringLiteral("循环终点"));
    QCOMPARE(m_form.fontSizeSpin->value(), 12);
    QCOMPARE(m_form.headerFontSizeSpin->value(), 14);
    QCOMPARE(m_form.pauseFadeCheckBox->text(), QString());
    QCOMPARE(m_form.pauseFadeDurationSpin->singleStep(), 100);
    QCOMPARE(m_form.cartHeightSpin->minimum(), 80);
    QCOMPARE(m_form.cartHeightSpin->maximum(), 320);
    QCOMPARE(m_form.crossfadeCurveCombo->count(), 0);
    QCOMPARE(m_form.sampleRateCombo->count(), 4);
    // The default output device reads as in the status bar's device list.
    QCOMPARE(m_form.outputDeviceCombo->itemText(0), QString::fromLatin1(SettingsKeys::kAudioOutputDeviceDefault));
    QCOMPARE(m_form.logLevelCombo->itemText(3), QStringLiteral("ERROR"));
    QVERIFY(!m_form.m3u8FullRadio->isEnabled());
    QVERIFY(m_form.m3u8ClipRadio->isChecked());
    QCOMPARE(m_form.crossfadeDurationSpin->buttonSymbols(), QAbstractSpinBox::NoButtons);
}

QTEST_MAIN(SettingsFormTest)
#include "SettingsFormTest.moc"
