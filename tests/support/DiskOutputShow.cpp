#include "support/DiskOutputShow.h"

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include <cstring>

bool DiskOutputShow::initialize(const QString& folder)
{
    m_outputFile = QDir(folder).filePath(QStringLiteral("device-output.raw"));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_outputFile));
    Startup::setApplicationNames();
    return DatabaseManager::instance()->initialize(QDir(folder).filePath(QStringLiteral("main.db")));
}

bool DiskOutputShow::storeCue(const QString& name, const QString& file, qint64 durationMs, const QString& color)
{
    DatabaseManager* db = DatabaseManager::instance();
    PlaylistGroup group;
    group.name = QStringLiteral("show");
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    if (!db->insertPlaylistGroup(group, sortOrder))
        return false;
    Cue cue(-1, name, file);
    cue.setDuration(durationMs);
    cue.setLoopRange(0, durationMs, true);
    if (!color.isEmpty())
        cue.setColor(color);
    cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
    if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(group.id, cue.id(), 0))
        return false;
    m_playlist = group.id;
    m_cueId = cue.id();
    return true;
}

void DiskOutputShow::openWithCueSelected(std::unique_ptr<MainWindow>& window) const
{
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* tree = window->findChild<QTreeView*>(QStringLiteral("playlistGroup"));
    QVERIFY(tree);
    const QModelIndex playlist = tree->model()->index(0, 0);
    QCOMPARE(playlist.data(Qt::UserRole).toInt(), m_playlist);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(playlist).center());
    auto* table = window->findChild<QTableView*>(QStringLiteral("trackList"));
    QVERIFY(table);
    QCOMPARE(table->model()->rowCount(), 1);
    const QModelIndex row = table->model()->index(0, SongTableModel::DurationColumn);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(row).center());
}

qint64 DiskOutputShow::framesPlayed() const
{
    return QFileInfo(m_outputFile).size() / qint64(2 * sizeof(float));
}

std::vector<float> DiskOutputShow::deviceOutput() const
{
    QFile output(m_outputFile);
    if (!output.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = output.readAll();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}
