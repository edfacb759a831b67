#include "appfixture.h"
#include "support/labels.h"

#include "app/product.h"
#include "certificate/records/extension.h"

#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "db/codetables.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/engine/catalog.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/engine/postgres/server.h"
#include "support/testserver.h"

#include <QTimer>

using namespace testing_support;
using toolkit::Forms;
using namespace Qt::StringLiterals;

namespace {

class Startup : public ProgramTest
{
protected:
    // The splash window as the program shows it, and its first tick.
    frmSplash &showSplash()
    {
        app::showWindow(app::window::Splash);
        return *Forms::find<frmSplash>();
    }

    void probe()
    {
        showSplash().timerTicked();
        passLogin();
    }

    void expectOneErrorBox(const QString &text)
    {
        ASSERT_EQ(platform->boxes().size(), 1) << boxTexts().join(u'|').toStdString();
        const auto &box = platform->boxes().first().request;
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.title, QStringLiteral("ネモリア"));
        EXPECT_EQ(box.icon, toolkit::MessageIcon::Critical);
        EXPECT_EQ(box.buttons, toolkit::MessageButtons::Ok);
    }

    // An upgrade window registered under `name`, recording its load.
    bool *upgradeShown(const QString &name)
    {
        registerLazyStandIn<StandInUpgrade>(name, [this](StandInUpgrade &window) {
            window.loaded = [this] { upgradeLoadedWithSplash = Forms::find<frmSplash>() != nullptr; };
        });
        return &upgradeLoadedWithSplash;
    }

    bool upgradeLoadedWithSplash = false;
};

TEST_F(Startup, CurrentDatabaseShowsStartMenuAboutOneSecondLater)
{
    makeDatabase(db::Generation::V2112);
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        db::addCommonEntries(connection);
        certificates::extendDatabase(connection);
    }
    QElapsedTimer clock;
    clock.start();
    frmSplash &splash = showSplash();
    EXPECT_TRUE(splash.timer()->isActive());
    EXPECT_EQ(splash.timer()->interval(), 1000);

    ASSERT_TRUE(waitFor([] { return Forms::find<frmFirstAdmin>() != nullptr; }));
    EXPECT_GE(clock.elapsed(), 900);
    passLogin();
    frmSelector *selector = Forms::find<frmSelector>();
    ASSERT_NE(selector, nullptr);
    EXPECT_TRUE(selector->isVisible());
    EXPECT_EQ(labelText(selector, "Label4"), QStringLiteral("2.112"));
    EXPECT_EQ(labelText(selector, "Label2"), app::kProgramVersionText);
    EXPECT_EQ(Forms::find<frmSplash>(), nullptr);
    EXPECT_TRUE(platform->boxes().isEmpty());
    EXPECT_FALSE(exitStatus.has_value());
}

// The probe tells a generation by the tables, which a server must carry as a file does.
TEST_F(Startup, ALedgerCreatedOnAServerOpensTheStartMenu)
{
    ServerDatabase server(testServerConninfo());
    db::createDatabase(QString::fromUtf8(server.conninfo()), db::Generation::V2112);
    writeLocationFile(QString::fromUtf8(server.conninfo()) + u'\n');
    probe();
    EXPECT_TRUE(waitFor([] { return Forms::find<frmSelector>() != nullptr; })) << boxTexts().join(u'|').toStdString();
}

// Missing, or reached but not a ledger the program may open: the box names
// the server and says why, and the program ends, before any upgrade is offered.
TEST_F(Startup, AServerDatabaseMissingOrNoLedgerOrNewerIsNamedAndTheProgramEnds)
{
    ServerDatabase server(testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    const QString missing = QString::fromUtf8(withDatabase(server.conninfo(), server.name() + "_missing"));
    for (const auto &[at, reason] : {std::pair{missing, u" はサーバーにありません。"_s}, std::pair{location, u" はネモリアの台帳ではありません"_s},
                                     std::pair{location, u" は、このプログラム（ver2.112 の台帳まで）より新しい ver2.200 の台帳です。"_s}}) {
        SetUp();
        if (reason.contains(u"2.200"_s)) {
            db::createDatabase(location, db::Generation::V2112);
            server.exec("UPDATE \"バージョン\" SET \"バージョン\" = '2.200'");
        }
        writeLocationFile(at + u'\n');
        probe();
        ASSERT_EQ(platform->boxes().size(), 1);
        EXPECT_TRUE(platform->boxes().first().request.text.startsWith(kAcquisitionFailed + u"\rデータベース "_s + jet::describeServer(at) + reason))
            << boxTexts().join(u'|').toStdString();
        EXPECT_EQ(exitStatus, 1);
        TearDown();
    }
}

TEST_F(Startup, SplashShowsProgramVersion)
{
    makeDatabase(db::Generation::V2112);
    frmSplash &splash = showSplash();
    EXPECT_EQ(labelText(&splash, "Label1"), app::kShortNameAndVersion);
    EXPECT_EQ(testing_support::narrowLabels(&splash), QStringList());
}

TEST_F(Startup, DatabaseWithoutVersionTableIsAnnouncedForTheLaterUpgrade)
{
    makeDatabase(db::Generation::V2086);
    bool *shown = upgradeShown(app::window::UpgradeTo2112);
    probe();
    expectOneErrorBox(QStringLiteral("データベースを ver2.112 にコンバートします。"));
    ASSERT_NE(app::findWindow(app::window::UpgradeTo2112), nullptr);
    EXPECT_TRUE(app::findWindow(app::window::UpgradeTo2112)->isVisible());
    EXPECT_TRUE(*shown) << "the upgrade window loads before the splash window goes";
    EXPECT_EQ(Forms::find<frmSplash>(), nullptr);
    EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(Startup, DatabaseWithoutIcdCodeIsAnnouncedForTheEarlierUpgradeWhateverItsVersionTable)
{
    for (const bool withVersionTable : {false, true}) {
        SCOPED_TRACE(withVersionTable ? "with version table" : "without version table");
        SetUp();
        makeDatabase(db::Generation::Old);
        if (withVersionTable) {
            jet::Catalog catalog;
            catalog.open(db::plainConnectionString(databasePath()));
            catalog.createTable(db::versionTable());
            catalog.close();
        }
        upgradeShown(app::window::UpgradeTo2086);
        probe();
        expectOneErrorBox(QStringLiteral("データベースを ver2.086 にコンバートします。"));
        EXPECT_NE(app::findWindow(app::window::UpgradeTo2086), nullptr);
        EXPECT_EQ(app::findWindow(app::window::UpgradeTo2112), nullptr);
        EXPECT_EQ(Forms::find<frmSplash>(), nullptr);
        EXPECT_FALSE(exitStatus.has_value());
        TearDown();
        QFile::remove(databasePath());
    }
}

TEST_F(Startup, AnnouncedUpgradeThatIsNotInstalledEndsTheProgramNormally)
{
    makeDatabase(db::Generation::V2086);
    app::unregisterWindow(app::window::UpgradeTo2112);
    probe();
    expectOneErrorBox(QStringLiteral("データベースを ver2.112 にコンバートします。"));
    EXPECT_TRUE(Forms::loaded().isEmpty());
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(Startup, LocationFileNamingMissingFileReportsDefaultNameAndEnds)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("elsewhere/ward.mdb"));
    writeLocationFile(path);
    probe();
    // The second line names the file that was tried and why it failed.
    expectOneErrorBox(kAcquisitionFailed + QStringLiteral("\rデータベース '%1' を開けません。ファイルが見つかりません。").arg(path));
    EXPECT_EQ(exitStatus, 1);
    EXPECT_TRUE(Forms::loaded().isEmpty());
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("elsewhere/ward.mdb"))));
}

TEST_F(Startup, MissingOrEmptyLocationFileEndsWithTheFatalErrorBox)
{
    for (const bool blank : {false, true}) {
        SCOPED_TRACE(blank ? "location file of blanks only" : "no location file");
        SetUp();
        if (blank)
            writeLocationFile(QStringLiteral("   "));
        probe();
        expectOneErrorBox(kFatalText);
        EXPECT_EQ(exitStatus, 1);
        EXPECT_TRUE(Forms::loaded().isEmpty());
        TearDown();
    }
}

// A message box of the probe runs its own event loop, in which the timer may
// fire again.
class TickingPlatform : public toolkit::ScriptedPlatform
{
public:
    std::function<void()> whileBoxOpen;
    toolkit::MessageResult messageBox(const toolkit::MessageBoxRequest &box) override
    {
        if (whileBoxOpen)
            whileBoxOpen();
        return ScriptedPlatform::messageBox(box);
    }
};

TEST_F(Startup, TickWhileProbeBoxIsOpenStartsNothing)
{
    auto services = std::make_unique<TickingPlatform>();
    TickingPlatform *ticking = services.get();
    services->setProgramFolder(folder.path());
    toolkit::setPlatform(std::move(services));
    platform = ticking;
    makeDatabase(db::Generation::V2086);

    frmSplash &splash = showSplash();
    int ticks = 0;
    ticking->whileBoxOpen = [&] {
        if (++ticks < 3)
            splash.timerTicked();
    };
    splash.timerTicked();
    settle();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(ticking->boxes().size(), 1);
}

// The state a broken-off upgrade of the earlier program leaves: the version
// table is there, empty, and the rest of its generation is not.
TEST_F(Startup, EmptyVersionTableIsOfferedTheUpgradeThatCompletesIt)
{
    makeDatabase(db::Generation::V2086);
    jet::Catalog catalog;
    catalog.open(db::plainConnectionString(databasePath()));
    catalog.createTable(db::versionTable());
    catalog.close();
    bool *shown = upgradeShown(app::window::UpgradeTo2112);
    probe();
    expectOneErrorBox(QStringLiteral("データベースを ver2.112 にコンバートします。"));
    EXPECT_TRUE(*shown);
    EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
    EXPECT_FALSE(exitStatus.has_value());
}

// Declined, the offer comes again at the next start; accepted, never again.
TEST_F(Startup, ANewLedgerIsOfferedItsCommonEntriesUntilItHasThem)
{
    makeDatabase(db::Generation::V2112);
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        certificates::extendDatabase(connection);
    }
    QList<qsizetype> offers;
    for (const auto answer : {toolkit::MessageResult::No, toolkit::MessageResult::Yes, toolkit::MessageResult::Yes}) {
        SetUp();
        platform->answerBox(answer);
        probe();
        offers << platform->boxes().size();
        EXPECT_NE(Forms::find<frmSelector>(), nullptr);
        TearDown();
    }
    EXPECT_EQ(offers, (QList<qsizetype>{1, 1, 0}));
    jet::Connection connection;
    connection.open(db::plainConnectionString(databasePath()));
    QStringList rows;
    for (const QString &table : {u"性別"_s, u"入院形態"_s}) {
        jet::Recordset codes;
        codes.open(u"SELECT %1 FROM %1 ORDER BY %1ID"_s.arg(table), &connection);
        for (; !codes.eof(); codes.moveNext())
            rows << codes.value(0).toString();
    }
    EXPECT_EQ(rows, (QStringList{u"-"_s, u"男性"_s, u"女性"_s, u"-"_s, u"任意入院"_s, u"医療保護入院"_s, u"措置入院"_s,
                                 u"緊急措置入院"_s, u"応急入院"_s}));
}

} // namespace
