#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace jet {
class Connection;
}

namespace db {

// What an administrator's check of a database file finds.
struct CheckReport
{
    // "2.112" (or whatever the version table holds), "2.086" or "old".
    QString generation;
    // The back end's own check: {"ok"} for a sound database.
    QStringList integrity;
    // What that check could not look at and why: a server role that may not
    // create the extension the index check needs.  Said, never taken for damage.
    QString integritySkipped;
    // Why the tables could not be read past a damaged page; what follows it
    // in this report is then incomplete.
    QString unreadable;
    // What the file lacks of the generation it claims: "table", "table.column",
    // or "バージョン" for a version table without its row, which a broken-off
    // upgrade leaves and the program takes for an upgraded file.
    QStringList missing;
    struct TableCount
    {
        QString table;
        qint64 rows = 0;
    };
    QList<TableCount> counts; // the clinical tables
    // Episodes lacking their row in `検査情報` or in `診断情報`: the record
    // windows and the deletion of the episode fail on them.
    QList<qint64> episodesWithoutCompanions;
    // A code reference naming no row of its code table: the lists join the
    // code tables with inner joins, so the row drops out of them.
    struct DanglingReference
    {
        QString table;
        QString column;
        qint64 row = 0; // the row's key: chart number or episode ID
        qint64 code = 0;
    };
    QList<DanglingReference> danglingReferences;

    bool sound() const
    {
        return integrity == QStringList{QStringLiteral("ok")} && unreadable.isEmpty() && missing.isEmpty() && episodesWithoutCompanions.isEmpty()
            && danglingReferences.isEmpty();
    }
};

// Opens the database (a file with the system password) and checks it, changing nothing.
// Throws jet::Error when the file cannot be opened.
CheckReport checkDatabase(const QString &path);

// Refuses, before any probe of its generation, a database that the program
// cannot take for a ledger, with jet::Error(err::GeneralFailure) naming it
// as messages name it (a server as host:port/dbname): one reached but
// without the ledger's tables (an empty database, or someone else's), and
// one whose version row names a version newer than this program's, which
// an older program must not write to.
void requireLedger(jet::Connection &connection);

// What an administrator does about a damaged file, in the words every
// message about one uses: find the damage, then put a backup back.
QString damagedFileAdvice();

} // namespace db
