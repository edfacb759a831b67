#include "db/engine/jetsql_emit.h"

#include <QHash>
#include <QSet>
#include <cmath>
#include <utility>

namespace jet::sql {

using tree::Expr;
using ExprKind = tree::Expr::Kind;

namespace {

const QHash<QString, FunctionDef> &functions()
{
    using K = FunctionKind;
    static const QHash<QString, FunctionDef> table = {
        {QStringLiteral("DATEDIFF"), {"datediff", 3, 3, K::Plain, false, true, true}},
        {QStringLiteral("DATEADD"), {"dateadd", 3, 3}},
        {QStringLiteral("NOW"), {"now", 0, 0}},
        {QStringLiteral("DATE"), {"date", 0, 0}},
        {QStringLiteral("YEAR"), {"year", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("MONTH"), {"month", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("DAY"), {"day", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("HOUR"), {"hour", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("MINUTE"), {"minute", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("SECOND"), {"second", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("IIF"), {"", 3, 3, K::IIf}},
        {QStringLiteral("NZ"), {"", 1, 2, K::Nz}},
        {QStringLiteral("MID"), {"mid", 2, 3, K::Plain, true}},
        {QStringLiteral("LEFT"), {"left", 2, 2, K::Plain, true}},
        {QStringLiteral("RIGHT"), {"right", 2, 2, K::Plain, true}},
        {QStringLiteral("LEN"), {"len", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("TRIM"), {"trim", 1, 1, K::Plain, true}},
        {QStringLiteral("LTRIM"), {"ltrim", 1, 1, K::Plain, true}},
        {QStringLiteral("RTRIM"), {"rtrim", 1, 1, K::Plain, true}},
        {QStringLiteral("UCASE"), {"ucase", 1, 1, K::Plain, true}},
        {QStringLiteral("LCASE"), {"lcase", 1, 1, K::Plain, true}},
        {QStringLiteral("ROUND"), {"round", 1, 2}},
        {QStringLiteral("INT"), {"int", 1, 1}},
        {QStringLiteral("FIX"), {"fix", 1, 1}},
        {QStringLiteral("ABS"), {"abs", 1, 1, K::Plain, false, false}},
        {QStringLiteral("VAL"), {"val", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("CSTR"), {"cstr", 1, 1}},
        {QStringLiteral("CLNG"), {"clng", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("CINT"), {"clng", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("CDBL"), {"cdbl", 1, 1, K::Plain, false, true, true}},
        {QStringLiteral("CDATE"), {"cdate", 1, 1}},
        {QStringLiteral("COUNT"), {"COUNT", 1, 1, K::Aggregate, false, false, true}},
        {QStringLiteral("SUM"), {"SUM", 1, 1, K::Aggregate, false, false}},
        {QStringLiteral("AVG"), {"AVG", 1, 1, K::Aggregate, false, false}},
        {QStringLiteral("MIN"), {"MIN", 1, 1, K::Aggregate, false, false}},
        {QStringLiteral("MAX"), {"MAX", 1, 1, K::Aggregate, false, false}},
    };
    return table;
}

// --- facts about a tree ----------------------------------------------------

int parametersIn(const tree::Select &select);

int parametersIn(const Expr &e)
{
    int n = e.kind == ExprKind::Parameter ? 1 : 0;
    for (const Expr &arg : e.args)
        n += parametersIn(arg);
    if (e.select)
        n += parametersIn(*e.select);
    return n;
}

int parametersIn(const tree::Source &source)
{
    int n = source.select ? parametersIn(*source.select) : 0;
    for (const tree::Source &side : source.sides)
        n += parametersIn(side);
    if (source.on)
        n += parametersIn(*source.on);
    return n;
}

int parametersIn(const std::vector<Expr> &list)
{
    int n = 0;
    for (const Expr &e : list)
        n += parametersIn(e);
    return n;
}

int parametersIn(const tree::Select &select)
{
    int n = 0;
    for (const tree::Item &item : select.items)
        n += item.expr ? parametersIn(*item.expr) : 0;
    for (const tree::Source &source : select.from)
        n += parametersIn(source);
    n += select.where ? parametersIn(*select.where) : 0;
    n += parametersIn(select.groupBy);
    n += select.having ? parametersIn(*select.having) : 0;
    for (const tree::OrderItem &term : select.order)
        n += parametersIn(term.expr);
    return n;
}

// An aggregate of this query's own rows: one inside a subquery counts there.
bool hasAggregate(const Expr &e)
{
    if (e.kind == ExprKind::CountAll)
        return true;
    if (e.kind == ExprKind::Call && findFunction(e.text)->kind == FunctionKind::Aggregate)
        return true;
    for (const Expr &arg : e.args) {
        if (hasAggregate(arg))
            return true;
    }
    return false;
}

// SQL that yields a truth value rather than a Jet value.
bool isTruth(const Expr &e)
{
    switch (e.kind) {
    case ExprKind::Not:
    case ExprKind::Compare:
    case ExprKind::Logical:
    case ExprKind::Like:
    case ExprKind::Between:
    case ExprKind::In:
    case ExprKind::IsNull:
    case ExprKind::Exists:
        return true;
    default:
        return false;
    }
}

// Whether the value is a number whatever the operands' types: a date or a
// text never comes out of it.
bool isNumber(const Expr &e)
{
    if (isTruth(e))
        return true;
    switch (e.kind) {
    case ExprKind::Number:
    case ExprKind::Boolean:
    case ExprKind::CountAll:
        return true;
    case ExprKind::Negate:
        return isNumber(e.args[0]);
    case ExprKind::Arithmetic:
        if (e.text == QLatin1String("+") || e.text == QLatin1String("-"))
            return isNumber(e.args[0]) && isNumber(e.args[1]);
        return e.text != QLatin1String("&");
    case ExprKind::Call:
        return findFunction(e.text)->number;
    default:
        return false;
    }
}

bool isPlainColumn(const Expr &e)
{
    return e.kind == ExprKind::Column && !e.parenthesized;
}

// A number literal without a fraction: a count of days the server adds to a date.
bool isWholeNumber(const Expr &e)
{
    bool whole = false;
    e.text.toLongLong(&whole);
    return e.kind == ExprKind::Number && whole;
}

// No column in it: a literal, or Now() and Date().
bool isConstant(const Expr &e)
{
    return e.kind == ExprKind::Number || e.kind == ExprKind::Date
        || (e.kind == ExprKind::Call && (e.text == QLatin1String("NOW") || e.text == QLatin1String("DATE")));
}

// DateDiff('d', column, constant) or DateDiff('d', constant, column): Null
// exactly when the column is, and on a file also a range on the column.
struct DayDiff
{
    const Expr *column = nullptr;
    const Expr *other = nullptr;
    bool columnFirst = false;
};

std::optional<DayDiff> dayDiff(const Expr &e)
{
    if (e.kind != ExprKind::Call || e.text != QLatin1String("DATEDIFF") || e.args.size() != 3)
        return std::nullopt;
    const Expr &interval = e.args[0];
    if (interval.kind != ExprKind::Text || interval.text.compare(QLatin1String("d"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    if (isPlainColumn(e.args[1]) && isConstant(e.args[2]))
        return DayDiff{&e.args[1], &e.args[2], true};
    if (isPlainColumn(e.args[2]) && isConstant(e.args[1]))
        return DayDiff{&e.args[2], &e.args[1], false};
    return std::nullopt;
}

// How the column's day relates to the other operand's day plus or minus n
// when DateDiff(...) op n: DateDiff counts day(second) - day(first), so with
// the column first the comparison turns around.
QString dayRelation(const DayDiff &diff, const QString &op)
{
    if (!diff.columnFirst)
        return op;
    if (op == QLatin1String(">="))
        return QStringLiteral("<=");
    if (op == QLatin1String(">"))
        return QStringLiteral("<");
    if (op == QLatin1String("<="))
        return QStringLiteral(">=");
    if (op == QLatin1String("<"))
        return QStringLiteral(">");
    return op;
}

// ---------------------------------------------------------------------------
// What both dialects write alike; each dialect's emitter supplies the rest.

class Emitter
{
public:
    virtual ~Emitter() = default;

    Statement statement(const tree::Statement &statement);

    // The expression as a Jet value: a truth becomes -1/0.
    QString value(const Expr &e)
    {
        const QString sql = expression(e);
        return isTruth(e) ? truthAsValue(sql) : sql;
    }
    // The expression as a truth: a value is true when not 0.
    QString condition(const Expr &e)
    {
        const QString sql = expression(e);
        return isTruth(e) ? sql : valueAsTruth(sql);
    }

protected:
    virtual Dialect dialect() const = 0;
    virtual QString truthAsValue(const QString &truth) const = 0;
    virtual QString valueAsTruth(const QString &value) const = 0;
    virtual QString date(const Expr &e) const = 0;
    virtual QString parameter(const Expr &e) const = 0;
    virtual QString jetFunction(const char *name) const = 0;
    // + and - of operands that are not texts.
    virtual QString additive(const Expr &e, const QString &left, const QString &right) const = 0;
    virtual QString divide(const QString &left, const QString &right) const = 0;
    virtual QString compare(const Expr &e, const QString &plain) { Q_UNUSED(e) return plain; }
    // "begins on or before the day, and ends on or after it (ends relation
    // day ± days) or is empty" as one expression of both columns, which the
    // two clauses imply; empty where the dialect writes none.
    virtual QString spanHolds(const Expr &begins, const DayDiff &ends, const QString &relation, const QString &days)
    {
        Q_UNUSED(begins) Q_UNUSED(ends) Q_UNUSED(relation) Q_UNUSED(days) return {};
    }
    // A filter's Like that may also be written as a range (e.text is the prefix).
    virtual QString prefixRange(const QString &field, const QString &low, const QString &high) const = 0;
    // The range of a caseless prefix selects exactly the rows its Like does.
    virtual QString prefixLike(const QString &range, const QString &like) const
    {
        return QStringLiteral("(%1 AND %2)").arg(range, like);
    }
    virtual QString rightJoin(const tree::Source &join, const QString &left, const QString &right,
                              const QString &on) const = 0;
    virtual void checkSubquerySource(const tree::Source &source) const { Q_UNUSED(source) }
    // SQLite reads a parenthesised join as a subquery, which hides the row keys
    // of its tables; a nest of inner joins is the same as one flat chain,
    // which SQLite takes with the conditions at its end.
    virtual bool flattensInnerJoins() const { return false; }
    // Whether two output columns of one name must be told apart (a view on
    // the server refuses them; SQLite numbers the second itself).
    virtual bool renamesDuplicates() const { return false; }
    // The branches of IIf and Nz as one value.  A file holds a text in one row
    // and a number or date in the next; a server's column has one type.
    virtual QStringList branches(const Expr &first, const Expr &second) { return {value(first), value(second)}; }

    // A column's whole new value in an INSERT or UPDATE.
    virtual QString assignedValue(const QString &table, const QString &column, const Expr &e)
    {
        Q_UNUSED(table) Q_UNUSED(column) return value(e);
    }
    // Whether an ORDER BY term is a Yes/No column that this back end sorts No
    // first, the reverse of Jet.
    virtual bool sortsYesNoReversed(const tree::Select &sel, const Expr &term) const
    {
        Q_UNUSED(sel) Q_UNUSED(term) return false;
    }

    QString identifier(const QString &name) const { return quoteIdentifier(name, dialect()); }
    QString string(const QString &text) const { return quoteString(text, dialect()); }
    QString call(const QString &name, const QStringList &args) const
    {
        return name + QLatin1Char('(') + args.join(QStringLiteral(", ")) + QLatin1Char(')');
    }

private:
    struct JoinParts
    {
        QStringList tables;
        QStringList conditions;
        bool innerOnly = true;
    };

    QString expression(const Expr &e);
    QString conjunction(const Expr &e);
    QString span(const Expr &begins, const Expr &ends);
    QString functionCall(const Expr &e);
    QString arithmetic(const Expr &e);
    QString select(const tree::Select &select, SelectShape &shape);
    QString source(const tree::Source &source, SelectShape &shape, JoinParts &parts);
    QString fromList(const std::vector<tree::Source> &from, SelectShape &shape);
    QString values(const std::vector<Expr> &list)
    {
        QStringList out;
        for (const Expr &e : list)
            out.append(value(e));
        return out.join(QStringLiteral(", "));
    }
    QString subquery(const tree::Select &inner)
    {
        SelectShape shape;
        return select(inner, shape);
    }

    SelectShape *m_shape = nullptr;     // of the SELECT being written
    QSet<const Expr *> m_chained;       // ANDs inside a chain already searched for spans
};

QString Emitter::expression(const Expr &e)
{
    switch (e.kind) {
    case ExprKind::Number:
        return e.text;
    case ExprKind::Text:
        return string(e.text);
    case ExprKind::Date:
        return date(e);
    case ExprKind::Boolean:
        return e.truth ? QStringLiteral("(-1)") : QStringLiteral("0");
    case ExprKind::Null:
        return QStringLiteral("NULL");
    case ExprKind::Parameter:
        return parameter(e);
    case ExprKind::Column:
        return e.qualifier.isEmpty() ? identifier(e.text)
                                     : identifier(e.qualifier) + QLatin1Char('.') + identifier(e.text);
    case ExprKind::Field:
        return e.text;
    case ExprKind::Negate:
        return QStringLiteral("(-%1)").arg(value(e.args[0]));
    case ExprKind::Not:
        return QStringLiteral("(NOT %1)").arg(condition(e.args[0]));
    case ExprKind::Logical:
        if (e.text == QLatin1String("AND"))
            return conjunction(e);
        return QStringLiteral("(%1 %2 %3)").arg(condition(e.args[0]), e.text, condition(e.args[1]));
    case ExprKind::Compare:
        return compare(e, QStringLiteral("(%1 %2 %3)").arg(value(e.args[0]), e.text, value(e.args[1])));
    case ExprKind::Like: {
        const QString field = value(e.args[0]);
        const QString like = QStringLiteral("(%1%2)").arg(e.negated ? QStringLiteral("NOT ") : QString(),
                                                          call(jetFunction("like"), {field, value(e.args[1])}));
        if (e.text.isEmpty())
            return like;
        QString high = e.text;
        high.back() = QChar(char16_t(high.back().unicode() + 1));
        return prefixLike(prefixRange(field, string(e.text), string(high)), like);
    }
    case ExprKind::Between:
        return QStringLiteral("(%1 %2BETWEEN %3 AND %4)")
            .arg(value(e.args[0]), e.negated ? QStringLiteral("NOT ") : QString(), value(e.args[1]),
                 value(e.args[2]));
    case ExprKind::In: {
        const QString list = e.select ? subquery(*e.select)
                                      : values(std::vector<Expr>(e.args.begin() + 1, e.args.end()));
        return QStringLiteral("(%1 %2IN (%3))").arg(value(e.args[0]), e.negated ? QStringLiteral("NOT ") : QString(), list);
    }
    case ExprKind::IsNull: {
        const std::optional<DayDiff> diff = dayDiff(e.args[0]);
        const QString tested = diff ? value(*diff->column) : value(e.args[0]);
        return QStringLiteral("(%1 IS %2NULL)").arg(tested, e.negated ? QStringLiteral("NOT ") : QString());
    }
    case ExprKind::Exists:
        return QStringLiteral("(EXISTS (%1))").arg(subquery(*e.select));
    case ExprKind::Subquery:
        return QLatin1Char('(') + subquery(*e.select) + QLatin1Char(')');
    case ExprKind::Call:
        return functionCall(e);
    case ExprKind::CountAll:
        return QStringLiteral("COUNT(*)");
    case ExprKind::Arithmetic:
        return arithmetic(e);
    }
    Q_UNREACHABLE();
}

// A chain of ANDs, searched once as a whole for the clauses of a span: the
// two may stand anywhere in it.
QString Emitter::conjunction(const Expr &e)
{
    if (m_chained.contains(&e))
        return QStringLiteral("(%1 AND %2)").arg(condition(e.args[0]), condition(e.args[1]));
    std::vector<const Expr *> terms;
    std::vector<const Expr *> open{&e};
    while (!open.empty()) {
        const Expr *node = open.back();
        open.pop_back();
        if (node->kind == ExprKind::Logical && node->text == QLatin1String("AND")) {
            m_chained.insert(node);
            open.push_back(&node->args[1]);
            open.push_back(&node->args[0]);
        } else {
            terms.push_back(node);
        }
    }
    QString sql = QStringLiteral("(%1 AND %2)").arg(condition(e.args[0]), condition(e.args[1]));
    for (const Expr *begins : terms)
        for (const Expr *ends : terms)
            if (begins != ends) {
                const QString holds = span(*begins, *ends);
                if (!holds.isEmpty())
                    sql = QStringLiteral("(%1 AND %2)").arg(sql, holds);
            }
    return sql;
}

// begins: DateDiff('d', A, day) >= n, A on or before the day; ends:
// DateDiff('d', B, day) <= m Or DateDiff('d', B, day) Is Null (either
// order, or B Is Null), A and B columns of one table.
QString Emitter::span(const Expr &begins, const Expr &ends)
{
    if (begins.kind != ExprKind::Compare || !isWholeNumber(begins.args[1]))
        return {};
    const std::optional<DayDiff> first = dayDiff(begins.args[0]);
    if (!first)
        return {};
    const QString firstRelation = dayRelation(*first, begins.text);
    if (firstRelation != QLatin1String("<=") && firstRelation != QLatin1String("<"))
        return {};
    if (ends.kind != ExprKind::Logical || ends.text != QLatin1String("OR"))
        return {};
    for (int side = 0; side < 2; ++side) {
        const Expr &bound = ends.args[side];
        const Expr &empty = ends.args[1 - side];
        if (bound.kind != ExprKind::Compare || !isWholeNumber(bound.args[1]) || empty.kind != ExprKind::IsNull || empty.negated)
            continue;
        const std::optional<DayDiff> last = dayDiff(bound.args[0]);
        if (!last || last->other->kind == ExprKind::Number)
            continue;
        const std::optional<DayDiff> tested = dayDiff(empty.args[0]);
        const Expr &emptyColumn = tested ? *tested->column : empty.args[0];
        const Expr &a = *first->column;
        const Expr &b = *last->column;
        const auto same = [](const QString &x, const QString &y) { return x.compare(y, Qt::CaseInsensitive) == 0; };
        if (!isPlainColumn(emptyColumn) || !same(emptyColumn.text, b.text) || !same(emptyColumn.qualifier, b.qualifier)
            || !same(a.qualifier, b.qualifier) || same(a.text, b.text))
            continue;
        const QString relation = dayRelation(*last, bound.text);
        if (relation != QLatin1String(">=") && relation != QLatin1String(">"))
            continue;
        const QString holds = spanHolds(a, *last, relation, bound.args[1].text);
        if (holds.isEmpty())
            return {};
        // The table, for the server's index on the span: the source the
        // qualifier names, or the one table of an unqualified FROM.
        if (m_shape) {
            QString table;
            for (const TableRef &ref : std::as_const(m_shape->tables))
                if (a.qualifier.isEmpty() ? m_shape->tables.size() == 1 : same(ref.alias, a.qualifier))
                    table = ref.table;
            const DateSpan found{table, a.text, b.text};
            if (!table.isEmpty() && !m_shape->spans.contains(found))
                m_shape->spans.append(found);
        }
        return holds;
    }
    return {};
}

QString Emitter::functionCall(const Expr &e)
{
    const FunctionDef &def = *findFunction(e.text);
    switch (def.kind) {
    case FunctionKind::IIf:
        // A Null condition takes the false branch, as CASE does.
    {
        const QStringList values = branches(e.args[1], e.args[2]);
        return QStringLiteral("(CASE WHEN %1 THEN %2 ELSE %3 END)").arg(condition(e.args[0]), values[0], values[1]);
    }
    case FunctionKind::Nz: {
        // Without a value for Null, Jet gives an empty text.
        const Expr empty{.kind = ExprKind::Text};
        return call(QStringLiteral("COALESCE"), branches(e.args[0], e.args.size() > 1 ? e.args[1] : empty));
    }
    case FunctionKind::Aggregate:
    case FunctionKind::Plain:
        break;
    }
    QStringList args;
    for (const Expr &arg : e.args)
        args.append(value(arg));
    return call(def.jetFunction ? jetFunction(def.name) : QString::fromLatin1(def.name), args);
}

QString Emitter::arithmetic(const Expr &e)
{
    const QString left = value(e.args[0]);
    const QString right = value(e.args[1]);
    const QString &op = e.text;
    if (op == QLatin1String("&"))
        return call(jetFunction("concat"), {left, right});
    if (op == QLatin1String("+") || op == QLatin1String("-")) {
        // Jet's + joins two texts; only a literal tells us here that an operand is text.
        if (op == QLatin1String("+") && (e.args[0].kind == ExprKind::Text || e.args[1].kind == ExprKind::Text))
            return QStringLiteral("(%1 || %2)").arg(left, right);
        return additive(e, left, right);
    }
    if (op == QLatin1String("*"))
        return QStringLiteral("(%1 * %2)").arg(left, right);
    // Jet divides in floating point even when both operands are whole numbers.
    if (op == QLatin1String("/"))
        return divide(left, right);
    if (op == QLatin1String("\\"))
        return call(jetFunction("idiv"), {left, right});
    if (op == QLatin1String("MOD"))
        return call(jetFunction("mod"), {left, right});
    return call(jetFunction("pow"), {left, right});
}

QString Emitter::source(const tree::Source &src, SelectShape &shape, JoinParts &parts)
{
    switch (src.kind) {
    case tree::Source::Kind::Table: {
        TableRef ref;
        ref.table = src.table;
        ref.alias = src.alias.isEmpty() ? src.table : src.alias;
        QString text = identifier(src.table);
        if (!src.alias.isEmpty())
            text += QStringLiteral(" AS ") + identifier(src.alias);
        shape.tables.append(ref);
        parts.tables.append(text);
        return text;
    }
    case tree::Source::Kind::Subquery: {
        checkSubquerySource(src);
        shape.simpleFrom = false;
        parts.innerOnly = false;
        QString text = QLatin1Char('(') + subquery(*src.select) + QLatin1Char(')');
        if (!src.alias.isEmpty())
            text += QStringLiteral(" AS ") + identifier(src.alias);
        return text;
    }
    case tree::Source::Kind::Join:
        break;
    }
    const QString left = source(src.sides[0], shape, parts);
    const QString right = source(src.sides[1], shape, parts);
    const QString on = condition(*src.on);
    parts.conditions.append(on);
    QString text;
    switch (src.join) {
    case tree::Source::Join::Inner:
        text = QStringLiteral("%1 INNER JOIN %2 ON %3").arg(left, right, on);
        break;
    case tree::Source::Join::Left:
        parts.innerOnly = false;
        text = QStringLiteral("%1 LEFT JOIN %2 ON %3").arg(left, right, on);
        break;
    case tree::Source::Join::Right:
        parts.innerOnly = false;
        text = rightJoin(src, left, right, on);
        break;
    }
    return src.parenthesized ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

QString Emitter::fromList(const std::vector<tree::Source> &from, SelectShape &shape)
{
    QStringList sources;
    for (const tree::Source &src : from) {
        JoinParts parts;
        QString item = source(src, shape, parts);
        if (flattensInnerJoins() && parts.innerOnly && parts.tables.size() > 1 && parametersIn(src) == 0) {
            QStringList conditions;
            for (const QString &c : std::as_const(parts.conditions))
                conditions.append(QLatin1Char('(') + c + QLatin1Char(')'));
            item = parts.tables.join(QStringLiteral(" INNER JOIN ")) + QStringLiteral(" ON ")
                + conditions.join(QStringLiteral(" AND "));
        }
        sources.append(item);
    }
    return sources.join(QStringLiteral(", "));
}

QString Emitter::select(const tree::Select &sel, SelectShape &shape)
{
    SelectShape *const outer = std::exchange(m_shape, &shape);
    shape.distinct = sel.distinct;
    shape.top = sel.top.value_or(0);
    shape.intoConnect = sel.intoConnect;
    shape.intoName = sel.intoName;
    for (const tree::Item &in : sel.items) {
        SelectItem item;
        item.alias = in.alias;
        item.star = in.star;
        item.starQualifier = in.starQualifier;
        if (in.star) {
            item.sql = in.starQualifier.isEmpty() ? QStringLiteral("*")
                                                  : identifier(in.starQualifier) + QStringLiteral(".*");
        } else {
            item.sql = value(*in.expr);
            if (isPlainColumn(*in.expr)) {
                item.columnQualifier = in.expr->qualifier;
                item.columnName = in.expr->text;
            }
            item.parameters = parametersIn(*in.expr);
            shape.aggregate = shape.aggregate || hasAggregate(*in.expr);
        }
        shape.items.append(item);
    }
    shape.from = fromList(sel.from, shape);
    for (const tree::Source &src : sel.from)
        shape.fromParameters += parametersIn(src);
    if (sel.where) {
        shape.where = condition(*sel.where);
        shape.whereParameters = parametersIn(*sel.where);
    }
    shape.groupBy = values(sel.groupBy);
    shape.restParameters = parametersIn(sel.groupBy);
    if (sel.having) {
        shape.having = condition(*sel.having);
        shape.restParameters += parametersIn(*sel.having);
    }
    QStringList order;
    for (const tree::OrderItem &term : sel.order) {
        OrderTerm out;
        out.sql = value(term.expr);
        out.descending = term.descending != sortsYesNoReversed(sel, term.expr);
        shape.order.append(out);
        order.append(out.descending ? out.sql + QStringLiteral(" DESC") : out.sql);
        shape.restParameters += parametersIn(term.expr);
    }
    shape.orderBy = order.join(QStringLiteral(", "));
    shape.aggregate = shape.aggregate || !sel.groupBy.empty() || sel.having.has_value();
    m_shape = outer;

    // Jet names an unnamed computed column Expr1000, Expr1001, ...
    QStringList items;
    int unnamed = 1000;
    QSet<QString> names;
    for (const SelectItem &item : std::as_const(shape.items)) {
        if (!item.alias.isEmpty()) {
            items.append(item.sql + QStringLiteral(" AS ") + identifier(item.alias));
            names.insert(item.alias.toLower());
        } else if (item.star) {
            items.append(item.sql);
        } else if (!item.columnName.isEmpty()) {
            // A second column of the same name is known by its table, as Jet names it.
            const bool taken = names.contains(item.columnName.toLower());
            if (taken && !item.columnQualifier.isEmpty() && renamesDuplicates())
                items.append(item.sql + QStringLiteral(" AS ")
                             + identifier(item.columnQualifier + QLatin1Char('.') + item.columnName));
            else
                items.append(item.sql);
            names.insert(item.columnName.toLower());
        } else {
            items.append(item.sql + QStringLiteral(" AS ") + identifier(QStringLiteral("Expr%1").arg(unnamed++)));
        }
    }
    QString text = QStringLiteral("SELECT ");
    if (shape.distinct)
        text += QStringLiteral("DISTINCT ");
    text += items.join(QStringLiteral(", "));
    if (!shape.from.isEmpty())
        text += QStringLiteral(" FROM ") + shape.from;
    if (!shape.where.isEmpty())
        text += QStringLiteral(" WHERE ") + shape.where;
    return text + shape.tail();
}

Statement Emitter::statement(const tree::Statement &st)
{
    Statement result;
    result.parameters = st.parameters;
    switch (st.kind) {
    case tree::Statement::Kind::Select:
        result.text = select(*st.select, result.select);
        result.kind = st.select->intoName.isEmpty() ? Statement::Kind::Select : Statement::Kind::SelectInto;
        return result;
    case tree::Statement::Kind::Insert: {
        result.text = QStringLiteral("INSERT INTO ") + identifier(st.table);
        if (!st.columns.empty()) {
            QStringList columns;
            for (const QString &column : st.columns)
                columns.append(identifier(column));
            result.text += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) + QLatin1Char(')');
        } else {
            result.table = st.table;
        }
        if (st.select) {
            result.text += QLatin1Char(' ');
            result.selectAt = result.text.size();
            result.text += select(*st.select, result.select);
        } else {
            QStringList values;
            for (size_t i = 0; i < st.values.size(); ++i)
                values.append(i < st.columns.size() ? assignedValue(st.table, st.columns[i], st.values[i]) : value(st.values[i]));
            result.text += QStringLiteral(" VALUES (") + values.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
        result.target = st.table;
        result.write = WriteIntent{WriteIntent::Kind::Insert, st.table};
        for (size_t i = 0; i < st.columns.size() && i < st.values.size() && !st.select; ++i)
            if (st.values[i].kind == tree::Expr::Kind::Parameter)
                result.assigned.emplace_back(st.values[i].parameter, st.columns[i]);
        return result;
    }
    case tree::Statement::Kind::Update: {
        QStringList assignments;
        for (size_t i = 0; i < st.columns.size(); ++i)
            assignments.append(identifier(st.columns[i]) + QStringLiteral(" = ")
                               + assignedValue(st.table, st.columns[i], st.values[i]));
        result.text = QStringLiteral("UPDATE %1 SET %2").arg(identifier(st.table), assignments.join(QStringLiteral(", ")));
        result.target = st.table;
        result.write = WriteIntent{WriteIntent::Kind::Update, st.table};
        for (size_t i = 0; i < st.columns.size(); ++i)
            if (st.values[i].kind == tree::Expr::Kind::Parameter)
                result.assigned.emplace_back(st.values[i].parameter, st.columns[i]);
        if (st.where)
            result.text += QStringLiteral(" WHERE ") + condition(*st.where);
        return result;
    }
    case tree::Statement::Kind::Delete:
        result.text = QStringLiteral("DELETE FROM ") + identifier(st.table);
        result.write = WriteIntent{WriteIntent::Kind::Delete, st.table};
        if (st.where)
            result.text += QStringLiteral(" WHERE ") + condition(*st.where);
        return result;
    case tree::Statement::Kind::AlterColumnDefault:
        result.kind = Statement::Kind::AlterColumnDefault;
        result.table = st.table;
        result.column = st.column;
        // A default is one literal; True and False stay Jet's -1 and 0.
        result.defaultSql = st.defaultValue->kind == ExprKind::Boolean
            ? (st.defaultValue->truth ? QStringLiteral("-1") : QStringLiteral("0"))
            : expression(*st.defaultValue);
        return result;
    case tree::Statement::Kind::DropIndex:
        result.kind = Statement::Kind::DropIndex;
        result.table = st.table;
        result.index = st.index;
        return result;
    }
    Q_UNREACHABLE();
}

// ---------------------------------------------------------------------------

// SQLite with the engine's functions (jet_mid) registered on the connection;
// dates are day numbers, so arithmetic on them is SQLite's own.
class SqliteEmitter : public Emitter
{
protected:
    Dialect dialect() const override { return Dialect::Sqlite; }
    QString truthAsValue(const QString &truth) const override { return QStringLiteral("(-%1)").arg(truth); }
    QString valueAsTruth(const QString &value) const override { return value; }
    QString date(const Expr &e) const override { return numberLiteral(e.day); }
    QString parameter(const Expr &) const override { return QStringLiteral("?"); }
    QString jetFunction(const char *name) const override { return QStringLiteral("jet_") + QLatin1String(name); }
    QString additive(const Expr &e, const QString &left, const QString &right) const override
    {
        return QStringLiteral("(%1 %2 %3)").arg(left, e.text, right);
    }
    QString divide(const QString &left, const QString &right) const override
    {
        return QStringLiteral("(1.0 * %1 / %2)").arg(left, right);
    }
    QString compare(const Expr &e, const QString &plain) override;
    bool flattensInnerJoins() const override { return true; }
    QString prefixRange(const QString &field, const QString &low, const QString &high) const override
    {
        return QStringLiteral("(%1 >= %2 AND %1 < %3)").arg(field, low, high);
    }
    QString rightJoin(const tree::Source &join, const QString &left, const QString &right,
                      const QString &on) const override
    {
        // SQLite has no RIGHT JOIN; the mirrored LEFT JOIN yields the same rows,
        // but only keeps the order of the ? markers when one side has none.
        if (parametersIn(join.sides[0]) > 0 && parametersIn(join.sides[1]) > 0)
            syntaxError(QStringLiteral("parameters on both sides of a RIGHT JOIN"));
        return QStringLiteral("%1 LEFT JOIN %2 ON %3").arg(right, left, on);
    }
};

// The range on the column that DateDiff('d', …) op n implies.  The day of a
// date is its day number truncated; for "day(column) <= k" the column lies
// below k + 1 and so on.  The range is a necessary condition only: the exact
// comparison stays beside it, and an index on the column serves the range
// (the lists test every episode's dates).
QString SqliteEmitter::compare(const Expr &e, const QString &plain)
{
    const std::optional<DayDiff> diff = dayDiff(e.args[0]);
    if (!diff || e.args[1].kind != ExprKind::Number)
        return plain;
    static const QString afterLastDate = QStringLiteral("2958466"); // the day after 9999-12-31
    const QString relation = dayRelation(*diff, e.text);
    const QString k = QStringLiteral("(CAST(%1 AS INTEGER) %2 %3)")
                          .arg(value(*diff->other), diff->columnFirst ? QStringLiteral("-") : QStringLiteral("+"),
                               e.args[1].text);
    const QString c = value(*diff->column);
    QString range;
    if (relation == QLatin1String("<="))
        range = QStringLiteral("(%1 < %2 + 1)").arg(c, k);
    else if (relation == QLatin1String("<"))
        range = QStringLiteral("(%1 < %2)").arg(c, k);
    // Dates lie mostly in the past, so "on or after" is the narrow side.  The
    // upper bound (after Jet's last date, so never false) tells the planner so.
    else if (relation == QLatin1String(">="))
        range = QStringLiteral("(%1 > %2 - 1 AND %1 < %3)").arg(c, k, afterLastDate);
    else if (relation == QLatin1String(">"))
        range = QStringLiteral("(%1 > %2 AND %1 < %3)").arg(c, k, afterLastDate);
    else if (relation == QLatin1String("="))
        range = QStringLiteral("(%1 > %2 - 1 AND %1 < %2 + 1)").arg(c, k);
    return range.isEmpty() ? plain : QStringLiteral("(%1 AND %2)").arg(range, plain);
}

// PostgreSQL with the ledger's schema jet: Jet's functions, jet.add and
// jet.sub for date arithmetic, and operators that compare a boolean with
// Jet's -1 and 0.  Dates are timestamps.
class PostgresEmitter : public Emitter
{
public:
    explicit PostgresEmitter(YesNoLookup yesNo) : m_yesNo(std::move(yesNo)) {}

protected:
    // A boolean sorts false, true, Null; reversed it sorts as Jet's -1/0 do:
    // Null, Yes, No.
    bool sortsYesNoReversed(const tree::Select &sel, const Expr &term) const override
    {
        return m_yesNo && isPlainColumn(term) && isYesNoIn(sel.from, term);
    }
    // Jet stores -1 or 0 in a Yes/No column, the server's boolean takes a
    // truth.  A ? marker is bound as a boolean already.
    QString assignedValue(const QString &table, const QString &column, const Expr &e) override
    {
        if (e.kind == ExprKind::Parameter || e.kind == ExprKind::Null || !m_yesNo || !m_yesNo(table, column))
            return value(e);
        return condition(e);
    }
    Dialect dialect() const override { return Dialect::Postgres; }
    QString truthAsValue(const QString &truth) const override
    {
        return QStringLiteral("(-(%1)::integer)").arg(truth);
    }
    // Jet takes any value but 0 as true; a Yes/No column compares with 0
    // through the schema's operators.
    QString valueAsTruth(const QString &value) const override { return QStringLiteral("(%1 <> 0)").arg(value); }
    QString date(const Expr &e) const override
    {
        if (!e.moment.isValid())
            syntaxError(QStringLiteral("the day number %1 is no date").arg(e.day));
        const QString format = e.moment.time().msec() == 0 ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                            : QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
        return QStringLiteral("timestamp '%1'").arg(e.moment.toString(format));
    }
    QString parameter(const Expr &e) const override { return QStringLiteral("$%1").arg(e.parameter); }
    QString compare(const Expr &e, const QString &plain) override;
    QString jetFunction(const char *name) const override { return QStringLiteral("jet.") + QLatin1String(name); }
    QString additive(const Expr &e, const QString &left, const QString &right) const override
    {
        if (isNumber(e.args[0]) && isNumber(e.args[1]))
            return QStringLiteral("(%1 %2 %3)").arg(left, e.text, right);
        return call(jetFunction(e.text == QLatin1String("+") ? "add" : "sub"), {left, right});
    }
    // Division by zero gives Null, as on a file, rather than ending the statement.
    QString divide(const QString &left, const QString &right) const override
    {
        return QStringLiteral("(CAST(%1 AS double precision) / NULLIF(%2, 0))").arg(left, right);
    }
    // Code-point order, as the prefix is compared on a file; the database's
    // collation may sort kana of one row together.
    QString prefixRange(const QString &field, const QString &low, const QString &high) const override
    {
        return QStringLiteral("(%1 COLLATE \"C\" >= %2 AND %1 COLLATE \"C\" < %3)").arg(field, low, high);
    }
    // The server would estimate the range and then the Like beside it as if
    // they were independent, a few rows for a reading shared by thousands,
    // and plan a list for those few.
    QString prefixLike(const QString &range, const QString &) const override { return range; }
    QString rightJoin(const tree::Source &, const QString &left, const QString &right,
                      const QString &on) const override
    {
        return QStringLiteral("%1 RIGHT JOIN %2 ON %3").arg(left, right, on);
    }
    bool renamesDuplicates() const override { return true; }
    // Beside a text, a value becomes the text Jet prints for it (Null stays
    // Null), as Jet's own query gives such a column as text.  Beside another
    // value, Yes/No is -1/0, as a number beside it reads it.
    QStringList branches(const Expr &first, const Expr &second) override
    {
        QStringList values = Emitter::branches(first, second);
        const Expr *branch[] = {&first, &second};
        for (int i = 0; i < 2; ++i) {
            const Expr &self = *branch[i];
            const Expr &other = *branch[1 - i];
            // Literals, Null and a ? take the other branch's type as they are.
            if (self.kind == ExprKind::Text || self.kind == ExprKind::Number || self.kind == ExprKind::Null
                || self.kind == ExprKind::Parameter || other.kind == ExprKind::Null || other.kind == ExprKind::Parameter)
                continue;
            values[i] = other.kind == ExprKind::Text ? call(jetFunction("concat"), {values[i], QStringLiteral("NULL::text")})
                                                      : call(jetFunction("value"), {values[i]});
        }
        return values;
    }
    void checkSubquerySource(const tree::Source &source) const override
    {
        if (source.alias.isEmpty())
            syntaxError(QStringLiteral("a subquery in FROM needs a name on the server"));
    }

    // jet.until(A, B) is B, or the end of time while B is empty, once A is
    // set: the span holds the day when it reaches it.  An index on it gives
    // the planner the few rows that do, where it would multiply the shares
    // of "A set" and "B empty" as if the two were unrelated.
    QString spanHolds(const Expr &begins, const DayDiff &ends, const QString &relation, const QString &days) override
    {
        const QString k = day(ends, days);
        return QStringLiteral("(%1 >= %2)")
            .arg(call(jetFunction("until"), {value(begins), value(*ends.column)}),
                 relation == QLatin1String(">") ? k + QStringLiteral(" + 1") : k);
    }

private:
    // The day that DateDiff('d', …) op days sets against the column.
    QString day(const DayDiff &diff, const QString &days)
    {
        return QStringLiteral("(CAST(%1 AS date) %2 %3)")
            .arg(value(*diff.other), diff.columnFirst ? QStringLiteral("-") : QStringLiteral("+"), days);
    }

    bool isYesNoIn(const std::vector<tree::Source> &sources, const Expr &e) const
    {
        for (const tree::Source &src : sources) {
            if (src.kind == tree::Source::Kind::Join && isYesNoIn(src.sides, e))
                return true;
            if (src.kind != tree::Source::Kind::Table)
                continue;
            const QString &name = src.alias.isEmpty() ? src.table : src.alias;
            if ((e.qualifier.isEmpty() || e.qualifier.compare(name, Qt::CaseInsensitive) == 0) && m_yesNo(src.table, e.text))
                return true;
        }
        return false;
    }

    YesNoLookup m_yesNo;
};

// As on a file, DateDiff('d', column, constant) op n is also written as a
// range of the column, which an index serves; here the day is the timestamp's
// date.  A day number as the constant or a fractional n stays as it is.
QString PostgresEmitter::compare(const Expr &e, const QString &plain)
{
    const std::optional<DayDiff> diff = dayDiff(e.args[0]);
    if (!diff || !isWholeNumber(e.args[1]) || diff->other->kind == ExprKind::Number)
        return plain;
    const QString relation = dayRelation(*diff, e.text);
    const QString k = day(*diff, e.args[1].text);
    const QString c = value(*diff->column);
    QString range;
    if (relation == QLatin1String("<="))
        range = QStringLiteral("(%1 < %2 + 1)").arg(c, k);
    else if (relation == QLatin1String("<"))
        range = QStringLiteral("(%1 < %2)").arg(c, k);
    else if (relation == QLatin1String(">="))
        range = QStringLiteral("(%1 >= %2)").arg(c, k);
    else if (relation == QLatin1String(">"))
        range = QStringLiteral("(%1 >= %2 + 1)").arg(c, k);
    else if (relation == QLatin1String("="))
        range = QStringLiteral("(%1 >= %2 AND %1 < %2 + 1)").arg(c, k);
    return range.isEmpty() ? plain : QStringLiteral("(%1 AND %2)").arg(range, plain);
}

std::unique_ptr<Emitter> emitterFor(Dialect dialect, const YesNoLookup &yesNo = {})
{
    if (dialect == Dialect::Postgres)
        return std::make_unique<PostgresEmitter>(yesNo);
    return std::make_unique<SqliteEmitter>();
}

} // namespace

QString SelectShape::tail() const
{
    QString sql;
    if (!groupBy.isEmpty())
        sql += QStringLiteral(" GROUP BY ") + groupBy;
    if (!having.isEmpty())
        sql += QStringLiteral(" HAVING ") + having;
    if (!orderBy.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + orderBy;
    if (top > 0)
        sql += QStringLiteral(" LIMIT ") + QString::number(top);
    return sql;
}

const FunctionDef *findFunction(const QString &name)
{
    const auto found = functions().constFind(name);
    return found == functions().constEnd() ? nullptr : &*found;
}

QString numberLiteral(double value)
{
    QString text;
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        text = QString::number(qint64(value));
    else
        text = QString::number(value, 'g', 17);
    return value < 0 ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

Statement emitStatement(const tree::Statement &statement, Dialect dialect, const YesNoLookup &yesNo)
{
    return emitterFor(dialect, yesNo)->statement(statement);
}

QString emitCondition(const tree::Expr &condition, Dialect dialect)
{
    return emitterFor(dialect)->condition(condition);
}

} // namespace jet::sql
