#pragma once

#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmOptimization;
}

// Compacts the database in place, keeping the file as it was as the one
// backup.  It stands in for the all-patient ledger while it is open: the
// ledger closes its connection when this window loads and loads afresh, with
// every row of the compacted file, when it closes.
class frmOptimization : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmOptimization(QWidget *parent = nullptr);
    ~frmOptimization() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void optimize();

    std::unique_ptr<Ui::frmOptimization> ui;
};
