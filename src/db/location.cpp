#include "db/location.h"

#include "db/audit.h"
#include "db/sessionrights.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/filekey.h"
#include "db/engine/files.h"
#include "db/engine/postgres/server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <cstring>

namespace db {

namespace {

const QLatin1String installationFolder("C:\\Program Files\\NORVA\\");
const QLatin1String driveRoot("C:\\");

QString jetPart()
{
    return QStringLiteral("Microsoft.Jet.OLEDB.4.0;");
}

QString sourceAndPassword(const QString &databasePath, const QString &password = databasePassword())
{
    // A server's keyword string may hold single quotes of its own.
    const QChar quote = databasePath.contains(u'\'') ? u'"' : u'\'';
    return QStringLiteral("Data Source= ") + quote + databasePath + quote + u';'
        + QStringLiteral("Jet OLEDB:Database Password=") + password + u';';
}

// A location file written on a Japanese Windows desktop is in its ANSI code
// page; one written here is UTF-8.  Text in that code page is hardly ever
// valid UTF-8, so trying UTF-8 first tells the two apart.
QString decodeLocationFile(const QByteArray &bytes)
{
    // Notepad's "Unicode" is UTF-16 with a byte-order mark.
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes);
    if (marked && *marked != QStringConverter::Utf8) {
        QStringDecoder decoder(*marked);
        return decoder.decode(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder windowsJapanese("windows-31j");
    return windowsJapanese.decode(bytes);
}

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Far beyond any path, and read at once: a file without a line end in it is
// not a location file, however long the rest of it.
constexpr qint64 kLongestFirstLine = 64 * 1024;

bool isWindowsAbsolute(const QString &path)
{
    return (path.size() >= 2 && path.at(1) == u':' && path.at(0).isLetter()) || path.startsWith(u"\\\\");
}

} // namespace

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString systemDriveRoot()
{
    return QDir::homePath();
}

QString localPath(const QString &windowsPath, const QString &programFolder)
{
    return localPath(windowsPath, programFolder, systemDriveRoot());
}

QString localPath(const QString &windowsPath, const QString &programFolder, const QString &driveRootFolder)
{
    QString base;
    qsizetype prefix = 0;
    if (windowsPath.startsWith(installationFolder, Qt::CaseInsensitive)) {
        base = programFolder;
        prefix = installationFolder.size();
    } else if (windowsPath.startsWith(driveRoot, Qt::CaseInsensitive)) {
        base = driveRootFolder;
        prefix = driveRoot.size();
    } else {
        return windowsPath;
    }
    QString rest = windowsPath.mid(prefix);
    rest.replace(u'\\', u'/');
    return QDir(base).filePath(rest);
}

QString defaultDatabasePath(const QString &programFolder)
{
    return localPath(installationFolder + QLatin1String("norva2000.mdb"), programFolder);
}

QString locationFilePath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("norva.txt"));
}

void writeDatabasePath(const QString &folder, const QString &databasePath)
{
    QString field = databasePath;
    if (field.contains(u',') || field.startsWith(u' ') || field.startsWith(u'\t') || field.startsWith(u'"'))
        field = u'"' + field + u'"';
    const QString path = locationFilePath(folder);
    const auto refuse = [&path](const QString &cause) {
        throw jet::Error(fileerr::PathFileAccess,
                         QStringLiteral("パス/ファイル アクセス エラーです。\n%1\n%2").arg(path, cause));
    };
    // A half-written file would name a wrong path.
    jet::PartialFile partial(path);
    if (!partial.created())
        refuse(QString::fromLocal8Bit(std::strerror(partial.error())));
    {
        QFile file(partial.name());
        if (!file.open(QIODevice::WriteOnly) || file.write(field.toUtf8() + '\n') < 0 || !file.flush())
            refuse(file.errorString());
    }
    if (const int error = partial.place(true))
        refuse(QString::fromLocal8Bit(std::strerror(error)));
}

QString readDatabasePath(const QString &folder)
{
    QFile file(locationFilePath(folder));
    if (!file.exists())
        throw jet::Error(fileerr::FileNotFound, QStringLiteral("ファイルが見つかりません。"));
    if (!file.open(QIODevice::ReadOnly))
        throw jet::Error(fileerr::PathFileAccess, QStringLiteral("パス/ファイル アクセス エラーです。"));
    const QString text = decodeLocationFile(file.read(kLongestFirstLine));
    const bool whole = file.atEnd();
    file.close();

    qsizetype start = 0;
    while (start < text.size() && (text.at(start) == u' ' || text.at(start) == u'\t'))
        ++start;
    qsizetype lineEnd = start;
    while (lineEnd < text.size() && !isLineEnd(text.at(lineEnd)))
        ++lineEnd;
    if (lineEnd == text.size() && !whole)
        throw jet::Error(fileerr::PathFileAccess,
                         QStringLiteral("パス/ファイル アクセス エラーです。\n%1\n1 行目が %2 バイトを超えています。")
                             .arg(file.fileName())
                             .arg(kLongestFirstLine));
    if (start == text.size())
        throw jet::Error(fileerr::InputPastEndOfFile, QStringLiteral("ファイルにこれ以上データがありません。"));

    const QStringView line = QStringView(text).mid(start, lineEnd - start);
    // A server's address is taken whole: a comma separates its hosts, and it
    // lies in no folder.
    if (jet::isServerAddress(line.trimmed().toString()))
        return line.trimmed().toString();
    QString path;
    if (line.startsWith(u'"')) {
        // Without its closing quote the field runs to the end of the line.
        const qsizetype close = line.indexOf(u'"', 1);
        path = line.mid(1, close < 0 ? -1 : close - 1).toString();
    } else {
        const qsizetype comma = line.indexOf(u',');
        path = (comma < 0 ? line : line.left(comma)).toString();
    }
    // The file lies beside the program, and so does a database it names
    // relatively, wherever the program was started from.
    if (!path.isEmpty() && QDir::isRelativePath(path) && !isWindowsAbsolute(path) && !jet::isServerAddress(path))
        path = QDir(folder).filePath(path);
    return path;
}

QString publishedPassword()
{
    return QStringLiteral("tamik4062");
}

QString databasePassword()
{
    return jet::holdsFileKey() ? jet::heldKeyPassword() : publishedPassword();
}

QString shapingProvider()
{
    return QStringLiteral("MSDataShape");
}

QString shapedConnectionString(const QString &databasePath)
{
    return QStringLiteral("Data Provider=") + jetPart() + sourceAndPassword(databasePath);
}

QString plainConnectionString(const QString &databasePath)
{
    return QStringLiteral("Provider=") + jetPart() + sourceAndPassword(databasePath);
}

QString plainConnectionString(const QString &databasePath, const QString &password)
{
    return QStringLiteral("Provider=") + jetPart() + sourceAndPassword(databasePath, password);
}

QString reportConnectionString(const QString &databasePath)
{
    // The report data source takes the path as a property, so any path must
    // survive; the designed string leaves it bare, which is kept where it is safe.
    QString source = databasePath;
    const bool bareIsSafe = !source.contains(u';') && source.trimmed() == source
        && !source.startsWith(u'"') && !source.startsWith(u'\'');
    if (!bareIsSafe) {
        const QChar quote = source.contains(u'"') ? u'\'' : u'"';
        source = quote + source + quote;
    }
    return QStringLiteral("Provider=") + jetPart() + QStringLiteral("Data Source=") + source
        + QStringLiteral(";Persist Security Info=False;Jet OLEDB:Database Password=") + databasePassword()
        + u';';
}

void openWindowConnection(jet::Connection &connection, const QString &folder)
{
    const QString path = readDatabasePath(folder);
    connection.setProvider(shapingProvider());
    connection.setConnectionString(shapedConnectionString(path));
    connection.open();
    audit::recordChanges(connection);
    guardWrites(connection);
}

} // namespace db
