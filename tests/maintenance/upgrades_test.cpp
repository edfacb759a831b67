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

// What a server's database holds: every column with its type and default,
// every index and view, and every row of every table.
QString serverFingerprint(const ServerDatabase &server)
{
    const auto lines = [&](const QByteArray &sql) {
        return server.value("SELECT string_agg(line, E'\\n' ORDER BY line) FROM (" + sql + ") AS lines(line)").toString();
    };
    QStringList parts{
        lines("SELECT table_name || '.' || column_name || ' ' || data_type || ' ' || coalesce(column_default, '') "
              "FROM information_schema.columns WHERE table_schema = 'public'"),
        lines("SELECT indexdef FROM pg_indexes WHERE schemaname = 'public'"),
        lines("SELECT viewname || ' ' || definition FROM pg_views WHERE schemaname = 'public'")};
    const QStringList tables = lines("SELECT tablename FROM pg_tables WHERE schemaname = 'public'").split(u'\n');
    for (const QString &table : tables)
        parts << table << lines("SELECT t::text FROM public.\"" + table.toUtf8() + "\" AS t");
    return parts.join(u'\n');
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
// the file is left exactly as it was, so the next start offers the same
// upgrade, which then succeeds.
TEST_F(UpgradeTest, FailureAtAnyStepLeavesTheFileAsItWas)
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
    for (const Case &c : cases) {
        const QString path = make(c.generation);
        const QString before = fingerprint(path);
        for (int failing = 1; failing <= c.steps; ++failing) {
            SCOPED_TRACE(QStringLiteral("generation %1, step %2").arg(int(c.generation)).arg(failing).toStdString());
            maintenance::UpgradeHooks hooks;
            hooks.step = [failing](int step) {
                if (step == failing)
                    throw jet::Error(jet::err::GeneralFailure, QStringLiteral("injected"));
            };
            EXPECT_THROW(c.run(path, hooks), jet::Error);
            EXPECT_EQ(fingerprint(path), before);
        }
        c.run(path, {});
        EXPECT_NE(fingerprint(path), before);
        QFile::remove(path);
    }
}

// On a server each upgrade is one transaction as well, and the two bring an
// old database to what they bring an old file to.
TEST_F(UpgradeTest, OnAServerBothUpgradesGiveWhatTheyGiveOnAFileOrNothing)
{
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    db::createDatabase(location, db::Generation::Old);
    fillWard(location, 20);
    const QString file = make(db::Generation::Old);
    const QList<std::pair<int, std::function<void(const QString &, const maintenance::UpgradeHooks &)>>> upgrades = {
        {maintenance::kStepsTo2086, maintenance::upgradeTo2086},
        {maintenance::kStepsTo2112,
         [](const QString &path, const maintenance::UpgradeHooks &hooks) { EXPECT_TRUE(maintenance::upgradeTo2112(path, hooks)); }},
    };
    for (const auto &[steps, run] : upgrades) {
        const QString before = serverFingerprint(server);
        for (int failing = 1; failing <= steps; ++failing) {
            SCOPED_TRACE(QStringLiteral("%1 steps, step %2 fails").arg(steps).arg(failing).toStdString());
            maintenance::UpgradeHooks hooks;
            hooks.step = [failing](int step) {
                if (step == failing)
                    throw jet::Error(jet::err::GeneralFailure, QStringLiteral("injected"));
            };
            EXPECT_THROW(run(location, hooks), jet::Error);
            EXPECT_EQ(serverFingerprint(server), before);
        }
        run(location, {});
        run(file, {});
    }
    EXPECT_EQ(schema(location), schema(file));
    for (const QString &sql : {QStringLiteral("SELECT バージョン FROM バージョン"),
                               QStringLiteral("SELECT 時間外頻度ID & ':' & 時間外頻度 FROM 時間外頻度 ORDER BY 時間外頻度ID"),
                               QStringLiteral("SELECT 診断ID & ':' & ICDコード FROM `診断名(ICD10)` ORDER BY 診断ID"),
                               QStringLiteral("SELECT 時間外頻度 FROM 入退院情報 ORDER BY 入退院ID")})
        EXPECT_EQ(column(location, sql), column(file, sql)) << sql.toStdString();
    jet::Catalog onServer, onFile;
    onServer.open(db::plainConnectionString(location));
    onFile.open(db::plainConnectionString(file));
    EXPECT_EQ(onServer.views(), onFile.views());
    for (const QString &view : onFile.views())
        EXPECT_EQ(onServer.viewText(view), onFile.viewText(view)) << view.toStdString();
}

// A connection of the program that read the episodes' columns before the
// upgrade, still open, reads and writes the upgraded table afterwards.
TEST_F(UpgradeTest, AServerConnectionOpenedBeforeTheUpgradeSeesWhatItAdded)
{
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    db::createDatabase(location, db::Generation::V2086);
    jet::Connection before;
    before.open(db::plainConnectionString(location));
    jet::Catalog catalog;
    catalog.setActiveConnection(&before);
    const qsizetype columnsBefore = catalog.columns(QStringLiteral("入退院情報")).size();
    jet::Recordset episodes;
    episodes.open(QStringLiteral("SELECT * FROM 入退院情報"), &before);
    episodes.close();

    EXPECT_TRUE(maintenance::upgradeTo2112(location));
    EXPECT_EQ(catalog.columns(QStringLiteral("入退院情報")).size(), columnsBefore + 3);
    before.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (1)"));
    episodes.open(QStringLiteral("SELECT * FROM 入退院情報"), &before);
    ASSERT_FALSE(episodes.eof());
    EXPECT_EQ(episodes.value(QStringLiteral("時間外頻度")).toInt(), 1);
    episodes.close();

    // Another workstation's change, announced at its commit, reaches it too.
    server.exec("ALTER TABLE public.\"入退院情報\" ADD COLUMN \"備考\" text; NOTIFY jet_schema_changed");
    QDeadlineTimer deadline(5000);
    while (catalog.columns(QStringLiteral("入退院情報")).size() == columnsBefore + 3 && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(catalog.columns(QStringLiteral("入退院情報")).size(), columnsBefore + 4);
}

} // namespace
