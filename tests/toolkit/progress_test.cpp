#include "toolkit/progress.h"

#include <gtest/gtest.h>

TEST(ProgressWindowTest, AppearsAfterItsDelayWithTheStepsDoneAndStaysUntilDestroyed)
{
    toolkit::ProgressWindow late(QStringLiteral("エクスポートしています。"), 60000);
    late.setProgress(1, 10);
    EXPECT_FALSE(late.isVisible());

    toolkit::ProgressWindow window(QStringLiteral("エクスポートしています。"), 0);
    window.setProgress(3, 10);
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(window.progressText(), QStringLiteral("3 / 10 行"));
    window.setProgress(10, 10);
    EXPECT_EQ(window.progressText(), QStringLiteral("10 / 10 行")) << "the last step shows however soon it comes";

    window.close();
    static_cast<QDialog &>(window).reject();
    EXPECT_TRUE(window.isVisible());
}
