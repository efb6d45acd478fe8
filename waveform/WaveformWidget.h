#pragma once

#include "waveform/EnvelopePoint.h"
#include "waveform/WaveformLabelLayout.h"
#include "waveform/WaveformMapping.h"

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class Cue;
class EnvelopeEditor;
class QPainter;

// The waveform view of the selected cue: peaks over time, the loop region
// with its handles, fades, volume and pan envelopes and the playhead. The
// operator seeks, drags the loop and the fades, edits envelope points, zooms
// and scrolls here; in show mode it is a read-only view of the loop region.
//
// It never owns the cue: it watches it through a guarded pointer and writes
// every edit back through the cue's setters. Painting is cached in two
// layers (background; fades and envelopes) with the playhead drawn between
// them; a playhead move only places the playhead again.
class WaveformWidget : public QWidget {
    Q_OBJECT

public:
    enum DragMode {
        DragNone = 0,
        DragSeek = 1,
        DragLoopStart = 2,
        DragLoopEnd = 3,
        DragFadeIn = 4,
        DragFadeOut = 5,
        DragViewPan = 6,
        DragLoopMove = 7,
    };

    static constexpr qint64 kMinLoopMs = 2000;
    static constexpr qint64 kMinZoomSpanMs = 2000;
    static constexpr qint64 kNoDurationViewMs = 300000;
    static constexpr qint64 kMaxFadeMs = 20000;

    explicit WaveformWidget(QWidget* parent = nullptr);
    ~WaveformWidget() override;

    // Binding and feed from the main window
    void setCue(Cue* cue);
    Cue* cue() const;
    void setAudioData(const QList<float>& waveform);
    void clearWaveform();
    void setPlaybackPosition(Cue* playingCue, qint64 positionMs);
    void setPosition(qint64 positionMs);
    void setShowMode(bool on);
    void updateLoopValid();
    void setEnvelopeEditMode(bool panMode);
    void setFadeEnabled(bool enabled);
    void setEnvelopeEnabled(bool enabled);

    // Look
    void setWaveformColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setGridColor(const QColor& color);
    void setPlayheadColor(const QColor& color);
    void setDisplayMode(int mode);
    void setAmplitudeScale(float scale);
    void setLevel(float level);

    // Visible range
    void zoomToFit();
    void zoomAt(float factor, qint64 anchorMs);
    void showFullRange();
    void toggleLoopView();

    // State read by the main window
    qint64 playheadMs() const { return m_positionMs; }
    bool isMousePressed() const;
    bool showMode() const { return m_showMode; }
    bool isFreeView() const { return m_freeView; }
    bool isLoopValid() const { return m_loopValid; }
    bool isEditingPan() const { return m_editPan; }
    bool hasWaveform() const { return m_hasWaveform; }
    qint64 viewStartMs() const { return m_viewStartMs; }
    qint64 viewEndMs() const { return m_viewEndMs; }
    float amplitudeScale() const { return m_amplitudeScale; }
    int displayMode() const { return m_displayMode; }
    QList<EnvelopePoint> volumeEnvelopePoints() const { return buildVolumePoints(); }
    QList<EnvelopePoint> editedVolumePoints() const { return m_volumePoints; }
    QList<EnvelopePoint> editedPanPoints() const { return m_panPoints; }
    double volumeAt(qint64 ms) const;

    // How often the background layer was redrawn, and the playhead placed.
    int backgroundRebuildCount() const { return m_backgroundRebuilds; }
    int playheadPlacementCount() const { return m_playheadPlacements; }
    // The texts as they are drawn now, each where the label layout put it.
    QList<WaveformLabel> placedLabels();

    // Maps between time, value and pixels
    float timeToX(qint64 ms) const { return mapping().timeToX(ms); }
    qint64 xToTime(float x) const { return mapping().xToTime(x); }
    float gainToY(float gain) const { return mapping().gainToY(gain); }
    float yToGain(float y) const { return mapping().yToGain(y); }
    float panToY(double pan) const { return mapping().panToY(pan); }
    float yToPan(float y) const { return mapping().yToPan(y); }
    qint64 fadeInFromX(float x) const;
    qint64 fadeOutFromX(float x) const;
    QList<EnvelopePoint> buildVolumePoints() const;
    QList<EnvelopePoint> buildPanPoints() const;

    // Time texts
    static QString formatPosition(qint64 ms);         // "m:ss.hh"
    static QString formatMinutesSeconds(qint64 ms);   // "m:ss"
    static QString formatDotted(qint64 ms);           // "mm.ss.hh"
    static QString formatSeconds(int seconds);        // "mm:ss"
    static qint64 parseTimeText(const QString& text);  // ms, 0 when unreadable

Q_SIGNALS:
    void positionClicked(qlonglong positionMs);
    void loopRangeDragging(qlonglong loopStart, qlonglong loopEnd);
    void needReload();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private Q_SLOTS:
    void onCueDataUpdated();

private:
    // Terms shared by painting and editing
    qint64 durationMs() const;
    qint64 loopStartMs() const;
    qint64 effectiveLoopEnd() const;
    qint64 span() const { return m_viewEndMs - m_viewStartMs; }
    WaveformMapping mapping() const;
    void showWholeFile();
    void zoomBy(double factor, qint64 anchorMs);
    void setViewRange(qint64 startMs, qint64 endMs);
    void markPlayheadDirty();
    void markAllDirty();
    void redrawBackground();
    void redrawPlayhead();
    void redrawAll();
    void resetGesture();
    void abandonGesture();
    void setCursorShape(Qt::CursorShape shape);

    // The two envelopes, told apart by pan (true) or volume (false)
    const QList<EnvelopePoint>& pointsOf(bool pan) const;
    QList<EnvelopePoint>& pointsOf(bool pan);
    EnvelopeEditor editorOf(bool pan);
    bool editedEnvelopeOn() const;
    void switchEditedEnvelope(bool pan);
    void onEnvelopeSwitched(bool pan, bool on);

    // Painting
    void rebuildBackground();
    void placePlayhead();
    void rebuildEnvelopeLayer();
    void drawTimeGrid(QPainter& painter);
    void drawWaveform(QPainter& painter);
    void drawMissingFile(QPainter& painter);
    void drawNoPeaks(QPainter& painter);
    void drawLoopRegion(QPainter& painter);
    void drawLoopLabels(QPainter& painter);
    void measurePlayhead();  // its two pixel columns and its texts
    void drawFadesAndEnvelopes(QPainter& painter);
    void drawLevelBar(QPainter* painter);
    QString displayName() const;

    // Loop regions as drawn
    struct TimeRange {
        qint64 startMs = 0;
        qint64 endMs = 0;
    };
    TimeRange storedLoopRange(qint64 duration) const;
    TimeRange fadeRange(qint64 duration) const;
    TimeRange withLoopDrag(TimeRange range) const;
    TimeRange displayedLoopRange() const;

    // Mouse editing
    int hitTestVolumePoint(const QPointF& pos, float radius) const;
    int hitTestPanPoint(const QPointF& pos, float radius) const;
    int hitTestEditedPoint(const QPointF& pos) const;
    int hitTestFadeHandle(const QPointF& pos, float radius) const;
    bool onLoopStartHandle(const QPoint& pos) const;
    bool onLoopEndHandle(const QPoint& pos) const;
    bool onGripPressZone(const QPoint& pos) const;
    bool onGripHoverZone(const QPoint& pos) const;
    void sortVolumePoints();
    void sortPanPoints();
    void writePoints(bool pan);
    void fitFadesToLoop(qint64 start, qint64 end);
    void fitFadesToCurrentLoop();
    void commitLoopDrag(qint64 start, qint64 end);
    void reportCommittedLoop();
    void movePlayheadTo(qint64 positionMs);
    void handleRightPress(QMouseEvent* event, const QPoint& pos);
    bool addPointAt(const QPoint& pos);
    void startPointDrag(int index);
    int draggedPointIndex() const;
    void dragPoint(int index, const QPoint& pos, bool keepValue);
    void endPointDrag(bool pan);
    void editPointValue(bool pan, int index);

    // Wheel
    void scrollBy(double delta);

    QPointer<Cue> m_cue;
    QList<float> m_peaks;
    bool m_hasWaveform = false;
    QPointer<Cue> m_playingCue;
    qint64 m_positionMs = 0;
    qint64 m_dragLoopStartMs = -1;
    qint64 m_dragLoopEndMs = -1;
    qint64 m_seekDragMs = 0;
    QList<EnvelopePoint> m_volumePoints;
    bool m_draggingVolumePoint = false;
    int m_dragVolumeIndex = -1;
    QList<EnvelopePoint> m_panPoints;
    bool m_draggingPanPoint = false;
    int m_dragPanIndex = -1;
    bool m_editPan = false;
    qint64 m_viewStartMs = 0;
    qint64 m_viewEndMs = 0;
    float m_amplitudeScale = 1.0f;
    float m_levelValue = 0.0f;
    bool m_loopValid = false;
    bool m_freeView = true;
    QColor m_waveformColor{0, 150, 255, 200};
    QColor m_backgroundColor{25, 25, 30};
    QColor m_gridColor{50, 50, 60};
    QColor m_playheadColor{255, 100, 100};
    int m_displayMode = 1;
    QPixmap m_backgroundCache;
    QRect m_playheadBar;  // the playhead's two pixel columns
    QPixmap m_envelopeCache;
    // Texts of the cached layers and of the playhead, and the marks they
    // keep clear of; laid out together and drawn above all layers.
    QList<WaveformLabel> m_layerLabels;
    QList<QRect> m_layerMarks;
    QList<WaveformLabel> m_playheadLabels;
    bool m_backgroundDirty = true;
    bool m_playheadDirty = true;
    bool m_pressed = false;
    int m_dragMode = DragNone;
    QPoint m_pressPos;
    bool m_movedSincePress = false;
    QPoint m_rightPressPos;
    qint64 m_viewStartAtPress = 0;
    int m_pressX = 0;
    qint64 m_loopAtPressStartMs = 0;
    qint64 m_loopAtPressEndMs = 0;
    bool m_viewPanning = false;
    bool m_updatingFromCue = false;
    float m_pinchDistance = 0.0f;
    float m_pinchCentreX = 0.0f;
    bool m_pinchActive = false;
    bool m_smoothScrolling = false;
    QElapsedTimer m_wheelTimer;
    bool m_showMode = false;

    int m_backgroundRebuilds = 0;
    int m_playheadPlacements = 0;
};
