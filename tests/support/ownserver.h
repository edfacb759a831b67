#pragma once

// A PostgreSQL server of one test's own (scripts/test-pg), for the tests that
// stop it: the run's shared server serves other tests at the same time.  Its
// folder is removed when this object goes, also after a failed assertion.

#include "support/testserver.h"

#include <QProcess>
#include <QTemporaryDir>

namespace testing_support {

class OwnServer
{
public:
    OwnServer()
    {
        must(QStringLiteral("start"));
        QFile state(m_folder.filePath(QStringLiteral("state")));
        state.open(QIODevice::ReadOnly);
        // Its password file named in the address, so that the run's own stays in force.
        for (const QByteArray &line : state.readAll().split('\n'))
            if (line.startsWith("export "))
                m_conninfo += (line.startsWith("export PGPASSFILE=") ? " passfile=" : "")
                    + line.mid(line.indexOf('=') + 1).replace('\'', QByteArray());
    }
    ~OwnServer()
    {
        if (!run(QStringLiteral("stop")))
            qWarning("the test's own server is left in %s", qPrintable(m_folder.path()));
    }
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;

    QByteArray conninfo() const { return m_conninfo; }
    // Stops it at once, as a power cut would; starts it again.
    void crash() const { must(QStringLiteral("crash")); }
    void restart() const { must(QStringLiteral("restart")); }
    // The command line that does either, for another program to run.
    QString command(const QString &verb) const
    {
        return QStringLiteral("'%1' %2 '%3/state'").arg(QStringLiteral(NORVA_TEST_PG_SCRIPT), verb, m_folder.path());
    }

private:
    bool run(const QString &verb) const
    {
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedChannels);
        script.start(QStringLiteral(NORVA_TEST_PG_SCRIPT), {verb, m_folder.filePath(QStringLiteral("state"))});
        return script.waitForFinished(120000) && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
    }
    void must(const QString &verb) const
    {
        if (!run(verb))
            throw ServerError("scripts/test-pg " + verb.toStdString() + " failed");
    }

    QTemporaryDir m_folder;
    QByteArray m_conninfo;
};

} // namespace testing_support
