#include "lists/ShownCuePeaks.h"

#include "lists/SongTableModel.h"
#include "lists/TablePage.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/WaveformRows.h"
#include "playback/CueManager.h"

#include <QEvent>
#include <QSet>
#include <QTableView>
#include <QTimer>

#include <algorithm>

ShownCuePeaks::ShownCuePeaks(QTableView* table, SongTableModel* model, CueManager* registry,
                             WaveformParseQueue* queue, QObject* parent)
    : QObject(parent)
    , m_table(table)
    , m_model(model)
    , m_registry(registry)
    , m_queue(queue)
    , m_visibleTimer(new QTimer(this))
    , m_lookupTimer(new QTimer(this))
{
    // Painting asks for the rows it shows; they are read once the paint is
    // done, not inside it.
    m_visibleTimer->setSingleShot(true);
    m_visibleTimer->setInterval(0);
    connect(m_visibleTimer, &QTimer::timeout, this, &ShownCuePeaks::loadVisibleRows);
    m_lookupTimer->setInterval(0);
    connect(m_lookupTimer, &QTimer::timeout, this, &ShownCuePeaks::lookUpNextSlice);
    if (m_table)
        m_table->viewport()->installEventFilter(this);
}

void ShownCuePeaks::setShownCues(const QList<Cue*>& cues)
{
    m_seenIds.clear();
    m_lookupIds.clear();
    m_lookupNext = 0;
    m_lookupIds.reserve(cues.size());
    for (const Cue* cue : cues) {
        if (cue && cue->id() > 0)
            m_lookupIds.append(cue->id());
    }
    loadVisibleRows();
    if (m_lookupIds.isEmpty())
        m_lookupTimer->stop();
    else
        m_lookupTimer->start();
}

QPair<int, int> ShownCuePeaks::visibleRows() const
{
    return m_table ? TablePage::rowsOnScreen(*m_table, kMaxPageRows) : QPair<int, int>(-1, -1);
}

void ShownCuePeaks::loadVisibleRows()
{
    m_visibleTimer->stop();
    const auto [first, last] = visibleRows();
    if (first < 0)
        return;
    QList<Cue*> fresh;
    for (int row = first; row <= last; ++row) {
        Cue* cue = m_model->cueAt(row);
        if (!cue)
            continue;
        // A cue not stored yet has no id to remember; the queue skips it
        // once it has peaks or is queued.
        if (cue->id() > 0) {
            if (m_seenIds.contains(cue->id()))
                continue;
            m_seenIds.insert(cue->id());
        }
        fresh.append(cue);
    }
    if (!fresh.isEmpty())
        m_queue->loadOrParse(fresh);
}

bool ShownCuePeaks::isLookingUp() const
{
    return m_lookupTimer->isActive();
}

void ShownCuePeaks::lookUpNextSlice()
{
    QList<int> ids;
    while (m_lookupNext < m_lookupIds.size() && ids.size() < kIdsPerSlice) {
        const int id = m_lookupIds.at(m_lookupNext++);
        if (!m_seenIds.contains(id))
            ids.append(id);
    }
    if (m_lookupNext >= m_lookupIds.size()) {
        m_lookupTimer->stop();
        m_lookupIds.clear();
        m_lookupNext = 0;
    }
    if (ids.isEmpty())
        return;
    const QSet<int> stored = WaveformRows(*DatabaseManager::instance()).storedAmong(ids);
    QList<Cue*> unstored;
    for (int id : std::as_const(ids)) {
        if (stored.contains(id))
            continue;  // read when its row is shown
        if (Cue* cue = m_registry->getCue(id)) {
            m_seenIds.insert(id);
            unstored.append(cue);
        }
    }
    m_queue->queueForParse(unstored);
}

bool ShownCuePeaks::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && m_table && watched == m_table->viewport() && !m_visibleTimer->isActive())
        m_visibleTimer->start();
    return QObject::eventFilter(watched, event);
}
