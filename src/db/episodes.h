#pragma once

#include "db/schema.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace jet {
class Connection;
}

namespace db {

// The episode with its patient and its examination results, as the record
// windows edit it.  An episode without its 検査情報 row drops out of it.
inline constexpr QStringView kEpisodeSql =
    u"SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 "
    u"WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID";

// Every episode with its patient, the newest first, as the all-patient
// ledger lists them.
inline constexpr QStringView kAllEpisodesSql =
    u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID "
    u"ORDER BY 入退院情報.入退院ID DESC;";

// Registration: the patient row when the chart is new, a new, empty episode
// and its two companion rows (検査情報, 診断情報), in one transaction.
// Returns the 入退院ID the store gave this episode, whatever other
// workstations register at the same moment.
qint64 registerEpisode(jet::Connection &connection, qint32 chart);

// Deletes an episode and whatever companion rows it has, in one transaction;
// an episode registered without them by an older program goes all the same.
void deleteEpisode(jet::Connection &connection, qint64 episode);

// Gives an episode the companion rows it lacks, one of each, in one
// transaction; an unknown episode gets none.
void repairCompanionRows(jet::Connection &connection, qint64 episode);

// Stores the in-patient list of the database at the data source in that
// order.  Throws jet::Error(3024) when there is no such file, and
// jet::Error(3033) on a server whose owner the connection's role is not.
void storeListOrder(const QString &dataSource, RoomOrder order);

} // namespace db
