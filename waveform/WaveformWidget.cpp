#include "waveform/WaveformWidget.h"

#include "model/Cue.h"
#include "playback/CueManager.h"
#include "waveform/EnvelopeEditor.h"
#include "waveform/EnvelopeKind.h"
#include "waveform/EnvelopeLayerPainter.h"
#include "waveform/WaveformTexts.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPointingDevice>
#include <QPolygonF>
#include <QRegularExpression>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHitRadius = 10;
constexpr int kDeadZonePx = 6;
constexpr qint64 kNoCueFileEndMs = 10000;
constexpr int kWheelNotch = 120;

QPen solidPen(const QColor& color, qreal width)
{
    return QPen(QBrush(color), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QFont boldFont(const QFont& base, int pointSize = -1)
{
    QFont font = base;
    if (pointSize > 0)
        font.setPointSize(pointSize);
    font.setWeight(QFont::Bold);
    return font;
}

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// The registry's current cue counts as the shown one when it is the same
// object or a copy of the same stored row; unsaved cues (id below 1) never
// match each other by id.
bool sameCue(const Cue* a, const Cue* b)
{
    return a && b && (a == b || (a->id() > 0 && a->id() == b->id()));
}

// Truncated to whole ms, without the last bit of floating-point noise
// turning 5000 into 4999.
qint64 wholeMs(double ms)
{
    return qint64(ms + (ms >= 0 ? 1e-6 : -1e-6));
}

const EnvelopeKind& kindOf(bool pan)
{
    return pan ? EnvelopeKind::pan() : EnvelopeKind::volume();
}

}  // namespace

WaveformWidget::WaveformWidget(QWidget* parent)
    : QWidget(parent)
{
    qRegisterMetaType<EnvelopePoint>("EnvelopePoint");
    qRegisterMetaType<QList<EnvelopePoint>>("QList<EnvelopePoint>");

    m_volumePoints = buildVolumePoints();
    setMinimumHeight(81);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_MouseTracking);
    setFocusPolicy(Qt::StrongFocus);
}

WaveformWidget::~WaveformWidget() = default;

// ---------------------------------------------------------------------------
// Terms

Cue* WaveformWidget::cue() const
{
    return m_cue.data();
}

qint64 WaveformWidget::durationMs() const
{
    return m_cue ? m_cue->durationMs() : 0;
}

qint64 WaveformWidget::loopStartMs() const
{
    return m_cue ? m_cue->loopStartMs() : 0;
}

// A stored loop end of 0 (or one past the file) means: to the end of the file.
qint64 WaveformWidget::effectiveLoopEnd() const
{
    if (!m_cue)
        return 0;
    const qint64 duration = m_cue->durationMs();
    const qint64 end = m_cue->loopEndMs();
    return (end >= 1 && end < duration) ? end : duration;
}

void WaveformWidget::showWholeFile()
{
    const qint64 duration = durationMs();
    m_viewStartMs = 0;
    m_viewEndMs = duration >= 1 ? duration : kNoDurationViewMs;
}

void WaveformWidget::setViewRange(qint64 startMs, qint64 endMs)
{
    m_viewStartMs = std::max<qint64>(startMs, 0);
    m_viewEndMs = endMs;
    redrawAll();
}

// What is marked dirty (the background layer, the playhead's place) is drawn
// again at the next paint; update() asks for it.
void WaveformWidget::markPlayheadDirty()
{
    m_playheadDirty = true;
}

void WaveformWidget::markAllDirty()
{
    m_backgroundDirty = true;
    m_playheadDirty = true;
}

void WaveformWidget::redrawBackground()
{
    m_backgroundDirty = true;
    update();
}

void WaveformWidget::redrawPlayhead()
{
    markPlayheadDirty();
    update();
}

void WaveformWidget::redrawAll()
{
    markAllDirty();
    update();
}

void WaveformWidget::resetGesture()
{
    m_pressed = false;
    m_dragMode = DragNone;
    m_viewPanning = false;
    setCursorShape(Qt::ArrowCursor);
}

// Ends whatever gesture was under way without committing it.
void WaveformWidget::abandonGesture()
{
    resetGesture();
    m_draggingVolumePoint = m_draggingPanPoint = false;
    m_dragVolumeIndex = m_dragPanIndex = -1;
    m_dragLoopStartMs = m_dragLoopEndMs = -1;
    m_movedSincePress = false;
}

void WaveformWidget::setCursorShape(Qt::CursorShape shape)
{
    if (cursor().shape() != shape)
        setCursor(shape);
}

bool WaveformWidget::isMousePressed() const
{
    return m_pressed || m_draggingVolumePoint || m_draggingPanPoint || m_dragMode == DragFadeIn
        || m_dragMode == DragFadeOut;
}

double WaveformWidget::volumeAt(qint64 ms) const
{
    if (!m_cue || !m_cue->envelopeEnabled())
        return 1.0;
    return m_cue->volumeAt(ms);
}

// ---------------------------------------------------------------------------
// Binding

QList<EnvelopePoint> WaveformWidget::buildVolumePoints() const
{
    return EnvelopeKind::volume().pointsOf(m_cue.data());
}

QList<EnvelopePoint> WaveformWidget::buildPanPoints() const
{
    return EnvelopeKind::pan().pointsOf(m_cue.data());
}

const QList<EnvelopePoint>& WaveformWidget::pointsOf(bool pan) const
{
    return pan ? m_panPoints : m_volumePoints;
}

QList<EnvelopePoint>& WaveformWidget::pointsOf(bool pan)
{
    return pan ? m_panPoints : m_volumePoints;
}

EnvelopeEditor WaveformWidget::editorOf(bool pan)
{
    return EnvelopeEditor(kindOf(pan), pointsOf(pan), mapping(), m_cue ? m_cue->durationMs() : kNoCueFileEndMs);
}

// The mouse edits only an envelope that the cue has switched on.
bool WaveformWidget::editedEnvelopeOn() const
{
    return m_cue && kindOf(m_editPan).isEnabled(*m_cue);
}

void WaveformWidget::switchEditedEnvelope(bool pan)
{
    m_editPan = pan;
    // The envelope no longer edited keeps no selected point.
    editorOf(!pan).select(-1);
    redrawBackground();
}

void WaveformWidget::setCue(Cue* cue)
{
    Cue* shown = m_cue.data();
    if (cue == shown) {
        m_volumePoints = buildVolumePoints();
        m_panPoints = buildPanPoints();
        updateLoopValid();
        redrawBackground();
        return;
    }

    if (shown)
        disconnect(shown, nullptr, this, nullptr);
    // A gesture that was under way belonged to the previous cue.
    abandonGesture();

    if (!cue) {
        m_cue = nullptr;
        m_freeView = true;
        m_peaks.clear();
        m_hasWaveform = false;
        m_playingCue = nullptr;
        m_positionMs = 0;
        redrawBackground();
        return;
    }

    m_cue = cue;
    m_freeView = true;
    connect(cue, &Cue::dataUpdated, this, &WaveformWidget::onCueDataUpdated);
    connect(cue, &Cue::durationChanged, this, &WaveformWidget::onCueDataUpdated);
    connect(cue, &Cue::envelopeEnabledChanged, this, [this](bool on) { onEnvelopeSwitched(false, on); });
    connect(cue, &Cue::panEnvelopeEnabledChanged, this, [this](bool on) { onEnvelopeSwitched(true, on); });

    CueManager* registry = CueManager::instance();
    Cue* current = registry->getCurrentCue();
    const bool playingHere = sameCue(current, cue) && registry->isPlaying();
    if (playingHere) {
        m_playingCue = cue;
        m_positionMs = registry->getCurrentPosition();
    } else {
        m_playingCue = nullptr;
        const qint64 limit = std::max<qint64>(cue->durationMs(), 1);
        const qint64 end = (cue->loopEndMs() >= 1 && cue->loopEndMs() <= limit) ? cue->loopEndMs() : limit;
        m_positionMs = std::clamp<qint64>(cue->loopStartMs(), 0, end);
    }

    m_peaks = cue->waveform();
    m_hasWaveform = !m_peaks.isEmpty();
    m_volumePoints = buildVolumePoints();
    m_panPoints = buildPanPoints();
    m_editPan = cue->panEnvelopeEnabled();
    showWholeFile();
    if (playingHere)
        setPlaybackPosition(current, registry->getCurrentPosition());
    updateLoopValid();
    redrawAll();
}

void WaveformWidget::onCueDataUpdated()
{
    if (!m_cue || m_updatingFromCue)
        return;
    m_updatingFromCue = true;
    // The point the operator holds keeps its selection through the rebuild,
    // so that the wheel can still nudge it after the release.
    qint64 selectedTime = -1;
    for (const EnvelopePoint& point : std::as_const(m_volumePoints)) {
        if (point.selected) {
            selectedTime = point.timeMs;
            break;
        }
    }
    m_volumePoints = buildVolumePoints();
    if (selectedTime >= 0) {
        for (EnvelopePoint& point : m_volumePoints) {
            if (point.timeMs == selectedTime) {
                point.selected = true;
                break;
            }
        }
    }
    updateLoopValid();
    const QList<float> waveform = m_cue->waveform();
    if (!waveform.isEmpty()) {
        m_peaks = waveform;
        m_hasWaveform = true;
    }
    redrawAll();
    m_updatingFromCue = false;
}

// An envelope switched on becomes the edited one; one switched off hands the
// mouse to the other when that is on.
void WaveformWidget::onEnvelopeSwitched(bool pan, bool on)
{
    if (on)
        m_editPan = pan;
    else if (m_cue && kindOf(!pan).isEnabled(*m_cue))
        m_editPan = !pan;
    redrawBackground();
}

void WaveformWidget::setAudioData(const QList<float>& waveform)
{
    m_peaks = waveform;
    m_hasWaveform = !waveform.isEmpty();
    if (!waveform.isEmpty()) {
        const qsizetype limit = std::min<qsizetype>(waveform.size(), 100);
        int leadingZeros = 0;
        while (leadingZeros < limit && std::abs(waveform[leadingZeros]) < 0.001f)
            ++leadingZeros;
        if (leadingZeros > 0)
            qWarning() << "⚠️ WaveformWidget::setAudioData - Found" << leadingZeros
                       << "leading zeros at the beginning!";
    }
    redrawBackground();
}

void WaveformWidget::clearWaveform()
{
    m_peaks.clear();
    m_hasWaveform = false;
    if (Cue* shown = m_cue.data())
        disconnect(shown, nullptr, this, nullptr);
    m_cue = nullptr;
    redrawBackground();
}

void WaveformWidget::setPlaybackPosition(Cue* playingCue, qint64 positionMs)
{
    if (m_dragMode == DragSeek || m_dragMode == DragLoopStart || m_dragMode == DragLoopEnd)
        return;
    qint64 position = positionMs;
    if (playingCue) {
        if (m_cue && playingCue != m_cue)
            return;
        m_playingCue = playingCue;
        if (m_cue)
            position = std::max(loopStartMs(), std::min(effectiveLoopEnd(), positionMs));
    } else {
        if (!m_playingCue)
            return;
        m_playingCue = nullptr;
        position = loopStartMs();
    }
    m_positionMs = position;
    redrawPlayhead();
}

void WaveformWidget::setPosition(qint64 positionMs)
{
    m_positionMs = positionMs;
    m_seekDragMs = positionMs;
    redrawPlayhead();
}

void WaveformWidget::setShowMode(bool on)
{
    m_showMode = on;
    if (on && m_cue && m_cue->loopEndMs() > std::max<qint64>(m_cue->loopStartMs(), 0)) {
        m_freeView = false;
        m_viewStartMs = m_cue->loopStartMs();
        m_viewEndMs = std::min(m_cue->loopEndMs(), m_cue->durationMs());
    } else {
        m_freeView = true;
        if (m_cue)
            showWholeFile();
    }
    redrawAll();
}

void WaveformWidget::updateLoopValid()
{
    m_loopValid = m_cue && effectiveLoopEnd() > m_cue->loopStartMs();
}

void WaveformWidget::setEnvelopeEditMode(bool panMode)
{
    if (!m_cue || !m_cue->envelopeEnabled() || !m_cue->panEnvelopeEnabled())
        return;
    switchEditedEnvelope(panMode);
}

void WaveformWidget::setFadeEnabled(bool enabled)
{
    if (m_cue && m_cue->fadeEnabled() != enabled)
        m_cue->setFadeEnabled(enabled);
}

void WaveformWidget::setEnvelopeEnabled(bool enabled)
{
    if (m_cue && m_cue->envelopeEnabled() != enabled)
        m_cue->setEnvelopeEnabled(enabled);
}

// ---------------------------------------------------------------------------
// Look

void WaveformWidget::setWaveformColor(const QColor& color)
{
    m_waveformColor = color;
    redrawBackground();
}

void WaveformWidget::setBackgroundColor(const QColor& color)
{
    m_backgroundColor = color;
    redrawBackground();
}

void WaveformWidget::setGridColor(const QColor& color)
{
    m_gridColor = color;
    redrawBackground();
}

void WaveformWidget::setPlayheadColor(const QColor& color)
{
    m_playheadColor = color;
    redrawPlayhead();
}

void WaveformWidget::setDisplayMode(int mode)
{
    m_displayMode = mode;
    redrawBackground();
}

void WaveformWidget::setAmplitudeScale(float scale)
{
    m_amplitudeScale = std::clamp(scale, 0.3f, 2.5f);
    redrawBackground();
}

void WaveformWidget::setLevel(float level)
{
    m_levelValue = std::clamp(level, 0.0f, 1.0f);
    update();
}

// ---------------------------------------------------------------------------
// Visible range

void WaveformWidget::zoomToFit()
{
    if (!m_cue)
        return;
    showWholeFile();
    redrawAll();
}

void WaveformWidget::zoomAt(float factor, qint64 anchorMs)
{
    // A float factor such as 1.2f is not quite 1.2; six decimals are all a
    // zoom step means.
    zoomBy(std::round(double(factor) * 1e6) / 1e6, anchorMs);
}

void WaveformWidget::zoomBy(double factor, qint64 anchorMs)
{
    const qint64 duration = durationMs();
    if (duration < 1 || !(factor > 0.0))
        return;
    const qint64 newSpan
        = std::max<qint64>(std::min<qint64>(wholeMs(double(span()) / factor), duration), kMinZoomSpanMs);
    qint64 start = wholeMs(double(anchorMs) - double(anchorMs - m_viewStartMs) / factor);
    qint64 end = start + newSpan;
    if (start < 0) {
        start = 0;
        end = newSpan;
    }
    if (end > duration) {
        end = duration;
        start = duration - newSpan;
    }
    setViewRange(start, end);
}

void WaveformWidget::showFullRange()
{
    if (m_freeView)
        return;
    m_freeView = true;
    redrawAll();
}

void WaveformWidget::toggleLoopView()
{
    if (!m_cue)
        return;
    if (m_freeView) {
        // The effective end: a stored end of 0 stands for the end of the file.
        m_viewStartMs = m_cue->loopStartMs();
        m_viewEndMs = effectiveLoopEnd();
        m_freeView = false;
    } else {
        showWholeFile();
        m_freeView = true;
    }
    redrawAll();
}

// ---------------------------------------------------------------------------
// Coordinates

WaveformMapping WaveformWidget::mapping() const
{
    return WaveformMapping(m_viewStartMs, m_viewEndMs, width(), height());
}

qint64 WaveformWidget::fadeInFromX(float x) const
{
    if (!m_cue)
        return 0;
    const qint64 t = std::min(effectiveLoopEnd(), xToTime(x));
    const qint64 length = t - m_cue->loopStartMs();
    return length > 0 ? length : 0;
}

qint64 WaveformWidget::fadeOutFromX(float x) const
{
    if (!m_cue)
        return 0;
    const qint64 end = effectiveLoopEnd();
    const qint64 t = std::max(std::min(end, xToTime(x)), m_cue->loopStartMs());
    return std::max<qint64>(end - t, 0);
}

// ---------------------------------------------------------------------------
// Time texts

QString WaveformWidget::formatPosition(qint64 ms)
{
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000)
        .arg(twoDigits((ms / 1000) % 60))
        .arg(twoDigits((ms % 1000) / 10));
}

QString WaveformWidget::formatMinutesSeconds(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(twoDigits(seconds % 60));
}

QString WaveformWidget::formatDotted(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    return QStringLiteral("%1.%2.%3")
        .arg(twoDigits(ms / 60000), twoDigits((ms / 1000) % 60), twoDigits((ms % 1000) / 10));
}

QString WaveformWidget::formatSeconds(int seconds)
{
    return QStringLiteral("%1:%2").arg(twoDigits(seconds / 60), twoDigits(seconds % 60));
}

qint64 WaveformWidget::parseTimeText(const QString& text)
{
    const QString trimmed = text.trimmed();
    static const QRegularExpression dotted(QStringLiteral("^(\\d+)\\.(\\d+)\\.(\\d+)$"));
    static const QRegularExpression colon(QStringLiteral("^(\\d+):(\\d+(?:\\.\\d*)?)$"));
    static const QRegularExpression seconds(QStringLiteral("^\\d+(?:\\.\\d*)?$"));
    if (const QRegularExpressionMatch m = dotted.match(trimmed); m.hasMatch())
        return m.captured(1).toLongLong() * 60000 + m.captured(2).toLongLong() * 1000
            + m.captured(3).toLongLong() * 10;
    if (const QRegularExpressionMatch m = colon.match(trimmed); m.hasMatch())
        return m.captured(1).toLongLong() * 60000 + qRound64(m.captured(2).toDouble() * 1000.0);
    if (seconds.match(trimmed).hasMatch())
        return qRound64(trimmed.toDouble() * 1000.0);
    return 0;
}

// ---------------------------------------------------------------------------
// Painting

void WaveformWidget::resizeEvent(QResizeEvent* event)
{
    markAllDirty();
    QWidget::resizeEvent(event);
}

void WaveformWidget::paintEvent(QPaintEvent*)
{
    if (m_backgroundDirty)
        rebuildBackground();
    if (m_playheadDirty)
        placePlayhead();
    // Two cached layers with the playhead between them: a playhead tick
    // only places the playhead again.
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_backgroundCache);
    if (m_cue) {
        // Straight onto the view: a layer of its own cost a clear and a
        // blend of every pixel at each tick, for a line two pixels wide.
        if (!m_playheadBar.isEmpty())
            painter.fillRect(m_playheadBar, m_playheadColor);
        painter.drawPixmap(0, 0, m_envelopeCache);
        // The texts go above everything, where no one covers another.
        WaveformLabelLayout::paint(painter, placedLabels());
    }
}

QList<WaveformLabel> WaveformWidget::placedLabels()
{
    if (m_backgroundDirty)
        rebuildBackground();
    if (m_playheadDirty)
        placePlayhead();
    if (!m_cue)
        return {};
    WaveformLabelLayout layout(rect());
    for (const QRect& mark : std::as_const(m_layerMarks))
        layout.reserve(mark);
    return layout.place(m_layerLabels + m_playheadLabels);
}

void WaveformWidget::rebuildBackground()
{
    if (width() < 1 || height() < 1)
        return;
    const qreal ratio = devicePixelRatioF();
    m_backgroundCache = QPixmap(size() * ratio);
    m_backgroundCache.setDevicePixelRatio(ratio);
    m_backgroundCache.fill(Qt::transparent);
    m_layerLabels.clear();
    m_layerMarks.clear();
    QPainter painter(&m_backgroundCache);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(rect(), m_backgroundColor);
    if (m_cue) {
        if (m_showMode) {
            drawWaveform(painter);
        } else {
            drawTimeGrid(painter);
            drawWaveform(painter);
            drawLoopRegion(painter);
            drawLoopLabels(painter);
        }
    }
    painter.end();
    m_backgroundDirty = false;
    ++m_backgroundRebuilds;
    rebuildEnvelopeLayer();
}

// The fades and envelopes change only with the edits that also redraw the
// background, but they lie above the playhead: a layer of their own.
void WaveformWidget::rebuildEnvelopeLayer()
{
    const qreal ratio = devicePixelRatioF();
    m_envelopeCache = QPixmap(size() * ratio);
    m_envelopeCache.setDevicePixelRatio(ratio);
    m_envelopeCache.fill(Qt::transparent);
    if (m_cue) {
        QPainter painter(&m_envelopeCache);
        drawFadesAndEnvelopes(painter);
    }
}

void WaveformWidget::placePlayhead()
{
    if (width() < 1 || height() < 1)
        return;
    m_playheadBar = QRect();
    m_playheadLabels.clear();
    if (m_cue)
        measurePlayhead();
    m_playheadDirty = false;
    ++m_playheadPlacements;
}

void WaveformWidget::drawTimeGrid(QPainter& painter)
{
    const qint64 duration = durationMs();
    const qint64 s = span();
    if (duration < 1 || s < 1)
        return;
    const int w = width();
    const int h = height();
    painter.setPen(solidPen(m_gridColor, 1));

    qint64 interval = 60000;
    if (s <= 5000)
        interval = 1000;
    else if (s <= 30000)
        interval = 5000;
    else if (s <= 60000)
        interval = 10000;
    else if (s <= 300000)
        interval = 30000;

    for (qint64 t = m_viewStartMs - (m_viewStartMs % interval); t <= m_viewEndMs; t += interval) {
        if (t < m_viewStartMs)
            continue;
        const int x = int(float(t - m_viewStartMs) / float(s) * float(w));
        painter.drawLine(x, 0, x, h);
        m_layerLabels << WaveformTexts::tick(font(), m_gridColor, x, h, formatMinutesSeconds(t));
    }

    QPen dashed(QBrush(m_gridColor), 1, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(dashed);
    painter.drawLine(0, h / 2, w, h / 2);

    m_layerLabels << WaveformTexts::totalLength(boldFont(font()), m_gridColor, w,
                                                QStringLiteral("音频总长: %1").arg(formatMinutesSeconds(duration)));
}

QString WaveformWidget::displayName() const
{
    if (!m_cue)
        return {};
    QString name = m_cue->alias().isEmpty() ? m_cue->name() : m_cue->alias();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return name;
}

void WaveformWidget::drawWaveform(QPainter& painter)
{
    const QString path = m_cue->filePath();
    if (path.isEmpty() || !QFile::exists(path)) {
        drawMissingFile(painter);
        return;
    }
    if (!m_hasWaveform || m_peaks.isEmpty()) {
        drawNoPeaks(painter);
        return;
    }
    const qint64 duration = durationMs();
    const qint64 s = span();
    const int w = width();
    const int h = height();
    if (duration < 1 || s < 1)
        return;

    // Each column takes the largest peak of its share of the list, so the
    // cost follows the width, not the length of the file.
    const qint64 n = m_peaks.size();
    const float mid = float(h / 2);
    const float scale = m_amplitudeScale * mid;
    const qint64 perPixel = std::max<qint64>(1, ((s / w) * n) / duration);
    const float* peaks = m_peaks.constData();

    QPolygonF top(w);
    QPolygonF bottom(w);
    for (int x = 0; x < w; ++x) {
        const qint64 t = qint64(float(x) / float(w) * float(s)) + m_viewStartMs;
        const qint64 i = std::clamp<qint64>(t * n / duration, 0, n - 1);
        const qint64 last = std::min(n, i + perPixel);
        float peak = 0.0f;
        for (qint64 k = i; k < last; ++k)
            peak = std::max(peak, peaks[k]);
        const float amp = peak * scale;
        top[x] = QPointF(x, std::clamp(mid - amp, 0.0f, float(h)));
        bottom[x] = QPointF(x, std::clamp(mid + amp, 0.0f, float(h)));
    }
    if (top.isEmpty())
        return;

    painter.setPen(solidPen(m_waveformColor, 1));
    painter.drawPolyline(top);
    painter.drawPolyline(bottom);

    QPolygonF area = top;
    area.reserve(2 * w);
    for (int x = w - 1; x >= 0; --x)
        area.append(bottom[x]);
    QColor fill = m_waveformColor;
    fill.setAlpha(40);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPolygon(area);
    painter.setBrush(Qt::NoBrush);
}

void WaveformWidget::drawMissingFile(QPainter& painter)
{
    painter.fillRect(rect(), QColor(80, 30, 30, 150));
    Cue* current = CueManager::instance()->getCurrentCue();
    if (!current || sameCue(current, m_cue)) {
        painter.setPen(solidPen(QColor(200, 100, 100), 1));
        const QString text = QStringLiteral("⚠️ 文件损坏\n%1").arg(displayName());
        painter.drawText(rect(), Qt::AlignCenter, text);
        m_layerMarks << painter.boundingRect(rect(), Qt::AlignCenter, text);
        return;
    }
    const QString fileName = QFileInfo(current->filePath()).fileName();
    const QString playing
        = current->alias().isEmpty() ? fileName : QStringLiteral("%1 - %2").arg(current->alias(), fileName);
    painter.setPen(solidPen(QColor(255, 100, 100), 2));
    QFont font = boldFont(painter.font());
    font.setPointSizeF(font.pointSizeF() + 2);
    painter.setFont(font);
    const QString text = QStringLiteral("⚠️ 文件损坏\n实际播放为: %1").arg(playing);
    painter.drawText(rect(), Qt::AlignCenter, text);
    m_layerMarks << painter.boundingRect(rect(), Qt::AlignCenter, text);
}

void WaveformWidget::drawNoPeaks(QPainter& painter)
{
    painter.setPen(solidPen(QColor(150, 150, 160), 1));
    CueManager* registry = CueManager::instance();
    Cue* current = registry->getCurrentCue();
    const bool isCurrent = sameCue(current, m_cue);
    QString text;
    if (isCurrent && registry->isPlaying())
        text = QStringLiteral("%1 %2").arg(QStringLiteral("▶"), displayName());
    else if (isCurrent && registry->isPaused())
        text = QStringLiteral("%1 %2").arg(QStringLiteral("⏸"), displayName());
    else
        text = QStringLiteral("当前正在播放: %1").arg(displayName());
    painter.drawText(rect(), Qt::AlignCenter, text);
    m_layerMarks << painter.boundingRect(rect(), Qt::AlignCenter, text);
}

// The loop region as drawn: the stored one, or the values of a drag under way.
// The stored loop region within a file of the given length; a stored end of
// 0 runs to the end of the file.
WaveformWidget::TimeRange WaveformWidget::storedLoopRange(qint64 duration) const
{
    const qint64 end = m_cue->loopEndMs() < 1 ? duration : std::min(duration, m_cue->loopEndMs());
    return {m_cue->loopStartMs(), end};
}

// The fades span the loop region, or the file from its start when the
// region is empty.
WaveformWidget::TimeRange WaveformWidget::fadeRange(qint64 duration) const
{
    TimeRange range = storedLoopRange(duration);
    if (range.endMs <= range.startMs)
        range.startMs = 0;
    return range;
}

// A loop drag under way shows its own values.
WaveformWidget::TimeRange WaveformWidget::withLoopDrag(TimeRange range) const
{
    if (m_dragMode == DragLoopStart && m_dragLoopStartMs >= 0)
        range.startMs = m_dragLoopStartMs;
    else if (m_dragMode == DragLoopEnd && m_dragLoopEndMs >= 0)
        range.endMs = m_dragLoopEndMs;
    else if (m_dragMode == DragLoopMove && m_dragLoopStartMs >= 0 && m_dragLoopEndMs >= 0)
        range = {m_dragLoopStartMs, m_dragLoopEndMs};
    return range;
}

WaveformWidget::TimeRange WaveformWidget::displayedLoopRange() const
{
    return withLoopDrag(storedLoopRange(durationMs()));
}

void WaveformWidget::drawLoopRegion(QPainter& painter)
{
    if (durationMs() < 1)
        return;
    const auto [start, end] = displayedLoopRange();
    const float xs = timeToX(start);
    const float xe = timeToX(end);
    const int w = width();
    const int h = height();

    const QColor shade(0, 0, 0, 80);
    if (start > m_viewStartMs) {
        const float shadeWidth = std::min(xs, float(w));
        if (shadeWidth > 0)
            painter.fillRect(QRectF(0, 0, shadeWidth, h), shade);
    }
    if (end < m_viewEndMs) {
        const float left = std::max(xe, 0.0f);
        if (float(w) - left > 0)
            painter.fillRect(QRectF(left, 0, float(w) - left, h), shade);
    }

    painter.setPen(solidPen(QColor(255, 200, 80), 2));
    if (xs >= 0 && xs <= w)
        painter.drawLine(int(xs), 0, int(xs), h);
    if (xe >= 0 && xe <= w)
        painter.drawLine(int(xe), 0, int(xe), h);
}

void WaveformWidget::drawLoopLabels(QPainter& painter)
{
    if (durationMs() < 1)
        return;
    const auto [start, end] = displayedLoopRange();
    const float xs = timeToX(start);
    const float xe = timeToX(end);
    const int w = width();
    const int h = height();

    // The handles and the grip are drawn here and stay; the time boxes go
    // to the label layout.
    const WaveformTexts::LoopMark marks[] = {
        WaveformTexts::loopStart(font(), xs, h, QStringLiteral("S:") + formatMinutesSeconds(start)),
        WaveformTexts::loopEnd(font(), xe, w, h, QStringLiteral("E:") + formatMinutesSeconds(end)),
    };
    for (const WaveformTexts::LoopMark& mark : marks) {
        painter.fillRect(mark.handle, QColor(255, 200, 80));
        painter.setPen(solidPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(mark.handle.adjusted(0, 0, -1, -1));
        m_layerMarks << mark.handle;
        m_layerLabels << mark.label;
    }

    const QRect grip = WaveformTexts::loopGrip(xs, xe, h);
    if (grip.isValid()) {
        painter.setPen(solidPen(QColor(255, 200, 80, 180), 1));
        painter.setBrush(QColor(255, 200, 80, 120));
        painter.drawRoundedRect(QRectF(grip), 3, 3, Qt::AbsoluteSize);
        painter.setBrush(Qt::NoBrush);
        m_layerMarks << grip;
    }
}

void WaveformWidget::measurePlayhead()
{
    if (durationMs() < 1)
        return;
    const int w = width();
    const int h = height();
    const qint64 loopStart = loopStartMs();
    const qint64 loopEnd = effectiveLoopEnd();
    qint64 p = (m_dragMode == DragSeek && m_pressed) ? m_seekDragMs : m_positionMs;
    p = std::max(std::min(p, loopEnd), loopStart);

    const float x = std::clamp(timeToX(p), 0.0f, float(w));
    const float xs = timeToX(loopStart);
    const float xe = timeToX(loopEnd);

    // The two pixel columns a 2 px line at x covers.
    m_playheadBar = QRect(int(x) - 1, 0, 2, h);

    m_playheadLabels = WaveformTexts::playheadBoxes(font(), x, xs, xe, w, h, formatPosition(p),
                                                    formatPosition(std::max<qint64>(loopEnd - p, 0)));
}

void WaveformWidget::drawFadesAndEnvelopes(QPainter& painter)
{
    if (!m_cue)
        return;
    const qint64 duration = m_cue->durationMs() > 0 ? m_cue->durationMs() : m_viewEndMs;
    if (duration < 1 || width() < 1 || height() < 1)
        return;
    // Lines and areas are drawn aliased: antialiased strokes across the whole
    // width cost milliseconds at each rebuild. Only the small discs are smoothed.
    painter.setRenderHint(QPainter::Antialiasing, false);

    EnvelopeLayerPainter layer(painter, mapping(), boldFont(font(), 9), m_showMode, &m_layerLabels, &m_layerMarks);
    const auto [start, end] = withLoopDrag(fadeRange(duration));
    if (m_cue->fadeEnabled() && end > start)
        layer.paintFades(start, end, m_cue->fadeInMs(), m_cue->fadeOutMs());
    for (const bool pan : {false, true}) {
        if (kindOf(pan).isEnabled(*m_cue) && pointsOf(pan).size() >= 2)
            layer.paintEnvelope(kindOf(pan), pointsOf(pan), !m_showMode && m_editPan == pan);
    }
}

// A small level bar in the lower right corner; the view keeps it for a level
// feed but draws it from no layer.
void WaveformWidget::drawLevelBar(QPainter* painter)
{
    const int w = width();
    const int h = height();
    const QRect frame(w - 85, h - 11, 80, 6);
    painter->fillRect(frame, QColor(40, 40, 45));
    QColor bar(180, 50, 50);
    if (m_levelValue < 0.5f)
        bar = QColor(0, 180, 0);
    else if (m_levelValue < 0.75f)
        bar = QColor(180, 180, 0);
    painter->fillRect(QRect(frame.left(), frame.top(), int(m_levelValue * 80), frame.height()), bar);
    painter->setPen(solidPen(QColor(80, 80, 90), 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(frame.adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------------------
// Hit tests

int WaveformWidget::hitTestVolumePoint(const QPointF& pos, float radius) const
{
    return EnvelopeKind::volume().pointAt(m_volumePoints, mapping(), pos, radius);
}

int WaveformWidget::hitTestPanPoint(const QPointF& pos, float radius) const
{
    return EnvelopeKind::pan().pointAt(m_panPoints, mapping(), pos, radius);
}

int WaveformWidget::hitTestEditedPoint(const QPointF& pos) const
{
    return m_editPan ? hitTestPanPoint(pos, kHitRadius) : hitTestVolumePoint(pos, kHitRadius);
}

int WaveformWidget::hitTestFadeHandle(const QPointF& pos, float radius) const
{
    if (!m_cue || !m_cue->fadeEnabled() || !m_loopValid || durationMs() < 1)
        return -1;
    const auto [start, end] = fadeRange(durationMs());
    const float inX = timeToX(std::min(start + m_cue->fadeInMs(), end));
    const float outX = timeToX(std::max(end - m_cue->fadeOutMs(), start));
    if (std::abs(pos.y() - 5.0) >= radius)
        return -1;
    if (std::abs(pos.x() - inX) < radius)
        return 0;
    if (std::abs(pos.x() - outX) < radius)
        return 1;
    return -1;
}

bool WaveformWidget::onLoopStartHandle(const QPoint& pos) const
{
    const float xs = timeToX(loopStartMs());
    return float(pos.x()) >= xs - 6 && float(pos.x()) <= xs + 12 && std::abs(pos.y() - (height() - 12)) < 12;
}

bool WaveformWidget::onLoopEndHandle(const QPoint& pos) const
{
    const float xe = timeToX(effectiveLoopEnd());
    return float(pos.x()) >= xe - 12 && float(pos.x()) <= xe + 6 && std::abs(pos.y() - (height() - 12)) < 12;
}

bool WaveformWidget::onGripPressZone(const QPoint& pos) const
{
    const float xs = timeToX(loopStartMs());
    const float xe = timeToX(effectiveLoopEnd());
    if (!(xe > xs))
        return false;
    const int g = int((xs + xe) * 0.5f - 20);
    const int h = height();
    return pos.x() >= g && pos.x() <= g + 39 && pos.y() >= h - 9 && pos.y() <= h - 1;
}

bool WaveformWidget::onGripHoverZone(const QPoint& pos) const
{
    const float xs = timeToX(loopStartMs());
    const float xe = timeToX(effectiveLoopEnd());
    if (!(xe > xs))
        return false;
    const float centre = (xs + xe) * 0.5f;
    const int h = height();
    return float(pos.x()) >= centre - 20 && float(pos.x()) <= centre + 20 && pos.y() >= h - 10 && pos.y() <= h + 4;
}

// ---------------------------------------------------------------------------
// Writing edits back to the cue

void WaveformWidget::sortVolumePoints()
{
    editorOf(false).sort();
}

void WaveformWidget::sortPanPoints()
{
    editorOf(true).sort();
}

void WaveformWidget::writePoints(bool pan)
{
    if (m_cue)
        kindOf(pan).write(*m_cue, pointsOf(pan));
}

// Shrinks the fades in proportion until both fit into the loop region.
void WaveformWidget::fitFadesToLoop(qint64 start, qint64 end)
{
    if (!m_cue)
        return;
    const qint64 duration = m_cue->durationMs();
    const qint64 length = ((end >= 1 && end <= duration) ? end : duration) - start;
    if (length <= 0)
        return;
    qint64 fi = std::min(m_cue->fadeInMs(), kMaxFadeMs);
    qint64 fo = std::min(m_cue->fadeOutMs(), kMaxFadeMs);
    if (fi + fo > length) {
        // In proportion, in whole numbers: no rounding error shaves a
        // millisecond off each drag step.
        const qint64 total = fi + fo;
        fi = std::max<qint64>(fi * length / total, 0);
        fo = std::max<qint64>(fo * length / total, 0);
        if (fi + fo > length) {
            fi = length / 2;
            fo = length - fi;
        }
    }
    const qint64 limit = std::min(length, kMaxFadeMs);
    fi = std::min(fi, limit);
    fo = std::min(fo, limit);
    if (fi == m_cue->fadeInMs() && fo == m_cue->fadeOutMs())
        return;
    m_cue->setFadeDurations(fi, fo);
}

void WaveformWidget::fitFadesToCurrentLoop()
{
    if (m_cue)
        fitFadesToLoop(m_cue->loopStartMs(), effectiveLoopEnd());
}

// The release sets the dragged region for good and fits the fades into it.
// The drag's moves already gave the cue its region, unsaved; the cue ignores
// the same region when the release sets it again, so the commit saves here.
void WaveformWidget::commitLoopDrag(qint64 start, qint64 end)
{
    m_cue->setLoopRange(start, end, false);
    fitFadesToCurrentLoop();
    if (m_cue)
        m_cue->saveToDatabase(false);
}

void WaveformWidget::reportCommittedLoop()
{
    if (m_cue)
        Q_EMIT loopRangeDragging(m_cue->loopStartMs(), m_cue->loopEndMs());
}

// A loop drag pushes the playhead along with the bound it moves.
void WaveformWidget::movePlayheadTo(qint64 positionMs)
{
    m_positionMs = positionMs;
    markPlayheadDirty();
    Q_EMIT positionClicked(positionMs);
}

// ---------------------------------------------------------------------------
// Mouse

void WaveformWidget::mousePressEvent(QMouseEvent* event)
{
    if (m_showMode || !m_cue) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        handleRightPress(event, pos);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;

    if (editedEnvelopeOn()) {
        const int index = hitTestEditedPoint(pos);
        if (index >= 0) {
            editorOf(m_editPan).select(index);
            startPointDrag(index);
            setCursorShape(Qt::ClosedHandCursor);
            redrawBackground();
            return;
        }
    }

    if (m_cue->fadeEnabled() && m_loopValid) {
        const int handle = hitTestFadeHandle(pos, kHitRadius);
        if (handle >= 0) {
            m_dragMode = handle == 0 ? DragFadeIn : DragFadeOut;
            setCursorShape(Qt::SizeHorCursor);
            update();
            return;
        }
    }

    if (durationMs() < 1) {
        QWidget::mousePressEvent(event);
        return;
    }

    if (m_freeView && onGripPressZone(pos)) {
        m_dragMode = DragLoopMove;
        m_pressed = true;
        m_pressX = pos.x();
        m_dragLoopStartMs = m_loopAtPressStartMs = m_cue->loopStartMs();
        m_dragLoopEndMs = m_loopAtPressEndMs = m_cue->loopEndMs();
        m_pressPos = pos;
        m_movedSincePress = false;
        setCursorShape(Qt::SizeHorCursor);
        redrawBackground();
        return;
    }

    if (m_freeView && onLoopStartHandle(pos)) {
        m_dragMode = DragLoopStart;
        m_dragLoopStartMs = m_cue->loopStartMs();
    } else if (m_freeView && onLoopEndHandle(pos)) {
        m_dragMode = DragLoopEnd;
        m_dragLoopEndMs = effectiveLoopEnd();
    } else {
        const qint64 t = std::min(std::max(xToTime(pos.x()), m_cue->loopStartMs()), effectiveLoopEnd());
        m_positionMs = m_seekDragMs = t;
        redrawPlayhead();
        m_dragMode = DragSeek;
        m_pressed = true;
        return;
    }
    m_pressPos = pos;
    m_movedSincePress = false;
    m_pressed = true;
    setCursorShape(Qt::SizeHorCursor);
    redrawBackground();
}

void WaveformWidget::handleRightPress(QMouseEvent* event, const QPoint& pos)
{
    // Shift: a point back to the neutral value, or a new neutral point where
    // no other is near.
    if ((event->modifiers() & Qt::ShiftModifier) && editedEnvelopeOn()) {
        EnvelopeEditor editor = editorOf(m_editPan);
        const qint64 t = xToTime(pos.x());
        const int index = hitTestEditedPoint(pos);
        if (index >= 0)
            editor.resetValue(index);
        if (index >= 0 || editor.add(t, kindOf(m_editPan).neutralValue())) {
            writePoints(m_editPan);
            redrawBackground();
            return;
        }
    }
    m_pressed = true;
    m_rightPressPos = pos;
    m_viewStartAtPress = m_viewStartMs;
    m_viewPanning = false;
}

// A press on a point of the edited envelope holds it until the release.
void WaveformWidget::startPointDrag(int index)
{
    if (m_editPan) {
        m_draggingPanPoint = true;
        m_dragPanIndex = index;
    } else {
        m_draggingVolumePoint = true;
        m_dragVolumeIndex = index;
    }
}

// The point of the edited envelope under drag, while that envelope is on;
// -1 otherwise.
int WaveformWidget::draggedPointIndex() const
{
    const bool dragging = m_editPan ? m_draggingPanPoint : m_draggingVolumePoint;
    const int index = m_editPan ? m_dragPanIndex : m_dragVolumeIndex;
    if (!dragging || !editedEnvelopeOn() || index < 0 || index >= pointsOf(m_editPan).size())
        return -1;
    return index;
}

// The held point follows the pointer; the first and the last point stay at
// the ends of the file, and a middle point keeps 100 ms from its neighbours.
void WaveformWidget::dragPoint(int index, const QPoint& pos, bool keepValue)
{
    editorOf(m_editPan).dragTo(index, pos, keepValue);
    writePoints(m_editPan);
    redrawBackground();
}

// The release sorts the points, writes them and saves the cue.
void WaveformWidget::endPointDrag(bool pan)
{
    if (pan) {
        m_draggingPanPoint = false;
        m_dragPanIndex = -1;
        sortPanPoints();
    } else {
        m_draggingVolumePoint = false;
        m_dragVolumeIndex = -1;
        sortVolumePoints();
    }
    setCursorShape(Qt::ArrowCursor);
    writePoints(pan);
    if (m_cue)
        m_cue->saveToDatabase(false);
    redrawBackground();
}

void WaveformWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_cue)
        return;
    const QPoint pos = event->position().toPoint();
    const qint64 duration = m_cue->durationMs();

    if (m_pressed && m_dragMode != DragNone && !m_movedSincePress
        && (std::abs(pos.x() - m_pressPos.x()) >= kDeadZonePx || std::abs(pos.y() - m_pressPos.y()) >= kDeadZonePx))
        m_movedSincePress = true;

    if (m_pressed && m_dragMode == DragNone && !m_viewPanning
        && (std::abs(pos.x() - m_rightPressPos.x()) >= kDeadZonePx
            || std::abs(pos.y() - m_rightPressPos.y()) >= kDeadZonePx)) {
        m_dragMode = DragViewPan;
        m_viewPanning = true;
        setCursorShape(Qt::OpenHandCursor);
    }

    if (const int index = draggedPointIndex(); index >= 0) {
        dragPoint(index, pos, event->modifiers() & Qt::ShiftModifier);
        return;
    }

    if (m_dragMode == DragFadeIn || m_dragMode == DragFadeOut) {
        const qint64 loopLength = effectiveLoopEnd() - m_cue->loopStartMs();
        if (m_dragMode == DragFadeIn) {
            const qint64 limit
                = std::min(std::max<qint64>(loopLength - std::max<qint64>(m_cue->fadeOutMs(), 0), 0), kMaxFadeMs);
            const qint64 fadeIn = std::max<qint64>(std::min(fadeInFromX(pos.x()), limit), 0);
            m_cue->setFadeDurations(fadeIn, m_cue->fadeOutMs());
        } else {
            const qint64 limit
                = std::min(std::max<qint64>(loopLength - std::max<qint64>(m_cue->fadeInMs(), 0), 0), kMaxFadeMs);
            const qint64 fadeOut = std::max<qint64>(std::min(fadeOutFromX(pos.x()), limit), 0);
            m_cue->setFadeDurations(m_cue->fadeInMs(), fadeOut);
        }
        redrawBackground();
        return;
    }

    if (m_pressed) {
        switch (m_dragMode) {
        case DragSeek: {
            qint64 t = std::clamp<qint64>(xToTime(pos.x()), 0, std::max<qint64>(duration, 0));
            t = std::max(std::min(t, effectiveLoopEnd()), m_cue->loopStartMs());
            m_seekDragMs = m_positionMs = t;
            redrawPlayhead();
            break;
        }
        case DragLoopStart: {
            const qint64 t = std::clamp<qint64>(xToTime(pos.x()), 0, std::max<qint64>(duration, 0));
            const qint64 end = effectiveLoopEnd();
            const qint64 start = std::max<qint64>(std::min(end - kMinLoopMs, t), 0);
            if (start >= m_positionMs)
                movePlayheadTo(start);
            m_dragLoopStartMs = start;
            m_cue->setLoopRange(start, end, true);
            redrawBackground();
            fitFadesToLoop(start, end);
            Q_EMIT loopRangeDragging(m_dragLoopStartMs, m_cue ? m_cue->loopEndMs() : end);
            break;
        }
        case DragLoopEnd: {
            const qint64 start = m_cue->loopStartMs();
            qint64 end = std::clamp<qint64>(xToTime(pos.x()), 0, std::max<qint64>(duration, 0));
            end = std::min(std::max(end, start + kMinLoopMs), duration);
            if (end <= m_positionMs)
                movePlayheadTo(end);
            m_dragLoopEndMs = end;
            m_cue->setLoopRange(start, end, true);
            redrawBackground();
            fitFadesToLoop(start, end);
            Q_EMIT loopRangeDragging(m_cue ? m_cue->loopStartMs() : start, m_dragLoopEndMs);
            break;
        }
        case DragViewPan: {
            const qint64 s = span();
            if (s >= 1 && width() >= 1) {
                qint64 start = m_viewStartAtPress
                    - qint64(double(pos.x() - m_rightPressPos.x()) / double(width()) * double(s));
                start = std::max<qint64>(start, 0);
                qint64 end = start + s;
                if (end > duration) {
                    end = duration;
                    start = std::max<qint64>(duration - s, 0);
                }
                m_freeView = true;
                setViewRange(start, end);
            }
            break;
        }
        case DragLoopMove: {
            const qint64 e0
                = m_loopAtPressEndMs < 1 ? duration : std::min(m_loopAtPressEndMs, duration);
            const qint64 length = std::max<qint64>(e0 - m_loopAtPressStartMs, kMinLoopMs);
            const qint64 delta = xToTime(pos.x()) - xToTime(m_pressX);
            qint64 start = m_loopAtPressStartMs + delta;
            qint64 end = start < 0 ? length : e0 + delta;
            start = std::max<qint64>(start, 0);
            if (end > duration) {
                end = duration;
                start = std::max<qint64>(duration - length, 0);
            }
            m_dragLoopStartMs = start;
            m_dragLoopEndMs = end;
            m_cue->setLoopRange(start, end, true);
            if (start >= m_positionMs)
                movePlayheadTo(start);
            else if (end <= m_positionMs)
                movePlayheadTo(end);
            redrawBackground();
            setCursorShape(Qt::SizeHorCursor);
            fitFadesToLoop(start, end);
            Q_EMIT loopRangeDragging(m_dragLoopStartMs, m_dragLoopEndMs);
            break;
        }
        default:
            break;
        }
        return;
    }

    if (duration >= 1) {
        const bool overHandle = onLoopStartHandle(pos) || onLoopEndHandle(pos) || onGripHoverZone(pos);
        setCursorShape(overHandle ? Qt::SizeHorCursor : Qt::ArrowCursor);
    }
}

bool WaveformWidget::addPointAt(const QPoint& pos)
{
    if (!editedEnvelopeOn() || !editorOf(m_editPan).addAt(pos))
        return false;
    writePoints(m_editPan);
    return true;
}

void WaveformWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_cue) {
        // The cue went away during the gesture; nothing is left to commit.
        abandonGesture();
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();

    if (m_draggingPanPoint || m_draggingVolumePoint) {
        endPointDrag(m_draggingPanPoint);
        return;
    }
    if (m_dragMode == DragFadeIn || m_dragMode == DragFadeOut) {
        m_dragMode = DragNone;
        setCursorShape(Qt::ArrowCursor);
        m_cue->saveToDatabase(false);
        update();
        return;
    }
    if (m_dragMode == DragViewPan) {
        m_pressed = false;
        m_viewPanning = false;
        m_dragMode = DragNone;
        setCursorShape(Qt::ArrowCursor);
        return;
    }

    if (m_pressed) {
        const qint64 duration = m_cue->durationMs();
        switch (m_dragMode) {
        case DragNone:
            // A right click that stayed put adds a point.
            if (addPointAt(m_rightPressPos))
                redrawBackground();
            break;
        case DragSeek: {
            const qint64 t = std::max(std::min(xToTime(pos.x()), effectiveLoopEnd()), m_cue->loopStartMs());
            m_seekDragMs = m_positionMs = t;
            redrawPlayhead();
            Q_EMIT positionClicked(t);
            break;
        }
        case DragLoopStart:
            if (m_dragLoopStartMs >= 0 && m_movedSincePress) {
                const qint64 end = effectiveLoopEnd();
                const qint64 start = std::max<qint64>(std::min(m_dragLoopStartMs, end - kMinLoopMs), 0);
                commitLoopDrag(start, end);
                if (std::abs(m_positionMs - start) < 51 || m_positionMs < start)
                    movePlayheadTo(start);
                redrawAll();
                reportCommittedLoop();
            }
            m_dragLoopStartMs = -1;
            m_movedSincePress = false;
            break;
        case DragLoopEnd:
            if (m_dragLoopEndMs >= 0 && m_movedSincePress) {
                const qint64 start = m_cue->loopStartMs();
                const qint64 end = std::min(std::max(m_dragLoopEndMs, start + kMinLoopMs), duration);
                commitLoopDrag(start, end);
                if (std::abs(m_positionMs - end) < 51 || m_positionMs > end)
                    movePlayheadTo(end);
                redrawAll();
                reportCommittedLoop();
            }
            m_dragLoopEndMs = -1;
            m_movedSincePress = false;
            break;
        case DragLoopMove:
            if (m_dragLoopStartMs >= 0 && m_dragLoopEndMs >= 0 && m_movedSincePress) {
                qint64 start = m_dragLoopStartMs;
                qint64 end = std::min(m_dragLoopEndMs, duration);
                if (end - start < kMinLoopMs) {
                    end = start + kMinLoopMs;
                    if (end > duration) {
                        end = duration;
                        start = std::max<qint64>(duration - kMinLoopMs, 0);
                    }
                }
                commitLoopDrag(start, end);
                if (m_positionMs < start)
                    movePlayheadTo(start);
                else if (m_positionMs > end)
                    movePlayheadTo(end);
                redrawBackground();
                reportCommittedLoop();
            }
            m_dragLoopStartMs = -1;
            m_dragLoopEndMs = -1;
            m_movedSincePress = false;
            break;
        default:
            break;
        }
    }
    resetGesture();
}

void WaveformWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_cue) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();

    if (m_cue->fadeEnabled() && m_loopValid && !m_showMode) {
        const int handle = hitTestFadeHandle(pos, kHitRadius);
        if (handle >= 0) {
            if (handle == 0)
                m_cue->setFadeDurations(0, m_cue->fadeOutMs());
            else
                m_cue->setFadeDurations(m_cue->fadeInMs(), 0);
            redrawBackground();
            return;
        }
    }

    if (event->modifiers() & Qt::ShiftModifier) {
        // The pan dialog takes the nearest point, the volume dialog the first hit.
        const int index = m_editPan ? EnvelopeKind::pan().nearestPoint(m_panPoints, mapping(), pos, kHitRadius)
                                    : hitTestVolumePoint(pos, kHitRadius);
        if (index >= 0) {
            m_pressed = false;
            m_dragMode = DragNone;
            setCursorShape(Qt::ArrowCursor);
            editPointValue(m_editPan, index);
            return;
        }
    }

    if (event->button() == Qt::LeftButton && editedEnvelopeOn()
        && editorOf(m_editPan).removeInner(hitTestEditedPoint(pos))) {
        writePoints(m_editPan);
        redrawBackground();
        return;
    }

    const float xs = timeToX(m_cue->loopStartMs());
    const float xe = timeToX(effectiveLoopEnd());
    const bool nearHandleRow = std::abs(pos.y() - (height() - 12)) < 12;
    if (nearHandleRow && std::abs(float(pos.x()) - xs) < 12) {
        m_cue->setLoopRange(0, effectiveLoopEnd(), false);
    } else if (nearHandleRow && std::abs(float(pos.x()) - xe) < 12) {
        m_cue->setLoopRange(m_cue->loopStartMs(), m_cue->durationMs(), false);
    } else if (onGripPressZone(pos)) {
        toggleLoopView();
        return;
    } else {
        return;
    }
    updateLoopValid();
    redrawBackground();
}

void WaveformWidget::editPointValue(bool pan, int index)
{
    const EnvelopeKind& kind = kindOf(pan);
    QList<EnvelopePoint>& points = pointsOf(pan);
    const int current = EnvelopeKind::percentOf(points[index].value);
    const QPointer<WaveformWidget> self(this);
    bool accepted = false;
    const QString text = QInputDialog::getText(this, kind.dialogTitle(), kind.dialogLabel(current), QLineEdit::Normal,
                                               QString::number(current), &accepted);
    // The dialog runs its own event loop: the view, the cue or the points may
    // have changed meanwhile.
    if (!self || !m_cue || !accepted || text.isEmpty() || index >= points.size())
        return;
    const std::optional<double> value = kind.valueFromPercentText(text);
    if (!value)
        return;
    points[index].value = *value;
    writePoints(pan);
    redrawBackground();
}

// ---------------------------------------------------------------------------
// Keys

void WaveformWidget::keyPressEvent(QKeyEvent* event)
{
    if (!m_cue) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);

    const int key = event->key();
    if ((key == Qt::Key_Control || key == Qt::Key_Meta) && m_cue->envelopeEnabled()
        && m_cue->panEnvelopeEnabled()) {
        switchEditedEnvelope(!m_editPan);
        event->accept();
        return;
    }

    const qint64 duration = m_cue->durationMs();
    if (duration < 1) {
        QWidget::keyPressEvent(event);
        return;
    }

    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool plain = !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && key == Qt::Key_I) {
        const qint64 end = effectiveLoopEnd();
        if (end - kMinLoopMs > m_positionMs) {
            m_cue->setLoopRange(m_positionMs, end, false);
            redrawBackground();
        }
        event->accept();
    } else if (plain && key == Qt::Key_O) {
        const qint64 start = m_cue->loopStartMs();
        if (start + kMinLoopMs < m_positionMs && m_positionMs <= duration) {
            m_cue->setLoopRange(start, m_positionMs, false);
            redrawBackground();
        }
        event->accept();
    } else if (plain && key == Qt::Key_Space) {
        Q_EMIT positionClicked(m_positionMs);
        event->accept();
    } else if (ctrl && key == Qt::Key_E) {
        setEnvelopeEnabled(!m_cue->envelopeEnabled());
        event->accept();
    } else if (ctrl && key == Qt::Key_0) {
        zoomToFit();
        event->accept();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void WaveformWidget::keyReleaseEvent(QKeyEvent* event)
{
    QWidget::keyReleaseEvent(event);
}

// ---------------------------------------------------------------------------
// Wheel

void WaveformWidget::scrollBy(double delta)
{
    const qint64 s = span();
    const qint64 duration = durationMs();
    if (s < 1 || duration < 1)
        return;
    qint64 start = std::max<qint64>(m_viewStartMs + qint64(delta / 1200.0 * double(s)), 0);
    qint64 end = start + s;
    if (end > duration) {
        start = duration - s;
        end = duration;
    }
    m_freeView = true;
    setViewRange(start, end);
}

void WaveformWidget::wheelEvent(QWheelEvent* event)
{
    if (!m_cue) {
        event->ignore();
        return;
    }
    const int dy = event->angleDelta().y();
    const int dx = event->angleDelta().x();
    const bool notch = (dy != 0 && dy % kWheelNotch == 0)
        || ((dy == 0 || dy % kWheelNotch != 0) && dx != 0 && dx % kWheelNotch == 0);
    const QPointingDevice* device = event->pointingDevice();
    const bool smooth = (m_smoothScrolling && m_wheelTimer.isValid() && m_wheelTimer.elapsed() <= 299)
        || event->phase() != Qt::NoScrollPhase
        || (device && device->type() == QInputDevice::DeviceType::TouchPad)
        || (!notch
            && ((dy != 0 && std::abs(dy) < 40) || ((dy == 0 || std::abs(dy) >= 40) && dx != 0 && std::abs(dx) < 40)));
    m_smoothScrolling = smooth;
    m_wheelTimer.start();

    const qint64 duration = m_cue->durationMs();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool shift = modifiers & Qt::ShiftModifier;
    const qint64 anchor
        = std::max(std::min(xToTime(float(event->position().x())), m_viewEndMs), m_viewStartMs);

    if (smooth) {
        if (duration < 1) {
            event->ignore();
            return;
        }
        if (span() < 1 || (dy == 0 && dx == 0)) {
            event->accept();
            return;
        }
        if (dy == 0 || !ctrl) {
            scrollBy(dx != 0 ? dx : dy);
            event->accept();
            return;
        }
        const double step = std::abs(dy) / 120.0 * 0.2;
        double factor = 1.0 + step;
        if (step > 0.3)
            factor = 1.3;
        if (step <= 0.01)
            factor = 1.01;
        if (dy < 0)
            factor = 1.0 / factor;
        zoomBy(factor, anchor);
        m_freeView = true;
        event->accept();
        return;
    }

    if (dy == 0) {
        if (dx != 0) {
            scrollBy(dx);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    const double notches = dy / 120.0;
    if (ctrl && shift && editorOf(m_editPan).nudgeSelected(notches)) {
        writePoints(m_editPan);
        redrawBackground();
        event->accept();
        return;
    }
    if (shift && !ctrl) {
        float scale = m_amplitudeScale * (notches > 0 ? 1.1f : 0.9f);
        if (scale > 2.5f)
            scale = 2.5f;
        if (scale <= 0.3f)
            scale = 0.3f;
        m_amplitudeScale = scale;
        redrawBackground();
        event->accept();
        return;
    }
    if (duration < 1) {
        event->ignore();
        return;
    }
    zoomBy(notches > 0 ? 1.2 : 0.8333333, anchor);
    m_freeView = true;
    event->accept();
}

// ---------------------------------------------------------------------------
// Touch

bool WaveformWidget::event(QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool touch = type == QEvent::TouchBegin || type == QEvent::TouchUpdate || type == QEvent::TouchEnd
        || type == QEvent::TouchCancel;
    if (!m_cue || !touch)
        return QWidget::event(event);

    auto* touchEvent = static_cast<QTouchEvent*>(event);
    const QList<QEventPoint>& points = touchEvent->points();
    if (type == QEvent::TouchBegin) {
        if (points.size() < 2)
            return QWidget::event(event);
        m_pinchDistance = float(QLineF(points[0].position(), points[1].position()).length());
        m_pinchCentreX = float((points[0].position().x() + points[1].position().x()) / 2.0);
        m_pinchActive = true;
        event->accept();
        return true;
    }
    if (type == QEvent::TouchUpdate) {
        const qint64 duration = m_cue->durationMs();
        if (!m_pinchActive || points.size() < 2 || duration < 1)
            return QWidget::event(event);
        const float distance = float(QLineF(points[0].position(), points[1].position()).length());
        const float centreX = float((points[0].position().x() + points[1].position().x()) / 2.0);
        if (m_pinchDistance > 0 && std::abs(distance - m_pinchDistance) > 1.0f) {
            zoomBy(double(distance) / double(m_pinchDistance), xToTime(centreX));
            m_freeView = true;
        }
        m_pinchDistance = distance;
        const qint64 moved = qint64(centreX - m_pinchCentreX);
        const qint64 s = span();
        if (m_pinchCentreX > 0 && moved != 0 && s >= 1 && width() >= 1) {
            qint64 start = std::max<qint64>(m_viewStartMs - qint64(double(moved) / double(width()) * double(s)), 0);
            qint64 end = start + s;
            if (end > duration) {
                end = duration;
                start = duration - s;
            }
            m_freeView = true;
            setViewRange(start, end);
        }
        m_pinchCentreX = centreX;
        event->accept();
        return true;
    }
    if (m_pinchActive) {
        m_pinchDistance = 0;
        m_pinchCentreX = 0;
        m_pinchActive = false;
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
