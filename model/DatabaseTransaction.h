#pragma once

class DatabaseManager;

// Keeps a sequence of writes together: begins a transaction unless the
// caller already holds one (then it joins it and leaves commit and rollback
// to the caller). An own transaction that is not committed is rolled back
// when the scope ends.
class DatabaseTransaction {
public:
    explicit DatabaseTransaction(DatabaseManager* db);
    ~DatabaseTransaction();
    DatabaseTransaction(const DatabaseTransaction&) = delete;
    DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

    // False when an own transaction could not be begun.
    bool isActive() const { return m_active; }
    bool ownsTransaction() const { return m_own; }
    bool commit();
    void rollback();

private:
    DatabaseManager* m_db;
    bool m_own = false;
    bool m_active = false;
    bool m_finished = false;
};
