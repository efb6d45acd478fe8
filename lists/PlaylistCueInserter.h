#pragma once

#include <QList>
#include <QPointer>

#include <memory>

class Cue;
class CueManager;
class DatabaseTransaction;

// Stores new cues and puts them into a playlist at one place, as a single
// database transaction: the import of files and the paste of copies.
//
//     PlaylistCueInserter inserter(registry, playlistId);
//     if (inserter.begin(row, files.size()))
//         for (...) inserter.add(registry->newCueFromTemplate(file));
//     inserter.commit();  // registers the stored cues, in order
//
// Every cue is stored and linked to the playlist together or not at all, so a
// cue that fails leaves no row behind. The cues are handed to the registry
// only once the transaction has committed; when it cannot commit, every cue
// of it is deleted and nothing stays in the database. The playlist's later
// cues are moved up once, in one statement, whatever its length.
class PlaylistCueInserter {
public:
    PlaylistCueInserter(CueManager* registry, int playlistId);
    // Rolls back and deletes the cues when commit() was not reached.
    ~PlaylistCueInserter();
    PlaylistCueInserter(const PlaylistCueInserter&) = delete;
    PlaylistCueInserter& operator=(const PlaylistCueInserter&) = delete;

    // Opens the transaction and room for up to count cues before position
    // (playlist order; -1 or past the end appends). False when the database
    // refuses; add() then stores nothing.
    bool begin(int position, int count);
    bool isActive() const { return m_transaction != nullptr; }

    // Takes the cue (null counts as a failure): stores it and links it at the
    // next place. False, the cue deleted, when either write fails.
    bool add(Cue* cue);

    // Commits, then registers the stored cues in the order they were added.
    // False when the commit fails: nothing was stored, the cues are deleted.
    bool commit();

    // The stored cues so far (registered once commit() succeeded).
    QList<Cue*> added() const;
    int failedCount() const { return m_failed; }

private:
    void discardAll();

    CueManager* m_registry;
    int m_playlistId;
    std::unique_ptr<DatabaseTransaction> m_transaction;
    int m_nextOrder = 0;
    QList<QPointer<Cue>> m_added;
    int m_failed = 0;
};
