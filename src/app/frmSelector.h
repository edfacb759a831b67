#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmSelector;
}
namespace toolkit {
class RecordBinding;
}

// The start menu: the program and database versions, the three ledgers and
// the options.  Choosing a ledger leaves the start menu for good.
class frmSelector : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmSelector(QWidget *parent = nullptr);
    ~frmSelector() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openLedger(const QString &ledger);

    std::unique_ptr<Ui::frmSelector> ui;
    jet::Connection m_connection;
    jet::Recordset m_version;
    toolkit::RecordBinding *m_binding = nullptr;
};
