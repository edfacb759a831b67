#include "toolkit/errortrap.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include "db/engine/clock.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace toolkit;

namespace {

MessageBoxRequest question(MessageButtons buttons, int defaultButton)
{
    MessageBoxRequest box;
    box.text = QStringLiteral("削除しますか？");
    box.icon = MessageIcon::Question;
    box.buttons = buttons;
    box.defaultButton = defaultButton;
    return box;
}

TEST(ScriptedPlatformTest, UnqueuedBoxesTakeTheirDefaultButton)
{
    ScriptedPlatform services;
    EXPECT_EQ(services.messageBox(question(MessageButtons::YesNo, 2)), MessageResult::No);
    EXPECT_EQ(services.messageBox(question(MessageButtons::YesNoCancel, 3)), MessageResult::Cancel);
    EXPECT_EQ(services.messageBox(question(MessageButtons::AbortRetryIgnore, 2)), MessageResult::Retry);
    EXPECT_EQ(services.messageBox(question(MessageButtons::OkCancel, 1)), MessageResult::Ok);
    EXPECT_EQ(services.messageBox(question(MessageButtons::RetryCancel, 3)), MessageResult::Retry);
    EXPECT_EQ(services.messageBox(MessageBoxRequest{QStringLiteral("完了")}), MessageResult::Ok);
}

TEST(ScriptedPlatformTest, QueuedAnswersAreTakenInOrderAndEveryBoxIsRecorded)
{
    ScriptedPlatform services;
    services.answerBox(MessageResult::Yes);
    services.answerBox(MessageResult::No);
    EXPECT_EQ(services.pendingAnswers(), 2);
    EXPECT_EQ(services.messageBox(question(MessageButtons::YesNo, 2)), MessageResult::Yes);
    MessageBoxRequest titled = question(MessageButtons::YesNoCancel, 1);
    titled.title = QStringLiteral("削除");
    EXPECT_EQ(services.messageBox(titled), MessageResult::No);
    EXPECT_EQ(services.messageBox(titled), MessageResult::Yes);
    EXPECT_EQ(services.pendingAnswers(), 0);

    ASSERT_EQ(services.boxes().size(), 3);
    const ScriptedPlatform::Box &second = services.boxes().at(1);
    EXPECT_EQ(second.request.text, QStringLiteral("削除しますか？"));
    EXPECT_EQ(second.request.title, QStringLiteral("削除"));
    EXPECT_EQ(second.request.icon, MessageIcon::Question);
    EXPECT_EQ(second.request.buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(second.answer, MessageResult::No);
    EXPECT_EQ(services.boxes().first().request.title, QStringLiteral("ネモリア"));
}

TEST(ScriptedPlatformTest, InputsAnswerOkWithTextOrCancelWithNothing)
{
    ScriptedPlatform services;
    services.answerInput(QStringLiteral("山田"));
    services.cancelInput();
    EXPECT_EQ(services.inputBox(QStringLiteral("氏名"), QStringLiteral("検索"), QStringLiteral("既定")), QStringLiteral("山田"));
    EXPECT_EQ(services.inputBox(QStringLiteral("氏名"), QStringLiteral("検索"), QStringLiteral("既定")), QString());
    EXPECT_EQ(services.inputBox(QStringLiteral("番号"), QStringLiteral("検索"), QStringLiteral("12")), QStringLiteral("12"));

    ASSERT_EQ(services.inputs().size(), 3);
    EXPECT_FALSE(services.inputs().at(0).cancelled);
    EXPECT_TRUE(services.inputs().at(1).cancelled);
    EXPECT_EQ(services.inputs().at(1).defaultText, QStringLiteral("既定"));
    EXPECT_EQ(services.inputs().at(2).prompt, QStringLiteral("番号"));
    EXPECT_EQ(services.inputs().at(2).answer, QStringLiteral("12"));
}

TEST(ScriptedPlatformTest, RecordsBeepsDocumentsAndServesFoldersAndTheClock)
{
    ScriptedPlatform services;
    services.beep();
    services.beep();
    EXPECT_EQ(services.beeps(), 2);

    EXPECT_TRUE(services.openDocument(QStringLiteral("/opt/norva/Index.chm")));
    services.setOpenDocumentResult(false);
    EXPECT_FALSE(services.openDocument(QStringLiteral("/opt/norva/manual.html")));
    EXPECT_EQ(services.openedDocuments(), (QStringList{"/opt/norva/Index.chm", "/opt/norva/manual.html"}));

    EXPECT_NE(services.homeFolder(), QDir::homePath());
    services.setProgramFolder(QStringLiteral("/opt/norva"));
    services.setHomeFolder(QStringLiteral("/tmp/c"));
    EXPECT_EQ(services.programFolder(), QStringLiteral("/opt/norva"));
    EXPECT_EQ(services.homeFolder(), QStringLiteral("/tmp/c"));

    const QDateTime moment(QDate(2001, 4, 1), QTime(9, 30));
    jet::Clock::setFixed(moment);
    EXPECT_EQ(services.now(), moment);
    jet::Clock::setSystem();
}

TEST(PlatformTest, InstalledServicesAreUsedUntilReset)
{
    auto scripted = std::make_unique<ScriptedPlatform>();
    ScriptedPlatform *installed = scripted.get();
    setPlatform(std::move(scripted));
    EXPECT_EQ(&platform(), installed);
    setPlatform(nullptr);
    EXPECT_NE(dynamic_cast<DesktopPlatform *>(&platform()), nullptr);
}

// The desktop box, driven as a user would: its captions, its default, its answer.
TEST(DesktopPlatformTest, MessageBoxShowsJapaneseButtonsAndHonoursTheDefault)
{
    QStringList captions;
    QString defaultCaption;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, qApp, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton *button : box->buttons())
            captions << button->text();
        defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
        title = box->windowTitle();
        icon = box->icon();
        QTest::keyClick(box, Qt::Key_Return);
    });
    DesktopPlatform desktop;
    EXPECT_EQ(desktop.messageBox(question(MessageButtons::YesNoCancel, 2)), MessageResult::No);
    captions.sort();
    QStringList expected{"はい(&Y)", "いいえ(&N)", "キャンセル"};
    expected.sort();
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(defaultCaption, QStringLiteral("いいえ(&N)"));
    EXPECT_EQ(title, QStringLiteral("ネモリア"));
    EXPECT_EQ(icon, QMessageBox::Question);

    QTimer::singleShot(0, qApp, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    EXPECT_EQ(desktop.messageBox(question(MessageButtons::OkCancel, 1)), MessageResult::Cancel);
}

TEST(DesktopPlatformTest, ACarriageReturnBreaksTheLine)
{
    QString shown;
    QTimer::singleShot(0, qApp, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    MessageBoxRequest request;
    request.text = QStringLiteral("一行目。\r二行目。\r\n三行目。");
    DesktopPlatform().messageBox(request);
    EXPECT_EQ(shown, QStringLiteral("一行目。\n二行目。\n三行目。"));
}

TEST(DesktopPlatformTest, InputBoxReturnsTheTextOnOkAndNothingOnCancel)
{
    DesktopPlatform desktop;
    QString shownDefault;
    QTimer::singleShot(0, qApp, [&] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownDefault = dialog->textValue();
        dialog->setTextValue(QStringLiteral("佐藤"));
        dialog->accept();
    });
    EXPECT_EQ(desktop.inputBox(QStringLiteral("氏名"), QStringLiteral("検索"), QStringLiteral("既定")), QStringLiteral("佐藤"));
    EXPECT_EQ(shownDefault, QStringLiteral("既定"));

    QTimer::singleShot(0, qApp, [] { qobject_cast<QDialog *>(QApplication::activeModalWidget())->reject(); });
    EXPECT_EQ(desktop.inputBox(QStringLiteral("氏名"), QStringLiteral("検索"), QStringLiteral("既定")), QString());
    EXPECT_FALSE(desktop.openDocument(QStringLiteral("/nonexistent/Index.chm")));
}

TEST(DesktopPlatformTest, BoxWhoseLoopRanAnEndingHandlerStopsItsAsker)
{
    toolkit::resetProgramState();
    setExitHandler([](int) {});
    QTimer::singleShot(0, qApp, [] {
        trap([] { endProgram(1); });
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    DesktopPlatform desktop;
    EXPECT_THROW(desktop.messageBox(question(MessageButtons::YesNo, 1)), ProgramEnded);
    resetProgramState();
    setExitHandler({});
}

TEST(DesktopPlatformTest, ADocumentNoApplicationCanOpenIsReportedAsNotOpened)
{
    QTemporaryDir dir;
    const QString document = dir.filePath(QStringLiteral("index.html"));
    QFile(document).open(QIODevice::WriteOnly);
    const QString opener = dir.filePath(QStringLiteral("xdg-open"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ':' + path);
    DesktopPlatform desktop;
    for (const auto &[script, opened] : {std::pair{"#!/bin/sh\nexit 3\n", false}, {"#!/bin/sh\nexit 0\n", true}}) {
        QFile file(opener);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(script);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(desktop.openDocument(document), opened) << script;
    }
    qputenv("PATH", path);
}

} // namespace
