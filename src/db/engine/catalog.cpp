#include "db/engine/catalog.h"

#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/postgres/server.h"

#include <QFileInfo>

namespace jet {

namespace {

bool isIntegerType(DataType type)
{
    return type == DataType::Long || type == DataType::Integer;
}

void requireTable(const Driver &driver, const QString &table)
{
    const std::optional<SchemaObject> object = driver.findObject(table);
    if (!object || object->kind != SchemaObject::Kind::Table)
        throw Error(err::TableMissing, QStringLiteral("テーブル '%1' が見つかりません。").arg(table));
}

// The value of a literal as the translator writes a default: NULL, a number
// or a quoted text.
QVariant literalValue(const QString &literal)
{
    const QString t = literal.trimmed();
    if (t.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0)
        return QVariant();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('\'')) && t.endsWith(QLatin1Char('\'')))
        return t.mid(1, t.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    bool ok = false;
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return i;
    const double d = t.toDouble(&ok);
    if (!ok)
        throw Error(err::SyntaxError, QStringLiteral("既定値 '%1' を読めません。").arg(literal));
    return d;
}

} // namespace

Catalog::Catalog() = default;
Catalog::~Catalog() = default;

void Catalog::open(const QString &connectionString)
{
    const ConnectionSettings settings = parseConnectionString(connectionString);
    if (!isServerAddress(settings.dataSource) && !QFileInfo(settings.dataSource).isFile())
        throw Error(err::FileNotFound, QStringLiteral("ファイル '%1' が見つかりません。").arg(settings.dataSource));
    auto own = std::make_unique<Connection>();
    own->open(connectionString);
    m_own = std::move(own);
    m_connection = m_own.get();
}

void Catalog::setActiveConnection(Connection *connection)
{
    m_own.reset();
    m_connection = connection;
}

void Catalog::close()
{
    m_own.reset();
    m_connection = nullptr;
}

Connection *Catalog::connection() const
{
    if (!m_connection || !m_connection->isOpen())
        throw Error(err::ObjectClosed, QStringLiteral("カタログの接続が開いていません。"));
    return m_connection;
}

void Catalog::createTable(const TableDef &table)
{
    Driver &driver = connection()->driver();
    if (driver.findObject(table.name))
        throw Error(err::GeneralFailure, QStringLiteral("テーブル '%1' は既に存在します。").arg(table.name));

    QStringList seen;
    for (const ColumnDef &c : table.columns) {
        if (seen.contains(c.name, Qt::CaseInsensitive))
            throw Error(err::FieldDefinedTwice, QStringLiteral("フィールド '%1' は複数定義されています。").arg(c.name));
        seen.append(c.name);
    }

    QStringList primaryKey;
    for (const IndexDef &index : table.indexes)
        if (index.primaryKey)
            primaryKey = index.columns;
    for (const ColumnDef &c : table.columns) {
        if (c.autoIncrement && (!isIntegerType(c.type) || (!primaryKey.isEmpty() && primaryKey != QStringList{c.name})))
            throw Error(err::NotSupported, QStringLiteral("オートナンバー型のフィールド '%1' は主キーでなければなりません。").arg(c.name));
    }
    driver.createTable(table);
}

void Catalog::appendColumn(const QString &table, const ColumnDef &column)
{
    Driver &driver = connection()->driver();
    requireTable(driver, table);
    for (const ColumnDef &existing : driver.columns(table))
        if (existing.name.compare(column.name, Qt::CaseInsensitive) == 0)
            throw Error(err::FieldDefinedTwice, QStringLiteral("フィールド '%1' は複数定義されています。").arg(column.name));
    if (column.autoIncrement)
        throw Error(err::NotSupported, QStringLiteral("既存のテーブルにオートナンバー型のフィールドは追加できません。"));
    if (!column.nullable && column.defaultValue.isNull() && column.type != DataType::YesNo)
        throw Error(err::GeneralFailure, QStringLiteral("既定値のない必須フィールド '%1' は追加できません。").arg(column.name));
    driver.appendColumn(table, column);
}

void Catalog::createIndex(const QString &table, const IndexDef &index)
{
    Driver &driver = connection()->driver();
    if (index.primaryKey)
        throw Error(err::NotSupported, QStringLiteral("主キーはテーブルの作成時に指定してください。"));
    driver.createIndex(table, index);
}

void Catalog::dropIndex(const QString &table, const QString &index)
{
    Driver &driver = connection()->driver();
    requireTable(driver, table);
    driver.dropIndex(table, index);
}

void Catalog::setColumnDefaultSql(const QString &table, const QString &column, const QString &defaultSql)
{
    Driver &driver = connection()->driver();
    requireTable(driver, table);
    bool found = false;
    for (const ColumnDef &c : driver.columns(table))
        found = found || c.name.compare(column, Qt::CaseInsensitive) == 0;
    if (!found)
        throw Error(err::ColumnMissing, QStringLiteral("フィールド '%1' がテーブル '%2' にありません。").arg(column, table));
    driver.setColumnDefault(table, column, literalValue(defaultSql));
}

void Catalog::appendView(const QString &name, const QString &jetSql)
{
    Driver &driver = connection()->driver();
    const sql::Statement statement = sql::translate(jetSql);
    if (statement.kind != sql::Statement::Kind::Select)
        throw Error(err::SyntaxError, QStringLiteral("クエリ '%1' は SELECT ステートメントではありません。").arg(name));
    if (driver.findObject(name))
        throw Error(err::GeneralFailure, QStringLiteral("オブジェクト '%1' は既に存在します。").arg(name));
    driver.storeView(name, jetSql);
}

void Catalog::deleteView(const QString &name)
{
    Driver &driver = connection()->driver();
    const std::optional<SchemaObject> object = driver.findObject(name);
    if (!object || object->kind != SchemaObject::Kind::View)
        throw Error(err::ItemNotFound, QStringLiteral("クエリ '%1' が見つかりません。").arg(name));
    driver.dropView(name);
}

QString Catalog::viewText(const QString &name) const
{
    return connection()->driver().viewText(name);
}

QStringList Catalog::views() const
{
    return connection()->driver().views();
}

QStringList Catalog::tables() const
{
    return connection()->driver().tables();
}

QList<ColumnDef> Catalog::columns(const QString &table) const
{
    const Driver &driver = connection()->driver();
    requireTable(driver, table);
    return driver.columns(table);
}

QStringList Catalog::indexes(const QString &table) const
{
    return connection()->driver().indexes(table);
}

void Catalog::setIndexStatistics(const QString &table, const QString &index, const QString &stat)
{
    connection()->driver().setIndexStatistics(table, index, stat);
}

void Catalog::refresh()
{
    // Nothing to renew here: the catalog keeps nothing.  A file's schema is
    // read from the file on every call.  A server's connection keeps the
    // schema it has read and drops it itself before its next statement once
    // a change is announced: one made through the engine by this or any
    // other connection, of this program or another workstation's.  A change
    // made by hand (psql) is seen once a connection is opened afresh.
}

} // namespace jet
