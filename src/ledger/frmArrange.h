#pragma once

#include "db/schema.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmArrange;
}

// The list-order window: rewrites the stored in-patient list with rooms
// rising or falling.  It stands in for the inpatient ledger while it is
// open, so the ledger shows again, in the order now stored, when it closes.
class frmArrange : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmArrange(QWidget *parent = nullptr);
    ~frmArrange() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void writeOrder(db::RoomOrder order);

    std::unique_ptr<Ui::frmArrange> ui;
};
