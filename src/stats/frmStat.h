#pragma once

#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QString>
#include <memory>

namespace Ui {
class frmStat;
}
namespace jet {
class Connection;
class Recordset;
}
namespace toolkit {
class BarChart;
class DataGrid;
}

// The diagnosis statistics: episodes counted by the ICD-10 group of the
// patient's principal diagnosis, for a period of admissions, for today's
// in-patients or for the outpatient courses, as a grid and a bar chart.
class frmStat : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmStat(QWidget *parent = nullptr);
    ~frmStat() override;

    toolkit::DataGrid *DataGrid1() const;
    toolkit::BarChart *MSChart1() const;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void showSelection(const QString &where, const toolkit::ErrorTable &answers);
    void release();

    std::unique_ptr<Ui::frmStat> ui;
    std::unique_ptr<jet::Connection> m_connection;
    std::unique_ptr<jet::Recordset> m_result;
    std::unique_ptr<toolkit::DataGrid> m_grid;
    toolkit::BarChart *m_chart = nullptr;
};
