#include "app/ComboBoxHoverDelegate.h"
#include "app/SelectAllOnFocusFilter.h"
#include "app/UiStyleManager.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

namespace {

const QColor kAccent(0x00, 0x78, 0xd7);

void focusIn(QWidget* widget)
{
    QFocusEvent event(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class StyleAndHelpersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void darkPaletteAndFusion();
    void listsDrawSelectedTextBlue();
    void labelsSheetReplacesTheOldOne();
    void sizesSkipNullWidgets();
    void nullWidgetsAreIgnored();

    void focusSelectsWholeSpinBoxText_data();
    void focusSelectsWholeSpinBoxText();
    void otherWidgetsAndEventsAreLeftAlone();
    void filterOutlivesItsSpinBox();

    void hoverDelegateRowsAre28High();
    void hoverDelegateColours_data();
    void hoverDelegateColours();
};

void StyleAndHelpersTest::initTestCase()
{
    UiStyleManager::applyApplicationStyle();
}

void StyleAndHelpersTest::darkPaletteAndFusion()
{
    QCOMPARE(QApplication::style()->name(), QStringLiteral("fusion"));
    const QPalette palette = QApplication::palette();
    const QList<std::pair<QPalette::ColorRole, QColor>> roles = {
        {QPalette::Window, QColor(0x2b, 0x2b, 0x2b)},    {QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},
        {QPalette::AlternateBase, QColor(0x23, 0x23, 0x23)}, {QPalette::Text, QColor(0xbb, 0xbb, 0xbb)},
        {QPalette::BrightText, Qt::white},                {QPalette::ButtonText, QColor(0xbb, 0xbb, 0xbb)},
        {QPalette::WindowText, QColor(0xbb, 0xbb, 0xbb)}, {QPalette::Highlight, kAccent},
        {QPalette::HighlightedText, Qt::white},           {QPalette::Button, QColor(0x3c, 0x3c, 0x3c)},
        {QPalette::Link, QColor(0x00, 0x96, 0xff)},       {QPalette::LinkVisited, QColor(0x00, 0x78, 0xc8)},
    };
    for (const auto& [role, colour] : roles) {
        QCOMPARE(palette.color(QPalette::Active, role), colour);
        QCOMPARE(palette.color(QPalette::Inactive, role), colour);
    }
    QCOMPARE(palette.color(QPalette::Active, QPalette::PlaceholderText), QColor(0x64, 0x64, 0x64));

    // A disabled label greys out; an enabled one keeps the light text.
    QLabel label(QStringLiteral("预等待"));
    label.setEnabled(false);
    QCOMPARE(label.palette().color(QPalette::Disabled, QPalette::WindowText), QColor(0x64, 0x64, 0x64));
    QCOMPARE(label.palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(0x64, 0x64, 0x64));
    QCOMPARE(label.palette().color(QPalette::Disabled, QPalette::Text), QColor(0x64, 0x64, 0x64));
}

void StyleAndHelpersTest::listsDrawSelectedTextBlue()
{
    QTableView table;
    QStandardItemModel model(3, 4);
    table.setModel(&model);
    QTreeView tree;
    QLineEdit plain;

    UiStyleManager::styleTrackTable(&table);
    UiStyleManager::stylePlaylistTree(&tree);

    const QColor blue(0x90, 0xc0, 0xe8);
    for (QWidget* view : {static_cast<QWidget*>(&table), static_cast<QWidget*>(&tree)}) {
        QCOMPARE(view->palette().color(QPalette::Active, QPalette::HighlightedText), blue);
        QCOMPARE(view->palette().color(QPalette::Inactive, QPalette::HighlightedText), blue);
        QCOMPARE(view->palette().color(QPalette::Active, QPalette::Highlight), kAccent);
    }
    QCOMPARE(plain.palette().color(QPalette::HighlightedText), QColor(Qt::white));
    QCOMPARE(plain.palette().color(QPalette::Highlight), kAccent);

    QVERIFY(table.alternatingRowColors());
    QCOMPARE(table.columnWidth(0), 50);
    QCOMPARE(table.columnWidth(1), 50);
    QCOMPARE(table.columnWidth(2), 250);
    QVERIFY(table.horizontalHeader()->stretchLastSection());

    QCOMPARE(tree.frameShape(), QFrame::NoFrame);
    QVERIFY(tree.alternatingRowColors());
    QCOMPARE(tree.indentation(), 0);
    QVERIFY(!tree.rootIsDecorated());
}

void StyleAndHelpersTest::labelsSheetReplacesTheOldOne()
{
    QWidget window;
    window.setStyleSheet(QStringLiteral("QMainWindow { background-color: #222222; }"));
    UiStyleManager::styleLabels(&window);
    const QString sheet = window.styleSheet();
    QVERIFY(!sheet.contains(QStringLiteral("#222222")));

    const QStringList classes = {"QWidget",   "QLabel",       "QPushButton", "QSpinBox",  "QComboBox",
                                 "QCheckBox", "QRadioButton", "QLineEdit",   "QTextEdit", "QPlainTextEdit"};
    int from = 0;
    for (const QString& className : classes) {
        const int at = sheet.indexOf(QRegularExpression(
            QStringLiteral("(^|\\n)%1\\s*\\{\\s*color:\\s*#bbbbbb;\\s*\\}").arg(className)), from);
        QVERIFY2(at >= from, qPrintable(className));
        from = at + 1;
    }
    QCOMPARE(sheet.count(QLatin1Char('{')), classes.size());
}

void StyleAndHelpersTest::sizesSkipNullWidgets()
{
    QWidget table, tree, transport, waveform;
    UiStyleManager::applySizes(&table, nullptr, &transport, nullptr);
    QCOMPARE(table.minimumSize(), QSize(741, 421));
    QCOMPARE(transport.minimumSize(), QSize(261, 58));
    QCOMPARE(transport.maximumSize(), QSize(261, 58));
    QCOMPARE(tree.minimumSize(), QSize(0, 0));

    UiStyleManager::applySizes(nullptr, &tree, nullptr, &waveform);
    QCOMPARE(tree.minimumWidth(), 261);
    QCOMPARE(tree.maximumWidth(), 261);
    QCOMPARE(tree.minimumHeight(), 421);
    QCOMPARE(waveform.minimumSize(), QSize(0, 78));
}

void StyleAndHelpersTest::nullWidgetsAreIgnored()
{
    UiStyleManager::styleTrackTable(nullptr);
    UiStyleManager::stylePlaylistTree(nullptr);
    UiStyleManager::styleLabels(nullptr);
    UiStyleManager::applySizes(nullptr, nullptr, nullptr, nullptr);
    UiStyleManager::styleScrollBars(nullptr);

    QScrollBar bar(Qt::Horizontal);
    UiStyleManager::styleScrollBars(&bar);
    QVERIFY(bar.styleSheet().contains(QStringLiteral("#2196F3")));
}

void StyleAndHelpersTest::focusSelectsWholeSpinBoxText_data()
{
    QTest::addColumn<bool>("doubleBox");
    QTest::newRow("integer spin box") << false;
    QTest::newRow("double spin box") << true;
}

void StyleAndHelpersTest::focusSelectsWholeSpinBoxText()
{
    QFETCH(bool, doubleBox);
    QWidget owner;
    auto* filter = new SelectAllOnFocusFilter(&owner);
    QAbstractSpinBox* box = nullptr;
    if (doubleBox) {
        auto* spin = new QDoubleSpinBox(&owner);
        spin->setValue(12.5);
        box = spin;
    } else {
        auto* spin = new QSpinBox(&owner);
        spin->setValue(42);
        box = spin;
    }
    box->installEventFilter(filter);
    auto* edit = box->findChild<QLineEdit*>();
    QVERIFY(edit);
    edit->deselect();

    focusIn(box);
    // Selected once the focus change is through, not during it.
    QVERIFY(!edit->hasSelectedText());
    QTRY_COMPARE(edit->selectedText(), box->text());
    QVERIFY(!box->text().isEmpty());
}

void StyleAndHelpersTest::otherWidgetsAndEventsAreLeftAlone()
{
    SelectAllOnFocusFilter filter;
    QLineEdit edit(QStringLiteral("text"));
    edit.installEventFilter(&filter);
    edit.deselect();
    focusIn(&edit);
    QCoreApplication::processEvents();
    QVERIFY(!edit.hasSelectedText());

    // Never consumes: every event goes on to the watched object.
    QSpinBox spin;
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QVERIFY(!filter.eventFilter(&spin, &focus));
    QFocusEvent blur(QEvent::FocusOut, Qt::TabFocusReason);
    QVERIFY(!filter.eventFilter(&spin, &blur));
    QEvent other(QEvent::MouseButtonPress);
    QVERIFY(!filter.eventFilter(&edit, &other));
    QCoreApplication::processEvents();
}

void StyleAndHelpersTest::filterOutlivesItsSpinBox()
{
    SelectAllOnFocusFilter filter;
    auto* spin = new QSpinBox;
    spin->installEventFilter(&filter);
    focusIn(spin);
    delete spin;  // before the queued selection runs
    QCoreApplication::processEvents();
}

void StyleAndHelpersTest::hoverDelegateRowsAre28High()
{
    ComboBoxHoverDelegate delegate;
    QStandardItemModel model;
    model.appendRow(new QStandardItem(QStringLiteral("-14 LUFS")));
    model.appendRow(new QStandardItem(QStringLiteral("一个很长很长的条目名称")));
    QStyleOptionViewItem option;
    option.font.setPixelSize(60);
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row, 0);
        const QSize hint = delegate.sizeHint(option, index);
        QCOMPARE(hint.height(), 28);
        QCOMPARE(hint.width(), delegate.QStyledItemDelegate::sizeHint(option, index).width());
    }
}

void StyleAndHelpersTest::hoverDelegateColours_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("background");

    const QColor untouched(0x12, 0x34, 0x56);
    QTest::newRow("plain") << int(QStyle::State_Enabled) << untouched;
    QTest::newRow("hovered") << int(QStyle::State_Enabled | QStyle::State_MouseOver) << QColor(0x2a, 0x2a, 0x2a);
    QTest::newRow("selected") << int(QStyle::State_Enabled | QStyle::State_Selected) << kAccent;
    QTest::newRow("selected and hovered")
        << int(QStyle::State_Enabled | QStyle::State_Selected | QStyle::State_MouseOver) << kAccent;
}

void StyleAndHelpersTest::hoverDelegateColours()
{
    QFETCH(int, state);
    QFETCH(QColor, background);

    ComboBoxHoverDelegate delegate;
    QStandardItemModel model;
    model.appendRow(new QStandardItem(QStringLiteral("██████")));
    QImage image(200, 28, QImage::Format_RGB32);
    image.fill(QColor(0x12, 0x34, 0x56));

    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = QStyle::State(state);
    option.font.setPixelSize(20);
    {
        QPainter painter(&image);
        delegate.paint(&painter, option, model.index(0, 0));
    }

    // Background left of the 8-pixel text margin and at the far right.
    QCOMPARE(image.pixelColor(3, 14), background);
    QCOMPARE(image.pixelColor(196, 2), background);
    // The text is drawn in the light grey, starting after the margin.
    QCOMPARE(image.pixelColor(15, 14), QColor(0xbb, 0xbb, 0xbb));
}

QTEST_MAIN(StyleAndHelpersTest)
#include "StyleAndHelpersTest.moc"
