#include "certificate/certificatewindow.h"

#include "app/navigation.h"
#include "certificate/records/certificates.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"
#include "toolkit/rowfollower.h"
#include "toolkit/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace certificate {

namespace {

// The patient's row and the certificate row; the filter narrows the join to one chart.
const QString kCertificateSql = u"SELECT 患者情報.*, `32条診断書`.* FROM 患者情報, `32条診断書` "_s
                                u"WHERE 患者情報.カルテID = `32条診断書`.カルテID "_s
                                u"ORDER BY 患者情報.カルテID"_s;
const QString kDiagnosisListSql =
    u"SELECT 診断ID,診断名,ICDコード,ICDコード & ' ' & 診断名 AS 診断 FROM `診断名(ICD10)` ORDER BY ICDコード"_s;

struct GroupColumns
{
    ConditionGroup group;
    QStringList columns; // the box's, then each member's
};

const QList<GroupColumns> &groupColumns()
{
    static const QList<GroupColumns> groups{
        {{u"Check1"_s, {u"Check11"_s, u"Check12"_s, u"Check13"_s, u"Check14"_s, u"Text10"_s}},
         {u"○抑うつ状態"_s, u"思考運動抑制"_s, u"刺激性興奮"_s, u"憂うつ気分"_s, u"その他(抑うつ状態)チェック"_s,
          u"その他(抑うつ状態)"_s}},
        {{u"Check2"_s, {u"Check21"_s, u"Check22"_s, u"Check23"_s, u"Check24"_s, u"Text11"_s}},
         {u"○そう状態"_s, u"行為心迫"_s, u"多弁"_s, u"感情高揚刺激性"_s, u"その他(そう状態)チェック"_s,
          u"その他(そう状態)"_s}},
        {{u"Check3"_s, {u"Check31"_s, u"Check32"_s, u"Check33"_s, u"Text12"_s}},
         {u"○幻覚妄想状態"_s, u"幻覚"_s, u"妄想"_s, u"その他(幻覚妄想状態)チェック"_s, u"その他(幻覚妄想状態)"_s}},
        {{u"Check4"_s, {u"Check41"_s, u"Check42"_s, u"Check43"_s, u"Check44"_s, u"Text13"_s}},
         {u"○精神運動興奮"_s, u"興奮"_s, u"昏迷"_s, u"拒絶"_s, u"その他(精神運動興奮)チェック"_s,
          u"その他(精神運動興奮)"_s}},
        {{u"Check7"_s, {u"Check71"_s, u"Check72"_s, u"Check73"_s, u"Check74"_s, u"Text15"_s}},
         {u"○残遺症状"_s, u"自閉"_s, u"感情鈍麻"_s, u"意欲の減退"_s, u"その他(残遺症状)チェック"_s,
          u"その他(残遺症状)"_s}},
        {{u"Check9"_s, {u"Check10"_s, u"Check15"_s, u"Check16"_s, u"Check18"_s, u"Check17"_s, u"Text7"_s}},
         {u"○情動行動"_s, u"爆発性"_s, u"暴力衝動行為"_s, u"多動"_s, u"食行動異常"_s, u"その他(情動行動)チェック"_s,
          u"その他(情動行動)"_s}},
        {{u"Check19"_s, {u"Check20"_s, u"Check25"_s, u"Check26"_s, u"Text9"_s}},
         {u"○不安不隠"_s, u"不安恐怖"_s, u"強迫体験"_s, u"その他(不安不隠)チェック"_s, u"その他(不安不隠)"_s}},
        {{u"Check5"_s, {u"Check51"_s, u"Check52"_s, u"Check56"_s, u"Text14"_s}},
         {u"○痙攣意識障害"_s, u"痙攣"_s, u"意識障害"_s, u"その他(痙攣意識障害)チェック"_s, u"その他(痙攣意識障害)"_s}},
        {{u"Check8"_s, {u"Check81"_s, u"Check82"_s, u"Check83"_s, u"Check27"_s, u"Text16"_s}},
         {u"○乱用依存"_s, u"アルコール"_s, u"覚せい剤"_s, u"有機溶剤"_s, u"その他(乱用依存)チェック"_s,
          u"その他(乱用依存)"_s}},
        {{u"Check6"_s, {u"Check61"_s, u"Check65"_s, u"Check64"_s, u"Check63"_s, u"Check62"_s}},
         {u"○知能障害"_s, u"精神遅滞"_s, u"軽度"_s, u"中度"_s, u"重度"_s, u"痴呆"_s}},
    };
    return groups;
}

// The rest of the row is stored all the same, so the box says so; the window
// that stays open shows which field went back, the one that closes names it.
const QString kComboWarning = u"コンボボックスに任意の文字を入力したためにエラーとなりました。"_s;

// As in the patient's record window.
const QString kChangedElsewhere = u"この患者のデータは他の端末で変更されました。"_s;
const QString kPostalCodeCharacters = u"0123456789-"_s;
constexpr int kPostalCodeLength = 8;

} // namespace

QList<Field> illnessFields(const QList<Field> &afterOnset)
{
    return QList<Field>{{u"Text2"_s, u"氏名"_s},
                        {u"Text3"_s, u"生年月日"_s, u"ggge年m月d日"_s},
                        {u"Text4"_s, u"郵便番号"_s, u"000-0000"_s},
                        {u"Text5"_s, u"住所"_s},
                        {u"Text6"_s, u"身体合併症"_s, {}, 42},
                        {u"Text24"_s, u"推定発病時期"_s, {}, kOnsetLength}}
        + afterOnset + QList<Field>{{u"Text8"_s, u"病歴および経過など0"_s, {}, 480}};
}

QList<Field> closingFields()
{
    return {{u"Text21"_s, u"福祉サービス"_s, {}, 288},
            {u"Text22"_s, u"備考0"_s, {}, 288},
            {u"Text23"_s, u"医師氏名"_s, {}, kPhysicianLength}};
}

const QList<ConditionGroup> &conditionGroups()
{
    static const QList<ConditionGroup> groups = [] {
        QList<ConditionGroup> list;
        for (const GroupColumns &g : groupColumns())
            list.append(g.group);
        return list;
    }();
    return groups;
}

QList<Field> conditionFields()
{
    QList<Field> fields;
    for (const GroupColumns &g : groupColumns()) {
        const QStringList controls = QStringList{g.group.box} + g.group.members;
        for (qsizetype i = 0; i < controls.size(); ++i)
            fields.append({controls.at(i), g.columns.at(i), {}, controls.at(i).startsWith(u"Text"_s) ? kOtherLength : 0});
    }
    return fields;
}

void styleHints(QWidget &window)
{
    for (QLabel *hint : window.findChildren<QLabel *>()) {
        if (!hint->objectName().startsWith(u"hint"_s))
            continue;
        hint->setStyleSheet(u"color: #8b0000; background-color: #ffe4e1; padding: 0 3px;"_s);
        QFont small = hint->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        hint->setFont(small);
    }
}

// Disabling neither clears nor resets a member: it keeps its value, greyed,
// and is saved as it is.
void enableWithBox(QCheckBox *box, const QList<QWidget *> &members)
{
    const auto apply = [members](bool on) {
        for (QWidget *member : members)
            member->setEnabled(on);
    };
    apply(box->isChecked());
    QObject::connect(box, &QCheckBox::toggled, box, apply);
}

toolkit::ErrorTable bookRefusals(const QString &what)
{
    toolkit::MessageBoxRequest box;
    box.text = what;
    box.icon = toolkit::MessageIcon::Exclamation;
    return {{certificates::kIssuedRefused, box, {}, false, true},
            {jet::err::InvalidArgument, box, {}, false, true},
            {jet::err::NotSupported, box, {}, false, true},
            {jet::err::NoCurrentRecord, box, {}, false, true}};
}

CertificateWindow::CertificateWindow(const QString &captionSuffix, QWidget *parent)
    : toolkit::Form(parent)
    , m_captionSuffix(captionSuffix)
{
}

CertificateWindow::~CertificateWindow() = default;

template <class T>
T *CertificateWindow::control(const QString &name) const
{
    T *widget = findChild<T *>(name);
    if (!widget)
        throw std::logic_error(("the window has no control " + name).toStdString());
    return widget;
}

QString CertificateWindow::chartFromLedger()
{
    toolkit::DataGrid *grid =
        toolkit::DataGrid::of(toolkit::findWindow(app::window::OutpatientLedger), QStringLiteral("DataGrid1"));
    if (!grid || grid->currentRow() < 0)
        return QString();
    return grid->value(grid->currentRow(), QStringLiteral("入退院情報.カルテID")).toString();
}

void CertificateWindow::prepare(const QList<Field> &fields)
{
    m_fields = fields;
    const QStringList patientBoxes{u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s};
    for (const Field &field : fields) {
        QWidget *widget = control<QWidget>(field.control);
        if (auto *line = qobject_cast<QLineEdit *>(widget)) {
            if (field.maxLength > 0)
                line->setMaxLength(field.maxLength);
        } else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget)) {
            if (field.maxLength > 0)
                toolkit::setMaxLength(memo, field.maxLength);
        } else {
            continue;
        }
        if (!patientBoxes.contains(field.control))
            toolkit::setImeMode(widget, toolkit::ImeMode::On);
    }

    styleHints(*this);
    m_status = new toolkit::StatusPanels(statusBar(), {toolkit::StatusPanels::Kind::Text});
    for (const ConditionGroup &group : conditionGroups()) {
        QList<QWidget *> members;
        for (const QString &name : group.members)
            members.append(control<QWidget>(name));
        enableWithBox(control<QCheckBox>(group.box), members);
    }

    auto *postalCode = control<QLineEdit>(u"Text4"_s);
    postalCode->setMaxLength(kPostalCodeLength);
    toolkit::setKeyFilter(postalCode, kPostalCodeCharacters, true);
    toolkit::setImeMode(postalCode, toolkit::ImeMode::Disable);

    for (const char *name : {"DataCombo1", "DataCombo2"}) {
        auto *combo = new toolkit::DataCombo(control<QComboBox>(QLatin1String(name)));
        combo->setRefuseTyping(true);
    }

    control<QAction>(u"mnuHelpStep"_s)->setSeparator(true);
    connect(control<QAction>(u"mnuFileSave"_s), &QAction::triggered, this,
            [this] { toolkit::untrapped([this] { writeRow(); }); });
    connect(control<QAction>(u"mnuFileClose"_s), &QAction::triggered, this,
            [this] { toolkit::untrapped([this] { unload(); }); });
    connect(control<QAction>(u"mnuHelpIndex"_s), &QAction::triggered, this, [] { toolkit::openHelpIndex(); });
    connect(control<QAction>(u"mnuHelpNorva"_s), &QAction::triggered, this,
            [] { toolkit::untrapped([] { app::showModal(app::window::About); }); });
}

void CertificateWindow::onLoad()
{
    toolkit::MessageBoxRequest unavailable;
    unavailable.text = u"データベース norva2000.mdb の取得に失敗しました。"_s;
    unavailable.icon = toolkit::MessageIcon::Critical;
    // A database from before the certificate's columns fails on its first
    // missing column, named in the query or bound.
    toolkit::trap([this] { openData(); }, {{jet::err::ColumnMissing, unavailable, {}, true},
                                           {jet::err::BindingColumnMissing, unavailable, {}, true}});
}

jet::Connection &CertificateWindow::trailConnection()
{
    return m_connection;
}

db::audit::Event CertificateWindow::openingEvent() const
{
    db::audit::Event opened{db::audit::action::Opening.toString(), windowTitle(), {}, {}};
    if (m_data.isOpen() && m_data.rowCount() > 0) {
        if (const QVariant chart = m_data.value(u"患者情報.カルテID"_s); !chart.isNull())
            opened.chart = chart.toLongLong();
    }
    return opened;
}

void CertificateWindow::openData()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_data.open(kCertificateSql, &m_connection, jet::CursorType::Static, jet::LockType::Optimistic);
    m_data.setFilter(u"患者情報.カルテID = '"_s + chartFromLedger() + u"'"_s);
    m_binding = std::make_unique<toolkit::RecordBinding>();
    m_binding->setRecordset(&m_data);
    for (const Field &field : m_fields) {
        QWidget *widget = control<QWidget>(field.control);
        if (auto *line = qobject_cast<QLineEdit *>(widget))
            m_binding->bindText(line, field.column, field.format);
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
            m_binding->bindText(memo, field.column);
        else if (auto *check = qobject_cast<QCheckBox *>(widget))
            m_binding->bindCheck(check, field.column);
        else
            throw std::logic_error(("the control " + field.control + " cannot be bound").toStdString());
    }
    bindDiagnosis(control<QComboBox>(u"DataCombo1"_s), u"主精神障害"_s);
    bindDiagnosis(control<QComboBox>(u"DataCombo2"_s), u"従精神障害"_s);
    m_follower = std::make_unique<toolkit::RowFollower>(this, m_connection, m_data, *m_binding,
                                                        QStringList{u"患者情報"_s, u"32条診断書"_s});
    connect(m_follower.get(), &toolkit::RowFollower::changedUnderEdits, this,
            [this] { m_status->setText(0, kChangedElsewhere); });
    connect(m_follower.get(), &toolkit::RowFollower::reloaded, this, [this] { m_status->setText(0, QString()); });
    setWindowTitle(control<QLineEdit>(u"Text2"_s)->text() + m_captionSuffix);
}

void CertificateWindow::bindDiagnosis(QComboBox *box, const QString &column)
{
    auto *combo = box->findChild<toolkit::DataCombo *>(QString(), Qt::FindDirectChildrenOnly);
    combo->setEmptyValue(1);
    m_binding->bindCombo(combo, column);
    auto list = std::make_unique<jet::Recordset>();
    list->open(kDiagnosisListSql, &m_connection, jet::CursorType::Static, jet::LockType::Optimistic);
    combo->setListSource(list.get(), u"診断ID"_s, u"診断"_s);
    m_lists.push_back(std::move(list));
}

// A refused value is answered with the combo warning, naming the field, and
// left out, the other edits stored all the same; a row that cannot be written
// keeps them.
bool CertificateWindow::writeRow(toolkit::SaveMoment moment)
{
    const bool written = toolkit::saveBoundRow(*m_binding, kComboWarning, true, moment);
    // Stored, the row holds the other workstation's change as the user settled it.
    if (written)
        m_status->setText(0, QString());
    return written;
}

void CertificateWindow::closeData()
{
    m_follower.reset();
    m_binding.reset();
    m_data.close();
    m_lists.clear();
    m_connection.close();
}

void CertificateWindow::onUnload(bool &cancel)
{
    if (toolkit::discardingEdits()) {
        closeData();
        return;
    }
    bool written = true;
    toolkit::trap([&] {
        if (m_data.isOpen())
            written = writeRow(toolkit::SaveMoment::Closing);
        if (written)
            closeData();
    });
    if (!written && !toolkit::programHasEnded())
        cancel = true;
}

} // namespace certificate
