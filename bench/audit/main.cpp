// The audit window's period filter on a trail of millions of rows: the count
// and the first page of one day, as the window asks them, on a ledger file or
// a server's database.  Rows missing up to --rows are added first in the back
// end's own SQL, one every 31 seconds from 2025-01-01 (two million rows make
// two years); the filter reads no hash, so theirs are placeholders.  The file
// gets no planner statistics, as a ward's file has none; the server's are
// gathered once after the filling, as its autovacuum would.
//
//   norva-bench-audit LOCATION [--rows N] [--runs N] [--extend]

#include "db/audit.h"
#include "db/auditquery.h"
#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/recordset.h"
#include "db/location.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

qint64 scalar(jet::Connection &connection, const QString &sql)
{
    jet::Recordset value;
    value.open(sql, &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    return value.value(0).toLongLong();
}

void fill(jet::Connection &connection, qint64 rows)
{
    const qint64 first = scalar(connection, u"SELECT Max(記録番号) FROM `%1`"_s.arg(db::audit::kTrailTable)) + 1;
    const qint64 missing = rows - scalar(connection, u"SELECT Count(*) FROM `%1`"_s.arg(db::audit::kTrailTable));
    if (missing <= 0)
        return;
    out() << "adding " << missing << " rows ..." << Qt::endl;
    QElapsedTimer timer;
    timer.start();
    const bool server = connection.driver().dialect() == jet::Dialect::Postgres;
    // Accounts, workstations, actions and patients in turn, the detail as
    // long as a save's.  Built by joining, since the SQL is full of '%'.
    const QString from = QString::number(first);
    const QString to = QString::number(first + missing - 1);
    const QString head = u"INSERT INTO \""_s + db::audit::kTrailTable.toString()
        + u"\" (\"記録番号\", \"時刻\", \"アカウント\", \"端末\", \"版\", \"操作\", \"カルテID\", \"入退院ID\", \"詳細\", "
          u"\"ハッシュ\") "_s;
    const QString sql = server
        ? head + u"SELECT n, to_char(to_timestamp(1735689600 + (n - "_s + from
              + u") * 31) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), 'staff' || (n % 40), "
                u"'ws' || (n % 12), '2.112', (ARRAY['記録表示','保存','ログイン','ログオフ','印刷','登録'])[n % 6 + 1], "
                u"n % 30000, n % 90000, '患者情報: 氏名, 住所, 電話番号 ' || n, lpad(n::text, 64, '0') "
                u"FROM generate_series("_s
              + from + u", "_s + to + u") n"_s
        : head + u"WITH RECURSIVE s(n) AS (SELECT "_s + from + u" UNION ALL SELECT n + 1 FROM s WHERE n < "_s + to
              + u") SELECT n, strftime('%Y-%m-%dT%H:%M:%SZ', 1735689600 + (n - "_s + from
              + u") * 31, 'unixepoch'), 'staff' || (n % 40), 'ws' || (n % 12), '2.112', CASE n % 6 "
                u"WHEN 0 THEN '記録表示' WHEN 1 THEN '保存' WHEN 2 THEN 'ログイン' WHEN 3 THEN 'ログオフ' "
                u"WHEN 4 THEN '印刷' ELSE '登録' END, n % 30000, n % 90000, '患者情報: 氏名, 住所, 電話番号 ' || n, "
                u"printf('%064d', n) FROM s"_s;
    connection.driver().begin();
    connection.driver().exec(sql);
    connection.driver().commit();
    if (server)
        connection.driver().exec(u"ANALYZE \"%1\""_s.arg(db::audit::kTrailTable));
    out() << "  in " << timer.elapsed() / 1000 << " s" << Qt::endl;
}

double medianMs(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

// The window's two reads for a filter: the count, then the first page.
double filterMs(jet::Connection &connection, const db::audit::TrailFilter &filter, int runs, qint64 &found)
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        found = db::audit::trailCount(connection, filter);
        db::audit::trailRows(connection, filter, std::nullopt, 501);
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    return medianMs(times);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(u"location"_s, u"A ledger file or a server's database, with its trail."_s);
    const QCommandLineOption rowsOption(u"rows"_s, u"Trail rows to fill up to."_s, u"N"_s, u"2000000"_s);
    const QCommandLineOption runsOption(u"runs"_s, u"Runs of each filter; the median is shown."_s, u"N"_s, u"5"_s);
    const QCommandLineOption extendOption(u"extend"_s, u"Bring an older trail up to this program's first."_s);
    parser.addOptions({rowsOption, runsOption, extendOption});
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString location = parser.positionalArguments().at(0);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    if (!db::audit::hasTrail(connection) || parser.isSet(extendOption)) {
        QElapsedTimer timer;
        timer.start();
        db::audit::extendDatabase(connection);
        out() << "trail at its current version in " << timer.elapsed() << " ms" << Qt::endl;
    }
    fill(connection, parser.value(rowsOption).toLongLong());
    const qint64 rows = scalar(connection, u"SELECT Count(*) FROM `%1`"_s.arg(db::audit::kTrailTable));
    const QDate newest = db::audit::trailRows(connection, {}, std::nullopt, 1).value(0).time.toLocalTime().date();
    out() << location << ": " << rows << " trail rows, median of " << runs << " runs" << Qt::endl;

    // The window's lists offer the accounts and actions the trail holds.
    const QString account = db::audit::trailAccounts(connection).value(0);
    const QString action = db::audit::trailActions(connection).value(0);
    const QList<std::pair<QString, QDate>> days{{u"a day near the start"_s, QDate(2025, 1, 10)},
                                                 {u"a day in the middle"_s, QDate(2025, 12, 1)},
                                                 {u"the newest day"_s, newest}};
    for (const auto &[name, day] : days) {
        db::audit::TrailFilter period;
        period.from = day;
        period.to = day;
        qint64 found = 0;
        out() << "  " << name << " (" << day.toString(Qt::ISODate) << "): ";
        out() << filterMs(connection, period, runs, found) << " ms (" << found << " rows)";
        db::audit::TrailFilter byAccount = period;
        byAccount.account = account;
        out() << "; " << account << ": " << filterMs(connection, byAccount, runs, found) << " ms (" << found << ")";
        db::audit::TrailFilter byAction = period;
        byAction.action = action;
        out() << "; " << action << ": " << filterMs(connection, byAction, runs, found) << " ms (" << found << ")"
              << Qt::endl;
    }
    db::audit::TrailFilter month;
    month.from = QDate(2025, 12, 1);
    month.to = QDate(2025, 12, 31);
    qint64 found = 0;
    const double monthMs = filterMs(connection, month, runs, found);
    out() << "  a month (2025-12, " << found << " rows): " << monthMs << " ms" << Qt::endl;
    return 0;
}
