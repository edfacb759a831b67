#include "db/audit.h"

#include "db/accounts/extension.h"
#include "db/accounts/serverroles.h"
#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/extension.h"
#include "db/session.h"
#include "db/sessionrights.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace db::audit {

using namespace Qt::StringLiterals;
using jet::DataType;
using jet::IndexDef;
using jet::TableDef;
using namespace db::columns;

namespace {

const QString kNoHash = QString(64, u'0');

// The trail's columns in the order the hash takes them; ハッシュ follows.
const QStringList kTrailColumns{u"記録番号"_s, u"時刻"_s,   u"アカウント"_s, u"端末"_s,   u"版"_s,
                                u"操作"_s,     u"カルテID"_s, u"入退院ID"_s,   u"詳細"_s};

TableDef trailTable()
{
    TableDef table;
    table.name = kTrailTable.toString();
    // Times are kept as text, "2026-12-10T09:30:00Z": the very characters
    // the hash covers, alike on every back end, and in time order as text.
    table.columns = {key(u"記録番号"_s),
                     column(u"時刻"_s, DataType::Text, 20),
                     column(u"アカウント"_s, DataType::Text, 32),
                     column(u"端末"_s, DataType::Text, 64),
                     column(u"版"_s, DataType::Text, 20),
                     column(u"操作"_s, DataType::Text, 30),
                     column(u"カルテID"_s, DataType::Long),
                     column(u"入退院ID"_s, DataType::Long),
                     column(u"詳細"_s, DataType::Memo),
                     column(u"ハッシュ"_s, DataType::Text, 64)};
    table.indexes = {primaryKey(u"記録番号"_s), IndexDef{u"時刻"_s, {u"時刻"_s}, false, false},
                     IndexDef{u"カルテID"_s, {u"カルテID"_s}, false, false}};
    return table;
}

TableDef headTable()
{
    TableDef table;
    table.name = kHeadTable.toString();
    table.columns = {autoNumber(u"先頭ID"_s), column(u"件数"_s, DataType::Long),
                     column(u"ハッシュ"_s, DataType::Text, 64)};
    table.indexes = {primaryKey(u"先頭ID"_s)};
    return table;
}

TableDef historyTable()
{
    TableDef table;
    table.name = kHistoryTable.toString();
    table.columns = {autoNumber(u"履歴ID"_s),
                     column(u"時刻"_s, DataType::Text, 20),
                     column(u"アカウント"_s, DataType::Text, 32),
                     column(u"表"_s, DataType::Text, 64),
                     column(u"キー"_s, DataType::Text, 64),
                     column(u"列"_s, DataType::Text, 64),
                     column(u"旧値"_s, DataType::Memo),
                     column(u"カルテID"_s, DataType::Long),
                     column(u"入退院ID"_s, DataType::Long)};
    table.indexes = {primaryKey(u"履歴ID"_s), IndexDef{u"入退院ID"_s, {u"入退院ID"_s}, false, false},
                     IndexDef{u"カルテID"_s, {u"カルテID"_s}, false, false}};
    return table;
}

db::Extension extension()
{
    db::Extension ours;
    ours.versionTable = kVersionTable.toString();
    ours.title = u"監査記録"_s;
    ours.steps = {
        [](jet::Catalog &catalog, jet::Connection &connection) {
            for (const TableDef &table : {trailTable(), headTable(), historyTable()})
                catalog.createTable(table);
            connection.execute(u"INSERT INTO `%1` (件数, ハッシュ) VALUES (?, ?)"_s.arg(kHeadTable), {0, kNoHash});
        },
        [](jet::Catalog &catalog, jet::Connection &) {
            // The audit window reads a trail of millions of rows for one
            // account, action or episode, newest first, a page at a time.
            const QString trail = kTrailTable.toString();
            catalog.createIndex(trail, IndexDef{u"アカウント"_s, {u"アカウント"_s, u"記録番号"_s}, false, false});
            catalog.createIndex(trail, IndexDef{u"操作"_s, {u"操作"_s, u"記録番号"_s}, false, false});
            catalog.createIndex(trail, IndexDef{u"入退院ID"_s, {u"入退院ID"_s}, false, false});
            catalog.appendColumn(kHistoryTable.toString(), column(u"変更"_s, DataType::Text, 10));
        },
        [](jet::Catalog &catalog, jet::Connection &) {
            // A period with an account or an action: by the index above, the
            // planner walks every row of the account, newest first, to find
            // one day's among them (seconds on two million rows); by these,
            // only that day's.
            const QString trail = kTrailTable.toString();
            catalog.createIndex(trail, IndexDef{u"アカウント時刻"_s, {u"アカウント"_s, u"時刻"_s}, false, false});
            catalog.createIndex(trail, IndexDef{u"操作時刻"_s, {u"操作"_s, u"時刻"_s}, false, false});
        },
    };
    Q_ASSERT(ours.currentVersion() == kExtensionVersion);
    return ours;
}

QString dayStart(const QDate &day)
{
    return day.toString(Qt::ISODate) + u"T00:00:00Z"_s;
}

QString nowText()
{
    return timeText(jet::Clock::now());
}

// The bytes a row's hash covers: each column of kTrailColumns in turn, a
// Null as "-" and a value as its UTF-8 length in decimal, ":" and its UTF-8
// bytes (numbers in decimal, times as stored), then the previous row's hash
// in lower-case hex (64 zeros before the first row).  Lengths keep any text
// from passing for a boundary, and Null from passing for the empty text.
QByteArray canonical(const QVariantList &values, const QString &previousHash)
{
    QByteArray bytes;
    for (const QVariant &value : values) {
        if (value.isNull()) {
            bytes += '-';
            continue;
        }
        const QByteArray text = value.metaType().id() == QMetaType::QString
            ? value.toString().toUtf8()
            : QByteArray::number(value.toLongLong());
        bytes += QByteArray::number(text.size()) + ':' + text;
    }
    return bytes + previousHash.toLatin1();
}

QString hashOf(const QVariantList &values, const QString &previousHash)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(canonical(values, previousHash), QCryptographicHash::Sha256).toHex());
}

// A Long column's value in the form the hash takes: the engine reads Longs
// back as whatever integer type its back end holds.
QVariant longValue(const QVariant &value)
{
    return value.isNull() ? QVariant() : QVariant(value.toLongLong());
}

QVariant textValue(const QVariant &value)
{
    return value.isNull() ? QVariant() : QVariant(value.toString());
}

// A row read with kTrailColumns, in the form the hash takes.
QVariantList trailValues(const jet::Recordset &rows)
{
    QVariantList values;
    for (int i = 0; i < kTrailColumns.size(); ++i) {
        const QVariant value = rows.value(i);
        const bool isLong = i == 0 || i == 6 || i == 7;
        values.append(isLong ? longValue(value) : textValue(value));
    }
    return values;
}

QVariant optionalLong(const std::optional<qint64> &value)
{
    return value ? QVariant(*value) : QVariant();
}

// A value in double quotes, a Null as nothing at all: the hash tells the
// two apart, and so must the archive.
QString quotedField(const QVariant &value)
{
    if (value.isNull())
        return {};
    QString text = value.toString();
    return u'"' + text.replace(u'"', u"\"\""_s) + u'"';
}

} // namespace

QString timeText(const QDateTime &moment)
{
    return moment.toUTC().toString(u"yyyy-MM-ddTHH:mm:ss"_s) + u'Z';
}

QDateTime fromTimeText(const QString &text)
{
    QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    return moment.isValid() && moment.timeSpec() == Qt::UTC ? moment : QDateTime();
}

QString historyText(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().toString(u"yyyy-MM-ddTHH:mm:ss"_s);
    return value.toString();
}

int extensionVersion(jet::Connection &connection)
{
    return db::extensionVersion(connection, extension());
}

void extendDatabase(jet::Connection &connection)
{
    db::extendDatabase(connection, extension());
    // On a server, with the functions that append to it.
    accounts::updateServerRoles(connection);
}

bool hasTrail(jet::Connection &connection)
{
    return connection.driver().findObject(kHeadTable.toString()).has_value();
}

namespace {

// On a server the accounts' roles may not write the trail's tables: the
// server's functions, run as the database's owner, append to them, number
// and hash the rows there, and name the account logged in whatever the
// caller says (see db/accounts/serverroles.sql).
bool appendsOnServer(jet::Connection &connection)
{
    return connection.driver().dialect() == jet::Dialect::Postgres;
}

void callOnServer(jet::Connection &connection, const QString &function, const QVariantList &arguments)
{
    const std::unique_ptr<jet::DriverResult> call =
        connection.driver().prepare(u"SELECT %1(%2)"_s.arg(function, QStringList(arguments.size(), u"?"_s).join(u", "_s)));
    call->bindAll(arguments);
    while (call->step()) {
    }
}

// Appends to a trail the caller knows is there.
void appendToTrail(jet::Connection &connection, const Event &event)
{
    const Session &who = session();
    jet::Transaction transaction(connection);
    if (appendsOnServer(connection)) {
        callOnServer(connection, u"norva.append_event"_s,
                     {nowText(), who.account.left(32), who.workstation.left(64), who.programVersion.left(20),
                      event.action.left(30), optionalLong(event.chart), optionalLong(event.episode),
                      event.detail.isNull() ? QVariant() : QVariant(event.detail)});
        transaction.commit();
        return;
    }
    // Taken before the head is read: until this transaction ends, no other
    // appender reads the head this one is about to move on.
    connection.execute(u"UPDATE `%1` SET 件数 = 件数"_s.arg(kHeadTable));
    const Head previous = head(connection);
    const QVariantList values{QVariant(previous.count + 1),
                              nowText(),
                              who.account.left(32),
                              who.workstation.left(64),
                              who.programVersion.left(20),
                              event.action.left(30),
                              optionalLong(event.chart),
                              optionalLong(event.episode),
                              event.detail.isNull() ? QVariant() : QVariant(event.detail)};
    const QString hash = hashOf(values, previous.hash);
    connection.execute(u"INSERT INTO `%1` (%2, ハッシュ) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s.arg(
                           kTrailTable, kTrailColumns.join(u", "_s)),
                       values + QVariantList{hash});
    connection.execute(u"UPDATE `%1` SET 件数 = ?, ハッシュ = ?"_s.arg(kHeadTable), {previous.count + 1, hash});
    transaction.commit();
}

} // namespace

namespace {

// The right an action of the trail needs.  Recorded before it is done, an
// action the session may not do is refused here, wherever it was asked for.
// A save is its table's, which the write guard answers.
std::optional<accounts::Right> rightToDo(const QString &done)
{
    if (done == action::Opening)
        return accounts::Right::ViewRecords;
    if (done == action::Registration || done == action::Deletion)
        return accounts::Right::RegisterEpisodes;
    if (done == action::Printing || done == action::Pdf)
        return accounts::Right::PrintDocuments;
    if (done == action::Export)
        return accounts::Right::Export;
    if (done == action::Statistics)
        return accounts::Right::Statistics;
    if (done == action::Maintenance)
        return accounts::Right::Maintenance;
    return std::nullopt;
}

} // namespace

void append(jet::Connection &connection, const Event &event)
{
    if (const std::optional<accounts::Right> right = rightToDo(event.action))
        requireSessionMay(connection, *right);
    if (hasTrail(connection))
        appendToTrail(connection, event);
}

void appendFailedLogin(jet::Connection &connection, const QString &loginId, const QString &reason)
{
    if (!hasTrail(connection))
        return;
    const QString typed = loginId.trimmed();
    if (appendsOnServer(connection)) {
        const Session &who = session();
        jet::Transaction transaction(connection);
        callOnServer(connection, u"norva.append_failed_login"_s,
                     {typed, reason, nowText(), who.account.left(32), who.workstation.left(64),
                      who.programVersion.left(20)});
        transaction.commit();
        return;
    }
    jet::Recordset known;
    known.openCommand(u"SELECT Count(*) AS 数 FROM `%1` WHERE ログインID = ?"_s.arg(accounts::kAccountTable), &connection,
                      {typed.toLower()}, jet::CursorType::ForwardOnly);
    const QString detail = known.value(0).toInt() > 0 ? u"ログインID %1: %2"_s.arg(typed, reason)
                                                      : u"登録のないログインID: %1"_s.arg(reason);
    known.close();
    append(connection, {action::LoginFailure.toString(), detail, {}, {}});
}

QString Head::text() const
{
    return u"%1:%2"_s.arg(count).arg(hash);
}

std::optional<Head> Head::parse(const QString &text)
{
    const qsizetype colon = text.indexOf(u':');
    bool ok = false;
    const qint64 count = text.left(colon).toLongLong(&ok);
    const QString hash = text.mid(colon + 1).toLower();
    const bool hex = hash.size() == 64
        && std::all_of(hash.cbegin(), hash.cend(), [](QChar c) { return c.isDigit() || (c >= u'a' && c <= u'f'); });
    if (colon < 0 || !ok || count < 0 || !hex)
        return std::nullopt;
    return Head{count, hash};
}

Head head(jet::Connection &connection)
{
    jet::Recordset row;
    row.open(u"SELECT 件数, ハッシュ FROM `%1`"_s.arg(kHeadTable), &connection, jet::CursorType::ForwardOnly,
             jet::LockType::ReadOnly);
    if (row.eof())
        throw jet::Error(jet::err::GeneralFailure, u"監査記録の先頭の行がありません。"_s);
    return Head{row.value(0).toLongLong(), row.value(1).toString()};
}

namespace {

// The chain read through, row by row; the caller holds one moment's view.
void checkChain(jet::Connection &connection, const std::optional<Head> &expected, Verification &result)
{
    result.head = head(connection);
    jet::Recordset rows;
    rows.open(u"SELECT %1, ハッシュ FROM `%2` ORDER BY 記録番号"_s.arg(kTrailColumns.join(u", "_s), kTrailTable),
              &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    QString previousHash = kNoHash;
    qint64 next = 1;
    bool expectedSeen = false;
    for (; !rows.eof(); rows.moveNext()) {
        ++result.rows;
        const QVariantList values = trailValues(rows);
        const QString stored = rows.value(int(kTrailColumns.size())).toString();
        const qint64 number = values.at(0).toLongLong();
        if (number < next) {
            result.findings.append(u"記録番号 %1 は連番の外にあります（挿入されています）。"_s.arg(number));
            continue;
        }
        if (number > next)
            // The next row's hash covers the deleted one's, so it fails too:
            // that failure is the deletion's, not a finding of its own.
            result.findings.append(u"記録番号 %1〜%2 がありません（削除されています）。"_s.arg(next).arg(number - 1));
        else if (hashOf(values, previousHash) != stored)
            result.findings.append(u"記録番号 %1 の内容がハッシュと合いません（書き換えられています）。"_s.arg(number));
        if (expected && number == expected->count) {
            expectedSeen = true;
            if (stored != expected->hash)
                result.findings.append(u"記録番号 %1 のハッシュが控え（%2）と合いません（書き換えられています）。"_s
                                           .arg(number)
                                           .arg(expected->text()));
        }
        previousHash = stored;
        next = number + 1;
    }
    rows.close();

    const qint64 last = next - 1;
    if (last > result.head.count)
        result.findings.append(u"記録番号 %1〜%2 が先頭の記録（%3 件）より後にあります（挿入されています）。"_s
                                   .arg(result.head.count + 1)
                                   .arg(last)
                                   .arg(result.head.count));
    else if (last < result.head.count)
        result.findings.append(
            u"末尾の記録番号 %1〜%2 がありません（削除されています）。"_s.arg(last + 1).arg(result.head.count));
    else if (previousHash != result.head.hash)
        result.findings.append(u"最後の記録のハッシュが先頭の記録と合いません。"_s);
    if (expected && !expectedSeen && expected->count > 0)
        result.findings.append(u"記録は %1 件までしかありませんが、控えには %2 件あります（末尾が切り取られています）。"_s
                                   .arg(last)
                                   .arg(expected->count));
}

} // namespace

Verification verify(jet::Connection &connection, const std::optional<Head> &expected)
{
    Verification result;
    // One moment's trail, read without the write lock: rows that other
    // workstations append meanwhile wait for the next check rather than
    // showing as inserted.
    jet::Driver &db = connection.driver();
    const bool ownRead = !db.inTransaction();
    if (ownRead)
        db.beginRead();
    try {
        checkChain(connection, expected, result);
    } catch (...) {
        // A failed ending is logged: the error that cut the read short is the one to answer.
        if (ownRead && db.inTransaction()) {
            try {
                db.rollback();
            } catch (const jet::Error &e) {
                qWarning("Ending the audit trail's read failed (%d): %s", int(e.number()), qUtf8Printable(e.description()));
            }
        }
        throw;
    }
    if (ownRead)
        db.commit();
    return result;
}

int exportPeriod(jet::Connection &connection, const QDate &from, const QDate &to, const QString &file)
{
    const auto failed = [&file](const QString &why) {
        return jet::Error(jet::err::GeneralFailure, u"監査記録を '%1' に書き出せません: %2"_s.arg(file, why));
    };
    jet::PartialFile partial(file);
    if (!partial.created())
        throw failed(QString::fromLocal8Bit(std::strerror(partial.error())));
    QFile out(partial.name());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw failed(out.errorString());
    // A spreadsheet takes the file for UTF-8 by its mark.
    out.write("\xEF\xBB\xBF");
    out.write((kTrailColumns + QStringList{u"ハッシュ"_s}).join(u',').toUtf8() + "\r\n");
    jet::Recordset rows;
    rows.openCommand(u"SELECT %1, ハッシュ FROM `%2` WHERE 時刻 >= ? AND 時刻 < ? ORDER BY 記録番号"_s.arg(
                         kTrailColumns.join(u", "_s), kTrailTable),
                     &connection, QVariantList{dayStart(from), dayStart(to.addDays(1))},
                     jet::CursorType::ForwardOnly);
    int written = 0;
    for (; !rows.eof(); rows.moveNext()) {
        QStringList fields;
        for (int i = 0; i < rows.fieldCount(); ++i)
            fields.append(quotedField(rows.value(i)));
        out.write(fields.join(u',').toUtf8() + "\r\n");
        ++written;
    }
    rows.close();
    if (!out.flush())
        throw failed(out.errorString());
    out.close();
    if (const int error = partial.place(false))
        throw failed(QString::fromLocal8Bit(std::strerror(error)));
    return written;
}

void noteHead(const QString &copy, const Head &head)
{
    const QString path = copy + u".audit"_s;
    const bool isNew = !QFileInfo::exists(path);
    QFile notes(path);
    if (!notes.open(QIODevice::WriteOnly | QIODevice::Append)
        || notes.write(u"%1 %2\n"_s.arg(timeText(jet::Clock::now()), head.text()).toUtf8()) < 0 || !notes.flush())
        throw jet::Error(jet::err::GeneralFailure, u"監査記録の控え '%1' を書けません: %2"_s.arg(path, notes.errorString()));
    notes.close();
    if (isNew)
        jet::restrictNewFile(path);
}

namespace {

// The history rows and the trail's 保存 event of one row written through a
// recordset, in the write's transaction.
void recordChange(jet::Connection &connection, const jet::RowChange &written)
{
    using Kind = jet::RowChange::Kind;
    QStringList key, columns;
    for (const QString &column : written.primaryKey)
        key.append(written.row.value(column).toString());
    const QString keyText = key.join(u',');
    const QVariant chart = longValue(written.row.value(u"カルテID"_s));
    const QVariant episode = longValue(written.row.value(u"入退院ID"_s));
    const QString kind = (written.kind == Kind::Insert ? change::Insert
                          : written.kind == Kind::Delete ? change::Delete
                                                        : change::Update).toString();
    const QString now = nowText();
    const auto keep = [&](const QVariant &column, const QVariant &before) {
        const QVariantList values{now, session().account.left(32), kind, written.table.left(64),
                                  key.isEmpty() ? QVariant() : QVariant(keyText.left(64)), column,
                                  before.isNull() ? QVariant() : QVariant(historyText(before)), chart, episode};
        if (appendsOnServer(connection))
            callOnServer(connection, u"norva.append_history"_s, values);
        else
            connection.execute(u"INSERT INTO `%1` (時刻, アカウント, 変更, 表, キー, 列, 旧値, カルテID, 入退院ID) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"_s.arg(kHistoryTable),
                               values);
    };
    for (const jet::ColumnChange &column : written.columns) {
        keep(column.column.left(64), column.before);
        columns.append(column.column);
    }
    // A row added with no value given still leaves its row in the history.
    if (written.columns.isEmpty())
        keep(QVariant(), QVariant());

    QString detail = written.table + u": "_s;
    if (written.kind != Kind::Update)
        detail += key.isEmpty() ? kind : u"%1 キー %2"_s.arg(kind, keyText);
    if (written.kind == Kind::Insert && !columns.isEmpty())
        detail += u"（%1）"_s.arg(columns.join(u"、"_s));
    if (written.kind == Kind::Update)
        detail += columns.join(u"、"_s);
    Event saved{action::Save.toString(), detail, {}, {}};
    if (!chart.isNull())
        saved.chart = chart.toLongLong();
    if (!episode.isNull())
        saved.episode = episode.toLongLong();
    appendToTrail(connection, saved);
}

} // namespace

void recordChanges(jet::Connection &connection)
{
    connection.setRowChangeObserver([](jet::Connection &connection, const jet::RowChange &change) {
        if (!hasTrail(connection) || (change.kind == jet::RowChange::Kind::Update && change.columns.isEmpty()))
            return;
        recordChange(connection, change);
    });
}

} // namespace db::audit
