#include "toolkit/help.h"

#include "toolkit/platform.h"

#include <QDir>
#include <QFileInfo>

namespace toolkit {

QString helpDocument()
{
    const QDir folder(platform().programFolder());
    const QString helpFile = folder.filePath(kHelpFileName);
    if (QFileInfo::exists(helpFile))
        return helpFile;
    return folder.filePath(kManualPath);
}

namespace {

QString &programHelpFileSetting()
{
    static QString path;
    return path;
}

void openHelp(const QString &document)
{
    if (platform().openDocument(document))
        return;
    MessageBoxRequest box;
    box.text = QStringLiteral("ヘルプを開けませんでした。\n%1").arg(QDir::toNativeSeparators(document));
    box.icon = MessageIcon::Exclamation;
    platform().messageBox(box);
}

} // namespace

void openHelpIndex()
{
    openHelp(helpDocument());
}

void setProgramHelpFile(const QString &path)
{
    programHelpFileSetting() = path;
}

QString programHelpFile()
{
    return programHelpFileSetting();
}

void openProgramHelp()
{
    const QString file = programHelpFile();
    openHelp(!file.isEmpty() && QFileInfo::exists(file) ? file : helpDocument());
}

} // namespace toolkit
