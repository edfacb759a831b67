#pragma once

#include "certificate/records/certificates.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmRenewals;
}

// The outpatient desk's worklist: the hospital's issued certificates whose
// validity ends within the months the settings give, by end, to print or to
// export to a spreadsheet.
class frmRenewals : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmRenewals(QWidget *parent = nullptr);
    ~frmRenewals() override;

    const QList<certificates::Renewal> &renewals() const { return m_renewals; }

protected:
    void onLoad() override;

private:
    void openData();
    void print();
    void exportRows();

    std::unique_ptr<Ui::frmRenewals> ui;
    QList<certificates::Renewal> m_renewals;
    int m_months = 0;
};
