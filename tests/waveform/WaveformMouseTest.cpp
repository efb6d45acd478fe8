#include "WaveformViewFixture.h"

#include <QInputDialog>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

// Mouse gestures on the waveform view and what they write to the cue: loop
// handles and grip, fades, envelope points, seeking, view dragging.
//
// Loop gestures run on a 100 s cue (100 ms per pixel) with the loop region
// 20..80 s: start handle at x 200, end handle at x 800, grip at x 480..519
// near the bottom edge. Envelope gestures run on a 10 s cue (10 ms per pixel).
class WaveformMouseTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void loopHandleDrags_data();
    void loopHandleDrags();
    void loopDragInsideDeadZoneSavesNothing_data();
    void loopDragInsideDeadZoneSavesNothing();
    void loopMoveKeepsLength_data();
    void loopMoveKeepsLength();
    void fadesShrinkToFitLoop_data();
    void fadesShrinkToFitLoop();
    void fadeHandleGestures_data();
    void fadeHandleGestures();

    void volumePointGestures_data();
    void volumePointGestures();
    void panPointGestures();
    void pressOnOtherEnvelopeSeeks();
    void pointDialogs_data();
    void pointDialogs();

    void seekClickEmitsAtRelease();
    void loopViewPressesSeek();
    void rightDragMovesView();
    void doubleClicksOnHandlesAndGrip();
    void showModeIgnoresPresses();

private:
    WaveformViewFixture f;
    QTemporaryDir m_dbDir;
};

namespace {

constexpr int kHandleY = WaveformViewFixture::kHandleY;
constexpr int kGripY = WaveformViewFixture::kHeight - 5;

using Fx = WaveformViewFixture;

// Answers the next modal input dialog with text, or cancels it when text is null.
void answerNextDialog(const QString& text)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, text] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (text.isNull()) {
            dialog->reject();
        } else {
            dialog->setTextValue(text);
            dialog->accept();
        }
        poll->deleteLater();
    });
    poll->start(10);
}

}  // namespace

void WaveformMouseTest::initTestCase()
{
    QVERIFY(WaveformViewFixture::initDatabase(m_dbDir));
}

void WaveformMouseTest::cleanupTestCase()
{
    WaveformViewFixture::shutdownRegistry();
}

void WaveformMouseTest::cleanup()
{
    f.view.reset();
    f.cue.reset();
}

void WaveformMouseTest::loopHandleDrags_data()
{
    QTest::addColumn<int>("fromX");
    QTest::addColumn<int>("toX");
    QTest::addColumn<qint64>("playheadBefore");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<qint64>("playheadAfter");

    QTest::newRow("start right pushes playhead") << 200 << 700 << qint64(20000) << qint64(70000) << qint64(80000)
                                                 << qint64(70000);
    QTest::newRow("start stops 2 s before end") << 204 << 795 << qint64(20000) << qint64(78000) << qint64(80000)
                                                << qint64(78000);
    QTest::newRow("start left leaves playhead") << 200 << 50 << qint64(50000) << qint64(5000) << qint64(80000)
                                                << qint64(50000);
    QTest::newRow("start past file start") << 200 << -40 << qint64(50000) << qint64(0) << qint64(80000)
                                           << qint64(50000);
    QTest::newRow("end left pushes playhead") << 800 << 300 << qint64(50000) << qint64(20000) << qint64(30000)
                                              << qint64(30000);
    QTest::newRow("end stops 2 s after start") << 796 << 150 << qint64(50000) << qint64(20000) << qint64(22000)
                                               << qint64(22000);
    QTest::newRow("end right to file end") << 800 << 1040 << qint64(50000) << qint64(20000) << qint64(100000)
                                           << qint64(50000);
}

void WaveformMouseTest::loopHandleDrags()
{
    QFETCH(int, fromX);
    QFETCH(int, toX);
    QFETCH(qint64, playheadBefore);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(qint64, playheadAfter);
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->setPosition(playheadBefore);
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);
    QSignalSpy dragging(view, &WaveformWidget::loopRangeDragging);

    Fx::drag(view, {fromX, kHandleY}, {toX, kHandleY});

    QCOMPARE(cue->loopStartMs(), loopStart);
    QCOMPARE(cue->loopEndMs(), loopEnd);
    QCOMPARE(view->playheadMs(), playheadAfter);
    QCOMPARE(clicked.isEmpty(), playheadAfter == playheadBefore);
    if (!clicked.isEmpty())
        QCOMPARE(clicked.last().at(0).toLongLong(), playheadAfter);
    QVERIFY(!dragging.isEmpty());
    QCOMPARE(dragging.last().at(0).toLongLong(), loopStart);
    QCOMPARE(dragging.last().at(1).toLongLong(), loopEnd);
    // Committed at the release.
    QVERIFY(!cue->isDirty());
    QCOMPARE(f.stored()->loopStartMs(), loopStart);
    QCOMPARE(f.stored()->loopEndMs(), loopEnd);
    QVERIFY(!view->isMousePressed());
}

void WaveformMouseTest::loopDragInsideDeadZoneSavesNothing_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("start handle") << QPoint(200, kHandleY) << QPoint(203, kHandleY + 2);
    QTest::newRow("end handle") << QPoint(800, kHandleY) << QPoint(795, kHandleY);
    QTest::newRow("grip") << QPoint(500, kGripY) << QPoint(504, kGripY);
}

void WaveformMouseTest::loopDragInsideDeadZoneSavesNothing()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    Fx::drag(view, from, to, Qt::LeftButton, {}, 1);
    QCOMPARE(f.stored()->loopStartMs(), qint64(20000));
    QCOMPARE(f.stored()->loopEndMs(), qint64(80000));
    QVERIFY(!view->isMousePressed());
}

void WaveformMouseTest::loopMoveKeepsLength_data()
{
    QTest::addColumn<int>("toX");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<qint64>("playhead");

    QTest::newRow("right") << 600 << qint64(30000) << qint64(90000) << qint64(30000);
    QTest::newRow("left past file start") << 200 << qint64(0) << qint64(60000) << qint64(20000);
    QTest::newRow("right past file end") << 800 << qint64(40000) << qint64(100000) << qint64(40000);
}

void WaveformMouseTest::loopMoveKeepsLength()
{
    QFETCH(int, toX);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(qint64, playhead);
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QSignalSpy dragging(view, &WaveformWidget::loopRangeDragging);

    Fx::drag(view, {500, kGripY}, {toX, kGripY});

    QCOMPARE(cue->loopStartMs(), loopStart);
    QCOMPARE(cue->loopEndMs(), loopEnd);
    QCOMPARE(view->playheadMs(), playhead);
    QCOMPARE(dragging.last().at(0).toLongLong(), loopStart);
    QCOMPARE(dragging.last().at(1).toLongLong(), loopEnd);
    QCOMPARE(f.stored()->loopStartMs(), loopStart);
    QCOMPARE(f.stored()->loopEndMs(), loopEnd);
}

void WaveformMouseTest::fadesShrinkToFitLoop_data()
{
    QTest::addColumn<int>("toX");
    QTest::addColumn<qint64>("fadeIn");
    QTest::addColumn<qint64>("fadeOut");

    QTest::newRow("loop of 20 s") << 400 << qint64(12000) << qint64(8000);
    QTest::newRow("loop of 5 s") << 250 << qint64(3000) << qint64(2000);
    QTest::newRow("loop still long enough") << 600 << qint64(15000) << qint64(10000);
}

void WaveformMouseTest::fadesShrinkToFitLoop()
{
    QFETCH(int, toX);
    QFETCH(qint64, fadeIn);
    QFETCH(qint64, fadeOut);
    Cue* cue = f.makeCue(100000, 20000, 80000);
    cue->setFadeEnabled(true);
    cue->setFadeDurations(15000, 10000);
    cue->saveToDatabase(false);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);

    Fx::drag(view, {800, kHandleY}, {toX, kHandleY}, Qt::LeftButton, {}, 1);

    QCOMPARE(cue->loopEndMs(), qint64(toX) * 100);
    QCOMPARE(cue->fadeInMs(), fadeIn);
    QCOMPARE(cue->fadeOutMs(), fadeOut);
    QCOMPARE(f.stored()->fadeInMs(), fadeIn);
    QCOMPARE(f.stored()->fadeOutMs(), fadeOut);
}

void WaveformMouseTest::fadeHandleGestures_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<int>("toX");
    QTest::addColumn<qint64>("fadeIn");
    QTest::addColumn<qint64>("fadeOut");

    // Fades of 15 s and 10 s: handles at x 350 and 700 on the top edge.
    QTest::newRow("fade in to its longest") << "drag" << qint64(80000) << QPoint(350, 5) << 900 << qint64(20000)
                                            << qint64(10000);
    QTest::newRow("fade in shorter") << "drag" << qint64(80000) << QPoint(352, 8) << 250 << qint64(5000)
                                     << qint64(10000);
    QTest::newRow("fade out to its longest") << "drag" << qint64(80000) << QPoint(700, 5) << 100 << qint64(15000)
                                             << qint64(20000);
    // A 30 s loop: the two fades share it.
    QTest::newRow("fade in leaves room for fade out") << "drag" << qint64(50000) << QPoint(350, 5) << 480
                                                      << qint64(20000) << qint64(10000);
    QTest::newRow("fade out limited by fade in") << "drag" << qint64(50000) << QPoint(400, 5) << 100
                                                 << qint64(15000) << qint64(15000);
    QTest::newRow("double click clears fade in") << "doubleClick" << qint64(80000) << QPoint(350, 5) << 0
                                                 << qint64(0) << qint64(10000);
    QTest::newRow("double click clears fade out") << "doubleClick" << qint64(80000) << QPoint(700, 5) << 0
                                                  << qint64(15000) << qint64(0);
}

void WaveformMouseTest::fadeHandleGestures()
{
    QFETCH(QString, gesture);
    QFETCH(qint64, loopEnd);
    QFETCH(QPoint, from);
    QFETCH(int, toX);
    QFETCH(qint64, fadeIn);
    QFETCH(qint64, fadeOut);
    Cue* cue = f.makeCue(100000, 20000, loopEnd);
    cue->setFadeEnabled(true);
    cue->setFadeDurations(15000, 10000);
    cue->saveToDatabase(false);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);

    if (gesture == "drag")
        Fx::drag(view, from, {toX, from.y()});
    else
        Fx::doubleClick(view, from);

    QCOMPARE(cue->fadeInMs(), fadeIn);
    QCOMPARE(cue->fadeOutMs(), fadeOut);
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(cue->loopEndMs(), loopEnd);
    if (gesture == "drag") {
        QVERIFY(!cue->isDirty());  // saved at the release
        QCOMPARE(f.stored()->fadeInMs(), fadeIn);
    }
}

void WaveformMouseTest::volumePointGestures_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<bool>("envelopeOn");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<double>>("gains");
    QTest::addColumn<bool>("stored");  // the database holds the envelope as edited

    // Points (0 ms, 1.0), (3000, 0.5), (6000, 0.5), (10000, 1.0) sit at
    // x 0, 300, 600, 1000 and y 10, 48, 48, 10.
    using T = QList<qint64>;
    using G = QList<double>;
    const T untouched{0, 3000, 6000, 10000};
    const G flat{1.0, 0.5, 0.5, 1.0};
    QTest::newRow("right click adds at click height")
        << "right" << true << QPoint(450, 29) << QPoint() << T{0, 3000, 4500, 6000, 10000}
        << G{1.0, 0.5, 0.75, 0.5, 1.0} << false;
    QTest::newRow("right click 50 ms from a point adds nothing")
        << "right" << true << QPoint(305, 29) << QPoint() << untouched << flat << true;
    QTest::newRow("right click 150 ms from a point adds one")
        << "right" << true << QPoint(315, 29) << QPoint() << T{0, 3000, 3150, 6000, 10000}
        << G{1.0, 0.5, 0.75, 0.5, 1.0} << false;
    QTest::newRow("right click with envelope off adds nothing")
        << "right" << false << QPoint(450, 29) << QPoint() << untouched << flat << true;
    QTest::newRow("shift right click on a point gives full gain")
        << "shiftRight" << true << QPoint(302, 50) << QPoint() << untouched << G{1.0, 1.0, 0.5, 1.0} << false;
    QTest::newRow("shift right click off points adds full gain")
        << "shiftRight" << true << QPoint(450, 70) << QPoint() << T{0, 3000, 4500, 6000, 10000}
        << G{1.0, 0.5, 1.0, 0.5, 1.0} << false;
    QTest::newRow("drag moves time and gain")
        << "drag" << true << QPoint(300, 48) << QPoint(450, 67) << T{0, 4500, 6000, 10000}
        << G{1.0, 0.25, 0.5, 1.0} << true;
    QTest::newRow("drag stops 100 ms before the next point")
        << "drag" << true << QPoint(300, 48) << QPoint(700, 48) << T{0, 5900, 6000, 10000} << flat << true;
    QTest::newRow("drag stops 100 ms after the previous point")
        << "drag" << true << QPoint(600, 48) << QPoint(100, 48) << T{0, 3000, 3100, 10000} << flat << true;
    QTest::newRow("shift drag keeps the gain")
        << "shiftDrag" << true << QPoint(300, 48) << QPoint(400, 80) << T{0, 4000, 6000, 10000} << flat << true;
    QTest::newRow("first point keeps its time")
        << "drag" << true << QPoint(2, 12) << QPoint(200, 67) << untouched << G{0.25, 0.5, 0.5, 1.0} << true;
    QTest::newRow("last point keeps its time")
        << "drag" << true << QPoint(995, 12) << QPoint(800, 86) << untouched << G{1.0, 0.5, 0.5, 0.0} << true;
    QTest::newRow("double click deletes a middle point")
        << "doubleClick" << true << QPoint(600, 48) << QPoint() << T{0, 3000, 10000} << G{1.0, 0.5, 1.0} << false;
    QTest::newRow("double click keeps the first point")
        << "doubleClick" << true << QPoint(3, 12) << QPoint() << untouched << flat << true;
    QTest::newRow("double click keeps the last point")
        << "doubleClick" << true << QPoint(996, 12) << QPoint() << untouched << flat << true;
}

void WaveformMouseTest::volumePointGestures()
{
    QFETCH(QString, gesture);
    QFETCH(bool, envelopeOn);
    QFETCH(QPoint, at);
    QFETCH(QPoint, to);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<double>, gains);
    QFETCH(bool, stored);
    Cue* cue = f.makeCue(10000);
    cue->setVolumeEnvelope({0, 3000, 6000, 10000}, {1.0, 0.5, 0.5, 1.0});
    cue->setEnvelopeEnabled(envelopeOn);
    cue->saveToDatabase(false);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(!view->isEditingPan());

    if (gesture == "right") {
        QTest::mouseClick(view, Qt::RightButton, {}, at);
    } else if (gesture == "shiftRight") {
        QTest::mouseClick(view, Qt::RightButton, Qt::ShiftModifier, at);
    } else if (gesture == "drag") {
        Fx::drag(view, at, to);
    } else if (gesture == "shiftDrag") {
        Fx::drag(view, at, to, Qt::LeftButton, Qt::ShiftModifier);
    } else if (gesture == "doubleClick") {
        Fx::doubleClick(view, at);
    }

    QCOMPARE(cue->envelopeTimes(), times);
    QCOMPARE(cue->envelopeGains().size(), gains.size());
    for (qsizetype i = 0; i < gains.size(); ++i)
        QVERIFY2(std::abs(cue->envelopeGains()[i] - gains[i]) < 0.01, qPrintable(QString::number(i)));
    const std::unique_ptr<Cue> row = f.stored();
    bool rowMatches = row->envelopeTimes() == cue->envelopeTimes()
        && row->envelopeGains().size() == cue->envelopeGains().size();
    for (qsizetype i = 0; rowMatches && i < gains.size(); ++i)
        rowMatches = std::abs(row->envelopeGains()[i] - cue->envelopeGains()[i]) < 1e-9;
    QCOMPARE(rowMatches, stored);
    QCOMPARE(cue->isDirty(), !stored);
    QCOMPARE(view->editedVolumePoints().size(), times.size());
    QCOMPARE(view->playheadMs(), qint64(0));  // no gesture here seeks
}

void WaveformMouseTest::panPointGestures()
{
    Cue* cue = f.makeCue(10000);
    cue->setPanEnvelopeEnabled(true);
    cue->setPanEnvelope({0, 5000, 10000}, {0.0, -0.5, 0.0});
    cue->saveToDatabase(false);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(view->isEditingPan());

    // (5000 ms, -0.5) sits at x 500, y 29; it follows the pointer to 6 s, half right.
    Fx::drag(view, {500, 29}, {600, 67});
    QCOMPARE(cue->panEnvelopeTimes(), (QList<qint64>{0, 6000, 10000}));
    QCOMPARE(cue->panEnvelopePositions()[1], 0.5);
    QVERIFY(!cue->isDirty());
    QCOMPARE(f.stored()->panEnvelopePositions()[1], 0.5);
    QVERIFY(view->editedPanPoints()[1].selected);  // stays selected for the wheel nudge

    QTest::mouseClick(view, Qt::RightButton, Qt::ShiftModifier, {600, 67});
    QCOMPARE(cue->panEnvelopePositions()[1], 0.0);  // centred

    QTest::mouseClick(view, Qt::RightButton, {}, {300, 10});
    QCOMPARE(cue->panEnvelopeTimes(), (QList<qint64>{0, 3000, 6000, 10000}));
    QCOMPARE(cue->panEnvelopePositions()[1], -1.0);

    Fx::doubleClick(view, {300, 10});
    QCOMPARE(cue->panEnvelopeTimes(), (QList<qint64>{0, 6000, 10000}));
}

void WaveformMouseTest::pressOnOtherEnvelopeSeeks()
{
    Cue* cue = f.makeCue(10000);
    cue->setVolumeEnvelope({0, 3000, 10000}, {1.0, 0.75, 1.0});
    cue->setEnvelopeEnabled(true);
    cue->setPanEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    QVERIFY(view->isEditingPan());
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);

    Fx::drag(view, {300, 29}, {350, 20});  // the volume point at 3 s, 0.75
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 3000, 10000}));
    QCOMPARE(view->playheadMs(), qint64(3500));
    QCOMPARE(clicked.size(), 1);

    // Ctrl switches to the volume envelope; now the same press grabs the point.
    QTest::keyClick(view, Qt::Key_Control);
    QVERIFY(!view->isEditingPan());
    Fx::drag(view, {300, 29}, {400, 29});
    QCOMPARE(cue->envelopeTimes(), (QList<qint64>{0, 4000, 10000}));
    QCOMPARE(view->playheadMs(), qint64(3500));
    QCOMPARE(clicked.size(), 1);
}

void WaveformMouseTest::pointDialogs_data()
{
    QTest::addColumn<bool>("pan");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<double>("value");

    QTest::newRow("volume 35") << false << "35" << 0.35;
    QTest::newRow("volume 101 refused") << false << "101" << 0.5;
    QTest::newRow("volume not a number") << false << "loud" << 0.5;
    QTest::newRow("volume cancelled") << false << QString() << 0.5;
    QTest::newRow("pan -40") << true << "-40" << -0.4;
    QTest::newRow("pan -101 refused") << true << "-101" << 0.5;
}

void WaveformMouseTest::pointDialogs()
{
    QFETCH(bool, pan);
    QFETCH(QString, answer);
    QFETCH(double, value);
    Cue* cue = f.makeCue(10000);
    if (pan) {
        cue->setPanEnvelope({0, 5000, 10000}, {0.0, 0.5, 0.0});
        cue->setPanEnvelopeEnabled(true);
    } else {
        cue->setVolumeEnvelope({0, 5000, 10000}, {1.0, 0.5, 1.0});
        cue->setEnvelopeEnabled(true);
    }
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);

    // Pan 0.5 and gain 0.5 sit at y 67 and 48.
    answerNextDialog(answer);
    Fx::doubleClick(view, {500, pan ? 67 : 48}, Qt::ShiftModifier);
    const double stored = pan ? cue->panEnvelopePositions()[1] : cue->envelopeGains()[1];
    QVERIFY2(std::abs(stored - value) < 1e-9, qPrintable(QString::number(stored)));
    QCOMPARE(pan ? cue->panEnvelopeTimes().size() : cue->envelopeTimes().size(), 3);
}

void WaveformMouseTest::seekClickEmitsAtRelease()
{
    WaveformWidget* view = f.makeView(f.makeCue(100000, 20000, 80000));
    QVERIFY(view);
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);

    Fx::press(view, {300, 50});
    QCOMPARE(view->playheadMs(), qint64(30000));
    QVERIFY(view->isMousePressed());
    Fx::move(view, {350, 50});
    QCOMPARE(view->playheadMs(), qint64(35000));
    QVERIFY(clicked.isEmpty());
    Fx::release(view, {360, 50});
    QCOMPARE(view->playheadMs(), qint64(36000));
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(36000));

    QTest::mouseClick(view, Qt::LeftButton, {}, {100, 50});  // before the loop: held at its start
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(20000));
    QTest::mouseClick(view, Qt::LeftButton, {}, {950, 50});
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(80000));
}

void WaveformMouseTest::loopViewPressesSeek()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->toggleLoopView();  // 20..80 s over 1000 px: handles at the edges, grip in the middle
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);

    Fx::drag(view, {500, kGripY}, {700, kGripY});
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(cue->loopEndMs(), qint64(80000));
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(62000));

    Fx::drag(view, {3, kHandleY}, {300, kHandleY});
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(clicked.last().at(0).toLongLong(), qint64(38000));
}

void WaveformMouseTest::rightDragMovesView()
{
    Cue* cue = f.makeCue(100000);
    cue->setEnvelopeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->zoomAt(2.0f, 50000);  // 25..75 s
    QCOMPARE(view->viewStartMs(), qint64(25000));

    Fx::press(view, {500, 50}, Qt::RightButton);
    Fx::move(view, {497, 50}, Qt::RightButton);  // inside the dead zone
    QCOMPARE(view->viewStartMs(), qint64(25000));
    Fx::move(view, {400, 50}, Qt::RightButton);
    QCOMPARE(view->viewStartMs(), qint64(30000));
    QCOMPARE(view->viewEndMs(), qint64(80000));
    Fx::move(view, {-200, 50}, Qt::RightButton);  // past the end of the file
    QCOMPARE(view->viewStartMs(), qint64(50000));
    QCOMPARE(view->viewEndMs(), qint64(100000));
    Fx::move(view, {1000, 50}, Qt::RightButton);  // past its start
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(50000));
    Fx::release(view, {1000, 50}, Qt::RightButton);
    QCOMPARE(cue->envelopeTimes().size(), 2);  // a drag adds no point
    QVERIFY(view->isFreeView());
}

void WaveformMouseTest::doubleClicksOnHandlesAndGrip()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);

    Fx::doubleClick(view, {205, kHandleY});
    QCOMPARE(cue->loopStartMs(), qint64(0));
    QCOMPARE(cue->loopEndMs(), qint64(80000));
    QCOMPARE(f.stored()->loopStartMs(), qint64(0));

    cue->setLoopRange(20000, 80000, false);
    Fx::doubleClick(view, {795, kHandleY});
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(cue->loopEndMs(), qint64(100000));
    QCOMPARE(f.stored()->loopEndMs(), qint64(100000));

    cue->setLoopRange(20000, 80000, false);
    Fx::doubleClick(view, {500, kGripY});
    QVERIFY(!view->isFreeView());
    QCOMPARE(view->viewStartMs(), qint64(20000));
    QCOMPARE(view->viewEndMs(), qint64(80000));
    Fx::doubleClick(view, {500, kGripY});
    QVERIFY(view->isFreeView());
    QCOMPARE(view->viewStartMs(), qint64(0));
    QCOMPARE(view->viewEndMs(), qint64(100000));
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(cue->loopEndMs(), qint64(80000));
}

void WaveformMouseTest::showModeIgnoresPresses()
{
    Cue* cue = f.makeCue(100000, 20000, 80000);
    cue->setEnvelopeEnabled(true);
    cue->setFadeEnabled(true);
    WaveformWidget* view = f.makeView(cue);
    QVERIFY(view);
    view->setShowMode(true);
    view->setPosition(30000);
    QSignalSpy clicked(view, &WaveformWidget::positionClicked);

    QTest::mouseClick(view, Qt::LeftButton, {}, {600, 50});
    Fx::drag(view, {0, kHandleY}, {300, kHandleY});
    Fx::drag(view, {500, kGripY}, {700, kGripY});
    QTest::mouseClick(view, Qt::RightButton, {}, {600, 40});
    Fx::drag(view, {500, 50}, {200, 50}, Qt::RightButton);
    Fx::drag(view, {16, 5}, {800, 5});  // the fade-in handle's place

    QVERIFY(clicked.isEmpty());
    QCOMPARE(view->playheadMs(), qint64(30000));
    QCOMPARE(cue->loopStartMs(), qint64(20000));
    QCOMPARE(cue->loopEndMs(), qint64(80000));
    QCOMPARE(cue->envelopeTimes().size(), 2);
    QCOMPARE(cue->fadeInMs(), qint64(1000));
    QCOMPARE(view->viewStartMs(), qint64(20000));
    QCOMPARE(view->viewEndMs(), qint64(80000));
}

QTEST_MAIN(WaveformMouseTest)
#include "WaveformMouseTest.moc"
