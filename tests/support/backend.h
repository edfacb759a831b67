#pragma once

// A fresh database on either back end with one connection open on it, for the
// suites that must hold on a file and on a server alike: the file is an
// encrypted database in a temporary folder, the server's a database of its own
// on the test server, with the Jet functions a ledger's database is created with.

#include "support/tempdb.h"
#include "support/testserver.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>

namespace testing_support {

enum class Backend { File, Server };

inline std::ostream &operator<<(std::ostream &out, Backend backend)
{
    return out << (backend == Backend::File ? "File" : "Server");
}

class BackendDatabase
{
public:
    explicit BackendDatabase(Backend backend)
    {
        if (backend == Backend::File) {
            m_file.emplace();
            return;
        }
        m_server = std::make_unique<ServerDatabase>(testServerConninfo());
        m_server->installJetFunctions();
        m_connection = connect();
    }

    // The libpq keyword string quotes its values with ', so the data source
    // is quoted with ".
    QString connectionString() const
    {
        if (m_file)
            return m_file->connectionString();
        return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source= \"%1\";Jet OLEDB:Database Password=%2;")
            .arg(QString::fromUtf8(m_server->conninfo()), kPassword);
    }
    // The file of a file's database; only for what a server has no counterpart of.
    const TempDatabase &file() const { return *m_file; }
    jet::Connection &connection() { return m_file ? m_file->connection() : *m_connection; }
    std::unique_ptr<jet::Connection> connect() const
    {
        auto c = std::make_unique<jet::Connection>();
        c->open(connectionString());
        return c;
    }

private:
    std::optional<TempDatabase> m_file;
    std::unique_ptr<ServerDatabase> m_server;
    std::unique_ptr<jet::Connection> m_connection;
};

// A suite of cases over both back ends made from a fixture of the file
// whose constructor takes the back end; the fixture's other cases stay on the
// file.  INSTANTIATE_TEST_SUITE_P(Ward, X, ::testing::Values(Backend::File, Backend::Server)):
// the sanitizer build leaves the server's instances named Ward/ to the normal
// build and keeps the engine's own.
template <class Fixture>
class OnBothBackends : public Fixture, public ::testing::WithParamInterface<Backend>
{
protected:
    OnBothBackends() : Fixture(GetParam()) {}
};

} // namespace testing_support
