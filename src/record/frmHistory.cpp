#include "record/frmHistory.h"
#include "ui_frmHistory.h"

#include "app/navigation.h"
#include "db/location.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QHeaderView>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;
using db::audit::HistoryEntry;

namespace {

// Pixels; a memo's old text would push the columns after it out of sight.
constexpr int kWidestColumn = 320;

// A date as the record windows show it, a date and time with its time;
// any other value as it was kept.
QString shown(const QString &value)
{
    static const QRegularExpression moment(u"^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}:\\d{2}:\\d{2})$"_s);
    const QRegularExpressionMatch match = moment.match(value);
    if (!match.hasMatch())
        return value;
    const QString day = u"%1/%2/%3"_s.arg(match.captured(1), match.captured(2), match.captured(3));
    return match.captured(4) == u"00:00:00"_s ? day : day + u' ' + match.captured(4);
}

// A long text's lines on one line of the grid; its tooltip keeps them.
QString oneLine(const QString &value)
{
    QString line = value;
    return line.replace(u"\r\n"_s, u"↵"_s).replace(u'\n', u'↵').replace(u'\r', u'↵');
}

QStringList cells(const HistoryEntry &entry)
{
    QString after = shown(entry.after);
    if (entry.kind == db::audit::change::Delete)
        after = u"（行を削除）"_s;
    else if (entry.rowGone)
        after = u"（行は削除済み）"_s;
    return {entry.time.isValid() ? entry.time.toLocalTime().toString(u"yyyy/MM/dd HH:mm:ss"_s) : QString(),
            entry.account, entry.kind, entry.table, entry.column, shown(entry.before), after};
}

} // namespace

frmHistory::frmHistory(QWidget *parent) : toolkit::Form(parent), ui(std::make_unique<Ui::frmHistory>())
{
    ui->setupUi(this);
    ui->grdHistory->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmHistory::~frmHistory() = default;

void frmHistory::onLoad()
{
    const QVariantMap handed = app::takeHanded(app::window::History).toMap();
    if (handed.contains(u"chart"_s))
        m_chart = handed.value(u"chart"_s).toLongLong();
    if (handed.contains(u"episode"_s))
        m_episode = handed.value(u"episode"_s).toLongLong();
    m_patient = handed.value(u"title"_s).toString();
    toolkit::untrapped([this] {
        db::openWindowConnection(m_connection, toolkit::platform().programFolder());
        m_entries = db::audit::patientHistory(m_connection, m_chart, m_episode);
    });
    setWindowTitle(u"変更履歴 - %1"_s.arg(m_patient));
    showEntries();
}

void frmHistory::onUnload(bool &)
{
    m_connection.close();
}

jet::Connection &frmHistory::trailConnection()
{
    return m_connection;
}

db::audit::Event frmHistory::openingEvent() const
{
    return {db::audit::action::Opening.toString(), u"変更履歴 %1"_s.arg(m_patient), m_chart, m_episode};
}

void frmHistory::showEntries()
{
    QStringList patient;
    if (m_chart)
        patient.append(u"カルテID %1"_s.arg(*m_chart));
    if (m_episode)
        patient.append(u"入退院ID %1"_s.arg(*m_episode));
    ui->lblPatient->setText(u"%1 の患者情報と入退院の変更（新しい順）"_s.arg(patient.join(u"、"_s)));
    QTableWidget *grid = ui->grdHistory;
    grid->setRowCount(int(m_entries.size()));
    // Newest first: what changed last is what is asked about most.
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const int row = int(m_entries.size() - 1 - i);
        const QStringList texts = cells(m_entries.at(i));
        for (int column = 0; column < texts.size(); ++column) {
            auto *item = new QTableWidgetItem(oneLine(texts.at(column)));
            if (column >= 5)
                item->setToolTip(texts.at(column));
            grid->setItem(row, column, item);
        }
    }
    // The last column takes the room the others leave.
    for (int column = 0; column + 1 < grid->columnCount(); ++column) {
        grid->resizeColumnToContents(column);
        grid->setColumnWidth(column, std::min(grid->columnWidth(column), kWidestColumn));
    }
    ui->lblCount->setText(m_entries.isEmpty() ? u"変更の記録はありません。"_s : u"%1 件"_s.arg(m_entries.size()));
}

namespace record {

QVariant historyOf(const std::optional<qint64> &chart, const std::optional<qint64> &episode, const QString &title)
{
    QVariantMap handed{{u"title"_s, title}};
    if (chart)
        handed.insert(u"chart"_s, *chart);
    if (episode)
        handed.insert(u"episode"_s, *episode);
    return handed;
}

} // namespace record
