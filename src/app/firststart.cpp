#include "app/firststart.h"

#include "certificate/records/extension.h"
#include "db/codetables.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/extension.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/sessionrights.h"
#include "toolkit/errortrap.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"

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

QString entriesText(const QList<db::CodeRow> &rows)
{
    QStringList texts;
    for (const db::CodeRow &row : rows)
        texts.append(row.text);
    return texts.join(QStringLiteral("、"));
}

QString guideText(const db::LedgerSetUp &setUp)
{
    QStringList lines{QStringLiteral("新しい台帳です。患者を登録する前に、設定の画面で次の項目を設定してください。"),
                      QStringLiteral("設定の画面は、この画面の「設定（オプション）」か、台帳のメニューの［ツール］→［オプション］で開きます。")};
    if (!setUp.hospitalNamed)
        lines << QStringLiteral("・「医療機関名」タブ: 医療機関名、診療科名、郵便番号、所在地、電話番号（診断書の印刷に使います）");
    lines << QStringLiteral("・「主治医」「部屋」「ベッド」「診断名」「医薬品名」「服用方法」タブ: 病棟で使う項目")
          << QStringLiteral("・「アドバンスモード」をオンにして表示される「入院形態」「性別」「介護度」などのタブ")
          << QString() << QStringLiteral("よく使う次の項目を、いま登録しますか？");
    if (!setUp.hasSexes)
        lines << QStringLiteral("・性別: %1").arg(entriesText(db::sexes()));
    if (!setUp.hasAdmissionForms)
        lines << QStringLiteral("・入院形態: %1").arg(entriesText(db::legalAdmissionForms()));
    lines << QString() << QStringLiteral("「いいえ」を選んだ場合は、これらの表が空のあいだ、次に起動したときにもう一度お尋ねします。");
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void guideNewLedger(const QString &programFolder)
{
    // Another workstation may hold the file for a moment: the entries can be
    // made in the options as well, so the program carries on either way.
    toolkit::MessageBoxRequest failed;
    failed.text = QStringLiteral("性別と入院形態の項目を確かめられませんでした。「設定（オプション）」の画面で確かめてください。");
    failed.icon = toolkit::MessageIcon::Exclamation;
    toolkit::trap(
        [&programFolder] {
            jet::Connection connection;
            db::openWindowConnection(connection, programFolder);
            const db::LedgerSetUp setUp = db::ledgerSetUp(connection);
            if (!setUp.isNew())
                return;
            toolkit::MessageBoxRequest box;
            box.text = guideText(setUp);
            box.icon = toolkit::MessageIcon::Question;
            box.buttons = toolkit::MessageButtons::YesNo;
            if (toolkit::platform().messageBox(box) == toolkit::MessageResult::Yes)
                db::addCommonEntries(connection);
        },
        {{jet::err::GeneralFailure, failed, {}, false, true}});
}

void offerCertificateRecords(const QString &programFolder)
{
    jet::Connection connection;
    toolkit::MessageBoxRequest failed;
    failed.text = QStringLiteral("診断書の記録の表を追加できませんでした。これまでどおりの機能で起動します。");
    failed.icon = toolkit::MessageIcon::Exclamation;
    toolkit::trap(
        [&] {
            db::openWindowConnection(connection, programFolder);
            // Adding tables is maintenance: a session without that right is
            // not asked, and the tables' first rows are the extension's own,
            // not a certificate written by the one who answers.
            if (certificates::extensionVersion(connection) >= certificates::kExtensionVersion
                || !db::sessionMay(connection, accounts::Right::Maintenance))
                return;
            const QString missing = QStringLiteral(
                "このデータベースには、現行の様式の診断書（自立支援医療（精神通院医療）、精神障害者保健福祉手帳）を"
                "1通ずつ記録する表がありません。\n"
                "表を追加すると、患者ごとに発行した診断書の一覧、前回からの作成、更新時期の近い診断書の一覧が使えます。"
                "これまでの診断書と台帳はそのまま残り、以前のプログラムでもこのデータベースを開けます。\n\n");
            // Where the staff's accounts may not change the tables, asking
            // would only lead to a refusal: the one who can is named instead.
            if (!db::mayExtend(connection)) {
                toolkit::MessageBoxRequest box;
                box.text = missing
                    + QStringLiteral("表を追加できるのはデータベースの所有者だけで、ログインした職員のアカウントでは追加できません。"
                                     "システムの管理者に、データベースの所有者として次のコマンドを実行するよう依頼してください"
                                     "（データベース %1 を、所有者のロールで接続するアドレスで指定します）。\n\n"
                                     "    norva-db extend データベースのアドレス\n\n"
                                     "表が追加されるまでは、これまでどおりの機能で起動します。")
                          .arg(jet::describeDataSource(db::readDatabasePath(programFolder)));
                box.icon = toolkit::MessageIcon::Information;
                toolkit::platform().messageBox(box);
                return;
            }
            connection.setWriteGuard({});
            toolkit::MessageBoxRequest box;
            box.text = missing
                + QStringLiteral("表を追加しますか？\n"
                                 "「いいえ」を選んだ場合は、これまでどおりの機能で起動し、次に起動したときにもう一度お尋ねします。");
            box.icon = toolkit::MessageIcon::Question;
            box.buttons = toolkit::MessageButtons::YesNo;
            if (toolkit::platform().messageBox(box) == toolkit::MessageResult::Yes)
                certificates::extendDatabase(connection);
        },
        {{jet::err::GeneralFailure, failed, {}, false, true}, {jet::err::PermissionDenied, failed, {}, false, true}});
    connection.close();
}

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
