#pragma once

// The demo hospitals the benchmark and the load driver run on: built once by
// norva-db demo into a cache folder, and copied from there to a server.

#include <QString>
#include <libpq-fe.h>

namespace demo {

// A raw connection to the server the address names; throws std::runtime_error
// with the reason there is none.
PGconn *connectTo(const QString &address);

// One connection to a server for the benchmark's own housekeeping.
class ServerSession
{
public:
    explicit ServerSession(const QString &address);
    ~ServerSession();
    ServerSession(const ServerSession &) = delete;
    ServerSession &operator=(const ServerSession &) = delete;

    // The first value of the first row, empty when there is none.
    QString value(const QString &sql, const QString &parameter = QString());

private:
    PGconn *m_conn;
};

// The address of database `name` on the server `address` names, as a
// keyword string without the password it may hold: it goes into a location file.
QString databaseOn(const QString &address, const QString &name);

// The folder cache/N holding the demo file of N patients (seed 1) and a
// location file naming it; the file is built when it is not there yet.
QString ensureDatabase(const QString &cache, int patients);

// The folder cache/server-N with a location file naming database
// norva_bench_N on the server, copied there from the demo file of N patients
// when it is not there whole yet.
QString ensureServerDatabase(const QString &cache, const QString &server, int patients);

} // namespace demo
