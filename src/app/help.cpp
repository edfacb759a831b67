#include "app/help.h"

#include "toolkit/platform.h"

#include <QDir>
#include <QFileInfo>

namespace app {

QString helpDocument()
{
    const QDir folder(toolkit::platform().programFolder());
    const QString helpFile = folder.filePath(kHelpFileName);
    if (QFileInfo::exists(helpFile))
        return helpFile;
    return folder.filePath(kManualPath);
}

void openHelpIndex()
{
    const QString document = helpDocument();
    if (toolkit::platform().openDocument(document))
        return;
    toolkit::MessageBoxSpec box;
    box.text = QStringLiteral("ヘルプを開けませんでした。\n%1").arg(QDir::toNativeSeparators(document));
    box.icon = toolkit::MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
}

} // namespace app
