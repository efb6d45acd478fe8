#pragma once

#include "recording/PeakPair.h"

#include <QWidget>

class QPainter;

// The waveform strip of the recording dialog: follows a running recording,
// then lets the operator zoom, pan, place the playback line, select a range,
// delete it or keep only it, and undo. It edits only its own peaks and
// reports each edit by a signal so the dialog can cut the audio alike.
// Times are milliseconds on the recording's time line; peak i covers
// i * 10 .. i * 10 + 10.
class RecordingWaveformWidget : public QWidget {
    Q_OBJECT

public:
    enum DragMode { Idle = 0, Selecting = 1, Moving = 2, Pressed = 3 };

    explicit RecordingWaveformWidget(QWidget* parent = nullptr);
    ~RecordingWaveformWidget() override;

    void setPeaks(const QList<PeakPair>& newPeaks);
    void appendPeaks(const QList<PeakPair>& more);
    void clear();
    void setRecording(bool on);
    void setInteractive(bool on);
    void setPlaybackPosition(qint64 ms);

    qint64 playbackPosition() const { return playbackPosMs; }
    qint64 selectionStart() const { return selectionStartMs; }
    qint64 selectionEnd() const { return selectionEndMs; }
    bool hasSelection() const;
    void setSelection(qint64 startMs, qint64 endMs);
    void clearSelection();

    void deleteSelection();
    void keepOnlySelection();
    void undo();
    void trimSilence(float threshold, qint64* trimmedStartMs, qint64* trimmedEndMs);

    qint64 durationMs() const { return qint64(msPerPeak) * peaks.size(); }
    qint64 msToX(qint64 ms) const;
    qint64 xToMs(qint64 x) const;

    // Read-only views for the dialog and tests.
    const QList<PeakPair>& peakList() const { return peaks; }
    qint64 viewStart() const { return viewStartMs; }
    qint64 viewEnd() const { return viewEndMs; }
    bool canUndo() const { return !undoStack.isEmpty(); }
    bool isRecording() const { return recording; }
    bool isInteractive() const { return interactive; }

signals:
    void selectionChanged(bool hasSel);
    void durationChanged(qlonglong durationMs);
    void selectionRangeChanged(qlonglong startMs, qlonglong endMs);
    void playbackPosChanged(qlonglong ms);
    void rangeDeleted(qlonglong startMs, qlonglong endMs);
    void rangeKept(qlonglong startMs, qlonglong endMs);
    void undoPerformed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kRulerHeight = 20;
    static constexpr int kNearPixels = 6;

    int waveHeight() const { return height() - kRulerHeight; }
    int midY() const { return waveHeight() / 2; }
    bool nearX(int x, qint64 ms) const;
    void selectedPeakRange(int* first, int* last) const;
    void clearSelectionSilently();
    void showWhole();
    void clampView();
    void updateHoverCursor(int x, int y, Qt::KeyboardModifiers modifiers);

    void drawWaveform(QPainter& painter) const;
    void drawSelection(QPainter& painter) const;
    void drawTimeRuler(QPainter& painter) const;

    QList<PeakPair> peaks;
    QList<QList<PeakPair>> undoStack;
    qint64 viewStartMs = 0;
    qint64 viewEndMs = 0;
    qint64 selectionStartMs = -1;
    qint64 selectionEndMs = -1;
    DragMode dragMode = Idle;
    qint64 dragAnchorMs = 0;
    bool dragMovesStart = false;
    qint64 moveOriginStartMs = 0;
    qint64 moveOriginEndMs = 0;
    qint64 movePressMs = 0;
    int pressX = 0;
    qint64 pressMs = 0;
    bool panning = false;
    int panPressX = 0;
    qint64 panStartViewMs = 0;
    bool recording = false;
    bool interactive = true;
    int msPerPeak = 10;
    qint64 followWindowMs = 30000;
    qint64 playbackPosMs = -1;
    bool playheadDragging = false;
};
