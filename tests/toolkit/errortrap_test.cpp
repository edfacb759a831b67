#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include "db/engine/error.h"

#include <QCoreApplication>
#include "support/scripted.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace toolkit;
using namespace Qt::StringLiterals;

namespace {

class frmTrapped : public Form
{
public:
    int unloads = 0;

protected:
    void onUnload(bool &) override { ++unloads; }
};

class ErrorTrapTest : public ::testing::Test
{
protected:
    static MessageBoxRequest box(const QString &text, MessageIcon icon = MessageIcon::Exclamation)
    {
        MessageBoxRequest request;
        request.text = text;
        request.icon = icon;
        return request;
    }
    QStringList shownTexts() const
    {
        QStringList texts;
        for (const ScriptedPlatform::Box &shown : services->boxes())
            texts << shown.request.text;
        return texts;
    }

    testing_support::ScriptedProgram program;
    ScriptedPlatform *services = program.services;
    QList<int> &statuses = program.statuses;
};

const QString fatalText = QStringLiteral("問題が発生したため、ネモリアを終了します。\nご不便をおかけして申し訳ありません。");

TEST_F(ErrorTrapTest, HandlerWithoutFailureShowsNothing)
{
    int runs = 0;
    trap([&] { ++runs; }, {{jet::err::GeneralFailure, box("x"), {}}});
    untrapped([&] { ++runs; });
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(services->boxes().isEmpty());
    EXPECT_TRUE(statuses.isEmpty());
}

TEST_F(ErrorTrapTest, FirstAnswerForTheNumberInTableOrder)
{
    QStringList steps;
    const ErrorTable table = {
        {jet::err::TableMissing, box("表がありません"), [&] { steps << "table"; }},
        {jet::err::GeneralFailure, box("最初"), [&] { steps << "first"; }},
        {jet::err::GeneralFailure, box("二番目"), [&] { steps << "second"; }},
    };
    Forms::get<frmTrapped>();
    bool after = false;
    trap(
        [&] {
            throw jet::Error(jet::err::GeneralFailure, QStringLiteral("開けません"));
            after = true;
        },
        table);
    EXPECT_FALSE(after);
    EXPECT_EQ(shownTexts(), QStringList{"最初"});
    EXPECT_EQ(services->boxes().first().request.icon, MessageIcon::Exclamation);
    EXPECT_EQ(steps, QStringList{"first"});
    EXPECT_EQ(statuses, QList<int>{1});
    EXPECT_TRUE(Forms::loaded().isEmpty());
}

TEST_F(ErrorTrapTest, AnswerThatKeepsTheProgramRunningRunsItsFollowUpAfterTheBox)
{
    QStringList steps;
    ErrorAnswer keepGoing{jet::err::UpdateCancelled, box("保存できません"), [&] {
                              steps << QString::number(services->boxes().size());
                          }};
    keepGoing.endsProgram = false;
    ErrorAnswer silent{jet::err::NoCurrentRecord, MessageBoxRequest(), [&] { steps << "silent"; }};
    silent.endsProgram = false;

    trap([] { throw jet::Error(jet::err::UpdateCancelled, QString()); }, {keepGoing, silent});
    trap([] { throw jet::Error(jet::err::NoCurrentRecord, QString()); }, {keepGoing, silent});
    EXPECT_EQ(steps, (QStringList{"1", "silent"}));
    EXPECT_EQ(shownTexts(), QStringList{"保存できません"});
    EXPECT_FALSE(programHasEnded());
    EXPECT_TRUE(statuses.isEmpty());
}

TEST_F(ErrorTrapTest, AnyOtherFailureGetsTheFatalBoxAndEndsTheProgram)
{
    const ErrorTable table = {{jet::err::TableMissing, box("表がありません"), {}}};
    const QList<std::function<void()>> failures = {
        [] { throw jet::Error(jet::err::GeneralFailure, QStringLiteral("開けません")); },
        [] { throw std::runtime_error("location file"); },
        [] { throw 42; },
    };
    for (const auto &failure : failures) {
        resetProgramState();
        frmTrapped &window = Forms::get<frmTrapped>();
        window.showModeless();
        trap(failure, table);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.unloads, 0);
    }
    ASSERT_EQ(services->boxes().size(), 3);
    for (const ScriptedPlatform::Box &shown : services->boxes()) {
        EXPECT_EQ(shown.request.text, fatalText);
        EXPECT_EQ(shown.request.title, QStringLiteral("ネモリア"));
        EXPECT_EQ(shown.request.icon, MessageIcon::Critical);
        EXPECT_EQ(shown.request.buttons, MessageButtons::Ok);
    }
    EXPECT_EQ(statuses, (QList<int>{1, 1, 1}));
}

TEST_F(ErrorTrapTest, TheEndStopsAtTheOutermostTrapOnly)
{
    bool afterInner = false;
    bool afterHelper = false;
    trap([&] {
        [&] {
            trap([] { throw jet::Error(jet::err::TableMissing, QString()); });
            afterHelper = true;
        }();
        afterInner = true;
    });
    EXPECT_FALSE(afterHelper);
    EXPECT_FALSE(afterInner);
    EXPECT_EQ(shownTexts(), QStringList{fatalText});
    EXPECT_EQ(statuses, QList<int>{1});

    // Once the outermost trap has stopped it, the caller is not unwound.
    bool afterOuter = false;
    trap([] { endProgram(2); });
    afterOuter = true;
    EXPECT_TRUE(afterOuter);
}

TEST_F(ErrorTrapTest, FailingFollowUpIsReportedAsUncaught)
{
    ErrorAnswer answer{jet::err::TableMissing, box("表がありません"),
                       [] { throw jet::Error(jet::err::ObjectClosed, QStringLiteral("閉じています")); }};
    answer.endsProgram = false;
    trap([] { throw jet::Error(jet::err::TableMissing, QString()); }, {answer});
    EXPECT_EQ(shownTexts(), (QStringList{"表がありません", "実行時エラー '3704':\n\n閉じています"}));
    EXPECT_EQ(statuses, QList<int>{1});
}

TEST_F(ErrorTrapTest, StandingAnswerStandsInForTheGenericReportsOnly)
{
    setStandingAnswers({{jet::err::DatabaseDamaged, box("damaged"), {}, true, true}});
    const auto damaged = [] { throw jet::Error(jet::err::DatabaseDamaged, QStringLiteral("file")); };
    trap(damaged, {{jet::err::GeneralFailure, box("x"), {}, false}});
    untrapped(damaged);
    trap(damaged, {{jet::err::DatabaseDamaged, box("own"), {}, false}});
    setStandingAnswers({});
    EXPECT_EQ(shownTexts(), (QStringList{u"damaged\rfile"_s, u"damaged\rfile"_s, u"own"_s}));
    EXPECT_EQ(statuses.value(0), 1);
}

TEST_F(ErrorTrapTest, UntrappedFailureGetsTheStandardReport)
{
    Forms::get<frmTrapped>();
    untrapped([] { throw jet::Error(jet::err::GeneralFailure, QStringLiteral("ファイルが見つかりません。")); });
    ASSERT_EQ(services->boxes().size(), 1);
    const MessageBoxRequest shown = services->boxes().first().request;
    EXPECT_EQ(shown.text, QStringLiteral("実行時エラー '-2147467259 (80004005)':\n\nファイルが見つかりません。"));
    EXPECT_EQ(shown.title, QStringLiteral("ネモリア"));
    EXPECT_EQ(shown.icon, MessageIcon::Critical);
    EXPECT_EQ(statuses, QList<int>{1});
    EXPECT_TRUE(Forms::loaded().isEmpty());

    resetProgramState();
    untrapped([] { throw jet::Error(jet::err::BindingColumnMissing, QStringLiteral("列がありません")); });
    untrapped([] { throw std::runtime_error("input past end of file"); });
    EXPECT_EQ(shownTexts().mid(1), (QStringList{"実行時エラー '545':\n\n列がありません",
                                                "実行時エラー:\n\ninput past end of file"}));
}

} // namespace
