// norva-db: creates empty databases of each schema generation and demo
// databases of a fictional hospital, for development, tests and benchmarks.

#include "demo.h"

#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

std::optional<db::Generation> generationNamed(const QString &name)
{
    if (name == u"2.112"_s)
        return db::Generation::V2112;
    if (name == u"2.086"_s)
        return db::Generation::V2086;
    if (name == u"old"_s)
        return db::Generation::Old;
    return std::nullopt;
}

// Creation refuses an existing file itself; checking first gives the user a
// plain message instead of the engine's.
bool refuseExisting(const QString &path)
{
    if (!QFileInfo::exists(path))
        return false;
    err() << u"norva-db: %1 already exists; it is left untouched."_s.arg(path) << Qt::endl;
    return true;
}

int create(const QString &path, const QString &generationName)
{
    const std::optional<db::Generation> generation = generationNamed(generationName);
    if (!generation) {
        err() << u"norva-db: unknown generation \"%1\" (2.112, 2.086 or old)."_s.arg(generationName) << Qt::endl;
        return 2;
    }
    if (refuseExisting(path))
        return 1;
    db::createDatabase(path, *generation);
    out() << u"Created %1 (generation %2)."_s.arg(path, generationName) << Qt::endl;
    return 0;
}

int demo(const QString &path, const DemoOptions &options)
{
    if (refuseExisting(path))
        return 1;
    QElapsedTimer timer;
    timer.start();
    db::createDatabase(path, db::Generation::V2112);
    DemoSummary summary;
    try {
        jet::Connection connection;
        connection.open(db::plainConnectionString(path));
        summary = fillDemoDatabase(connection, options);
        connection.close();
        jet::releasePooledHandles(path);
    } catch (...) {
        jet::releasePooledHandles(path);
        QFile::remove(path);
        throw;
    }
    out() << u"Created %1: %2 patients, %3 episodes (%4 current in-patients, %5 outpatient courses), "
             "%6 certificates in %7 s."_s.arg(path)
                 .arg(summary.patients)
                 .arg(summary.episodes)
                 .arg(summary.inpatients)
                 .arg(summary.outpatientCourses)
                 .arg(summary.certificates)
                 .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
          << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"norva-db"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Creates database files for ネモリア.\n\n"
        "  create PATH [--generation 2.112|2.086|old]   an empty database\n"
        "  demo PATH [--patients N] [--seed S] [--today YYYY-MM-DD]\n"
        "                                               a database of a fictional hospital"_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"command"_s, u"create or demo"_s);
    parser.addPositionalArgument(u"path"_s, u"the database file to create"_s);
    const QCommandLineOption generation(u"generation"_s, u"Schema generation of an empty database."_s,
                                        u"generation"_s, u"2.112"_s);
    const QCommandLineOption patients(u"patients"_s, u"Number of demo patients."_s, u"N"_s, u"1000"_s);
    const QCommandLineOption seed(u"seed"_s, u"Seed of the demo data."_s, u"S"_s, u"1"_s);
    const QCommandLineOption today(u"today"_s, u"The day the demo data is counted back from."_s, u"date"_s);
    parser.addOptions({generation, patients, seed, today});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || (args.at(0) != u"create"_s && args.at(0) != u"demo"_s)) {
        err() << parser.helpText();
        return 2;
    }
    try {
        if (args.at(0) == u"create"_s)
            return create(args.at(1), parser.value(generation));

        DemoOptions options;
        bool ok = false;
        options.patients = parser.value(patients).toInt(&ok);
        if (!ok || options.patients < 0) {
            err() << u"norva-db: --patients needs a whole number of at least 0."_s << Qt::endl;
            return 2;
        }
        options.seed = parser.value(seed).toULongLong(&ok);
        if (!ok) {
            err() << u"norva-db: --seed needs a whole number."_s << Qt::endl;
            return 2;
        }
        if (parser.isSet(today)) {
            const QDate day = QDate::fromString(parser.value(today), Qt::ISODate);
            if (!day.isValid()) {
                err() << u"norva-db: --today needs a date as YYYY-MM-DD."_s << Qt::endl;
                return 2;
            }
            jet::Clock::setFixed(day.startOfDay());
        }
        return demo(args.at(1), options);
    } catch (const jet::Error &error) {
        err() << u"norva-db: %1 (%2)"_s.arg(error.description(), error.numberText()) << Qt::endl;
        return 1;
    }
}
