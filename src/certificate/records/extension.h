#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace jet {
class Connection;
}

namespace certificates {

// The certificate records are an extension of the database of our own: new
// tables beside the 2003 certificate table, with a version row of their own.
// The generation tables, their version row and the start-up probe never see
// them, so a file that has them opens in an older program as before.
inline constexpr QStringView kRecordTable = u"診断書記録";
inline constexpr QStringView kItemTable = u"診断書項目";
inline constexpr QStringView kSettingsTable = u"診断書設定";
inline constexpr QStringView kVersionTable = u"診断書記録バージョン";

// What a new extension starts with: the ministry's forms, and renewals
// listed from three months before the end of validity.
inline constexpr QStringView kDefaultVariant = u"national";
inline constexpr int kDefaultRenewalMonths = 3;

// The extension's version this program writes.
inline constexpr int kExtensionVersion = 1;

// The names of the extension's tables at kExtensionVersion.
QList<QString> extensionTables();

// The extension's version in the file: 0 when it has none.  Throws as the
// engine does when the file cannot be read.
int extensionVersion(jet::Connection &connection);

// Creates the extension, or brings an older one up to kExtensionVersion, in
// one transaction: a failure part-way leaves the file as it was; on a server
// the staff's roles are then granted its tables.  Only the database's owner
// may (db::mayExtend()); throws jet::Error(err::GeneralFailure) for
// anyone else, when the file's extension is newer than this program's, and
// whatever the engine throws.
void extendDatabase(jet::Connection &connection);

} // namespace certificates
