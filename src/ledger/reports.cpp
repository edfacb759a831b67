#include "ledger/reports.h"

#include "options/frmOptions.h"
#include "report/launch.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QLineEdit>

namespace ledger {

void showEpisodeDocument(const toolkit::DataGrid &grid, const QString &document, const QString &titleSuffix)
{
    toolkit::MessageBoxRequest failure;
    failure.title = QStringLiteral("印刷設定のエラー");
    failure.text = QStringLiteral("ODBCを正しく設定してください。");
    failure.icon = toolkit::MessageIcon::Exclamation;
    toolkit::trap(
        [&] {
            const int row = grid.currentRow();
            if (row < 0)
                return;
            const frmOptions &options = toolkit::Forms::get<frmOptions>();
            const report::Institution institution{options.Text1()->text(), options.Text2()->text(),
                                                  options.Text4()->text(), options.Text5()->text()};
            report::showDocument(document, grid.value(row, QStringLiteral("入退院ID")),
                                 grid.value(row, QStringLiteral("氏名")).toString() + titleSuffix, institution, true);
        },
        {{report::kEngineFailure, failure, {}, false}});
}

} // namespace ledger
