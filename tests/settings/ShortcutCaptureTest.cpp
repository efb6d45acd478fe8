#include "settings/ScriptedPrompts.h"

#include "input/HidDeviceManager.h"
#include "settings/SettingsPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>

namespace {

// Records the key presses that reach a widget past the application's filters.
class KeySpy : public QObject {
public:
    explicit KeySpy(QObject* target) { target->installEventFilter(this); }
    QList<int> keys;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            keys.append(static_cast<QKeyEvent*>(event)->key());
        return false;
    }
};

}  // namespace

// The shortcut table: capturing keys and device buttons into its cells
// through the input manager, conflicts, and cells that cannot be typed into.
class ShortcutCaptureTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void keyConflictAsksFirst_data();
    void keyConflictAsksFirst();
    void capturedKeyIsStoredOnOk();
    void typingIntoACellChangesNothing();
    void captureEndsAfterTimeout();
    void secondClickKeepsCaptureOtherCellMovesIt();
    void clickElsewhereEndsCapture();
    void closingDuringCaptureStopsIt();
    void deviceIdentifiers_data();
    void deviceIdentifiers();
    void deviceConflictAnsweredNo();
    void bindingCellsShowTheirWholeText();
    void resetShortcuts_data();
    void resetShortcuts();

private:
    void openPanel(int captureTimeoutMs = 30000);
    QLineEdit* cell(int row, int column) const;
    QCheckBox* globalBox(int row) const;

    HidDeviceManager m_input{QString()};
    ScriptedPrompts m_prompts;
    QPointer<SettingsPanel> m_panel;
};

void ShortcutCaptureTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vostrand"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvelle"));
    // Started before any panel, so each panel's filter sees events first,
    // as in the program.
    m_input.start();
}

void ShortcutCaptureTest::init()
{
    QSettings().clear();
    m_prompts = ScriptedPrompts();
}

void ShortcutCaptureTest::cleanup()
{
    delete m_panel;
    m_input.stopCapture();
}

void ShortcutCaptureTest::openPanel(int captureTimeoutMs)
{
    m_panel = new SettingsPanel(m_prompts.seams(&m_input, captureTimeoutMs), nullptr);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowActive(m_panel));
}

QLineEdit* ShortcutCaptureTest::cell(int row, int column) const
{
    auto* table = m_panel->findChild<QTableWidget*>(QStringLiteral("shortcutTable"));
    QWidget* widget = table->cellWidget(row, column);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit;
    return widget ? widget->findChild<QLineEdit*>() : nullptr;
}

QCheckBox* ShortcutCaptureTest::globalBox(int row) const
{
    auto* table = m_panel->findChild<QTableWidget*>(QStringLiteral("shortcutTable"));
    return table->cellWidget(row, 1)->findChild<QCheckBox*>();
}

// A cell keeps its 21 px height; the key text inside it must not lose its
// lower part ("Space", "Up", "[" were cut at the bottom).
void ShortcutCaptureTest::bindingCellsShowTheirWholeText()
{
    openPanel();
    auto* tabs = m_panel->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(m_panel->findChild<QWidget*>(QStringLiteral("shortcutTab")));
    QCoreApplication::processEvents();
    auto* table = m_panel->findChild<QTableWidget*>(QStringLiteral("shortcutTable"));
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int column : {1, 2}) {
            QLineEdit* edit = cell(row, column);
            QVERIFY(edit);
            if (column == 2)
                edit->setText(QStringLiteral("ExtDev:VID_046D&PID_C52B:Key33"));
            QCOMPARE(edit->height(), 21);
            // What the line edit paints into: its contents rectangle less
            // the text margins, the text centred in it and clipped to it.
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.rect = edit->rect();
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
            option.midLineWidth = 0;
            option.state |= QStyle::State_Sunken;
            const QRect contents = edit->style()
                                       ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                                       .marginsRemoved(edit->textMargins());
            const QFontMetrics metrics = edit->fontMetrics();
            const int textHeight = std::max(metrics.height(), metrics.boundingRect(edit->text()).height());
            QVERIFY2(contents.height() >= textHeight,
                     qPrintable(QStringLiteral("row %1 column %2 \"%3\": %4 px for a text of %5 px")
                                    .arg(row)
                                    .arg(column)
                                    .arg(edit->text())
                                    .arg(contents.height())
                                    .arg(textHeight)));
        }
    }
}

void ShortcutCaptureTest::keyConflictAsksFirst_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("yes binds") << int(QMessageBox::Yes) << QStringLiteral("Space");
    QTest::newRow("no keeps") << int(QMessageBox::No) << QStringLiteral("Down");
}

void ShortcutCaptureTest::keyConflictAsksFirst()
{
    QFETCH(int, answer);
    QFETCH(QString, expected);
    openPanel();
    QLineEdit* next = cell(2, 1);
    QCOMPARE(next->text(), QStringLiteral("Down"));

    QTest::mouseClick(next, Qt::LeftButton);
    QVERIFY(m_input.isCapturing());
    QCOMPARE(next->placeholderText(), QStringLiteral("等待按键..."));
    QVERIFY(!next->styleSheet().isEmpty());
    // Keys go to the window during a capture, never into a cell.
    QCOMPARE(QApplication::focusWidget(), m_panel.data());

    m_prompts.answers = {QMessageBox::StandardButton(answer)};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);

    QCOMPARE(m_prompts.messages.size(), 1);
    QCOMPARE(m_prompts.messages[0].title, QStringLiteral("按键冲突警告"));
    QCOMPARE(m_prompts.messages[0].text,
             QStringLiteral("该按键 (Space) 已被功能 \"(播控)播放/暂停\" 使用。\n\n是否继续绑定？"));
    QCOMPARE(next->text(), expected);
    QCOMPARE(cell(0, 1)->text(), QStringLiteral("Space"));  // the other row keeps it
    QVERIFY(!m_input.isCapturing());
    QCOMPARE(next->placeholderText(), QStringLiteral("未设置"));
    QVERIFY(next->styleSheet().isEmpty());
}

void ShortcutCaptureTest::capturedKeyIsStoredOnOk()
{
    openPanel();
    QTest::mouseClick(cell(5, 1), Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5, Qt::ControlModifier);
    QVERIFY(m_prompts.messages.isEmpty());
    QCOMPARE(cell(5, 1)->text(), QStringLiteral("Ctrl+F5"));
    QVERIFY(!QSettings().contains("shortcuts/setLoopStart"));  // nothing stored before OK

    m_panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QTRY_VERIFY(m_panel.isNull());
    QCOMPARE(QSettings().value("shortcuts/setLoopStart").toString(), QStringLiteral("Ctrl+F5"));
}

void ShortcutCaptureTest::typingIntoACellChangesNothing()
{
    QGuiApplication::clipboard()->setText(QStringLiteral("xyz"));
    openPanel();
    QLineEdit* edit = cell(6, 1);
    edit->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), edit);
    KeySpy reached(edit);

    QTest::keyClicks(edit, QStringLiteral("ab1 "));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("O"));
    QVERIFY(!m_input.isCapturing());
    QVERIFY(reached.keys.isEmpty());

    // The cursor and focus keys still reach the cell.
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_Left);
    QCOMPARE(edit->cursorPosition(), 0);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(reached.keys, (QList<int>{Qt::Key_Left, Qt::Key_Tab}));
    QCOMPARE(edit->text(), QStringLiteral("O"));
}

void ShortcutCaptureTest::captureEndsAfterTimeout()
{
    QCOMPARE(SettingsPanel::Seams().captureTimeoutMs, 30000);
    openPanel(100);
    QLineEdit* device = cell(0, 2);
    QTest::mouseClick(device, Qt::LeftButton);
    QVERIFY(m_input.isCapturing());
    QCOMPARE(device->placeholderText(), QStringLiteral("等待按键..."));

    QTRY_VERIFY(!m_input.isCapturing());
    QCOMPARE(device->placeholderText(), QStringLiteral("未设置"));
    QVERIFY(device->styleSheet().isEmpty());
    QCOMPARE(device->text(), QString());
}

void ShortcutCaptureTest::secondClickKeepsCaptureOtherCellMovesIt()
{
    openPanel(1000);
    QLineEdit* key = cell(0, 1);
    QLineEdit* device = cell(1, 2);
    QTest::mouseClick(key, Qt::LeftButton);
    QTest::qWait(600);
    QTest::mouseClick(key, Qt::LeftButton);
    QVERIFY(m_input.isCapturing());
    QCOMPARE(key->placeholderText(), QStringLiteral("等待按键..."));

    QTest::mouseClick(device, Qt::LeftButton);
    QCOMPARE(key->placeholderText(), QStringLiteral("未设置"));
    QVERIFY(key->styleSheet().isEmpty());
    QCOMPARE(device->placeholderText(), QStringLiteral("等待按键..."));
    // A device capture takes no key of a keyboard without ids.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(m_input.isCapturing());
    QCOMPARE(key->text(), QStringLiteral("Space"));

    // The second capture has a full time of its own.
    QTest::qWait(600);
    QVERIFY(m_input.isCapturing());
    QTRY_VERIFY(!m_input.isCapturing());
}

void ShortcutCaptureTest::clickElsewhereEndsCapture()
{
    openPanel();
    QTest::mouseClick(cell(3, 1), Qt::LeftButton);
    QVERIFY(m_input.isCapturing());
    QTest::mouseClick(m_panel->findChild<QLabel*>(QStringLiteral("shortcutInfoLabel")), Qt::LeftButton);
    QVERIFY(!m_input.isCapturing());
    QCOMPARE(cell(3, 1)->placeholderText(), QStringLiteral("未设置"));
    QCOMPARE(cell(3, 1)->text(), QStringLiteral("Esc"));
}

void ShortcutCaptureTest::closingDuringCaptureStopsIt()
{
    openPanel();
    QTest::mouseClick(cell(0, 2), Qt::LeftButton);
    QVERIFY(m_input.isCapturing());
    m_panel->close();
    // Otherwise the next presenter press of the show would be swallowed.
    QVERIFY(!m_input.isCapturing());
    QTRY_VERIFY(m_panel.isNull());
}

void ShortcutCaptureTest::deviceIdentifiers_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("boundKey");  // 0: no keyboard key is bound
    QTest::newRow("presenter button") << QStringLiteral("ExtDev:VID_046D&PID_C52B:Btn2") << 0;
    QTest::newRow("presenter key") << QStringLiteral("ExtDev:VID_046D&PID_C52B:Key34") << 0;
    QTest::newRow("keyboard code") << QStringLiteral("Keyboard:Key65") << 65;
    QTest::newRow("keyboard name") << QStringLiteral("Keyboard:UpArrow") << 38;
    QTest::newRow("keyboard PageDown") << QStringLiteral("Keyboard:PageDown") << 34;
}

void ShortcutCaptureTest::deviceIdentifiers()
{
    QFETCH(QString, identifier);
    QFETCH(int, boundKey);
    openPanel();
    QTest::mouseClick(cell(1, 2), Qt::LeftButton);
    emit m_input.buttonCaptured(identifier);
    QCOMPARE(cell(1, 2)->text(), identifier);
    QVERIFY(!m_input.isCapturing());
    if (boundKey)
        QVERIFY(m_input.isKeyboardKeyBound(boundKey));

    m_panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QTRY_VERIFY(m_panel.isNull());
    QCOMPARE(QSettings().value("shortcuts/prev_device").toString(), identifier);
}

void ShortcutCaptureTest::deviceConflictAnsweredNo()
{
    const QString pedal = QStringLiteral("ExtDev:VID_05F3&PID_00FF:Btn1");
    QSettings().setValue("shortcuts/playPause_device", pedal);
    openPanel();
    QTest::mouseClick(cell(2, 2), Qt::LeftButton);
    m_prompts.answers = {QMessageBox::No};
    emit m_input.buttonCaptured(pedal);
    QCOMPARE(m_prompts.titles(), QStringList{"按键冲突警告"});
    QVERIFY(m_prompts.messages[0].text.contains("(播控)播放/暂停"));
    QCOMPARE(cell(2, 2)->text(), QString());
    QCOMPARE(cell(0, 2)->text(), pedal);
}

void ShortcutCaptureTest::resetShortcuts_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("yes") << int(QMessageBox::Yes);
    QTest::newRow("no") << int(QMessageBox::No);
}

void ShortcutCaptureTest::resetShortcuts()
{
    QFETCH(int, answer);
    QSettings settings;
    settings.setValue("shortcuts/playPause", "F9");
    settings.setValue("shortcuts/paste", "");
    settings.setValue("shortcuts/next_device", "ExtDev:VID_05F3&PID_00FF:Btn3");
    settings.setValue("shortcuts/stop_showGlobal", true);
    settings.setValue("shortcuts/prev_showGlobal", false);
    settings.setValue("shortcuts/deviceGlobalEnabled", false);
    openPanel();
    QCOMPARE(cell(10, 1)->text(), QString());  // stored empty: unbound

    m_prompts.answers = {QMessageBox::StandardButton(answer)};
    m_panel->findChild<QPushButton*>(QStringLiteral("resetShortcutsBtn"))->click();
    QCOMPARE(m_prompts.titles(), QStringList{"恢复默认快捷键"});
    const bool reset = answer == QMessageBox::Yes;
    QCOMPARE(cell(0, 1)->text(), reset ? QStringLiteral("Space") : QStringLiteral("F9"));
    QCOMPARE(cell(10, 1)->text(), reset ? QStringLiteral("Ctrl+V") : QString());
    QCOMPARE(cell(2, 2)->text(), reset ? QString() : QStringLiteral("ExtDev:VID_05F3&PID_00FF:Btn3"));
    QCOMPARE(globalBox(3)->isChecked(), !reset);
    QCOMPARE(globalBox(1)->isChecked(), reset);
    QCOMPARE(m_panel->findChild<QCheckBox*>(QStringLiteral("deviceGlobalCheck"))->isChecked(), reset);
    // Nothing stored until OK.
    QCOMPARE(QSettings().value("shortcuts/playPause").toString(), QStringLiteral("F9"));
}

QTEST_MAIN(ShortcutCaptureTest)
#include "ShortcutCaptureTest.moc"
