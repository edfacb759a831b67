#pragma once

#include "db/audit.h"
#include "db/engine/command.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/schema.h"

#include <QString>
#include <QVariant>
#include <array>
#include <memory>

namespace report {

// The institution's texts the reports print, from the options window's boxes
// or, without a window, from the one row of 病院名.
struct Institution
{
    QString name;
    QString department;
    QString address;
    QString telephone;
};

// The report data source: one connection, pointed at the database the
// location file names when first used, and named commands whose results the
// layouts print.  A result stays open until its report ends and closes it, so
// that the next launch runs the command again with the new key.  The
// connection is open only while a result is, so that the database can be
// compacted whenever no document is being shown.
class DataSource
{
public:
    // The admission records of the last week and of the last two weeks
    // follow the six commands of the documents; today's certificates read
    // one certificate record by its ID.
    enum class Command {
        Patient,
        Certificate,
        Treatment,
        Psychotherapy1,
        Psychotherapy2,
        Psychotherapy3,
        AdmissionRecords1,
        AdmissionRecords2,
        CertificateRecord
    };

    // The program's one data source, over the location file of its folder,
    // created on first use and kept until the program ends.
    static DataSource &instance();
    // Over the database the location file in `programFolder` names, or over
    // `databasePath` when one is given.
    explicit DataSource(const QString &programFolder, const QString &databasePath = {});

    // The command's Jet text; the admission records' text follows the room
    // order the in-patient list was last given.
    static QString sqlOf(Command command, db::RoomOrder order = db::RoomOrder::Ascending);
    static bool takesKey(Command command);
    // What a keyed command's key is: 入退院ID, カルテID or 診断書ID; empty
    // for a ward's document, which takes none.
    static QString keyName(Command command);
    // The days up to today whose admissions and discharges an admission
    // record lists, 0 for the other commands.
    static int periodOf(Command command);

    // The command's one parameter PrmNo, the episode or the chart; another
    // key closes the result, so that the command runs again for it.
    void setKey(Command command, const QVariant &key);
    // The result, running the command first when it is not open.
    jet::Recordset &result(Command command);
    // Closes the result; a result that is not open is left as it is.
    void close(Command command);
    // The one row of 病院名, for a renderer without the options window.
    Institution institution();
    // For a keyed command whose result is empty: the row its key names, or
    // the first of its code references that is empty or names no code, as
    // a sentence for the user; empty when the row and its codes are there.
    QString missingReference(Command command);
    // Appends a document's printing or writing to the trail of the database.
    void record(const db::audit::Event &event);

private:
    void connect();
    void disconnectWhenIdle();
    db::RoomOrder roomOrder();

    static constexpr int kCommands = 9;
    QString m_folder;
    QString m_database; // when named directly
    jet::Connection m_connection;
    std::array<jet::Command, kCommands> m_commands;
    std::array<std::unique_ptr<jet::Recordset>, kCommands> m_results;
};

// The trail's event for document `name` put out for `key`: its name and key,
// and the patient of its rows where they are one patient's.
db::audit::Event documentEvent(const QString &action, const QString &name, const QVariant &key,
                               const jet::Recordset &rows);

} // namespace report
