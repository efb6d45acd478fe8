#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>

#include <functional>

class DatabaseManager;
class QSqlQuery;

// The rows of table waveform_data: one compressed peak list per cue. Cues are
// loaded without their peaks; whoever shows a cue reads them from here when
// it first needs them, so a start with thousands of stored cues decodes only
// the peaks of the playlist on screen.
class WaveformRows {
public:
    explicit WaveformRows(DatabaseManager& db) : m_db(db) {}

    bool saveCompressed(int songId, int targetPoints, const QList<float>& waveform);
    bool insert(int songId, int targetPoints, const QByteArray& blob);
    bool load(int songId, QByteArray& blob, int* targetPoints);
    bool loadCompressed(int songId, QList<float>& waveform, int* targetPoints);
    bool remove(int songId);
    bool removeAll();
    bool contains(int songId);
    bool songIds(QList<int>& songIds);
    // The decoded peaks of those of the given cues that have readable stored
    // peaks, in a few statements however many cues are asked for.
    QHash<int, QList<float>> loadPeaksOf(const QList<int>& songIds);
    // Those of the given cues that have stored peaks, without reading them.
    QSet<int> storedAmong(const QList<int>& songIds);

    // How many stored peak lists this process has decoded: what a start-up
    // test watches.
    static int decodedCount();

private:
    // Runs `SELECT columns` over the rows of the given cues, a few hundred
    // ids per statement, and hands each row to `row`.
    void selectAmong(const QList<int>& songIds, const char* columns,
                     const std::function<void(const QSqlQuery&)>& row);

    DatabaseManager& m_db;
};
