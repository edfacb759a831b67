#include "report/engine.h"
#include "report/preview.h"
#include "support/scripted.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QList<report::Page> threePages()
{
    report::Layout layout;
    layout.detail.height = 6000;
    layout.detail.items = {report::Layout::label(u"Label1"_s, QRect(0, 0, 9000, 400), u"処置伝票"_s)};
    class Rows : public report::Rows
    {
    public:
        int count() const override { return 5; } // two bands a page
        QVariant value(int, const QString &) const override { return {}; }
    };
    return report::layOut(layout, Rows(), QDateTime(QDate(2003, 4, 1), QTime(9, 0)));
}

TEST(ReportPreview, PagesZoomPrintSaveAndTheEndOfTheDocument)
{
    testing_support::ScriptedProgram program;
    QTemporaryDir dir;
    const QList<report::Page> pages = threePages();
    ASSERT_EQ(pages.size(), 3);
    report::Preview preview(pages, u"A病院　精神科　処置伝票"_s);
    QSignalSpy ended(&preview, &report::Preview::ended);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    EXPECT_EQ(preview.windowTitle(), u"A病院　精神科　処置伝票"_s);
    EXPECT_EQ(preview.findChild<QLabel *>(u"lblPage"_s)->text(), u"1 / 3"_s);

    preview.findChild<QPushButton *>(u"cmdNext"_s)->click();
    preview.findChild<QPushButton *>(u"cmdNext"_s)->click();
    preview.findChild<QPushButton *>(u"cmdNext"_s)->click();
    EXPECT_EQ(preview.currentPage(), 2) << "stops at the last page";
    preview.findChild<QComboBox *>(u"cboZoom"_s)->setCurrentIndex(1);
    EXPECT_EQ(preview.zoom(), report::Preview::Zoom::FitPage);

    EXPECT_FALSE(preview.print()) << "the print dialog cancelled";
    const QString printed = QDir(dir.path()).filePath(u"printed.pdf"_s);
    program.services->setPrintFile(printed);
    EXPECT_TRUE(preview.print());
    EXPECT_EQ(program.services->printDialogs(), 2);
    EXPECT_GT(QFileInfo(printed).size(), 0);
    EXPECT_FALSE(QFile::permissions(printed) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));

    const QString saved = QDir(dir.path()).filePath(u"saved"_s);
    program.services->setSaveFile(saved);
    EXPECT_TRUE(preview.saveAsPdf());
    EXPECT_TRUE(QFileInfo::exists(saved + u".pdf"_s));
    EXPECT_FALSE(QFile::permissions(saved + u".pdf"_s) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));

    preview.findChild<QPushButton *>(u"cmdClose"_s)->click();
    EXPECT_FALSE(preview.isVisible());
    EXPECT_EQ(ended.count(), 1);
}

// Fitted to a window of ordinary size, a landscape page's width and a whole
// page are smaller than a portrait page fitted to its width.
TEST(ReportPreview, ALandscapePageFitsTheWidthAndTheWholePageFitsTheWindow)
{
    testing_support::ScriptedProgram program;
    report::Layout layout;
    layout.orientation = QPageLayout::Landscape;
    layout.detail.height = 400;
    layout.detail.items = {report::Layout::label(u"Label1"_s, QRect(0, 0, 13000, 400), u"処置伝票"_s)};
    class Rows : public report::Rows
    {
    public:
        int count() const override { return 1; }
        QVariant value(int, const QString &) const override { return {}; }
    };
    const QList<report::Page> pages = report::layOut(layout, Rows(), QDateTime(QDate(2003, 4, 1), QTime(9, 0)));
    report::Preview preview(pages, u"x"_s);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    auto *scroll = preview.findChild<QScrollArea *>();
    EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());
    preview.setZoom(report::Preview::Zoom::FitPage);
    EXPECT_LE(scroll->widget()->height(), scroll->viewport()->height());
}

} // namespace
