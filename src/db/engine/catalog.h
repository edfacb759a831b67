#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace jet {

class Connection;

// The engine's column types, as Jet names them.
enum class DataType {
    Long,      // 32-bit integer; with autoIncrement an AutoNumber
    Integer,   // 16-bit integer
    Double,
    YesNo,     // -1 or 0, never Null
    Text,      // variable-length text of at most definedSize characters
    FixedText, // fixed-length text of definedSize characters
    Memo,      // long text; definedSize is kept but not enforced
    Date,
};

struct ColumnDef
{
    QString name;
    DataType type = DataType::Text;
    int definedSize = 0;
    bool nullable = true;
    bool allowZeroLength = true;
    bool autoIncrement = false;
    QVariant defaultValue; // none when null
};

struct IndexDef
{
    QString name;
    QStringList columns;
    bool primaryKey = false;
    bool unique = false;
};

struct TableDef
{
    QString name;
    QList<ColumnDef> columns;
    QList<IndexDef> indexes; // a primary-key index is named "PrimaryKey" by convention
};

// The catalog of a database (in place of ADOX): tables, columns, indexes and
// stored queries.  Stored queries keep their Jet text, which reads back unchanged.
class Catalog
{
public:
    Catalog();
    ~Catalog();

    // Throws Error(err::FileNotFound) when the file named by the string is missing.
    void open(const QString &connectionString);
    void setActiveConnection(Connection *connection);
    void close();

    void createTable(const TableDef &table);
    // Throws Error(err::FieldDefinedTwice) when the table has the column already.
    void appendColumn(const QString &table, const ColumnDef &column);
    void createIndex(const QString &table, const IndexDef &index);
    void dropIndex(const QString &table, const QString &index);
    // `defaultSql` is a literal as the translator writes it (NULL: no default).
    // A file cannot change a default in place: its table is rebuilt in one
    // transaction, keeping every row, row key and AutoNumber counter.
    void setColumnDefaultSql(const QString &table, const QString &column, const QString &defaultSql);

    void appendView(const QString &name, const QString &jetSql);
    void deleteView(const QString &name);
    QString viewText(const QString &name) const;
    QStringList views() const;
    QStringList tables() const;
    QList<ColumnDef> columns(const QString &table) const;
    QStringList indexes(const QString &table) const;
    // Fixed statistics for SQLite's planner (a row of sqlite_stat1): `stat`
    // gives the rows the index's table is taken to hold, then how many rows
    // share a value of each leading part of the index's columns ("1000000 1").
    // They stand until replaced; ANALYZE would replace them with the rows of
    // the moment.  The primary key is the index "PrimaryKey".
    void setIndexStatistics(const QString &table, const QString &index, const QString &stat);
    void refresh();

private:
    Connection *connection() const;

    std::unique_ptr<Connection> m_own;
    Connection *m_connection = nullptr;
};

} // namespace jet
