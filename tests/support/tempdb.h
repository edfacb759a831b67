#pragma once

#include "db/engine/connection.h"

#include <QTemporaryDir>
#include <memory>

namespace testing_support {

inline const QString kPassword = QStringLiteral("tamik4062");

inline QString plainConnectionString(const QString &path, const QString &password = kPassword)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source= '%1';Jet OLEDB:Database Password=%2;")
        .arg(path, password);
}

// A fresh encrypted database in a temporary folder, with one connection open on it.
class TempDatabase
{
public:
    TempDatabase()
    {
        m_path = m_dir.filePath(QStringLiteral("test.mdb"));
        jet::createDatabase(m_path, kPassword);
        m_connection = std::make_unique<jet::Connection>();
        m_connection->open(plainConnectionString(m_path));
    }

    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }
    QString connectionString() const { return plainConnectionString(m_path); }
    jet::Connection &connection() { return *m_connection; }

    std::unique_ptr<jet::Connection> connect() const
    {
        auto c = std::make_unique<jet::Connection>();
        c->open(connectionString());
        return c;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<jet::Connection> m_connection;
};

} // namespace testing_support
