#include "lists/TrackListManager.h"

#include "exchange/BusyOverlay.h"
#include "lists/AudioFileMatch.h"
#include "lists/AudioImportFiles.h"
#include "lists/CueFileRelinker.h"
#include "lists/FileExistenceCache.h"
#include "lists/FlatScrollBarStyle.h"
#include "lists/PlayOrderPreload.h"
#include "lists/PlayingPositionTicker.h"
#include "lists/PlayingRowHighlightDelegate.h"
#include "lists/PlaylistCueInserter.h"
#include "lists/RowDropRules.h"
#include "lists/RowHeightFitter.h"
#include "lists/ShownCuePeaks.h"
#include "lists/SongTableModel.h"
#include "lists/WaveformParseQueue.h"
#include "lists/WidgetTrackListUi.h"
#include "audiofile/AudioFileProbe.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "platform/FileWorkPool.h"
#include "platform/PoolTask.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QTableView>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <set>

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


const QColor kReplaceFill(255, 165, 0, 80);
const QColor kReplaceOutline(255, 165, 0);
const QColor kInsertLine(0, 200, 255);

// A copy takes the source's settings, not its loudness, bad-file flag or
// start mark; the loop region exactly as it is, without checks or a save.
void copySettings(const Cue& from, Cue& to)
{
    to.setName(from.name());
    to.setDuration(from.durationMs());
    to.setAlias(from.alias());
    to.setRemark(from.remark());
    to.setVolumeA(from.volumeA());
    to.setVolumeB(from.volumeB());
    to.setVolumeChoose(from.volumeChoose());
    to.setPreWait(from.preWaitMs());
    to.setLoopCount(from.loopCount());
    to.setLoading(true);
    to.setLoopRange(from.loopStartMs(), from.loopEndMs(), false);
    to.setLoading(false);
    to.setFadeEnabled(from.fadeEnabled());
    to.setFadeDurations(from.fadeInMs(), from.fadeOutMs());
    to.setVolumeEnvelope(from.envelopeTimes(), from.envelopeGains());
    to.setEnvelopeEnabled(from.envelopeEnabled());
    to.setColor(from.color());
    to.setPanEnvelope(from.panEnvelopeTimes(), from.panEnvelopePositions());
    to.setPanEnvelopeEnabled(from.panEnvelopeEnabled());
    if (!from.waveform().isEmpty())
        to.setWaveform(from.waveform());
}

QList<Cue*> alive(const QList<QPointer<Cue>>& cues)
{
    QList<Cue*> list;
    list.reserve(cues.size());
    for (const QPointer<Cue>& cue : cues) {
        if (cue)
            list.append(cue.data());
    }
    return list;
}

}  // namespace

TrackListManager::TrackListManager(QTableView* table, QWidget* parent, CueManager* registry)
    : QWidget(parent)
    , m_table(table)
    , m_model(new SongTableModel(this))
    , m_registry(registry ? registry : CueManager::instance())
    , m_parseQueue(new WaveformParseQueue(this))
    , m_ui(std::make_unique<WidgetTrackListUi>())
{
    hide();
    setFixedSize(0, 0);

    setupTable();
    setupContextMenu();
    m_relinker = std::make_unique<CueFileRelinker>(
        m_registry, m_parseQueue,
        CueFileRelinker::Host{[this] { return m_ui.get(); }, m_table.data(), [this] { refreshTable(); },
                              [this](const QString& message, int timeout) { Q_EMIT statusMessage(message, timeout); },
                              [this] { return lastImportPath(); }});
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

    m_table->installEventFilter(this);
    m_table->viewport()->installEventFilter(this);
    connect(m_table, &QAbstractItemView::pressed, this, &TrackListManager::onPressed);
    connect(m_table, &QAbstractItemView::doubleClicked, this, &TrackListManager::onDoubleClicked);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TrackListManager::onSelectionChanged);
    connect(m_model, &SongTableModel::cueEdited, this, &TrackListManager::onCueEdited);

    new PlayingPositionTicker(m_registry, m_model, this);

    m_fileCheckTimer = new QTimer(this);
    m_fileCheckTimer->setInterval(kFileCheckIntervalMs);
    connect(m_fileCheckTimer, &QTimer::timeout, this, &TrackListManager::recheckVisibleFiles);
    m_fileCheckTimer->start();

    m_playOrderPreload = new PlayOrderPreload(m_registry, this);
    connect(this, &TrackListManager::cueSelected, m_playOrderPreload, &PlayOrderPreload::setSelectedCue);
    // The preload plan walks the whole table (tens of milliseconds for a
    // hundred thousand cues): it follows a load as an event of its own.
    m_preloadTimer = new QTimer(this);
    m_preloadTimer->setSingleShot(true);
    m_preloadTimer->setInterval(0);
    connect(m_preloadTimer, &QTimer::timeout, this, [this] { m_playOrderPreload->setShownCues(m_cues); });
    connect(m_registry, &CueManager::cueCreated, this, &TrackListManager::onCueCreated);
    connect(m_registry, &CueManager::cueRemoved, this, &TrackListManager::onCueRemoved);
    connect(m_registry, &CueManager::currentCueChanged, this, &TrackListManager::onCurrentCueChanged);

    connect(m_model, &QAbstractItemModel::dataChanged, this, &TrackListManager::repaintTable);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &TrackListManager::onCellsChanged);
    connect(m_table->verticalScrollBar(), &QScrollBar::valueChanged, this, &TrackListManager::repaintTable);
    FlatScrollBarStyle::apply(m_table->verticalScrollBar());
    FlatScrollBarStyle::apply(m_table->horizontalScrollBar());
    connect(m_table->verticalHeader(), &QHeaderView::sectionResized, this, &TrackListManager::repaintTable);

    m_delegate = new PlayingRowHighlightDelegate(m_model, this, m_registry);
    for (int column = 0; column < SongTableModel::ColumnCount; ++column)
        m_table->setItemDelegateForColumn(column, m_delegate);

    // Columns that change width (the last one follows the window) and a new
    // font or style change how many lines a text needs.
    m_rowFitter = new RowHeightFitter(m_table, m_model, m_delegate, this);
    connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, m_rowFitter, &RowHeightFitter::fitAllSoon);
    m_shownPeaks = new ShownCuePeaks(m_table, m_model, m_registry, m_parseQueue, this);

    connect(m_parseQueue, &WaveformParseQueue::waveformUpdated, this, &TrackListManager::waveformUpdated);
    connect(m_parseQueue, &WaveformParseQueue::waveformParseStatus, this, &TrackListManager::waveformParseStatus);
    connect(m_parseQueue, &WaveformParseQueue::durationParsed, this, &TrackListManager::refreshCueRow);

    refreshTable();
}

TrackListManager::~TrackListManager()
{
    if (m_importProgressDialog)
        delete m_importProgressDialog.data();
    if (m_copyProgressDialog)
        delete m_copyProgressDialog.data();
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
    QList<Cue*> cues;
    cues.reserve(ids.size());
    for (int id : ids) {
        Cue* cue = m_registry->getCue(id);
        if (!cue)
            cue = m_registry->getOrLoadCue(id);
        if (cue)
            cues.append(cue);
    }
    // The order just read is the table's; a refresh would read it again.
    refreshTable(&cues);
    loadOrParseWaveform();
    m_preloadTimer->start();
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
    refreshTable(nullptr);
}

void TrackListManager::refreshTable(const QList<Cue*>* cues)
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
    reloadModel(cues);
    fitRowHeights();
    m_table->viewport()->update();
}

void TrackListManager::fitRowHeights()
{
    m_rowFitter->fitAll();
}

void TrackListManager::onCellsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (topLeft.isValid() && bottomRight.isValid())
        m_rowFitter->fitRows(topLeft.row(), bottomRight.row());
}

bool TrackListManager::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_table)
        return QWidget::eventFilter(watched, event);
    if (watched == m_table) {
        if ((event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) && m_rowFitter)
            m_rowFitter->fitAllSoon();
        if (event->type() == QEvent::KeyPress && filterKeyPress(static_cast<QKeyEvent*>(event)))
            return true;
        return QWidget::eventFilter(watched, event);
    }
    if (watched == m_table->viewport())
        return filterViewportEvent(event) || QWidget::eventFilter(watched, event);
    return QWidget::eventFilter(watched, event);
}

void TrackListManager::reloadModel(const QList<Cue*>* cues)
{
    if (m_currentPlaylistId == -1) {
        m_model->setCueList({});
        return;
    }
    if (cues) {
        m_cues = *cues;
    } else {
        // The database order is the table's order after every refresh.
        const QList<int> ids = m_registry->getPlaylistCueIds(m_currentPlaylistId);
        m_cues.clear();
        m_cues.reserve(ids.size());
        for (int id : ids) {
            if (Cue* cue = m_registry->getCue(id))
                m_cues.append(cue);
        }
    }
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
    else
        replaceCueAudio(cue);
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

// ---------------------------------------------------------------------------
// Registry

void TrackListManager::onCueCreated(Cue* cue)
{
    if (m_bulkChange)
        return;  // the table is refreshed once when the batch is done
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
    m_copiedCues.removeAll(cue);
    m_draggedCues.removeAll(cue);
    m_dragSnapshot.removeAll(cue);
    if (!m_bulkChange)
        refreshTable();
    if (m_currentCue == cue)
        m_currentCue = nullptr;
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
        m_rowFitter->fitRows(row, row);
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
        m_rowFitter->fitRows(row, row);
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
    m_shownPeaks->setShownCues(m_cues);
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

void TrackListManager::setUi(std::unique_ptr<TrackListUi> ui)
{
    m_ui = ui ? std::move(ui) : std::make_unique<WidgetTrackListUi>();
}

void TrackListManager::setCues(const QList<Cue*>& cues)
{
    m_cues = cues;
    m_model->setCueList(m_cues);
    fitRowHeights();
    repaintTable();
}

// ---------------------------------------------------------------------------
// Event filter: keys, the row drag, file drags

bool TrackListManager::matchesBinding(QKeyEvent* event, const char* actionId) const
{
    const QString id = QString::fromLatin1(actionId);
    const QString text = QSettings().value(SettingsKeys::shortcutKey(id), SettingsKeys::defaultHotkey(id)).toString();
    const QKeySequence binding(text, QKeySequence::NativeText);
    if (binding.isEmpty())
        return false;
    const QKeySequence pressed(event->keyCombination());
    return pressed.toString(QKeySequence::PortableText) == binding.toString(QKeySequence::PortableText);
}

bool TrackListManager::filterKeyPress(QKeyEvent* event)
{
    // The window's transport keys (a presenter sends the page keys) go on to
    // the window even when the table has the focus: left to the table they
    // would only move its current row.
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            event->ignore();  // unaccepted, the event travels up to the window
            return true;
        }
        break;
    default:
        break;
    }
    const bool selectAll = event->key() == Qt::Key_A && event->modifiers() == Qt::ControlModifier;
    if (m_showMode)
        return selectAll || event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (selectAll) {
        selectAllRows();
        return true;
    }
    // Read at every key: a binding changed in the settings works at once.
    if (matchesBinding(event, "copy")) {
        onCopySelected();
        return true;
    }
    if (matchesBinding(event, "paste")) {
        onPasteCues();
        return true;
    }
    return false;
}

bool TrackListManager::filterViewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        if (m_showMode)
            return true;
        if (event->type() == QEvent::DragEnter) {
            onFileDragEnter(static_cast<QDragEnterEvent*>(event));
            return event->isAccepted();
        }
        if (event->type() == QEvent::DragMove) {
            auto* move = static_cast<QDragMoveEvent*>(event);
            if (!move->mimeData() || !move->mimeData()->hasUrls()) {
                move->ignore();
                return false;
            }
            onFileDragMove(move);
            return true;
        }
        if (event->type() == QEvent::DragLeave) {
            onFileDragLeave();
            event->accept();
            return true;
        }
        handleFileDrop(static_cast<QDropEvent*>(event));
        return true;
    case QEvent::MouseButtonPress: {
        auto* press = static_cast<QMouseEvent*>(event);
        m_lastPressGlobal = press->globalPosition().toPoint();
        m_lastPressCtrl = press->modifiers().testFlag(Qt::ControlModifier);
        m_table->setFocus(Qt::MouseFocusReason);
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (!m_rowDragActive)
            return false;
        onMouseRelease(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseMove:
        onMouseMove(static_cast<QMouseEvent*>(event));
        return true;  // no rubber band or drag selection of the table's own
    case QEvent::Paint:
        paintIndicators();
        return false;  // the cells are drawn over the indicators
    default:
        return false;
    }
}

void TrackListManager::onPressed(const QModelIndex& index)
{
    if (!index.isValid() || m_showMode)
        return;
    m_pressPos = m_lastPressGlobal;
    m_dragStarted = false;
    m_pressRow = index.row();
    m_copyDrag = m_lastPressCtrl;
    m_draggedCues.clear();
    m_dragSnapshot.clear();
    if (!m_copyDrag)
        return;
    // A copy drags the selection and the pressed row, which Ctrl may just
    // have taken out of the selection.
    QList<int> rows;
    for (const QModelIndex& selected : m_table->selectionModel()->selectedRows())
        rows.append(selected.row());
    std::sort(rows.begin(), rows.end());
    rows.append(m_pressRow);
    for (int row : std::as_const(rows)) {
        Cue* cue = m_model->cueAt(row);
        if (cue && !m_draggedCues.contains(cue))
            m_draggedCues.append(cue);
    }
    m_dragSnapshot = m_draggedCues;
}

QRect TrackListManager::dragZone() const
{
    QWidget* viewport = m_table->viewport();
    return QRect(viewport->mapToGlobal(QPoint(0, 0)), viewport->size())
        .adjusted(-kDragZoneMargin, -kDragZoneMargin, kDragZoneMargin, kDragZoneMargin);
}

void TrackListManager::onMouseMove(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_showMode || m_pressRow == -1)
        return;
    if (m_draggedCues.isEmpty()) {
        QList<int> rows;
        for (const QModelIndex& selected : m_table->selectionModel()->selectedRows())
            rows.append(selected.row());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (int row : std::as_const(rows)) {
            if (Cue* cue = m_model->cueAt(row))
                m_draggedCues.append(cue);
        }
        if (m_draggedCues.isEmpty()) {
            if (Cue* cue = m_model->cueAt(m_pressRow))
                m_draggedCues.append(cue);
        }
        m_dragSnapshot = m_draggedCues;
    }

    const QPoint global = event->globalPosition().toPoint();
    if (!m_rowDragActive) {
        if ((global - m_pressPos).manhattanLength() <= QApplication::startDragDistance())
            return;
        m_dragStarted = true;
        m_rowDragActive = true;
        m_table->viewport()->setCursor(m_copyDrag ? Qt::DragCopyCursor : Qt::DragMoveCursor);
        selectDraggedRows();
        Q_EMIT cueDragStarted();
    }
    if (dragZone().contains(global)) {
        updateInsertIndicator(event->position().toPoint());
    } else if (m_insertRow != -1) {
        m_insertRow = -1;
        repaintTable();
    }
    Q_EMIT cueDragMoved(global);
}

void TrackListManager::onMouseRelease(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint global = event->globalPosition().toPoint();
    if (m_rowDragActive) {
        Q_EMIT cueDragEnded(global, alive(m_draggedCues));
        // Outside the table only the playlist tree may take the cues.
        if (dragZone().contains(global))
            dropDraggedCues();
        else
            resetDragState();
    } else {
        resetDragState();
    }
    m_rowDragActive = false;
    m_pressRow = -1;
    m_draggedCues.clear();
    m_table->viewport()->setCursor(Qt::ArrowCursor);
    repaintTable();
}

void TrackListManager::updateInsertIndicator(const QPoint& viewportPos)
{
    const int row = m_table->rowAt(viewportPos.y());
    const QRect cell = row >= 0 ? m_table->visualRect(m_model->index(row, 0)) : QRect();
    const RowDropRules::Insert insert =
        RowDropRules::rowDragAt(row, cell.top(), cell.bottom(), viewportPos.y(), m_model->rowCount());
    m_insertRow = insert.row;
    m_insertAbove = insert.above;
    repaintTable();
}

void TrackListManager::paintIndicators()
{
    const int rows = m_model->rowCount();
    const bool replaceTarget = m_dropReplaceMode && m_dropReplaceRow >= 0 && m_dropReplaceRow < rows;
    const bool insertLine = m_insertRow >= 0 && m_insertRow <= rows;
    if (!replaceTarget && !insertLine)
        return;
    QWidget* viewport = m_table->viewport();
    QPainter painter(viewport);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (replaceTarget) {
        const QRect cell = m_table->visualRect(m_model->index(m_dropReplaceRow, 0));
        painter.fillRect(cell, kReplaceFill);
        painter.setPen(QPen(kReplaceOutline, 2, Qt::SolidLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(cell.adjusted(0, 0, -1, -1));
    }
    if (insertLine) {
        int y = 0;
        if (rows > 0 && m_insertRow == 0)
            y = m_table->visualRect(m_model->index(0, 0)).top() - 1;
        else if (rows > 0)
            y = m_table->visualRect(m_model->index(std::min(m_insertRow, rows) - 1, 0)).bottom() + 1;
        const int w = viewport->width() - 1;
        painter.setPen(QPen(kInsertLine, 3, Qt::SolidLine));
        painter.setBrush(kInsertLine);
        painter.drawLine(5, y, w - 4, y);
        painter.drawEllipse(QRect(QPoint(2, y - 3), QPoint(7, y + 2)));
        painter.drawEllipse(QRect(QPoint(w - 7, y - 3), QPoint(w - 2, y + 2)));
    }
}

void TrackListManager::selectAllRows()
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    QItemSelectionModel* selection = m_table->selectionModel();
    selection->select(QItemSelection(m_model->index(0, 0), m_model->index(rows - 1, SongTableModel::ColumnCount - 1)),
                      QItemSelectionModel::ClearAndSelect);
    selection->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
}

void TrackListManager::selectDraggedRows()
{
    selectCues(alive(m_draggedCues), false);
}

void TrackListManager::selectCues(const QList<Cue*>& cues, bool scrollToFirst)
{
    QItemSelectionModel* selection = m_table->selectionModel();
    std::set<int> rows;
    for (Cue* cue : cues) {
        const int row = m_model->rowOfCue(cue);
        if (row >= 0)
            rows.insert(row);
    }
    // One selection change for all of them, in runs of adjacent rows.
    QItemSelection wanted;
    for (auto it = rows.begin(); it != rows.end();) {
        const int first = *it;
        int last = first;
        while (++it != rows.end() && *it == last + 1)
            last = *it;
        wanted.select(m_model->index(first, 0), m_model->index(last, SongTableModel::ColumnCount - 1));
    }
    if (wanted.isEmpty())
        selection->clearSelection();
    else
        selection->select(wanted, QItemSelectionModel::ClearAndSelect);
    if (scrollToFirst && !rows.empty())
        m_table->scrollTo(m_model->index(*rows.begin(), 0));
}

void TrackListManager::resetDragState()
{
    m_dragStarted = false;
    m_rowDragActive = false;
    m_pressRow = -1;
    m_draggedCues.clear();
    m_dragSnapshot.clear();
    m_dragTargetRow = -1;
    m_insertRow = -1;
    m_copyDrag = false;
    m_dropReplaceMode = false;
    m_dropReplaceRow = -1;
    if (m_table) {
        m_table->viewport()->setCursor(Qt::ArrowCursor);
        repaintTable();
    }
}

QList<Cue*> TrackListManager::draggedCues() const
{
    return alive(m_draggedCues);
}

void TrackListManager::onFileDragEnter(QDragEnterEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (data && data->hasUrls() && !AudioImportFiles::droppable(data->urls()).isEmpty()) {
        event->acceptProposedAction();
        m_table->viewport()->setCursor(Qt::DragCopyCursor);
        return;
    }
    event->ignore();
}

void TrackListManager::onFileDragMove(QDragMoveEvent* event)
{
    event->acceptProposedAction();
    const int y = qRound(event->position().y());
    const int row = m_table->rowAt(y);
    const QRect cell = row >= 0 ? m_table->visualRect(m_model->index(row, 0)) : QRect();
    const RowDropRules::FileDrop drop =
        RowDropRules::fileDragAt(row, cell.top(), cell.bottom(), y, m_model->rowCount());
    m_dropReplaceMode = drop.replace;
    m_dropReplaceRow = drop.replaceRow;
    m_insertRow = drop.insert.row;
    if (!drop.replace)
        m_insertAbove = drop.insert.above;
    repaintTable();
}

void TrackListManager::onFileDragLeave()
{
    m_table->viewport()->setCursor(Qt::ArrowCursor);
    m_dropReplaceMode = false;
    m_dropReplaceRow = -1;
    m_insertRow = -1;
    repaintTable();
}

// ---------------------------------------------------------------------------
// Import

bool TrackListManager::isAudioFile(const QString& path) const
{
    return AudioImportFiles::isAudioFile(path);
}

QStringList TrackListManager::collectAudioFiles(const QList<QUrl>& urls)
{
    QStringList skipped;
    const QStringList files = AudioImportFiles::collect(urls, &skipped);
    for (const QString& name : std::as_const(skipped))
        Q_EMIT statusMessage(tr("跳过非音频文件: %1").arg(name), 1500);
    return files;
}

QString TrackListManager::lastImportPath() const
{
    return QSettings().value(SettingsKeys::kLastImportPath, SettingsKeys::lastImportPathDefault()).toString();
}

void TrackListManager::saveLastImportPath(const QString& folder)
{
    QSettings().setValue(SettingsKeys::kLastImportPath, folder);
}

void TrackListManager::showImportProgress(int total)
{
    if (!m_table)
        return;
    if (m_importProgressDialog)
        m_importProgressDialog->deleteLater();
    m_importProgressDialog = new ImportProgressDialog(m_table);
    m_importProgressDialog->setTotal(total);
    m_importProgressDialog->show();
}

void TrackListManager::hideImportProgress()
{
    if (m_importProgressDialog)
        m_importProgressDialog->deleteLater();
    m_importProgressDialog = nullptr;
}

void TrackListManager::showCopyProgress(int total)
{
    if (!m_table)
        return;
    if (m_copyProgressDialog)
        m_copyProgressDialog->deleteLater();
    m_copyProgressDialog = new ImportProgressDialog(m_table);
    m_copyProgressDialog->setTotal(total);
    m_copyProgressDialog->show();
}

void TrackListManager::closeCopyProgress()
{
    if (m_copyProgressDialog)
        m_copyProgressDialog->deleteLater();
    m_copyProgressDialog = nullptr;
}

bool TrackListManager::isBusy() const
{
    return m_busy || m_relinker->isBusy();
}

bool TrackListManager::refuseWhileBusy()
{
    if (!isBusy())
        return false;
    Q_EMIT statusMessage(tr("正在导入，请稍候..."), 2000);
    return true;
}

void TrackListManager::onImportFile()
{
    if (m_currentPlaylistId == -1) {
        m_ui->message(m_table, TrackListUi::Icon::Warning, tr("提示"), tr("请先选中一个歌单！"));
        return;
    }
    const QString startFolder = lastImportPath();
    // Opening the desktop's chooser can take a moment: say so meanwhile.
    QPointer<BusyOverlay> notice = new BusyOverlay(m_table, tr("正在打开文件选择器..."));
    notice->show();
    QCoreApplication::processEvents();

    QTimer::singleShot(kChooserDelayMs, this, [this, notice, startFolder] {
        auto chooserOpen = std::make_shared<bool>(true);
        QTimer::singleShot(kChooserWatchdogMs, this, [chooserOpen] {
            // Nothing is closed: the operator may still be choosing.
            if (*chooserOpen)
                qInfo() << "[Import] 文件选择器已打开超过 3 秒，仍在等待选择";
        });
        const QStringList files
            = m_ui->chooseFiles(tr("选择音频文件"), startFolder, AudioImportFiles::chooserFilter());
        *chooserOpen = false;
        if (notice) {
            notice->close();
            notice->deleteLater();
        }
        if (files.isEmpty())
            return;
        saveLastImportPath(QFileInfo(files.first()).absolutePath());
        QList<QUrl> urls;
        for (const QString& file : files)
            urls.append(QUrl::fromLocalFile(file));
        importUrls(urls);
    });
}

QStringList TrackListManager::audioFilesFor(const QList<QUrl>& urls)
{
    if (m_currentPlaylistId == -1) {
        Q_EMIT statusMessage(tr("请先选中一个歌单！"), 2000);
        return {};
    }
    const QStringList files = collectAudioFiles(urls);
    if (files.isEmpty())
        Q_EMIT statusMessage(tr("没有找到有效的音频文件"), 2000);
    return files;
}

TrackListManager::AddOutcome TrackListManager::addFiles(const QStringList& files, int row)
{
    AddOutcome outcome;
    const QPointer<TrackListManager> self(this);
    showImportProgress(int(files.size()));
    const QPointer<ImportProgressDialog> progress = m_importProgressDialog;
    m_busy = true;
    {
        PlaylistCueInserter inserter(m_registry, m_currentPlaylistId);
        if (inserter.begin(row, int(files.size()))) {
            for (int i = 0; i < files.size(); ++i) {
                if (!inserter.add(m_registry->newCueFromTemplate(files[i])))
                    qWarning() << "[Import] Failed to add" << files[i];
                if (progress)
                    progress->setProgress(i + 1);
                QCoreApplication::processEvents(QEventLoop::AllEvents, kImportEventSliceMs);
                if (!self)
                    return outcome;  // the table went away; nothing is kept
            }
            // The registry announces each new cue; the table is reloaded
            // once below instead of once per cue.
            m_bulkChange = true;
            if (!inserter.commit())
                qWarning() << "[Import] The import could not be stored; nothing was added";
            m_bulkChange = false;
        } else {
            qWarning() << "[Import] The import could not begin; nothing was added";
        }
        outcome.added = inserter.added();
        outcome.failed = int(files.size()) - int(outcome.added.size());
    }
    m_busy = false;
    loadPlaylist(m_currentPlaylistId);
    refreshPlayOrder();
    return outcome;
}

void TrackListManager::importUrls(const QList<QUrl>& urls)
{
    if (refuseWhileBusy())
        return;
    const QStringList files = audioFilesFor(urls);
    if (files.isEmpty())
        return;
    const AddOutcome outcome = addFiles(files, -1);
    hideImportProgress();
    QString text = tr("成功添加 %1 个文件").arg(outcome.added.size());
    if (outcome.failed > 0)
        text += tr("，%1 个文件导入失败").arg(outcome.failed);
    Q_EMIT statusMessage(text, 3000);
    Q_EMIT cuesImported(m_cues);
}

void TrackListManager::insertUrlsAt(const QList<QUrl>& urls, int row)
{
    if (refuseWhileBusy())
        return;
    const QStringList files = audioFilesFor(urls);
    if (files.isEmpty())
        return;
    const AddOutcome outcome = addFiles(files, row);
    selectCues(outcome.added, false);
    hideImportProgress();
    QString text = tr("已在位置 %1 插入 %2 个文件").arg(row).arg(outcome.added.size());
    if (outcome.failed > 0)
        text += tr("，%1 个文件导入失败").arg(outcome.failed);
    Q_EMIT statusMessage(text, 3000);
    Q_EMIT cuesImported(m_cues);
}

void TrackListManager::importFolder(const QString& folder)
{
    if (!QFileInfo(folder).isDir() || refuseWhileBusy())
        return;
    const QStringList files = AudioImportFiles::collect({QUrl::fromLocalFile(folder)});
    if (files.isEmpty()) {
        Q_EMIT statusMessage(tr("文件夹中没有找到音频文件: %1").arg(QFileInfo(folder).fileName()), 2000);
        return;
    }
    if (m_currentPlaylistId == -1) {
        Q_EMIT statusMessage(tr("请先选中一个歌单！"), 2000);
        return;
    }
    const AddOutcome outcome = addFiles(files, -1);
    hideImportProgress();
    Q_EMIT statusMessage(tr("从文件夹添加了 %1 个文件").arg(outcome.added.size()), 3000);
    if (!outcome.added.isEmpty())
        Q_EMIT cuesImported(m_cues);
}

void TrackListManager::importFile(const QString& path)
{
    if (refuseWhileBusy())
        return;
    if (!isAudioFile(path)) {
        Q_EMIT statusMessage(tr("跳过非音频文件: %1").arg(QFileInfo(path).fileName()), 2000);
        return;
    }
    if (m_currentPlaylistId == -1) {
        Q_EMIT statusMessage(tr("请先选中一个歌单！"), 2000);
        return;
    }
    PlaylistCueInserter inserter(m_registry, m_currentPlaylistId);
    if (!inserter.begin(-1, 1) || !inserter.add(m_registry->newCueFromTemplate(path))) {
        Q_EMIT statusMessage(tr("导入失败: ") + QFileInfo(path).fileName(), 3000);
        return;
    }
    m_bulkChange = true;
    const bool stored = inserter.commit();
    m_bulkChange = false;
    if (!stored) {
        Q_EMIT statusMessage(tr("添加到歌单失败"), 2000);
        return;
    }
    Cue* cue = inserter.added().value(0);
    refreshTable();
    fillMissingDurations();
    enqueueWaveformParse(cue, false);
    refreshPlayOrder();
    Q_EMIT statusMessage(tr("已添加: %1").arg(cue->name()), 1500);
    Q_EMIT cuesImported(m_cues);
}

void TrackListManager::fillMissingDurations()
{
    // Probing opens every file: done on the pool, the results applied here.
    QList<QPointer<Cue>> cues;
    QStringList paths;
    for (Cue* cue : std::as_const(m_cues)) {
        if (cue && cue->durationMs() <= 0 && !cue->filePath().isEmpty()) {
            cues.append(cue);
            paths.append(cue->filePath());
        }
    }
    if (cues.isEmpty())
        return;
    auto* watcher = new QFutureWatcher<QList<qint64>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, cues] {
        watcher->deleteLater();
        const QList<qint64> durations = watcher->result();
        for (int i = 0; i < cues.size() && i < durations.size(); ++i) {
            Cue* cue = cues[i];
            const qint64 duration = durations[i];
            if (!cue || duration < 1 || cue->durationMs() > 0)
                continue;
            cue->setDuration(duration);
            if (cue->loopEndMs() < 1 || cue->loopEndMs() == duration)
                cue->setLoopRange(cue->loopStartMs(), duration, false);
            cue->saveToDatabase(false);
            m_model->refreshColumns(cue, SongTableModel::DurationColumn, SongTableModel::DurationColumn);
        }
        fitRowHeights();
    });
    watcher->setFuture(PoolTask::run(FileWorkPool::instance(), [paths] {
        QList<qint64> durations;
        for (const QString& path : paths)
            durations.append(QFileInfo::exists(path) ? probeDurationMs(path) : 0);
        return durations;
    }));
}

void TrackListManager::handleFileDrop(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    const QList<QUrl> kept = data && data->hasUrls() ? AudioImportFiles::droppable(data->urls()) : QList<QUrl>();
    if (kept.isEmpty()) {
        event->ignore();
    } else if (m_dropReplaceMode && m_dropReplaceRow >= 0 && m_dropReplaceRow < m_model->rowCount()) {
        const int row = m_dropReplaceRow;
        const QString path = kept.first().toLocalFile();
        if (kept.size() == 1 && QFileInfo(path).isFile()) {
            Cue* cue = m_model->cueAt(row);
            if (cue && !refuseWhileBusy()) {
                if (replaceCueFile(cue, path)) {
                    refreshTable();
                    enqueueWaveformParse(cue, false);
                    Q_EMIT statusMessage(tr("已替换: %1").arg(cue->name()), 2000);
                } else {
                    Q_EMIT statusMessage(tr("替换失败"), 2000);
                }
            }
        } else {
            // Several files, or a folder, go in before the row.
            insertUrlsAt(kept, row);
        }
        event->acceptProposedAction();
    } else {
        insertUrlsAt(kept, m_insertRow < 0 ? m_model->rowCount() : m_insertRow);
        event->acceptProposedAction();
    }
    m_dropReplaceMode = false;
    m_dropReplaceRow = -1;
    m_insertRow = -1;
    if (m_table) {
        m_table->viewport()->setCursor(Qt::ArrowCursor);
        repaintTable();
    }
}

void TrackListManager::refreshPlayOrder()
{
    if (!m_registry->isPlaying() && m_registry->getPlaylist().isEmpty())
        return;
    Cue* current = m_registry->getCurrentCue();
    if (!m_cues.isEmpty())
        m_registry->setPlaylist(m_cues);
    if (current)
        m_registry->setCurrentIndex(std::max(int(m_cues.indexOf(current)), 0));
}

// ---------------------------------------------------------------------------
// Context menu, copy, paste, delete

void TrackListManager::setupContextMenu()
{
    m_contextMenu = new QMenu(m_table);
    auto add = [this](const QString& text, void (TrackListManager::*slot)()) {
        auto* action = new QAction(text, this);
        connect(action, &QAction::triggered, this, slot);
        m_contextMenu->addAction(action);
        return action;
    };
    m_importAction = add(tr("导入音频文件"), &TrackListManager::onImportFile);
    m_contextMenu->addSeparator();
    m_copyAction = add(tr("复制选中项"), &TrackListManager::onCopySelected);
    m_pasteAction = add(tr("粘贴到此处"), &TrackListManager::onPasteCues);
    m_replaceAction = add(tr("替换所选音频"), &TrackListManager::onReplaceAudio);
    m_contextMenu->addSeparator();
    m_exportAction = add(tr("导出音频"), &TrackListManager::onExportSelected);
    m_openFolderAction = add(tr("打开所在文件夹"), &TrackListManager::onOpenContainingFolder);
    m_findMissingAction = add(tr("查找丢失文件"), &TrackListManager::onFindMissingFiles);
    m_contextMenu->addSeparator();
    m_deleteAction = add(tr("删除选中项"), &TrackListManager::onDeleteSelected);

    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, &TrackListManager::showContextMenu);
}

void TrackListManager::showContextMenu(const QPoint& pos)
{
    if (m_showMode || !m_table)
        return;
    const int n = int(m_table->selectionModel()->selectedRows().size());
    m_importAction->setVisible(true);
    m_copyAction->setVisible(n > 0);
    m_copyAction->setEnabled(n > 0);
    const bool canPaste = !alive(m_copiedCues).isEmpty();
    m_pasteAction->setVisible(canPaste);
    m_pasteAction->setEnabled(canPaste);
    m_replaceAction->setVisible(n == 1);
    m_replaceAction->setEnabled(n == 1);
    m_exportAction->setVisible(n > 0);
    m_exportAction->setEnabled(n > 0);
    m_exportAction->setText(n < 2 ? tr("导出音频") : tr("批量导出音频 (%1)").arg(n));
    m_openFolderAction->setVisible(n == 1);
    m_openFolderAction->setEnabled(n == 1);
    // Asked of the disk: the table's own knowledge covers the rows on screen.
    const bool anyMissing = std::any_of(m_cues.cbegin(), m_cues.cend(), [](Cue* cue) {
        return cue && (cue->filePath().isEmpty() || !QFileInfo::exists(cue->filePath()));
    });
    m_findMissingAction->setVisible(anyMissing);
    m_deleteAction->setVisible(n > 0);
    m_deleteAction->setEnabled(n > 0);
    m_contextMenu->popup(m_table->viewport()->mapToGlobal(pos));
}

QList<Cue*> TrackListManager::copiedCues() const
{
    return alive(m_copiedCues);
}

void TrackListManager::onCopySelected()
{
    const QModelIndexList selected = m_table ? m_table->selectionModel()->selectedRows() : QModelIndexList();
    if (selected.isEmpty()) {
        Q_EMIT statusMessage(tr("请先选择要复制的Cue"), 2000);
        return;
    }
    QList<int> rows;
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    m_copiedCues.clear();
    for (int row : std::as_const(rows)) {
        if (row >= 0 && row < m_cues.size() && m_cues[row])
            m_copiedCues.append(m_cues[row]);
    }
    Q_EMIT statusMessage(tr("已复制 %1 个Cue").arg(m_copiedCues.size()), 2000);
}

void TrackListManager::onPasteCues()
{
    // Cues deleted since the copy are gone from the list: they are skipped.
    const QList<Cue*> sources = alive(m_copiedCues);
    if (sources.isEmpty()) {
        Q_EMIT statusMessage(tr("剪贴板为空"), 2000);
        return;
    }
    if (m_currentPlaylistId == -1) {
        Q_EMIT statusMessage(tr("没有当前歌单"), 2000);
        return;
    }
    if (refuseWhileBusy())
        return;
    int position = int(m_cues.size());
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        int highest = -1;
        for (const QModelIndex& index : selected)
            highest = std::max(highest, index.row());
        position = highest + 1;
    }
    QList<Cue*> created;
    const int count = pasteCues(sources, m_currentPlaylistId, position, &created);
    if (count >= 1)
        selectCues(created, true);
    Q_EMIT statusMessage(tr("已粘贴 %1 个Cue").arg(count), 2000);
}

int TrackListManager::pasteCues(const QList<Cue*>& cues, int playlistId, int insertRow, QList<Cue*>* created)
{
    if (cues.isEmpty() || playlistId == -1 || isBusy())
        return 0;
    // The sources are guarded: the loop lets events through, and a cue may be
    // deleted meanwhile.
    QList<QPointer<Cue>> sources;
    for (Cue* cue : cues)
        sources.append(cue);
    const int n = int(cues.size());
    const bool withProgress = n >= kCopyProgressThreshold;
    if (withProgress)
        showCopyProgress(n);
    const QPointer<ImportProgressDialog> progress = m_copyProgressDialog;
    const QPointer<TrackListManager> self(this);

    int count = 0;
    QList<Cue*> copies;
    m_busy = true;
    {
        PlaylistCueInserter inserter(m_registry, playlistId);
        if (!inserter.begin(insertRow, n)) {
            qWarning() << "TrackListManager::pasteCues - The paste could not begin";
        } else {
            Q_EMIT batchOperationStarted();
            for (int i = 0; i < sources.size(); ++i) {
                Cue* source = sources[i];
                if (!source)
                    continue;
                Cue* copy = m_registry->newCueFromTemplate(source->filePath());
                if (copy)
                    copySettings(*source, *copy);
                if (inserter.add(copy))
                    ++count;
                if (progress) {
                    progress->setProgress(count);
                    if (count % kCopyProgressThreshold == 0 || i + 1 == sources.size())
                        QCoreApplication::processEvents(QEventLoop::AllEvents, kImportEventSliceMs);
                    if (!self)
                        return 0;  // the table went away; nothing is kept
                }
            }
            m_bulkChange = true;
            if (!inserter.commit()) {
                qWarning() << "TrackListManager::pasteCues - The paste could not be stored; nothing was added";
                count = 0;
            }
            m_bulkChange = false;
            Q_EMIT batchOperationFinished();
            copies = inserter.added();
        }
    }
    m_busy = false;
    if (created)
        *created += copies;
    if (playlistId == m_currentPlaylistId) {
        refreshTable();
        refreshPlayOrder();
    }
    if (withProgress)
        closeCopyProgress();
    return count;
}

void TrackListManager::dropDraggedCues()
{
    const QList<Cue*> dragged = alive(m_draggedCues);
    if (dragged.isEmpty() || m_insertRow < 0 || m_insertRow > m_model->rowCount() || isBusy()) {
        resetDragState();
        return;
    }
    if (m_copyDrag) {
        QList<Cue*> created;
        const int insertAt = m_insertRow;
        const int count = pasteCues(dragged, m_currentPlaylistId, insertAt, &created);
        if (count >= 1) {
            selectCues(created, false);
            const int last = int(m_cues.size()) - 1;
            if (Cue* cue = m_cues.value(std::min(insertAt, last)))
                m_table->scrollTo(m_model->index(m_model->rowOfCue(cue), 0));
            Q_EMIT statusMessage(tr("已复制 %1 项").arg(count), 1000);
        }
        resetDragState();
        return;
    }
    const QList<Cue*> order = RowDropRules::movedOrder(m_model->cueList(), dragged, m_insertRow);
    m_model->setCueList(order);
    if (m_currentPlaylistId == -1) {
        refreshTable();
        resetDragState();
        return;
    }
    QList<int> ids;
    for (Cue* cue : order) {
        if (cue)
            ids.append(cue->id());
    }
    if (!m_registry->setPlaylistOrder(m_currentPlaylistId, ids))
        qWarning() << "TrackListManager::dropDraggedCues - Failed to store the new order";
    m_cues = order;
    refreshPlayOrder();
    refreshTable();
    // The moved rows stay selected where they landed.
    selectCues(dragged, false);
    resetDragState();
}

void TrackListManager::moveDraggedCuesTo(int row)
{
    const QList<Cue*> dragged = alive(m_draggedCues);
    if (dragged.isEmpty() || m_currentPlaylistId == -1)
        return;
    const QList<Cue*> order = RowDropRules::movedOrder(m_model->cueList(), dragged, row);
    QList<int> ids;
    for (Cue* cue : order) {
        if (cue)
            ids.append(cue->id());
    }
    m_registry->setPlaylistOrder(m_currentPlaylistId, ids);
    m_cues = order;
    refreshPlayOrder();
    refreshTable();
    selectCues(dragged, false);
    Q_EMIT statusMessage(tr("已移动 %1 项").arg(dragged.size()), 1000);
}

void TrackListManager::onDeleteSelected()
{
    if (!m_table || m_currentPlaylistId == -1 || refuseWhileBusy())
        return;
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    int firstRow = m_model->rowCount();
    QList<QPointer<Cue>> doomed;
    for (const QModelIndex& index : selected) {
        firstRow = std::min(firstRow, index.row());
        if (Cue* cue = m_model->cueAt(index.row()))
            doomed.append(cue);
    }
    if (doomed.isEmpty())
        return;
    if (AudioEngine* engine = m_registry->audioEngine())
        engine->clearPreloadQueue();

    m_table->selectionModel()->clearSelection();
    m_table->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    m_markedRow = -1;
    m_dragSnapshot.clear();
    // The table stops showing them before any of them is deleted.
    const QSet<Cue*> gone(doomed.cbegin(), doomed.cend());
    m_cues.erase(std::remove_if(m_cues.begin(), m_cues.end(), [&gone](Cue* cue) { return gone.contains(cue); }),
                 m_cues.end());
    m_model->setCueList(m_cues);

    const int playlistId = m_currentPlaylistId;
    m_bulkChange = true;
    for (const QPointer<Cue>& cue : std::as_const(doomed)) {
        if (!cue)
            continue;
        m_parseQueue->forgetCue(cue);
        if (m_currentCue == cue)
            m_currentCue = nullptr;
        if (!m_registry->removeCueFromPlaylist(cue, playlistId))
            qWarning() << "TrackListManager::onDeleteSelected - Failed to remove cue" << cue->id();
    }
    m_bulkChange = false;
    refreshTable();

    QTimer::singleShot(kReselectDelayMs, this, [this, firstRow] {
        if (!m_table || m_model->rowCount() == 0) {
            Q_EMIT cueSelected(nullptr);
            return;
        }
        const int row = std::max(std::min(firstRow, m_model->rowCount() - 1), 0);
        const int markedBefore = m_markedRow;
        m_table->selectRow(row);
        // Announced by the selection handler unless the row was marked already.
        if (markedBefore == row || m_markedRow != row)
            Q_EMIT cueSelected(m_model->cueAt(row));
    });
    Q_EMIT statusMessage(tr("已删除 %1 首歌曲").arg(doomed.size()), 3000);
}

void TrackListManager::onExportSelected()
{
    QList<SelectedCuesExport::Item> items;
    if (m_table) {
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
            if (Cue* cue = m_model->cueAt(index.row()))
                items.append({cue, index.row()});
        }
    }
    m_ui->exportCues(m_table, items, [self = QPointer<TrackListManager>(this)](const QString& message, int timeout) {
        if (self)
            Q_EMIT self->statusMessage(message, timeout);
    });
}

void TrackListManager::onOpenContainingFolder()
{
    if (!m_table)
        return;
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    Cue* cue = m_model->cueAt(selected.first().row());
    if (!cue)
        return;
    const QString path = cue->filePath();
    if (!path.isEmpty() && QFileInfo::exists(path))
        m_ui->showInFileManager(path);
    else
        m_ui->message(m_table, TrackListUi::Icon::Warning, tr("错误"), tr("文件不存在：") + path);
}

// ---------------------------------------------------------------------------
// Missing files and audio replacement

QVariantMap TrackListManager::audioFileInfo(const QString& path) const
{
    return AudioFileMatch::audioFileInfo(path);
}

bool TrackListManager::matchesAudioInfo(const QVariantMap& expected, const QVariantMap& found) const
{
    return AudioFileMatch::matchesAudioInfo(expected, found);
}

QStringList TrackListManager::findFilesByName(const QString& folder, const QString& fileName) const
{
    return AudioFileMatch::findFilesByName(folder, fileName);
}

QString TrackListManager::nearestExistingDir(const QString& path) const
{
    return AudioFileMatch::nearestExistingDir(path);
}

bool TrackListManager::replaceCueFile(Cue* cue, const QString& path)
{
    return m_relinker->replaceCueFile(cue, path);
}

void TrackListManager::replaceCueAudio(Cue* cue)
{
    if (!isBusy())
        m_relinker->replaceCueAudio(cue);
}

void TrackListManager::onReplaceAudio()
{
    if (!m_table || refuseWhileBusy())
        return;
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        Q_EMIT statusMessage(tr("请先选择要替换的Cue"), 2000);
        return;
    }
    QList<Cue*> targets;
    for (const QModelIndex& index : selected) {
        if (Cue* cue = m_model->cueAt(index.row()))
            targets.append(cue);
    }
    m_relinker->replaceWithChosenFile(targets);
}

void TrackListManager::onFindMissingFiles()
{
    QList<Cue*> missing;
    for (Cue* cue : std::as_const(m_cues)) {
        if (cue && (cue->filePath().isEmpty() || !QFileInfo::exists(cue->filePath())))
            missing.append(cue);
    }
    if (missing.isEmpty()) {
        m_ui->message(m_table, TrackListUi::Icon::Information, tr("提示"), tr("当前播放列表没有丢失文件"));
        return;
    }
    onFindMissingFilesWithList(missing);
}

void TrackListManager::onFindMissingFilesWithList(const QList<Cue*>& missingCues)
{
    if (!isBusy())
        m_relinker->searchFolders(missingCues);
}
