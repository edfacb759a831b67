#include "options/frmOptions.h"
#include "ui_frmOptions.h"

#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStringList>
#include <QTableView>

using toolkit::MessageBoxRequest;
using toolkit::MessageButtons;
using toolkit::MessageIcon;
using toolkit::MessageResult;

namespace {

struct ListSource
{
    const char16_t *tab;
    const char16_t *sql;
};

constexpr ListSource kListSources[] = {
    {u"診断名", u"SELECT * FROM `診断名(ICD10)` ORDER BY ICDコード"},
    {u"主治医", u"SELECT * FROM 主治医"},
    {u"部屋", u"SELECT * FROM 病室番号 ORDER BY 病室番号"},
    {u"ベッド", u"SELECT * FROM ベッド番号 ORDER BY ベッド番号"},
    {u"医薬品名", u"SELECT * FROM 医薬品情報 ORDER BY 医薬品名"},
    {u"服用方法", u"SELECT * FROM 服用方法"},
    {u"入院形態", u"SELECT * FROM 入院形態"},
    {u"介護度", u"SELECT * FROM 介護度"},
    {u"障害者等級", u"SELECT * FROM 障害者等級"},
    {u"扱別", u"SELECT * FROM 扱別"},
    {u"転帰", u"SELECT * FROM 転帰"},
    {u"性別", u"SELECT * FROM 性別"},
    {u"時間外頻度", u"SELECT * FROM 時間外頻度"},
};

MessageBoxRequest lastRowBox()
{
    MessageBoxRequest box;
    box.text = QStringLiteral("最下段の行は削除できません。");
    box.icon = MessageIcon::Exclamation;
    return box;
}

} // namespace

frmOptions::frmOptions(QWidget *parent)
    : toolkit::Form(parent)
    , ui(std::make_unique<Ui::frmOptions>())
{
    ui->setupUi(this);

    QGroupBox *const frames[kListCount] = {ui->Frame1, ui->Frame2, ui->Frame3, ui->Frame4, ui->Frame5,
                                           ui->Frame6, ui->Frame7, ui->Frame8, ui->Frame9, ui->Frame10,
                                           ui->Frame11, ui->Frame12, ui->Frame13};
    QTableView *const views[kListCount] = {ui->DataGrid1, ui->DataGrid2, ui->DataGrid3, ui->DataGrid4,
                                           ui->DataGrid5, ui->DataGrid6, ui->DataGrid7, ui->DataGrid8,
                                           ui->DataGrid9, ui->DataGrid10, ui->DataGrid11, ui->DataGrid12,
                                           ui->DataGrid13};
    for (int i = 0; i < kListCount; ++i) {
        CodeList &list = m_lists[size_t(i)];
        list.tab = QString::fromUtf16(kListSources[i].tab);
        list.frame = frames[i];
        list.grid = std::make_unique<toolkit::DataGrid>(views[i]);
        // The frame's enabled state, not the grid's own flag, is what makes a
        // list read-only; editing and the new-row line are always offered.
        list.grid->setEditable(true);
        list.grid->setAllowAddNew(true);
        toolkit::onFrameClicked(list.frame, [this, i] { toolkit::untrapped([this, i] { enableOnlyGrid(i); }); });
    }

    toolkit::setImeMode(ui->Text1, toolkit::ImeMode::On);
    toolkit::setImeMode(ui->Text2, toolkit::ImeMode::On);
    toolkit::setImeMode(ui->Text3, toolkit::ImeMode::Disable);
    toolkit::setImeMode(ui->Text4, toolkit::ImeMode::On);
    toolkit::setImeMode(ui->Text5, toolkit::ImeMode::Disable);
    const QString digitsAndHyphen = QStringLiteral("0123456789-");
    toolkit::setKeyFilter(ui->Text3, digitsAndHyphen);
    toolkit::setKeyFilter(ui->Text5, digitsAndHyphen);
    for (QLineEdit *box : {ui->Text1, ui->Text2, ui->Text3, ui->Text4, ui->Text5})
        box->installEventFilter(this);

    connect(ui->Check1, &QCheckBox::toggled, this, [this](bool advanced) {
        ui->SSTab1->setVisible(!advanced);
        ui->SSTab2->setVisible(advanced);
    });
    connect(ui->cmdDelete, &QPushButton::clicked, this, [this] {
        toolkit::trap([this] { deleteRow(); }, {{jet::err::GeneralFailure, lastRowBox(), {}, false}});
    });
    connect(ui->cmdApply, &QPushButton::clicked, this, [this] { toolkit::trap([this] { save(); }); });
    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { unload(); });
}

frmOptions::~frmOptions() = default;

QLineEdit *frmOptions::Text1() const
{
    return ui->Text1;
}

QLineEdit *frmOptions::Text2() const
{
    return ui->Text2;
}

QLineEdit *frmOptions::Text3() const
{
    return ui->Text3;
}

QLineEdit *frmOptions::Text4() const
{
    return ui->Text4;
}

QLineEdit *frmOptions::Text5() const
{
    return ui->Text5;
}

void frmOptions::onLoad()
{
    MessageBoxRequest unavailable;
    unavailable.text = QStringLiteral("データベース norva2000.mdb の取得に失敗しました。");
    unavailable.icon = MessageIcon::Critical;
    toolkit::trap([this] { openData(); }, {{jet::err::ColumnMissing, unavailable, {}, true}});
}

void frmOptions::openData()
{
    ui->Check1->setChecked(false);
    ui->SSTab1->setVisible(true);
    ui->SSTab2->setVisible(false);
    disableAllGrids();

    db::openWindowConnection(m_connection, toolkit::platform().programFolder());

    m_hospital.open(QStringLiteral("SELECT * FROM 病院名"), &m_connection);
    m_binding.setRecordset(&m_hospital);
    m_binding.bindText(ui->Text1, QStringLiteral("病院名"));
    m_binding.bindText(ui->Text3, QStringLiteral("郵便番号"));
    m_binding.bindText(ui->Text4, QStringLiteral("所在地"));
    m_binding.bindText(ui->Text5, QStringLiteral("電話番号"));
    m_binding.bindText(ui->Text2, QStringLiteral("診療担当科名"));

    for (int i = 0; i < kListCount; ++i) {
        CodeList &list = m_lists[size_t(i)];
        list.recordset.open(QString::fromUtf16(kListSources[i].sql), &m_connection);
        list.grid->setRecordset(&list.recordset);
    }
}

void frmOptions::onUnload(bool &cancel)
{
    Q_UNUSED(cancel)
    toolkit::trap([this] { saveAndClose(); });
}

bool frmOptions::eventFilter(QObject *watched, QEvent *event)
{
    // Typing into the hospital's boxes must not leave a list open for editing
    // behind them, or the delete button would act on a list out of sight.
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QLineEdit *>(watched))
        disableAllGrids();
    return toolkit::Form::eventFilter(watched, event);
}

void frmOptions::enableOnlyGrid(int list)
{
    for (int i = 0; i < kListCount; ++i)
        m_lists[size_t(i)].grid->view()->setEnabled(i == list);
}

void frmOptions::disableAllGrids()
{
    enableOnlyGrid(-1);
}

void frmOptions::deleteRow()
{
    CodeList *target = nullptr;
    for (CodeList &list : m_lists) {
        if (list.grid->view()->isEnabled()) {
            target = &list;
            break;
        }
    }
    if (!target) {
        MessageBoxRequest refused;
        refused.text = QStringLiteral("削除できません。");
        toolkit::platform().messageBox(refused);
        return;
    }

    MessageBoxRequest ask;
    ask.title = QStringLiteral("削除");
    ask.text = QStringLiteral("削除しますか？");
    ask.icon = MessageIcon::Question;
    ask.buttons = MessageButtons::YesNo;
    if (toolkit::platform().messageBox(ask) != MessageResult::Yes)
        return;
    if (target->grid->isOnNewRow()) {
        toolkit::platform().messageBox(lastRowBox());
        return;
    }
    target->recordset.deleteCurrent();
}

jet::Recordset &frmOptions::recordsetAt(int index)
{
    return index == 0 ? m_hospital : m_lists[size_t(index - 1)].recordset;
}

QString frmOptions::captionOf(int index) const
{
    return index == 0 ? ui->SSTab1->tabText(0) : m_lists[size_t(index - 1)].tab;
}

bool frmOptions::hasPendingChange(int index) const
{
    const jet::Recordset &recordset = index == 0 ? m_hospital : m_lists[size_t(index - 1)].recordset;
    return recordset.isOpen() && recordset.editMode() != jet::EditMode::None;
}

void frmOptions::savePending(int index)
{
    if (index == 0)
        m_binding.commitEdits();
    else
        m_lists[size_t(index - 1)].grid->commitCellEdit();
    recordsetAt(index).update();
}

void frmOptions::save()
{
    for (int i = 0; i <= kListCount; ++i) {
        try {
            savePending(i);
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::GeneralFailure)
                throw;
            // The saves stop here, so the later lists' edits are still only
            // in the window: name them too.
            QList<int> unsaved{i};
            for (int later = i + 1; later <= kListCount; ++later) {
                if (hasPendingChange(later))
                    unsaved.append(later);
            }
            warnNotSaved(unsaved, e.description());
            return;
        }
    }
}

void frmOptions::saveAndClose()
{
    // One list that cannot be written must not cost the others their edits:
    // every list is tried, and the user learns which ones are lost before the
    // window goes.
    QList<int> failed;
    QString reason;
    for (int i = 0; i <= kListCount; ++i) {
        try {
            savePending(i);
            recordsetAt(i).moveLast();
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::GeneralFailure)
                throw;
            failed.append(i);
            if (reason.isEmpty())
                reason = e.description();
        }
    }
    if (!failed.isEmpty())
        warnNotSaved(failed, reason);

    for (int i = 0; i <= kListCount; ++i)
        recordsetAt(i).close();
    m_connection.close();
}

void frmOptions::warnNotSaved(const QList<int> &indexes, const QString &reason)
{
    QStringList names;
    for (int index : indexes)
        names.append(QStringLiteral("「%1」").arg(captionOf(index)));
    MessageBoxRequest box;
    box.text = QStringLiteral("%1の変更を保存できませんでした。").arg(names.join(QStringLiteral("、")));
    if (!reason.isEmpty())
        box.text += QLatin1Char('\n') + reason;
    box.icon = MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
}
