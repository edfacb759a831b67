#pragma once

#include "db/engine/connection.h"

#include <QObject>
#include <QStringList>
#include <chrono>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace jet {

class DriverResult;

// Tells that the database changed under a connection: another connection,
// of this program or of another workstation, committed a change.  It watches
// over a connection of its own to the same database.  A server announces
// each committed change of a table (see updateServerSide()), and the watcher
// hears of it at once; a file is asked (SQLite's data_version) every
// kInterval and whenever check() is called, e.g. when a window becomes
// active, without keeping a lock or a transaction between the looks.
//
// A watch that fails (a busy file, a lost server) tries again at the next
// look, a lost server's only at the next check(); once it is back the watch
// reports a change, since what happened meanwhile went unheard.  A window's
// own reads report a lost database.
class ChangeWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kInterval{2000};

    // Watches the database the open connection is on.  Throws as opening a
    // connection does.
    explicit ChangeWatcher(const Connection &connection, QObject *parent = nullptr);
    ~ChangeWatcher() override;

    // Looks for a change now rather than at the next tick.
    void check();

signals:
    // The tables that changed where the back end names them (a server),
    // none where it does not (a file).
    void changed(const QStringList &tables);

private:
    void start();
    void stop();
    void readNotices();
    qint64 dataVersion();

    Connection m_connection;
    // The file's question, kept prepared and reset after each answer.
    std::unique_ptr<DriverResult> m_version;
    qint64 m_lastVersion = 0;
    QSocketNotifier *m_notices = nullptr;
    QTimer *m_timer = nullptr;
};

} // namespace jet
