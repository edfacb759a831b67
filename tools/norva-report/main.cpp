// norva-report REPORT --key N [--out FILE.pdf] [--db PATH]
// Renders one document for an episode or chart to PDF without a display,
// from the database the location file beside the program names, or PATH.
#include "db/engine/error.h"
#include "db/location.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "report/render.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "norva-report: " << message << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Fonts are measured and embedded without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Renders one ネモリア document to PDF."_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"report"_s, u"the layout name: "_s + report::documentNames().join(u", "_s));
    parser.addOption({u"key"_s, u"the episode (入退院ID) or chart (カルテID) to print"_s, u"N"_s});
    parser.addOption({u"out"_s, u"the PDF to write (default REPORT-N.pdf)"_s, u"FILE"_s});
    parser.addOption({u"db"_s, u"the database instead of the one the location file names"_s, u"PATH"_s});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1)
        return fail(u"name one report: "_s + report::documentNames().join(u", "_s));
    const QString name = args.first();
    bool numeric = false;
    const int key = parser.value(u"key"_s).toInt(&numeric);
    // One moment for the labels and the place-holders alike.
    const QDateTime now = QDateTime::currentDateTime();
    report::Document doc = report::document(name, {}, now);
    if (!doc.layout)
        return fail(u"no report named %1 (%2)"_s.arg(name, report::documentNames().join(u", "_s)));
    const bool keyed = report::DataSource::takesKey(doc.command);
    if (keyed && !numeric)
        return fail(u"%1 needs --key N"_s.arg(name));

    try {
        report::DataSource source(QCoreApplication::applicationDirPath(), parser.value(u"db"_s));
        // The institution's labels are known only once the database is read.
        doc = report::document(name, source.institution(), now);
        if (keyed)
            source.setKey(doc.command, key);
        const jet::Recordset &rows = source.result(doc.command);
        // A list with nobody on it still prints its headings.
        if (keyed && rows.rowCount() == 0)
            return fail(u"no row for key %1"_s.arg(key));
        QString out = parser.value(u"out"_s);
        if (out.isEmpty())
            out = keyed ? u"%1-%2.pdf"_s.arg(name).arg(key) : name + u".pdf"_s;
        // Page by page, so that a ward's long list is written in the memory of one page.
        report::PdfStream pdf(out, name);
        report::layOut(*doc.layout, report::RecordsetRows(rows), now,
                       [&pdf](const report::Page &page) { pdf.add(page); });
        if (!pdf.finish())
            return fail(u"cannot write %1"_s.arg(out));
        QTextStream(stdout) << out << Qt::endl;
        return 0;
    } catch (const jet::Error &e) {
        return fail(e.description());
    }
}
