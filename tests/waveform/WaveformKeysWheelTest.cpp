#include "WaveformViewFixture.h"

#include <QPointingDevice>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// Keys, mouse wheel, touchpad and pinch on the waveform view: the loop keys,
// zoom limits, scroll stops, the amplitude scale and the point nudge.
class WaveformKeysWheelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void loopKeys_data();
    void loopKeys();
    void spaceReportsPlayhead();
    void ctrlEAndCtrlZero();
    void ctrlSwitchesEditedEnvelope();
    void keysWithoutCueOrDurationPassOn();

    void wheelZoom_data();
    void wheelZoom();
    void zoomNeverShowsLessThanTwoSeconds();
    void shortFileAlwaysShowsWhole();
    void touchpadScrollStopsAtEnds_data();
    void touchpadScrollStopsAtEnds();
    void shiftWheelScalesAmplitude();
    void ctrlShiftWheelNudgesSelectedPoint();
    void pinchZoomsAndDrags();

private:
    WaveformViewFixture f;
    QTemporaryDir m_dbDir;
};

namespace {

using Fx = WaveformViewFixture;

}  // namespace

void WaveformKeysWheelTest::initTestCase()
{
    QVERIFY(WaveformViewFixture::initDatabase(m_dbDir));
}

void WaveformKeysWheelTest::cleanupTestCase()
{
    WaveformViewFixture::shutdownRegistry();
}

void WaveformKeysWheelTest::cleanup()
{
    f.view.reset();
    f.cue.reset();
}

void WaveformKeysWheelTest::loopKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<qint64>("playhead");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");

    // Loop region 20..80 s; a region shorter than 2 s is refused.
    QTest::newRow("I 1.5 s before end refused") << int(Qt::Key_I) << qint64(78500) << qint64(20000) << qint64(80000);
    QTest::newRow("I 2.5 s before end") << int(Qt::Key_I) << qint64(77500) << qint64(77500) << qint64(80000);
    QTest::newRow("I before loop start") << int(Qt::Key_I) << qint64(5000) << qint64(5000) << qint64(80000);
    QTest::newRow("O 1 s after start refused") << int(Qt::Key_O) << qint64(21000) << qint64(20000) << qint64(80000);
    QTest::newRow("O 5 s after start") << int(Qt::Key_O) << qint64(25000) << qint64(20000) << qint64(25000);
    QTest::newRow("O after loop end") << int(Qt::Key_O) << qint64(95000) << qint64(20000) << qint64(95000);
}

void WaveformKeysWheelTest::loopKeys()
{
    QFETCH(int, key);
    QFETCH(qint64, playhead);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->setPosition(playhead);

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QKeySequence(key).toString().toLower());
    QApplication::sendEvent(view, &press);
    QVERIFY(press.isAccepted());  // refused or not, the key is the view's
    QCOMPARE(cue->loopStartMs(), loopStart);
    QCOMPARE(cue->loopEndMs(), loopEnd);
    QVERIFY(!cue->isDirty());  // a change is saved at once
    QCOMPARE(f.stored()->loopStartMs(), loopStart);
    QCOMPARE(f.stored()->loopEndMs(), loopEnd);
}

void WaveformKeysWheelTest::spaceReportsPlayhead()
{
    WaveformWidget* view = f.makeView(f.makeCue());
    QVERIFY(view);
    view->setPosition(42000);
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(42000));
}

void WaveformKeysWheelTest::ctrlEAndCtrlZero()
{
    Cue* cue = f.makeCue(60000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(cue->envelopeTimes().isEmpty());

    QTest::keyClick(view, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(cue->envelopeEnabled());
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 60000}));
    QCOMPARE(view->editedVolumePoints().size(), 2);
    QTest::keyClick(view, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(!cue->envelopeEnabled());

    view->zoomAt(3.0f, 30000);
    QCOMPARE(view->viewEndMs() - view->viewStartMs(), qint64(20000));
    QTest::keyClick(view, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(60000));
}

void WaveformKeysWheelTest::ctrlSwitchesEditedEnvelope()
{
    Cue* cue = f.makeCue(10000);
    cue->setEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QTest::keyClick(view, Qt::Key_Control);
    QVERIFY(!view->isEditingPan());  // only one envelope: nothing to switch

    cue->setPanEnvelopeEnabled(true);
    QVERIFY(view->isEditingPan());
    // Grab a volume point first: switching away drops its selection.
    QTest::keyClick(view, Qt::Key_Control);
    QVERIFY(!view->isEditingPan());
    Fx::press(view, {0 + 2, 12});
    Fx::release(view, {0 + 2, 12});
    QVERIFY(view->editedVolumePoints()[0].selected);
    QTest::keyClick(view, Qt::Key_Meta);
    QVERIFY(view->isEditingPan());
    QVERIFY(!view->editedVolumePoints()[0].selected);
}

void WaveformKeysWheelTest::keysWithoutCueOrDurationPassOn()
{
    WaveformWidget* view = f.makeView(nullptr);
    QVERIFY(view);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(view, &space);
    QVERIFY(!space.isAccepted());

    Cue* cue = f.makeCue(0);
    view->setCue(cue);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_I, Qt::NoModifier, "i");
    QApplication::sendEvent(view, &letter);
    QVERIFY(!letter.isAccepted());
    QVERIFY(!Fx::wheel(view, {500, 50}, {0, 120}));  // no duration: the wheel is not the view's
    QCOMPARE(view->viewEndMs(), qint64(300000));
}

void WaveformKeysWheelTest::wheelZoom_data()
{
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("touchpad");
    QTest::addColumn<qint64>("span");
    QTest::addColumn<qint64>("viewStart");

    // 60 s shown over 1000 px; the pointer at x 500 (30 s).
    QTest::newRow("notch forward zooms in around the pointer")
        << QPoint(0, 120) << 0 << false << qint64(50000) << qint64(5000);
    QTest::newRow("notch back from the full view stays full")
        << QPoint(0, -120) << 0 << false << qint64(60000) << qint64(0);
    QTest::newRow("ctrl notch zooms as well") << QPoint(0, 120) << int(Qt::ControlModifier) << false
                                              << qint64(50000) << qint64(5000);
    QTest::newRow("touchpad ctrl 30 units zooms by 1.05")
        << QPoint(0, 30) << int(Qt::ControlModifier) << true << qint64(57142) << qint64(1428);
    QTest::newRow("touchpad ctrl 300 units zooms by 1.3")
        << QPoint(0, 300) << int(Qt::ControlModifier) << true << qint64(46153) << qint64(6923);
    QTest::newRow("touchpad ctrl 1 unit zooms by 1.01")
        << QPoint(0, 1) << int(Qt::ControlModifier) << true << qint64(59405) << qint64(297);
    QTest::newRow("small delta counts as touchpad")
        << QPoint(0, 20) << int(Qt::ControlModifier) << false << qint64(58064) << qint64(967);
    QTest::newRow("touchpad without ctrl scrolls, full view stays")
        << QPoint(0, 120) << 0 << true << qint64(60000) << qint64(0);
}

void WaveformKeysWheelTest::wheelZoom()
{
    QFETCH(QPoint, delta);
    QFETCH(int, modifiers);
    QFETCH(bool, touchpad);
    QFETCH(qint64, span);
    QFETCH(qint64, viewStart);
    WaveformWidget* view = f.makeView(f.makeCue(60000));
    QVERIFY(view);
    view->toggleLoopView();  // a zoom frees a locked view
    QVERIFY(!view->isFreeView());

    QVERIFY(Fx::wheel(view, {500, 50}, delta, Qt::KeyboardModifiers(modifiers),
                      touchpad ? Qt::ScrollUpdate : Qt::NoScrollPhase));
    QCOMPARE(view->viewEndMs() - view->viewStartMs(), span);
    QCOMPARE(view->viewStartMs(), viewStart);
    QVERIFY(view->isFreeView());
}

void WaveformKeysWheelTest::zoomNeverShowsLessThanTwoSeconds()
{
    WaveformWidget* view = f.makeView(f.makeCue(60000));
    QVERIFY(view);
    for (int i = 0; i < 40; ++i)
        Fx::wheel(view, {900, 50}, {0, 120});
    QCOMPARE(view->viewEndMs() - view->viewStartMs(), qint64(2000));
    QVERIFY(view->viewEndMs() <= 60000);
    for (int i = 0; i < 40; ++i)
        Fx::wheel(view, {100, 50}, {0, -120});
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(60000));
}

void WaveformKeysWheelTest::shortFileAlwaysShowsWhole()
{
    WaveformWidget* view = f.makeView(f.makeCue(1500));
    QVERIFY(view);
    Fx::wheel(view, {500, 50}, {0, 120});
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(1500));
}

void WaveformKeysWheelTest::touchpadScrollStopsAtEnds_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<qint64>("viewStart");
    QTest::addColumn<qint64>("viewEnd");

    // A 12 s view (the loop region) of a 60 s file.
    QTest::newRow("forward 120 moves 1.2 s") << qint64(20000) << QPoint(0, 120) << qint64(21200) << qint64(33200);
    QTest::newRow("horizontal delta wins") << qint64(20000) << QPoint(-240, 120) << qint64(17600)
                                           << qint64(29600);
    QTest::newRow("stops at the file end") << qint64(46000) << QPoint(0, 300) << qint64(48000) << qint64(60000);
    QTest::newRow("stops at the file start") << qint64(1000) << QPoint(0, -300) << qint64(0) << qint64(12000);
}

void WaveformKeysWheelTest::touchpadScrollStopsAtEnds()
{
    QFETCH(qint64, loopStart);
    QFETCH(QPoint, delta);
    QFETCH(qint64, viewStart);
    QFETCH(qint64, viewEnd);
    WaveformWidget* view = f.makeView(f.makeCue(60000, loopStart, loopStart + 12000));
    QVERIFY(view);
    view->toggleLoopView();
    QVERIFY(Fx::wheel(view, {500, 50}, delta, {}, Qt::ScrollUpdate));
    QCOMPARE(view->viewStartMs(), viewStart);
    QCOMPARE(view->viewEndMs(), viewEnd);
    QVERIFY(view->isFreeView());
}

void WaveformKeysWheelTest::shiftWheelScalesAmplitude()
{
    WaveformWidget* view = f.makeView(f.makeCue());
    QVERIFY(view);
    for (int i = 0; i < 5; ++i)
        Fx::wheel(view, {500, 50}, {0, 120}, Qt::ShiftModifier);
    QVERIFY(std::abs(view->amplitudeScale() - 1.61051f) < 0.001f);
    QCOMPARE(view->viewEndMs(), qint64(100000));  // no zoom

    view->setAmplitudeScale(0.32f);
    Fx::wheel(view, {500, 50}, {0, -120}, Qt::ShiftModifier);
    QCOMPARE(view->amplitudeScale(), 0.3f);
    Fx::wheel(view, {500, 50}, {0, -120}, Qt::ShiftModifier);
    QCOMPARE(view->amplitudeScale(), 0.3f);
    for (int i = 0; i < 30; ++i)
        Fx::wheel(view, {500, 50}, {0, 120}, Qt::ShiftModifier);
    QCOMPARE(view->amplitudeScale(), 2.5f);
}

void WaveformKeysWheelTest::ctrlShiftWheelNudgesSelectedPoint()
{
    Cue* cue = f.makeCue(10000);
    cue->setVolumeEnvelope({0, 3000, 3200, 10000}, {1.0, 0.5, 0.5, 1.0});
    cue->setEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;

    // Nothing selected: Ctrl+Shift zooms.
    Fx::wheel(view, {500, 50}, {0, 120}, both);
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3000, 3200, 10000}));
    QVERIFY(view->viewEndMs() - view->viewStartMs() < 10000);
    view->zoomToFit();

    // A click selects the point at 3 s (x 300, y 48); it stays selected.
    QTest::mouseClick(view, Qt::LeftButton, {}, {300, 48});
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3000, 3200, 10000}));
    Fx::wheel(view, {500, 50}, {0, 120}, both);
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3050, 3200, 10000}));
    Fx::wheel(view, {500, 50}, {0, 240}, both);
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3100, 3200, 10000}));  // 100 ms from its neighbour
    Fx::wheel(view, {500, 50}, {0, -120}, both);
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3050, 3200, 10000}));
    QCOMPARE(view->viewEndMs(), qint64(10000));  // the nudge does not zoom
}

void WaveformKeysWheelTest::pinchZoomsAndDrags()
{
    WaveformWidget* view = f.makeView(f.makeCue(60000));
    QVERIFY(view);
    // The test owns the touch device it makes.
    const std::unique_ptr<QPointingDevice> device(QTest::createTouchDevice());
    QPointingDevice* screen = device.get();

    // Two fingers 100 px apart around x 500 (30 s) spread to 150 px.
    QTest::touchEvent(view, screen).press(0, {450, 50}).press(1, {550, 50});
    QTest::touchEvent(view, screen).move(0, {425, 50}).move(1, {575, 50});
    QCOMPARE(view->viewEndMs() - view->viewStartMs(), qint64(40000));
    QCOMPARE(view->viewStartMs(), qint64(10000));

    // Both fingers 100 px to the right drag the view 4 s back.
    QTest::touchEvent(view, screen).move(0, {525, 50}).move(1, {675, 50});
    QCOMPARE(view->viewStartMs(), qint64(6000));
    QCOMPARE(view->viewEndMs(), qint64(46000));
    QTest::touchEvent(view, screen).release(0, {525, 50}).release(1, {675, 50});

    // A new pinch starts from its own distance.
    QTest::touchEvent(view, screen).press(0, {500, 50}).press(1, {600, 50});
    QTest::touchEvent(view, screen).move(0, {500, 50}).move(1, {601, 50});
    QCOMPARE(view->viewEndMs() - view->viewStartMs(), qint64(40000));  // 1 px is below the threshold
    QTest::touchEvent(view, screen).release(0, {500, 50}).release(1, {601, 50});
    QVERIFY(view->isFreeView());
}

QTEST_MAIN(WaveformKeysWheelTest)
#include "WaveformKeysWheelTest.moc"
