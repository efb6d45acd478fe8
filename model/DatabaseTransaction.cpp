#include "model/DatabaseTransaction.h"

#include "model/DatabaseManager.h"

DatabaseTransaction::DatabaseTransaction(DatabaseManager* db)
    : m_db(db)
    , m_nested(db->isTransactionOpen())
{
    m_active = m_nested ? m_db->beginSavepoint() : m_db->beginTransaction();
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
    if (m_nested) {
        if (m_db->releaseSavepoint())
            return true;
        m_db->rollbackToSavepoint();
        return false;
    }
    if (m_db->commitTransaction())
        return true;
    m_db->rollbackTransaction();  // a failed COMMIT can leave the transaction open
    return false;
}

void DatabaseTransaction::rollback()
{
    if (m_finished)
        return;
    m_finished = true;
    if (!m_active)
        return;
    if (m_nested)
        m_db->rollbackToSavepoint();
    else
        m_db->rollbackTransaction();
}

void DatabaseTransaction::onRollback(std::function<void()> undo)
{
    if (m_active && !m_finished)
        m_db->addUndo(std::move(undo));
}
