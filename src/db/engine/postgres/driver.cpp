#include "db/engine/postgres/pgdriver.h"

#include "db/engine/jetdate.h"
#include "db/engine/postgres/result.h"
#include "db/engine/postgres/session.h"
#include "db/engine/sqlite/sqlite_support.h"

#include <QRegularExpression>
#include <poll.h>

namespace jet::postgres {

namespace {

// Whether a statement may change what a prepared plan rests on.
bool changesSchema(const QString &sql)
{
    static const QRegularExpression ddl(QStringLiteral(R"(^\s*(ALTER|CREATE|DROP)\b)"), QRegularExpression::CaseInsensitiveOption);
    return ddl.match(sql).hasMatch();
}

// Numbers the engine's ? markers as the server's $1, $2, …, leaving those in
// strings, quoted names and comments alone.  Returns the markers counted.
int numberParameters(QString &sql)
{
    QString out;
    out.reserve(sql.size() + 16);
    int count = 0;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = sql.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? sql.size() - 1 : end;
            out += sql.mid(i, stop - i + 1);
            i = stop;
        } else if (c == QLatin1Char('-') && sql.mid(i, 2) == QLatin1String("--")) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            const qsizetype stop = end < 0 ? sql.size() - 1 : end;
            out += sql.mid(i, stop - i + 1);
            i = stop;
        } else if (c == QLatin1Char('/') && sql.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype stop = end < 0 ? sql.size() - 1 : end + 1;
            out += sql.mid(i, stop - i + 1);
            i = stop;
        } else if (c == QLatin1Char('?') && !(i + 1 < sql.size() && sql.at(i + 1).isDigit())) {
            out += QLatin1Char('$') + QString::number(++count);
        } else if ((c == QLatin1Char('$') || c == QLatin1Char('?')) && i + 1 < sql.size() && sql.at(i + 1).isDigit()) {
            // A numbered marker (?2, as SQLite reads it, or $2) keeps its number.
            qsizetype j = i + 1;
            while (j < sql.size() && sql.at(j).isDigit())
                ++j;
            count = std::max(count, sql.mid(i + 1, j - i - 1).toInt());
            out += QLatin1Char('$') + sql.mid(i + 1, j - i - 1);
            i = j - 1;
        } else {
            out += c;
        }
    }
    sql = out;
    return count;
}

// Marks what a rollback undoes once it has run, whether or not it succeeded.
struct RollingBack
{
    Session &session;
    explicit RollingBack(Session &s) : session(s) {}
    ~RollingBack() { session.rolledBack(); }
};

} // namespace

PgDriver::PgDriver(PGconn *connection, const QString &server) : m_session(std::make_shared<Session>())
{
    m_session->connection = connection;
    m_session->server = server;
    try {
        m_session->setUp();
    } catch (...) {
        PQfinish(connection);
        m_session->connection = nullptr;
        throw;
    }
}

PgDriver::~PgDriver()
{
    if (m_session->streaming) {
        // Its rows are of no use now; closing the connection ends the read.
        m_session->streaming = nullptr;
    }
    PQfinish(m_session->connection);
    m_session->connection = nullptr;
}

QString PgDriver::databaseName() const
{
    return m_session->server;
}

bool PgDriver::isUsable() const
{
    PGconn *conn = m_session->connection;
    if (!conn)
        return false;
    // A server that ended the session while the connection sat idle (a
    // restart, an administrator) has said so on its socket: reading what is
    // there notices it without a round trip.
    if (!m_session->streaming && PQtransactionStatus(conn) == PQTRANS_IDLE) {
        // Its last words first, then the end of the stream.
        pollfd fd{PQsocket(conn), POLLIN, 0};
        while (PQstatus(conn) == CONNECTION_OK && ::poll(&fd, 1, 0) > 0 && PQconsumeInput(conn)) {
        }
    }
    return PQstatus(conn) == CONNECTION_OK;
}

std::unique_ptr<DriverResult> PgDriver::prepare(const QString &sql)
{
    m_session->open();
    QString text = sql.trimmed();
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    const int parameters = numberParameters(text);
    auto result = std::make_unique<PgResult>(m_session, text.toUtf8(), parameters, changesSchema(text));
    result->check();
    return result;
}

Error notOwner(const QString &server, const QString &role)
{
    return Error(err::GeneralFailure,
                 QStringLiteral("サーバー %1 のデータベースをこのバージョンのプログラムに合わせて更新する必要がありますが、"
                                "ロール %2 はデータベースの所有者ではないため更新できません。システム管理者に、"
                                "データベースの所有者のロールで norva-db update を実行するよう依頼してください "
                                "(例: norva-db update 'postgresql://norva@サーバー/norva')。")
                     .arg(server, role));
}

QString PgDriver::passwordVerifier(const QString &password, const QString &role) const
{
    PGconn *conn = m_session->open();
    QByteArray secret = password.toUtf8();
    char *verifier = PQencryptPasswordConn(conn, secret.constData(), role.toUtf8().constData(), "scram-sha-256");
    secret.fill('\0');
    if (!verifier)
        throw Error(err::GeneralFailure, QStringLiteral("パスワードの検証子を作れません: %1")
                                             .arg(QString::fromUtf8(PQerrorMessage(conn)).trimmed()));
    const QString text = QString::fromLatin1(verifier);
    PQfreemem(verifier);
    return text;
}

bool PgDriver::ownsDatabase() const
{
    const auto rows = m_session->query(QStringLiteral(
        "SELECT pg_has_role(current_user, datdba, 'USAGE') OR (SELECT rolsuper FROM pg_roles WHERE rolname = current_user) "
        "FROM pg_database WHERE datname = current_database()"));
    return !rows.isEmpty() && rows[0][0].toBool();
}

QString PgDriver::loginRole() const
{
    return QString::fromUtf8(PQuser(m_session->open()));
}

void PgDriver::listen(const QString &channel)
{
    m_session->run(QStringLiteral("LISTEN ") + quoted(channel));
}

int PgDriver::socket() const
{
    return m_session->connection ? PQsocket(m_session->connection) : -1;
}

QStringList PgDriver::takeNotices(const QString &channel)
{
    PGconn *conn = m_session->open();
    if (!PQconsumeInput(conn) || PQstatus(conn) == CONNECTION_BAD)
        raiseConnection(conn, m_session->server);
    const QByteArray name = channel.toUtf8();
    QStringList payloads;
    while (PGnotify *notice = PQnotifies(conn)) {
        if (name == notice->relname)
            payloads.append(QString::fromUtf8(notice->extra));
        PQfreemem(notice);
    }
    return payloads;
}

void PgDriver::exec(const QString &sql)
{
    m_session->run(changesSchema(sql) ? QString::fromUtf8(m_session->changeSchema(sql.toUtf8())) : sql);
}

void PgDriver::begin()
{
    // The server would only warn, and the caller's levels would go astray.
    if (inTransaction())
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションは既に開始されています。"));
    m_session->run(QStringLiteral("BEGIN"));
}

void PgDriver::beginRead()
{
    if (inTransaction())
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションは既に開始されています。"));
    // One snapshot for every statement of the read, as a file's read transaction sees it.
    m_session->run(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ"));
}

void PgDriver::commit()
{
    m_session->clockSetInTransaction = false;
    // The server would only warn and report success, also when the work it
    // was to keep went with a lost connection.
    if (!inTransaction())
        throw Error(err::GeneralFailure, QStringLiteral("コミットするトランザクションがありません。変更は保存されていない可能性があります。"));
    // Other workstations hear of a change of the schema once it is committed.
    m_session->claim();
    const bool announce =
        m_session->schemaChangedInTransaction && PQtransactionStatus(m_session->connection) == PQTRANS_INTRANS;
    const ResultPtr result = m_session->run(announce ? QStringLiteral("NOTIFY %1; COMMIT").arg(QLatin1String(kSchemaChannel))
                                                     : QStringLiteral("COMMIT"));
    // The server answers COMMIT of a transaction that a failure aborted by
    // rolling it back, and calls that success.
    const bool rolledBack = result && qstrcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0;
    m_session->transactionEnded(!rolledBack);
    if (rolledBack)
        throw Error(err::GeneralFailure,
                    QStringLiteral("トランザクションの途中で操作が失敗していたため、変更は保存されずに取り消されました。"));
}

void PgDriver::rollback()
{
    const RollingBack undone(*m_session);
    m_session->transactionEnded(false);
    m_session->run(QStringLiteral("ROLLBACK"));
}

void PgDriver::savepoint(const QString &name)
{
    m_session->run(QStringLiteral("SAVEPOINT ") + quoted(name));
}

void PgDriver::releaseSavepoint(const QString &name)
{
    m_session->run(QStringLiteral("RELEASE SAVEPOINT ") + quoted(name));
}

void PgDriver::rollbackToSavepoint(const QString &name)
{
    const RollingBack undone(*m_session);
    m_session->run(QStringLiteral("ROLLBACK TO SAVEPOINT %1; RELEASE SAVEPOINT %1").arg(quoted(name)));
}

bool PgDriver::inTransaction() const
{
    if (!m_session->connection)
        return false;
    switch (PQtransactionStatus(m_session->connection)) {
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR:
        return true;
    case PQTRANS_ACTIVE:
        // A read still running: the state it began in stands until it ends.
        m_session->claim();
        return PQtransactionStatus(m_session->connection) != PQTRANS_IDLE
            && PQtransactionStatus(m_session->connection) != PQTRANS_UNKNOWN;
    default:
        return false;
    }
}

qint64 PgDriver::insert(const QString &table, const QStringList &columns, const QVariantList &values)
{
    QStringList names;
    QStringList marks;
    for (const QString &column : columns) {
        names.append(quoted(column));
        marks.append(QStringLiteral("?"));
    }
    // The key comes back with the INSERT: one round trip for the row.
    const QString key = quoted(rowKeyColumn(table));
    const QString sql = columns.isEmpty()
        ? QStringLiteral("INSERT INTO public.%1 DEFAULT VALUES RETURNING %2").arg(quoted(table), key)
        : QStringLiteral("INSERT INTO public.%1 (%2) VALUES (%3) RETURNING %4")
              .arg(quoted(table), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")), key);
    const std::unique_ptr<DriverResult> result = prepare(sql);
    result->bindAll(values);
    if (!result->step())
        throw Error(err::GeneralFailure, QStringLiteral("テーブル '%1' に行を追加できませんでした。").arg(table));
    const qint64 added = result->column(0).toLongLong();
    while (result->step()) {
    }
    return added;
}

QVariant PgDriver::toStorage(const QVariant &value, DataType type, bool typeKnown) const
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const int id = value.metaType().id();
    if (!typeKnown) {
        if (id == QMetaType::Bool)
            return value.toBool() ? -1 : 0;
        if (id == QMetaType::QDate)
            return QDateTime(value.toDate(), QTime(0, 0));
        return value;
    }
    // The checks and conversions are Jet's, as for the file; only the stored form differs.
    const QVariant jet = detail::toStorage(value, type, typeKnown);
    if (jet.isNull())
        return jet;
    switch (type) {
    case DataType::Date: {
        // timestamp(0) keeps whole seconds.
        const QDateTime moment = fromDayNumber(jet.toDouble());
        return moment.addMSecs(moment.time().msec() >= 500 ? 1000 - moment.time().msec() : -moment.time().msec());
    }
    case DataType::YesNo:
        return jet.toLongLong() != 0;
    case DataType::Long:
    case DataType::Integer:
        return jet.toLongLong();
    case DataType::Double:
        return jet.toDouble();
    case DataType::Text:
    case DataType::FixedText:
    case DataType::Memo:
        return jet.toString();
    }
    return jet;
}

QVariant PgDriver::fromStorage(const QVariant &stored, DataType type, bool typeKnown) const
{
    // The server hands out booleans and timestamps of its own; anything else
    // reads as it does from a file.
    const int id = stored.metaType().id();
    if (id == QMetaType::Bool)
        return stored.toBool() ? -1 : 0;
    if (id == QMetaType::QDateTime && type == DataType::Date)
        return stored;
    return detail::fromStorage(stored, type, typeKnown);
}

void PgDriver::setWorking(const std::function<void()> *working)
{
    m_session->working = working && *working ? working : nullptr;
}

void PgDriver::resetForReuse()
{
    PGconn *conn = m_session->open();
    // A lost connection is not usable; the pool opens a new one when the
    // server is back.  Nothing is thrown here, where a window closes.
    if (PQstatus(conn) == CONNECTION_BAD) {
        m_session->streaming = nullptr;
        return;
    }
    m_session->discardStreaming();
    if (PQtransactionStatus(conn) != PQTRANS_IDLE) {
        const RollingBack undone(*m_session);
        m_session->transactionEnded(false);
        m_session->run(QStringLiteral("ROLLBACK"));
    }
}

qint64 PgDriver::roundTrips() const
{
    return m_session->roundTrips;
}

qint64 PgDriver::roundTripsOfProcess()
{
    return Session::roundTripsOfProcess();
}

qint64 PgDriver::copyRows(const QString &table, const QStringList &columnNames,
                          const std::function<bool(QVariantList &row)> &nextRow)
{
    const QList<ColumnDef> known = columns(table);
    QList<ColumnDef> targets;
    QStringList names;
    for (const QString &name : columnNames) {
        const auto found = std::find_if(known.begin(), known.end(),
                                        [&](const ColumnDef &c) { return c.name.compare(name, Qt::CaseInsensitive) == 0; });
        if (found == known.end())
            throw Error(err::ColumnMissing, QStringLiteral("フィールド '%1' がテーブル '%2' にありません。").arg(name, table));
        targets.append(*found);
        names.append(quoted(found->name));
    }

    m_session->claim();
    PGconn *conn = m_session->connection;
    const QString sql = QStringLiteral("COPY public.%1 (%2) FROM STDIN").arg(quoted(table), names.join(QStringLiteral(", ")));
    m_session->countRoundTrip();
    if (!PQsendQuery(conn, sql.toUtf8().constData()))
        raiseConnection(conn, m_session->server);
    // Every result up to the end of the command, the first failure thrown.
    const auto finish = [&] {
        ResultPtr done;
        ResultPtr failure;
        while (ResultPtr result = m_session->nextResult()) {
            const ExecStatusType status = PQresultStatus(result.get());
            if (status == PGRES_COPY_IN) {
                PQputCopyEnd(conn, "no rows");
                continue;
            }
            if (status == PGRES_COMMAND_OK)
                done = std::move(result);
            else if (!failure)
                failure = std::move(result);
        }
        if (failure || !done)
            raiseResult(conn, failure.get(), m_session->server);
        return QByteArray(PQcmdTuples(done.get())).toLongLong();
    };
    {
        ResultPtr ready = m_session->nextResult();
        if (!ready || PQresultStatus(ready.get()) != PGRES_COPY_IN) {
            while (m_session->nextResult()) {
            }
            raiseResult(conn, ready.get(), m_session->server);
        }
    }

    const auto send = [&](QByteArray &buffer) {
        if (PQputCopyData(conn, buffer.constData(), int(buffer.size())) != 1)
            raiseConnection(conn, m_session->server);
        buffer.clear();
        if (m_session->working)
            (*m_session->working)();
    };
    try {
        QByteArray buffer;
        QVariantList row;
        while (nextRow(row)) {
            if (row.size() != targets.size())
                throw Error(err::InvalidArgument, QStringLiteral("行の値の数 %1 が列の数 %2 と合いません。").arg(row.size()).arg(targets.size()));
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (i > 0)
                    buffer.append('\t');
                const Parameter p = parameter(toStorage(row.at(i), targets.at(i).type, true));
                if (p.null) {
                    buffer.append("\\N");
                    continue;
                }
                for (const char c : p.text) {
                    switch (c) {
                    case '\\': buffer.append("\\\\"); break;
                    case '\t': buffer.append("\\t"); break;
                    case '\n': buffer.append("\\n"); break;
                    case '\r': buffer.append("\\r"); break;
                    default: buffer.append(c);
                    }
                }
            }
            buffer.append('\n');
            if (buffer.size() >= 1 << 16)
                send(buffer);
        }
        if (!buffer.isEmpty())
            send(buffer);
    } catch (...) {
        // The server drops what it received of the load.
        if (PQstatus(conn) != CONNECTION_BAD) {
            PQputCopyEnd(conn, "load abandoned");
            try {
                finish();
            } catch (const Error &) {
                // The refusal of the abandoned load is the expected answer.
            }
        }
        throw;
    }
    if (PQputCopyEnd(conn, nullptr) != 1)
        raiseConnection(conn, m_session->server);
    const qint64 loaded = finish();

    for (const ColumnDef &c : targets)
        if (c.autoIncrement)
            m_session->query(QStringLiteral("SELECT setval(pg_get_serial_sequence($1, $2), m) FROM (SELECT max(%1) AS m FROM public.%2) s "
                                            "WHERE m IS NOT NULL")
                                 .arg(quoted(c.name), quoted(table)),
                             {QStringLiteral("public.") + quoted(table), c.name});
    return loaded;
}

} // namespace jet::postgres
