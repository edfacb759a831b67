#pragma once

// A PostgreSQL server of one test's own (scripts/test-pg), for the tests that
// stop it: the run's shared server serves other tests at the same time.  Its
// folder is removed when this object goes, also after a failed assertion.

#include "support/testserver.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace testing_support {

class OwnServer
{
public:
    OwnServer()
    {
        run(QStringLiteral("start"));
        QFile state(statePath());
        if (!state.open(QIODevice::ReadOnly))
            throw ServerError("test-pg wrote no state file");
        QByteArray conninfo, passfile;
        for (const QByteArray &line : state.readAll().split('\n')) {
            const QByteArray value = line.mid(line.indexOf('=') + 1).replace('\'', QByteArray());
            if (line.startsWith("export NORVA_TEST_PG="))
                conninfo = value;
            else if (line.startsWith("export PGPASSFILE="))
                passfile = value;
        }
        // Its password file named in the address, so that the run's own stays in force.
        m_conninfo = conninfo + " passfile=" + passfile;
    }
    ~OwnServer()
    {
        try {
            run(QStringLiteral("stop"));
        } catch (const ServerError &e) {
            qWarning("%s", e.what());
        }
    }
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;

    QByteArray conninfo() const { return m_conninfo; }
    // Stops it at once, as a power cut would, and starts it again.
    void crash() const { run(QStringLiteral("crash")); }
    void restart() const { run(QStringLiteral("restart")); }
    // The command line that does either, for another program to run.
    QString command(const QString &verb) const
    {
        return QStringLiteral("'%1' %2 '%3'").arg(QStringLiteral(NORVA_TEST_PG_SCRIPT), verb, statePath());
    }

private:
    QString statePath() const { return m_folder.filePath(QStringLiteral("state")); }
    void run(const QString &verb) const
    {
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedChannels);
        script.start(QStringLiteral(NORVA_TEST_PG_SCRIPT), {verb, statePath()});
        if (!script.waitForFinished(120000) || script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0)
            throw ServerError("scripts/test-pg " + verb.toStdString() + " failed");
    }

    QTemporaryDir m_folder;
    QByteArray m_conninfo;
};

} // namespace testing_support
