#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <optional>

namespace jet {
class Connection;
}

namespace db::audit {

// What the audit window asks of the trail.  A part left empty asks nothing;
// the days are the workstation's local days, both included.
struct TrailFilter
{
    QDate from;
    QDate to;
    QString account;
    std::optional<qint64> chart;
    std::optional<qint64> episode;
    QString action;
};

// A Jet SQL condition over the trail's columns and its parameters; an empty
// condition takes every row.
struct TrailCondition
{
    QString sql;
    QVariantList parameters;
};
TrailCondition trailCondition(const TrailFilter &filter);

struct TrailRow
{
    qint64 number = 0;
    QDateTime time; // UTC; invalid for a time stored in another form
    QString account;
    QString workstation;
    QString version;
    QString action;
    std::optional<qint64> chart;
    std::optional<qint64> episode;
    QString detail;
};

// At most `limit` rows of the filter, newest first, from the row before
// number `before` on (none: from the newest).  Only the rows asked for are
// read, whatever the trail's size.
QList<TrailRow> trailRows(jet::Connection &connection, const TrailFilter &filter,
                          std::optional<qint64> before, int limit);
qint64 trailCount(jet::Connection &connection, const TrailFilter &filter);
// The accounts and actions the trail holds, in order, for the filter's lists.
QStringList trailAccounts(jet::Connection &connection);
QStringList trailActions(jet::Connection &connection);

// The SELECT ... INTO `into` that exports the rows of the filter, newest
// first, with their numbers and hashes and the time as stored (UTC); its
// parameters are the condition's.
QString trailExportStatement(const TrailFilter &filter, const QString &into);

// One change of a patient's data with the value it had before and the one
// it took: the next change's previous value, or the value stored now.
struct HistoryEntry
{
    qint64 id = 0;
    QDateTime time; // UTC
    QString account;
    QString kind; // change::Update, Insert or Delete
    QString table;
    QString key;
    QString column;
    QString before; // null: none (a row added, a column that was empty)
    QString after;  // null: none (a row deleted, a column emptied)
    bool rowGone = false; // the row is no longer stored
};

// The changes of the patient's own rows (those with the chart and no
// episode) and of the episode's rows, oldest first.  Nothing for neither.
QList<HistoryEntry> patientHistory(jet::Connection &connection, std::optional<qint64> chart,
                                   std::optional<qint64> episode);

} // namespace db::audit
