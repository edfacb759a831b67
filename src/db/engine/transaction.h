#pragma once

#include <QtGlobal>

namespace jet {

class Connection;

// A transaction that cannot be left open: begun when made, rolled back when
// it goes out of scope uncommitted, as when an exception leaves the block.
// Inside another transaction of the connection it is a level of its own.
class Transaction
{
public:
    explicit Transaction(Connection &connection);
    // A rollback that fails here is logged, never thrown: the exception that
    // ends the block is the one the caller has to answer.
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Throws as Connection::commitTrans does; the transaction then stays
    // uncommitted and is rolled back when the guard goes.
    void commit();

private:
    Connection &m_connection;
    quint64 m_openCount;
    bool m_open = true;
};

} // namespace jet
