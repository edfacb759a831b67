#include "db/engine/postgres/result.h"

namespace jet::postgres {

namespace {

// Beyond this many, a connection's prepared statements are dropped and
// prepared again as they come, so that generated texts cannot pile up.
constexpr int kPreparedLimit = 256;

} // namespace

PgResult::PgResult(std::shared_ptr<Session> session, const QByteArray &sql, int parameters, bool changesSchema)
    : m_session(std::move(session)), m_sql(sql), m_changesSchema(changesSchema),
      m_parameters(size_t(parameters))
{
}

PgResult::~PgResult()
{
    if (m_session->streaming == this)
        m_session->streaming = nullptr;
    if (m_streaming && m_session->connection) {
        try {
            discardRest();
        } catch (...) {
            // A broken connection has nothing left to read; its next user hears of it.
        }
    }
}

void PgResult::bind(int index, const QVariant &value)
{
    if (index < 1 || index > int(m_parameters.size()))
        throw Error(err::InvalidArgument, QStringLiteral("パラメータ %1 はステートメントにありません。").arg(index));
    m_parameters[size_t(index - 1)] = value;
}

void PgResult::start()
{
    m_session->claim(this);
    PGconn *conn = m_session->connection;
    std::vector<Parameter> params;
    params.reserve(m_parameters.size());
    QByteArray key = m_sql;
    key.append('\0');
    for (const QVariant &value : m_parameters) {
        params.push_back(parameter(value));
        key.append(QByteArray::number(params.back().type)).append(',');
    }
    std::vector<const char *> values;
    std::vector<Oid> types;
    for (const Parameter &p : params) {
        values.push_back(p.null ? nullptr : p.text.constData());
        types.push_back(p.type);
    }

    if (m_changesSchema) {
        // The server takes no parameters in a change of its schema.
        const QByteArray sql = m_session->changeSchema(m_sql);
        m_session->countRoundTrip();
        if (!PQsendQuery(conn, sql.constData()))
            raiseConnection(conn, m_session->server);
        m_session->streaming = this;
        m_streaming = true;
        m_state = State::Running;
        m_changes = 0;
        return;
    }
    QByteArray name = m_session->prepared.value(key);
    if (name.isEmpty()) {
        ResultPtr failure;
        name = prepareNamed(key, types, failure);
        if (failure)
            raiseResult(conn, failure.get(), m_session->server);
    }
    m_session->countRoundTrip();
    if (!PQsendQueryPrepared(conn, name.constData(), int(values.size()), values.data(), nullptr, nullptr, 0))
        raiseConnection(conn, m_session->server);
    PQsetSingleRowMode(conn);
    m_session->streaming = this;
    m_streaming = true;
    m_state = State::Running;
    m_changes = 0;
}

QByteArray PgResult::prepareNamed(const QByteArray &key, const std::vector<Oid> &types, ResultPtr &failure)
{
    PGconn *conn = m_session->connection;
    if (m_session->prepared.size() >= kPreparedLimit)
        m_session->forgetPrepared();
    const QByteArray name = "jet_" + QByteArray::number(++m_session->statementNumber);
    m_session->countRoundTrip();
    if (!PQsendPrepare(conn, name.constData(), m_sql.constData(), int(types.size()), types.data()))
        raiseConnection(conn, m_session->server);
    while (ResultPtr result = m_session->nextResult())
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK && !failure)
            failure = std::move(result);
    if (failure)
        return QByteArray();
    m_session->prepared.insert(key, name);
    return name;
}

void PgResult::check()
{
    if (m_changesSchema)
        return;
    // Parameters of no stated type, as an unbound run would send them.
    QByteArray key = m_sql;
    key.append('\0');
    for (size_t i = 0; i < m_parameters.size(); ++i)
        key.append("0,");
    if (m_session->prepared.contains(key))
        return;
    m_session->claim(this);
    // A refusal inside a transaction would abort it, where the run with its
    // values might have succeeded.
    if (PQtransactionStatus(m_session->connection) != PQTRANS_IDLE)
        return;
    ResultPtr failure;
    prepareNamed(key, std::vector<Oid>(m_parameters.size(), 0), failure);
    if (!failure)
        return;
    // Only a missing table or column is certain before the values are known;
    // anything else (a function the parameters' types will choose) waits for the run.
    const QByteArray state = PQresultErrorField(failure.get(), PG_DIAG_SQLSTATE);
    if (state == "42P01" || state == "42703")
        raiseResult(m_session->connection, failure.get(), m_session->server);
}

PgResult::Kept PgResult::take()
{
    if (!m_kept.empty()) {
        Kept next = std::move(m_kept.front());
        m_kept.pop_front();
        return next;
    }
    Kept next;
    if (!m_streaming)
        return next;
    next.result = m_session->nextResult();
    if (!next.result) {
        m_streaming = false;
        if (m_session->streaming == this)
            m_session->streaming = nullptr;
    }
    return next;
}

bool PgResult::step()
{
    if (m_state == State::Ready)
        start();
    if (m_state == State::Finished)
        return false;
    if (m_rows && ++m_row < PQntuples(m_rows.get()))
        return true;
    m_rows.reset();
    m_keptRow.clear();
    m_row = -1;
    for (;;) {
        Kept next = take();
        if (!next.result && next.row.isEmpty())
            break;
        if (!next.result) {
            m_keptRow = std::move(next.row);
            m_columns = int(m_keptRow.size());
            return true;
        }
        ResultPtr result = std::move(next.result);
        switch (PQresultStatus(result.get())) {
        case PGRES_TUPLES_OK:
        case PGRES_SINGLE_TUPLE:
            m_columns = PQnfields(result.get());
            m_changes = QByteArray(PQcmdTuples(result.get())).toLongLong();
            if (PQntuples(result.get()) == 0)
                continue;
            m_rows = std::move(result);
            m_row = 0;
            return true;
        case PGRES_COMMAND_OK:
        case PGRES_EMPTY_QUERY:
            m_changes = QByteArray(PQcmdTuples(result.get())).toLongLong();
            continue;
        default: {
            // A table changed since the statement was prepared (by another
            // workstation, say) refuses the old plan; outside a transaction
            // the statement has done nothing yet and is prepared afresh.
            const bool stale = !m_retried && QByteArray(PQresultErrorField(result.get(), PG_DIAG_SQLSTATE)) == "0A000";
            discardRest();
            if (stale && PQtransactionStatus(m_session->connection) == PQTRANS_IDLE) {
                m_retried = true;
                m_session->forgetPrepared();
                start();
                continue;
            }
            m_state = State::Finished;
            raiseResult(m_session->connection, result.get(), m_session->server);
        }
        }
    }
    m_state = State::Finished;
    return false;
}

void PgResult::keepRest()
{
    while (m_streaming) {
        Kept next;
        next.result = m_session->nextResult();
        if (!next.result) {
            m_streaming = false;
            break;
        }
        const PGresult *result = next.result.get();
        if (PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
            for (int c = 0; c < PQnfields(result); ++c)
                next.row.append(readValue(result, 0, c));
            next.result.reset();
        }
        m_kept.push_back(std::move(next));
    }
}

void PgResult::discardRest()
{
    m_kept.clear();
    while (m_streaming)
        take();
}

void PgResult::reset()
{
    discardRest();
    m_rows.reset();
    m_keptRow.clear();
    m_row = -1;
    m_changes = 0;
    m_retried = false;
    m_state = State::Ready;
    std::fill(m_parameters.begin(), m_parameters.end(), QVariant());
}

int PgResult::columnCount() const
{
    return m_columns;
}

QVariant PgResult::column(int index) const
{
    if (index < 0 || index >= m_columns)
        return QVariant();
    if (!m_rows)
        return m_keptRow.value(index);
    return readValue(m_rows.get(), m_row, index);
}

qint64 PgResult::changes() const
{
    return m_changes;
}

} // namespace jet::postgres
