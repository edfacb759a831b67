// The benchmark: the operations the windows do most over demo hospitals of
// three sizes, on a file or a server, each beside the same work done straight
// through SQLCipher or libpq; on a server also the round trips of each.

#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/server.h"
#include "db/engine/sqlite/sqlfunctions.h"
#include "db/engine/recordset.h"
#include "db/engine/spreadsheet.h"
#include "db/episodes.h"
#include "db/location.h"
#include "db/schema.h"
#include "demo/demodatabase.h"
#include "app/navigation.h"
#include "support/scriptedplatform.h"
#include "ledger/export.h"
#include "ledger/frmAmbuPts.h"
#include "ledger/frmFindPts.h"
#include "ledger/frmPts.h"
#include "record/frmAmbuPt.h"
#include "record/frmFindPt.h"
#include "record/frmNewPt.h"
#include "record/frmPt.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "report/preview.h"
#include "report/render.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include <QAction>
#include <QTableView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <libpq-fe.h>
#include <memory>
#include <sqlite3.h>
#include <sys/resource.h>
#include <vector>

namespace {

using demo::connectTo;
using demo::ensureDatabase;
using demo::ensureServerDatabase;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

constexpr int kFirstScreen = 40;

// The median of the runs, and the statements the last run sent to a server
// (over every connection it used; none on a file).  The last run finds the
// pooled connections' statements prepared, as every open but a process's first.
struct Timed
{
    double ms = 0;
    qint64 trips = 0;
};

qint64 tripsSoFar()
{
    return jet::postgres::PgDriver::roundTripsOfProcess();
}

Timed timed(int runs, const std::function<void()> &work)
{
    std::vector<double> times;
    qint64 trips = 0;
    for (int i = 0; i < runs; ++i) {
        const qint64 before = tripsSoFar();
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        trips = tripsSoFar() - before;
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], trips};
}

double medianMs(int runs, const std::function<void()> &work)
{
    return timed(runs, work).ms;
}

// The same work as the engine's, straight through the back end's own client
// library, with the engine's own translation for that back end.
class Straight
{
public:
    virtual ~Straight() = default;
    virtual jet::Dialect dialect() const = 0;
    // How the tables name it.
    virtual QString name() const = 0;
    // Reads at most limit rows of the back end's text, every column; returns the rows read.
    virtual int read(const QString &sql, int limit = -1) = 0;
    virtual int count(const QString &selectSql) = 0;
    virtual void exec(const QString &sql) = 0;
    virtual void explain(const QString &sql) = 0;
    // A statement that reads nothing of the ledger, to finish opening a connection.
    virtual void touch() = 0;

    QString translated(const QString &jet) const { return jet::sql::translate(jet, dialect()).text; }
    // How a careful hand would count a list straight: the rows of its FROM and
    // WHERE, without computing its columns.
    QString counting(const QString &jet) const
    {
        const jet::sql::SelectShape shape = jet::sql::translate(jet, dialect()).select;
        return QStringLiteral("SELECT 1 FROM ") + shape.from
            + (shape.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + shape.where);
    }
};

// A raw keyed handle.
class StraightSqlite final : public Straight
{
public:
    explicit StraightSqlite(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(m_db, "PRAGMA key = 'tamik4062'; PRAGMA cache_size = -16384;", nullptr, nullptr, nullptr);
        jet::sql::registerFunctions(m_db);
    }
    ~StraightSqlite() override { sqlite3_close(m_db); }

    jet::Dialect dialect() const override { return jet::Dialect::Sqlite; }
    QString name() const override { return QStringLiteral("straight SQLCipher"); }
    int read(const QString &sql, int limit = -1) override
    {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        int rows = 0;
        while ((limit < 0 || rows < limit) && sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                if (sqlite3_column_type(stmt, c) == SQLITE_TEXT)
                    QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)));
            ++rows;
        }
        sqlite3_finalize(stmt);
        return rows;
    }
    int count(const QString &selectSql) override
    {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray utf8 = (QStringLiteral("SELECT COUNT(*) FROM (") + selectSql + QStringLiteral(")")).toUtf8();
        sqlite3_prepare_v2(m_db, utf8.constData(), -1, &stmt, nullptr);
        sqlite3_step(stmt);
        const int n = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        return n;
    }
    void explain(const QString &sql) override
    {
        out() << sql << "\n";
        sqlite3_stmt *stmt = nullptr;
        const QByteArray utf8 = (QStringLiteral("EXPLAIN QUERY PLAN ") + sql).toUtf8();
        if (sqlite3_prepare_v2(m_db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        while (sqlite3_step(stmt) == SQLITE_ROW)
            out() << reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)) << "\n";
        sqlite3_finalize(stmt);
    }
    void exec(const QString &sql) override { sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr); }
    void touch() override { read(QStringLiteral("SELECT count(*) FROM sqlite_master")); }

private:
    sqlite3 *m_db = nullptr;
};

// A raw PGconn that reads as the engine does: each text prepared once, its
// rows one at a time in single-row mode, every value as text.  Where the
// engine stops after a screenful, a careful hand asks for no more (LIMIT).
class StraightLibpq final : public Straight
{
public:
    explicit StraightLibpq(const QString &address) : m_conn(connectTo(address))
    {
        exec(QStringLiteral("SET search_path = public, jet; SET datestyle = 'ISO, YMD'"));
    }
    ~StraightLibpq() override { PQfinish(m_conn); }

    jet::Dialect dialect() const override { return jet::Dialect::Postgres; }
    QString name() const override { return QStringLiteral("straight libpq"); }
    int read(const QString &sql, int limit = -1) override
    {
        const QByteArray text = (limit < 0 ? sql : sql + QStringLiteral(" LIMIT %1").arg(limit)).toUtf8();
        QByteArray &statement = m_prepared[text];
        if (statement.isEmpty()) {
            statement = "straight_" + QByteArray::number(m_prepared.size());
            PGresult *prepared = PQprepare(m_conn, statement.constData(), text.constData(), 0, nullptr);
            const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
            PQclear(prepared);
            if (!ok) {
                m_prepared.remove(text);
                throw std::runtime_error(PQerrorMessage(m_conn));
            }
        }
        if (!PQsendQueryPrepared(m_conn, statement.constData(), 0, nullptr, nullptr, nullptr, 0))
            throw std::runtime_error(PQerrorMessage(m_conn));
        PQsetSingleRowMode(m_conn);
        int rows = 0;
        std::string failure;
        while (PGresult *result = PQgetResult(m_conn)) {
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_SINGLE_TUPLE) {
                for (int c = 0; c < PQnfields(result); ++c)
                    if (!PQgetisnull(result, 0, c))
                        QString::fromUtf8(PQgetvalue(result, 0, c), PQgetlength(result, 0, c));
                ++rows;
            } else if (status != PGRES_TUPLES_OK && failure.empty()) {
                failure = PQresultErrorMessage(result);
            }
            PQclear(result);
        }
        if (!failure.empty())
            throw std::runtime_error(failure);
        return rows;
    }
    int count(const QString &selectSql) override
    {
        return read(QStringLiteral("SELECT COUNT(*) FROM (") + selectSql + QStringLiteral(") AS counted"));
    }
    void explain(const QString &sql) override
    {
        out() << sql << "\n";
        PGresult *result = PQexec(m_conn, (QStringLiteral("EXPLAIN ") + sql).toUtf8().constData());
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            PQclear(result);
            throw std::runtime_error(PQerrorMessage(m_conn));
        }
        for (int r = 0; r < PQntuples(result); ++r)
            out() << PQgetvalue(result, r, 0) << "\n";
        PQclear(result);
    }
    void exec(const QString &sql) override
    {
        PGresult *result = PQexec(m_conn, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(PQerrorMessage(m_conn));
    }
    void touch() override { read(QStringLiteral("SELECT 1")); }

private:
    PGconn *m_conn;
    QHash<QByteArray, QByteArray> m_prepared; // text → statement name
};

std::unique_ptr<Straight> straightTo(const QString &dataSource)
{
    if (jet::isServerAddress(dataSource))
        return std::make_unique<StraightLibpq>(dataSource);
    return std::make_unique<StraightSqlite>(dataSource);
}

void readFirstScreen(jet::Recordset &rs)
{
    const int rows = std::min(rs.recordCount(), kFirstScreen);
    for (int r = 0; r < rows; ++r)
        for (int f = 0; f < rs.fieldCount(); ++f)
            rs.valueAt(r, f);
}

void readCurrent(jet::Recordset &rs)
{
    for (int f = 0; f < rs.fieldCount(); ++f)
        rs.value(f);
}

struct Row
{
    QString name;
    Timed engine;
    double straight = 0;
    QString target;
};

const QString kAllPatients = db::kAllEpisodesSql.toString();
const QString kOutpatients = QStringLiteral(
    "SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 ORDER BY 入退院情報.入退院ID DESC;");
const QString kRecordJoin = QStringLiteral(
    "SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID");
const QString kNewPatientJoin = QStringLiteral(
    "SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID ORDER BY 入退院情報.入退院ID");
const QString kStatisticsHead = QStringLiteral(
    "SELECT mid$(`診断名(ICD10)`.ICDコード,1,2) AS コード, COUNT(mid$(`診断名(ICD10)`.ICDコード,1,2)) AS `ICD-10診断集計` FROM 患者情報, `診断名(ICD10)`, 入退院情報 ");
const QString kStatisticsTail = QStringLiteral("GROUP BY mid$(`診断名(ICD10)`.ICDコード,1,2)");
const QString kStatisticsJoin = QStringLiteral("WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND ");

QStringList statisticsQueries()
{
    return {kStatisticsHead + kStatisticsJoin
                + QStringLiteral("DateDiff('d', 入退院情報.入院日, #2020/04/01#) <= 0 AND DateDiff('d', 入退院情報.入院日, #2021/04/01#) > 0 ")
                + kStatisticsTail,
            kStatisticsHead + kStatisticsJoin
                + QStringLiteral("DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null) ")
                + kStatisticsTail,
            kStatisticsHead + kStatisticsJoin + QStringLiteral("外入の別 = -1 ") + kStatisticsTail};
}

// A ledger as the user meets it, offscreen: the window loads (its
// connection, list, title and summaries) and its grid paints the first
// screenful; then it unloads, closing all of that again.
template <class Ledger>
void openLedger()
{
    toolkit::resetProgramState();
    Ledger &ledger = toolkit::Forms::get<Ledger>();
    ledger.showModeless();
    toolkit::DataGrid::of(&ledger, QStringLiteral("DataGrid1"))->view()->viewport()->grab();
    ledger.unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A record window as the user opens it: from a shown ledger with its first
// row chosen, the menu item 開く to the record window painted.  The ledger
// is shown before the clock starts; the record window closes (storing its
// row and showing the ledger again) after it stops.
template <class Record>
Timed openRecordWindow(int runs, const QString &ledgerName)
{
    std::vector<double> times;
    qint64 trips = 0;
    app::showWindow(ledgerName);
    for (int i = 0; i < runs; ++i) {
        toolkit::Form *ledger = app::findWindow(ledgerName);
        toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"));
        grid->setCurrentRow(0);
        ledger->grab();
        const qint64 before = tripsSoFar();
        QElapsedTimer timer;
        timer.start();
        ledger->findChild<QAction *>(QStringLiteral("mnuFileOpen"))->trigger();
        Record &record = toolkit::Forms::get<Record>();
        record.grab();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        trips = tripsSoFar() - before;
        record.unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    app::unloadWindow(ledgerName);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], trips};
}

// A one-page document as the user prints it: from the inpatient ledger with
// its first row chosen, the menu item 入院時サマリー to its preview painted.
Timed previewAdmissionSummary(int runs)
{
    std::vector<double> times;
    qint64 trips = 0;
    app::showWindow(app::window::InpatientLedger);
    toolkit::Form *ledger = app::findWindow(app::window::InpatientLedger);
    toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"))->setCurrentRow(0);
    ledger->grab();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        qint64 before = 0;
        QObject call;
        QTimer::singleShot(0, &call, [&] {
            if (auto *preview = qobject_cast<report::Preview *>(QApplication::activeModalWidget())) {
                preview->grab();
                times.push_back(double(timer.nsecsElapsed()) / 1e6);
                trips = tripsSoFar() - before;
                preview->reject();
            }
        });
        before = tripsSoFar();
        timer.start();
        ledger->findChild<QAction *>(QStringLiteral("mnuReportAdmSum"))->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    app::unloadWindow(app::window::InpatientLedger);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (times.empty())
        throw std::runtime_error("the admission summary showed no preview");
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], trips};
}

qint32 firstChart(jet::Connection &conn)
{
    jet::Recordset first;
    first.open(QStringLiteral("SELECT MIN(カルテID) FROM 患者情報"), &conn);
    return first.value(0).toInt();
}

// The new-patient window as registration opens it: handed its episode, the
// companion rows checked, the window painted.
void openNewPatientWindow(qint64 episode)
{
    app::showWindow(app::window::NewPatient, episode);
    frmNewPt &window = toolkit::Forms::get<frmNewPt>();
    window.grab();
    window.unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QList<Row> measure(const QString &folder, int runs)
{
    const QString dataSource = db::readDatabasePath(folder);
    const std::unique_ptr<Straight> straight = straightTo(dataSource);
    jet::Connection conn;
    db::openWindowConnection(conn, folder);
    QList<Row> rows;

    rows.append({QStringLiteral("window connection open"),
                 timed(runs, [&] {
                     jet::Connection c;
                     db::openWindowConnection(c, folder);
                 }),
                 medianMs(runs, [&] { straightTo(dataSource)->touch(); }),
                 QStringLiteral("< 3 ms")});

    const QString inpatientJet = db::inpatientListSql(db::RoomOrder::Ascending);
    const QString inpatient = straight->translated(inpatientJet);
    QStringList summaries;
    for (const char *q : {"Q_現在入院者全集計", "Q_現在入院者平均年齢", "Q_現在入院者平均入院日数"})
        summaries.append(straight->translated(QStringLiteral("SELECT * FROM `%1`").arg(QString::fromUtf8(q))));
    rows.append({QStringLiteral("in-patient list + 3 summaries, first 40 rows"),
                 timed(runs, [&] {
                     jet::Recordset list;
                     list.open(QStringLiteral("Q_現在入院者リスト"), &conn);
                     readFirstScreen(list);
                     for (const char *q : {"Q_現在入院者全集計", "Q_現在入院者平均年齢", "Q_現在入院者平均入院日数"}) {
                         jet::Recordset summary;
                         summary.open(QString::fromUtf8(q), &conn);
                         summary.value(0);
                     }
                 }),
                 medianMs(runs, [&] {
                     straight->count(straight->counting(inpatientJet));
                     straight->read(inpatient, kFirstScreen);
                     for (const QString &summary : summaries)
                         straight->read(summary);
                 }),
                 QStringLiteral("< 100 ms, ≤ 1.5×")});
    const double listAndSummaries = rows.last().straight;

    auto services = std::make_unique<toolkit::ScriptedPlatform>();
    services->setProgramFolder(folder);
    toolkit::setPlatform(std::move(services));
    toolkit::setExitHandler([](int) {});
    rows.append({QStringLiteral("inpatient ledger window, load to first painted rows"), timed(runs, openLedger<frmPts>),
                 listAndSummaries, QStringLiteral("< 500 ms")});
    rows.append({QStringLiteral("outpatient ledger window, load to first painted rows"), timed(runs, openLedger<frmAmbuPts>), 0,
                 QStringLiteral("< 500 ms")});
    rows.append({QStringLiteral("all-patient ledger window, load to first painted rows"), timed(runs, openLedger<frmFindPts>), 0,
                 QStringLiteral("< 500 ms")});
    app::registerWindow<frmPts>(app::window::InpatientLedger);
    app::registerWindow<frmPt>(app::window::InpatientRecord);
    app::registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
    app::registerWindow<frmAmbuPt>(app::window::OutpatientRecord);
    app::registerWindow<frmFindPts>(app::window::AllPatientLedger);
    app::registerWindow<frmFindPt>(app::window::AllPatientRecord);
    rows.append({QStringLiteral("inpatient record window, 開く in the ledger to painted"),
                 openRecordWindow<frmPt>(runs, app::window::InpatientLedger), 0, QStringLiteral("< 150 ms")});
    rows.append({QStringLiteral("outpatient record window, 開く in the ledger to painted"),
                 openRecordWindow<frmAmbuPt>(runs, app::window::OutpatientLedger), 0, QStringLiteral("< 150 ms")});
    rows.append({QStringLiteral("all-patients record window, 開く in the ledger to painted"),
                 openRecordWindow<frmFindPt>(runs, app::window::AllPatientLedger), 0, QStringLiteral("< 150 ms")});
    app::registerWindow<frmNewPt>(app::window::NewPatient);
    // A further episode of the first patient, as a registration at the ward makes it.
    const qint64 registered = db::registerEpisode(conn, firstChart(conn));
    rows.append({QStringLiteral("new-patient window, load of the registered episode to painted"),
                 timed(runs, [&] { openNewPatientWindow(registered); }), 0, QStringLiteral("no full listing")});
    rows.append({QStringLiteral("admission summary, 入院時サマリー in the ledger to painted preview"),
                 previewAdmissionSummary(runs), 0, QStringLiteral("< 300 ms")});
    for (const QString &name : {app::window::InpatientLedger, app::window::InpatientRecord, app::window::OutpatientLedger,
                                app::window::OutpatientRecord, app::window::AllPatientLedger, app::window::AllPatientRecord,
                                app::window::NewPatient})
        app::unregisterWindow(name);
    toolkit::setPlatform(nullptr);

    for (const auto &[label, sql] : {std::pair{QStringLiteral("all-patient list, count + first 40 rows"), kAllPatients},
                                     std::pair{QStringLiteral("outpatient list, count + first 40 rows"), kOutpatients}}) {
        const QString raw = straight->translated(sql);
        rows.append({label,
                     timed(runs, [&] {
                         jet::Recordset list;
                         list.open(sql, &conn);
                         readFirstScreen(list);
                     }),
                     medianMs(runs, [&] {
                         straight->count(straight->counting(sql));
                         straight->read(raw, kFirstScreen);
                     }),
                     QStringLiteral("< 100 ms, ≤ 1.5×")});
    }

    {
        jet::Recordset list;
        list.open(kAllPatients, &conn);
        list.recordCount();
        const QString filtered = QString(kAllPatients).chopped(1).replace(
            QStringLiteral(" ORDER BY"), QStringLiteral(" AND 患者情報.かな氏名 >= 'た' AND 患者情報.かな氏名 < 'ぢ' ORDER BY"));
        const QString raw = straight->translated(filtered);
        rows.append({QStringLiteral("kana filter かな氏名 like 'た*' on the all-patient list"),
                     timed(runs, [&] {
                         list.setFilter(QStringLiteral("かな氏名 like 'た*'"));
                         readFirstScreen(list);
                     }),
                     medianMs(runs, [&] {
                         straight->count(straight->counting(filtered));
                         straight->read(raw, kFirstScreen);
                     }),
                     QStringLiteral("< 100 ms")});
    }

    int lastEpisode = 0;
    {
        jet::Recordset last;
        last.open(QStringLiteral("SELECT MAX(入退院ID) AS 最大 FROM 入退院情報"), &conn);
        lastEpisode = last.value(0).toInt();
    }
    const int someEpisode = std::max(1, lastEpisode / 2);
    const QString oneEpisode = straight->translated(kRecordJoin + QStringLiteral(" AND 入退院情報.入退院ID = %1").arg(someEpisode));
    rows.append({QStringLiteral("record window join filtered on one episode"),
                 timed(runs, [&] {
                     jet::Recordset rs;
                     rs.open(kRecordJoin, &conn, jet::CursorType::Dynamic);
                     rs.setFilter(QStringLiteral("入退院情報.入退院ID = '%1'").arg(someEpisode));
                     readCurrent(rs);
                 }),
                 medianMs(runs, [&] { straight->read(oneEpisode); }),
                 QStringLiteral("< 10 ms")});

    const QString newPatientJoin = straight->translated(kNewPatientJoin);
    rows.append({QStringLiteral("new-patient join moved to its last row"),
                 timed(runs, [&] {
                     jet::Recordset rs;
                     rs.open(kNewPatientJoin, &conn);
                     rs.moveLast();
                     readCurrent(rs);
                 }),
                 medianMs(runs, [&] { straight->read(newPatientJoin); }),
                 QStringLiteral("— (straight steps every row)")});

    {
        jet::Recordset rs;
        rs.open(kRecordJoin, &conn);
        rs.setFilter(QStringLiteral("入退院情報.入退院ID = '%1'").arg(someEpisode));
        int n = 0;
        rows.append({QStringLiteral("update of one text field of the record join"),
                     timed(runs, [&] {
                         rs.setValue(QStringLiteral("一時診断名"), QStringLiteral("ベンチ%1").arg(++n));
                         rs.update();
                     }),
                     medianMs(runs, [&] {
                         straight->exec(straight->translated(
                             QStringLiteral("UPDATE 入退院情報 SET 一時診断名 = 'ベンチ%1' WHERE 入退院ID = %2").arg(++n).arg(someEpisode)));
                     }),
                     QStringLiteral("—")});
    }

    const QStringList statistics = statisticsQueries();
    const QStringList statLabels = {QStringLiteral("statistics: admission period"), QStringLiteral("statistics: current in-patients"),
                                    QStringLiteral("statistics: outpatients")};
    for (int i = 0; i < statistics.size(); ++i) {
        const QString raw = straight->translated(statistics[i]);
        rows.append({statLabels[i],
                     timed(runs, [&] {
                         jet::Recordset rs;
                         rs.open(statistics[i], &conn, jet::CursorType::Dynamic);
                         for (int r = 0; r < rs.recordCount(); ++r)
                             rs.valueAt(r, 1);
                     }),
                     medianMs(runs, [&] { straight->read(raw); }),
                     QStringLiteral("< 150 ms")});
    }
    return rows;
}

// The all-patient export into a workbook, once, in a process of its own so
// that the peak memory is the export's.
int exportEveryone(const QString &folder)
{
    jet::Connection connection;
    db::openWindowConnection(connection, folder);
    QTemporaryDir target;
    const QString path = QDir(target.path()).filePath(QStringLiteral("export.xlsx"));
    jet::setSelectIntoHandler([&path](jet::Connection &, const QString &, const QString &sheet, jet::Recordset &rows) {
        return jet::writeExcelSheet(path, sheet, rows);
    });
    QElapsedTimer timer;
    timer.start();
    const int rows = connection.execute(ledger::exportStatement(ledger::ExportList::Everyone));
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    out() << "all-patient export: " << rows << " rows, a " << QFileInfo(path).size() / (1024 * 1024) << " MB workbook in "
          << QString::number(ms, 'f', 0) << " ms; peak memory " << usage.ru_maxrss / 1024
          << " MB (targets < 15 s, < 300 MB)" << Qt::endl;
    return 0;
}

long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    return 0;
}

// The treatment voucher of every current in-patient laid out and written as
// PDF, once, in a process of its own; the peak memory is measured from the
// moment the rows are read, so that it is the layout's and the PDF's.
int writeVoucher(const QString &folder)
{
    report::DataSource source(folder);
    report::Document doc = report::document(QStringLiteral("rptTreatment"), source.institution(), QDateTime::currentDateTime());
    QTemporaryDir target;
    const QString path = QDir(target.path()).filePath(QStringLiteral("voucher.pdf"));
    QElapsedTimer timer;
    timer.start();
    const jet::Recordset &rows = source.result(doc.command);
    const int lines = rows.rowCount();
    const double queried = double(timer.nsecsElapsed()) / 1e6;
    const long before = statusKb("VmRSS:");
    QFile clear(QStringLiteral("/proc/self/clear_refs")); // resets the peak to the present
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    int pages = 0;
    report::PdfStream pdf(path, QStringLiteral("処置伝票"));
    report::layOut(*doc.layout, report::RecordsetRows(rows), QDateTime::currentDateTime(), [&](const report::Page &page) {
        pdf.add(page);
        ++pages;
    });
    if (!pdf.finish())
        throw std::runtime_error("the voucher could not be written");
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    out() << "treatment voucher: " << lines << " lines on " << pages << " pages, " << QFileInfo(path).size() / 1024
          << " KB of PDF in " << QString::number(ms, 'f', 0) << " ms (the list read in " << QString::number(queried, 'f', 0)
          << " ms; target < 2 s); memory " << before / 1024 << " MB before the layout, peak "
          << statusKb("VmHWM:") / 1024 << " MB while laying out and writing" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The ledger window is measured offscreen, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    jet::readTimeZoneOnce();
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 7;
    QList<int> sizes = {1000, 20000, 100000};
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/norva-bench");
    // The demo hospitals on a server are databases beside the one the address names.
    QStringList backEnds = {QStringLiteral("file")};
    QString server = qEnvironmentVariable("NORVA_TEST_PG");
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString &s : args[++i].split(QLatin1Char(',')))
                sizes.append(s.toInt());
        } else if (args[i] == QLatin1String("--cache") && i + 1 < args.size()) {
            cache = args[++i];
        } else if (args[i] == QLatin1String("--backend") && i + 1 < args.size()) {
            const QString which = args[++i];
            backEnds = which == QLatin1String("both") ? QStringList{QStringLiteral("file"), QStringLiteral("pg")} : QStringList{which};
        } else if (args[i] == QLatin1String("--server") && i + 1 < args.size()) {
            server = args[++i];
        }
    }
    for (const QString &backEnd : backEnds)
        if (backEnd != QLatin1String("file") && backEnd != QLatin1String("pg")) {
            out() << "--backend is file, pg or both" << Qt::endl;
            return 2;
        }
    if (backEnds.contains(QStringLiteral("pg")) && server.isEmpty()) {
        out() << "a server benchmark needs --server ADDRESS or NORVA_TEST_PG (scripts/bench starts one)" << Qt::endl;
        return 2;
    }
    try {
        // --explain FOLDER JETSQL: how the back end plans the translated text, for tuning.
        if (args.size() == 3 && args[0] == QLatin1String("--explain")) {
            const std::unique_ptr<Straight> straight = straightTo(db::readDatabasePath(args[1]));
            straight->explain(straight->translated(args[2]));
            return 0;
        }
        // --export FOLDER: the all-patient export alone.
        if (args.size() == 2 && args[0] == QLatin1String("--export"))
            return exportEveryone(args[1]);
        // --voucher FOLDER: the treatment voucher alone.
        if (args.size() == 2 && args[0] == QLatin1String("--voucher"))
            return writeVoucher(args[1]);
        QMap<QString, QList<std::pair<int, QList<Row>>>> results; // by back end
        for (const QString &backEnd : backEnds) {
            const bool onServer = backEnd == QLatin1String("pg");
            for (int patients : sizes) {
                const QString folder = onServer ? ensureServerDatabase(cache, server, patients) : ensureDatabase(cache, patients);
                const QList<Row> rows = measure(folder, runs);
                results[backEnd].append({patients, rows});
                out() << "\n### " << (onServer ? "PostgreSQL, " : "") << patients << " patients (median of " << runs
                      << " runs, ms)\n\n";
                out() << "| operation | engine | " << (onServer ? "straight libpq" : "straight SQLCipher")
                      << " | ratio | target |\n|---|---:|---:|---:|---|\n";
                for (const Row &row : rows) {
                    QString target = row.target;
                    if (onServer && row.straight > 0 && !target.contains(QStringLiteral("×")))
                        target += QStringLiteral(", ≤ 1.5×");
                    out() << "| " << row.name << " | " << QString::number(row.engine.ms, 'f', 2) << " | "
                          << (row.straight > 0 ? QString::number(row.straight, 'f', 2) : QStringLiteral("—")) << " | "
                          << (row.straight > 0 ? QString::number(row.engine.ms / row.straight, 'f', 2) : QStringLiteral("—"))
                          << " | " << target << " |\n";
                }
                out().flush();
            }
        }
        // A count that grows with the size is a statement per row somewhere.
        if (results.contains(QStringLiteral("pg"))) {
            const auto &bySize = results[QStringLiteral("pg")];
            out() << "\n### PostgreSQL round trips (statements sent, the last of " << runs << " runs)\n\n| operation |";
            for (const auto &[patients, rows] : bySize)
                out() << " " << patients << " patients |";
            out() << "\n|---|";
            for (int i = 0; i < bySize.size(); ++i)
                out() << "---:|";
            out() << "\n";
            for (int r = 0; r < bySize.first().second.size(); ++r) {
                out() << "| " << bySize.first().second.at(r).name << " |";
                for (const auto &[patients, rows] : bySize)
                    out() << " " << rows.at(r).engine.trips << " |";
                out() << "\n";
            }
        }
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        out() << "\npeak memory: " << usage.ru_maxrss / 1024 << " MB (target < 300 MB)\n";
    } catch (const jet::Error &e) {
        out() << "engine error " << e.numberText() << ": " << e.description() << Qt::endl;
        return 1;
    } catch (const std::exception &e) {
        out() << "error: " << e.what() << Qt::endl;
        return 1;
    }
    return 0;
}
