#include "MainWindowFixture.h"

#include "app/ControlStyleSheets.h"
#include "lists/GroupedPlaylistManager.h"
#include "recording/RecordingDialog.h"
#include "settings/SettingsPanel.h"
#include "settings/SettingsWriter.h"
#include "support/TestTiming.h"
#include "waveform/LevelMeterScrollBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace {

// While set, flushing the settings file to disk (QSettings writes it through
// a temporary "….conf.XXXXXX" beside it) takes this long, as it does on a
// slow disk while a recording or an export is being written.
std::atomic<int> g_settingsSyncDelayMs{0};

bool isSettingsFile(int fd)
{
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0)
        return false;
    path[length] = '\0';
    return std::strstr(path, ".conf") != nullptr;
}

int delayedSync(int (*real)(int), int fd)
{
    const int delayMs = g_settingsSyncDelayMs.load();
    if (delayMs > 0 && isSettingsFile(fd))
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    return real ? real(fd) : 0;
}

}  // namespace

// Qt's calls to these resolve to the test program's own.
extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return delayedSync(real, fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return delayedSync(real, fd);
}

// The controls the window adds to its form: how they start from the stored
// settings, what a click on them changes, the playlist panel's toggle and the
// settings window, and the look the form needs on Linux (every box readable,
// every label whole, dark tool tips).
class MainWindowControlsTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    QCheckBox* loudnessSwitch() const;
    QComboBox* comboWithToolTip(const QString& toolTip) const;
    QPushButton* buttonWithToolTip(const QString& toolTip) const;
    QSpinBox* crossfadeTime() const;
    static QColor iconColor(const QIcon& icon);
    // Colours of the widget's pixels that are not its background.
    static QSet<QRgb> foreground(QWidget* widget, const QRect& area, QColor background);

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowFrame();
    void loudnessStartsFromTheStore_data();
    void loudnessStartsFromTheStore();
    void loudnessSwitchWritesAndReports();
    void crossfadeStartsFromTheStore_data();
    void crossfadeStartsFromTheStore();
    void crossfadeButtonSwitchesEverythingTogether();
    void deviceListFilledOnceWithoutSwitching_data();
    void deviceListFilledOnceWithoutSwitching();
    void pickingADeviceSwitchesAndStoresIt();
    void mainVolumeStartsFromTheStore_data();
    void mainVolumeStartsFromTheStore();
    void showChangesDoNotWaitForTheDisk();
    void levelMeterFollowsTheOutput();
    void transportButtonsShareThePanel();
    void panelToggle();
    void panelHiddenAtStart();
    void settingsWindowAppliesFontSizes();
    void recordButtonOpensTheRecordingDialog();
    void confirmedRecordingsFollowTheSelectedCue();
    void cuesDroppedOnAPlaylistAreCopiedToItsEnd();
    void settingsBarIsReadable();
    void panelToggleAndLocksAreVisible();
    void locksAreJoinedToTheirBoxes();
    void playModeSelectorShowsEveryModeWhole();
    void toolTipsAreDark();
};

void MainWindowControlsTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowControlsTest::init()
{
    f.resetSettings();
}

void MainWindowControlsTest::cleanup()
{
    if (f.window)
        f.close();
}

QCheckBox* MainWindowControlsTest::loudnessSwitch() const
{
    for (QCheckBox* box : f.window->statusBar()->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("响度均衡"))
            return box;
    }
    return nullptr;
}

QComboBox* MainWindowControlsTest::comboWithToolTip(const QString& toolTip) const
{
    for (QComboBox* combo : f.window->findChildren<QComboBox*>()) {
        if (combo->toolTip() == toolTip)
            return combo;
    }
    return nullptr;
}

QPushButton* MainWindowControlsTest::buttonWithToolTip(const QString& toolTip) const
{
    for (QPushButton* button : f.window->findChildren<QPushButton*>()) {
        if (button->toolTip() == toolTip)
            return button;
    }
    return nullptr;
}

QSpinBox* MainWindowControlsTest::crossfadeTime() const
{
    for (QSpinBox* box : f.window->findChildren<QSpinBox*>()) {
        if (box->toolTip() == QStringLiteral("交叉淡入淡出时长（秒）"))
            return box;
    }
    return nullptr;
}

QColor MainWindowControlsTest::iconColor(const QIcon& icon)
{
    // The most opaque pixel of the drawing.
    const QImage image = icon.pixmap(16, 16).toImage();
    QColor best;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (!best.isValid() || c.alpha() > best.alpha())
                best = c;
        }
    }
    return best;
}

QSet<QRgb> MainWindowControlsTest::foreground(QWidget* widget, const QRect& area, QColor background)
{
    const QImage image = widget->grab(area).toImage();
    QSet<QRgb> colors;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - background.red()) + qAbs(c.green() - background.green())
                    + qAbs(c.blue() - background.blue())
                > 40)
                colors.insert(c.rgb());
        }
    }
    return colors;
}

void MainWindowControlsTest::windowFrame()
{
    f.open();
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Corvelle"));
    QCOMPARE(f.window->menuWidget(), nullptr);
    // Keys reach the window, not the two lists.
    QCOMPARE(f.table()->focusPolicy(), Qt::NoFocus);
    QCOMPARE(f.tree()->focusPolicy(), Qt::NoFocus);
    QCOMPARE(f.status(), QStringLiteral("就绪......"));
    // The settings bar's ranges as the window narrows them.
    QCOMPARE(f.widget<QSpinBox>("preDurationSpinBox")->maximum(), 60);
    QCOMPARE(f.widget<QSpinBox>("loopCountSpinBox")->specialValueText(), QStringLiteral("∞"));
    QCOMPARE(f.widget<QScrollBar>("volumeHorizontalScrollBar")->value(), 50);
    QCOMPARE(f.widget<QScrollBar>("volumeHorizontalScrollBar_2")->value(), 50);
}

void MainWindowControlsTest::loudnessStartsFromTheStore_data()
{
    QTest::addColumn<QVariant>("enabled");
    QTest::addColumn<QVariant>("target");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("shown");

    QTest::newRow("nothing stored") << QVariant() << QVariant() << false << "-14 LUFS";
    QTest::newRow("on at -16") << QVariant(true) << QVariant(-16) << true << "-16 LUFS";
    QTest::newRow("off at -23") << QVariant(false) << QVariant(-23) << false << "-23 LUFS";
    QTest::newRow("a target not in the list") << QVariant(true) << QVariant(-18) << true << "-14 LUFS";
}

void MainWindowControlsTest::loudnessStartsFromTheStore()
{
    QFETCH(QVariant, enabled);
    QFETCH(QVariant, target);
    QFETCH(bool, checked);
    QFETCH(QString, shown);

    QSettings settings;
    if (enabled.isValid())
        settings.setValue(SettingsKeys::kLoudnessEnabled, enabled);
    if (target.isValid())
        settings.setValue(SettingsKeys::kLoudnessTarget, target);
    f.open();

    QCheckBox* box = loudnessSwitch();
    QComboBox* targets = comboWithToolTip(QStringLiteral("目标响度（LUFS）"));
    QVERIFY(box && targets);
    QCOMPARE(box->isChecked(), checked);
    QCOMPARE(targets->isEnabled(), checked);
    QCOMPARE(targets->currentText(), shown);
    QCOMPARE(targets->count(), 5);
    // Showing the stored state writes nothing back and reports nothing.
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kLoudnessTarget), target);
    QCOMPARE(settings.value(SettingsKeys::kLoudnessEnabled), enabled);
    QVERIFY(!f.status().contains(QStringLiteral("响度均衡")));
}

void MainWindowControlsTest::loudnessSwitchWritesAndReports()
{
    f.open();
    QComboBox* targets = comboWithToolTip(QStringLiteral("目标响度（LUFS）"));
    QSettings settings;

    // Off: a target change is only stored.
    targets->setCurrentIndex(4);
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kLoudnessTarget).toInt(), -23);
    QVERIFY(!settings.contains(SettingsKeys::kLoudnessEnabled));
    QCOMPARE(f.status(), QStringLiteral("就绪......"));

    QTest::mouseClick(loudnessSwitch(), Qt::LeftButton, {}, QPoint(8, loudnessSwitch()->height() / 2));
    QVERIFY(loudnessSwitch()->isChecked());
    QVERIFY(targets->isEnabled());
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kLoudnessEnabled).toBool(), true);
    QCOMPARE(f.status(), QStringLiteral("响度均衡已开启（目标: -23 LUFS）"));

    targets->setCurrentIndex(0);
    QCOMPARE(f.status(), QStringLiteral("响度均衡目标: -10 LUFS"));
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kLoudnessTarget).toInt(), -10);

    loudnessSwitch()->setChecked(false);
    QCOMPARE(f.status(), QStringLiteral("响度均衡已关闭"));
    QVERIFY(!targets->isEnabled());
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kLoudnessEnabled).toBool(), false);
}

void MainWindowControlsTest::crossfadeStartsFromTheStore_data()
{
    QTest::addColumn<QVariant>("enabled");
    QTest::addColumn<QVariant>("seconds");
    QTest::addColumn<QVariant>("curve");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("shownSeconds");
    QTest::addColumn<int>("engineCurve");

    QTest::newRow("nothing stored") << QVariant() << QVariant() << QVariant() << false << 3 << 2;
    QTest::newRow("on, 5 s, linear") << QVariant(true) << QVariant(5) << QVariant("Linear") << true << 5 << 1;
    QTest::newRow("off, 12 s, equal power") << QVariant(false) << QVariant(12) << QVariant("EqualPower") << false
                                            << 12 << 0;
    QTest::newRow("unknown curve") << QVariant(true) << QVariant(1) << QVariant("Bouncy") << true << 1 << 2;
}

void MainWindowControlsTest::crossfadeStartsFromTheStore()
{
    QFETCH(QVariant, enabled);
    QFETCH(QVariant, seconds);
    QFETCH(QVariant, curve);
    QFETCH(bool, on);
    QFETCH(int, shownSeconds);
    QFETCH(int, engineCurve);

    QSettings settings;
    if (enabled.isValid())
        settings.setValue(SettingsKeys::kCrossfadeEnabled, enabled);
    if (seconds.isValid())
        settings.setValue(SettingsKeys::kCrossfadeDuration, seconds);
    if (curve.isValid())
        settings.setValue(SettingsKeys::kCrossfadeCurve, curve);
    f.open();

    QCOMPARE(f.transport()->isCrossfadeEnabled(), on);
    QCOMPARE(f.transport()->getCrossfadeCurve(), engineCurve);
    QCOMPARE(crossfadeTime()->value(), shownSeconds);
    QCOMPARE(crossfadeTime()->isEnabled(), on);
    QPushButton* button = buttonWithToolTip(QStringLiteral("交叉淡入淡出"));
    QVERIFY(button);
    QCOMPARE(iconColor(button->icon()).name(), on ? QStringLiteral("#ff8c00") : QStringLiteral("#bbbbbb"));
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kCrossfadeEnabled), enabled);
}

void MainWindowControlsTest::crossfadeButtonSwitchesEverythingTogether()
{
    f.open();
    QPushButton* button = buttonWithToolTip(QStringLiteral("交叉淡入淡出"));
    QSettings settings;
    for (bool on : {true, false}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(f.transport()->isCrossfadeEnabled(), on);
        QCOMPARE(crossfadeTime()->isEnabled(), on);
        SettingsWriter::flush();
        QCOMPARE(settings.value(SettingsKeys::kCrossfadeEnabled).toBool(), on);
        QCOMPARE(iconColor(button->icon()).name(), on ? QStringLiteral("#ff8c00") : QStringLiteral("#bbbbbb"));
        QCOMPARE(f.status(), on ? QStringLiteral("交叉淡入淡出已开启") : QStringLiteral("交叉淡入淡出已关闭"));
    }
    crossfadeTime()->setValue(7);
    SettingsWriter::flush();
    QCOMPARE(settings.value(SettingsKeys::kCrossfadeDuration).toInt(), 7);
    QCOMPARE(crossfadeTime()->minimum(), 1);
    QCOMPARE(crossfadeTime()->maximum(), 12);
}

void MainWindowControlsTest::deviceListFilledOnceWithoutSwitching_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing stored") << QVariant() << "Default";
    QTest::newRow("a device that is gone") << QVariant("USB Audio Interface 7") << "Default";
}

void MainWindowControlsTest::deviceListFilledOnceWithoutSwitching()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    if (stored.isValid())
        QSettings().setValue(SettingsKeys::kAudioOutputDevice, stored);
    f.open();

    QComboBox* devices = comboWithToolTip(QStringLiteral("选择音频输出设备"));
    QVERIFY(devices);
    const QStringList names = f.transport()->getAvailableDevices();
    QCOMPARE(names.first(), QStringLiteral("Default"));
    QCOMPARE(devices->count(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(devices->itemText(i), names[i]);
        QCOMPARE(devices->itemData(i).toString(), names[i]);
    }
    QCOMPARE(devices->currentText(), shown);
    // The engine was handed the stored name; nothing was written back.
    QCOMPARE(f.transport()->getOutputDeviceName(), stored.isValid() ? stored.toString() : QStringLiteral("Default"));
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kAudioOutputDevice), stored);
}

void MainWindowControlsTest::pickingADeviceSwitchesAndStoresIt()
{
    QSettings().setValue(SettingsKeys::kAudioOutputDevice, QStringLiteral("Elsewhere"));
    f.open();
    QComboBox* devices = comboWithToolTip(QStringLiteral("选择音频输出设备"));
    devices->addItem(QStringLiteral("Desk speakers"), QStringLiteral("Desk speakers"));
    devices->setCurrentIndex(devices->count() - 1);
    QCOMPARE(f.transport()->getOutputDeviceName(), QStringLiteral("Desk speakers"));
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kAudioOutputDevice).toString(), QStringLiteral("Desk speakers"));
    devices->setCurrentIndex(0);
    QCOMPARE(f.transport()->getOutputDeviceName(), QStringLiteral("Default"));
}

void MainWindowControlsTest::mainVolumeStartsFromTheStore_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("value");
    QTest::newRow("nothing stored") << QVariant() << 80;
    QTest::newRow("65") << QVariant(65) << 65;
}

void MainWindowControlsTest::mainVolumeStartsFromTheStore()
{
    QFETCH(QVariant, stored);
    QFETCH(int, value);
    if (stored.isValid())
        QSettings().setValue(SettingsKeys::kMainVolume, stored);
    f.open();
    auto* bar = f.window->findChild<LevelMeterScrollBar*>();
    QVERIFY(bar);
    QCOMPARE(bar->value(), value);
    QCOMPARE(bar->size(), QSize(100, 12));
    // Showing the stored volume is no change by the operator.
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kMainVolume), stored);
    QCOMPARE(f.status(), QStringLiteral("就绪......"));

    bar->setValue(40);
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kMainVolume).toInt(), 40);
    QCOMPARE(f.status(), QStringLiteral("主音量: 40"));
}

void MainWindowControlsTest::showChangesDoNotWaitForTheDisk()
{
    f.open();
    auto* bar = f.window->findChild<LevelMeterScrollBar*>();
    QPushButton* crossfade = buttonWithToolTip(QStringLiteral("交叉淡入淡出"));
    QVERIFY(bar && crossfade);
    g_settingsSyncDelayMs = 2000;
    auto fastDiskAgain = qScopeGuard([] { g_settingsSyncDelayMs = 0; });

    const std::vector<std::pair<QString, std::function<void()>>> changes = {
        {QStringLiteral("main volume"), [&] { bar->setValue(55); }},
        {QStringLiteral("crossfade switch"), [&] { QTest::mouseClick(crossfade, Qt::LeftButton); }},
        {QStringLiteral("playlist shown"), [&] { f.showPlaylist(f.secondPlaylist); }},
        {QStringLiteral("cue selected"), [&] { f.clickRow(1); }},
        {QStringLiteral("cue started"), [&] { QTest::keyClick(f.window.get(), Qt::Key_F5); }},
    };
    for (const auto& [what, change] : changes) {
        QElapsedTimer clock;
        clock.start();
        change();
        const qint64 tookMs = clock.elapsed();
        QVERIFY2(tookMs < 300 * TestTiming::kSlowdown, qPrintable(QStringLiteral("%1: %2 ms").arg(what).arg(tookMs)));
    }

    // Nothing is lost for it.
    g_settingsSyncDelayMs = 0;
    SettingsWriter::flush();
    const QSettings settings;
    QCOMPARE(settings.value(SettingsKeys::kMainVolume).toInt(), 55);
    QCOMPARE(settings.value(SettingsKeys::kCrossfadeEnabled).toBool(), true);
    QCOMPARE(settings.value(SettingsKeys::kLastSelectedPlaylistId).toInt(), f.secondPlaylist);
    QCOMPARE(settings.value(SettingsKeys::kLastSelectedCueId).toInt(), f.secondIds.at(1));
    QCOMPARE(f.transport()->getCurrentCue(), f.cue(f.secondPlaylist, 1));
}

void MainWindowControlsTest::levelMeterFollowsTheOutput()
{
    f.open();
    auto* bar = f.window->findChild<LevelMeterScrollBar*>();
    QVERIFY(bar->isActive());
    f.showPlaylist(f.firstPlaylist);
    QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(bar->level() > 0.0f, 3000);
    QTest::mouseClick(f.button("stopButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bar->level(), 0.0f, 3000);

    QSettings().setValue(SettingsKeys::kShowLevelMeter, false);
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "applyLevelMeterSetting"));
    QVERIFY(!bar->isActive());
}

void MainWindowControlsTest::transportButtonsShareThePanel()
{
    f.open();
    for (const char* name : {"prevButton", "playPasueButton", "nextButton", "stopButton"})
        QCOMPARE(f.button(name)->size(), QSize(59, 52));
    QCOMPARE(f.button("playPasueButton")->text(), QStringLiteral("▶"));
}

void MainWindowControlsTest::panelToggle()
{
    f.open();
    QPushButton* toggle = f.button("togglePanelBtn");
    QWidget* tree = f.tree();
    QCOMPARE(toggle->text(), QStringLiteral("☰"));

    QTest::mouseClick(toggle, Qt::LeftButton);
    QTest::mouseClick(toggle, Qt::LeftButton);  // while it moves: ignored
    QTRY_VERIFY(tree->isHidden());
    QVERIFY(f.widget("spacingWidget")->isHidden());
    SettingsWriter::flush();
    QCOMPARE(QSettings().value(SettingsKeys::kLeftPanelVisible).toBool(), false);
    QTest::qWait(50);
    QVERIFY(tree->isHidden());

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(tree->isVisible());
    QTRY_COMPARE(QSettings().value(SettingsKeys::kLeftPanelVisible).toBool(), true);
    QCOMPARE(tree->width(), 261);
    QCOMPARE(tree->maximumWidth(), 261);
}

void MainWindowControlsTest::panelHiddenAtStart()
{
    QSettings().setValue(SettingsKeys::kLeftPanelVisible, false);
    f.open();
    QVERIFY(f.tree()->isHidden());
    QCOMPARE(f.table()->width(), f.window->width());
    QTest::mouseClick(f.button("togglePanelBtn"), Qt::LeftButton);
    QTRY_COMPARE(QSettings().value(SettingsKeys::kLeftPanelVisible).toBool(), true);
    QCOMPARE(f.tree()->width(), 261);
}

void MainWindowControlsTest::settingsWindowAppliesFontSizes()
{
    f.open();
    QTest::mouseClick(buttonWithToolTip(QStringLiteral("打开设置")), Qt::LeftButton);
    auto* panel = f.window->findChild<SettingsPanel*>();
    QVERIFY(panel);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowTitle(), QStringLiteral("设置"));
    QCOMPARE(panel->windowModality(), Qt::WindowModal);

    QSettings settings;
    settings.setValue(SettingsKeys::kFontSize, 21);
    settings.setValue(SettingsKeys::kHeaderFontSize, 13);
    Q_EMIT panel->settingsChanged();
    const QString sheet = f.table()->styleSheet();
    QVERIFY(sheet.contains(QStringLiteral("#trackList { font-size: 21px; }")));
    QVERIFY(sheet.contains(QStringLiteral("#trackList::item { font-size: 21px; }")));
    QVERIFY2(!sheet.contains(QStringLiteral("16px")) && !sheet.contains(QStringLiteral("14px")), qPrintable(sheet));
    for (QHeaderView* header : {f.table()->horizontalHeader(), f.table()->verticalHeader()}) {
        QCOMPARE(header->styleSheet().count(QStringLiteral("font-size")), 1);
        QVERIFY(header->styleSheet().contains(QStringLiteral("font-size: 13px;")));
    }
    panel->close();
}

void MainWindowControlsTest::recordButtonOpensTheRecordingDialog()
{
    f.open();
    QPointer<QWidget> seen;
    QTimer::singleShot(0, this, [&seen] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        seen = QApplication::activeModalWidget();
        seen->close();
    });
    QTest::mouseClick(buttonWithToolTip(QStringLiteral("录音")), Qt::LeftButton);
    QVERIFY(seen.isNull());  // gone once the click returned
    QVERIFY(!f.window->findChild<RecordingDialog*>());
}

void MainWindowControlsTest::confirmedRecordingsFollowTheSelectedCue()
{
    f.open();
    f.showPlaylist(f.secondPlaylist);
    f.clickRow(0);
    QStringList paths;
    for (const char* name : {"take 1", "take 2"}) {
        paths << f.dir.filePath(QString::fromLatin1(name) + QStringLiteral(".wav"));
        TestAudio::WavSpec spec;
        spec.seconds = 3.0;
        QVERIFY(TestAudio::writeWav(paths.last(), spec));
    }
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "onRecordingsConfirmed", Q_ARG(QStringList, paths)));

    QStringList names;
    for (int row = 0; row < f.table()->model()->rowCount(); ++row)
        names << f.table()->model()->index(row, SongTableModel::NameColumn).data(Qt::DisplayRole).toString();
    QCOMPARE(names.size(), 4);
    QVERIFY2(names[1].contains(QStringLiteral("take 1")) && names[2].contains(QStringLiteral("take 2")),
             qPrintable(names.join(QLatin1Char('|'))));
    QList<int> selected;
    for (const QModelIndex& index : f.table()->selectionModel()->selectedRows())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, (QList<int>{1, 2}));
    QCOMPARE(f.status(), QStringLiteral("已导入 2 个录音到当前播放列表"));
    QCOMPARE(f.cues()->getPlaylistCueIds(f.secondPlaylist).size(), 4);

    // Back to the stored two cues for the other tests.
    auto* model = qobject_cast<SongTableModel*>(f.table()->model());
    const QList<Cue*> added = {model->cueAt(1), model->cueAt(2)};
    for (Cue* cue : added)
        QVERIFY(f.cues()->deleteCue(cue));
}

void MainWindowControlsTest::cuesDroppedOnAPlaylistAreCopiedToItsEnd()
{
    f.open();
    auto* tree = f.window->findChild<GroupedPlaylistManager*>();
    QVERIFY(tree);
    Q_EMIT tree->cueDroppedOnPlaylist(f.secondPlaylist, {});
    QCOMPARE(f.status(), QStringLiteral("就绪......"));

    Q_EMIT tree->cueDroppedOnPlaylist(f.secondPlaylist, {f.cue(f.firstPlaylist, 0), f.cue(f.firstPlaylist, 2)});
    QCOMPARE(f.status(), QStringLiteral("已复制 2 个Cue到列表尾部"));
    const QList<int> ids = f.cues()->getPlaylistCueIds(f.secondPlaylist);
    QCOMPARE(ids.size(), 4);
    QCOMPARE(ids.mid(0, 2), f.secondIds);
    QCOMPARE(f.cues()->getCue(ids[2])->filePath(), f.cue(f.firstPlaylist, 0)->filePath());
    QCOMPARE(f.cues()->getCue(ids[3])->filePath(), f.cue(f.firstPlaylist, 2)->filePath());
    QCOMPARE(f.cues()->getPlaylistCueIds(f.firstPlaylist), f.firstIds);

    for (int id : ids.mid(2))
        QVERIFY(f.cues()->deleteCue(id));
}

void MainWindowControlsTest::settingsBarIsReadable()
{
    f.open();
    // The widest text each box of the settings bar shows fits inside it.
    const QList<std::pair<const char*, QString>> boxes = {
        {"fadeInSpinBox", QStringLiteral("20.00")},        {"fadeOutSpinBox", QStringLiteral("10.00")},
        {"loopStartSpinBox", QStringLiteral("00.00.00")},  {"loopDurationSpinBox", QStringLiteral("00.00.00")},
        {"loopEndSpinBox", QStringLiteral("59.59.99")},    {"loopCountSpinBox", QStringLiteral("99")},
        {"preDurationSpinBox", QStringLiteral("60")},
    };
    for (const auto& [name, text] : boxes) {
        auto* box = f.widget<QAbstractSpinBox>(name);
        QVERIFY(box);
        QLineEdit* edit = box->findChild<QLineEdit*>();
        QVERIFY(edit);
        const QFontMetrics metrics(edit->font());
        // The line edit keeps 2 px on either side of its text.
        QVERIFY2(metrics.horizontalAdvance(text) + 4 <= edit->width(),
                 qPrintable(QStringLiteral("%1: %2 px for %3 px").arg(QLatin1String(name))
                                .arg(metrics.horizontalAdvance(text)).arg(edit->width())));
        QVERIFY2(metrics.height() <= edit->height() + 1, name);
        QCOMPARE(box->height(), 18);
    }

    // An unchecked box has a visible frame on the dark bar.
    auto* fade = f.widget<QCheckBox>("fadeCheckBox");
    QVERIFY(!fade->isChecked());
    QVERIFY(!foreground(fade, QRect(0, 0, 18, fade->height()), QColor(0x2b, 0x2b, 0x2b)).isEmpty());
}

void MainWindowControlsTest::panelToggleAndLocksAreVisible()
{
    f.open();
    QPushButton* toggle = f.button("togglePanelBtn");
    QVERIFY(toggle->isVisible());
    QVERIFY(QFontMetrics(toggle->font()).inFontUcs4(U'☰'));
    QVERIFY(!foreground(toggle, toggle->rect(), QColor(0x1e, 0x1e, 0x1e)).isEmpty());

    for (const char* name : {"loopStartLockBtn", "loopDurationLockBtn", "loopEndLockBtn"}) {
        QPushButton* lock = f.button(name);
        QCOMPARE(lock->text(), QStringLiteral("▲▼"));
        QCOMPARE(lock->size(), QSize(10, 18));
        QVERIFY2(QFontMetrics(lock->font()).horizontalAdvance(lock->text()) <= lock->width(), name);
    }
}

// A lock continues its box's frame, so "▲▼" reads as the box's end, not as
// a stray glyph beside it; both share the usable or off-limits state.
void MainWindowControlsTest::locksAreJoinedToTheirBoxes()
{
    f.open();
    const QList<QPair<const char*, const char*>> pairs = {{"loopStartSpinBox", "loopStartLockBtn"},
                                                          {"loopDurationSpinBox", "loopDurationLockBtn"},
                                                          {"loopEndSpinBox", "loopEndLockBtn"}};
    for (const bool withCue : {false, true}) {
        if (withCue) {
            f.showPlaylist(f.firstPlaylist);
            f.clickRow(0);
        }
        for (const auto& [boxName, lockName] : pairs) {
            auto* box = f.widget<QAbstractSpinBox>(boxName);
            QPushButton* lock = f.button(lockName);
            QCOMPARE(lock->geometry().left(), box->geometry().right() + 1);
            QCOMPARE(lock->isEnabled(), box->isEnabled());
            QCOMPARE(box->isEnabled(), withCue);
            const QImage boxImage = box->grab().toImage();
            const QImage lockImage = lock->grab().toImage();
            const QColor frame = boxImage.pixelColor(box->width() / 2, 0);
            // The box's top and bottom edges run on over the lock, and the
            // lock closes the frame on the right.
            for (const QPoint& p : {QPoint(lock->width() / 2, 0), QPoint(lock->width() / 2, lock->height() - 1),
                                    QPoint(lock->width() - 1, lock->height() / 2)})
                QVERIFY2(lockImage.pixelColor(p) == frame,
                         qPrintable(QStringLiteral("%1 at %2,%3: %4, box frame %5")
                                        .arg(lockName)
                                        .arg(p.x())
                                        .arg(p.y())
                                        .arg(lockImage.pixelColor(p).name(), frame.name())));
            QVERIFY(QFontMetrics(lock->font()).horizontalAdvance(lock->text()) <= lock->width() - 1);
        }
    }
}

// "自定义列表循环" and "自定义随机播放" were cut to "自定…循环" in the 68 px
// selector.
void MainWindowControlsTest::playModeSelectorShowsEveryModeWhole()
{
    f.open();
    QComboBox* selector = f.widget<QWidget>("topWidget")->findChild<QComboBox*>();
    QVERIFY(selector);
    QCOMPARE(selector->count(), 6);
    QVERIFY(selector->width() >= 68);
    const QFontMetrics metrics(selector->font());
    for (int i = 0; i < selector->count(); ++i) {
        // Its sheet gives 3 px of padding on each side and a 1 px frame.
        const int needed = metrics.horizontalAdvance(selector->itemText(i)) + 2 * 3 + 2;
        QVERIFY2(needed <= selector->width(),
                 qPrintable(QStringLiteral("%1 needs %2 px of %3").arg(selector->itemText(i)).arg(needed).arg(
                     selector->width())));
    }
    // The top row still holds its four controls side by side.
    QWidget* top = f.widget<QWidget>("topWidget");
    QList<QRect> placed;
    for (QWidget* child : top->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible())
            continue;
        QVERIFY2(top->rect().contains(child->geometry()), child->metaObject()->className());
        for (const QRect& other : std::as_const(placed))
            QVERIFY2(!other.intersects(child->geometry()), child->metaObject()->className());
        placed << child->geometry();
    }
    QVERIFY(placed.size() >= 4);
}

void MainWindowControlsTest::toolTipsAreDark()
{
    f.open();
    QPushButton* stop = f.button("stopButton");
    stop->setToolTip(QStringLiteral("停止"));
    QToolTip::showText(stop->mapToGlobal(QPoint(5, 5)), stop->toolTip(), stop);
    QWidget* tip = nullptr;
    QTRY_VERIFY((tip = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->inherits("QTipLabel") && w->isVisible())
                return w;
        }
        return static_cast<QWidget*>(nullptr);
    }()));
    const QImage image = tip->grab().toImage();
    const QColor middle = image.pixelColor(image.width() / 2, 2);
    QVERIFY2(middle.lightness() < 80, qPrintable(middle.name()));
    QVERIFY(QToolTip::palette().color(QPalette::ToolTipBase).lightness() < 80);
    QToolTip::hideText();
}

QTEST_MAIN(MainWindowControlsTest)
#include "MainWindowControlsTest.moc"
