#include "options/frmOptions.h"

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

using toolkit::MessageButtons;
using toolkit::MessageIcon;
using toolkit::MessageResult;

namespace {

class OptionsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeLocation(ward.path());
        auto services = std::make_unique<toolkit::ScriptedPlatform>();
        scripted = services.get();
        scripted->setProgramFolder(programFolder.path());
        toolkit::setPlatform(std::move(services));
        toolkit::resetProgramState();
        toolkit::setExitHandler([this](int status) { exitStatus = status; });
    }

    void TearDown() override
    {
        if (!toolkit::programHasEnded())
            toolkit::Forms::unload<frmOptions>();
        toolkit::setExitHandler({});
        toolkit::setPlatform(nullptr);
        toolkit::resetProgramState();
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(programFolder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    frmOptions &shown()
    {
        frmOptions &window = toolkit::Forms::get<frmOptions>();
        window.showModeless();
        return window;
    }

    template <class T> static T *child(frmOptions &window, const QString &name)
    {
        T *widget = window.findChild<T *>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    static QTableView *grid(frmOptions &window, int number)
    {
        return child<QTableView>(window, QStringLiteral("DataGrid%1").arg(number));
    }

    static void showTabOf(frmOptions &window, int number)
    {
        const bool lower = number >= 7;
        child<QCheckBox>(window, QStringLiteral("Check1"))->setChecked(lower);
        child<QTabWidget>(window, lower ? QStringLiteral("SSTab2") : QStringLiteral("SSTab1"))
            ->setCurrentIndex(lower ? number - 7 : number);
    }

    // A press on the frame's own border area, beside its grid and note.
    static void clickFrame(frmOptions &window, int number)
    {
        showTabOf(window, number);
        QGroupBox *frame = child<QGroupBox>(window, QStringLiteral("Frame%1").arg(number));
        QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(2, frame->height() / 2));
    }

    static void press(frmOptions &window, const QString &button)
    {
        QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
    }

    static QList<int> enabledGrids(frmOptions &window)
    {
        QList<int> enabled;
        for (int number = 1; number <= 13; ++number) {
            if (grid(window, number)->isEnabled())
                enabled.append(number);
        }
        return enabled;
    }

    static toolkit::RecordsetModel *model(QTableView *view)
    {
        return qobject_cast<toolkit::RecordsetModel *>(view->model());
    }

    static QModelIndex cell(QTableView *view, int row, const QString &field)
    {
        toolkit::RecordsetModel *m = model(view);
        const QList<toolkit::GridColumn> columns = m->columns();
        for (int c = 0; c < columns.size(); ++c) {
            if (columns.at(c).field == field)
                return m->index(row, c);
        }
        ADD_FAILURE() << "no column " << field.toStdString();
        return {};
    }

    // What the user does: put the cursor on the cell and type the value.
    static void type(QTableView *view, int row, const QString &field, const QVariant &value)
    {
        const QModelIndex index = cell(view, row, field);
        view->setCurrentIndex(index);
        ASSERT_TRUE(view->model()->setData(index, value));
    }

    // Japanese text arrives committed by the input method.
    static void replaceText(QLineEdit *box, const QString &text)
    {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(box, &commit);
    }

    QVariant stored(const QString &sql)
    {
        jet::Recordset rs;
        rs.open(sql, &ward.connection());
        return rs.eof() ? QVariant() : rs.value(0);
    }

    int count(const QString &table, const QString &where = {})
    {
        return stored(QStringLiteral("SELECT COUNT(*) FROM %1%2")
                          .arg(table, where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where))
            .toInt();
    }

    testing_support::WardDatabase ward;
    QTemporaryDir programFolder;
    toolkit::ScriptedPlatform *scripted = nullptr;
    std::optional<int> exitStatus;
};

TEST_F(OptionsWindowTest, LoadShowsTheHospitalAndReadOnlyListsInTheirOrder)
{
    frmOptions &window = shown();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("オプション - ネモリア"));
    EXPECT_EQ(window.Text1()->text(), QStringLiteral("A病院"));
    EXPECT_EQ(window.Text2()->text(), QStringLiteral("精神科"));
    EXPECT_EQ(window.Text3()->text(), QStringLiteral("100-0001"));
    EXPECT_EQ(window.Text4()->text(), QStringLiteral("東京都千代田区1-1"));
    EXPECT_EQ(window.Text5()->text(), QStringLiteral("03-0000-0000"));
    EXPECT_TRUE(enabledGrids(window).isEmpty());
    EXPECT_FALSE(child<QCheckBox>(window, QStringLiteral("Check1"))->isChecked());
    EXPECT_TRUE(child<QTabWidget>(window, QStringLiteral("SSTab1"))->isVisible());
    EXPECT_FALSE(child<QTabWidget>(window, QStringLiteral("SSTab2"))->isVisible());

    // Rooms by their number text, not by ID; diagnoses by ICD code.
    QTableView *rooms = grid(window, 3);
    EXPECT_EQ(cell(rooms, 1, QStringLiteral("病室番号")).data().toString(), QStringLiteral("201"));
    EXPECT_EQ(cell(rooms, 2, QStringLiteral("病室番号")).data().toString(), QStringLiteral("305"));
    EXPECT_EQ(cell(grid(window, 1), 1, QStringLiteral("ICDコード")).data().toString(), QStringLiteral("F10.2"));
    EXPECT_EQ(model(grid(window, 13))->newRowLine(), 10);

    child<QCheckBox>(window, QStringLiteral("Check1"))->setChecked(true);
    EXPECT_FALSE(child<QTabWidget>(window, QStringLiteral("SSTab1"))->isVisible());
    EXPECT_TRUE(child<QTabWidget>(window, QStringLiteral("SSTab2"))->isVisible());
}

TEST_F(OptionsWindowTest, DeleteWithoutAnEditableListIsRefused)
{
    frmOptions &window = shown();
    press(window, QStringLiteral("cmdDelete"));
    ASSERT_EQ(scripted->boxes().size(), 1);
    const toolkit::MessageBoxRequest &box = scripted->boxes().at(0).request;
    EXPECT_EQ(box.text, QStringLiteral("削除できません。"));
    EXPECT_EQ(box.title, QStringLiteral("ネモリア"));
    EXPECT_EQ(box.icon, MessageIcon::None);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);

    // A click into the hospital's boxes makes the lists read-only again.
    clickFrame(window, 2);
    EXPECT_EQ(enabledGrids(window), QList<int>{2});
    showTabOf(window, 0);
    QTest::mouseClick(window.Text4(), Qt::LeftButton);
    EXPECT_TRUE(enabledGrids(window).isEmpty());
    press(window, QStringLiteral("cmdDelete"));
    ASSERT_EQ(scripted->boxes().size(), 2);
    EXPECT_EQ(scripted->boxes().at(1).request.text, QStringLiteral("削除できません。"));
    EXPECT_EQ(count(QStringLiteral("主治医")), 3);
}

TEST_F(OptionsWindowTest, DeleteActsOnTheLastClickedListOnly)
{
    ward.connection().execute(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('詳細不明', 'F99')"));
    frmOptions &window = shown();
    clickFrame(window, 2);
    clickFrame(window, 1);
    EXPECT_EQ(enabledGrids(window), QList<int>{1});

    QTableView *diagnoses = grid(window, 1);
    diagnoses->setCurrentIndex(cell(diagnoses, 5, QStringLiteral("ICDコード"))); // F99, used by no one
    scripted->answerBox(MessageResult::No);
    press(window, QStringLiteral("cmdDelete"));
    EXPECT_EQ(count(QStringLiteral("`診断名(ICD10)`")), 6);

    scripted->answerBox(MessageResult::Yes);
    press(window, QStringLiteral("cmdDelete"));
    ASSERT_EQ(scripted->boxes().size(), 2);
    const toolkit::MessageBoxRequest &ask = scripted->boxes().at(1).request;
    EXPECT_EQ(ask.title, QStringLiteral("削除"));
    EXPECT_EQ(ask.text, QStringLiteral("削除しますか？"));
    EXPECT_EQ(ask.icon, MessageIcon::Question);
    EXPECT_EQ(ask.buttons, MessageButtons::YesNo);
    EXPECT_EQ(count(QStringLiteral("`診断名(ICD10)`")), 5);
    EXPECT_EQ(count(QStringLiteral("`診断名(ICD10)`"), QStringLiteral("ICDコード = 'F99'")), 0);
    EXPECT_EQ(count(QStringLiteral("主治医")), 3);
}

// Deleting "-" or a row still named would take episodes out of every list
// that joins the code tables.
TEST_F(OptionsWindowTest, ThePlaceholderAndRowsInUseAreKept)
{
    frmOptions &window = shown();
    clickFrame(window, 1);
    QTableView *diagnoses = grid(window, 1);
    const auto refusalAt = [&](QTableView *view, int row, const QString &field) {
        view->setCurrentIndex(cell(view, row, field));
        press(window, QStringLiteral("cmdDelete"));
        return scripted->boxes().last().request;
    };
    EXPECT_EQ(refusalAt(diagnoses, 0, QStringLiteral("診断名")).text,
              QStringLiteral("「-」は「未設定」を表す行のため、削除できません。"));
    const toolkit::MessageBoxRequest used = refusalAt(diagnoses, 1, QStringLiteral("診断名")); // F10.2
    EXPECT_EQ(used.text, QStringLiteral("「アルコール依存症」は患者 1 人、診断書 1 件で使われているため、削除できません。"));
    EXPECT_EQ(used.icon, MessageIcon::Exclamation);

    clickFrame(window, 2);
    EXPECT_EQ(refusalAt(grid(window, 2), 2, QStringLiteral("主治医")).text,
              QStringLiteral("「山田」は入院・外来の記録 4 件で使われているため、削除できません。"));
    EXPECT_EQ(scripted->boxes().size(), 3) << "refused without asking";
    EXPECT_EQ(count(QStringLiteral("`診断名(ICD10)`")), 5);
    EXPECT_EQ(count(QStringLiteral("主治医")), 3);
}

TEST_F(OptionsWindowTest, ListEnabledOnAHiddenTabStaysTheDeleteTarget)
{
    ward.connection().execute(QStringLiteral("INSERT INTO 主治医 (主治医) VALUES ('佐々木')"));
    frmOptions &window = shown();
    clickFrame(window, 2);
    child<QCheckBox>(window, QStringLiteral("Check1"))->setChecked(true);
    EXPECT_FALSE(grid(window, 2)->isVisible());
    EXPECT_EQ(enabledGrids(window), QList<int>{2});

    grid(window, 2)->setCurrentIndex(cell(grid(window, 2), 3, QStringLiteral("主治医")));
    scripted->answerBox(MessageResult::Yes);
    press(window, QStringLiteral("cmdDelete"));
    EXPECT_EQ(count(QStringLiteral("主治医"), QStringLiteral("主治医 = '佐々木'")), 0);
    EXPECT_EQ(count(QStringLiteral("主治医")), 3);
}

TEST_F(OptionsWindowTest, TheNewRowLineCannotBeDeletedAndAddsOneRow)
{
    frmOptions &window = shown();
    clickFrame(window, 4);
    QTableView *beds = grid(window, 4);
    const int newRow = model(beds)->newRowLine();
    ASSERT_EQ(newRow, 3);
    beds->setCurrentIndex(cell(beds, newRow, QStringLiteral("ベッド番号")));
    scripted->answerBox(MessageResult::Yes);
    press(window, QStringLiteral("cmdDelete"));
    ASSERT_EQ(scripted->boxes().size(), 2);
    const toolkit::MessageBoxRequest &box = scripted->boxes().at(1).request;
    EXPECT_EQ(box.text, QStringLiteral("最下段の行は削除できません。"));
    EXPECT_EQ(box.title, QStringLiteral("ネモリア"));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_TRUE(toolkit::Forms::find<frmOptions>());
    EXPECT_FALSE(exitStatus);
    EXPECT_EQ(count(QStringLiteral("ベッド番号")), 3);

    type(beds, newRow, QStringLiteral("ベッド番号"), QStringLiteral("3"));
    press(window, QStringLiteral("cmdApply"));
    EXPECT_EQ(count(QStringLiteral("ベッド番号")), 4);
    EXPECT_EQ(stored(QStringLiteral("SELECT ベッドID FROM ベッド番号 WHERE ベッド番号 = '3'")).toInt(), 4);
    EXPECT_EQ(model(beds)->newRowLine(), 4);
}

TEST_F(OptionsWindowTest, SaveWritesEveryCodeTableAndTheHospital)
{
    const QStringList displays{QStringLiteral("診断名"), QStringLiteral("主治医"), QStringLiteral("病室番号"),
                               QStringLiteral("ベッド番号"), QStringLiteral("医薬品名"), QStringLiteral("服用方法"),
                               QStringLiteral("入院形態"), QStringLiteral("介護度"), QStringLiteral("障害者等級"),
                               QStringLiteral("扱別"), QStringLiteral("転帰"), QStringLiteral("性別"),
                               QStringLiteral("時間外頻度")};
    const QStringList tables{QStringLiteral("`診断名(ICD10)`"), QStringLiteral("主治医"), QStringLiteral("病室番号"),
                             QStringLiteral("ベッド番号"), QStringLiteral("医薬品情報"), QStringLiteral("服用方法"),
                             QStringLiteral("入院形態"), QStringLiteral("介護度"), QStringLiteral("障害者等級"),
                             QStringLiteral("扱別"), QStringLiteral("転帰"), QStringLiteral("性別"),
                             QStringLiteral("時間外頻度")};
    frmOptions &window = shown();
    for (int number = 1; number <= 13; ++number) {
        clickFrame(window, number);
        type(grid(window, number), 1, displays.at(number - 1), QStringLiteral("変更%1").arg(number));
    }
    showTabOf(window, 0);
    replaceText(window.Text1(), QStringLiteral("B病院"));
    replaceText(window.Text2(), QStringLiteral("神経科"));
    replaceText(window.Text3(), QStringLiteral("200-0002"));
    replaceText(window.Text4(), QStringLiteral("大阪府"));
    replaceText(window.Text5(), QStringLiteral("06-1111-1111"));
    press(window, QStringLiteral("cmdApply"));

    EXPECT_TRUE(scripted->boxes().isEmpty());
    for (int number = 1; number <= 13; ++number) {
        EXPECT_EQ(count(tables.at(number - 1), QStringLiteral("%1 = '変更%2'").arg(displays.at(number - 1)).arg(number)), 1)
            << tables.at(number - 1).toStdString();
    }
    EXPECT_EQ(stored(QStringLiteral("SELECT 病院名 & '|' & 診療担当科名 & '|' & 郵便番号 & '|' & 所在地 & '|' & 電話番号 FROM 病院名"))
                  .toString(),
              QStringLiteral("B病院|神経科|200-0002|大阪府|06-1111-1111"));
    EXPECT_TRUE(toolkit::Forms::find<frmOptions>());
}

TEST_F(OptionsWindowTest, ChangesLeftUnsavedAreWrittenOnClose)
{
    frmOptions &window = shown();
    clickFrame(window, 2);
    type(grid(window, 2), 1, QStringLiteral("主治医"), QStringLiteral("岡部医師"));
    clickFrame(window, 12);
    QTableView *sexes = grid(window, 12);
    type(sexes, model(sexes)->newRowLine(), QStringLiteral("性別"), QStringLiteral("不明"));
    showTabOf(window, 0);
    replaceText(window.Text5(), QStringLiteral("03-9999-9999"));
    press(window, QStringLiteral("cmdOK"));

    EXPECT_FALSE(toolkit::Forms::find<frmOptions>());
    EXPECT_TRUE(scripted->boxes().isEmpty());
    EXPECT_EQ(count(QStringLiteral("主治医"), QStringLiteral("主治医ID = 2 AND 主治医 = '岡部医師'")), 1);
    EXPECT_EQ(count(QStringLiteral("性別"), QStringLiteral("性別 = '不明'")), 1);
    EXPECT_EQ(stored(QStringLiteral("SELECT 電話番号 FROM 病院名")).toString(), QStringLiteral("03-9999-9999"));
}

TEST_F(OptionsWindowTest, AFailedSaveIsReportedAndTheWindowStaysOpen)
{
    frmOptions &window = shown();
    clickFrame(window, 2);
    QTableView *doctors = grid(window, 2);
    type(doctors, 2, QStringLiteral("主治医ID"), 2); // the key of 岡部
    clickFrame(window, 12);
    type(grid(window, 12), 1, QStringLiteral("性別"), QStringLiteral("男"));
    press(window, QStringLiteral("cmdApply"));

    ASSERT_EQ(scripted->boxes().size(), 1);
    const toolkit::MessageBoxRequest &box = scripted->boxes().at(0).request;
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("「主治医」、「性別」の変更を保存できませんでした。"))) << box.text.toStdString();
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_TRUE(toolkit::Forms::find<frmOptions>());
    EXPECT_FALSE(exitStatus);
    EXPECT_EQ(count(QStringLiteral("性別"), QStringLiteral("性別 = '男'")), 0);

    // Once the user mends the key, the same button saves both lists.
    type(doctors, 2, QStringLiteral("主治医ID"), 3);
    press(window, QStringLiteral("cmdApply"));
    EXPECT_EQ(scripted->boxes().size(), 1);
    EXPECT_EQ(count(QStringLiteral("性別"), QStringLiteral("性別 = '男'")), 1);
}

TEST_F(OptionsWindowTest, AValueChangedOnAnotherWorkstationIsPutToTheUserOnClosing)
{
    frmOptions &window = shown();
    ward.connection().execute(QStringLiteral("UPDATE 病院名 SET 電話番号 = '03-1111-1111'"));
    showTabOf(window, 0);
    replaceText(window.Text5(), QStringLiteral("03-9999-9999"));
    scripted->answerBox(toolkit::MessageResult::Cancel); // 画面に戻る
    press(window, QStringLiteral("cmdOK"));
    EXPECT_TRUE(scripted->boxes().at(0).request.text.contains(QStringLiteral("03-1111-1111")));
    EXPECT_TRUE(toolkit::Forms::find<frmOptions>());
    scripted->answerBox(toolkit::MessageResult::Yes); // 自分の入力で上書き
    press(window, QStringLiteral("cmdOK"));
    EXPECT_FALSE(toolkit::Forms::find<frmOptions>());
    EXPECT_EQ(stored(QStringLiteral("SELECT 電話番号 FROM 病院名")).toString(), QStringLiteral("03-9999-9999"));
}

// Leaving a row stores it: another workstation's change of the same cell is
// put to the user as the buttons' saves put it, and a row deleted there is
// said to be gone, its list read again and the other lists' edits kept.
TEST_F(OptionsWindowTest, LeavingARowAnotherWorkstationChangedOrDeletedAsksOrReloads)
{
    frmOptions &window = shown();
    clickFrame(window, 2);
    QTableView *doctors = grid(window, 2);
    type(doctors, 1, QStringLiteral("主治医"), QStringLiteral("Mine"));
    ward.connection().execute(QStringLiteral("UPDATE 主治医 SET 主治医 = 'Other' WHERE 主治医ID = 2"));
    scripted->answerBox(MessageResult::Cancel); // 画面に戻る
    doctors->setCurrentIndex(cell(doctors, 0, QStringLiteral("主治医")));
    ASSERT_EQ(scripted->boxes().size(), 1);
    EXPECT_TRUE(scripted->boxes().at(0).request.text.contains(QStringLiteral("ほかの端末の内容：Other\r　この画面の入力：Mine")));
    EXPECT_EQ(stored(QStringLiteral("SELECT 主治医 FROM 主治医 WHERE 主治医ID = 2")).toString(), QStringLiteral("Other"));
    scripted->answerBox(MessageResult::Yes); // 自分の入力で上書き
    doctors->setCurrentIndex(cell(doctors, 0, QStringLiteral("主治医")));
    EXPECT_EQ(scripted->boxes().size(), 2);
    EXPECT_EQ(stored(QStringLiteral("SELECT 主治医 FROM 主治医 WHERE 主治医ID = 2")).toString(), QStringLiteral("Mine"));

    type(doctors, 2, QStringLiteral("主治医"), QStringLiteral("Kept"));
    clickFrame(window, 4);
    QTableView *beds = grid(window, 4);
    const int rows = model(beds)->rowCount();
    type(beds, 1, QStringLiteral("ベッド番号"), QStringLiteral("9"));
    ward.connection().execute(QStringLiteral("DELETE FROM ベッド番号 WHERE ベッドID = 3"));
    beds->setCurrentIndex(cell(beds, 2, QStringLiteral("ベッド番号")));
    ASSERT_EQ(scripted->boxes().size(), 3);
    EXPECT_TRUE(scripted->boxes().at(2).request.text.contains(QStringLiteral("ほかの端末で削除された")));
    EXPECT_EQ(model(beds)->rowCount(), rows - 1);
    press(window, QStringLiteral("cmdApply"));
    EXPECT_EQ(scripted->boxes().size(), 3);
    EXPECT_EQ(count(QStringLiteral("主治医"), QStringLiteral("主治医 = 'Kept'")), 1);
    EXPECT_FALSE(exitStatus);
}

TEST_F(OptionsWindowTest, AFailedCloseWarnsAndKeepsTheOtherEdits)
{
    frmOptions &window = shown();
    clickFrame(window, 2);
    type(grid(window, 2), 2, QStringLiteral("主治医ID"), 2);
    type(grid(window, 2), 2, QStringLiteral("主治医"), QStringLiteral("山田医師"));
    clickFrame(window, 12);
    type(grid(window, 12), 1, QStringLiteral("性別"), QStringLiteral("男"));
    press(window, QStringLiteral("cmdOK"));

    ASSERT_EQ(scripted->boxes().size(), 1);
    const toolkit::MessageBoxRequest &box = scripted->boxes().at(0).request;
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("「主治医」の変更を保存できませんでした。"))) << box.text.toStdString();
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_FALSE(toolkit::Forms::find<frmOptions>());
    EXPECT_NE(exitStatus, std::optional<int>(1));
    EXPECT_EQ(count(QStringLiteral("主治医"), QStringLiteral("主治医 = '山田医師'")), 0);
    EXPECT_EQ(count(QStringLiteral("性別"), QStringLiteral("性別 = '男'")), 1);
}

TEST_F(OptionsWindowTest, PostalCodeAndTelephoneTakeDigitsAndHyphenOnly)
{
    frmOptions &window = shown();
    for (QLineEdit *box : {window.Text3(), window.Text5()}) {
        box->clear();
        const int beeps = scripted->beeps();
        QTest::keyClicks(box, QStringLiteral("1a-2"));
        QTest::keyClick(box, Qt::Key_Backspace);
        EXPECT_EQ(box->text(), QStringLiteral("1-"));
        EXPECT_EQ(scripted->beeps(), beeps + 1);
    }
    const int beeps = scripted->beeps();
    QTest::keyClicks(window.Text1(), QStringLiteral("a"));
    EXPECT_EQ(scripted->beeps(), beeps);
}

TEST_F(OptionsWindowTest, ANewHospitalNameReachesAWindowLoadedAfterwards)
{
    frmOptions &unseen = toolkit::Forms::get<frmOptions>();
    EXPECT_FALSE(unseen.isVisible());
    EXPECT_EQ(unseen.Text1()->text(), QStringLiteral("A病院"));

    frmOptions &window = shown();
    EXPECT_EQ(&window, &unseen);
    replaceText(window.Text1(), QStringLiteral("ネモリア記念病院"));
    press(window, QStringLiteral("cmdOK"));
    ASSERT_FALSE(toolkit::Forms::find<frmOptions>());

    EXPECT_EQ(toolkit::Forms::get<frmOptions>().Text1()->text(), QStringLiteral("ネモリア記念病院"));
}

TEST_F(OptionsWindowTest, LoadFailuresEndTheProgram)
{
    QTemporaryDir older;
    const QString path = QDir(older.path()).filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::Old); // its diagnosis table has no ICD code to sort by
    writeLocation(path);
    toolkit::Forms::get<frmOptions>();
    ASSERT_FALSE(scripted->boxes().isEmpty());
    const toolkit::MessageBoxRequest &box = scripted->boxes().at(0).request;
    EXPECT_EQ(box.text, QStringLiteral("データベース norva2000.mdb の取得に失敗しました。"));
    EXPECT_EQ(box.icon, MessageIcon::Critical);
    EXPECT_EQ(exitStatus, std::optional<int>(1));

    toolkit::resetProgramState();
    exitStatus.reset();
    writeLocation(QDir(older.path()).filePath(QStringLiteral("missing.mdb")));
    toolkit::Forms::get<frmOptions>();
    ASSERT_EQ(scripted->boxes().size(), 2);
    EXPECT_EQ(scripted->boxes().at(1).request.text,
              QStringLiteral("問題が発生したため、ネモリアを終了します。\nご不便をおかけして申し訳ありません。"));
    EXPECT_EQ(exitStatus, std::optional<int>(1));
}

} // namespace
