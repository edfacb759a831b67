#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmFindPts;
}
namespace toolkit {
class DataGrid;
class RecordBinding;
}
namespace ledger {
class FreshList;
class KanaSearch;
}

// The all-patient ledger: every episode of every patient, newest first, and
// the one place where an episode can be deleted.
class frmFindPts : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmFindPts(QWidget *parent = nullptr);
    ~frmFindPts() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openData();
    void deleteEpisode();

    std::unique_ptr<Ui::frmFindPts> ui;
    jet::Connection m_connection;
    jet::Recordset m_list;
    jet::Recordset m_count;
    std::unique_ptr<toolkit::DataGrid> m_grid; // after the recordsets: it must go first
    toolkit::RecordBinding *m_countBinding = nullptr;
    ledger::KanaSearch *m_search = nullptr;
    ledger::FreshList *m_fresh = nullptr;
};
