#include "db/engine/postgres/server.h"

#include "db/engine/error.h"
#include "db/engine/physical.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/session.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <libpq-fe.h>
#include <poll.h>

namespace jet {

namespace {

// Where Debian's libpq looks for the server's socket when no host is given.
const QString kDefaultSocketFolder = QStringLiteral("/var/run/postgresql");
// Seconds to wait for a server that does not answer, unless the address says.
const char *const kConnectTimeout = "10";

struct ConnectionDeleter
{
    void operator()(PGconn *connection) const { PQfinish(connection); }
};
using ConnectionPtr = std::unique_ptr<PGconn, ConnectionDeleter>;

QMutex &passwordLock()
{
    static QMutex lock;
    return lock;
}

PasswordPrompt &prompt()
{
    static PasswordPrompt current;
    return current;
}

// Passwords that a server accepted, by address, for the pool's later connections.
QHash<QString, QString> &passwords()
{
    static QHash<QString, QString> kept;
    return kept;
}

struct ServerLogin
{
    QString role;
    QString password;
};

ServerLogin &serverLogin()
{
    static ServerLogin current;
    return current;
}

QString firstOf(const QString &list)
{
    return list.section(QLatin1Char(','), 0, 0).trimmed();
}

QString format(QString host, const QString &port, const QString &database)
{
    if (host.isEmpty())
        host = kDefaultSocketFolder;
    if (host.startsWith(QLatin1Char('/')) || host.startsWith(QLatin1Char('@')))
        host = QStringLiteral("ソケット ") + host;
    else if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("%1:%2/%3").arg(host, port.isEmpty() ? QStringLiteral("5432") : port, database);
}

QString describe(PGconn *connection)
{
    return format(firstOf(QString::fromUtf8(PQhost(connection))), firstOf(QString::fromUtf8(PQport(connection))),
                  QString::fromUtf8(PQdb(connection)));
}

// One attempt at the address, waiting no longer than its connect_timeout;
// nothing when the server did not answer in that time.
// The connection says in its failure message which SQLSTATE the server
// refused it with: libpq reports a refused start no other way.
ConnectionPtr attempt(const QByteArray &address, const std::optional<QString> &password, const QString &role = {})
{
    const QByteArray secret = password ? password->toUtf8() : QByteArray();
    const QByteArray user = role.toUtf8();
    // Later entries override earlier ones; the address's own settings come
    // after the program's defaults, the role and password after the address.
    const char *keys[] = {"connect_timeout", "fallback_application_name", "client_encoding", "dbname", "user", "password", nullptr};
    const char *values[] = {kConnectTimeout, "norva", "UTF8", address.constData(), user.isEmpty() ? nullptr : user.constData(),
                            secret.isEmpty() ? nullptr : secret.constData(), nullptr};
    ConnectionPtr connection(PQconnectStartParams(keys, values, 1));
    if (!connection)
        throw std::bad_alloc();
    PQsetErrorVerbosity(connection.get(), PQERRORS_VERBOSE);
    if (PQstatus(connection.get()) == CONNECTION_BAD)
        return connection;

    int seconds = QByteArray(kConnectTimeout).toInt();
    if (PQconninfoOption *options = PQconninfo(connection.get())) {
        for (PQconninfoOption *o = options; o->keyword; ++o)
            if (qstrcmp(o->keyword, "connect_timeout") == 0 && o->val && *o->val)
                seconds = QByteArray(o->val).toInt();
        PQconninfoFree(options);
    }
    const QDeadlineTimer deadline = seconds > 0 ? QDeadlineTimer(std::chrono::seconds(std::max(seconds, 2)))
                                                : QDeadlineTimer(QDeadlineTimer::Forever);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
        pollfd fd{PQsocket(connection.get()), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const qint64 wait = deadline.remainingTime();
        const int ready = ::poll(&fd, 1, wait < 0 ? -1 : int(std::min<qint64>(wait, 1000 * 60 * 60)));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return nullptr;
        if (ready < 0)
            continue;
        state = PQconnectPoll(connection.get());
    }
    return connection;
}

QByteArray refusalState(PGconn *connection)
{
    static const QRegularExpression state(QStringLiteral(R"(\S+:  ([0-9A-Z]{5}): )"));
    QByteArray last;
    auto it = state.globalMatch(QString::fromUtf8(PQerrorMessage(connection)));
    while (it.hasNext())
        last = it.next().captured(1).toLatin1();
    return last;
}

QString reason(PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

[[noreturn]] void cannotReach(const QString &server, const QString &why)
{
    throw Error(err::GeneralFailure,
                QStringLiteral("サーバー %1 に接続できません。サーバーが起動しているか、アドレスとネットワークを確認してください。(%2)")
                    .arg(server, why),
                Cause::ConnectionLost);
}

[[noreturn]] void refused(PGconn *connection, const QString &server)
{
    const QByteArray state = refusalState(connection);
    if (state.isEmpty())
        cannotReach(server, reason(connection));
    if (state == "3D000")
        throw Error(err::FileNotFound, QStringLiteral("データベース %1 はサーバーにありません。").arg(server));
    if (state == "57P03")
        throw Error(err::GeneralFailure, QStringLiteral("サーバー %1 は起動中または停止中のため、接続できません。").arg(server),
                    Cause::ConnectionLost);
    if (state == "53300")
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 の接続数が上限に達しているため、接続できません。").arg(server), Cause::Busy);
    const Cause cause = postgres::causeOfState(state);
    if (cause == Cause::Authentication)
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 への認証に失敗しました。ユーザー名とパスワードを確認してください。").arg(server), cause);
    throw Error(err::GeneralFailure, QStringLiteral("サーバー %1 に接続できません: %2").arg(server, reason(connection)), cause);
}

} // namespace

bool isServerAddress(const QString &location)
{
    const QString text = location.trimmed();
    if (text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive))
        return true;
    // A keyword string, even one libpq cannot read: opening it says why,
    // rather than looking for a file of that name.
    static const QRegularExpression keyword(QStringLiteral(R"(^[A-Za-z_]+\s*=)"));
    return keyword.match(text).hasMatch();
}

QString describeServer(const QString &address)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(address.trimmed().toUtf8().constData(), &error);
    PQfreemem(error);
    QHash<QByteArray, QString> given;
    if (options) {
        for (PQconninfoOption *o = options; o->keyword; ++o)
            if (o->val && *o->val)
                given.insert(o->keyword, QString::fromUtf8(o->val));
        PQconninfoFree(options);
    }
    // What the environment and libpq's own defaults fill in.
    if (PQconninfoOption *defaults = PQconndefaults()) {
        for (PQconninfoOption *o = defaults; o->keyword; ++o)
            if (o->val && *o->val && !given.contains(o->keyword))
                given.insert(o->keyword, QString::fromUtf8(o->val));
        PQconninfoFree(defaults);
    }
    const QString host = given.contains("host") ? given.value("host") : given.value("hostaddr");
    const QString database = given.contains("dbname") ? given.value("dbname") : given.value("user");
    return format(firstOf(host), firstOf(given.value("port")), database);
}

void setPasswordPrompt(PasswordPrompt ask)
{
    QMutexLocker locker(&passwordLock());
    prompt() = std::move(ask);
}

std::unique_ptr<Driver> openServer(const QString &address)
{
    const QByteArray info = address.trimmed().toUtf8();
    {
        // libpq's complaint would quote the text, which may hold a password.
        char *error = nullptr;
        PQconninfoOption *options = PQconninfoParse(info.constData(), &error);
        PQfreemem(error);
        if (!options)
            throw Error(err::GeneralFailure,
                        QStringLiteral("サーバーのアドレスを読めません。キーワードの綴りと、値の空白や引用符を確かめてください。"));
        PQconninfoFree(options);
    }
    std::optional<QString> password;
    PasswordPrompt ask;
    ServerLogin login;
    {
        QMutexLocker locker(&passwordLock());
        if (passwords().contains(address))
            password = passwords().value(address);
        ask = prompt();
        login = serverLogin();
    }
    if (!login.role.isEmpty()) {
        // The account's own role: nobody is asked, and its password is the
        // one its login gave.
        ConnectionPtr connection = attempt(info, login.password, login.role);
        if (!connection)
            cannotReach(describeServer(address), QStringLiteral("応答がありません"));
        if (PQstatus(connection.get()) == CONNECTION_BAD)
            refused(connection.get(), describe(connection.get()));
        const QString server = describe(connection.get());
        return std::make_unique<postgres::PgDriver>(connection.release(), server);
    }
    ConnectionPtr connection = attempt(info, password);
    if (!connection)
        cannotReach(describeServer(address), QStringLiteral("応答がありません"));
    QString server = describe(connection.get());
    if (PQstatus(connection.get()) == CONNECTION_BAD && PQconnectionNeedsPassword(connection.get())) {
        if (!ask)
            throw Error(err::GeneralFailure,
                        QStringLiteral("サーバー %1 はパスワードを求めていますが、パスワードが設定されていません。").arg(server),
                        Cause::Authentication);
        password = ask(server);
        if (!password)
            throw Error(err::GeneralFailure,
                        QStringLiteral("パスワードが入力されなかったため、サーバー %1 に接続しませんでした。").arg(server),
                        Cause::Authentication);
        connection = attempt(info, password);
        if (!connection)
            cannotReach(server, QStringLiteral("応答がありません"));
        server = describe(connection.get());
    }
    if (PQstatus(connection.get()) == CONNECTION_BAD) {
        if (password && postgres::causeOfState(refusalState(connection.get())) == Cause::Authentication) {
            QMutexLocker locker(&passwordLock());
            passwords().remove(address);
        }
        refused(connection.get(), server);
    }
    if (password) {
        QMutexLocker locker(&passwordLock());
        passwords().insert(address, *password);
    }
    return std::make_unique<postgres::PgDriver>(connection.release(), server);
}

bool serverAccepts(const QString &address, const QString &role, const QString &password)
{
    // Without a password libpq would look for one in the user's files.
    if (password.isEmpty() || role.isEmpty())
        return false;
    const ConnectionPtr connection = attempt(address.trimmed().toUtf8(), password, role);
    if (!connection)
        cannotReach(describeServer(address), QStringLiteral("応答がありません"));
    if (PQstatus(connection.get()) == CONNECTION_OK)
        return true;
    if (postgres::causeOfState(refusalState(connection.get())) == Cause::Authentication)
        return false;
    refused(connection.get(), describe(connection.get()));
}

void setServerLogin(const QString &role, const QString &password)
{
    {
        QMutexLocker locker(&passwordLock());
        if (serverLogin().role == role && serverLogin().password == password)
            return;
        serverLogin() = {role, role.isEmpty() ? QString() : password};
    }
    // An idle connection of the role before would serve the next window.
    pool::dropServers();
}

QString serverLoginRole()
{
    QMutexLocker locker(&passwordLock());
    return serverLogin().role;
}

ServerLoginPause::ServerLoginPause()
{
    {
        QMutexLocker locker(&passwordLock());
        m_role = serverLogin().role;
        m_password = serverLogin().password;
    }
    setServerLogin({}, {});
}

ServerLoginPause::~ServerLoginPause()
{
    if (!m_kept)
        setServerLogin(m_role, m_password);
}

std::optional<QString> acceptedPassword(const QString &address)
{
    QMutexLocker locker(&passwordLock());
    const auto found = passwords().constFind(address);
    if (found == passwords().constEnd())
        return std::nullopt;
    return *found;
}

} // namespace jet
