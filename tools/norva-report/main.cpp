// norva-report REPORT [--key N] [--out FILE.pdf] [--force] [--db PATH]
// Renders one document for an episode, a chart or a certificate record to PDF without a display,
// from the database the location file beside the program names, or PATH.
#include "db/check.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/location.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "report/render.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Every failure is one line: cron mails it and a clerk reads it.
int fail(const QString &message)
{
    QTextStream(stderr) << u"norva-report: "_s << message << Qt::endl;
    return 1;
}

// Qt's own warnings (a run-time folder cron does not set, a painter on a
// device that failed) would stand before the one line that names the cause.
void quietWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        QTextStream(stderr) << qFormatLogMessage(type, context, message) << Qt::endl;
}

QString cause(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The path with its folder's links resolved but not its own last component,
// so that a link is compared as the name it is.
QString resolvedName(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

// Whether writing `out` would touch the database or one of SQLite's files
// beside it, by name or, through a link, by the file itself.
bool isDatabaseFile(const QString &out, const QString &database)
{
    struct stat target{};
    const bool targetExists = ::stat(QFile::encodeName(out).constData(), &target) == 0;
    const QString outName = resolvedName(out);
    for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s, u"-journal"_s}) {
        const QString file = database + suffix;
        if (resolvedName(file) == outName)
            return true;
        struct stat st{};
        if (targetExists && ::stat(QFile::encodeName(file).constData(), &st) == 0 && st.st_dev == target.st_dev
            && st.st_ino == target.st_ino)
            return true;
    }
    return false;
}

QString databasePath(const QString &given)
{
    if (!given.isEmpty())
        return given;
    const QString folder = QCoreApplication::applicationDirPath();
    const QString location = QDir::toNativeSeparators(db::locationFilePath(folder));
    try {
        return db::readDatabasePath(folder);
    } catch (const jet::Error &e) {
        switch (e.number()) {
        case db::fileerr::FileNotFound:
            throw jet::Error(e.number(), u"場所ファイル %1 が見つかりません。"_s.arg(location));
        case db::fileerr::InputPastEndOfFile:
            throw jet::Error(e.number(), u"場所ファイル %1 にデータベースの場所が書かれていません。"_s.arg(location));
        default:
            throw jet::Error(e.number(), u"場所ファイル %1 を読めません: %2"_s.arg(location, e.description().simplified()));
        }
    }
}

// Each document with the ID its key names, the ward's documents alone.
QString documentList()
{
    QStringList names;
    for (const QString &name : report::documentNames()) {
        const report::Document doc = report::document(name, {}, QDateTime::currentDateTime());
        const QString key = report::DataSource::keyName(doc.command);
        names << (key.isEmpty() ? name : u"%1 (%2)"_s.arg(name, key));
    }
    return names.join(u", "_s);
}

} // namespace

int main(int argc, char **argv)
{
    // Fonts are measured and embedded without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietWarnings);
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"ネモリアの文書を一つ PDF に書き出します。"_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"report"_s, u"文書の名前と --key に指定する ID: "_s + documentList());
    parser.addOption({u"key"_s, u"印刷する入退院ID、カルテID または診断書ID (病棟の文書には付けません)"_s, u"N"_s});
    parser.addOption({u"out"_s, u"書き出す PDF (既定は REPORT-N.pdf)"_s, u"FILE"_s});
    parser.addOption({u"force"_s, u"既にある --out のファイルを置き換えます"_s});
    parser.addOption({u"db"_s, u"場所ファイルの示すデータベースの代わりに使うデータベース"_s, u"PATH"_s});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1)
        return fail(u"文書の名前を一つ指定してください: "_s + report::documentNames().join(u", "_s));
    const QString name = args.first();
    bool numeric = false;
    const int key = parser.value(u"key"_s).toInt(&numeric);
    // One moment for the labels and the place-holders alike.
    const QDateTime now = QDateTime::currentDateTime();
    report::Document doc = report::document(name, {}, now);
    if (!doc.layout)
        return fail(u"%1 という文書はありません (%2)。"_s.arg(name, report::documentNames().join(u", "_s)));
    const bool keyed = report::DataSource::takesKey(doc.command);
    if (keyed && !numeric)
        return fail(u"%1 には --key N で%2を指定してください。"_s.arg(name, report::DataSource::keyName(doc.command)));
    if (!keyed && parser.isSet(u"key"_s))
        return fail(u"%1 は病棟全体の文書です。--key は指定できません。"_s.arg(name));

    QString out = parser.value(u"out"_s);
    if (out.isEmpty())
        out = keyed ? u"%1-%2.pdf"_s.arg(name).arg(key) : name + u".pdf"_s;
    const QString shownOut = QDir::toNativeSeparators(out);
    QString database;
    try {
        database = databasePath(parser.value(u"db"_s));
    } catch (const jet::Error &e) {
        return fail(e.description());
    }
    if (isDatabaseFile(out, database))
        return fail(u"%1 はデータベース %2 またはその作業ファイルです。別の PDF のファイル名を指定してください。"_s.arg(
            shownOut, QDir::toNativeSeparators(database)));

    const bool replace = parser.isSet(u"force"_s);
    struct stat existing{};
    if (::lstat(QFile::encodeName(out).constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            return fail(u"%1 はフォルダです。PDF のファイル名を指定してください。"_s.arg(shownOut));
        if (!replace)
            return fail(u"%1 は既にあります。置き換えるには --force を付けてください。"_s.arg(shownOut));
    }

    try {
        report::DataSource source(QCoreApplication::applicationDirPath(), database);
        // The institution's labels are known only once the database is read.
        doc = report::document(name, source.institution(), now);
        if (keyed)
            source.setKey(doc.command, key);
        const jet::Recordset &rows = source.result(doc.command);
        // A list with nobody on it still prints its headings.
        if (keyed && rows.rowCount() == 0) {
            const QString missing = source.missingReference(doc.command);
            return fail(u"%1 を印刷できません (データベース %2): %3"_s.arg(
                name, QDir::toNativeSeparators(database),
                missing.isEmpty() ? u"ID %1 のデータがありません。"_s.arg(key) : missing));
        }
        // Half-written PDFs of killed runs; one that another run is writing stays.
        for (const QString &stuck : jet::removeLeftovers(out))
            QTextStream(stderr) << u"norva-report: 以前に中断した書き出しの作業ファイルを削除できません: "_s << stuck
                                << Qt::endl;
        jet::PartialFile file(out);
        if (!file.created())
            return fail(u"%1 を書き出せません: %2"_s.arg(shownOut, cause(file.error())));
        {
            // Page by page, so that a ward's long list is written in the memory of one page.
            report::PdfStream pdf(file.name(), name);
            report::layOut(*doc.layout, report::RecordsetRows(rows), now,
                           [&pdf](const report::Page &page) { pdf.add(page); });
            if (!pdf.finish())
                return fail(u"%1 を書き出せません。"_s.arg(shownOut));
        }
        // Written, it is recorded before it takes its name: a PDF the trail
        // cannot record is not left behind.
        db::audit::Event written =
            report::documentEvent(db::audit::action::Pdf.toString(), name, keyed ? QVariant(key) : QVariant(), rows);
        written.detail += u" → "_s + QFileInfo(out).absoluteFilePath();
        source.record(written);
        if (const int error = file.place(replace))
            return fail(error == EEXIST ? u"%1 は書き出す間に作られました。置き換えるには --force を付けてください。"_s.arg(shownOut)
                                        : u"%1 を書き出せません: %2"_s.arg(shownOut, cause(error)));
        QTextStream(stdout) << out << Qt::endl;
        return 0;
    } catch (const jet::Error &e) {
        // The columns and tables an upgrade adds are missing from an older file.
        if (e.number() == jet::err::ColumnMissing || e.number() == jet::err::TableMissing)
            return fail(u"データベース %1 は古い形式です。ネモリアを起動して更新してから印刷してください。"_s.arg(
                QDir::toNativeSeparators(database)));
        const QString description = e.description().simplified();
        QString line = description.contains(database)
            ? description
            : u"データベース %1: %2"_s.arg(QDir::toNativeSeparators(database), description);
        if (e.cause() == jet::Cause::Corrupt)
            line += (line.endsWith(u'。') ? QString() : u"。"_s) + db::damagedFileAdvice();
        return fail(line);
    }
}
