// norva-db: creates empty databases of each schema generation and demo
// databases of a fictional hospital, for development, tests and benchmarks;
// backs up, restores and checks a hospital's database and its audit trail
// for its administrators.

#include "demo.h"

#include "certificate/records/extension.h"
#include "db/accounts/accounts.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/extension.h"
#include "db/audit.h"
#include "db/check.h"
#include "db/copy.h"
#include "db/episodes.h"
#include "db/engine/administration.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/engine/postgres/server.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "db/filekey.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/session.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <sodium.h>
#include <termios.h>
#include <unistd.h>

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

// A ledger of this program is made with its audit trail; an older
// generation's file gets one when this program first opens it, as a
// hospital's own file does.
void addAuditTrail(const QString &path)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(path));
    db::audit::extendDatabase(connection);
    connection.close();
    jet::releasePooledHandles(path);
}

// The certificate records are added by the program when a user with the
// maintenance right agrees; on a server the staff's roles may not create
// tables, so the database's owner adds them here.
int extend(const QString &database)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(database));
    const int before = certificates::extensionVersion(connection);
    certificates::extendDatabase(connection);
    connection.close();
    const QString name = jet::describeDataSource(database);
    if (before == certificates::kExtensionVersion)
        out() << u"%1 already has the certificate records (version %2)."_s.arg(name).arg(before) << Qt::endl;
    else
        out() << u"Added the certificate records (version %2) to %1."_s.arg(name).arg(certificates::kExtensionVersion)
              << Qt::endl;
    return 0;
}

// The in-patient list's order, which the program's window writes on a file;
// on a server the staff's roles may not, so the database's owner does it here.
int order(const QString &database, const QString &which)
{
    if (which != u"ascending"_s && which != u"descending"_s) {
        err() << u"norva-db: order takes ascending or descending."_s << Qt::endl;
        return 2;
    }
    db::storeListOrder(database, which == u"descending"_s ? db::RoomOrder::Descending : db::RoomOrder::Ascending);
    jet::releasePooledHandles(database);
    out() << u"The in-patient list of %1 now lists the rooms in %2 order."_s.arg(jet::describeDataSource(database), which)
          << Qt::endl;
    return 0;
}

// What a new version of the program changes on a server's ledger, done by
// its owner: the workstations log in as a role that may change nothing.
int update(const QString &path)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(path));
    jet::requireDatabaseOwner(connection);
    db::requireLedger(connection);
    jet::updateServerSide(connection);
    db::audit::extendDatabase(connection);
    accounts::extendDatabase(connection);
    // The certificate records are added only when asked for (extend), but
    // once there they follow the program's version like the rest.
    if (certificates::extensionVersion(connection) > 0)
        certificates::extendDatabase(connection);
    const bool hasAccounts = accounts::StaffAccounts(connection, *accounts::authenticatorFor(connection)).hasAccounts();
    connection.close();
    jet::releasePooledHandles(path);
    out() << u"%1 is up to date for this version."_s.arg(jet::describeDataSource(path)) << Qt::endl;
    if (!hasAccounts)
        out() << u"It has no staff accounts yet: start the program once with this address in norva.txt to create the "
                 "first administrator."_s
              << Qt::endl;
    return 0;
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
    if (*generation == db::Generation::V2112)
        addAuditTrail(path);
    out() << u"Created %1 (generation %2)."_s.arg(jet::describeDataSource(path), generationName) << Qt::endl;
    return 0;
}

// Copies every row of a 2.112 database into a new, empty database of an
// older generation, as far as that generation has the columns: the same
// fictional hospital as it would have stood before the upgrades.
void copyIntoGeneration(const QString &from, const QString &to, db::Generation generation)
{
    jet::Connection source;
    source.open(db::plainConnectionString(from));
    jet::Connection target;
    target.open(db::plainConnectionString(to));
    const auto quoted = [](const QString &name) { return u"`%1`"_s.arg(name); };
    jet::Transaction transaction(target);
    for (const jet::TableDef &table : db::tables(generation)) {
        QStringList names, markers;
        for (const jet::ColumnDef &column : table.columns) {
            names << quoted(column.name);
            markers << u"?"_s;
        }
        // The placeholder rows of the new file come again with the copy.
        target.execute(u"DELETE FROM %1"_s.arg(quoted(table.name)));
        const QString insert = u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(quoted(table.name), names.join(u", "_s),
                                                                      markers.join(u", "_s));
        jet::Recordset rows;
        rows.open(u"SELECT %1 FROM %2"_s.arg(names.join(u", "_s), quoted(table.name)), &source);
        for (; !rows.eof(); rows.moveNext()) {
            QVariantList values;
            for (int i = 0; i < rows.fieldCount(); ++i)
                values << rows.value(i);
            target.execute(insert, values);
        }
    }
    transaction.commit();
}

int demo(const QString &path, const DemoOptions &options, db::Generation generation)
{
    if (refuseExisting(path))
        return 1;
    QElapsedTimer timer;
    timer.start();
    // An older generation is the current one's rows copied into its tables,
    // by way of a file of this run's own.
    QTemporaryDir work;
    if (generation != db::Generation::V2112 && !work.isValid())
        throw jet::Error(jet::err::GeneralFailure, u"作業用のフォルダーを作れません: %1"_s.arg(work.errorString()));
    const QString current = generation == db::Generation::V2112 ? path : work.filePath(u"demo.2112"_s);
    db::createDatabase(current, db::Generation::V2112);
    DemoSummary summary;
    try {
        jet::Connection connection;
        connection.open(db::plainConnectionString(current));
        // Older generations predate the certificate records: their rows are
        // copied table by table and the records would be left behind.
        DemoOptions fill = options;
        fill.certificateRecords = generation == db::Generation::V2112;
        // Nor the accounts: on them the program asks for the first
        // administrator, as on a hospital's own file of that age.
        fill.accounts = generation == db::Generation::V2112;
        // A server's database outlives a failure: it is left an empty ledger,
        // never a hospital cut off half-way.
        jet::Transaction transaction(connection);
        summary = fillDemoDatabase(connection, fill);
        if (generation == db::Generation::V2112)
            db::audit::extendDatabase(connection);
        transaction.commit();
        connection.close();
        if (current != path) {
            db::createDatabase(path, generation);
            copyIntoGeneration(current, path, generation);
            jet::releasePooledHandles(current);
            QFile::remove(current);
        }
        jet::releasePooledHandles(path);
    } catch (...) {
        jet::releasePooledHandles(current);
        jet::releasePooledHandles(path);
        QFile::remove(work.filePath(u"demo.2112"_s));
        jet::discardNewDatabase(path);
        throw;
    }
    out() << u"Created %1: %2 patients, %3 episodes (%4 current in-patients, %5 outpatient courses), "
             "%6 certificates, %7 certificate records in %8 s."_s.arg(jet::describeDataSource(path))
                 .arg(summary.patients)
                 .arg(summary.episodes)
                 .arg(summary.inpatients)
                 .arg(summary.outpatientCourses)
                 .arg(summary.certificates)
                 .arg(summary.certificateRecords)
                 .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
          << Qt::endl;
    if (!summary.accounts.isEmpty())
        out() << u"Demo accounts (login ID, password):"_s << Qt::endl;
    for (const DemoAccount &account : summary.accounts)
        out() << u"  %1  %2  (%3)"_s.arg(account.loginId.leftJustified(6), account.password,
                                        accounts::roleName(account.role))
              << Qt::endl;
    return 0;
}

// Files that could not be removed are named with the cause on the error
// stream, which cron mails; a backup that went well prints nothing.
void nameLeftovers(const QStringList &files)
{
    for (const QString &file : files)
        err() << u"norva-db: 以前に中断した実行が残したファイルを削除できません: %1"_s.arg(file) << Qt::endl;
}

QString generation(const QString &target, int number)
{
    return number == 0 ? target : u"%1.%2"_s.arg(target).arg(number);
}

void moveGeneration(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw jet::Error(jet::err::GeneralFailure, u"バックアップ '%1' を '%2' に移せません (%3)。"_s.arg(
                                                       from, to, QString::fromLocal8Bit(std::strerror(errno))));
    // A protected copy goes with the key file that opens it.
    const QString fromKey = db::filekey::keyFilePath(from);
    const QString toKey = db::filekey::keyFilePath(to);
    if (QFileInfo::exists(fromKey) && ::rename(QFile::encodeName(fromKey).constData(), QFile::encodeName(toKey).constData()) != 0)
        throw jet::Error(jet::err::GeneralFailure, u"鍵ファイル '%1' を '%2' に移せません (%3)。"_s.arg(
                                                       fromKey, toKey, QString::fromLocal8Bit(std::strerror(errno))));
}

// The newest copy at DEST, the earlier ones at DEST.1 … DEST.(keep-1); the
// oldest goes.  The new copy is complete before any generation moves.
void backupKeeping(const QString &database, const QString &target, int keep)
{
    const QString next = target + u".next"_s;
    nameLeftovers(jet::backupDatabase(database, db::databasePassword(), next, true));
    try {
        db::filekey::copyKeyFile(database, next);
        if (QFileInfo::exists(target))
            jet::keepAttributes(next, target);
        const QString oldest = generation(target, keep - 1);
        if (keep > 1 && QFileInfo::exists(oldest) && !QFile::remove(oldest))
            throw jet::Error(jet::err::GeneralFailure, u"古いバックアップ '%1' を削除できません。"_s.arg(oldest));
        for (int number = keep - 2; number >= 0; --number)
            if (QFileInfo::exists(generation(target, number)))
                moveGeneration(generation(target, number), generation(target, number + 1));
    } catch (...) {
        QFile::remove(next);
        QFile::remove(db::filekey::keyFilePath(next));
        throw;
    }
    moveGeneration(next, target);
}

// The trail's head as it stood before the copy began: the copy holds at
// least that much of it, and the trail of the database must go on reaching
// it, so that a tail cut off after the backup shows in `audit verify
// --expect`.  A line per backup, appended to DEST.audit, which the
// generations never move: its last line is the newest copy's.
// The backup is recorded first, so that the copy holds its own row.
std::optional<db::audit::Head> auditHead(const QString &database, const QString &target)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(database));
    std::optional<db::audit::Head> head;
    if (db::audit::hasTrail(connection)) {
        db::audit::append(connection, {db::audit::action::Maintenance.toString(),
                                       u"バックアップ → %1"_s.arg(QFileInfo(target).absoluteFilePath()), {}, {}});
        head = db::audit::head(connection);
    }
    connection.close();
    jet::releasePooledHandles(database);
    return head;
}

int backup(const QString &database, const QString &target, bool replace, int keep)
{
    const std::optional<db::audit::Head> head = auditHead(database, target);
    if (keep > 0)
        backupKeeping(database, target, keep);
    else {
        nameLeftovers(jet::backupDatabase(database, db::databasePassword(), target, replace));
        db::filekey::copyKeyFile(database, target);
    }
    if (head)
        db::audit::noteHead(target, *head);
    return 0;
}

QString verdict(bool sound)
{
    return sound ? u"sound"_s : u"NOT sound"_s;
}

int auditVerify(const QString &database, const QString &expectation)
{
    std::optional<db::audit::Head> expected;
    if (!expectation.isEmpty()) {
        expected = db::audit::Head::parse(expectation);
        if (!expected) {
            err() << u"norva-db: --expect needs COUNT:HASH, as check and the backups' .audit files note it."_s
                  << Qt::endl;
            return 2;
        }
    }
    jet::Connection connection;
    connection.open(db::plainConnectionString(database));
    const auto line = [name = jet::describeDataSource(database)](const QString &text) {
        out() << name << u": "_s << text << Qt::endl;
    };
    if (!db::audit::hasTrail(connection)) {
        line(u"has no audit trail"_s);
        return expected && expected->count > 0 ? 1 : 0;
    }
    const db::audit::Verification result = db::audit::verify(connection, expected);
    connection.close();
    for (const QString &finding : result.findings)
        line(finding);
    line(u"audit trail %1, %2 rows: %3"_s.arg(result.head.text()).arg(result.rows).arg(verdict(result.sound())));
    return result.sound() ? 0 : 1;
}

int auditExport(const QString &database, const QString &from, const QString &to, const QString &file)
{
    const QDate first = QDate::fromString(from, Qt::ISODate);
    const QDate last = QDate::fromString(to, Qt::ISODate);
    if (!first.isValid() || !last.isValid() || last < first) {
        err() << u"norva-db: audit export needs --from and --to as YYYY-MM-DD, --from not after --to."_s << Qt::endl;
        return 2;
    }
    jet::Connection connection;
    connection.open(db::plainConnectionString(database));
    if (!db::audit::hasTrail(connection)) {
        err() << u"norva-db: %1 has no audit trail."_s.arg(jet::describeDataSource(database)) << Qt::endl;
        return 1;
    }
    const int rows = db::audit::exportPeriod(connection, first, last, file);
    connection.close();
    out() << u"Wrote %1 audit rows of %2 to %3 (UTC days %4 to %5)."_s.arg(rows)
                 .arg(jet::describeDataSource(database), file, from, to)
          << Qt::endl;
    return 0;
}

int restore(const QString &backupFile, const QString &database)
{
    nameLeftovers(jet::restoreDatabase(backupFile, db::databasePassword(), database));
    out() << u"Restored %1 from %2."_s.arg(database, backupFile) << Qt::endl;
    // Recorded in the database restored, whose trail goes on from the
    // backup's; a restore that cannot be recorded is told as a failure.
    jet::Connection connection;
    connection.open(db::plainConnectionString(database));
    db::audit::append(connection, {db::audit::action::Maintenance.toString(),
                                   u"復元 ← %1"_s.arg(QFileInfo(backupFile).absoluteFilePath()), {}, {}});
    connection.close();
    jet::releasePooledHandles(database);
    return 0;
}

// The terminal as it was before the prompt hid what is typed, and the
// signals that end the program at the prompt (Ctrl-C, a closed terminal), so
// that none of them leaves the user's shell without its echo.
int hiddenTty = -1;
termios hiddenShown {};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction endingBefore[std::size(kEndingSignals)] {};

extern "C" void showTypingAndEnd(int signal)
{
    ::tcsetattr(hiddenTty, TCSAFLUSH, &hiddenShown);
    ::write(hiddenTty, "\n", 1);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
        if (kEndingSignals[i] == signal)
            ::sigaction(signal, &endingBefore[i], nullptr);
    // Blocked until this handler returns, then as if it had never been caught.
    ::raise(signal);
}

// Echo off on the terminal for as long as it lives.
class HiddenTyping
{
public:
    explicit HiddenTyping(int tty)
    {
        if (::tcgetattr(tty, &hiddenShown) != 0)
            return;
        hiddenTty = tty;
        struct sigaction restoring {};
        restoring.sa_handler = showTypingAndEnd;
        ::sigemptyset(&restoring.sa_mask);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &restoring, &endingBefore[i]);
        termios quiet = hiddenShown;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    ~HiddenTyping()
    {
        if (hiddenTty < 0)
            return;
        ::tcsetattr(hiddenTty, TCSAFLUSH, &hiddenShown);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &endingBefore[i], nullptr);
        hiddenTty = -1;
    }
    HiddenTyping(const HiddenTyping &) = delete;
    HiddenTyping &operator=(const HiddenTyping &) = delete;
};

// Asks on the terminal without showing what is typed; a run without a
// terminal (cron) gets nothing.
std::optional<QString> askHidden(const QString &question)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    const QByteArray prompt = question.toUtf8();
    ::write(tty, prompt.constData(), prompt.size());
    QByteArray typed;
    bool ended = false;
    {
        const HiddenTyping hidden(tty);
        char c = 0;
        while (::read(tty, &c, 1) == 1) {
            if (c == '\n') {
                ended = true;
                break;
            }
            typed.append(c);
        }
    }
    ::write(tty, "\n", 1);
    ::close(tty);
    if (!ended || typed.isEmpty())
        return std::nullopt;
    const QString answer = QString::fromUtf8(typed);
    sodium_memzero(typed.data(), typed.size());
    return answer;
}

// A server's password; without one the server's refusal is reported.
std::optional<QString> askPassword(const QString &server)
{
    return askHidden(u"サーバー %1 のパスワード: "_s.arg(server));
}

// Gives the process the key of each protected file among the paths, from
// the recovery key given or asked for.  Returns false, having said why, when
// there is none.
bool unlockFiles(const QStringList &paths, const QString &recoveryKey)
{
    for (const QString &path : paths) {
        if (!db::filekey::needsUnlock(path))
            continue;
        std::optional<QString> key = recoveryKey.isEmpty() ? std::nullopt : std::optional<QString>(recoveryKey);
        if (!key)
            key = askHidden(u"%1 は保護されています。回復キー: "_s.arg(path));
        if (!key) {
            err() << u"norva-db: %1 is protected; give its recovery key with --recovery-key."_s.arg(path) << Qt::endl;
            return false;
        }
        db::filekey::unlockWithRecoveryKey(path, *key);
    }
    return true;
}

struct AdministratorLogin
{
    QString loginId;
    QString password;
};

// An administrator's login ID and password, asked on the terminal; a script
// without a terminal hands the password on the line after the ID.
std::optional<AdministratorLogin> askAdministrator(QTextStream &in)
{
    out() << u"管理者のログインID: "_s << Qt::flush;
    const QString loginId = in.readLine().trimmed();
    std::optional<QString> password = askHidden(u"パスワード: "_s);
    if (!password && !in.atEnd())
        password = in.readLine();
    if (loginId.isEmpty() || !password || password->isEmpty())
        return std::nullopt;
    return AdministratorLogin{loginId, *password};
}

// The administrator's one-time code, asked only when their account has a
// second factor; shown as typed, as in the login window.
db::filekey::CodeQuestion askCode(QTextStream &in)
{
    return [&in]() -> std::optional<QString> {
        out() << u"認証アプリのコード（6桁）: "_s << Qt::flush;
        const QString code = in.readLine().trimmed();
        return code.isEmpty() ? std::nullopt : std::optional<QString>(code);
    };
}

// An administrator's login turns protection on; the recovery key is printed
// once, for the hospital's safe.
int protect(const QString &database)
{
    QTextStream in(stdin);
    const std::optional<AdministratorLogin> administrator = askAdministrator(in);
    if (!administrator) {
        err() << u"norva-db: protect needs an administrator's login ID and password on a terminal."_s << Qt::endl;
        return 2;
    }
    const QString recoveryKey =
        db::filekey::protect(database, administrator->loginId, administrator->password, askCode(in));
    out() << u"データを保護しました。鍵ファイル: %1\n"_s.arg(db::filekey::keyFilePath(database))
          << u"回復キー（この一度だけ表示します。紙に写して病院の金庫に保管してください）:\n\n    "_s << recoveryKey
          << u"\n\nほかの職員は、保護のあと初めてのログインを、誰かがログインしている端末の「ユーザーの切り替え」から行うか、管理者にパスワードを設定・リセットされると、このファイルを開けるようになります。"_s
          << Qt::endl;
    return 0;
}

// The recovery key opens the file; an administrator's login turns it back.
int unprotect(const QString &database)
{
    QTextStream in(stdin);
    const std::optional<AdministratorLogin> administrator = askAdministrator(in);
    if (!administrator) {
        err() << u"norva-db: unprotect needs an administrator's login ID and password on a terminal."_s << Qt::endl;
        return 2;
    }
    db::filekey::unprotect(database, administrator->loginId, administrator->password, askCode(in));
    out() << u"%1 は公開の鍵に戻りました。鍵ファイルを削除しました。"_s.arg(database) << Qt::endl;
    return 0;
}

int protection(const QString &database)
{
    if (!db::filekey::isProtected(database)) {
        out() << u"%1: not protected (published key)"_s.arg(jet::describeDataSource(database)) << Qt::endl;
        return 0;
    }
    out() << u"%1: protected; key file %2; sealed for %3"_s.arg(jet::describeDataSource(database),
                                                                 db::filekey::keyFilePath(database),
                                                                 db::filekey::sealedLoginIds(database).join(u", "_s))
          << Qt::endl;
    return 0;
}

// One line per table, rewritten as its rows go, on a terminal only: a log
// or a cron mail gets the summary alone.
jet::CopyProgress terminalProgress()
{
    if (!::isatty(STDERR_FILENO))
        return {};
    return [current = QString(), shown = QElapsedTimer()](const QString &table, qint64 done, qint64 total) mutable {
        if (table != current) {
            if (!current.isEmpty())
                err() << Qt::endl;
            current = table;
        } else if (shown.isValid() && shown.elapsed() < 200 && done < total) {
            return;
        }
        shown.start();
        err() << u"\r%1: %2 / %3 行"_s.arg(table).arg(done).arg(total) << Qt::flush;
    };
}

int copy(const QString &source, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    const jet::CopyProgress progress = terminalProgress();
    try {
        db::copyDatabase(source, target, progress);
        // A protected ledger's copy is under the same key.
        db::filekey::copyKeyFile(source, target);
    } catch (...) {
        if (progress)
            err() << Qt::endl;
        throw;
    }
    if (progress)
        err() << Qt::endl;
    out() << u"Copied %1 to %2 and checked every table's rows in %3 s."_s
                 .arg(jet::describeDataSource(source), jet::describeDataSource(target))
                 .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
          << Qt::endl;
    return 0;
}

int check(const QString &database)
{
    const db::CheckReport report = db::checkDatabase(database);
    // Every line names the file, so that a cron mail or a log of several
    // files' checks is read line by line.
    const auto line = [name = jet::describeDataSource(database)](const QString &text) {
        out() << name << u": "_s << text << Qt::endl;
    };
    line(u"schema generation %1"_s.arg(report.generation));
    if (!report.integritySkipped.isEmpty())
        line(u"index check skipped: %1"_s.arg(report.integritySkipped));
    // SQLite puts several findings into one row, a line each.
    for (const QString &finding : report.integrity.join(u"\n"_s).split(u'\n', Qt::SkipEmptyParts))
        line(u"integrity_check: %1"_s.arg(finding));
    if (!report.unreadable.isEmpty())
        line(u"the tables could not be read to the end, so what follows is incomplete: %1"_s.arg(report.unreadable));
    for (const QString &part : report.missing)
        line(part == u"バージョン"_s ? u"バージョン holds no row: an upgrade was broken off"_s
                                     : u"%1 is missing for generation %2"_s.arg(part, report.generation));
    for (const db::CheckReport::TableCount &count : report.counts)
        line(u"%1: %2 rows"_s.arg(count.table).arg(count.rows));
    for (qint64 episode : report.episodesWithoutCompanions)
        line(u"episode 入退院ID %1 lacks its row in 検査情報 or 診断情報"_s.arg(episode));
    for (const db::CheckReport::DanglingReference &ref : report.danglingReferences)
        line(u"%1 row %2: %3 = %4 names no code row"_s.arg(ref.table).arg(ref.row).arg(ref.column).arg(ref.code));
    // Noted by whoever keeps the check's output, so that a later
    // `audit verify --expect` finds a tail cut off since.
    if (report.integrity == QStringList{u"ok"_s} && report.unreadable.isEmpty()) {
        jet::Connection connection;
        connection.open(db::plainConnectionString(database));
        line(db::audit::hasTrail(connection) ? u"audit trail %1"_s.arg(db::audit::head(connection).text())
                                             : u"no audit trail"_s);
    }
    line(verdict(report.sound()));
    return report.sound() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // A copy converts hundreds of thousands of dates.
    jet::readTimeZoneOnce();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"norva-db"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Creates database files for ネモリア.\n"
        "DB may also be a PostgreSQL server's database, as a libpq URI (postgresql://user@host:port/dbname)\n"
        "or keyword string (host=… dbname=…); create and demo need it to exist and be empty.\n\n"
        "  create DB [--generation 2.112|2.086|old]     an empty database\n"
        "  demo DB [--patients N] [--seed S] [--today YYYY-MM-DD] [--generation 2.112|2.086|old]\n"
        "                                               a database of a fictional hospital\n"
        "  backup DB DEST [--force | --keep N]          a consistent copy, also while the program runs;\n"
        "                                               quiet when it succeeds; --keep N moves the earlier\n"
        "                                               copies to DEST.1 … DEST.(N-1) and removes the oldest\n"
        "                                               (a server's database in pg_dump's custom format)\n"
        "  restore BACKUP DB                            puts a sound backup in place of DB, which no\n"
        "                                               program may have open\n"
        "  check DB                                     the database's soundness; exit status 0 only when sound\n"
        "  update DB                                    a server's ledger brought up to this version by its\n"
        "                                               owner (the workstations' role before login may not)\n"
        "  copy SOURCE TARGET                           the whole ledger into a new file or an empty server\n"
        "                                               database, in one transaction, checked row by row\n"
        "  audit verify DB [--expect COUNT:HASH]        the audit trail's chain: rows altered, deleted or\n"
        "                                               inserted, and a tail cut off short of COUNT:HASH\n"
        "                                               (as check prints it and backups note it in DEST.audit)\n"
        "  audit export DB --from DATE --to DATE FILE   the audit rows of those UTC days into a new CSV file;\n"
        "                                               the program never deletes audit rows\n"
        "  protect DB                                   keys the file with a key of its own, sealed under an\n"
        "                                               administrator's password and a recovery key, printed\n"
        "                                               once; the login ID, password and any one-time code asked\n"
        "  protection DB                                whether the file is protected, and for whom\n"
        "  extend DB                                    adds the records of today's certificates, as the\n"
        "                                               database's owner (on a server the staff cannot)\n"
        "  order DB ascending|descending                the rooms' order of the in-patient list, for every\n"
        "                                               workstation, as the database's owner\n"
        "  unprotect DB                                 back under the published key, the key file removed;\n"
        "                                               the recovery key and an administrator's login asked\n\n"
        "A protected file opens with --recovery-key KEY, or the recovery key asked on the terminal."_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"command"_s, u"create, demo, backup, restore, check, update, copy, audit, protect, protection, unprotect, extend or order"_s);
    parser.addPositionalArgument(u"path"_s, u"the database file or server address"_s);
    const QCommandLineOption generation(u"generation"_s, u"Schema generation of the database."_s,
                                        u"generation"_s, u"2.112"_s);
    const QCommandLineOption patients(u"patients"_s, u"Number of demo patients."_s, u"N"_s, u"1000"_s);
    const QCommandLineOption seed(u"seed"_s, u"Seed of the demo data."_s, u"S"_s, u"1"_s);
    const QCommandLineOption today(u"today"_s, u"The day the demo data is counted back from."_s, u"date"_s);
    const QCommandLineOption force(u"force"_s, u"Let backup replace an existing DEST."_s);
    const QCommandLineOption keep(u"keep"_s, u"Keep N generations of backups (DEST, DEST.1, …)."_s, u"N"_s);
    const QCommandLineOption expect(u"expect"_s, u"The audit trail's head noted earlier."_s, u"COUNT:HASH"_s);
    const QCommandLineOption from(u"from"_s, u"The first day exported."_s, u"date"_s);
    const QCommandLineOption to(u"to"_s, u"The last day exported."_s, u"date"_s);
    const QCommandLineOption recovery(u"recovery-key"_s, u"The recovery key of a protected file."_s, u"KEY"_s);
    parser.addOptions({generation, patients, seed, today, force, keep, expect, from, to, recovery});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const QString auditCommand = command == u"audit"_s ? args.value(1) : QString();
    const qsizetype expected = auditCommand == u"export"_s                                                    ? 4
        : command == u"backup"_s || command == u"restore"_s || command == u"copy"_s || command == u"audit"_s
                || command == u"order"_s
            ? 3
                                                                                                              : 2;
    const QStringList commands{u"create"_s, u"demo"_s,  u"backup"_s,  u"restore"_s,   u"check"_s,
                               u"copy"_s,   u"audit"_s, u"protect"_s, u"protection"_s, u"unprotect"_s,
                               u"update"_s, u"extend"_s, u"order"_s};
    if (command == u"audit"_s && auditCommand != u"verify"_s && auditCommand != u"export"_s) {
        err() << parser.helpText();
        return 2;
    }
    if (!commands.contains(command) || args.size() != expected) {
        err() << parser.helpText();
        return 2;
    }
    jet::setPasswordPrompt(askPassword);
    try {
        if (command == u"protect"_s)
            return protect(args.at(1));
        if (command == u"protection"_s)
            return protection(args.at(1));
        if (!unlockFiles(command == u"order"_s ? args.mid(1, 1) : args.mid(1), parser.value(recovery)))
            return 2;
        if (command == u"unprotect"_s)
            return unprotect(args.at(1));
        if (command == u"copy"_s)
            return copy(args.at(1), args.at(2));
        if (command == u"extend"_s)
            return extend(args.at(1));
        if (command == u"order"_s)
            return order(args.at(1), args.at(2));
        if (auditCommand == u"verify"_s)
            return auditVerify(args.at(2), parser.value(expect));
        if (auditCommand == u"export"_s)
            return auditExport(args.at(2), parser.value(from), parser.value(to), args.at(3));
        if (command == u"backup"_s) {
            bool ok = true;
            const int generations = parser.isSet(keep) ? parser.value(keep).toInt(&ok) : 0;
            if (!ok || (parser.isSet(keep) && generations < 1) || (parser.isSet(keep) && parser.isSet(force))) {
                err() << u"norva-db: --keep needs a whole number of at least 1 and replaces --force."_s << Qt::endl;
                return 2;
            }
            return backup(args.at(1), args.at(2), parser.isSet(force), generations);
        }
        if (command == u"restore"_s)
            return restore(args.at(1), args.at(2));
        if (command == u"check"_s)
            return check(args.at(1));
        if (command == u"update"_s)
            return update(args.at(1));
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
        const std::optional<db::Generation> demoGeneration = generationNamed(parser.value(generation));
        if (!demoGeneration) {
            err() << u"norva-db: unknown generation \"%1\" (2.112, 2.086 or old)."_s.arg(parser.value(generation))
                  << Qt::endl;
            return 2;
        }
        return demo(args.at(1), options, *demoGeneration);
    } catch (const jet::Error &error) {
        const QString subject = command == u"audit"_s ? jet::describeDataSource(args.at(2))
            : command == u"copy"_s                    ? u"%1 → %2"_s.arg(jet::describeDataSource(args.at(1)),
                                                                         jet::describeDataSource(args.at(2)))
                                                   : jet::describeDataSource(args.at(1));
        err() << u"norva-db: %1: %2 (%3)"_s.arg(subject, error.description(), error.numberText())
              << Qt::endl;
        return 1;
    }
}
