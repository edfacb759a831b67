#pragma once

#include "certificate/certificatewindow.h"

#include <memory>

namespace Ui {
class frm32New;
}

// The outpatient medical-expense subsidy certificate of one patient, opened
// modally from the outpatient ledger.
class frm32New : public certificate::CertificateWindow
{
    Q_OBJECT

public:
    explicit frm32New(QWidget *parent = nullptr);
    ~frm32New() override;

private:
    std::unique_ptr<Ui::frm32New> ui;
};
