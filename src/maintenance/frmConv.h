#pragma once

#include "maintenance/upgradewindow.h"

#include <memory>

namespace Ui {
class frmConv;
}

// The upgrade to 2.112: the version and out-of-hours tables, the outpatient
// columns of the episodes and the welfare-handbook columns of the certificate.
class frmConv : public maintenance::UpgradeWindow
{
    Q_OBJECT

public:
    explicit frmConv(QWidget *parent = nullptr);
    ~frmConv() override;

private:
    std::unique_ptr<Ui::frmConv> ui;
};
