#include "certificate/frm32New.h"
#include "certificate/frmWelfare.h"
#include "ledger/frmAmbuPts.h"
#include "record/recordfixture.h"
#include "support/labels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QStatusBar>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;
using toolkit::MessageResult;

namespace {

class CertificateTest : public testing_support::RecordWindowTest
{
protected:
    explicit CertificateTest(testing_support::Backend backend = testing_support::Backend::File)
        : RecordWindowTest(backend)
    {
    }

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        registerWindow<frm32New>(app::window::SubsidyCertificate);
        registerWindow<frmWelfare>(app::window::HandbookCertificate);
    }

    // Chooses the menu item on the outpatient ledger's row of the episode and
    // runs `steps` inside the modal certificate window, which then closes as
    // the user closes it.
    template <class Window>
    void withCertificate(int episode, const std::function<void(Window *)> &steps)
    {
        app::showWindow(app::window::OutpatientLedger);
        auto *ledger = toolkit::Forms::find<frmAmbuPts>();
        ASSERT_NE(ledger, nullptr);
        toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, u"DataGrid1"_s);
        for (int row = 0; row < grid->model()->rowCount(); ++row) {
            if (grid->value(row, u"入退院ID"_s).toInt() == episode)
                grid->setCurrentRow(row);
        }
        bool ran = false;
        QTimer::singleShot(0, ledger, [&] {
            Window *window = toolkit::Forms::find<Window>();
            ran = window && window->isVisible();
            if (!ran)
                return;
            steps(window);
            if (toolkit::Forms::find<Window>())
                window->close();
        });
        const char *item = std::is_same_v<Window, frm32New> ? "mnuTool32New" : "mnuToolTecho";
        ledger->findChild<QAction *>(QString::fromLatin1(item))->trigger();
        EXPECT_TRUE(ran) << "the window opened modally";
    }

    QVariant certificateValue(const QString &column, int chart = 1004)
    {
        return stored(u"SELECT [%1] FROM `32条診断書` WHERE カルテID = ?"_s.arg(column), {chart});
    }

    static QCheckBox *box(const QWidget *window, const char *name) { return field<QCheckBox>(window, name); }
};

TEST_F(CertificateTest, AFreshRowOpensEmptyWithEveryGroupDisabledAndStaysTheOnlyRow)
{
    ward.connection().execute(u"DELETE FROM `32条診断書` WHERE カルテID = 1004"_s);
    withCertificate<frm32New>(5, [&](frm32New *window) {
        EXPECT_EQ(window->windowTitle(), u"伊達政子 - 通院医療費公費負担診断書"_s);
        EXPECT_EQ(field<QComboBox>(window, "DataCombo1")->currentText(), u"- -"_s);
        EXPECT_EQ(field<QComboBox>(window, "DataCombo2")->currentText(), u"- -"_s);
        EXPECT_EQ(field(window, "Text3")->text(), u"昭和60年1月1日"_s);
        for (QCheckBox *check : window->findChildren<QCheckBox *>())
            EXPECT_FALSE(check->isChecked()) << check->objectName().toStdString();
        for (const certificate::ConditionGroup &group : certificate::conditionGroups()) {
            for (const QString &member : group.members)
                EXPECT_FALSE(window->findChild<QWidget *>(member)->isEnabled()) << member.toStdString();
        }
        EXPECT_EQ(testing_support::narrowLabels(window), QStringList());
    });
    withCertificate<frmWelfare>(5, [](frmWelfare *) {});
    withCertificate<frm32New>(5, [](frm32New *) {});
    EXPECT_EQ(stored(u"SELECT COUNT(*) FROM `32条診断書` WHERE カルテID = 1004"_s).toInt(), 1);
    EXPECT_EQ(certificateValue(u"主精神障害"_s).toInt(), 1);

    // A kana search that finds no one leaves the items without effect.
    auto *ledger = toolkit::Forms::find<frmAmbuPts>();
    field(ledger, "Text1")->setText(u"ん"_s);
    field<QPushButton>(ledger, "cmdFilter")->click();
    ledger->findChild<QAction *>(u"mnuTool32New"_s)->trigger();
    EXPECT_EQ(toolkit::Forms::find<frm32New>(), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(CertificateTest, AGroupDisablesItsMembersWithoutClearingThem)
{
    withCertificate<frm32New>(5, [&](frm32New *window) {
        box(window, "Check1")->click();
        EXPECT_TRUE(box(window, "Check13")->isEnabled());
        EXPECT_TRUE(field(window, "Text10")->isEnabled());
        box(window, "Check13")->click();
        box(window, "Check1")->click();
        EXPECT_TRUE(box(window, "Check13")->isChecked());
        EXPECT_FALSE(box(window, "Check13")->isEnabled());
    });
    EXPECT_NE(certificateValue(u"憂うつ気分"_s).toInt(), 0);
    EXPECT_EQ(certificateValue(u"○抑うつ状態"_s).toInt(), 0);

    ward.connection().execute(u"UPDATE `32条診断書` SET [○幻覚妄想状態] = -1 WHERE カルテID = 1004"_s);
    withCertificate<frm32New>(5, [&](frm32New *window) {
        EXPECT_TRUE(box(window, "Check31")->isEnabled()) << "enabled by the stored flag";
        EXPECT_FALSE(box(window, "Check11")->isEnabled());
    });
}

TEST_F(CertificateTest, LimitsTypingPatientFieldsAndTheCloseBoxSaving)
{
    withCertificate<frm32New>(5, [&](frm32New *window) {
        field(window, "Text6")->insert(QString(43, u'あ'));
        EXPECT_EQ(field(window, "Text6")->text().size(), 42);
        for (const char *name : {"Text8", "Text22"}) {
            auto *memo = field<QPlainTextEdit>(window, name);
            memo->selectAll();
            memo->insertPlainText(QString(500, u'い'));
        }
        EXPECT_EQ(field<QPlainTextEdit>(window, "Text8")->toPlainText().size(), 480);
        EXPECT_EQ(field<QPlainTextEdit>(window, "Text22")->toPlainText().size(), 288);
        field(window, "Text5")->setText(u"東京都港区1-2-3"_s);

        const int beeps = program.services->beeps();
        auto *combo = field<QComboBox>(window, "DataCombo1");
        QTest::keyClick(combo, Qt::Key_A);
        combo->lineEdit()->selectAll();
        QTest::keyClick(combo, Qt::Key_Delete);
        QGuiApplication::clipboard()->setText(u"なにか"_s);
        const std::unique_ptr<QMenu> menu(combo->lineEdit()->createStandardContextMenu());
        for (QAction *action : menu->actions())
            action->trigger();
        EXPECT_EQ(program.services->beeps(), beeps + 2);
        EXPECT_EQ(combo->currentText(), u"F25.1 統合失調感情障害"_s);

        auto *postalCode = field(window, "Text4");
        postalCode->clear();
        QTest::keyClicks(postalCode, u"1a2-34567890"_s);
        EXPECT_EQ(postalCode->text(), u"12-34567"_s);
    });
    EXPECT_EQ(stored(u"SELECT 住所 FROM 患者情報 WHERE カルテID = 1004"_s).toString(), u"東京都港区1-2-3"_s);
    EXPECT_EQ(certificateValue(u"身体合併症"_s).toString().size(), 42);
    EXPECT_EQ(certificateValue(u"病歴および経過など0"_s).toString().size(), 480);
}

// A refused value no longer ends the program and loses the certificate.
TEST_F(CertificateTest, ARefusedSaveKeepsTheWindowAndStoresTheRest)
{
    withCertificate<frm32New>(5, [&](frm32New *window) {
        field<QComboBox>(window, "DataCombo2")->setEditText(u"なにか"_s);
        field(window, "Text23")->setText(u"岡部"_s);
        window->findChild<QAction *>(u"mnuFileSave"_s)->trigger();
        ASSERT_EQ(boxes().size(), 1);
        EXPECT_EQ(boxes()[0].text, u"コンボボックスに任意の文字を入力したためにエラーとなりました。\r"
                                   u"「従精神障害」は保存されませんでした。ほかの項目は保存されました。"_s);
        EXPECT_EQ(toolkit::Forms::find<frm32New>(), window);
        EXPECT_EQ(field<QComboBox>(window, "DataCombo2")->currentText(), u"- -"_s) << "the stored entry again";
        field<QComboBox>(window, "DataCombo2")->setEditText(u"なにか"_s);
        field(window, "Text23")->setText(u"岡部"_s);
    });
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[1].text, u"コンボボックスに任意の文字を入力したためにエラーとなりました。\r"
                               u"「従精神障害」は保存されませんでした。ほかの項目は保存されました。"_s);
    EXPECT_EQ(certificateValue(u"医師氏名"_s).toString(), u"岡部"_s);
    EXPECT_EQ(certificateValue(u"従精神障害"_s).toInt(), 1);
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(CertificateTest, TheHandbookWindowsChoicesOfOneLivingEnvironmentAndGuide)
{
    ward.connection().execute(u"UPDATE `32条診断書` SET 投薬内容 = '処方A', 身体合併症 = '高血圧' WHERE カルテID = 1004"_s);
    withCertificate<frmWelfare>(5, [&](frmWelfare *window) {
        EXPECT_EQ(field(window, "Text6")->text(), u"高血圧"_s) << "shared with the subsidy certificate";
        box(window, "Check46")->click();
        box(window, "Check48")->click();
        EXPECT_FALSE(box(window, "Check46")->isChecked());
        box(window, "Check57")->click();
        box(window, "Check50")->click();
        EXPECT_TRUE(box(window, "Check57")->isChecked()) << "必要である stands apart";
        box(window, "Check50")->click();
        EXPECT_FALSE(box(window, "Check50")->isChecked()) << "an area may end with none";

        box(window, "Check92")->click();
        field(window, "Text18")->setText(u"ひまわり寮"_s);
        field(window, "Text19")->setText(u"知人宅"_s);
        box(window, "Check94")->click();
        EXPECT_FALSE(box(window, "Check92")->isChecked());
        EXPECT_EQ(field(window, "Text18")->text(), QString());
        EXPECT_EQ(field(window, "Text19")->text(), u"知人宅"_s);
        field(window, "Text18")->setText(u"ひまわり寮"_s);
        box(window, "Check92")->click();
        EXPECT_FALSE(box(window, "Check94")->isChecked());
        EXPECT_EQ(field(window, "Text18")->text(), u"ひまわり寮"_s);
        EXPECT_EQ(field(window, "Text19")->text(), QString());
        field(window, "Text19")->setText(u"知人宅"_s);
        box(window, "Check93")->click();
        EXPECT_EQ(field(window, "Text18")->text() + field(window, "Text19")->text(), QString());

        auto *guide = field<QPlainTextEdit>(window, "Text20");
        EXPECT_EQ(guide->toPlainText(), u"目安を知りたい等級をクリックしてください。\n"_s);
        QTest::mouseClick(field<QLabel>(window, "Label47"), Qt::LeftButton);
        QTest::mouseClick(field<QLabel>(window, "Label49"), Qt::LeftButton);
        EXPECT_TRUE(guide->toPlainText().startsWith(u"【2級】"_s));
        EXPECT_EQ(testing_support::narrowLabels(window), QStringList());
    });
    EXPECT_EQ(certificateValue(u"金銭できる"_s).toInt(), 0);
    EXPECT_NE(certificateValue(u"金銭援助"_s).toInt(), 0);
    EXPECT_NE(certificateValue(u"通院要不要"_s).toInt(), 0);
    EXPECT_NE(certificateValue(u"生活環境在宅"_s).toInt(), 0);
    EXPECT_EQ(certificateValue(u"投薬内容"_s).toString(), u"処方A"_s) << "the subsidy's own fields are kept";
    withCertificate<frmWelfare>(5, [&](frmWelfare *window) {
        EXPECT_EQ(field<QPlainTextEdit>(window, "Text20")->toPlainText(), u"目安を知りたい等級をクリックしてください。\n"_s);
    });
}

// A database whose upgrade left out a handbook column: the window says the
// database could not be read, and the program ends.
TEST_F(CertificateTest, ADatabaseWithoutTheHandbookColumnsEndsTheProgramWithTheMessage)
{
    writeLocation(databaseWithout(u"初診日"_s, true));
    app::showWindow(app::window::OutpatientLedger);
    auto *ledger = toolkit::Forms::find<frmAmbuPts>();
    ASSERT_NE(ledger, nullptr);
    toolkit::DataGrid::of(ledger, u"DataGrid1"_s)->setCurrentRow(0);
    ledger->findChild<QAction *>(u"mnuToolTecho"_s)->trigger();
    ASSERT_FALSE(boxes().isEmpty());
    EXPECT_EQ(boxes().last().text, u"データベース norva2000.mdb の取得に失敗しました。"_s);
    EXPECT_EQ(boxes().last().icon, toolkit::MessageIcon::Critical);
    EXPECT_EQ(program.statuses, QList<int>{1});
}

// Another workstation on the same certificate: the other one is a process of
// its own, saving a field of chart 1004's certificate row or deleting it.
class CertificateWorkstationsTest : public CertificateTest
{
protected:
    explicit CertificateWorkstationsTest(testing_support::Backend backend) : CertificateTest(backend) {}

    void other(const QString &field = {}, const QString &value = {})
    {
        QStringList args{u"--certificate-once"_s, ward.path(), u"1004"_s};
        if (!field.isEmpty())
            args << field << value;
        QProcess process;
        process.start(QStringLiteral(NORVA_CRASHTEST), args);
        process.waitForFinished(60000);
        ASSERT_EQ(process.readAllStandardOutput().trimmed(), "0") << process.readAllStandardError().toStdString();
    }

    static void save(QWidget *window) { window->findChild<QAction *>(u"mnuFileSave"_s)->trigger(); }
};

using CertificateWorkstations = testing_support::OnBothBackends<CertificateWorkstationsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, CertificateWorkstations,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(CertificateWorkstations, TheSameFieldIsPutToTheUserOnSavingAndClosingAndOthersAreKept)
{
    withCertificate<frm32New>(5, [&](frm32New *window) {
        other(u"医師氏名"_s, u"Other"_s);
        field(window, "Text23")->setText(u"Mine"_s);
        field<QPlainTextEdit>(window, "Text22")->setPlainText(u"Note"_s);
        program.services->answerBox(MessageResult::Cancel); // 画面に戻る
        save(window);
        ASSERT_EQ(boxes().size(), 1);
        EXPECT_TRUE(boxes().first().text.contains(u"ほかの端末の内容：Other\r　この画面の入力：Mine"_s));
        EXPECT_EQ(certificateValue(u"備考0"_s).toString(), QString()) << "nothing of the row is written";

        program.services->answerBox(MessageResult::No); // 相手の変更を読み込む
        save(window);
        EXPECT_EQ(field(window, "Text23")->text(), u"Other"_s);
        EXPECT_EQ(certificateValue(u"備考0"_s).toString(), u"Note"_s);

        // A different field: no question.  Closing asks the same; keeping mine writes over theirs.
        other(u"備考0"_s, u"Theirs"_s);
        other(u"医師氏名"_s, u"Again"_s);
        field(window, "Text23")->setText(u"Mine2"_s);
        program.services->answerBox(MessageResult::Yes); // 自分の入力で上書き
    });
    EXPECT_EQ(boxes().size(), 3);
    EXPECT_EQ(certificateValue(u"医師氏名"_s).toString() + certificateValue(u"備考0"_s).toString(), u"Mine2Theirs"_s);
    EXPECT_TRUE(program.statuses.isEmpty()) << "the program goes on";
}

// As the record windows: without edits the window shows the other's save,
// with edits it keeps them and says so until the save has answered it.
TEST_P(CertificateWorkstations, FollowsAChangeMadeElsewhereUnlessItWouldLoseEdits)
{
    withCertificate<frm32New>(5, [&](frm32New *window) {
        const auto status = [window] { return window->statusBar()->findChild<QLabel *>()->text(); };
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        other(u"医師氏名"_s, u"Other"_s);
        EXPECT_TRUE(QTest::qWaitFor([&] { return field(window, "Text23")->text() == u"Other"_s; }, 5000));

        field<QPlainTextEdit>(window, "Text22")->setPlainText(u"Note"_s);
        other(u"医師氏名"_s, u"Again"_s);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !status().isEmpty(); }, 5000));
        EXPECT_EQ(status(), u"この患者のデータは他の端末で変更されました。"_s);
        EXPECT_EQ(field<QPlainTextEdit>(window, "Text22")->toPlainText(), u"Note"_s);
        save(window);
        EXPECT_EQ(status(), QString()) << "answered by the save";
    });
    EXPECT_EQ(certificateValue(u"医師氏名"_s).toString() + certificateValue(u"備考0"_s).toString(), u"AgainNote"_s);
}

TEST_P(CertificateWorkstations, ARowDeletedElsewhereKeepsTheTextUntilClosedWithoutSaving)
{
    withCertificate<frmWelfare>(5, [&](frmWelfare *window) {
        other();
        field(window, "Text23")->setText(u"Mine"_s);
        save(window);
        program.services->answerBox(MessageResult::No);
        window->close();
        ASSERT_EQ(boxes().size(), 2);
        EXPECT_TRUE(boxes().first().text.contains(u"ほかの端末で削除されています"_s));
        EXPECT_EQ(toolkit::Forms::find<frmWelfare>(), window);
        EXPECT_EQ(field(window, "Text23")->text(), u"Mine"_s);
        program.services->answerBox(MessageResult::Yes);
        window->close();
        EXPECT_EQ(toolkit::Forms::find<frmWelfare>(), nullptr);
    });
    EXPECT_TRUE(program.statuses.isEmpty());
}

} // namespace
