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

void openHelpIndex()
{
    const QString document = helpDocument();
    if (platform().openDocument(document))
        return;
    MessageBoxRequest box;
    box.text = QStringLiteral("ヘルプを開けませんでした。\n%1").arg(QDir::toNativeSeparators(document));
    box.icon = MessageIcon::Exclamation;
    platform().messageBox(box);
}

} // namespace toolkit
