#include "report/launch.h"

#include "db/engine/error.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "report/preview.h"
#include "toolkit/platform.h"

#include <QApplication>

namespace report {

void showDocument(const QString &name, const QVariant &key, const QString &title, const Institution &institution,
                  bool modal)
{
    const QDateTime now = toolkit::platform().now();
    DataSource &source = DataSource::instance();
    Document doc;
    QList<Page> pages;
    // A label or column the layout names and does not find is the engine's
    // failure to lay the document out, whether in its labels or its rows.
    try {
        doc = document(name, institution, now);
        if (!doc.layout)
            throw jet::Error(kEngineFailure, QStringLiteral("レポート %1 はありません。").arg(name));
        source.setKey(doc.command, key);
        pages = layOut(*doc.layout, RecordsetRows(source.result(doc.command)), now);
    } catch (const jet::Error &e) {
        source.close(doc.command);
        if (e.number() == jet::err::ItemNotFound)
            throw jet::Error(kEngineFailure, e.description());
        throw;
    }
    auto *preview = new Preview(pages, title, QApplication::activeWindow());
    preview->setAttribute(Qt::WA_DeleteOnClose);
    const DataSource::Command command = doc.command;
    if (doc.closesResult)
        QObject::connect(preview, &Preview::ended, [command] { DataSource::instance().close(command); });
    if (modal)
        preview->exec();
    else
        preview->show();
}

} // namespace report
