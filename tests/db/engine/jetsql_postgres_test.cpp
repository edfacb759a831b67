#include "db/engine/error.h"
#include "db/engine/jetsql.h"

#include <gtest/gtest.h>

using namespace jet::sql;
using jet::Dialect;

namespace {

std::string pg(const QString &jetSql)
{
    return translate(jetSql, Dialect::Postgres).text.toStdString();
}

qint32 pgError(const QString &jetSql)
{
    try {
        translate(jetSql, Dialect::Postgres);
    } catch (const jet::Error &e) {
        return e.number();
    }
    return 0;
}

// The constructs the lists, documents, statistics and record windows send.
TEST(JetSqlPostgresTest, TheProgramsConstructsKeepJetsMeaningOnTheServer)
{
    const struct
    {
        const char *jet;
        const char *server;
    } cases[] = {
        // Dates are timestamps; a day count added or taken goes through the schema.
        {"SELECT DateDiff('d', 入院日, Now()) AS 日数 FROM 入退院情報 WHERE 退院日 > #2003/04/01 10:30#",
         R"sql(SELECT jet.datediff('d', "入院日", jet.now()) AS "日数" FROM "入退院情報" WHERE ("退院日" > timestamp '2003-04-01 10:30:00'))sql"},
        {"SELECT ROUND((DateDiff('d', 生年月日-1, NOW()) / 365.25), 0) AS 年齢, 1 + 2 - Len(氏名), 入院日 + 1 FROM 患者情報",
         R"sql(SELECT jet.round((CAST(jet.datediff('d', jet.sub("生年月日", 1), jet.now()) AS double precision) / NULLIF(365.25, 0)), 0) AS "年齢", ((1 + 2) - jet.len("氏名")) AS "Expr1000", jet.add("入院日", 1) AS "Expr1001" FROM "患者情報")sql"},
        // A comparison as a value is -1/0; a value as a condition is true when not 0.
        // A day count against a number is also a range on the column, for its index.
        {"SELECT IIf(DateDiff('d', 入院日, Now()) <=7, '新', ''), 外入の別 = True FROM 入退院情報 WHERE 外入の別 AND Not 転帰",
         R"sql(SELECT (CASE WHEN (("入院日" >= (CAST(jet.now() AS date) - 7)) AND (jet.datediff('d', "入院日", jet.now()) <= 7)) THEN '新' ELSE '' END) AS "Expr1000", (-(("外入の別" = (-1)))::integer) AS "Expr1001" FROM "入退院情報" WHERE (("外入の別" <> 0) AND (NOT ("転帰" <> 0))))sql"},
        {"SELECT ICDコード & ' ' & 診断名, mid$(ICDコード,1,2), Nz(診断名) FROM `診断名(ICD10)` WHERE 診断名 Not Like 'う*' OR ICDコード Like ?",
         R"sql(SELECT jet.concat(jet.concat("ICDコード", ' '), "診断名") AS "Expr1000", jet.mid("ICDコード", 1, 2) AS "Expr1001", COALESCE(jet.concat("診断名", NULL::text), '') AS "Expr1002" FROM "診断名(ICD10)" WHERE ((NOT jet.like("診断名", 'う*')) OR (jet.like("ICDコード", $1))))sql"},
        {"SELECT TOP 5 \"a\"\"b\", 7 \\ 2, 7 Mod 2, 2 ^ 3, 'a' + 'b' FROM [say \"x\"] WHERE a IN (1, ?) AND b BETWEEN ? AND ?",
         R"sql(SELECT 'a"b' AS "Expr1000", jet.idiv(7, 2) AS "Expr1001", jet.mod(7, 2) AS "Expr1002", jet.pow(2, 3) AS "Expr1003", ('a' || 'b') AS "Expr1004" FROM "say ""x""" WHERE (("a" IN (1, $1)) AND ("b" BETWEEN $2 AND $3)) LIMIT 5)sql"},
        // The server takes nested and right joins as they are, and no two output columns of one name.
        {"SELECT 主治医.主治医, 主治医_1.主治医 FROM 外来 RIGHT JOIN (主治医 INNER JOIN 主治医 AS 主治医_1 ON 主治医.a = 主治医_1.a) ON 外来.a = 主治医.a",
         R"sql(SELECT "主治医"."主治医", "主治医_1"."主治医" AS "主治医_1.主治医" FROM "外来" RIGHT JOIN ("主治医" INNER JOIN "主治医" AS "主治医_1" ON ("主治医"."a" = "主治医_1"."a")) ON ("外来"."a" = "主治医"."a"))sql"},
        {"INSERT INTO 検査情報 (入退院ID) SELECT 入退院ID FROM 入退院情報 WHERE 入退院ID = ? AND NOT EXISTS (SELECT 入退院ID FROM 検査情報 WHERE 入退院ID = ?)",
         R"sql(INSERT INTO "検査情報" ("入退院ID") SELECT "入退院ID" FROM "入退院情報" WHERE (("入退院ID" = $1) AND (NOT (EXISTS (SELECT "入退院ID" FROM "検査情報" WHERE ("入退院ID" = $2))))))sql"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pg(QString::fromUtf8(c.jet)), c.server) << c.jet;

    const Statement def = translate(QStringLiteral("ALTER TABLE t ALTER COLUMN d SET DEFAULT #2003/04/01#"), Dialect::Postgres);
    EXPECT_EQ(def.defaultSql.toStdString(), "timestamp '2003-04-01 00:00:00'");
}

// "Admitted by today and not discharged before it" is also written as one
// expression of both dates, which the server indexes; the clauses may stand
// anywhere in the chain of ANDs, and the file's text stays as it was.
TEST(JetSqlPostgresTest, ADateSpanHoldingADayIsAlsoOneExpressionOfBothColumns)
{
    const QString current = QStringLiteral(
        "SELECT e.入退院ID FROM 患者情報 INNER JOIN 入退院情報 AS e ON 患者情報.カルテID = e.カルテID "
        "WHERE 患者情報.性別 = 1 AND DateDiff('d', e.入院日, Now()) >= 0 AND e.カルテID > 0 "
        "AND (DateDiff('d', e.退院日, Now()) Is Null OR DateDiff('d', e.退院日, Now()) < 0)");
    const Statement server = translate(current, Dialect::Postgres);
    EXPECT_EQ(server.text.count(QStringLiteral("jet.until")), 1);
    EXPECT_TRUE(server.text.endsWith(
        QStringLiteral(R"sql( AND (jet.until("e"."入院日", "e"."退院日") >= (CAST(jet.now() AS date) - 0) + 1)))sql")))
        << server.text.toStdString();
    EXPECT_EQ(server.select.spans,
              (QList<DateSpan>{{QStringLiteral("入退院情報"), QStringLiteral("入院日"), QStringLiteral("退院日")}}));
    EXPECT_FALSE(translate(current).text.contains(QStringLiteral("until")));

    // Not a span: the dates of two tables, an end that must be set, an end before the day.
    for (const char *other : {
             "SELECT 1 FROM a, b WHERE DateDiff('d', a.入院日, Now()) >= 0 AND (DateDiff('d', b.退院日, Now()) <= 0 OR b.退院日 Is Null)",
             "SELECT 1 FROM a WHERE DateDiff('d', 入院日, Now()) >= 0 AND (DateDiff('d', 退院日, Now()) <= 0 OR 退院日 Is Not Null)",
             "SELECT 1 FROM a WHERE DateDiff('d', 入院日, Now()) >= 0 AND (DateDiff('d', 退院日, Now()) >= 0 OR 退院日 Is Null)"})
        EXPECT_EQ(pg(QString::fromUtf8(other)).find("jet.until"), std::string::npos) << other;
}

TEST(JetSqlPostgresTest, WhatTheServerCannotBeToldIsASyntaxErrorNotOtherText)
{
    EXPECT_EQ(pgError(QStringLiteral("SELECT x FROM (SELECT 1 AS x)")), jet::err::SyntaxError);
    EXPECT_EQ(pgError(QStringLiteral("SELECT [%1] FROM t").arg(QStringLiteral("診").repeated(22))), jet::err::SyntaxError);
    EXPECT_EQ(pgError(QStringLiteral("SELECT [%1] FROM t").arg(QStringLiteral("診").repeated(21))), 0);
    EXPECT_EQ(pgError(QStringLiteral("SELECT 'a") + QChar(0) + QStringLiteral("b'")), jet::err::SyntaxError);
    // The same text on a file keeps working.
    EXPECT_NO_THROW(translate(QStringLiteral("SELECT x FROM (SELECT 1 AS x)")));
}

TEST(JetSqlPostgresTest, FiltersCompareDatesAsTimestampsAndKanaPrefixesInCodePointOrder)
{
    const FieldLookup fields = [](const QString &name) -> std::optional<FieldInfo> {
        if (name == u"かな氏名")
            return FieldInfo{QStringLiteral("\"かな氏名\""), FieldInfo::Type::Text};
        if (name == u"入院日")
            return FieldInfo{QStringLiteral("\"入院日\""), FieldInfo::Type::Date};
        if (name == u"外入の別")
            return FieldInfo{QStringLiteral("\"外入の別\""), FieldInfo::Type::Boolean};
        return std::nullopt;
    };
    const auto filter = [&](const char *text) {
        return translateFilter(QString::fromUtf8(text), fields, Dialect::Postgres).toStdString();
    };
    EXPECT_EQ(filter("入院日 >= 37712 AND 入院日 < #2003/04/02#"),
              R"sql((("入院日" >= timestamp '2003-04-01 00:00:00') AND ("入院日" < timestamp '2003-04-02 00:00:00')))sql");
    EXPECT_EQ(filter("かな氏名 LIKE 'たな*' OR 外入の別 = True"),
              R"sql((("かな氏名" COLLATE "C" >= 'たな' AND "かな氏名" COLLATE "C" < 'たに') OR ("外入の別" = (-1))))sql");
}

} // namespace
