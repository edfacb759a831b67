#include "db/engine/changewatcher.h"

#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/session.h"

#include <QSocketNotifier>
#include <QTimer>

namespace jet {

namespace {

postgres::PgDriver &server(const Connection &connection)
{
    return static_cast<postgres::PgDriver &>(connection.driver());
}

const QString kChannel = QString::fromLatin1(postgres::kDataChannel);

} // namespace

ChangeWatcher::ChangeWatcher(const Connection &connection, QObject *parent) : QObject(parent)
{
    m_connection.setProvider(connection.provider());
    m_connection.setConnectionString(connection.connectionString());
    m_timer = new QTimer(this);
    m_timer->setInterval(kInterval);
    // A lost server is tried again only when asked: the tick must not hold
    // the window up for as long as an unreachable server takes to fail.
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_connection.isOpen())
            check();
    });
    start();
    m_timer->start();
}

ChangeWatcher::~ChangeWatcher()
{
    stop();
}

void ChangeWatcher::start()
{
    m_connection.open();
    try {
        Driver &db = m_connection.driver();
        if (db.dialect() == Dialect::Sqlite) {
            m_version = db.prepare(QStringLiteral("PRAGMA data_version"));
            m_lastVersion = dataVersion();
            return;
        }
        server(m_connection).listen(kChannel);
        m_notices = new QSocketNotifier(server(m_connection).socket(), QSocketNotifier::Read, this);
        connect(m_notices, &QSocketNotifier::activated, this, &ChangeWatcher::readNotices);
    } catch (...) {
        stop();
        throw;
    }
}

void ChangeWatcher::stop()
{
    delete m_notices;
    m_notices = nullptr;
    m_version.reset();
    if (!m_connection.isOpen())
        return;
    // The connection goes back to the pool, where nobody would read the
    // notices that kept coming.
    if (m_connection.driver().dialect() == Dialect::Postgres && m_connection.driver().isUsable()) {
        try {
            m_connection.driver().exec(QStringLiteral("UNLISTEN ") + kChannel);
        } catch (const Error &e) {
            qWarning("A change watch could not stop listening (%d): %s", int(e.number()), qUtf8Printable(e.description()));
        }
    }
    m_connection.close();
}

void ChangeWatcher::check()
{
    try {
        if (!m_connection.isOpen()) {
            start();
            emit changed({});
            return;
        }
        if (m_notices) {
            readNotices();
            return;
        }
        const qint64 version = dataVersion();
        if (version == m_lastVersion)
            return;
        m_lastVersion = version;
        emit changed({});
    } catch (const Error &e) {
        // The next look tries again; a server's watch over a new connection.
        if (e.cause() == Cause::ConnectionLost)
            stop();
        else if (e.cause() != Cause::Busy)
            qWarning("Watching the database for changes failed (%d): %s", int(e.number()), qUtf8Printable(e.description()));
    }
}

qint64 ChangeWatcher::dataVersion()
{
    m_version->reset();
    m_version->step();
    const qint64 version = m_version->column(0).toLongLong();
    m_version->reset(); // no read transaction stays open between looks
    return version;
}

void ChangeWatcher::readNotices()
{
    QStringList tables;
    try {
        for (const QString &table : server(m_connection).takeNotices(kChannel))
            if (!tables.contains(table))
                tables.append(table);
    } catch (const Error &) {
        // Only a broken connection fails here; the next look opens another.
        stop();
        return;
    }
    if (!tables.isEmpty())
        emit changed(tables);
}

} // namespace jet
