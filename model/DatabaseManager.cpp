#include "model/DatabaseManager.h"

#include "model/Cue.h"
#include "model/DatabaseTransaction.h"
#include "model/WalCheckpointer.h"
#include "model/WaveformRows.h"
#include "audiofile/AudioFileDecoder.h"
#include "platform/PoolTask.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QThreadPool>

#include <sqlite3.h>

#include <memory>
#include <utility>

namespace {

// Columns of `songs` in the order every cue query reads them.
constexpr const char* kCueColumns =
    "id, name, alias, file_path, duration, remark, pre_wait, loop_count, volume_a, is_solo, "
    "fade_switch, fade_in_duration, fade_out_duration, volume_envelope, start_marking, end_marking, "
    "loop_start_ms, loop_end_ms, loop_enabled, envelope_enabled, pan_envelope_enabled, color, "
    "volume_b, volume_choose, lufs, is_bad_file";

constexpr const char* kInsertCueSql =
    "INSERT INTO songs (name, alias, file_path, duration, remark, pre_wait, loop_count, volume_a, "
    "is_solo, fade_switch, fade_in_duration, fade_out_duration, volume_envelope, start_marking, "
    "end_marking, loop_start_ms, loop_end_ms, loop_enabled, envelope_enabled, pan_envelope_enabled, "
    "color, volume_b, volume_choose, lufs, is_bad_file) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

constexpr const char* kUpdateCueSql =
    "UPDATE songs SET name = ?, alias = ?, file_path = ?, duration = ?, remark = ?, pre_wait = ?, "
    "loop_count = ?, volume_a = ?, is_solo = ?, fade_switch = ?, fade_in_duration = ?, "
    "fade_out_duration = ?, volume_envelope = ?, start_marking = ?, end_marking = ?, "
    "loop_start_ms = ?, loop_end_ms = ?, loop_enabled = ?, envelope_enabled = ?, "
    "pan_envelope_enabled = ?, color = ?, volume_b = ?, volume_choose = ?, lufs = ?, "
    "is_bad_file = ?, updated_at = strftime('%s','now') WHERE id = ?";

// Record positions of the cue columns.
enum CueColumn {
    ColId = 0, ColName, ColAlias, ColFilePath, ColDuration, ColRemark, ColPreWait, ColLoopCount,
    ColVolumeA, ColIsSolo, ColFadeSwitch, ColFadeIn, ColFadeOut, ColVolumeEnvelope, ColStartMarking,
    ColEndMarking, ColLoopStart, ColLoopEnd, ColLoopEnabled, ColEnvelopeEnabled, ColPanEnvelopeEnabled,
    ColColor, ColVolumeB, ColVolumeChoose, ColLufs, ColIsBadFile
};

const QStringList kFieldWhitelist = {
    "duration", "loop_start_ms", "loop_end_ms", "volume_a", "volume_b", "volume_choose",
    "name", "alias", "file_path", "remark", "color", "lufs", "is_bad_file",
};

struct TableDefinition {
    const char* name;
    const char* sql;
};

const TableDefinition kPlaylistGroupsTable = {"playlist_groups",
    "CREATE TABLE IF NOT EXISTS playlist_groups ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "name TEXT NOT NULL, "
    "group_tag TEXT DEFAULT '', "
    "is_group_header INTEGER DEFAULT 0, "
    "play_mode INTEGER DEFAULT 1, "
    "current_index INTEGER DEFAULT 0, "
    "sort_order INTEGER DEFAULT 0, "
    "created_at INTEGER DEFAULT (strftime('%s','now')), "
    "updated_at INTEGER DEFAULT (strftime('%s','now')))"};

const TableDefinition kSongsTable = {"songs",
    "CREATE TABLE IF NOT EXISTS songs ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "name TEXT NOT NULL, "
    "alias TEXT DEFAULT '', "
    "file_path TEXT NOT NULL, "
    "duration INTEGER DEFAULT 0, "
    "remark TEXT DEFAULT '', "
    "pre_wait INTEGER DEFAULT 0, "
    "loop_count INTEGER DEFAULT 1, "
    "volume_a INTEGER DEFAULT 50, "
    "volume_b INTEGER DEFAULT 50, "
    "volume_choose INTEGER DEFAULT 0, "
    "is_solo INTEGER DEFAULT 1, "
    "fade_switch INTEGER DEFAULT 0, "
    "fade_in_duration INTEGER DEFAULT 1000, "
    "fade_out_duration INTEGER DEFAULT 1000, "
    "volume_envelope INTEGER DEFAULT 0, "
    "start_marking INTEGER DEFAULT 0, "
    "end_marking INTEGER DEFAULT 0, "
    "loop_start_ms INTEGER DEFAULT 0, "
    "loop_end_ms INTEGER DEFAULT 0, "
    "loop_enabled INTEGER DEFAULT 0, "
    "envelope_enabled INTEGER DEFAULT 0, "
    "pan_envelope_enabled INTEGER DEFAULT 0, "
    "color TEXT DEFAULT '', "
    "lufs REAL DEFAULT -999.0, "
    "is_bad_file INTEGER DEFAULT 0, "
    "created_at INTEGER DEFAULT (strftime('%s','now')), "
    "updated_at INTEGER DEFAULT (strftime('%s','now')))"};

const TableDefinition kLaterTables[] = {
    {"groups",
     "CREATE TABLE IF NOT EXISTS groups ("
     "id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "master_id INTEGER NOT NULL, "
     "child_id INTEGER, "
     "sort_order INTEGER DEFAULT 0, "
     "FOREIGN KEY (master_id) REFERENCES songs(id))"},
    {"playlist_songs",
     "CREATE TABLE IF NOT EXISTS playlist_songs ("
     "playlist_id INTEGER NOT NULL, "
     "song_id INTEGER NOT NULL, "
     "song_order INTEGER DEFAULT 0, "
     "PRIMARY KEY (playlist_id, song_id), "
     "FOREIGN KEY (playlist_id) REFERENCES playlist_groups(id) ON DELETE CASCADE, "
     "FOREIGN KEY (song_id) REFERENCES songs(id) ON DELETE CASCADE)"},
    {"envelope_points",
     "CREATE TABLE IF NOT EXISTS envelope_points ("
     "song_id INTEGER NOT NULL, "
     "point_index INTEGER NOT NULL, "
     "time_ms INTEGER NOT NULL, "
     "gain REAL NOT NULL, "
     "PRIMARY KEY (song_id, point_index), "
     "FOREIGN KEY (song_id) REFERENCES songs(id) ON DELETE CASCADE)"},
    {"pan_envelope_points",
     "CREATE TABLE IF NOT EXISTS pan_envelope_points ("
     "song_id INTEGER NOT NULL, "
     "point_index INTEGER NOT NULL, "
     "time_ms INTEGER NOT NULL, "
     "position REAL NOT NULL, "
     "PRIMARY KEY (song_id, point_index), "
     "FOREIGN KEY (song_id) REFERENCES songs(id) ON DELETE CASCADE)"},
    {"waveform_data",
     "CREATE TABLE IF NOT EXISTS waveform_data ("
     "song_id INTEGER PRIMARY KEY, "
     "target_points INTEGER DEFAULT 2000, "
     "data BLOB NOT NULL, "
     "created_at INTEGER DEFAULT (strftime('%s','now')), "
     "FOREIGN KEY (song_id) REFERENCES songs(id) ON DELETE CASCADE)"},
    {"app_metadata",
     "CREATE TABLE IF NOT EXISTS app_metadata ("
     "key TEXT PRIMARY KEY, "
     "value TEXT NOT NULL, "
     "updated_at INTEGER DEFAULT (strftime('%s','now')))"},
};

const char* const kIndexes[] = {
    "CREATE INDEX IF NOT EXISTS idx_playlist_groups_order ON playlist_groups(sort_order)",
    "CREATE INDEX IF NOT EXISTS idx_playlist_songs_order ON playlist_songs(playlist_id, song_order)",
    "CREATE INDEX IF NOT EXISTS idx_songs_file_path ON songs(file_path)",
    "CREATE INDEX IF NOT EXISTS idx_envelope_points_time ON envelope_points(song_id, time_ms)",
    "CREATE INDEX IF NOT EXISTS idx_pan_envelope_points_time ON pan_envelope_points(song_id, time_ms)",
    "CREATE UNIQUE INDEX IF NOT EXISTS idx_playlist_songs_unique_song ON playlist_songs(song_id)",
};

struct ColumnUpgrade {
    const char* name;
    const char* declaration;
};

// Columns that older files lack, in the order they are added.
const ColumnUpgrade kColumnUpgrades[] = {
    {"loop_start_ms", "INTEGER DEFAULT 0"},
    {"loop_end_ms", "INTEGER DEFAULT 0"},
    {"loop_enabled", "INTEGER DEFAULT 0"},
    {"envelope_enabled", "INTEGER DEFAULT 0"},
    {"pan_envelope_enabled", "INTEGER DEFAULT 0"},
    {"fade_switch", "INTEGER DEFAULT 0"},
    {"fade_in_duration", "INTEGER DEFAULT 1000"},
    {"fade_out_duration", "INTEGER DEFAULT 1000"},
    {"color", "TEXT DEFAULT ''"},
    {"lufs", "REAL DEFAULT -999.0"},
    {"volume_a", "INTEGER DEFAULT 50"},
    {"volume_b", "INTEGER DEFAULT 50"},
    {"volume_choose", "INTEGER DEFAULT 0"},
    // Columns every cue query reads as well; a file without one of them
    // could not load a single cue.
    {"alias", "TEXT DEFAULT ''"},
    {"duration", "INTEGER DEFAULT 0"},
    {"remark", "TEXT DEFAULT ''"},
    {"pre_wait", "INTEGER DEFAULT 0"},
    {"loop_count", "INTEGER DEFAULT 1"},
    {"is_solo", "INTEGER DEFAULT 1"},
    {"volume_envelope", "INTEGER DEFAULT 0"},
    {"start_marking", "INTEGER DEFAULT 0"},
    {"end_marking", "INTEGER DEFAULT 0"},
    {"is_bad_file", "INTEGER DEFAULT 0"},
};

// Text columns are NOT NULL or read back as text: never bind a null string.
QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QVariantList cueValues(const Cue* cue)
{
    return {
        text(cue->name()), text(cue->alias()), text(cue->filePath()), cue->durationMs(),
        text(cue->remark()), cue->preWaitMs(), cue->loopCount(), cue->volumeA(),
        1, cue->fadeEnabled() ? 1 : 0, cue->fadeInMs(), cue->fadeOutMs(),
        0, cue->startMarkingMs(), 0, cue->loopStartMs(), cue->loopEndMs(), 0,
        cue->envelopeEnabled() ? 1 : 0, cue->panEnvelopeEnabled() ? 1 : 0, text(cue->color()),
        cue->volumeB(), cue->storedVolumeChoose(), cue->lufs(), cue->isBadFile() ? 1 : 0,
    };
}

struct EnvelopeRows {
    QList<qint64> times;
    QList<double> values;
};

void applyStoredEnvelopes(Cue* cue, const EnvelopeRows& volume, const EnvelopeRows& pan)
{
    // The setters refuse fewer than two points; a cue without stored points
    // simply keeps what it has.
    if (!volume.times.isEmpty())
        cue->setVolumeEnvelope(volume.times, volume.values);
    if (!pan.times.isEmpty())
        cue->setPanEnvelope(pan.times, pan.values);
}

}  // namespace

DatabaseManager* DatabaseManager::instance()
{
    static DatabaseManager manager;
    return &manager;
}

DatabaseManager::DatabaseManager(QObject* parent)
    : QObject(parent)
{
}

DatabaseManager::~DatabaseManager()
{
    close();
}

// ---------------------------------------------------------------------------
// Core

bool DatabaseManager::initialize(const QString& path)
{
    QMutexLocker lock(&m_mutex);

    if (path.isEmpty()) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(folder);
        m_dbPath = folder + "/playlist_data.db";
    } else {
        m_dbPath = path;
    }

    if (QSqlDatabase::contains(kConnectionName))
        m_database = QSqlDatabase::database(kConnectionName, false);
    else
        m_database = QSqlDatabase::addDatabase("QSQLITE", kConnectionName);

    stopCheckpoints();
    if (m_database.isOpen())
        m_database.close();
    m_handle = nullptr;
    runUndo(0);
    m_levels.clear();
    m_releasePagesAfterCommit = false;

    // Look before anything writes: a damaged file is copied aside and what
    // can be read of it rescued into a new one; a file that is no database
    // at all is left alone.
    m_recovery = {};
    m_startCheck = DatabaseIntegrity::inspect(m_dbPath);
    switch (m_startCheck.state) {
    case DatabaseIntegrity::State::NotADatabase:
    case DatabaseIntegrity::State::Unreadable:
        m_lastError = m_startCheck.detail;
        qCritical() << "Failed to open database:" << m_lastError;
        return false;
    case DatabaseIntegrity::State::Damaged:
        qCritical() << "[DB FIX] Damaged database:" << m_dbPath << "-" << m_startCheck.detail;
        m_recovery = DatabaseIntegrity::recover(m_dbPath);
        if (!m_recovery.replaced) {
            m_lastError = QStringLiteral("database disk image is malformed; ") + m_recovery.error;
            qCritical() << "Failed to open database:" << m_lastError;
            return false;
        }
        break;
    case DatabaseIntegrity::State::Missing:
    case DatabaseIntegrity::State::Healthy:
        break;
    }

    m_database.setDatabaseName(m_dbPath);
    if (!m_database.open()) {
        m_lastError = m_database.lastError().text();
        qCritical() << "Failed to open database:" << m_lastError;
        return false;
    }
    const QVariant handle = m_database.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        m_handle = *static_cast<sqlite3* const*>(handle.constData());

    execute("PRAGMA foreign_keys = ON");
    execute("PRAGMA journal_mode = WAL");
    execute("PRAGMA synchronous = NORMAL");
    execute("PRAGMA cache_size = 10000");
    execute("PRAGMA temp_store = MEMORY");

    if (!createTables()) {
        qCritical() << "Failed to create tables";
        return false;
    }
    upgradeTables();
    // The upgrade ends with a write; a file or folder that takes no writes
    // would lose every later save.
    if (getMetadata("database_version") != QLatin1String("1") || !setMetadata("database_version", "1")) {
        qCritical() << "Failed to open database:" << m_lastError;
        return false;
    }
    enableIncrementalVacuum();
    startCheckpoints();
    return true;
}

void DatabaseManager::startCheckpoints()
{
    // A save that crossed the log's limit used to copy the log back into the
    // file itself; that copy now runs on a thread of its own.
    if (m_handle)
        m_checkpointer = std::make_unique<WalCheckpointer>(m_handle, m_dbPath);
}

void DatabaseManager::stopCheckpoints()
{
    m_checkpointer.reset();
}

void DatabaseManager::enableIncrementalVacuum()
{
    // Deleting a cue gives its pages back to the file system at once without
    // rewriting the whole file, as a full VACUUM per cue would (a quarter of
    // a second each on a large show). A file of an older version is rewritten
    // once to switch the mode.
    QSqlQuery mode = execute("PRAGMA auto_vacuum");
    if (!mode.next() || mode.value(0).toInt() == 2)
        return;
    mode.finish();
    execute("PRAGMA auto_vacuum = INCREMENTAL");
    vacuum();
}

void DatabaseManager::releaseFreePages()
{
    // The pragma frees one page per step of its statement, and Qt's driver
    // steps a statement without result columns only once: sqlite3_exec runs
    // it to the end.
    QMutexLocker lock(&m_mutex);
    if (!m_handle)
        return;
    char* error = nullptr;
    if (sqlite3_exec(m_handle, "PRAGMA incremental_vacuum", nullptr, nullptr, &error) != SQLITE_OK) {
        m_lastError = QString::fromUtf8(error);
        qWarning() << "SQL exec failed:" << "PRAGMA incremental_vacuum" << "-" << m_lastError;
    }
    sqlite3_free(error);
}

void DatabaseManager::close()
{
    QMutexLocker lock(&m_mutex);
    stopCheckpoints();
    if (m_database.isOpen())
        m_database.close();  // rolls back an open transaction
    m_database = QSqlDatabase();
    m_handle = nullptr;
    runUndo(0);
    m_levels.clear();
    m_releasePagesAfterCommit = false;
}

QSqlQuery DatabaseManager::execute(const QString& sql, const QVariantList& params, bool forwardOnly)
{
    QMutexLocker lock(&m_mutex);
    QSqlQuery query(m_database);
    query.setForwardOnly(forwardOnly);
    if (!query.prepare(sql)) {
        m_lastError = query.lastError().text();
        qWarning() << "SQL prepare failed:" << sql << "-" << m_lastError;
        return query;
    }
    for (int i = 0; i < params.size(); ++i)
        query.bindValue(i, params[i]);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        qWarning() << "SQL exec failed:" << sql << "-" << m_lastError;
        if (!query.isSelect())
            reportWriteFailure(query.lastError());
    }
    return query;
}

void DatabaseManager::reportWriteFailure(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    Q_EMIT databaseError(error.text());
    Q_EMIT writeFailed(error.databaseText().isEmpty() ? error.text() : error.databaseText(), ok ? code : 0);
}

qint64 DatabaseManager::lastInsertId()
{
    QMutexLocker lock(&m_mutex);
    QSqlQuery query(m_database);
    if (!query.exec("SELECT last_insert_rowid()") || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

bool DatabaseManager::runTransactionStatement(const QString& sql)
{
    QMutexLocker lock(&m_mutex);
    QSqlQuery query(m_database);
    if (!query.exec(sql)) {
        m_lastError = query.lastError().text();
        if (!sql.startsWith(QLatin1String("ROLLBACK")))
            reportWriteFailure(query.lastError());
        return false;
    }
    return true;
}

bool DatabaseManager::isTransactionOpen() const
{
    return m_handle && !sqlite3_get_autocommit(m_handle);
}

bool DatabaseManager::transactionLost()
{
    // Levels without a transaction on the connection: SQLite has rolled it
    // back by itself. Its writes are gone, so is what they gave the cues in
    // memory. The levels stay until their owners end them, so that work meant
    // to be part of the lost transaction is refused instead of being written
    // on its own.
    if (m_levels.isEmpty() || isTransactionOpen())
        return false;
    runUndo(0);
    m_releasePagesAfterCommit = false;
    return true;
}

void DatabaseManager::endTransaction(bool committed)
{
    if (isTransactionOpen())
        return;  // still open: a COMMIT that could not finish (the database was busy)
    if (!committed)
        runUndo(0);
    // An import of a whole playlist leaves an undo step per cue; freeing
    // a hundred thousand of them took the GUI thread some 40 ms, so a large
    // list is freed on a pool thread (what the steps hold, guarded cue
    // pointers, may be let go from any thread).
    qsizetype steps = 0;
    for (const TransactionLevel& level : std::as_const(m_levels))
        steps += level.undo.size();
    if (steps >= kUndoFreedAside) {
        // Moved out on the pool thread, so that the last reference is its own.
        auto aside = std::make_shared<QList<TransactionLevel>>(std::exchange(m_levels, {}));
        PoolTask::run(QThreadPool::globalInstance(), [aside] { QList<TransactionLevel> freed = std::move(*aside); });
    }
    m_levels.clear();
    const bool releasePages = committed && m_releasePagesAfterCommit;
    m_releasePagesAfterCommit = false;
    if (releasePages)
        releaseFreePages();
}

bool DatabaseManager::beginTransaction()
{
    if (transactionLost()) {
        m_lastError = QStringLiteral("The enclosing transaction was rolled back by the database");
        return false;
    }
    if (!runTransactionStatement(QStringLiteral("BEGIN TRANSACTION")))
        return false;
    m_levels = {TransactionLevel{}};
    return true;
}

bool DatabaseManager::commitTransaction()
{
    const bool ok = runTransactionStatement(QStringLiteral("COMMIT"));
    endTransaction(ok);
    return ok;
}

bool DatabaseManager::rollbackTransaction()
{
    const bool ok = runTransactionStatement(QStringLiteral("ROLLBACK"));
    endTransaction(false);
    return ok;
}

bool DatabaseManager::beginSavepoint()
{
    if (transactionLost()) {
        m_lastError = QStringLiteral("The enclosing transaction was rolled back by the database");
        return false;
    }
    if (!isTransactionOpen()) {
        m_lastError = QStringLiteral("No transaction is open");
        return false;
    }
    // Savepoints nest strictly, so the depth names each one.
    const QString name = QStringLiteral("level_%1").arg(m_levels.size());
    if (!runTransactionStatement(QStringLiteral("SAVEPOINT ") + name))
        return false;
    m_levels.append(TransactionLevel{name, {}});
    return true;
}

bool DatabaseManager::releaseSavepoint()
{
    if (m_levels.isEmpty() || m_levels.last().savepoint.isEmpty() || transactionLost())
        return false;
    if (!runTransactionStatement(QStringLiteral("RELEASE ") + m_levels.last().savepoint))
        return false;
    // Its writes now belong to the enclosing level: so does undoing them.
    const TransactionLevel released = m_levels.takeLast();
    if (!m_levels.isEmpty())
        m_levels.last().undo += released.undo;
    return true;
}

void DatabaseManager::rollbackToSavepoint()
{
    if (m_levels.isEmpty() || m_levels.last().savepoint.isEmpty())
        return;
    if (!transactionLost()) {
        const QString name = m_levels.last().savepoint;
        if (runTransactionStatement(QStringLiteral("ROLLBACK TO ") + name)) {
            runTransactionStatement(QStringLiteral("RELEASE ") + name);
            runUndo(m_levels.size() - 1);
        } else {
            // The savepoint's writes cannot be taken back alone: take back
            // the whole transaction rather than let its owner commit them.
            qWarning() << "DatabaseManager - Rollback to savepoint failed, rolling back the transaction:"
                       << m_lastError;
            runTransactionStatement(QStringLiteral("ROLLBACK"));
            transactionLost();
        }
    }
    m_levels.removeLast();
}

void DatabaseManager::addUndo(std::function<void()> undo)
{
    if (!m_levels.isEmpty())
        m_levels.last().undo.append(std::move(undo));
}

void DatabaseManager::runUndo(qsizetype fromLevel)
{
    for (qsizetype level = m_levels.size() - 1; level >= fromLevel && level >= 0; --level) {
        const QList<std::function<void()>> undo = std::exchange(m_levels[level].undo, {});
        for (auto it = undo.crbegin(); it != undo.crend(); ++it)
            (*it)();
    }
}

void DatabaseManager::vacuum()
{
    execute("VACUUM");
}

QString DatabaseManager::getMetadata(const QString& key, const QString& defaultValue)
{
    QSqlQuery query = execute("SELECT value FROM app_metadata WHERE key = ?", {key});
    if (query.lastError().isValid() || !query.next())
        return defaultValue;
    return query.value(0).toString();
}

bool DatabaseManager::setMetadata(const QString& key, const QString& value)
{
    QSqlQuery query = execute(
        "INSERT OR REPLACE INTO app_metadata (key, value, updated_at) VALUES (?, ?, strftime('%s','now'))",
        {key, text(value)});
    return !query.lastError().isValid();
}

bool DatabaseManager::hasMetadataKey(const QString& key)
{
    QSqlQuery query = execute("SELECT 1 FROM app_metadata WHERE key = ? LIMIT 1", {key});
    return !query.lastError().isValid() && query.next();
}

int DatabaseManager::getDatabaseVersion()
{
    bool ok = false;
    const int version = getMetadata("database_version", "0").toInt(&ok, 10);
    return ok ? version : 0;
}

bool DatabaseManager::createTables()
{
    auto create = [this](const TableDefinition& table) {
        QSqlQuery query = execute(QString::fromLatin1(table.sql));
        if (!query.lastError().isValid())
            return true;
        m_lastError = QStringLiteral("Failed to create %1: ").arg(QLatin1String(table.name))
            + query.lastError().text();
        qCritical().noquote() << m_lastError;
        return false;
    };

    if (!create(kPlaylistGroupsTable) || !create(kSongsTable))
        return false;

    // An older layout of `groups` declared child_id NOT NULL; it is replaced.
    QSqlQuery groups = execute("SELECT sql FROM sqlite_master WHERE type='table' AND name='groups'");
    if (!groups.lastError().isValid() && groups.next()
        && groups.value(0).toString().contains("child_id INTEGER NOT NULL")) {
        groups.finish();
        execute("DROP TABLE IF EXISTS groups");
    }

    for (const TableDefinition& table : kLaterTables) {
        if (!create(table))
            return false;
    }

    for (const char* index : kIndexes) {
        QSqlQuery query = execute(QString::fromLatin1(index));
        if (query.lastError().isValid())
            qWarning() << "Failed to create index:" << index << "error:" << query.lastError().text();
    }

    if (!hasMetadataKey("database_version"))
        setMetadata("database_version", "1");
    return true;
}

bool DatabaseManager::upgradeTables()
{
    QSet<QString> columns;
    QSqlQuery info = execute("PRAGMA table_info(songs)");
    while (info.next())
        columns.insert(info.value(1).toString());
    info.finish();

    for (const ColumnUpgrade& column : kColumnUpgrades) {
        if (columns.contains(QLatin1String(column.name)))
            continue;
        QSqlQuery query = execute(QStringLiteral("ALTER TABLE songs ADD COLUMN %1 %2")
                                      .arg(QLatin1String(column.name), QLatin1String(column.declaration)));
        if (query.lastError().isValid())
            qWarning() << "Failed to add column" << column.name << ":" << query.lastError().text();
    }

    if (columns.contains("volume")) {
        const QString migrated = getMetadata("volume_migrated", QString());
        if (!migrated.contains('1')) {
            execute("UPDATE songs SET volume_a = volume");
            setMetadata("volume_migrated", "1");
        }
    }

    // Loudness is measured again in every run.
    execute("UPDATE songs SET lufs = -999.0 WHERE lufs > -900.0");
    setMetadata("database_version", "1");
    return true;
}

// ---------------------------------------------------------------------------
// Cue rows

bool DatabaseManager::repairStoredDuration(Cue* cue, const QString& filePath)
{
    if (filePath.isEmpty() || !QFileInfo::exists(filePath)) {
        qWarning() << "  [DB FIX] File not found or empty, cannot fix duration:" << filePath;
        return false;
    }
    AudioFileDecoder decoder;
    if (!decoder.open(filePath)) {
        qWarning() << "  [DB FIX] Failed to parse file for duration, error code:" << decoder.errorString();
        return false;
    }
    const qint64 frames = decoder.declaredFrames();
    decoder.close();
    if (frames <= 0)
        return false;
    const qint64 duration = qint64(double(frames) / AudioFileDecoder::kSampleRate * 1000.0);
    cue->setDuration(duration);
    updateCueField(cue->id(), "duration", duration);
    return true;
}

bool DatabaseManager::fillCueFromRecord(Cue* cue, const QSqlRecord& record)
{
    QVariantList values;
    values.reserve(record.count());
    for (int column = 0; column < record.count(); ++column)
        values.append(record.value(column));
    return fillCueFromValues(cue, values.constData(), int(values.size()));
}

bool DatabaseManager::fillCueFromValues(Cue* cue, const QVariant* values, int count)
{
    auto value = [values, count](int column) { return column < count ? values[column] : QVariant(); };
    cue->setId(value(ColId).toInt());
    cue->setName(value(ColName).toString());
    cue->setAlias(value(ColAlias).toString());
    cue->setFilePath(value(ColFilePath).toString());
    const qint64 storedDuration = value(ColDuration).toLongLong();
    cue->setDuration(storedDuration);
    cue->setRemark(value(ColRemark).toString());
    cue->setPreWait(value(ColPreWait).toInt());
    cue->setLoopCount(value(ColLoopCount).toInt());
    cue->setVolumeA(value(ColVolumeA).toInt());
    cue->setVolumeB(value(ColVolumeB).toInt());
    cue->setVolumeChoose(value(ColVolumeChoose).toInt());
    cue->setFadeEnabled(value(ColFadeSwitch).toInt() != 0);
    cue->setFadeDurations(value(ColFadeIn).toLongLong(), value(ColFadeOut).toLongLong());
    cue->setColor(value(ColColor).toString());
    if (storedDuration < 1)
        repairStoredDuration(cue, value(ColFilePath).toString());
    cue->setLoopRange(value(ColLoopStart).toLongLong(), value(ColLoopEnd).toLongLong(), false);
    cue->setStartMarking(value(ColStartMarking).toLongLong());
    cue->setEnvelopeEnabled(value(ColEnvelopeEnabled).toInt() != 0);
    cue->setPanEnvelopeEnabled(value(ColPanEnvelopeEnabled).toInt() != 0);
    const QVariant lufs = value(ColLufs);
    cue->setLufs(lufs.isNull() ? 0.0 : lufs.toDouble());
    cue->setBadFile(value(ColIsBadFile).toInt() != 0);
    return true;
}

bool DatabaseManager::loadCue(int id, Cue* cue)
{
    if (id < 1) {
        qWarning() << "loadCue - Invalid cue id:" << id;
        return false;
    }
    QSqlQuery query = execute(QStringLiteral("SELECT %1 FROM songs WHERE id = ?").arg(kCueColumns), {id});
    if (query.lastError().isValid() || !query.next())
        return false;
    const QSqlRecord record = query.record();
    query.finish();

    // A cue loaded without its stored points would write default points over
    // them once an envelope is switched on: a load that cannot read them fails,
    // before the cue is touched.
    EnvelopeRows volume;
    EnvelopeRows pan;
    if (!loadEnvelopePoints(id, volume.times, volume.values) || !loadPanEnvelopePoints(id, pan.times, pan.values)) {
        qWarning() << "loadCue - Failed to load the envelope points of cue" << id;
        return false;
    }

    cue->setLoading(true);
    fillCueFromRecord(cue, record);
    applyStoredEnvelopes(cue, volume, pan);
    if (cue->durationMs() > 0)
        cue->validateLoopRange();
    cue->clearDirty();
    cue->setLoading(false);
    return true;
}

bool DatabaseManager::loadAllCues(QList<Cue*>& cues)
{
    cues.clear();
    // Points of all cues in two queries instead of two per cue. Either
    // failing fails the load: cues without their stored points would write
    // default points over them later. Waveform peaks are not read here: they
    // are read when a cue is first shown (WaveformRows).
    QHash<int, EnvelopeRows> volumePoints;
    QHash<int, EnvelopeRows> panPoints;
    auto readPoints = [this](const char* sql, QHash<int, EnvelopeRows>& into) {
        QSqlQuery rows = execute(QString::fromLatin1(sql), {}, true);
        if (rows.lastError().isValid())
            return false;
        while (rows.next()) {
            EnvelopeRows& entry = into[rows.value(0).toInt()];
            entry.times.append(rows.value(1).toLongLong());
            entry.values.append(rows.value(2).toDouble());
        }
        return true;
    };
    if (!readPoints("SELECT song_id, time_ms, gain FROM envelope_points ORDER BY song_id, point_index ASC",
                    volumePoints)
        || !readPoints("SELECT song_id, time_ms, position FROM pan_envelope_points ORDER BY song_id, point_index ASC",
                       panPoints)) {
        qWarning() << "loadAllCues - Failed to load envelope points";
        return false;
    }

    static const EnvelopeRows kNoPoints;
    auto fill = [&](Cue* cue, const QVariant* values, int count) {
        cue->setLoading(true);
        fillCueFromValues(cue, values, count);
        const int id = cue->id();
        applyStoredEnvelopes(cue, volumePoints.value(id, kNoPoints), panPoints.value(id, kNoPoints));
        if (cue->durationMs() > 0)
            cue->validateLoopRange();
        cue->clearDirty();
        cue->setLoading(false);
    };

    // Each cue is made from its row while the rows are read, front to back,
    // with no copy of the whole result: tens of thousands of values held at
    // once cost more than the cues themselves.
    QSqlQuery query = execute(QStringLiteral("SELECT %1 FROM songs ORDER BY id ASC").arg(kCueColumns), {}, true);
    if (query.lastError().isValid())
        return false;
    const int columns = query.record().count();
    QVariantList row(columns);
    // A row without a stored duration is filled after the read: measuring
    // the file again writes the duration into the table being read.
    QList<std::pair<Cue*, QVariantList>> unmeasured;
    while (query.next()) {
        for (int column = 0; column < columns; ++column)
            row[column] = query.value(column);
        auto* cue = new Cue();
        cues.append(cue);
        if (row.value(ColDuration).toLongLong() < 1)
            unmeasured.append({cue, row});
        else
            fill(cue, row.constData(), columns);
    }
    query.finish();
    for (const auto& [cue, values] : std::as_const(unmeasured))
        fill(cue, values.constData(), int(values.size()));
    return true;
}

bool DatabaseManager::insertCue(Cue* cue)
{
    QSqlQuery query = execute(kInsertCueSql, cueValues(cue));
    if (query.lastError().isValid()) {
        qWarning() << "insertCue 失败:" << query.lastError().text();
        return false;
    }
    const qint64 id = lastInsertId();
    if (id <= 0) {
        qWarning() << "insertCue - lastInsertId returned" << id;
        return false;
    }
    cue->setId(int(id));
    cue->clearDirty();
    return true;
}

bool DatabaseManager::updateCue(Cue* cue)
{
    if (cue->id() < 1) {
        qWarning() << "updateCue - Invalid cue id:" << cue->id();
        return false;
    }
    QVariantList values = cueValues(cue);
    values.append(cue->id());
    QSqlQuery query = execute(kUpdateCueSql, values);
    if (query.lastError().isValid()) {
        qWarning() << "updateCue 失败:" << query.lastError().text();
        return false;
    }
    return true;
}

bool DatabaseManager::deleteCueRows(int id)
{
    deleteEnvelopePoints(id);
    deletePanEnvelopePoints(id);
    deleteWaveformData(id);
    return !execute("DELETE FROM songs WHERE id = ?", {id}).lastError().isValid();
}

bool DatabaseManager::deleteCue(int id)
{
    if (id < 1) {
        qWarning() << "deleteCue - Invalid cue id:" << id;
        return false;
    }
    // The rows of one cue go together or not at all. Their pages go back to
    // the file system when the outermost transaction commits: this one, or
    // the caller's that deletes a whole playlist.
    DatabaseTransaction transaction(this);
    if (!transaction.isActive() || !deleteCueRows(id))
        return false;
    m_releasePagesAfterCommit = true;
    return transaction.commit();
}

bool DatabaseManager::findCueIdByFilePath(const QString& filePath, int& cueId)
{
    QSqlQuery query = execute("SELECT id FROM songs WHERE file_path = ?", {text(filePath)});
    if (query.lastError().isValid())
        return false;
    if (query.next()) {
        cueId = query.value(0).toInt();
        return true;
    }
    cueId = -1;
    return false;
}

QVariant DatabaseManager::getCueField(int id, const QString& field)
{
    if (id < 1) {
        qWarning() << "getCueField - Invalid cue id:" << id;
        return {};
    }
    if (field.isEmpty()) {
        qWarning() << "getCueField - Empty field name";
        return {};
    }
    if (!kFieldWhitelist.contains(field)) {
        qWarning() << "getCueField - Field not in whitelist:" << field;
        return {};
    }
    QSqlQuery query = execute(QStringLiteral("SELECT %1 FROM songs WHERE id = ?").arg(field), {id});
    if (query.lastError().isValid()) {
        qWarning() << "getCueField failed:" << query.lastError().text();
        return {};
    }
    if (!query.next()) {
        qWarning() << "getCueField - Cue not found:" << id;
        return {};
    }
    return query.value(0);
}

bool DatabaseManager::updateCueField(int id, const QString& field, const QVariant& value)
{
    if (id < 1) {
        qWarning() << "updateCueField - Invalid cue id:" << id;
        return false;
    }
    if (field.isEmpty()) {
        qWarning() << "updateCueField - Empty field name";
        return false;
    }
    if (!kFieldWhitelist.contains(field)) {
        qWarning() << "updateCueField - Field not in whitelist:" << field;
        return false;
    }
    QSqlQuery query = execute(QStringLiteral("UPDATE songs SET %1 = ? WHERE id = ?").arg(field), {value, id});
    if (query.lastError().isValid()) {
        qWarning() << "updateCueField failed:" << query.lastError().text();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Envelope points

bool DatabaseManager::loadEnvelopeRows(const char* table, const char* valueColumn, int songId,
                                       QList<qint64>& times, QList<double>& values)
{
    times.clear();
    values.clear();
    QSqlQuery query = execute(
        QStringLiteral("SELECT time_ms, %1 FROM %2 WHERE song_id = ? ORDER BY point_index ASC")
            .arg(QLatin1String(valueColumn), QLatin1String(table)),
        {songId});
    if (query.lastError().isValid())
        return false;
    while (query.next()) {
        times.append(query.value(0).toLongLong());
        values.append(query.value(1).toDouble());
    }
    return true;
}

bool DatabaseManager::loadEnvelopePoints(int songId, QList<qint64>& times, QList<double>& gains)
{
    return loadEnvelopeRows("envelope_points", "gain", songId, times, gains);
}

bool DatabaseManager::loadPanEnvelopePoints(int songId, QList<qint64>& times, QList<double>& positions)
{
    return loadEnvelopeRows("pan_envelope_points", "position", songId, times, positions);
}

bool DatabaseManager::saveEnvelopeRows(const char* table, const char* valueColumn, int songId,
                                       const QList<qint64>& times, const QList<double>& values)
{
    // Joins the caller's transaction when one is open; otherwise the old
    // points stay in place unless the whole replacement succeeds.
    DatabaseTransaction transaction(this);
    if (!transaction.isActive())
        return false;
    const QString tableName = QLatin1String(table);
    if (execute(QStringLiteral("DELETE FROM %1 WHERE song_id = ?").arg(tableName), {songId}).lastError().isValid())
        return false;
    const QString insert = QStringLiteral("INSERT INTO %1 (song_id, point_index, time_ms, %2) VALUES (?, ?, ?, ?)")
                               .arg(tableName, QLatin1String(valueColumn));
    for (qsizetype i = 0; i < times.size(); ++i) {
        if (execute(insert, {songId, int(i), times[i], values[i]}).lastError().isValid())
            return false;
    }
    return transaction.commit();
}

bool DatabaseManager::saveEnvelopePoints(int songId, const QList<qint64>& times, const QList<double>& gains)
{
    if (times.size() != gains.size()) {
        m_lastError = "Times and gains size mismatch";
        return false;
    }
    return saveEnvelopeRows("envelope_points", "gain", songId, times, gains);
}

bool DatabaseManager::savePanEnvelopePoints(int songId, const QList<qint64>& times,
                                            const QList<double>& positions)
{
    if (times.size() != positions.size()) {
        m_lastError = "Times and positions size mismatch";
        return false;
    }
    return saveEnvelopeRows("pan_envelope_points", "position", songId, times, positions);
}

bool DatabaseManager::deleteEnvelopePoints(int songId)
{
    return !execute("DELETE FROM envelope_points WHERE song_id = ?", {songId}).lastError().isValid();
}

bool DatabaseManager::deletePanEnvelopePoints(int songId)
{
    return !execute("DELETE FROM pan_envelope_points WHERE song_id = ?", {songId}).lastError().isValid();
}

// ---------------------------------------------------------------------------
// Playlists

bool DatabaseManager::getNextGroupSortOrder(int& sortOrder)
{
    QSqlQuery query = execute("SELECT COALESCE(MAX(sort_order), -1) + 1 FROM playlist_groups");
    if (query.lastError().isValid())
        return false;
    sortOrder = query.next() ? query.value(0).toInt() : 0;
    return true;
}

bool DatabaseManager::insertPlaylistGroup(PlaylistGroup& group, int sortOrder)
{
    if (group.id > 0) {
        QSqlQuery existing = execute("SELECT id FROM playlist_groups WHERE id = ?", {group.id});
        if (!existing.lastError().isValid() && existing.next())
            return updatePlaylistGroup(group);
    }
    QSqlQuery query = execute(
        "INSERT INTO playlist_groups (name, group_tag, is_group_header, play_mode, current_index, sort_order) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        {text(group.name), text(group.groupTag), group.isGroupHeader ? 1 : 0, group.playMode,
         group.currentIndex, sortOrder});
    if (query.lastError().isValid()) {
        qWarning() << "insertPlaylistGroup failed:" << query.lastError().text();
        return false;
    }
    const qint64 id = lastInsertId();
    if (id <= 0) {
        qWarning() << "insertPlaylistGroup - lastInsertId failed";
        return false;
    }
    group.id = int(id);
    return true;
}

bool DatabaseManager::updatePlaylistGroup(const PlaylistGroup& group)
{
    QSqlQuery query = execute(
        "UPDATE playlist_groups SET name = ?, group_tag = ?, is_group_header = ?, play_mode = ?, "
        "current_index = ?, updated_at = strftime('%s','now') WHERE id = ?",
        {text(group.name), text(group.groupTag), group.isGroupHeader ? 1 : 0, group.playMode,
         group.currentIndex, group.id});
    return !query.lastError().isValid();
}

bool DatabaseManager::deletePlaylistGroup(int id)
{
    QSqlQuery members = execute("DELETE FROM playlist_songs WHERE playlist_id = ?", {id});
    if (members.lastError().isValid()) {
        m_lastError = members.lastError().text();
        qWarning() << "deletePlaylistGroup - 删除关联失败:" << m_lastError;
        return false;
    }
    QSqlQuery playlist = execute("DELETE FROM playlist_groups WHERE id = ?", {id});
    if (playlist.lastError().isValid()) {
        m_lastError = playlist.lastError().text();
        qWarning() << "deletePlaylistGroup - 删除分组失败:" << m_lastError;
        return false;
    }
    return true;
}

bool DatabaseManager::loadAllPlaylistGroups(QList<PlaylistGroup>& groups)
{
    groups.clear();
    QSqlQuery query = execute(
        "SELECT id, name, group_tag, is_group_header, play_mode, current_index, sort_order "
        "FROM playlist_groups ORDER BY sort_order ASC, id ASC");
    if (query.lastError().isValid())
        return false;
    while (query.next()) {
        PlaylistGroup group;
        group.id = query.value(0).toInt();
        group.name = query.value(1).toString();
        group.groupTag = query.value(2).toString();
        group.isGroupHeader = query.value(3).toInt() != 0;
        group.playMode = query.value(4).toInt();
        group.currentIndex = query.value(5).toInt();
        groups.append(group);
    }
    return true;
}

bool DatabaseManager::updatePlaylistGroupOrder(const QList<int>& groupIds)
{
    if (!beginTransaction())
        return false;
    for (int i = 0; i < groupIds.size(); ++i) {
        if (execute("UPDATE playlist_groups SET sort_order = ? WHERE id = ?", {i, groupIds[i]})
                .lastError()
                .isValid()) {
            rollbackTransaction();
            return false;
        }
    }
    if (commitTransaction())
        return true;
    rollbackTransaction();
    return false;
}

bool DatabaseManager::getPlaylistSongIds(int playlistId, QList<int>& songIds)
{
    songIds.clear();
    QMutexLocker lock(&m_mutex);
    const char* const sql = "SELECT song_id FROM playlist_songs WHERE playlist_id = ? ORDER BY song_order ASC";
    if (!m_handle) {
        QSqlQuery query = execute(QString::fromLatin1(sql), {playlistId}, true);
        if (query.lastError().isValid())
            return false;
        while (query.next())
            songIds.append(query.value(0).toInt());
        return true;
    }
    // Stepped on the connection itself: a playlist may hold a hundred
    // thousand rows, and a QVariant per row made the read of one take a
    // good part of the table's load.
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(m_handle, sql, -1, &statement, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_bind_int(statement, 1, playlistId);
    while (result == SQLITE_OK || result == SQLITE_ROW) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW)
            songIds.append(sqlite3_column_int(statement, 0));
    }
    sqlite3_finalize(statement);
    if (result != SQLITE_DONE) {
        m_lastError = QString::fromUtf8(sqlite3_errmsg(m_handle));
        qWarning() << "SQL exec failed:" << sql << "-" << m_lastError;
        songIds.clear();
        return false;
    }
    return true;
}

bool DatabaseManager::loadAllPlaylistSongs(QMap<int, QList<int>>& songsByPlaylist)
{
    songsByPlaylist.clear();
    QSqlQuery query = execute("SELECT playlist_id, song_id FROM playlist_songs ORDER BY playlist_id, song_order ASC");
    if (query.lastError().isValid())
        return false;
    while (query.next())
        songsByPlaylist[query.value(0).toInt()].append(query.value(1).toInt());
    return true;
}

bool DatabaseManager::getPlaylistIdsForSong(int songId, QList<int>& playlistIds)
{
    playlistIds.clear();
    QSqlQuery query = execute("SELECT playlist_id FROM playlist_songs WHERE song_id = ?", {songId});
    if (query.lastError().isValid())
        return false;
    while (query.next())
        playlistIds.append(query.value(0).toInt());
    return true;
}

bool DatabaseManager::insertPlaylistSong(int playlistId, int songId, int songOrder)
{
    return !execute("INSERT INTO playlist_songs (playlist_id, song_id, song_order) VALUES (?, ?, ?)",
                    {playlistId, songId, songOrder})
                .lastError()
                .isValid();
}

bool DatabaseManager::deletePlaylistSong(int playlistId, int songId)
{
    return !execute("DELETE FROM playlist_songs WHERE playlist_id = ? AND song_id = ?", {playlistId, songId})
                .lastError()
                .isValid();
}

bool DatabaseManager::deleteAllPlaylistSongs(int playlistId)
{
    return !execute("DELETE FROM playlist_songs WHERE playlist_id = ?", {playlistId}).lastError().isValid();
}

bool DatabaseManager::updatePlaylistSongOrder(int playlistId, const QList<int>& songIds)
{
    QSqlQuery exists = execute("SELECT id FROM playlist_groups WHERE id = ?", {playlistId});
    if (exists.lastError().isValid() || !exists.next()) {
        qWarning() << "playlist_id" << playlistId << "does not exist in playlist_groups!";
        return false;
    }
    exists.finish();
    if (!beginTransaction()) {
        qWarning() << "updatePlaylistSongOrder - beginTransaction failed";
        return false;
    }
    if (!deleteAllPlaylistSongs(playlistId)) {
        qWarning() << "updatePlaylistSongOrder - deleteAllPlaylistSongs failed";
        rollbackTransaction();
        return false;
    }
    for (int i = 0; i < songIds.size(); ++i) {
        if (!insertPlaylistSong(playlistId, songIds[i], i)) {
            qWarning() << "Failed to insert playlist_song:" << playlistId << songIds[i] << i;
            rollbackTransaction();
            return false;
        }
    }
    if (commitTransaction())
        return true;
    rollbackTransaction();
    return false;
}

bool DatabaseManager::updatePlaylistSongOrder(int playlistId, int songId, int songOrder)
{
    QSqlQuery query = execute("UPDATE playlist_songs SET song_order = ? WHERE playlist_id = ? AND song_id = ?",
                              {songOrder, playlistId, songId});
    if (query.lastError().isValid()) {
        qWarning() << "updatePlaylistSongOrder (single) - Failed to update order for song" << songId
                   << "error:" << query.lastError().text();
        return false;
    }
    if (query.numRowsAffected() <= 0) {
        qWarning() << "updatePlaylistSongOrder (single) - No rows updated for song" << songId;
        return false;
    }
    return true;
}

bool DatabaseManager::openPlaylistGap(int playlistId, int position, int count, int* firstOrder)
{
    QSqlQuery query = execute("SELECT song_id, song_order FROM playlist_songs WHERE playlist_id = ? "
                              "ORDER BY song_order ASC",
                              {playlistId});
    if (query.lastError().isValid())
        return false;
    QList<int> ids;
    QList<int> orders;
    while (query.next()) {
        ids.append(query.value(0).toInt());
        orders.append(query.value(1).toInt());
    }
    query.finish();
    const int n = int(orders.size());
    if (position < 0 || position > n)
        position = n;
    if (position == n) {
        *firstOrder = n == 0 ? 0 : orders.last() + 1;
        return true;
    }
    // Two cues sharing an order have no defined sequence between them: the
    // playlist is numbered afresh first, in the order it is shown.
    if (position > 0 && orders[position - 1] >= orders[position]) {
        DatabaseTransaction renumber(this);
        if (!renumber.isActive() || !deleteAllPlaylistSongs(playlistId))
            return false;
        for (int i = 0; i < n; ++i) {
            if (!insertPlaylistSong(playlistId, ids[i], i))
                return false;
        }
        if (!renumber.commit())
            return false;
        for (int i = 0; i < n; ++i)
            orders[i] = i;
    }
    *firstOrder = orders[position];
    return count < 1
        || !execute("UPDATE playlist_songs SET song_order = song_order + ? WHERE playlist_id = ? AND song_order >= ?",
                    {count, playlistId, *firstOrder})
                .lastError()
                .isValid();
}

// ---------------------------------------------------------------------------
// Waveforms: their rows are WaveformRows' concern.

bool DatabaseManager::saveWaveformDataCompressed(int songId, int targetPoints, const QList<float>& waveform)
{
    return WaveformRows(*this).saveCompressed(songId, targetPoints, waveform);
}

bool DatabaseManager::insertWaveformData(int songId, int targetPoints, const QByteArray& blob)
{
    return WaveformRows(*this).insert(songId, targetPoints, blob);
}

bool DatabaseManager::loadWaveformData(int songId, QByteArray& blob, int* targetPoints)
{
    return WaveformRows(*this).load(songId, blob, targetPoints);
}

bool DatabaseManager::loadWaveformDataCompressed(int songId, QList<float>& waveform, int* targetPoints)
{
    return WaveformRows(*this).loadCompressed(songId, waveform, targetPoints);
}

bool DatabaseManager::deleteWaveformData(int songId)
{
    return WaveformRows(*this).remove(songId);
}

bool DatabaseManager::deleteAllWaveformData()
{
    return WaveformRows(*this).removeAll();
}

bool DatabaseManager::hasWaveformData(int songId)
{
    return WaveformRows(*this).contains(songId);
}

bool DatabaseManager::getWaveformSongIds(QList<int>& songIds)
{
    return WaveformRows(*this).songIds(songIds);
}
