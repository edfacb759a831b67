#pragma once

#include "db/accounts/rights.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace accounts {

// The three ways a row of a table is written.
enum class Write { Insert, Update, Delete };

// Who may write a table in one way: every account (the program's own
// bookkeeping, such as the audit trail's appends), an account holding any
// one of the rights, or no account at all (the trail is never rewritten).
struct WritePermission
{
    enum class Kind { Anyone, AnyOf, Nobody };
    Kind kind = Kind::Nobody;
    QList<Right> rights; // AnyOf only

    bool allows(const QList<Right> &held) const;
};

// What writing `table` needs; the name is compared without regard to case.
// A table the program does not know is schema work, which needs Maintenance.
WritePermission writePermission(const QString &table, Write write);

// Every table the program knows the rights of, in a stable order.
QStringList knownTables();

// A table and the ways a right, or every account, may write it: what a
// server grants the group role of a right.
struct TableWrites
{
    QString table;
    QList<Write> writes;
};
QList<TableWrites> tablesWritableWith(Right right);
QList<TableWrites> tablesWritableByAnyone();

} // namespace accounts
