#include "maintenance/upgrades.h"

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/sessionrights.h"

namespace maintenance {

namespace {

const QString kEpisodes = QStringLiteral("入退院情報");
const QString kVersion = QStringLiteral("バージョン");
const QString kOutOfHours = QStringLiteral("時間外頻度");

// One connection carries the catalogue changes and the rows, so that a single
// transaction holds the whole upgrade.
class UpgradeRun
{
public:
    UpgradeRun(const QString &path, const UpgradeHooks &hooks) : m_hooks(hooks)
    {
        step(1);
        m_connection.open(db::plainConnectionString(path));
        db::requireSessionMay(m_connection, accounts::Right::Maintenance);
        if (m_hooks.working)
            m_connection.setWorking(m_hooks.working);
        m_catalog.setActiveConnection(&m_connection);
    }

    void step(int number) const
    {
        if (m_hooks.step)
            m_hooks.step(number);
    }

    jet::Connection &connection() { return m_connection; }
    jet::Catalog &catalog() { return m_catalog; }

    // Appends the columns of the list that `which` selects; one that is there
    // already (engine error 3191) is left as it is.  True when all were new.
    bool appendColumns(const QList<db::AddedColumn> &columns, const std::function<bool(const db::AddedColumn &)> &which)
    {
        bool allNew = true;
        for (const db::AddedColumn &added : columns) {
            if (!which(added))
                continue;
            try {
                m_catalog.appendColumn(added.table, added.column);
            } catch (const jet::Error &e) {
                if (e.number() != jet::err::FieldDefinedTwice)
                    throw;
                allNew = false;
            }
        }
        return allNew;
    }

    // Runs the steps in one transaction, committed as the last step.
    void transaction(const std::function<void()> &steps, int commitStep)
    {
        jet::Transaction transaction(m_connection);
        steps();
        step(commitStep);
        transaction.commit();
    }

    // A table the window's grid shows while the upgrade writes it.
    class ShownTable
    {
    public:
        ShownTable(UpgradeRun &run, const QString &source, int grid) : m_hooks(run.m_hooks), m_grid(grid)
        {
            m_table.open(source, &run.m_connection);
            if (m_hooks.showTable)
                m_hooks.showTable(m_grid, &m_table);
        }
        ~ShownTable()
        {
            if (m_hooks.showTable)
                m_hooks.showTable(m_grid, nullptr);
        }
        jet::Recordset &table() { return m_table; }

    private:
        const UpgradeHooks &m_hooks;
        int m_grid;
        jet::Recordset m_table;
    };

private:
    const UpgradeHooks &m_hooks;
    jet::Connection m_connection;
    jet::Catalog m_catalog;
};

bool ofType(const db::AddedColumn &added, jet::DataType type, const QString &table)
{
    return added.column.type == type && added.table == table;
}

} // namespace

void upgradeTo2086(const QString &path, const UpgradeHooks &hooks)
{
    UpgradeRun run(path, hooks);
    const QString certificates = QStringLiteral("32条診断書");
    const QString diagnoses = QStringLiteral("診断名(ICD10)");
    const QList<db::AddedColumn> added = db::columnsAddedBy2086();
    run.transaction(
        [&] {
            run.step(2);
            run.appendColumns(added, [&](const db::AddedColumn &c) { return c.table == diagnoses; });
            run.step(3);
            run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::YesNo, certificates); });
            run.step(4);
            run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::Long, certificates); });
            run.step(5);
            run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::FixedText, certificates); });
            run.step(6);
            run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::Memo, certificates); });
            run.step(7);
            // A run broken off after the drop left no index to drop.
            if (run.catalog().indexes(diagnoses).contains(db::kDiagnosisNameIndex.toString()))
                run.connection().execute(QStringLiteral("DROP INDEX 診断名 ON `診断名(ICD10)`;"));
            run.step(8);
            {
                UpgradeRun::ShownTable shown(run, QStringLiteral("`診断名(ICD10)`"), 1);
                run.step(9);
                shown.table().setFilter(QStringLiteral("診断ID = 1"));
                shown.table().setValue(QStringLiteral("ICDコード"), QStringLiteral("-"));
                shown.table().update();
            }
            run.step(10);
            run.connection().execute(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT '1'"));
            run.connection().execute(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 従精神障害 SET DEFAULT '1'"));
        },
        kStepsTo2086);
}

bool upgradeTo2112(const QString &path, const UpgradeHooks &hooks)
{
    UpgradeRun run(path, hooks);
    const QString certificates = QStringLiteral("32条診断書");
    // The engine sets a default by copying the table, which for the episodes
    // is most of the upgrade's time on a large file.  The out-of-hours column,
    // when added here, takes its default at once instead, and the episodes
    // older than it are given no value explicitly: one pass over the rows.
    bool outOfHoursAdded = true;
    for (const jet::ColumnDef &existing : run.catalog().columns(kEpisodes))
        outOfHoursAdded &= existing.name != kOutOfHours;
    QList<db::AddedColumn> added = db::columnsAddedBy2112();
    for (db::AddedColumn &column : added)
        if (column.table == kEpisodes && column.column.name == kOutOfHours)
            column.column.defaultValue = 1;
    bool allNew = true;
    const auto createTable = [&](const jet::TableDef &table) {
        if (run.catalog().tables().contains(table.name))
            allNew = false;
        else
            run.catalog().createTable(table);
    };
    run.transaction(
        [&] {
            run.step(2);
            createTable(db::versionTable());
            run.step(3);
            createTable(db::outOfHoursTable());
            run.step(4);
            allNew &= run.appendColumns(added, [&](const db::AddedColumn &c) { return c.table == kEpisodes; });
            run.step(5);
            allNew &= run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::YesNo, certificates); });
            run.step(6);
            allNew &= run.appendColumns(added, [&](const db::AddedColumn &c) { return ofType(c, jet::DataType::FixedText, certificates); });
            run.step(7);
            run.catalog().refresh();
            run.step(8);
            {
                UpgradeRun::ShownTable shown(run, kVersion, 1);
                if (shown.table().recordCount() == 0)
                    shown.table().addNew({kVersion}, {db::kCurrentVersion.toString()});
            }
            run.step(9);
            {
                // A table left filled by a broken-off run keeps its rows and their IDs.
                UpgradeRun::ShownTable shown(run, kOutOfHours, 2);
                if (shown.table().recordCount() == 0)
                    for (const QString &row : db::outOfHoursRows())
                        shown.table().addNew({kOutOfHours}, {row});
            }
            run.step(10);
            if (outOfHoursAdded)
                run.connection().execute(QStringLiteral("UPDATE 入退院情報 SET 時間外頻度 = Null"));
            else
                run.connection().execute(QStringLiteral("ALTER TABLE 入退院情報 ALTER COLUMN 時間外頻度 SET DEFAULT '1'"));
            run.step(11);
            // The index a new 2.112 database has, and the planner's statistics
            // it is given, so that the ledgers list as fast on an upgraded file.
            const jet::IndexDef index = db::outpatientIndex();
            if (!run.catalog().indexes(kEpisodes).contains(index.name))
                run.catalog().createIndex(kEpisodes, index);
            db::setPlannerStatistics(run.catalog());
        },
        kStepsTo2112);
    return allNew;
}

} // namespace maintenance
