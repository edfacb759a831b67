// Two workstations on one patient: the other one is a process of its own
// (the kill harness's single save or deletion), this one a real record window.

#include "ledger/frmPts.h"
#include "record/frmPt.h"
#include "recordfixture.h"

#include <QProcess>
#include <QTest>

namespace {

using toolkit::MessageResult;

class WorkstationsTest : public testing_support::RecordWindowTest
{
protected:
    explicit WorkstationsTest(testing_support::Backend backend) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmPts>(app::window::InpatientLedger);
        registerWindow<frmPt>(app::window::InpatientRecord);
        window = open<frmPt>(app::window::InpatientLedger, 1);
        ASSERT_NE(window, nullptr);
    }

    // The other workstation's save (field, value) or deletion of episode 1.
    void other(const QString &field = {}, const QString &value = {})
    {
        QProcess process;
        process.start(QStringLiteral(NORVA_CRASHTEST), field.isEmpty()
                          ? QStringList{QStringLiteral("--delete-once"), ward.path(), QStringLiteral("1")}
                          : QStringList{QStringLiteral("--save-once"), ward.path(), QStringLiteral("1"), field, value});
        process.waitForFinished(60000);
        ASSERT_EQ(process.readAllStandardOutput().trimmed(), "0") << process.readAllStandardError().toStdString();
    }

    void retype(const char *name, const QString &text)
    {
        QLineEdit *box = field(window, name);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    QString diagnosis() { return stored(QStringLiteral("SELECT 一時診断名 FROM 入退院情報 WHERE 入退院ID = 1")).toString(); }
    QString name() { return stored(QStringLiteral("SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001")).toString(); }

    frmPt *window = nullptr;
};

using Workstations = testing_support::OnBothBackends<WorkstationsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Workstations,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(Workstations, TheSameFieldSavedElsewhereIsPutToTheUserAndOthersAreBothKept)
{
    other(QStringLiteral("一時診断名"), QStringLiteral("F32"));
    retype("Text2", QStringLiteral("Mine"));
    retype("Text8", QStringLiteral("F20"));
    program.services->answerBox(MessageResult::Cancel); // 画面に戻る
    window->save();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes().first().text.contains(QStringLiteral("【一時診断名】\r　ほかの端末の内容：F32\r　この画面の入力：F20")));
    EXPECT_TRUE(diagnosis() == QStringLiteral("F32") && name() != QStringLiteral("Mine")) << "nothing of the row is written";
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F20"));

    program.services->answerBox(MessageResult::No); // 相手の変更を読み込む
    window->save();
    EXPECT_EQ(field(window, "Text8")->text() + name(), QStringLiteral("F32Mine"));

    // A different field: no question.  Closing asks the same; keeping mine writes over theirs.
    other(QStringLiteral("氏名"), QStringLiteral("Other"));
    other(QStringLiteral("一時診断名"), QStringLiteral("F41"));
    retype("Text8", QStringLiteral("F10"));
    program.services->answerBox(MessageResult::Yes); // 自分の入力で上書き
    window->close();
    EXPECT_EQ(boxes().size(), 3);
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_EQ(diagnosis() + name(), QStringLiteral("F10Other"));
    EXPECT_TRUE(program.statuses.isEmpty()) << "the program goes on";
}

TEST_P(Workstations, AnEpisodeDeletedElsewhereKeepsTheTextUntilClosedWithoutSaving)
{
    other();
    retype("Text8", QStringLiteral("F20"));
    window->save();
    program.services->answerBox(MessageResult::No);
    window->close();
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_TRUE(boxes().first().text.contains(QStringLiteral("ほかの端末で削除されています")));
    EXPECT_EQ(boxes().last().buttons, toolkit::MessageButtons::YesNo);
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F20"));

    program.services->answerBox(MessageResult::Yes);
    window->close();
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
}

} // namespace
