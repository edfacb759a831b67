#pragma once

#include "toolkit/platform.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace toolkit {

// Answers boxes from queues and records everything shown. Its folders default
// to the test program's folder and the system's temporary folder, so a test
// never writes into the real home folder by accident.
class ScriptedPlatform : public PlatformServices
{
public:
    struct Box {
        MessageBoxRequest request;
        MessageResult answer;
    };
    struct Input {
        QString prompt, title, defaultText, answer;
        bool cancelled;
    };

    ScriptedPlatform();

    MessageResult messageBox(const MessageBoxRequest &box) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText = {}) override;
    void beep() override;
    bool openDocument(const QString &path) override;
    // Prints to a PDF file when one is set, else cancels; saving answers the
    // file set, or cancels without one.
    bool choosePrinter(QPrinter &printer) override;
    QString saveFileName(const QString &caption, const QString &suggested, const QString &filter) override;
    QString programFolder() const override;
    QString homeFolder() const override;

    void setPrintFile(const QString &pdf);
    void setSaveFile(const QString &path);
    int printDialogs() const;

    void answerBox(MessageResult answer); // queued; an unqueued box takes its default button
    void answerInput(const QString &text); // queued OK with that text (an unqueued input takes OK with its default)
    void cancelInput();                    // queued Cancel
    int pendingAnswers() const;            // queued box and input answers not yet taken

    const QList<Box> &boxes() const;
    const QList<Input> &inputs() const;
    int beeps() const;
    const QStringList &openedDocuments() const;

    void setProgramFolder(const QString &folder);
    void setHomeFolder(const QString &folder);
    void setOpenDocumentResult(bool result);

private:
    struct QueuedInput {
        QString text;
        bool cancelled;
    };
    QList<MessageResult> m_boxAnswers;
    QList<QueuedInput> m_inputAnswers;
    QList<Box> m_boxes;
    QList<Input> m_inputs;
    int m_beeps = 0;
    QStringList m_openedDocuments;
    QString m_programFolder;
    QString m_homeFolder;
    bool m_openDocumentResult = true;
    QString m_printFile;
    QString m_saveFile;
    int m_printDialogs = 0;
};

} // namespace toolkit
