#include "app/firststart.h"

#include "db/engine/error.h"
#include "db/location.h"
#include "db/schema.h"
#include "toolkit/help.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

namespace {

[[noreturn]] void cannotPrepare(const QString &path, const QString &why)
{
    throw jet::Error(db::fileerr::PathFileAccess,
                     QStringLiteral("パス/ファイル アクセス エラーです。\n%1\n%2").arg(path, why));
}

void linkHelp(const QDir &user, const QDir &installation)
{
    const QString manualFolder = QFileInfo(toolkit::kManualPath).path();
    for (const QString &name : {toolkit::kHelpFileName, manualFolder}) {
        const QString target = installation.filePath(name);
        const QString link = user.filePath(name);
        // A link left dangling by a removed installation is replaced too.
        if (!QFileInfo::exists(target) || QFileInfo::exists(link))
            continue;
        QFile::remove(link);
        QFile::link(target, link);
    }
}

// The package links the installation's location file to a hospital-wide one
// that it ships empty: until the hospital names its shared database there,
// each user keeps a program folder of their own.
bool hospitalWideLocation(const QString &locationFile)
{
    QFile file(locationFile);
    if (!file.open(QIODevice::ReadOnly))
        return QFileInfo::exists(locationFile);
    return !file.read(4096).trimmed().isEmpty();
}

} // namespace

QString userProgramFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("norva"));
}

QString sessionProgramFolder(const QString &installationFolder, const QString &userFolder)
{
    const QFileInfo installation(installationFolder);
    if (hospitalWideLocation(db::locationFilePath(installationFolder)) || installation.isWritable())
        return installationFolder;
    prepareUserFolder(userFolder, installationFolder);
    return userFolder;
}

void prepareUserFolder(const QString &userFolder, const QString &installationFolder)
{
    const QDir user(userFolder);
    // The folder holds one user's patient data: nobody else may list or read it.
    const bool isNew = !QFileInfo::exists(userFolder);
    if (!QDir().mkpath(userFolder))
        cannotPrepare(userFolder, QStringLiteral("フォルダーを作れません。"));
    if (isNew && !QFile::setPermissions(userFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                        | QFileDevice::ExeOwner))
        cannotPrepare(userFolder, QStringLiteral("フォルダーのアクセス権を設定できません。"));
    linkHelp(user, QDir(installationFolder));

    const QString locationFile = db::locationFilePath(userFolder);
    if (QFileInfo::exists(locationFile) || QFileInfo(locationFile).isSymLink())
        return;
    const QString database = db::defaultDatabasePath(userFolder);
    if (!QFileInfo::exists(database))
        db::createDatabase(database, db::Generation::V2112);
    db::writeDatabasePath(userFolder, database);
}

} // namespace app
