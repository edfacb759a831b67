#include "ledger/reports.h"

#include "options/frmOptions.h"
#include "report/catalogue.h"
#include "report/launch.h"
#include "report/preview.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QLineEdit>
#include <functional>

namespace ledger {

toolkit::ErrorTable printSettingAnswers()
{
    toolkit::MessageBoxRequest failure;
    failure.title = QStringLiteral("印刷設定のエラー");
    failure.text = QStringLiteral("ODBCを正しく設定してください。");
    failure.icon = toolkit::MessageIcon::Exclamation;
    return {{report::kEngineFailure, failure, {}, false}, toolkit::unreachableAnswer()};
}

report::Institution institution()
{
    const frmOptions &options = toolkit::Forms::get<frmOptions>();
    return {options.Text1()->text(), options.Text2()->text(), options.Text4()->text(), options.Text5()->text()};
}

namespace {

// Runs a launcher for the grid's current row: nothing on an empty list, the
// print-setting box when the engine cannot show a document.
void launch(const toolkit::DataGrid &grid, const std::function<void(int row)> &show)
{
    toolkit::trap(
        [&] {
            const int row = grid.currentRow();
            if (row >= 0)
                show(row);
        },
        printSettingAnswers());
}

} // namespace

void showEpisodeDocument(const toolkit::DataGrid &grid, const QString &document, const QString &titleSuffix)
{
    launch(grid, [&](int row) {
        report::showDocument(document, grid.value(row, QStringLiteral("入退院ID")),
                             grid.value(row, QStringLiteral("氏名")).toString() + titleSuffix, institution(), true);
    });
}

void showCertificate(const toolkit::DataGrid &grid, const QString &chartColumn, const CertificatePage &first,
                     const CertificatePage &second)
{
    launch(grid, [&](int row) {
        const QVariant chart = grid.value(row, chartColumn);
        const QString name = grid.value(row, QStringLiteral("氏名")).toString();
        const report::Institution hospital = institution();
        report::showDocument(first.document, chart, name + first.titleSuffix, hospital, false);
        report::showDocument(second.document, chart, name + second.titleSuffix, hospital, false);
    });
}

void showTreatmentVoucher()
{
    toolkit::trap(
        [] {
            const report::Institution hospital = institution();
            report::showDocument(QStringLiteral("rptTreatment"), {}, report::treatmentTitle(hospital), hospital, true);
        },
        printSettingAnswers());
}

void showCheckSheets()
{
    // The launcher gives them no title: each preview shows its sheet's own caption.
    const QStringList sheets{QStringLiteral("rptAdmPsy1"), QStringLiteral("rptAdmPsy2"), QStringLiteral("rptAdmPsy3")};
    toolkit::trap(
        [&] {
            for (int i = 0; i < sheets.size(); ++i) {
                report::Preview *preview = report::showDocument(sheets.at(i), {}, {}, {}, false);
                if (i == sheets.size() - 1)
                    QObject::connect(preview, &report::Preview::printFailed, preview, [sheets] {
                        report::closeDocuments({sheets.at(2), sheets.at(0), sheets.at(1)});
                    });
            }
        },
        printSettingAnswers());
}

void printAdmissionRecords(int weeks)
{
    toolkit::MessageBoxRequest ask;
    ask.text = QStringLiteral("入退院記録を印刷するには、このコンピュータにプリンタが設定されている必要があります。印刷しますか？");
    ask.icon = toolkit::MessageIcon::Exclamation;
    ask.buttons = toolkit::MessageButtons::YesNo;
    if (toolkit::platform().messageBox(ask) != toolkit::MessageResult::Yes)
        return;
    toolkit::MessageBoxRequest failure;
    failure.text = QStringLiteral("このシステムでは印刷できません。\nご不便をおかけして申し訳ありません。");
    failure.icon = toolkit::MessageIcon::Critical;
    toolkit::trap(
        [&] {
            // Titled with the records' own caption.
            report::showDocument(weeks == 1 ? QStringLiteral("rptAdmRecord1") : QStringLiteral("rptAdmRecord2"), {}, {},
                                 {}, true);
        },
        {{report::kEngineFailure, failure, {}, false}, toolkit::unreachableAnswer()});
}

} // namespace ledger
