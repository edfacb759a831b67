#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmAmbuPts;
}
namespace toolkit {
class DataGrid;
}
namespace ledger {
class FreshList;
class KanaSearch;
}

// The out-patient ledger: every out-patient course, newest first, whatever
// its dates.  Its certificate menus act on the patient of the current row.
class frmAmbuPts : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmAmbuPts(QWidget *parent = nullptr);
    ~frmAmbuPts() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openData();
    void openCertificate(const QString &window);

    std::unique_ptr<Ui::frmAmbuPts> ui;
    jet::Connection m_connection;
    jet::Recordset m_list;
    jet::Recordset m_certificates; // the rows the certificate items look up and add to
    std::unique_ptr<toolkit::DataGrid> m_grid; // after the recordset: it must go first
    ledger::KanaSearch *m_search = nullptr;
    ledger::FreshList *m_fresh = nullptr;
};
