#include "lists/PlaylistCueInserter.h"

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "playback/CueManager.h"

#include <QDebug>

PlaylistCueInserter::PlaylistCueInserter(CueManager* registry, int playlistId)
    : m_registry(registry)
    , m_playlistId(playlistId)
{
}

PlaylistCueInserter::~PlaylistCueInserter()
{
    if (m_transaction) {
        m_transaction->rollback();
        m_transaction.reset();
        discardAll();
    }
}

bool PlaylistCueInserter::begin(int position, int count)
{
    if (m_transaction)
        return true;
    DatabaseManager* db = DatabaseManager::instance();
    auto transaction = std::make_unique<DatabaseTransaction>(db);
    if (!transaction->isActive()) {
        qWarning() << "PlaylistCueInserter - Failed to begin transaction:" << db->lastErrorText();
        return false;
    }
    if (!db->openPlaylistGap(m_playlistId, position, count, &m_nextOrder)) {
        qWarning() << "PlaylistCueInserter - Failed to make room in playlist" << m_playlistId;
        return false;  // the transaction rolls back as it goes
    }
    m_transaction = std::move(transaction);
    return true;
}

bool PlaylistCueInserter::add(Cue* cue)
{
    std::unique_ptr<Cue> owned(cue);
    if (!owned || !m_transaction) {
        ++m_failed;
        return false;
    }
    DatabaseManager* db = DatabaseManager::instance();
    // The cue's row and its place in the playlist together: a cue that
    // cannot be linked must not stay behind as an orphan.
    DatabaseTransaction one(db);
    const bool stored = one.isActive() && owned->saveToDatabase(true) && owned->id() > 0
        && db->insertPlaylistSong(m_playlistId, owned->id(), m_nextOrder) && one.commit();
    if (!stored) {
        one.rollback();
        qWarning() << "PlaylistCueInserter - Failed to store" << owned->filePath() << "in playlist"
                   << m_playlistId;
        // Its id was taken back with the rows: the object goes without saving.
        owned->clearDirty();
        ++m_failed;
        return false;
    }
    ++m_nextOrder;
    m_added.append(owned.release());
    return true;
}

bool PlaylistCueInserter::commit()
{
    if (!m_transaction)
        return false;
    const bool committed = m_transaction->commit();
    m_transaction.reset();
    if (!committed) {
        qWarning() << "PlaylistCueInserter - Commit failed:" << DatabaseManager::instance()->lastErrorText();
        m_failed += int(m_added.size());
        discardAll();
        return false;
    }
    for (const QPointer<Cue>& cue : std::as_const(m_added)) {
        if (cue)
            m_registry->registerCue(cue);
    }
    return true;
}

QList<Cue*> PlaylistCueInserter::added() const
{
    QList<Cue*> cues;
    cues.reserve(m_added.size());
    for (const QPointer<Cue>& cue : m_added) {
        if (cue)
            cues.append(cue);
    }
    return cues;
}

void PlaylistCueInserter::discardAll()
{
    // Rolled back: the undo of each save has taken its id back, so none of
    // them writes itself into the database as it goes.
    for (const QPointer<Cue>& cue : std::as_const(m_added)) {
        if (!cue)
            continue;
        cue->clearDirty();
        cue->clearWaveformDirty();
        delete cue.data();
    }
    m_added.clear();
}
