#pragma once

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/location.h"
#include "db/schema.h"

#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace testing_support {

// Fills a database of any generation with `patients` patients, each with two
// episodes and a certificate row, through the columns every generation has.
inline void fillWard(const QString &path, int patients)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(path));
    connection.beginTrans();
    for (int chart = 1; chart <= patients; ++chart) {
        connection.execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名, かな氏名) VALUES (?, ?, ?)"),
                           {chart, QStringLiteral("患者%1").arg(chart), QStringLiteral("かんじゃ")});
        for (int n = 0; n < 2; ++n)
            connection.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 一時診断名) VALUES (?, ?)"),
                               {chart, QStringLiteral("診断%1-%2 ").arg(chart).arg(n).repeated(20)});
        connection.execute(QStringLiteral("INSERT INTO 32条診断書 (カルテID) VALUES (?)"), {chart});
    }
    connection.execute(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名) VALUES ('統合失調症')"));
    connection.commitTrans();
    connection.close();
    jet::releasePooledHandles(path);
}

// Runs a query of one value on a handle of the test's own.
inline QString scalar(const QString &path, const QString &sql)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(path));
    sqlite3_stmt *stmt = nullptr;
    QString result;
    if (sqlite3_prepare_v2(jet::sqliteHandle(connection), sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    connection.close();
    jet::releasePooledHandles(path);
    return result;
}

// What a file holds: every definition in its schema and every value of every
// row.  Equal fingerprints mean nothing was changed.
inline QString fingerprint(const QString &path)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(path));
    sqlite3 *handle = jet::sqliteHandle(connection);
    const auto rows = [handle](const QString &sql) {
        QStringList lines;
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(handle, sql.toUtf8().constData(), -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList values;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                values << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
            lines << values.join(u'|');
        }
        sqlite3_finalize(stmt);
        return lines;
    };
    QStringList parts = rows(QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY name"));
    for (const QString &table : rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")))
        parts << table << rows(QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table));
    connection.close();
    jet::releasePooledHandles(path);
    return parts.join(u'\n');
}

} // namespace testing_support
