#include "db/engine/postgres/session.h"

#include "db/engine/clock.h"
#include "db/engine/postgres/result.h"

#include <QDateTime>
#include <QMutex>
#include <QRegularExpression>
#include <QTimeZone>
#include <atomic>
#include <cmath>
#include <poll.h>

namespace jet::postgres {

namespace {

// Type numbers of the server's built-in types (pg_type.oid), fixed since ever.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701,
              kBpchar = 1042, kDate = 1082, kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700;

std::atomic<qint64> processRoundTrips{0};

QString field(const PGresult *result, int code)
{
    const char *text = result ? PQresultErrorField(result, code) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

QString sqlQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The schema changes the program's connections committed, by database (as
// messages name it); a connection compares its own count with it.
struct SchemaChanges
{
    QMutex lock;
    QHash<QString, quint64> count;
};

SchemaChanges &schemaChanges()
{
    static SchemaChanges changes;
    return changes;
}

quint64 schemaChangesOf(const QString &server)
{
    SchemaChanges &changes = schemaChanges();
    const QMutexLocker locker(&changes.lock);
    return changes.count.value(server);
}

void announceSchemaChange(const QString &server)
{
    SchemaChanges &changes = schemaChanges();
    const QMutexLocker locker(&changes.lock);
    ++changes.count[server];
}

} // namespace

Cause causeOfState(const QByteArray &state)
{
    if (state.size() != 5)
        return Cause::Other;
    const QByteArray cls = state.left(2);
    // The server ending a session (an administrator, a crash, a shutdown)
    // leaves the connection as gone as a broken network does.
    if (cls == "08" || state == "57P01" || state == "57P02" || state == "57P03")
        return Cause::ConnectionLost;
    if (cls == "28")
        return Cause::Authentication;
    if (state == "40001" || state == "40P01")
        return Cause::Serialization;
    if (cls == "23")
        return Cause::Constraint;
    if (state == "53100")
        return Cause::DiskFull;
    if (state == "53300" || state == "55P03" || state == "55006" || state == "57014")
        return Cause::Busy;
    if (state == "25006")
        return Cause::ReadOnly;
    if (state == "XX001" || state == "XX002")
        return Cause::Corrupt;
    if (state == "58030")
        return Cause::Io;
    if (state == "42501")
        return Cause::Permission;
    return Cause::Other;
}

void raiseResult(PGconn *connection, const PGresult *result, const QString &server)
{
    const QByteArray state = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    QString message = field(result, PG_DIAG_MESSAGE_PRIMARY);
    if (message.isEmpty())
        message = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(connection)).trimmed();
    // libpq makes up a failure of its own, without a state, when the
    // connection breaks under a statement.
    if (state.isEmpty() && PQstatus(connection) == CONNECTION_BAD)
        raiseConnection(connection, server);

    const Cause cause = causeOfState(state);
    switch (cause) {
    case Cause::ConnectionLost:
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 との接続が切れました。サーバーが停止したか、ネットワークが切断されました。").arg(server), cause);
    case Cause::Authentication:
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 への認証に失敗しました。ユーザー名とパスワードを確認してください。").arg(server), cause);
    case Cause::Constraint:
        if (state == "23502")
            throw Error(err::GeneralFailure,
                        QStringLiteral("フィールド '%1' には値が必要です。").arg(field(result, PG_DIAG_COLUMN_NAME)), cause);
        if (state == "23514" && field(result, PG_DIAG_CONSTRAINT_NAME).startsWith(QLatin1String("nonempty#")))
            throw Error(err::GeneralFailure,
                        QStringLiteral("フィールド '%1' には長さ 0 の文字列を入力できません。")
                            .arg(field(result, PG_DIAG_CONSTRAINT_NAME).mid(9)),
                        cause);
        throw Error(err::GeneralFailure,
                    QStringLiteral("インデックス、主キー、またはリレーションシップで重複する値が生成されるため、変更できませんでした。: %1")
                        .arg(message), cause);
    case Cause::DiskFull:
        throw Error(err::GeneralFailure, QStringLiteral("サーバー %1 のディスクの空き容量が不足しています。").arg(server), cause);
    case Cause::Io:
        throw Error(err::GeneralFailure, QStringLiteral("サーバー %1 でディスクの読み書きに失敗しました: %2").arg(server, message), cause);
    case Cause::ReadOnly:
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 のデータベースは読み取り専用のため、書き込めません。").arg(server), cause);
    case Cause::Busy:
        throw Error(err::GeneralFailure, QStringLiteral("ほかのユーザーがデータをロックしているため、更新できませんでした。"), cause);
    case Cause::Serialization:
        throw Error(err::GeneralFailure,
                    QStringLiteral("ほかのユーザーが同時にデータを変更したため、更新できませんでした。もう一度実行してください。"), cause);
    case Cause::Corrupt:
        throw Error(err::DatabaseDamaged, QStringLiteral("サーバー %1 のデータベースは破損しています (%2)。").arg(server, message), cause);
    case Cause::Permission:
        throw Error(err::NoPermission, QStringLiteral("このオブジェクトに対するアクセス許可がありません: %1").arg(message), cause);
    case Cause::Other:
        break;
    }
    if (state == "42P01")
        throw Error(err::TableMissing, QStringLiteral("入力テーブルまたはクエリが見つかりませんでした: %1").arg(message));
    if (state == "42703")
        throw Error(err::ColumnMissing,
                    QStringLiteral("列が見つかりません。1 つ以上の必要なパラメータに値が設定されていません: %1").arg(message));
    if (state == "42601" || state == "42883" || state == "42803" || state == "42P02")
        throw Error(err::SyntaxError, QStringLiteral("SQL ステートメントが正しくありません: %1").arg(message));
    if (state == "42701")
        throw Error(err::FieldDefinedTwice, QStringLiteral("フィールドは複数定義されています: %1").arg(message));
    if (state == "42P07" || state == "42710")
        throw Error(err::GeneralFailure, QStringLiteral("オブジェクトは既に存在します: %1").arg(message));
    if (state == "22001")
        throw Error(err::FieldTooSmall, QStringLiteral("フィールドに対してテキストが長すぎます: %1").arg(message));
    if (state == "22P02" || state == "22007" || state == "22008" || state == "22003")
        throw Error(err::ConversionFailed, QStringLiteral("データ型が一致しません: %1").arg(message));
    throw Error(err::GeneralFailure, QStringLiteral("データベースエンジンのエラー: %1").arg(message));
}

void raiseConnection(PGconn *connection, const QString &server)
{
    // libpq's first line says what happened; the rest guesses at why, in a
    // box that already says it.
    const QString reason = QString::fromUtf8(PQerrorMessage(connection)).section(QLatin1Char('\n'), 0, 0).trimmed();
    throw Error(err::GeneralFailure,
                QStringLiteral("サーバー %1 との接続が切れました。サーバーが停止したか、ネットワークが切断されました。(%2)").arg(server, reason),
                Cause::ConnectionLost);
}

QVariant readValue(const PGresult *result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return QVariant();
    const char *text = PQgetvalue(result, row, column);
    const int length = PQgetlength(result, row, column);
    switch (PQftype(result, column)) {
    case kBool:
        return QVariant(text[0] == 't');
    case kInt2:
    case kInt4:
    case kInt8:
        return QVariant(qlonglong(QByteArray::fromRawData(text, length).toLongLong()));
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QVariant(QByteArray::fromRawData(text, length).toDouble());
    case kTimestamp:
    case kDate: {
        const QString value = QString::fromLatin1(text, length);
        QDateTime moment = QDateTime::fromString(value, Qt::ISODateWithMs);
        if (!moment.isValid())
            moment = QDateTime(QDate::fromString(value, Qt::ISODate), QTime(0, 0));
        return moment.isValid() ? QVariant(moment) : QVariant(value);
    }
    case kTimestampTz: {
        const QDateTime moment = QDateTime::fromString(QString::fromLatin1(text, length), Qt::ISODateWithMs);
        return moment.isValid() ? QVariant(moment.toLocalTime()) : QVariant(QString::fromLatin1(text, length));
    }
    case kBpchar: {
        // The server pads fixed-length text and ignores the padding in every
        // comparison; the program reads the text as it was written, as from a file.
        int end = length;
        while (end > 0 && text[end - 1] == ' ')
            --end;
        return QString::fromUtf8(text, end);
    }
    case kBytea: {
        size_t size = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(text), &size);
        const QByteArray value(reinterpret_cast<const char *>(bytes), qsizetype(size));
        PQfreemem(bytes);
        return value;
    }
    default:
        return QString::fromUtf8(text, length);
    }
}

Parameter parameter(const QVariant &value)
{
    Parameter p;
    if (!value.isValid() || value.isNull())
        return p;
    p.null = false;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        p.text = value.toBool() ? "t" : "f";
        p.type = kBool;
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        p.text = QByteArray::number(value.toLongLong());
        p.type = kInt8;
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        p.text = std::isnan(d)   ? QByteArray("NaN")
            : std::isinf(d)      ? QByteArray(d > 0 ? "Infinity" : "-Infinity")
                                 : QByteArray::number(d, 'g', 17);
        p.type = kFloat8;
        break;
    }
    case QMetaType::QDate:
        p.text = value.toDate().toString(Qt::ISODate).toLatin1() + " 00:00:00";
        p.type = kTimestamp;
        break;
    case QMetaType::QDateTime:
        p.text = value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
        p.type = kTimestamp;
        break;
    case QMetaType::QByteArray:
        p.text = "\\x" + value.toByteArray().toHex();
        p.type = kBytea;
        break;
    default:
        // Left to the server, which reads the text as whatever the statement needs there.
        p.text = value.toString().toUtf8();
        break;
    }
    return p;
}

QString literal(const QVariant &value)
{
    const Parameter p = parameter(value);
    if (p.null)
        return QStringLiteral("NULL");
    switch (p.type) {
    case kBool:
        return p.text == "t" ? QStringLiteral("true") : QStringLiteral("false");
    case kInt8:
        return QString::fromLatin1(p.text);
    case kFloat8:
        return std::isfinite(value.toDouble()) ? QString::fromLatin1(p.text)
                                               : sqlQuoted(QString::fromLatin1(p.text)) + QStringLiteral("::double precision");
    case kTimestamp:
        return sqlQuoted(QString::fromLatin1(p.text)) + QStringLiteral("::timestamp");
    case kBytea:
        return sqlQuoted(QString::fromLatin1(p.text)) + QStringLiteral("::bytea");
    default:
        return sqlQuoted(QString::fromUtf8(p.text));
    }
}

QString quoted(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

PGconn *Session::open() const
{
    if (!connection)
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    return connection;
}

void Session::claim(const PgResult *by)
{
    open();
    if (streaming && streaming != by) {
        PgResult *earlier = streaming;
        streaming = nullptr;
        earlier->keepRest();
    }
    catchUpWithSchema();
    syncClock();
}

QByteArray Session::changeSchema(const QByteArray &statement)
{
    forgetPrepared();
    const PGTransactionStatusType state = PQtransactionStatus(open());
    if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR) {
        schemaChangedInTransaction = true;
        return statement;
    }
    // Outside a transaction the change is committed before any other
    // connection of this thread runs a statement.  The server runs the
    // statements of one query text in one transaction.
    announceSchemaChange(server);
    return statement + ";\nNOTIFY " + kSchemaChannel;
}

void Session::transactionEnded(bool committed)
{
    // This connection catches up as well: another's change may have come
    // in while the transaction ran.
    if (committed && schemaChangedInTransaction)
        announceSchemaChange(server);
    schemaChangedInTransaction = false;
}

bool Session::heardOfSchemaChange()
{
    if (streaming || PQtransactionStatus(connection) == PQTRANS_ACTIVE || !PQconsumeInput(connection))
        return false; // a broken connection is reported by the statement that meets it
    bool heard = false;
    while (PGnotify *notice = PQnotifies(connection)) {
        heard = heard || notice->be_pid != PQbackendPID(connection);
        PQfreemem(notice);
    }
    return heard;
}

void Session::catchUpWithSchema()
{
    open();
    const quint64 changes = schemaChangesOf(server);
    schemaChangeHeard = heardOfSchemaChange() || schemaChangeHeard;
    if (changes == schemaChangesSeen && !schemaChangeHeard)
        return;
    forgetSchema();
    // A failed transaction takes no DEALLOCATE; its rollback comes first.
    const PGTransactionStatusType state = PQtransactionStatus(connection);
    if (state == PQTRANS_INERROR || state == PQTRANS_ACTIVE)
        return;
    schemaChangesSeen = changes; // forgetPrepared() below claims the connection again
    schemaChangeHeard = false;
    forgetPrepared();
}

void Session::syncClock()
{
    const quint64 generation = Clock::generation();
    if (generation == clockGeneration)
        return;
    // A transaction that failed takes nothing more; its rollback comes first.
    const PGTransactionStatusType state = PQtransactionStatus(connection);
    if (state == PQTRANS_INERROR || state == PQTRANS_ACTIVE)
        return;
    clockGeneration = generation; // run() below claims the connection again
    const QString moment = Clock::isFixed() ? Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
    try {
        run(QStringLiteral("SELECT set_config('jet.now', '%1', false)").arg(moment));
    } catch (...) {
        clockGeneration = generation - 1;
        throw;
    }
    clockSetInTransaction = state == PQTRANS_INTRANS;
}

void Session::rolledBack()
{
    // The schema read inside the transaction may be undone with it.
    forgetSchema();
    if (clockSetInTransaction)
        clockGeneration = Clock::generation() - 1;
    clockSetInTransaction = false;
}

ResultPtr Session::nextResult()
{
    PGconn *conn = open();
    while (PQisBusy(conn)) {
        pollfd fd{PQsocket(conn), POLLIN, 0};
        const int ready = fd.fd < 0 ? -1 : ::poll(&fd, 1, working && *working ? 100 : -1);
        if (ready == 0) {
            (*working)();
            continue;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        if (!PQconsumeInput(conn))
            break; // the connection broke; PQgetResult reports it
    }
    return ResultPtr(PQgetResult(conn));
}

void Session::discardStreaming()
{
    open();
    if (streaming) {
        PgResult *earlier = streaming;
        streaming = nullptr;
        earlier->discardRest();
    }
}

void Session::countRoundTrip()
{
    ++roundTrips;
    ++processRoundTrips;
}

qint64 Session::roundTripsOfProcess()
{
    return processRoundTrips;
}

ResultPtr Session::run(const QString &sql)
{
    claim();
    countRoundTrip();
    if (!PQsendQuery(connection, sql.toUtf8().constData()))
        raiseConnection(connection, server);
    ResultPtr last;
    ResultPtr failure;
    while (ResultPtr result = nextResult()) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY)
            last = std::move(result);
        else if (!failure)
            failure = std::move(result);
        if (status == PGRES_COPY_IN)
            PQputCopyEnd(connection, "no rows to copy here");
        if (PQstatus(connection) == CONNECTION_BAD)
            break;
    }
    if (failure)
        raiseResult(connection, failure.get(), server);
    if (PQstatus(connection) == CONNECTION_BAD)
        raiseConnection(connection, server);
    return last;
}

void Session::setUp()
{
    PQsetNoticeProcessor(open(), [](void *, const char *) {}, nullptr);
    // Now() and Date() on the server are the workstation's, as on a file.
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    const QString fixedZone = QStringLiteral("SET TIME ZONE INTERVAL '%1%2:%3' HOUR TO MINUTE")
                                  .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                                  .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                                  .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
    const QString common = QStringLiteral("SET search_path = public, jet; SET datestyle = 'ISO, YMD'; SET standard_conforming_strings = on; "
                                          "LISTEN %1; ").arg(QLatin1String(kSchemaChannel));
    static const QRegularExpression zoneName(QStringLiteral("^[A-Za-z0-9_+/-]+$"));
    if (!zone.isEmpty() && zoneName.match(QString::fromLatin1(zone)).hasMatch()) {
        try {
            run(common + QStringLiteral("SET TimeZone = '%1'").arg(QString::fromLatin1(zone)));
            return;
        } catch (const Error &) {
            // A zone the server does not know by name: its offset now.
        }
    }
    run(common + fixedZone);
}

void Session::forgetPrepared()
{
    forgetSchema();
    if (prepared.isEmpty())
        return;
    run(QStringLiteral("DEALLOCATE ALL"));
    prepared.clear();
}

void Session::forgetSchema()
{
    objects.clear();
    columns.clear();
    rowKeys.clear();
}

QList<QVariantList> Session::query(const QString &sql, const QVariantList &parameters)
{
    claim();
    std::vector<Parameter> params;
    std::vector<const char *> values;
    std::vector<Oid> types;
    for (const QVariant &value : parameters)
        params.push_back(parameter(value));
    for (const Parameter &p : params) {
        values.push_back(p.null ? nullptr : p.text.constData());
        types.push_back(p.type);
    }
    countRoundTrip();
    if (!PQsendQueryParams(connection, sql.toUtf8().constData(), int(params.size()), types.data(), values.data(),
                           nullptr, nullptr, 0))
        raiseConnection(connection, server);
    ResultPtr rows;
    ResultPtr failure;
    while (ResultPtr result = nextResult()) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK)
            rows = std::move(result);
        else if (!failure)
            failure = std::move(result);
    }
    if (failure || !rows)
        raiseResult(connection, failure.get(), server);
    QList<QVariantList> list;
    for (int r = 0; r < PQntuples(rows.get()); ++r) {
        QVariantList row;
        for (int c = 0; c < PQnfields(rows.get()); ++c)
            row.append(readValue(rows.get(), r, c));
        list.append(row);
    }
    return list;
}

} // namespace jet::postgres
