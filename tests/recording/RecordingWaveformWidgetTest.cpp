#include "recording/RecordingWaveformWidget.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

namespace {

constexpr float kLoud = 0.5f;
constexpr float kQuiet = 0.0005f;

// One peak per character: 'X' loud, '.' quiet, digits n: a loud peak of value n / 10.
QList<PeakPair> peaksFrom(const QString& pattern)
{
    QList<PeakPair> peaks;
    for (QChar c : pattern) {
        float v = c == 'X' ? kLoud : c.isDigit() ? float(c.digitValue()) / 10.0f : kQuiet;
        peaks.append(PeakPair{-v, v});
    }
    return peaks;
}

QList<PeakPair> numbered(int count)
{
    QList<PeakPair> peaks;
    for (int i = 0; i < count; ++i)
        peaks.append(PeakPair{-float(i) / 1000.0f, float(i) / 1000.0f});
    return peaks;
}

QList<int> indicesOf(const QList<PeakPair>& peaks)
{
    QList<int> out;
    for (const PeakPair& p : peaks)
        out.append(qRound(p.max * 1000.0f));
    return out;
}

void send(QWidget* w, QEvent::Type type, int x, Qt::MouseButton button = Qt::LeftButton,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier, int y = 50)
{
    const QPointF pos(x, y);
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), modifiers);
    QCoreApplication::sendEvent(w, &event);
}

void drag(QWidget* w, int fromX, int toX, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send(w, QEvent::MouseButtonPress, fromX, Qt::LeftButton, modifiers);
    const int step = toX > fromX ? 10 : -10;
    for (int x = fromX + step; step > 0 ? x < toX : x > toX; x += step)
        send(w, QEvent::MouseMove, x, Qt::LeftButton, modifiers);
    send(w, QEvent::MouseMove, toX, Qt::LeftButton, modifiers);
    send(w, QEvent::MouseButtonRelease, toX, Qt::LeftButton, modifiers);
}

bool sendKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    event.setAccepted(false);
    QCoreApplication::sendEvent(w, &event);
    return event.isAccepted();
}

// 1000 px wide over a 1000 ms recording: one pixel per millisecond.
struct Strip {
    RecordingWaveformWidget widget;
    Strip(int peakCount = 100)
    {
        widget.resize(1000, 170);
        widget.setPeaks(numbered(peakCount));
    }
};

}  // namespace

class RecordingWaveformWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void trimSilence_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<qint64>("cutStart");
        QTest::addColumn<qint64>("cutEnd");
        QTest::addColumn<int>("remaining");
        QTest::newRow("both ends") << "..XX.." << qint64(20) << qint64(20) << 2;
        QTest::newRow("lead only") << ".XX" << qint64(10) << qint64(0) << 2;
        QTest::newRow("silent throughout: whole") << "......" << qint64(0) << qint64(0) << 6;
        QTest::newRow("one loud peak cuts nothing") << "..X..." << qint64(0) << qint64(0) << 6;
        QTest::newRow("loud at both ends") << "X...X" << qint64(0) << qint64(0) << 5;
        QTest::newRow("2 s of silence around sound")
            << QString(200, '.') + QString(50, 'X') + QString(200, '.') << qint64(2000) << qint64(2000) << 50;
        QTest::newRow("empty") << "" << qint64(0) << qint64(0) << 0;
    }
    void trimSilence()
    {
        QFETCH(QString, pattern);
        QFETCH(qint64, cutStart);
        QFETCH(qint64, cutEnd);
        QFETCH(int, remaining);
        RecordingWaveformWidget w;
        w.setPeaks(peaksFrom(pattern));
        QSignalSpy durations(&w, &RecordingWaveformWidget::durationChanged);
        qint64 start = -1;
        qint64 end = -1;
        w.trimSilence(0.001f, &start, &end);
        QCOMPARE(start, cutStart);
        QCOMPARE(end, cutEnd);
        QCOMPARE(w.peakList().size(), remaining);
        const bool cut = cutStart > 0 || cutEnd > 0;
        QCOMPARE(durations.size(), cut ? 1 : 0);
        QCOMPARE(w.canUndo(), cut);
        if (cut) {
            QCOMPARE(durations.first().first().toLongLong(), qint64(remaining) * 10);
            QCOMPARE(w.viewEnd(), qint64(remaining) * 10);
        }
        w.trimSilence(0.001f, nullptr, nullptr);  // null outputs are fine
    }

    void trimThresholdCountsEitherSide()
    {
        RecordingWaveformWidget w;
        QList<PeakPair> peaks = peaksFrom("....");
        peaks[1] = PeakPair{-0.001f, 0.0f};  // at the threshold: loud
        peaks[2] = PeakPair{0.0f, 0.001f};
        w.setPeaks(peaks);
        qint64 start = 0;
        qint64 end = 0;
        w.trimSilence(0.001f, &start, &end);
        QCOMPARE(start, qint64(10));
        QCOMPARE(end, qint64(10));
    }

    // Peak range of a selection: start / 10 .. (end - 1) / 10.
    void deleteAndKeepRanges_data()
    {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<QList<int>>("afterDelete");
        QTest::addColumn<QList<int>>("afterKeep");
        QTest::newRow("15..25 covers peaks 1 and 2") << qint64(15) << qint64(25) << QList<int>{0, 3, 4, 5, 6, 7, 8, 9}
                                                     << QList<int>{1, 2};
        QTest::newRow("10..20 covers peak 1 only") << qint64(10) << qint64(20)
                                                   << QList<int>{0, 2, 3, 4, 5, 6, 7, 8, 9} << QList<int>{1};
        QTest::newRow("ends inside the last peak") << qint64(85) << qint64(100) << QList<int>{0, 1, 2, 3, 4, 5, 6, 7}
                                                   << QList<int>{8, 9};
        QTest::newRow("everything") << qint64(0) << qint64(100) << QList<int>{}
                                    << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    }
    void deleteAndKeepRanges()
    {
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(QList<int>, afterDelete);
        QFETCH(QList<int>, afterKeep);
        for (bool keep : {false, true}) {
            RecordingWaveformWidget w;
            w.setPeaks(numbered(10));
            w.setSelection(start, end);
            QSignalSpy deleted(&w, &RecordingWaveformWidget::rangeDeleted);
            QSignalSpy kept(&w, &RecordingWaveformWidget::rangeKept);
            QSignalSpy selection(&w, &RecordingWaveformWidget::selectionChanged);
            QSignalSpy durations(&w, &RecordingWaveformWidget::durationChanged);
            if (keep)
                w.keepOnlySelection();
            else
                w.deleteSelection();
            QCOMPARE(indicesOf(w.peakList()), keep ? afterKeep : afterDelete);
            QSignalSpy& edit = keep ? kept : deleted;
            QCOMPARE(edit.size(), 1);
            QCOMPARE(edit.first().at(0).toLongLong(), start);
            QCOMPARE(edit.first().at(1).toLongLong(), end);
            QCOMPARE((keep ? deleted : kept).size(), 0);
            QCOMPARE(selection.size(), 1);
            QCOMPARE(selection.first().first().toBool(), false);
            QCOMPARE(durations.first().first().toLongLong(), w.durationMs());
            QVERIFY(!w.hasSelection());
        }
    }

    void editsWithoutSelectionDoNothing()
    {
        RecordingWaveformWidget w;
        w.setPeaks(numbered(10));
        QSignalSpy durations(&w, &RecordingWaveformWidget::durationChanged);
        w.deleteSelection();
        w.keepOnlySelection();
        w.setSelection(30, 30);  // empty: not valid
        w.deleteSelection();
        QCOMPARE(durations.size(), 0);
        QVERIFY(!w.canUndo());
    }

    void undoRestoresEachStep()
    {
        RecordingWaveformWidget w;
        const QList<PeakPair> original = numbered(50);
        w.setPeaks(original);
        w.setSelection(100, 200);
        w.deleteSelection();
        const QList<PeakPair> afterDelete = w.peakList();
        w.setSelection(50, 300);
        w.keepOnlySelection();
        QSignalSpy undone(&w, &RecordingWaveformWidget::undoPerformed);
        QSignalSpy durations(&w, &RecordingWaveformWidget::durationChanged);
        w.undo();
        QCOMPARE(w.peakList(), afterDelete);
        w.undo();
        QCOMPARE(w.peakList(), original);
        QCOMPARE(undone.size(), 2);
        QCOMPARE(durations.last().first().toLongLong(), qint64(500));
        w.undo();  // nothing left
        QCOMPARE(undone.size(), 2);
        w.setSelection(0, 10);
        w.deleteSelection();
        w.setPeaks(original);  // a new recording drops the history
        QVERIFY(!w.canUndo());
    }

    void setSelectionClampsAndOrders()
    {
        RecordingWaveformWidget w;
        w.setPeaks(numbered(10));
        QSignalSpy range(&w, &RecordingWaveformWidget::selectionRangeChanged);
        w.setSelection(-20, 500);
        QCOMPARE(w.selectionStart(), qint64(0));
        QCOMPARE(w.selectionEnd(), qint64(100));
        QCOMPARE(range.size(), 1);
        QCOMPARE(range.first().at(1).toLongLong(), qint64(100));
        w.setSelection(80, 30);
        QCOMPARE(w.selectionStart(), qint64(30));
        QCOMPARE(w.selectionEnd(), qint64(80));
    }

    void shortDragLeavesNoSelection()
    {
        Strip s;
        QSignalSpy selection(&s.widget, &RecordingWaveformWidget::selectionChanged);
        drag(&s.widget, 100, 108);
        QVERIFY(!s.widget.hasSelection());
        QCOMPARE(selection.size(), 1);
        QCOMPARE(selection.first().first().toBool(), false);
        drag(&s.widget, 300, 100);  // backwards: ordered at the release
        QCOMPARE(s.widget.selectionStart(), qint64(100));
        QCOMPARE(s.widget.selectionEnd(), qint64(300));
        QCOMPARE(selection.last().first().toBool(), true);
    }

    void clickInsideKeepsOutsideClears()
    {
        Strip s;
        s.widget.setPlaybackPosition(0);
        s.widget.setSelection(200, 400);
        QSignalSpy positions(&s.widget, &RecordingWaveformWidget::playbackPosChanged);
        send(&s.widget, QEvent::MouseButtonPress, 300);
        send(&s.widget, QEvent::MouseButtonRelease, 300);
        QVERIFY(s.widget.hasSelection());
        QCOMPARE(s.widget.playbackPosition(), qint64(300));
        send(&s.widget, QEvent::MouseButtonPress, 700);
        send(&s.widget, QEvent::MouseButtonRelease, 700);
        QVERIFY(!s.widget.hasSelection());
        QCOMPARE(s.widget.playbackPosition(), qint64(700));
        QCOMPARE(positions.size(), 2);
    }

    void movedSelectionStopsAtTheEnds()
    {
        Strip s;
        s.widget.setSelection(400, 600);
        drag(&s.widget, 500, 990, Qt::ShiftModifier);
        QCOMPARE(s.widget.selectionStart(), qint64(800));
        QCOMPARE(s.widget.selectionEnd(), qint64(1000));
        drag(&s.widget, 900, 5, Qt::ShiftModifier);
        QCOMPARE(s.widget.selectionStart(), qint64(0));
        QCOMPARE(s.widget.selectionEnd(), qint64(200));
    }

    void draggingASelectionEdge()
    {
        Strip s;
        s.widget.setSelection(400, 600);
        drag(&s.widget, 402, 250);  // grabs the start line
        QCOMPARE(s.widget.selectionStart(), qint64(250));
        QCOMPARE(s.widget.selectionEnd(), qint64(600));
    }

    void wheelZoomShowsAtLeast100ms()
    {
        Strip s(1000);  // 10 s
        for (int i = 0; i < 60; ++i) {
            QWheelEvent wheel(QPointF(500, 50), QPointF(500, 50), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(&s.widget, &wheel);
        }
        QCOMPARE(s.widget.viewEnd() - s.widget.viewStart(), qint64(100));
        QVERIFY(s.widget.viewStart() >= 0);

        Strip tiny(5);  // 50 ms
        QWheelEvent wheel(QPointF(500, 50), QPointF(500, 50), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&tiny.widget, &wheel);
        QCOMPARE(tiny.widget.viewStart(), qint64(0));
        QCOMPARE(tiny.widget.viewEnd(), qint64(50));
    }

    void followsTheRecordingsEnd()
    {
        RecordingWaveformWidget w;
        w.setRecording(true);
        w.appendPeaks(numbered(2000));  // 20 s
        QCOMPARE(w.viewStart(), qint64(0));
        QCOMPARE(w.viewEnd(), qint64(30000));
        w.appendPeaks(numbered(2000));  // 40 s
        QCOMPARE(w.viewStart(), qint64(10000));
        QCOMPARE(w.viewEnd(), qint64(40000));
    }

    void keys()
    {
        Strip s;
        QVERIFY(sendKey(&s.widget, Qt::Key_Z, Qt::ControlModifier));  // empty history: still consumed
        QVERIFY(!sendKey(&s.widget, Qt::Key_Delete));                  // no selection: not ours
        s.widget.setSelection(100, 300);
        QVERIFY(sendKey(&s.widget, Qt::Key_Delete, Qt::ShiftModifier));
        QCOMPARE(s.widget.durationMs(), qint64(200));
        QVERIFY(sendKey(&s.widget, Qt::Key_Z, Qt::ControlModifier));
        QCOMPARE(s.widget.durationMs(), qint64(1000));
        s.widget.setSelection(100, 300);
        QVERIFY(sendKey(&s.widget, Qt::Key_Escape));
        QVERIFY(!s.widget.hasSelection());
        QVERIFY(!sendKey(&s.widget, Qt::Key_Escape));
    }

    void ignoresInputWhileNotInteractive()
    {
        Strip s;
        s.widget.setInteractive(false);
        drag(&s.widget, 100, 500);
        QVERIFY(!s.widget.hasSelection());
        s.widget.setSelection(100, 300);
        QVERIFY(!sendKey(&s.widget, Qt::Key_Delete));
        QCOMPARE(s.widget.durationMs(), qint64(1000));
    }

    void paintsWaitingTextAndWaveform()
    {
        RecordingWaveformWidget w;
        w.resize(400, 170);
        QImage empty = w.grab().toImage();
        QCOMPARE(empty.pixelColor(2, 2), QColor(25, 25, 30));
        w.setPeaks(peaksFrom(QString(100, 'X')));
        QImage drawn = w.grab().toImage();
        const QColor inWave = drawn.pixelColor(200, (170 - 20) / 2 - 10);
        QVERIFY2(inWave.blue() > 150 && inWave.red() < 60, qPrintable(inWave.name()));
    }
};

QTEST_MAIN(RecordingWaveformWidgetTest)
#include "RecordingWaveformWidgetTest.moc"
