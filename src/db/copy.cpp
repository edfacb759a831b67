#include "db/copy.h"

#include "db/accounts/serverroles.h"

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/transaction.h"
#include "db/location.h"
#include "db/schema.h"

namespace db {

void copyDatabase(const QString &source, const QString &target, const jet::CopyProgress &progress)
{
    // A source that cannot be opened makes no target.
    jet::Connection from;
    from.open(plainConnectionString(source));
    jet::createDatabase(target, databasePassword());
    try {
        jet::Connection to;
        to.open(plainConnectionString(target));
        jet::Transaction transaction(to);
        jet::prepareNewDatabase(to);
        jet::copyContents(from, to, progress);
        jet::Catalog catalog;
        catalog.setActiveConnection(&to);
        setPlannerStatistics(catalog);
        // A server's copy gets its accounts' roles and the trail's functions with the rows.
        accounts::updateServerRoles(to);
        transaction.commit();
        catalog.close();
        to.close();
    } catch (...) {
        jet::releasePooledHandles(target);
        jet::discardNewDatabase(target);
        throw;
    }
    jet::releasePooledHandles(target);
}

} // namespace db
