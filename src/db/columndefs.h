#pragma once

// Short ways to declare the columns and keys of the program's tables.

#include "db/engine/catalog.h"

namespace db::columns {

inline jet::ColumnDef column(const QString &name, jet::DataType type, int size = 0,
                             const QVariant &defaultValue = {})
{
    jet::ColumnDef def;
    def.name = name;
    def.type = type;
    def.definedSize = size;
    def.defaultValue = defaultValue;
    return def;
}

inline jet::ColumnDef autoNumber(const QString &name)
{
    jet::ColumnDef def = column(name, jet::DataType::Long);
    def.nullable = false;
    def.autoIncrement = true;
    return def;
}

// A Long that every row must have: a key of its own or of another table.
inline jet::ColumnDef key(const QString &name)
{
    jet::ColumnDef def = column(name, jet::DataType::Long);
    def.nullable = false;
    return def;
}

inline jet::IndexDef primaryKey(const QString &columnName)
{
    return jet::IndexDef{QStringLiteral("PrimaryKey"), {columnName}, true, false};
}

} // namespace db::columns
