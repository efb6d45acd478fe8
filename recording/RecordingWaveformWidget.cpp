#include "recording/RecordingWaveformWidget.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

RecordingWaveformWidget::RecordingWaveformWidget(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

RecordingWaveformWidget::~RecordingWaveformWidget() = default;

// --- content -------------------------------------------------------------

void RecordingWaveformWidget::setPeaks(const QList<PeakPair>& newPeaks)
{
    peaks = newPeaks;
    undoStack.clear();
    clearSelectionSilently();
    showWhole();
    update();
}

void RecordingWaveformWidget::appendPeaks(const QList<PeakPair>& more)
{
    peaks.append(more);
    if (recording) {
        const qint64 duration = durationMs();
        if (duration > followWindowMs) {
            viewStartMs = duration - followWindowMs;
            viewEndMs = duration;
        } else {
            viewStartMs = 0;
            viewEndMs = followWindowMs;
        }
    }
    update();
}

void RecordingWaveformWidget::clear()
{
    peaks.clear();
    undoStack.clear();
    viewStartMs = 0;
    viewEndMs = 0;
    clearSelectionSilently();
    update();
}

void RecordingWaveformWidget::setRecording(bool on)
{
    recording = on;
    if (on) {
        viewStartMs = 0;
        viewEndMs = followWindowMs;
    }
    update();
}

void RecordingWaveformWidget::setInteractive(bool on)
{
    interactive = on;
}

void RecordingWaveformWidget::setPlaybackPosition(qint64 ms)
{
    playbackPosMs = ms;
    update();
}

// --- selection and edits -------------------------------------------------

bool RecordingWaveformWidget::hasSelection() const
{
    return selectionStartMs >= 0 && selectionEndMs >= 0 && selectionStartMs != selectionEndMs;
}

void RecordingWaveformWidget::setSelection(qint64 startMs, qint64 endMs)
{
    startMs = std::max<qint64>(startMs, 0);
    endMs = std::min(endMs, durationMs());
    if (endMs < startMs)
        std::swap(startMs, endMs);
    selectionStartMs = startMs;
    selectionEndMs = endMs;
    update();
    const bool valid = hasSelection();
    emit selectionChanged(valid);
    if (valid)
        emit selectionRangeChanged(selectionStartMs, selectionEndMs);
}

void RecordingWaveformWidget::clearSelection()
{
    clearSelectionSilently();
    update();
    emit selectionChanged(false);
}

void RecordingWaveformWidget::clearSelectionSilently()
{
    selectionStartMs = -1;
    selectionEndMs = -1;
}

void RecordingWaveformWidget::selectedPeakRange(int* first, int* last) const
{
    const qint64 lastIndex = qint64(peaks.size()) - 1;
    *first = int(std::clamp<qint64>(selectionStartMs / msPerPeak, 0, lastIndex));
    *last = int(std::clamp<qint64>((selectionEndMs - 1) / msPerPeak, 0, lastIndex));
}

void RecordingWaveformWidget::deleteSelection()
{
    if (!hasSelection() || peaks.isEmpty())
        return;
    undoStack.append(peaks);
    int first = 0;
    int last = 0;
    selectedPeakRange(&first, &last);
    if (first <= last)
        peaks.remove(first, last - first + 1);
    emit rangeDeleted(selectionStartMs, selectionEndMs);
    clearSelectionSilently();
    clampView();
    emit selectionChanged(false);
    emit durationChanged(durationMs());
    update();
}

void RecordingWaveformWidget::keepOnlySelection()
{
    if (!hasSelection() || peaks.isEmpty())
        return;
    undoStack.append(peaks);
    int first = 0;
    int last = 0;
    selectedPeakRange(&first, &last);
    peaks = first <= last ? peaks.mid(first, last - first + 1) : QList<PeakPair>();
    emit rangeKept(selectionStartMs, selectionEndMs);
    clearSelectionSilently();
    showWhole();
    emit selectionChanged(false);
    emit durationChanged(durationMs());
    update();
}

void RecordingWaveformWidget::undo()
{
    if (undoStack.isEmpty())
        return;
    peaks = undoStack.takeLast();
    clearSelectionSilently();
    clampView();
    emit undoPerformed();
    emit selectionChanged(false);
    emit durationChanged(durationMs());
    update();
}

void RecordingWaveformWidget::trimSilence(float threshold, qint64* trimmedStartMs, qint64* trimmedEndMs)
{
    if (trimmedStartMs)
        *trimmedStartMs = 0;
    if (trimmedEndMs)
        *trimmedEndMs = 0;
    if (peaks.isEmpty())
        return;

    const auto loud = [threshold](const PeakPair& p) {
        return std::fabs(p.max) >= threshold || std::fabs(p.min) >= threshold;
    };
    const qsizetype count = peaks.size();
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < count; ++i) {
        if (loud(peaks[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0) {
        first = 0;
        last = count - 1;
    }
    if (first >= last)
        return;
    const qint64 cutStart = qint64(first) * msPerPeak;
    const qint64 cutEnd = qint64(count - 1 - last) * msPerPeak;
    if (cutStart == 0 && cutEnd == 0)
        return;

    undoStack.append(peaks);
    peaks = peaks.mid(first, last - first + 1);
    clearSelectionSilently();
    showWhole();
    emit selectionChanged(false);
    emit durationChanged(durationMs());
    update();
    if (trimmedStartMs)
        *trimmedStartMs = cutStart;
    if (trimmedEndMs)
        *trimmedEndMs = cutEnd;
}

// --- view ----------------------------------------------------------------

void RecordingWaveformWidget::showWhole()
{
    viewStartMs = 0;
    viewEndMs = durationMs();
}

void RecordingWaveformWidget::clampView()
{
    const qint64 duration = durationMs();
    if (duration < 1) {
        viewStartMs = 0;
        viewEndMs = 0;
        return;
    }
    const qint64 span = viewEndMs - viewStartMs;
    if (span <= 0 || span > duration) {
        viewStartMs = 0;
        viewEndMs = duration;
    } else if (viewStartMs < 0) {
        viewStartMs = 0;
        viewEndMs = span;
    } else if (viewEndMs > duration) {
        viewStartMs = duration - span;
        viewEndMs = duration;
    }
}

qint64 RecordingWaveformWidget::msToX(qint64 ms) const
{
    const qint64 span = viewEndMs - viewStartMs;
    if (span < 1)
        return 0;
    return (ms - viewStartMs) * width() / span;
}

qint64 RecordingWaveformWidget::xToMs(qint64 x) const
{
    const qint64 span = viewEndMs - viewStartMs;
    if (span < 1 || width() < 1)
        return 0;
    const qint64 t = x * span / width() + viewStartMs;
    return std::clamp<qint64>(t, 0, durationMs());
}

bool RecordingWaveformWidget::nearX(int x, qint64 ms) const
{
    return std::llabs(qint64(x) - msToX(ms)) < kNearPixels;
}

// --- input ---------------------------------------------------------------

void RecordingWaveformWidget::mousePressEvent(QMouseEvent* event)
{
    if (!interactive)
        return;
    const QPoint pos = event->position().toPoint();
    if (pos.y() >= height() - kRulerHeight)
        return;
    const int x = pos.x();
    const qint64 t = xToMs(x);

    if (event->button() == Qt::LeftButton) {
        const bool selected = hasSelection();
        const qint64 left = std::min(msToX(selectionStartMs), msToX(selectionEndMs));
        const qint64 right = std::max(msToX(selectionStartMs), msToX(selectionEndMs));
        if (playbackPosMs >= 0 && nearX(x, playbackPosMs)) {
            playheadDragging = true;
            setCursor(Qt::SizeHorCursor);
        } else if (selected && nearX(x, selectionStartMs)) {
            dragMode = Selecting;
            dragAnchorMs = selectionEndMs;
            dragMovesStart = true;
            setCursor(Qt::SizeHorCursor);
        } else if (selected && nearX(x, selectionEndMs)) {
            dragMode = Selecting;
            dragAnchorMs = selectionStartMs;
            dragMovesStart = false;
            setCursor(Qt::SizeHorCursor);
        } else if (selected && x > left && x < right && (event->modifiers() & Qt::ShiftModifier)) {
            dragMode = Moving;
            movePressMs = t;
            moveOriginStartMs = selectionStartMs;
            moveOriginEndMs = selectionEndMs;
            setCursor(Qt::SizeAllCursor);
        } else {
            dragMode = Pressed;
            pressX = x;
            pressMs = t;
        }
    } else if (event->button() == Qt::RightButton) {
        panning = true;
        panPressX = x;
        panStartViewMs = viewStartMs;
        setCursor(Qt::SizeHorCursor);
    }
}

void RecordingWaveformWidget::updateHoverCursor(int x, int y, Qt::KeyboardModifiers modifiers)
{
    const bool inWave = y < height() - kRulerHeight;
    if (hasSelection() && inWave) {
        const qint64 left = std::min(msToX(selectionStartMs), msToX(selectionEndMs));
        const qint64 right = std::max(msToX(selectionStartMs), msToX(selectionEndMs));
        if (nearX(x, selectionStartMs) || nearX(x, selectionEndMs))
            setCursor(Qt::SizeHorCursor);
        else if (x > left && x < right && (modifiers & Qt::ShiftModifier))
            setCursor(Qt::SizeAllCursor);
        else
            unsetCursor();
    }
    // The playback line's own cursor.
    if (playbackPosMs >= 0 && inWave) {
        if (nearX(x, playbackPosMs))
            setCursor(Qt::SizeHorCursor);
        else if (!hasSelection())
            unsetCursor();
    }
}

void RecordingWaveformWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!interactive)
        return;
    const QPoint pos = event->position().toPoint();
    const int x = pos.x();
    const qint64 t = xToMs(x);

    if (playheadDragging) {
        playbackPosMs = t;
        emit playbackPosChanged(t);
        update();
        return;
    }

    switch (dragMode) {
    case Pressed:
        if (std::abs(x - pressX) < 4)
            return;
        dragMode = Selecting;
        dragAnchorMs = pressMs;
        dragMovesStart = false;
        selectionStartMs = pressMs;
        selectionEndMs = t;
        setCursor(Qt::IBeamCursor);
        update();
        return;
    case Selecting:
        if (dragMovesStart) {
            selectionStartMs = t;
            selectionEndMs = dragAnchorMs;
        } else {
            selectionStartMs = dragAnchorMs;
            selectionEndMs = t;
        }
        update();
        emit selectionRangeChanged(selectionStartMs, selectionEndMs);
        return;
    case Moving: {
        const qint64 delta = t - movePressMs;
        const qint64 length = moveOriginEndMs - moveOriginStartMs;
        const qint64 duration = durationMs();
        const qint64 newStart = moveOriginStartMs + delta;
        if (newStart < 0) {
            selectionStartMs = 0;
            selectionEndMs = length;
        } else {
            selectionStartMs = newStart;
            selectionEndMs = moveOriginEndMs + delta;
            if (selectionEndMs > duration) {
                selectionStartMs = duration - length;
                selectionEndMs = duration;
            }
        }
        update();
        emit selectionRangeChanged(selectionStartMs, selectionEndMs);
        return;
    }
    case Idle:
        break;
    }

    if (panning) {
        const qint64 span = viewEndMs - viewStartMs;
        if (span < 1)
            return;
        const double shift = double(x - panPressX) * double(span) / double(std::max(width(), 1));
        viewStartMs = panStartViewMs - qint64(shift);
        viewEndMs = viewStartMs + span;
        clampView();
        update();
        if (playbackPosMs >= 0 && pos.y() < height() - kRulerHeight) {
            if (nearX(x, playbackPosMs))
                setCursor(Qt::SizeHorCursor);
            else if (!hasSelection())
                unsetCursor();
        }
        return;
    }
    updateHoverCursor(x, pos.y(), event->modifiers());
}

void RecordingWaveformWidget::mouseReleaseEvent(QMouseEvent* event)
{
    Q_UNUSED(event);
    if (!interactive)
        return;
    if (playheadDragging) {
        playheadDragging = false;
        unsetCursor();
        return;
    }
    switch (dragMode) {
    case Pressed: {
        dragMode = Idle;
        unsetCursor();
        if (playbackPosMs >= 0) {
            playbackPosMs = pressMs;
            emit playbackPosChanged(pressMs);
        }
        if (hasSelection()) {
            const qint64 left = std::min(msToX(selectionStartMs), msToX(selectionEndMs));
            const qint64 right = std::max(msToX(selectionStartMs), msToX(selectionEndMs));
            if (pressX < left || pressX > right) {
                clearSelectionSilently();
                emit selectionChanged(false);
            }
        }
        update();
        return;
    }
    case Selecting:
    case Moving: {
        dragMode = Idle;
        unsetCursor();
        if (selectionEndMs < selectionStartMs)
            std::swap(selectionStartMs, selectionEndMs);
        if (selectionEndMs - selectionStartMs < msPerPeak)
            clearSelectionSilently();
        const bool valid = hasSelection();
        emit selectionChanged(valid);
        if (valid)
            emit selectionRangeChanged(selectionStartMs, selectionEndMs);
        update();
        return;
    }
    case Idle:
        break;
    }
    if (panning) {
        panning = false;
        unsetCursor();
    }
}

void RecordingWaveformWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!interactive)
        return;
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && pos.y() >= height() - kRulerHeight) {
        if (durationMs() > 0) {
            showWhole();
            clearSelectionSilently();
            emit selectionChanged(false);
            update();
        }
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void RecordingWaveformWidget::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    const qint64 duration = durationMs();
    if (!interactive || duration < 1 || delta == 0) {
        event->ignore();
        return;
    }
    const qint64 span = viewEndMs - viewStartMs;
    const qint64 tc = xToMs(qint64(event->position().x()));
    const float factor = delta > 0 ? 0.85f : 1.18f;
    qint64 newSpan = qint64(factor * float(span));
    newSpan = std::min(newSpan, duration);
    newSpan = std::max<qint64>(newSpan, qint64(10) * msPerPeak);
    const float ratio = span == 0 ? 0.5f : float(tc - viewStartMs) / float(span);
    viewStartMs = tc - qint64(float(newSpan) * ratio);
    viewEndMs = viewStartMs + newSpan;
    clampView();
    update();
    event->accept();
}

void RecordingWaveformWidget::keyPressEvent(QKeyEvent* event)
{
    if (!interactive) {
        event->ignore();
        return;
    }
    const bool selected = hasSelection();
    if (event->key() == Qt::Key_Delete && selected) {
        if (event->modifiers() & Qt::ShiftModifier)
            keepOnlySelection();
        else
            deleteSelection();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Z && (event->modifiers() & Qt::ControlModifier)) {
        if (!undoStack.isEmpty())
            undo();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && selected) {
        clearSelectionSilently();
        emit selectionChanged(false);
        update();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- painting ------------------------------------------------------------

void RecordingWaveformWidget::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(rect(), QColor(25, 25, 30));

    const int mid = midY();
    painter.setPen(QPen(QColor("#333"), 1, Qt::DashLine));
    painter.drawLine(0, mid, width(), mid);

    if (peaks.isEmpty()) {
        painter.setPen(QColor("#555"));
        painter.setFont(QFont("Arial", 11));
        painter.drawText(rect(), Qt::AlignCenter, tr("等待录音..."));
        return;
    }

    drawWaveform(painter);
    if (hasSelection())
        drawSelection(painter);
    if (viewEndMs - viewStartMs > 0)
        drawTimeRuler(painter);

    const int waveBottom = waveHeight();
    if (recording) {
        const qint64 x = msToX(durationMs());
        if (x >= 0 && x < width()) {
            painter.setPen(QPen(QColor("#ff8c00"), 2));
            painter.drawLine(int(x), 0, int(x), waveBottom);
        }
    }
    if (playbackPosMs >= 0) {
        const qint64 x = msToX(playbackPosMs);
        if (x >= 0 && x < width()) {
            painter.setPen(QPen(QColor(255, 100, 100), 2));
            painter.drawLine(int(x), 0, int(x), waveBottom);
        }
    }
}

void RecordingWaveformWidget::drawWaveform(QPainter& painter) const
{
    const QColor base = recording ? QColor(255, 140, 0) : QColor(0, 150, 255);
    QLinearGradient gradient(0, 0, 0, waveHeight());
    gradient.setColorAt(0.0, base.darker(160));
    gradient.setColorAt(0.5, base);
    gradient.setColorAt(1.0, base.darker(160));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);

    const qint64 span = viewEndMs - viewStartMs;
    if (span <= 0 || width() <= 0)
        return;
    const int mid = midY();
    const int scale = mid - 4;
    const double msPerPixel = double(span) / double(width());
    const qint64 count = peaks.size();
    for (int x = 0; x < width(); ++x) {
        const qint64 t0 = viewStartMs + qint64(x * msPerPixel);
        const qint64 first = std::max<qint64>(t0 / msPerPeak, 0);
        const qint64 last = std::min<qint64>((t0 + qint64(msPerPixel) + 1) / msPerPeak, count - 1);
        if (first > last || first >= count)
            continue;
        float lo = 0.0f;
        float hi = 0.0f;
        for (qint64 i = first; i <= last; ++i) {
            lo = std::min(lo, peaks[i].min);
            hi = std::max(hi, peaks[i].max);
        }
        const int top = mid - int(hi * float(scale));
        const int bottom = mid - int(lo * float(scale));
        painter.drawRect(QRect(x, top, 1, bottom - top + 1));
    }
}

void RecordingWaveformWidget::drawSelection(QPainter& painter) const
{
    qint64 x1 = msToX(selectionStartMs);
    qint64 x2 = msToX(selectionEndMs);
    if (x2 < x1)
        std::swap(x1, x2);
    const int waveBottom = waveHeight();
    painter.fillRect(QRect(int(x1), 0, int(x2 - x1), waveBottom), QColor(0, 150, 255, 40));
    painter.setPen(QPen(QColor(0, 150, 255), 1));
    painter.drawLine(int(x1), 0, int(x1), waveBottom);
    painter.drawLine(int(x2), 0, int(x2), waveBottom);
}

void RecordingWaveformWidget::drawTimeRuler(QPainter& painter) const
{
    const qint64 span = viewEndMs - viewStartMs;
    qint64 interval = 120000;
    if (span <= 9999)
        interval = 1000;
    else if (span < 60000)
        interval = 5000;
    else if (span < 300000)
        interval = 30000;
    else if (span < 600000)
        interval = 60000;

    const int rulerTop = height() - kRulerHeight;
    painter.setPen(QPen(QColor("#2a2a2a"), 1));
    painter.drawLine(0, rulerTop, width(), rulerTop);
    painter.setFont(QFont("Arial", 8));
    painter.setPen(QColor("#666"));
    for (qint64 t = viewStartMs - viewStartMs % interval; t <= viewEndMs; t += interval) {
        const qint64 x = msToX(t);
        if (x < 0 || x > width())
            continue;
        painter.drawLine(int(x), rulerTop, int(x), rulerTop + 4);
        const QString label = QStringLiteral("%1:%2")
                                  .arg(t / 60000, 2, 10, QLatin1Char('0'))
                                  .arg((t / 1000) % 60, 2, 10, QLatin1Char('0'));
        painter.drawText(QRect(QPoint(int(x) - 16, height() - 14), QPoint(int(x) + 15, height() - 5)),
                         Qt::AlignCenter, label);
    }
}
