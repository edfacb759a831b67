#include "report/launch.h"

#include "db/engine/error.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "report/preview.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include <QApplication>

#include <QHash>
#include <QPointer>
#include <QScreen>

namespace report {

namespace {

QHash<QString, QPointer<Preview>> &shown()
{
    static QHash<QString, QPointer<Preview>> previews;
    return previews;
}

// Previews shown side by side open in cascade, each a step below and to the
// right of the last one still open, so that none hides another whole.
void cascade(Preview &preview)
{
    static QPointer<Preview> last;
    if (last && last->isVisible())
        toolkit::moveOnScreen(preview, last->frameGeometry().topLeft() + QPoint(32, 32), *last->screen());
    last = &preview;
}

} // namespace

void closeDocuments(const QStringList &names)
{
    // Ended even when hidden, which closing alone does not do to a dialog.
    for (const QString &name : names)
        if (Preview *preview = shown().take(name)) {
            preview->done(QDialog::Rejected);
            preview->deleteLater();
        }
}

void closeAllDocuments()
{
    closeDocuments(shown().keys());
}

Preview *showDocument(const QString &name, const QVariant &key, const QString &title, const Institution &institution,
                      bool modal)
{
    closeDocuments({name});
    const QDateTime now = toolkit::platform().now();
    DataSource &source = DataSource::instance();
    Document doc;
    QList<Page> pages;
    db::audit::Event output;
    // A label or column the layout names and does not find is the engine's
    // failure to lay the document out, whether in its labels or its rows.
    try {
        doc = document(name, institution, now);
        if (!doc.layout)
            throw jet::Error(kEngineFailure, QStringLiteral("レポート %1 はありません。").arg(name));
        if (DataSource::takesKey(doc.command))
            source.setKey(doc.command, key);
        const jet::Recordset &rows = source.result(doc.command);
        // An empty page is no answer: the clerk is told which code to mend.
        if (DataSource::takesKey(doc.command) && rows.rowCount() == 0) {
            const QString missing = source.missingReference(doc.command);
            if (!missing.isEmpty()) {
                toolkit::MessageBoxRequest box;
                box.text = QStringLiteral("%1 に印刷する内容がありません。\r%2").arg(doc.layout->caption, missing);
                box.icon = toolkit::MessageIcon::Exclamation;
                toolkit::platform().messageBox(box);
            }
        }
        pages = layOut(*doc.layout, RecordsetRows(rows), now);
        output = documentEvent({}, name, DataSource::takesKey(doc.command) ? key : QVariant(), rows);
    } catch (const jet::Error &e) {
        source.close(doc.command);
        if (e.number() == jet::err::ItemNotFound)
            throw jet::Error(kEngineFailure, e.description());
        throw;
    }
    auto *preview = new Preview(pages, title.isEmpty() ? doc.layout->caption : title, QApplication::activeWindow());
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setObjectName(name);
    preview->setRecorder([output](const QString &action, const QString &file) {
        db::audit::Event event = output;
        event.action = action;
        if (!file.isEmpty())
            event.detail += QStringLiteral(" → ") + file;
        DataSource::instance().record(event);
    });
    const DataSource::Command command = doc.command;
    if (doc.closesResult)
        QObject::connect(preview, &Preview::ended, [command] { DataSource::instance().close(command); });
    shown().insert(name, preview);
    if (!modal) {
        preview->show();
        cascade(*preview);
        return preview;
    }
    preview->exec();
    return nullptr;
}

} // namespace report
