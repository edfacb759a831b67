#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace jet {
class Connection;
}

namespace accounts {

// The staff accounts are an extension of the database of our own, with a
// version row of their own, so that a file that has them opens in an older
// program as before.
inline constexpr QStringView kAccountTable = u"職員";
inline constexpr QStringView kRightsTable = u"役割権限";
inline constexpr QStringView kSettingsTable = u"職員管理設定";
inline constexpr QStringView kVersionTable = u"職員管理バージョン";

// The longest display name the accounts table holds.
inline constexpr int kDisplayNameLength = 50;

// The states of an account as the accounts table stores them.
inline constexpr QStringView kActive = u"有効";
inline constexpr QStringView kLocked = u"ロック";
inline constexpr QStringView kDisabled = u"無効";

// What a new extension starts with: five failed attempts lock an account for
// fifteen minutes; ten idle minutes lock the screen.
inline constexpr int kDefaultFailuresBeforeLock = 5;
inline constexpr int kDefaultLockMinutes = 15;
inline constexpr int kDefaultIdleMinutes = 10;

inline constexpr int kExtensionVersion = 1;

// The extension's version in the database: 0 when it has none.
int extensionVersion(jet::Connection &connection);

// Creates the extension with the default rights and settings, or brings an
// older one up to kExtensionVersion, in one transaction.  Throws as
// db::extendDatabase does.
void extendDatabase(jet::Connection &connection);

} // namespace accounts
