#pragma once

// The syntax tree of a Jet SQL statement, of an ADO filter or of a find
// criterion.  The parser builds it once; each dialect's emitter writes it as
// that back end's SQL.  Plain values: a tree copies like a QString list.

#include "db/engine/jetsql.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace jet::sql::tree {

struct Select;

// The type a filter's field has in its recordset.
using FieldType = FieldInfo::Type;

struct Expr
{
    enum class Kind {
        Number,    // text: the literal as written
        Text,      // text: the value
        Date,      // moment and day: a #date# literal
        Boolean,   // truth: True or False
        Null,
        Parameter, // parameter: its place among the statement's ? markers, from 1
        Column,    // qualifier (may be empty) and text: the name
        Field,     // text: a filter field as the caller writes it in SQL; fieldType
        Negate,    // args[0]
        Not,       // args[0]
        Arithmetic, // text: + - * / \ ^ Mod &; args[0], args[1]
        Compare,   // text: = <> < > <= >=; args[0], args[1]
        Logical,   // text: AND or OR; args[0], args[1]
        Like,      // args[0] Like args[1]; negated
        Between,   // args[0] Between args[1] And args[2]; negated
        In,        // args[0] In (args[1..]) or In (select); negated
        IsNull,    // args[0] Is [Not] Null; negated
        Exists,    // select
        Subquery,  // select
        Call,      // text: the function's name in upper case, without $; args
        CountAll,  // Count(*)
    };

    Kind kind = Kind::Null;
    QString text;
    QString qualifier;
    QDateTime moment;
    double day = 0;
    bool truth = false;
    bool negated = false;
    bool parenthesized = false; // written inside ( ): no longer a plain column
    int parameter = 0;
    int depth = 1; // of the tree below, subqueries included
    FieldType fieldType = FieldType::Unknown;
    std::vector<Expr> args;
    std::shared_ptr<const Select> select;
};

// One source of FROM: a table or query, a subquery, or two sources joined.
struct Source
{
    enum class Kind { Table, Subquery, Join };
    enum class Join { Inner, Left, Right };

    Kind kind = Kind::Table;
    QString table;
    QString alias;        // empty when the source is not renamed
    std::shared_ptr<const Select> select;
    Join join = Join::Inner;
    std::vector<Source> sides; // Join: the left and the right source
    std::optional<Expr> on;
    bool parenthesized = false;
    int depth = 1;
};

struct Item
{
    bool star = false;
    QString starQualifier; // "患者情報" for 患者情報.*
    std::optional<Expr> expr;
    QString alias;
};

struct OrderItem
{
    Expr expr;
    bool descending = false;
};

struct Select
{
    bool distinct = false;
    std::optional<qint64> top;
    std::vector<Item> items;
    QString intoConnect; // SELECT ... INTO [connect].[name]
    QString intoName;
    std::vector<Source> from;
    std::optional<Expr> where;
    std::vector<Expr> groupBy;
    std::optional<Expr> having;
    std::vector<OrderItem> order;
    int depth = 1;
};

struct Statement
{
    enum class Kind { Select, Insert, Update, Delete, AlterColumnDefault, DropIndex };

    Kind kind = Kind::Select;
    std::shared_ptr<const Select> select; // Select; Insert from a SELECT
    QString table;                        // Insert, Update, Delete, AlterColumnDefault, DropIndex
    std::vector<QString> columns;         // Insert's column list; Update's assigned columns
    std::vector<Expr> values;             // Insert's VALUES; Update's new values
    std::optional<Expr> where;            // Update, Delete
    QString column;                       // AlterColumnDefault
    std::optional<Expr> defaultValue;     // AlterColumnDefault
    QString index;                        // DropIndex
    int parameters = 0;
};

} // namespace jet::sql::tree
