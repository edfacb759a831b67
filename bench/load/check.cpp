#include "load/check.h"

#include "load/client.h"

#include "db/engine/connection.h"
#include "db/engine/recordset.h"

#include <QHash>
#include <QSet>

namespace load {

namespace {

QVariant first(jet::Connection &connection, const QString &sql)
{
    jet::Recordset rs;
    rs.open(sql, &connection, jet::CursorType::Static, jet::LockType::ReadOnly);
    return rs.eof() ? QVariant() : rs.value(0);
}

int count(jet::Connection &connection, const QString &table, const QString &key, qint64 value)
{
    return first(connection, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = %3").arg(table, key).arg(value)).toInt();
}

QString shown(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("Null") : QLatin1Char('"') + value.toString() + QLatin1Char('"');
}

// The saves of one field of one row, checked against what it holds now.
void checkField(const EditedField &field, const QString &key, const QList<Acknowledged> &saves, const QVariant &stored,
                Findings &findings)
{
    QHash<QString, const Acknowledged *> byAfter;
    for (const Acknowledged &save : saves)
        byAfter.insert(encodeValue(save.after), &save);
    // Back from the stored value: each value written names the one save that
    // wrote it, and that save names the value it read.
    int chain = 0;
    QString value = encodeValue(stored);
    while (const Acknowledged *save = byAfter.value(value)) {
        ++chain;
        value = encodeValue(save->before);
        if (chain > saves.size())
            break;
    }
    const QString where = QStringLiteral("%1.%2 of %3 %4").arg(field.table, field.column, field.key, key);
    if (chain < saves.size()) {
        findings.lostUpdates += int(saves.size()) - chain;
        findings.faults << QStringLiteral("%1: %2 of %3 acknowledged saves lost; it holds %4")
                               .arg(where)
                               .arg(saves.size() - chain)
                               .arg(saves.size())
                               .arg(shown(stored));
    }
}

} // namespace

Findings check(jet::Connection &connection, const QList<Acknowledged> &saves, const QList<Registered> &registrations)
{
    Findings findings;
    QHash<std::pair<int, QString>, QList<Acknowledged>> byRow;
    for (const Acknowledged &save : saves)
        byRow[{save.field, save.key}].append(save);
    for (auto it = byRow.cbegin(); it != byRow.cend(); ++it) {
        const EditedField &field = editedFields().at(it.key().first);
        const QVariant stored = first(connection, QStringLiteral("SELECT `%1` FROM %2 WHERE %3 = %4")
                                                      .arg(field.column, field.table, field.key, it.key().second));
        checkField(field, it.key().second, it.value(), stored, findings);
        ++findings.fieldsChecked;
    }

    QSet<qint64> episodes;
    for (const Registered &registration : registrations) {
        ++findings.registrationsChecked;
        const QString which = QStringLiteral("registration of chart %1 as episode %2").arg(registration.chart).arg(registration.episode);
        if (episodes.contains(registration.episode))
            findings.faults << which + QStringLiteral(": another registration got the same episode");
        episodes.insert(registration.episode);
        const QVariant chart = first(connection, QStringLiteral("SELECT カルテID FROM 入退院情報 WHERE 入退院ID = %1").arg(registration.episode));
        if (chart.isNull() || chart.toInt() != registration.chart)
            findings.faults << which + QStringLiteral(": the episode belongs to chart %1").arg(shown(chart));
        if (count(connection, QStringLiteral("患者情報"), QStringLiteral("カルテID"), registration.chart) != 1)
            findings.faults << which + QStringLiteral(": the chart has no patient row");
        for (const QString &table : {QStringLiteral("検査情報"), QStringLiteral("診断情報")}) {
            const int rows = count(connection, table, QStringLiteral("入退院ID"), registration.episode);
            if (rows != 1)
                findings.faults << which + QStringLiteral(": %1 rows of %2").arg(rows).arg(table);
        }
    }
    return findings;
}

} // namespace load
