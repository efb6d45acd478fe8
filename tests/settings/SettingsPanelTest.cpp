#include "settings/ScriptedPrompts.h"

#include "input/HidDeviceManager.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "settings/SettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

// Loading, storing, restoring and applying the settings of the window.
class SettingsPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    // Runs first: it needs the first window of the run.
    void opensOnShortcutTabThenOnTabShownLast();
    void everyKeySurvivesOpenAndOk();
    void okOnEmptyStoreWritesDefaults();
    void globalHotkeyBoxesShowWhatShowModeRegisters();
    void restoreThenCancelChangesNothingStored();
    void restoreThenOkWritesDefaultsAndKeepsOtherKeys();
    void restoreAnsweredNoChangesNothing();
    void curveAppliesAtOnceAndOkAppliesCrossfade();
    void templateLoopCount();
    void controlsFollowTheirSwitches();
    void resetFontAndPreloadLabelStoreNothingUntilOk();

private:
    SettingsPanel* open();
    void press(SettingsPanel* panel, QDialogButtonBox::StandardButton which);
    void closeAndWait(SettingsPanel* panel);
    static QVariantMap storeSnapshot();

    HidDeviceManager m_input{QString()};
    ScriptedPrompts m_prompts;
};

namespace {

// One value other than the default for every key the window shows.
QList<QPair<QString, QVariant>> nonDefaultValues()
{
    QList<QPair<QString, QVariant>> values = {
        {"crossfade/enabled", true},
        {"crossfade/duration", 7},
        {"crossfade/curve", "Linear"},
        {"audio/preloadBuffer", 1200},
        {"audio/waveformCacheMB", 800},
        {"audio/volumeSwitchDuration", 5},
        {"audio/pauseFadeEnabled", false},
        {"audio/pauseFadeDuration", 1500},
        {"audio/pauseFadeShowModeOnly", true},
        {"export/format", "WAV"},
        {"export/sampleRate", 96000},
        {"export/range", "whole"},
        {"export/useSeq", false},
        {"export/useAlias", false},
        {"export/useFilename", true},
        {"export/processing", "raw"},
        {"export/m3u8/includeAudio", false},
        {"export/m3u8/type", "full"},
        {"export/project/includeAudio", false},
        {"appearance/fontSize", 20},
        {"appearance/headerFontSize", 10},
        {"appearance/showSettingsPanelInShowMode", false},
        {"appearance/showWaveformInShowMode", false},
        {"appearance/showModeCloseList", true},
        {"cart/columns", 6},
        {"cart/itemHeight", 150},
        {"advanced/enableLogging", true},
        {"advanced/logLevel", 3},
        {"advanced/gpuAcceleration", true},
        {"advanced/asyncDecode", false},
        {"template/fadeEnabled", true},
        {"template/fadeInSec", 2.5},
        {"template/fadeOutSec", 0.3},
        {"template/loopCount", 3},
        {"template/preWaitSec", 4.5},
        {"template/panEnvelopeEnabled", true},
        {"template/envelopeEnabled", true},
        {"template/volumeA", 70},
        {"template/volumeB", 25},
        {"template/forceVolumeA", false},
        {"shortcuts/deviceGlobalEnabled", false},
    };
    const QStringList ids = {"playPause", "prev", "next", "stop", "volumeSwitch", "setLoopStart",
                             "setLoopEnd", "audioStart", "audioEnd", "copy", "paste"};
    for (int i = 0; i < ids.size(); ++i) {
        values.append({"shortcuts/" + ids[i], QStringLiteral("Ctrl+F%1").arg(i + 1)});
        values.append({"shortcuts/" + ids[i] + "_device", QStringLiteral("ExtDev:VID_1234&PID_ABCD:Btn%1").arg(i + 1)});
    }
    // The show-mode boxes, each the other way round from its default.
    values.append({"shortcuts/playPause_showGlobal", false});
    values.append({"shortcuts/prev_showGlobal", false});
    values.append({"shortcuts/next_showGlobal", false});
    values.append({"shortcuts/stop_showGlobal", true});
    values.append({"shortcuts/volumeSwitch_showGlobal", false});
    return values;
}

// What the window writes for each key when the store is empty.
QList<QPair<QString, QVariant>> windowDefaults()
{
    QList<QPair<QString, QVariant>> values = {
        {"crossfade/enabled", false},
        {"crossfade/duration", 3},
        {"crossfade/curve", "SmoothStep"},
        {"audio/preloadBuffer", 500},
        {"audio/waveformCacheMB", 500},
        {"audio/volumeSwitchDuration", 2},
        {"audio/pauseFadeEnabled", true},
        {"audio/pauseFadeDuration", 1000},
        {"audio/pauseFadeShowModeOnly", false},
        {"export/format", "MP3"},
        {"export/sampleRate", 44100},
        {"export/range", "clip"},
        {"export/useSeq", true},
        {"export/useAlias", true},
        {"export/useFilename", false},
        {"export/processing", "processed"},
        {"export/m3u8/includeAudio", true},
        {"export/m3u8/type", "clip"},
        {"export/project/includeAudio", true},
        {"appearance/fontSize", 16},
        {"appearance/headerFontSize", 16},
        {"appearance/showSettingsPanelInShowMode", true},
        {"appearance/showWaveformInShowMode", true},
        {"appearance/showModeCloseList", false},
        {"cart/columns", 4},
        {"cart/itemHeight", 80},
        {"advanced/enableLogging", false},
        {"advanced/logLevel", 1},
        {"advanced/gpuAcceleration", false},
        {"advanced/asyncDecode", true},
        {"template/fadeEnabled", false},
        {"template/fadeInSec", 1.0},
        {"template/fadeOutSec", 1.0},
        {"template/loopCount", 0},
        {"template/preWaitSec", 0.0},
        {"template/panEnvelopeEnabled", false},
        {"template/envelopeEnabled", false},
        {"template/volumeA", 90},
        {"template/volumeB", 10},
        {"template/forceVolumeA", true},
        {"shortcuts/deviceGlobalEnabled", true},
        {"shortcuts/playPause", "Space"},
        {"shortcuts/prev", "Up"},
        {"shortcuts/next", "Down"},
        {"shortcuts/stop", "Esc"},
        {"shortcuts/volumeSwitch", "Tab"},
        {"shortcuts/setLoopStart", "I"},
        {"shortcuts/setLoopEnd", "O"},
        {"shortcuts/audioStart", "["},
        {"shortcuts/audioEnd", "]"},
        {"shortcuts/copy", "Ctrl+C"},
        {"shortcuts/paste", "Ctrl+V"},
        // Show mode registers all but Esc while the keys are unwritten; OK
        // must write exactly that.
        {"shortcuts/playPause_showGlobal", true},
        {"shortcuts/prev_showGlobal", true},
        {"shortcuts/next_showGlobal", true},
        {"shortcuts/stop_showGlobal", false},
        {"shortcuts/volumeSwitch_showGlobal", true},
    };
    for (const char* id : {"playPause", "prev", "next", "stop", "volumeSwitch", "setLoopStart", "setLoopEnd",
                           "audioStart", "audioEnd", "copy", "paste"})
        values.append({QStringLiteral("shortcuts/%1_device").arg(QLatin1String(id)), QString()});
    return values;
}

// Keys the window never shows; restoring its defaults must leave them.
const QList<QPair<QString, QVariant>> kOtherKeys = {
    {"MainVolume", 35},
    {"AudioOutputDevice", "USB Audio"},
    {"LastPlaylistId", 12},
    {"LastCueId", 40},
    {"LastPosition", 123456},
    {"loudness/enabled", true},
    {"recording/format", "wav"},
    {"LastImportPath", "/srv/show/audio"},
    {"ui/cartMode", true},
};

void writeAll(const QList<QPair<QString, QVariant>>& values)
{
    QSettings settings;
    for (const auto& [key, value] : values)
        settings.setValue(key, value);
}

// Stored values come back as text; compare them as text.
QStringList mismatches(const QList<QPair<QString, QVariant>>& expected)
{
    QSettings settings;
    QStringList wrong;
    for (const auto& [key, value] : expected) {
        if (!settings.contains(key))
            wrong << key + " missing";
        else if (settings.value(key).toString() != value.toString())
            wrong << QStringLiteral("%1 = %2, expected %3").arg(key, settings.value(key).toString(), value.toString());
    }
    return wrong;
}

template <typename T>
T* child(QWidget* panel, const char* name)
{
    T* widget = panel->findChild<T*>(QLatin1String(name));
    if (!widget)
        qWarning() << "no widget" << name;
    return widget;
}

}  // namespace

void SettingsPanelTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vostrand"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvelle"));
}

void SettingsPanelTest::init()
{
    QSettings().clear();
    m_prompts = ScriptedPrompts();
}

SettingsPanel* SettingsPanelTest::open()
{
    auto* panel = new SettingsPanel(m_prompts.seams(&m_input), nullptr);
    panel->show();
    return panel;
}

void SettingsPanelTest::press(SettingsPanel* panel, QDialogButtonBox::StandardButton which)
{
    QPointer<SettingsPanel> guard(panel);
    child<QDialogButtonBox>(panel, "buttonBox")->button(which)->click();
    if (which != QDialogButtonBox::RestoreDefaults)
        QTRY_VERIFY(guard.isNull());  // closed and deleted
}

void SettingsPanelTest::closeAndWait(SettingsPanel* panel)
{
    QPointer<SettingsPanel> guard(panel);
    panel->close();
    QTRY_VERIFY(guard.isNull());
}

QVariantMap SettingsPanelTest::storeSnapshot()
{
    QSettings settings;
    QVariantMap snapshot;
    for (const QString& key : settings.allKeys())
        snapshot.insert(key, settings.value(key));
    return snapshot;
}

void SettingsPanelTest::opensOnShortcutTabThenOnTabShownLast()
{
    SettingsPanel* first = open();
    auto* tabs = child<QTabWidget>(first, "tabWidget");
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("shortcutTab"));
    // The template tab sits right after the list export tab.
    QCOMPARE(tabs->indexOf(child<QWidget>(first, "templateTab")),
             tabs->indexOf(child<QWidget>(first, "projectExportTab")) + 1);
    QCOMPARE(tabs->count(), 8);
    tabs->setCurrentIndex(6);
    press(first, QDialogButtonBox::Cancel);
    QCOMPARE(QSettings().value("settingsPanel/lastTabIndex").toInt(), 6);

    SettingsPanel* second = open();
    QCOMPARE(child<QTabWidget>(second, "tabWidget")->currentIndex(), 6);
    closeAndWait(second);
}

void SettingsPanelTest::everyKeySurvivesOpenAndOk()
{
    const auto values = nonDefaultValues();
    writeAll(values);

    // Emptied behind the open window: what OK stores comes from the controls.
    SettingsPanel* first = open();
    QSettings().clear();
    press(first, QDialogButtonBox::Ok);
    QStringList wrong = mismatches(values);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));

    // The reopened window shows them again, so a second OK keeps them.
    SettingsPanel* panel = open();
    QCOMPARE(child<QSpinBox>(panel, "cartColumnsSpin")->value(), 6);
    QCOMPARE(child<QComboBox>(panel, "crossfadeCurveCombo")->currentData().toString(), QStringLiteral("Linear"));
    QVERIFY(child<QRadioButton>(panel, "m3u8FullRadio")->isChecked());
    QCOMPARE(child<QDoubleSpinBox>(panel, "preWaitSpin")->value(), 4.5);
    press(panel, QDialogButtonBox::Ok);
    wrong = mismatches(values);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
}

void SettingsPanelTest::okOnEmptyStoreWritesDefaults()
{
    SettingsPanel* panel = open();
    QSignalSpy settingsChanged(panel, &SettingsPanel::settingsChanged);
    press(panel, QDialogButtonBox::Ok);
    QCOMPARE(settingsChanged.count(), 1);
    const QStringList wrong = mismatches(windowDefaults());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
}

void SettingsPanelTest::globalHotkeyBoxesShowWhatShowModeRegisters()
{
    SettingsPanel* panel = open();
    auto* table = child<QTableWidget>(panel, "shortcutTable");
    QCOMPARE(table->rowCount(), 11);
    const QList<bool> expected = {true, true, true, false, true};
    for (int row = 0; row < 11; ++row) {
        QCheckBox* box = table->cellWidget(row, 1)->findChild<QCheckBox*>();
        QCOMPARE(box != nullptr, row < 5);
        if (box)
            QCOMPARE(box->isChecked(), expected[row]);
    }
    closeAndWait(panel);
}

void SettingsPanelTest::restoreThenCancelChangesNothingStored()
{
    writeAll(nonDefaultValues());
    writeAll(kOtherKeys);
    QVariantMap before = storeSnapshot();

    SettingsPanel* panel = open();
    QSignalSpy settingsChanged(panel, &SettingsPanel::settingsChanged);
    press(panel, QDialogButtonBox::RestoreDefaults);
    QCOMPARE(m_prompts.titles(), (QStringList{"恢复默认设置", "已恢复默认"}));

    // The controls show the defaults, shortcut cells included...
    QCOMPARE(child<QSpinBox>(panel, "cartColumnsSpin")->value(), 4);
    QCOMPARE(child<QComboBox>(panel, "exportFormatCombo")->currentText(), QStringLiteral("MP3"));
    QVERIFY(child<QCheckBox>(panel, "deviceGlobalCheck")->isChecked());
    QVERIFY(child<QPushButton>(panel, "loopInfiniteButton")->isChecked());
    auto* table = child<QTableWidget>(panel, "shortcutTable");
    QCOMPARE(table->cellWidget(0, 1)->findChild<QLineEdit*>()->text(), QStringLiteral("Space"));
    QCOMPARE(qobject_cast<QLineEdit*>(table->cellWidget(0, 2))->text(), QString());
    QVERIFY(table->cellWidget(0, 1)->findChild<QCheckBox*>()->isChecked());
    QVERIFY(!table->cellWidget(3, 1)->findChild<QCheckBox*>()->isChecked());
    // ...while the store is untouched until OK.
    QCOMPARE(storeSnapshot(), before);

    press(panel, QDialogButtonBox::Cancel);
    QCOMPARE(settingsChanged.count(), 0);
    QVariantMap after = storeSnapshot();
    after.remove("settingsPanel/lastTabIndex");
    before.remove("settingsPanel/lastTabIndex");
    QCOMPARE(after, before);
}

void SettingsPanelTest::restoreThenOkWritesDefaultsAndKeepsOtherKeys()
{
    writeAll(nonDefaultValues());
    writeAll(kOtherKeys);
    SettingsPanel* panel = open();
    press(panel, QDialogButtonBox::RestoreDefaults);
    press(panel, QDialogButtonBox::Ok);

    QStringList wrong = mismatches(windowDefaults());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
    wrong = mismatches(kOtherKeys);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
}

void SettingsPanelTest::restoreAnsweredNoChangesNothing()
{
    writeAll(nonDefaultValues());
    SettingsPanel* panel = open();
    m_prompts.answers = {QMessageBox::No};
    press(panel, QDialogButtonBox::RestoreDefaults);
    QCOMPARE(m_prompts.titles(), QStringList{"恢复默认设置"});
    QCOMPARE(child<QSpinBox>(panel, "cartColumnsSpin")->value(), 6);
    press(panel, QDialogButtonBox::Ok);
    const QStringList wrong = mismatches(nonDefaultValues());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
}

void SettingsPanelTest::curveAppliesAtOnceAndOkAppliesCrossfade()
{
    AudioEngine* engine = AudioEngine::instance();
    engine->setCrossfadeCurve(2);
    engine->setCrossfadeEnabled(false);
    QSettings().setValue("crossfade/curve", "Linear");

    // Opening puts the stored curve into effect, even when cancelled.
    SettingsPanel* panel = open();
    QCOMPARE(engine->getCrossfadeCurve(), 1);
    auto* curve = child<QComboBox>(panel, "crossfadeCurveCombo");
    QCOMPARE(curve->count(), 3);
    curve->setCurrentIndex(curve->findData("EqualPower"));
    QCOMPARE(engine->getCrossfadeCurve(), 0);
    press(panel, QDialogButtonBox::Cancel);
    QCOMPARE(QSettings().value("crossfade/curve").toString(), QStringLiteral("Linear"));
    QVERIFY(!engine->isCrossfadeEnabled());

    // An unknown stored name selects the recommended first item.
    QSettings().setValue("crossfade/curve", "Cubic");
    panel = open();
    QCOMPARE(child<QComboBox>(panel, "crossfadeCurveCombo")->currentData().toString(), QStringLiteral("SmoothStep"));
    QCOMPARE(engine->getCrossfadeCurve(), 2);
    child<QCheckBox>(panel, "crossfadeCheckBox")->setChecked(true);
    press(panel, QDialogButtonBox::Ok);
    QVERIFY(engine->isCrossfadeEnabled());
    QCOMPARE(QSettings().value("crossfade/curve").toString(), QStringLiteral("SmoothStep"));
}

void SettingsPanelTest::templateLoopCount()
{
    // A stored 0 is endless: the button is down and offers 1 to go back to.
    SettingsPanel* panel = open();
    auto* count = child<QSpinBox>(panel, "loopCountSpin");
    auto* endless = child<QPushButton>(panel, "loopInfiniteButton");
    QCOMPARE(count->value(), 0);
    QCOMPARE(count->text(), QStringLiteral("∞"));
    QVERIFY(endless->isChecked());
    QCOMPARE(endless->text(), QStringLiteral("1"));

    count->setValue(3);
    QVERIFY(!endless->isChecked());
    QCOMPARE(endless->text(), QStringLiteral("♾️"));
    endless->click();
    QCOMPARE(count->value(), 0);
    QCOMPARE(endless->text(), QStringLiteral("3"));
    endless->click();
    QCOMPARE(count->value(), 3);
    QCOMPARE(endless->text(), QStringLiteral("♾️"));
    press(panel, QDialogButtonBox::Ok);
    QCOMPARE(QSettings().value("template/loopCount").toInt(), 3);
}

void SettingsPanelTest::controlsFollowTheirSwitches()
{
    QSettings().setValue("audio/pauseFadeEnabled", false);
    QSettings().setValue("export/m3u8/includeAudio", false);
    QSettings().setValue("export/m3u8/type", "full");
    SettingsPanel* panel = open();
    QVERIFY(!child<QSpinBox>(panel, "pauseFadeDurationSpin")->isEnabled());
    QVERIFY(child<QCheckBox>(panel, "showModeOnlyCheckBox")->isEnabled());
    QVERIFY(!child<QSpinBox>(panel, "crossfadeDurationSpin")->isEnabled());
    QVERIFY(!child<QRadioButton>(panel, "m3u8FullRadio")->isEnabled());
    QVERIFY(!child<QRadioButton>(panel, "m3u8ClipRadio")->isEnabled());

    child<QCheckBox>(panel, "crossfadeCheckBox")->setChecked(true);
    QVERIFY(child<QSpinBox>(panel, "crossfadeDurationSpin")->isEnabled());
    child<QCheckBox>(panel, "m3u8IncludeAudioCheck")->setChecked(true);
    QVERIFY(child<QRadioButton>(panel, "m3u8ClipRadio")->isEnabled());
    child<QCheckBox>(panel, "m3u8IncludeAudioCheck")->setChecked(false);
    // The type is still written from the checked choice.
    press(panel, QDialogButtonBox::Ok);
    QCOMPARE(QSettings().value("export/m3u8/type").toString(), QStringLiteral("full"));
}

void SettingsPanelTest::resetFontAndPreloadLabelStoreNothingUntilOk()
{
    QSettings().setValue("appearance/fontSize", 10);
    SettingsPanel* panel = open();
    child<QPushButton>(panel, "resetFontBtn")->click();
    QCOMPARE(child<QSpinBox>(panel, "fontSizeSpin")->value(), 16);
    QCOMPARE(child<QSpinBox>(panel, "headerFontSizeSpin")->value(), 16);
    child<QSlider>(panel, "preloadSlider")->setValue(1300);
    QCOMPARE(child<QLabel>(panel, "preloadValueLabel")->text(), QStringLiteral("1300 ms"));
    press(panel, QDialogButtonBox::Cancel);
    QCOMPARE(QSettings().value("appearance/fontSize").toInt(), 10);
    QVERIFY(!QSettings().contains("audio/preloadBuffer"));
}

QTEST_MAIN(SettingsPanelTest)
#include "SettingsPanelTest.moc"
