#include "db/check.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using testing_support::ServerDatabase;
using testing_support::testServerConninfo;

namespace {

struct ToolRun
{
    int status = -1;
    QString errors;
};

ToolRun runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QDir(QCoreApplication::applicationDirPath()).filePath(u"../tools/norva-db"_s), arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << arguments.join(u' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
}

// Every table with its row count and a digest of its rows taken in no
// particular order, since the back ends order Null apart.
QMap<QString, QString> fingerprint(const QString &location)
{
    QMap<QString, QString> result;
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
        QStringList digests;
        for (; !rows.eof(); rows.moveNext()) {
            QStringList values;
            for (int i = 0; i < rows.fieldCount(); ++i) {
                const QVariant value = rows.value(i);
                values << (value.isNull() ? u"<null>"_s : value.toString());
            }
            digests << QString::fromLatin1(
                QCryptographicHash::hash(values.join(QChar(0)).toUtf8(), QCryptographicHash::Sha1).toHex());
        }
        digests.sort();
        result.insert(table, u"%1 rows %2"_s.arg(digests.size()).arg(QString::fromLatin1(
                                 QCryptographicHash::hash(digests.join(u""_s).toLatin1(), QCryptographicHash::Sha1).toHex())));
    }
    return result;
}

TEST(ServerLedger, TheDemoOfASeedHoldsTheFilesRowsAndASecondCreateIsRefusedWithoutThePassword)
{
    ServerDatabase server(testServerConninfo());
    QFile passwords(qEnvironmentVariable("PGPASSFILE"));
    ASSERT_TRUE(passwords.open(QIODevice::ReadOnly));
    const QString password = QString::fromUtf8(passwords.readLine().trimmed()).section(u':', 4);
    ASSERT_FALSE(password.isEmpty());
    const QString location = QString::fromUtf8(server.conninfo()) + u" password='%1'"_s.arg(password);
    QTemporaryDir folder;
    const QString file = folder.filePath(u"demo.mdb"_s);
    const QStringList demo{u"--patients"_s, u"60"_s, u"--seed"_s, u"5"_s, u"--today"_s, u"2026-03-01"_s};

    ASSERT_EQ(runTool(QStringList{u"demo"_s, file} + demo).status, 0);
    const ToolRun filled = runTool(QStringList{u"demo"_s, location} + demo);
    ASSERT_EQ(filled.status, 0) << filled.errors.toStdString();

    const QMap<QString, QString> onFile = fingerprint(file);
    const QMap<QString, QString> onServer = fingerprint(location);
    EXPECT_EQ(onServer.keys(), onFile.keys());
    for (auto it = onFile.cbegin(); it != onFile.cend(); ++it)
        EXPECT_EQ(onServer.value(it.key()).toStdString(), it.value().toStdString()) << it.key().toStdString();
    const db::CheckReport report = db::checkDatabase(location);
    EXPECT_TRUE(report.sound()) << report.integrity.join(u'|').toStdString();
    EXPECT_EQ(report.generation, u"2.112"_s);

    // Creating over it would mix a second ledger into the hospital's.
    const ToolRun again = runTool({u"create"_s, location});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.errors.contains(u"/%1"_s.arg(QString::fromUtf8(server.name())))) << again.errors.toStdString();
    EXPECT_FALSE(again.errors.contains(password));
    EXPECT_EQ(fingerprint(location), onServer);
}

} // namespace
