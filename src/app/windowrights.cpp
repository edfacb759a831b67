#include "app/windowrights.h"

#include "db/engine/connection.h"
#include "db/location.h"
#include "db/session.h"
#include "db/sessionrights.h"
#include "toolkit/form.h"
#include "toolkit/navigation.h"
#include "toolkit/platform.h"

#include <QAction>
#include <QEvent>
#include <QHash>
#include <QWidget>

namespace app {

using namespace Qt::StringLiterals;
using accounts::Right;

namespace {

// Holds an item or a button disabled: the windows enable their items as the
// user works (開く once a row is chosen), and a right is not given back so.
// What the window last asked for comes back when the lock goes, after a
// login of someone who holds the right.
class RightLock : public QObject
{
public:
    static constexpr QStringView kName = u"norvaRightLock";

    static RightLock *of(QObject *control)
    {
        return dynamic_cast<RightLock *>(control->findChild<QObject *>(kName.toString(), Qt::FindDirectChildrenOnly));
    }

    explicit RightLock(QObject *target) : QObject(target)
    {
        setObjectName(kName.toString());
        if (auto *action = qobject_cast<QAction *>(target)) {
            m_wanted = action->isEnabled();
            action->setEnabled(false);
            connect(action, &QAction::enabledChanged, this, [this, action](bool enabled) {
                if (!enabled)
                    return;
                m_wanted = true;
                action->setEnabled(false);
            });
        } else if (auto *widget = qobject_cast<QWidget *>(target)) {
            m_wanted = widget->isEnabled();
            widget->setEnabled(false);
            widget->installEventFilter(this);
        }
    }

    void unlock()
    {
        QObject *target = parent();
        if (auto *action = qobject_cast<QAction *>(target)) {
            disconnect(action, nullptr, this, nullptr);
            action->setEnabled(m_wanted);
        } else if (auto *widget = qobject_cast<QWidget *>(target)) {
            widget->removeEventFilter(this);
            widget->setEnabled(m_wanted);
        }
        delete this;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->isEnabled()) {
                m_wanted = true;
                widget->setEnabled(false);
            }
        }
        return false;
    }

private:
    bool m_wanted = true;
};

void add(QList<ControlRight> &list, const QStringList &windows, const QStringList &controls, Right right)
{
    for (const QString &window : windows)
        for (const QString &control : controls)
            list.append({window, control, right});
}

} // namespace

const QList<ControlRight> &controlRights()
{
    static const QList<ControlRight> list = [] {
        QList<ControlRight> r;
        const QStringList ledgers{u"frmPts"_s, u"frmAmbuPts"_s, u"frmFindPts"_s};
        add(r, {u"frmSelector"_s}, {u"Command4"_s}, Right::Options);
        add(r, {u"frmSelector"_s}, {u"cmdAccounts"_s}, Right::Accounts);
        add(r, {u"frmSelector"_s}, {u"cmdAudit"_s}, Right::Audit);

        add(r, ledgers, {u"mnuFileOpen"_s}, Right::ViewRecords);
        add(r, ledgers, {u"mnuFileNew"_s}, Right::RegisterEpisodes);
        add(r, {u"frmFindPts"_s}, {u"mnuFileAdmHisDelete"_s}, Right::RegisterEpisodes);
        add(r, {u"frmPts"_s},
            {u"mnuReportAdm1week"_s, u"mnuReportAdm2week"_s, u"mnuReportAdmPsy"_s, u"mnuReportTreatment"_s},
            Right::PrintDocuments);
        add(r, {u"frmPts"_s, u"frmFindPts"_s},
            {u"mnuReportAdmSum"_s, u"mnuReportAdmissionPlan"_s, u"mnuReportDischargePlan"_s,
             u"mnuReportDischargeHis"_s},
            Right::PrintDocuments);
        add(r, {u"frmAmbuPts"_s, u"frmFindPts"_s},
            {u"mnuReport32New"_s, u"mnuReportTecho"_s, u"mnuReport32NewList"_s, u"mnuReportTechoList"_s,
             u"mnuTool32New"_s, u"mnuToolTecho"_s, u"mnuToolCertificates"_s, u"mnuToolRenewals"_s},
            Right::Certificates);
        add(r, ledgers, {u"mnuToolDataEx"_s}, Right::Export);
        add(r, ledgers, {u"mnuToolDx"_s}, Right::Statistics);
        add(r, ledgers, {u"mnuToolOptions"_s, u"frmToolOptions"_s, u"mnuToolArrange"_s}, Right::Options);
        add(r, {u"frmFindPts"_s}, {u"mnuToolOptimization"_s, u"mnuToolConv"_s}, Right::Maintenance);

        add(r, {u"frmCertList"_s},
            {u"cmdNew"_s, u"cmdCopy"_s, u"cmdIssue"_s, u"cmdPrint"_s, u"mnuNewMedical"_s, u"mnuNewHandbook"_s,
             u"mnuNewBoth"_s},
            Right::Certificates);
        add(r, {u"frmCertToday"_s}, {u"cmdSave"_s, u"cmdCorrect"_s, u"cmdValidity"_s}, Right::Certificates);
        add(r, {u"frmRenewals"_s}, {u"cmdPrint"_s}, Right::PrintDocuments);
        add(r, {u"frmRenewals"_s}, {u"cmdExport"_s}, Right::Export);
        add(r, {u"frm32New"_s, u"frmWelfare"_s}, {u"mnuFileSave"_s}, Right::Certificates);
        add(r, {u"frmOptions"_s}, {u"cmdDelete"_s, u"cmdApply"_s}, Right::Options);
        add(r, {u"frmStat"_s}, {u"Command1"_s, u"Command2"_s, u"Command3"_s}, Right::Statistics);
        add(r, {u"frmOptimization"_s}, {u"Command1"_s}, Right::Maintenance);
        add(r, {u"frmConv"_s, u"frmConv0"_s}, {u"cmdConversion"_s}, Right::Maintenance);
        return r;
    }();
    return list;
}

std::optional<Right> rightToOpen(const QString &window)
{
    static const QHash<QString, Right> needed{
        {u"frmPt"_s, Right::ViewRecords},          {u"frmAmbuPt"_s, Right::ViewRecords},
        {u"frmFindPt"_s, Right::ViewRecords},      {u"frm32New"_s, Right::ViewRecords},
        {u"frmWelfare"_s, Right::ViewRecords},     {u"frmCertList"_s, Right::ViewRecords},
        {u"frmCertToday"_s, Right::ViewRecords},   {u"frmHistory"_s, Right::ViewRecords},
        {u"frmNewPt"_s, Right::RegisterEpisodes},  {u"frmOptions"_s, Right::Options},
        {u"frmArrange"_s, Right::Options},         {u"frmStat"_s, Right::Statistics},
        {u"frmOptimization"_s, Right::Maintenance}, {u"frmConv"_s, Right::Maintenance},
        {u"frmConv0"_s, Right::Maintenance},       {u"frmRenewals"_s, Right::Certificates},
        {u"frmAccounts"_s, Right::Accounts},       {u"frmAudit"_s, Right::Audit},
    };
    const auto found = needed.constFind(window);
    return found == needed.cend() ? std::nullopt : std::optional<Right>(*found);
}

void applyRights(toolkit::Form &window, const db::SessionRights &rights)
{
    for (const ControlRight &entry : controlRights()) {
        if (entry.window != window.objectName())
            continue;
        QObject *control = window.findChild<QObject *>(entry.control);
        if (!control)
            continue;
        RightLock *lock = RightLock::of(control);
        if (rights.may(entry.right) && lock)
            lock->unlock();
        else if (!rights.may(entry.right) && !lock)
            new RightLock(control);
    }
}

void applySessionRights(toolkit::Form &window)
{
    if (!db::session().loggedIn && !window.findChild<QObject *>(RightLock::kName.toString()))
        return;
    jet::Connection connection;
    db::openWindowConnection(connection, toolkit::platform().programFolder());
    applyRights(window, db::sessionRights(connection));
}

void guardWindowsByRights()
{
    toolkit::setOpeningGate([](const QString &name) {
        const std::optional<Right> right = rightToOpen(name);
        if (!right || !db::session().loggedIn)
            return true;
        jet::Connection connection;
        db::openWindowConnection(connection, toolkit::platform().programFolder());
        if (db::sessionMay(connection, *right))
            return true;
        toolkit::platform().messageBox({.text = db::refusalText(*right), .icon = toolkit::MessageIcon::Exclamation});
        return false;
    });
}

} // namespace app
