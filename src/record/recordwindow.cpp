#include "record/recordwindow.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "record/Imecomp.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"
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
#include <QTableView>

namespace record {

namespace {

const QString kContactCharacters = QStringLiteral("0123456789-");
const QString kDateCharacters = QStringLiteral("0123456789/");

const QString kNotSaved = QStringLiteral("ご不便をおかけしますが、作業中のデータは保存されませんでした。");

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

toolkit::MessageBoxRequest errorBox(const QString &text)
{
    toolkit::MessageBoxRequest box;
    box.text = text;
    box.icon = toolkit::MessageIcon::Critical;
    return box;
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
    for (toolkit::DataCombo *combo : m_combos) {
        if (combo->box() == box)
            return combo;
    }
    return nullptr;
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
}

void RecordWindow::enableWhileChecked(QCheckBox *box, QWidget *field)
{
    field->setEnabled(box->isChecked());
    connect(box, &QCheckBox::toggled, field, &QWidget::setEnabled);
}

void RecordWindow::setupMenus(QAction *save, QAction *close, QAction *helpIndex, QAction *about)
{
    connect(save, &QAction::triggered, this, [this] { toolkit::untrapped([this] { this->save(); }); });
    connect(close, &QAction::triggered, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(helpIndex, &QAction::triggered, this, [] { toolkit::openHelpIndex(); });
    connect(about, &QAction::triggered, this,
            [] { toolkit::untrapped([] { app::showModal(app::window::About); }); });
}

void RecordWindow::useProgramHelpFile()
{
    toolkit::setProgramHelpFile(QDir(toolkit::platform().programFolder()).filePath(QStringLiteral("index.chm")));
    auto *key = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(key, &QShortcut::activated, this, [] { toolkit::openProgramHelp(); });
}

void RecordWindow::openConnection()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
}

jet::Connection &RecordWindow::connection()
{
    return m_connection;
}

QString RecordWindow::episodeFromLedger(const QString &ledger) const
{
    toolkit::Form *window = toolkit::findWindow(ledger);
    auto *view = window ? window->findChild<QTableView *>(QStringLiteral("DataGrid1")) : nullptr;
    auto *grid = view ? view->findChild<toolkit::DataGrid *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
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
    if (!isNumber)
        return;
    m_connection.beginTrans();
    try {
        for (const QString &table : {QStringLiteral("検査情報"), QStringLiteral("診断情報")}) {
            m_connection.execute(QStringLiteral("INSERT INTO %1 (入退院ID) SELECT 入退院ID FROM 入退院情報 "
                                                "WHERE 入退院ID = ? AND NOT EXISTS "
                                                "(SELECT 入退院ID FROM %1 WHERE 入退院ID = ?)")
                                     .arg(table),
                                 {id, id});
        }
        m_connection.commitTrans();
    } catch (...) {
        m_connection.rollbackTrans();
        throw;
    }
}

void RecordWindow::openData(const QString &sql, jet::CursorType cursor)
{
    m_data.open(sql, &m_connection, cursor, jet::LockType::Optimistic);
    m_binding->setRecordset(&m_data);
}

void RecordWindow::filterEpisode(const QString &episode)
{
    m_data.setFilter(QStringLiteral("入退院情報.入退院ID = '") + episode + QStringLiteral("'"));
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
    if (!combo) {
        combo = new toolkit::DataCombo(box);
        m_combos.push_back(combo);
    }
    m_binding->bindCombo(combo, column);
    auto list = std::make_unique<jet::Recordset>();
    list->open(listSql, &m_connection, jet::CursorType::Static, jet::LockType::Optimistic);
    combo->setListSource(list.get(), boundColumn, listColumn);
    m_lists.push_back(std::move(list));
}

toolkit::ErrorTable RecordWindow::loadAnswers(bool oldSchemaAnswer)
{
    toolkit::ErrorTable answers{
        {jet::err::ColumnMissing, errorBox(QStringLiteral("データベース norva2000.mdb の取得に失敗しました。")), {}}};
    if (oldSchemaAnswer)
        answers.append({jet::err::BindingColumnMissing,
                        errorBox(QStringLiteral("データベースが古いため表示できません。コンバートしてください。")),
                        {}});
    return answers;
}

void RecordWindow::loadUnder(const std::function<void()> &steps, bool oldSchemaAnswer)
{
    toolkit::trap(steps, loadAnswers(oldSchemaAnswer));
}

void RecordWindow::save()
{
    writeRow(QStringLiteral("正しくデータを入力されていないようです。\r") + kNotSaved);
}

// Moves to the last row, which commits the bound fields' edits, and stores
// the row.  A refused value is answered and left out; the other values are
// stored all the same and the work goes on.
void RecordWindow::writeRow(const QString &warning)
{
    toolkit::MessageBoxRequest box;
    box.text = warning;
    box.icon = toolkit::MessageIcon::Exclamation;
    const toolkit::ErrorTable refused{{jet::err::UpdateCancelled, box, [this] { m_binding->revertRefused(); }, false}};
    toolkit::trap([&] {
        toolkit::trap([this] { m_data.moveLast(); }, refused);
        toolkit::trap([this] { m_data.update(); }, refused);
    });
}

void RecordWindow::closeData()
{
    // The fields keep what they show while the window goes: detaching by
    // showing an empty row would toggle the switches and run their handlers.
    m_binding.reset();
    m_data.close();
    m_lists.clear();
    m_connection.close();
}

void RecordWindow::onUnload(bool &)
{
    toolkit::trap([this] {
        if (m_data.isOpen())
            writeRow(QStringLiteral("コンボボックスのエラーが発生しました。\r") + kNotSaved);
        closeData();
    });
    if (toolkit::programHasEnded())
        return;
    toolkit::untrapped([this] { app::showWindow(m_ledger); });
}

} // namespace record
