#pragma once

#include "report/datasource.h"

#include <QString>
#include <QVariant>

namespace report {

// Shows one document for its key in a preview titled `title`: the program's
// data source runs the document's command for the key, the layout gets its
// run-time labels, and the preview ends the document when it closes, closing
// the command's result so that the next launch reads afresh.  Modal waits
// until the preview closes.  Raises jet::Error(kEngineFailure) when the
// document cannot be laid out.
void showDocument(const QString &name, const QVariant &key, const QString &title, const Institution &institution,
                  bool modal);

// The report engine's failure to lay out or show a document, as the
// launchers answer it.
inline constexpr qint32 kEngineFailure = qint32(0x80020009);

} // namespace report
