#include "model/TransactionPageFlush.h"

#include "model/DatabaseManager.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

bool TransactionPageFlush::flush()
{
    const QSqlDatabase database = QSqlDatabase::database(DatabaseManager::kConnectionName, false);
    if (!database.isOpen())
        return false;
    const QVariant handle = database.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData());
    return connection && sqlite3_db_cacheflush(connection) == SQLITE_OK;
}
