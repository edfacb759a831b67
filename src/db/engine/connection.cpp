#include "db/engine/connection.h"

#include "db/engine/catalog.h"
#include "db/engine/error.h"
#include "db/engine/physical.h"
#include "db/engine/recordset.h"

#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/server.h"
#include "db/engine/sqlite/sqlitedriver.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <utility>
#include <vector>

namespace jet {

namespace {

constexpr int kTranslationCacheSize = 256;
constexpr int kPreparedCacheSize = 32;
constexpr int kIdlePerFile = 6;

SelectIntoHandler &selectIntoHandler()
{
    static SelectIntoHandler handler;
    return handler;
}

// Ends a read of our own that a failure cut short; a rollback that fails as
// well is logged and never replaces the error that ended the read.
void endReadAfterFailure(Driver &db)
{
    try {
        db.rollback();
    } catch (const Error &e) {
        qWarning("Ending a read after a failure failed (%d): %s", int(e.number()), qUtf8Printable(e.description()));
    }
}

// The driver a data source calls for: a server address opens the server,
// with libpq's own means of finding its password; anything else is a file.
std::unique_ptr<Driver> openDriver(const QString &dataSource, const QString &password)
{
    if (isServerAddress(dataSource))
        return openServer(dataSource);
    return std::make_unique<SqliteDriver>(dataSource, password, false);
}

// A * in an INSERT's SELECT stands for the columns of its sources as the
// engine sees them, so that the values go where they go in a file: a
// server's hidden row key is none of them.  Empty when nothing needs
// spelling out, or when a source is a subquery, whose columns the server
// knows best.
QString selectWithStarsSpelt(const sql::SelectShape &shape, const Driver &db)
{
    const auto star = [](const sql::SelectItem &item) { return item.star; };
    if (!shape.simpleFrom || shape.from.isEmpty() || std::none_of(shape.items.cbegin(), shape.items.cend(), star))
        return {};
    QStringList items;
    for (const sql::SelectItem &item : shape.items) {
        if (!item.star) {
            items.append(item.alias.isEmpty() ? item.sql
                                              : item.sql + QStringLiteral(" AS ") + sql::quoteIdentifier(item.alias, db.dialect()));
            continue;
        }
        for (const sql::TableRef &source : shape.tables) {
            if (!item.starQualifier.isEmpty() && source.alias.compare(item.starQualifier, Qt::CaseInsensitive) != 0)
                continue;
            for (const ColumnDef &column : db.columns(source.table))
                items.append(sql::quoteIdentifier(source.alias, db.dialect()) + QLatin1Char('.')
                             + sql::quoteIdentifier(column.name, db.dialect()));
        }
    }
    return QStringLiteral("SELECT ") + QString(shape.distinct ? QStringLiteral("DISTINCT ") : QString())
        + items.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") + shape.from
        + (shape.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + shape.where) + shape.tail();
}

// An INSERT that names no columns fills the table's columns in their order.
// A server's table may have its hidden row key among them, after a column
// added later; the columns the engine sees are named so that the values go
// where they go in a file.
QString withColumnsNamed(const sql::Statement &statement, const Driver &db)
{
    if (db.dialect() == Dialect::Sqlite || statement.kind != sql::Statement::Kind::Other)
        return statement.text;
    QString text = statement.text;
    if (statement.selectAt >= 0) {
        const QString spelt = selectWithStarsSpelt(statement.select, db);
        if (!spelt.isEmpty())
            text = text.left(statement.selectAt) + spelt;
    }
    if (statement.table.isEmpty())
        return text;
    const QString target = QStringLiteral("INSERT INTO ") + sql::quoteIdentifier(statement.table, db.dialect());
    if (!text.startsWith(target))
        return text;
    const std::optional<SchemaObject> table = db.findObject(statement.table);
    if (!table || table->kind != SchemaObject::Kind::Table)
        return text; // the server refuses it in its own words
    QStringList names;
    for (const ColumnDef &column : db.columns(table->name))
        names.append(sql::quoteIdentifier(column.name, db.dialect()));
    return QStringLiteral("INSERT INTO ") + sql::quoteIdentifier(table->name, db.dialect()) + QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')') + text.mid(target.size());
}

// A value bound to a column in its column's stored form, as Jet converts it
// on assignment: a server takes -1 for a Yes/No column only as a boolean.
QVariantList assignedValues(const sql::Statement &statement, const Driver &db, QVariantList parameters)
{
    if (db.dialect() == Dialect::Sqlite || statement.assigned.empty())
        return parameters;
    const std::optional<SchemaObject> table = db.findObject(statement.target);
    if (!table || table->kind != SchemaObject::Kind::Table)
        return parameters;
    const QList<ColumnDef> columns = db.columns(table->name);
    for (const auto &[marker, name] : statement.assigned) {
        if (marker < 1 || marker > parameters.size())
            continue;
        for (const ColumnDef &column : columns)
            if (column.name.compare(name, Qt::CaseInsensitive) == 0)
                parameters[marker - 1] = db.toStorage(parameters.at(marker - 1), column.type, true);
    }
    return parameters;
}

} // namespace

PhysicalConnection::PhysicalConnection(const QString &dataSource, const QString &password)
    : m_driver(openDriver(dataSource, password)), m_dataSource(dataSource), m_password(password),
      m_serverRole(isServerAddress(dataSource) ? serverLoginRole() : QString())
{
}

const sql::Statement &PhysicalConnection::translation(const QString &jetSql, Dialect dialect)
{
    const std::pair<int, QString> key(int(dialect), jetSql);
    auto it = m_translations.constFind(key);
    if (it != m_translations.constEnd())
        return *it;
    if (m_translations.size() >= kTranslationCacheSize)
        m_translations.clear();
    if (dialect == Dialect::Postgres && m_driver->dialect() == Dialect::Postgres)
        return *m_translations.insert(key, static_cast<const postgres::PgDriver &>(*m_driver).translate(jetSql));
    return *m_translations.insert(key, sql::translate(jetSql, dialect));
}

DriverResult &PhysicalConnection::preparedForExecute(const QString &sql)
{
    for (auto it = m_prepared.begin(); it != m_prepared.end(); ++it) {
        if (it->first == sql) {
            if (it != m_prepared.begin())
                m_prepared.splice(m_prepared.begin(), m_prepared, it);
            return *m_prepared.front().second;
        }
    }
    std::unique_ptr<DriverResult> result = m_driver->prepare(sql);
    m_prepared.emplace_front(sql, std::move(result));
    if (int(m_prepared.size()) > kPreparedCacheSize)
        m_prepared.pop_back();
    return *m_prepared.front().second;
}

void PhysicalConnection::resetForReuse()
{
    for (auto &entry : m_prepared)
        entry.second->reset();
    m_driver->resetForReuse();
}

namespace pool {

namespace {
struct Idle
{
    QHash<QString, std::vector<std::shared_ptr<PhysicalConnection>>> byKey;
    QHash<QString, int> inUse; // logical connections open, per file
};
Idle &idle()
{
    static Idle instance;
    return instance;
}
// A file by its absolute path and password; a server by its address and the
// role logged in as, since the file's password means nothing to it.
QString keyOf(const QString &dataSource, const QString &password, const QString &serverRole)
{
    if (isServerAddress(dataSource))
        return dataSource + QChar(0) + serverRole;
    return QFileInfo(dataSource).absoluteFilePath() + QChar(0) + password;
}
QString keyOf(const PhysicalConnection &connection)
{
    return keyOf(connection.dataSource(), connection.password(), connection.serverRole());
}
// The beginning of the keys of every handle on a data source, whatever the
// password or role.
QString prefixOf(const QString &dataSource)
{
    return keyOf(dataSource, QString(), QString());
}
} // namespace

std::shared_ptr<PhysicalConnection> acquire(const QString &path, const QString &password)
{
    const QString key = keyOf(path, password, isServerAddress(path) ? serverLoginRole() : QString());
    auto &list = idle().byKey[key];
    std::shared_ptr<PhysicalConnection> handle;
    while (!list.empty() && !handle) {
        std::shared_ptr<PhysicalConnection> candidate = std::move(list.back());
        list.pop_back();
        if (candidate->driver().isUsable())
            handle = std::move(candidate);
        else
            list.clear(); // the file was replaced: every idle handle on it is stale
    }
    if (!handle)
        handle = std::make_shared<PhysicalConnection>(path, password);
    ++idle().inUse[key];
    return handle;
}

void release(std::shared_ptr<PhysicalConnection> connection)
{
    if (!connection)
        return;
    connection->resetForReuse();
    const QString key = keyOf(*connection);
    if (--idle().inUse[key] == 0)
        connection->driver().idle();
    auto &list = idle().byKey[key];
    // A server's handle of another role than the one logged in now (the
    // login window's, after the login) would only hold its session open.
    const bool otherRole = isServerAddress(connection->dataSource()) && connection->serverRole() != serverLoginRole();
    if (!otherRole && int(list.size()) < kIdlePerFile)
        list.push_back(std::move(connection));
}

bool inUse(const QString &path)
{
    const QString prefix = prefixOf(path);
    for (auto it = idle().inUse.cbegin(); it != idle().inUse.cend(); ++it)
        if (it.key().startsWith(prefix) && it.value() > 0)
            return true;
    return false;
}

void drop(const QString &path)
{
    const QString prefix = prefixOf(path);
    for (auto it = idle().byKey.begin(); it != idle().byKey.end();) {
        if (it.key().startsWith(prefix))
            it = idle().byKey.erase(it);
        else
            ++it;
    }
}

void dropServers()
{
    for (auto it = idle().byKey.begin(); it != idle().byKey.end();) {
        if (isServerAddress(it.key().section(QChar(0), 0, 0)))
            it = idle().byKey.erase(it);
        else
            ++it;
    }
}

} // namespace pool

ConnectionSettings parseConnectionString(const QString &text)
{
    ConnectionSettings settings;
    int i = 0;
    const int n = int(text.size());
    auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    while (i < n) {
        skipBlanks();
        if (i >= n)
            break;
        if (text.at(i) == QLatin1Char(';')) {
            ++i;
            continue;
        }
        const int eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            throw Error(err::GeneralFailure, QStringLiteral("接続文字列が正しくありません: %1").arg(text));
        const QString key = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        skipBlanks();
        QString value;
        if (i < n && (text.at(i) == QLatin1Char('\'') || text.at(i) == QLatin1Char('"'))) {
            const QChar quote = text.at(i);
            const int close = text.indexOf(quote, i + 1);
            if (close < 0)
                throw Error(err::GeneralFailure, QStringLiteral("接続文字列の引用符が閉じていません: %1").arg(text));
            value = text.mid(i + 1, close - i - 1);
            i = close + 1;
            skipBlanks();
            if (i < n && text.at(i) != QLatin1Char(';'))
                throw Error(err::GeneralFailure, QStringLiteral("接続文字列が正しくありません: %1").arg(text));
        } else {
            const int semi = text.indexOf(QLatin1Char(';'), i);
            const int end = semi < 0 ? n : semi;
            value = text.mid(i, end - i).trimmed();
            i = end;
        }
        if (key == QLatin1String("provider"))
            settings.provider = value;
        else if (key == QLatin1String("data provider"))
            settings.dataProvider = value;
        else if (key == QLatin1String("data source"))
            settings.dataSource = value;
        else if (key == QLatin1String("jet oledb:database password"))
            settings.password = value;
    }
    return settings;
}

Connection::Connection() = default;

Connection::~Connection()
{
    close();
}

void Connection::setProvider(const QString &provider)
{
    m_provider = provider;
}

void Connection::setConnectionString(const QString &connectionString)
{
    m_connectionString = connectionString;
}

void Connection::open(const QString &connectionString)
{
    setConnectionString(connectionString);
    open();
}

void Connection::open()
{
    if (isOpen())
        throw Error(err::GeneralFailure, QStringLiteral("接続は既に開いています。"));
    const ConnectionSettings settings = parseConnectionString(m_connectionString);
    const QString provider = settings.provider.isEmpty() ? m_provider : settings.provider;
    const QString jet = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    const bool shaped = provider.compare(QLatin1String("MSDataShape"), Qt::CaseInsensitive) == 0;
    const QString engine = shaped ? settings.dataProvider : provider;
    if (engine.compare(jet, Qt::CaseInsensitive) != 0)
        throw Error(err::GeneralFailure, QStringLiteral("プロバイダが見つかりません: %1").arg(engine));
    if (settings.dataSource.isEmpty())
        throw Error(err::GeneralFailure, QStringLiteral("接続文字列にデータソースがありません。"));
    m_physical = pool::acquire(settings.dataSource, settings.password);
    m_dataSource = settings.dataSource;
    m_transactionDepth = 0;
    forgetSharedCounts();
    ++m_openCount;
}

void Connection::close()
{
    if (!m_physical)
        return;
    if (m_working) {
        m_physical->driver().setWorking(nullptr);
        m_working = nullptr;
    }
    m_transactionDepth = 0;
    forgetSharedCounts();
    pool::release(std::move(m_physical));
    m_physical.reset();
}

Driver &Connection::driver() const
{
    if (!m_physical)
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    return m_physical->driver();
}

void Connection::renewIfLost()
{
    // A file's check looks at the file on disk: it is never made here.
    if (!m_physical || m_transactionDepth > 0 || m_physical->driver().dialect() != Dialect::Postgres
        || m_physical->driver().isUsable())
        return;
    // The idle connections to the server went with this one, though they may not know it yet.
    pool::drop(m_dataSource);
    std::shared_ptr<PhysicalConnection> renewed = pool::acquire(m_dataSource, m_physical->password());
    if (m_working) {
        m_physical->driver().setWorking(nullptr);
        renewed->driver().setWorking(&m_working);
    }
    pool::release(std::exchange(m_physical, std::move(renewed)));
}

int Connection::execute(const QString &jetSql, const QVariantList &parameters)
{
    // Whatever it runs may change what was counted.
    forgetSharedCounts();
    renewIfLost();
    Driver &db = driver();
    // The catalog reads a new default back from the file's dialect, whatever the back end.
    const sql::Statement &jet = m_physical->translation(jetSql);
    switch (jet.kind) {
    case sql::Statement::Kind::AlterColumnDefault: {
        Catalog catalog;
        catalog.setActiveConnection(this);
        catalog.setColumnDefaultSql(jet.table, jet.column, jet.defaultSql);
        return 0;
    }
    case sql::Statement::Kind::DropIndex: {
        Catalog catalog;
        catalog.setActiveConnection(this);
        catalog.dropIndex(jet.table, jet.index);
        return 0;
    }
    case sql::Statement::Kind::SelectInto: {
        if (!selectIntoHandler())
            throw Error(err::NotSupported, QStringLiteral("SELECT ... INTO の出力先を扱えません: %1").arg(jet.select.intoConnect));
        // One read transaction for the whole output: the rows are one moment's,
        // and reading them does not take and release the file's locks row by row.
        const bool ownRead = !db.inTransaction();
        if (ownRead)
            db.beginRead();
        try {
            Recordset rows;
            rows.openCommand(jetSql, this, parameters, CursorType::ForwardOnly);
            const int written = selectIntoHandler()(*this, jet.select.intoConnect, jet.select.intoName, rows);
            rows.close();
            if (ownRead)
                db.commit();
            return written;
        } catch (...) {
            if (ownRead && db.inTransaction())
                endReadAfterFailure(db);
            throw;
        }
    }
    case sql::Statement::Kind::Select:
    case sql::Statement::Kind::Other:
        break;
    }
    if (jet.write)
        checkWrite(*jet.write);
    const sql::Statement &statement = db.dialect() == Dialect::Sqlite ? jet : m_physical->translation(jetSql, db.dialect());
    DriverResult &result = m_physical->preparedForExecute(withColumnsNamed(statement, db));
    result.reset();
    result.bindAll(assignedValues(statement, db, parameters));
    while (result.step()) {
    }
    // Read before the reset, which forgets a server's count with its result.
    const qint64 changed = result.changes();
    result.reset();
    return statement.kind == sql::Statement::Kind::Other ? int(changed) : 0;
}

std::optional<QVariant> Connection::sharedCount(const QString &sql, const QVariantList &parameters) const
{
    for (const SharedCount &count : m_sharedCounts)
        if (count.sql == sql && count.parameters == parameters)
            return count.value;
    return std::nullopt;
}

void Connection::keepSharedCount(const QString &sql, const QVariantList &parameters, const QVariant &value) const
{
    if (m_countsShared > 0 && !sharedCount(sql, parameters))
        m_sharedCounts.push_back({sql, parameters, value});
}

void Connection::setRowChangeObserver(RowChangeObserver observer)
{
    m_rowChangeObserver = std::move(observer);
}

void Connection::setWriteGuard(WriteGuard guard)
{
    m_writeGuard = std::move(guard);
}

void Connection::checkWrite(const WriteIntent &intent)
{
    forgetSharedCounts();
    if (!m_writeGuard)
        return;
    const QString refusal = m_writeGuard(*this, intent);
    if (!refusal.isEmpty())
        throw Error(err::NoPermission, refusal, Cause::Permission);
}

void Connection::setWorking(std::function<void()> working)
{
    Driver &db = driver();
    m_working = std::move(working);
    db.setWorking(&m_working);
}

namespace {
QString levelName(int depth)
{
    return QStringLiteral("jet_level_%1").arg(depth);
}
} // namespace

void Connection::beginTrans()
{
    forgetSharedCounts();
    renewIfLost();
    Driver &db = driver();
    if (m_transactionDepth == 0)
        db.begin();
    else
        db.savepoint(levelName(m_transactionDepth));
    ++m_transactionDepth;
}

void Connection::commitTrans()
{
    forgetSharedCounts();
    Driver &db = driver();
    if (m_transactionDepth == 0)
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションが開始されていません。"));
    if (m_transactionDepth == 1)
        db.commit();
    else
        db.releaseSavepoint(levelName(m_transactionDepth - 1));
    --m_transactionDepth;
}

void Connection::rollbackTrans()
{
    forgetSharedCounts();
    Driver &db = driver();
    if (m_transactionDepth == 0)
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションが開始されていません。"));
    // The back end may have ended the whole transaction itself after a
    // failure; a ROLLBACK would then fail and hide the error that caused it.
    if (!db.inTransaction()) {
        --m_transactionDepth;
        return;
    }
    if (m_transactionDepth == 1)
        db.rollback();
    else
        db.rollbackToSavepoint(levelName(m_transactionDepth - 1));
    --m_transactionDepth;
}

void releasePooledHandles(const QString &path)
{
    pool::drop(path);
}

void closeDatabaseFile(const QString &path)
{
    if (pool::inUse(path))
        throw Error(err::GeneralFailure, QStringLiteral("データベース '%1' はまだ開いています。").arg(path));
    pool::drop(path);
}

void createDatabase(const QString &path, const QString &password)
{
    if (isServerAddress(path))
        return;
    if (QFileInfo::exists(path))
        throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' は既に存在します。").arg(path));
    try {
        SqliteDriver created(path, password, true);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

QString describeDataSource(const QString &dataSource)
{
    return isServerAddress(dataSource) ? describeServer(dataSource) : dataSource;
}

void prepareNewDatabase(Connection &connection)
{
    Driver &db = connection.driver();
    if (db.dialect() == Dialect::Postgres)
        static_cast<postgres::PgDriver &>(db).prepareNewDatabase();
}

void updateServerSide(Connection &connection)
{
    Driver &db = connection.driver();
    if (db.dialect() == Dialect::Postgres)
        static_cast<postgres::PgDriver &>(db).updateServerSide();
}

bool ownsDatabase(Connection &connection)
{
    Driver &db = connection.driver();
    return db.dialect() != Dialect::Postgres || static_cast<postgres::PgDriver &>(db).ownsDatabase();
}

void requireDatabaseOwner(Connection &connection)
{
    Driver &db = connection.driver();
    if (db.dialect() != Dialect::Postgres)
        return;
    const auto &server = static_cast<postgres::PgDriver &>(db);
    if (!server.ownsDatabase())
        throw postgres::notOwner(server.databaseName(), server.loginRole());
}

void discardNewDatabase(const QString &dataSource)
{
    if (!isServerAddress(dataSource))
        QFile::remove(dataSource);
}

void setSelectIntoHandler(SelectIntoHandler handler)
{
    selectIntoHandler() = std::move(handler);
}

} // namespace jet
