#include "certificate/frmRenewals.h"
#include "ui_frmRenewals.h"

#include "certificate/records/extension.h"
#include "db/engine/connection.h"
#include "db/location.h"
#include "ledger/export.h"
#include "ledger/reports.h"
#include "report/engine.h"
#include "report/preview.h"
#include "report/rptRenewals.h"
#include "toolkit/errortrap.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

#include <QHeaderView>

using namespace Qt::StringLiterals;
using certificates::Renewal;

namespace {

QStringList cells(const Renewal &r)
{
    return {toolkit::formatDate(r.validTo, {}), certificates::kindName(r.kind), QString::number(r.chart), r.name,
            toolkit::formatDate(r.written, {}), r.physicianName};
}

// The worklist as the layout reads it, by its column headings.
class RenewalRows : public report::Rows
{
public:
    explicit RenewalRows(const QList<Renewal> &renewals) : m_renewals(renewals) { }
    int count() const override { return int(m_renewals.size()); }
    QVariant value(int row, const QString &column) const override
    {
        static const QStringList columns{u"有効期限"_s, u"種別"_s, u"カルテID"_s, u"氏名"_s, u"記載日"_s, u"医師"_s};
        const qsizetype at = columns.indexOf(column);
        return at < 0 ? QVariant() : QVariant(cells(m_renewals.at(row)).at(at));
    }

private:
    const QList<Renewal> &m_renewals;
};

} // namespace

frmRenewals::frmRenewals(QWidget *parent)
    : toolkit::Form(parent)
    , ui(std::make_unique<Ui::frmRenewals>())
{
    ui->setupUi(this);
    ui->grdRenewals->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(ui->cmdPrint, &QPushButton::clicked, this, [this] { print(); });
    connect(ui->cmdExport, &QPushButton::clicked, this, [this] { exportRows(); });
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmRenewals::~frmRenewals() = default;

void frmRenewals::onLoad()
{
    toolkit::untrapped([this] { openData(); });
}

// The list is read once, on opening: the desk works through it as it stood.
void frmRenewals::openData()
{
    jet::Connection connection;
    db::openWindowConnection(connection, toolkit::platform().programFolder());
    const certificates::CertificateBook book(connection);
    m_months = book.settings().renewalMonths;
    m_renewals = book.renewalsDue(toolkit::platform().now().date(), m_months);
    connection.close();

    ui->lblHeading->setText(u"有効期間が今日から%1か月以内に終わる診断書（%2件）。更新の手続きをご案内ください。"_s.arg(m_months).arg(
        m_renewals.size()));
    QTableWidget *grid = ui->grdRenewals;
    grid->setRowCount(0);
    for (const Renewal &r : m_renewals) {
        const int row = grid->rowCount();
        grid->insertRow(row);
        const QStringList texts = cells(r);
        for (int column = 0; column < texts.size(); ++column)
            grid->setItem(row, column, new QTableWidgetItem(texts.at(column)));
    }
    ui->cmdPrint->setEnabled(!m_renewals.isEmpty());
    ui->cmdExport->setEnabled(!m_renewals.isEmpty());
}

void frmRenewals::print()
{
    toolkit::trap(
        [this] {
            rptRenewals layout;
            layout.setLabel(u"Section2"_s, u"Label1"_s, u"更新時期の近い診断書（%1か月以内）"_s.arg(m_months));
            const QList<report::Page> pages = report::layOut(layout, RenewalRows(m_renewals), toolkit::platform().now());
            report::Preview preview(pages, layout.caption, this);
            preview.exec();
        },
        ledger::printSettingAnswers());
}

// One line per certificate due, naming the kinds that are due, so that the
// sheet lists what the window lists; its ends stay dates.
void frmRenewals::exportRows()
{
    QStringList medical{u"0"_s};
    QStringList handbook{u"0"_s};
    QStringList all;
    for (const Renewal &r : m_renewals) {
        (r.kind == certificates::Kind::Medical ? medical : handbook) << QString::number(r.id);
        all << QString::number(r.id);
    }
    const QString statement =
        u"SELECT c.カルテID AS カルテID, p.かな氏名 AS かな氏名, p.氏名 AS 氏名, "
        u"IIf(c.診断書ID IN (%1), '自立支援医療 ', '') & IIf(c.診断書ID IN (%2), '手帳', '') AS 更新の対象, "
        u"c.自立支援医療終了 AS 自立支援医療の有効期限, c.手帳終了 AS 手帳の有効期限, c.記載日 AS 記載日, "
        u"c.医師氏名 AS 医師 INTO %3"
        u"FROM `%4` AS c LEFT JOIN 患者情報 AS p ON c.カルテID = p.カルテID WHERE c.診断書ID IN (%5) "
        u"ORDER BY p.かな氏名, c.診断書ID;"_s.arg(medical.join(u','), handbook.join(u','),
                                        ledger::exportTarget(u"C:\\ネモリア診断書更新.xls"_s, u"更新時期の近い診断書"_s),
                                        certificates::kRecordTable.toString(), all.join(u','));
    ledger::exportRows(u"有効期間が%1か月以内に終わる診断書の一覧を Excel 形式 (.xlsx) のファイルにエクスポートします。"
                       u"開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？"_s.arg(m_months),
                       statement);
}
