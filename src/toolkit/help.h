#pragma once

#include <QString>

namespace toolkit {

// The help file a hospital may have put in the program's folder.
inline const QString kHelpFileName = QStringLiteral("Index.chm");
// The program's own manual, installed beside the executable.
inline const QString kManualPath = QStringLiteral("manual/index.html");

// The document "目次とキーワード" opens: "Index.chm" in the program's folder
// when it is there, otherwise the program's own manual.
QString helpDocument();

// Opens the help document with the desktop's default application.  Whatever
// the outcome the program carries on; when nothing could open it the user
// is told where the manual was looked for.
void openHelpIndex();

// The help file of the F1 key, for the whole program, as a window sets it
// while loading; empty until one does.
void setProgramHelpFile(const QString &path);
QString programHelpFile();
// The F1 key: the program's help file, or the help document while it is
// not set or not there.
void openProgramHelp();

} // namespace toolkit
