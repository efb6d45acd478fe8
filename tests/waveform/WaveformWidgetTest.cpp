#include "WaveformViewFixture.h"

#include "waveform/WaveformLabelLayout.h"
#include "support/HeldThreadPool.h"
#include "support/LogCapture.h"
#include "support/TestTiming.h"

#include <QSignalSpy>
#include <QtTest>

// The view's binding to a cue, its coordinate maps and view state, and what
// it paints (probed on grab()).
class WaveformWidgetTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void coordinateMaps_data();
    void coordinateMaps();
    void timeTexts_data();
    void timeTexts();

    void envelopePointListTravelsQueued();
    void bindingBuildsDefaultPoints_data();
    void bindingBuildsDefaultPoints();
    void rebindingSameCueKeepsViewAndReloadsPoints();
    void audioDataWarnsAboutLeadingZeros_data();
    void audioDataWarnsAboutLeadingZeros();
    void playbackPositionIsClampedAndFiltered();
    void showModeLocksToStoredLoop_data();
    void showModeLocksToStoredLoop();
    void loopViewOfWholeFileShowsWholeFile();
    void amplitudeScaleIsClamped_data();
    void amplitudeScaleIsClamped();
    void envelopeEditModeNeedsBothEnvelopes();
    void cueEnvelopeSwitchesChooseEditedEnvelope();
    void destroyedCueIsHarmless();

    void playheadTickRedrawsOnlyThePlayhead();
    void playheadTickPaintsWithoutThePool();
    void playheadIsDrawnAtItsTime();
    void loopRegionShadesOutside();
    void waveformIsDrawnAroundMiddle();
    void ticksFollowVisibleSpan();
    void showModeDrawsNoTimeAxisOrShading();
    void missingFileIsShown();
    void textsNeverOverlap_data();
    void textsNeverOverlap();

private:
    WaveformWidget* dressedView(Cue*& cue);

    WaveformViewFixture f;
    QTemporaryDir m_dbDir;
};

namespace {

QColor pixel(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// A 2 px line drawn at column x covers x and one neighbour.
bool onColumn(const QImage& image, int x, int y, const QColor& color)
{
    return near(image.pixelColor(x - 1, y), color) || near(image.pixelColor(x, y), color)
        || near(image.pixelColor(x + 1, y), color);
}

QImage shot(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

const QColor kBackground(25, 25, 30);

}  // namespace

void WaveformWidgetTest::initTestCase()
{
    QVERIFY(WaveformViewFixture::initDatabase(m_dbDir));
}

void WaveformWidgetTest::cleanupTestCase()
{
    WaveformViewFixture::shutdownRegistry();
}

void WaveformWidgetTest::cleanup()
{
    f.view.reset();
    f.cue.reset();
}

void WaveformWidgetTest::coordinateMaps_data()
{
    QTest::addColumn<QString>("map");
    QTest::addColumn<double>("input");
    QTest::addColumn<double>("expected");

    QTest::newRow("time to x") << "timeToX" << 25000.0 << 250.0;
    QTest::newRow("time before view") << "timeToX" << -1000.0 << -10.0;
    QTest::newRow("x to time") << "xToTime" << 250.5 << 25050.0;
    QTest::newRow("gain 1 at top of band") << "gainToY" << 1.0 << 10.0;
    QTest::newRow("gain 0 at bottom of band") << "gainToY" << 0.0 << 86.0;
    QTest::newRow("gain above 1 stays in band") << "gainToY" << 2.0 << 10.0;
    QTest::newRow("half gain") << "yToGain" << 48.0 << 0.5;
    QTest::newRow("above band reads full") << "yToGain" << 0.0 << 1.0;
    QTest::newRow("below band reads silent") << "yToGain" << 99.0 << 0.0;
    QTest::newRow("pan left at top") << "panToY" << -1.0 << 10.0;
    QTest::newRow("pan centre") << "panToY" << 0.0 << 48.0;
    QTest::newRow("pan right at bottom") << "panToY" << 1.0 << 86.0;
    QTest::newRow("y to pan half right") << "yToPan" << 67.0 << 0.5;
    QTest::newRow("y to pan clamped") << "yToPan" << 0.0 << -1.0;
    // Loop region 20..80 s: the fade maps measure from its ends.
    QTest::newRow("fade in from x") << "fadeInFromX" << 300.0 << 10000.0;
    QTest::newRow("fade in before loop") << "fadeInFromX" << 100.0 << 0.0;
    QTest::newRow("fade out from x") << "fadeOutFromX" << 700.0 << 10000.0;
    QTest::newRow("fade out past loop end") << "fadeOutFromX" << 900.0 << 0.0;
}

void WaveformWidgetTest::coordinateMaps()
{
    QFETCH(QString, map);
    QFETCH(double, input);
    QFETCH(double, expected);
    WaveformWidget* view = f.makeView(f.makeCue(100000, 20000, 80000));
    QVERIFY(view);

    double result = 0;
    if (map == "timeToX")
        result = view->timeToX(qint64(input));
    else if (map == "xToTime")
        result = double(view->xToTime(float(input)));
    else if (map == "gainToY")
        result = view->gainToY(float(input));
    else if (map == "yToGain")
        result = view->yToGain(float(input));
    else if (map == "panToY")
        result = view->panToY(input);
    else if (map == "yToPan")
        result = view->yToPan(float(input));
    else if (map == "fadeInFromX")
        result = double(view->fadeInFromX(float(input)));
    else if (map == "fadeOutFromX")
        result = double(view->fadeOutFromX(float(input)));
    QVERIFY2(std::abs(result - expected) < 0.01, qPrintable(QString::number(result)));
}

void WaveformWidgetTest::timeTexts_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("position") << "position" << "65432" << "1:05.43";
    QTest::newRow("position past an hour") << "position" << "3725000" << "62:05.00";
    QTest::newRow("tick label") << "minutesSeconds" << "65000" << "1:05";
    QTest::newRow("dotted") << "dotted" << "65432" << "01.05.43";
    QTest::newRow("dotted negative") << "dotted" << "-500" << "00.00.00";
    QTest::newRow("seconds") << "seconds" << "125" << "02:05";
    QTest::newRow("parse dotted") << "parse" << "1.02.50" << "62500";
    QTest::newRow("parse colon") << "parse" << " 1:02.5 " << "62500";
    QTest::newRow("parse decimal seconds") << "parse" << "62.5" << "62500";
    QTest::newRow("parse plain seconds") << "parse" << "62" << "62000";
    QTest::newRow("parse nonsense") << "parse" << "1:xx" << "0";
    QTest::newRow("parse empty") << "parse" << "" << "0";
}

void WaveformWidgetTest::timeTexts()
{
    QFETCH(QString, format);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QString result;
    if (format == "position")
        result = WaveformWidget::formatPosition(input.toLongLong());
    else if (format == "minutesSeconds")
        result = WaveformWidget::formatMinutesSeconds(input.toLongLong());
    else if (format == "dotted")
        result = WaveformWidget::formatDotted(input.toLongLong());
    else if (format == "seconds")
        result = WaveformWidget::formatSeconds(input.toInt());
    else
        result = QString::number(WaveformWidget::parseTimeText(input));
    QCOMPARE(result, expected);
}

// The main window takes edited points through a queued slot.
class PointSink : public QObject {
    Q_OBJECT
public:
    QList<EnvelopePoint> received;
public Q_SLOTS:
    void onEnvelopePointsChanged(QList<EnvelopePoint> points) { received = points; }
};

void WaveformWidgetTest::envelopePointListTravelsQueued()
{
    WaveformWidget view;
    QVERIFY(QMetaType::fromName("QList<EnvelopePoint>").isValid());
    PointSink sink;
    const QList<EnvelopePoint> points{{0, 1.0, false}, {2500, 0.4, true}};
    QVERIFY(QMetaObject::invokeMethod(&sink, "onEnvelopePointsChanged", Qt::QueuedConnection,
                                      Q_ARG(QList<EnvelopePoint>, points)));
    QTRY_COMPARE(sink.received.size(), 2);
    QCOMPARE(sink.received[1].timeMs, qint64(2500));
    QVERIFY(sink.received[1].selected);
}

void WaveformWidgetTest::bindingBuildsDefaultPoints_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("lastPointMs");
    QTest::addColumn<qint64>("viewEndMs");

    QTest::newRow("with duration") << qint64(100000) << qint64(100000) << qint64(100000);
    QTest::newRow("without duration") << qint64(0) << qint64(10000) << qint64(300000);
}

void WaveformWidgetTest::bindingBuildsDefaultPoints()
{
    QFETCH(qint64, duration);
    QFETCH(qint64, lastPointMs);
    QFETCH(qint64, viewEndMs);
    WaveformWidget* view = f.makeView(f.makeCue(duration));
    QVERIFY(view);

    const QList<EnvelopePoint> volume = view->editedVolumePoints();
    QCOMPARE(volume.size(), 2);
    QCOMPARE(volume[0].timeMs, qint64(0));
    QCOMPARE(volume[0].value, 1.0);
    QCOMPARE(volume[1].timeMs, lastPointMs);
    QCOMPARE(volume[1].value, 1.0);
    const QList<EnvelopePoint> pan = view->editedPanPoints();
    QCOMPARE(pan.size(), 2);
    QCOMPARE(pan[1].timeMs, lastPointMs);
    QCOMPARE(pan[0].value, 0.0);
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), viewEndMs);
    QVERIFY(view->hasWaveform());
    QVERIFY(view->isFreeView());
    QCOMPARE(view->playheadMs(), qint64(0));
}

void WaveformWidgetTest::rebindingSameCueKeepsViewAndReloadsPoints()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QCOMPARE(view->playheadMs(), qint64(20000));  // a cue that does not play starts at its loop start
    view->zoomAt(2.0f, 50000);
    view->setPosition(40000);
    // Stored points arrive without a change signal, as the loaders write them.
    cue->assignStoredPanEnvelope({0, 30000, 100000}, {0.0, -0.5, 0.0});
    QCOMPARE(view->editedPanPoints().size(), 2);

    view->setCue(cue);
    QCOMPARE(view->viewStartMs(), qint64(25000));
    QCOMPARE(view->viewEndMs(), qint64(75000));
    QCOMPARE(view->playheadMs(), qint64(40000));
    QCOMPARE(view->editedPanPoints().size(), 3);
    QCOMPARE(view->editedPanPoints()[1].value, -0.5);
}

void WaveformWidgetTest::audioDataWarnsAboutLeadingZeros_data()
{
    QTest::addColumn<QList<float>>("peaks");
    QTest::addColumn<int>("reported");  // -1: no warning

    QTest::newRow("two leading zeros") << QList<float>{0.0005f, 0.0f, 0.2f, 0.5f} << 2;
    QList<float> quiet(150, 0.0f);
    quiet.append(0.5f);
    QTest::newRow("counts at most 100") << quiet << 100;
    QTest::newRow("short and silent") << QList<float>{0.0f, 0.0f, 0.0f} << 3;
    QTest::newRow("sound from the start") << QList<float>{0.3f, 0.0f} << -1;
    QTest::newRow("empty") << QList<float>{} << -1;
}

void WaveformWidgetTest::audioDataWarnsAboutLeadingZeros()
{
    QFETCH(QList<float>, peaks);
    QFETCH(int, reported);
    WaveformWidget* view = f.makeView(f.makeCue());
    QVERIFY(view);
    LogCapture log;
    view->setAudioData(peaks);
    QCOMPARE(view->hasWaveform(), !peaks.isEmpty());
    if (reported < 0) {
        QVERIFY(!log.contains("leading zeros"));
    } else {
        QVERIFY2(log.contains(QStringLiteral("⚠️ WaveformWidget::setAudioData - Found %1 leading zeros at the "
                                             "beginning!")
                                  .arg(reported)),
                 qPrintable(log.lines().join('\n')));
    }
}

void WaveformWidgetTest::playbackPositionIsClampedAndFiltered()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    Cue other(-1, "other", f.placeholder("other.wav"));

    view->setPlaybackPosition(cue, 95000);
    QCOMPARE(view->playheadMs(), qint64(80000));  // held at the loop end
    view->setPlaybackPosition(cue, 5000);
    QCOMPARE(view->playheadMs(), qint64(20000));
    view->setPlaybackPosition(cue, 50000);
    view->setPlaybackPosition(&other, 70000);  // another cue plays: not ours
    QCOMPARE(view->playheadMs(), qint64(50000));

    // While the operator seeks, the engine's reports do not move the playhead.
    WaveformViewFixture::press(view, {300, 50});
    QCOMPARE(view->playheadMs(), qint64(30000));
    view->setPlaybackPosition(cue, 60000);
    QCOMPARE(view->playheadMs(), qint64(30000));
    WaveformViewFixture::release(view, {300, 50});

    view->setPlaybackPosition(cue, 60000);
    view->setPlaybackPosition(nullptr, 12345);  // playback stopped: back to the loop start
    QCOMPARE(view->playheadMs(), qint64(20000));
    view->setPosition(33000);
    view->setPlaybackPosition(nullptr, 12345);  // nothing was playing: ignored
    QCOMPARE(view->playheadMs(), qint64(33000));
}

void WaveformWidgetTest::showModeLocksToStoredLoop_data()
{
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("freeView");
    QTest::addColumn<qint64>("viewStart");
    QTest::addColumn<qint64>("viewEnd");

    QTest::newRow("loop region") << qint64(20000) << qint64(80000) << false << qint64(20000) << qint64(80000);
    QTest::newRow("whole file, loop end 0") << qint64(0) << qint64(0) << true << qint64(0) << qint64(100000);
}

void WaveformWidgetTest::showModeLocksToStoredLoop()
{
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, freeView);
    QFETCH(qint64, viewStart);
    QFETCH(qint64, viewEnd);
    WaveformWidget* view = f.makeView(f.makeCue(100000, loopStart, loopEnd));
    QVERIFY(view);
    view->zoomAt(4.0f, 50000);

    view->setShowMode(true);
    QVERIFY(view->showMode());
    QCOMPARE(view->isFreeView(), freeView);
    QCOMPARE(view->viewStartMs(), viewStart);
    QCOMPARE(view->viewEndMs(), viewEnd);

    view->setShowMode(false);
    QVERIFY(view->isFreeView());
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(100000));
}

void WaveformWidgetTest::loopViewOfWholeFileShowsWholeFile()
{
    // A cue whose loop region was never set stores a loop end of 0.
    Cue* cue = f.makeCue(100000);
    QCOMPARE(cue->loopEndMs(), qint64(0));
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->zoomAt(4.0f, 50000);

    view->toggleLoopView();
    QVERIFY(!view->isFreeView());
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(100000));
    view->toggleLoopView();
    QVERIFY(view->isFreeView());
    QCOMPARE(view->viewEndMs(), qint64(100000));

    cue->setLoopRange(20000, 80000, false);
    view->toggleLoopView();
    QCOMPARE(view->viewStartMs(), qint64(20000));
    QCOMPARE(view->viewEndMs(), qint64(80000));
    view->showFullRange();  // leaves the range, frees the handles
    QVERIFY(view->isFreeView());
    QCOMPARE(view->viewStartMs(), qint64(20000));
}

void WaveformWidgetTest::amplitudeScaleIsClamped_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<float>("stored");
    QTest::newRow("above") << 5.0f << 2.5f;
    QTest::newRow("zero") << 0.0f << 0.3f;
    QTest::newRow("inside") << 1.7f << 1.7f;
}

void WaveformWidgetTest::amplitudeScaleIsClamped()
{
    QFETCH(float, scale);
    QFETCH(float, stored);
    WaveformWidget view;
    view.setAmplitudeScale(scale);
    QCOMPARE(view.amplitudeScale(), stored);
}

void WaveformWidgetTest::envelopeEditModeNeedsBothEnvelopes()
{
    Cue* cue = f.makeCue();
    cue->setPanEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(view->isEditingPan());  // the only envelope that is on
    view->setEnvelopeEditMode(false);
    QVERIFY(view->isEditingPan());

    cue->setEnvelopeEnabled(true);
    QVERIFY(!view->isEditingPan());  // switching an envelope on edits it
    view->setEnvelopeEditMode(true);
    QVERIFY(view->isEditingPan());
}

void WaveformWidgetTest::cueEnvelopeSwitchesChooseEditedEnvelope()
{
    Cue* cue = f.makeCue();
    cue->setEnvelopeEnabled(true);
    cue->setPanEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(view->isEditingPan());  // both on: starts on pan
    cue->setPanEnvelopeEnabled(false);
    QVERIFY(!view->isEditingPan());
    cue->setPanEnvelopeEnabled(true);
    QVERIFY(view->isEditingPan());
    cue->setEnvelopeEnabled(false);
    QVERIFY(view->isEditingPan());
}

void WaveformWidgetTest::destroyedCueIsHarmless()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    // A loop start drag is under way when the cue goes away and another one
    // is shown: the drag does not carry over to it.
    WaveformViewFixture::press(view, {204, WaveformViewFixture::kHandleY});
    WaveformViewFixture::move(view, {260, WaveformViewFixture::kHandleY});
    f.cue.reset();
    QVERIFY(!view->cue());
    Cue* next = f.makeCue(100000, 20000, 80000);
    view->setCue(next);
    WaveformViewFixture::move(view, {600, WaveformViewFixture::kHandleY});
    WaveformViewFixture::release(view, {600, WaveformViewFixture::kHandleY});
    QCOMPARE(next->loopStartMs(), qint64(20000));
    QVERIFY(!next->isDirty());

    // Every operation on a view whose cue was destroyed does nothing harmful.
    WaveformViewFixture::press(view, {500, 50});
    f.cue.reset();
    QVERIFY(!view->cue());
    view->setPlaybackPosition(nullptr, 0);
    view->setPosition(1000);
    view->setShowMode(true);
    view->setShowMode(false);
    view->toggleLoopView();
    view->showFullRange();
    view->zoomToFit();
    view->zoomAt(2.0f, 500);
    view->setEnvelopeEditMode(true);
    view->setFadeEnabled(true);
    view->setEnvelopeEnabled(true);
    view->updateLoopValid();
    QVERIFY(!view->isLoopValid());
    QCOMPARE(view->volumeAt(500), 1.0);
    WaveformViewFixture::move(view, {300, 50});
    WaveformViewFixture::release(view, {300, 50});
    QVERIFY(!view->isMousePressed());
    WaveformViewFixture::doubleClick(view, {500, 95});
    WaveformViewFixture::wheel(view, {500, 50}, {0, 120});
    QTest::keyClick(view, Qt::Key_I);
    QVERIFY(!shot(view).isNull());
    view->setCue(nullptr);
    QVERIFY(!shot(view).isNull());
}

// A cue with a loop region, fades and both envelopes, in a shown view.
WaveformWidget* WaveformWidgetTest::dressedView(Cue*& cue)
{
    cue = f.makeCue(100000, 20000, 80000);
    cue->setFadeEnabled(true);
    cue->setEnvelopeEnabled(true);
    cue->setPanEnvelopeEnabled(true);
    return f.makeView(cue);
}

void WaveformWidgetTest::playheadTickRedrawsOnlyThePlayhead()
{
    Cue* cue = nullptr;
    WaveformWidget* view = dressedView(cue);
    QVERIFY(view);
    view->repaint();
    const int backgrounds = view->backgroundRebuildCount();
    const int placements = view->playheadPlacementCount();
    QVERIFY(backgrounds >= 1);

    for (int i = 1; i <= 20; ++i) {
        view->setPlaybackPosition(cue, 20000 + i * 1000);
        view->repaint();
    }
    QCOMPARE(view->backgroundRebuildCount(), backgrounds);
    QCOMPARE(view->playheadPlacementCount(), placements + 20);

    view->setAmplitudeScale(1.5f);  // a change of the static layers redraws them once
    view->repaint();
    view->repaint();
    QCOMPARE(view->backgroundRebuildCount(), backgrounds + 1);
}

// Qt's raster engine hands a drawing of many spans (a line the view's height,
// a layer's fill) to the global pool in parts and waits for them. The pool
// also runs the waveform analyses, and on a busy or virtual machine each
// hand-over costs a wake-up of another core: a playhead tick, ten times a
// second while a cue plays, must not go through it.
void WaveformWidgetTest::playheadTickPaintsWithoutThePool()
{
    Cue* cue = nullptr;
    WaveformWidget* view = dressedView(cue);
    QVERIFY(view);
    view->repaint();

    constexpr int kHeldMs = 500;
    HeldThreadPool held(kHeldMs);
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= 3; ++i) {
        view->setPlaybackPosition(cue, 20000 + i * 1000);
        view->repaint();
    }
    const qint64 paintMs = timer.elapsed();
    held.release();
    QVERIFY2(paintMs < kHeldMs / 2 * TestTiming::kSlowdown, qPrintable(QStringLiteral("three playhead ticks took %1 ms, waiting for the pool")
                                                    .arg(paintMs)));
}

void WaveformWidgetTest::playheadIsDrawnAtItsTime()
{
    WaveformWidget* view = f.makeView(f.makeCue());
    QVERIFY(view);
    view->setPosition(45000);
    const QImage image = shot(view);
    const QColor playhead(255, 100, 100);
    QVERIFY(onColumn(image, 450, 50, playhead));
    QVERIFY(!near(pixel(image, 460, 50), playhead));
    QVERIFY(!near(pixel(image, 440, 50), playhead));

    view->setPlayheadColor(QColor(0, 255, 0));
    view->setPosition(70000);
    const QImage moved = shot(view);
    QVERIFY(onColumn(moved, 700, 50, QColor(0, 255, 0)));
    QVERIFY(!near(pixel(moved, 450, 50), playhead));
}

void WaveformWidgetTest::loopRegionShadesOutside()
{
    WaveformWidget* view = f.makeView(f.makeCue(100000, 20000, 80000));
    QVERIFY(view);
    const QImage image = shot(view);
    // Above the waveform, away from ticks, labels and the playhead.
    const QColor shaded = pixel(image, 150, 15);
    const QColor inside = pixel(image, 450, 15);
    QVERIFY2(near(inside, kBackground), qPrintable(inside.name()));
    QVERIFY2(near(shaded, QColor(17, 17, 21)), qPrintable(shaded.name()));  // black at alpha 80 over it
    QVERIFY(near(pixel(image, 830, 15), QColor(17, 17, 21)));
    // The loop lines.
    const QColor line(255, 200, 80);
    QVERIFY(onColumn(image, 800, 40, line));
    QVERIFY(onColumn(image, 200, 40, QColor(255, 100, 100)));  // the playhead stands on the start line
}

void WaveformWidgetTest::waveformIsDrawnAroundMiddle()
{
    WaveformWidget* view = f.makeView(f.makeCue());
    QVERIFY(view);
    const QImage image = shot(view);
    // Peaks of 0.5 reach 25 px above and below the middle row (y 50).
    const QColor outline = pixel(image, 420, 25);
    QVERIFY2(outline.blue() > 150 && outline.red() < 40, qPrintable(outline.name()));
    const QColor filled = pixel(image, 420, 40);
    QVERIFY2(filled.blue() > kBackground.blue() + 10 && !near(filled, kBackground), qPrintable(filled.name()));
    QVERIFY(near(pixel(image, 420, 15), kBackground));
    QVERIFY(near(pixel(image, 420, 80), kBackground));

    view->setAmplitudeScale(2.0f);
    const QImage taller = shot(view);
    QVERIFY(near(pixel(taller, 420, 15), kBackground, 100) && !near(pixel(taller, 420, 15), kBackground));
}

void WaveformWidgetTest::ticksFollowVisibleSpan()
{
    // A 4 s view from 7.3 s: a tick every second, the first at 8 s.
    Cue* cue = f.makeCue(100000, 7300, 11300);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->toggleLoopView();
    QCOMPARE(view->viewStartMs(), qint64(7300));
    const QImage image = shot(view);
    const QColor grid(50, 50, 60);
    for (int x : {175, 425, 675})
        QVERIFY2(near(pixel(image, x, 15), grid), qPrintable(QString::number(x)));
    QVERIFY(near(pixel(image, 300, 15), kBackground));
    QVERIFY(near(pixel(image, 100, 15), kBackground));
}

void WaveformWidgetTest::showModeDrawsNoTimeAxisOrShading()
{
    WaveformWidget* view = f.makeView(f.makeCue(100000));
    QVERIFY(view);
    const QColor grid(50, 50, 60);
    QVERIFY(near(pixel(shot(view), 300, 15), grid));  // the 30 s tick
    view->setShowMode(true);
    const QImage image = shot(view);
    QVERIFY(near(pixel(image, 300, 15), kBackground));
}

void WaveformWidgetTest::missingFileIsShown()
{
    WaveformWidget* view = f.makeView(f.makeCue(100000, 0, 0, false));
    QVERIFY(view);
    const QImage image = shot(view);
    // rgba(80, 30, 30, 150) over the background, and no waveform.
    QVERIFY2(near(pixel(image, 950, 40), QColor(57, 28, 30)), qPrintable(pixel(image, 950, 40).name()));
    QVERIFY(near(pixel(image, 420, 25), QColor(57, 28, 30)));
}


// The strip is 78 px high in the window. Whatever the loop, the fades, the
// edited envelope and the playhead, no text covers another ("S:0:00" under
// "0:24.64", "中:0%" over "0:00.00" and "音频总长"), none leaves the view, and
// the live times and the loop marks are always shown.
void WaveformWidgetTest::textsNeverOverlap_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("pan");
    QTest::addColumn<double>("playheadShare");  // of the loop region
    for (const int width : {1000, 1339}) {
        for (const double share : {0.0, 0.02, 0.5, 0.97, 1.0}) {
            const QByteArray at = QByteArray::number(width) + " px, playhead at " + QByteArray::number(share);
            QTest::newRow("whole short file, pan edited, " + at) << width << qint64(24640) << qint64(0)
                                                                  << qint64(24640) << true << share;
            QTest::newRow("region inside, volume edited, " + at) << width << qint64(40000) << qint64(5000)
                                                                   << qint64(30000) << false << share;
            QTest::newRow("narrow region, " + at) << width << qint64(300000) << qint64(100000) << qint64(103000)
                                                  << true << share;
        }
    }
}

void WaveformWidgetTest::textsNeverOverlap()
{
    QFETCH(int, width);
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, pan);
    QFETCH(double, playheadShare);
    Cue* cue = f.makeCue(duration, loopStart, loopEnd);
    cue->setFadeEnabled(true);
    cue->setFadeDurations(1000, 1500);
    if (pan) {
        cue->setPanEnvelope({0, duration / 2, duration}, {0.0, -0.5, 0.0});
        cue->setPanEnvelopeEnabled(true);
    } else {
        cue->setVolumeEnvelope({0, duration / 3, duration}, {1.0, 0.6, 1.0});
        cue->setEnvelopeEnabled(true);
    }
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->setFixedSize(width, 78);
    QCoreApplication::processEvents();
    view->setPosition(loopStart + qint64(double(loopEnd - loopStart) * playheadShare));

    const QList<WaveformLabel> labels = view->placedLabels();
    QStringList texts;
    for (int i = 0; i < labels.size(); ++i) {
        texts << labels[i].text;
        QVERIFY2(view->rect().contains(labels[i].rect), qPrintable(labels[i].text));
        // The whole text fits its box.
        const QFontMetrics metrics(labels[i].font);
        QVERIFY2(metrics.horizontalAdvance(labels[i].text) <= labels[i].rect.width(), qPrintable(labels[i].text));
        QVERIFY2(metrics.height() <= labels[i].rect.height() + 2, qPrintable(labels[i].text));
        for (int j = i + 1; j < labels.size(); ++j) {
            QVERIFY2(!labels[i].rect.intersects(labels[j].rect),
                     qPrintable(QStringLiteral("\"%1\" and \"%2\" overlap").arg(labels[i].text, labels[j].text)));
        }
    }
    auto shown = [&](const QString& prefix) {
        return std::any_of(texts.cbegin(), texts.cend(), [&](const QString& t) { return t.startsWith(prefix); });
    };
    QCOMPARE(std::count_if(labels.cbegin(), labels.cend(),
                           [](const WaveformLabel& l) { return l.kind == WaveformLabel::Kind::Playhead; }),
             2);
    QVERIFY2(shown(QStringLiteral("S:")), qPrintable(texts.join(" | ")));
    QVERIFY2(shown(QStringLiteral("E:")), qPrintable(texts.join(" | ")));
    QVERIFY2(shown(QStringLiteral("in ")), qPrintable(texts.join(" | ")));
}

QTEST_MAIN(WaveformWidgetTest)
#include "WaveformWidgetTest.moc"
