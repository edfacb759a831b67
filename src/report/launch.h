#pragma once

#include "report/datasource.h"

#include <QString>
#include <QStringList>
#include <QVariant>

namespace report {

class Preview;

// Shows one document for its key in a preview titled `title`, or with the
// layout's own caption when the launcher gives none: the program's data
// source runs the document's command for the key, the layout gets its
// run-time labels, and the preview ends the document when it closes, closing
// the command's result so that the next launch reads afresh.  Modal waits
// until the preview closes and returns nullptr; modeless returns the preview
// shown.  A document exists once: its preview still shown from an earlier
// launch is closed first.  Raises jet::Error(kEngineFailure) when the
// document cannot be laid out.
Preview *showDocument(const QString &name, const QVariant &key, const QString &title, const Institution &institution,
                      bool modal);
// Closes the previews of these documents that are shown, ending them.
void closeDocuments(const QStringList &names);
// Closes every preview shown, so that no document holds the database open.
void closeAllDocuments();

// The report engine's failure to lay out or show a document, as the
// launchers answer it.
inline constexpr qint32 kEngineFailure = qint32(0x80020009);

} // namespace report
