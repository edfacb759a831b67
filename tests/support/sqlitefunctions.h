#pragma once

// An in-memory SQLite database with the engine's functions registered, for
// calling them directly as translated SQL does.

#include "db/engine/sqlite/sqlfunctions.h"

#include <sqlite3.h>

#include <QString>
#include <QVariant>
#include <stdexcept>
#include <string>

namespace testing_support {

class SqliteFunctions
{
public:
    SqliteFunctions()
    {
        sqlite3_open(":memory:", &m_db);
        jet::sql::registerFunctions(m_db);
    }
    ~SqliteFunctions() { sqlite3_close(m_db); }
    SqliteFunctions(const SqliteFunctions &) = delete;
    SqliteFunctions &operator=(const SqliteFunctions &) = delete;

    sqlite3 *handle() const { return m_db; }

    // The value of SELECT expression; an error is thrown with SQLite's message.
    QVariant eval(const QString &expression) const
    {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sql = QStringLiteral("SELECT %1").arg(expression).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        QVariant result;
        if (sqlite3_step(stmt) != SQLITE_ROW) {
            const std::string message = sqlite3_errmsg(m_db);
            sqlite3_finalize(stmt);
            throw std::runtime_error(message);
        }
        switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_INTEGER:
            result = qint64(sqlite3_column_int64(stmt, 0));
            break;
        case SQLITE_FLOAT:
            result = sqlite3_column_double(stmt, 0);
            break;
        case SQLITE_TEXT:
            result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
            break;
        default:
            break;
        }
        sqlite3_finalize(stmt);
        return result;
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace testing_support
