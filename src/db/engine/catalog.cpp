#include "db/engine/catalog.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/physical.h"
#include "db/engine/sqlite_support.h"

#include <QFileInfo>
#include <sqlite3.h>

namespace jet {

using detail::exec;
using sql::quoteIdentifier;
using sql::quoteString;

namespace {

const QString kPrimaryKey = QStringLiteral("PrimaryKey");

QString queryTable()
{
    return quoteIdentifier(QString::fromLatin1(detail::queryTextTable));
}

// SQLite keeps one namespace for the indexes of every table.
QString storedIndexName(const QString &table, const QString &index)
{
    return table + QLatin1Char('#') + index;
}

// Nests inside whatever transaction the connection has open.
class Savepoint
{
public:
    explicit Savepoint(sqlite3 *db) : m_db(db) { exec(m_db, QStringLiteral("SAVEPOINT jet_catalog;")); }
    ~Savepoint()
    {
        if (!m_done)
            sqlite3_exec(m_db, "ROLLBACK TO jet_catalog; RELEASE jet_catalog;", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        exec(m_db, QStringLiteral("RELEASE jet_catalog;"));
        m_done = true;
    }

private:
    sqlite3 *m_db;
    bool m_done = false;
};

bool isIntegerType(DataType type)
{
    return type == DataType::Long || type == DataType::Integer;
}

QString columnDefinition(const ColumnDef &column, bool inlinePrimaryKey)
{
    QString def = quoteIdentifier(column.name) + QLatin1Char(' ');
    if (inlinePrimaryKey) {
        def += QStringLiteral("INTEGER PRIMARY KEY");
        if (column.autoIncrement)
            def += QStringLiteral(" AUTOINCREMENT");
        return def;
    }
    def += detail::declaredType(column);
    if (column.type == DataType::YesNo) {
        def += QStringLiteral(" NOT NULL DEFAULT ");
        def += column.defaultValue.isNull() ? QStringLiteral("0") : detail::sqlLiteral(column.defaultValue);
        return def;
    }
    if (!column.nullable)
        def += QStringLiteral(" NOT NULL");
    if (!column.defaultValue.isNull())
        def += QStringLiteral(" DEFAULT ") + detail::sqlLiteral(column.defaultValue);
    return def;
}

QVariant defaultFromSql(const QVariant &text)
{
    if (text.isNull())
        return QVariant();
    const QString t = text.toString().trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('\'')) && t.endsWith(QLatin1Char('\'')))
        return t.mid(1, t.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    bool ok = false;
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return i;
    const double d = t.toDouble(&ok);
    if (ok)
        return d;
    return t;
}

bool objectExists(sqlite3 *db, const QString &type, const QString &name)
{
    detail::Statement stmt(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE"));
    stmt.bind(1, type);
    stmt.bind(2, name);
    return stmt.step();
}

void requireTable(sqlite3 *db, const QString &table)
{
    if (!objectExists(db, QStringLiteral("table"), table))
        throw Error(err::TableMissing, QStringLiteral("テーブル '%1' が見つかりません。").arg(table));
}

void ensureQueryTable(sqlite3 *db)
{
    exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY NOT NULL, jet_sql TEXT NOT NULL);")
                 .arg(queryTable()));
}

struct TableColumn
{
    QString name;
    QString declared;
    bool notNull = false;
    QVariant defaultSql;
    int primaryKeyOrder = 0;
};

QList<TableColumn> tableColumns(sqlite3 *db, const QString &table)
{
    detail::Statement stmt(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)));
    QList<TableColumn> result;
    while (stmt.step()) {
        TableColumn c;
        c.name = stmt.column(1).toString();
        c.declared = stmt.column(2).toString();
        c.notNull = stmt.column(3).toLongLong() != 0;
        c.defaultSql = stmt.column(4);
        c.primaryKeyOrder = int(stmt.column(5).toLongLong());
        result.append(c);
    }
    return result;
}

} // namespace

Catalog::Catalog() = default;
Catalog::~Catalog() = default;

void Catalog::open(const QString &connectionString)
{
    const ConnectionSettings settings = parseConnectionString(connectionString);
    if (!QFileInfo(settings.dataSource).isFile())
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
    sqlite3 *db = connection()->handle();
    if (objectExists(db, QStringLiteral("table"), table.name) || objectExists(db, QStringLiteral("view"), table.name))
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
    QString inlineKey;
    for (const ColumnDef &c : table.columns) {
        if (c.autoIncrement) {
            if (!isIntegerType(c.type) || (!primaryKey.isEmpty() && primaryKey != QStringList{c.name}))
                throw Error(err::NotSupported, QStringLiteral("オートナンバー型のフィールド '%1' は主キーでなければなりません。").arg(c.name));
            inlineKey = c.name;
        }
    }
    // Only an AutoNumber becomes SQLite's row key.  Any other key gets an index
    // of its own, which lets joins on it read the index instead of the rows.

    QStringList parts;
    for (const ColumnDef &c : table.columns)
        parts.append(columnDefinition(c, c.name == inlineKey));
    if (inlineKey.isEmpty() && !primaryKey.isEmpty()) {
        QStringList quoted;
        for (const QString &c : primaryKey)
            quoted.append(quoteIdentifier(c));
        parts.append(QStringLiteral("PRIMARY KEY (%1)").arg(quoted.join(QStringLiteral(", "))));
    }

    Savepoint savepoint(db);
    exec(db, QStringLiteral("CREATE TABLE %1 (%2);").arg(quoteIdentifier(table.name), parts.join(QStringLiteral(", "))));
    for (const IndexDef &index : table.indexes)
        if (!index.primaryKey)
            createIndex(table.name, index);
    savepoint.commit();
}

void Catalog::appendColumn(const QString &table, const ColumnDef &column)
{
    sqlite3 *db = connection()->handle();
    requireTable(db, table);
    for (const TableColumn &existing : tableColumns(db, table))
        if (existing.name.compare(column.name, Qt::CaseInsensitive) == 0)
            throw Error(err::FieldDefinedTwice, QStringLiteral("フィールド '%1' は複数定義されています。").arg(column.name));
    if (column.autoIncrement)
        throw Error(err::NotSupported, QStringLiteral("既存のテーブルにオートナンバー型のフィールドは追加できません。"));
    ColumnDef added = column;
    if (!added.nullable && added.defaultValue.isNull() && added.type != DataType::YesNo)
        throw Error(err::GeneralFailure, QStringLiteral("既定値のない必須フィールド '%1' は追加できません。").arg(column.name));
    exec(db, QStringLiteral("ALTER TABLE %1 ADD COLUMN %2;").arg(quoteIdentifier(table), columnDefinition(added, false)));
}

void Catalog::createIndex(const QString &table, const IndexDef &index)
{
    sqlite3 *db = connection()->handle();
    if (index.primaryKey)
        throw Error(err::NotSupported, QStringLiteral("主キーはテーブルの作成時に指定してください。"));
    QStringList quoted;
    for (const QString &c : index.columns)
        quoted.append(quoteIdentifier(c));
    exec(db, QStringLiteral("CREATE %1INDEX %2 ON %3 (%4);")
                 .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(),
                      quoteIdentifier(storedIndexName(table, index.name)), quoteIdentifier(table),
                      quoted.join(QStringLiteral(", "))));
}

void Catalog::dropIndex(const QString &table, const QString &index)
{
    sqlite3 *db = connection()->handle();
    requireTable(db, table);
    const QString stored = storedIndexName(table, index);
    if (!objectExists(db, QStringLiteral("index"), stored))
        throw Error(err::ItemNotFound, QStringLiteral("インデックス '%1' がテーブル '%2' にありません。").arg(index, table));
    exec(db, QStringLiteral("DROP INDEX %1;").arg(quoteIdentifier(stored)));
}

void Catalog::setColumnDefaultSql(const QString &table, const QString &column, const QString &defaultSql)
{
    sqlite3 *db = connection()->handle();
    requireTable(db, table);
    const QList<TableColumn> columns = tableColumns(db, table);
    bool found = false;
    int keyColumns = 0;
    for (const TableColumn &c : columns) {
        found = found || c.name.compare(column, Qt::CaseInsensitive) == 0;
        keyColumns += c.primaryKeyOrder > 0 ? 1 : 0;
    }
    if (!found)
        throw Error(err::ColumnMissing, QStringLiteral("フィールド '%1' がテーブル '%2' にありません。").arg(column, table));

    QString createSql;
    {
        detail::Statement stmt(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
        stmt.bind(1, table);
        if (stmt.step())
            createSql = stmt.column(0).toString();
    }
    const bool autoIncrement = createSql.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);

    QStringList definitions, names, keys;
    bool rowidAlias = false;
    for (const TableColumn &c : columns) {
        QString def = quoteIdentifier(c.name) + QLatin1Char(' ') + c.declared;
        const bool integerKey = autoIncrement && keyColumns == 1 && c.primaryKeyOrder == 1;
        if (integerKey) {
            def += QStringLiteral(" PRIMARY KEY");
            if (autoIncrement)
                def += QStringLiteral(" AUTOINCREMENT");
            rowidAlias = true;
        }
        if (c.notNull)
            def += QStringLiteral(" NOT NULL");
        const QVariant dflt = c.name.compare(column, Qt::CaseInsensitive) == 0 ? QVariant(defaultSql) : c.defaultSql;
        if (!dflt.isNull())
            def += QStringLiteral(" DEFAULT ") + dflt.toString();
        definitions.append(def);
        names.append(quoteIdentifier(c.name));
        if (c.primaryKeyOrder > 0 && !integerKey)
            keys.append(quoteIdentifier(c.name));
    }
    if (!keys.isEmpty())
        definitions.append(QStringLiteral("PRIMARY KEY (%1)").arg(keys.join(QStringLiteral(", "))));

    QStringList indexSql;
    {
        detail::Statement stmt(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL"));
        stmt.bind(1, table);
        while (stmt.step())
            indexSql.append(stmt.column(0).toString());
    }
    QVariant sequence;
    if (autoIncrement) {
        detail::Statement stmt(db, QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"));
        stmt.bind(1, table);
        if (stmt.step())
            sequence = stmt.column(0);
    }

    const QString rebuilt = quoteIdentifier(table + QStringLiteral("#rebuild"));
    const QString copied = rowidAlias ? names.join(QStringLiteral(", ")) : QStringLiteral("rowid, ") + names.join(QStringLiteral(", "));
    Savepoint savepoint(db);
    exec(db, QStringLiteral("CREATE TABLE %1 (%2);").arg(rebuilt, definitions.join(QStringLiteral(", "))));
    exec(db, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3;").arg(rebuilt, copied, quoteIdentifier(table)));
    exec(db, QStringLiteral("DROP TABLE %1;").arg(quoteIdentifier(table)));
    exec(db, QStringLiteral("ALTER TABLE %1 RENAME TO %2;").arg(rebuilt, quoteIdentifier(table)));
    if (!sequence.isNull()) {
        exec(db, QStringLiteral("DELETE FROM sqlite_sequence WHERE name = %1;").arg(quoteString(table)));
        exec(db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (%1, %2);")
                     .arg(quoteString(table), QString::number(sequence.toLongLong())));
    }
    for (const QString &sql : indexSql)
        exec(db, sql);
    savepoint.commit();
}

void Catalog::appendView(const QString &name, const QString &jetSql)
{
    sqlite3 *db = connection()->handle();
    const sql::Statement statement = sql::translate(jetSql);
    if (statement.kind != sql::Statement::Kind::Select)
        throw Error(err::SyntaxError, QStringLiteral("クエリ '%1' は SELECT ステートメントではありません。").arg(name));
    if (objectExists(db, QStringLiteral("table"), name) || objectExists(db, QStringLiteral("view"), name))
        throw Error(err::GeneralFailure, QStringLiteral("オブジェクト '%1' は既に存在します。").arg(name));
    ensureQueryTable(db);
    Savepoint savepoint(db);
    exec(db, QStringLiteral("CREATE VIEW %1 AS %2;").arg(quoteIdentifier(name), statement.text));
    detail::Statement insert(db, QStringLiteral("INSERT INTO %1 (name, jet_sql) VALUES (?, ?)").arg(queryTable()));
    insert.bind(1, name);
    insert.bind(2, jetSql);
    insert.step();
    savepoint.commit();
}

void Catalog::deleteView(const QString &name)
{
    sqlite3 *db = connection()->handle();
    if (!objectExists(db, QStringLiteral("view"), name))
        throw Error(err::ItemNotFound, QStringLiteral("クエリ '%1' が見つかりません。").arg(name));
    ensureQueryTable(db);
    Savepoint savepoint(db);
    exec(db, QStringLiteral("DROP VIEW %1;").arg(quoteIdentifier(name)));
    detail::Statement remove(db, QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(queryTable()));
    remove.bind(1, name);
    remove.step();
    savepoint.commit();
}

QString Catalog::viewText(const QString &name) const
{
    sqlite3 *db = connection()->handle();
    if (!objectExists(db, QStringLiteral("table"), QString::fromLatin1(detail::queryTextTable)))
        return QString();
    detail::Statement stmt(db, QStringLiteral("SELECT jet_sql FROM %1 WHERE name = ?").arg(queryTable()));
    stmt.bind(1, name);
    return stmt.step() ? stmt.column(0).toString() : QString();
}

QStringList Catalog::views() const
{
    sqlite3 *db = connection()->handle();
    detail::Statement stmt(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'view' ORDER BY name"));
    QStringList result;
    while (stmt.step())
        result.append(stmt.column(0).toString());
    return result;
}

QStringList Catalog::tables() const
{
    sqlite3 *db = connection()->handle();
    detail::Statement stmt(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                              "AND name <> ? ORDER BY name"));
    stmt.bind(1, QString::fromLatin1(detail::queryTextTable));
    QStringList result;
    while (stmt.step())
        result.append(stmt.column(0).toString());
    return result;
}

QList<ColumnDef> Catalog::columns(const QString &table) const
{
    sqlite3 *db = connection()->handle();
    QString createSql;
    {
        detail::Statement stmt(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
        stmt.bind(1, table);
        if (!stmt.step())
            throw Error(err::TableMissing, QStringLiteral("テーブル '%1' が見つかりません。").arg(table));
        createSql = stmt.column(0).toString();
    }
    const QList<TableColumn> raw = tableColumns(db, table);
    int keyColumns = 0;
    for (const TableColumn &c : raw)
        keyColumns += c.primaryKeyOrder > 0 ? 1 : 0;
    QList<ColumnDef> result;
    for (const TableColumn &c : raw) {
        ColumnDef def;
        def.name = c.name;
        const detail::DeclaredType declared = detail::parseDeclaredType(c.declared);
        def.type = declared.type;
        def.definedSize = declared.size;
        def.nullable = !c.notNull && c.primaryKeyOrder == 0;
        def.autoIncrement = keyColumns == 1 && c.primaryKeyOrder == 1 && createSql.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
        def.defaultValue = defaultFromSql(c.defaultSql);
        result.append(def);
    }
    return result;
}

QStringList Catalog::indexes(const QString &table) const
{
    sqlite3 *db = connection()->handle();
    QStringList result;
    for (const TableColumn &c : tableColumns(db, table))
        if (c.primaryKeyOrder > 0) {
            result.append(kPrimaryKey);
            break;
        }
    detail::Statement stmt(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL ORDER BY name"));
    stmt.bind(1, table);
    const QString prefix = table + QLatin1Char('#');
    while (stmt.step()) {
        const QString name = stmt.column(0).toString();
        result.append(name.startsWith(prefix) ? name.mid(prefix.size()) : name);
    }
    return result;
}

void Catalog::setIndexStatistics(const QString &table, const QString &index, const QString &stat)
{
    sqlite3 *db = connection()->handle();
    QString stored = storedIndexName(table, index);
    if (index == kPrimaryKey) {
        stored.clear();
        detail::Statement list(db, QStringLiteral("PRAGMA index_list(%1)").arg(quoteIdentifier(table)));
        while (stored.isEmpty() && list.step()) {
            if (list.column(3).toString() == QLatin1String("pk"))
                stored = list.column(1).toString();
        }
        if (stored.isEmpty())
            throw Error(err::NotSupported, QStringLiteral("テーブル '%1' の主キーには統計を付けられません。").arg(table));
    }
    Savepoint savepoint(db);
    // ANALYZE of the schema table alone creates SQLite's statistics table and,
    // run again, makes the connection read the row written.
    exec(db, QStringLiteral("ANALYZE sqlite_master;"));
    detail::Statement earlier(db, QStringLiteral("DELETE FROM sqlite_stat1 WHERE tbl = ? AND idx = ?"));
    earlier.bindAll({table, stored});
    earlier.step();
    detail::Statement write(db, QStringLiteral("INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES (?, ?, ?)"));
    write.bindAll({table, stored, stat});
    write.step();
    exec(db, QStringLiteral("ANALYZE sqlite_master;"));
    savepoint.commit();
}

void Catalog::refresh()
{
    // Every read goes to the database itself; there is nothing cached to renew.
}

} // namespace jet
