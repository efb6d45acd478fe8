#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QRecursiveMutex>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include "model/PlaylistGroup.h"

class Cue;
class QSqlRecord;

// The single owner of the program's SQLite database: schema creation and
// upgrade, and every statement the program runs. All statements run on the
// thread that called initialize() (the GUI thread); the mutex serialises one
// statement at a time, never a sequence: sequences that must stay together
// run inside a transaction.
class DatabaseManager : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kConnectionName = "playlist_db";

    static DatabaseManager* instance();
    ~DatabaseManager() override;

    // Core
    bool initialize(const QString& path);
    void close();
    QSqlQuery execute(const QString& sql, const QVariantList& params = {});
    qint64 lastInsertId();
    bool beginTransaction();
    bool commitTransaction();
    bool rollbackTransaction();
    bool isTransactionOpen() const { return m_transactionOpen; }
    void vacuum();
    QString getMetadata(const QString& key, const QString& defaultValue = QString());
    bool setMetadata(const QString& key, const QString& value);
    bool hasMetadataKey(const QString& key);
    int getDatabaseVersion();
    bool createTables();
    bool upgradeTables();
    QString databasePath() const { return m_dbPath; }
    QString lastErrorText() const { return m_lastError; }

    // Cue rows and envelope points
    bool loadCue(int id, Cue* cue);
    bool loadAllCues(QList<Cue*>& cues);
    bool fillCueFromRecord(Cue* cue, const QSqlRecord& record);
    bool insertCue(Cue* cue);
    bool updateCue(Cue* cue);
    bool deleteCue(int id);
    bool findCueIdByFilePath(const QString& filePath, int& cueId);
    QVariant getCueField(int id, const QString& field);
    bool updateCueField(int id, const QString& field, const QVariant& value);
    bool loadEnvelopePoints(int songId, QList<qint64>& times, QList<double>& gains);
    bool loadPanEnvelopePoints(int songId, QList<qint64>& times, QList<double>& positions);
    bool saveEnvelopePoints(int songId, const QList<qint64>& times, const QList<double>& gains);
    bool savePanEnvelopePoints(int songId, const QList<qint64>& times, const QList<double>& positions);
    bool deleteEnvelopePoints(int songId);
    bool deletePanEnvelopePoints(int songId);

    // Playlists
    bool getNextGroupSortOrder(int& sortOrder);
    bool insertPlaylistGroup(PlaylistGroup& group, int sortOrder);
    bool updatePlaylistGroup(const PlaylistGroup& group);
    bool deletePlaylistGroup(int id);
    bool loadAllPlaylistGroups(QList<PlaylistGroup>& groups);
    bool updatePlaylistGroupOrder(const QList<int>& groupIds);
    bool getPlaylistSongIds(int playlistId, QList<int>& songIds);
    bool loadAllPlaylistSongs(QMap<int, QList<int>>& songsByPlaylist);
    bool getPlaylistIdsForSong(int songId, QList<int>& playlistIds);
    bool insertPlaylistSong(int playlistId, int songId, int songOrder);
    bool deletePlaylistSong(int playlistId, int songId);
    bool deleteAllPlaylistSongs(int playlistId);
    bool updatePlaylistSongOrder(int playlistId, const QList<int>& songIds);
    bool updatePlaylistSongOrder(int playlistId, int songId, int songOrder);

    // Waveforms
    bool saveWaveformDataCompressed(int songId, int targetPoints, const QList<float>& waveform);
    bool insertWaveformData(int songId, int targetPoints, const QByteArray& blob);
    bool loadWaveformData(int songId, QByteArray& blob, int* targetPoints);
    bool loadWaveformDataCompressed(int songId, QList<float>& waveform, int* targetPoints);
    bool deleteWaveformData(int songId);
    bool deleteAllWaveformData();
    bool hasWaveformData(int songId);
    // Ids of every cue with a stored waveform, in one query.
    bool getWaveformSongIds(QList<int>& songIds);

Q_SIGNALS:
    void databaseError(QString error);

private:
    explicit DatabaseManager(QObject* parent = nullptr);
    bool runTransactionStatement(const char* sql);
    bool repairStoredDuration(Cue* cue, const QString& filePath);
    void applyStoredEnvelopes(Cue* cue);
    bool saveEnvelopeRows(const char* table, const char* valueColumn, int songId,
                          const QList<qint64>& times, const QList<double>& values);
    bool loadEnvelopeRows(const char* table, const char* valueColumn, int songId,
                          QList<qint64>& times, QList<double>& values);
    bool deleteCueRows(int id);
    void enableIncrementalVacuum();
    void releaseFreePages();

    QString m_dbPath;
    QSqlDatabase m_database;
    QRecursiveMutex m_mutex;
    QString m_lastError;
    bool m_transactionOpen = false;
};
