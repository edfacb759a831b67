#include "support/scriptedplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QPrinter>

namespace toolkit {

ScriptedPlatform::ScriptedPlatform()
    : m_programFolder(QCoreApplication::applicationDirPath()), m_homeFolder(QDir::tempPath())
{
}

MessageResult ScriptedPlatform::messageBox(const MessageBoxRequest &box)
{
    const MessageResult answer = m_boxAnswers.isEmpty() ? defaultAnswer(box) : m_boxAnswers.takeFirst();
    m_boxes.append({box, answer});
    return answer;
}

QString ScriptedPlatform::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    const QueuedInput queued = m_inputAnswers.isEmpty() ? QueuedInput{defaultText, false} : m_inputAnswers.takeFirst();
    const QString answer = queued.cancelled ? QString() : queued.text;
    m_inputs.append({prompt, title, defaultText, answer, queued.cancelled});
    return answer;
}

void ScriptedPlatform::beep()
{
    ++m_beeps;
}

bool ScriptedPlatform::openDocument(const QString &path)
{
    m_openedDocuments.append(path);
    return m_openDocumentResult;
}

bool ScriptedPlatform::choosePrinter(QPrinter &printer)
{
    ++m_printDialogs;
    if (m_printFile.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_printFile);
    return true;
}

QString ScriptedPlatform::saveFileName(const QString &, const QString &, const QString &)
{
    return m_saveFile;
}

void ScriptedPlatform::setPrintFile(const QString &pdf)
{
    m_printFile = pdf;
}

void ScriptedPlatform::setSaveFile(const QString &path)
{
    m_saveFile = path;
}

int ScriptedPlatform::printDialogs() const
{
    return m_printDialogs;
}

QString ScriptedPlatform::programFolder() const
{
    return m_programFolder;
}

QString ScriptedPlatform::homeFolder() const
{
    return m_homeFolder;
}

void ScriptedPlatform::answerBox(MessageResult answer)
{
    m_boxAnswers.append(answer);
}

void ScriptedPlatform::answerInput(const QString &text)
{
    m_inputAnswers.append({text, false});
}

void ScriptedPlatform::cancelInput()
{
    m_inputAnswers.append({QString(), true});
}

int ScriptedPlatform::pendingAnswers() const
{
    return int(m_boxAnswers.size() + m_inputAnswers.size());
}

const QList<ScriptedPlatform::Box> &ScriptedPlatform::boxes() const
{
    return m_boxes;
}

const QList<ScriptedPlatform::Input> &ScriptedPlatform::inputs() const
{
    return m_inputs;
}

int ScriptedPlatform::beeps() const
{
    return m_beeps;
}

const QStringList &ScriptedPlatform::openedDocuments() const
{
    return m_openedDocuments;
}

void ScriptedPlatform::setProgramFolder(const QString &folder)
{
    m_programFolder = folder;
}

void ScriptedPlatform::setHomeFolder(const QString &folder)
{
    m_homeFolder = folder;
}

void ScriptedPlatform::setOpenDocumentResult(bool result)
{
    m_openDocumentResult = result;
}

} // namespace toolkit
