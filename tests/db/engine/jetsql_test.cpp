#include "db/engine/clock.h"
#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql.h"
#include "db/engine/sqlite/sqlfunctions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QVariant>
#include <stdexcept>

using namespace jet::sql;
using Kind = jet::sql::Statement::Kind;

namespace {

std::string s(const QString &text)
{
    return text.toStdString();
}

// An in-memory database with the engine's functions and a small ward.
class Ward
{
public:
    Ward()
    {
        sqlite3_open(":memory:", &m_db);
        registerFunctions(m_db);
    }
    ~Ward() { sqlite3_close(m_db); }
    Ward(const Ward &) = delete;
    Ward &operator=(const Ward &) = delete;

    void exec(const QString &sql)
    {
        char *message = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "";
            sqlite3_free(message);
            throw std::runtime_error(text + " in " + sql.toStdString());
        }
    }

    QList<QVariantList> rows(const QString &sql, const QVariantList &parameters = {})
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sqlite3_errmsg(m_db)) + " in " + sql.toStdString());
        for (int i = 0; i < parameters.size(); ++i)
            sqlite3_bind_int64(stmt, i + 1, parameters[i].toLongLong());
        QList<QVariantList> result;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QVariantList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_INTEGER:
                    row.append(qint64(sqlite3_column_int64(stmt, c)));
                    break;
                case SQLITE_FLOAT:
                    row.append(sqlite3_column_double(stmt, c));
                    break;
                case SQLITE_NULL:
                    row.append(QVariant());
                    break;
                default:
                    row.append(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c))));
                }
            }
            result.append(row);
        }
        const std::string error = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        if (!error.empty())
            throw std::runtime_error(error);
        return result;
    }

    QList<QVariantList> run(const QString &jetSql, const QVariantList &parameters = {})
    {
        return rows(translate(jetSql).text, parameters);
    }

    QVariant value(const QString &jetExpression) { return run(QStringLiteral("SELECT ") + jetExpression).at(0).at(0); }
    QString text(const QString &jetExpression) { return value(jetExpression).toString(); }

    // The clinical and code tables with the columns the program's SQL names.
    void createSchema()
    {
        exec(QStringLiteral(
            R"sql(CREATE TABLE "患者情報" ("カルテID" INTEGER PRIMARY KEY, "かな氏名" TEXT, "氏名" TEXT, "生年月日" REAL,
                   "性別" INTEGER, "診断名①" INTEGER, "診断名②" INTEGER, "診断名③" INTEGER);
               CREATE TABLE "入退院情報" ("入退院ID" INTEGER PRIMARY KEY, "カルテID" INTEGER, "入院日" REAL, "退院日" REAL,
                   "一時診断名" TEXT, "ポリクリ" TEXT, "現病歴" TEXT, "入院後経過" TEXT, "個別注意事項" TEXT,
                   "主治医①" INTEGER, "主治医②" INTEGER, "入院形態" INTEGER, "病室番号" INTEGER, "ベッド番号" INTEGER,
                   "扱別" INTEGER, "転帰" INTEGER, "時間外頻度" INTEGER, "外入の別" INTEGER DEFAULT 0);
               CREATE TABLE "検査情報" ("入退院ID" INTEGER, "検査(ＣＴ)" TEXT);
               CREATE TABLE "32条診断書" ("カルテID" INTEGER, "主精神障害" INTEGER, "従精神障害" INTEGER);
               CREATE TABLE "診断名(ICD10)" ("診断ID" INTEGER PRIMARY KEY, "診断名" TEXT, "ICDコード" TEXT);
               CREATE TABLE "病室番号" ("病室ID" INTEGER PRIMARY KEY, "病室番号" TEXT);
               CREATE TABLE "ベッド番号" ("ベッドID" INTEGER PRIMARY KEY, "ベッド番号" TEXT);
               CREATE TABLE "主治医" ("主治医ID" INTEGER PRIMARY KEY, "主治医" TEXT);
               CREATE TABLE "入院形態" ("入院形態ID" INTEGER PRIMARY KEY, "入院形態" TEXT, "略称" TEXT);
               CREATE TABLE "性別" ("性別ID" INTEGER PRIMARY KEY, "性別" TEXT, "略称" TEXT);
               CREATE TABLE "扱別" ("扱別ID" INTEGER PRIMARY KEY, "扱別" TEXT);
               CREATE TABLE "転帰" ("転帰ID" INTEGER PRIMARY KEY, "転帰" TEXT);
               CREATE TABLE "時間外頻度" ("時間外頻度ID" INTEGER PRIMARY KEY, "時間外頻度" TEXT);
               INSERT INTO "診断名(ICD10)" VALUES (1, '-', '-'), (2, '統合失調症', 'F20'), (3, '統合失調感情障害', 'F25.1'), (4, 'うつ病エピソード', 'F32');
               INSERT INTO "病室番号" VALUES (1, '-'), (2, '101'), (3, '202');
               INSERT INTO "ベッド番号" VALUES (1, '-'), (2, 'A'), (3, 'B');
               INSERT INTO "主治医" VALUES (1, '-'), (2, '山田');
               INSERT INTO "入院形態" VALUES (1, '-', '-'), (2, '医療保護入院', '医保');
               INSERT INTO "性別" VALUES (1, '-', '-'), (2, '男性', '男'), (3, '女性', '女');
               INSERT INTO "扱別" VALUES (1, '-');
               INSERT INTO "転帰" VALUES (1, '-');
               INSERT INTO "時間外頻度" VALUES (1, '-'), (2, 'ない');)sql"));
        const auto day = [](int y, int m, int d) { return QString::number(jet::toDayNumber(QDate(y, m, d))); };
        exec(QStringLiteral(R"sql(INSERT INTO "患者情報" VALUES (1, 'たなか', '田中', %1, 2, 2, 1, 1), (2, 'たかはし', '高橋', %2, 3, 3, 1, 1),
                                      (3, 'だて', '伊達', NULL, 2, 4, 1, 1);)sql")
                 .arg(day(2000, 1, 15), day(1970, 4, 2)));
        // Today is 2003-04-01: 1 admitted 7 days ago, 2 eight days ago and discharged today,
        // 3 discharged yesterday, 4 an outpatient course, 5 admitted in the future.
        exec(QStringLiteral(R"sql(INSERT INTO "入退院情報" ("入退院ID", "カルテID", "入院日", "退院日", "主治医①", "主治医②", "入院形態", "病室番号", "ベッド番号", "扱別", "転帰", "時間外頻度", "外入の別")
               VALUES (1, 1, %1, NULL, 2, 1, 2, 3, 2, 1, 1, 1, 0), (2, 2, %2, %3, 2, 2, 2, 2, 3, 1, 1, 1, 0),
                      (3, 3, %4, %5, 1, 1, 1, 2, 2, 1, 1, 1, 0), (4, 1, NULL, NULL, 2, 1, 1, 1, 1, 1, 1, 2, -1),
                      (5, 2, %6, NULL, 2, 2, 2, 2, 2, 1, 1, 1, 0);
               INSERT INTO "検査情報" VALUES (1, 'CT'), (2, NULL), (3, NULL), (4, NULL), (5, NULL);
               INSERT INTO "32条診断書" VALUES (1, 2, 1), (2, 3, 1);)sql")
                 .arg(day(2003, 3, 25), day(2003, 3, 24), day(2003, 4, 1), day(2003, 1, 1), day(2003, 3, 31),
                      day(2003, 4, 5)));
    }

private:
    sqlite3 *m_db = nullptr;
};

class JetSqlTest : public ::testing::Test
{
protected:
    void SetUp() override { jet::Clock::setFixed(QDateTime(QDate(2003, 4, 1), QTime(10, 30))); }
    void TearDown() override { jet::Clock::setSystem(); }
    Ward ward;
};

template<typename F>
qint32 errorNumber(F &&f)
{
    try {
        f();
    } catch (const jet::Error &e) {
        return e.number();
    }
    return 0;
}

// The inpatient list query as the list-order window writes it.
const QString kCurrentInpatients = QStringLiteral(
    "SELECT 病室番号.病室番号 AS 病室番号, ベッド番号.ベッド番号 AS ベッド番号, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, 入退院情報.入院日 AS 入院日, 入退院情報.退院日 AS 退院日, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.ポリクリ AS ポリクリ, 入退院情報.入退院ID AS 入退院ID, 患者情報.性別 AS 性別, 入退院情報.カルテID AS カルテID, 入退院情報.現病歴 AS 現病歴, 主治医.主治医, 主治医_1.主治医, 入院形態.略称 AS 略称, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, IIf(DateDiff('d', 入退院情報.入院日, Now()) <=7, '新', '') AS 新規入院, DateDiff('d', 入退院情報.入院日, Now()) AS 入院日数, DateDiff('d', 入退院情報.退院日, Now()) AS 入院条件 "
    "FROM 患者情報 INNER JOIN ((病室番号 INNER JOIN (入院形態 INNER JOIN (主治医 INNER JOIN (ベッド番号 INNER JOIN 入退院情報 ON ベッド番号.ベッドID = 入退院情報.ベッド番号) ON 主治医.主治医ID = 入退院情報.主治医①) ON 入院形態.入院形態ID = 入退院情報.入院形態) ON 病室番号.病室ID = 入退院情報.病室番号) INNER JOIN 主治医 AS 主治医_1 ON 入退院情報.主治医② = 主治医_1.主治医ID) ON 患者情報.カルテID = 入退院情報.カルテID "
    "WHERE DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null) ");

} // namespace

// --- tokenizer ---------------------------------------------------------------

TEST(JetSqlTokenizer, JapaneseNamesDigitsAndOperators)
{
    const std::vector<Token> t = tokenize(QStringLiteral("生年月日-1 主治医① 家族歴・家族構成・遺伝負因 32条診断書 Mid$"));
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0].type, TokenType::Identifier);
    EXPECT_EQ(s(t[0].text), "生年月日");
    EXPECT_EQ(t[1].type, TokenType::Operator);
    EXPECT_EQ(t[2].type, TokenType::Number);
    EXPECT_EQ(s(t[3].text), "主治医①");
    EXPECT_EQ(s(t[4].text), "家族歴・家族構成・遺伝負因");
    EXPECT_EQ(t[5].type, TokenType::Identifier);
    EXPECT_EQ(s(t[5].text), "32条診断書");
    EXPECT_EQ(s(t[6].text), "Mid$");
    EXPECT_EQ(t[6].position, 33);
}

TEST(JetSqlTokenizer, NumbersAgainstNamesThatBeginWithDigits)
{
    const auto types = [](const QString &text) {
        std::vector<TokenType> result;
        for (const Token &t : tokenize(text))
            result.push_back(t.type);
        return result;
    };
    using T = TokenType;
    EXPECT_EQ(types(QStringLiteral("1.5 .5 1e3 2E-2")), (std::vector<T>{T::Number, T::Number, T::Number, T::Number}));
    EXPECT_EQ(types(QStringLiteral("12abc")), (std::vector<T>{T::Identifier}));
    EXPECT_EQ(types(QStringLiteral("1else")), (std::vector<T>{T::Identifier}));
    // After a name the dot qualifies: 表.32条 is a qualified name, not a number.
    EXPECT_EQ(types(QStringLiteral("表.32条")), (std::vector<T>{T::Identifier, T::Punct, T::Identifier}));
    EXPECT_EQ(types(QStringLiteral("a<=b<>c>=d")),
              (std::vector<T>{T::Identifier, T::Operator, T::Identifier, T::Operator, T::Identifier, T::Operator, T::Identifier}));
    EXPECT_EQ(types(QStringLiteral("x--1")), (std::vector<T>{T::Identifier, T::Operator, T::Operator, T::Number}));
}

TEST(JetSqlTokenizer, QuotedNamesStringsDatesAndParameters)
{
    const std::vector<Token> t = tokenize(
        QStringLiteral("`診断名(ICD10)`.[ICD コード] 'it''s' \"say \"\"hi\"\"\" #2003/04/01# ? ;"));
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0].type, TokenType::QuotedIdentifier);
    EXPECT_EQ(s(t[0].text), "診断名(ICD10)");
    EXPECT_EQ(s(t[2].text), "ICD コード");
    EXPECT_EQ(t[3].type, TokenType::String);
    EXPECT_EQ(s(t[3].text), "it's");
    EXPECT_EQ(s(t[4].text), "say \"hi\"");
    EXPECT_EQ(t[5].type, TokenType::DateLiteral);
    EXPECT_EQ(s(t[5].text), "2003/04/01");
    EXPECT_EQ(t[6].type, TokenType::Parameter);
    EXPECT_EQ(t[7].type, TokenType::Punct);
}

TEST(JetSqlTokenizer, UnterminatedOrForeignTextIsASyntaxError)
{
    for (const char *text : {"'abc", "\"abc", "[abc", "`abc", "#2003/04/01", "a ! b", "[]", "a -- comment {"}) {
        EXPECT_EQ(errorNumber([&] { tokenize(QString::fromUtf8(text)); }), jet::err::SyntaxError) << text;
    }
}

// --- expressions -------------------------------------------------------------

TEST_F(JetSqlTest, DateDiffCountsDayBoundaries)
{
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('d', #2003/03/31 23:59#, #2003/04/01 00:01#)")).toLongLong(), 1);
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('d', #2003/04/01 00:01#, #2003/04/01 23:59#)")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('d', #2003/04/02#, #2003/04/01#)")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('yyyy', #2002/12/31#, #2003/01/01#)")).toLongLong(), 1);
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('m', #2003/01/31#, #2003/02/01#)")).toLongLong(), 1);
    EXPECT_EQ(ward.value(QStringLiteral("DateDiff('d', Now(), #2003/04/02#)")).toLongLong(), 1);
    EXPECT_TRUE(ward.value(QStringLiteral("DateDiff('d', Null, Now())")).isNull());
}

TEST_F(JetSqlTest, RoundHalvesToEven)
{
    EXPECT_EQ(ward.value(QStringLiteral("ROUND(2.5, 0)")).toDouble(), 2.0);
    EXPECT_EQ(ward.value(QStringLiteral("ROUND(3.5, 0)")).toDouble(), 4.0);
    EXPECT_EQ(ward.value(QStringLiteral("ROUND(-2.5, 0)")).toDouble(), -2.0);
    EXPECT_EQ(ward.value(QStringLiteral("ROUND(2.6, 0)")).toDouble(), 3.0);
    EXPECT_DOUBLE_EQ(ward.value(QStringLiteral("ROUND(0.125, 2)")).toDouble(), 0.12);
    EXPECT_TRUE(ward.value(QStringLiteral("ROUND(Null, 0)")).isNull());
}

TEST_F(JetSqlTest, AgeFormulaRoundsWholeYears)
{
    // A child born 2000-01-15 is 3 on 2003-01-14 (1096 days) and on 2002-08-01 (930 days).
    const QString age = QStringLiteral("ROUND((DateDiff('d', #2000/01/15#-1, Now()) / 365.25), 0)");
    jet::Clock::setFixed(QDateTime(QDate(2003, 1, 14), QTime(9, 0)));
    EXPECT_EQ(ward.value(age).toDouble(), 3.0);
    jet::Clock::setFixed(QDateTime(QDate(2002, 8, 1), QTime(9, 0)));
    EXPECT_EQ(ward.value(age).toDouble(), 3.0);
    EXPECT_TRUE(ward.value(QStringLiteral("ROUND((DateDiff('d', Null-1, Now()) / 365.25), 0)")).isNull());
}

TEST_F(JetSqlTest, ConcatenationTreatsNullAsEmptyAndPrintsNumbersAsJet)
{
    EXPECT_EQ(s(ward.text(QStringLiteral("'F20' & ' ' & '統合失調症'"))), "F20 統合失調症");
    EXPECT_EQ(s(ward.text(QStringLiteral("Null & 'x'"))), "x");
    EXPECT_EQ(s(ward.text(QStringLiteral("'x' & Null"))), "x");
    EXPECT_TRUE(ward.value(QStringLiteral("Null & Null")).isNull());
    EXPECT_EQ(s(ward.text(QStringLiteral("2.0 * 1 & ''"))), "2");
    EXPECT_EQ(s(ward.text(QStringLiteral("1.5 & ''"))), "1.5");
    // & binds looser than + and tighter than =.
    EXPECT_EQ(s(ward.text(QStringLiteral("1 + 2 & 3"))), "33");
    EXPECT_EQ(ward.value(QStringLiteral("'a' & 1 = 'a1'")).toLongLong(), -1);
}

TEST_F(JetSqlTest, TruthValuesAreMinusOneAndZero)
{
    EXPECT_EQ(ward.value(QStringLiteral("1 = 1")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("1 > 2")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("True")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("False")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("Not (1 = 2)")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("(1 = 1) = True")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'x' Is Null")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("Null Is Not Null")).toLongLong(), 0);
}

TEST_F(JetSqlTest, ArithmeticFollowsJet)
{
    EXPECT_DOUBLE_EQ(ward.value(QStringLiteral("5 / 2")).toDouble(), 2.5);
    EXPECT_EQ(ward.value(QStringLiteral("7 \\ 2")).toLongLong(), 3);
    EXPECT_EQ(ward.value(QStringLiteral("7 Mod 3")).toLongLong(), 1);
    EXPECT_DOUBLE_EQ(ward.value(QStringLiteral("2 ^ 3")).toDouble(), 8.0);
    EXPECT_DOUBLE_EQ(ward.value(QStringLiteral("-2 ^ 2")).toDouble(), -4.0);
    EXPECT_EQ(ward.value(QStringLiteral("5 - -1")).toLongLong(), 6);
    EXPECT_EQ(ward.value(QStringLiteral("#2003/04/01# - 1 = #2003/03/31#")).toLongLong(), -1);
    EXPECT_EQ(s(ward.text(QStringLiteral("'a' + 'b'"))), "ab");
    EXPECT_EQ(ward.value(QStringLiteral("2 + 3 * 4")).toLongLong(), 14);
}

TEST_F(JetSqlTest, IIfTakesTheFalseBranchOnNull)
{
    EXPECT_EQ(s(ward.text(QStringLiteral("IIf(DateDiff('d', #2003/03/25#, Now()) <=7, '新', '')"))), "新");
    EXPECT_EQ(s(ward.text(QStringLiteral("IIf(DateDiff('d', #2003/03/24#, Now()) <=7, '新', '')"))), "");
    EXPECT_EQ(s(ward.text(QStringLiteral("IIf(DateDiff('d', Null, Now()) <=7, '新', '')"))), "");
    EXPECT_EQ(ward.value(QStringLiteral("IIf(1 = 1, 2 = 2, 0)")).toLongLong(), -1);
}

TEST_F(JetSqlTest, MidCountsCharactersFromOne)
{
    EXPECT_EQ(s(ward.text(QStringLiteral("mid$('F25.1', 1, 2)"))), "F2");
    EXPECT_EQ(s(ward.text(QStringLiteral("Mid('あいうえ', 2)"))), "いうえ");
    EXPECT_EQ(s(ward.text(QStringLiteral("Mid('あい', 5, 1)"))), "");
    EXPECT_TRUE(ward.value(QStringLiteral("Mid(Null, 1, 2)")).isNull());
    EXPECT_THROW(ward.value(QStringLiteral("Mid('abc', 0, 1)")), std::runtime_error);
}

TEST_F(JetSqlTest, LikeUsesJetWildcardsIgnoringCase)
{
    EXPECT_EQ(ward.value(QStringLiteral("'たなか' Like 'た*'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'だて' Like 'た*'")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("'ABC' Like 'a?c'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'F2' Like 'F#'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'FX' Like 'F#'")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("'b' Like '[a-c]'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'d' Like '[!a-c]'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'a*c' Like 'a[*]c'")).toLongLong(), -1);
    EXPECT_EQ(ward.value(QStringLiteral("'abc' Like 'a[*]c'")).toLongLong(), 0);
    EXPECT_EQ(ward.value(QStringLiteral("'たなか' Not Like '*な*'")).toLongLong(), 0);
    EXPECT_TRUE(ward.value(QStringLiteral("Null Like '*'")).isNull());
}

TEST_F(JetSqlTest, DateLiteralsBecomeDayNumbers)
{
    const double april = jet::toDayNumber(QDate(2003, 4, 1));
    EXPECT_EQ(ward.value(QStringLiteral("#2003/04/01#")).toDouble(), april);
    EXPECT_EQ(ward.value(QStringLiteral("#4/1/2003#")).toDouble(), april);
    EXPECT_EQ(ward.value(QStringLiteral("#2003/4/1 12:00#")).toDouble(), april + 0.5);
    EXPECT_EQ(ward.value(QStringLiteral("#1899/12/29 06:00#")).toDouble(), -1.25);
}

TEST_F(JetSqlTest, UnreadableDateLiteralsAreConversionFailures)
{
    for (const char *text : {"##", "# #", "#2003/13/01#", "#2003/02/30#", "#abc#", "#1'); DROP TABLE x; --#"}) {
        EXPECT_EQ(errorNumber([&] { translate(QStringLiteral("SELECT %1").arg(QString::fromUtf8(text))); }),
                  jet::err::ConversionFailed)
            << text;
    }
}

TEST_F(JetSqlTest, StringsAreWrittenAsSqliteLiterals)
{
    EXPECT_EQ(s(ward.text(QStringLiteral("\"say \"\"hi\"\"\""))), "say \"hi\"");
    EXPECT_EQ(s(ward.text(QStringLiteral("'O''Brien'"))), "O'Brien");
    EXPECT_EQ(s(quoteString(QStringLiteral("a'b"))), "'a''b'");
    EXPECT_EQ(s(quoteIdentifier(QStringLiteral("a\"b"))), "`a\"b`");
    EXPECT_EQ(s(quoteIdentifier(QStringLiteral("a`b"))), "`a``b`");
    EXPECT_EQ(ward.value(QStringLiteral("Len(%1)").arg(QStringLiteral("'a'"))).toLongLong(), 1);
    const QString withNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    EXPECT_EQ(ward.rows(QStringLiteral("SELECT length(%1)").arg(quoteString(withNul))).at(0).at(0).toLongLong(), 1);
    EXPECT_EQ(ward.rows(QStringLiteral("SELECT %1 = 'a' || char(0) || 'b'").arg(quoteString(withNul))).at(0).at(0).toLongLong(), 1);
}

TEST_F(JetSqlTest, MissingColumnStaysAnError)
{
    // The start-up probe relies on this: a quoted name that names no column must
    // not be read as a text literal.
    ward.exec(QStringLiteral("CREATE TABLE \"診断名(ICD10)\" (\"診断ID\" INTEGER, \"診断名\" TEXT)"));
    EXPECT_THROW(ward.run(QStringLiteral("SELECT ICDコード FROM `診断名(ICD10)`")), std::runtime_error);
    EXPECT_THROW(ward.run(QStringLiteral("SELECT 診断名 FROM `診断名(ICD10)` WHERE [ICDコード] = '-'")), std::runtime_error);
    EXPECT_NO_THROW(ward.run(QStringLiteral("SELECT [a`b].診断名 FROM `診断名(ICD10)` AS [a`b]")));
}

TEST_F(JetSqlTest, UnknownFunctionsAndBadStatementsAreSyntaxErrors)
{
    for (const char *text :
         {"SELECT Foo(1)", "SELECT Mid('a')", "SELECT Now(1)", "SELECT Len$('a')", "SELECT Date$()", "SELECT", "SELECT 1 FROM",
          "SELECT a FROM t WHERE", "SELECT a FROM t x y", "SELECT (1", "SELECT a FROM t; SELECT b FROM t",
          "CREATE TABLE t (a)", "SELECT a FROM t ORDER BY", "SELECT t.* + 1 FROM t", "ALTER TABLE t ADD COLUMN a TEXT",
          "DROP INDEX i",
          "SELECT * FROM (SELECT * FROM a WHERE x = ?) AS l RIGHT JOIN (SELECT * FROM b WHERE y = ?) AS r ON l.k = r.k"}) {
        EXPECT_EQ(errorNumber([&] { translate(QString::fromUtf8(text)); }), jet::err::SyntaxError) << text;
    }
}

TEST_F(JetSqlTest, NestingPastTheLimitIsASyntaxErrorNotACrash)
{
    // Stored queries come from the database file; each of these, 1,500 deep,
    // ran the parser off the stack along its own path.
    const auto nest = [](const char *open, const char *core, const char *close, int depth) {
        return QString::fromUtf8(open).repeated(depth) + QString::fromUtf8(core) + QString::fromUtf8(close).repeated(depth);
    };
    for (const QString &text :
         {nest("(", "1", ")", 1500), nest("- ", "1", "", 1500), nest("NOT ", "1", "", 1500), "2 ^ " + nest("-", "1", "", 1500),
          nest("IIf(1, Abs(", "1", "), 0)", 1500), "* FROM " + nest("(SELECT * FROM ", "t", ")", 1500),
          "* FROM " + nest("(", "t", ")", 1500), "* FROM t WHERE " + nest("a IN (SELECT a FROM t WHERE ", "1", ")", 1500)}) {
        EXPECT_EQ(errorNumber([&] { translate("SELECT " + text); }), jet::err::SyntaxError) << s(text.left(40));
    }
    EXPECT_EQ(ward.value(nest("(", "IIf(1 = 1, 7, 0)", ")", 20)).toInt(), 7);
    EXPECT_EQ(errorNumber([&] { translate("SELECT " + nest("IIf(1 = 1, - (", "7", "), 0)", 20)); }), 0);
    // A long chain of operators or joins nests nothing while it is read, yet
    // is as deep as its length once written out.
    for (const QString &text : {"1" + QStringLiteral(" & 1").repeated(100000), "1" + QStringLiteral(" AND 1").repeated(100000),
                                "* FROM t" + QStringLiteral(" INNER JOIN t ON 1").repeated(20000)})
        EXPECT_EQ(errorNumber([&] { translate("SELECT " + text); }), jet::err::SyntaxError) << s(text.left(40));
    EXPECT_EQ(ward.text("1" + QStringLiteral(" & 1").repeated(20)), QStringLiteral("1").repeated(21));
}

TEST_F(JetSqlTest, TopLimitsTheRowsAndTakesOnlyAWholeCount)
{
    ward.createSchema();
    const QList<QVariantList> rows = ward.run(QStringLiteral("SELECT TOP 2 入退院ID FROM 入退院情報 ORDER BY 入退院ID DESC"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1][0].toInt(), 4);
    for (const char *top : {"0", "1.5", "-1", "2 PERCENT"})
        EXPECT_EQ(errorNumber([&] { translate(QStringLiteral("SELECT TOP %1 * FROM t").arg(QLatin1String(top))); }),
                  jet::err::SyntaxError) << top;
}

// --- statements and their shape ----------------------------------------------

TEST_F(JetSqlTest, CurrentInpatientListRunsWithJetMeaning)
{
    ward.createSchema();
    const Statement st = translate(kCurrentInpatients + QStringLiteral("ORDER BY 病室番号.病室番号 DESC, ベッド番号.ベッド番号;"));
    ASSERT_EQ(st.kind, Kind::Select);
    const SelectShape &shape = st.select;
    ASSERT_EQ(shape.items.size(), 20);
    EXPECT_EQ(s(shape.items[0].alias), "病室番号");
    EXPECT_EQ(s(shape.items[0].columnQualifier), "病室番号");
    EXPECT_EQ(s(shape.items[0].columnName), "病室番号");
    EXPECT_TRUE(shape.items[13].alias.isEmpty());
    EXPECT_EQ(s(shape.items[14].columnQualifier), "主治医_1");
    EXPECT_EQ(s(shape.items[14].columnName), "主治医");
    EXPECT_TRUE(shape.items[16].columnName.isEmpty());
    EXPECT_EQ(s(shape.items[16].alias), "年齢");
    ASSERT_EQ(shape.tables.size(), 7);
    EXPECT_EQ(s(shape.tables[0].table), "患者情報");
    EXPECT_EQ(s(shape.tables[0].alias), "患者情報");
    EXPECT_EQ(s(shape.tables[6].table), "主治医");
    EXPECT_EQ(s(shape.tables[6].alias), "主治医_1");
    EXPECT_TRUE(shape.simpleFrom);
    EXPECT_FALSE(shape.aggregate);
    EXPECT_TRUE(shape.groupBy.isEmpty());
    EXPECT_EQ(s(shape.orderBy), "`病室番号`.`病室番号` DESC, `ベッド番号`.`ベッド番号`");

    // Episode 1 (room 202, 7 days ago) and 2 (room 101, discharged today) are in hospital;
    // 3 left yesterday, 4 is an outpatient course, 5 comes next week.
    const QList<QVariantList> rows = ward.rows(st.text);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][9].toLongLong(), 1);
    EXPECT_EQ(s(rows[0][17].toString()), "新");
    EXPECT_EQ(rows[0][18].toLongLong(), 7);
    EXPECT_TRUE(rows[0][19].isNull());
    EXPECT_EQ(rows[0][16].toDouble(), 3.0);
    EXPECT_EQ(rows[1][9].toLongLong(), 2);
    EXPECT_EQ(s(rows[1][17].toString()), "");
    EXPECT_EQ(rows[1][19].toLongLong(), 0);

    const QList<QVariantList> ascending =
        ward.run(kCurrentInpatients + QStringLiteral("ORDER BY 病室番号.病室番号, ベッド番号.ベッド番号;"));
    ASSERT_EQ(ascending.size(), 2);
    EXPECT_EQ(ascending[0][9].toLongLong(), 2);
}

TEST_F(JetSqlTest, PartsStandOnTheirOwnWhenRebuilt)
{
    ward.createSchema();
    const Statement st = translate(kCurrentInpatients);
    const SelectShape &shape = st.select;
    const QString rebuilt = QStringLiteral("SELECT \"入退院情報\".\"入退院ID\" FROM %1 WHERE %2 ORDER BY 1").arg(shape.from, shape.where);
    const QList<QVariantList> rows = ward.rows(rebuilt);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1][0].toLongLong(), 2);
}

TEST_F(JetSqlTest, ReportCommandCountsItsParameterInWhere)
{
    ward.createSchema();
    const QString sql = QStringLiteral(
        "SELECT 患者情報.*, 入退院情報.*, ベッド番号.ベッド番号 AS サブベッド番号, 病室番号.病室番号 AS サブ病室番号, 入院形態.入院形態 AS サブ入院形態, 性別.性別 AS サブ性別, `診断名(ICD10)`.診断名 AS `サブ診断名①`, `診断名(ICD10)1`.診断名 AS `サブ診断名②`, `診断名(ICD10)2`.診断名 AS `サブ診断名③`, `診断名(ICD10)`.`ICDコード` AS `サブコード①`, `診断名(ICD10)1`.`ICDコード` AS `サブコード②`, `診断名(ICD10)2`.`ICDコード` AS `サブコード③`, 扱別.扱別 AS サブ扱別, 主治医.主治医 AS `サブ主治医①`, 主治医1.主治医 AS `サブ主治医②`, 転帰.転帰 AS サブ転帰 FROM 患者情報, 入退院情報, ベッド番号, 病室番号, 入院形態, 性別, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, `診断名(ICD10)` `診断名(ICD10)2`, 扱別, 主治医, 主治医 主治医1, 転帰 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.ベッド番号 = ベッド番号.ベッドID AND 入退院情報.病室番号 = 病室番号.病室ID AND 入退院情報.入院形態 = 入院形態.入院形態ID AND 患者情報.性別 = 性別.性別ID AND 患者情報.`診断名①` = `診断名(ICD10)`.診断ID AND 患者情報.`診断名②` = `診断名(ICD10)1`.診断ID AND 患者情報.`診断名③` = `診断名(ICD10)2`.診断ID AND 入退院情報.扱別 = 扱別.扱別ID AND 入退院情報.`主治医①` = 主治医.主治医ID AND 入退院情報.`主治医②` = 主治医1.主治医ID AND 入退院情報.転帰 = 転帰.転帰ID AND (入退院情報.入退院ID = ?)");
    const Statement st = translate(sql);
    EXPECT_EQ(st.parameters, 1);
    EXPECT_EQ(st.select.whereParameters, 1);
    EXPECT_EQ(st.select.fromParameters, 0);
    EXPECT_EQ(st.select.restParameters, 0);
    ASSERT_EQ(st.select.items.size(), 16);
    EXPECT_TRUE(st.select.items[0].star);
    EXPECT_EQ(s(st.select.items[0].starQualifier), "患者情報");
    EXPECT_EQ(s(st.select.items[7].alias), "サブ診断名②");
    EXPECT_EQ(s(st.select.items[7].columnQualifier), "診断名(ICD10)1");
    ASSERT_EQ(st.select.tables.size(), 13);
    EXPECT_EQ(s(st.select.tables[7].table), "診断名(ICD10)");
    EXPECT_EQ(s(st.select.tables[7].alias), "診断名(ICD10)1");
    EXPECT_EQ(s(st.select.tables[11].alias), "主治医1");

    const QList<QVariantList> rows = ward.rows(st.text, {2});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(s(rows[0].last().toString()), "-");
}

TEST_F(JetSqlTest, CertificateCommandAndEditSources)
{
    ward.createSchema();
    const Statement cert = translate(QStringLiteral(
        "SELECT `32条診断書`.*, 患者情報.*, `診断名(ICD10)`.診断名 AS 主診断名, `診断名(ICD10)`.`ICDコード` AS `主コード`, `診断名(ICD10)1`.診断名 AS 従診断名, `診断名(ICD10)1`.`ICDコード` AS `従コード`, 性別.略称 AS 略称, ROUND((DateDiff('d', 生年月日-1, NOW()) / 365.25), 0) AS 年齢 FROM `32条診断書`, 患者情報, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, 性別 WHERE `32条診断書`.カルテID = 患者情報.カルテID AND `32条診断書`.主精神障害 = `診断名(ICD10)`.診断ID AND `32条診断書`.従精神障害 = `診断名(ICD10)1`.診断ID AND 患者情報.性別 = 性別.性別ID AND (患者情報.カルテID = ?) "));
    EXPECT_EQ(s(cert.select.items[0].starQualifier), "32条診断書");
    const QList<QVariantList> rows = ward.rows(cert.text, {1});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(s(rows[0][rows[0].size() - 2].toString()), "男");
    EXPECT_EQ(rows[0].last().toDouble(), 3.0);

    const Statement edit = translate(QStringLiteral(
        "SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID"));
    ASSERT_EQ(edit.select.items.size(), 3);
    EXPECT_EQ(s(edit.select.items[2].sql), "`検査情報`.*");
    EXPECT_EQ(ward.rows(edit.text).size(), 5);

    const Statement ledger = translate(QStringLiteral(
        "SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 ORDER BY 入退院情報.入退院ID DESC;"));
    EXPECT_EQ(s(ledger.select.orderBy), "`入退院情報`.`入退院ID` DESC");
    EXPECT_EQ(ward.rows(ledger.text).size(), 1);
}

TEST_F(JetSqlTest, DiagnosisStatisticsGroupByCodePrefix)
{
    ward.createSchema();
    const QString head = QStringLiteral(
        "SELECT mid$(`診断名(ICD10)`.ICDコード,1,2) AS コード, COUNT(mid$(`診断名(ICD10)`.ICDコード,1,2)) AS `ICD-10診断集計` FROM 患者情報, `診断名(ICD10)`, 入退院情報 ");
    const QString tail = QStringLiteral("GROUP BY mid$(`診断名(ICD10)`.ICDコード,1,2)");
    const Statement st = translate(
        head
        + QStringLiteral("WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND DateDiff('d', 入退院情報.入院日, #2003/03/24#) <= 0 AND DateDiff('d', 入退院情報.入院日, #2003/04/05#) > 0 ")
        + tail);
    EXPECT_TRUE(st.select.aggregate);
    EXPECT_EQ(s(st.select.groupBy), "jet_mid(`診断名(ICD10)`.`ICDコード`, 1, 2)");
    // Admissions of 03-24 (F25.1) and 03-25 (F20) count under F2; that of 04-05 is left out.
    const QList<QVariantList> rows = ward.rows(st.text);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(s(rows[0][0].toString()), "F2");
    EXPECT_EQ(rows[0][1].toLongLong(), 2);

    EXPECT_EQ(errorNumber([&] {
                  translate(head + QStringLiteral("WHERE DateDiff('d', 入退院情報.入院日, ##) <= 0 ") + tail);
              }),
              jet::err::ConversionFailed);
    EXPECT_EQ(errorNumber([&] {
                  translate(head + QStringLiteral("WHERE DateDiff('d', 入退院情報.入院日, #2003/04/#) <= 0 ") + tail);
              }),
              jet::err::ConversionFailed);
}

TEST_F(JetSqlTest, DiagnosisListJoinsCodeAndName)
{
    ward.createSchema();
    const Statement st = translate(QStringLiteral(
        "SELECT 診断ID,診断名,ICDコード,ICDコード & ' ' & 診断名 AS 診断 FROM `診断名(ICD10)` ORDER BY ICDコード"));
    EXPECT_EQ(s(st.select.items[3].alias), "診断");
    EXPECT_TRUE(st.select.items[3].columnName.isEmpty());
    EXPECT_EQ(s(st.select.items[2].columnName), "ICDコード");
    EXPECT_TRUE(st.select.items[2].columnQualifier.isEmpty());
    const QList<QVariantList> rows = ward.rows(st.text);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(s(rows[0][3].toString()), "- -");
    EXPECT_EQ(s(rows[1][3].toString()), "F20 統合失調症");
}

TEST_F(JetSqlTest, ExportSelectIntoKeepsTargetApart)
{
    ward.createSchema();
    const Statement st = translate(QStringLiteral(
        "SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 時間外頻度.時間外頻度 AS 時間外頻度, 主治医.主治医 AS 主治医 INTO [Excel 8.0;Database=C:\\ネモリア外来通院中.xls].[外来通院中の患者] "
        "FROM ((患者情報 INNER JOIN 入退院情報 ON 患者情報.カルテID = 入退院情報.カルテID) INNER JOIN 時間外頻度 ON 入退院情報.時間外頻度 = 時間外頻度.時間外頻度ID) INNER JOIN 主治医 ON 入退院情報.主治医① = 主治医.主治医ID "
        "WHERE 入退院情報.外入の別 = -1;"));
    ASSERT_EQ(st.kind, Kind::SelectInto);
    EXPECT_EQ(s(st.select.intoConnect), "Excel 8.0;Database=C:\\ネモリア外来通院中.xls");
    EXPECT_EQ(s(st.select.intoName), "外来通院中の患者");
    EXPECT_FALSE(st.text.contains(QStringLiteral("INTO")));
    const QList<QVariantList> rows = ward.rows(st.text);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(s(rows[0][2].toString()), "ない");
}

TEST_F(JetSqlTest, AlterColumnDefaultAndDropIndex)
{
    const Statement alter = translate(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT '1'"));
    EXPECT_EQ(alter.kind, Kind::AlterColumnDefault);
    EXPECT_EQ(s(alter.table), "32条診断書");
    EXPECT_EQ(s(alter.column), "主精神障害");
    EXPECT_EQ(s(alter.defaultSql), "'1'");
    EXPECT_EQ(s(translate(QStringLiteral("ALTER TABLE t ALTER COLUMN c SET DEFAULT -5;")).defaultSql), "-5");
    EXPECT_EQ(s(translate(QStringLiteral("ALTER TABLE t ALTER COLUMN c SET DEFAULT True")).defaultSql), "-1");

    const Statement drop = translate(QStringLiteral("DROP INDEX 診断名 ON `診断名(ICD10)`;"));
    EXPECT_EQ(drop.kind, Kind::DropIndex);
    EXPECT_EQ(s(drop.index), "診断名");
    EXPECT_EQ(s(drop.table), "診断名(ICD10)");
}

TEST_F(JetSqlTest, InsertUpdateDeleteRun)
{
    ward.createSchema();
    const Statement insert = translate(QStringLiteral("INSERT INTO 主治医 (主治医ID, 主治医) VALUES (?, \"佐藤\");"));
    EXPECT_EQ(insert.kind, Kind::Other);
    EXPECT_EQ(insert.parameters, 1);
    ward.rows(insert.text, {3});
    ward.run(QStringLiteral("UPDATE 主治医 SET 主治医.主治医 = 主治医 & '先生' WHERE 主治医ID = 3"));
    EXPECT_EQ(s(ward.text(QStringLiteral("主治医 FROM 主治医 WHERE 主治医ID = 3"))), "佐藤先生");
    ward.run(QStringLiteral("DELETE * FROM 主治医 WHERE 主治医ID = 3"));
    ward.run(QStringLiteral("DELETE 主治医.* FROM 主治医 WHERE 主治医ID = 2"));
    EXPECT_EQ(ward.value(QStringLiteral("COUNT(*) FROM 主治医")).toLongLong(), 1);
    ward.run(QStringLiteral("INSERT INTO 時間外頻度 SELECT 主治医ID + 10, 主治医 FROM 主治医"));
    EXPECT_EQ(ward.value(QStringLiteral("COUNT(*) FROM 時間外頻度")).toLongLong(), 3);
}

TEST_F(JetSqlTest, OuterJoinsAndAliases)
{
    ward.createSchema();
    ward.exec(QStringLiteral(R"sql(INSERT INTO "患者情報" ("カルテID", "氏名") VALUES (9, '外来なし'))sql"));
    const QString left = QStringLiteral(
        "SELECT p.氏名 名前, e.入退院ID FROM 患者情報 AS p LEFT JOIN 入退院情報 e ON p.カルテID = e.カルテID WHERE e.入退院ID Is Null");
    const Statement st = translate(left);
    EXPECT_EQ(s(st.select.items[0].alias), "名前");
    EXPECT_EQ(s(st.select.items[0].columnQualifier), "p");
    EXPECT_EQ(s(st.select.tables[1].alias), "e");
    const QList<QVariantList> rows = ward.rows(st.text);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(s(rows[0][0].toString()), "外来なし");

    const QList<QVariantList> right = ward.run(QStringLiteral(
        "SELECT p.氏名 FROM 入退院情報 AS e RIGHT OUTER JOIN 患者情報 AS p ON p.カルテID = e.カルテID WHERE e.入退院ID Is Null"));
    ASSERT_EQ(right.size(), 1);
}

TEST_F(JetSqlTest, ParametersAreCountedPerPart)
{
    const Statement st = translate(QStringLiteral(
        "SELECT ?, a FROM t INNER JOIN u ON t.k = u.k AND u.x = ? WHERE a = ? AND b = ? GROUP BY a HAVING COUNT(*) > ? ORDER BY ?"));
    EXPECT_EQ(st.parameters, 6);
    EXPECT_EQ(st.select.items[0].parameters, 1);
    EXPECT_EQ(st.select.items[1].parameters, 0);
    EXPECT_EQ(st.select.fromParameters, 1);
    EXPECT_EQ(st.select.whereParameters, 2);
    EXPECT_EQ(st.select.restParameters, 2);
    EXPECT_TRUE(st.select.aggregate);
}

TEST_F(JetSqlTest, ShapeFlags)
{
    const Statement plain = translate(QStringLiteral("SELECT * FROM 主治医"));
    EXPECT_TRUE(plain.select.items[0].star);
    EXPECT_TRUE(plain.select.items[0].starQualifier.isEmpty());
    EXPECT_FALSE(plain.select.aggregate);
    EXPECT_FALSE(plain.select.distinct);
    EXPECT_TRUE(plain.select.where.isEmpty());

    EXPECT_TRUE(translate(QStringLiteral("SELECT DISTINCT 主治医 FROM 主治医")).select.distinct);
    EXPECT_TRUE(translate(QStringLiteral("SELECT Count(*) AS 全患者数 FROM Q_現在入院者リスト")).select.aggregate);
    EXPECT_TRUE(translate(QStringLiteral("SELECT a FROM t GROUP BY a")).select.aggregate);
    // An aggregate inside a subquery leaves the outer rows keyed.
    const Statement sub = translate(QStringLiteral("SELECT a, (SELECT MAX(b) FROM u) AS m FROM t"));
    EXPECT_FALSE(sub.select.aggregate);
    EXPECT_TRUE(sub.select.simpleFrom);
    const Statement derived = translate(QStringLiteral("SELECT x.a FROM (SELECT a FROM t) AS x"));
    EXPECT_FALSE(derived.select.simpleFrom);
}

TEST_F(JetSqlTest, NothingOutsideLiteralsReachesSqlite)
{
    // A text that closes its quote early is one token; nothing of it leaves the literal.
    ward.createSchema();
    const QList<QVariantList> rows =
        ward.run(QStringLiteral("SELECT 氏名 FROM 患者情報 WHERE かな氏名 = 'x''; DROP TABLE 主治医; --'"));
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_EQ(ward.value(QStringLiteral("COUNT(*) FROM 主治医")).toLongLong(), 2);
}

// --- filters -----------------------------------------------------------------

namespace {

const FieldLookup kFields = [](const QString &name) -> std::optional<FieldInfo> {
    if (name == QStringLiteral("かな氏名"))
        return FieldInfo{QStringLiteral("\"患者情報\".\"かな氏名\""), FieldInfo::Type::Text};
    if (name == QStringLiteral("入退院ID") || name == QStringLiteral("入退院情報.入退院ID"))
        return FieldInfo{QStringLiteral("\"入退院情報\".\"入退院ID\""), FieldInfo::Type::Number};
    if (name == QStringLiteral("入院日"))
        return FieldInfo{QStringLiteral("\"入退院情報\".\"入院日\""), FieldInfo::Type::Date};
    if (name == QStringLiteral("退院日"))
        return FieldInfo{QStringLiteral("\"入退院情報\".\"退院日\""), FieldInfo::Type::Date};
    if (name == QStringLiteral("外入の別"))
        return FieldInfo{QStringLiteral("\"入退院情報\".\"外入の別\""), FieldInfo::Type::Boolean};
    return std::nullopt;
};

class JetSqlFilterTest : public ::testing::Test
{
protected:
    void SetUp() override { ward.createSchema(); }

    // The episode IDs the filter keeps, in order.
    QList<qint64> episodes(const QString &filter)
    {
        const QString condition = translateFilter(filter, kFields);
        QList<qint64> ids;
        const QString sql = QStringLiteral(
            "SELECT \"入退院情報\".\"入退院ID\" FROM \"患者情報\" JOIN \"入退院情報\" USING (\"カルテID\") WHERE %1 ORDER BY 1");
        for (const QVariantList &row : ward.rows(sql.arg(condition)))
            ids.append(row[0].toLongLong());
        return ids;
    }
    qint32 filterError(const QString &filter)
    {
        return errorNumber([&] { translateFilter(filter, kFields); });
    }
    Ward ward;
};

} // namespace

TEST_F(JetSqlFilterTest, KanaPrefixAndContains)
{
    // たなか has episodes 1 and 4, たかはし 2 and 5, だて 3.
    EXPECT_EQ(episodes(QStringLiteral("かな氏名 like 'た*'")), (QList<qint64>{1, 2, 4, 5}));
    EXPECT_EQ(episodes(QStringLiteral("かな氏名 LIKE 'たな*'")), (QList<qint64>{1, 4}));
    EXPECT_EQ(episodes(QStringLiteral("かな氏名 like '*か*'")), (QList<qint64>{1, 2, 4, 5}));
    EXPECT_EQ(episodes(QStringLiteral("かな氏名 like '*'")), (QList<qint64>{1, 2, 3, 4, 5}));
    EXPECT_EQ(episodes(QStringLiteral("かな氏名 like 'だて'")), (QList<qint64>{3}));
    EXPECT_TRUE(episodes(QStringLiteral("かな氏名 like 'ぞ*'")).isEmpty());
}

TEST_F(JetSqlFilterTest, MisplacedWildcardsAndPastedQuotesAreRejected)
{
    EXPECT_EQ(filterError(QStringLiteral("かな氏名 like 'た*な*'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("かな氏名 like '*た'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("かな氏名 like '%て'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("かな氏名 like 'た'*'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("かな氏名 like 'た'' OR 1=1 OR ''*'")), 0);
    // The pasted text stays one literal and matches nothing.
    EXPECT_TRUE(episodes(QStringLiteral("かな氏名 like 'た'' OR 1=1 OR ''*'")).isEmpty());
    // Jet's other pattern characters are taken literally.
    EXPECT_TRUE(episodes(QStringLiteral("かな氏名 like 'た?か*'")).isEmpty());
    EXPECT_TRUE(episodes(QStringLiteral("かな氏名 like '[た]*'")).isEmpty());
}

TEST_F(JetSqlFilterTest, NumberFieldAgainstQuotedValue)
{
    EXPECT_EQ(episodes(QStringLiteral("入退院ID = '2'")), (QList<qint64>{2}));
    EXPECT_EQ(episodes(QStringLiteral("入退院情報.入退院ID = '3'")), (QList<qint64>{3}));
    EXPECT_EQ(episodes(QStringLiteral("入退院ID >= 4")), (QList<qint64>{4, 5}));
    EXPECT_EQ(episodes(QStringLiteral("入退院ID > -1 AND 入退院ID < ' 2 '")), (QList<qint64>{1}));
    EXPECT_EQ(filterError(QStringLiteral("入退院ID = 'abc'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("入退院ID = ''")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("入退院ID = '1; DROP TABLE x'")), jet::err::InvalidArgument);
}

TEST_F(JetSqlFilterTest, DatesNullsAndYesNo)
{
    EXPECT_EQ(episodes(QStringLiteral("入院日 = '2003/03/25'")), (QList<qint64>{1}));
    EXPECT_EQ(episodes(QStringLiteral("入院日 >= #2003/03/24# AND 入院日 < #4/1/2003#")), (QList<qint64>{1, 2}));
    EXPECT_EQ(episodes(QStringLiteral("退院日 = Null")), (QList<qint64>{1, 4, 5}));
    EXPECT_EQ(episodes(QStringLiteral("退院日 <> NULL")), (QList<qint64>{2, 3}));
    EXPECT_EQ(episodes(QStringLiteral("外入の別 = True")), (QList<qint64>{4}));
    EXPECT_EQ(episodes(QStringLiteral("外入の別 = -1")), (QList<qint64>{4}));
    EXPECT_EQ(filterError(QStringLiteral("入院日 = 'yesterday'")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("入院日 = ##")), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("退院日 < Null")), jet::err::InvalidArgument);
}

TEST_F(JetSqlFilterTest, AndOrParentheses)
{
    EXPECT_EQ(episodes(QStringLiteral("(入退院ID = 1 or 入退院ID = 3) and かな氏名 like 'た*'")), (QList<qint64>{1}));
    EXPECT_EQ(episodes(QStringLiteral("入退院ID = 1 OR 入退院ID = 3 AND かな氏名 like 'た*'")), (QList<qint64>{1}));
    EXPECT_EQ(episodes(QStringLiteral("[かな氏名] = 'だて' Or 入退院ID = 5")), (QList<qint64>{3, 5}));
    EXPECT_TRUE(translateFilter(QStringLiteral("  "), kFields).isEmpty());
}

TEST_F(JetSqlFilterTest, MalformedFiltersAre3001)
{
    for (const char *text : {"かな氏名 like", "= 5", "入退院ID = 1 入退院ID = 2", "(入退院ID = 1", "入退院ID = 1)",
                             "かな氏名 = 'abc", "不明 = 1", "入退院ID == 1", "入退院ID = 1 AND", "NOT 入退院ID = 1",
                             "入退院ID = 入院日", "かな氏名 like 5", "入退院ID = (1)"}) {
        EXPECT_EQ(filterError(QString::fromUtf8(text)), jet::err::InvalidArgument) << text;
    }
}

TEST_F(JetSqlFilterTest, NestingPastTheLimitIsRefusedNotACrash)
{
    const auto nest = [](const QString &core, int depth) {
        return QStringLiteral("(").repeated(depth) + core + QStringLiteral(")").repeated(depth);
    };
    EXPECT_EQ(filterError(nest(QStringLiteral("入退院ID = 1"), 15000)), jet::err::InvalidArgument);
    EXPECT_EQ(filterError(QStringLiteral("入退院ID = 1").append(QStringLiteral(" OR 入退院ID = 1").repeated(50000))),
              jet::err::InvalidArgument);
    EXPECT_EQ(episodes(nest(QStringLiteral("入退院ID = 1"), 20) + QStringLiteral(" OR ") + nest(QStringLiteral("入退院ID = 3"), 20)),
              (QList<qint64>{1, 3}));
}

TEST_F(JetSqlFilterTest, CriterionIsOneComparison)
{
    EXPECT_EQ(s(translateCriterion(QStringLiteral("入退院ID = '7'"), kFields)), "(\"入退院情報\".\"入退院ID\" = 7)");
    EXPECT_EQ(s(translateCriterion(QStringLiteral("かな氏名 = 'a''b'"), kFields)), "(\"患者情報\".\"かな氏名\" = 'a''b')");
    EXPECT_EQ(errorNumber([] { translateCriterion(QStringLiteral("入退院ID = 1 AND 入退院ID = 2"), kFields); }),
              jet::err::InvalidArgument);
    EXPECT_EQ(errorNumber([] { translateCriterion(QString(), kFields); }), jet::err::InvalidArgument);
}
