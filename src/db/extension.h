#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace jet {
class Catalog;
class Connection;
} // namespace jet

namespace db {

// Tables of our own beside the ledger's: each extension keeps its version in
// a table of its own, so the generation tables, their version row and the
// start-up probe never see it, and a file that has it opens in an older
// program as before.
struct Extension
{
    // Step n brings the extension from version n to version n + 1; the
    // extension's current version is the number of its steps.
    using Step = std::function<void(jet::Catalog &, jet::Connection &)>;

    QString versionTable;
    // How a message names the extension, e.g. "診断書記録".
    QString title;
    QList<Step> steps;

    int currentVersion() const { return int(steps.size()); }
};

// The extension's version in the database: 0 when it has none.  Throws as
// the engine does when the database cannot be read.
int extensionVersion(jet::Connection &connection, const Extension &extension);

// Whether the connection may create or upgrade an extension: only the
// database's owner may change its tables, which on a server a staff
// account's role is not.
bool mayExtend(jet::Connection &connection);

// Creates the extension, or brings an older one up to its current version,
// in one transaction: a failure part-way leaves the database as it was.
// Throws jet::Error(err::GeneralFailure) when the database's extension is
// newer than this program's, and whatever the engine throws.
void extendDatabase(jet::Connection &connection, const Extension &extension);

} // namespace db
