#include "db/episodes.h"

#include "db/audit.h"
#include "db/engine/administration.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/server.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/location.h"

namespace db {

namespace {

const QString kCompanionTables[] = {QStringLiteral("検査情報"), QStringLiteral("診断情報")};

} // namespace

qint64 registerEpisode(jet::Connection &connection, qint32 chart)
{
    // Begun before the patient is looked up: on the file the write lock is
    // taken at once, so that two workstations registering one new chart
    // never both add its patient.
    jet::Transaction transaction(connection);
    jet::Recordset patient;
    patient.open(QStringLiteral("SELECT カルテID FROM 患者情報 WHERE カルテID = %1").arg(chart), &connection);
    const bool known = !patient.eof();
    patient.close();
    if (!known) {
        // A server takes no lock for the look-up: another workstation may add
        // the same new chart in the meantime, and its patient is then this
        // registration's patient too.
        try {
            jet::Transaction adding(connection);
            connection.execute(QStringLiteral("INSERT INTO 患者情報 (カルテID) VALUES (?)"), {chart});
            adding.commit();
        } catch (const jet::Error &error) {
            if (error.cause() != jet::Cause::Constraint)
                throw;
        }
    }
    // The key comes from the insert itself, never from the newest row, which
    // another workstation's registration may own.
    // The registration is its own event in the trail, not a save.
    jet::UnobservedRowChanges unobserved(connection);
    jet::Recordset episodes;
    episodes.open(QStringLiteral("SELECT 入退院ID, カルテID FROM 入退院情報 WHERE 入退院ID Is Null"), &connection);
    episodes.addNew({QStringLiteral("カルテID")}, {chart});
    const qint64 episode = episodes.value(QStringLiteral("入退院ID")).toLongLong();
    episodes.close();
    for (const QString &table : kCompanionTables)
        connection.execute(QStringLiteral("INSERT INTO %1 (入退院ID) VALUES (?)").arg(table), {episode});
    audit::append(connection, {audit::action::Registration.toString(), {}, chart, episode});
    transaction.commit();
    return episode;
}

void deleteEpisode(jet::Connection &connection, qint64 episode)
{
    jet::Transaction transaction(connection);
    jet::Recordset deleted;
    deleted.openCommand(QStringLiteral("SELECT カルテID FROM 入退院情報 WHERE 入退院ID = ?"), &connection, {episode},
                        jet::CursorType::ForwardOnly);
    const std::optional<qint64> chart = deleted.eof() || deleted.value(0).isNull()
        ? std::nullopt
        : std::optional<qint64>(deleted.value(0).toLongLong());
    deleted.close();
    connection.execute(QStringLiteral("DELETE FROM 入退院情報 WHERE 入退院ID = ?"), {episode});
    for (const QString &table : kCompanionTables)
        connection.execute(QStringLiteral("DELETE FROM %1 WHERE 入退院ID = ?").arg(table), {episode});
    audit::append(connection, {audit::action::Deletion.toString(), {}, chart, episode});
    transaction.commit();
}

void repairCompanionRows(jet::Connection &connection, qint64 episode)
{
    jet::Transaction transaction(connection);
    for (const QString &table : kCompanionTables)
        connection.execute(QStringLiteral("INSERT INTO %1 (入退院ID) SELECT 入退院ID FROM 入退院情報 "
                                          "WHERE 入退院ID = ? AND NOT EXISTS "
                                          "(SELECT 入退院ID FROM %1 WHERE 入退院ID = ?)")
                               .arg(table),
                           {episode, episode});
    transaction.commit();
}

// Rewrites the stored list in place and whole: dropped, even for a moment,
// it would take the summaries built on it along, and a failure between the
// drop and the new text would leave the database without the list every
// ledger and report reads.
void storeListOrder(const QString &dataSource, RoomOrder order)
{
    // The order is the database's, for every workstation.  On a server the
    // staff's roles may not replace a stored query: the refusal names the
    // one who may, rather than the server's own words.
    if (jet::isServerAddress(dataSource)) {
        jet::Connection connection;
        connection.open(plainConnectionString(dataSource));
        if (!jet::ownsDatabase(connection))
            throw jet::Error(jet::err::NoPermission,
                             QStringLiteral("サーバーの台帳 %1 では、入院中の患者の並び順を変えられるのはデータベースの所有者だけです。"
                                            "システムの管理者に、データベースの所有者として次のコマンドを実行するよう依頼してください。"
                                            "\n\n    norva-db order データベースのアドレス %2")
                                 .arg(jet::describeDataSource(dataSource),
                                      order == RoomOrder::Descending ? QStringLiteral("descending") : QStringLiteral("ascending")));
    }
    jet::replaceStoredQuery(plainConnectionString(dataSource), kInpatientListQuery.toString(), inpatientListSql(order));
}

} // namespace db
