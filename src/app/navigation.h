#pragma once

// The program's windows by name, over the toolkit's navigation service.  Header
// only, so that every subsystem can name the windows it opens without linking
// the start-up code.

#include "toolkit/navigation.h"

#include <QStringList>

namespace app {

using toolkit::findWindow;
using toolkit::isRegistered;
using toolkit::loadWindow;
using toolkit::moveTo;
using toolkit::registerWindow;
using toolkit::showModal;
using toolkit::showWindow;
using toolkit::takeHanded;
using toolkit::unloadWindow;
using toolkit::unregisterWindow;
using toolkit::WindowEntry;

// The names of the windows as the program registers them.
namespace window {
inline const QString Splash = QStringLiteral("frmSplash");
inline const QString Selector = QStringLiteral("frmSelector");
inline const QString About = QStringLiteral("frmAbout");
inline const QString Options = QStringLiteral("frmOptions");
inline const QString InpatientLedger = QStringLiteral("frmPts");
inline const QString OutpatientLedger = QStringLiteral("frmAmbuPts");
inline const QString AllPatientLedger = QStringLiteral("frmFindPts");
inline const QString UpgradeTo2086 = QStringLiteral("frmConv0");
inline const QString UpgradeTo2112 = QStringLiteral("frmConv");
inline const QString InpatientRecord = QStringLiteral("frmPt");
inline const QString OutpatientRecord = QStringLiteral("frmAmbuPt");
inline const QString AllPatientRecord = QStringLiteral("frmFindPt");
inline const QString NewPatient = QStringLiteral("frmNewPt");
inline const QString ListOrder = QStringLiteral("frmArrange");
inline const QString Statistics = QStringLiteral("frmStat");
inline const QString Compaction = QStringLiteral("frmOptimization");
inline const QString SubsidyCertificate = QStringLiteral("frm32New");
inline const QString HandbookCertificate = QStringLiteral("frmWelfare");
inline const QString CertificateList = QStringLiteral("frmCertList");
inline const QString TodayCertificate = QStringLiteral("frmCertToday");
inline const QString Renewals = QStringLiteral("frmRenewals");
inline const QString Login = QStringLiteral("frmLogin");
inline const QString FirstAdministrator = QStringLiteral("frmFirstAdmin");
inline const QString ChangePassword = QStringLiteral("frmChangePassword");
inline const QString Lock = QStringLiteral("frmLock");
inline const QString Accounts = QStringLiteral("frmAccounts");
inline const QString CodeEnrolment = QStringLiteral("frmCodeEnrolment");
inline const QString Audit = QStringLiteral("frmAudit");
inline const QString History = QStringLiteral("frmHistory");
} // namespace window

// The three ledgers, in the order the About box unloads them after a failure.
inline QStringList ledgerWindows()
{
    return {window::InpatientLedger, window::AllPatientLedger, window::OutpatientLedger};
}

} // namespace app
