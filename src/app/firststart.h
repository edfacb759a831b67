#pragma once

#include <QString>

namespace app {

// "norva" in the user's data folder ($XDG_DATA_HOME, by default
// ~/.local/share): where a user of a shared installation keeps the program's
// folder of their own.
QString userProgramFolder();

// The program's folder for this session.  The installation's own folder
// (the executable's) when it holds the location file or its user may write
// it, as with an installation in a home folder.  A shared installation
// (/opt/norva from the package) that holds no location file gives each user
// `userFolder` instead, prepared by `prepareUserFolder`; a hospital that
// wants every user on one database puts a location file in the installation.
QString sessionProgramFolder(const QString &installationFolder, const QString &userFolder);

// Readies a user's program folder: on first start an empty database
// "norva2000.mdb" and a location file naming it; on every start links to the
// installation's help ("Index.chm" and the manual) where the folder has none
// of its own.  A location file that is there is never touched, nor is a
// database created for one, so a database gone missing is reported, not
// silently replaced.  Throws jet::Error when the folder, the database or the
// location file cannot be made.
void prepareUserFolder(const QString &userFolder, const QString &installationFolder);

// On a ledger no one has set up yet (no patients, 性別 or 入院形態 empty but
// for its placeholder) says what to set up first and where, and offers the
// common rows of those two tables in one step.  A ledger that stays empty is
// offered them again at the next start; one that has them is never asked.
void guideNewLedger(const QString &programFolder);

// On a database without today's certificate records, or with those of an
// older program, asks whether to add them; yes creates them in one
// transaction, no leaves the file as it was and the ledgers as before, and
// the question comes again at the next start.  A file whose records are of a
// newer program is left alone.  Only a session with the maintenance right is
// asked; where its account may not change the tables (a server's staff
// role), it is told the command the database's owner runs instead.  A
// failure is told with its cause, and the program goes on without the
// records.
void offerCertificateRecords(const QString &programFolder);

} // namespace app
