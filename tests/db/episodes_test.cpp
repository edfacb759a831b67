#include "db/episodes.h"

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "support/backend.h"
#include "support/testserver.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using testing_support::Backend;

namespace {

class SideBySide : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Server) {
            server = std::make_unique<testing_support::ServerDatabase>(testing_support::testServerConninfo());
            location = QString::fromUtf8(server->conninfo());
        } else {
            location = folder.filePath(u"norva2000.mdb"_s);
        }
        db::createDatabase(location, db::Generation::V2112);
        jet::releasePooledHandles(location);
    }

    QTemporaryDir folder;
    std::unique_ptr<testing_support::ServerDatabase> server;
    QString location;
};

INSTANTIATE_TEST_SUITE_P(Ward, SideBySide, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

// Eight workstations register at the same moment, each its own charts: every
// registration returns an episode of its own chart, with its companion rows.
TEST_P(SideBySide, EightProcessesRegisteringAtOnceEachGetTheirOwnEpisodes)
{
    constexpr int kProcesses = 8;
    constexpr int kEach = 50;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int p = 0; p < kProcesses; ++p) {
        auto &process = processes.emplace_back(std::make_unique<QProcess>());
        process->start(QStringLiteral(NORVA_CRASHTEST),
                       {u"--register"_s, location, QString::number((p + 1) * 1000), QString::number(kEach)});
    }
    QMap<qint64, int> returned; // 入退院ID → the chart its registration was for
    for (auto &process : processes) {
        ASSERT_TRUE(process->waitForFinished(60000));
        ASSERT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        const QStringList lines = QString::fromUtf8(process->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.size(), kEach);
        for (const QString &line : lines) {
            const qint64 episode = line.section(u' ', 1, 1).toLongLong();
            EXPECT_FALSE(returned.contains(episode)) << "episode " << episode << " returned twice";
            returned.insert(episode, line.section(u' ', 0, 0).toInt());
        }
    }
    ASSERT_EQ(returned.size(), kProcesses * kEach);

    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    jet::Recordset stored;
    stored.open(u"SELECT 入退院情報.入退院ID, 入退院情報.カルテID, 診断情報.入退院ID AS 診断 FROM "
                "(入退院情報 INNER JOIN 検査情報 ON 入退院情報.入退院ID = 検査情報.入退院ID) "
                "INNER JOIN 診断情報 ON 入退院情報.入退院ID = 診断情報.入退院ID"_s,
                &connection);
    QMap<qint64, int> found;
    for (; !stored.eof(); stored.moveNext())
        found.insert(stored.value(0).toLongLong(), stored.value(1).toInt());
    stored.close();
    EXPECT_EQ(found, returned);
    connection.close();
    jet::releasePooledHandles(location);
}

} // namespace
