// Two workstations on one patient: the other one is a process of its own
// (the kill harness's single save or deletion), this one a real record window.

#include "ledger/frmPts.h"
#include "record/frmPt.h"
#include "recordfixture.h"
#include "toolkit/platform.h"

#include <QLineEdit>
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
    }

    // The other workstation's save or deletion; its engine's error number.
    int other(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral(NORVA_CRASHTEST), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed().toInt();
    }
    int otherSaves(const QString &field, const QString &value)
    {
        return other({QStringLiteral("--save-once"), ward.path(), QStringLiteral("1"), field, value});
    }

    static void retype(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    QVariant episodeValue(const QString &column)
    {
        return stored(QStringLiteral("SELECT %1 FROM 入退院情報 WHERE 入退院ID = 1").arg(column));
    }
    QVariant name() { return stored(QStringLiteral("SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001")); }
};

using Workstations = testing_support::OnBothBackends<WorkstationsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Workstations,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(Workstations, EditsOfDifferentFieldsAreBothKept)
{
    frmPt *window = open<frmPt>(app::window::InpatientLedger, 1);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(otherSaves(QStringLiteral("氏名"), QStringLiteral("Other")), 0);
    retype(field(window, "Text8"), QStringLiteral("F20"));
    window->save();
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_EQ(name().toString(), QStringLiteral("Other"));
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名")).toString(), QStringLiteral("F20"));
}

// The second to save the same field is told, with both values, and loses nothing it did not choose to.
TEST_P(Workstations, TheSameFieldSavedElsewhereIsPutToTheUser)
{
    frmPt *window = open<frmPt>(app::window::InpatientLedger, 1);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(otherSaves(QStringLiteral("一時診断名"), QStringLiteral("F32")), 0);
    retype(field(window, "Text2"), QStringLiteral("Mine"));
    retype(field(window, "Text8"), QStringLiteral("F20"));

    program.services->answerBox(MessageResult::Cancel); // 画面に戻る
    window->save();
    ASSERT_EQ(boxes().size(), 1);
    const toolkit::MessageBoxRequest box = boxes().first();
    EXPECT_TRUE(box.text.contains(QStringLiteral("【一時診断名】\r　ほかの端末の内容：F32\r　この画面の入力：F20"))) << box.text.toStdString();
    EXPECT_EQ(box.buttonTexts, QStringList({QStringLiteral("自分の入力で上書き"), QStringLiteral("相手の変更を読み込む"),
                                            QStringLiteral("画面に戻る")}));
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名")).toString(), QStringLiteral("F32"));
    EXPECT_NE(name().toString(), QStringLiteral("Mine")) << "nothing of the row is written";
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F20"));

    program.services->answerBox(MessageResult::No); // 相手の変更を読み込む
    window->save();
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F32"));
    EXPECT_EQ(name().toString(), QStringLiteral("Mine"));

    // Closing asks the same; keeping mine writes it over theirs.
    ASSERT_EQ(otherSaves(QStringLiteral("一時診断名"), QStringLiteral("F41")), 0);
    retype(field(window, "Text8"), QStringLiteral("F10"));
    program.services->answerBox(MessageResult::Yes); // 自分の入力で上書き
    window->close();
    EXPECT_EQ(boxes().size(), 3);
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名")).toString(), QStringLiteral("F10"));
    EXPECT_TRUE(program.statuses.isEmpty()) << "the program goes on";
}

TEST_P(Workstations, AnEpisodeDeletedElsewhereKeepsTheTextUntilClosedWithoutSaving)
{
    frmPt *window = open<frmPt>(app::window::InpatientLedger, 1);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(other({QStringLiteral("--delete-once"), ward.path(), QStringLiteral("1")}), 0);
    retype(field(window, "Text8"), QStringLiteral("F20"));
    window->save();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes().first().text.contains(QStringLiteral("ほかの端末で削除されています")));

    program.services->answerBox(MessageResult::No);
    window->close();
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes().last().buttons, toolkit::MessageButtons::YesNo);
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), window);
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F20"));

    program.services->answerBox(MessageResult::Yes);
    window->close();
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_TRUE(episodeValue(QStringLiteral("一時診断名")).isNull());
    EXPECT_TRUE(program.statuses.isEmpty());
}

} // namespace
