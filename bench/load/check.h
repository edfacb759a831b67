#pragma once

// What the driver finds in the database once every workstation has ended:
// whether each acknowledged save is still there, and whether each
// registration made an episode of its own.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace jet {
class Connection;
}

namespace load {

// A save a workstation was told went through: the field's value it read and
// the one it wrote.
struct Acknowledged
{
    int field = 0; // into editedFields()
    QString key;
    QVariant before;
    QVariant after;
};

struct Registered
{
    qint32 chart = 0;
    qint64 episode = 0;
};

struct Findings
{
    int fieldsChecked = 0;
    int lostUpdates = 0;
    int registrationsChecked = 0;
    QStringList faults; // one sentence each, for lost updates and broken registrations alike
};

// Every field written must hold the last of one chain of acknowledged saves
// from its first value: each save read what the save before it wrote.  A save
// missing from the chain was lost, whether another overwrote it unseen or it
// never reached the database.  Every registration must have an episode no
// other registration got, of its chart, with one row of each companion table.
Findings check(jet::Connection &connection, const QList<Acknowledged> &saves, const QList<Registered> &registrations);

} // namespace load
