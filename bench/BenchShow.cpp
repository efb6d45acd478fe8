#include "BenchShow.h"

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace BenchShow {

void usePrivateFolders(const QTemporaryDir& dir)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
}

void useWindowEnvironment(const QTemporaryDir& dir, const char* audioDriver)
{
    if (!qEnvironmentVariableIsSet("SDL_DISKAUDIOFILE"))
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");  // only the disk driver reads it
    if (audioDriver && !qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", audioDriver);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    usePrivateFolders(dir);
}

int storePlaylist(const QString& name, const QStringList& files, qint64 durationMs)
{
    DatabaseManager* db = DatabaseManager::instance();
    PlaylistGroup group;
    group.name = name;
    int sortOrder = 0;
    db->getNextGroupSortOrder(sortOrder);
    if (!db->insertPlaylistGroup(group, sortOrder))
        return -1;
    const QList<float> peaks(Cue::kWaveformTargetPoints, 0.5f);
    for (int i = 0; i < files.size(); ++i) {
        Cue cue(-1, files.size() == 1 ? name : QStringLiteral("%1 %2").arg(name).arg(i + 1), files.at(i));
        cue.setDuration(durationMs);
        cue.setLoopRange(0, durationMs, true);
        cue.setWaveform(peaks);
        if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(group.id, cue.id(), i))
            return -1;
    }
    return group.id;
}

void clickTreeRow(QTreeView* tree, int playlistId)
{
    QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (index.data(Qt::UserRole).toInt() == playlistId)
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
    }
}

qint64 processStatus(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key(field);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}  // namespace BenchShow
