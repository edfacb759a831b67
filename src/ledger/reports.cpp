#include "ledger/reports.h"

#include "options/frmOptions.h"
#include "report/launch.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QLineEdit>
#include <functional>

namespace ledger {

namespace {

// Runs a launcher for the grid's current row: nothing on an empty list, the
// print-setting box when the engine cannot show a document.
void launch(const toolkit::DataGrid &grid, const std::function<void(int row, const report::Institution &)> &show)
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
            show(row, {options.Text1()->text(), options.Text2()->text(), options.Text4()->text(),
                       options.Text5()->text()});
        },
        {{report::kEngineFailure, failure, {}, false}});
}

} // namespace

void showEpisodeDocument(const toolkit::DataGrid &grid, const QString &document, const QString &titleSuffix)
{
    launch(grid, [&](int row, const report::Institution &institution) {
        report::showDocument(document, grid.value(row, QStringLiteral("入退院ID")),
                             grid.value(row, QStringLiteral("氏名")).toString() + titleSuffix, institution, true);
    });
}

void showCertificate(const toolkit::DataGrid &grid, const QString &chartColumn, const CertificatePage &first,
                     const CertificatePage &second)
{
    launch(grid, [&](int row, const report::Institution &institution) {
        const QVariant chart = grid.value(row, chartColumn);
        const QString name = grid.value(row, QStringLiteral("氏名")).toString();
        report::showDocument(first.document, chart, name + first.titleSuffix, institution, false);
        report::showDocument(second.document, chart, name + second.titleSuffix, institution, false);
    });
}

} // namespace ledger
