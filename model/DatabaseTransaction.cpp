#include "model/DatabaseTransaction.h"

#include "model/DatabaseManager.h"

DatabaseTransaction::DatabaseTransaction(DatabaseManager* db)
    : m_db(db)
{
    if (m_db->isTransactionOpen()) {
        m_active = true;
    } else {
        m_own = m_db->beginTransaction();
        m_active = m_own;
    }
}

DatabaseTransaction::~DatabaseTransaction()
{
    if (!m_finished)
        rollback();
}

bool DatabaseTransaction::commit()
{
    if (m_finished || !m_active)
        return false;
    m_finished = true;
    if (!m_own || m_db->commitTransaction())
        return true;
    m_db->rollbackTransaction();  // a failed COMMIT leaves the transaction open
    return false;
}

void DatabaseTransaction::rollback()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_own && m_active)
        m_db->rollbackTransaction();
}
