#include "ledger/kanasearch.h"

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "support/fixture.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

using toolkit::MessageIcon;

namespace {

const QString kListSql = QStringLiteral(
    "SELECT 患者情報.かな氏名 AS かな氏名, 入退院情報.入退院ID AS 入退院ID FROM 患者情報 INNER JOIN 入退院情報 "
    "ON 患者情報.カルテID = 入退院情報.カルテID ORDER BY 入退院情報.入退院ID");

// A ledger reduced to what the search works on: its list, the box and the two buttons.
class SearchLedger : public toolkit::Form
{
public:
    static inline testing_support::WardDatabase *ward = nullptr;

    SearchLedger()
    {
        auto *central = new QWidget(this);
        auto *layout = new QVBoxLayout(central);
        text = new QLineEdit(central);
        cmdFilter = new QPushButton(QStringLiteral("検索(&S)"), central);
        cmdReset = new QPushButton(QStringLiteral("再検索(&R)"), central);
        layout->addWidget(text);
        layout->addWidget(cmdFilter);
        layout->addWidget(cmdReset);
        setCentralWidget(central);
        search = new ledger::KanaSearch(text, cmdFilter, cmdReset, this);
    }

    QLineEdit *text;
    QPushButton *cmdFilter;
    QPushButton *cmdReset;
    ledger::KanaSearch *search;
    std::unique_ptr<jet::Connection> connection;
    jet::Recordset list;

protected:
    void onLoad() override
    {
        connection = ward->connect();
        list.open(kListSql, connection.get());
        search->setList(&list);
    }
    void onUnload(bool &) override
    {
        list.close();
        connection->close();
    }
};

class KanaSearchTest : public ::testing::Test
{
protected:
    explicit KanaSearchTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        SearchLedger::ward = &ward;
        auto services = std::make_unique<toolkit::ScriptedPlatform>();
        platform = services.get();
        toolkit::setPlatform(std::move(services));
        toolkit::resetProgramState();
        toolkit::setExitHandler([this](int status) { exitStatus = status; });
        ledger = &toolkit::Forms::get<SearchLedger>();
        ledger->showModeless();
    }

    void TearDown() override
    {
        if (!toolkit::programHasEnded())
            toolkit::Forms::unload<SearchLedger>();
        toolkit::setExitHandler({});
        toolkit::setPlatform(nullptr);
        toolkit::resetProgramState();
    }

    void type(const QString &character)
    {
        QTest::sendKeyEvent(QTest::Click, ledger->text, Qt::Key_unknown, character, Qt::NoModifier);
    }

    void search(const QString &text)
    {
        ledger->text->setText(text);
        ledger->cmdFilter->click();
    }

    QStringList listedKana() const
    {
        QStringList kana;
        const int field = ledger->list.fieldIndex(QStringLiteral("かな氏名"));
        for (int row = 0; row < ledger->list.rowCount(); ++row)
            kana.append(ledger->list.valueAt(row, field).toString());
        return kana;
    }

    testing_support::WardDatabase ward;
    toolkit::ScriptedPlatform *platform = nullptr;
    SearchLedger *ledger = nullptr;
    std::optional<int> exitStatus;
};

using KanaSearch = testing_support::OnBothBackends<KanaSearchTest>;
INSTANTIATE_TEST_SUITE_P(Ward, KanaSearch,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_F(KanaSearchTest, BoxTakesHiraganaAndAsteriskOnly)
{
    for (const QString &accepted : {QStringLiteral("た"), QStringLiteral("ゐ"), QStringLiteral("ぽ"), QStringLiteral("ょ"),
                                    QStringLiteral("*")})
        type(accepted);
    EXPECT_EQ(ledger->text->text(), QStringLiteral("たゐぽょ*"));
    EXPECT_EQ(platform->beeps(), 0);

    const QStringList refused = {QStringLiteral("タ"), QStringLiteral("田"), QStringLiteral("ー"), QStringLiteral("ゎ"),
                                 QStringLiteral("ゔ"), QStringLiteral(" "), QStringLiteral("a"), QStringLiteral("1"),
                                 QStringLiteral("'"), QStringLiteral("?")};
    for (const QString &character : refused)
        type(character);
    EXPECT_EQ(ledger->text->text(), QStringLiteral("たゐぽょ*"));
    EXPECT_EQ(platform->beeps(), refused.size());

    QTest::keyClick(ledger->text, Qt::Key_Backspace);
    EXPECT_EQ(ledger->text->text(), QStringLiteral("たゐぽょ"));
    EXPECT_EQ(ledger::KanaSearch::acceptedCharacters().size(), 83);
}

TEST_F(KanaSearchTest, PastedTextLosesQuotesAndForeignWildcards)
{
    QApplication::clipboard()->setText(QStringLiteral("た'%?な] OR 1=1"));
    ledger->text->paste();
    EXPECT_EQ(ledger->text->text(), QStringLiteral("たな"));
    EXPECT_GE(platform->beeps(), 1);
}

TEST_F(KanaSearchTest, EmptyBoxAsksForKanaAndLeavesTheList)
{
    search(QString());
    ASSERT_EQ(platform->boxes().size(), 1);
    const auto &box = platform->boxes().first().request;
    EXPECT_EQ(box.title, QStringLiteral("ひらかな検索"));
    EXPECT_EQ(box.text, QStringLiteral("検索したい氏名をひらかなで入力してください。"));
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_EQ(platform->beeps(), 1);
    EXPECT_TRUE(ledger->list.filter().isEmpty());
    EXPECT_EQ(ledger->list.recordCount(), 8);
}

TEST_P(KanaSearch, PrefixMatchReplacesAnEarlierFilter)
{
    search(QStringLiteral("た"));
    EXPECT_EQ(listedKana(), (QStringList{QStringLiteral("たなかはなこ"), QStringLiteral("たかはしいちろう"),
                                         QStringLiteral("たかはしいちろう"), QStringLiteral("たなかはなこ")}));
    EXPECT_EQ(ledger->list.currentRow(), 0);

    search(QStringLiteral("たか"));
    EXPECT_EQ(listedKana().size(), 2);

    // Narrowing the list of たか would find nobody.
    search(QStringLiteral("や"));
    EXPECT_EQ(listedKana(), QStringList{QStringLiteral("やまだたろう")});

    search(QStringLiteral("*ろう"));
    EXPECT_EQ(listedKana().size(), 5);
    EXPECT_TRUE(platform->boxes().isEmpty());
    EXPECT_EQ(platform->beeps(), 0);
}

TEST_F(KanaSearchTest, EnterInTheBoxSearchesWithoutABeep)
{
    ledger->text->setText(QStringLiteral("だ"));
    QTest::keyClick(ledger->text, Qt::Key_Return);
    EXPECT_EQ(listedKana(), QStringList{QStringLiteral("だてまさこ")});
    EXPECT_EQ(platform->beeps(), 0);
    EXPECT_TRUE(ledger->cmdFilter->isDefault());
}

TEST_P(KanaSearch, NoMatchWarnsWithoutFinalStopAndKeepsTheEmptyList)
{
    search(QStringLiteral("ん"));
    ASSERT_EQ(platform->boxes().size(), 1);
    const auto &box = platform->boxes().first().request;
    EXPECT_EQ(box.title, QStringLiteral("ひらかな検索"));
    EXPECT_EQ(box.text, QStringLiteral("該当する患者氏名はありません"));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(platform->beeps(), 1);
    EXPECT_EQ(ledger->list.recordCount(), 0);
    EXPECT_FALSE(ledger->list.filter().isEmpty());
}

TEST_P(KanaSearch, RefusedPatternWarnsWithFinalStopAndGoesOn)
{
    search(QStringLiteral("た*か"));
    ASSERT_EQ(platform->boxes().size(), 1);
    const auto &box = platform->boxes().first().request;
    EXPECT_EQ(box.title, QStringLiteral("ひらかな検索"));
    EXPECT_EQ(box.text, QStringLiteral("該当する患者氏名はありません。"));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(platform->beeps(), 0);
    EXPECT_FALSE(exitStatus.has_value());
    EXPECT_TRUE(ledger->isLoaded());

    search(QStringLiteral("さ"));
    EXPECT_EQ(listedKana().size(), 2);
}

TEST_P(KanaSearch, ResetShowsRowsAddedMeanwhileAndEmptiesTheBox)
{
    search(QStringLiteral("た"));
    ward.connection().execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, かな氏名) VALUES (2001, 'あべ')"));
    ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (2001)"));

    ledger->cmdReset->click();
    EXPECT_TRUE(ledger->text->text().isEmpty());
    EXPECT_TRUE(ledger->list.filter().isEmpty());
    EXPECT_EQ(ledger->list.recordCount(), 9);
    EXPECT_TRUE(listedKana().contains(QStringLiteral("あべ")));
    EXPECT_EQ(ledger->list.currentRow(), 0);
    EXPECT_TRUE(platform->boxes().isEmpty());
}

} // namespace
