#include "db/engine/clock.h"
#include "db/engine/error.h"
#include "toolkit/binding.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QGroupBox>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace toolkit;

namespace {

TEST(FrameClick, FiresOnTheFrameAndThroughDisabledControls)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *outer = new QGroupBox(QStringLiteral("初期データ表示の「-」を絶対に削除したり移動しないで下さい！"));
    layout->addWidget(outer);
    auto *inner = new QGroupBox(QStringLiteral("内側"));
    auto *grid = new QTableView;
    auto *button = new QPushButton(QStringLiteral("削除(&D)"));
    auto *outerLayout = new QVBoxLayout(outer);
    outerLayout->addWidget(grid);
    outerLayout->addWidget(button);
    outerLayout->addWidget(inner);
    auto *note = new QLabel(QStringLiteral("追加するときは、最下段に１つずつ追加してください。"));
    (new QVBoxLayout(inner))->addWidget(note);
    window.resize(400, 500);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    int outerClicks = 0;
    int innerClicks = 0;
    onFrameClicked(outer, [&] { ++outerClicks; });
    onFrameClicked(inner, [&] { ++innerClicks; });

    QTest::mouseClick(outer, Qt::LeftButton, {}, QPoint(outer->width() / 2, outer->height() - 3));
    EXPECT_EQ(outerClicks, 1);
    QTest::mouseClick(outer, Qt::RightButton, {}, QPoint(outer->width() / 2, outer->height() - 3));
    EXPECT_EQ(outerClicks, 1);

    // A disabled grid lets the click through to its frame; an enabled one keeps it.
    grid->setEnabled(false);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->viewport()->rect().center());
    EXPECT_EQ(outerClicks, 2);
    grid->setEnabled(true);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->viewport()->rect().center());
    EXPECT_EQ(outerClicks, 2);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(outerClicks, 2);

    // A frame inside a frame is the only one clicked.
    QTest::mouseClick(note, Qt::LeftButton);
    EXPECT_EQ(innerClicks, 1);
    EXPECT_EQ(outerClicks, 2);

    // A later handler replaces the earlier one.
    int replaced = 0;
    onFrameClicked(outer, [&] { ++replaced; });
    QTest::mouseClick(outer, Qt::LeftButton, {}, QPoint(outer->width() / 2, outer->height() - 3));
    EXPECT_EQ(outerClicks, 2);
    EXPECT_EQ(replaced, 1);
}

TEST(FrameClick, FailingHandlerEndsTheProgramWithTheStandardReport)
{
    auto scripted = std::make_unique<ScriptedPlatform>();
    ScriptedPlatform *services = scripted.get();
    setPlatform(std::move(scripted));
    QList<int> statuses;
    setExitHandler([&](int status) { statuses << status; });

    QGroupBox frame(QStringLiteral("枠"));
    frame.resize(200, 100);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    onFrameClicked(&frame, [] { throw jet::Error(jet::err::NoCurrentRecord, QStringLiteral("現在のレコードがありません。")); });
    QTest::mouseClick(&frame, Qt::LeftButton, {}, QPoint(100, 60));
    ASSERT_EQ(services->boxes().size(), 1);
    EXPECT_TRUE(services->boxes().at(0).request.text.contains(QStringLiteral("現在のレコードがありません。")));
    EXPECT_TRUE(programHasEnded());
    EXPECT_EQ(statuses.size(), 1);
    EXPECT_NE(statuses.value(0), 0);

    resetProgramState();
    setExitHandler({});
    setPlatform(nullptr);
}

class StatusPanelsTest : public ::testing::Test
{
protected:
    void SetUp() override { jet::Clock::setFixed(QDateTime(QDate(2003, 4, 1), QTime(9, 5, 30))); }
    void TearDown() override { jet::Clock::setSystem(); }
};

TEST_F(StatusPanelsTest, TextTimeAndDatePanels)
{
    QStatusBar bar;
    bar.setObjectName(QStringLiteral("StatusBar1"));
    StatusPanels panels(&bar, {StatusPanels::Kind::Text, StatusPanels::Kind::Time, StatusPanels::Kind::Date});
    ASSERT_EQ(panels.count(), 3);
    EXPECT_EQ(panels.text(0), QString());
    EXPECT_EQ(panels.text(1), QStringLiteral("9:05"));
    EXPECT_EQ(panels.text(2), QStringLiteral("2003/04/01"));

    panels.setText(0, QStringLiteral("例：2003/4/1"));
    panels.setText(1, QStringLiteral("上書き"));
    EXPECT_EQ(panels.text(0), QStringLiteral("例：2003/4/1"));
    EXPECT_EQ(panels.text(1), QStringLiteral("9:05"));

    bar.resize(600, 24);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    EXPECT_LT(panels.panel(0)->x(), panels.panel(1)->x());
    EXPECT_LT(panels.panel(1)->x(), panels.panel(2)->x());
    EXPECT_GT(panels.panel(0)->width(), panels.panel(2)->width());

    // The panels keep the clock by themselves.
    jet::Clock::setFixed(QDateTime(QDate(2003, 4, 2), QTime(13, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return panels.text(1) == QStringLiteral("13:00"); }, 2500));
    EXPECT_EQ(panels.text(2), QStringLiteral("2003/04/02"));
    EXPECT_EQ(panels.text(0), QStringLiteral("例：2003/4/1"));
}

TEST(StandardTexts, QtsOwnTextsAreJapanese)
{
    ASSERT_TRUE(useJapaneseTexts(*qApp)) << "Qt's Japanese translation is installed";
    QLineEdit box;
    const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    EXPECT_TRUE(menu->actions().first()->text().startsWith(QStringLiteral("元に戻す")));
}

} // namespace
