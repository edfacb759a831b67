#pragma once

#include <QList>
#include <QString>

namespace jet {
class Connection;
}

namespace db {

// A row of a code table whose second column is a short form of the first.
struct CodeRow
{
    QString text;
    QString abbreviation;
};

// The usual rows of 性別.
QList<CodeRow> sexes();
// The five forms of admission that the Mental Health and Welfare Act
// (精神保健及び精神障害者福祉に関する法律) provides for, which every
// psychiatric ward records.
QList<CodeRow> legalAdmissionForms();

// Appends the rows to `table`, whose second column is `second`.
void insertCodes(jet::Connection &connection, const QString &table, const QString &second,
                 const QList<CodeRow> &rows);

// What a ledger that no one has set up yet lacks: a clerk meets empty pick
// lists until the hospital's data and the code tables are filled in.
struct LedgerSetUp
{
    bool hasPatients = false;       // when true, the rest is not read
    bool hospitalNamed = false;
    bool hasSexes = false;          // 性別 holds more than its placeholder
    bool hasAdmissionForms = false; // and so does 入院形態

    // A ledger without patients whose pick lists for a registration are empty.
    bool isNew() const { return !hasPatients && (!hasSexes || !hasAdmissionForms); }
};
LedgerSetUp ledgerSetUp(jet::Connection &connection);

// Fills 性別 and 入院形態 with the rows above where they hold nothing but
// their placeholder, both or neither.
void addCommonEntries(jet::Connection &connection);

} // namespace db
