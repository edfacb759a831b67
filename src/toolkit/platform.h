#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QPrinter;

namespace toolkit {

enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
// The values are those the windows compare against (vbOK .. vbNo).
enum class MessageResult { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageBoxRequest {
    QString text;
    QString title = QStringLiteral("ネモリア");
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    int defaultButton = 1; // 1-based, as vbDefaultButton1..3
    // Captions in place of the set's own, left to right, where a choice needs words of its own.
    QStringList buttonTexts;
};

// The buttons of a set, left to right, and the one a 1-based default names
// (out-of-range defaults fall back to the first button, as the desktop does).
QList<MessageResult> buttonsOf(MessageButtons buttons);
MessageResult defaultAnswer(const MessageBoxRequest &box);

// Everything the windows ask of the desktop, so that tests can answer it.
class PlatformServices
{
public:
    virtual ~PlatformServices() = default;
    virtual MessageResult messageBox(const MessageBoxRequest &box) = 0;
    // OK returns the text, Cancel the empty text.
    virtual QString inputBox(const QString &prompt, const QString &title, const QString &defaultText = {}) = 0;
    virtual void beep() = 0;
    virtual bool openDocument(const QString &path) = 0; // the desktop's default application
    // The system's print dialog for the printer; false when the user cancels.
    virtual bool choosePrinter(QPrinter &printer) = 0;
    // A file to save to, chosen in the desktop's file dialog; empty when cancelled.
    virtual QString saveFileName(const QString &caption, const QString &suggested, const QString &filter) = 0;
    virtual QString programFolder() const = 0;          // where the executable lives
    virtual QString homeFolder() const = 0;             // the folder that stands for drive C: in paths
    QDateTime now() const;                              // jet::Clock::now()
};

// The services in use; the desktop ones unless a test installed others.
PlatformServices &platform();
// Takes ownership; nullptr returns to the desktop services.
void setPlatform(std::unique_ptr<PlatformServices> services);

// Its boxes throw ProgramEnded when a handler run by their event loop ended the program.
class DesktopPlatform : public PlatformServices
{
public:
    MessageResult messageBox(const MessageBoxRequest &box) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText = {}) override;
    void beep() override;
    bool openDocument(const QString &path) override;
    bool choosePrinter(QPrinter &printer) override;
    QString saveFileName(const QString &caption, const QString &suggested, const QString &filter) override;
    QString programFolder() const override;
    QString homeFolder() const override;

    // A shared installation gives each user a program folder of their own;
    // empty stands for the executable's folder.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }

private:
    QString m_programFolder;
};

} // namespace toolkit
