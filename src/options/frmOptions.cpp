#include "options/frmOptions.h"
#include "ui_frmOptions.h"

#include "db/check.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/conflictbox.h"
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

using namespace Qt::StringLiterals;
using toolkit::MessageBoxRequest;
using toolkit::MessageButtons;
using toolkit::MessageIcon;
using toolkit::MessageResult;

namespace {

// A clinical table's columns that hold a list's IDs, and what one of its rows
// is to the user.
struct Reference
{
    QString table;
    QStringList columns;
    QString counted; // "%1" stands for the number of rows
};

struct ListSource
{
    QString tab;
    QString sql;
    QList<Reference> references;
};

Reference episodeColumns(const QStringList &columns)
{
    return {QStringLiteral("入退院情報"), columns, QStringLiteral("入院・外来の記録 %1 件")};
}

Reference patientColumns(const QStringList &columns)
{
    return {QStringLiteral("患者情報"), columns, QStringLiteral("患者 %1 人")};
}

const QList<ListSource> &listSources()
{
    static const QList<ListSource> sources{
        {u"診断名"_s, u"SELECT * FROM `診断名(ICD10)` ORDER BY ICDコード"_s,
         {patientColumns({u"診断名①"_s, u"診断名②"_s, u"診断名③"_s}),
          {u"`32条診断書`"_s, {u"主精神障害"_s, u"従精神障害"_s}, u"診断書 %1 件"_s}}},
        {u"主治医"_s, u"SELECT * FROM 主治医"_s, {episodeColumns({u"主治医①"_s, u"主治医②"_s})}},
        {u"部屋"_s, u"SELECT * FROM 病室番号 ORDER BY 病室番号"_s, {episodeColumns({u"病室番号"_s})}},
        {u"ベッド"_s, u"SELECT * FROM ベッド番号 ORDER BY ベッド番号"_s, {episodeColumns({u"ベッド番号"_s})}},
        {u"医薬品名"_s, u"SELECT * FROM 医薬品情報 ORDER BY 医薬品名"_s, {}},
        {u"服用方法"_s, u"SELECT * FROM 服用方法"_s, {}},
        {u"入院形態"_s, u"SELECT * FROM 入院形態"_s, {episodeColumns({u"入院形態"_s})}},
        {u"介護度"_s, u"SELECT * FROM 介護度"_s, {patientColumns({u"介護度"_s})}},
        {u"障害者等級"_s, u"SELECT * FROM 障害者等級"_s, {patientColumns({u"障害者等級"_s})}},
        {u"扱別"_s, u"SELECT * FROM 扱別"_s, {episodeColumns({u"扱別"_s})}},
        {u"転帰"_s, u"SELECT * FROM 転帰"_s, {episodeColumns({u"転帰"_s})}},
        {u"性別"_s, u"SELECT * FROM 性別"_s, {patientColumns({u"性別"_s})}},
        {u"時間外頻度"_s, u"SELECT * FROM 時間外頻度"_s, {episodeColumns({u"時間外頻度"_s})}},
    };
    return sources;
}

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
        list.tab = listSources().at(i).tab;
        list.frame = frames[i];
        list.grid = std::make_unique<toolkit::DataGrid>(views[i]);
        // The frame's enabled state, not the grid's own flag, is what makes a
        // list read-only; editing and the new-row line are always offered.
        list.grid->setEditable(true);
        list.grid->setAllowAddNew(true);
        // A damaged file surfaces as the user moves between rows; the window
        // stays, but the box says what the administrator has to do.
        list.grid->model()->setErrorHandler([this, i](const jet::Error &error) { answerRowStore(i + 1, error); });
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
        list.recordset.open(listSources().at(i).sql, &m_connection);
        list.grid->setRecordset(&list.recordset);
        list.grid->view()->resizeColumnsToContents();
    }
}

void frmOptions::onUnload(bool &cancel)
{
    if (!toolkit::discardingEdits())
        toolkit::trap([this, &cancel] { cancel = !saveAndClose(); });
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

    if (!target->grid->isOnNewRow()) {
        const QString refusal = deletionRefusal(*target);
        if (!refusal.isEmpty()) {
            MessageBoxRequest refused;
            refused.text = refusal;
            refused.icon = MessageIcon::Exclamation;
            toolkit::platform().messageBox(refused);
            return;
        }
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

// Every list's first column is its ID and its second what the list shows.
// Row 1, "-", means "not set"; a row that episodes, patients or certificates
// still name would take them out of every list that joins the code tables.
QString frmOptions::deletionRefusal(CodeList &list)
{
    const QVariant id = list.recordset.value(0);
    const QString shown = list.recordset.value(1).toString();
    if (id.toLongLong() == 1)
        return QStringLiteral("「%1」は「未設定」を表す行のため、削除できません。").arg(shown);

    const ListSource &source = listSources().at(&list - m_lists.data());
    QStringList users;
    for (const Reference &reference : source.references) {
        QStringList conditions;
        for (const QString &column : reference.columns)
            conditions.append(QStringLiteral("[%1] = %2").arg(column).arg(id.toLongLong()));
        jet::Recordset count;
        count.open(QStringLiteral("SELECT Count(*) FROM %1 WHERE %2")
                       .arg(reference.table, conditions.join(QStringLiteral(" OR "))),
                   &m_connection);
        if (const int n = count.value(0).toInt(); n > 0)
            users.append(reference.counted.arg(n));
    }
    if (users.isEmpty())
        return QString();
    return QStringLiteral("「%1」は%2で使われているため、削除できません。")
        .arg(shown, users.join(QStringLiteral("、")));
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
    // Another workstation's change of the same values is put to the user;
    // going back leaves the change pending, raised as it came.
    jet::Recordset &recordset = recordsetAt(index);
    for (;;) {
        try {
            recordset.update();
            return;
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::DataChanged)
                throw;
            QList<toolkit::ChangedField> fields;
            for (const jet::FieldConflict &conflict : recordset.conflicts())
                fields.append({QStringLiteral("%1：%2").arg(captionOf(index), recordset.field(conflict.field).name),
                               conflict.stored.toString(), conflict.pending.toString()});
            if (!toolkit::settleChangedFields(recordset, fields))
                throw;
        }
    }
}

// A list's row is stored as the user leaves it, and answered as the buttons'
// saves answer: another workstation's change of the same cells is put to the
// user (going back leaves the row pending), a deleted row is said to be gone.
// The grid stays on the row it stored.
void frmOptions::answerRowStore(int index, const jet::Error &error)
{
    if (error.number() == jet::err::DataChanged) {
        try {
            savePending(index);
        } catch (const jet::Error &again) {
            if (again.number() != jet::err::DataChanged)
                answerRowStore(index, again);
        }
        return;
    }
    if (error.number() == jet::err::RecordDeleted) {
        toolkit::trap([this, index] { reloadDeleted(index); });
        return;
    }
    MessageBoxRequest box;
    box.text = error.description();
    if (error.cause() == jet::Cause::Corrupt)
        box.text += QLatin1Char('\n') + db::damagedFileAdvice();
    box.icon = MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
}

// Only this list is read again: the other lists and the hospital's boxes
// keep what the user typed there.
void frmOptions::reloadDeleted(int index)
{
    MessageBoxRequest box;
    box.text = QStringLiteral("「%1」の行は、この画面を開いている間にほかの端末で削除されたため、保存できませんでした。\r"
                              "一覧を読み込み直します。ほかの一覧の変更はそのまま残っています。")
                   .arg(captionOf(index));
    box.icon = MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
    jet::Recordset &recordset = recordsetAt(index);
    recordset.cancelUpdate();
    recordset.requery();
}

// Whether the error leaves the change in the window, the window carrying on.
static bool keepsTheChange(const jet::Error &e)
{
    return e.number() == jet::err::GeneralFailure || e.number() == jet::err::RecordDeleted;
}

void frmOptions::save()
{
    for (int i = 0; i <= kListCount; ++i) {
        try {
            savePending(i);
        } catch (const jet::Error &e) {
            if (e.number() == jet::err::DataChanged)
                return; // the user went back to the window
            if (e.number() == jet::err::RecordDeleted && i > 0) {
                reloadDeleted(i);
                continue;
            }
            if (!keepsTheChange(e))
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

bool frmOptions::saveAndClose()
{
    // One list that cannot be written must not cost the others their edits:
    // every list is tried, and the user learns which ones are lost before the
    // window goes.  A user who went back from another workstation's change
    // keeps the window.
    QList<int> failed;
    QString reason;
    bool back = false;
    for (int i = 0; i <= kListCount; ++i) {
        try {
            savePending(i);
            recordsetAt(i).moveLast();
        } catch (const jet::Error &e) {
            if (e.number() == jet::err::DataChanged) {
                back = true;
                continue;
            }
            if (!keepsTheChange(e))
                throw;
            failed.append(i);
            if (reason.isEmpty())
                reason = e.description();
        }
    }
    if (!failed.isEmpty())
        warnNotSaved(failed, reason);
    if (back)
        return false;

    for (int i = 0; i <= kListCount; ++i)
        recordsetAt(i).close();
    m_connection.close();
    return true;
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
