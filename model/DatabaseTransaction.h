#pragma once

#include <functional>

class DatabaseManager;

// Keeps a sequence of writes together, and nests: outside a transaction it
// begins one; inside a caller's transaction it opens a savepoint, so that its
// writes can be taken back alone while the caller's transaction goes on.
// A paste or an import holds one around all its cues, and each cue's save
// holds its own inside it:
//
//     DatabaseTransaction paste(db);
//     for (Cue* cue : cues)
//         if (!cue->saveToDatabase(true)) ...  // a failed save leaves nothing behind
//     paste.commit();                           // or rollback(): every save is taken back
//
// A scope that ends without commit() rolls back. Committing a nested scope
// hands its writes to the enclosing one: only the outermost commit stores them.
class DatabaseTransaction {
public:
    explicit DatabaseTransaction(DatabaseManager* db);
    ~DatabaseTransaction();
    DatabaseTransaction(const DatabaseTransaction&) = delete;
    DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

    // False when the transaction or savepoint could not be begun; also when
    // the enclosing transaction was rolled back by the database and its owner
    // has not ended it yet.
    bool isActive() const { return m_active; }
    bool commit();
    void rollback();

    // Work that undoes, in memory, what this scope's writes gave (a new cue's
    // id): run when they are rolled back, by this scope, by an enclosing one
    // or by the database itself. Dropped once the outermost scope commits.
    void onRollback(std::function<void()> undo);

private:
    DatabaseManager* m_db;
    bool m_nested = false;
    bool m_active = false;
    bool m_finished = false;
};
