#include "db/engine/transfer.h"

#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/postgres/pgdriver.h"

#include <QHashFunctions>
#include <algorithm>
#include <memory>

namespace jet {

namespace {

// Rows between two reports of a table's progress.
constexpr qint64 kProgressRows = 1000;
constexpr size_t kHighSeed = 0x6a09e667f3bcc908;
constexpr size_t kLowSeed = 0xbb67ae8584caa73b;

QString columnList(const QList<ColumnDef> &columns, Dialect dialect)
{
    QStringList names;
    for (const ColumnDef &column : columns)
        names.append(sql::quoteIdentifier(column.name, dialect));
    return names.join(QStringLiteral(", "));
}

// A table's rows one at a time in the engine's form, in the order of their
// row keys, so that a copy keeps the order in which a table without a key of
// its own hands its rows out.
class RowReader
{
public:
    RowReader(Driver &driver, const QString &table, const QList<ColumnDef> &columns)
        : m_driver(driver), m_columns(columns)
    {
        const Dialect dialect = driver.dialect();
        m_result = driver.prepare(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                      .arg(columnList(columns, dialect), sql::quoteIdentifier(table, dialect),
                                           sql::quoteIdentifier(driver.rowKeyColumn(table), dialect)));
    }

    bool next(QVariantList &row)
    {
        if (!m_result->step())
            return false;
        row.resize(m_columns.size());
        for (qsizetype i = 0; i < m_columns.size(); ++i)
            row[i] = m_driver.fromStorage(m_result->column(int(i)), m_columns.at(i).type, true);
        return true;
    }

private:
    Driver &m_driver;
    QList<ColumnDef> m_columns;
    std::unique_ptr<DriverResult> m_result;
};

// The source seen at one moment for the whole copy and its check.
class ReadSnapshot
{
public:
    explicit ReadSnapshot(Driver &driver) : m_driver(driver) { driver.beginRead(); }
    ~ReadSnapshot()
    {
        try {
            if (m_driver.inTransaction())
                m_driver.rollback();
        } catch (const Error &e) {
            qWarning("Ending the read of a copy's source failed (%d): %s", int(e.number()), qUtf8Printable(e.description()));
        }
    }
    ReadSnapshot(const ReadSnapshot &) = delete;
    ReadSnapshot &operator=(const ReadSnapshot &) = delete;

private:
    Driver &m_driver;
};

qint64 countRows(Driver &driver, const QString &table)
{
    const std::unique_ptr<DriverResult> count =
        driver.prepare(QStringLiteral("SELECT COUNT(*) FROM %1").arg(sql::quoteIdentifier(table, driver.dialect())));
    count->step();
    return count->column(0).toLongLong();
}

// A server loads a table's rows with one COPY; a file takes them through one
// prepared INSERT, inside the caller's transaction as fast as any bulk load.
qint64 loadRows(Driver &driver, const QString &table, const QList<ColumnDef> &columns,
                const std::function<bool(QVariantList &row)> &nextRow)
{
    if (driver.dialect() == Dialect::Postgres) {
        QStringList names;
        for (const ColumnDef &column : columns)
            names.append(column.name);
        return static_cast<postgres::PgDriver &>(driver).copyRows(table, names, nextRow);
    }
    QStringList markers;
    for (qsizetype i = 0; i < columns.size(); ++i)
        markers.append(QStringLiteral("?"));
    const std::unique_ptr<DriverResult> insert = driver.prepare(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(sql::quoteIdentifier(table, driver.dialect()), columnList(columns, driver.dialect()),
                 markers.join(QStringLiteral(", "))));
    qint64 loaded = 0;
    QVariantList row;
    while (nextRow(row)) {
        for (qsizetype i = 0; i < columns.size(); ++i)
            insert->bind(int(i) + 1, driver.toStorage(row.at(i), columns.at(i).type, true));
        insert->step();
        insert->reset();
        ++loaded;
    }
    return loaded;
}

// Stored queries built on others come after them: a server checks a view's
// sources when it is made.
QStringList inDependencyOrder(const Driver &driver, QStringList views)
{
    QStringList ordered;
    while (!views.isEmpty()) {
        qsizetype next = 0;
        for (qsizetype i = 0; i < views.size(); ++i) {
            const QString text = driver.viewText(views.at(i));
            const bool waits = std::any_of(views.cbegin(), views.cend(), [&](const QString &other) {
                return other != views.at(i) && text.contains(other, Qt::CaseInsensitive);
            });
            if (!waits) {
                next = i;
                break;
            }
        }
        ordered.append(views.takeAt(next));
    }
    return ordered;
}

} // namespace

void RowSum::add(const QVariantList &row)
{
    // Null apart from every text, the empty one included: each value is its
    // UTF-16 text and its length.  Both sums are taken in one process, so
    // the hash's seeds and byte order are the same for both.
    m_row.clear();
    for (const QVariant &value : row) {
        if (value.isNull()) {
            m_row.append(QChar(0xffff));
            continue;
        }
        const QString text = value.toString();
        m_row.append(text);
        m_row.append(QChar(0xfffe)).append(QChar(char16_t(text.size() & 0xffff)));
    }
    const auto bytes = reinterpret_cast<const uchar *>(m_row.constData());
    const size_t size = size_t(m_row.size()) * sizeof(QChar);
    // A sum, so that the order the rows come in does not count.
    m_sum.high += quint64(qHashBits(bytes, size, kHighSeed));
    m_sum.low += quint64(qHashBits(bytes, size, kLowSeed));
    ++m_sum.rows;
}

TableSum sumTable(Connection &connection, const QString &table, const QList<ColumnDef> &columns)
{
    RowSum sum;
    RowReader reader(connection.driver(), table, columns);
    QVariantList row;
    while (reader.next(row))
        sum.add(row);
    return sum.result();
}

void copyContents(Connection &source, Connection &target, const CopyProgress &progress)
{
    Driver &from = source.driver();
    Driver &to = target.driver();
    const ReadSnapshot snapshot(from);

    struct Table
    {
        TableDef definition;
        qint64 rows = 0;
    };
    QList<Table> tables;
    QList<TableSum> sums;
    for (const QString &name : from.tables()) {
        Table table{TableDef{name, from.columns(name), from.indexDefinitions(name)}, countRows(from, name)};
        // The other indexes are built once the rows are in, which costs less
        // than keeping them up to date row by row.
        TableDef keyed = table.definition;
        keyed.indexes.removeIf([](const IndexDef &index) { return !index.primaryKey; });
        to.createTable(keyed);
        tables.append(table);
    }
    for (const Table &table : std::as_const(tables)) {
        const QString &name = table.definition.name;
        if (progress)
            progress(name, 0, table.rows);
        RowReader reader(from, name, table.definition.columns);
        RowSum sum;
        qint64 done = 0;
        loadRows(to, name, table.definition.columns, [&](QVariantList &row) {
            if (!reader.next(row))
                return false;
            sum.add(row);
            if (++done % kProgressRows == 0 && progress)
                progress(name, done, table.rows);
            return true;
        });
        if (progress)
            progress(name, done, table.rows);
        sums.append(sum.result());
        for (const IndexDef &index : table.definition.indexes)
            if (!index.primaryKey)
                to.createIndex(name, index);
    }
    // A server plans a table it has no statistics of as if it were large and
    // a code table as if it had hundreds of rows: the copied ledger's first
    // lists would be planned for a ledger it is not.
    to.gatherStatistics();
    for (const QString &view : inDependencyOrder(from, from.views())) {
        const QString text = from.viewText(view);
        if (text.isEmpty())
            throw Error(err::GeneralFailure, QStringLiteral("クエリ '%1' の定義を読めないため、コピーできません。").arg(view));
        to.storeView(view, text);
    }

    for (qsizetype i = 0; i < tables.size(); ++i) {
        const QString &name = tables.at(i).definition.name;
        const TableSum &original = sums.at(i);
        const TableSum copy = sumTable(target, name, tables.at(i).definition.columns);
        if (copy.rows != original.rows)
            throw Error(err::GeneralFailure, QStringLiteral("テーブル '%1' の行数がコピー元 (%2 行) とコピー先 (%3 行) で異なります。")
                                                 .arg(name)
                                                 .arg(original.rows)
                                                 .arg(copy.rows));
        if (!(copy == original))
            throw Error(err::GeneralFailure,
                        QStringLiteral("テーブル '%1' の行の内容がコピー元とコピー先で異なります。").arg(name));
    }
}

} // namespace jet
