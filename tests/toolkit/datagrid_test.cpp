#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/errors.h"
#include "support/tempdb.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace toolkit;
using testing_support::TempDatabase;
using testing_support::errorOf;
using db::columns::column;

namespace {

constexpr int kRows = 3000;

// Remembers which rows a view asked for.
class CountingModel : public RecordsetModel
{
public:
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole)
            rowsRead.insert(index.row());
        return RecordsetModel::data(index, role);
    }
    mutable QSet<int> rowsRead;
};

// A code table of a few thousand rows: ID, name, a date and a quantity.
class DataGridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto scripted = std::make_unique<ScriptedPlatform>();
        m_platform = scripted.get();
        setPlatform(std::move(scripted));

        jet::Catalog catalog;
        catalog.setActiveConnection(&db.connection());
        jet::TableDef table;
        table.name = QStringLiteral("医薬品情報");
        jet::ColumnDef id = column(QStringLiteral("ID"), jet::DataType::Long);
        id.autoIncrement = true;
        table.columns = {id, column(QStringLiteral("医薬品名"), jet::DataType::Text, 50),
                         column(QStringLiteral("登録日"), jet::DataType::Date),
                         column(QStringLiteral("数量"), jet::DataType::Double)};
        table.indexes = {jet::IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true, true}};
        catalog.createTable(table);

        db.connection().beginTrans();
        for (int i = 1; i <= kRows; ++i)
            db.connection().execute(QStringLiteral("INSERT INTO 医薬品情報 (医薬品名, 登録日, 数量) VALUES (?, ?, ?)"),
                                    {QStringLiteral("薬%1").arg(i), i == 2 ? QVariant() : QVariant(QDate(2003, 4, 1).addDays(i)),
                                     i == 1 ? QVariant(1234567.0) : QVariant(i + 0.5)});
        db.connection().commitTrans();

        recordset.open(QStringLiteral("SELECT * FROM 医薬品情報 ORDER BY ID"), &db.connection());
        view.resize(500, 300);
    }

    void TearDown() override { setPlatform(nullptr); }

    QString storedName(int id)
    {
        jet::Recordset check;
        check.open(QStringLiteral("SELECT 医薬品名 FROM 医薬品情報 WHERE ID = %1").arg(id), &db.connection());
        return check.eof() ? QStringLiteral("<none>") : check.value(0).toString();
    }

    int storedCount()
    {
        jet::Recordset check;
        check.open(QStringLiteral("SELECT COUNT(*) FROM 医薬品情報"), &db.connection());
        return check.value(0).toInt();
    }

    void clickRow(int row, int column = 1)
    {
        view.scrollTo(view.model()->index(row, column));
        const QRect cell = view.visualRect(view.model()->index(row, column));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    }

    // Opens the editor of the current cell of an editable grid.
    QLineEdit *editCurrentCell()
    {
        view.edit(view.currentIndex());
        return qobject_cast<QLineEdit *>(QApplication::focusWidget());
    }

    // Types into the current cell and confirms with Enter.
    void typeIntoCurrentCell(const QString &text)
    {
        QLineEdit *editor = editCurrentCell();
        ASSERT_NE(editor, nullptr);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The view commits an editor confirmed with Enter from its event queue.
        QApplication::processEvents();
    }

    TempDatabase db;
    jet::Recordset recordset;
    QTableView view;
    ScriptedPlatform *m_platform = nullptr;
};

TEST_F(DataGridTest, ViewReadsOnlyTheRowsItShows)
{
    QTableView plain;
    plain.resize(500, 300);
    plain.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    CountingModel model;
    model.setRecordset(&recordset);
    plain.setModel(&model);
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    EXPECT_EQ(model.rowCount(), kRows);
    EXPECT_FALSE(model.rowsRead.isEmpty());
    EXPECT_LT(*std::max_element(model.rowsRead.begin(), model.rowsRead.end()), 40);

    model.rowsRead.clear();
    plain.verticalScrollBar()->setValue(plain.verticalScrollBar()->maximum());
    QApplication::processEvents();
    plain.viewport()->repaint();
    ASSERT_FALSE(model.rowsRead.isEmpty());
    EXPECT_GT(*std::min_element(model.rowsRead.begin(), model.rowsRead.end()), kRows - 40);
    EXPECT_EQ(*std::max_element(model.rowsRead.begin(), model.rowsRead.end()), kRows - 1);
}

TEST_F(DataGridTest, CellsShowDatesNullsAndNumbers)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    auto text = [&](int row, int col) { return view.model()->index(row, col).data().toString(); };
    EXPECT_EQ(text(0, 0), QStringLiteral("1"));
    EXPECT_EQ(text(0, 1), QStringLiteral("薬1"));
    EXPECT_EQ(text(0, 2), QStringLiteral("2003/04/02"));
    EXPECT_EQ(text(0, 3), QStringLiteral("1234567"));
    EXPECT_EQ(text(1, 2), QString());
    EXPECT_EQ(text(1, 3), QStringLiteral("2.5"));
    EXPECT_EQ(grid.value(1, QStringLiteral("医薬品名")).toString(), QStringLiteral("薬2"));
    EXPECT_EQ(errorOf([&] { grid.value(0, QStringLiteral("無い列")); }), jet::err::ItemNotFound);
}

TEST_F(DataGridTest, ColumnsTakeCaptionsWidthsAlignmentAndHiding)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    QAbstractItemModel *model = view.model();
    ASSERT_EQ(model->columnCount(), 4);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("医薬品名"));
    EXPECT_TRUE(model->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    EXPECT_TRUE(model->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);

    grid.setColumns({{QStringLiteral("番号"), QStringLiteral("ID"), 600, Qt::AlignLeft, true},
                     {QStringLiteral("名前"), QStringLiteral("医薬品名"), 2400, Qt::AlignCenter, false},
                     {QStringLiteral("量"), QStringLiteral("数量"), 900, Qt::AlignRight, false}});
    ASSERT_EQ(model->columnCount(), 3);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("名前"));
    EXPECT_TRUE(view.isColumnHidden(0));
    EXPECT_FALSE(view.isColumnHidden(1));
    EXPECT_EQ(view.columnWidth(1), twipsToPixels(2400, &view));
    EXPECT_GE(view.columnWidth(2), twipsToPixels(900, &view));
    EXPECT_EQ(view.columnWidth(1) + view.columnWidth(2), view.viewport()->width()) << "the last column fills the grid";
    EXPECT_TRUE(model->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHCenter);
    EXPECT_EQ(model->index(0, 2).data().toString(), QStringLiteral("1234567"));

    // The columns survive a requery of the recordset.
    recordset.requery();
    EXPECT_EQ(model->columnCount(), 3);
    EXPECT_TRUE(view.isColumnHidden(0));

    EXPECT_EQ(errorOf([&] { grid.setColumns({{QStringLiteral("x"), QStringLiteral("無い列")}}); }),
              jet::err::BindingColumnMissing);
}

TEST_F(DataGridTest, CaptionStandsAboveTheTable)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *table = new QTableView;
    table->setObjectName(QStringLiteral("DataGrid1"));
    layout->addWidget(table);
    DataGrid grid(table);
    grid.setCaption(QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_NE(grid.captionLabel(), nullptr);
    EXPECT_EQ(grid.caption(), QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    EXPECT_TRUE(grid.captionLabel()->isVisible());
    EXPECT_TRUE(table->isVisible());
    EXPECT_LT(grid.captionLabel()->mapTo(&window, QPoint()).y(), table->mapTo(&window, QPoint()).y());
    EXPECT_TRUE(window.isAncestorOf(table));

    grid.setCaption(QString());
    EXPECT_FALSE(grid.captionLabel()->isVisible());

    // A table placed without a layout keeps its place, the caption taking its top.
    auto *placed = new QTableView(&window);
    placed->setGeometry(10, 200, 300, 80);
    placed->show();
    DataGrid second(placed);
    second.setCaption(QStringLiteral("一覧"));
    QApplication::processEvents();
    EXPECT_TRUE(placed->isVisible());
    EXPECT_TRUE(second.captionLabel()->isVisible());
    EXPECT_EQ(second.captionLabel()->mapTo(&window, QPoint()), QPoint(10, 200));
    EXPECT_EQ(placed->mapTo(&window, QPoint(0, placed->height())).y(), 280);
}

TEST_F(DataGridTest, CurrentRowFollowsAndMovesTheRecordset)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(grid.currentRow(), 0);

    QSignalSpy clicks(&grid, &DataGrid::clicked);
    QSignalSpy rows(&grid, &DataGrid::currentRowChanged);
    clickRow(3);
    EXPECT_EQ(recordset.currentRow(), 3);
    EXPECT_EQ(grid.currentRow(), 3);
    EXPECT_EQ(clicks.count(), 1);
    ASSERT_EQ(rows.count(), 1);
    EXPECT_EQ(rows.at(0).at(0).toInt(), 3);

    recordset.moveTo(2500);
    EXPECT_EQ(grid.currentRow(), 2500);
    EXPECT_EQ(view.currentIndex().row(), 2500);
    EXPECT_TRUE(view.selectionModel()->isRowSelected(2500, {}));

    QSignalSpy doubles(&grid, &DataGrid::doubleClicked);
    const QRect cell = view.visualRect(view.model()->index(2500, 1));
    // A double click is a click first, as the desktop delivers it.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(recordset.value(QStringLiteral("医薬品名")).toString(), QStringLiteral("薬2501"));

    // The keyboard chooses and opens a row as the mouse does.
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(clicks.count(), 3);
    EXPECT_EQ(grid.currentRow(), 2501);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(doubles.count(), 2);

    // After a deletion the cursor stands on the row that followed.
    clickRow(5);
    recordset.deleteCurrent();
    EXPECT_EQ(recordset.value(QStringLiteral("医薬品名")).toString(), QStringLiteral("薬7"));
    EXPECT_EQ(grid.currentRow(), 5);
    EXPECT_EQ(view.currentIndex().row(), 5);

    // A filter leaves fewer rows; the grid shows the recordset's new first row.
    recordset.setFilter(QStringLiteral("ID > 2990"));
    EXPECT_EQ(view.model()->rowCount(), 10);
    EXPECT_EQ(grid.currentRow(), 0);
    EXPECT_EQ(view.model()->index(0, 1).data().toString(), QStringLiteral("薬2991"));
}

TEST_F(DataGridTest, ReadOnlyUnlessMadeEditable)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    clickRow(1);
    QTest::keyClicks(&view, QStringLiteral("x"));
    EXPECT_EQ(editCurrentCell(), nullptr);
    EXPECT_FALSE(view.model()->flags(view.model()->index(1, 1)) & Qt::ItemIsEditable);
    EXPECT_EQ(recordset.editMode(), jet::EditMode::None);
}

TEST_F(DataGridTest, EditedRowIsWrittenWhenTheUserLeavesIt)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    grid.setEditable(true);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    clickRow(4);
    typeIntoCurrentCell(QStringLiteral("新しい薬"));
    EXPECT_EQ(view.model()->index(4, 1).data().toString(), QStringLiteral("新しい薬"));
    EXPECT_EQ(recordset.editMode(), jet::EditMode::InProgress);
    EXPECT_EQ(storedName(5), QStringLiteral("薬5"));

    clickRow(7);
    EXPECT_EQ(recordset.editMode(), jet::EditMode::None);
    EXPECT_EQ(storedName(5), QStringLiteral("新しい薬"));
    EXPECT_EQ(recordset.currentRow(), 7);
    EXPECT_EQ(storedCount(), kRows);
}

TEST_F(DataGridTest, CellStillBeingEditedIsHandedOverWhenTheRecordsetMoves)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    grid.setEditable(true);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    clickRow(2);
    QPointer<QLineEdit> editor = editCurrentCell();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("途中の薬"));

    recordset.moveTo(10);
    EXPECT_EQ(storedName(3), QStringLiteral("途中の薬"));
    EXPECT_EQ(grid.currentRow(), 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(editor.isNull());
    // The closed editor does not pull the recordset back to its row.
    EXPECT_EQ(recordset.currentRow(), 10);
    EXPECT_EQ(recordset.editMode(), jet::EditMode::None);
}

TEST_F(DataGridTest, NewRowLineAddsOneRowWhenLeft)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    grid.setEditable(true);
    grid.setAllowAddNew(true);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QAbstractItemModel *model = view.model();
    ASSERT_EQ(model->rowCount(), kRows + 1);
    EXPECT_EQ(model->headerData(kRows, Qt::Vertical).toString(), QStringLiteral("*"));
    EXPECT_EQ(model->index(kRows, 1).data().toString(), QString());

    clickRow(kRows);
    EXPECT_TRUE(grid.isOnNewRow());
    EXPECT_TRUE(recordset.eof());
    EXPECT_EQ(recordset.editMode(), jet::EditMode::None);

    typeIntoCurrentCell(QStringLiteral("追加薬"));
    EXPECT_EQ(recordset.editMode(), jet::EditMode::Add);
    EXPECT_EQ(model->rowCount(), kRows + 1);
    EXPECT_EQ(model->index(kRows, 1).data().toString(), QStringLiteral("追加薬"));
    view.setCurrentIndex(model->index(kRows, 3));
    typeIntoCurrentCell(QStringLiteral("3"));
    EXPECT_EQ(storedCount(), kRows);

    clickRow(5);
    EXPECT_EQ(storedCount(), kRows + 1);
    EXPECT_EQ(storedName(kRows + 1), QStringLiteral("追加薬"));
    EXPECT_EQ(model->rowCount(), kRows + 2);
    EXPECT_EQ(model->index(kRows, 1).data().toString(), QStringLiteral("追加薬"));
    EXPECT_EQ(model->index(kRows, 3).data().toString(), QStringLiteral("3"));
    EXPECT_EQ(model->index(kRows + 1, 1).data().toString(), QString());
    EXPECT_EQ(grid.currentRow(), 5);
    EXPECT_EQ(recordset.currentRow(), 5);
    EXPECT_FALSE(grid.isOnNewRow());

    // Visiting the line without typing adds nothing.
    clickRow(kRows + 1);
    clickRow(0);
    EXPECT_EQ(storedCount(), kRows + 1);

    // Enter then Down stores each entry of a list typed one under another.
    clickRow(kRows + 1);
    for (const QString &name : {QStringLiteral("くすりＡ"), QStringLiteral("くすりＢ")}) {
        typeIntoCurrentCell(name);
        QTest::keyClick(&view, Qt::Key_Down);
    }
    EXPECT_EQ(storedName(kRows + 2), QStringLiteral("くすりＡ"));
    EXPECT_EQ(storedName(kRows + 3), QStringLiteral("くすりＢ"));
}

TEST_F(DataGridTest, ImpossibleDateIsRefusedAndReported)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    grid.setEditable(true);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    QList<qint32> errors;
    grid.model()->setErrorHandler([&](const jet::Error &e) { errors.append(e.number()); });
    clickRow(0, 2);
    typeIntoCurrentCell(QStringLiteral("2003/02/30"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.at(0), jet::err::UpdateCancelled);
    EXPECT_EQ(recordset.editMode(), jet::EditMode::None);

    // Without a handler of its own the grid says so in a box.
    grid.model()->setErrorHandler(nullptr);
    clickRow(1, 2);
    typeIntoCurrentCell(QStringLiteral("あした"));
    ASSERT_EQ(m_platform->boxes().size(), 1);
    EXPECT_EQ(m_platform->boxes().at(0).request.icon, MessageIcon::Exclamation);
    EXPECT_FALSE(m_platform->boxes().at(0).request.text.isEmpty());

    clickRow(0, 2);
    typeIntoCurrentCell(QStringLiteral("2003/5/6"));
    clickRow(3);
    jet::Recordset check;
    check.open(QStringLiteral("SELECT 登録日 FROM 医薬品情報 WHERE ID = 1"), &db.connection());
    EXPECT_EQ(check.value(0).toDate(), QDate(2003, 5, 6));
}

TEST_F(DataGridTest, UnboundGridIsEmpty)
{
    DataGrid grid(&view);
    grid.setRecordset(&recordset);
    grid.setRecordset(nullptr);
    EXPECT_EQ(view.model()->rowCount(), 0);
    EXPECT_EQ(grid.currentRow(), -1);
    recordset.moveTo(5);
    EXPECT_EQ(grid.currentRow(), -1);
}

} // namespace
