#pragma once

// Another process writing to a test database as another workstation would,
// through the back end's own client: the sqlcipher shell with the key, or psql.

#include "db/engine/postgres/server.h"
#include "support/tempdb.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace testing_support {

inline void saveInAnotherProcess(const QString &dataSource, const QString &sql)
{
    QProcess process;
    if (jet::isServerAddress(dataSource)) {
        process.start(QStandardPaths::findExecutable(QStringLiteral("psql")),
                      {QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), dataSource,
                       QStringLiteral("-c"), sql});
    } else {
        process.start(QStandardPaths::findExecutable(QStringLiteral("sqlcipher")), {dataSource});
        process.write(QStringLiteral(".bail on\nPRAGMA key='%1';\n%2;\n").arg(kPassword, sql).toUtf8());
        process.closeWriteChannel();
    }
    ASSERT_TRUE(process.waitForFinished(30000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

} // namespace testing_support
