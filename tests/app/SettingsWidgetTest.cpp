#include "MainWindowForm.h"

#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

// The cue settings bar bound to the real form: one cue, a batch, or nothing.
class SettingsWidgetTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();

    void showingACueWritesNothingBack();
    void bindingTheSameCueTwiceConnectsOnce();
    void editsGoIntoTheCueWithoutSaving();
    void endlessLoopToggleRestoresTheCount_data();
    void endlessLoopToggleRestoresTheCount();
    void loopCountBoxDrivesTheEndlessButton();
    void fadeSwitchGivesZeroTimesOneSecond();
    void fadeTimesFitTheRegion_data();
    void fadeTimesFitTheRegion();
    void colourMenuStoresTheChoice();
    void envelopeCaptionsAskForAnEditMode();
    void batchEditsSetFieldsAndFlags();
    void unbindingClearsTheControls();
    void readOnlyLook();
    void controlsLookUsableExactlyWhenTheyAre_data();
    void controlsLookUsableExactlyWhenTheyAre();
};

namespace {

// A cue with the means to count the receivers of its signals.
class ProbeCue : public Cue {
public:
    using Cue::Cue;
    int dataUpdatedReceivers() const { return receivers(SIGNAL(dataUpdated())); }
    int fadeSwitchReceivers() const { return receivers(SIGNAL(fadeEnabledChanged(bool))); }
};

// A stored cue of the given length and loop region (a loop end of 0 = the
// whole file), saved and clean.
std::unique_ptr<ProbeCue> storedCue(qint64 durationMs = 10000, qint64 loopStart = 0, qint64 loopEnd = 10000)
{
    auto cue = std::make_unique<ProbeCue>(-1, QStringLiteral("bar"), QStringLiteral("/nowhere/bar.wav"));
    cue->setDuration(durationMs);
    cue->setLoading(true);
    cue->setLoopRange(loopStart, loopEnd, true);
    cue->setLoading(false);
    cue->setColor(QStringLiteral("#5a3a3a"));
    cue->saveToDatabase(false);
    return cue;
}

std::unique_ptr<Cue> reloaded(const Cue& cue)
{
    auto fresh = std::make_unique<Cue>();
    fresh->loadFromDatabase(cue.id());
    return fresh;
}

// Types a value over a box's text and confirms it, as the operator does.
void typeInto(QAbstractSpinBox* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

void showForm(MainWindowForm& form)
{
    form.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form.window));
    form.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form.window));
}

}  // namespace

void SettingsWidgetTest::initTestCase()
{
    QVERIFY(DatabaseManager::instance()->initialize(m_dir.filePath("bar.db")));
}

void SettingsWidgetTest::showingACueWritesNothingBack()
{
    MainWindowForm form;
    auto a = storedCue();
    a->setLoopCount(3);
    a->setPreWait(4000);
    a->setFadeEnabled(true);
    a->setFadeDurations(1500, 2500);
    a->setVolumeA(70);
    a->setVolumeB(20);
    a->saveToDatabase(false);
    auto b = storedCue();
    b->setLoopCount(0);
    b->setVolumeA(10);
    b->setVolumeB(90);
    b->setEnvelopeEnabled(true);
    b->saveToDatabase(false);

    QSignalSpy aChanged(a.get(), &Cue::dataUpdated);
    QSignalSpy bChanged(b.get(), &Cue::dataUpdated);
    QSignalSpy loops(form.bar, &SettingsWidget::loopSettingsChanged);
    QSignalSpy volumes(form.bar, &SettingsWidget::volumeChanged);

    form.bar->setCue(a.get());
    QCOMPARE(form.ui.loopCountSpinBox->value(), 3);
    QCOMPARE(form.ui.preDurationSpinBox->value(), 4);
    QVERIFY(form.ui.fadeCheckBox->isChecked());
    QCOMPARE(form.ui.fadeInSpinBox->value(), 1.5);
    QCOMPARE(form.ui.fadeOutSpinBox->value(), 2.5);
    QCOMPARE(form.ui.volumeHorizontalScrollBar->value(), 70);
    QCOMPARE(form.ui.volumeHorizontalScrollBar_2->value(), 20);

    form.bar->setCue(b.get());
    QCOMPARE(form.ui.loopCountSpinBox->value(), 0);
    QVERIFY(form.ui.infiniteLoopBtn->isChecked());
    // B never had a count of its own: the button offers 1, not A's 3.
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("1"));
    QVERIFY(!form.ui.fadeCheckBox->isChecked());
    QVERIFY(!form.ui.fadeInSpinBox->isEnabled());
    QCOMPARE(form.ui.volumeHorizontalScrollBar->value(), 10);
    QCOMPARE(form.ui.volumeHorizontalScrollBar_2->value(), 90);
    QVERIFY(form.ui.volumeEnvelopeCheckBox->isChecked());

    QVERIFY(!a->isDirty());
    QVERIFY(!b->isDirty());
    QCOMPARE(aChanged.count(), 0);
    QCOMPARE(bChanged.count(), 0);
    QCOMPARE(loops.count(), 0);
    QCOMPARE(volumes.count(), 0);
}

void SettingsWidgetTest::bindingTheSameCueTwiceConnectsOnce()
{
    MainWindowForm form;
    auto cue = storedCue();
    const int before = cue->dataUpdatedReceivers();

    form.bar->setCue(cue.get());
    form.bar->setCue(cue.get());
    QCOMPARE(cue->dataUpdatedReceivers(), before + 1);
    QCOMPARE(cue->fadeSwitchReceivers(), 1);

    auto other = storedCue();
    form.bar->setCue(other.get());
    QCOMPARE(cue->dataUpdatedReceivers(), before);
    QCOMPARE(cue->fadeSwitchReceivers(), 0);

    BatchCue batch;
    form.bar->setBatchSource(&batch);
    QCOMPARE(other->fadeSwitchReceivers(), 0);
}

void SettingsWidgetTest::editsGoIntoTheCueWithoutSaving()
{
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    form.bar->setCue(cue.get());
    QSignalSpy volumes(form.bar, &SettingsWidget::volumeChanged);

    typeInto(form.ui.preDurationSpinBox, QStringLiteral("7"));
    QCOMPARE(cue->preWaitMs(), 7000);
    form.ui.volumeHorizontalScrollBar->setValue(33);
    form.ui.volumeHorizontalScrollBar_2->setValue(44);
    QCOMPARE(cue->volumeA(), 33);
    QCOMPARE(cue->volumeB(), 44);
    QCOMPARE(volumes.count(), 1);  // volume A only
    QCOMPARE(volumes.first().first().toInt(), 33);
    QTest::mouseClick(form.ui.panCheckBox, Qt::LeftButton);
    QVERIFY(form.ui.panCheckBox->isChecked());
    QVERIFY(cue->panEnvelopeEnabled());

    QVERIFY(cue->isDirty());
    QCOMPARE(reloaded(*cue)->preWaitMs(), 0);
}

void SettingsWidgetTest::endlessLoopToggleRestoresTheCount_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("restored");
    QTest::newRow("three loops") << 3 << 3;
    QTest::newRow("never above 0") << 0 << 1;
}

void SettingsWidgetTest::endlessLoopToggleRestoresTheCount()
{
    QFETCH(int, count);
    QFETCH(int, restored);
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    cue->setLoopCount(count);
    form.bar->setCue(cue.get());
    QSignalSpy loops(form.bar, &SettingsWidget::loopSettingsChanged);

    if (count > 0) {
        QTest::mouseClick(form.ui.infiniteLoopBtn, Qt::LeftButton);
        QCOMPARE(cue->loopCount(), 0);
        QCOMPARE(form.ui.loopCountSpinBox->text(), QStringLiteral("∞"));
        QCOMPARE(form.ui.infiniteLoopBtn->text(), QString::number(count));
        QCOMPARE(loops.takeFirst(), (QVariantList{true, 0}));
    }
    QTest::mouseClick(form.ui.infiniteLoopBtn, Qt::LeftButton);
    QVERIFY(!form.ui.infiniteLoopBtn->isChecked());
    QCOMPARE(cue->loopCount(), restored);
    QCOMPARE(form.ui.loopCountSpinBox->value(), restored);
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("♾️"));
    QCOMPARE(loops.takeFirst(), (QVariantList{false, restored}));
    QVERIFY(loops.isEmpty());
}

void SettingsWidgetTest::loopCountBoxDrivesTheEndlessButton()
{
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    cue->setLoopCount(4);
    form.bar->setCue(cue.get());

    typeInto(form.ui.loopCountSpinBox, QStringLiteral("0"));
    QVERIFY(form.ui.infiniteLoopBtn->isChecked());
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("4"));
    QCOMPARE(cue->loopCount(), 0);

    typeInto(form.ui.loopCountSpinBox, QStringLiteral("5"));
    QVERIFY(!form.ui.infiniteLoopBtn->isChecked());
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("♾️"));
    QCOMPARE(cue->loopCount(), 5);

    QTest::mouseClick(form.ui.infiniteLoopBtn, Qt::LeftButton);
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("5"));
}

void SettingsWidgetTest::fadeSwitchGivesZeroTimesOneSecond()
{
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    cue->setFadeDurations(0, 0);
    form.bar->setCue(cue.get());
    QSignalSpy status(form.bar, &SettingsWidget::statusMessage);

    QTest::mouseClick(form.ui.fadeCheckBox, Qt::LeftButton);
    QVERIFY(cue->fadeEnabled());
    QCOMPARE(cue->fadeInMs(), 1000);
    QCOMPARE(cue->fadeOutMs(), 1000);
    QVERIFY(form.ui.fadeInSpinBox->isEnabled());
    QCOMPARE(form.ui.fadeOutSpinBox->value(), 1.0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first(), (QVariantList{QStringLiteral("淡入淡出已启用"), 1500}));

    QTest::mouseClick(form.ui.fadeCheckBox, Qt::LeftButton);
    QVERIFY(!cue->fadeEnabled());
    QVERIFY(!form.ui.fadeInSpinBox->isEnabled());
    QCOMPARE(status.count(), 1);
}

void SettingsWidgetTest::fadeTimesFitTheRegion_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("fadeIn");  // which box is typed into
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qint64>("stored");

    // The other fade stays at 1000 ms.
    QTest::newRow("loop end 0 is the whole file") << qint64(10000) << qint64(0) << qint64(0) << true << "3" << qint64(3000);
    QTest::newRow("cut to region minus fade-out") << qint64(10000) << qint64(2000) << qint64(6000) << true << "4" << qint64(3000);
    QTest::newRow("fade-out cut by fade-in") << qint64(10000) << qint64(2000) << qint64(6000) << false << "3.5" << qint64(3000);
    QTest::newRow("end past the file is the file") << qint64(10000) << qint64(0) << qint64(12000) << true << "10" << qint64(9000);
    QTest::newRow("fits") << qint64(10000) << qint64(0) << qint64(10000) << false << "2.5" << qint64(2500);
    QTest::newRow("two decimals kept exactly") << qint64(10000) << qint64(0) << qint64(10000) << true << "1.15" << qint64(1150);
    QTest::newRow("unknown length") << qint64(0) << qint64(0) << qint64(0) << true << "5" << qint64(5000);
}

void SettingsWidgetTest::fadeTimesFitTheRegion()
{
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, fadeIn);
    QFETCH(QString, typed);
    QFETCH(qint64, stored);

    MainWindowForm form;
    showForm(form);
    auto cue = storedCue(duration, loopStart, loopEnd);
    cue->setFadeEnabled(true);
    form.bar->setCue(cue.get());

    QDoubleSpinBox* box = fadeIn ? form.ui.fadeInSpinBox : form.ui.fadeOutSpinBox;
    typeInto(box, typed);
    QCOMPARE(fadeIn ? cue->fadeInMs() : cue->fadeOutMs(), stored);
    QCOMPARE(fadeIn ? cue->fadeOutMs() : cue->fadeInMs(), qint64(1000));
    QCOMPARE(box->value(), stored / 1000.0);
}

void SettingsWidgetTest::colourMenuStoresTheChoice()
{
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    form.bar->setCue(cue.get());
    QMenu* menu = form.bar->colorMenuWidget();
    QVERIFY(menu);
    QSignalSpy opened(menu, &QMenu::aboutToShow);
    QSignalSpy colourChanged(form.bar, &SettingsWidget::cueColorChanged);

    // Picks a swatch from inside the menu's own event loop.
    auto pick = [menu](const QString& code) {
        QTimer::singleShot(0, menu, [menu, code] {
            for (QPushButton* swatch : menu->findChildren<QPushButton*>()) {
                if (swatch->property("colorCode").toString() == code && swatch->isVisible()) {
                    QTest::mouseClick(swatch, Qt::LeftButton);
                    return;
                }
            }
            menu->close();
        });
    };

    QCOMPARE(menu->findChildren<QPushButton*>().size(), 10);
    pick(QStringLiteral("#3a5a5a"));
    QTest::mouseClick(form.ui.colorButton, Qt::LeftButton);
    QCOMPARE(opened.count(), 1);
    QVERIFY(!menu->isVisible());
    QCOMPARE(cue->color(), QStringLiteral("#3a5a5a"));
    QVERIFY(form.ui.colorButton->styleSheet().contains(QStringLiteral("background-color: #3a5a5a")));

    pick(QString());  // the "×" swatch: no colour
    QTest::mouseClick(form.ui.colorButton, Qt::LeftButton);
    QCOMPARE(opened.count(), 2);
    QCOMPARE(cue->color(), QString());
    QVERIFY(!cue->isDirty());
    QCOMPARE(reloaded(*cue)->color(), QString());
    QCOMPARE(colourChanged.count(), 2);

    BatchCue batch;
    batch.color = QColor(QStringLiteral("#4a5a6a"));
    form.bar->setBatchSource(&batch);
    QSignalSpy batchChanged(&batch, &BatchCue::dataChanged);
    pick(QString());
    QTest::mouseClick(form.ui.colorButton, Qt::LeftButton);
    QVERIFY(batch.colorModified);
    QVERIFY(!batch.color.isValid());
    QCOMPARE(batchChanged.count(), 1);
    QCOMPARE(colourChanged.count(), 2);
}

void SettingsWidgetTest::envelopeCaptionsAskForAnEditMode()
{
    MainWindowForm form;
    showForm(form);
    QSignalSpy mode(form.bar, &SettingsWidget::switchEnvelopeEditMode);

    QTest::mouseClick(form.ui.panEnvelopeLabel, Qt::LeftButton);
    QTest::mouseClick(form.ui.volumeEnvelopeLabel, Qt::LeftButton);
    QCOMPARE(mode.count(), 2);
    QCOMPARE(mode.at(0).first().toBool(), true);
    QCOMPARE(mode.at(1).first().toBool(), false);

    // The press goes no further than the bar.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QVERIFY(form.bar->eventFilter(form.ui.panEnvelopeLabel, &press));
    QEvent other(QEvent::Enter);
    QVERIFY(!form.bar->eventFilter(form.ui.panEnvelopeLabel, &other));
}

void SettingsWidgetTest::batchEditsSetFieldsAndFlags()
{
    MainWindowForm form;
    showForm(form);
    auto cue = storedCue();
    form.bar->setCue(cue.get());
    BatchCue batch;
    batch.volumeA = 65;
    batch.fadeEnabled = true;
    form.bar->setBatchSource(&batch);
    QCOMPARE(form.ui.volumeHorizontalScrollBar->value(), 65);
    QCOMPARE(form.ui.loopCountSpinBox->value(), 0);  // a batch starts endless
    QVERIFY(form.ui.fadeInSpinBox->isEnabled());
    QSignalSpy changed(&batch, &BatchCue::dataChanged);

    typeInto(form.ui.preDurationSpinBox, QStringLiteral("3"));
    QVERIFY(batch.preWaitModified);
    QCOMPARE(batch.preWaitMs, 3000);
    typeInto(form.ui.loopCountSpinBox, QStringLiteral("2"));
    QVERIFY(batch.loopCountModified);
    QVERIFY(!batch.infiniteLoop);
    QCOMPARE(batch.loopCount, 2);
    typeInto(form.ui.fadeOutSpinBox, QStringLiteral("2.5"));
    QVERIFY(batch.fadeOutModified);
    QCOMPARE(batch.fadeOutMs, 2500);
    form.ui.volumeHorizontalScrollBar_2->setValue(15);
    QVERIFY(batch.volumeBModified);
    QCOMPARE(batch.volumeB, 15);
    QVERIFY(!batch.volumeAModified);
    const int edits = changed.count();
    QVERIFY(edits >= 4);

    // Envelope switches are not batch settings.
    QTest::mouseClick(form.ui.volumeEnvelopeCheckBox, Qt::LeftButton);
    QCOMPARE(changed.count(), edits);

    // The cue bound before is no longer touched.
    QCOMPARE(cue->preWaitMs(), 0);
    QVERIFY(!cue->isDirty());
}

void SettingsWidgetTest::unbindingClearsTheControls()
{
    MainWindowForm form;
    auto cue = storedCue();
    cue->setLoopCount(0);
    cue->setFadeEnabled(true);
    cue->setPreWait(9000);
    cue->setVolumeA(12);
    form.bar->setCue(cue.get());

    form.bar->setCue(nullptr);
    QVERIFY(!form.bar->boundCue());
    QVERIFY(!form.ui.infiniteLoopBtn->isChecked());
    // No count of the cue shown before stays on the endless button.
    QCOMPARE(form.ui.infiniteLoopBtn->text(), QStringLiteral("♾️"));
    QCOMPARE(form.ui.loopCountSpinBox->value(), 1);
    QVERIFY(!form.ui.fadeCheckBox->isChecked());
    QCOMPARE(form.ui.fadeInSpinBox->value(), 1.0);
    QVERIFY(!form.ui.fadeInSpinBox->isEnabled());
    QCOMPARE(form.ui.preDurationSpinBox->value(), 0);
    QCOMPARE(form.ui.volumeHorizontalScrollBar->value(), 50);
    QVERIFY(form.ui.colorButton->styleSheet().contains(QStringLiteral("background-color: transparent")));
    QCOMPARE(cue->volumeA(), 12);

    // Edits with nothing bound go nowhere.
    form.ui.preDurationSpinBox->setValue(5);
    QCOMPARE(cue->preWaitMs(), 9000);
}

void SettingsWidgetTest::readOnlyLook()
{
    MainWindowForm form;
    const QString formFadeStyle = form.ui.fadeInSpinBox->styleSheet();
    auto cue = storedCue();
    cue->setFadeEnabled(true);
    form.bar->setCue(cue.get());

    form.bar->setReadOnly(true);
    for (QWidget* w : QList<QWidget*>{form.ui.infiniteLoopBtn, form.ui.loopCountSpinBox, form.ui.preDurationSpinBox,
                                      form.ui.fadeCheckBox, form.ui.volumeEnvelopeCheckBox, form.ui.panCheckBox,
                                      form.ui.volumeHorizontalScrollBar, form.ui.volumeHorizontalScrollBar_2,
                                      form.ui.colorButton, form.ui.fadeInSpinBox, form.ui.fadeOutSpinBox})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(form.ui.volumeHorizontalScrollBar->styleSheet().contains(QStringLiteral("#666666")));
    QVERIFY(form.ui.fadeInSpinBox->styleSheet().contains(QStringLiteral("color: #888")));
    QCOMPARE(form.ui.label_4->styleSheet(), QStringLiteral("QLabel { color: #666; }"));

    form.bar->setReadOnly(false);
    QVERIFY(form.ui.fadeInSpinBox->isEnabled());
    QCOMPARE(form.ui.fadeInSpinBox->styleSheet(), formFadeStyle);
    QVERIFY(form.ui.volumeHorizontalScrollBar_2->isEnabled());
    QVERIFY(form.ui.volumeHorizontalScrollBar_2->styleSheet().contains(QStringLiteral("#2196F3")));
    QCOMPARE(form.ui.label_4->styleSheet(), QStringLiteral("QLabel { color: #aaa; }"));

    // Fade boxes follow the bound cue's fade switch.
    cue->setFadeEnabled(false);
    form.bar->setReadOnly(false);
    QVERIFY(!form.ui.fadeInSpinBox->isEnabled());

    form.bar->applyControlStyles(true);
    QVERIFY(!form.ui.preDurationSpinBox->isEnabled());
    QVERIFY(!form.ui.volumeHorizontalScrollBar_2->isEnabled());
    QVERIFY(form.ui.volumeHorizontalScrollBar->isEnabled());
    form.bar->applyEnvelopeStyles(true);
    QVERIFY(!form.ui.panCheckBox->isEnabled());
    QCOMPARE(form.ui.loopDurationLabel->styleSheet(), QStringLiteral("QLabel { color: #666; }"));
    form.bar->applyEnvelopeStyles(false);
    QVERIFY(form.ui.panCheckBox->isEnabled());
    QCOMPARE(form.ui.loopDurationLabel->styleSheet(), QStringLiteral("QLabel { color: #cccccc; }"));
}

namespace {

// A box looks usable when it has the bar's normal colours, dim when it has
// the grey text of the read-only look.
bool looksDim(const QWidget* box)
{
    return box->styleSheet().contains(QStringLiteral("color: #888"));
}

}  // namespace

// Each step leaves the pre-wait and fade boxes looking usable exactly when
// they take input (enabled, under an enabled bar).
void SettingsWidgetTest::controlsLookUsableExactlyWhenTheyAre_data()
{
    QTest::addColumn<QString>("steps");
    QTest::newRow("fade switched on from the bar") << "edit,fadeOff,bind,clickFade";
    QTest::newRow("fade switched on by the cue") << "edit,fadeOff,bind,cueFadeOn";
    QTest::newRow("fade of a batch switched on") << "edit,batch,clickFade";
    QTest::newRow("no cue: pre-wait after the usual restyle") << "bind,unbind,restyle";
    QTest::newRow("show mode: pre-wait after the usual restyle") << "bind,show,restyle";
    QTest::newRow("show mode: the cue's fade switched on") << "fadeOff,bind,show,cueFadeOn";
    QTest::newRow("show mode: envelopes after a batch") << "bind,show,envelopes";
}

void SettingsWidgetTest::controlsLookUsableExactlyWhenTheyAre()
{
    QFETCH(QString, steps);
    MainWindowForm form;
    auto cue = storedCue();
    cue->setFadeEnabled(true);
    cue->setPreWait(2000);
    BatchCue batch;
    batch.fadeEnabled = false;
    bool readOnly = false;
    for (const QString& step : steps.split(QLatin1Char(','))) {
        if (step == QLatin1String("edit")) {
            form.bar->setReadOnly(false);
        } else if (step == QLatin1String("fadeOff")) {
            cue->setFadeEnabled(false);
        } else if (step == QLatin1String("bind")) {
            form.bar->setCue(cue.get());
            form.bar->setReadOnly(readOnly);
        } else if (step == QLatin1String("batch")) {
            form.bar->setBatchSource(&batch);
        } else if (step == QLatin1String("clickFade")) {
            form.ui.fadeCheckBox->click();
        } else if (step == QLatin1String("cueFadeOn")) {
            cue->setFadeEnabled(true);
        } else if (step == QLatin1String("unbind")) {
            // What the window does when the shown playlist has no cue.
            form.bar->setCue(nullptr);
            form.ui.setWidget->setEnabled(false);
            form.bar->setReadOnly(true);
            readOnly = true;
        } else if (step == QLatin1String("show")) {
            form.ui.setWidget->setEnabled(false);
            form.bar->setReadOnly(true);
            readOnly = true;
        } else if (step == QLatin1String("restyle")) {
            form.bar->applyControlStyles(false);
        } else if (step == QLatin1String("envelopes")) {
            form.bar->applyEnvelopeStyles(false);
        }
    }
    for (QWidget* box : QList<QWidget*>{form.ui.preDurationSpinBox, form.ui.fadeInSpinBox, form.ui.fadeOutSpinBox}) {
        const bool takesInput = box->isEnabledTo(&form.window) && form.ui.setWidget->isEnabled();
        QVERIFY2(looksDim(box) != takesInput,
                 qPrintable(QStringLiteral("%1: takes input %2, style %3")
                                .arg(box->objectName())
                                .arg(takesInput)
                                .arg(box->styleSheet())));
    }
    for (QCheckBox* box : {form.ui.panCheckBox, form.ui.volumeEnvelopeCheckBox}) {
        const bool takesInput = box->isEnabledTo(&form.window) && form.ui.setWidget->isEnabled();
        QVERIFY2(box->styleSheet().contains(QStringLiteral("#666")) != takesInput, qPrintable(box->objectName()));
    }
    if (steps.endsWith(QLatin1String("clickFade")) || steps.endsWith(QLatin1String("cueFadeOn"))) {
        QCOMPARE(form.ui.fadeInSpinBox->isEnabled(), !readOnly);
    }
}

QTEST_MAIN(SettingsWidgetTest)
#include "SettingsWidgetTest.moc"
