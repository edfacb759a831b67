#include "db/engine/recordset.h"

#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/physical.h"
#include "db/engine/transaction.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <functional>
#include <limits>
#include <list>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace jet {

using sql::quoteIdentifier;
using Statement = std::unique_ptr<DriverResult>;

namespace {

constexpr int kSegmentRows = 64;
constexpr int kCachedSegments = 96;
constexpr int kReadWholeBelow = 4096; // rows whose keys are read at once
constexpr int kFirstKeys = 4 * kSegmentRows;
constexpr int kFirstRows = 2 * kSegmentRows; // read with their keys at a server's open
constexpr int kLastKeys = 4 * kSegmentRows;
// The key of a table that gave a row of an outer join no partner row.
constexpr qint64 kNoPartner = std::numeric_limits<qint64>::min();

qint64 keyAt(const DriverResult &result, int column)
{
    const QVariant key = result.column(column);
    return key.isNull() ? kNoPartner : key.toLongLong();
}

[[noreturn]] void noCurrentRecord()
{
    throw Error(err::NoCurrentRecord,
                QStringLiteral("BOF と EOF のいずれかが True になっているか、または現在のレコードが削除されています。"));
}

struct Instance
{
    QString table;
    QString alias;
    bool isTable = false; // a base table with row keys, not a stored query
    QString key;          // its row key in the statement: alias.column
    QList<ColumnDef> columns;
};

struct Field
{
    FieldMeta meta;
    QString expression; // how the value is selected
    int instance = -1;  // the source whose row the value is written to; -1 when computed
    QString qualifiedName;
};

using RowValues = std::vector<QVariant>;

struct KeyHash
{
    size_t operator()(const std::vector<qint64> &key) const noexcept
    {
        size_t h = 1469598103934665603ull;
        for (qint64 k : key)
            h = (h ^ size_t(k)) * 1099511628211ull;
        return h;
    }
};

QString joinParts(const QStringList &parts)
{
    return parts.join(QStringLiteral(", "));
}

} // namespace

// What an open recordset knows and keeps.  Rows are either addressed by the row
// keys of their source tables (keyed) and read a segment at a time, or, for
// results without keys, read whole (materialized).
class RecordsetData
{
public:
    Connection *connection = nullptr;
    std::weak_ptr<const void> connectionLifetime;
    quint64 connectionOpen = 0;
    // Keeps the driver the statements below were prepared on until they are finalized.
    std::shared_ptr<PhysicalConnection> physical;
    Driver *driver = nullptr;
    QString source;
    LockType lock = LockType::Optimistic;
    QVariantList parameters;
    sql::SelectShape shape;
    QVariantList itemParameters, fromParameters, whereParameters, restParameters;

    std::vector<Instance> instances;
    std::vector<Field> fields;
    bool keyed = false;
    QString filter;
    QString filterSql; // the filter as a condition on the field expressions

    // Keyed rows: keyWidth keys per row, in result order.
    int keyWidth = 0;
    std::vector<qint64> keys;
    // Materialized rows: the rows the filter lets through.
    std::vector<RowValues> allRows;

    // Segment cache over keyed rows.
    std::list<int> segmentOrder; // most recently used first
    std::unordered_map<int, std::pair<std::vector<RowValues>, std::list<int>::iterator>> segments;
    Statement fetch;
    // The last segment's read: the next segment's has the same text unless
    // outer-join rows without a partner come or go.
    Statement segmentRead;
    QString segmentReadSql;

    int current = 0;
    EditMode mode = EditMode::None;
    QHash<int, QVariant> pending;
    QList<FieldConflict> conflicts; // found by the last update(); the edit is still pending
    std::unordered_map<int, RowValues> unreadable; // rows added whose keys do not read back

    // A connection lost and renewed (Connection::renewIfLost) serves on; the
    // statements prepared on the lost one go with it.  Rows read stay: the
    // server's database and its keys are the same.
    void follow()
    {
        connection->renewIfLost();
        if (connection->sharedPhysical() == physical)
            return;
        fetch.reset();
        segmentRead.reset();
        segmentReadSql.clear();
        stream.reset();
        streamRow = -1;
        driver = &connection->driver();
        physical = connection->sharedPhysical();
    }

    Statement prepare(const QString &sql) const
    {
        connection->driver(); // reports a closed connection
        return driver->prepare(sql);
    }

    // Keys are read when first needed, so that a filter set straight after the
    // open (the record windows do this) never pays for the unfiltered rows.  A
    // long result is read in two steps: its count and the keys of the first
    // screens, then every key once a row beyond them is wanted; counting is
    // much cheaper than listing the keys in order.
    bool keysLoaded = false; // every key is in keys
    int knownCount = -1;     // the number of rows once counted
    // An ordered result can also be read from its end, so that moving to the
    // last rows of a long result lists only those: the keys of the rows from
    // lastKeysFrom to the end.  The order ends with the row keys, so that
    // reading it backwards gives exactly the last rows of reading it forwards.
    std::vector<qint64> lastKeys;
    int lastKeysFrom = -1;

    // Forward-only keyed rows: counted, then stepped through once.
    bool forward = false;
    Statement stream;
    int streamRow = -1;
    RowValues streamValues;

    int rowCount()
    {
        if (!keyed)
            return int(allRows.size());
        if (forward) {
            if (knownCount < 0)
                countRows();
            return knownCount;
        }
        if (keysLoaded)
            return int(keys.size() / size_t(keyWidth));
        if (knownCount < 0)
            loadFirstKeys();
        return keysLoaded ? int(keys.size() / size_t(keyWidth)) : knownCount;
    }

    void ensureKeys()
    {
        if (!keysLoaded)
            loadKeys();
    }

    void ensureRow(int row)
    {
        if (keysLoaded || size_t(row + 1) * size_t(keyWidth) <= keys.size())
            return;
        if (!shape.order.isEmpty() && knownCount >= 0 && row >= knownCount - kLastKeys) {
            if (lastKeysFrom < 0)
                loadLastKeys();
            if (row >= lastKeysFrom)
                return;
        }
        if (knownCount >= 0 && knownCount <= kReadWholeBelow)
            loadKeysWithRows();
        else
            loadKeys();
    }

    void invalidateKeys()
    {
        keysLoaded = false;
        knownCount = -1;
        keys.clear();
        forgetLastKeys();
        clearCache();
        unreadable.clear();
    }

    void forgetLastKeys()
    {
        lastKeys.clear();
        lastKeysFrom = -1;
    }

    // Prepares the key query without running it, so that a bad filter or source fails now.
    void checkKeysQuery() const { prepare(keysSql(QString())); }

    std::vector<qint64> keyOf(int row)
    {
        ensureRow(row);
        if (!keysLoaded && size_t(row + 1) * size_t(keyWidth) > keys.size()) {
            const auto first = lastKeys.begin() + ptrdiff_t(row - lastKeysFrom) * keyWidth;
            return std::vector<qint64>(first, first + keyWidth);
        }
        return std::vector<qint64>(keys.begin() + ptrdiff_t(row) * keyWidth, keys.begin() + ptrdiff_t(row + 1) * keyWidth);
    }

    // --- building the SQL ---

    QString selectList() const
    {
        QStringList items;
        for (size_t i = 0; i < fields.size(); ++i)
            items.append(fields[i].expression);
        return joinParts(items);
    }

    QString keyList() const
    {
        QStringList items;
        for (const Instance &instance : instances)
            items.append(instance.key);
        return joinParts(items);
    }

    QString whereWith(const QString &extra, bool filtered = true) const
    {
        QStringList conditions;
        if (!shape.where.isEmpty())
            conditions.append(QLatin1Char('(') + shape.where + QLatin1Char(')'));
        if (filtered && !filterSql.isEmpty())
            conditions.append(QLatin1Char('(') + filterSql + QLatin1Char(')'));
        if (!extra.isEmpty())
            conditions.append(QLatin1Char('(') + extra + QLatin1Char(')'));
        return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    }

    QString fromClause() const
    {
        return shape.from.isEmpty() ? QString() : QStringLiteral(" FROM ") + shape.from;
    }

    QString keysSql(const QString &extra, bool backwards = false) const
    {
        return QStringLiteral("SELECT ") + keyList() + fromClause() + whereWith(extra) + keysOrder(backwards);
    }

    // Keyed results are neither grouped nor distinct: only the order counts.
    QString keysOrder(bool backwards) const
    {
        // A server gives the rows of a list without an order in whatever
        // order each plan finds them, and a list is read in several
        // statements (its first screens, then the rest): ordered by its keys,
        // no row is read twice or missed.  A file reads them in the order of
        // its tables' keys already.
        if (shape.order.isEmpty() && driver->dialect() != Dialect::Postgres)
            return QString();
        QStringList items;
        for (const sql::OrderTerm &term : shape.order)
            items.append(term.descending != backwards ? term.sql + QStringLiteral(" DESC") : term.sql);
        for (const Instance &instance : instances)
            items.append(backwards ? instance.key + QStringLiteral(" DESC") : instance.key);
        return QStringLiteral(" ORDER BY ") + joinParts(items);
    }

    // Rows read whole are filtered around this read (see loadAll()).
    QString fullSql(bool filtered = true) const
    {
        return QStringLiteral("SELECT ") + QString(shape.distinct ? QStringLiteral("DISTINCT ") : QString()) + selectList()
            + fromClause() + whereWith(QString(), filtered) + shape.tail();
    }

    QVariantList keysParameters() const { return fromParameters + whereParameters + restParameters; }

    // --- reading ---

    std::vector<qint64> keysOf(const QString &sql) const
    {
        std::vector<qint64> read;
        const Statement stmt = prepare(sql);
        stmt->bindAll(keysParameters());
        read.reserve(1024);
        while (stmt->step())
            for (int k = 0; k < keyWidth; ++k)
                read.push_back(keyAt(*stmt, k));
        return read;
    }

    void readKeys(const QString &sql)
    {
        keys = keysOf(sql);
        clearCache();
    }

    void loadKeys()
    {
        readKeys(keysSql(QString()));
        forgetLastKeys();
        keysLoaded = true;
        knownCount = int(keys.size() / size_t(keyWidth));
    }

    // Keys with their rows, in the result's order, the first `limit` of them
    // when limit >= 0; the rows are kept as the cached segments they fill.
    void readKeysWithRows(int limit)
    {
        QString sql = QStringLiteral("SELECT ") + selectList() + QStringLiteral(", ") + keyList() + fromClause()
            + whereWith(QString()) + keysOrder(false);
        if (limit >= 0)
            sql += QStringLiteral(" LIMIT %1").arg(limit);
        const Statement stmt = prepare(sql);
        stmt->bindAll(itemParameters + keysParameters());
        std::vector<qint64> read;
        std::vector<RowValues> rows;
        while (stmt->step()) {
            for (int k = 0; k < keyWidth; ++k)
                read.push_back(keyAt(*stmt, int(fields.size()) + k));
            rows.push_back(readRow(*stmt));
        }
        keys = std::move(read);
        clearCache();
        for (size_t first = 0; first < rows.size() && int(segments.size()) < kCachedSegments; first += kSegmentRows) {
            const auto end = rows.begin() + ptrdiff_t(std::min(rows.size(), first + kSegmentRows));
            segmentOrder.push_back(int(first / kSegmentRows));
            segments.emplace(int(first / kSegmentRows),
                             std::make_pair(std::vector<RowValues>(std::make_move_iterator(rows.begin() + ptrdiff_t(first)),
                                                                   std::make_move_iterator(end)),
                                            std::prev(segmentOrder.end())));
        }
        forgetLastKeys();
    }

    // A result short enough to list whole is read with its rows in one
    // statement, so that a list costs one read however many rows it shows.
    void loadKeysWithRows()
    {
        readKeysWithRows(-1);
        keysLoaded = true;
        knownCount = int(keys.size() / size_t(keyWidth));
    }

    void loadLastKeys()
    {
        const std::vector<qint64> backwards = keysOf(keysSql(QString(), true) + QStringLiteral(" LIMIT %1").arg(kLastKeys));
        const int rows = int(backwards.size() / size_t(keyWidth));
        lastKeys.clear();
        lastKeys.reserve(backwards.size());
        for (int r = rows - 1; r >= 0; --r)
            lastKeys.insert(lastKeys.end(), backwards.begin() + ptrdiff_t(r) * keyWidth,
                            backwards.begin() + ptrdiff_t(r + 1) * keyWidth);
        lastKeysFrom = knownCount - rows;
    }

    void countRows()
    {
        const QString sql = QStringLiteral("SELECT COUNT(*)") + fromClause() + whereWith(QString());
        const QVariantList parameters = fromParameters + whereParameters;
        if (const std::optional<QVariant> shared = connection->sharedCount(sql, parameters)) {
            knownCount = int(shared->toLongLong());
            return;
        }
        const Statement count = prepare(sql);
        count->bindAll(parameters);
        count->step();
        const QVariant counted = count->column(0);
        connection->keepSharedCount(sql, parameters, counted);
        knownCount = int(counted.toLongLong());
    }

    const RowValues &forwardRow(int index)
    {
        if (index < streamRow)
            throw Error(err::NotSupported, QStringLiteral("前方スクロールのみのレコードセットでは前の行に戻れません。"));
        if (!stream) {
            stream = prepare(fullSql());
            stream->bindAll(itemParameters + keysParameters());
        }
        while (streamRow < index) {
            ++streamRow;
            streamValues = stream->step() ? readRow(*stream) : RowValues(fields.size());
        }
        return streamValues;
    }

    // A server reads the first screens with their rows and one row more: a
    // list that ends within them (a combo box's code table, most filtered
    // lists) costs this one round trip; a longer one is counted as well, and
    // its further rows are read when wanted, all at once if it is short
    // enough.  Two screens, not more: a long list's first read joins each of
    // its rows where the straight read of one screen would stop.  A file
    // pays nothing for a statement more, but would sort a long list's whole
    // rows where it sorts only their keys: it counts first, then reads a
    // short list whole and a long one's first keys.
    void loadFirstKeys()
    {
        if (driver->dialect() == Dialect::Postgres) {
            readKeysWithRows(kFirstRows + 1);
            const int read = int(keys.size() / size_t(keyWidth));
            if (read <= kFirstRows) {
                keysLoaded = true;
                knownCount = read;
                return;
            }
            keys.resize(size_t(kFirstRows) * size_t(keyWidth));
            if (const auto extra = segments.find(kFirstRows / kSegmentRows); extra != segments.end()) {
                segmentOrder.erase(extra->second.second);
                segments.erase(extra);
            }
            countRows();
            if (kFirstRows >= knownCount)
                loadKeysWithRows();
            return;
        }
        countRows();
        if (knownCount <= kReadWholeBelow) {
            loadKeysWithRows();
            return;
        }
        readKeys(keysSql(QString()) + QStringLiteral(" LIMIT %1").arg(kFirstKeys));
        if (int(keys.size() / size_t(keyWidth)) >= knownCount)
            loadKeys();
    }

    RowValues readRow(const DriverResult &stmt) const
    {
        RowValues row(fields.size());
        for (size_t i = 0; i < fields.size(); ++i)
            row[i] = driver->fromStorage(stmt.column(int(i)), fields[i].meta.type, fields[i].meta.typeKnown);
        return row;
    }

    // A filter over rows read whole is a condition on the read itself, so
    // that filtering costs one statement however many rows there are.
    void loadAll()
    {
        QString sql = fullSql(false);
        if (!filterSql.isEmpty()) {
            QStringList names;
            for (size_t i = 0; i < fields.size(); ++i)
                names.append(rowColumn(int(i)));
            sql = QStringLiteral("WITH jet_rows(%1) AS (%2) SELECT * FROM jet_rows WHERE %3")
                      .arg(names.join(QStringLiteral(", ")), sql, filterSql);
        }
        // A summary that counts what a list beside it counted reads no more.
        const QVariantList parameters = itemParameters + keysParameters();
        const bool oneValue = shape.aggregate && fields.size() == 1;
        if (oneValue) {
            if (const std::optional<QVariant> shared = connection->sharedCount(sql, parameters)) {
                allRows = {RowValues{driver->fromStorage(*shared, fields[0].meta.type, fields[0].meta.typeKnown)}};
                return;
            }
        }
        // Read aside, so that a refused filter keeps the rows read before it.
        std::vector<RowValues> read;
        const Statement stmt = prepare(sql);
        stmt->bindAll(parameters);
        QVariant single;
        int rows = 0;
        while (stmt->step()) {
            if (oneValue && ++rows == 1)
                single = stmt->column(0);
            read.push_back(readRow(*stmt));
        }
        if (oneValue && rows == 1)
            connection->keepSharedCount(sql, parameters, single);
        allRows = std::move(read);
    }

    static QString rowColumn(int field) { return QStringLiteral("jet_c%1").arg(field + 1); }

    bool matches(DriverResult &test, const RowValues &row) const
    {
        test.reset();
        // The condition names field n as ?n; the back end knows the markers up
        // to the highest one named and refuses a value bound beyond it.
        const size_t named = std::min(fields.size(), size_t(test.parameterCount()));
        for (size_t f = 0; f < named; ++f)
            test.bind(int(f) + 1, driver->toStorage(row[f], fields[f].meta.type, fields[f].meta.typeKnown));
        const bool hit = test.step() && test.column(0).toLongLong() == 1;
        test.reset();
        return hit;
    }

    void clearCache()
    {
        segments.clear();
        segmentOrder.clear();
    }

    // The statement that reads one row by its keys; a table without a
    // partner row in it is matched by its missing row instead of a key.
    QString fetchSql(const std::vector<qint64> &key) const
    {
        QStringList conditions;
        for (int k = 0; k < keyWidth; ++k)
            conditions.append(instances[size_t(k)].key
                              + (key[size_t(k)] == kNoPartner ? QStringLiteral(" IS NULL") : QStringLiteral(" = ?")));
        return QStringLiteral("SELECT ") + selectList() + fromClause() + QStringLiteral(" WHERE ")
            + conditions.join(QStringLiteral(" AND "));
    }

    void prepareFetch()
    {
        if (!fetch)
            fetch = prepare(fetchSql(std::vector<qint64>(size_t(keyWidth), 0)));
    }

    RowValues fetchRow(int row)
    {
        if (auto it = unreadable.find(row); it != unreadable.end())
            return it->second;
        const std::vector<qint64> key = keyOf(row);
        const bool partnered = std::find(key.begin(), key.end(), kNoPartner) == key.end();
        // Rows of an outer join without a partner are rare: their statement
        // is made for them alone.
        Statement alone;
        if (partnered)
            prepareFetch();
        DriverResult &statement = partnered ? *fetch : *(alone = prepare(fetchSql(key)));
        statement.reset();
        const QVariantList fixed = itemParameters + fromParameters;
        statement.bindAll(fixed);
        int parameter = int(fixed.size());
        for (int k = 0; k < keyWidth; ++k)
            if (key[size_t(k)] != kNoPartner)
                statement.bind(++parameter, QVariant(qlonglong(key[size_t(k)])));
        RowValues values = statement.step() ? readRow(statement) : RowValues(fields.size());
        statement.reset();
        return values;
    }

    // The rows from `first` to before `last` with one statement, so that a
    // segment costs one round trip to a server rather than one a row.  Each
    // key column is matched against the segment's keys with a fixed number of
    // markers, so that the statement is prepared once; the rows found are
    // then paired with their rows here by their keys.
    std::vector<RowValues> fetchSegment(int first, int last)
    {
        std::vector<std::vector<qint64>> wanted;
        for (int r = first; r < last; ++r)
            wanted.push_back(unreadable.count(r) ? std::vector<qint64>() : keyOf(r));
        QStringList conditions;
        QVariantList values = itemParameters + fromParameters;
        for (int k = 0; k < keyWidth; ++k) {
            QList<qint64> present;
            bool partnerless = false;
            for (const std::vector<qint64> &key : wanted) {
                if (key.empty())
                    continue;
                if (key[size_t(k)] == kNoPartner)
                    partnerless = true;
                else if (!present.contains(key[size_t(k)]))
                    present.append(key[size_t(k)]);
            }
            QStringList either;
            if (!present.isEmpty()) {
                for (int i = 0; i < kSegmentRows; ++i)
                    values.append(QVariant(qlonglong(present.at(std::min(i, int(present.size()) - 1)))));
                either.append(instances[size_t(k)].key + QStringLiteral(" IN (")
                              + QStringList(kSegmentRows, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')'));
            }
            if (partnerless)
                either.append(instances[size_t(k)].key + QStringLiteral(" IS NULL"));
            if (either.isEmpty())
                break; // every row of the segment is one read aside
            conditions.append(QLatin1Char('(') + either.join(QStringLiteral(" OR ")) + QLatin1Char(')'));
        }
        const bool readable = int(conditions.size()) == keyWidth;
        // The lists above match every pairing of their keys: with two tables
        // up to kSegmentRows² rows for kSegmentRows, each read whole and, on a
        // server, sent across the network.  The pairs themselves are asked for
        // too, so that only the segment's rows come back; SQLite takes a list
        // of row values only as a subquery.
        std::vector<std::vector<qint64>> pairs;
        for (const std::vector<qint64> &key : wanted)
            if (!key.empty())
                pairs.push_back(key);
        const bool partnerless = std::any_of(pairs.begin(), pairs.end(), [](const std::vector<qint64> &key) {
            return std::find(key.begin(), key.end(), kNoPartner) != key.end();
        });
        if (readable && keyWidth > 1 && !partnerless) {
            QStringList keyColumns;
            for (int k = 0; k < keyWidth; ++k)
                keyColumns.append(instances[size_t(k)].key);
            for (int i = 0; i < kSegmentRows; ++i)
                for (qint64 key : pairs.at(size_t(std::min(i, int(pairs.size()) - 1))))
                    values.append(QVariant(qlonglong(key)));
            const QString tuple = QLatin1Char('(') + QStringList(keyWidth, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
            const QString list = (driver->dialect() == Dialect::Postgres ? QString() : QStringLiteral("VALUES "))
                + QStringList(kSegmentRows, tuple).join(QStringLiteral(", "));
            conditions.append(QLatin1Char('(') + keyColumns.join(QStringLiteral(", ")) + QStringLiteral(") IN (") + list
                              + QLatin1Char(')'));
        }

        std::unordered_map<std::vector<qint64>, RowValues, KeyHash> found;
        if (readable) {
            const QString sql = QStringLiteral("SELECT ") + selectList() + QStringLiteral(", ") + keyList() + fromClause()
                + QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
            if (!segmentRead || sql != segmentReadSql) {
                segmentRead = prepare(sql);
                segmentReadSql = sql;
            }
            DriverResult &stmt = *segmentRead;
            stmt.reset();
            stmt.bindAll(values);
            std::vector<qint64> key(static_cast<size_t>(keyWidth));
            while (stmt.step()) {
                for (int k = 0; k < keyWidth; ++k)
                    key[size_t(k)] = keyAt(stmt, int(fields.size()) + k);
                if (!found.count(key))
                    found.emplace(key, readRow(stmt));
            }
            stmt.reset();
        }
        std::vector<RowValues> rows;
        rows.reserve(wanted.size());
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (wanted[i].empty()) {
                rows.push_back(unreadable.at(first + int(i)));
                continue;
            }
            const auto it = found.find(wanted[i]);
            rows.push_back(it != found.end() ? it->second : RowValues(fields.size()));
        }
        return rows;
    }

    const RowValues &row(int index)
    {
        if (forward)
            return forwardRow(index);
        if (!keyed)
            return allRows[size_t(index)];
        const int segment = index / kSegmentRows;
        auto it = segments.find(segment);
        if (it == segments.end()) {
            // Listing the keys may read the rows with them.
            ensureRow(index);
            it = segments.find(segment);
        }
        if (it == segments.end()) {
            const int first = segment * kSegmentRows;
            std::vector<RowValues> rows = fetchSegment(first, std::min(rowCount(), first + kSegmentRows));
            segmentOrder.push_front(segment);
            it = segments.emplace(segment, std::make_pair(std::move(rows), segmentOrder.begin())).first;
            if (int(segments.size()) > kCachedSegments) {
                segments.erase(segmentOrder.back());
                segmentOrder.pop_back();
            }
        } else if (it->second.second != segmentOrder.begin()) {
            segmentOrder.splice(segmentOrder.begin(), segmentOrder, it->second.second);
        }
        return it->second.first[size_t(index - segment * kSegmentRows)];
    }

    void refreshRow(int index)
    {
        if (!keyed)
            return;
        const int segment = index / kSegmentRows;
        auto it = segments.find(segment);
        if (it == segments.end())
            return;
        const size_t offset = size_t(index - segment * kSegmentRows);
        if (offset < it->second.first.size()) {
            it->second.first[offset] = fetchRow(index);
        } else {
            // The segment was read before the row was added: read it anew when needed.
            segmentOrder.erase(it->second.second);
            segments.erase(it);
        }
    }

    // --- filters and finds ---

    // How a condition names a field: by its expression in the statement, as
    // a parameter ?n bound to a row's value, or as a column of the rows read whole.
    enum class FieldRef { Expression, Parameter, RowColumn };

    sql::FieldLookup lookup(FieldRef ref) const
    {
        return [this, ref](const QString &name) -> std::optional<sql::FieldInfo> {
            const int index = fieldIndex(name);
            if (index < 0)
                return std::nullopt;
            const Field &f = fields[size_t(index)];
            sql::FieldInfo info;
            info.sql = ref == FieldRef::Parameter ? QStringLiteral("?%1").arg(index + 1)
                : ref == FieldRef::RowColumn     ? rowColumn(index)
                                                 : f.expression;
            if (!f.meta.typeKnown)
                info.type = sql::FieldInfo::Type::Unknown;
            else
                switch (f.meta.type) {
                case DataType::Long:
                case DataType::Integer:
                case DataType::Double:
                    info.type = sql::FieldInfo::Type::Number;
                    break;
                case DataType::YesNo:
                    info.type = sql::FieldInfo::Type::Boolean;
                    break;
                case DataType::Date:
                    info.type = sql::FieldInfo::Type::Date;
                    break;
                default:
                    info.type = sql::FieldInfo::Type::Text;
                }
            return info;
        };
    }

    int fieldIndex(const QString &name) const
    {
        const QString wanted = name.trimmed();
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].meta.name.compare(wanted, Qt::CaseInsensitive) == 0)
                return int(i);
        // A unique field may also be named with its source: 入退院情報.入退院ID.
        if (wanted.contains(QLatin1Char('.'))) {
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i].qualifiedName.compare(wanted, Qt::CaseInsensitive) == 0)
                    return int(i);
        }
        return -1;
    }

    // --- writing ---

    QVariant storageValue(int field, const QVariant &value) const
    {
        const Field &f = fields[size_t(field)];
        const QVariant stored = driver->toStorage(value, f.meta.type, f.meta.typeKnown);
        // The stored column may keep any length; the declared size is ours to hold.
        if (f.meta.typeKnown && f.meta.definedSize > 0
            && (f.meta.type == DataType::Text || f.meta.type == DataType::FixedText)
            && stored.metaType().id() == QMetaType::QString && stored.toString().size() > f.meta.definedSize)
            throw Error(err::FieldTooSmall,
                        QStringLiteral("フィールドが小さすぎるため、追加しようとした量のデータを受け入れることができません。"
                                       "挿入または貼り付けるデータの量を減らしてください。 (%1: %2 文字まで)")
                            .arg(f.meta.name)
                            .arg(f.meta.definedSize));
        return stored;
    }

    // A row of a join is written to all its tables or to none: a failure
    // (a full disk, a lock, a refused value) leaves the file as it was.
    // Inside the caller's transaction it is a level of its own.
    void atomically(const std::function<void()> &write)
    {
        Transaction transaction(*connection);
        write();
        transaction.commit();
    }

    QMap<int, QList<int>> pendingByInstance() const
    {
        // In the order of the sources, so that a failure always meets the same writes before it.
        QMap<int, QList<int>> byInstance;
        for (auto it = pending.cbegin(); it != pending.cend(); ++it)
            byInstance[fields[size_t(it.key())].instance].append(it.key());
        for (QList<int> &fieldsOfInstance : byInstance)
            std::sort(fieldsOfInstance.begin(), fieldsOfInstance.end());
        return byInstance;
    }

    // One table's share of an update: its changed fields, their new values
    // in stored form, and the row's key in it.
    struct TableWrite
    {
        int instance = -1;
        QList<int> fields;
        QVariantList values;
        qint64 key = 0;
    };

    // The changed columns of one table's row as stored now, in stored form;
    // nothing when the row is gone.  On a server the row stays so until the
    // transaction ends.
    std::optional<QVariantList> storedNow(const TableWrite &write) const
    {
        const Instance &instance = instances[size_t(write.instance)];
        QStringList columns;
        for (int f : write.fields)
            columns.append(quoteIdentifier(fields[size_t(f)].meta.baseColumn, driver->dialect()));
        const Statement probe = prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?%4")
                                            .arg(joinParts(columns), quoteIdentifier(instance.table, driver->dialect()),
                                                 quoteIdentifier(driver->rowKeyColumn(instance.table), driver->dialect()),
                                                 sql::lockingRead(driver->dialect())));
        probe->bind(1, write.key);
        if (!probe->step())
            return std::nullopt;
        QVariantList stored;
        for (int i = 0; i < write.fields.size(); ++i)
            stored.append(probe->column(i));
        return stored;
    }

    static bool sameValue(const QVariant &a, const QVariant &b)
    {
        if (a.isNull() || b.isNull())
            return a.isNull() == b.isNull();
        return a == b;
    }

    // The fields whose stored value is neither the one read nor the one this
    // update writes; read and stored values are compared after the same
    // conversion from the stored form, so that a value read compares equal
    // to itself whatever the back end's types.
    void collectConflicts(const TableWrite &write, const QVariantList &stored, const RowValues &read,
                          QList<FieldConflict> &found) const
    {
        for (int i = 0; i < write.fields.size(); ++i) {
            const int f = write.fields.at(i);
            const FieldMeta &meta = fields[size_t(f)].meta;
            const QVariant now = driver->fromStorage(stored.at(i), meta.type, meta.typeKnown);
            if (!sameValue(now, read[size_t(f)]) && !sameValue(now, pending.value(f)))
                found.append(FieldConflict{f, now, pending.value(f)});
        }
    }

    void writeUpdate(int row)
    {
        const std::vector<qint64> key = keyOf(row);
        const RowValues read = this->row(row);
        const QMap<int, QList<int>> byInstance = pendingByInstance();
        // Every value is converted and checked before anything is written.
        std::vector<TableWrite> writes;
        for (auto it = byInstance.cbegin(); it != byInstance.cend(); ++it) {
            const Instance &instance = instances[size_t(it.key())];
            TableWrite write{it.key(), it.value(), {}, key[size_t(it.key())]};
            for (int f : it.value())
                write.values.append(storageValue(f, pending.value(f)));
            // A value for a partner row the outer join did not find has no
            // row to go to: refused, not silently dropped.
            if (write.key == kNoPartner)
                throw Error(err::NotSupported,
                            QStringLiteral("テーブル '%1' に対応する行がないため、更新できません。").arg(instance.table));
            connection->checkWrite({WriteIntent::Kind::Update, instance.table});
            writes.push_back(write);
        }
        conflicts.clear();
        QList<FieldConflict> found;
        atomically([&] {
            ensureRowStillThere(key);
            for (const TableWrite &write : writes) {
                const std::optional<QVariantList> stored = storedNow(write);
                if (!stored)
                    rowDeleted();
                collectConflicts(write, *stored, read, found);
                if (!found.isEmpty())
                    continue; // the other tables' conflicts are named too, and nothing is written
                const Instance &instance = instances[size_t(write.instance)];
                QStringList sets, unchanged;
                for (int f : write.fields) {
                    const QString column = quoteIdentifier(fields[size_t(f)].meta.baseColumn, driver->dialect());
                    sets.append(column + QStringLiteral(" = ?"));
                    unchanged.append(sql::sameValueAsParameter(column, driver->dialect()));
                }
                const Statement stmt = prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ? AND %4")
                                                   .arg(quoteIdentifier(instance.table, driver->dialect()), joinParts(sets),
                                                        quoteIdentifier(driver->rowKeyColumn(instance.table), driver->dialect()),
                                                        unchanged.join(QStringLiteral(" AND "))));
                stmt->bindAll(write.values + QVariantList{write.key} + *stored);
                stmt->step();
                if (stmt->changes() > 0)
                    continue;
                // The row was read under a lock just now: a miss means the
                // back end let another writer in after all.
                const std::optional<QVariantList> again = storedNow(write);
                if (!again)
                    rowDeleted();
                collectConflicts(write, *again, read, found);
                if (found.isEmpty())
                    for (int i = 0; i < write.fields.size(); ++i) {
                        const FieldMeta &meta = fields[size_t(write.fields.at(i))].meta;
                        found.append(FieldConflict{write.fields.at(i), driver->fromStorage(again->at(i), meta.type, meta.typeKnown),
                                                   pending.value(write.fields.at(i))});
                    }
            }
            if (!found.isEmpty())
                dataChanged(found);
            if (connection->rowChangeObserver())
                for (const TableWrite &write : writes) {
                    RowChange change = rowChange(RowChange::Kind::Update, instances[size_t(write.instance)].table, write.key);
                    for (int f : write.fields)
                        change.columns.append(ColumnChange{fields[size_t(f)].meta.baseColumn, read[size_t(f)], pending.value(f)});
                    connection->rowChangeObserver()(*connection, change);
                }
        });
    }

    // What the connection's observer is told of a row of the table, read
    // inside the write's transaction: after an update or insertion, and
    // before a deletion, under the lock the deletion takes, with every
    // column as a column changed.  An empty row when it is not there.
    RowChange rowChange(RowChange::Kind kind, const QString &table, qint64 key) const
    {
        RowChange change;
        change.kind = kind;
        change.table = table;
        for (const IndexDef &index : driver->indexDefinitions(table))
            if (index.primaryKey)
                change.primaryKey = index.columns;
        const QList<ColumnDef> columns = driver->columns(table);
        QStringList names;
        for (const ColumnDef &column : columns)
            names.append(quoteIdentifier(column.name, driver->dialect()));
        const bool deleting = kind == RowChange::Kind::Delete;
        const Statement stored = prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?%4")
                                             .arg(joinParts(names), quoteIdentifier(table, driver->dialect()),
                                                  quoteIdentifier(driver->rowKeyColumn(table), driver->dialect()),
                                                  deleting ? sql::lockingRead(driver->dialect()) : QString()));
        stored->bind(1, key);
        if (!stored->step())
            return change;
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant value = driver->fromStorage(stored->column(i), columns.at(i).type, true);
            change.row.insert(columns.at(i).name, value);
            if (deleting)
                change.columns.append(ColumnChange{columns.at(i).name, value, {}});
        }
        return change;
    }

    [[noreturn]] void dataChanged(const QList<FieldConflict> &found)
    {
        conflicts = found;
        QStringList names;
        for (const FieldConflict &conflict : found)
            names.append(fields[size_t(conflict.field)].meta.name);
        throw Error(err::DataChanged,
                    QStringLiteral("ほかのユーザーがこのレコードを変更したため、保存できませんでした。"
                                   "変更は保存されていません。(%1)")
                        .arg(names.join(QStringLiteral(", "))));
    }

    // The cached values of a row, when it is cached at all.
    RowValues *cachedRow(int index)
    {
        if (!keyed)
            return index >= 0 && size_t(index) < allRows.size() ? &allRows[size_t(index)] : nullptr;
        if (auto it = unreadable.find(index); it != unreadable.end())
            return &it->second;
        const auto it = segments.find(index / kSegmentRows);
        if (it == segments.end())
            return nullptr;
        const size_t offset = size_t(index - (index / kSegmentRows) * kSegmentRows);
        return offset < it->second.first.size() ? &it->second.first[offset] : nullptr;
    }

    // The conflicting fields' stored values become the ones read.  A row no
    // longer cached is read anew when next needed, with them.
    void takeStoredAsRead()
    {
        if (RowValues *values = cachedRow(current))
            for (const FieldConflict &conflict : conflicts)
                (*values)[size_t(conflict.field)] = conflict.stored;
    }

    [[noreturn]] static void rowDeleted()
    {
        throw Error(err::RecordDeleted,
                    QStringLiteral("このレコードは、ほかのユーザーによって削除されています。変更は保存されませんでした。"));
    }

    // A file gives a deleted row's key to the next row added, so a key alone
    // may name a row that was never read: the row is still the one read only
    // while its tables' rows still meet the conditions that joined them.
    void ensureRowStillThere(const std::vector<qint64> &key)
    {
        if (instances.size() < 2)
            return;
        QStringList conditions;
        QVariantList values = fromParameters;
        if (!shape.where.isEmpty()) {
            conditions.append(QLatin1Char('(') + shape.where + QLatin1Char(')'));
            values += whereParameters;
        }
        for (int k = 0; k < keyWidth; ++k) {
            if (key[size_t(k)] == kNoPartner) {
                conditions.append(instances[size_t(k)].key + QStringLiteral(" IS NULL"));
                continue;
            }
            conditions.append(instances[size_t(k)].key + QStringLiteral(" = ?"));
            values.append(key[size_t(k)]);
        }
        const Statement probe = prepare(QStringLiteral("SELECT 1") + fromClause() + QStringLiteral(" WHERE ")
                                        + conditions.join(QStringLiteral(" AND ")));
        probe->bindAll(values);
        if (!probe->step())
            rowDeleted();
    }

    void writeInsert()
    {
        ensureKeys();
        QMap<int, QList<int>> byInstance = pendingByInstance();
        // A single-table recordset inserts a row even when nothing was assigned.
        if (byInstance.isEmpty() && instances.size() == 1)
            byInstance[0];
        struct Insert
        {
            bool wanted = false;
            QStringList columns;
            QVariantList values;
        };
        std::vector<Insert> inserts(instances.size());
        bool readable = true;
        for (size_t i = 0; i < instances.size(); ++i) {
            if (!byInstance.contains(int(i))) {
                readable = false;
                continue;
            }
            inserts[i].wanted = true;
            for (int f : byInstance.value(int(i))) {
                inserts[i].columns.append(fields[size_t(f)].meta.baseColumn);
                inserts[i].values.append(storageValue(f, pending.value(f)));
            }
        }
        for (size_t i = 0; i < inserts.size(); ++i)
            if (inserts[i].wanted)
                connection->checkWrite({WriteIntent::Kind::Insert, instances[i].table});
        std::vector<qint64> key(size_t(keyWidth), 0);
        atomically([&] {
            connection->driver(); // reports a closed connection
            for (size_t i = 0; i < inserts.size(); ++i)
                if (inserts[i].wanted)
                    key[i] = driver->insert(instances[i].table, inserts[i].columns, inserts[i].values);
            if (connection->rowChangeObserver())
                for (size_t i = 0; i < inserts.size(); ++i) {
                    if (!inserts[i].wanted)
                        continue;
                    RowChange change = rowChange(RowChange::Kind::Insert, instances[i].table, key[i]);
                    for (int f : byInstance.value(int(i)))
                        change.columns.append(ColumnChange{fields[size_t(f)].meta.baseColumn, {}, pending.value(f)});
                    connection->rowChangeObserver()(*connection, change);
                }
        });
        const int row = rowCount();
        keys.insert(keys.end(), key.begin(), key.end());
        if (!readable) {
            RowValues values(fields.size());
            for (auto it = pending.cbegin(); it != pending.cend(); ++it)
                values[size_t(it.key())] = it.value();
            unreadable[row] = values;
        }
    }
};

Recordset::Recordset(QObject *parent) : QObject(parent) {}

Recordset::~Recordset() = default;

void Recordset::open(const QString &source, Connection *connection, CursorType cursor, LockType lock)
{
    openCommand(source, connection, {}, cursor);
    d->lock = lock;
}

void Recordset::openCommand(const QString &source, Connection *connection, const QVariantList &parameters,
                            CursorType cursor)
{
    if (d)
        throw Error(err::GeneralFailure, QStringLiteral("オブジェクトが開いている場合は、操作は許可されません。"));
    if (!connection || !connection->isOpen())
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    connection->renewIfLost();
    auto data = std::make_unique<RecordsetData>();
    data->connection = connection;
    data->connectionLifetime = connection->lifetime();
    data->connectionOpen = connection->openCount();
    data->physical = connection->sharedPhysical();
    data->driver = &connection->driver();
    data->source = source;
    data->parameters = parameters;
    Driver &driver = *data->driver;

    // A bare or quoted name opens the table or stored query of that name.
    QString name = source.trimmed();
    if (name.endsWith(QLatin1Char(';')))
        name.chop(1);
    if ((name.startsWith(QLatin1Char('`')) && name.endsWith(QLatin1Char('`')))
        || (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))))
        name = name.mid(1, name.size() - 2);
    QString jetSql = source;
    // A text that begins with SELECT is a statement, as ADO tries a source as
    // command text first; asking whether a table bears it as its name would
    // cost a server a round trip on every open.
    static const QRegularExpression selectText(QStringLiteral(R"(^select[\s(*])"), QRegularExpression::CaseInsensitiveOption);
    const bool isStatement = selectText.match(source.trimmed()).hasMatch();
    if (const std::optional<SchemaObject> object = isStatement ? std::nullopt : driver.findObject(name)) {
        jetSql = QStringLiteral("SELECT * FROM [%1]").arg(object->name);
        if (object->kind == SchemaObject::Kind::View) {
            const QString text = driver.viewText(object->name);
            if (!text.isEmpty())
                jetSql = text;
        }
    }

    const sql::Statement &statement = connection->physical()->translation(jetSql, driver.dialect());
    if (statement.kind != sql::Statement::Kind::Select && statement.kind != sql::Statement::Kind::SelectInto)
        throw Error(err::GeneralFailure, QStringLiteral("行を返すコマンドではありません: %1").arg(source));
    data->shape = statement.select;

    // Parameters come in text order: items, FROM, WHERE, then the rest.
    int next = 0;
    auto take = [&](int count) {
        QVariantList part;
        for (int i = 0; i < count; ++i, ++next)
            part.append(next < parameters.size() ? parameters.at(next) : QVariant());
        return part;
    };
    for (const sql::SelectItem &item : data->shape.items)
        data->itemParameters += take(item.parameters);
    data->fromParameters = take(data->shape.fromParameters);
    data->whereParameters = take(data->shape.whereParameters);
    data->restParameters = take(data->shape.restParameters);

    // Sources and their columns.
    for (const sql::TableRef &ref : data->shape.tables) {
        Instance instance;
        instance.table = ref.table;
        instance.alias = ref.alias.isEmpty() ? ref.table : ref.alias;
        const std::optional<SchemaObject> object = driver.findObject(ref.table);
        if (!object)
            throw Error(err::TableMissing,
                        QStringLiteral("入力テーブルまたはクエリ '%1' が見つかりませんでした。").arg(ref.table));
        instance.isTable = object->kind == SchemaObject::Kind::Table;
        instance.table = object->name;
        instance.columns = driver.columns(instance.table);
        if (instance.isTable)
            instance.key = quoteIdentifier(instance.alias, driver.dialect()) + QLatin1Char('.')
                + quoteIdentifier(driver.rowKeyColumn(instance.table), driver.dialect());
        data->instances.push_back(instance);
    }

    // Fields, with the names Jet gives them.
    auto addColumnField = [&](int instanceIndex, const ColumnDef &column, const QString &alias) {
        const Instance &instance = data->instances[size_t(instanceIndex)];
        Field f;
        f.meta.name = alias.isEmpty() ? column.name : alias;
        f.meta.baseTable = instance.table;
        f.meta.baseColumn = column.name;
        f.meta.type = column.type;
        f.meta.typeKnown = instance.isTable || column.definedSize >= 0;
        f.meta.definedSize = std::max(column.definedSize, 0);
        f.expression = quoteIdentifier(instance.alias, driver.dialect()) + QLatin1Char('.') + quoteIdentifier(column.name, driver.dialect());
        f.instance = instance.isTable ? instanceIndex : -1;
        f.qualifiedName = instance.alias + QLatin1Char('.') + column.name;
        data->fields.push_back(f);
    };
    auto findInstance = [&](const QString &alias) {
        for (size_t i = 0; i < data->instances.size(); ++i)
            if (data->instances[i].alias.compare(alias, Qt::CaseInsensitive) == 0)
                return int(i);
        for (size_t i = 0; i < data->instances.size(); ++i)
            if (data->instances[i].table.compare(alias, Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    };
    int unnamed = 1000;
    for (const sql::SelectItem &item : data->shape.items) {
        if (item.star) {
            for (size_t i = 0; i < data->instances.size(); ++i) {
                if (!item.starQualifier.isEmpty() && int(i) != findInstance(item.starQualifier))
                    continue;
                for (const ColumnDef &c : data->instances[i].columns)
                    addColumnField(int(i), c, QString());
            }
            continue;
        }
        if (!item.columnName.isEmpty()) {
            int owner = -1;
            const ColumnDef *column = nullptr;
            for (size_t i = 0; i < data->instances.size() && !column; ++i) {
                if (!item.columnQualifier.isEmpty() && int(i) != findInstance(item.columnQualifier))
                    continue;
                for (const ColumnDef &c : data->instances[i].columns)
                    if (c.name.compare(item.columnName, Qt::CaseInsensitive) == 0) {
                        owner = int(i);
                        column = &c;
                        break;
                    }
            }
            if (column) {
                addColumnField(owner, *column, item.alias);
                continue;
            }
        }
        Field f;
        f.meta.name = !item.alias.isEmpty() ? item.alias
            : !item.columnName.isEmpty() ? item.columnName
                                         : QStringLiteral("Expr%1").arg(unnamed++);
        f.expression = item.sql;
        f.qualifiedName = f.meta.name;
        data->fields.push_back(f);
    }
    // A name that repeats is known by its source: 患者情報.カルテID, 入退院情報.カルテID.
    std::vector<bool> repeated(data->fields.size(), false);
    for (size_t i = 0; i < data->fields.size(); ++i)
        for (size_t j = i + 1; j < data->fields.size(); ++j)
            if (data->fields[i].meta.name.compare(data->fields[j].meta.name, Qt::CaseInsensitive) == 0)
                repeated[i] = repeated[j] = true;
    for (size_t i = 0; i < data->fields.size(); ++i) {
        Field &f = data->fields[i];
        if (repeated[i] && !f.meta.baseTable.isEmpty() && f.meta.name == f.meta.baseColumn)
            f.meta.name = f.qualifiedName;
    }
    // TOP's rows are read whole: the keys and the count of a keyed result know no limit.
    data->keyed = !data->shape.aggregate && !data->shape.distinct && data->shape.top == 0 && data->shape.simpleFrom
        && !data->instances.empty();
    for (const Instance &instance : data->instances)
        data->keyed = data->keyed && instance.isTable;
    data->keyWidth = data->keyed ? int(data->instances.size()) : 0;
    data->forward = data->keyed && cursor == CursorType::ForwardOnly;
    if (data->keyed) {
        // Preparing both reads reports a missing table or column as the open's failure.
        data->prepareFetch();
        data->checkKeysQuery();
    } else {
        data->loadAll();
    }
    data->current = 0;
    d = std::move(data);
    emit rowsReset();
    emit currentChanged();
}

void Recordset::close()
{
    if (!d)
        return;
    d.reset();
    emit rowsReset();
}

bool Recordset::isOpen() const
{
    return d != nullptr;
}

QString Recordset::source() const
{
    return d ? d->source : QString();
}

void Recordset::requireOpen() const
{
    if (!d)
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    if (d->connectionLifetime.expired() || !d->connection->isOpen() || d->connection->openCount() != d->connectionOpen)
        throw Error(err::ObjectClosed, QStringLiteral("接続が閉じられています。"));
}

void Recordset::requireCurrent() const
{
    requireOpen();
    if (d->mode == EditMode::Add)
        return;
    if (d->current < 0 || d->current >= d->rowCount())
        noCurrentRecord();
}

int Recordset::fieldCount() const
{
    return d ? int(d->fields.size()) : 0;
}

const FieldMeta &Recordset::field(int index) const
{
    requireOpen();
    if (index < 0 || index >= int(d->fields.size()))
        throw Error(err::ItemNotFound, QStringLiteral("要求された名前、または序数に対応する項目がコレクションで見つかりません。"));
    return d->fields[size_t(index)].meta;
}

int Recordset::fieldIndex(const QString &name) const
{
    return d ? d->fieldIndex(name) : -1;
}

static int requireField(const RecordsetData &d, const QString &name)
{
    const int index = d.fieldIndex(name);
    if (index < 0)
        throw Error(err::ItemNotFound,
                    QStringLiteral("要求された名前 '%1' に対応する項目がコレクションで見つかりません。").arg(name));
    return index;
}

QVariant Recordset::value(int field) const
{
    requireCurrent();
    if (field < 0 || field >= int(d->fields.size()))
        throw Error(err::ItemNotFound, QStringLiteral("要求された名前、または序数に対応する項目がコレクションで見つかりません。"));
    if (d->pending.contains(field))
        return d->pending.value(field);
    if (d->mode == EditMode::Add)
        return QVariant();
    return d->row(d->current)[size_t(field)];
}

QVariant Recordset::value(const QString &name) const
{
    requireOpen();
    return value(requireField(*d, name));
}

void Recordset::setValue(int field, const QVariant &value)
{
    requireCurrent();
    const Field &f = d->fields.at(size_t(field));
    if (f.instance < 0 || d->lock == LockType::ReadOnly)
        throw Error(err::NotSupported, QStringLiteral("フィールド '%1' は更新できません。").arg(f.meta.name));
    // Checks the value against the column's type now, as the assignment does in ADO.
    d->storageValue(field, value);
    if (d->mode == EditMode::None)
        d->mode = EditMode::InProgress;
    d->pending.insert(field, value);
}

void Recordset::setValue(const QString &name, const QVariant &value)
{
    requireOpen();
    setValue(requireField(*d, name), value);
}

int Recordset::rowCount() const
{
    return d ? d->rowCount() : 0;
}

QVariant Recordset::valueAt(int row, int field) const
{
    requireOpen();
    if (row < 0 || row >= d->rowCount() || field < 0 || field >= int(d->fields.size()))
        return QVariant();
    if (row == d->current && d->pending.contains(field))
        return d->pending.value(field);
    return d->row(row)[size_t(field)];
}

bool Recordset::bof() const
{
    requireOpen();
    return d->rowCount() == 0 || d->current < 0;
}

bool Recordset::eof() const
{
    requireOpen();
    if (d->mode == EditMode::Add)
        return false;
    return d->rowCount() == 0 || d->current >= d->rowCount();
}

void Recordset::commitEditors()
{
    for (RowEditor *editor : m_editors)
        editor->commitEdits();
}

void Recordset::setCurrent(int row)
{
    commitEditors();
    if (d->mode != EditMode::None)
        update();
    const int clamped = std::clamp(row, -1, d->rowCount());
    const bool moved = clamped != d->current;
    d->current = clamped;
    if (moved)
        emit currentChanged();
}

void Recordset::moveFirst()
{
    requireOpen();
    setCurrent(0);
}

void Recordset::moveLast()
{
    requireOpen();
    setCurrent(d->rowCount() - 1 < 0 ? 0 : d->rowCount() - 1);
}

void Recordset::moveNext()
{
    requireOpen();
    if (eof())
        noCurrentRecord();
    setCurrent(d->current + 1);
}

void Recordset::movePrevious()
{
    requireOpen();
    if (bof())
        noCurrentRecord();
    setCurrent(d->current - 1);
}

void Recordset::moveTo(int row)
{
    requireOpen();
    setCurrent(row);
}

int Recordset::currentRow() const
{
    return d ? d->current : -1;
}

int Recordset::recordCount() const
{
    requireOpen();
    return d->rowCount();
}

int Recordset::absolutePosition() const
{
    requireOpen();
    if (d->rowCount() == 0)
        return PositionUnknown;
    if (d->current < 0)
        return PositionBof;
    if (d->current >= d->rowCount())
        return PositionEof;
    return d->current + 1;
}

EditMode Recordset::editMode() const
{
    return d ? d->mode : EditMode::None;
}

void Recordset::addNew()
{
    requireOpen();
    commitEditors();
    if (d->mode != EditMode::None)
        update();
    if (d->lock == LockType::ReadOnly || (!d->keyed))
        throw Error(err::NotSupported, QStringLiteral("このレコードセットには追加できません。"));
    d->mode = EditMode::Add;
    d->pending.clear();
    emit currentChanged();
}

void Recordset::addNew(const QStringList &fields, const QVariantList &values)
{
    addNew();
    try {
        for (int i = 0; i < fields.size(); ++i)
            setValue(fields.at(i), values.value(i));
        update();
    } catch (...) {
        cancelUpdate();
        throw;
    }
}

void Recordset::update()
{
    requireOpen();
    commitEditors();
    if (d->mode == EditMode::None)
        return;
    d->follow();
    if (d->mode == EditMode::Add) {
        d->writeInsert();
        d->mode = EditMode::None;
        d->pending.clear();
        d->current = d->rowCount() - 1;
        d->refreshRow(d->current);
        emit rowInserted(d->current);
        emit currentChanged();
        return;
    }
    d->writeUpdate(d->current);
    d->mode = EditMode::None;
    d->pending.clear();
    d->refreshRow(d->current);
    emit rowChanged(d->current);
}

QList<FieldConflict> Recordset::conflicts() const
{
    return d ? d->conflicts : QList<FieldConflict>();
}

void Recordset::overwriteConflicts()
{
    requireOpen();
    d->takeStoredAsRead();
    d->conflicts.clear();
}

void Recordset::reloadConflicts()
{
    requireOpen();
    if (d->conflicts.isEmpty())
        return;
    d->takeStoredAsRead();
    for (const FieldConflict &conflict : std::as_const(d->conflicts))
        d->pending.remove(conflict.field);
    d->conflicts.clear();
    if (d->pending.isEmpty())
        d->mode = EditMode::None;
    emit rowChanged(d->current);
}

void Recordset::cancelUpdate()
{
    requireOpen();
    const bool adding = d->mode == EditMode::Add;
    d->mode = EditMode::None;
    d->pending.clear();
    d->conflicts.clear();
    if (adding)
        emit currentChanged();
    else if (d->current >= 0 && d->current < d->rowCount())
        emit rowChanged(d->current);
}

void Recordset::deleteCurrent()
{
    requireOpen();
    if (d->mode == EditMode::Add) {
        cancelUpdate();
        return;
    }
    if (d->current < 0 || d->current >= d->rowCount())
        noCurrentRecord();
    if (!d->keyed || d->instances.size() != 1 || d->lock == LockType::ReadOnly)
        throw Error(err::NotSupported, QStringLiteral("このレコードセットからは削除できません。"));
    d->follow();
    d->connection->checkWrite({WriteIntent::Kind::Delete, d->instances[0].table});
    d->mode = EditMode::None;
    d->pending.clear();
    d->ensureKeys();
    const int row = d->current;
    const QString table = d->instances[0].table;
    const qint64 key = d->keyOf(row)[0];
    const auto remove = [&] {
        const Statement stmt = d->prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                                              .arg(quoteIdentifier(table, d->driver->dialect()),
                                                   quoteIdentifier(d->driver->rowKeyColumn(table), d->driver->dialect())));
        stmt->bind(1, QVariant(qlonglong(key)));
        stmt->step();
    };
    Connection &connection = *d->connection;
    if (!connection.rowChangeObserver()) {
        remove();
    } else {
        d->atomically([&] {
            // The row as it was goes to the observer; a row another
            // workstation deleted first is no deletion of this one.
            const RowChange change = d->rowChange(RowChange::Kind::Delete, table, key);
            remove();
            if (!change.row.isEmpty())
                connection.rowChangeObserver()(connection, change);
        });
    }
    d->keys.erase(d->keys.begin() + ptrdiff_t(row) * d->keyWidth, d->keys.begin() + ptrdiff_t(row + 1) * d->keyWidth);
    d->clearCache();
    d->unreadable.clear();
    emit rowRemoved(row);
    emit currentChanged();
}

void Recordset::find(const QString &criterion)
{
    requireOpen();
    commitEditors();
    if (d->mode != EditMode::None)
        update();
    d->follow();
    const int start = std::max(d->current, 0);
    if (!d->keyed) {
        const QString condition = sql::translateCriterion(criterion, d->lookup(RecordsetData::FieldRef::Parameter), d->driver->dialect());
        const Statement test = d->prepare(QStringLiteral("SELECT CASE WHEN (%1) THEN 1 ELSE 0 END").arg(condition));
        int row = start;
        while (row < d->rowCount() && !d->matches(*test, d->row(row)))
            ++row;
        setCurrent(row);
        return;
    }
    const QString condition = sql::translateCriterion(criterion, d->lookup(RecordsetData::FieldRef::Expression), d->driver->dialect());
    const Statement stmt = d->prepare(d->keysSql(condition));
    stmt->bindAll(d->keysParameters());
    std::unordered_set<std::vector<qint64>, KeyHash> hits;
    std::vector<qint64> key(size_t(d->keyWidth));
    while (stmt->step()) {
        for (int k = 0; k < d->keyWidth; ++k)
            key[size_t(k)] = keyAt(*stmt, k);
        hits.insert(key);
    }
    int row = start;
    while (row < d->rowCount() && !hits.count(d->keyOf(row)))
        ++row;
    setCurrent(row);
}

void Recordset::setFilter(const QString &filter)
{
    requireOpen();
    commitEditors();
    if (d->mode != EditMode::None)
        update();
    const QString trimmed = filter.trimmed();
    const bool clear = trimmed.isEmpty() || trimmed == QLatin1String("0");
    const QString condition = clear ? QString() : sql::translateFilter(trimmed, d->lookup(d->keyed ? RecordsetData::FieldRef::Expression : RecordsetData::FieldRef::RowColumn), d->driver->dialect());
    d->follow();
    const QString previous = d->filterSql;
    d->filterSql = condition;
    try {
        if (d->keyed) {
            d->checkKeysQuery();
            d->invalidateKeys();
        } else {
            d->loadAll();
        }
    } catch (...) {
        d->filterSql = previous;
        throw;
    }
    d->filter = clear ? QString() : filter;
    d->current = 0;
    emit rowsReset();
    emit currentChanged();
}

QString Recordset::filter() const
{
    return d ? d->filter : QString();
}

void Recordset::requery()
{
    requireOpen();
    commitEditors();
    if (d->mode != EditMode::None)
        update();
    d->follow();
    if (d->keyed)
        d->invalidateKeys();
    else
        d->loadAll();
    d->current = 0;
    emit rowsReset();
    emit currentChanged();
}

void Recordset::addRowEditor(RowEditor *editor)
{
    if (std::find(m_editors.begin(), m_editors.end(), editor) == m_editors.end())
        m_editors.push_back(editor);
}

void Recordset::removeRowEditor(RowEditor *editor)
{
    m_editors.erase(std::remove(m_editors.begin(), m_editors.end(), editor), m_editors.end());
}

} // namespace jet
