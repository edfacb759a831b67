#pragma once

#include <QString>
#include <QtGlobal>
#include <stdexcept>

namespace jet {

// The engine's error numbers, as the windows test for them.  Every failure
// that leaves the engine carries one of these; SQLite's own codes never do.
namespace err {
constexpr qint32 GeneralFailure = qint32(0x80004005);      // E_FAIL: cannot open, refused
constexpr qint32 SyntaxError = qint32(0x80040E14);         // errors in the command text
constexpr qint32 TableMissing = qint32(0x80040E37);        // no such table or query
constexpr qint32 ColumnMissing = qint32(0x80040E10);       // no such column (Jet: "no value given")
constexpr qint32 ConversionFailed = qint32(0x80040E07);    // value not convertible in a criterion
constexpr qint32 CompactTargetExists = qint32(0x80040E17); // compaction target already there
constexpr qint32 UpdateCancelled = qint32(0x80040E4E);     // a bound control cancelled the update
constexpr qint32 InvalidArgument = 3001;                   // malformed filter, bad argument
constexpr qint32 InvalidArgumentHr = qint32(0x80070057);   // E_INVALIDARG
constexpr qint32 ItemNotFound = 3265;                      // no field of that name
constexpr qint32 NotSupported = 3251;                      // operation not allowed on this recordset
constexpr qint32 NoCurrentRecord = 3021;                   // BOF or EOF, or row deleted
constexpr qint32 ObjectClosed = 3704;                      // recordset or connection not open
constexpr qint32 FileNotFound = 3024;                      // catalog opened on a missing file
constexpr qint32 FieldDefinedTwice = 3191;                 // column already in the table
constexpr qint32 FieldTooSmall = 3163;                     // text longer than its column's size
constexpr qint32 RecordDeleted = 3167;                     // the row read is no longer there
constexpr qint32 DataChanged = 3197;                       // another connection changed a field being written
constexpr qint32 BindingColumnMissing = 545;               // bound control names a missing column
constexpr qint32 PermissionDenied = 70;                    // a file that cannot be replaced or written
constexpr qint32 DatabaseDamaged = 3049;                   // not a database, or its pages are damaged
constexpr qint32 NoPermission = 3033;                      // the account may not do this (Jet: no permission)
} // namespace err

// Why the store refused, as far as the caller's answer depends on it: a busy
// or serialization failure passes and may be tried again, a corrupt store
// needs its administrator, and neither is read from a message's wording.
enum class Cause {
    Other,
    Busy,          // another connection holds a lock
    Constraint,    // a key, a uniqueness or a NOT NULL rule refused the change
    DiskFull,
    Io,            // the storage could not be read or written
    ReadOnly,
    Corrupt,       // not a database, or its pages are damaged
    ConnectionLost,
    Serialization, // the transaction met a concurrent change and must begin again
    Authentication,
    Permission,    // the account logged in may not do it: refused before anything was written
};

// Whether the same work may succeed when tried again as it is, so that the
// program keeps what the user typed and lets the user try again rather than
// ending: the server could not be reached, and the next try connects anew.
// The other causes are answered by the error's number, as a file's are.
bool isRetryable(Cause cause);

class Error : public std::runtime_error
{
public:
    Error(qint32 number, const QString &description, Cause cause = Cause::Other);

    qint32 number() const { return m_number; }
    Cause cause() const { return m_cause; }
    QString description() const { return m_description; }
    // The number as the platform shows it, e.g. "-2147467259" for E_FAIL.
    QString numberText() const;

private:
    qint32 m_number;
    QString m_description;
    Cause m_cause;
};

} // namespace jet
