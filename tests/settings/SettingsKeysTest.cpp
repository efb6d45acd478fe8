#include "app/AppConstants.h"
#include "settings/SettingsKeys.h"

#include <QtTest>

// The shortcut keys are built from the action ids, with one show-mode
// default for the settings window and the hotkey registration.
class SettingsKeysTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shortcutKeysAndDefaults_data();
    void shortcutKeysAndDefaults();
};

void SettingsKeysTest::shortcutKeysAndDefaults_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("defaultKey");
    QTest::addColumn<bool>("globalInShowMode");
    QTest::newRow("playPause") << "playPause" << "Space" << true;
    QTest::newRow("prev") << "prev" << "Up" << true;
    QTest::newRow("next") << "next" << "Down" << true;
    QTest::newRow("stop") << "stop" << "Esc" << false;
    QTest::newRow("volumeSwitch") << "volumeSwitch" << "Tab" << true;
    QTest::newRow("setLoopStart") << "setLoopStart" << "I" << false;
    QTest::newRow("audioEnd") << "audioEnd" << "]" << false;
    QTest::newRow("paste") << "paste" << "Ctrl+V" << false;
    QTest::newRow("unknown") << "dance" << "" << false;
}

void SettingsKeysTest::shortcutKeysAndDefaults()
{
    QFETCH(QString, action);
    QFETCH(QString, defaultKey);
    QFETCH(bool, globalInShowMode);
    QCOMPARE(SettingsKeys::defaultHotkey(action), defaultKey);
    QCOMPARE(SettingsKeys::shortcutShowGlobalDefault(action), globalInShowMode);
    QCOMPARE(SettingsKeys::shortcutKey(action), "shortcuts/" + action);
    QCOMPARE(SettingsKeys::shortcutDeviceKey(action), "shortcuts/" + action + "_device");
    QCOMPARE(SettingsKeys::shortcutShowGlobalKey(action), "shortcuts/" + action + "_showGlobal");
    QCOMPARE(AppConstants::kCueColorCodes.size(), AppConstants::kCueColorNames.size());
}

QTEST_GUILESS_MAIN(SettingsKeysTest)
#include "SettingsKeysTest.moc"
