#include "MainWindowFixture.h"

#include "settings/SettingsPanel.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

// Each key the settings window writes that the running program uses takes
// effect when the window is accepted with 确定, without a restart: the
// control is changed in the window as the operator does, 确定 is clicked,
// and the change is looked for where the operator meets it.
class MainWindowSettingsApplyTest : public QObject {
    Q_OBJECT

private:
    MainWindowFixture f;
    Cue* row(int index) const { return f.cue(f.firstPlaylist, index); }
    QPushButton* statusButton(const QString& text) const
    {
        for (QPushButton* button : f.window->statusBar()->findChildren<QPushButton*>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }
    SettingsPanel* openSettings();
    void showTabOf(SettingsPanel* panel, QWidget* control);
    void play();

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void acceptedSettingsApplyAtOnce_data();
    void acceptedSettingsApplyAtOnce();
};

void MainWindowSettingsApplyTest::initTestCase()
{
    QVERIFY(f.initOnce());
}

void MainWindowSettingsApplyTest::init()
{
    f.resetSettings();
    for (int index = 0; index < 3; ++index) {
        Cue* cue = row(index);
        cue->setVolumeA(80);
        cue->setVolumeB(20);
        cue->setVolumeChoose(index == 1 ? 1 : 0);
        cue->setPreWait(0);
        cue->setLoopRange(0, 4000, true);
        QVERIFY(cue->saveToDatabase(true));
    }
}

void MainWindowSettingsApplyTest::cleanup()
{
    if (f.window)
        f.close();
}

SettingsPanel* MainWindowSettingsApplyTest::openSettings()
{
    QTest::mouseClick(statusButton(QStringLiteral("设置")), Qt::LeftButton);
    auto* panel = f.window->findChild<SettingsPanel*>();
    if (panel && !QTest::qWaitForWindowExposed(panel))
        return nullptr;
    return panel;
}

void MainWindowSettingsApplyTest::showTabOf(SettingsPanel* panel, QWidget* control)
{
    auto* tabs = panel->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    for (int index = 0; index < tabs->count(); ++index) {
        if (tabs->widget(index)->isAncestorOf(control))
            tabs->setCurrentIndex(index);
    }
    QTRY_VERIFY(control->isVisible());
}

void MainWindowSettingsApplyTest::play()
{
    QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
    QTRY_COMPARE(f.transport()->getState(), AudioEngine::Playing);
}

void MainWindowSettingsApplyTest::acceptedSettingsApplyAtOnce_data()
{
    // The control, the value it held before (stored before the window was
    // made) and the value the operator gives it; a check box is clicked.
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("before");
    QTest::addColumn<QString>("typed");

    QTest::newRow("A/B switch time") << "volumeSwitchDurationSpin" << SettingsKeys::kVolumeSwitchDuration
                                     << QVariant(10) << "1";
    QTest::newRow("crossfade on") << "crossfadeCheckBox" << SettingsKeys::kCrossfadeEnabled << QVariant(false) << "";
    QTest::newRow("crossfade time") << "crossfadeDurationSpin" << SettingsKeys::kCrossfadeDuration << QVariant(3)
                                    << "7";
    QTest::newRow("pause fade on") << "pauseFadeCheckBox" << SettingsKeys::kPauseFadeEnabled << QVariant(false) << "";
    QTest::newRow("pause fade time") << "pauseFadeDurationSpin" << SettingsKeys::kPauseFadeDuration << QVariant(0)
                                     << "1500";
    QTest::newRow("table font size") << "fontSizeSpin" << SettingsKeys::kFontSize << QVariant(16) << "20";
    QTest::newRow("header font size") << "headerFontSizeSpin" << SettingsKeys::kHeaderFontSize << QVariant(16)
                                      << "12";
    QTest::newRow("template volume A") << "volumeASpin" << SettingsKeys::kTemplateVolumeA << QVariant(90) << "55";
    QTest::newRow("force volume A in show mode") << "forceVolumeACheck" << SettingsKeys::kTemplateForceVolumeA
                                                 << QVariant(true) << "";
    QTest::newRow("list in show mode") << "showModeCloseListCheck" << SettingsKeys::kShowModeCloseList
                                       << QVariant(false) << "";
}

void MainWindowSettingsApplyTest::acceptedSettingsApplyAtOnce()
{
    QFETCH(QString, control);
    QFETCH(QString, key);
    QFETCH(QVariant, before);
    QFETCH(QString, typed);
    QSettings settings;
    settings.setValue(key, before);
    // A time box is open only while its switch is on.
    if (control == "pauseFadeDurationSpin")
        settings.setValue(SettingsKeys::kPauseFadeEnabled, true);
    if (control == "crossfadeDurationSpin")
        settings.setValue(SettingsKeys::kCrossfadeEnabled, true);
    f.open();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    f.showPlaylist(f.firstPlaylist);
    QCOMPARE(f.table()->model()->rowCount(), 3);

    SettingsPanel* panel = openSettings();
    QVERIFY(panel);
    auto* widget = panel->findChild<QWidget*>(control);
    QVERIFY2(widget, qPrintable(control));
    showTabOf(panel, widget);
    if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        const bool was = check->isChecked();
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
        QCOMPARE(check->isChecked(), !was);
    } else {
        auto* spin = qobject_cast<QSpinBox*>(widget);
        QVERIFY(spin);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, typed);
        QCOMPARE(spin->value(), typed.toInt());
    }
    auto* buttons = panel->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(buttons && buttons->button(QDialogButtonBox::Ok));
    QPointer<SettingsPanel> guard(panel);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!guard || !guard->isVisible());
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));

    if (control == "volumeSwitchDurationSpin") {
        // A switch now ramps in 1 s, not in the 10 s read at start.
        f.clickRow(0);
        play();
        QCOMPARE(f.transport()->cueVolume(), 80);
        f.button("stopButton")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(f.status(), QStringLiteral("已切换到B音量: 20"));
        QTest::qWait(1500);
        QCOMPARE(f.transport()->cueVolume(), 20);
    } else if (control == "crossfadeCheckBox") {
        QVERIFY(f.transport()->isCrossfadeEnabled());
        f.transport()->setCrossfadeEnabled(false);
    } else if (control == "crossfadeDurationSpin") {
        QSpinBox* time = nullptr;
        for (QSpinBox* box : f.window->statusBar()->findChildren<QSpinBox*>())
            time = box;
        QVERIFY(time);
        QCOMPARE(time->value(), 7);
        QSettings().setValue(SettingsKeys::kCrossfadeEnabled, false);
        f.transport()->setCrossfadeEnabled(false);
    } else if (control == "pauseFadeCheckBox" || control == "pauseFadeDurationSpin") {
        // A pause now fades out first, for the time set.
        f.clickRow(0);
        play();
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(f.button("playPasueButton"), Qt::LeftButton);
        QVERIFY(f.transport()->getState() != AudioEngine::Paused);
        QTRY_COMPARE_WITH_TIMEOUT(f.transport()->getState(), AudioEngine::Paused, 5000);
        QVERIFY2(clock.elapsed() >= (control == "pauseFadeDurationSpin" ? 1300 : 700),
                 qPrintable(QString::number(clock.elapsed())));
    } else if (control == "fontSizeSpin") {
        QVERIFY(f.table()->styleSheet().contains(QStringLiteral("font-size: 20px;")));
    } else if (control == "headerFontSizeSpin") {
        QVERIFY(f.table()->horizontalHeader()->styleSheet().contains(QStringLiteral("font-size: 12px;")));
    } else if (control == "volumeASpin") {
        f.clickRow(0);
        QTest::mouseDClick(f.widget<QScrollBar>("volumeHorizontalScrollBar"), Qt::LeftButton);
        QCOMPARE(row(0)->volumeA(), 55);
    } else if (control == "forceVolumeACheck") {
        QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
        QCOMPARE(row(1)->volumeChoose(), 1);  // no longer forced to A
        QTest::mouseClick(statusButton(QStringLiteral("编辑")), Qt::LeftButton);
    } else if (control == "showModeCloseListCheck") {
        QTest::mouseClick(statusButton(QStringLiteral("演出")), Qt::LeftButton);
        QVERIFY(!f.tree()->isHidden());
        QTest::mouseClick(statusButton(QStringLiteral("编辑")), Qt::LeftButton);
    } else {
        QFAIL("a row without a check");
    }
}

QTEST_MAIN(MainWindowSettingsApplyTest)
#include "MainWindowSettingsApplyTest.moc"
