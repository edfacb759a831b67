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
    const QString cause = QFileInfo::exists(document)
                              ? QStringLiteral("この文書を開くアプリケーション（ウェブ ブラウザー）がインストールされていません。")
                              : QStringLiteral("ファイルが見つかりません。");
    box.text = QStringLiteral("ヘルプを開けませんでした。\n%1\n%2").arg(QDir::toNativeSeparators(document), cause);
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
