#pragma once

#include <QList>
#include <QString>

namespace jet {
class Recordset;
}

namespace toolkit {

// A field another workstation changed while this one edited it, as the
// window shows it: its caption and both values as text.
struct ChangedField
{
    QString caption;
    QString theirs; // stored now by the other workstation
    QString mine;   // typed here
};

enum class ConflictChoice { KeepMine, TakeTheirs, Back };

// Names each field with both values and asks which to keep: this
// workstation's input written over the other's, the other's change read in
// (the other edits stay), or back to the window with nothing decided.  Back
// is the default and the answer of Escape.
ConflictChoice askAboutChangedFields(const QList<ChangedField> &fields);

// Asks about the fields of the recordset's last update that another
// workstation changed, and readies the row for storing again as the user
// chose; false when the user went back, the edit still pending.
bool settleChangedFields(jet::Recordset &row, const QList<ChangedField> &fields);

} // namespace toolkit
