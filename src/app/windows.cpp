#include "app/windows.h"

#include "admin/frmAccounts.h"
#include "admin/frmAudit.h"
#include "admin/frmCodeEnrolment.h"
#include "app/frmAbout.h"
#include "app/frmChangePassword.h"
#include "app/frmFirstAdmin.h"
#include "app/frmLock.h"
#include "app/frmLogin.h"
#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "app/login.h"
#include "app/navigation.h"
#include "app/windowrights.h"
#include "certificate/frm32New.h"
#include "db/audit.h"
#include "certificate/frmCertList.h"
#include "certificate/frmCertToday.h"
#include "certificate/frmRenewals.h"
#include "certificate/frmWelfare.h"
#include "ledger/frmAmbuPts.h"
#include "ledger/frmArrange.h"
#include "ledger/frmFindPts.h"
#include "ledger/frmPts.h"
#include "maintenance/frmConv.h"
#include "maintenance/frmConv0.h"
#include "maintenance/frmOptimization.h"
#include "options/frmOptions.h"
#include "record/frmAmbuPt.h"
#include "record/frmFindPt.h"
#include "record/frmHistory.h"
#include "record/frmNewPt.h"
#include "record/frmPt.h"
#include "stats/frmStat.h"
#include "toolkit/navigation.h"

namespace app {

void registerProgramWindows()
{
    registerWindow<frmSplash>(window::Splash);
    registerWindow<frmSelector>(window::Selector);
    registerWindow<frmLogin>(window::Login);
    registerWindow<frmFirstAdmin>(window::FirstAdministrator);
    registerWindow<frmChangePassword>(window::ChangePassword);
    registerWindow<frmLock>(window::Lock);
    registerWindow<frmAbout>(window::About);
    registerWindow<frmOptions>(window::Options);
    registerWindow<frmPts>(window::InpatientLedger);
    registerWindow<frmAmbuPts>(window::OutpatientLedger);
    registerWindow<frmFindPts>(window::AllPatientLedger);
    registerWindow<frmArrange>(window::ListOrder);
    registerWindow<frmPt>(window::InpatientRecord);
    registerWindow<frmAmbuPt>(window::OutpatientRecord);
    registerWindow<frmFindPt>(window::AllPatientRecord);
    registerWindow<frmNewPt>(window::NewPatient);
    registerWindow<frm32New>(window::SubsidyCertificate);
    registerWindow<frmWelfare>(window::HandbookCertificate);
    registerWindow<frmCertList>(window::CertificateList);
    registerWindow<frmCertToday>(window::TodayCertificate);
    registerWindow<frmRenewals>(window::Renewals);
    registerWindow<frmConv0>(window::UpgradeTo2086);
    registerWindow<frmConv>(window::UpgradeTo2112);
    registerWindow<frmOptimization>(window::Compaction);
    registerWindow<frmStat>(window::Statistics);
    registerWindow<frmAccounts>(window::Accounts);
    registerWindow<frmCodeEnrolment>(window::CodeEnrolment);
    guardWindowsByRights();
    registerWindow<frmAudit>(window::Audit);
    registerWindow<frmHistory>(window::History);
    // A patient's window that cannot record its opening stays closed: the
    // access log is the condition of the access, not a note taken after it.
    toolkit::setOpeningObserver([](toolkit::Form &opened) {
        applySessionRights(opened);
        wireSessionItems(opened);
        if (auto *shown = dynamic_cast<db::audit::PatientWindow *>(&opened))
            db::audit::append(shown->trailConnection(), shown->openingEvent());
    });
}

} // namespace app
