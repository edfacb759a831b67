#include "db/engine/jetsql.h"

#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql_emit.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace jet::sql {

using tree::Expr;
using ExprKind = tree::Expr::Kind;

void syntaxError(const QString &detail)
{
    throw Error(err::SyntaxError, QStringLiteral("Syntax error in SQL statement: %1").arg(detail));
}

namespace {

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

// Both parsers recurse once per level of parentheses, subqueries, function
// calls and prefix operators, and a stored query comes from the database
// file: a damaged one nested a few thousand deep would overrun the stack.
// Jet calls queries too complex long before this depth, and the program's
// own statements nest fewer than ten levels, so only such text meets it.
// The emitters recurse over the same tree and need no limit of their own.
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

// The emitters walk the tree recursively, and a chain of operators (a & b &
// c ...) deepens it without deepening the parser.  Far beyond any query Jet
// itself runs, well within the stack.
constexpr int kMaxTreeDepth = 500;

Expr node(ExprKind kind, std::vector<Expr> args = {}, const QString &text = {})
{
    Expr e;
    e.kind = kind;
    e.args = std::move(args);
    e.text = text;
    for (const Expr &arg : e.args)
        e.depth = std::max(e.depth, arg.depth + 1);
    return e;
}

Expr withSelect(Expr e, std::shared_ptr<const tree::Select> select)
{
    e.depth = std::max(e.depth, select->depth + 1);
    e.select = std::move(select);
    return e;
}

int depthOf(const std::optional<Expr> &e)
{
    return e ? e->depth : 0;
}

// Refuses a tree too deep to emit, with the error number of the parser that reads it.
void checkDepth(int depth, qint32 errorNumber)
{
    if (depth > kMaxTreeDepth)
        throw Error(errorNumber, QStringLiteral("式の入れ子が深すぎます。"));
}

template<typename T>
T checked(T t, qint32 errorNumber)
{
    checkDepth(t.depth, errorNumber);
    return t;
}

Expr dateNode(const QDateTime &moment)
{
    Expr e = node(ExprKind::Date);
    e.moment = moment;
    e.day = toDayNumber(moment);
    return e;
}

Expr dateLiteral(const QString &text)
{
    const std::optional<QDateTime> moment = parseJetDate(text);
    if (!moment)
        throw Error(err::ConversionFailed, QStringLiteral("The date literal #%1# cannot be read").arg(text));
    return dateNode(*moment);
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

// ---------------------------------------------------------------------------
// Statements

class Parser
{
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    tree::Statement statement();

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
    static Expr make(ExprKind kind, std::vector<Expr> args, const QString &text = {})
    {
        return checked(node(kind, std::move(args), text), err::SyntaxError);
    }

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
    std::vector<Expr> valueList();

    // SELECT and its clauses.
    std::shared_ptr<const tree::Select> select(bool nested);
    tree::Item selectItem();
    tree::Source joinedSource();
    tree::Source source();
    std::vector<tree::OrderItem> orderList();

    tree::Statement insertStatement();
    tree::Statement updateStatement();
    tree::Statement deleteStatement();
    tree::Statement alterStatement();
    tree::Statement dropStatement();
    void finish();
    Expr defaultLiteral();

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    int m_parameters = 0;
    int m_depth = 0;
};

void Parser::finish()
{
    acceptPunct(";");
    if (!atEnd())
        unexpected(QStringLiteral("end of statement"));
}

tree::Statement Parser::statement()
{
    tree::Statement result;
    if (atKeyword("SELECT")) {
        result.select = select(false);
    } else if (atKeyword("INSERT")) {
        result = insertStatement();
    } else if (atKeyword("UPDATE")) {
        result = updateStatement();
    } else if (atKeyword("DELETE")) {
        result = deleteStatement();
    } else if (atKeyword("ALTER")) {
        result = alterStatement();
    } else if (atKeyword("DROP")) {
        result = dropStatement();
    } else {
        unexpected(QStringLiteral("SELECT, INSERT, UPDATE, DELETE, ALTER or DROP"));
    }
    finish();
    result.parameters = m_parameters;
    return result;
}

// --- expressions -----------------------------------------------------------

Expr Parser::disjunction()
{
    const Nesting level = deeper();
    Expr left = conjunction();
    while (acceptKeyword("OR"))
        left = make(ExprKind::Logical, {std::move(left), conjunction()}, QStringLiteral("OR"));
    return left;
}

Expr Parser::conjunction()
{
    Expr left = negation();
    while (acceptKeyword("AND"))
        left = make(ExprKind::Logical, {std::move(left), negation()}, QStringLiteral("AND"));
    return left;
}

Expr Parser::negation()
{
    if (acceptKeyword("NOT")) {
        const Nesting level = deeper();
        return make(ExprKind::Not, {negation()});
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
            left = make(ExprKind::Compare, {std::move(left), concatenation()}, op);
            continue;
        }
        if (atKeyword("IS")) {
            ++m_pos;
            const bool negated = acceptKeyword("NOT");
            expectKeyword("NULL");
            left = make(ExprKind::IsNull, {std::move(left)});
            left.negated = negated;
            continue;
        }
        bool negated = false;
        if (atKeyword("NOT") && (atKeyword("LIKE", 1) || atKeyword("BETWEEN", 1) || atKeyword("IN", 1))) {
            ++m_pos;
            negated = true;
        }
        if (acceptKeyword("LIKE")) {
            left = make(ExprKind::Like, {std::move(left), concatenation()});
        } else if (acceptKeyword("BETWEEN")) {
            Expr low = concatenation();
            expectKeyword("AND");
            left = make(ExprKind::Between, {std::move(left), std::move(low), concatenation()});
        } else if (acceptKeyword("IN")) {
            expectPunct("(");
            if (atKeyword("SELECT")) {
                left = checked(withSelect(node(ExprKind::In, {std::move(left)}), select(true)), err::SyntaxError);
            } else {
                std::vector<Expr> args = valueList();
                args.insert(args.begin(), std::move(left));
                left = make(ExprKind::In, std::move(args));
            }
            expectPunct(")");
        } else {
            if (negated)
                unexpected();
            return left;
        }
        left.negated = negated;
    }
}

std::vector<Expr> Parser::valueList()
{
    std::vector<Expr> values;
    do {
        values.push_back(disjunction());
    } while (acceptPunct(","));
    return values;
}

Expr Parser::concatenation()
{
    Expr left = additive();
    while (atOperator("&")) {
        ++m_pos;
        left = make(ExprKind::Arithmetic, {std::move(left), additive()}, QStringLiteral("&"));
    }
    return left;
}

Expr Parser::additive()
{
    Expr left = modulo();
    while (atOperator("+") || atOperator("-")) {
        const QString op = take().text;
        left = make(ExprKind::Arithmetic, {std::move(left), modulo()}, op);
    }
    return left;
}

Expr Parser::modulo()
{
    Expr left = integerDivision();
    while (acceptKeyword("MOD"))
        left = make(ExprKind::Arithmetic, {std::move(left), integerDivision()}, QStringLiteral("MOD"));
    return left;
}

Expr Parser::integerDivision()
{
    Expr left = multiplicative();
    while (atOperator("\\")) {
        ++m_pos;
        left = make(ExprKind::Arithmetic, {std::move(left), multiplicative()}, QStringLiteral("\\"));
    }
    return left;
}

Expr Parser::multiplicative()
{
    Expr left = unary();
    while (atOperator("*") || atOperator("/")) {
        const QString op = take().text;
        left = make(ExprKind::Arithmetic, {std::move(left), unary()}, op);
    }
    return left;
}

Expr Parser::unary()
{
    if (atOperator("-")) {
        ++m_pos;
        const Nesting level = deeper();
        return make(ExprKind::Negate, {unary()});
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
        left = make(ExprKind::Arithmetic, {std::move(left), powerOperand()}, QStringLiteral("^"));
    }
    return left;
}

Expr Parser::powerOperand()
{
    if (atOperator("-")) {
        ++m_pos;
        const Nesting level = deeper();
        return make(ExprKind::Negate, {powerOperand()});
    }
    return primary();
}

Expr Parser::primary()
{
    const Token &t = take();
    switch (t.type) {
    case TokenType::Number:
        return node(ExprKind::Number, {}, t.text);
    case TokenType::String:
        return node(ExprKind::Text, {}, t.text);
    case TokenType::DateLiteral:
        return dateLiteral(t.text);
    case TokenType::Parameter: {
        Expr e = node(ExprKind::Parameter);
        e.parameter = ++m_parameters;
        return e;
    }
    case TokenType::Punct:
        if (t.text == QLatin1String("(")) {
            if (atKeyword("SELECT")) {
                Expr sub = checked(withSelect(node(ExprKind::Subquery), select(true)), err::SyntaxError);
                expectPunct(")");
                return sub;
            }
            Expr inner = disjunction();
            expectPunct(")");
            inner.parenthesized = true;
            return inner;
        }
        break;
    case TokenType::Identifier:
    case TokenType::QuotedIdentifier: {
        if (t.type == TokenType::Identifier) {
            const QString upper = t.text.toUpper();
            if (upper == QLatin1String("NULL"))
                return node(ExprKind::Null);
            if (upper == QLatin1String("TRUE") || upper == QLatin1String("FALSE")) {
                Expr e = node(ExprKind::Boolean);
                e.truth = upper == QLatin1String("TRUE");
                return e;
            }
            if (upper == QLatin1String("EXISTS")) {
                expectPunct("(");
                Expr e = checked(withSelect(node(ExprKind::Exists), select(true)), err::SyntaxError);
                expectPunct(")");
                return e;
            }
            if (atType(TokenType::Punct, "("))
                return functionCall(t.text);
            if (isReserved(t))
                break;
        }
        Expr e = node(ExprKind::Column);
        if (atType(TokenType::Punct, ".")) {
            ++m_pos;
            e.qualifier = t.text;
            e.text = name();
        } else {
            e.text = t.text;
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
    const FunctionDef *def = findFunction(key);
    if (!def || (dollar && !def->textFunction))
        syntaxError(QStringLiteral("undefined function '%1'").arg(functionName));

    expectPunct("(");
    if (def->kind == FunctionKind::Aggregate && key == QLatin1String("COUNT") && atOperator("*")) {
        ++m_pos;
        expectPunct(")");
        return node(ExprKind::CountAll);
    }
    Expr call = make(ExprKind::Call, atType(TokenType::Punct, ")") ? std::vector<Expr>() : valueList(), key);
    expectPunct(")");
    if (int(call.args.size()) < def->minArgs || int(call.args.size()) > def->maxArgs)
        syntaxError(QStringLiteral("wrong number of arguments for '%1'").arg(functionName));
    return call;
}

// --- SELECT ----------------------------------------------------------------

tree::Item Parser::selectItem()
{
    tree::Item item;
    if (atOperator("*")) {
        ++m_pos;
        item.star = true;
        return item;
    }
    if (atName() && atType(TokenType::Punct, ".", 1) && atType(TokenType::Operator, "*", 2)) {
        item.star = true;
        item.starQualifier = take().text;
        m_pos += 2;
        return item;
    }
    item.expr = disjunction();
    if (acceptKeyword("AS"))
        item.alias = name();
    else if (atName())
        item.alias = take().text;
    return item;
}

tree::Source Parser::source()
{
    tree::Source result;
    if (acceptPunct("(")) {
        const Nesting level = deeper();
        if (atKeyword("SELECT")) {
            result.kind = tree::Source::Kind::Subquery;
            result.select = select(true);
            result.depth = result.select->depth + 1;
            expectPunct(")");
            acceptKeyword("AS");
            if (atName())
                result.alias = take().text;
            return result;
        }
        result = joinedSource();
        expectPunct(")");
        result.parenthesized = true;
        return result;
    }
    result.table = name();
    if (acceptKeyword("AS") || atName())
        result.alias = name();
    return result;
}

tree::Source Parser::joinedSource()
{
    tree::Source left = source();
    for (;;) {
        tree::Source join;
        join.kind = tree::Source::Kind::Join;
        if (acceptKeyword("INNER")) {
            join.join = tree::Source::Join::Inner;
        } else if (acceptKeyword("LEFT")) {
            acceptKeyword("OUTER");
            join.join = tree::Source::Join::Left;
        } else if (acceptKeyword("RIGHT")) {
            acceptKeyword("OUTER");
            join.join = tree::Source::Join::Right;
        } else {
            return left;
        }
        expectKeyword("JOIN");
        tree::Source right = source();
        expectKeyword("ON");
        join.on = disjunction();
        join.depth = std::max({left.depth, right.depth, join.on->depth}) + 1;
        join.sides.push_back(std::move(left));
        join.sides.push_back(std::move(right));
        left = checked(std::move(join), err::SyntaxError);
    }
}

std::vector<tree::OrderItem> Parser::orderList()
{
    std::vector<tree::OrderItem> terms;
    do {
        tree::OrderItem term;
        term.expr = disjunction();
        term.descending = acceptKeyword("DESC");
        if (!term.descending)
            acceptKeyword("ASC");
        terms.push_back(std::move(term));
    } while (acceptPunct(","));
    return terms;
}

std::shared_ptr<const tree::Select> Parser::select(bool nested)
{
    const Nesting level = deeper();
    auto shape = std::make_shared<tree::Select>();

    expectKeyword("SELECT");
    if (acceptKeyword("DISTINCT"))
        shape->distinct = true;
    else
        acceptKeyword("DISTINCTROW"); // the rows come from keyed tables, so they are distinct already
    if (acceptKeyword("TOP")) {
        const Token &count = take();
        bool ok = false;
        const qint64 n = count.text.toLongLong(&ok);
        if (count.type != TokenType::Number || !ok || n <= 0)
            syntaxError(QStringLiteral("TOP takes a whole number of rows"));
        if (atKeyword("PERCENT"))
            syntaxError(QStringLiteral("TOP ... PERCENT is not supported"));
        shape->top = n;
    }
    do {
        shape->items.push_back(selectItem());
    } while (acceptPunct(","));

    if (acceptKeyword("INTO")) {
        if (nested)
            unexpected(QStringLiteral("FROM"));
        const QString first = name();
        if (acceptPunct(".")) {
            shape->intoConnect = first;
            shape->intoName = name();
        } else {
            shape->intoName = first;
        }
    }

    if (acceptKeyword("FROM")) {
        do {
            shape->from.push_back(joinedSource());
        } while (acceptPunct(","));
    }
    if (acceptKeyword("WHERE"))
        shape->where = disjunction();
    if (acceptKeyword("GROUP")) {
        expectKeyword("BY");
        shape->groupBy = valueList();
    }
    if (acceptKeyword("HAVING"))
        shape->having = disjunction();
    if (acceptKeyword("ORDER")) {
        expectKeyword("BY");
        shape->order = orderList();
    }
    int depth = std::max(depthOf(shape->where), depthOf(shape->having));
    for (const tree::Item &item : shape->items)
        depth = std::max(depth, depthOf(item.expr));
    for (const tree::Source &source : shape->from)
        depth = std::max(depth, source.depth);
    for (const Expr &e : shape->groupBy)
        depth = std::max(depth, e.depth);
    for (const tree::OrderItem &term : shape->order)
        depth = std::max(depth, term.expr.depth);
    shape->depth = depth + 1;
    checkDepth(shape->depth, err::SyntaxError);
    return shape;
}

// --- other statements ------------------------------------------------------

tree::Statement Parser::insertStatement()
{
    expectKeyword("INSERT");
    expectKeyword("INTO");
    tree::Statement result;
    result.kind = tree::Statement::Kind::Insert;
    result.table = name();
    if (acceptPunct("(")) {
        do {
            result.columns.push_back(name());
        } while (acceptPunct(","));
        expectPunct(")");
    }
    if (acceptKeyword("VALUES")) {
        expectPunct("(");
        result.values = valueList();
        expectPunct(")");
    } else {
        result.select = select(true);
    }
    return result;
}

tree::Statement Parser::updateStatement()
{
    expectKeyword("UPDATE");
    tree::Statement result;
    result.kind = tree::Statement::Kind::Update;
    result.table = name();
    expectKeyword("SET");
    do {
        QString column = name();
        // Neither back end takes a qualified name on the left of SET.
        if (acceptPunct(".")) {
            if (column.compare(result.table, Qt::CaseInsensitive) != 0)
                syntaxError(QStringLiteral("column of another table in SET"));
            column = name();
        }
        if (!atOperator("="))
            unexpected(QStringLiteral("="));
        ++m_pos;
        result.columns.push_back(column);
        result.values.push_back(disjunction());
    } while (acceptPunct(","));
    if (acceptKeyword("WHERE"))
        result.where = disjunction();
    return result;
}

tree::Statement Parser::deleteStatement()
{
    expectKeyword("DELETE");
    if (atOperator("*")) {
        ++m_pos;
    } else if (atName() && atType(TokenType::Punct, ".", 1) && atType(TokenType::Operator, "*", 2)) {
        m_pos += 3;
    }
    expectKeyword("FROM");
    tree::Statement result;
    result.kind = tree::Statement::Kind::Delete;
    result.table = name();
    if (acceptKeyword("WHERE"))
        result.where = disjunction();
    return result;
}

Expr Parser::defaultLiteral()
{
    bool negative = false;
    if (atOperator("-")) {
        ++m_pos;
        negative = true;
    }
    const Token &t = take();
    if (t.type == TokenType::Number)
        return node(ExprKind::Number, {}, negative ? QStringLiteral("-") + t.text : t.text);
    if (negative)
        syntaxError(QStringLiteral("a number must follow the minus sign"));
    switch (t.type) {
    case TokenType::String:
        return node(ExprKind::Text, {}, t.text);
    case TokenType::DateLiteral:
        return dateLiteral(t.text);
    case TokenType::Identifier:
        if (t.text.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0)
            return node(ExprKind::Null);
        if (t.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0
            || t.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
            Expr e = node(ExprKind::Boolean);
            e.truth = t.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
            return e;
        }
        break;
    default:
        break;
    }
    --m_pos;
    unexpected(QStringLiteral("default value"));
}

tree::Statement Parser::alterStatement()
{
    expectKeyword("ALTER");
    expectKeyword("TABLE");
    tree::Statement result;
    result.kind = tree::Statement::Kind::AlterColumnDefault;
    result.table = name();
    expectKeyword("ALTER");
    acceptKeyword("COLUMN");
    result.column = name();
    expectKeyword("SET");
    expectKeyword("DEFAULT");
    result.defaultValue = defaultLiteral();
    return result;
}

tree::Statement Parser::dropStatement()
{
    expectKeyword("DROP");
    expectKeyword("INDEX");
    tree::Statement result;
    result.kind = tree::Statement::Kind::DropIndex;
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

Expr booleanNode(bool truth)
{
    Expr e = node(ExprKind::Boolean);
    e.truth = truth;
    return e;
}

class FilterParser
{
public:
    FilterParser(std::vector<Token> tokens, const FieldLookup &lookup)
        : m_tokens(std::move(tokens)), m_lookup(lookup)
    {
    }

    Expr disjunction();
    Expr comparison();
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
    Expr conjunction();
    Expr term();
    Expr literalFor(tree::FieldType type, const Token &value, bool negative);

    std::vector<Token> m_tokens;
    const FieldLookup &m_lookup;
    size_t m_pos = 0;
    int m_depth = 0;
};

Expr FilterParser::disjunction()
{
    Expr left = conjunction();
    while (acceptKeyword("OR"))
        left = checked(node(ExprKind::Logical, {std::move(left), conjunction()}, QStringLiteral("OR")), err::InvalidArgument);
    return left;
}

Expr FilterParser::conjunction()
{
    Expr left = term();
    while (acceptKeyword("AND"))
        left = checked(node(ExprKind::Logical, {std::move(left), term()}, QStringLiteral("AND")), err::InvalidArgument);
    return left;
}

Expr FilterParser::term()
{
    if (acceptPunct("(")) {
        // A filter the grammar refuses is an invalid argument to ADO, however it fails.
        const Nesting level(m_depth, err::InvalidArgument);
        Expr inner = disjunction();
        if (!acceptPunct(")"))
            invalidFilter(QStringLiteral("')' expected"));
        return inner;
    }
    return comparison();
}

Expr FilterParser::comparison()
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
    const std::optional<FieldInfo> info = m_lookup(fieldName);
    if (!info)
        invalidFilter(QStringLiteral("unknown field '%1'").arg(fieldName));
    Expr field = node(ExprKind::Field, {}, info->sql);
    field.fieldType = info->type;

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
        if (op != QLatin1String("=") && op != QLatin1String("<>"))
            invalidFilter(QStringLiteral("Null compares only with = or <>"));
        Expr test = node(ExprKind::IsNull, {std::move(field)});
        test.negated = op == QLatin1String("<>");
        return test;
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
        const bool textField = field.fieldType == tree::FieldType::Text;
        Expr like = node(ExprKind::Like, {std::move(field), node(ExprKind::Text, {}, pattern)});
        // A prefix without letters of two cases (a kana reading) is also a range,
        // which an index on the field can serve.
        const bool caseless = std::all_of(core.cbegin(), core.cend(), [](QChar c) { return c.toUpper() == c.toLower(); });
        if (trailing && !leading && !core.isEmpty() && caseless && textField && !core.back().isSurrogate()
            && core.back().unicode() < 0xFFFF)
            like.text = core;
        return like;
    }

    Expr literal = literalFor(field.fieldType, valueToken, negative);
    return node(ExprKind::Compare, {std::move(field), std::move(literal)}, op);
}

Expr FilterParser::literalFor(tree::FieldType type, const Token &value, bool negative)
{
    const auto dateOf = [](const QString &text) {
        const std::optional<QDateTime> moment = parseJetDate(text);
        if (!moment)
            invalidFilter(QStringLiteral("'%1' is not a date").arg(text));
        return dateNode(*moment);
    };
    const auto numberOf = [negative](const QString &text) {
        const std::optional<double> number = readNumber(text);
        if (!number)
            invalidFilter(QStringLiteral("'%1' is not a number").arg(text));
        return negative ? -*number : *number;
    };
    const auto numberNode = [](double number) { return node(ExprKind::Number, {}, numberLiteral(number)); };
    const bool isTrue = value.type == TokenType::Identifier
        && value.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
    const bool isFalse = value.type == TokenType::Identifier
        && value.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0;
    const bool plain = value.type == TokenType::String || value.type == TokenType::Number
        || value.type == TokenType::DateLiteral;
    if (!plain && !isTrue && !isFalse)
        invalidFilter(QStringLiteral("a value expected"));

    switch (type) {
    case tree::FieldType::Number:
        if (isTrue || isFalse)
            return booleanNode(isTrue);
        if (value.type == TokenType::DateLiteral)
            return numberNode(dateOf(value.text).day);
        return numberNode(numberOf(value.text));
    case tree::FieldType::Date:
        if (value.type == TokenType::Number) {
            // A day number names the same moment on every back end.
            Expr date = node(ExprKind::Date);
            date.day = numberOf(value.text);
            date.moment = fromDayNumber(date.day);
            return date;
        }
        if (isTrue || isFalse)
            invalidFilter(QStringLiteral("a date expected"));
        return dateOf(value.text);
    case tree::FieldType::Boolean: {
        if (isTrue || isFalse)
            return booleanNode(isTrue);
        if (value.type == TokenType::Number)
            return booleanNode(numberOf(value.text) != 0);
        const QString text = value.text.trimmed().toUpper();
        if (text == QLatin1String("TRUE") || text == QLatin1String("-1"))
            return booleanNode(true);
        if (text == QLatin1String("FALSE") || text == QLatin1String("0"))
            return booleanNode(false);
        invalidFilter(QStringLiteral("'%1' is not a Yes/No value").arg(value.text));
    }
    case tree::FieldType::Text:
        if (value.type == TokenType::DateLiteral || isTrue || isFalse)
            invalidFilter(QStringLiteral("a text expected"));
        return node(ExprKind::Text, {}, negative ? QLatin1Char('-') + value.text : value.text);
    case tree::FieldType::Unknown:
        break;
    }
    if (isTrue || isFalse)
        return booleanNode(isTrue);
    if (value.type == TokenType::Number)
        return numberNode(numberOf(value.text));
    if (value.type == TokenType::DateLiteral)
        return dateOf(value.text);
    return node(ExprKind::Text, {}, value.text);
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
QString quoteIdentifier(const QString &name, Dialect dialect)
{
    if (dialect == Dialect::Postgres) {
        // The server cuts a longer name short without a word, and two names
        // cut alike would then mean the same column.
        if (name.toUtf8().size() > 63)
            syntaxError(QStringLiteral("the name '%1' is longer than the server's 63 bytes").arg(name));
        if (name.contains(QChar(0)))
            syntaxError(QStringLiteral("a name with a NUL character"));
        QString quoted = name;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // Back-quotes, not double quotes: SQLite reads a double-quoted name that
    // names no column as a string literal, which would turn a misspelt column
    // into text instead of the missing-column error the windows rely on.
    QString quoted = name;
    quoted.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

QString quoteString(const QString &text, Dialect dialect)
{
    if (dialect == Dialect::Postgres) {
        // The server's text holds no NUL character at all.
        if (text.contains(QChar(0)))
            syntaxError(QStringLiteral("a text with a NUL character"));
        QString quoted = text;
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        return QLatin1Char('\'') + quoted + QLatin1Char('\'');
    }
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

QString sameValueAsParameter(const QString &expression, Dialect dialect)
{
    return expression + (dialect == Dialect::Postgres ? QStringLiteral(" IS NOT DISTINCT FROM ?") : QStringLiteral(" IS ?"));
}

QString lockingRead(Dialect dialect)
{
    return dialect == Dialect::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
}

Statement translate(const QString &jetSql, Dialect dialect, const YesNoLookup &yesNo)
{
    Parser parser(tokenize(jetSql));
    return emitStatement(parser.statement(), dialect, yesNo);
}

QString translateFilter(const QString &filter, const FieldLookup &lookup, Dialect dialect)
{
    if (filter.trimmed().isEmpty())
        return QString();
    FilterParser parser(filterTokens(filter), lookup);
    const Expr condition = parser.disjunction();
    if (!parser.atEnd())
        invalidFilter(QStringLiteral("text after the end of the filter"));
    return emitCondition(condition, dialect);
}

QString translateCriterion(const QString &criterion, const FieldLookup &lookup, Dialect dialect)
{
    FilterParser parser(filterTokens(criterion), lookup);
    const Expr condition = parser.comparison();
    if (!parser.atEnd())
        invalidFilter(QStringLiteral("a criterion holds one comparison"));
    return emitCondition(condition, dialect);
}

} // namespace jet::sql
