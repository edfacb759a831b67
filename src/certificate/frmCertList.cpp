#include "certificate/frmCertList.h"
#include "ui_frmCertList.h"

#include "app/navigation.h"
#include "certificate/certificatewindow.h"
#include "certificate/frmCertToday.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "ledger/reports.h"
#include "report/launch.h"
#include "toolkit/errortrap.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

#include <QHeaderView>
#include <QMenu>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;
using certificates::Certificate;
using certificates::Kind;

namespace {

QString validityText(const certificates::Validity &validity)
{
    if (!validity.from.isValid() && !validity.to.isValid())
        return {};
    return toolkit::formatDate(validity.from, {}) + u"～"_s + toolkit::formatDate(validity.to, {});
}

} // namespace

frmCertList::frmCertList(QWidget *parent)
    : toolkit::Form(parent)
    , ui(std::make_unique<Ui::frmCertList>())
{
    ui->setupUi(this);
    auto *kinds = new QMenu(ui->cmdNew);
    kinds->addActions({ui->mnuNewMedical, ui->mnuNewHandbook, ui->mnuNewBoth});
    ui->cmdNew->setMenu(kinds);
    ui->grdCertificates->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(ui->mnuNewMedical, &QAction::triggered, this, [this] { create(true, false); });
    connect(ui->mnuNewHandbook, &QAction::triggered, this, [this] { create(false, true); });
    connect(ui->mnuNewBoth, &QAction::triggered, this, [this] { create(true, true); });
    connect(ui->cmdCopy, &QPushButton::clicked, this, [this] { copyFromLast(); });
    connect(ui->cmdOpen, &QPushButton::clicked, this, [this] { open(); });
    connect(ui->grdCertificates, &QTableWidget::cellDoubleClicked, this, [this] { open(); });
    connect(ui->cmdPrint, &QPushButton::clicked, this, [this] { print(); });
    connect(ui->cmdIssue, &QPushButton::clicked, this, [this] { issue(); });
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmCertList::~frmCertList() = default;

void frmCertList::onLoad()
{
    toolkit::untrapped([this] { openData(); });
}

jet::Connection &frmCertList::trailConnection()
{
    return m_connection;
}

db::audit::Event frmCertList::openingEvent() const
{
    return {db::audit::action::Opening.toString(), windowTitle(), m_chart, {}};
}

void frmCertList::openData()
{
    m_chart = app::takeHanded(app::window::CertificateList).toInt();
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_book = std::make_unique<certificates::CertificateBook>(m_connection);
    jet::Recordset patient;
    patient.openCommand(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = ?"_s, &m_connection, {m_chart},
                        jet::CursorType::ForwardOnly);
    m_name = patient.eof() ? QString() : patient.value(0).toString();
    setWindowTitle(m_name + u" - 診断書の一覧"_s);
    refresh();
}

void frmCertList::refresh(int select)
{
    const QList<Certificate> list = m_book->ofPatient(m_chart);
    QTableWidget *grid = ui->grdCertificates;
    grid->setRowCount(0);
    for (const Certificate &c : list) {
        QStringList kinds;
        QStringList validity;
        for (Kind kind : c.kinds()) {
            kinds << certificates::kindName(kind);
            const QString v = validityText(kind == Kind::Medical ? c.medicalValidity : c.handbookValidity);
            if (!v.isEmpty())
                validity << certificates::kindName(kind) + u' ' + v;
        }
        QString status = c.status == certificates::Status::Issued ? u"発行済み"_s : u"下書き"_s;
        if (c.version > 1)
            status += u"（第%1版）"_s.arg(c.version);
        const int row = grid->rowCount();
        grid->insertRow(row);
        const QStringList cells{kinds.join(u'・'), toolkit::formatDate(c.written, {}), c.physicianName, status,
                                validity.join(u"、"_s)};
        for (int column = 0; column < cells.size(); ++column) {
            auto *cell = new QTableWidgetItem(cells.at(column));
            cell->setData(Qt::UserRole, c.id);
            grid->setItem(row, column, cell);
        }
        if (c.id == select || (select == 0 && row == 0))
            grid->selectRow(row);
    }
    const bool any = grid->rowCount() > 0;
    for (QWidget *button : {static_cast<QWidget *>(ui->cmdCopy), static_cast<QWidget *>(ui->cmdOpen),
                            static_cast<QWidget *>(ui->cmdPrint), static_cast<QWidget *>(ui->cmdIssue)})
        button->setEnabled(any);
}

int frmCertList::chosen() const
{
    const QTableWidgetItem *cell = ui->grdCertificates->item(ui->grdCertificates->currentRow(), 0);
    return cell ? cell->data(Qt::UserRole).toInt() : 0;
}

// A draft the book makes opens in the certificate's window; one it refuses
// is told under `refused`, and nothing opens.
void frmCertList::write(const std::function<Certificate(const QDate &today)> &make, const QString &refused)
{
    std::optional<Certificate> draft;
    toolkit::trap([&] { draft = make(toolkit::platform().now().date()); }, certificate::bookRefusals(refused));
    if (!draft)
        return;
    toolkit::untrapped([&] { app::showModal(app::window::TodayCertificate, QVariant::fromValue(*draft)); });
    refresh();
}

void frmCertList::create(bool medical, bool handbook)
{
    write([&](const QDate &today) { return m_book->create(m_chart, medical, handbook, today); },
          u"診断書を作成できません。"_s);
}

// The certificate renewed is the last of the chosen row's kinds: a patient
// due for the 自立支援医療 renewal may hold a newer 手帳 certificate.  What
// the last certificate said and the current form has no place for is shown
// before the draft opens, so the physician writes it anew where it belongs
// instead of losing it unseen.
void frmCertList::copyFromLast()
{
    write(
        [this](const QDate &today) {
            QList<Kind> kinds;
            if (const int id = chosen())
                kinds = m_book->read(id).kinds();
            QStringList unplaced;
            Certificate draft = m_book->copyFromLast(m_chart, today, kinds, &unplaced);
            if (!unplaced.isEmpty()) {
                toolkit::MessageBoxRequest box;
                box.text = u"前回の診断書の次の記載は、現在の様式に記入する欄がないため、新しい診断書に引き継いでいません。"
                           u"必要なものは、該当する欄に記入し直してください。\n\n"_s
                    + u"・"_s + unplaced.join(u"\n・"_s);
                box.icon = toolkit::MessageIcon::Information;
                toolkit::platform().messageBox(box);
            }
            return draft;
        },
        u"前回の診断書から作成できません。"_s);
}

void frmCertList::open()
{
    const int id = chosen();
    if (id == 0)
        return;
    toolkit::untrapped([id] { app::showModal(app::window::TodayCertificate, id); });
    refresh(id);
}

// Each kind on its own form; a prefecture's combined form prints once for both.
void frmCertList::print()
{
    const int id = chosen();
    if (id == 0)
        return;
    toolkit::trap(
        [&] {
            const Certificate c = m_book->read(id);
            const certificates::Variant *variant = certificates::FormCatalog::instance().variant(c.variant);
            const bool combined = variant && variant->combinedForm && c.handbook;
            const report::Institution hospital = ledger::institution();
            if (c.medical && !combined)
                report::showDocument(u"rptJiritsuToday"_s, id, m_name + u" - 自立支援医療（精神通院医療）診断書"_s, hospital,
                                     false);
            if (c.handbook)
                report::showDocument(u"rptTechoToday"_s, id, m_name + u" - 精神障害者保健福祉手帳用診断書"_s, hospital,
                                     false);
        },
        ledger::printSettingAnswers() + certificate::bookRefusals(u"診断書を印刷できません。"_s));
}

void frmCertList::issue()
{
    const int id = chosen();
    if (id == 0)
        return;
    toolkit::trap(
        [&] {
            const Certificate c = m_book->read(id);
            if (c.status == certificates::Status::Issued)
                throw jet::Error(certificates::kIssuedRefused, u"この診断書は発行済みです。"_s);
            QStringList lines{u"%1の診断書（記載日 %2）を発行済みにします。発行済みの診断書は変更できなくなり、"
                              u"直すときは訂正版を作成します。"_s.arg(
                                  c.kinds().size() > 1 ? u"自立支援医療・手帳"_s : certificates::kindName(c.kinds().first()),
                                  toolkit::formatDate(c.written, {}))};
            for (const certificates::DiagnosisOutside &outside : certificates::outsideMedicalRange(c))
                lines << outside.message();
            lines << u"発行済みにしますか？"_s;
            toolkit::MessageBoxRequest ask;
            ask.text = lines.join(u'\n');
            ask.icon = toolkit::MessageIcon::Question;
            ask.buttons = toolkit::MessageButtons::YesNo;
            if (toolkit::platform().messageBox(ask) != toolkit::MessageResult::Yes)
                return;
            m_book->issue(id, toolkit::platform().now().date());
        },
        certificate::bookRefusals(u"発行済みにできません。"_s));
    refresh(id);
}

void frmCertList::onUnload(bool &)
{
    m_book.reset();
    m_connection.close();
}
