#include "admin/frmAudit.h"
#include "ui_frmAudit.h"

#include "db/audit.h"
#include "db/location.h"
#include "ledger/export.h"
#include "ledger/reports.h"
#include "report/engine.h"
#include "report/preview.h"
#include "report/rptAudit.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QRegularExpressionValidator>

#include <algorithm>

using namespace Qt::StringLiterals;
using db::audit::TrailRow;

namespace {

// A spreadsheet's sheet holds this many rows under its heading.
constexpr qint64 kSheetRows = 1048575;

QString localTime(const QDateTime &utc)
{
    return utc.isValid() ? utc.toLocalTime().toString(u"yyyy/MM/dd HH:mm:ss"_s) : QString();
}

QString optionalText(const std::optional<qint64> &value)
{
    return value ? QString::number(*value) : QString();
}

QStringList cells(const TrailRow &row)
{
    return {QString::number(row.number), localTime(row.time), row.account, row.workstation, row.version,
            row.action, optionalText(row.chart), optionalText(row.episode), row.detail};
}

// The rows found as the printed layout reads them, by its columns.
class TrailRows : public report::Rows
{
public:
    explicit TrailRows(const QList<TrailRow> &rows) : m_rows(rows) {}
    int count() const override { return int(m_rows.size()); }
    QVariant value(int row, const QString &column) const override
    {
        static const QStringList columns{u"記録番号"_s, u"時刻"_s,   u"アカウント"_s, u"端末"_s, u"版"_s,
                                         u"操作"_s,     u"カルテID"_s, u"入退院ID"_s,   u"詳細"_s};
        const qsizetype at = columns.indexOf(column);
        return at < 0 ? QVariant() : QVariant(cells(m_rows.at(row)).at(at));
    }

private:
    const QList<TrailRow> &m_rows;
};

// The wait cursor for the length of a long read.
class Waiting
{
public:
    Waiting() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Waiting() { QApplication::restoreOverrideCursor(); }
    Waiting(const Waiting &) = delete;
    Waiting &operator=(const Waiting &) = delete;
};

void tell(const QString &text, toolkit::MessageIcon icon = toolkit::MessageIcon::Exclamation)
{
    toolkit::MessageBoxRequest box;
    box.text = text;
    box.icon = icon;
    toolkit::platform().messageBox(box);
}

} // namespace

frmAudit::frmAudit(QWidget *parent) : toolkit::Form(parent), ui(std::make_unique<Ui::frmAudit>())
{
    ui->setupUi(this);
    const auto *digits = new QRegularExpressionValidator(QRegularExpression(u"[0-9]*"_s), this);
    ui->txtChart->setValidator(digits);
    ui->txtEpisode->setValidator(digits);
    const QDate today = toolkit::platform().now().date();
    ui->dtpFrom->setDate(today.addDays(-30));
    ui->dtpTo->setDate(today);
    ui->dtpFrom->setEnabled(false);
    ui->dtpTo->setEnabled(false);
    connect(ui->chkPeriod, &QCheckBox::toggled, ui->dtpFrom, &QWidget::setEnabled);
    connect(ui->chkPeriod, &QCheckBox::toggled, ui->dtpTo, &QWidget::setEnabled);
    ui->grdTrail->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    for (QLineEdit *box : {ui->txtChart, ui->txtEpisode})
        connect(box, &QLineEdit::returnPressed, this, [this] { toolkit::trap([this] { search(); }); });
    connect(ui->cmdSearch, &QPushButton::clicked, this, [this] { toolkit::trap([this] { search(); }); });
    connect(ui->cmdOlder, &QPushButton::clicked, this, [this] {
        toolkit::trap([this] {
            m_pageStarts.append(m_rows.last().number);
            showPage();
        });
    });
    connect(ui->cmdNewer, &QPushButton::clicked, this, [this] {
        toolkit::trap([this] {
            m_pageStarts.removeLast();
            showPage();
        });
    });
    connect(ui->cmdVerify, &QPushButton::clicked, this, [this] { toolkit::trap([this] { verifyChain(); }); });
    connect(ui->cmdPrint, &QPushButton::clicked, this, [this] { print(); });
    connect(ui->cmdExport, &QPushButton::clicked, this, [this] { exportRows(); });
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmAudit::~frmAudit() = default;

void frmAudit::onLoad()
{
    toolkit::untrapped([this] {
        db::openWindowConnection(m_connection, toolkit::platform().programFolder());
        fillLists();
        search();
    });
}

void frmAudit::onUnload(bool &)
{
    m_connection.close();
}

void frmAudit::fillLists()
{
    ui->cboAccount->clear();
    ui->cboAccount->addItem(QString());
    ui->cboAccount->addItems(db::audit::trailAccounts(m_connection));
    ui->cboAction->clear();
    ui->cboAction->addItem(QString());
    ui->cboAction->addItems(db::audit::trailActions(m_connection));
}

bool frmAudit::takeFilter()
{
    db::audit::TrailFilter filter;
    if (ui->chkPeriod->isChecked()) {
        filter.from = std::min(ui->dtpFrom->date(), ui->dtpTo->date());
        filter.to = std::max(ui->dtpFrom->date(), ui->dtpTo->date());
    }
    filter.account = ui->cboAccount->currentText().trimmed();
    filter.action = ui->cboAction->currentText().trimmed();
    const std::pair<QLineEdit *, std::optional<qint64> *> numbers[] = {{ui->txtChart, &filter.chart},
                                                                       {ui->txtEpisode, &filter.episode}};
    for (const auto &[box, value] : numbers) {
        if (box->text().isEmpty())
            continue;
        bool isNumber = false;
        *value = box->text().toLongLong(&isNumber);
        if (!isNumber) {
            tell(u"%1 には数字を入力してください。"_s.arg(box == ui->txtChart ? u"カルテID"_s : u"入退院ID"_s));
            box->setFocus();
            return false;
        }
    }
    m_filter = filter;
    return true;
}

void frmAudit::search()
{
    if (!takeFilter())
        return;
    Waiting waiting;
    m_found = db::audit::trailCount(m_connection, m_filter);
    m_pageStarts = {std::nullopt};
    showPage();
}

void frmAudit::showPage()
{
    {
        Waiting waiting;
        // One row more than a page tells whether older rows follow.
        m_rows = db::audit::trailRows(m_connection, m_filter, m_pageStarts.last(), kPageRows + 1);
    }
    const bool olderFollow = m_rows.size() > kPageRows;
    if (olderFollow)
        m_rows.removeLast();
    QTableWidget *grid = ui->grdTrail;
    grid->setRowCount(0);
    grid->setRowCount(int(m_rows.size()));
    for (int row = 0; row < m_rows.size(); ++row) {
        const QStringList texts = cells(m_rows.at(row));
        for (int column = 0; column < texts.size(); ++column) {
            auto *item = new QTableWidgetItem(texts.at(column));
            if (column == 0 || column == 6 || column == 7)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            else
                item->setToolTip(texts.at(column));
            grid->setItem(row, column, item);
        }
    }
    // The detail, last, takes the room the others leave; a long account,
    // workstation, version or action is cut short, its tooltip whole.
    static const int widest[] = {0, 0, 180, 150, 80, 130, 0, 0};
    for (int column = 0; column + 1 < grid->columnCount(); ++column) {
        grid->resizeColumnToContents(column);
        if (widest[column] > 0)
            grid->setColumnWidth(column, std::min(grid->columnWidth(column), widest[column]));
    }
    const QLocale locale;
    const qint64 first = qint64(m_pageStarts.size() - 1) * kPageRows + 1;
    ui->lblRows->setText(m_rows.isEmpty() ? u"該当する記録はありません（全 %1 件）"_s.arg(locale.toString(m_found))
                                          : u"%1〜%2 件目（全 %3 件）"_s.arg(locale.toString(first),
                                                                         locale.toString(first + m_rows.size() - 1),
                                                                         locale.toString(m_found)));
    ui->cmdNewer->setEnabled(m_pageStarts.size() > 1);
    ui->cmdOlder->setEnabled(olderFollow);
    ui->cmdPrint->setEnabled(!m_rows.isEmpty());
    ui->cmdExport->setEnabled(!m_rows.isEmpty());
}

void frmAudit::verifyChain()
{
    db::audit::Verification result;
    {
        Waiting waiting;
        result = db::audit::verify(m_connection);
    }
    const QString checked = localTime(toolkit::platform().now().toUTC());
    const QLocale locale;
    if (result.sound()) {
        ui->lblChain->setStyleSheet({});
        ui->lblChain->setText(u"%1 件すべての連鎖を確認しました。改ざんはありません（%2）。"_s.arg(
            locale.toString(result.rows), checked));
        return;
    }
    ui->lblChain->setStyleSheet(u"color: #c00000; font-weight: bold;"_s);
    ui->lblChain->setText(u"改ざんの疑いがあります: %1 件の所見（%2）"_s.arg(result.findings.size()).arg(checked));
    QStringList shown = result.findings.mid(0, 20);
    if (result.findings.size() > shown.size())
        shown.append(u"ほか %1 件"_s.arg(result.findings.size() - shown.size()));
    tell(u"監査記録の連鎖が合いません。管理者に連絡し、norva-db audit verify で確かめてください。\r"_s
             + shown.join(u'\r'),
         toolkit::MessageIcon::Critical);
}

QString frmAudit::conditionsText() const
{
    QStringList parts;
    if (m_filter.from.isValid())
        parts.append(u"期間 %1〜%2"_s.arg(m_filter.from.toString(u"yyyy/MM/dd"_s), m_filter.to.toString(u"yyyy/MM/dd"_s)));
    if (!m_filter.account.isEmpty())
        parts.append(u"アカウント %1"_s.arg(m_filter.account));
    if (m_filter.chart)
        parts.append(u"カルテID %1"_s.arg(*m_filter.chart));
    if (m_filter.episode)
        parts.append(u"入退院ID %1"_s.arg(*m_filter.episode));
    if (!m_filter.action.isEmpty())
        parts.append(u"操作 %1"_s.arg(m_filter.action));
    return (parts.isEmpty() ? u"すべての記録"_s : parts.join(u"、"_s)) + u"（%1 件、新しい順）"_s.arg(m_found);
}

QList<report::Page> frmAudit::printedPages()
{
    const QList<TrailRow> rows = db::audit::trailRows(m_connection, m_filter, std::nullopt, kPrintedRows);
    rptAudit layout;
    layout.setLabel(u"Section2"_s, u"Label2"_s, conditionsText());
    return report::layOut(layout, TrailRows(rows), toolkit::platform().now());
}

void frmAudit::print()
{
    if (m_found > kPrintedRows) {
        tell(u"印刷できるのは %1 件までです（該当 %2 件）。条件を絞るか、エクスポートしてください。"_s.arg(
            QLocale().toString(kPrintedRows), QLocale().toString(m_found)));
        return;
    }
    toolkit::trap(
        [this] {
            QList<report::Page> pages;
            {
                Waiting waiting;
                pages = printedPages();
            }
            report::Preview preview(pages, rptAudit().caption, this);
            const QString detail = u"監査記録 %1"_s.arg(conditionsText());
            preview.setRecorder([this, detail](const QString &action, const QString &file) {
                db::audit::append(m_connection, {action, file.isEmpty() ? detail : detail + u" → "_s + file, {}, {}});
            });
            preview.exec();
        },
        ledger::printSettingAnswers());
}

void frmAudit::exportRows()
{
    if (m_found > kSheetRows) {
        tell(u"表計算ソフトの 1 枚のシートに入るのは %1 行までです（該当 %2 件）。期間を分けてエクスポートしてください。"_s.arg(
            QLocale().toString(kSheetRows), QLocale().toString(m_found)));
        return;
    }
    const QString statement = db::audit::trailExportStatement(
        m_filter, ledger::exportTarget(u"C:\\ネモリア監査記録.xls"_s, u"監査記録"_s));
    ledger::exportRows(u"監査記録の %1 を Excel 形式 (.xlsx) のファイルにエクスポートします。"
                       u"開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？"_s.arg(conditionsText()),
                       statement, db::audit::trailCondition(m_filter).parameters);
}
