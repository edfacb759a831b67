#pragma once

#include "record/recordwindow.h"

#include <memory>

namespace Ui {
class frmPt;
}

// The inpatient record window: everything the system keeps about one episode
// of a current in-patient, on seven tabs, opened from the inpatient ledger
// for the ledger's current row and handing back to it when it closes.
class frmPt : public record::RecordWindow
{
    Q_OBJECT

public:
    explicit frmPt(QWidget *parent = nullptr);
    ~frmPt() override;

protected:
    void onLoad() override;

private:
    std::unique_ptr<Ui::frmPt> ui;
};
