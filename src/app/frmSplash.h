#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <memory>

class QTimer;

namespace Ui {
class frmSplash;
}

// The first window.  One second after it loads it finds out whether the
// database can be opened and is recent enough, and hands over to the login
// (the first administrator's on a database without accounts) or to the
// upgrade its generation needs.  The generation is told by
// which of two probe queries runs, not by the stored version number.
class frmSplash : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmSplash(QWidget *parent = nullptr);
    ~frmSplash() override;

    QTimer *timer() const { return m_timer; }

public slots:
    // Runs the probe on the first tick only: a later tick, for example while
    // a message box of the probe is open, starts nothing.
    void timerTicked();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void probe();
    void offerUpgrade(const QString &text, const QString &upgradeWindow);
    void announceUpgrade(const QString &upgradeWindow);

    std::unique_ptr<Ui::frmSplash> ui;
    QTimer *m_timer = nullptr;
    bool m_probed = false;
    jet::Connection m_connection;
    jet::Recordset m_icdProbe;
    jet::Recordset m_versionProbe;
};
