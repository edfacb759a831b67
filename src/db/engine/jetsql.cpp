#include "db/engine/jetsql.h"

#include "db/engine/error.h"
#include "db/engine/jetdate.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace jet::sql {

namespace {

[[noreturn]] void syntaxError(const QString &detail)
{
    throw Error(err::SyntaxError, QStringLiteral("Syntax error in SQL statement: %1").arg(detail));
}

bool isIdentifierChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 0x80)
        return !c.isSpace();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_'
        || u == '$';
}

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Number literals are written as SQLite reads them; day numbers and negative
// values go in parentheses so that "a - -1" can never become "a --1", which
// SQLite would read as the start of a comment.
QString numberLiteral(double value)
{
    QString text;
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        text = QString::number(qint64(value));
    else
        text = QString::number(value, 'g', 17);
    return value < 0 ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

// Both parsers recurse once per level of parentheses, subqueries, function
// calls and prefix operators, and a stored query comes from the database
// file: a damaged one nested a few thousand deep would overrun the stack.
// Jet calls queries too complex long before this depth, and the program's
// own statements nest fewer than ten levels, so only such text meets it.
constexpr int kMaxNesting = 100;

// One level deeper for as long as it lives; past the limit the text is
// refused with the error number of the parser that reads it.
class Nesting
{
public:
    Nesting(int &depth, qint32 errorNumber) : m_depth(depth)
    {
        if (m_depth >= kMaxNesting)
            throw Error(errorNumber, QStringLiteral("式の入れ子が深すぎます。"));
        ++m_depth;
    }
    ~Nesting() { --m_depth; }
    Nesting(const Nesting &) = delete;
    Nesting &operator=(const Nesting &) = delete;

private:
    int &m_depth;
};

double dayNumberOfLiteral(const QString &text)
{
    const std::optional<QDateTime> moment = parseJetDate(text);
    if (!moment)
        throw Error(err::ConversionFailed, QStringLiteral("The date literal #%1# cannot be read").arg(text));
    return toDayNumber(*moment);
}

// ---------------------------------------------------------------------------
// Expressions

struct Expr
{
    QString sql;
    // The expression yields SQLite's truth values 1/0; where Jet would deliver
    // the value itself (a select item, an operand) it has to become -1/0.
    bool boolean = false;
    bool column = false; // a plain column reference
    QString qualifier;
    QString name;
    bool stringLiteral = false;
    bool number = false;   // a number literal
    bool constant = false; // no column in it: a literal or Now()
    // DateDiff('d', column, constant) or DateDiff('d', constant, column): kept so
    // that a comparison with a number can also be written as a range on the
    // column, which an index serves (the lists test every episode's dates).
    bool dayDiff = false;
    bool dayDiffColumnFirst = false;
    QString dayColumn;
    QString dayOther;
};

// The range on the column that DateDiff('d', …) op n implies.  The day of a
// date is its day number truncated; for "day(column) <= k" the column lies
// below k + 1 and so on.  The range is a necessary condition only: the exact
// comparison stays beside it.
const QString kAfterLastDate = QStringLiteral("2958466"); // the day after 9999-12-31

QString dayRange(const Expr &diff, const QString &op, const QString &n)
{
    // DateDiff counts day(second) - day(first); with the column first the
    // comparison turns around.
    QString relation = op;
    if (diff.dayDiffColumnFirst) {
        if (op == QLatin1String(">="))
            relation = QStringLiteral("<=");
        else if (op == QLatin1String(">"))
            relation = QStringLiteral("<");
        else if (op == QLatin1String("<="))
            relation = QStringLiteral(">=");
        else if (op == QLatin1String("<"))
            relation = QStringLiteral(">");
    }
    const QString k = QStringLiteral("(CAST(%1 AS INTEGER) %2 %3)")
                          .arg(diff.dayOther, diff.dayDiffColumnFirst ? QStringLiteral("-") : QStringLiteral("+"), n);
    const QString &c = diff.dayColumn;
    if (relation == QLatin1String("<="))
        return QStringLiteral("(%1 < %2 + 1)").arg(c, k);
    if (relation == QLatin1String("<"))
        return QStringLiteral("(%1 < %2)").arg(c, k);
    // Dates lie mostly in the past, so "on or after" is the narrow side.  The
    // upper bound (after Jet's last date, so never false) tells the planner so.
    if (relation == QLatin1String(">="))
        return QStringLiteral("(%1 > %2 - 1 AND %1 < %3)").arg(c, k, kAfterLastDate);
    if (relation == QLatin1String(">"))
        return QStringLiteral("(%1 > %2 AND %1 < %3)").arg(c, k, kAfterLastDate);
    if (relation == QLatin1String("="))
        return QStringLiteral("(%1 > %2 - 1 AND %1 < %2 + 1)").arg(c, k);
    return QString();
}

QString asValue(const Expr &e)
{
    return e.boolean ? QStringLiteral("(-%1)").arg(e.sql) : e.sql;
}

Expr booleanExpr(const QString &sql)
{
    Expr e;
    e.sql = sql;
    e.boolean = true;
    return e;
}

Expr valueExpr(const QString &sql)
{
    Expr e;
    e.sql = sql;
    return e;
}

const QSet<QString> &reservedWords()
{
    static const QSet<QString> words = {
        QStringLiteral("SELECT"), QStringLiteral("DISTINCT"), QStringLiteral("DISTINCTROW"),
        QStringLiteral("FROM"),   QStringLiteral("WHERE"),    QStringLiteral("GROUP"),
        QStringLiteral("BY"),     QStringLiteral("HAVING"),   QStringLiteral("ORDER"),
        QStringLiteral("ASC"),    QStringLiteral("DESC"),     QStringLiteral("AS"),
        QStringLiteral("AND"),    QStringLiteral("OR"),       QStringLiteral("NOT"),
        QStringLiteral("IS"),     QStringLiteral("NULL"),     QStringLiteral("LIKE"),
        QStringLiteral("BETWEEN"), QStringLiteral("IN"),      QStringLiteral("ON"),
        QStringLiteral("INNER"),  QStringLiteral("LEFT"),     QStringLiteral("RIGHT"),
        QStringLiteral("OUTER"),  QStringLiteral("JOIN"),     QStringLiteral("INTO"),
        QStringLiteral("UNION"),  QStringLiteral("TRUE"),     QStringLiteral("FALSE"),
        QStringLiteral("MOD"),    QStringLiteral("XOR"),      QStringLiteral("EQV"),
        QStringLiteral("IMP"),    QStringLiteral("EXISTS"),   QStringLiteral("VALUES"),
        QStringLiteral("SET"),    QStringLiteral("TOP"),
    };
    return words;
}

bool isReserved(const Token &t)
{
    return t.type == TokenType::Identifier && reservedWords().contains(t.text.toUpper());
}

// How a Jet function becomes SQL.
enum class FunctionKind { Plain, Aggregate, IIf, Nz };

struct FunctionDef
{
    const char *sqlName;
    int minArgs;
    int maxArgs;
    FunctionKind kind = FunctionKind::Plain;
    bool textFunction = false; // also known with a trailing $ (Mid$)
};

const QHash<QString, FunctionDef> &functions()
{
    static const QHash<QString, FunctionDef> table = {
        {QStringLiteral("DATEDIFF"), {"jet_datediff", 3, 3}},
        {QStringLiteral("DATEADD"), {"jet_dateadd", 3, 3}},
        {QStringLiteral("NOW"), {"jet_now", 0, 0}},
        {QStringLiteral("DATE"), {"jet_date", 0, 0}},
        {QStringLiteral("YEAR"), {"jet_year", 1, 1}},
        {QStringLiteral("MONTH"), {"jet_month", 1, 1}},
        {QStringLiteral("DAY"), {"jet_day", 1, 1}},
        {QStringLiteral("HOUR"), {"jet_hour", 1, 1}},
        {QStringLiteral("MINUTE"), {"jet_minute", 1, 1}},
        {QStringLiteral("SECOND"), {"jet_second", 1, 1}},
        {QStringLiteral("IIF"), {"", 3, 3, FunctionKind::IIf}},
        {QStringLiteral("NZ"), {"", 1, 2, FunctionKind::Nz}},
        {QStringLiteral("MID"), {"jet_mid", 2, 3, FunctionKind::Plain, true}},
        {QStringLiteral("LEFT"), {"jet_left", 2, 2, FunctionKind::Plain, true}},
        {QStringLiteral("RIGHT"), {"jet_right", 2, 2, FunctionKind::Plain, true}},
        {QStringLiteral("LEN"), {"jet_len", 1, 1}},
        {QStringLiteral("TRIM"), {"jet_trim", 1, 1, FunctionKind::Plain, true}},
        {QStringLiteral("LTRIM"), {"jet_ltrim", 1, 1, FunctionKind::Plain, true}},
        {QStringLiteral("RTRIM"), {"jet_rtrim", 1, 1, FunctionKind::Plain, true}},
        {QStringLiteral("UCASE"), {"jet_ucase", 1, 1, FunctionKind::Plain, true}},
        {QStringLiteral("LCASE"), {"jet_lcase", 1, 1, FunctionKind::Plain, true}},
        {QStringLiteral("ROUND"), {"jet_round", 1, 2}},
        {QStringLiteral("INT"), {"jet_int", 1, 1}},
        {QStringLiteral("FIX"), {"jet_fix", 1, 1}},
        {QStringLiteral("ABS"), {"abs", 1, 1}},
        {QStringLiteral("VAL"), {"jet_val", 1, 1}},
        {QStringLiteral("CSTR"), {"jet_cstr", 1, 1}},
        {QStringLiteral("CLNG"), {"jet_clng", 1, 1}},
        {QStringLiteral("CINT"), {"jet_clng", 1, 1}},
        {QStringLiteral("CDBL"), {"jet_cdbl", 1, 1}},
        {QStringLiteral("CDATE"), {"jet_cdate", 1, 1}},
        {QStringLiteral("COUNT"), {"COUNT", 1, 1, FunctionKind::Aggregate}},
        {QStringLiteral("SUM"), {"SUM", 1, 1, FunctionKind::Aggregate}},
        {QStringLiteral("AVG"), {"AVG", 1, 1, FunctionKind::Aggregate}},
        {QStringLiteral("MIN"), {"MIN", 1, 1, FunctionKind::Aggregate}},
        {QStringLiteral("MAX"), {"MAX", 1, 1, FunctionKind::Aggregate}},
    };
    return table;
}

// ---------------------------------------------------------------------------
// Statements

class Parser
{
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    Statement statement();

private:
    // Token access.
    const Token *peek(size_t ahead = 0) const
    {
        return m_pos + ahead < m_tokens.size() ? &m_tokens[m_pos + ahead] : nullptr;
    }
    bool atEnd() const { return m_pos >= m_tokens.size(); }
    const Token &take()
    {
        if (atEnd())
            syntaxError(QStringLiteral("unexpected end of statement"));
        return m_tokens[m_pos++];
    }
    bool atKeyword(const char *word, size_t ahead = 0) const
    {
        const Token *t = peek(ahead);
        return t && t->type == TokenType::Identifier
            && t->text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool acceptKeyword(const char *word)
    {
        if (!atKeyword(word))
            return false;
        ++m_pos;
        return true;
    }
    void expectKeyword(const char *word)
    {
        if (!acceptKeyword(word))
            unexpected(QString::fromLatin1(word));
    }
    bool atType(TokenType type, const char *text, size_t ahead = 0) const
    {
        const Token *t = peek(ahead);
        return t && t->type == type && t->text == QLatin1String(text);
    }
    bool acceptPunct(const char *text)
    {
        if (!atType(TokenType::Punct, text))
            return false;
        ++m_pos;
        return true;
    }
    void expectPunct(const char *text)
    {
        if (!acceptPunct(text))
            unexpected(QString::fromLatin1(text));
    }
    bool atOperator(const char *text) const { return atType(TokenType::Operator, text); }
    [[noreturn]] void unexpected(const QString &wanted = {}) const
    {
        const QString found = atEnd() ? QStringLiteral("end of statement")
                                      : QStringLiteral("'%1'").arg(m_tokens[m_pos].text);
        if (wanted.isEmpty())
            syntaxError(QStringLiteral("unexpected %1").arg(found));
        syntaxError(QStringLiteral("%1 expected, found %2").arg(wanted, found));
    }

    bool atName() const
    {
        const Token *t = peek();
        return t && (t->type == TokenType::QuotedIdentifier
                     || (t->type == TokenType::Identifier && !isReserved(*t)));
    }
    QString name()
    {
        if (!atName())
            unexpected(QStringLiteral("name"));
        return take().text;
    }
    Nesting deeper() { return Nesting(m_depth, err::SyntaxError); }

    // Expressions, loosest binding first.
    Expr disjunction();
    Expr conjunction();
    Expr negation();
    Expr comparison();
    Expr concatenation();
    Expr additive();
    Expr modulo();
    Expr integerDivision();
    Expr multiplicative();
    Expr unary();
    Expr power();
    Expr powerOperand();
    Expr primary();
    Expr functionCall(const QString &functionName);
    QString condition() { return disjunction().sql; }
    QString value() { return asValue(disjunction()); }
    QString valueList();

    // SELECT and its clauses.
    QString select(SelectShape &shape, bool nested);
    SelectItem selectItem();
    // The tables and join conditions of one FROM item, to flatten nested inner joins.
    struct JoinParts
    {
        QStringList tables;
        QStringList conditions;
        bool innerOnly = true;
    };
    QString fromList(SelectShape &shape);
    QString joinedSource(SelectShape &shape, JoinParts &parts);
    QString source(SelectShape &shape, JoinParts &parts);
    QList<OrderTerm> orderList();

    Statement selectStatement();
    Statement insertStatement();
    Statement updateStatement();
    Statement deleteStatement();
    Statement alterStatement();
    Statement dropStatement();
    void finish();
    QString defaultLiteral();

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    int m_parameters = 0;
    bool m_aggregate = false;
    int m_depth = 0;
};

void Parser::finish()
{
    acceptPunct(";");
    if (!atEnd())
        unexpected(QStringLiteral("end of statement"));
}

Statement Parser::statement()
{
    Statement result;
    if (atKeyword("SELECT"))
        result = selectStatement();
    else if (atKeyword("INSERT"))
        result = insertStatement();
    else if (atKeyword("UPDATE"))
        result = updateStatement();
    else if (atKeyword("DELETE"))
        result = deleteStatement();
    else if (atKeyword("ALTER"))
        result = alterStatement();
    else if (atKeyword("DROP"))
        result = dropStatement();
    else
        unexpected(QStringLiteral("SELECT, INSERT, UPDATE, DELETE, ALTER or DROP"));
    finish();
    result.parameters = m_parameters;
    return result;
}

// --- expressions -----------------------------------------------------------

Expr Parser::disjunction()
{
    const Nesting level = deeper();
    Expr left = conjunction();
    while (acceptKeyword("OR")) {
        const Expr right = conjunction();
        left = booleanExpr(QStringLiteral("(%1 OR %2)").arg(left.sql, right.sql));
    }
    return left;
}

Expr Parser::conjunction()
{
    Expr left = negation();
    while (acceptKeyword("AND")) {
        const Expr right = negation();
        left = booleanExpr(QStringLiteral("(%1 AND %2)").arg(left.sql, right.sql));
    }
    return left;
}

Expr Parser::negation()
{
    if (acceptKeyword("NOT")) {
        const Nesting level = deeper();
        return booleanExpr(QStringLiteral("(NOT %1)").arg(negation().sql));
    }
    return comparison();
}

Expr Parser::comparison()
{
    Expr left = concatenation();
    for (;;) {
        const Token *t = peek();
        if (!t)
            return left;
        if (t->type == TokenType::Operator
            && (t->text == QLatin1String("=") || t->text == QLatin1String("<>")
                || t->text == QLatin1String("<") || t->text == QLatin1String(">")
                || t->text == QLatin1String("<=") || t->text == QLatin1String(">="))) {
            const QString op = take().text;
            const Expr right = concatenation();
            const QString plain = QStringLiteral("(%1 %2 %3)").arg(asValue(left), op, asValue(right));
            const QString range = left.dayDiff && right.number ? dayRange(left, op, right.sql) : QString();
            left = booleanExpr(range.isEmpty() ? plain : QStringLiteral("(%1 AND %2)").arg(range, plain));
            continue;
        }
        if (atKeyword("IS")) {
            ++m_pos;
            const bool negated = acceptKeyword("NOT");
            expectKeyword("NULL");
            // Now() and a date literal are never Null, so only the column decides.
            const QString tested = left.dayDiff ? left.dayColumn : asValue(left);
            left = booleanExpr(QStringLiteral("(%1 IS %2NULL)")
                                   .arg(tested, negated ? QStringLiteral("NOT ") : QString()));
            continue;
        }
        bool negated = false;
        if (atKeyword("NOT") && (atKeyword("LIKE", 1) || atKeyword("BETWEEN", 1) || atKeyword("IN", 1))) {
            ++m_pos;
            negated = true;
        }
        const QString notText = negated ? QStringLiteral("NOT ") : QString();
        if (acceptKeyword("LIKE")) {
            const Expr pattern = concatenation();
            left = booleanExpr(QStringLiteral("(%1jet_like(%2, %3))")
                                   .arg(notText, asValue(left), asValue(pattern)));
        } else if (acceptKeyword("BETWEEN")) {
            const Expr low = concatenation();
            expectKeyword("AND");
            const Expr high = concatenation();
            left = booleanExpr(QStringLiteral("(%1 %2BETWEEN %3 AND %4)")
                                   .arg(asValue(left), notText, asValue(low), asValue(high)));
        } else if (acceptKeyword("IN")) {
            expectPunct("(");
            QString list;
            if (atKeyword("SELECT")) {
                SelectShape inner;
                list = select(inner, true);
            } else {
                list = valueList();
            }
            expectPunct(")");
            left = booleanExpr(QStringLiteral("(%1 %2IN (%3))").arg(asValue(left), notText, list));
        } else {
            if (negated)
                unexpected();
            return left;
        }
    }
}

QString Parser::valueList()
{
    QStringList values;
    do {
        values.append(value());
    } while (acceptPunct(","));
    return values.join(QStringLiteral(", "));
}

Expr Parser::concatenation()
{
    Expr left = additive();
    while (atOperator("&")) {
        ++m_pos;
        const Expr right = additive();
        left = valueExpr(QStringLiteral("jet_concat(%1, %2)").arg(asValue(left), asValue(right)));
    }
    return left;
}

Expr Parser::additive()
{
    Expr left = modulo();
    while (atOperator("+") || atOperator("-")) {
        const QString op = take().text;
        const Expr right = modulo();
        // Jet's + joins two texts; only a literal tells us here that an operand is text.
        if (op == QLatin1String("+") && (left.stringLiteral || right.stringLiteral))
            left = valueExpr(QStringLiteral("(%1 || %2)").arg(asValue(left), asValue(right)));
        else
            left = valueExpr(QStringLiteral("(%1 %2 %3)").arg(asValue(left), op, asValue(right)));
    }
    return left;
}

Expr Parser::modulo()
{
    Expr left = integerDivision();
    while (acceptKeyword("MOD")) {
        const Expr right = integerDivision();
        left = valueExpr(QStringLiteral("jet_mod(%1, %2)").arg(asValue(left), asValue(right)));
    }
    return left;
}

Expr Parser::integerDivision()
{
    Expr left = multiplicative();
    while (atOperator("\\")) {
        ++m_pos;
        const Expr right = multiplicative();
        left = valueExpr(QStringLiteral("jet_idiv(%1, %2)").arg(asValue(left), asValue(right)));
    }
    return left;
}

Expr Parser::multiplicative()
{
    Expr left = unary();
    while (atOperator("*") || atOperator("/")) {
        const QString op = take().text;
        const Expr right = unary();
        // Jet divides in floating point even when both operands are whole numbers.
        if (op == QLatin1String("/"))
            left = valueExpr(QStringLiteral("(1.0 * %1 / %2)").arg(asValue(left), asValue(right)));
        else
            left = valueExpr(QStringLiteral("(%1 * %2)").arg(asValue(left), asValue(right)));
    }
    return left;
}

Expr Parser::unary()
{
    if (atOperator("-")) {
        ++m_pos;
        const Nesting level = deeper();
        return valueExpr(QStringLiteral("(-%1)").arg(asValue(unary())));
    }
    if (atOperator("+")) {
        ++m_pos;
        const Nesting level = deeper();
        return unary();
    }
    return power();
}

Expr Parser::power()
{
    Expr left = primary();
    while (atOperator("^")) {
        ++m_pos;
        const Expr right = powerOperand();
        left = valueExpr(QStringLiteral("jet_pow(%1, %2)").arg(asValue(left), asValue(right)));
    }
    return left;
}

Expr Parser::powerOperand()
{
    if (atOperator("-")) {
        ++m_pos;
        const Nesting level = deeper();
        return valueExpr(QStringLiteral("(-%1)").arg(asValue(powerOperand())));
    }
    return primary();
}

Expr Parser::primary()
{
    const Token &t = take();
    switch (t.type) {
    case TokenType::Number: {
        Expr e = valueExpr(t.text);
        e.number = e.constant = true;
        return e;
    }
    case TokenType::String: {
        Expr e = valueExpr(quoteString(t.text));
        e.stringLiteral = true;
        return e;
    }
    case TokenType::DateLiteral: {
        Expr e = valueExpr(numberLiteral(dayNumberOfLiteral(t.text)));
        e.constant = true;
        return e;
    }
    case TokenType::Parameter:
        ++m_parameters;
        return valueExpr(QStringLiteral("?"));
    case TokenType::Punct:
        if (t.text == QLatin1String("(")) {
            if (atKeyword("SELECT")) {
                SelectShape inner;
                const QString sub = select(inner, true);
                expectPunct(")");
                return valueExpr(QLatin1Char('(') + sub + QLatin1Char(')'));
            }
            Expr inner = disjunction();
            expectPunct(")");
            inner.column = false;
            return inner;
        }
        break;
    case TokenType::Identifier:
    case TokenType::QuotedIdentifier: {
        if (t.type == TokenType::Identifier) {
            const QString upper = t.text.toUpper();
            if (upper == QLatin1String("NULL"))
                return valueExpr(QStringLiteral("NULL"));
            if (upper == QLatin1String("TRUE"))
                return valueExpr(QStringLiteral("(-1)"));
            if (upper == QLatin1String("FALSE"))
                return valueExpr(QStringLiteral("0"));
            if (upper == QLatin1String("EXISTS")) {
                expectPunct("(");
                SelectShape inner;
                const QString sub = select(inner, true);
                expectPunct(")");
                return booleanExpr(QStringLiteral("(EXISTS (%1))").arg(sub));
            }
            if (atType(TokenType::Punct, "("))
                return functionCall(t.text);
            if (isReserved(t))
                break;
        }
        Expr e;
        e.column = true;
        if (atType(TokenType::Punct, ".")) {
            ++m_pos;
            e.qualifier = t.text;
            e.name = name();
            e.sql = quoteIdentifier(e.qualifier) + QLatin1Char('.') + quoteIdentifier(e.name);
        } else {
            e.name = t.text;
            e.sql = quoteIdentifier(e.name);
        }
        return e;
    }
    default:
        break;
    }
    --m_pos;
    unexpected(QStringLiteral("expression"));
}

Expr Parser::functionCall(const QString &functionName)
{
    QString key = functionName.toUpper();
    const bool dollar = key.endsWith(QLatin1Char('$'));
    if (dollar)
        key.chop(1);
    const auto found = functions().constFind(key);
    if (found == functions().constEnd() || (dollar && !found->textFunction))
        syntaxError(QStringLiteral("undefined function '%1'").arg(functionName));
    const FunctionDef &def = *found;

    expectPunct("(");
    std::vector<Expr> args;
    if (def.kind == FunctionKind::Aggregate && key == QLatin1String("COUNT") && atOperator("*")) {
        ++m_pos;
        args.push_back(valueExpr(QStringLiteral("*")));
    } else if (!atType(TokenType::Punct, ")")) {
        do {
            args.push_back(disjunction());
        } while (acceptPunct(","));
    }
    expectPunct(")");
    if (int(args.size()) < def.minArgs || int(args.size()) > def.maxArgs)
        syntaxError(QStringLiteral("wrong number of arguments for '%1'").arg(functionName));

    switch (def.kind) {
    case FunctionKind::IIf:
        // A Null condition takes the false branch, as CASE does.
        return valueExpr(QStringLiteral("(CASE WHEN %1 THEN %2 ELSE %3 END)")
                             .arg(args[0].sql, asValue(args[1]), asValue(args[2])));
    case FunctionKind::Nz:
        return valueExpr(QStringLiteral("COALESCE(%1, %2)")
                             .arg(asValue(args[0]),
                                  args.size() > 1 ? asValue(args[1]) : QStringLiteral("''")));
    case FunctionKind::Aggregate:
        m_aggregate = true;
        break;
    case FunctionKind::Plain:
        break;
    }
    QStringList sqlArgs;
    for (const Expr &arg : args)
        sqlArgs.append(asValue(arg));
    Expr call = valueExpr(QStringLiteral("%1(%2)").arg(QLatin1String(def.sqlName), sqlArgs.join(QStringLiteral(", "))));
    if (key == QLatin1String("NOW") || key == QLatin1String("DATE"))
        call.constant = true;
    if (key == QLatin1String("DATEDIFF") && args.size() == 3 && args[0].stringLiteral
        && args[0].sql.compare(QLatin1String("'d'"), Qt::CaseInsensitive) == 0
        && ((args[1].column && args[2].constant) || (args[2].column && args[1].constant))) {
        call.dayDiff = true;
        call.dayDiffColumnFirst = args[1].column;
        call.dayColumn = call.dayDiffColumnFirst ? args[1].sql : args[2].sql;
        call.dayOther = call.dayDiffColumnFirst ? args[2].sql : args[1].sql;
    }
    return call;
}

// --- SELECT ----------------------------------------------------------------

SelectItem Parser::selectItem()
{
    SelectItem item;
    const int before = m_parameters;
    if (atOperator("*")) {
        ++m_pos;
        item.star = true;
        item.sql = QStringLiteral("*");
        return item;
    }
    if (atName() && atType(TokenType::Punct, ".", 1) && atType(TokenType::Operator, "*", 2)) {
        item.star = true;
        item.starQualifier = take().text;
        m_pos += 2;
        item.sql = quoteIdentifier(item.starQualifier) + QStringLiteral(".*");
        return item;
    }
    const Expr e = disjunction();
    item.sql = asValue(e);
    if (e.column) {
        item.columnQualifier = e.qualifier;
        item.columnName = e.name;
    }
    if (acceptKeyword("AS"))
        item.alias = name();
    else if (atName())
        item.alias = take().text;
    item.parameters = m_parameters - before;
    return item;
}

QString Parser::source(SelectShape &shape, JoinParts &parts)
{
    if (acceptPunct("(")) {
        const Nesting level = deeper();
        if (atKeyword("SELECT")) {
            SelectShape inner;
            const QString sub = select(inner, true);
            expectPunct(")");
            shape.simpleFrom = false;
            parts.innerOnly = false;
            QString text = QLatin1Char('(') + sub + QLatin1Char(')');
            acceptKeyword("AS");
            if (atName())
                text += QStringLiteral(" AS ") + quoteIdentifier(take().text);
            return text;
        }
        const QString inner = joinedSource(shape, parts);
        expectPunct(")");
        return QLatin1Char('(') + inner + QLatin1Char(')');
    }
    TableRef ref;
    ref.table = name();
    ref.alias = ref.table;
    QString text = quoteIdentifier(ref.table);
    const bool as = acceptKeyword("AS");
    if (as || atName()) {
        ref.alias = name();
        text += QStringLiteral(" AS ") + quoteIdentifier(ref.alias);
    }
    shape.tables.append(ref);
    parts.tables.append(text);
    return text;
}

QString Parser::joinedSource(SelectShape &shape, JoinParts &parts)
{
    int leftParameters = m_parameters;
    QString left = source(shape, parts);
    leftParameters = m_parameters - leftParameters;
    for (;;) {
        QString joinType;
        bool right = false;
        if (acceptKeyword("INNER")) {
            joinType = QStringLiteral("INNER JOIN");
        } else if (acceptKeyword("LEFT")) {
            acceptKeyword("OUTER");
            joinType = QStringLiteral("LEFT JOIN");
        } else if (acceptKeyword("RIGHT")) {
            acceptKeyword("OUTER");
            joinType = QStringLiteral("LEFT JOIN");
            right = true;
        } else {
            return left;
        }
        expectKeyword("JOIN");
        if (joinType != QLatin1String("INNER JOIN"))
            parts.innerOnly = false;
        const int rightStart = m_parameters;
        const QString rightSource = source(shape, parts);
        const int rightParameters = m_parameters - rightStart;
        expectKeyword("ON");
        const QString on = condition();
        parts.conditions.append(on);
        if (right) {
            // SQLite has no RIGHT JOIN; the mirrored LEFT JOIN yields the same rows,
            // but only keeps the order of the ? markers when one side has none.
            if (leftParameters > 0 && rightParameters > 0)
                syntaxError(QStringLiteral("parameters on both sides of a RIGHT JOIN"));
            left = QStringLiteral("%1 %2 %3 ON %4").arg(rightSource, joinType, left, on);
        } else {
            left = QStringLiteral("%1 %2 %3 ON %4").arg(left, joinType, rightSource, on);
        }
        leftParameters += rightParameters;
    }
}

QString Parser::fromList(SelectShape &shape)
{
    QStringList sources;
    do {
        // SQLite reads a parenthesised join as a subquery, which hides the row keys
        // of its tables; a nest of inner joins is the same as one flat chain.
        JoinParts parts;
        const int before = m_parameters;
        QString item = joinedSource(shape, parts);
        if (parts.innerOnly && parts.tables.size() > 1 && m_parameters == before) {
            QStringList conditions;
            for (const QString &c : parts.conditions)
                conditions.append(QLatin1Char('(') + c + QLatin1Char(')'));
            item = parts.tables.join(QStringLiteral(" INNER JOIN ")) + QStringLiteral(" ON ")
                + conditions.join(QStringLiteral(" AND "));
        }
        sources.append(item);
    } while (acceptPunct(","));
    return sources.join(QStringLiteral(", "));
}

QList<OrderTerm> Parser::orderList()
{
    QList<OrderTerm> terms;
    do {
        OrderTerm term;
        term.sql = value();
        term.descending = acceptKeyword("DESC");
        if (!term.descending)
            acceptKeyword("ASC");
        terms.append(term);
    } while (acceptPunct(","));
    return terms;
}

QString orderText(const QList<OrderTerm> &terms)
{
    QStringList items;
    for (const OrderTerm &term : terms)
        items.append(term.descending ? term.sql + QStringLiteral(" DESC") : term.sql);
    return items.join(QStringLiteral(", "));
}

QString Parser::select(SelectShape &shape, bool nested)
{
    const Nesting level = deeper();
    const bool outerAggregate = m_aggregate;
    m_aggregate = false;

    expectKeyword("SELECT");
    if (acceptKeyword("DISTINCT"))
        shape.distinct = true;
    else
        acceptKeyword("DISTINCTROW"); // the rows come from keyed tables, so they are distinct already
    do {
        shape.items.append(selectItem());
    } while (acceptPunct(","));
    const bool itemsAggregate = m_aggregate;

    if (acceptKeyword("INTO")) {
        if (nested)
            unexpected(QStringLiteral("FROM"));
        const QString first = name();
        if (acceptPunct(".")) {
            shape.intoConnect = first;
            shape.intoName = name();
        } else {
            shape.intoName = first;
        }
    }

    int mark = m_parameters;
    if (acceptKeyword("FROM"))
        shape.from = fromList(shape);
    shape.fromParameters = m_parameters - mark;

    mark = m_parameters;
    if (acceptKeyword("WHERE"))
        shape.where = condition();
    shape.whereParameters = m_parameters - mark;

    mark = m_parameters;
    bool grouped = false;
    if (acceptKeyword("GROUP")) {
        expectKeyword("BY");
        shape.groupBy = valueList();
        grouped = true;
    }
    if (acceptKeyword("HAVING")) {
        shape.having = condition();
        grouped = true;
    }
    if (acceptKeyword("ORDER")) {
        expectKeyword("BY");
        shape.order = orderList();
        shape.orderBy = orderText(shape.order);
    }
    shape.restParameters = m_parameters - mark;
    shape.aggregate = itemsAggregate || grouped;
    m_aggregate = outerAggregate;

    // Jet names an unnamed computed column Expr1000, Expr1001, ...
    QStringList items;
    int unnamed = 1000;
    for (const SelectItem &item : std::as_const(shape.items)) {
        if (!item.alias.isEmpty())
            items.append(item.sql + QStringLiteral(" AS ") + quoteIdentifier(item.alias));
        else if (item.star || !item.columnName.isEmpty())
            items.append(item.sql);
        else
            items.append(item.sql + QStringLiteral(" AS ") + quoteIdentifier(QStringLiteral("Expr%1").arg(unnamed++)));
    }
    QString text = QStringLiteral("SELECT ");
    if (shape.distinct)
        text += QStringLiteral("DISTINCT ");
    text += items.join(QStringLiteral(", "));
    if (!shape.from.isEmpty())
        text += QStringLiteral(" FROM ") + shape.from;
    if (!shape.where.isEmpty())
        text += QStringLiteral(" WHERE ") + shape.where;
    if (!shape.groupBy.isEmpty())
        text += QStringLiteral(" GROUP BY ") + shape.groupBy;
    if (!shape.having.isEmpty())
        text += QStringLiteral(" HAVING ") + shape.having;
    if (!shape.orderBy.isEmpty())
        text += QStringLiteral(" ORDER BY ") + shape.orderBy;
    return text;
}

Statement Parser::selectStatement()
{
    Statement result;
    result.sqlite = select(result.select, false);
    result.kind = result.select.intoName.isEmpty() ? Statement::Kind::Select : Statement::Kind::SelectInto;
    return result;
}

// --- other statements ------------------------------------------------------

Statement Parser::insertStatement()
{
    expectKeyword("INSERT");
    expectKeyword("INTO");
    QString text = QStringLiteral("INSERT INTO ") + quoteIdentifier(name());
    if (acceptPunct("(")) {
        QStringList columns;
        do {
            columns.append(quoteIdentifier(name()));
        } while (acceptPunct(","));
        expectPunct(")");
        text += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    if (acceptKeyword("VALUES")) {
        expectPunct("(");
        text += QStringLiteral(" VALUES (") + valueList() + QLatin1Char(')');
        expectPunct(")");
    } else {
        SelectShape shape;
        text += QLatin1Char(' ') + select(shape, true);
    }
    Statement result;
    result.sqlite = text;
    return result;
}

Statement Parser::updateStatement()
{
    expectKeyword("UPDATE");
    const QString table = name();
    expectKeyword("SET");
    QStringList assignments;
    do {
        QString column = name();
        // SQLite does not take a qualified name on the left of SET.
        if (acceptPunct(".")) {
            if (column.compare(table, Qt::CaseInsensitive) != 0)
                syntaxError(QStringLiteral("column of another table in SET"));
            column = name();
        }
        if (!atOperator("="))
            unexpected(QStringLiteral("="));
        ++m_pos;
        assignments.append(quoteIdentifier(column) + QStringLiteral(" = ") + value());
    } while (acceptPunct(","));
    QString text = QStringLiteral("UPDATE %1 SET %2").arg(quoteIdentifier(table), assignments.join(QStringLiteral(", ")));
    if (acceptKeyword("WHERE"))
        text += QStringLiteral(" WHERE ") + condition();
    Statement result;
    result.sqlite = text;
    return result;
}

Statement Parser::deleteStatement()
{
    expectKeyword("DELETE");
    if (atOperator("*")) {
        ++m_pos;
    } else if (atName() && atType(TokenType::Punct, ".", 1) && atType(TokenType::Operator, "*", 2)) {
        m_pos += 3;
    }
    expectKeyword("FROM");
    QString text = QStringLiteral("DELETE FROM ") + quoteIdentifier(name());
    if (acceptKeyword("WHERE"))
        text += QStringLiteral(" WHERE ") + condition();
    Statement result;
    result.sqlite = text;
    return result;
}

QString Parser::defaultLiteral()
{
    bool negative = false;
    if (atOperator("-")) {
        ++m_pos;
        negative = true;
    }
    const Token &t = take();
    if (t.type == TokenType::Number)
        return negative ? QStringLiteral("-") + t.text : t.text;
    if (negative)
        syntaxError(QStringLiteral("a number must follow the minus sign"));
    switch (t.type) {
    case TokenType::String:
        return quoteString(t.text);
    case TokenType::DateLiteral:
        return numberLiteral(dayNumberOfLiteral(t.text));
    case TokenType::Identifier:
        if (t.text.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("NULL");
        if (t.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("-1");
        if (t.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("0");
        break;
    default:
        break;
    }
    --m_pos;
    unexpected(QStringLiteral("default value"));
}

Statement Parser::alterStatement()
{
    expectKeyword("ALTER");
    expectKeyword("TABLE");
    Statement result;
    result.kind = Statement::Kind::AlterColumnDefault;
    result.table = name();
    expectKeyword("ALTER");
    acceptKeyword("COLUMN");
    result.column = name();
    expectKeyword("SET");
    expectKeyword("DEFAULT");
    result.defaultSql = defaultLiteral();
    return result;
}

Statement Parser::dropStatement()
{
    expectKeyword("DROP");
    expectKeyword("INDEX");
    Statement result;
    result.kind = Statement::Kind::DropIndex;
    result.index = name();
    expectKeyword("ON");
    result.table = name();
    return result;
}

// ---------------------------------------------------------------------------
// Filters and criteria

[[noreturn]] void invalidFilter(const QString &detail)
{
    throw Error(err::InvalidArgument,
                QStringLiteral("Arguments are of the wrong type, are out of acceptable range, or are in conflict "
                               "with one another (%1)")
                    .arg(detail));
}

std::optional<double> readNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?\s*$)"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Jet's pattern characters that a Like criterion must take literally.
QString escapeLikePattern(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('#') || c == QLatin1Char('['))
            out += QLatin1Char('[') + c + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

class FilterParser
{
public:
    FilterParser(std::vector<Token> tokens, const FieldLookup &lookup)
        : m_tokens(std::move(tokens)), m_lookup(lookup)
    {
    }

    QString disjunction();
    QString comparison();
    bool atEnd() const { return m_pos >= m_tokens.size(); }

private:
    const Token *peek() const { return atEnd() ? nullptr : &m_tokens[m_pos]; }
    const Token &take()
    {
        if (atEnd())
            invalidFilter(QStringLiteral("the filter ends too early"));
        return m_tokens[m_pos++];
    }
    bool acceptKeyword(const char *word)
    {
        const Token *t = peek();
        if (!t || t->type != TokenType::Identifier
            || t->text.compare(QLatin1String(word), Qt::CaseInsensitive) != 0)
            return false;
        ++m_pos;
        return true;
    }
    bool acceptPunct(const char *text)
    {
        const Token *t = peek();
        if (!t || t->type != TokenType::Punct || t->text != QLatin1String(text))
            return false;
        ++m_pos;
        return true;
    }
    QString conjunction();
    QString term();
    QString literalFor(const FieldInfo &field, const Token &value, bool negative);

    std::vector<Token> m_tokens;
    const FieldLookup &m_lookup;
    size_t m_pos = 0;
    int m_depth = 0;
};

QString FilterParser::disjunction()
{
    QString left = conjunction();
    while (acceptKeyword("OR"))
        left = QStringLiteral("(%1 OR %2)").arg(left, conjunction());
    return left;
}

QString FilterParser::conjunction()
{
    QString left = term();
    while (acceptKeyword("AND"))
        left = QStringLiteral("(%1 AND %2)").arg(left, term());
    return left;
}

QString FilterParser::term()
{
    if (acceptPunct("(")) {
        // A filter the grammar refuses is an invalid argument to ADO, however it fails.
        const Nesting level(m_depth, err::InvalidArgument);
        const QString inner = disjunction();
        if (!acceptPunct(")"))
            invalidFilter(QStringLiteral("')' expected"));
        return inner;
    }
    return comparison();
}

QString FilterParser::comparison()
{
    const Token &first = take();
    if (first.type != TokenType::Identifier && first.type != TokenType::QuotedIdentifier)
        invalidFilter(QStringLiteral("a field name expected"));
    QString fieldName = first.text;
    if (acceptPunct(".")) {
        const Token &second = take();
        if (second.type != TokenType::Identifier && second.type != TokenType::QuotedIdentifier)
            invalidFilter(QStringLiteral("a field name expected after '.'"));
        fieldName += QLatin1Char('.') + second.text;
    }
    const std::optional<FieldInfo> field = m_lookup(fieldName);
    if (!field)
        invalidFilter(QStringLiteral("unknown field '%1'").arg(fieldName));

    QString op;
    const Token &opToken = take();
    if (opToken.type == TokenType::Operator
        && (opToken.text == QLatin1String("=") || opToken.text == QLatin1String("<>")
            || opToken.text == QLatin1String("<") || opToken.text == QLatin1String(">")
            || opToken.text == QLatin1String("<=") || opToken.text == QLatin1String(">=")))
        op = opToken.text;
    else if (opToken.type == TokenType::Identifier && opToken.text.compare(QLatin1String("LIKE"), Qt::CaseInsensitive) == 0)
        op = QStringLiteral("LIKE");
    else
        invalidFilter(QStringLiteral("a comparison operator expected"));

    bool negative = false;
    const Token *sign = peek();
    if (sign && sign->type == TokenType::Operator && (sign->text == QLatin1String("-") || sign->text == QLatin1String("+"))) {
        negative = sign->text == QLatin1String("-");
        ++m_pos;
        const Token *next = peek();
        if (!next || next->type != TokenType::Number)
            invalidFilter(QStringLiteral("a number expected after the sign"));
    }
    const Token &valueToken = take();

    if (valueToken.type == TokenType::Identifier
        && valueToken.text.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
        if (op == QLatin1String("="))
            return QStringLiteral("(%1 IS NULL)").arg(field->sql);
        if (op == QLatin1String("<>"))
            return QStringLiteral("(%1 IS NOT NULL)").arg(field->sql);
        invalidFilter(QStringLiteral("Null compares only with = or <>"));
    }

    if (op == QLatin1String("LIKE")) {
        if (valueToken.type != TokenType::String)
            invalidFilter(QStringLiteral("LIKE takes a quoted pattern"));
        QString core = valueToken.text;
        const auto isWildcard = [](QChar c) { return c == QLatin1Char('*') || c == QLatin1Char('%'); };
        bool leading = false;
        bool trailing = false;
        if (!core.isEmpty() && isWildcard(core.back())) {
            trailing = true;
            core.chop(1);
        }
        if (!core.isEmpty() && isWildcard(core.front())) {
            leading = true;
            core.remove(0, 1);
        }
        if (leading && !trailing)
            invalidFilter(QStringLiteral("a wildcard only at the start of a pattern"));
        if (std::any_of(core.cbegin(), core.cend(), isWildcard))
            invalidFilter(QStringLiteral("a wildcard inside a pattern"));
        QString pattern = escapeLikePattern(core);
        if (leading)
            pattern.prepend(QLatin1Char('*'));
        if (trailing)
            pattern.append(QLatin1Char('*'));
        const QString like = QStringLiteral("jet_like(%1, %2)").arg(field->sql, quoteString(pattern));
        // A prefix without letters of two cases (a kana reading) is also a range,
        // which an index on the field serves; the pattern still decides.
        const bool caseless = std::all_of(core.cbegin(), core.cend(), [](QChar c) { return c.toUpper() == c.toLower(); });
        if (trailing && !leading && !core.isEmpty() && caseless && field->type == FieldInfo::Type::Text
            && !core.back().isSurrogate() && core.back().unicode() < 0xFFFF) {
            QString upper = core;
            upper.back() = QChar(char16_t(upper.back().unicode() + 1));
            return QStringLiteral("(%1 >= %2 AND %1 < %3 AND %4)").arg(field->sql, quoteString(core), quoteString(upper), like);
        }
        return like;
    }

    return QStringLiteral("(%1 %2 %3)").arg(field->sql, op, literalFor(*field, valueToken, negative));
}

QString FilterParser::literalFor(const FieldInfo &field, const Token &value, bool negative)
{
    const auto dateOf = [](const QString &text) {
        const std::optional<QDateTime> moment = parseJetDate(text);
        if (!moment)
            invalidFilter(QStringLiteral("'%1' is not a date").arg(text));
        return numberLiteral(toDayNumber(*moment));
    };
    const auto numberOf = [negative](const QString &text) {
        const std::optional<double> number = readNumber(text);
        if (!number)
            invalidFilter(QStringLiteral("'%1' is not a number").arg(text));
        return numberLiteral(negative ? -*number : *number);
    };
    const bool isTrue = value.type == TokenType::Identifier
        && value.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
    const bool isFalse = value.type == TokenType::Identifier
        && value.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0;
    const bool plain = value.type == TokenType::String || value.type == TokenType::Number
        || value.type == TokenType::DateLiteral;
    if (!plain && !isTrue && !isFalse)
        invalidFilter(QStringLiteral("a value expected"));

    switch (field.type) {
    case FieldInfo::Type::Number:
        if (isTrue || isFalse)
            return isTrue ? QStringLiteral("(-1)") : QStringLiteral("0");
        if (value.type == TokenType::DateLiteral)
            return dateOf(value.text);
        return numberOf(value.text);
    case FieldInfo::Type::Date:
        if (value.type == TokenType::Number)
            return numberOf(value.text);
        if (isTrue || isFalse)
            invalidFilter(QStringLiteral("a date expected"));
        return dateOf(value.text);
    case FieldInfo::Type::Boolean: {
        if (isTrue || isFalse)
            return isTrue ? QStringLiteral("(-1)") : QStringLiteral("0");
        if (value.type == TokenType::Number)
            return numberOf(value.text) == QLatin1String("0") ? QStringLiteral("0") : QStringLiteral("(-1)");
        const QString text = value.text.trimmed().toUpper();
        if (text == QLatin1String("TRUE") || text == QLatin1String("-1"))
            return QStringLiteral("(-1)");
        if (text == QLatin1String("FALSE") || text == QLatin1String("0"))
            return QStringLiteral("0");
        invalidFilter(QStringLiteral("'%1' is not a Yes/No value").arg(value.text));
    }
    case FieldInfo::Type::Text:
        if (value.type == TokenType::DateLiteral || isTrue || isFalse)
            invalidFilter(QStringLiteral("a text expected"));
        return quoteString(negative ? QLatin1Char('-') + value.text : value.text);
    case FieldInfo::Type::Unknown:
        break;
    }
    if (isTrue || isFalse)
        return isTrue ? QStringLiteral("(-1)") : QStringLiteral("0");
    if (value.type == TokenType::Number)
        return numberOf(value.text);
    if (value.type == TokenType::DateLiteral)
        return dateOf(value.text);
    return quoteString(value.text);
}

std::vector<Token> filterTokens(const QString &text)
{
    try {
        return tokenize(text);
    } catch (const Error &e) {
        invalidFilter(e.description());
    }
}

} // namespace

// ---------------------------------------------------------------------------

std::vector<Token> tokenize(const QString &jetSql)
{
    std::vector<Token> tokens;
    const qsizetype n = jetSql.size();
    qsizetype i = 0;
    const auto add = [&tokens](TokenType type, const QString &text, qsizetype position) {
        tokens.push_back(Token{type, text, int(position)});
    };
    // Reads a quoted run; a doubled closing character stands for itself when allowed.
    const auto quoted = [&](QChar close, bool doubling, const char *what) {
        const qsizetype start = i;
        QString text;
        ++i;
        for (;;) {
            if (i >= n)
                syntaxError(QStringLiteral("unterminated %1 at offset %2").arg(QLatin1String(what)).arg(start));
            if (jetSql[i] == close) {
                if (doubling && i + 1 < n && jetSql[i + 1] == close) {
                    text += close;
                    i += 2;
                    continue;
                }
                ++i;
                return text;
            }
            text += jetSql[i++];
        }
    };

    while (i < n) {
        const QChar c = jetSql[i];
        const qsizetype start = i;
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            add(TokenType::String, quoted(c, true, "string"), start);
            continue;
        }
        if (c == QLatin1Char('[') || c == QLatin1Char('`')) {
            const QString text = quoted(c == QLatin1Char('[') ? QLatin1Char(']') : QLatin1Char('`'), false, "name");
            if (text.isEmpty())
                syntaxError(QStringLiteral("empty name at offset %1").arg(start));
            add(TokenType::QuotedIdentifier, text, start);
            continue;
        }
        if (c == QLatin1Char('#')) {
            add(TokenType::DateLiteral, quoted(QLatin1Char('#'), false, "date literal"), start);
            continue;
        }
        // After a name or ")" a dot qualifies; elsewhere ".5" is a number.
        const bool dotQualifies = !tokens.empty()
            && (tokens.back().type == TokenType::Identifier || tokens.back().type == TokenType::QuotedIdentifier
                || (tokens.back().type == TokenType::Punct && tokens.back().text == QLatin1String(")")));
        const bool fractionStart = c == QLatin1Char('.') && !dotQualifies && i + 1 < n && isDigit(jetSql[i + 1]);
        if (isDigit(c) || fractionStart) {
            qsizetype j = i;
            while (j < n && isDigit(jetSql[j]))
                ++j;
            const bool wholeDigits = j > i;
            if (wholeDigits && j < n && jetSql[j] == QLatin1Char('.')) {
                ++j;
                while (j < n && isDigit(jetSql[j]))
                    ++j;
            } else if (fractionStart) {
                ++j;
                while (j < n && isDigit(jetSql[j]))
                    ++j;
            }
            if (j < n && (jetSql[j] == QLatin1Char('e') || jetSql[j] == QLatin1Char('E'))) {
                qsizetype k = j + 1;
                if (k < n && (jetSql[k] == QLatin1Char('+') || jetSql[k] == QLatin1Char('-')))
                    ++k;
                if (k < n && isDigit(jetSql[k])) {
                    while (k < n && isDigit(jetSql[k]))
                        ++k;
                    if (k >= n || !isIdentifierChar(jetSql[k]))
                        j = k;
                }
            }
            const bool onlyDigits = [&] {
                for (qsizetype k = i; k < j; ++k) {
                    if (!isDigit(jetSql[k]))
                        return false;
                }
                return true;
            }();
            if (onlyDigits && j < n && isIdentifierChar(jetSql[j])) {
                // 32条診断書: digits that run on into a name are part of it.
                while (j < n && isIdentifierChar(jetSql[j]))
                    ++j;
                add(TokenType::Identifier, jetSql.mid(i, j - i), start);
            } else {
                add(TokenType::Number, jetSql.mid(i, j - i), start);
            }
            i = j;
            continue;
        }
        if (isIdentifierChar(c)) {
            qsizetype j = i;
            while (j < n && isIdentifierChar(jetSql[j]))
                ++j;
            add(TokenType::Identifier, jetSql.mid(i, j - i), start);
            i = j;
            continue;
        }
        if (c == QLatin1Char('?')) {
            add(TokenType::Parameter, QStringLiteral("?"), start);
            ++i;
            continue;
        }
        if (c == QLatin1Char('<') || c == QLatin1Char('>')) {
            QString op(c);
            if (i + 1 < n && (jetSql[i + 1] == QLatin1Char('=') || (c == QLatin1Char('<') && jetSql[i + 1] == QLatin1Char('>'))))
                op += jetSql[i + 1];
            add(TokenType::Operator, op, start);
            i += op.size();
            continue;
        }
        if (QStringLiteral("=+-*/&\\^").contains(c)) {
            add(TokenType::Operator, QString(c), start);
            ++i;
            continue;
        }
        if (QStringLiteral("(),.;").contains(c)) {
            add(TokenType::Punct, QString(c), start);
            ++i;
            continue;
        }
        syntaxError(QStringLiteral("unexpected character '%1' at offset %2").arg(c).arg(start));
    }
    return tokens;
}

// Back-quotes, not double quotes: SQLite reads a double-quoted name that names
// no column as a string literal, which would turn a misspelt column into text
// instead of the missing-column error the windows rely on.
QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

QString quoteString(const QString &text)
{
    // SQLite's tokenizer stops at a NUL character, so one inside a text is
    // spliced in with char(0) instead of standing in the literal.
    const QStringList parts = text.split(QChar(0));
    QStringList quoted;
    for (QString part : parts) {
        part.replace(QLatin1Char('\''), QStringLiteral("''"));
        quoted.append(QLatin1Char('\'') + part + QLatin1Char('\''));
    }
    if (quoted.size() == 1)
        return quoted.front();
    return QLatin1Char('(') + quoted.join(QStringLiteral(" || char(0) || ")) + QLatin1Char(')');
}

Statement translate(const QString &jetSql)
{
    Parser parser(tokenize(jetSql));
    return parser.statement();
}

QString translateFilter(const QString &filter, const FieldLookup &lookup)
{
    if (filter.trimmed().isEmpty())
        return QString();
    FilterParser parser(filterTokens(filter), lookup);
    const QString condition = parser.disjunction();
    if (!parser.atEnd())
        invalidFilter(QStringLiteral("text after the end of the filter"));
    return condition;
}

QString translateCriterion(const QString &criterion, const FieldLookup &lookup)
{
    FilterParser parser(filterTokens(criterion), lookup);
    const QString condition = parser.comparison();
    if (!parser.atEnd())
        invalidFilter(QStringLiteral("a criterion holds one comparison"));
    return condition;
}

} // namespace jet::sql
