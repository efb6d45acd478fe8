#include "lists/CartWidget.h"

#include "lists/CartButtonItem.h"

#include <QEvent>
#include <QGridLayout>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kSpacing = 8;
constexpr int kRelayoutDelayMs = 50;

}  // namespace

CartWidget::CartWidget(QWidget* parent)
    : QScrollArea(parent)
{
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(QStringLiteral("CartWidget { background-color: #1e1e1e; border: none; }"));

    m_container = new QWidget(this);
    m_container->setStyleSheet(QStringLiteral("background-color: #1e1e1e;"));
    m_container->installEventFilter(this);
    setWidget(m_container);

    m_gridLayout = new QGridLayout(m_container);
    m_gridLayout->setSpacing(kSpacing);
    m_gridLayout->setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
    m_gridLayout->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_relayoutTimer = new QTimer(this);
    m_relayoutTimer->setSingleShot(true);
    m_relayoutTimer->setInterval(kRelayoutDelayMs);
    connect(m_relayoutTimer, &QTimer::timeout, this, &CartWidget::relayout);

    // Deleted cues are dropped at once; the grid closes the gaps once the
    // deleting operation has finished.
    m_pruneTimer = new QTimer(this);
    m_pruneTimer->setSingleShot(true);
    m_pruneTimer->setInterval(0);
    connect(m_pruneTimer, &QTimer::timeout, this, &CartWidget::dropDeletedCues);
}

QList<Cue*> CartWidget::cues() const
{
    QList<Cue*> list;
    for (const QPointer<Cue>& cue : m_cues) {
        if (cue)
            list.append(cue.data());
    }
    return list;
}

void CartWidget::setCues(const QList<Cue*>& cues)
{
    for (const QPointer<Cue>& cue : std::as_const(m_cues)) {
        if (cue)
            disconnect(cue.data(), &QObject::destroyed, this, &CartWidget::onCueDestroyed);
    }
    m_cues.clear();
    for (Cue* cue : cues) {
        if (!cue)
            continue;
        m_cues.append(cue);
        connect(cue, &QObject::destroyed, this, &CartWidget::onCueDestroyed, Qt::UniqueConnection);
    }
    rebuildGrid();
}

void CartWidget::setColumnCount(int n)
{
    n = std::clamp(n, kMinColumns, kMaxColumns);
    if (n == m_columnCount)
        return;
    m_columnCount = n;
    rebuildGrid();
}

void CartWidget::setItemHeight(int h)
{
    h = std::clamp(h, kMinItemHeight, kMaxItemHeight);
    if (h == m_itemHeight)
        return;
    m_itemHeight = h;
    rebuildGrid();
}

void CartWidget::rebuildGrid()
{
    if (m_rebuilding)
        return;
    m_rebuilding = true;

    if (m_gridLayout) {
        while (QLayoutItem* item = m_gridLayout->takeAt(0)) {
            if (QWidget* old = item->widget()) {
                old->hide();
                old->deleteLater();
            }
            delete item;
        }
        delete m_gridLayout;
    }
    m_tiles.clear();
    m_gridLayout = new QGridLayout(m_container);
    m_gridLayout->setSpacing(kSpacing);
    m_gridLayout->setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
    m_gridLayout->setAlignment(Qt::AlignTop);

    if (m_cues.isEmpty()) {
        m_rebuilding = false;
        return;
    }

    int number = 1;
    int row = 0;
    int column = 0;
    for (const QPointer<Cue>& entry : std::as_const(m_cues)) {
        Cue* cue = entry.data();
        if (!cue)
            continue;
        auto* tile = new CartButtonItem(cue, number, m_container, m_itemHeight);
        tile->setCursor(Qt::PointingHandCursor);
        tile->setCurrent(cue == m_currentCue);
        tile->setSelected(m_selection.contains(cue));
        // New tiles carry the grid's mode and the playing state on.
        tile->setShowMode(m_showMode);
        if (cue == m_playingCue) {
            tile->setPlaying(true);
            if (m_playingPaused)
                tile->setPaused(true);
        }
        connect(tile, &CartButtonItem::clicked, this, &CartWidget::onTileClicked);
        connect(tile, &CartButtonItem::playClicked, this, &CartWidget::playRequested);
        connect(tile, &CartButtonItem::nameChanged, this, &CartWidget::cueNameChanged);
        m_gridLayout->addWidget(tile, row, column);
        tile->show();  // now, not once the event loop runs: the old tiles are hidden already
        m_tiles.insert(cue, tile);

        if (++column == m_columnCount) {
            ++row;
            column = 0;
        }
        ++number;
    }
    for (int c = 0; c < m_columnCount; ++c)
        m_gridLayout->setColumnStretch(c, 1);
    m_gridLayout->setRowStretch(row + 1, 1);
    m_rebuilding = false;
}

void CartWidget::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    if (!m_cues.isEmpty() && !m_rebuilding)
        m_relayoutTimer->start();
}

void CartWidget::relayout()
{
    if (m_cues.isEmpty() || m_tiles.isEmpty() || m_rebuilding)
        return;
    m_container->layout()->invalidate();
    m_container->layout()->activate();
}

// ---------------------------------------------------------------------------
// Selection

void CartWidget::onTileClicked(Cue* cue, Qt::KeyboardModifiers modifiers)
{
    if (!cue)
        return;
    const QList<Cue*> list = cues();
    const int index = int(list.indexOf(cue));
    if (index < 0)
        return;

    if (modifiers & Qt::ControlModifier) {
        if (m_selection.contains(cue))
            m_selection.remove(cue);
        else
            m_selection.insert(cue);
        m_anchorIndex = index;
    } else if (modifiers & Qt::ShiftModifier) {
        if (m_anchorIndex < 0)
            m_anchorIndex = index;
        const int rowFrom = std::min(m_anchorIndex / m_columnCount, index / m_columnCount);
        const int rowTo = std::max(m_anchorIndex / m_columnCount, index / m_columnCount);
        const int colFrom = std::min(m_anchorIndex % m_columnCount, index % m_columnCount);
        const int colTo = std::max(m_anchorIndex % m_columnCount, index % m_columnCount);
        m_selection.clear();
        for (int i = 0; i < list.size(); ++i) {
            const int r = i / m_columnCount;
            const int c = i % m_columnCount;
            if (r >= rowFrom && r <= rowTo && c >= colFrom && c <= colTo)
                m_selection.insert(list[i]);
        }
    } else {
        m_selection = {cue};
        m_anchorIndex = index;
    }
    applySelection();
    emitSelectionSignals();
}

void CartWidget::applySelection()
{
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it)
        it.value()->setSelected(m_selection.contains(it.key()));
}

QList<Cue*> CartWidget::selectedCues() const
{
    QList<Cue*> selected;
    for (Cue* cue : cues()) {
        if (m_selection.contains(cue))
            selected.append(cue);
    }
    return selected;
}

void CartWidget::emitSelectionSignals()
{
    const QList<Cue*> selected = selectedCues();
    if (selected.size() > 1) {
        Q_EMIT multiSelectionChanged(selected);
        return;
    }
    Q_EMIT multiSelectionChanged({});
    Q_EMIT cueSelected(selected.isEmpty() ? nullptr : selected.first());
}

void CartWidget::setSelectedCues(const QList<Cue*>& cues)
{
    m_selection.clear();
    m_anchorIndex = -1;
    const QList<Cue*> shown = this->cues();
    for (Cue* cue : cues) {
        if (!cue || !m_tiles.contains(cue))
            continue;
        if (m_selection.isEmpty())
            m_anchorIndex = int(shown.indexOf(cue));
        m_selection.insert(cue);
    }
    applySelection();
    emitSelectionSignals();
}

void CartWidget::clearSelection()
{
    m_selection.clear();
    m_anchorIndex = -1;
    applySelection();
    Q_EMIT multiSelectionChanged({});
}

bool CartWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_container && event->type() == QEvent::MouseButtonPress && !m_selection.isEmpty()) {
        m_selection.clear();
        m_anchorIndex = -1;
        applySelection();
        emitSelectionSignals();
    }
    return QScrollArea::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Current, playing, progress, mode

void CartWidget::setCurrentCue(Cue* cue, bool ensureVisible)
{
    if (cue != m_currentCue) {
        if (CartButtonItem* old = m_tiles.value(m_currentCue.data(), nullptr))
            old->setCurrent(false);
        m_currentCue = cue;
        if (CartButtonItem* tile = m_tiles.value(cue, nullptr))
            tile->setCurrent(true);
    }
    CartButtonItem* tile = cue ? m_tiles.value(cue, nullptr) : nullptr;
    if (tile && ensureVisible)
        ensureWidgetVisible(tile, 50, 50);
}

void CartWidget::setPlayingCue(Cue* cue)
{
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it) {
        if (it.key() != cue)
            it.value()->setPlaying(false);
    }
    m_playingCue = cue;
    m_playingPaused = false;
    if (CartButtonItem* tile = m_tiles.value(cue, nullptr))
        tile->setPlaying(true);
}

void CartWidget::clearPlayingCue()
{
    if (CartButtonItem* tile = m_tiles.value(m_playingCue.data(), nullptr))
        tile->setPlaying(false);
    m_playingCue = nullptr;
    m_playingPaused = false;
}

void CartWidget::setCuePaused(Cue* cue, bool paused)
{
    if (CartButtonItem* tile = m_tiles.value(cue, nullptr))
        tile->setPaused(paused);
    if (cue && cue == m_playingCue)
        m_playingPaused = paused;
}

void CartWidget::updateCueProgress(Cue* cue, qint64 positionMs)
{
    if (!cue || cue != m_playingCue)
        return;
    if (CartButtonItem* tile = m_tiles.value(cue, nullptr))
        tile->setPosition(positionMs);
}

void CartWidget::refreshCue(Cue* cue)
{
    if (CartButtonItem* tile = m_tiles.value(cue, nullptr))
        tile->updateInfo();
}

void CartWidget::setShowMode(bool showMode)
{
    m_showMode = showMode;
    for (CartButtonItem* tile : std::as_const(m_tiles))
        tile->setShowMode(showMode);
}

// ---------------------------------------------------------------------------
// Deleted cues

void CartWidget::onCueDestroyed(QObject* object)
{
    // The cue is half destroyed: its address is only compared, never used.
    m_cues.removeIf([](const QPointer<Cue>& cue) { return cue.isNull(); });
    for (auto it = m_tiles.begin(); it != m_tiles.end();) {
        if (static_cast<QObject*>(it.key()) == object) {
            it.value()->hide();
            it.value()->deleteLater();
            it = m_tiles.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_selection.begin(); it != m_selection.end();) {
        if (static_cast<QObject*>(*it) == object) {
            it = m_selection.erase(it);
            m_selectionLostCue = true;
        } else {
            ++it;
        }
    }
    m_pruneTimer->start();
}

void CartWidget::dropDeletedCues()
{
    rebuildGrid();
    if (!m_selectionLostCue)
        return;
    m_selectionLostCue = false;
    const QList<Cue*> selected = selectedCues();
    m_anchorIndex = selected.isEmpty() ? -1 : int(cues().indexOf(selected.first()));
    emitSelectionSignals();
}
