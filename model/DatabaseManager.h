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

#include "model/DatabaseIntegrity.h"
#include "model/PlaylistGroup.h"

#include <functional>
#include <memory>

class Cue;
class QSqlError;
class QSqlRecord;
class WalCheckpointer;
struct sqlite3;

// The single owner of the program's SQLite database: schema creation and
// upgrade, and every statement the program runs. All statements run on the
// thread that called initialize() (the GUI thread); the mutex serialises one
// statement at a time, never a sequence: sequences that must stay together
// run inside a transaction (see DatabaseTransaction, which nests). The
// write-ahead log is copied back into the file by a thread of its own
// (WalCheckpointer), never inside a save.
class DatabaseManager : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kConnectionName = "playlist_db";
    // Undo steps of a committed transaction from which they are freed on a
    // pool thread rather than on the GUI thread.
    static constexpr qsizetype kUndoFreedAside = 1000;

    static DatabaseManager* instance();
    ~DatabaseManager() override;

    // Core
    bool initialize(const QString& path);
    void close();
    // forwardOnly: the result is read once, front to back, and not cached.
    QSqlQuery execute(const QString& sql, const QVariantList& params = {}, bool forwardOnly = false);
    qint64 lastInsertId();
    // Plain BEGIN, COMMIT and ROLLBACK: they do not nest (a second BEGIN
    // fails). Nested work goes through DatabaseTransaction.
    bool beginTransaction();
    bool commitTransaction();
    bool rollbackTransaction();
    // Asked of the connection itself: SQLite ends a transaction on its own
    // after some errors (disk full, I/O error, a trigger's RAISE(ROLLBACK)).
    bool isTransactionOpen() const;
    void vacuum();
    QString getMetadata(const QString& key, const QString& defaultValue = QString());
    bool setMetadata(const QString& key, const QString& value);
    bool hasMetadataKey(const QString& key);
    int getDatabaseVersion();
    bool createTables();
    bool upgradeTables();
    QString databasePath() const { return m_dbPath; }
    QString lastErrorText() const { return m_lastError; }
    // What the quick check of the last initialize() found, and, for a
    // damaged file, what was rescued and where its byte copy is.
    DatabaseIntegrity::Check startCheck() const { return m_startCheck; }
    DatabaseIntegrity::Recovery recovery() const { return m_recovery; }

    // Cue rows and envelope points
    bool loadCue(int id, Cue* cue);
    bool loadAllCues(QList<Cue*>& cues);
    bool fillCueFromRecord(Cue* cue, const QSqlRecord& record);
    // The same from the values of the cue columns, in their query order.
    bool fillCueFromValues(Cue* cue, const QVariant* values, int count);
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
    // Makes room for count cues before the one at position (0-based in
    // playlist order; negative or past the end: after the last) in one
    // statement, however long the playlist. *firstOrder is the song_order of
    // the first free place; the new cues take firstOrder, firstOrder + 1, ...
    bool openPlaylistGap(int playlistId, int position, int count, int* firstOrder);

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
    // A statement that writes, or a transaction statement, failed: what was
    // meant to be saved is not. error is the driver's text; code SQLite's
    // result code (0 when unknown).
    void databaseError(QString error);
    void writeFailed(QString error, int code);

private:
    friend class DatabaseTransaction;

    // One open transaction, or one savepoint inside it.
    struct TransactionLevel {
        QString savepoint;  // empty for the transaction itself
        // Work to undo in memory when this level's writes are rolled back
        // (a new cue's id), run newest first.
        QList<std::function<void()>> undo;
    };

    explicit DatabaseManager(QObject* parent = nullptr);
    bool runTransactionStatement(const QString& sql);
    bool beginSavepoint();
    bool releaseSavepoint();
    void rollbackToSavepoint();
    void addUndo(std::function<void()> undo);
    void runUndo(qsizetype fromLevel);
    bool transactionLost();
    void endTransaction(bool committed);
    bool repairStoredDuration(Cue* cue, const QString& filePath);
    bool saveEnvelopeRows(const char* table, const char* valueColumn, int songId,
                          const QList<qint64>& times, const QList<double>& values);
    bool loadEnvelopeRows(const char* table, const char* valueColumn, int songId,
                          QList<qint64>& times, QList<double>& values);
    bool deleteCueRows(int id);
    void enableIncrementalVacuum();
    void releaseFreePages();
    void startCheckpoints();
    void stopCheckpoints();

    QString m_dbPath;
    QSqlDatabase m_database;
    sqlite3* m_handle = nullptr;  // the open connection's SQLite handle
    QRecursiveMutex m_mutex;
    QString m_lastError;
    QList<TransactionLevel> m_levels;  // outermost first; empty outside a transaction
    bool m_releasePagesAfterCommit = false;
    std::unique_ptr<WalCheckpointer> m_checkpointer;
    DatabaseIntegrity::Check m_startCheck;
    DatabaseIntegrity::Recovery m_recovery;

    void reportWriteFailure(const QSqlError& error);
};
