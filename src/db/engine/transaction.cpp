#include "db/engine/transaction.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"

#include <QtGlobal>

namespace jet {

Transaction::Transaction(Connection &connection)
    : m_connection(connection), m_openCount(connection.openCount())
{
    m_connection.beginTrans();
}

Transaction::~Transaction()
{
    // A connection closed meanwhile has dropped the transaction with it;
    // one opened again holds nothing of ours.
    if (!m_open || !m_connection.isOpen() || m_connection.openCount() != m_openCount)
        return;
    try {
        m_connection.rollbackTrans();
    } catch (const Error &e) {
        qWarning("Rolling back a transaction failed (%d): %s", int(e.number()), qUtf8Printable(e.description()));
    } catch (const std::exception &e) {
        qWarning("Rolling back a transaction failed: %s", e.what());
    }
}

void Transaction::commit()
{
    m_connection.commitTrans();
    m_open = false;
}

} // namespace jet
