#include "lists/GroupedPlaylistManager.h"

#include "exchange/DroppedFilesImport.h"
#include "exchange/M3U8PlaylistIO.h"
#include "exchange/ProgramSheet.h"
#include "exchange/ProjectFileIO.h"
#include "lists/PlaylistCopier.h"
#include "model/DatabaseManager.h"
#include "playback/CueManager.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cmath>

namespace {

const QString kBaseName = QStringLiteral("新播放列表");
const QColor kHoverHighlight(77, 166, 255, 80);
const QColor kDropIndicator(0x00, 0xc8, 0xff);
constexpr int kPulseStepMs = 50;
constexpr int kPulseLengthMs = 2000;

QPixmap playingDot()
{
    QPixmap dot(12, 12);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x00, 0x96, 0xff));
    painter.drawEllipse(QRect(QPoint(2, 2), QPoint(9, 9)));
    return dot;
}

int roundHalfAway(qreal v)
{
    return int(std::lround(v));
}

}  // namespace

GroupedPlaylistManager::GroupedPlaylistManager(QTreeView* tree, QComboBox* playModeCombo, QObject* parent,
                                               CueManager* cues)
    : QObject(parent)
    , m_playModeCombo(playModeCombo)
    , m_treeView(tree)
    , m_model(new QStandardItemModel(this))
    , m_cues(cues)
{
    if (!m_playModeCombo) {
        m_playModeCombo = new QComboBox(tree);
        m_playModeCombo->addItems({QStringLiteral("单曲循环"), QStringLiteral("列表循环"), QStringLiteral("随机播放"),
                                   QStringLiteral("自定义播放"), QStringLiteral("自定义列表循环"),
                                   QStringLiteral("自定义随机播放")});
    }
    setupTreeView();
    buildContextMenu();
    refreshPlaylistTree();

    m_pulseTimer = new QTimer(this);
    m_pulseTimer->setInterval(kPulseStepMs);
    connect(m_pulseTimer, &QTimer::timeout, this, &GroupedPlaylistManager::onDropPulseTimeout);
}

// The tree may be half destroyed when its child, this manager, goes: nothing
// of it is touched here (event filters leave with their filter object).
GroupedPlaylistManager::~GroupedPlaylistManager() = default;

CueManager* GroupedPlaylistManager::registry() const
{
    return m_cues ? m_cues : CueManager::instance();
}

// ---------------------------------------------------------------------------
// Set-up

void GroupedPlaylistManager::setupTreeView()
{
    QTreeView* tree = m_treeView;
    tree->setModel(m_model);
    tree->setHeaderHidden(true);
    tree->setIndentation(0);
    tree->setRootIsDecorated(false);
    tree->setItemsExpandable(false);

    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setDragEnabled(false);
    tree->setAcceptDrops(true);
    tree->setDragDropMode(QAbstractItemView::DropOnly);
    tree->setMouseTracking(true);
    tree->viewport()->setMouseTracking(true);

    tree->setStyleSheet(QStringLiteral(
        "QTreeView { background-color: #1e1e1e; border: none; outline: 0; padding-top: 36px; }"
        "QTreeView::item { color: #aaaaaa; height: 30px; }"
        "QTreeView::item:selected { background-color: #0078d7; color: #ffffff; }"));

    setupHeaderBar();
    m_model->setHorizontalHeaderLabels({QStringLiteral("播放列表")});

    connect(tree, &QTreeView::clicked, this, &GroupedPlaylistManager::onItemClicked);
    connect(tree, &QTreeView::pressed, this, &GroupedPlaylistManager::onPressed);
    connect(tree, &QTreeView::customContextMenuRequested, this, &GroupedPlaylistManager::showContextMenu);
    connect(m_model, &QStandardItemModel::dataChanged, this, &GroupedPlaylistManager::onDataChanged);

    tree->viewport()->installEventFilter(this);
    tree->installEventFilter(this);
}

void GroupedPlaylistManager::setupHeaderBar()
{
    auto* bar = new QWidget(m_treeView);
    bar->setFixedHeight(kHeaderBarHeight);
    bar->setGeometry(0, 0, m_treeView->width(), kHeaderBarHeight);
    bar->setObjectName(QStringLiteral("playlistHeaderBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet(QStringLiteral(
        "#playlistHeaderBar { background-color: #2b2b2b; border: none; border-bottom: 1px solid #3a3a3a; }"));

    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(6);
    layout->addStretch();
    auto* title = new QLabel(QStringLiteral("播放列表"), bar);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(QStringLiteral("QLabel { color: #aaaaaa; font-size: 16px; font-weight: bold; }"));
    layout->addWidget(title, 0, Qt::AlignVCenter);
    layout->addStretch();

    m_addButton = new QPushButton(QStringLiteral("+"), bar);
    m_addButton->setFixedSize(36, 36);
    m_addButton->setToolTip(QStringLiteral("添加播放列表"));
    m_addButton->setCursor(Qt::PointingHandCursor);
    m_addButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #0078d7; border: none; font-size: 22px; font-weight: bold; }"
        "QPushButton:hover { color: #4aa3ff; background: rgba(0, 120, 215, 0.15); border-radius: 4px; }"
        "QPushButton:pressed { color: #005fa3; background: rgba(0, 120, 215, 0.25); border-radius: 4px; }"));
    layout->addWidget(m_addButton, 0, Qt::AlignRight | Qt::AlignVCenter);
    connect(m_addButton, &QPushButton::clicked, this, &GroupedPlaylistManager::onAddPlaylist);
    bar->show();
}

void GroupedPlaylistManager::buildContextMenu()
{
    m_contextMenu = new QMenu(m_treeView);
    auto make = [this](const QString& text, void (GroupedPlaylistManager::*slot)()) {
        auto* action = new QAction(text, this);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_addAction = make(QStringLiteral("添加播放列表"), &GroupedPlaylistManager::onAddPlaylist);
    m_copyAction = make(QStringLiteral("复制列表"), &GroupedPlaylistManager::onCopyPlaylist);
    m_pasteAction = make(QStringLiteral("粘贴列表到此处"), &GroupedPlaylistManager::onPastePlaylist);
    m_renameAction = make(QStringLiteral("重命名"), &GroupedPlaylistManager::onRenamePlaylist);
    m_deleteAction = make(QStringLiteral("删除"), &GroupedPlaylistManager::onDeletePlaylist);
    m_exportM3U8Action = make(QStringLiteral("导出通用M3U8列表"), &GroupedPlaylistManager::onExportM3U8);
    m_exportProjectAction = make(QStringLiteral("导出工程文件"), &GroupedPlaylistManager::onExportProject);
    m_exportExcelAction = make(QStringLiteral("导出Exdel节目单"), &GroupedPlaylistManager::onExportExcelProgram);

    m_contextMenu->addAction(m_addAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_copyAction);
    m_contextMenu->addAction(m_pasteAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_renameAction);
    m_contextMenu->addAction(m_deleteAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_exportM3U8Action);
    m_contextMenu->addAction(m_exportProjectAction);
    m_contextMenu->addAction(m_exportExcelAction);
}

// ---------------------------------------------------------------------------
// Records and rows

bool GroupedPlaylistManager::isShown(const PlaylistGroup& group)
{
    return !group.isGroupHeader && group.groupTag.isEmpty();
}

void GroupedPlaylistManager::reloadGroups()
{
    m_groups.clear();
    if (!DatabaseManager::instance()->loadAllPlaylistGroups(m_groups))
        qWarning() << "GroupedPlaylistManager::reloadGroups - Failed to load playlists";
}

QList<int> GroupedPlaylistManager::shownOrder() const
{
    QList<int> order;
    for (const PlaylistGroup& group : m_groups) {
        if (isShown(group))
            order.append(group.id);
    }
    return order;
}

const PlaylistGroup* GroupedPlaylistManager::findGroup(int playlistId) const
{
    for (const PlaylistGroup& group : m_groups) {
        if (!group.isGroupHeader && group.id == playlistId)
            return &group;
    }
    return nullptr;
}

int GroupedPlaylistManager::rowOfPlaylist(int playlistId) const
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QStandardItem* item = m_model->item(row);
        if (item && item->data(PlaylistIdRole).toInt() == playlistId)
            return row;
    }
    return -1;
}

void GroupedPlaylistManager::refreshPlaylistTree()
{
    m_refreshing = true;
    m_model->clear();
    m_model->setHorizontalHeaderLabels({QStringLiteral("播放列表")});
    reloadGroups();
    for (const PlaylistGroup& group : std::as_const(m_groups)) {
        if (!isShown(group))
            continue;
        auto* item = new QStandardItem(group.name);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        item->setData(group.id, PlaylistIdRole);
        if (group.id == m_playingPlaylistId)
            item->setData(playingDot(), Qt::DecorationRole);
        m_model->appendRow(item);
    }
    m_refreshing = false;
    if (m_currentPlaylistId != -1)
        selectPlaylist(m_currentPlaylistId);
}

void GroupedPlaylistManager::selectPlaylist(int playlistId)
{
    const int row = rowOfPlaylist(playlistId);
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row, 0);
    makeCurrentRow(row);
    m_treeView->scrollTo(index, QAbstractItemView::EnsureVisible);
    m_currentPlaylistId = playlistId;
    Q_EMIT playlistSwitched(playlistId);
}

void GroupedPlaylistManager::makeCurrentRow(int row)
{
    // The tree highlights the playlist the cue table shows: a row outside the
    // selection becomes the only selected one; a row inside it (the copies
    // just made) keeps the selection as it is.
    QItemSelectionModel* selection = m_treeView->selectionModel();
    const QModelIndex index = m_model->index(row, 0);
    if (selection->isRowSelected(row, QModelIndex()))
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    else
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void GroupedPlaylistManager::selectRowsOf(const QList<int>& playlistIds)
{
    QItemSelectionModel* selection = m_treeView->selectionModel();
    for (int id : playlistIds) {
        const int row = rowOfPlaylist(id);
        if (row >= 0)
            selection->select(m_model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void GroupedPlaylistManager::onItemClicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QStandardItem* item = m_model->itemFromIndex(index.siblingAtColumn(0));
    if (!item)
        return;
    const int id = item->data(PlaylistIdRole).toInt();
    if (id == m_currentPlaylistId)
        return;
    m_currentPlaylistId = id;
    Q_EMIT playlistSwitched(id);
}

void GroupedPlaylistManager::setPlayingPlaylistId(int playlistId)
{
    if (playlistId == m_playingPlaylistId)
        return;
    m_playingPlaylistId = playlistId;
    refreshPlaylistTree();
}

bool GroupedPlaylistManager::setPlaylistPlayMode(int playlistId, int mode)
{
    for (PlaylistGroup& group : m_groups) {
        if (group.isGroupHeader || group.id != playlistId)
            continue;
        group.playMode = mode;
        DatabaseManager::instance()->updatePlaylistGroup(group);
        return true;
    }
    return false;
}

bool GroupedPlaylistManager::hasPlaylist(int playlistId) const
{
    return findGroup(playlistId) != nullptr;
}

int GroupedPlaylistManager::playModeOf(int playlistId) const
{
    const PlaylistGroup* group = findGroup(playlistId);
    return group ? group->playMode : -1;
}

QList<int> GroupedPlaylistManager::selectedPlaylistIds() const
{
    QList<int> ids;
    for (const QModelIndex& index : m_treeView->selectionModel()->selectedRows()) {
        const int id = index.data(PlaylistIdRole).toInt();
        if (!ids.contains(id))
            ids.append(id);
    }
    return ids;
}

QModelIndex GroupedPlaylistManager::firstSelectedIndex() const
{
    const QModelIndexList rows = m_treeView->selectionModel()->selectedRows();
    return rows.isEmpty() ? QModelIndex() : rows.first();
}

// ---------------------------------------------------------------------------
// Add, rename, delete

int GroupedPlaylistManager::createPlaylist(const QString& baseName)
{
    QSet<QString> names;
    for (const PlaylistGroup& group : std::as_const(m_groups))
        names.insert(group.name);
    QString candidate = baseName;
    for (int n = 2; names.contains(candidate); ++n)
        candidate = baseName + QLatin1Char(' ') + QString::number(n);

    PlaylistGroup group;
    group.name = candidate;
    group.playMode = CueManager::SingleLoop;
    group.currentIndex = 0;
    DatabaseManager* db = DatabaseManager::instance();
    int sortOrder = 0;
    if (!db->getNextGroupSortOrder(sortOrder))
        sortOrder = 0;
    if (!db->insertPlaylistGroup(group, sortOrder)) {
        Q_EMIT statusMessage(QStringLiteral("添加播放列表失败"), 2000);
        return -1;
    }

    refreshPlaylistTree();
    const int row = rowOfPlaylist(group.id);
    if (row >= 0) {
        makeCurrentRow(row);
        m_currentPlaylistId = group.id;
        Q_EMIT playlistSwitched(group.id);
    }
    Q_EMIT statusMessage(QStringLiteral("已添加: %1").arg(candidate), 2000);
    return group.id;
}

void GroupedPlaylistManager::onAddPlaylist()
{
    const int id = createPlaylist(kBaseName);
    const int row = id > 0 ? rowOfPlaylist(id) : -1;
    if (row >= 0)
        m_treeView->edit(m_model->index(row, 0));
}

int GroupedPlaylistManager::addPlaylist(const QString& name)
{
    return createPlaylist(name.isEmpty() ? kBaseName : name);
}

void GroupedPlaylistManager::onRenamePlaylist()
{
    const QModelIndex index = m_treeView->currentIndex();
    if (index.isValid())
        m_treeView->edit(index);
}

void GroupedPlaylistManager::onDataChanged(const QModelIndex& topLeft, const QModelIndex&, const QList<int>& roles)
{
    if (m_refreshing)
        return;
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole) && !roles.contains(Qt::EditRole))
        return;  // a background brush of a highlight or pulse
    const QStandardItem* item = m_model->itemFromIndex(topLeft);
    if (!item)
        return;
    const QString name = item->text();
    if (updatePlaylistName(item->data(PlaylistIdRole).toInt(), name))
        Q_EMIT statusMessage(QStringLiteral("已重命名为: %1").arg(name), 2000);
}

bool GroupedPlaylistManager::updatePlaylistName(int playlistId, const QString& name)
{
    for (PlaylistGroup& group : m_groups) {
        if (group.id != playlistId)
            continue;
        group.name = name;
        DatabaseManager::instance()->updatePlaylistGroup(group);
        return true;
    }
    return false;
}

void GroupedPlaylistManager::onDeletePlaylist()
{
    const QModelIndexList rows = m_treeView->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    QList<int> ids;
    for (const QModelIndex& index : rows)
        ids.append(index.data(PlaylistIdRole).toInt());

    DatabaseManager* db = DatabaseManager::instance();
    CueManager* cues = registry();
    if (!db->beginTransaction()) {
        Q_EMIT statusMessage(QStringLiteral("删除失败：数据库错误"), 3000);
        return;
    }
    // The playlists, their memberships and the cues left without a playlist
    // go in one transaction: a failure leaves every selected playlist whole.
    QString error;
    QList<int> removedCueIds;
    int currentAfter = m_currentPlaylistId;
    for (int id : std::as_const(ids)) {
        const QList<int> cueIds = cues->getPlaylistCueIds(id);
        if (!db->deleteAllPlaylistSongs(id)) {
            error = QStringLiteral("删除歌单-歌曲关联失败");
            break;
        }
        for (int cueId : cueIds) {
            // Also the cues that are stored but not loaded yet (imported in
            // this session): they would stay behind as rows of no playlist.
            Cue* cue = cues->getOrLoadCue(cueId);
            if (cue && cues->deleteCueIfOrphaned(cue) && !cues->getCue(cueId))
                removedCueIds.append(cueId);
        }
        if (!db->deletePlaylistGroup(id)) {
            error = QStringLiteral("删除播放列表失败");
            break;
        }
        if (id == currentAfter)
            currentAfter = -1;
    }
    auto restoreCues = [&] {
        // The rollback brought their rows back; bring them back into memory.
        for (int cueId : std::as_const(removedCueIds))
            cues->getOrLoadCue(cueId);
    };
    if (!error.isEmpty()) {
        db->rollbackTransaction();
        restoreCues();
        Q_EMIT statusMessage(QStringLiteral("删除失败：") + error, 3000);
        return;
    }
    if (!db->commitTransaction()) {
        db->rollbackTransaction();
        restoreCues();
        Q_EMIT statusMessage(QStringLiteral("提交事务失败：数据库错误"), 3000);
        return;
    }

    // A surviving current playlist stays current (the rebuild re-selects and
    // reports it); when it was deleted, the first playlist takes its place in
    // the tree and in the cue table alike.
    m_currentPlaylistId = currentAfter;
    refreshPlaylistTree();
    if (m_currentPlaylistId == -1) {
        const QList<int> order = shownOrder();
        const int next = order.isEmpty() ? -1 : order.first();
        m_currentPlaylistId = next;
        m_treeView->selectionModel()->clearSelection();
        const int row = rowOfPlaylist(next);
        if (row >= 0)
            makeCurrentRow(row);
        QPointer<GroupedPlaylistManager> self(this);
        QTimer::singleShot(0, this, [self, next] {
            if (self && self->m_currentPlaylistId == next)
                Q_EMIT self->playlistSwitched(next);
        });
    }
    Q_EMIT statusMessage(QStringLiteral("已删除 %1 个播放列表").arg(rows.size()), 3000);
}

// ---------------------------------------------------------------------------
// Copy and paste

void GroupedPlaylistManager::onCopyPlaylist()
{
    const QModelIndex index = m_treeView->currentIndex();
    const QStandardItem* item = index.isValid() ? m_model->itemFromIndex(index.siblingAtColumn(0)) : nullptr;
    if (!item)
        return;
    m_copiedPlaylistId = item->data(PlaylistIdRole).toInt();
    Q_EMIT statusMessage(QStringLiteral("已复制播放列表标记"), 1000);
}

void GroupedPlaylistManager::onPastePlaylist()
{
    if (m_copiedPlaylistId == -1)
        return;
    const QModelIndex current = m_treeView->currentIndex();
    const int insertRow = current.isValid() ? current.row() + 1 : m_model->rowCount();
    m_dragPlaylistIds = {m_copiedPlaylistId};
    copyPlaylistsTo(insertRow);
    m_dragPlaylistIds.clear();
}

void GroupedPlaylistManager::copyPlaylistsTo(int insertRow)
{
    if (m_dragPlaylistIds.isEmpty())
        return;
    const QList<int> order = shownOrder();
    const int insertAt = std::clamp(insertRow, 0, int(order.size()));

    DatabaseManager* db = DatabaseManager::instance();
    Q_EMIT batchOperationStarted();
    const bool ownTransaction = db->beginTransaction();
    PlaylistCopier copier(registry());
    QList<int> newIds;
    for (int sourceId : std::as_const(m_dragPlaylistIds)) {
        const PlaylistGroup* source = nullptr;
        for (const PlaylistGroup& group : std::as_const(m_groups)) {
            if (isShown(group) && group.id == sourceId)
                source = &group;
        }
        if (!source || source->name.isEmpty())
            continue;
        const int newId = copier.copyPlaylist(*source);
        if (newId > 0)
            newIds.append(newId);
    }
    const bool committed = !ownTransaction || db->commitTransaction();
    if (!committed) {
        // Nothing of the copy is stored: its cues must not linger in memory.
        db->rollbackTransaction();
        qWarning() << "GroupedPlaylistManager::copyPlaylistsTo - Commit failed:" << db->lastErrorText();
        for (Cue* cue : copier.createdCues())
            registry()->deleteCue(cue);
        newIds.clear();
    }
    Q_EMIT batchOperationFinished();

    if (newIds.isEmpty()) {
        reloadGroups();
        refreshPlaylistTree();
        if (!committed)
            Q_EMIT statusMessage(QStringLiteral("复制失败：数据库错误"), 3000);
        return;
    }
    QList<int> newOrder = order.mid(0, insertAt);
    newOrder += newIds;
    newOrder += order.mid(insertAt);
    db->updatePlaylistGroupOrder(newOrder);
    reloadGroups();
    refreshPlaylistTree();

    m_treeView->selectionModel()->clearSelection();
    selectRowsOf(newIds);
    selectPlaylist(newIds.first());
    Q_EMIT statusMessage(QStringLiteral("已复制 %1 项").arg(newIds.size()), 1000);
}

// ---------------------------------------------------------------------------
// Context menu, show mode, exports

void GroupedPlaylistManager::showContextMenu(const QPoint& pos)
{
    if (m_showMode)
        return;
    const bool onItem = m_treeView->indexAt(pos).isValid();
    const bool canPaste = m_copiedPlaylistId != -1;
    m_addAction->setVisible(true);
    for (QAction* action : {m_copyAction, m_renameAction, m_deleteAction}) {
        action->setVisible(onItem);
        action->setEnabled(onItem);
    }
    m_pasteAction->setVisible(canPaste);
    m_pasteAction->setEnabled(canPaste);
    for (QAction* action : {m_exportM3U8Action, m_exportProjectAction, m_exportExcelAction})
        action->setVisible(onItem);
    m_contextMenu->popup(m_treeView->viewport()->mapToGlobal(pos));
}

void GroupedPlaylistManager::setShowMode(bool showMode)
{
    m_showMode = showMode;
    QTreeView* tree = m_treeView;
    if (showMode) {
        tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
        tree->setContextMenuPolicy(Qt::NoContextMenu);
        tree->setDragEnabled(false);
        tree->setDragDropMode(QAbstractItemView::NoDragDrop);
        if (m_addButton)
            m_addButton->hide();
        resetPlaylistDrag();
    } else {
        tree->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        tree->setContextMenuPolicy(Qt::CustomContextMenu);
        tree->setAcceptDrops(true);
        tree->setDragDropMode(QAbstractItemView::DropOnly);
        tree->setDragEnabled(false);
        if (m_addButton)
            m_addButton->show();
    }
}

void GroupedPlaylistManager::onExportM3U8()
{
    QPointer<GroupedPlaylistManager> self(this);
    M3U8PlaylistIO::startExport(m_treeView, firstSelectedIndex(), [self](const QString& text, int timeout) {
        if (self)
            Q_EMIT self->statusMessage(text, timeout);
    });
}

void GroupedPlaylistManager::onExportProject()
{
    ProjectFileIO::startExport(m_treeView, m_currentPlaylistId, m_groups);
}

void GroupedPlaylistManager::onExportExcelProgram()
{
    ProgramSheet::startExport(m_treeView, firstSelectedIndex());
}

bool GroupedPlaylistManager::importDroppedFiles(QDropEvent* event)
{
    QPointer<GroupedPlaylistManager> self(this);
    return DroppedFilesImport::importDroppedFiles(event, m_treeView, [self](const PlaylistImportResult& result) {
        if (!self)
            return;
        self->refreshPlaylistTree();
        self->selectPlaylist(result.playlistId);
        Q_EMIT self->statusMessage(result.statusText, 3000);
    });
}

// ---------------------------------------------------------------------------
// Events of the list

bool GroupedPlaylistManager::eventFilter(QObject* watched, QEvent* event)
{
    // The view and its viewport are watched. A view in its destructor still
    // sends events, a QTreeView no more though its QPointer is not yet null:
    // it is not touched then.
    const bool viewAlive = qobject_cast<QTreeView*>(watched) || qobject_cast<QTreeView*>(watched->parent());
    if (!viewAlive || !m_treeView)
        return QObject::eventFilter(watched, event);
    QWidget* viewport = m_treeView->viewport();
    if (watched == viewport) {
        switch (event->type()) {
        case QEvent::Paint:
            paintDropIndicator(static_cast<QPaintEvent*>(event));
            return false;
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            viewport->setFocus(Qt::OtherFocusReason);
            m_lastPressGlobalPos = mouse->globalPosition().toPoint();
            m_lastPressModifiers = mouse->modifiers();
            return false;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                if (m_dragging)
                    finishPlaylistDrag();
                resetPlaylistDrag();
            }
            return false;
        case QEvent::MouseMove:
            handleViewportMouseMove(static_cast<QMouseEvent*>(event));
            return true;
        case QEvent::DragEnter:
            if (m_showMode) {
                event->ignore();
                return true;
            }
            return acceptPlaylistFileDrag(static_cast<QDragEnterEvent*>(event));
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (m_showMode) {
                drag->ignore();
                return true;
            }
            if (!drag->mimeData() || !drag->mimeData()->hasUrls())
                return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop:
            if (m_showMode) {
                event->ignore();
                return true;
            }
            return importDroppedFiles(static_cast<QDropEvent*>(event));
        default:
            break;
        }
    } else if (watched == m_treeView.data() && event->type() == QEvent::Resize) {
        if (m_addButton && m_addButton->parentWidget())
            m_addButton->parentWidget()->setGeometry(0, 0, m_treeView->width(), kHeaderBarHeight);
        return false;
    }
    return QObject::eventFilter(watched, event);
}

bool GroupedPlaylistManager::acceptPlaylistFileDrag(QDragEnterEvent* event)
{
    if (!event->mimeData() || !event->mimeData()->hasUrls())
        return false;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString path = url.toLocalFile();
        if (path.endsWith(QLatin1String(".crv"), Qt::CaseInsensitive)
            || path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive)) {
            event->acceptProposedAction();
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Playlist drags within the list

void GroupedPlaylistManager::onPressed(const QModelIndex& index)
{
    if (!index.isValid() || m_showMode)
        return;
    m_pressGlobalPos = m_lastPressGlobalPos;
    m_dragging = false;
    m_pressRow = index.row();
    m_copyOnDrop = m_lastPressModifiers.testFlag(Qt::ControlModifier);
    m_dragPlaylistIds.clear();
    m_selectedIdsAtPress.clear();

    // The view has applied the press to its selection already (Ctrl toggled
    // the pressed row).
    const QModelIndexList selected = m_treeView->selectionModel()->selectedRows();
    for (const QModelIndex& row : selected) {
        const int id = row.data(PlaylistIdRole).toInt();
        if (!m_selectedIdsAtPress.contains(id))
            m_selectedIdsAtPress.append(id);
    }
    QModelIndexList byRow = selected;
    std::sort(byRow.begin(), byRow.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : std::as_const(byRow)) {
        const int id = row.data(PlaylistIdRole).toInt();
        if (!m_dragPlaylistIds.contains(id))
            m_dragPlaylistIds.append(id);
    }
    if (m_dragPlaylistIds.isEmpty()) {
        const int id = index.siblingAtColumn(0).data(PlaylistIdRole).toInt();
        m_dragPlaylistIds.append(id);
        m_selectedIdsAtPress.append(id);
    }
}

void GroupedPlaylistManager::handleViewportMouseMove(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_showMode || m_pressRow == -1 || m_dragPlaylistIds.isEmpty())
        return;
    if (!m_dragging) {
        const QPoint delta = event->globalPosition().toPoint() - m_pressGlobalPos;
        if (delta.manhattanLength() <= QApplication::startDragDistance())
            return;
        m_dragging = true;
        m_treeView->viewport()->setCursor(m_copyOnDrop ? Qt::DragCopyCursor : Qt::DragMoveCursor);
        selectDraggedRows();
    }
    const QPointF pos = event->position();
    updateDropIndicator(QPoint(roundHalfAway(pos.x()), roundHalfAway(pos.y())));
}

void GroupedPlaylistManager::selectDraggedRows()
{
    QItemSelectionModel* selection = m_treeView->selectionModel();
    selection->clear();
    QList<int> rows;
    for (int id : std::as_const(m_dragPlaylistIds)) {
        const int row = rowOfPlaylist(id);
        if (row >= 0)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    for (int row : std::as_const(rows))
        selection->select(m_model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void GroupedPlaylistManager::updateDropIndicator(const QPoint& pos)
{
    m_dropRow = -1;
    const int rowCount = m_model->rowCount();
    const QModelIndex index = m_treeView->indexAt(pos);
    if (index.isValid()) {
        const QRect rect = m_treeView->visualRect(index);
        const int middle = (rect.top() + rect.bottom()) / 2;
        if (pos.y() > middle) {
            m_dropRow = index.row() + 1;
            m_dropAbove = false;
        } else {
            m_dropRow = index.row();
            m_dropAbove = true;
        }
        m_dropRow = std::clamp(m_dropRow, 0, rowCount);
    } else {
        m_dropRow = rowCount;
        m_dropAbove = false;
    }
    m_treeView->viewport()->update();
}

void GroupedPlaylistManager::paintDropIndicator(QPaintEvent*)
{
    QWidget* viewport = m_treeView->viewport();
    QPainter painter(viewport);
    painter.setRenderHint(QPainter::Antialiasing);
    const int rowCount = m_model->rowCount();
    if (m_dropRow < 0 || m_dropRow > rowCount)
        return;
    auto rowRect = [this](int row) { return m_treeView->visualRect(m_model->index(row, 0)); };
    int y = 0;
    if (rowCount == 0)
        y = 0;
    else if (m_dropRow == 0)
        y = rowRect(0).top() - 1;
    else if (m_dropRow == rowCount)
        y = rowRect(rowCount - 1).bottom() + 1;
    else if (m_dropAbove)
        y = rowRect(m_dropRow).top() - 1;
    else
        y = rowRect(m_dropRow - 1).bottom() + 1;

    const int width = viewport->width();
    QPen pen(kDropIndicator, 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);
    painter.drawLine(5, y, width - 5, y);
    painter.setBrush(kDropIndicator);
    painter.drawEllipse(QRect(QPoint(2, y - 3), QPoint(7, y + 2)));
    painter.drawEllipse(QRect(QPoint(width - 8, y - 3), QPoint(width - 3, y + 2)));
}

void GroupedPlaylistManager::finishPlaylistDrag()
{
    if (m_dragPlaylistIds.isEmpty())
        return;
    if (m_dropRow < 0) {
        reloadGroups();
        refreshPlaylistTree();
    } else if (m_copyOnDrop) {
        copyPlaylistsTo(m_dropRow);
    } else {
        movePlaylistsTo(m_dropRow);
    }
    resetPlaylistDrag();
}

void GroupedPlaylistManager::movePlaylistsTo(int dropRow)
{
    if (m_dragPlaylistIds.isEmpty())
        return;
    const QList<int> order = shownOrder();
    QList<int> remaining = order;
    int before = 0;
    for (int id : std::as_const(m_dragPlaylistIds)) {
        remaining.removeAll(id);
        const int at = int(order.indexOf(id));
        if (at >= 0 && at < dropRow)
            ++before;
    }
    const int insertAt = std::clamp(dropRow - before, 0, int(remaining.size()));
    QList<int> newOrder = remaining.mid(0, insertAt);
    newOrder += m_dragPlaylistIds;
    newOrder += remaining.mid(insertAt);

    const QList<int> reselect = m_selectedIdsAtPress;
    const int moved = int(m_dragPlaylistIds.size());
    DatabaseManager::instance()->updatePlaylistGroupOrder(newOrder);
    reloadGroups();
    refreshPlaylistTree();
    QItemSelectionModel* selection = m_treeView->selectionModel();
    selection->clearSelection();
    selection->clearCurrentIndex();
    selectRowsOf(reselect);
    Q_EMIT statusMessage(QStringLiteral("已移动 %1 项").arg(moved), 1000);
}

void GroupedPlaylistManager::resetPlaylistDrag()
{
    m_dragging = false;
    m_pressRow = -1;
    m_dragPlaylistIds.clear();
    m_selectedIdsAtPress.clear();
    m_dropRow = -1;
    if (m_treeView) {
        m_treeView->viewport()->setCursor(Qt::ArrowCursor);
        m_treeView->viewport()->update();
    }
}

// ---------------------------------------------------------------------------
// Cue drags from the cue table

int GroupedPlaylistManager::playlistIdAt(const QPoint& globalPos) const
{
    const QPoint local = m_treeView->viewport()->mapFromGlobal(globalPos);
    const QModelIndex index = m_treeView->indexAt(local);
    if (!index.isValid())
        return -1;
    const QStandardItem* item = m_model->item(index.row(), 0);
    return item ? item->data(PlaylistIdRole).toInt() : -1;
}

QStandardItem* GroupedPlaylistManager::itemForPlaylist(int playlistId) const
{
    const int row = rowOfPlaylist(playlistId);
    return row >= 0 ? m_model->item(row, 0) : nullptr;
}

void GroupedPlaylistManager::setItemBackground(int playlistId, const QColor* color)
{
    if (playlistId < 0)
        return;
    if (QStandardItem* item = itemForPlaylist(playlistId))
        item->setBackground(color ? QBrush(*color) : QBrush());
}

void GroupedPlaylistManager::onExternalDragStarted()
{
    m_externalDragActive = true;
    m_highlightedPlaylistId = -1;
}

void GroupedPlaylistManager::onExternalDragMoved(const QPoint& globalPos)
{
    if (!m_externalDragActive)
        return;
    const int id = playlistIdAt(globalPos);
    if (id == m_highlightedPlaylistId)
        return;
    setItemBackground(m_highlightedPlaylistId, nullptr);
    setItemBackground(id, &kHoverHighlight);
    m_highlightedPlaylistId = id;
}

void GroupedPlaylistManager::onExternalDragEnded(const QPoint& globalPos, const QList<Cue*>& cues)
{
    if (!m_externalDragActive)
        return;
    const int id = playlistIdAt(globalPos);
    setItemBackground(m_highlightedPlaylistId, nullptr);
    m_externalDragActive = false;
    m_highlightedPlaylistId = -1;
    if (id < 0 || cues.isEmpty())
        return;
    Q_EMIT cueDroppedOnPlaylist(id, cues);
    if (m_pulsePlaylistId >= 0 && m_pulsePlaylistId != id)
        setItemBackground(m_pulsePlaylistId, nullptr);
    m_pulsePlaylistId = id;
    m_pulseElapsedMs = 0;
    m_pulseTimer->start();
}

void GroupedPlaylistManager::onDropPulseTimeout()
{
    m_pulseElapsedMs += kPulseStepMs;
    if (m_pulseElapsedMs >= kPulseLengthMs) {
        stopDropPulse();
        return;
    }
    const double wave = std::sin(2.0 * M_PI * m_pulseElapsedMs / 500.0) * 0.5 + 0.5;
    const QColor color(77, 166, 255, int(wave * 56.0 + 24.0));
    setItemBackground(m_pulsePlaylistId, &color);
}

void GroupedPlaylistManager::stopDropPulse()
{
    setItemBackground(m_pulsePlaylistId, nullptr);
    m_pulseTimer->stop();
    m_pulseElapsedMs = 0;
    m_pulsePlaylistId = -1;
}
