#include "lists/SongTableModel.h"

#include "lists/CueText.h"
#include "lists/FileExistenceCache.h"
#include "model/Cue.h"

#include <QColor>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <QSet>
#include <QTableView>

#include <algorithm>

namespace {

const QColor kRemainingBackground(100, 150, 255, 80);
const QColor kStatusForeground(0, 120, 215);
const QColor kHeaderBackground(QStringLiteral("#2b2b2b"));

bool isTextColumn(int column)
{
    return column == SongTableModel::NameColumn || column == SongTableModel::RemarkColumn;
}

}  // namespace

SongTableModel::SongTableModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_fileExistence(new FileExistenceCache(this))
{
    connect(m_fileExistence, &FileExistenceCache::existenceChanged, this, &SongTableModel::onExistenceChanged);
}

int SongTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_cues.size());
}

int SongTableModel::columnCount(const QModelIndex& parent) const
{
    Q_UNUSED(parent);
    return ColumnCount;
}

QString SongTableModel::formatTime(int ms) const
{
    return CueText::formatTime(ms);
}

QString SongTableModel::formatTimeMs(qint64 ms) const
{
    return CueText::formatTimeMs(ms);
}

QString SongTableModel::displayName(Cue* cue) const
{
    if (!cue)
        return QString();
    const QString text = CueText::baseDisplayName(*cue);
    if (!m_fileExistence->exists(cue->filePath()))
        return CueText::kMissingMark + text;
    if (cue->isBadFile())
        return CueText::kBadFileMark + text;
    return text;
}

QString SongTableModel::durationText(Cue* cue) const
{
    const auto range = m_displayRanges.constFind(cue);
    const qint64 rangeStart = range != m_displayRanges.constEnd() ? range->first : cue->loopStartMs();
    const qint64 rangeEnd = range != m_displayRanges.constEnd() ? range->second : cue->loopEndMs();
    const qint64 duration = cue->durationMs();
    if (duration < 1)
        return QStringLiteral("--");
    const qint64 end = rangeEnd > 0 ? std::min(rangeEnd, duration) : duration;
    const qint64 span = std::max<qint64>(end - rangeStart, 0);
    if (cue == m_currentCue && m_positionMs >= 0) {
        const qint64 elapsed = std::max<qint64>(m_positionMs - rangeStart, 0);
        return formatTimeMs(std::max<qint64>(span - elapsed, 0));
    }
    return formatTimeMs(span);
}

QVariant SongTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_cues.size())
        return {};
    Cue* cue = m_cues.at(index.row());
    if (!cue)
        return {};
    const int column = index.column();
    const bool isCurrent = cue == m_currentCue;

    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case StatusColumn:
            if (!isCurrent)
                return QString();
            return m_isPlaying ? QStringLiteral("\u25B6") : QStringLiteral("\u23F8");
        case NameColumn:
            return displayName(cue);
        case PreWaitColumn:
            return formatTime(cue->preWaitMs());
        case DurationColumn:
            return durationText(cue);
        case LoopCountColumn:
            return cue->loopCount() == 0 ? QStringLiteral("\u221E") : QString::number(cue->loopCount());
        case RemarkColumn:
            return cue->remark();
        default:
            return {};
        }
    case Qt::EditRole:
        if (column == NameColumn)
            return displayName(cue);
        if (column == RemarkColumn)
            return cue->remark();
        return {};
    case Qt::TextAlignmentRole:
        if (isTextColumn(column))
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignHCenter | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (column == DurationColumn && isCurrent && m_positionMs >= 0)
            return kRemainingBackground;
        return {};
    case Qt::ForegroundRole:
        if (column == StatusColumn && isCurrent)
            return kStatusForeground;
        return {};
    case CueRole:
        return QVariant::fromValue(cue);
    case CueIdRole:
        return cue->id();
    case IsCurrentRole:
        return isCurrent;
    case EditableTextRole:
        if (isTextColumn(column))
            return true;
        return {};
    default:
        return {};
    }
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (role != Qt::DisplayRole)
            return {};
        switch (section) {
        case StatusColumn:
            return tr("状态");
        case NameColumn:
            return tr("名称");
        case PreWaitColumn:
            return tr("等待");
        case DurationColumn:
            return tr("时长");
        case LoopCountColumn:
            return tr("次");
        case RemarkColumn:
            return tr("备注");
        default:
            return {};
        }
    }

    const bool inList = section >= 0 && section < m_cues.size();
    if (role == Qt::DisplayRole)
        return inList ? QString::number(section + 1) : QString();
    if (role == Qt::BackgroundRole) {
        if (inList) {
            if (Cue* cue = m_cues.at(section); cue && !cue->color().isEmpty()) {
                QColor color = QColor::fromString(cue->color());
                if (color.isValid()) {
                    color.setAlpha(80);
                    return color;
                }
            }
        }
        return kHeaderBackground;
    }
    return {};
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled | Qt::ItemIsEnabled;
    if (isTextColumn(index.column()))
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool SongTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() < 0 || index.row() >= m_cues.size())
        return false;
    Cue* cue = m_cues.at(index.row());
    if (!cue)
        return false;

    const QString text = value.toString();
    switch (index.column()) {
    case NameColumn: {
        // The editor starts from the shown text, mark included; a mark must
        // never become part of the alias. Committing what the cue shows
        // without an alias keeps it without one.
        const QString typed = CueText::stripLeadingMarks(text);
        const QString shownName = CueText::withoutAudioExtension(cue->name());
        cue->setAlias(!typed.isEmpty() && typed != shownName ? typed : QString());
        break;
    }
    case RemarkColumn:
        cue->setRemark(text);
        break;
    default:
        return false;
    }

    cue->saveToDatabase(false);
    Q_EMIT dataChanged(index, index);
    Q_EMIT cueEdited(cue, index.column());
    return true;
}

QStringList SongTableModel::mimeTypes() const
{
    return {QString::fromLatin1(kRowMimeType)};
}

QMimeData* SongTableModel::mimeData(const QModelIndexList& indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    for (const QModelIndex& index : indexes) {
        if (index.isValid())
            stream << qint32(index.row());
    }
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRowMimeType), encoded);
    return mime;
}

bool SongTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent)
{
    Q_UNUSED(column);
    if (action == Qt::IgnoreAction)
        return true;
    if (!data || !data->hasFormat(QString::fromLatin1(kRowMimeType)))
        return false;

    QByteArray encoded = data->data(QString::fromLatin1(kRowMimeType));
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    qint32 source = -1;
    stream >> source;
    if (stream.status() != QDataStream::Ok || source < 0 || source >= m_cues.size())
        return false;

    int target = row;
    if (target == -1)
        target = parent.isValid() ? parent.row() : int(m_cues.size());
    if (source == target)
        return true;
    // The cue lands just before the row it was dropped on.
    return moveRow(source, source < target ? target - 1 : target);
}

Qt::DropActions SongTableModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions SongTableModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

bool SongTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_cues.size())
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_cues.remove(row, count);
    forgetRows();
    endRemoveRows();
    return true;
}

void SongTableModel::setCueList(const QList<Cue*>& cues)
{
    beginResetModel();
    m_cues = cues;
    m_positionMs = -1;
    forgetRows();
    endResetModel();
    Q_EMIT cueListChanged();
}

bool SongTableModel::moveRow(int from, int to)
{
    if (from == to)
        return true;
    const int count = int(m_cues.size());
    if (from < 0 || from >= count || to < 0 || to > count)
        return false;
    const int finalRow = std::min(to, count - 1);
    if (finalRow == from)
        return true;
    // Qt counts the destination before the move: below the source it is one
    // row further down.
    const int destination = finalRow > from ? finalRow + 1 : finalRow;
    if (!beginMoveRows(QModelIndex(), from, from, QModelIndex(), destination))
        return false;
    m_cues.move(from, finalRow);
    forgetRows();
    endMoveRows();
    Q_EMIT headerDataChanged(Qt::Vertical, std::min(from, finalRow), std::max(from, finalRow));
    Q_EMIT cueListChanged();
    return true;
}

void SongTableModel::swapRows(int a, int b)
{
    const int count = int(m_cues.size());
    if (a == b || a < 0 || b < 0 || a >= count || b >= count)
        return;
    beginResetModel();
    m_cues.swapItemsAt(a, b);
    forgetRows();
    endResetModel();
    Q_EMIT headerDataChanged(Qt::Vertical, std::min(a, b), std::max(a, b));
    Q_EMIT cueListChanged();
}

void SongTableModel::refresh()
{
    beginResetModel();
    forgetRows();
    m_displayRanges.clear();
    endResetModel();
    Q_EMIT cueListChanged();
}

Cue* SongTableModel::cueAt(int row) const
{
    return row >= 0 && row < m_cues.size() ? m_cues.at(row) : nullptr;
}

int SongTableModel::rowOfCue(Cue* cue) const
{
    if (!cue)
        return -1;
    if (m_rowCacheUsable) {
        const auto it = m_rowCache.constFind(cue);
        if (it != m_rowCache.constEnd()) {
            const int row = it.value();
            if (row >= 0 && row < m_cues.size() && m_cues.at(row) == cue)
                return row;
            m_rowCache.remove(cue);
            m_rowCacheUsable = false;
        }
    }
    const int row = int(m_cues.indexOf(cue));
    m_rowCache.insert(cue, row);
    m_rowCacheUsable = true;
    return row;
}

void SongTableModel::forgetRows() const
{
    m_rowCache.clear();
    m_rowCacheUsable = false;
}

QList<int> SongTableModel::cueIds() const
{
    QList<int> ids;
    ids.reserve(m_cues.size());
    for (Cue* cue : m_cues) {
        if (cue)
            ids.append(cue->id());
    }
    return ids;
}

void SongTableModel::setCurrentCue(Cue* cue, bool isPlaying)
{
    const int oldRow = rowOfCue(m_currentCue);
    const int newRow = rowOfCue(cue);
    m_isPlaying = isPlaying;
    if (cue != m_currentCue)
        m_positionMs = -1;
    m_currentCue = cue;
    for (int row : {oldRow, newRow}) {
        if (row < 0)
            continue;
        for (int column : {int(StatusColumn), int(DurationColumn)}) {
            const QModelIndex cell = index(row, column);
            Q_EMIT dataChanged(cell, cell);
        }
    }
}

void SongTableModel::setAttachedView(QTableView* view)
{
    m_view = view;
}

void SongTableModel::setPosition(Cue* cue, qint64 positionMs)
{
    if (!cue || cue != m_currentCue)
        return;
    m_positionMs = positionMs;
    const int row = rowOfCue(cue);
    if (row < 0)
        return;
    const QModelIndex cell = index(row, DurationColumn);
    if (m_view) {
        // Many times a second: repaint the one cell, disturb nothing else.
        const QRect rect = m_view->visualRect(cell);
        if (rect.isValid())
            m_view->viewport()->update(rect);
        return;
    }
    Q_EMIT dataChanged(cell, cell);
}

void SongTableModel::setDisplayRange(Cue* cue, qint64 startMs, qint64 endMs)
{
    if (!cue)
        return;
    if (startMs == cue->loopStartMs() && endMs == cue->loopEndMs()) {
        if (m_displayRanges.remove(cue) > 0)
            refreshCell(cue, DurationColumn);
        return;
    }
    m_displayRanges.insert(cue, qMakePair(startMs, endMs));
    refreshCell(cue, DurationColumn);
}

void SongTableModel::clearDisplayRange(Cue* cue)
{
    if (m_displayRanges.remove(cue) > 0)
        refreshCell(cue, DurationColumn);
}

void SongTableModel::refreshCell(Cue* cue, int column)
{
    const int row = rowOfCue(cue);
    if (row < 0)
        return;
    const QModelIndex cell = index(row, column);
    Q_EMIT dataChanged(cell, cell);
}

void SongTableModel::refreshName(Cue* cue)
{
    refreshCell(cue, NameColumn);
}

void SongTableModel::refreshPreWait(Cue* cue)
{
    refreshCell(cue, PreWaitColumn);
}

void SongTableModel::refreshDuration(Cue* cue)
{
    refreshCell(cue, DurationColumn);
}

void SongTableModel::refreshLoopCount(Cue* cue)
{
    refreshCell(cue, LoopCountColumn);
}

void SongTableModel::refreshRemark(Cue* cue)
{
    refreshCell(cue, RemarkColumn);
}

void SongTableModel::refreshColumns(Cue* cue, int first, int last)
{
    const int row = rowOfCue(cue);
    if (row >= 0)
        Q_EMIT dataChanged(index(row, first), index(row, last));
}

void SongTableModel::onExistenceChanged(const QStringList& paths)
{
    const QSet<QString> changed(paths.cbegin(), paths.cend());
    for (int row = 0; row < m_cues.size(); ++row) {
        Cue* cue = m_cues.at(row);
        if (cue && changed.contains(cue->filePath())) {
            const QModelIndex cell = index(row, NameColumn);
            Q_EMIT dataChanged(cell, cell);
        }
    }
}
