#include "db/codetables.h"

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"

using namespace Qt::StringLiterals;

namespace db {

namespace {

// Rows beyond the placeholder, which every code table starts with as ID 1.
bool hasEntries(jet::Connection &connection, const QString &table)
{
    jet::Recordset count;
    count.open(u"SELECT Count(*) FROM `%1` WHERE `%1ID` <> 1"_s.arg(table), &connection);
    return count.value(0).toInt() > 0;
}

} // namespace

QList<CodeRow> sexes()
{
    return {{u"男性"_s, u"男"_s}, {u"女性"_s, u"女"_s}};
}

QList<CodeRow> legalAdmissionForms()
{
    return {{u"任意入院"_s, u"任意"_s}, {u"医療保護入院"_s, u"医保"_s}, {u"措置入院"_s, u"措置"_s},
            {u"緊急措置入院"_s, u"緊措"_s}, {u"応急入院"_s, u"応急"_s}};
}

void insertCodes(jet::Connection &connection, const QString &table, const QString &second,
                 const QList<CodeRow> &rows)
{
    const QString sql = u"INSERT INTO `%1` (`%1`, `%2`) VALUES (?, ?)"_s.arg(table, second);
    for (const CodeRow &row : rows)
        connection.execute(sql, {row.text, row.abbreviation});
}

LedgerSetUp ledgerSetUp(jet::Connection &connection)
{
    LedgerSetUp setUp;
    // Asked at every start: a ledger in use needs nothing else read.
    jet::Recordset patients;
    patients.open(u"SELECT Count(*) FROM 患者情報"_s, &connection);
    setUp.hasPatients = patients.value(0).toInt() > 0;
    if (setUp.hasPatients)
        return setUp;
    jet::Recordset hospital;
    hospital.open(u"SELECT 病院名 FROM 病院名"_s, &connection);
    setUp.hospitalNamed = !hospital.eof() && !hospital.value(0).toString().trimmed().isEmpty();
    setUp.hasSexes = hasEntries(connection, u"性別"_s);
    setUp.hasAdmissionForms = hasEntries(connection, u"入院形態"_s);
    return setUp;
}

void addCommonEntries(jet::Connection &connection)
{
    jet::Transaction transaction(connection);
    // Read inside the transaction, so that two workstations answering
    // at once do not both fill the table.
    if (!hasEntries(connection, u"性別"_s))
        insertCodes(connection, u"性別"_s, u"略称"_s, sexes());
    if (!hasEntries(connection, u"入院形態"_s))
        insertCodes(connection, u"入院形態"_s, u"略称"_s, legalAdmissionForms());
    transaction.commit();
}

} // namespace db
