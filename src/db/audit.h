#pragma once

#include <QDate>
#include <QDateTime>
#include <QVariant>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <optional>

namespace jet {
class Connection;
}

namespace db::audit {

// The audit trail and the change history are an extension of our own (see
// db/extension.h).  The trail is never optional once a database has it: the
// program adds it at its first start on a database, norva-db create and demo
// make it with the ledger.
inline constexpr QStringView kTrailTable = u"監査記録";
inline constexpr QStringView kHeadTable = u"監査記録先頭";
inline constexpr QStringView kHistoryTable = u"変更履歴";
inline constexpr QStringView kVersionTable = u"監査記録バージョン";
inline constexpr int kExtensionVersion = 3;

// What the trail records, in its 操作 column.
namespace action {
// Changes to the staff accounts, the rights table and their settings; the
// detail names the account acted on.
inline constexpr QStringView AccountCreated = u"アカウント作成";
inline constexpr QStringView PasswordReset = u"パスワード再設定";
inline constexpr QStringView PasswordChanged = u"パスワード変更";
inline constexpr QStringView RoleChanged = u"役割変更";
inline constexpr QStringView AccountDisabled = u"無効化";
inline constexpr QStringView AccountEnabled = u"有効化";
inline constexpr QStringView AccountUnlocked = u"アカウントのロック解除";
inline constexpr QStringView SecondFactorEnrolled = u"二要素登録";
inline constexpr QStringView SecondFactorRemoved = u"二要素削除";
inline constexpr QStringView RightsChanged = u"権限変更";
inline constexpr QStringView SettingsChanged = u"設定変更";

inline constexpr QStringView Save = u"保存";
inline constexpr QStringView Registration = u"入退院登録";
inline constexpr QStringView Deletion = u"入退院削除";
inline constexpr QStringView Opening = u"記録表示";
inline constexpr QStringView Printing = u"印刷";
inline constexpr QStringView Pdf = u"PDF保存";
inline constexpr QStringView Export = u"エクスポート";
inline constexpr QStringView Statistics = u"統計";
inline constexpr QStringView Maintenance = u"保守";
inline constexpr QStringView Login = u"ログイン";
inline constexpr QStringView LoginFailure = u"ログイン失敗";
inline constexpr QStringView Logoff = u"ログオフ";
inline constexpr QStringView Lock = u"ロック";
inline constexpr QStringView Unlock = u"ロック解除";
// An administrator ended a locked session without saving anything of it.
inline constexpr QStringView ForcedLogoff = u"強制ログオフ";
} // namespace action

// What a change history row's 変更 column says of its row; rows kept before
// the column was added are updates.
namespace change {
inline constexpr QStringView Update = u"変更";
inline constexpr QStringView Insert = u"追加";
inline constexpr QStringView Delete = u"削除";
} // namespace change

// The extension's version in the database: 0 when it has none.
int extensionVersion(jet::Connection &connection);
// Creates the trail and the history, or brings them up to date, in one
// transaction; throws as db::extendDatabase does.
void extendDatabase(jet::Connection &connection);
bool hasTrail(jet::Connection &connection);

struct Event
{
    QString action;
    QString detail;
    std::optional<qint64> chart;   // カルテID
    std::optional<qint64> episode; // 入退院ID
};

// Appends one event for the session's account, workstation and version, in
// the caller's transaction if there is one: the event is kept or undone with
// the work it records.  The trail's head row is locked first, so appenders on
// several workstations take their turns and each row follows the one before.
// A database without the trail (made by an older program and not yet opened
// by this one) is left as it is.  An action the session's rights do not
// allow (opening a record, registering, printing, exporting, statistics,
// maintenance) is refused with jet::Error(err::NoPermission) before anything
// is written.
void append(jet::Connection &connection, const Event &event);

// A refused login, with the reason the window showed.  The detail keeps the
// login ID only when it names an account, so that a password typed into the
// ID's box by mistake is never written down.  On a server this is all that
// a workstation may write before anyone logs in.
void appendFailedLogin(jet::Connection &connection, const QString &loginId, const QString &reason);

// A window that shows one patient's data.  Its opening is recorded on its
// own connection before it is shown (app/windows.cpp hears the openings), so
// that nobody sees a patient's data without a row saying so.
class PatientWindow
{
public:
    virtual ~PatientWindow() = default;
    virtual jet::Connection &trailConnection() = 0;
    // The window's title in the detail, with the patient it shows.
    virtual Event openingEvent() const = 0;
};

// The newest row's number and hash, as the head row keeps them and as
// backups and checks note them, "COUNT:HASH"; 0 and 64 zeros for an empty trail.
struct Head
{
    qint64 count = 0;
    QString hash;

    QString text() const;
    // Empty for text that is not COUNT:HASH.
    static std::optional<Head> parse(const QString &text);
    bool operator==(const Head &) const = default;
};
Head head(jet::Connection &connection);

// What verify() finds: the head row, and a line for each row altered,
// deleted or inserted and for a tail shorter than the one expected.
struct Verification
{
    Head head;
    qint64 rows = 0;
    QStringList findings;
    bool sound() const { return findings.isEmpty(); }
};

// Reads the whole trail and recomputes its chain.  `expected` is a head
// noted earlier (in a backup, by a check): the trail must still reach it,
// and its row must still carry its hash.
Verification verify(jet::Connection &connection, const std::optional<Head> &expected = {});

// Writes the events of the days `from` to `to` (UTC, both included) to a new
// CSV file (UTF-8; a value in double quotes, a Null as an empty field), with their numbers and hashes so
// that the archive can be held against the chain.  Returns the rows written.
// Throws jet::Error(err::GeneralFailure) when the file exists or cannot be written.
int exportPeriod(jet::Connection &connection, const QDate &from, const QDate &to, const QString &file);

// Appends "TIME COUNT:HASH" to COPY.audit, made readable by its owner alone:
// the head a copy of the database (a backup, the compaction's old file) held
// when it was made.  The notes are never moved with the copies, so the last
// line is the newest copy's.  Throws jet::Error(err::GeneralFailure) when the
// file cannot be written.
void noteHead(const QString &copy, const Head &head);

// Lets every save through the connection's recordsets keep the previous
// values of the columns it changed in the change history, and record itself
// in the trail, in the save's own transaction.  A row added keeps its
// columns without a previous value, a row deleted all its values.
void recordChanges(jet::Connection &connection);

// The trail's form of a moment, "2026-12-10T09:30:00Z" (UTC), and back; an
// invalid moment for text of another form.
QString timeText(const QDateTime &moment);
QDateTime fromTimeText(const QString &text);
// A value as the change history keeps it: a date and time as
// "yyyy-MM-ddTHH:mm:ss", anything else as its text; Null as a null string.
QString historyText(const QVariant &value);

} // namespace db::audit
