#include "model/WaveformRows.h"

#include "model/DatabaseManager.h"
#include "model/WaveformStorage.h"

#include <QDebug>
#include <QSqlError>
#include <QStringList>

#include <atomic>

namespace {

std::atomic<int> g_decoded{0};

QList<float> decodeStored(const QByteArray& blob, int* targetPoints)
{
    g_decoded.fetch_add(1, std::memory_order_relaxed);
    return WaveformStorage::decodeCompressed(blob, targetPoints);
}

// SQLite's limit on bound parameters is 32766 since 3.32 (999 before):
// stay well below the old one.
constexpr int kIdsPerStatement = 500;

}  // namespace

int WaveformRows::decodedCount()
{
    return g_decoded.load(std::memory_order_relaxed);
}

bool WaveformRows::saveCompressed(int songId, int targetPoints, const QList<float>& waveform)
{
    const int leading = WaveformStorage::countLeadingZeros(waveform);
    if (leading > 0)
        qWarning() << "⚠️ DatabaseManager::saveWaveformDataCompressed - Found" << leading
                   << "leading zeros in input waveform!";
    return insert(songId, targetPoints, WaveformStorage::encodeCompressed(waveform, targetPoints));
}

bool WaveformRows::insert(int songId, int targetPoints, const QByteArray& blob)
{
    return !m_db.execute("INSERT OR REPLACE INTO waveform_data (song_id, target_points, data) VALUES (?, ?, ?)",
                         {songId, targetPoints, blob})
                .lastError()
                .isValid();
}

bool WaveformRows::load(int songId, QByteArray& blob, int* targetPoints)
{
    QSqlQuery query = m_db.execute("SELECT target_points, data FROM waveform_data WHERE song_id = ?", {songId});
    if (query.lastError().isValid() || !query.next())
        return false;
    if (targetPoints)
        *targetPoints = query.value(0).toInt();
    blob = query.value(1).toByteArray();
    return true;
}

bool WaveformRows::loadCompressed(int songId, QList<float>& waveform, int* targetPoints)
{
    QByteArray blob;
    int stored = targetPoints ? *targetPoints : 0;
    if (!load(songId, blob, &stored))
        return false;
    waveform = decodeStored(blob, &stored);
    if (targetPoints)
        *targetPoints = stored;
    return !waveform.isEmpty();
}

bool WaveformRows::remove(int songId)
{
    return !m_db.execute("DELETE FROM waveform_data WHERE song_id = ?", {songId}).lastError().isValid();
}

bool WaveformRows::removeAll()
{
    QSqlQuery query = m_db.execute("DELETE FROM waveform_data");
    if (query.lastError().isValid()) {
        qWarning() << "DatabaseManager::deleteAllWaveformData failed:" << query.lastError().text();
        return false;
    }
    return true;
}

bool WaveformRows::contains(int songId)
{
    QSqlQuery query = m_db.execute("SELECT 1 FROM waveform_data WHERE song_id = ? LIMIT 1", {songId});
    return !query.lastError().isValid() && query.next();
}

bool WaveformRows::songIds(QList<int>& songIds)
{
    songIds.clear();
    QSqlQuery query = m_db.execute("SELECT song_id FROM waveform_data");
    if (query.lastError().isValid())
        return false;
    while (query.next())
        songIds.append(query.value(0).toInt());
    return true;
}

void WaveformRows::selectAmong(const QList<int>& songIds, const char* columns,
                               const std::function<void(const QSqlQuery&)>& row)
{
    for (qsizetype from = 0; from < songIds.size(); from += kIdsPerStatement) {
        const QList<int> chunk = songIds.mid(from, kIdsPerStatement);
        QStringList marks;
        QVariantList params;
        marks.reserve(chunk.size());
        params.reserve(chunk.size());
        for (int id : chunk) {
            marks.append(QStringLiteral("?"));
            params.append(id);
        }
        QSqlQuery query = m_db.execute(QStringLiteral("SELECT %1 FROM waveform_data WHERE song_id IN (%2)")
                                           .arg(QLatin1String(columns), marks.join(u',')),
                                       params, true);
        if (query.lastError().isValid())
            continue;
        while (query.next())
            row(query);
    }
}

QHash<int, QList<float>> WaveformRows::loadPeaksOf(const QList<int>& songIds)
{
    QHash<int, QList<float>> peaks;
    selectAmong(songIds, "song_id, data", [&peaks](const QSqlQuery& query) {
        int targetPoints = 0;
        QList<float> list = decodeStored(query.value(1).toByteArray(), &targetPoints);
        if (!list.isEmpty())
            peaks.insert(query.value(0).toInt(), std::move(list));
    });
    return peaks;
}

QSet<int> WaveformRows::storedAmong(const QList<int>& songIds)
{
    QSet<int> stored;
    selectAmong(songIds, "song_id", [&stored](const QSqlQuery& query) { stored.insert(query.value(0).toInt()); });
    return stored;
}
