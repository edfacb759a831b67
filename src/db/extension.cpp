#include "db/extension.h"

#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/server.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"

namespace db {

using namespace Qt::StringLiterals;

namespace {

jet::TableDef versionTable(const QString &name)
{
    using namespace db::columns;
    jet::TableDef table;
    table.name = name;
    table.columns = {autoNumber(u"バージョンID"_s), column(u"バージョン"_s, jet::DataType::Long)};
    table.indexes = {primaryKey(u"バージョンID"_s)};
    return table;
}

} // namespace

int extensionVersion(jet::Connection &connection, const Extension &extension)
{
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    if (!catalog.tables().contains(extension.versionTable))
        return 0;
    jet::Recordset version;
    version.open(u"SELECT MAX(バージョン) AS 版 FROM `%1`"_s.arg(extension.versionTable), &connection,
                 jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    return version.eof() ? 0 : version.value(0).toInt();
}

bool mayExtend(jet::Connection &connection)
{
    return jet::ownsDatabase(connection);
}

void extendDatabase(jet::Connection &connection, const Extension &extension)
{
    const int from = extensionVersion(connection, extension);
    const int to = extension.currentVersion();
    if (from > to)
        throw jet::Error(jet::err::GeneralFailure,
                         u"このデータベースの%1（第%2版）は、このプログラムより新しいプログラムで作られています。"_s
                             .arg(extension.title)
                             .arg(from));
    if (from == to)
        return;
    jet::requireDatabaseOwner(connection);

    jet::Transaction transaction(connection);
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    if (from == 0)
        catalog.createTable(versionTable(extension.versionTable));
    for (int version = from; version < to; ++version)
        extension.steps.at(version)(catalog, connection);
    connection.execute(u"DELETE FROM `%1`"_s.arg(extension.versionTable));
    connection.execute(u"INSERT INTO `%1` (バージョン) VALUES (?)"_s.arg(extension.versionTable), {to});
    transaction.commit();
}

} // namespace db
