#pragma once

#include <QString>
#include <QtGlobal>

namespace jet {
class Connection;
}

namespace db {

// The platform's file errors, as reading the location file raises them.
namespace fileerr {
constexpr qint32 FileNotFound = 53;       // "ファイルが見つかりません。"
constexpr qint32 InputPastEndOfFile = 62; // "ファイルにこれ以上データがありません。"
constexpr qint32 PathFileAccess = 75;     // "パス/ファイル アクセス エラーです。"
} // namespace fileerr

// The folder of the executable, which holds the location file and, in a
// default installation, the database.
QString programFolder();

// The home folder stands in for the system drive's root, where the
// spreadsheet exports and the compaction's work file are written.
QString systemDriveRoot();

// Maps a fixed Windows path of the program to this system: the installation
// folder "C:\Program Files\NORVA\" becomes `programFolder`, the drive root
// "C:\" the home folder; backslashes become slashes.  Other paths are
// returned unchanged.
QString localPath(const QString &windowsPath, const QString &programFolder);
// The same with the folder that stands for the drive root given.
QString localPath(const QString &windowsPath, const QString &programFolder, const QString &driveRootFolder);

// "C:\Program Files\NORVA\norva2000.mdb" in the installation folder.
QString defaultDatabasePath(const QString &programFolder);

// Reads the database path from "norva.txt" in `folder`, afresh on every call:
// its first field, leading blanks skipped; a field in double quotes keeps its
// commas, otherwise it ends at the first comma or line end.  The file is read
// as UTF-8, or as the Japanese Windows code page when it is not valid UTF-8.
// Throws jet::Error with a fileerr number when the file is missing,
// unreadable or holds nothing but blanks.
QString readDatabasePath(const QString &folder);
// Writes "norva.txt" in `folder` naming `databasePath` so that the reading
// above gives it back (quoted where a comma or a leading blank would cut it),
// whole or not at all, with the access jet::restrictNewFile() gives or, in
// place of an earlier file, that file's.  Throws
// jet::Error(fileerr::PathFileAccess) when the file cannot be written.
void writeDatabasePath(const QString &folder, const QString &databasePath);
// The location file's name in a program folder.
QString locationFilePath(const QString &folder);

// The password a stock database file is keyed with, published with the system.
QString publishedPassword();
// The password the process opens the database with: the published one, or,
// once the process holds a protected file's own key, the engine's password
// that stands for it (see db/filekey.h).
QString databasePassword();

// The provider a window connection is given before its connection string.
QString shapingProvider();

// The connection string under the data-shaping provider, for window and
// per-operation connections.
QString shapedConnectionString(const QString &databasePath);

// The connection string naming the provider itself, for catalog connections
// and the source of the compaction.
QString plainConnectionString(const QString &databasePath);
// The same with another password.
QString plainConnectionString(const QString &databasePath, const QString &password);

// The report data source's designed string
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\Program Files\NORVA\norva2000.mdb;Persist Security Info=False;Jet OLEDB:Database Password=tamik4062;"
// with its data source set to `databasePath`, quoted only where the path
// could not otherwise be read back.
QString reportConnectionString(const QString &databasePath);

// Reads the path from the location file in `folder`, sets the shaping
// provider and the shaped string, and opens `connection`, whose saves keep
// their history and whose writes the session's rights guard.  The file
// errors above and the engine's open errors propagate.
void openWindowConnection(jet::Connection &connection, const QString &folder);

} // namespace db
