#pragma once

#include "maintenance/upgradewindow.h"

#include <memory>

namespace Ui {
class frmConv0;
}

// The upgrade to 2.086: the ICD code of the diagnoses and the columns the
// outpatient-subsidy certificate gained with that version.
class frmConv0 : public maintenance::UpgradeWindow
{
    Q_OBJECT

public:
    explicit frmConv0(QWidget *parent = nullptr);
    ~frmConv0() override;

private:
    std::unique_ptr<Ui::frmConv0> ui;
};
