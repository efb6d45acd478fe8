#include "ui_MainWindow.h"

#include "app/MinSecSpinBox.h"
#include "app/UiStyleManager.h"
#include "waveform/WaveformWidget.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include <optional>

namespace {

constexpr int kMax = QWIDGETSIZE_MAX;

// One row per widget of the form; no geometry means a layout places it.
struct FormWidget {
    const char* name;
    const char* className;
    const char* parent;
    QRect geometry;
    QSize minimum;
    QSize maximum;
};

const QList<FormWidget>& formWidgets()
{
    static const QList<FormWidget> rows = {
        {"centralwidget", "QWidget", "MainWindow", {}, {}, {}},
        {"separatorBar", "QWidget", "centralwidget", {}, {0, 4}, {kMax, 4}},
        {"setWidget", "QWidget", "centralwidget", {}, {900, 29}, {kMax, 29}},

        {"fadeCheckBox", "QCheckBox", "setWidget", {10, 4, 85, 20}, {}, {}},
        {"fadeInLabel", "QLabel", "setWidget", {86, 4, 14, 18}, {}, {}},
        {"fadeInSpinBox", "QDoubleSpinBox", "setWidget", {100, 4, 31, 18}, {}, {}},
        {"fadeOutLabel", "QLabel", "setWidget", {136, 4, 14, 18}, {}, {}},
        {"fadeOutSpinBox", "QDoubleSpinBox", "setWidget", {150, 4, 31, 18}, {}, {}},
        {"loopRadioBox", "QRadioButton", "setWidget", {150, 4, 51, 20}, {}, {}},
        {"loopLabel", "QLabel", "setWidget", {204, 4, 28, 20}, {}, {}},
        {"loopCountSpinBox", "QSpinBox", "setWidget", {234, 4, 31, 18}, {}, {}},
        {"radioInfiniteLoop", "QRadioButton", "setWidget", {250, 4, 71, 20}, {}, {}},
        {"loopCountSuffix", "QLabel", "setWidget", {270, 4, 14, 20}, {}, {}},
        {"infiniteLoopBtn", "QPushButton", "setWidget", {286, 4, 20, 20}, {}, {}},
        {"label_3", "QLabel", "setWidget", {320, 4, 50, 18}, {}, {}},
        {"preDurationSpinBox", "QSpinBox", "setWidget", {360, 4, 31, 18}, {}, {}},
        {"label_5", "QLabel", "setWidget", {400, 4, 21, 18}, {}, {}},
        {"panCheckBox", "QCheckBox", "setWidget", {430, 4, 20, 20}, {}, {}},
        {"panEnvelopeLabel", "QLabel", "setWidget", {450, 4, 60, 20}, {}, {}},
        {"volumeEnvelopeCheckBox", "QCheckBox", "setWidget", {510, 4, 20, 20}, {}, {}},
        {"volumeEnvelopeLabel", "QLabel", "setWidget", {530, 4, 60, 20}, {}, {}},
        {"label_4", "QLabel", "setWidget", {600, 4, 50, 18}, {}, {}},
        {"label_A", "QLabel", "setWidget", {656, 5, 16, 16}, {}, {}},
        {"volumeHorizontalScrollBar", "QScrollBar", "setWidget", {670, 6, 91, 14}, {}, {}},
        {"label_B", "QLabel", "setWidget", {768, 5, 16, 16}, {}, {}},
        {"volumeHorizontalScrollBar_2", "QScrollBar", "setWidget", {782, 6, 91, 14}, {}, {}},
        {"colorButton", "QPushButton", "setWidget", {886, 6, 16, 16}, {}, {}},
        {"loopDurationLabel", "QLabel", "setWidget", {920, 4, 35, 18}, {}, {}},
        {"loopStartSpinBox", "MinSecSpinBox", "setWidget", {960, 4, 60, 18}, {}, {}},
        {"loopStartLockBtn", "QPushButton", "setWidget", {1020, 4, 10, 18}, {}, {}},
        {"loopDurationSpinBox", "MinSecSpinBox", "setWidget", {1030, 4, 61, 18}, {}, {}},
        {"loopDurationLockBtn", "QPushButton", "setWidget", {1091, 4, 10, 18}, {}, {}},
        {"loopEndSpinBox", "MinSecSpinBox", "setWidget", {1101, 4, 61, 18}, {}, {}},
        {"loopEndLockBtn", "QPushButton", "setWidget", {1162, 4, 10, 18}, {}, {}},

        {"waveContainer", "QWidget", "centralwidget", {}, {961, 78}, {kMax, 78}},
        {"waveformWidget", "WaveformWidget", "waveContainer", {}, {0, 78}, {kMax, 78}},
        {"waveRightPanel", "QWidget", "waveContainer", {}, {261, 78}, {261, 78}},
        {"topWidget", "QWidget", "waveRightPanel", {}, {261, 20}, {261, 20}},
        {"togglePanelBtn", "QPushButton", "topWidget", {}, {20, 18}, {20, 18}},
        {"playControlWidget", "QWidget", "waveRightPanel", {}, {261, 58}, {261, 58}},
        {"prevButton", "QPushButton", "playControlWidget", {}, {}, {}},
        {"playPasueButton", "QPushButton", "playControlWidget", {}, {}, {}},
        {"nextButton", "QPushButton", "playControlWidget", {}, {}, {}},
        {"stopButton", "QPushButton", "playControlWidget", {}, {}, {}},

        {"trackList", "QTableView", "centralwidget", {}, {741, 421}, {kMax, kMax}},
        {"playlistGroup", "QTreeView", "centralwidget", {}, {261, 412}, {261, kMax}},
        {"spacingWidget", "QWidget", "centralwidget", {}, {0, 4}, {kMax, 4}},
        {"statusbar", "QStatusBar", "MainWindow", {}, {}, {}},
    };
    return rows;
}

}  // namespace

class MainWindowFormTest : public QObject {
    Q_OBJECT

private:
    QMainWindow* m_window = nullptr;
    Ui_MainWindow m_form;

    template <typename T = QWidget>
    T* widget(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void windowFrame();
    void widgetTree_data();
    void widgetTree();
    void noOtherNamedWidgets();
    void layouts();
    void numberRanges_data();
    void numberRanges();
    void texts_data();
    void texts();
    void controlStates();
    void listViews();
    void colouredAsTheFormSays_data();
    void colouredAsTheFormSays();
    void waveformViewSettings();
};

void MainWindowFormTest::initTestCase()
{
    // The form on its own, as the window's constructor builds it first; the
    // window's own changes are tested with the window.
    UiStyleManager::applyApplicationStyle();
    m_window = new QMainWindow;
    m_form.setupUi(m_window);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void MainWindowFormTest::cleanupTestCase()
{
    delete m_window;
}

void MainWindowFormTest::windowFrame()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("一款面向婚礼、剧场、晚会、话剧的音频实时处理播放软件"));
    QCOMPARE(m_window->size(), QSize(1171, 672));
    QCOMPARE(m_window->minimumWidth(), 1171);
    QCOMPARE(m_window->menuWidget(), nullptr);
    QCOMPARE(m_window->centralWidget(), widget(QStringLiteral("centralwidget")));
    QCOMPARE(m_window->statusBar(), widget<QStatusBar>(QStringLiteral("statusbar")));
    QCOMPARE(QApplication::style()->name(), QStringLiteral("fusion"));

    // The settings bar keeps its absolute layout: the window cannot get narrower.
    m_window->resize(800, 500);
    QCOMPARE(m_window->width(), 1171);
    m_window->resize(1171, 672);
}

void MainWindowFormTest::widgetTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");

    for (const FormWidget& row : formWidgets())
        QTest::newRow(row.name) << QString::fromLatin1(row.className) << QString::fromLatin1(row.parent)
                                << row.geometry << row.minimum << row.maximum;
}

void MainWindowFormTest::widgetTree()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QWidget* w = widget(name);
    QVERIFY2(w, qPrintable(name));
    QList<QWidget*> sameName = m_window->findChildren<QWidget*>(name);
    QCOMPARE(sameName.size(), 1);

    // MinSecSpinBox carries no meta-object of its own.
    if (className == QLatin1String("MinSecSpinBox"))
        QVERIFY(dynamic_cast<MinSecSpinBox*>(w));
    else
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);

    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    if (geometry.isValid())
        QCOMPARE(w->geometry(), geometry);
    if (minimum.isValid())
        QCOMPARE(w->minimumSize(), minimum);
    if (maximum.isValid())
        QCOMPARE(w->maximumSize(), maximum);
}

void MainWindowFormTest::noOtherNamedWidgets()
{
    // Every widget the form names is a row of the table; Qt's own helpers
    // (line edits of spin boxes, viewports...) are named "qt_...".
    QStringList expected;
    for (const FormWidget& row : formWidgets())
        expected << QString::fromLatin1(row.name);
    QStringList named;
    for (QWidget* w : m_window->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            named << w->objectName();
    }
    expected.sort();
    named.sort();
    QCOMPARE(named, expected);
}

void MainWindowFormTest::layouts()
{
    auto* grid = m_window->findChild<QGridLayout*>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->parentWidget(), widget(QStringLiteral("centralwidget")));
    QCOMPARE(grid->columnCount(), 1);
    QCOMPARE(grid->rowCount(), 4);
    QCOMPARE(grid->verticalSpacing(), 0);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(grid->itemAtPosition(0, 0)->layout()->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(grid->itemAtPosition(1, 0)->widget(), widget(QStringLiteral("separatorBar")));
    QCOMPARE(grid->itemAtPosition(2, 0)->widget(), widget(QStringLiteral("setWidget")));
    QCOMPARE(grid->itemAtPosition(3, 0)->widget(), widget(QStringLiteral("waveContainer")));

    // The settings bar places its children itself.
    QCOMPARE(widget(QStringLiteral("setWidget"))->layout(), nullptr);

    struct Box {
        const char* name;
        int spacing;
        std::optional<QMargins> margins;  // none: left to the layout
        QStringList items;  // object names; "" for the spacer
    };
    const QList<Box> boxes = {
        {"horizontalLayout", 0, std::nullopt, {"trackList", "verticalLayout"}},
        {"verticalLayout", 0, std::nullopt, {"playlistGroup", "spacingWidget"}},
        {"waveContainerLayout", 0, QMargins(0, 0, 0, 0), {"waveformWidget", "waveRightPanel"}},
        {"waveRightPanelLayout", 0, QMargins(0, 0, 0, 0), {"topWidget", "playControlWidget"}},
        {"topWidgetLayout", 4, QMargins(6, 0, 6, 0), {"", "togglePanelBtn"}},
        {"playControlLayout", 4, QMargins(6, 3, 6, 3), {"prevButton", "playPasueButton", "nextButton", "stopButton"}},
    };
    for (const Box& box : boxes) {
        auto* layout = m_window->findChild<QBoxLayout*>(QString::fromLatin1(box.name));
        QVERIFY2(layout, box.name);
        QCOMPARE(layout->spacing(), box.spacing);
        if (box.margins)
            QCOMPARE(layout->contentsMargins(), *box.margins);
        QCOMPARE(layout->count(), box.items.size());
        for (int i = 0; i < box.items.size(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            QString itemName;
            if (item->widget())
                itemName = item->widget()->objectName();
            else if (item->layout())
                itemName = item->layout()->objectName();
            QCOMPARE(itemName, box.items.at(i));
        }
    }

    auto* topRow = m_window->findChild<QBoxLayout*>(QStringLiteral("topWidgetLayout"));
    QSpacerItem* spacer = topRow->itemAt(0)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);

    // Shown at 1171 wide: the playlist panel and the transport panel take
    // 261 pixels on the right, the cue table and the waveform the rest.
    QCOMPARE(widget(QStringLiteral("playlistGroup"))->width(), 261);
    QCOMPARE(widget(QStringLiteral("trackList"))->width(), 1171 - 261);
    QCOMPARE(widget(QStringLiteral("waveformWidget"))->width(), 1171 - 261);
    QCOMPARE(widget(QStringLiteral("waveContainer"))->height(), 78);
    QCOMPARE(widget(QStringLiteral("setWidget"))->height(), 29);
    QCOMPARE(widget(QStringLiteral("togglePanelBtn"))->geometry().right(), 261 - 6 - 1);
}

void MainWindowFormTest::numberRanges_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("alignedRight");

    QTest::newRow("fadeInSpinBox") << 0.0 << 20.0 << 0.5 << 1.0 << false;
    QTest::newRow("fadeOutSpinBox") << 0.0 << 20.0 << 0.5 << 1.0 << false;
    QTest::newRow("loopCountSpinBox") << 0.0 << 99.0 << 1.0 << 1.0 << false;
    QTest::newRow("preDurationSpinBox") << 0.0 << 99.0 << 1.0 << 0.0 << false;
    QTest::newRow("loopStartSpinBox") << 0.0 << 9999.0 << 0.01 << 0.0 << true;
    QTest::newRow("loopDurationSpinBox") << 0.0 << 9999.0 << 0.01 << 0.0 << true;
    QTest::newRow("loopEndSpinBox") << 0.0 << 9999.0 << 0.01 << 0.0 << true;
}

void MainWindowFormTest::numberRanges()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, step);
    QFETCH(double, value);
    QFETCH(bool, alignedRight);

    auto* box = widget<QAbstractSpinBox>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(box);
    if (auto* spin = qobject_cast<QSpinBox*>(box)) {
        QCOMPARE(spin->minimum(), int(minimum));
        QCOMPARE(spin->maximum(), int(maximum));
        QCOMPARE(spin->singleStep(), int(step));
        QCOMPARE(spin->value(), int(value));
    } else {
        auto* doubleSpin = qobject_cast<QDoubleSpinBox*>(box);
        QVERIFY(doubleSpin);
        QCOMPARE(doubleSpin->minimum(), minimum);
        QCOMPARE(doubleSpin->maximum(), maximum);
        QCOMPARE(doubleSpin->singleStep(), step);
        QCOMPARE(doubleSpin->value(), value);
    }
    QCOMPARE(box->buttonSymbols(), QAbstractSpinBox::NoButtons);
    const Qt::Alignment horizontal = box->alignment() & Qt::AlignHorizontal_Mask;
    QVERIFY(alignedRight ? bool(horizontal & Qt::AlignRight) : bool(horizontal & Qt::AlignLeft));
    QVERIFY(box->alignment() & Qt::AlignVCenter);
}

void MainWindowFormTest::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    const QString loopTip = QStringLiteral(
        "设置loop时长（分.秒.毫秒格式，如 01.22.50 表示1分22秒500毫秒；输入整数按秒计算）");
    QTest::newRow("fadeCheckBox") << "淡入淡出" << "";
    QTest::newRow("fadeInLabel") << "入" << "";
    QTest::newRow("fadeOutLabel") << "出" << "";
    QTest::newRow("loopRadioBox") << "循环" << "";
    QTest::newRow("loopLabel") << "播放" << "";
    QTest::newRow("radioInfiniteLoop") << "无限 ♾️" << "";
    QTest::newRow("loopCountSuffix") << "次" << "";
    QTest::newRow("infiniteLoopBtn") << "" << "点击切换无限循环";
    QTest::newRow("label_3") << "预等待" << "";
    QTest::newRow("label_5") << "秒" << "";
    QTest::newRow("panCheckBox") << "" << "";
    QTest::newRow("panEnvelopeLabel") << "声像包络" << "";
    QTest::newRow("volumeEnvelopeCheckBox") << "" << "";
    QTest::newRow("volumeEnvelopeLabel") << "音量包络" << "";
    QTest::newRow("label_4") << "轨道音量" << "";
    QTest::newRow("label_A") << "A" << "";
    QTest::newRow("label_B") << "B" << "";
    QTest::newRow("colorButton") << "" << "Cue颜色标记";
    QTest::newRow("loopDurationLabel") << "范围：" << "";
    QTest::newRow("loopStartSpinBox") << "" << loopTip;
    QTest::newRow("loopStartLockBtn") << "▲▼" << "锁定Loop起点";
    QTest::newRow("loopDurationSpinBox") << "" << loopTip;
    QTest::newRow("loopDurationLockBtn") << "▲▼" << "锁定Loop时长";
    QTest::newRow("loopEndSpinBox") << "" << loopTip;
    QTest::newRow("loopEndLockBtn") << "▲▼" << "锁定Loop终点";
    QTest::newRow("togglePanelBtn") << "" << "";
    QTest::newRow("prevButton") << "◁" << "";
    QTest::newRow("playPasueButton") << "▶" << "";
    QTest::newRow("nextButton") << "▷" << "";
    QTest::newRow("stopButton") << "□" << "";
}

void MainWindowFormTest::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QWidget* w = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    if (auto* label = qobject_cast<QLabel*>(w))
        QCOMPARE(label->text(), text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(button->text(), text);
    QCOMPARE(w->toolTip(), toolTip);
}

void MainWindowFormTest::controlStates()
{
    QVERIFY(widget(QStringLiteral("radioInfiniteLoop"))->isHidden());
    QVERIFY(widget(QStringLiteral("loopRadioBox"))->isHidden());
    QVERIFY(widget(QStringLiteral("fadeCheckBox"))->isVisible());

    QVERIFY(!widget<QCheckBox>(QStringLiteral("fadeCheckBox"))->isChecked());
    QVERIFY(widget<QCheckBox>(QStringLiteral("panCheckBox"))->isChecked());
    QVERIFY(widget<QCheckBox>(QStringLiteral("volumeEnvelopeCheckBox"))->isChecked());

    auto* infinite = widget<QPushButton>(QStringLiteral("infiniteLoopBtn"));
    QVERIFY(infinite->isCheckable());
    QVERIFY(!infinite->isChecked());
    auto* color = widget<QPushButton>(QStringLiteral("colorButton"));
    QVERIFY(color->isCheckable());
    QCOMPARE(color->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(widget(QStringLiteral("togglePanelBtn"))->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(widget(QStringLiteral("prevButton"))->isEnabled());

    for (const char* name : {"volumeHorizontalScrollBar", "volumeHorizontalScrollBar_2"}) {
        auto* bar = widget<QScrollBar>(QString::fromLatin1(name));
        QCOMPARE(bar->orientation(), Qt::Horizontal);
        QVERIFY(bar->styleSheet().isEmpty());
    }

    for (const char* name : {"volumeEnvelopeCheckBox", "volumeEnvelopeLabel", "panCheckBox", "panEnvelopeLabel"})
        QCOMPARE(widget(QString::fromLatin1(name))->font().families(),
                 QStringList{QStringLiteral("Academy Engraved LET")});

    // Zero loops means endless and shows as "∞".
    auto* loops = widget<QSpinBox>(QStringLiteral("loopCountSpinBox"));
    loops->setValue(0);
    QCOMPARE(loops->text(), QStringLiteral("∞"));
    loops->setValue(1);
    QCOMPARE(loops->text(), QStringLiteral("1"));

    auto* loopStart = widget<QDoubleSpinBox>(QStringLiteral("loopStartSpinBox"));
    loopStart->setValue(82.5);
    QCOMPARE(loopStart->text(), QStringLiteral("01.22.50"));
    loopStart->setValue(0);
    QCOMPARE(loopStart->text(), QStringLiteral("00.00.00"));
}

void MainWindowFormTest::listViews()
{
    auto* table = widget<QTableView>(QStringLiteral("trackList"));
    QCOMPARE(table->editTriggers(),
             QAbstractItemView::EditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed));
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(table->verticalHeader()->isHidden());

    auto* tree = widget<QTreeView>(QStringLiteral("playlistGroup"));
    QCOMPARE(tree->dragDropMode(), QAbstractItemView::DragDrop);
    QVERIFY(!tree->rootIsDecorated());
    QVERIFY(!tree->header()->isHidden());
}

void MainWindowFormTest::colouredAsTheFormSays_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("color");

    const QColor panel(0x1e, 0x1e, 0x1e);
    QTest::newRow("separator") << "separatorBar" << QPoint(500, 2) << panel;
    QTest::newRow("cue table") << "trackList" << QPoint(400, 200) << panel;
    QTest::newRow("playlist tree") << "playlistGroup" << QPoint(130, 200) << panel;
    QTest::newRow("strip under the tree") << "spacingWidget" << QPoint(130, 2) << panel;
    QTest::newRow("top row of the right panel") << "topWidget" << QPoint(100, 10) << panel;
    QTest::newRow("transport row margin") << "playControlWidget" << QPoint(2, 2) << panel;
    QTest::newRow("waveform view") << "waveformWidget" << QPoint(400, 40) << QColor(25, 25, 30);
    QTest::newRow("loop spin box") << "loopStartSpinBox" << QPoint(2, 2) << QColor(0x2a, 0x2a, 0x2a);
    QTest::newRow("pre-wait spin box") << "preDurationSpinBox" << QPoint(28, 15) << QColor(0x2a, 0x2a, 0x2a);
}

void MainWindowFormTest::colouredAsTheFormSays()
{
    QFETCH(QString, name);
    QFETCH(QPoint, at);
    QFETCH(QColor, color);

    QWidget* w = widget(name);
    QVERIFY(w);
    const QImage shot = m_window->grab().toImage();
    const QPoint inWindow = w->mapTo(m_window, at);
    QCOMPARE(shot.pixelColor(inWindow * shot.devicePixelRatio()).name(), color.name());
}

void MainWindowFormTest::waveformViewSettings()
{
    WaveformWidget standalone;
    QCOMPARE(standalone.minimumHeight(), 81);
    QCOMPARE(standalone.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(standalone.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(standalone.focusPolicy(), Qt::StrongFocus);
    QVERIFY(standalone.testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(standalone.testAttribute(Qt::WA_AcceptTouchEvents));
    QVERIFY(standalone.hasMouseTracking());

    // The form's fixed strip height wins over the view's own minimum.
    QCOMPARE(widget(QStringLiteral("waveformWidget"))->height(), 78);
}

QTEST_MAIN(MainWindowFormTest)
#include "MainWindowFormTest.moc"
