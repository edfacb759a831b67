#include "maintenance/frmConv.h"
#include "ui_frmConv.h"

frmConv::frmConv(QWidget *parent) : maintenance::UpgradeWindow(parent), ui(std::make_unique<Ui::frmConv>())
{
    ui->setupUi(this);
    wire(ui->cmdConversion, ui->Command1, {ui->DataGrid1, ui->DataGrid2}, maintenance::kStepsTo2112,
         maintenance::upgradeTo2112);
}

frmConv::~frmConv() = default;
