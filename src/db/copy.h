#pragma once

#include "db/engine/transfer.h"

#include <QString>

namespace db {

// Copies the ledger at `source` into `target`, each a file or a server's
// database: every table, index, stored query and row, the version row as it
// is and every key as it is.  The target must be new: a file that does not
// exist yet, made as createDatabase() makes one, or a server's database whose
// schema public holds nothing.  The copy is one transaction on the target and
// is checked before it is committed, table by table, by number of rows and
// sum; a failure, that check's included, leaves the target as it was (no
// file).  Throws jet::Error naming the target or the table that differs.
void copyDatabase(const QString &source, const QString &target, const jet::CopyProgress &progress = {});

} // namespace db
