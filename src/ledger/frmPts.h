#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <QString>
#include <QStringView>
#include <memory>
#include <vector>

class QLabel;

namespace Ui {
class frmPts;
}
namespace toolkit {
class DataGrid;
class RecordBinding;
}

namespace ledger {
class FreshList;
class KanaSearch;
}

// The inpatient ledger: today's in-patients by room and bed, three summary
// figures of the moment it loaded, and the menus that open an episode,
// register a patient, change the list order and move to the other ledgers.
class frmPts : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmPts(QWidget *parent = nullptr);
    ~frmPts() override;

    toolkit::DataGrid *DataGrid1() const;
    // The episode key of the grid's current row; empty when there is none.
    QString currentEpisodeKey() const;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openData();
    void bindSummary(jet::Recordset &recordset, QStringView query, QLabel *label, const QString &column,
                     const QString &format);

    std::unique_ptr<Ui::frmPts> ui;
    jet::Connection m_connection;
    jet::Recordset m_list;
    jet::Recordset m_count;
    jet::Recordset m_averageAge;
    jet::Recordset m_averageStay;
    std::unique_ptr<toolkit::DataGrid> m_grid; // after the list: it must go first
    std::vector<std::unique_ptr<toolkit::RecordBinding>> m_summaries; // after the summaries they show
    ledger::KanaSearch *m_search = nullptr;
    ledger::FreshList *m_fresh = nullptr;
};
