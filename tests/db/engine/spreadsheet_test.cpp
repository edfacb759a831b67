#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/spreadsheet.h"
#include "support/errors.h"
#include "support/tempdb.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using testing_support::errorOf;

TEST(SpreadsheetTest, TheWorkbookIsNamedAfterItsFormat)
{
    EXPECT_EQ(jet::excelWorkbookPath(QStringLiteral("Excel 8.0;Database=C:\\ネモリア入院中.xls")),
              QStringLiteral("C:\\ネモリア入院中.xlsx"));
    EXPECT_EQ(jet::excelWorkbookPath(QStringLiteral("excel 8.0; DATABASE=/tmp/a.xlsx")), QStringLiteral("/tmp/a.xlsx"));
    EXPECT_EQ(errorOf([] { jet::excelWorkbookPath(QStringLiteral("Text;Database=C:\\a.txt")); }), jet::err::NotSupported);
}

TEST(SpreadsheetTest, AFailedWriteLeavesTheEarlierFileAndNothingElse)
{
    testing_support::TempDatabase db;
    jet::Catalog catalog;
    catalog.setActiveConnection(&db.connection());
    jet::TableDef table;
    table.name = QStringLiteral("表");
    jet::ColumnDef name;
    name.name = QStringLiteral("名前");
    name.definedSize = 50;
    table.columns = {name};
    catalog.createTable(table);
    db.connection().execute(QStringLiteral("INSERT INTO 表 (名前) VALUES ('a')"));
    const QString path = QDir(db.folder()).filePath(QStringLiteral("book.xlsx"));
    QFile earlier(path);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();

    jet::Recordset rows;
    rows.open(QStringLiteral("SELECT 名前 FROM 表"), &db.connection());
    // A sheet name the format refuses fails after the partial file was begun.
    EXPECT_EQ(errorOf([&] { jet::writeExcelSheet(path, QStringLiteral("a[b]"), rows); }), jet::err::GeneralFailure);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), QByteArray("earlier"));
    EXPECT_EQ(QDir(db.folder()).entryList({QStringLiteral("*book*")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("book.xlsx")});

    rows.requery();
    EXPECT_EQ(jet::writeExcelSheet(path, QStringLiteral("表"), rows), 1);
    EXPECT_TRUE(QFile(path).size() > 100);
}
