#include "db/engine/clock.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql.h"
#include "support/sqlitefunctions.h"
#include "support/testserver.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <memory>

namespace {

using testing_support::ServerDatabase;
using testing_support::ServerError;

// An expression as the SQLite text calls the functions; {2003-04-01 18:00} is
// a date and {true} a Yes/No value, written in each back end's own form.  The
// server's text is the same with jet.name for jet_name unless given.
struct Case
{
    const char *sqlite;
    const char *server = nullptr;
};

QString inDialect(QString text, bool server)
{
    static const QRegularExpression braces(QStringLiteral("\\{([^}]*)\\}"));
    QRegularExpressionMatch m;
    while ((m = braces.match(text)).hasMatch()) {
        const QString inner = m.captured(1);
        QString value;
        if (inner == QLatin1String("true") || inner == QLatin1String("false"))
            value = server ? inner : inner == QLatin1String("true") ? QStringLiteral("-1") : QStringLiteral("0");
        else if (server)
            value = QStringLiteral("timestamp '%1'").arg(inner);
        else
            value = QString::number(jet::toDayNumber(*jet::parseJetDate(inner)), 'g', 17);
        text.replace(m.capturedStart(), m.capturedLength(), value);
    }
    return server ? text.replace(QStringLiteral("jet_"), QStringLiteral("jet.")) : text;
}

class SameValueOnBothBackEnds : public ::testing::Test
{
protected:
    void SetUp() override
    {
        jet::Clock::setFixed(QDateTime(QDate(2003, 4, 1), QTime(18, 0)));
        m_server = std::make_unique<ServerDatabase>(testing_support::testServerConninfo());
        m_server->installJetFunctions();
        m_server->exec("SET search_path = public, jet; SET jet.now = '2003-04-01 18:00'");
    }
    void TearDown() override { jet::Clock::setSystem(); }

    // The value, or the error's message.
    std::pair<QVariant, QString> onSqlite(const QString &expression)
    {
        try {
            return {m_sqlite.eval(expression), QString()};
        } catch (const std::runtime_error &e) {
            return {{}, QString::fromUtf8(e.what())};
        }
    }
    std::pair<QVariant, QString> onServer(const QString &expression)
    {
        try {
            return {m_server->value("SELECT " + expression.toUtf8()), QString()};
        } catch (const ServerError &e) {
            return {{}, QString::fromUtf8(e.what())};
        }
    }

    void expectSameValue(const Case &c)
    {
        const QString sqliteText = inDialect(QString::fromUtf8(c.sqlite), false);
        const QString serverText = inDialect(QString::fromUtf8(c.server ? c.server : c.sqlite), true);
        SCOPED_TRACE(serverText.toStdString());
        const auto [lite, liteError] = onSqlite(sqliteText);
        const auto [server, serverError] = onServer(serverText);
        EXPECT_EQ(serverError.toStdString(), liteError.toStdString());
        EXPECT_EQ(server.isNull(), lite.isNull());
        if (server.isNull() || lite.isNull())
            return;
        if (server.typeId() == QMetaType::QDateTime) {
            // The same moment; Jet writes some moments before 1900 with two day numbers.
            EXPECT_EQ(server.toDateTime(), jet::fromDayNumber(lite.toDouble()));
        } else if (server.typeId() == QMetaType::QString) {
            EXPECT_EQ(server.toString().toStdString(), lite.toString().toStdString());
        } else {
            // Yes/No reads as 1/0, as SQLite gives comparisons.
            EXPECT_DOUBLE_EQ(server.toDouble(), lite.toDouble());
        }
    }

    testing_support::SqliteFunctions m_sqlite;
    std::unique_ptr<ServerDatabase> m_server;
};

const Case kCases[] = {
    // Interval boundaries, not elapsed time; before 1900 the fraction still counts forward.
    {"jet_datediff('d', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('y', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('yyyy', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('q', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('M', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('h', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('n', {2002-12-31 18:00}, {2003-01-01 06:00})"},
    {"jet_datediff('s', {2003-01-01 06:00}, {2002-12-31 18:00})"},
    {"jet_datediff('ww', {2003-03-29}, {2003-03-30})"},
    {"jet_datediff('w', {2003-03-29}, {2003-03-30})"},
    {"jet_datediff('w', {2003-03-15}, {2003-03-01})"},
    {"jet_datediff('ww', -10, 10)"},
    {"jet_datediff('d', -1.25, 1.25)"},
    {"jet_datediff('h', -1.25, 0)"},
    {"jet_datediff('d', -1.75, -1.25)"},
    {"jet_datediff('n', -1.25, {1899-12-29 07:30})"},
    {"jet_datediff('d', '2003/04/01', '2003-04-03 12:00')"},
    {"jet_datediff('d', '4/1/2003', {2003-04-03})"},
    {"jet_datediff('x', 1, 2)"},
    {"jet_datediff('d', 'soon', 1)"},
    {"jet_datediff('m', '2003/02/30', 1)"},
    {"jet_datediff(NULL, 1, 2)"},
    // Month ends stay month ends; Jet's dates end with the year 9999.
    {"jet_dateadd('m', 1, {2003-01-31})"},
    {"jet_dateadd('yyyy', 1, {2004-02-29})"},
    {"jet_dateadd('q', 1, {2003-11-30})"},
    {"jet_dateadd('ww', -4, {2003-04-29})"},
    {"jet_dateadd('h', 6, {2003-04-01})"},
    {"jet_dateadd('n', -90, {2003-04-01})"},
    {"jet_dateadd('d', 1.9, '2003/04/01')"},
    {"jet_dateadd('h', 1, -1.25)"},
    {"jet_dateadd('s', 1e18, 0)"},
    {"jet_dateadd('yyyy', 1e6, 0)"},
    {"jet_dateadd('yyyy', 7997, {2003-01-01})"},
    {"jet_dateadd('d', -1, {0100-01-01})"},
    {"jet_dateadd('d', NULL, 1)"},
    {"jet_now()"},
    {"jet_date()"},
    {"jet_hour(jet_now())"},
    {"jet_year(-1.25)"},
    {"jet_hour(-1.25)"},
    {"jet_day('2003/04/05')"},
    {"jet_second({2003-04-01 10:20:30})"},
    {"jet_month(4e6)"},
    {"jet_year(NULL)"},
    // Text is cut by characters; numbers and Yes/No print as Jet prints them.
    {"jet_left('ネモリア', 2)"},
    {"jet_right('ネモリア', 9)"},
    {"jet_left('a', -1)"},
    {"jet_left({true}, 1)"},
    {"jet_mid('ネモリア', 2)"},
    {"jet_mid('abcdef', 2.5, 3)"},
    {"jet_mid('abc', 5)"},
    {"jet_mid('abc', 0)"},
    {"jet_mid('abc', 1, -1)"},
    {"jet_mid(12345, 2, 2)"},
    {"jet_mid(NULL, 2)"},
    {"jet_len('ネモリア')"},
    {"jet_len(12.50)"},
    {"jet_trim('　 山田 　')"},
    {"jet_ltrim('  a ')"},
    {"jet_rtrim('  a ')"},
    {"jet_ucase('abｃ')"},
    {"jet_lcase('ÄB')"},
    {"jet_concat(1.0, '')"},
    {"jet_concat(0.1 + 0.2, '')"},
    {"jet_concat(-2.5, 'x')"},
    {"jet_concat(1e20, '')"},
    {"jet_concat(1.5e-7, '')"},
    {"jet_concat(123456789012.345, '')"},
    {"jet_concat(NULL, 'a')"},
    {"jet_concat(NULL, NULL)"},
    {"jet_concat({true}, {false})"},
    {"jet_cstr(365.25)"},
    {"jet_cstr(NULL)"},
    // Conversions round halves to even; Null and nonsense are errors.
    {"jet_int(-2.5)"},
    {"jet_fix(-2.5)"},
    {"jet_int(7)"},
    {"jet_val('12abc')"},
    {"jet_val(' 1 2.5x')"},
    {"jet_val('-.5e1x')"},
    {"jet_val('abc')"},
    {"jet_val(NULL)"},
    {"jet_clng(2.5)"},
    {"jet_clng(-2.5)"},
    {"jet_clng('3.5')"},
    {"jet_clng('many')"},
    {"jet_clng(3e9)"},
    {"jet_cdbl('1.25')"},
    {"jet_cdate('2003/04/01')"},
    {"jet_cdate(37712.5)"},
    {"jet_cdate('x')"},
    {"jet_cdate(NULL)"},
    {"jet_idiv(7.5, 2)"},
    {"jet_idiv(-7, 2)"},
    {"jet_idiv(1, 0.4)"},
    {"jet_mod(6.5, 4)"},
    {"jet_mod(-7, 3)"},
    {"jet_mod(NULL, 3)"},
    {"jet_pow(2, 0.5)"},
    {"jet_pow(0, -1)"},
    {"jet_pow(-8, 0.5)"},
    {"jet_round(2.345, 2)"},
    {"jet_round(2.355, 2)"},
    {"jet_round(0.125, 2)"},
    {"jet_round(1.5)"},
    {"jet_round(-2.5)"},
    {"jet_round(7, 0)"},
    {"jet_round(1.5, -1)"},
    // Like's wildcards, lists and ranges, without regard to case or width.
    {"jet_like('F25.1', 'F2*')"},
    {"jet_like('f25.1', 'F##.#')"},
    {"jet_like('Ｆ', 'ｆ')"},
    {"jet_like('たなか', 'た[なか]か')"},
    {"jet_like('たなか', '*な')"},
    {"jet_like('', '*')"},
    {"jet_like('ab', 'a')"},
    {"jet_like('axb', 'a.b')"},
    {"jet_like('a+b', 'a+b')"},
    {"jet_like('q', '[!a-c]')"},
    {"jet_like('b', '[]')"},
    {"jet_like(12, '1?')"},
    {"jet_like('a', '[a')"},
    {"jet_like(NULL, '*')"},
    // Yes/No against -1 and 0; + and − on dates by day numbers.
    {"({true} = -1)"},
    {"({true} = 1)"},
    {"({false} <> 0)"},
    {"({true} <> -1)"},
    {"(0 = {false})"},
    {"({false} = 2.5)"},
    {"{2003-04-01} + 1.5", "jet.add({2003-04-01}, 1.5)"},
    {"-1.25 + 0.5", "jet.add({1899-12-29 06:00}, 0.5)"},
    {"{2003-04-01} - {2003-03-01 12:00}", "jet.sub({2003-04-01}, {2003-03-01 12:00})"},
    {"{2003-04-01} - 31", "jet.sub({2003-04-01}, 31)"},
    {"NULL", "jet.add(NULL, NULL)"},
    {"'2' + 3", "jet.add(varchar '2', 3)"},
    {"{true} + 1", "jet.add({true}, 1)"},
};

TEST_F(SameValueOnBothBackEnds, EveryJetFunction)
{
    for (const Case &c : kCases)
        expectSameValue(c);
}

// The functions are created again on every upgrade; the ledger's views that
// call them must outlive that.
TEST(ServerJetFunctions, CreatingThemAgainKeepsTheViewsThatUseThem)
{
    ServerDatabase db(testing_support::testServerConninfo());
    db.installJetFunctions();
    db.exec("CREATE VIEW public.\"コード\" AS SELECT jet.left('F20.1', 3) AS code WHERE true OPERATOR(jet.=) -1");
    db.installJetFunctions();
    EXPECT_EQ(db.value("SELECT code FROM public.\"コード\"").toString(), QStringLiteral("F20"));
}

} // namespace
