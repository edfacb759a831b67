#pragma once

// One workstation of the load driver, in a process of its own: a ward's mix
// of work through the program's own engine, episode module, ledger queries
// and report engine, with a person's pause between two pieces of work.  Each
// piece of work and each acknowledged save is one line on standard output,
// which the driver reads once the workstation ends.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtGlobal>

namespace load {

// The pieces of work whose latency is measured, in the order they are printed.
enum class Operation {
    InpatientLedger,
    AllPatientLedger,
    KanaSearch,
    RecordOpen,
    Save,
    Registration,
    Print,
};
inline constexpr int kOperations = 7;
QString operationName(Operation operation);

// The fields the workstations edit, each in its own table and addressed by
// that table's key: a save of one patient's address may meet a save from
// another episode of the same patient.
struct EditedField
{
    QString column;
    QString table;
    QString key;
};
const QList<EditedField> &editedFields();

struct ClientSettings
{
    QString dataSource;
    QString runFolder;   // holds the episodes file; the PDFs go into a folder of the client's own there
    QString tag;         // makes the values written unique to the run
    int client = 0;
    quint32 seed = 1;
    int seconds = 10;
    int thinkMs = 2000;  // the mean pause between two pieces of work
    QList<qint64> hot;   // the episodes every workstation edits
};

// The episodes of the database with their charts, one "episode chart" pair a
// line, as the driver writes them for the clients.
QString episodesFileName(const QString &runFolder);

// Lines on standard output, fields separated by tabs; values percent-encoded,
// "-" standing for Null:
//   op OPERATION MS STATEMENTS        (the statements sent to a server)
//   conflict EPISODE FIELD
//   ack FIELD KEY BEFORE AFTER        (FIELD an index into editedFields())
//   reg CHART EPISODE
//   error OPERATION NUMBER DESCRIPTION
int runClient(const ClientSettings &settings);

QString encodeValue(const QVariant &value);
QString decodeValue(const QString &text, bool *isNull);

} // namespace load
