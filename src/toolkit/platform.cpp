#include "toolkit/platform.h"

#include "db/engine/clock.h"
#include "toolkit/form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace toolkit {

namespace {

std::unique_ptr<PlatformServices> &installed()
{
    static std::unique_ptr<PlatformServices> services;
    return services;
}

QMessageBox::Icon qtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// Qt's own Japanese button texts need a translation file that a plain install
// lacks; these are the captions the Japanese desktop shows.
struct ButtonText {
    MessageResult result;
    QMessageBox::ButtonRole role;
    const char *text;
};

ButtonText buttonText(MessageResult result)
{
    switch (result) {
    case MessageResult::Ok:
        return {result, QMessageBox::AcceptRole, "OK"};
    case MessageResult::Cancel:
        return {result, QMessageBox::RejectRole, "キャンセル"};
    case MessageResult::Abort:
        return {result, QMessageBox::RejectRole, "中止(&A)"};
    case MessageResult::Retry:
        return {result, QMessageBox::AcceptRole, "再試行(&R)"};
    case MessageResult::Ignore:
        return {result, QMessageBox::AcceptRole, "無視(&I)"};
    case MessageResult::Yes:
        return {result, QMessageBox::YesRole, "はい(&Y)"};
    case MessageResult::No:
        return {result, QMessageBox::NoRole, "いいえ(&N)"};
    }
    return {MessageResult::Ok, QMessageBox::AcceptRole, "OK"};
}

// A box's own event loop runs other handlers; when one of them ended the
// program the box's answer means nothing and its asker must stop.
void throwIfEnded()
{
    if (programHasEnded())
        throw ProgramEnded{};
}

} // namespace

QList<MessageResult> buttonsOf(MessageButtons buttons)
{
    using R = MessageResult;
    switch (buttons) {
    case MessageButtons::Ok:
        return {R::Ok};
    case MessageButtons::OkCancel:
        return {R::Ok, R::Cancel};
    case MessageButtons::AbortRetryIgnore:
        return {R::Abort, R::Retry, R::Ignore};
    case MessageButtons::YesNoCancel:
        return {R::Yes, R::No, R::Cancel};
    case MessageButtons::YesNo:
        return {R::Yes, R::No};
    case MessageButtons::RetryCancel:
        return {R::Retry, R::Cancel};
    }
    return {R::Ok};
}

MessageResult defaultAnswer(const MessageBoxRequest &box)
{
    const QList<MessageResult> buttons = buttonsOf(box.buttons);
    const int index = box.defaultButton - 1;
    return index >= 0 && index < buttons.size() ? buttons.at(index) : buttons.first();
}

QDateTime PlatformServices::now() const
{
    return jet::Clock::now();
}

PlatformServices &platform()
{
    std::unique_ptr<PlatformServices> &services = installed();
    if (!services)
        services = std::make_unique<DesktopPlatform>();
    return *services;
}

void setPlatform(std::unique_ptr<PlatformServices> services)
{
    installed() = std::move(services);
}

MessageResult DesktopPlatform::messageBox(const MessageBoxRequest &box)
{
    // The program's texts break lines with a carriage return, as the boxes of
    // Windows do; Qt breaks them at a line feed only.
    QString text = box.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox dialog(qtIcon(box.icon), box.title, text, QMessageBox::NoButton, QApplication::activeWindow());
    dialog.setWindowModality(Qt::ApplicationModal);
    const QList<MessageResult> results = buttonsOf(box.buttons);
    QList<QAbstractButton *> buttons;
    for (MessageResult result : results) {
        const ButtonText text = buttonText(result);
        buttons.append(dialog.addButton(box.buttonTexts.value(int(buttons.size()), QString::fromUtf8(text.text)), text.role));
    }
    const MessageResult preferred = defaultAnswer(box);
    dialog.setDefaultButton(static_cast<QPushButton *>(buttons.at(results.indexOf(preferred))));
    const int cancel = results.indexOf(MessageResult::Cancel);
    if (cancel >= 0)
        dialog.setEscapeButton(buttons.at(cancel));
    else if (results.size() == 1)
        dialog.setEscapeButton(buttons.first());
    dialog.exec();
    throwIfEnded();
    const int clicked = buttons.indexOf(dialog.clickedButton());
    if (clicked >= 0)
        return results.at(clicked);
    // Closed without a button, which only a box without Cancel allows: the
    // window manager's close counts as the box's safest answer.
    return cancel >= 0 ? MessageResult::Cancel : results.last();
}

QString DesktopPlatform::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("キャンセル"));
    const int outcome = dialog.exec();
    throwIfEnded();
    if (outcome != QDialog::Accepted)
        return {};
    return dialog.textValue();
}

void DesktopPlatform::beep()
{
    QApplication::beep();
}

bool DesktopPlatform::openDocument(const QString &path)
{
    if (!QFileInfo::exists(path))
        return false;
    // QDesktopServices reports success as soon as xdg-open starts, even when
    // it then finds no application for the document (no browser installed).
    // xdg-open answers that failure at once; an application it started keeps
    // it running, and that is success.
    auto *opener = new QProcess(qApp);
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    opener->start(QStringLiteral("xdg-open"), {QFileInfo(path).absoluteFilePath()});
    if (!opener->waitForStarted()) {
        opener->deleteLater();
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
    if (!opener->waitForFinished(2000))
        return true;
    return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
}

QString DesktopPlatform::programFolder() const
{
    return m_programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : m_programFolder;
}

bool DesktopPlatform::choosePrinter(QPrinter &printer)
{
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    return dialog.exec() == QDialog::Accepted;
}

QString DesktopPlatform::saveFileName(const QString &caption, const QString &suggested, const QString &filter)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, suggested, filter);
}

QString DesktopPlatform::homeFolder() const
{
    return QDir::homePath();
}

} // namespace toolkit
