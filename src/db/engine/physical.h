#pragma once

// The driver connection behind logical connections, and the pool that keeps
// them between opens.  Internal to the engine.

#include "db/engine/driver.h"
#include "db/engine/jetsql.h"

#include <QHash>
#include <QString>
#include <list>
#include <memory>

namespace jet {

class PhysicalConnection
{
public:
    // Opens the database the data source names with the driver it calls for.
    PhysicalConnection(const QString &dataSource, const QString &password);
    PhysicalConnection(const PhysicalConnection &) = delete;
    PhysicalConnection &operator=(const PhysicalConnection &) = delete;

    Driver &driver() const { return *m_driver; }
    const QString &dataSource() const { return m_dataSource; }
    const QString &password() const { return m_password; }
    // The server login role it was opened as (setServerLogin); empty for a
    // file and for the address's own user.
    const QString &serverRole() const { return m_serverRole; }

    // Translations are pure functions of the text and the dialect; keep the recent ones.
    const sql::Statement &translation(const QString &jetSql, Dialect dialect = Dialect::Sqlite);
    // A prepared statement for Connection::execute, kept across calls.
    DriverResult &preparedForExecute(const QString &sql);
    // Readies the connection for its next user: no transaction, no statement running.
    void resetForReuse();

private:
    // Declared first, so that it is destroyed after the statements prepared on it.
    std::unique_ptr<Driver> m_driver;
    QString m_dataSource;
    QString m_password;
    QString m_serverRole;
    QHash<std::pair<int, QString>, sql::Statement> m_translations; // by dialect and Jet text
    std::list<std::pair<QString, std::unique_ptr<DriverResult>>> m_prepared; // most recent first
};

namespace pool {
std::shared_ptr<PhysicalConnection> acquire(const QString &dataSource, const QString &password);
void release(std::shared_ptr<PhysicalConnection> connection);
void drop(const QString &dataSource);
void dropServers(); // every idle handle on a server
bool inUse(const QString &dataSource); // a logical connection is open on the database
} // namespace pool

} // namespace jet
