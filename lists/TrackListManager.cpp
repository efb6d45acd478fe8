#include "lists/TrackListManager.h"

#include "lists/FileExistenceCache.h"
#include "lists/PlayingRowHighlightDelegate.h"
#include "lists/SongTableModel.h"
#include "lists/WaveformParseQueue.h"
#include "model/Cue.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"

#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>

namespace {

const char* const kTableStyle =
    "QTableView {   background-color: #1e1e1e;   gridline-color: transparent;   font-size: 18px;}"
    "QTableView::item {   background: none;   border: none;}"
    "QTableView::item:selected {   background: none;   border: none;}"
    "QTableView::item:focus {   background: none;   border: none;}"
    "QTableView::item:pressed {   background: none;   border: none;}"
    "QTableView::item:active {   background: none;   border: none;}";

const char* const kVerticalHeaderStyle =
    "QHeaderView::section {   color: #aaaaaa;   font-weight: normal;   font-size: 18px;   border: none;   "
    "padding-left: 8px;   padding-right: 4px;   padding-top: 4px;   padding-bottom: 4px;   text-align: center;}";

const char* const kHorizontalHeaderStyle =
    "QHeaderView::section {   background-color: #2b2b2b;   color: #bbbbbb;   font-weight: bold;   "
    "font-size: 18px;   border: none;   padding: 5px;}";

const char* const kImportButtonStyle =
    "QPushButton {   background-color: transparent;   color: #0078d7;   border: none;   font-size: %1px;   "
    "font-weight: bold;   padding: 0px;}QPushButton:hover {   color: #4aa3ff;}";

const char* const kAddGroupButtonStyle =
    "QPushButton {   background-color: transparent;   border: none;   padding: 0px;}"
    "QPushButton:hover {   background-color: rgba(0, 120, 212, 30);   border-radius: 3px;}";

constexpr int kImportButtonFontPx = 20;
constexpr int kImportButtonMargin = 4;
constexpr int kAddGroupButtonOffset = 60;
constexpr int kVerticalSectionSize = 30;
constexpr int kColumnWidths[] = {50, 250, 60, 80, 50};

QPixmap addGroupIcon()
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const struct {
        int x, y;
        const char* color;
    } layers[] = {{6, 0, "#7fbcff"}, {3, 4, "#4aa3ff"}, {0, 8, "#0078D4"}};
    for (const auto& layer : layers) {
        painter.setBrush(QColor(QString::fromLatin1(layer.color)));
        painter.drawRoundedRect(QRectF(layer.x, layer.y, 12, 10), 2, 2);
    }
    return pixmap;
}

QPushButton* makeHeaderButton(QWidget* header, const QString& toolTip, const QString& styleSheet)
{
    auto* button = new QPushButton(header);
    button->setFixedSize(TrackListManager::kHeaderButtonSize, TrackListManager::kHeaderButtonSize);
    button->setToolTip(toolTip);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(styleSheet);
    return button;
}

}  // namespace

TrackListManager::TrackListManager(QTableView* table, QWidget* parent, CueManager* registry)
    : QWidget(parent)
    , m_table(table)
    , m_model(new SongTableModel(this))
    , m_registry(registry ? registry : CueManager::instance())
    , m_parseQueue(new WaveformParseQueue(this))
{
    hide();
    setFixedSize(0, 0);

    setupTable();
    m_table->setModel(m_model);
    m_model->setAttachedView(m_table);

    for (int column = 0; column < int(std::size(kColumnWidths)); ++column)
        m_table->setColumnWidth(column, kColumnWidths[column]);

    // The view takes drops but never starts a drag of its own: DropOnly
    // turns its drag off again.
    m_table->setDragEnabled(true);
    m_table->setAcceptDrops(true);
    m_table->viewport()->setAcceptDrops(true);
    m_table->setDragDropMode(QAbstractItemView::DropOnly);
    m_table->setDropIndicatorShown(true);
    m_table->setMouseTracking(true);
    m_table->viewport()->setMouseTracking(true);
    m_table->verticalHeader()->setVisible(true);
    m_table->verticalHeader()->setSectionsMovable(false);
    m_table->verticalHeader()->setDragEnabled(false);

    connect(m_table, &QAbstractItemView::doubleClicked, this, &TrackListManager::onDoubleClicked);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TrackListManager::onSelectionChanged);
    connect(m_model, &SongTableModel::cueEdited, this, &TrackListManager::onCueEdited);

    m_positionTimer = new QTimer(this);
    m_positionTimer->setInterval(kPositionIntervalMs);
    connect(m_positionTimer, &QTimer::timeout, this, &TrackListManager::onPositionTick);
    m_positionTimer->start();

    m_fileCheckTimer = new QTimer(this);
    m_fileCheckTimer->setInterval(kFileCheckIntervalMs);
    connect(m_fileCheckTimer, &QTimer::timeout, this, &TrackListManager::recheckVisibleFiles);
    m_fileCheckTimer->start();

    connect(m_registry, &CueManager::cueCreated, this, &TrackListManager::onCueCreated);
    connect(m_registry, &CueManager::cueRemoved, this, &TrackListManager::onCueRemoved);
    connect(m_registry, &CueManager::currentCueChanged, this, &TrackListManager::onCurrentCueChanged);

    connect(m_model, &QAbstractItemModel::dataChanged, this, &TrackListManager::repaintTable);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &TrackListManager::onCellsChanged);
    connect(m_table->verticalScrollBar(), &QScrollBar::valueChanged, this, &TrackListManager::repaintTable);
    connect(m_table->verticalHeader(), &QHeaderView::sectionResized, this, &TrackListManager::repaintTable);

    m_delegate = new PlayingRowHighlightDelegate(m_model, this, m_registry);
    for (int column = 0; column < SongTableModel::ColumnCount; ++column)
        m_table->setItemDelegateForColumn(column, m_delegate);

    // Columns that change width (the last one follows the window) and a new
    // font or style change how many lines a text needs.
    m_rowFitTimer = new QTimer(this);
    m_rowFitTimer->setSingleShot(true);
    m_rowFitTimer->setInterval(kRowFitDelayMs);
    connect(m_rowFitTimer, &QTimer::timeout, this, &TrackListManager::fitRowHeights);
    connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, m_rowFitTimer,
            qOverload<>(&QTimer::start));
    m_table->installEventFilter(this);

    connect(m_parseQueue, &WaveformParseQueue::waveformUpdated, this, &TrackListManager::waveformUpdated);
    connect(m_parseQueue, &WaveformParseQueue::waveformParseStatus, this, &TrackListManager::waveformParseStatus);
    connect(m_parseQueue, &WaveformParseQueue::durationParsed, this, &TrackListManager::refreshCueRow);

    refreshTable();
}

TrackListManager::~TrackListManager()
{
    // The table outlives us in the form; it must not keep our delegate or model.
    if (m_table) {
        for (int column = 0; column < SongTableModel::ColumnCount; ++column)
            m_table->setItemDelegateForColumn(column, nullptr);
        m_table->setModel(nullptr);
    }
}

// ---------------------------------------------------------------------------
// Table set-up

void TrackListManager::setupTable()
{
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->horizontalHeader()->setSectionsMovable(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->setWordWrap(true);
    m_table->setTextElideMode(Qt::ElideNone);
    // Rows fit their contents through fitRowHeights(): Qt's own sizing to
    // contents lays out every cell of every row on each layout pass, far too
    // slow for a playlist of thousands of cues.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    m_table->setStyleSheet(QString::fromUtf8(kTableStyle));
    m_table->verticalHeader()->setVisible(true);
    m_table->verticalHeader()->setDefaultSectionSize(kVerticalSectionSize);
    m_table->verticalHeader()->setStyleSheet(QString::fromUtf8(kVerticalHeaderStyle));
    m_table->horizontalHeader()->setStyleSheet(QString::fromUtf8(kHorizontalHeaderStyle));

    QHeaderView* header = m_table->horizontalHeader();
    if (!m_importButton) {
        m_importButton = makeHeaderButton(header, tr("导入音频文件"),
                                          QString::fromUtf8(kImportButtonStyle).arg(kImportButtonFontPx));
        m_importButton->setText(QStringLiteral("+"));
        connect(m_importButton, &QPushButton::clicked, this, &TrackListManager::onImportFile);
    }
    if (!m_addGroupButton) {
        m_addGroupButton = makeHeaderButton(header, tr("添加群组"), QString::fromUtf8(kAddGroupButtonStyle));
        m_addGroupButton->setIcon(QIcon(addGroupIcon()));
        m_addGroupButton->setIconSize(QSize(20, 20));
    }
    QTimer::singleShot(0, this, &TrackListManager::placeHeaderButtons);
    connect(header, &QHeaderView::sectionResized, this, &TrackListManager::placeHeaderButtons,
            Qt::UniqueConnection);
    connect(header, &QHeaderView::geometriesChanged, this, &TrackListManager::placeHeaderButtons,
            Qt::UniqueConnection);
}

void TrackListManager::placeHeaderButtons()
{
    placeHeaderButton(m_importButton, kHeaderButtonSize + kImportButtonMargin);
    placeHeaderButton(m_addGroupButton, kAddGroupButtonOffset);
}

void TrackListManager::placeHeaderButton(QPushButton* button, int xFromRight)
{
    if (!button || !m_table)
        return;
    if (m_showMode) {
        button->hide();
        return;
    }
    QHeaderView* header = m_table->horizontalHeader();
    if (header->count() <= SongTableModel::RemarkColumn)
        return;
    const int right = header->sectionViewportPosition(SongTableModel::RemarkColumn)
        + header->sectionSize(SongTableModel::RemarkColumn);
    const int y = std::max((header->height() - button->height()) / 2, 0);
    button->move(std::max(right - xFromRight, 0), y);
    button->raise();
    button->show();
}

void TrackListManager::setShowMode(bool showMode)
{
    m_showMode = showMode;
    if (!m_table)
        return;
    if (showMode) {
        m_table->setDragEnabled(false);
        m_table->setAcceptDrops(false);
        m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_table->setContextMenuPolicy(Qt::NoContextMenu);
        m_table->setDragDropMode(QAbstractItemView::NoDragDrop);
    } else {
        m_table->setDragEnabled(true);
        m_table->setAcceptDrops(true);
        m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        m_table->setContextMenuPolicy(Qt::CustomContextMenu);
        m_table->setDragDropMode(QAbstractItemView::DropOnly);
    }
    m_table->horizontalHeader()->setSectionsMovable(false);
    m_table->verticalHeader()->setSectionsMovable(false);
    placeHeaderButtons();
}

void TrackListManager::repaintTable()
{
    if (m_table)
        m_table->viewport()->update();
}

// ---------------------------------------------------------------------------
// Playlist and table

void TrackListManager::loadPlaylist(int playlistId)
{
    m_currentPlaylistId = playlistId;
    m_cues.clear();
    if (playlistId == -1) {
        refreshTable();
        return;
    }
    const QList<int> ids = m_registry->getPlaylistCueIds(playlistId);
    m_cues.reserve(ids.size());
    for (int id : ids) {
        Cue* cue = m_registry->getCue(id);
        if (!cue)
            cue = m_registry->getOrLoadCue(id);
        if (cue)
            m_cues.append(cue);
    }
    refreshTable();
    loadOrParseWaveform();
    if (AudioEngine* engine = m_registry->audioEngine())
        engine->preloadCues(m_cues);
}

void TrackListManager::reloadCurrentPlaylist()
{
    m_registry->cleanupOrphanedCues();
    if (m_currentPlaylistId == -1)
        refreshTable();
    else
        loadPlaylist(m_currentPlaylistId);
}

void TrackListManager::refreshTable()
{
    if (!m_table)
        return;
    m_markedRow = -1;
    m_table->clearSelection();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex nameCell = m_model->index(row, SongTableModel::NameColumn);
        if (m_table->indexWidget(nameCell))
            m_table->setIndexWidget(nameCell, nullptr);
    }
    m_table->clearSpans();
    reloadModel();
    fitRowHeights();
    m_table->viewport()->update();
}

void TrackListManager::fitRowHeights()
{
    m_rowFitTimer->stop();
    fitRows(0, m_model->rowCount() - 1);
}

void TrackListManager::fitRows(int first, int last)
{
    if (!m_table || first < 0 || last < first)
        return;
    QHeaderView* rows = m_table->verticalHeader();
    const PlayingRowHighlightDelegate::OneLine line = m_delegate->oneLine(m_table);
    // The row number's own label may need more than the cells.
    const int oneLine = std::max(line.height, rows->sectionSizeHint(first));
    if (rows->defaultSectionSize() != oneLine) {
        rows->setDefaultSectionSize(oneLine);
        first = 0;
        last = m_model->rowCount() - 1;
    }
    const QFontMetrics metrics(m_table->font());
    int widths[SongTableModel::ColumnCount];
    for (int column = 0; column < SongTableModel::ColumnCount; ++column)
        widths[column] = m_table->columnWidth(column);

    QList<int> wrapping;
    QList<int> shrinking;
    for (int row = first; row <= last; ++row) {
        bool wraps = false;
        for (int column : {int(SongTableModel::NameColumn), int(SongTableModel::RemarkColumn)}) {
            const QString text = m_model->data(m_model->index(row, column)).toString();
            wraps = wraps
                || !PlayingRowHighlightDelegate::fitsOnOneLine(column, metrics, text, widths[column], line.margins);
        }
        if (wraps)
            wrapping.append(row);
        else if (rows->sectionSize(row) != oneLine)
            shrinking.append(row);
    }
    // Each single resize moves every row below it; past a few dozen, one pass
    // over all rows is cheaper.
    if (wrapping.size() + shrinking.size() > kMaxSingleRowFits) {
        m_table->resizeRowsToContents();
        return;
    }
    for (int row : std::as_const(wrapping))
        m_table->resizeRowToContents(row);
    for (int row : std::as_const(shrinking))
        rows->resizeSection(row, oneLine);
}

void TrackListManager::onCellsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (topLeft.isValid() && bottomRight.isValid())
        fitRows(topLeft.row(), bottomRight.row());
}

bool TrackListManager::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        m_rowFitTimer->start();
    return QWidget::eventFilter(watched, event);
}

void TrackListManager::reloadModel()
{
    if (m_currentPlaylistId == -1) {
        m_model->setCueList({});
        return;
    }
    // The database order is the table's order after every refresh.
    const QList<int> ids = m_registry->getPlaylistCueIds(m_currentPlaylistId);
    QList<Cue*> cues;
    cues.reserve(ids.size());
    for (int id : ids) {
        if (Cue* cue = m_registry->getCue(id))
            cues.append(cue);
    }
    m_cues = cues;
    m_model->setCueList(m_cues);
}

// ---------------------------------------------------------------------------
// Selection

void TrackListManager::onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    Q_UNUSED(selected);
    Q_UNUSED(deselected);
    const QModelIndexList rows = m_table->selectionModel()->selectedRows(0);
    const int count = int(rows.size());

    if (count == 0) {
        if (m_lastSelectionCount > 1)
            Q_EMIT batchModeChanged(false);
        m_lastSelectionCount = 0;
        Q_EMIT cueSelected(nullptr);
        m_markedRow = -1;
        return;
    }

    if (count == 1) {
        if (m_lastSelectionCount > 1)
            Q_EMIT batchModeChanged(false);
        m_lastSelectionCount = 1;
        const int row = rows.first().row();
        Cue* cue = m_model->cueAt(row);
        if (!cue) {
            Q_EMIT cueSelected(nullptr);
            m_markedRow = -1;
            return;
        }
        if (row == m_markedRow)
            return;
        m_markedRow = row;
        Q_EMIT cueSelected(cue);
        // The selected cue's waveform is parsed before every other.
        if (!m_parseQueue->hasCachedWaveform(cue) && cue->waveform().isEmpty())
            enqueueWaveformParse(cue, true);
        return;
    }

    m_batchCues.clear();
    for (const QModelIndex& index : rows) {
        if (Cue* cue = m_model->cueAt(index.row()))
            m_batchCues.append(cue);
    }
    if (m_lastSelectionCount > 1)
        Q_EMIT batchSelectionChanged();
    else
        Q_EMIT batchModeChanged(true);
    m_lastSelectionCount = count;
}

void TrackListManager::selectCue(Cue* cue)
{
    if (!cue || !m_table)
        return;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        Cue* candidate = m_model->cueAt(row);
        if (!candidate || candidate->id() != cue->id())
            continue;
        const QModelIndex index = m_model->index(row, 0);
        QItemSelectionModel* selection = m_table->selectionModel();
        selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        return;
    }
}

void TrackListManager::selectRow(int row)
{
    if (m_table)
        m_table->selectRow(row);
}

int TrackListManager::selectedRow() const
{
    if (!m_table || !m_table->selectionModel())
        return -1;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QList<Cue*> TrackListManager::selectedCues() const
{
    QList<Cue*> cues;
    if (!m_table || !m_table->selectionModel())
        return cues;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    for (const QModelIndex& index : rows) {
        if (Cue* cue = m_model->cueAt(index.row()))
            cues.append(cue);
    }
    return cues;
}

void TrackListManager::onDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    Cue* cue = m_model->cueAt(index.row());
    if (!cue)
        return;
    if (m_showMode) {
        Q_EMIT itemClickPlay(index);
        return;
    }
    // Those two cells open their editor on a double click.
    if (index.column() == SongTableModel::NameColumn || index.column() == SongTableModel::RemarkColumn)
        return;
    if (!cue->filePath().isEmpty() && QFileInfo::exists(cue->filePath()))
        Q_EMIT itemClickPlay(index);
}

void TrackListManager::onImportFile()
{
    // The "+" button's file import comes with the import of files and folders.
}

// ---------------------------------------------------------------------------
// The playing cue

void TrackListManager::setCurrentCue(Cue* cue, bool isPlaying)
{
    m_currentCue = cue;
    m_model->setCurrentCue(cue, isPlaying);
}

void TrackListManager::clearCurrentCue()
{
    m_model->setCurrentCue(nullptr, true);
    m_currentCue = nullptr;
}

void TrackListManager::requestJumpToPlaying()
{
    Q_EMIT jumpToPlayingRequested();
}

void TrackListManager::onPositionTick()
{
    Cue* cue = m_registry->getCurrentCue();
    if (!cue || !m_registry->isPlaying())
        return;
    m_lastPositionMs = m_registry->getCurrentPosition();
    m_lastPositionCue = cue;
    if (m_model->rowOfCue(cue) >= 0)
        m_model->setPosition(cue, m_lastPositionMs);
}

// ---------------------------------------------------------------------------
// Registry

void TrackListManager::onCueCreated(Cue* cue)
{
    if (m_currentPlaylistId == -1) {
        refreshTable();
        return;
    }
    if (!cue || !m_registry->getPlaylistCueIds(m_currentPlaylistId).contains(cue->id()))
        return;
    if (!m_cues.contains(cue))
        m_cues.append(cue);
    refreshTable();
}

void TrackListManager::onCueRemoved(Cue* cue)
{
    m_cues.removeAll(cue);
    m_batchCues.removeAll(cue);
    if (m_model->currentCue() == cue)
        m_model->setCurrentCue(nullptr, false);
    m_model->clearDisplayRange(cue);
    refreshTable();
    if (m_currentCue == cue)
        m_currentCue = nullptr;
    if (m_lastPositionCue == cue)
        m_lastPositionCue = nullptr;
    m_parseQueue->forgetCue(cue);
}

void TrackListManager::onCurrentCueChanged(Cue* cue)
{
    m_currentCue = cue;
    m_model->setCurrentCue(cue, true);
}

// ---------------------------------------------------------------------------
// Edits

void TrackListManager::onCueEdited(Cue* cue, int column)
{
    // The model has written the edit to the cue; a new name may need more
    // or fewer lines.
    if (column != SongTableModel::NameColumn || !m_table)
        return;
    const int row = m_model->rowOfCue(cue);
    if (row >= 0)
        fitRows(row, row);
}

void TrackListManager::refreshCueRow(Cue* cue)
{
    m_model->refreshColumns(cue, SongTableModel::NameColumn, SongTableModel::DurationColumn);
}

void TrackListManager::setCueLoopCount(Cue* cue, bool infinite, int count)
{
    if (!cue)
        return;
    cue->setLoopCount(infinite ? 0 : count);
    m_model->refreshLoopCount(cue);
    cue->saveToDatabase(false);
}

void TrackListManager::setCueAlias(Cue* cue, const QString& alias)
{
    if (!cue)
        return;
    cue->setAlias(alias);
    m_model->refreshName(cue);
    cue->saveToDatabase(false);
    const int row = m_model->rowOfCue(cue);
    if (row >= 0)
        fitRows(row, row);
}

void TrackListManager::setCueRemark(Cue* cue, const QString& remark)
{
    if (!cue)
        return;
    cue->setRemark(remark);
    m_model->refreshRemark(cue);
    cue->saveToDatabase(false);
}

void TrackListManager::setCuePreWait(Cue* cue, int preWaitMs)
{
    if (!cue)
        return;
    cue->setPreWait(preWaitMs);
    m_model->refreshPreWait(cue);
    cue->saveToDatabase(false);
}

void TrackListManager::setCueVolumeA(Cue* cue, int volume)
{
    if (!cue)
        return;
    cue->setVolumeA(volume);
    cue->saveToDatabase(false);
}

// ---------------------------------------------------------------------------
// Queries

Cue* TrackListManager::cueAt(int row) const
{
    return m_model->cueAt(row);
}

int TrackListManager::rowCount() const
{
    return m_model->rowCount();
}

int TrackListManager::rowOfCue(Cue* cue) const
{
    return m_model->rowOfCue(cue);
}

QModelIndex TrackListManager::indexOfCue(Cue* cue) const
{
    if (!cue || !m_table)
        return {};
    const qsizetype position = m_cues.indexOf(cue);
    return position < 0 ? QModelIndex() : m_model->index(int(position), 0);
}

// ---------------------------------------------------------------------------
// Files and waveforms

void TrackListManager::recheckVisibleFiles()
{
    if (!m_table || !m_table->isVisible() || m_model->rowCount() == 0)
        return;
    FileExistenceCache* files = m_model->fileExistence();
    if (files->isChecking())
        return;
    const int first = std::max(m_table->rowAt(0), 0);
    int last = m_table->rowAt(m_table->viewport()->height() - 1);
    if (last < 0)
        last = m_model->rowCount() - 1;
    QStringList paths;
    for (int row = first; row <= last; ++row) {
        if (Cue* cue = m_model->cueAt(row))
            paths.append(cue->filePath());
    }
    files->recheck(paths);
}

bool TrackListManager::hasCachedWaveform(Cue* cue) const
{
    return m_parseQueue->hasCachedWaveform(cue);
}

QList<float> TrackListManager::cachedWaveform(Cue* cue) const
{
    return m_parseQueue->cachedWaveform(cue);
}

void TrackListManager::enqueueWaveformParse(Cue* cue, bool priority)
{
    m_parseQueue->enqueueWaveformParse(cue, priority);
}

void TrackListManager::loadOrParseWaveform()
{
    m_parseQueue->loadOrParse(m_cues);
}

void TrackListManager::clearWaveformCache()
{
    m_parseQueue->clearWaveformCache();
}

void TrackListManager::clearParseQueue()
{
    m_parseQueue->clearParseQueue();
}

void TrackListManager::stopWaveformParsing()
{
    m_parseQueue->stopWaveformParsing();
}
