#include "db/check.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

int runTool(const QStringList &arguments, QString *errors = nullptr)
{
    QProcess process;
    process.start(QDir(QCoreApplication::applicationDirPath()).filePath(u"../tools/norva-db"_s), arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    if (errors)
        *errors = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Each table's rows as sorted digests: the back ends order Null apart.
QMap<QString, QStringList> rowsOf(const QString &location)
{
    QMap<QString, QStringList> tables;
    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    for (const QString &table : catalog.tables()) {
        QStringList names;
        for (const jet::ColumnDef &column : catalog.columns(table))
            names << u"[%1]"_s.arg(column.name);
        jet::Recordset rows;
        rows.open(u"SELECT %1 FROM [%2]"_s.arg(names.join(u", "_s), table), &connection, jet::CursorType::ForwardOnly);
        for (QStringList &digests = tables[table]; !rows.eof(); rows.moveNext()) {
            QByteArray row;
            for (int i = 0; i < rows.fieldCount(); ++i)
                row += (rows.value(i).isNull() ? u"<null>"_s : rows.value(i).toString()).toUtf8() + '\0';
            digests << QString::fromLatin1(QCryptographicHash::hash(row, QCryptographicHash::Sha1).toHex());
        }
        tables[table].sort();
    }
    return tables;
}

TEST(ServerLedger, TheDemoOfASeedHoldsTheFilesRowsAndASecondCreateIsRefusedWithoutThePassword)
{
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    QFile passwords(qEnvironmentVariable("PGPASSFILE"));
    ASSERT_TRUE(passwords.open(QIODevice::ReadOnly));
    const QString password = QString::fromUtf8(passwords.readLine().trimmed()).section(u':', 4);
    const QString location = QString::fromUtf8(server.conninfo()) + u" password='%1'"_s.arg(password);
    QTemporaryDir folder;
    const QStringList demo{u"--patients"_s, u"60"_s, u"--seed"_s, u"5"_s, u"--today"_s, u"2026-03-01"_s};
    ASSERT_EQ(runTool(QStringList{u"demo"_s, folder.filePath(u"demo.mdb"_s)} + demo), 0);
    ASSERT_EQ(runTool(QStringList{u"demo"_s, location} + demo), 0);

    const QMap<QString, QStringList> onServer = rowsOf(location);
    EXPECT_TRUE(onServer == rowsOf(folder.filePath(u"demo.mdb"_s)));
    EXPECT_TRUE(db::checkDatabase(location).sound());

    // Creating over it would mix a second ledger into the hospital's.
    QString errors;
    EXPECT_EQ(runTool({u"create"_s, location}, &errors), 1);
    EXPECT_TRUE(errors.contains(u"/"_s + QString::fromUtf8(server.name()))) << errors.toStdString();
    EXPECT_FALSE(password.isEmpty() || errors.contains(password));
    EXPECT_TRUE(rowsOf(location) == onServer);
}

} // namespace
