#include "record/frmFindPt.h"

#include "db/engine/sqlite/sqlitedriver.h"
#include "ledger/frmFindPts.h"
#include "recordfixture.h"
#include "toolkit/form.h"

#include <QElapsedTimer>
#include <QTest>
#include <sqlite3.h>

#include <thread>

using namespace testing_support;

namespace {

// A record window on the file while another connection, as another
// workstation's save would, holds the file's write lock.
class BusyFileTest : public RecordWindowTest
{
protected:
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmFindPts>(app::window::AllPatientLedger);
        registerWindow<frmFindPt>(app::window::AllPatientRecord);
        window = open<frmFindPt>(app::window::AllPatientLedger, 5);
        ASSERT_NE(window, nullptr);
        address = field(window, "Text11");
        address->selectAll();
        QTest::keyClicks(address, QStringLiteral("Sapporo 3-1"));
    }

    void lock(const char *sql) { ASSERT_EQ(sqlite3_exec(holder(), sql, nullptr, nullptr, nullptr), SQLITE_OK); }
    sqlite3 *holder() { return jet::sqliteHandle(ward.connection()); }
    void save() { window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger(); }
    QString storedAddress() { return stored(QStringLiteral("SELECT 住所 FROM 患者情報 WHERE カルテID = 1004")).toString(); }

    frmFindPt *window = nullptr;
    QLineEdit *address = nullptr;
};

TEST_F(BusyFileTest, ASaveWaitsForALockThatIsLetGo)
{
    lock("BEGIN IMMEDIATE");
    std::thread otherSave([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        sqlite3_exec(holder(), "COMMIT", nullptr, nullptr, nullptr);
    });
    QElapsedTimer waited;
    waited.start();
    save();
    otherSave.join();
    EXPECT_GE(waited.elapsed(), 500);
    EXPECT_TRUE(boxes().isEmpty()) << boxes().last().text.toStdString();
    EXPECT_EQ(storedAddress(), QStringLiteral("Sapporo 3-1"));
}

TEST_F(BusyFileTest, ALockKeptPastTheWaitLeavesTheWindowAndItsTextAndTheNextSaveStores)
{
    lock("BEGIN IMMEDIATE");
    QElapsedTimer waited;
    waited.start();
    save();
    EXPECT_GE(waited.elapsed(), 2500);
    EXPECT_LT(waited.elapsed(), 10000);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes().last().text.startsWith(QStringLiteral("ほかの端末がデータベースを使用しているため、保存できませんでした。")));
    // Closing tries again, and stays while the lock is still held.
    EXPECT_FALSE(window->unload());
    EXPECT_EQ(boxes().size(), 2);
    EXPECT_FALSE(toolkit::programHasEnded());
    EXPECT_EQ(toolkit::Forms::find<frmFindPt>(), window);
    EXPECT_EQ(address->text(), QStringLiteral("Sapporo 3-1"));

    lock("COMMIT");
    save();
    EXPECT_EQ(boxes().size(), 2);
    EXPECT_EQ(storedAddress(), QStringLiteral("Sapporo 3-1"));
    EXPECT_TRUE(window->unload());
}

} // namespace
