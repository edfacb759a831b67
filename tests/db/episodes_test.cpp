#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/location.h"
#include "db/schema.h"
#include "support/backend.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace testing_support;

namespace {

class Registrations : public ::testing::TestWithParam<Backend> {};
INSTANTIATE_TEST_SUITE_P(Ward, Registrations, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

// Eight workstations register fifty charts each at the same moment: every
// registration returns an episode of its own chart, with its companion rows.
TEST_P(Registrations, EightProcessesAtOnceEachGetEpisodesOfTheirOwn)
{
    QTemporaryDir folder;
    std::optional<ServerDatabase> server;
    if (GetParam() == Backend::Server)
        server.emplace(testServerConninfo());
    const QString location = server ? QString::fromUtf8(server->conninfo()) : folder.filePath(u"norva2000.mdb"_s);
    db::createDatabase(location, db::Generation::V2112);
    jet::releasePooledHandles(location);
    QProcess processes[8];
    for (int p = 0; p < 8; ++p)
        processes[p].start(QStringLiteral(NORVA_CRASHTEST), {u"--register"_s, location, QString::number(p * 1000), u"50"_s});
    QMap<qint64, int> returned; // 入退院ID → the chart it was registered for
    for (QProcess &process : processes) {
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            returned.insert(line.section(u' ', 1, 1).toLongLong(), line.section(u' ', 0, 0).toInt());
    }
    EXPECT_EQ(returned.size(), 400);

    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    jet::Recordset stored;
    stored.open(u"SELECT 入退院情報.入退院ID, カルテID FROM (入退院情報 INNER JOIN 検査情報 ON 入退院情報.入退院ID = "
                "検査情報.入退院ID) INNER JOIN 診断情報 ON 入退院情報.入退院ID = 診断情報.入退院ID"_s, &connection);
    QMap<qint64, int> found;
    for (; !stored.eof(); stored.moveNext())
        found.insert(stored.value(0).toLongLong(), stored.value(1).toInt());
    stored.close();
    connection.close();
    jet::releasePooledHandles(location);
    EXPECT_EQ(found, returned);
}

// Two workstations register one new chart at the same moment on a server:
// the later one finds the patient the other just added and keeps its episode.
TEST(RegistrationOnServer, ANewChartAddedElsewhereMeanwhileIsTakenAsItsPatient)
{
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    db::createDatabase(location, db::Generation::V2112);
    jet::Connection first;
    first.open(db::plainConnectionString(location));
    std::optional<jet::Transaction> adding(std::in_place, first);
    first.execute(u"INSERT INTO 患者情報 (カルテID) VALUES (7)"_s);
    QProcess other;
    other.start(QStringLiteral(NORVA_CRASHTEST), {u"--register"_s, location, u"7"_s, u"1"_s});
    // Long enough for the other to look for the patient and wait on its key.
    QThread::msleep(1500);
    adding->commit();
    adding.reset();
    ASSERT_TRUE(other.waitForFinished(30000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    jet::Recordset episodes;
    episodes.open(u"SELECT Count(*) AS n FROM 入退院情報 WHERE カルテID = 7"_s, &first);
    EXPECT_EQ(episodes.value(0).toInt(), 1);
    episodes.close();
    first.close();
    jet::releasePooledHandles(location);
}

} // namespace
