#include "db/auditquery.h"

#include "db/audit.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/recordset.h"

#include <QHash>
#include <QTime>

namespace db::audit {

using namespace Qt::StringLiterals;

namespace {

const QString kTrailSelect = u"記録番号, 時刻, アカウント, 端末, 版, 操作, カルテID, 入退院ID, 詳細"_s;

// The first moment of a local day, in the trail's form.
QString localDayStart(const QDate &day)
{
    return timeText(QDateTime(day, QTime(0, 0)));
}

std::optional<qint64> optionalLong(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

QStringList distinctTexts(jet::Connection &connection, const QString &column)
{
    jet::Recordset rows;
    rows.open(u"SELECT DISTINCT %1 FROM `%2` WHERE %1 Is Not Null ORDER BY %1"_s.arg(column, kTrailTable),
              &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    QStringList texts;
    for (; !rows.eof(); rows.moveNext())
        texts.append(rows.value(0).toString());
    return texts;
}

QString whereClause(const TrailCondition &condition)
{
    return condition.sql.isEmpty() ? QString() : u" WHERE "_s + condition.sql;
}

// A name read from the history that may stand in a statement as a quoted name.
bool quotableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'`') && !name.contains(u'[') && !name.contains(u']');
}

// The row of `table` whose primary key the history wrote as `key`, the
// key's values joined by commas; nothing when it is not stored (or cannot
// be looked for).
std::optional<QVariantMap> storedRow(jet::Connection &connection, const QString &table, const QString &key)
{
    if (!quotableName(table) || key.isEmpty() || !connection.driver().findObject(table))
        return std::nullopt;
    QStringList columns;
    for (const jet::IndexDef &index : connection.driver().indexDefinitions(table))
        if (index.primaryKey)
            columns = index.columns;
    const QStringList values = key.split(u',');
    if (columns.isEmpty() || columns.size() != values.size())
        return std::nullopt;
    QStringList conditions;
    QVariantList parameters;
    for (int i = 0; i < columns.size(); ++i) {
        conditions.append(u"`%1` = ?"_s.arg(columns.at(i)));
        bool isNumber = false;
        const qlonglong number = values.at(i).toLongLong(&isNumber);
        parameters.append(isNumber ? QVariant(number) : QVariant(values.at(i)));
    }
    jet::Recordset row;
    row.openCommand(u"SELECT * FROM `%1` WHERE %2"_s.arg(table, conditions.join(u" AND "_s)), &connection, parameters,
                    jet::CursorType::ForwardOnly);
    if (row.eof())
        return std::nullopt;
    QVariantMap stored;
    for (int i = 0; i < row.fieldCount(); ++i)
        stored.insert(row.field(i).name, row.value(i));
    return stored;
}

} // namespace

TrailCondition trailCondition(const TrailFilter &filter)
{
    TrailCondition condition;
    QStringList parts;
    const auto ask = [&](const QString &part, const QVariant &value) {
        parts.append(part);
        condition.parameters.append(value);
    };
    if (filter.from.isValid())
        ask(u"時刻 >= ?"_s, localDayStart(filter.from));
    if (filter.to.isValid())
        ask(u"時刻 < ?"_s, localDayStart(filter.to.addDays(1)));
    if (!filter.account.isEmpty())
        ask(u"アカウント = ?"_s, filter.account);
    if (filter.chart)
        ask(u"カルテID = ?"_s, *filter.chart);
    if (filter.episode)
        ask(u"入退院ID = ?"_s, *filter.episode);
    if (!filter.action.isEmpty())
        ask(u"操作 = ?"_s, filter.action);
    condition.sql = parts.join(u" AND "_s);
    return condition;
}

QList<TrailRow> trailRows(jet::Connection &connection, const TrailFilter &filter, std::optional<qint64> before,
                          int limit)
{
    TrailCondition condition = trailCondition(filter);
    if (before) {
        condition.sql += (condition.sql.isEmpty() ? u""_s : u" AND "_s) + u"記録番号 < ?"_s;
        condition.parameters.append(*before);
    }
    jet::Recordset rows;
    rows.openCommand(u"SELECT TOP %1 %2 FROM `%3`%4 ORDER BY 記録番号 DESC"_s.arg(limit).arg(
                         kTrailSelect, kTrailTable, whereClause(condition)),
                     &connection, condition.parameters, jet::CursorType::ForwardOnly);
    QList<TrailRow> found;
    for (; !rows.eof(); rows.moveNext())
        found.append(TrailRow{rows.value(0).toLongLong(), fromTimeText(rows.value(1).toString()),
                              rows.value(2).toString(), rows.value(3).toString(), rows.value(4).toString(),
                              rows.value(5).toString(), optionalLong(rows.value(6)), optionalLong(rows.value(7)),
                              rows.value(8).toString()});
    return found;
}

qint64 trailCount(jet::Connection &connection, const TrailFilter &filter)
{
    const TrailCondition condition = trailCondition(filter);
    jet::Recordset count;
    count.openCommand(u"SELECT Count(*) FROM `%1`%2"_s.arg(kTrailTable, whereClause(condition)), &connection,
                      condition.parameters, jet::CursorType::ForwardOnly);
    return count.value(0).toLongLong();
}

QStringList trailAccounts(jet::Connection &connection)
{
    return distinctTexts(connection, u"アカウント"_s);
}

QStringList trailActions(jet::Connection &connection)
{
    return distinctTexts(connection, u"操作"_s);
}

QString trailExportStatement(const TrailFilter &filter, const QString &into)
{
    return u"SELECT 記録番号, 時刻 AS [時刻(UTC)], アカウント, 端末, 版, 操作, カルテID, 入退院ID, 詳細, ハッシュ INTO %1"
           u"FROM `%2`%3 ORDER BY 記録番号 DESC;"_s.arg(into, kTrailTable, whereClause(trailCondition(filter)));
}

QList<HistoryEntry> patientHistory(jet::Connection &connection, std::optional<qint64> chart,
                                   std::optional<qint64> episode)
{
    QString where;
    QVariantList parameters;
    if (chart && episode) {
        where = u"入退院ID = ? OR (カルテID = ? AND 入退院ID Is Null)"_s;
        parameters = {*episode, *chart};
    } else if (episode) {
        where = u"入退院ID = ?"_s;
        parameters = {*episode};
    } else if (chart) {
        where = u"カルテID = ?"_s;
        parameters = {*chart};
    } else {
        return {};
    }
    jet::Recordset rows;
    rows.openCommand(u"SELECT 履歴ID, 時刻, アカウント, 変更, 表, キー, 列, 旧値 FROM `%1` WHERE %2 ORDER BY 履歴ID"_s.arg(
                         kHistoryTable, where),
                     &connection, parameters, jet::CursorType::ForwardOnly);
    QList<HistoryEntry> entries;
    // The newest entry of each table, row and column: the one whose value
    // after is the next entry's value before, or the value stored now.
    QHash<QString, qsizetype> newest;
    for (; !rows.eof(); rows.moveNext()) {
        HistoryEntry entry;
        entry.id = rows.value(0).toLongLong();
        entry.time = fromTimeText(rows.value(1).toString());
        entry.account = rows.value(2).toString();
        entry.kind = rows.value(3).isNull() ? change::Update.toString() : rows.value(3).toString();
        entry.table = rows.value(4).toString();
        entry.key = rows.value(5).toString();
        entry.column = rows.value(6).toString();
        entry.before = rows.value(7).isNull() ? QString() : rows.value(7).toString();
        const QString group = entry.table + u'\x1f' + entry.key + u'\x1f' + entry.column;
        if (const auto previous = newest.constFind(group); previous != newest.cend()) {
            HistoryEntry &earlier = entries[*previous];
            if (earlier.kind != change::Delete)
                earlier.after = entry.before;
        }
        newest.insert(group, entries.size());
        entries.append(entry);
    }
    rows.close();

    QHash<QString, std::optional<QVariantMap>> stored;
    for (const qsizetype at : std::as_const(newest)) {
        HistoryEntry &entry = entries[at];
        if (entry.kind == change::Delete) {
            entry.rowGone = true;
            continue;
        }
        const QString row = entry.table + u'\x1f' + entry.key;
        if (!stored.contains(row))
            stored.insert(row, storedRow(connection, entry.table, entry.key));
        const std::optional<QVariantMap> &now = stored[row];
        entry.rowGone = !now;
        if (now && quotableName(entry.column))
            entry.after = historyText(now->value(entry.column));
    }
    return entries;
}

} // namespace db::audit
