#pragma once

#include "certificate/certificatewindow.h"

#include <memory>

namespace Ui {
class frmWelfare;
}

// The certificate that goes with an application for the mental-disability
// health and welfare handbook, opened modally from the outpatient ledger.  It
// edits the same row as the subsidy certificate and adds the living
// environment, the daily-life ability, its degree, the physician's kind and
// a guide to the handbook grades.
class frmWelfare : public certificate::CertificateWindow
{
    Q_OBJECT

public:
    explicit frmWelfare(QWidget *parent = nullptr);
    ~frmWelfare() override;

private:
    std::unique_ptr<Ui::frmWelfare> ui;
};
