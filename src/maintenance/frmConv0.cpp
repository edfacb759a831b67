#include "maintenance/frmConv0.h"
#include "ui_frmConv0.h"

frmConv0::frmConv0(QWidget *parent) : maintenance::UpgradeWindow(parent), ui(std::make_unique<Ui::frmConv0>())
{
    ui->setupUi(this);
    wire(ui->cmdConversion, ui->Command1, {ui->DataGrid1}, maintenance::kStepsTo2086,
         [](const QString &path, const maintenance::UpgradeHooks &hooks) {
             maintenance::upgradeTo2086(path, hooks);
             return true;
         });
}

frmConv0::~frmConv0() = default;
