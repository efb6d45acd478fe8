#include "input/VirtualKeyMap.h"

#include <QTest>

#include <linux/input-event-codes.h>

// Stored bindings carry these numbers; they must never change.
class VirtualKeyMapTest : public QObject {
    Q_OBJECT
private slots:
    void deviceKeys_data();
    void deviceKeys();
    void keysyms_data();
    void keysyms();
    void keyEvents_data();
    void keyEvents();
    void hotkeyKeysHaveKeysyms();
};

void VirtualKeyMapTest::deviceKeys_data()
{
    QTest::addColumn<int>("evdevCode");
    QTest::addColumn<int>("expected");
    const QList<QPair<const char*, QPair<int, int>>> table = {
        {"page down", {KEY_PAGEDOWN, 34}}, {"page up", {KEY_PAGEUP, 33}}, {"B", {KEY_B, 66}},
        {"period", {KEY_DOT, 190}},        {"F5", {KEY_F5, 116}},         {"Esc", {KEY_ESC, 27}},
        {"space", {KEY_SPACE, 32}},        {"enter", {KEY_ENTER, 13}},    {"keypad enter", {KEY_KPENTER, 13}},
        {"1", {KEY_1, 49}},                {"0", {KEY_0, 48}},            {"F12", {KEY_F12, 123}},
        {"F13", {KEY_F13, 124}},           {"F24", {KEY_F24, 135}},       {"left shift", {KEY_LEFTSHIFT, 16}},
        {"right shift", {KEY_RIGHTSHIFT, 16}}, {"right ctrl", {KEY_RIGHTCTRL, 17}},
        {"right alt", {KEY_RIGHTALT, 18}}, {"left meta", {KEY_LEFTMETA, 91}}, {"right meta", {KEY_RIGHTMETA, 92}},
        {"caps lock", {KEY_CAPSLOCK, 20}}, {"keypad 5", {KEY_KP5, 101}},  {"play/pause", {KEY_PLAYPAUSE, 179}},
        {"next track", {KEY_NEXTSONG, 176}}, {"volume up", {KEY_VOLUMEUP, 175}},
        {"left bracket", {KEY_LEFTBRACE, 219}}, {"grave", {KEY_GRAVE, 192}},
        {"unknown", {KEY_FN, 0}},          {"none", {0, 0}},
    };
    for (const auto& [name, row] : table)
        QTest::newRow(name) << row.first << row.second;
}

void VirtualKeyMapTest::deviceKeys()
{
    QFETCH(int, evdevCode);
    QFETCH(int, expected);
    QCOMPARE(VirtualKeyMap::fromEvdevCode(evdevCode), expected);
}

void VirtualKeyMapTest::keysyms_data()
{
    QTest::addColumn<quint32>("keysym");
    QTest::addColumn<int>("expected");
    QTest::newRow("a") << quint32(0x61) << 65;
    QTest::newRow("A (shifted)") << quint32(0x41) << 65;
    QTest::newRow("space") << quint32(0x20) << 32;
    QTest::newRow("Next") << quint32(0xff56) << 34;
    QTest::newRow("Escape") << quint32(0xff1b) << 27;
    QTest::newRow("F5") << quint32(0xffc2) << 116;
    QTest::newRow("KP_Enter") << quint32(0xff8d) << 13;
    QTest::newRow("AudioPlay") << quint32(0x1008ff14) << 179;
    QTest::newRow("exclam has none") << quint32(0x21) << 0;
    QTest::newRow("zero") << quint32(0) << 0;
}

void VirtualKeyMapTest::keysyms()
{
    QFETCH(quint32, keysym);
    QFETCH(int, expected);
    QCOMPARE(VirtualKeyMap::fromKeysym(keysym), expected);
}

void VirtualKeyMapTest::keyEvents_data()
{
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<quint32>("keysym");
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<bool>("evdevScanCodes");
    QTest::addColumn<int>("expected");
    // Shift+1: the key, not the symbol, as the device reports it.
    QTest::newRow("scan code first") << quint32(KEY_1 + 8) << quint32(0x21) << int(Qt::Key_Exclam) << true << 49;
    QTest::newRow("scan code of another platform")
        << quint32(KEY_1 + 8) << quint32(0x21) << int(Qt::Key_Exclam) << false << 0;
    QTest::newRow("keysym when the scan code is unknown")
        << quint32(KEY_FN + 8) << quint32(0xff56) << int(Qt::Key_PageDown) << true << 34;
    QTest::newRow("Qt key without native codes") << quint32(0) << quint32(0) << int(Qt::Key_PageDown) << false << 34;
    QTest::newRow("nothing known") << quint32(0) << quint32(0) << int(Qt::Key_Exclam) << true << 0;
}

void VirtualKeyMapTest::keyEvents()
{
    QFETCH(quint32, scanCode);
    QFETCH(quint32, keysym);
    QFETCH(int, qtKey);
    QFETCH(bool, evdevScanCodes);
    QFETCH(int, expected);
    QCOMPARE(VirtualKeyMap::fromKeyEvent(scanCode, keysym, qtKey, evdevScanCodes), expected);
}

void VirtualKeyMapTest::hotkeyKeysHaveKeysyms()
{
    // Every key that may become a system-wide hotkey can be grabbed by its
    // keysym, and that keysym leads back to the same code.
    QList<int> keys = {Qt::Key_Space, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Backspace, Qt::Key_Return,
                       Qt::Key_Enter, Qt::Key_Insert, Qt::Key_Delete, Qt::Key_Home, Qt::Key_End,
                       Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
    for (int k = Qt::Key_0; k <= Qt::Key_9; ++k)
        keys.append(k);
    for (int k = Qt::Key_A; k <= Qt::Key_Z; ++k)
        keys.append(k);
    for (int k = Qt::Key_F1; k <= Qt::Key_F12; ++k)
        keys.append(k);
    for (int key : keys) {
        const int code = VirtualKeyMap::hotkeyCodeFromQtKey(key);
        QVERIFY2(code != 0, qPrintable(QKeySequence(key).toString()));
        const quint32 keysym = VirtualKeyMap::keysymOf(code);
        QVERIFY2(keysym != 0, qPrintable(QKeySequence(key).toString()));
        QCOMPARE(VirtualKeyMap::fromKeysym(keysym), code);
    }
    QCOMPARE(VirtualKeyMap::hotkeyCodeFromQtKey(Qt::Key_F13), 0);
    QCOMPARE(VirtualKeyMap::hotkeyCodeFromQtKey(Qt::Key_BracketLeft), 0);
}

QTEST_GUILESS_MAIN(VirtualKeyMapTest)
#include "VirtualKeyMapTest.moc"
