#include "ledger/registration.h"

#include "app/navigation.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <stdexcept>

namespace {

// A ledger with its own window connection, as every ledger has.
class RegisteringLedger : public toolkit::Form
{
public:
    static inline std::function<std::unique_ptr<jet::Connection>()> connect;
    std::unique_ptr<jet::Connection> connection;

protected:
    void onLoad() override { connection = connect(); }
    void onUnload(bool &) override { connection->close(); }
};
class InpatientLedger : public RegisteringLedger {};
class AllPatientLedger : public RegisteringLedger {};
class NewPatientWindow : public toolkit::Form {};

class RegistrationTest : public ::testing::Test
{
protected:
    explicit RegistrationTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        RegisteringLedger::connect = [this] { return ward.connect(); };
        auto services = std::make_unique<toolkit::ScriptedPlatform>();
        platform = services.get();
        toolkit::setPlatform(std::move(services));
        toolkit::resetProgramState();
        toolkit::setExitHandler([this](int status) { exitStatus = status; });
        app::registerWindow<InpatientLedger>(app::window::InpatientLedger);
        app::registerWindow<AllPatientLedger>(app::window::AllPatientLedger);
        app::registerWindow<NewPatientWindow>(app::window::NewPatient);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        for (const QString &name : {app::window::InpatientLedger, app::window::AllPatientLedger, app::window::NewPatient})
            app::unregisterWindow(name);
        toolkit::setExitHandler({});
        toolkit::setPlatform(nullptr);
    }

    // Registers from the all-patient ledger with the answer given.
    void registerAnswering(const QString &answer)
    {
        auto &ledger = toolkit::Forms::get<AllPatientLedger>();
        ledger.showModeless();
        platform->answerInput(answer);
        ledger::registerPatient(ledger, *ledger.connection);
        QCoreApplication::processEvents();
    }

    int count(const QString &sql)
    {
        jet::Recordset rows;
        rows.open(sql, &ward.connection());
        return rows.recordCount();
    }
    int patients(int chart) { return count(QStringLiteral("SELECT * FROM 患者情報 WHERE カルテID = %1").arg(chart)); }
    int episodes(int chart) { return count(QStringLiteral("SELECT * FROM 入退院情報 WHERE カルテID = %1").arg(chart)); }
    int allEpisodes() { return count(QStringLiteral("SELECT * FROM 入退院情報")); }

    QVariant newestEpisode()
    {
        jet::Recordset rows;
        rows.open(QStringLiteral("SELECT * FROM 入退院情報 ORDER BY 入退院ID DESC"), &ward.connection());
        return rows.value(QStringLiteral("入退院ID"));
    }

    bool handedOver() const
    {
        return toolkit::Forms::find<NewPatientWindow>() && !toolkit::Forms::find<AllPatientLedger>();
    }

    testing_support::WardDatabase ward;
    toolkit::ScriptedPlatform *platform = nullptr;
    std::optional<int> exitStatus;
};

using Registration = testing_support::OnBothBackends<RegistrationTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Registration,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST(ChartNumber, ConvertsAsTheLedgerReadsIt)
{
    using ledger::chartNumber;
    EXPECT_EQ(chartNumber(QStringLiteral("1007")), 1007);
    EXPECT_EQ(chartNumber(QStringLiteral("  42 ")), 42);
    EXPECT_EQ(chartNumber(QStringLiteral("+5")), 5);
    EXPECT_EQ(chartNumber(QStringLiteral("-3")), -3);
    EXPECT_EQ(chartNumber(QStringLiteral("0")), 0);
    EXPECT_EQ(chartNumber(QStringLiteral("12.5")), 12);
    EXPECT_EQ(chartNumber(QStringLiteral("13.5")), 14);
    EXPECT_EQ(chartNumber(QStringLiteral("12.51")), 13);
    EXPECT_EQ(chartNumber(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(chartNumber(QStringLiteral(".5")), 0);
    EXPECT_EQ(chartNumber(QStringLiteral("7.")), 7);
    EXPECT_EQ(chartNumber(QStringLiteral("１２３")), 123);
    EXPECT_EQ(chartNumber(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(chartNumber(QStringLiteral("-2147483648")), -2147483647 - 1);
    EXPECT_EQ(chartNumber(QStringLiteral("-2147483648.5")), -2147483647 - 1);

    for (const QString &text : {QStringLiteral("abc"), QStringLiteral("たなか"), QStringLiteral("   "),
                                QStringLiteral("1.2.3"), QStringLiteral("12a"), QStringLiteral("-"), QStringLiteral("."),
                                QStringLiteral("1 2"), QStringLiteral("'1'")})
        EXPECT_FALSE(chartNumber(text).has_value()) << text.toStdString();

    EXPECT_THROW(chartNumber(QStringLiteral("2147483648")), std::overflow_error);
    EXPECT_THROW(chartNumber(QStringLiteral("2147483647.5")), std::overflow_error);
    EXPECT_THROW(chartNumber(QStringLiteral("-2147483649")), std::overflow_error);
    EXPECT_THROW(chartNumber(QStringLiteral("99999999999999999999999")), std::overflow_error);
}

TEST_P(Registration, NewChartGetsPatientEpisodeAndCompanionRows)
{
    registerAnswering(QStringLiteral("2001"));
    ASSERT_EQ(platform->inputs().size(), 1);
    EXPECT_EQ(platform->inputs().first().prompt, QStringLiteral("作成したい新規患者のカルテIDを入力してください。"));
    EXPECT_EQ(platform->inputs().first().title, QStringLiteral("ネモリア"));
    EXPECT_TRUE(platform->inputs().first().defaultText.isEmpty());

    EXPECT_EQ(patients(2001), 1);
    EXPECT_EQ(episodes(2001), 1);
    const QVariant id = newestEpisode();
    EXPECT_EQ(count(QStringLiteral("SELECT * FROM 入退院情報 WHERE カルテID = 2001 AND 入退院ID = %1").arg(id.toInt())), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT * FROM 検査情報 WHERE 入退院ID = %1").arg(id.toInt())), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT * FROM 診断情報 WHERE 入退院ID = %1").arg(id.toInt())), 1);
    EXPECT_TRUE(handedOver());
    EXPECT_TRUE(platform->boxes().isEmpty());
}

TEST_P(Registration, ExistingChartGetsOnlyAnEpisode)
{
    registerAnswering(QStringLiteral("1001"));
    EXPECT_EQ(patients(1001), 1);
    EXPECT_EQ(episodes(1001), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT * FROM 患者情報 WHERE カルテID = 1001 AND 氏名 = '山田太郎'")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT * FROM 検査情報 WHERE 入退院ID = %1").arg(newestEpisode().toInt())), 1);
    EXPECT_TRUE(handedOver());
}

TEST_P(Registration, ZeroNegativeAndHalvesMakeTheirCharts)
{
    registerAnswering(QStringLiteral("0"));
    registerAnswering(QStringLiteral("-7"));
    registerAnswering(QStringLiteral("12.5"));
    registerAnswering(QStringLiteral("13.5"));
    for (int chart : {0, -7, 12, 14}) {
        EXPECT_EQ(patients(chart), 1) << chart;
        EXPECT_EQ(episodes(chart), 1) << chart;
    }
    EXPECT_EQ(patients(13), 0);
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(RegistrationTest, InpatientLedgerPromptHasNoFinalStop)
{
    auto &ledger = toolkit::Forms::get<InpatientLedger>();
    ledger.showModeless();
    platform->cancelInput();
    ledger::registerPatient(ledger, *ledger.connection);
    ASSERT_EQ(platform->inputs().size(), 1);
    EXPECT_EQ(platform->inputs().first().prompt, QStringLiteral("作成したい新規患者のカルテIDを入力してください"));
}

TEST_F(RegistrationTest, CancelLeavesTheLedgerAsItWas)
{
    const int before = allEpisodes();
    auto &ledger = toolkit::Forms::get<AllPatientLedger>();
    ledger.showModeless();
    platform->cancelInput();
    ledger::registerPatient(ledger, *ledger.connection);
    QCoreApplication::processEvents();
    EXPECT_EQ(allEpisodes(), before);
    EXPECT_EQ(toolkit::Forms::find<AllPatientLedger>(), &ledger);
    EXPECT_FALSE(toolkit::Forms::find<NewPatientWindow>());
    EXPECT_TRUE(platform->boxes().isEmpty());
}

TEST_F(RegistrationTest, TextThatIsNoNumberAsksForHalfWidthDigits)
{
    const int before = allEpisodes();
    for (const QString &answer : {QStringLiteral("abc"), QStringLiteral("たなか"), QStringLiteral("  ")}) {
        registerAnswering(answer);
        EXPECT_EQ(platform->boxes().last().request.text, QStringLiteral("半角数字で入力してください。"));
        EXPECT_EQ(platform->boxes().last().request.title, QStringLiteral("ネモリア"));
        EXPECT_EQ(platform->boxes().last().request.icon, toolkit::MessageIcon::Exclamation);
    }
    EXPECT_EQ(platform->boxes().size(), 3);
    EXPECT_EQ(allEpisodes(), before);
    EXPECT_TRUE(toolkit::Forms::find<AllPatientLedger>());
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(RegistrationTest, NumberBeyond32BitsIsRefusedAndTheLedgerStays)
{
    const int before = allEpisodes();
    registerAnswering(QStringLiteral("21474836470"));
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_EQ(platform->boxes().first().request.text,
              QStringLiteral("カルテIDは -2147483648 から 2147483647 までの半角数字で入力してください。"));
    EXPECT_EQ(platform->boxes().first().request.icon, toolkit::MessageIcon::Exclamation);
    EXPECT_FALSE(exitStatus.has_value());
    EXPECT_TRUE(toolkit::Forms::find<AllPatientLedger>());
    EXPECT_EQ(allEpisodes(), before);
}

// A failure on the companion rows must not leave an episode that could never be opened.
TEST_F(RegistrationTest, FailureLeavesNoHalfRegisteredEpisode)
{
    ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(ward.connection()),
                           "CREATE TRIGGER refuse BEFORE INSERT ON 診断情報 BEGIN SELECT RAISE(ABORT, 'refused'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const int before = allEpisodes();
    registerAnswering(QStringLiteral("3001"));
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(allEpisodes(), before);
    EXPECT_EQ(patients(3001), 0);
}

// Another workstation keeps the file locked past the wait: nothing is
// registered and the ledger stays.
TEST_F(RegistrationTest, ALockedFileIsToldAndTheLedgerStays)
{
    sqlite3_exec(jet::sqliteHandle(ward.connection()), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    registerAnswering(QStringLiteral("3002"));
    sqlite3_exec(jet::sqliteHandle(ward.connection()), "COMMIT", nullptr, nullptr, nullptr);
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_TRUE(platform->boxes()[0].request.text.startsWith(QStringLiteral("ほかの端末がデータベースを使用しているため、登録できませんでした。")));
    EXPECT_FALSE(exitStatus.has_value());
    EXPECT_TRUE(toolkit::Forms::find<AllPatientLedger>());
    EXPECT_EQ(episodes(3002), 0);
}

TEST_F(RegistrationTest, WithoutTheNewPatientWindowTheAllPatientLedgerComesBack)
{
    app::unregisterWindow(app::window::NewPatient);
    auto &ledger = toolkit::Forms::get<InpatientLedger>();
    ledger.showModeless();
    platform->answerInput(QStringLiteral("2002"));
    ledger::registerPatient(ledger, *ledger.connection);
    QCoreApplication::processEvents();
    EXPECT_FALSE(toolkit::Forms::find<InpatientLedger>());
    ASSERT_TRUE(toolkit::Forms::find<AllPatientLedger>());
    EXPECT_TRUE(toolkit::Forms::find<AllPatientLedger>()->isVisible());
    EXPECT_EQ(episodes(2002), 1);
}

TEST(FirstRegistration, EmptyDatabaseGetsBothRows)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::V2112);
    auto connect = [&path] {
        auto connection = std::make_unique<jet::Connection>();
        connection->setProvider(db::shapingProvider());
        connection->open(db::shapedConnectionString(path));
        return connection;
    };
    RegisteringLedger::connect = connect;
    auto services = std::make_unique<toolkit::ScriptedPlatform>();
    toolkit::ScriptedPlatform *platform = services.get();
    toolkit::setPlatform(std::move(services));
    toolkit::resetProgramState();

    auto &ledger = toolkit::Forms::get<AllPatientLedger>();
    platform->answerInput(QStringLiteral("1"));
    ledger::registerPatient(ledger, *ledger.connection);
    EXPECT_TRUE(platform->boxes().isEmpty());

    auto check = connect();
    for (const QString &table : {QStringLiteral("患者情報"), QStringLiteral("入退院情報"), QStringLiteral("検査情報"),
                                 QStringLiteral("診断情報")}) {
        jet::Recordset rows;
        rows.open(QStringLiteral("SELECT * FROM ") + table, check.get());
        EXPECT_EQ(rows.recordCount(), 1) << table.toStdString();
    }
    toolkit::resetProgramState();
    toolkit::setPlatform(nullptr);
}

} // namespace
