#pragma once

// One prepared statement on a server connection.  Internal to the driver.

#include "db/engine/driver.h"
#include "db/engine/postgres/session.h"

#include <deque>
#include <memory>
#include <vector>

namespace jet::postgres {

class PgResult final : public DriverResult
{
public:
    // `sql` uses $1, $2, … for its parameters.  A statement that
    // `changesSchema` is not kept prepared, and no plan made before it is.
    PgResult(std::shared_ptr<Session> session, const QByteArray &sql, int parameters, bool changesSchema);
    ~PgResult() override;

    void bind(int index, const QVariant &value) override;
    int parameterCount() const override { return int(m_parameters.size()); }
    bool step() override;
    void reset() override;
    int columnCount() const override;
    QVariant column(int index) const override;
    qint64 changes() const override;

    // Has the server read the statement, so that a missing table or column
    // is reported now, as a file reports it when a statement is prepared.
    void check();

    // Reads the rows still coming from the server into memory, so that the
    // connection can carry another statement; step() goes on with them.
    void keepRest();
    // Reads and throws away the rest, as when a read ends before its last row.
    void discardRest();

private:
    enum class State { Ready, Running, Finished };

    // A result kept for later: a row as its values, which take far less
    // memory than libpq's result of one row, or the run's end or failure.
    struct Kept
    {
        QVariantList row;
        ResultPtr result;
    };

    void start();
    // Prepares the statement on the server under a new name kept for `key`;
    // a refusal is handed back in `failure` and keeps nothing.
    QByteArray prepareNamed(const QByteArray &key, const std::vector<Oid> &types, ResultPtr &failure);
    // The next result of the run: kept ones first, then the server's.
    Kept take();

    std::shared_ptr<Session> m_session;
    QByteArray m_sql;
    bool m_changesSchema;
    std::vector<QVariant> m_parameters;
    State m_state = State::Ready;
    bool m_retried = false; // prepared afresh once in this run
    bool m_streaming = false; // results still coming from the server
    std::deque<Kept> m_kept;
    ResultPtr m_rows;
    QVariantList m_keptRow;
    int m_row = -1;
    int m_columns = 0;
    qint64 m_changes = 0;
};

} // namespace jet::postgres
