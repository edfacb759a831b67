#include "maintenancefixture.h"

#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "maintenance/upgrades.h"
#include "support/testserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QTemporaryDir>

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

class UpgradeTest : public ::testing::Test
{
protected:
    QString make(db::Generation generation, const QString &name = QStringLiteral("norva2000.mdb"))
    {
        const QString path = QDir(folder.path()).filePath(name);
        db::createDatabase(path, generation);
        fillWard(path, 20);
        return path;
    }

    static QStringList column(const QString &path, const QString &sql)
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(path));
        jet::Recordset rs;
        rs.open(sql, &connection);
        QStringList values;
        for (; !rs.eof(); rs.moveNext())
            values << (rs.value(0).isNull() ? QStringLiteral("<null>") : rs.value(0).toString());
        rs.close();
        connection.close();
        jet::releasePooledHandles(path);
        return values;
    }

    static void execute(const QString &path, const QString &sql)
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(path));
        connection.execute(sql);
        connection.close();
        jet::releasePooledHandles(path);
    }

    // Tables with their columns (name, type, size, nullability, default) and indexes.
    static QStringList schema(const QString &path)
    {
        jet::Catalog catalog;
        catalog.open(db::plainConnectionString(path));
        QStringList lines;
        for (const QString &table : catalog.tables()) {
            for (const jet::ColumnDef &c : catalog.columns(table))
                lines << QStringLiteral("%1.%2 %3(%4) %5 %6")
                             .arg(table, c.name)
                             .arg(int(c.type))
                             .arg(c.definedSize)
                             .arg(c.nullable)
                             .arg(c.defaultValue.toString());
            lines << table + QStringLiteral(" indexes ") + catalog.indexes(table).join(u',');
        }
        catalog.close();
        jet::releasePooledHandles(path);
        return lines;
    }

    QTemporaryDir folder;
};

// Every column with its default, index, view and row of a server's ledger.
QString serverFingerprint(const ServerDatabase &server)
{
    return server.value("SELECT string_agg(x, E'\\n' ORDER BY x) FROM (SELECT table_name || column_name || coalesce(column_default, '') "
                        "FROM information_schema.columns WHERE table_schema = 'public' UNION ALL SELECT indexdef FROM pg_indexes "
                        "WHERE schemaname = 'public' UNION ALL SELECT viewname || definition FROM pg_views WHERE schemaname = 'public' "
                        "UNION ALL SELECT query_to_xml(format('SELECT * FROM public.%I', tablename), true, false, '')::text "
                        "FROM pg_tables WHERE schemaname = 'public') AS d(x)").toString();
}

TEST_F(UpgradeTest, OldDatabaseThroughBothUpgradesMatchesANewOneWithItsRowsAndDefaults)
{
    const QString path = make(db::Generation::Old);
    maintenance::upgradeTo2086(path);
    EXPECT_EQ(column(path, QStringLiteral("SELECT ICDコード FROM `診断名(ICD10)` ORDER BY 診断ID")),
              (QStringList{QStringLiteral("-"), QStringLiteral("<null>")}));
    execute(path, QStringLiteral("INSERT INTO 32条診断書 (カルテID) VALUES (9001)"));
    EXPECT_EQ(column(path, QStringLiteral("SELECT 主精神障害 & '/' & 従精神障害 FROM 32条診断書 WHERE カルテID IN (1, 9001) ORDER BY カルテID")),
              (QStringList{QStringLiteral("/"), QStringLiteral("1/1")}));

    EXPECT_TRUE(maintenance::upgradeTo2112(path));
    EXPECT_EQ(column(path, QStringLiteral("SELECT バージョン FROM バージョン")), QStringList{QStringLiteral("2.112")});
    EXPECT_EQ(column(path, QStringLiteral("SELECT 時間外頻度ID & ':' & 時間外頻度 FROM 時間外頻度 ORDER BY 時間外頻度ID")),
              (QStringList{QStringLiteral("1:-"), QStringLiteral("2:ない"), QStringLiteral("3:ほとんどない"),
                           QStringLiteral("4:数年に数回"), QStringLiteral("5:年に数回"), QStringLiteral("6:半年に数回"),
                           QStringLiteral("7:月に数回"), QStringLiteral("8:週に数回"), QStringLiteral("9:毎日"),
                           QStringLiteral("10:土日祝日")}));
    execute(path, QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (1)"));
    EXPECT_EQ(column(path, QStringLiteral("SELECT 時間外頻度 FROM 入退院情報 WHERE カルテID = 1 ORDER BY 入退院ID")),
              (QStringList{QStringLiteral("<null>"), QStringLiteral("<null>"), QStringLiteral("1")}));
    EXPECT_EQ(column(path, QStringLiteral("SELECT COUNT(*) FROM 入退院情報")), QStringList{QStringLiteral("41")});
    EXPECT_FALSE(scalar(path, QStringLiteral("SELECT count(*) FROM sqlite_stat1 WHERE idx LIKE '%外入の別'")).isEmpty());

    // Apart from the upgrade's own order of columns, the file now has what a
    // new 2.112 file has: every column with its type, size and default, and
    // every index, the outpatient one included.
    const QString fresh = QDir(folder.path()).filePath(QStringLiteral("fresh.mdb"));
    db::createDatabase(fresh, db::Generation::V2112);
    QStringList upgraded = schema(path), created = schema(fresh);
    upgraded.sort();
    created.sort();
    EXPECT_EQ(upgraded, created);
}

// Each step in turn fails (as a full disk or a broken file would make it):
// the database, a file or a server's, is left exactly as it was, so the next
// start offers the same upgrade, which then succeeds; on the server the two
// bring the ledger to what they bring a file to.
TEST_F(UpgradeTest, FailureAtAnyStepLeavesTheDatabaseAsItWasOnAFileAndOnAServer)
{
    struct Case
    {
        db::Generation generation;
        int steps;
        std::function<void(const QString &, const maintenance::UpgradeHooks &)> run;
    };
    const QList<Case> cases = {
        {db::Generation::Old, maintenance::kStepsTo2086, maintenance::upgradeTo2086},
        {db::Generation::V2086, maintenance::kStepsTo2112,
         [](const QString &path, const maintenance::UpgradeHooks &hooks) { maintenance::upgradeTo2112(path, hooks); }},
    };
    ServerDatabase server(testServerConninfo());
    const QString onServer = QString::fromUtf8(server.conninfo());
    db::createDatabase(onServer, db::Generation::Old);
    fillWard(onServer, 20);
    const QList<std::pair<Case, QString>> runs = {{cases[0], make(cases[0].generation)}, {cases[0], onServer},
                                                  {cases[1], make(cases[1].generation, u"v2086.mdb"_s)}, {cases[1], onServer}};
    for (const auto &[c, path] : runs) {
        const auto state = [&, path = path] { return path == onServer ? serverFingerprint(server) : fingerprint(path); };
        const QString before = state();
        for (int failing = 1; failing <= c.steps; ++failing) {
            SCOPED_TRACE(QStringLiteral("%1, step %2").arg(path).arg(failing).toStdString());
            maintenance::UpgradeHooks hooks;
            hooks.step = [failing](int step) {
                if (step == failing)
                    throw jet::Error(jet::err::GeneralFailure, QStringLiteral("injected"));
            };
            EXPECT_THROW(c.run(path, hooks), jet::Error);
            EXPECT_EQ(state(), before);
        }
        c.run(path, {});
        EXPECT_NE(state(), before);
    }
    const QString file = runs[0].second; // old, now 2.086
    maintenance::upgradeTo2112(file);
    EXPECT_EQ(schema(onServer), schema(file));
    for (const QString &sql : {u"SELECT バージョン FROM バージョン"_s, u"SELECT 時間外頻度 FROM 時間外頻度 ORDER BY 時間外頻度ID"_s,
                               u"SELECT ICDコード FROM `診断名(ICD10)` ORDER BY 診断ID"_s})
        EXPECT_EQ(column(onServer, sql), column(file, sql)) << sql.toStdString();
}

// A server connection that read the columns before the upgrade, still open,
// reads the upgraded ones, and those of another workstation's change.
TEST_F(UpgradeTest, AServerConnectionOpenedBeforeASchemaChangeReadsTheNewColumns)
{
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    db::createDatabase(location, db::Generation::V2086);
    jet::Catalog before;
    before.open(db::plainConnectionString(location));
    const auto columns = [&] { return before.columns(u"入退院情報"_s).size(); };
    const qsizetype read = columns();
    maintenance::upgradeTo2112(location);
    EXPECT_EQ(columns(), read + 3);
    server.exec("ALTER TABLE public.\"入退院情報\" ADD COLUMN \"備考\" text; NOTIFY jet_schema_changed");
    for (QDeadlineTimer deadline(5000); columns() == read + 3 && !deadline.hasExpired();)
        QThread::msleep(20);
    EXPECT_EQ(columns(), read + 4);
}

} // namespace
