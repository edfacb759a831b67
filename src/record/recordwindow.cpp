#include "record/recordwindow.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/episodes.h"
#include "db/location.h"
#include "db/sessionrights.h"
#include "record/Imecomp.h"
#include "record/frmHistory.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"
#include "toolkit/rowfollower.h"
#include "toolkit/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStatusBar>

#include <algorithm>
#include <stdexcept>

namespace record {

namespace {

const QString kContactCharacters = QStringLiteral("0123456789-");
const QString kDateCharacters = QStringLiteral("0123456789/");
const QString kChangedElsewhere = QStringLiteral("この患者のデータは他の端末で変更されました。");

// The entry hint of a date field lives exactly while the field has the focus.
class HintOnFocus : public QObject
{
public:
    HintOnFocus(QWidget *box, const QString &hint, std::function<void(const QString &)> show)
        : QObject(box), m_hint(hint), m_show(std::move(show))
    {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn)
            m_show(m_hint);
        else if (event->type() == QEvent::FocusOut)
            m_show(QString());
        return QObject::eventFilter(watched, event);
    }

private:
    QString m_hint;
    std::function<void(const QString &)> m_show;
};

// What a control of a given name is bound to in every record window that
// has it; a code combo also names its list.
struct ControlColumn
{
    QString column;
    QString listSql;
    QString boundColumn;
    QString listColumn;
    QString displayFormat;
};

ControlColumn codeColumn(const QString &column, const QString &table, const QString &id)
{
    return {column, QStringLiteral("SELECT * FROM ") + table, id, table, {}};
}

const QHash<QString, ControlColumn> &controlColumns()
{
    static const QHash<QString, ControlColumn> columns = [] {
        const QString diagnoses = kDiagnosisListSql.toString();
        const auto diagnosis = [&diagnoses](const QString &column) {
            return ControlColumn{column, diagnoses, QStringLiteral("診断ID"), QStringLiteral("診断"), {}};
        };
        QHash<QString, ControlColumn> c;
        const auto text = [&c](const QString &control, const QString &column) { c.insert(control, {column, {}, {}, {}, {}}); };
        c.insert(QStringLiteral("DataCombo1"), codeColumn(QStringLiteral("入院形態"), QStringLiteral("入院形態"), QStringLiteral("入院形態ID")));
        c.insert(QStringLiteral("DataCombo2"), codeColumn(QStringLiteral("性別"), QStringLiteral("性別"), QStringLiteral("性別ID")));
        c.insert(QStringLiteral("DataCombo3"), codeColumn(QStringLiteral("病室番号"), QStringLiteral("病室番号"), QStringLiteral("病室ID")));
        c.insert(QStringLiteral("DataCombo4"), codeColumn(QStringLiteral("ベッド番号"), QStringLiteral("ベッド番号"), QStringLiteral("ベッドID")));
        c.insert(QStringLiteral("DataCombo5"), codeColumn(QStringLiteral("主治医①"), QStringLiteral("主治医"), QStringLiteral("主治医ID")));
        c.insert(QStringLiteral("DataCombo6"), codeColumn(QStringLiteral("主治医②"), QStringLiteral("主治医"), QStringLiteral("主治医ID")));
        c.insert(QStringLiteral("DataCombo7"), diagnosis(QStringLiteral("診断名①")));
        c.insert(QStringLiteral("DataCombo8"), diagnosis(QStringLiteral("診断名②")));
        c.insert(QStringLiteral("DataCombo9"), diagnosis(QStringLiteral("診断名③")));
        c.insert(QStringLiteral("DataCombo10"), codeColumn(QStringLiteral("介護度"), QStringLiteral("介護度"), QStringLiteral("介護度ID")));
        c.insert(QStringLiteral("DataCombo11"), codeColumn(QStringLiteral("障害者等級"), QStringLiteral("障害者等級"), QStringLiteral("障害者等級ID")));
        c.insert(QStringLiteral("DataCombo12"), codeColumn(QStringLiteral("転帰"), QStringLiteral("転帰"), QStringLiteral("転帰ID")));
        c.insert(QStringLiteral("DataCombo13"), codeColumn(QStringLiteral("扱別"), QStringLiteral("扱別"), QStringLiteral("扱別ID")));
        c.insert(QStringLiteral("DataCombo14"), codeColumn(QStringLiteral("時間外頻度"), QStringLiteral("時間外頻度"), QStringLiteral("時間外頻度ID")));
        text(QStringLiteral("Text1"), QStringLiteral("入退院情報.入退院ID"));
        text(QStringLiteral("Text2"), QStringLiteral("氏名"));
        text(QStringLiteral("Text3"), QStringLiteral("患者情報.カルテID"));
        text(QStringLiteral("Text4"), QStringLiteral("かな氏名"));
        text(QStringLiteral("Text5"), QStringLiteral("生年月日"));
        text(QStringLiteral("Text6"), QStringLiteral("入院日"));
        text(QStringLiteral("Text7"), QStringLiteral("退院日"));
        text(QStringLiteral("Text8"), QStringLiteral("一時診断名"));
        text(QStringLiteral("Text9"), QStringLiteral("現病歴"));
        c.insert(QStringLiteral("Text10"), {QStringLiteral("郵便番号"), {}, {}, {}, QStringLiteral("000\\-0000;;_")});
        text(QStringLiteral("Text11"), QStringLiteral("住所"));
        text(QStringLiteral("Text12"), QStringLiteral("電話番号"));
        text(QStringLiteral("Text13"), QStringLiteral("キーパーソン"));
        text(QStringLiteral("Text14"), QStringLiteral("家族歴・家族構成・遺伝負因"));
        text(QStringLiteral("Text15"), QStringLiteral("生育歴・学歴・職歴"));
        text(QStringLiteral("Text16"), QStringLiteral("性格・気質"));
        text(QStringLiteral("Text17"), QStringLiteral("既往歴"));
        text(QStringLiteral("Text18"), QStringLiteral("入院回数"));
        text(QStringLiteral("Text19"), QStringLiteral("保険"));
        text(QStringLiteral("Text20"), QStringLiteral("特定疾患内容"));
        text(QStringLiteral("Text21"), QStringLiteral("備考"));
        text(QStringLiteral("Text22"), QStringLiteral("検査(血液・生化・尿他)"));
        text(QStringLiteral("Text23"), QStringLiteral("検査(脳波)"));
        text(QStringLiteral("Text24"), QStringLiteral("検査(レントゲン)"));
        text(QStringLiteral("Text25"), QStringLiteral("検査(ＣＴ)"));
        text(QStringLiteral("Text26"), QStringLiteral("検査(ＭＲＩ)"));
        text(QStringLiteral("Text27"), QStringLiteral("検査(ＳＰＥＣＴ)"));
        text(QStringLiteral("Text28"), QStringLiteral("検査(心理検査)"));
        text(QStringLiteral("Text29"), QStringLiteral("検査(その他)"));
        text(QStringLiteral("Text30"), QStringLiteral("個別注意事項"));
        text(QStringLiteral("Text31"), QStringLiteral("入院計画病名"));
        text(QStringLiteral("Text32"), QStringLiteral("主訴・症状"));
        text(QStringLiteral("Text33"), QStringLiteral("入院計画"));
        text(QStringLiteral("Text34"), QStringLiteral("検査内容"));
        text(QStringLiteral("Text35"), QStringLiteral("推定入院期間"));
        text(QStringLiteral("Text36"), QStringLiteral("入院後経過"));
        text(QStringLiteral("Text39"), QStringLiteral("退院計画"));
        text(QStringLiteral("Text40"), QStringLiteral("退院時処方"));
        text(QStringLiteral("Text41"), QStringLiteral("退院後留意点"));
        text(QStringLiteral("Text42"), QStringLiteral("退院後サービス"));
        text(QStringLiteral("Text43"), QStringLiteral("入院中の診断書発行"));
        text(QStringLiteral("Check1"), QStringLiteral("32条申請"));
        text(QStringLiteral("Check2"), QStringLiteral("介護保険申請"));
        text(QStringLiteral("Check3"), QStringLiteral("障害者手帳申請"));
        text(QStringLiteral("Check4"), QStringLiteral("特定疾患申請"));
        text(QStringLiteral("Check5"), QStringLiteral("入院中の自殺企図"));
        text(QStringLiteral("Check6"), QStringLiteral("入院中の保護室使用"));
        text(QStringLiteral("Check7"), QStringLiteral("入院中のＥＳＴ"));
        return c;
    }();
    return columns;
}

// The text fields of a window, not the edit boxes inside its combos.
QList<QWidget *> textFields(const QWidget *window)
{
    QList<QWidget *> fields;
    for (QLineEdit *box : window->findChildren<QLineEdit *>()) {
        if (!qobject_cast<QComboBox *>(box->parentWidget()))
            fields << box;
    }
    for (QPlainTextEdit *box : window->findChildren<QPlainTextEdit *>())
        fields << box;
    return fields;
}

} // namespace

RecordWindow::RecordWindow(const QString &ledger, QWidget *parent)
    : toolkit::Form(parent), m_ledger(ledger), m_binding(std::make_unique<toolkit::RecordBinding>())
{
}

RecordWindow::~RecordWindow() = default;

jet::Recordset &RecordWindow::data()
{
    return m_data;
}

toolkit::RecordBinding &RecordWindow::binding()
{
    return *m_binding;
}

toolkit::StatusPanels *RecordWindow::statusPanels() const
{
    return m_status;
}

toolkit::DataCombo *RecordWindow::dataCombo(const QComboBox *box) const
{
    // A data combo is a child of its box.
    return box->findChild<toolkit::DataCombo *>(QString(), Qt::FindDirectChildrenOnly);
}

template <class T>
T *RecordWindow::control(const QString &name) const
{
    T *widget = findChild<T *>(name);
    if (!widget)
        throw std::logic_error(QStringLiteral("no control %1 in %2").arg(name, objectName()).toStdString());
    return widget;
}

void RecordWindow::setupPatientFields()
{
    setupNameFields(control<QLineEdit>(QStringLiteral("Text2")), control<QLineEdit>(QStringLiteral("Text4")));
    setupDateField(control<QLineEdit>(QStringLiteral("Text5")), kBirthDateHint);
    auto *postalCode = control<QLineEdit>(QStringLiteral("Text10"));
    postalCode->setMaxLength(8);
    setupContactField(postalCode);
    setupContactField(control<QLineEdit>(QStringLiteral("Text12")));
    enableWhileChecked(control<QCheckBox>(QStringLiteral("Check2")), control<QWidget>(QStringLiteral("DataCombo10")));
    enableWhileChecked(control<QCheckBox>(QStringLiteral("Check3")), control<QWidget>(QStringLiteral("DataCombo11")));
    enableWhileChecked(control<QCheckBox>(QStringLiteral("Check4")), control<QWidget>(QStringLiteral("Text20")));
}

void RecordWindow::setupFieldFonts()
{
    const QFont field = toolkit::japaneseFont(12);
    for (QWidget *box : textFields(this))
        box->setFont(field);
    for (QComboBox *box : findChildren<QComboBox *>())
        box->setFont(field);
    const QFont fixed = toolkit::japaneseFixedFont(9);
    for (const QString &memo : controlRange(QStringLiteral("Text"), 14, 17) + QStringList{QStringLiteral("Text21")}
             + controlRange(QStringLiteral("Text"), 22, 29)) {
        if (auto *box = findChild<QPlainTextEdit *>(memo))
            box->setFont(fixed);
    }
}

void RecordWindow::setImeOnExcept(const QList<QWidget *> &ownState)
{
    for (QWidget *box : textFields(this)) {
        if (!ownState.contains(box) && toolkit::imeMode(box) == toolkit::ImeMode::NoControl)
            toolkit::setImeMode(box, toolkit::ImeMode::On);
    }
}

void RecordWindow::setupStatusBar(QStatusBar *bar)
{
    using Kind = toolkit::StatusPanels::Kind;
    m_status = new toolkit::StatusPanels(bar, {Kind::Text, Kind::Time, Kind::Date});
}

void RecordWindow::setupNameFields(QLineEdit *name, QLineEdit *kana)
{
    toolkit::setImeMode(name, toolkit::ImeMode::On);
    toolkit::setImeMode(kana, toolkit::ImeMode::Hiragana);
    Imecomp::setKanaFilter(kana);
    Imecomp::attach(name, kana);
}

void RecordWindow::setupDateField(QLineEdit *box, const QString &hint)
{
    toolkit::setKeyFilter(box, kDateCharacters);
    new HintOnFocus(box, hint, [this](const QString &text) {
        if (m_status)
            m_status->setText(0, text);
    });
}

void RecordWindow::setupContactField(QLineEdit *box)
{
    toolkit::setKeyFilter(box, kContactCharacters);
    toolkit::setImeMode(box, toolkit::ImeMode::Disable);
}

void RecordWindow::enableWhileChecked(QCheckBox *box, QWidget *field)
{
    field->setEnabled(box->isChecked());
    connect(box, &QCheckBox::toggled, field, &QWidget::setEnabled);
}

void RecordWindow::setupMenus(QAction *save, QAction *close, QAction *helpIndex, QAction *about)
{
    m_save = save;
    connect(save, &QAction::triggered, this, [this] { toolkit::untrapped([this] { this->save(); }); });
    connect(close, &QAction::triggered, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(helpIndex, &QAction::triggered, this, [] { toolkit::openHelpIndex(); });
    connect(about, &QAction::triggered, this,
            [] { toolkit::untrapped([] { app::showModal(app::window::About); }); });
}

void RecordWindow::setupHistory(QAction *history)
{
    connect(history, &QAction::triggered, this, [this] {
        toolkit::untrapped([this] {
            const db::audit::Event shown = openingEvent();
            app::showModal(app::window::History, historyOf(shown.chart, shown.episode, windowTitle()));
        });
    });
}

void RecordWindow::useProgramHelpFile()
{
    toolkit::setProgramHelpFile(QDir(toolkit::platform().programFolder()).filePath(QStringLiteral("index.chm")));
    auto *key = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(key, &QShortcut::activated, this, [] { toolkit::openProgramHelp(); });
}

QList<accounts::Right> RecordWindow::rightsToEdit() const
{
    return {accounts::Right::EditRecords};
}

void RecordWindow::openConnection()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    const db::SessionRights rights = db::sessionRights(m_connection);
    const QList<accounts::Right> editing = rightsToEdit();
    m_readOnly = std::none_of(editing.cbegin(), editing.cend(), [&rights](accounts::Right right) { return rights.may(right); });
    if (!m_readOnly)
        return;
    if (m_save)
        m_save->setEnabled(false);
    if (m_status)
        m_status->setText(0, QStringLiteral("閲覧のみ（「%1」の権限がありません）").arg(accounts::rightName(editing.constFirst())));
}

jet::Connection &RecordWindow::connection()
{
    return m_connection;
}

QString RecordWindow::episodeFromLedger(const QString &ledger) const
{
    toolkit::Form *window = toolkit::findWindow(ledger);
    toolkit::DataGrid *grid = toolkit::DataGrid::of(window, QStringLiteral("DataGrid1"));
    if (!grid)
        throw jet::Error(jet::err::ObjectClosed,
                         QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    const int row = grid->currentRow();
    if (row < 0)
        throw jet::Error(jet::err::NoCurrentRecord,
                         QStringLiteral("BOF と EOF のいずれかが True になっているか、または現在のレコードが削除されています。"
                                        "要求された操作には、現在のレコードが必要です。"));
    return grid->value(row, QStringLiteral("入退院ID")).toString();
}

void RecordWindow::ensureCompanionRows(const QString &episode)
{
    bool isNumber = false;
    const qlonglong id = episode.toLongLong(&isNumber);
    if (isNumber && !m_readOnly)
        db::repairCompanionRows(m_connection, id);
}

void RecordWindow::openData(const QString &sql, jet::CursorType cursor)
{
    m_data.open(sql, &m_connection, cursor, jet::LockType::Optimistic);
    m_binding->setRecordset(&m_data);
    if (m_readOnly)
        m_binding->makeReadOnly();
    m_follower = std::make_unique<toolkit::RowFollower>(
        this, m_connection, m_data, *m_binding,
        QStringList{QStringLiteral("患者情報"), QStringLiteral("入退院情報"), QStringLiteral("検査情報")});
    connect(m_follower.get(), &toolkit::RowFollower::changedUnderEdits, this, [this] {
        if (m_status)
            m_status->setText(0, kChangedElsewhere);
    });
    connect(m_follower.get(), &toolkit::RowFollower::reloaded, this, [this] {
        if (m_status)
            m_status->setText(0, QString());
    });
}

jet::Connection &RecordWindow::trailConnection()
{
    return m_connection;
}

db::audit::Event RecordWindow::openingEvent() const
{
    db::audit::Event opened{db::audit::action::Opening.toString(), windowTitle(), {}, {}};
    if (m_data.isOpen() && !m_data.filter().isEmpty() && m_data.rowCount() > 0) {
        if (const QVariant chart = m_data.value(QStringLiteral("患者情報.カルテID")); !chart.isNull())
            opened.chart = chart.toLongLong();
        if (const QVariant episode = m_data.value(QStringLiteral("入退院情報.入退院ID")); !episode.isNull())
            opened.episode = episode.toLongLong();
    }
    return opened;
}

void RecordWindow::filterEpisode(const QString &episode)
{
    m_data.setFilter(QStringLiteral("入退院情報.入退院ID = '") + episode + QStringLiteral("'"));
}

void RecordWindow::bindControls(const QStringList &controls, const QHash<QString, QString> &displayFormats)
{
    for (const QString &name : controls) {
        const auto entry = controlColumns().constFind(name);
        if (entry == controlColumns().cend())
            throw std::logic_error(QStringLiteral("no column for the control %1").arg(name).toStdString());
        const ControlColumn &column = *entry;
        QWidget *widget = control<QWidget>(name);
        if (auto *combo = qobject_cast<QComboBox *>(widget))
            bindCombo(combo, column.column, column.listSql, column.boundColumn, column.listColumn);
        else if (auto *box = qobject_cast<QLineEdit *>(widget))
            bind(box, column.column, displayFormats.value(name, column.displayFormat));
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
            bind(memo, column.column);
        else if (auto *check = qobject_cast<QCheckBox *>(widget))
            bind(check, column.column);
        else
            throw std::logic_error(QStringLiteral("the control %1 cannot be bound").arg(name).toStdString());
    }
}

QStringList RecordWindow::controlRange(const QString &prefix, int first, int last)
{
    QStringList names;
    for (int i = first; i <= last; ++i)
        names << prefix + QString::number(i);
    return names;
}

QStringList RecordWindow::inpatientControls()
{
    return controlRange(QStringLiteral("Text"), 1, 6) + controlRange(QStringLiteral("DataCombo"), 1, 4)
        + QStringList{QStringLiteral("Text7"), QStringLiteral("DataCombo5"), QStringLiteral("DataCombo6")}
        + controlRange(QStringLiteral("Text"), 8, 17) + controlRange(QStringLiteral("DataCombo"), 7, 11)
        + controlRange(QStringLiteral("Text"), 18, 21) + controlRange(QStringLiteral("Check"), 1, 4)
        + QStringList{QStringLiteral("Text31"), QStringLiteral("Text35"), QStringLiteral("Text32"),
                      QStringLiteral("Text33"), QStringLiteral("Text34"), QStringLiteral("Text36")}
        + controlRange(QStringLiteral("Check"), 5, 7) + controlRange(QStringLiteral("Text"), 22, 29)
        + QStringList{QStringLiteral("DataCombo12"), QStringLiteral("DataCombo13"), QStringLiteral("Text43"),
                      QStringLiteral("Text39"), QStringLiteral("Text40"), QStringLiteral("Text41"),
                      QStringLiteral("Text42")};
}

void RecordWindow::bind(QLineEdit *box, const QString &column, const QString &displayFormat)
{
    m_binding->bindText(box, column, displayFormat);
}

void RecordWindow::bind(QPlainTextEdit *box, const QString &column)
{
    m_binding->bindText(box, column);
}

void RecordWindow::bind(QCheckBox *box, const QString &column)
{
    m_binding->bindCheck(box, column);
}

void RecordWindow::bindCombo(QComboBox *box, const QString &column, const QString &listSql,
                             const QString &boundColumn, const QString &listColumn)
{
    toolkit::DataCombo *combo = dataCombo(box);
    if (!combo)
        combo = new toolkit::DataCombo(box);
    // Row 1 of every code table is "-", "not set"; an episode holding Null
    // instead would drop out of every list that joins the code tables.
    combo->setEmptyValue(1);
    m_binding->bindCombo(combo, column);
    auto list = std::make_unique<jet::Recordset>();
    list->open(listSql, &m_connection, jet::CursorType::Static, jet::LockType::Optimistic);
    combo->setListSource(list.get(), boundColumn, listColumn);
    m_lists.push_back(std::move(list));
}

toolkit::ErrorTable RecordWindow::loadAnswers(bool oldSchemaAnswer)
{
    toolkit::ErrorTable answers{{jet::err::ColumnMissing,
                                 {.text = QStringLiteral("データベース norva2000.mdb の取得に失敗しました。"),
                                  .icon = toolkit::MessageIcon::Critical},
                                 {}}};
    if (oldSchemaAnswer)
        answers.append({jet::err::BindingColumnMissing,
                        {.text = QStringLiteral("データベースが古いため表示できません。コンバートしてください。"),
                         .icon = toolkit::MessageIcon::Critical},
                        {}});
    return answers;
}

void RecordWindow::loadUnder(const std::function<void()> &steps, bool oldSchemaAnswer)
{
    toolkit::trap(steps, loadAnswers(oldSchemaAnswer));
}

void RecordWindow::save()
{
    writeRow(QStringLiteral("正しくデータを入力されていないようです。"));
}

// A refused value is answered and left out, the other values stored all the
// same, and the box's second line says just that, naming the field; a row
// that cannot be written keeps the user's edits.
bool RecordWindow::writeRow(const QString &warning)
{
    const bool written = toolkit::saveBoundRow(*m_binding, warning, true);
    // Stored, the row is the one the other workstation left plus this one's
    // edits: the warning of its change has been answered.
    if (written && m_status && m_status->text(0) == kChangedElsewhere)
        m_status->setText(0, QString());
    return written;
}

// Closing, a refused date is named: the combos' wording would send the user
// looking for a list that holds nothing wrong.
QString RecordWindow::closingWarning(const QStringList &refused) const
{
    const bool dates = !refused.isEmpty() && std::all_of(refused.cbegin(), refused.cend(), [this](const QString &column) {
        const int index = m_data.fieldIndex(column);
        return index >= 0 && m_data.field(index).type == jet::DataType::Date;
    });
    return dates ? QStringLiteral("「%1」の日付が正しくありません。").arg(refused.join(QStringLiteral("」「")))
                 : QStringLiteral("コンボボックスのエラーが発生しました。");
}

void RecordWindow::closeData()
{
    // The fields keep what they show while the window goes: detaching by
    // showing an empty row would toggle the switches and run their handlers.
    m_follower.reset();
    m_binding.reset();
    m_data.close();
    m_lists.clear();
    m_connection.close();
}

void RecordWindow::onUnload(bool &cancel)
{
    if (toolkit::discardingEdits()) {
        closeData();
        return;
    }
    bool written = true;
    bool ledgerBack = true;
    toolkit::trap([&] {
        if (m_data.isOpen())
            written = toolkit::saveBoundRow(*m_binding, [this](const QStringList &refused) { return closingWarning(refused); },
                                            true, toolkit::SaveMoment::Closing);
        // The ledger loads before the window lets go of its row: a ledger
        // that cannot load (its server out of reach) leaves the user here
        // rather than in no window at all.
        if (written && app::isRegistered(m_ledger))
            ledgerBack = app::loadWindow(m_ledger) != nullptr;
        if (written && ledgerBack)
            closeData();
    });
    if (toolkit::programHasEnded())
        return;
    // The window stays open with the user's edits rather than lose them.
    if (!written || !ledgerBack) {
        cancel = true;
        return;
    }
    toolkit::untrapped([this] { app::showWindow(m_ledger); });
}

} // namespace record
