#pragma once

#include "record/recordwindow.h"

#include <memory>

namespace Ui {
class frmFindPt;
}

// The all-patients record window: any episode from the all-patient ledger,
// with every tab of the inpatient window, the after-hours and precautions
// tab, and the outpatient switch that turns an admission into an outpatient
// course and back.
class frmFindPt : public record::RecordWindow
{
    Q_OBJECT

public:
    explicit frmFindPt(QWidget *parent = nullptr);
    ~frmFindPt() override;

protected:
    void onLoad() override;

private:
    void loadEpisode();
    void setupFields();
    void setAdmissionShown(bool shown);
    void onOutpatientToggled(bool outpatient);
    void onInpatientToggled(bool inpatient);

    std::unique_ptr<Ui::frmFindPt> ui;
};
