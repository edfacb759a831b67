#include "ledger/freshlist.h"

#include "db/engine/changewatcher.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "ledger/ledgermenus.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

namespace ledger {

namespace {

const QString kEpisodeColumn = QStringLiteral("入退院ID");
// How long after the last key the search box counts as being typed in.
constexpr std::chrono::milliseconds kTyping{2000};

// The row of the episode, looked for outwards from where it stood, which is
// where it mostly still is: a long list is not read whole for it.
int rowOf(const toolkit::DataGrid &grid, int rows, const QString &episode, int near)
{
    if (episode.isEmpty())
        return -1;
    near = std::clamp(near, 0, std::max(rows - 1, 0));
    for (int distance = 0; distance < rows; ++distance) {
        for (const int row : {near - distance, near + distance}) {
            if (row >= 0 && row < rows && grid.value(row, kEpisodeColumn).toString() == episode)
                return row;
        }
    }
    return -1;
}

} // namespace

FreshList::FreshList(toolkit::Form &ledger, toolkit::DataGrid &grid, QLineEdit *search)
    : QObject(&ledger), m_ledger(ledger), m_grid(grid), m_search(search)
{
    m_waiting = new QTimer(this);
    m_waiting->setSingleShot(true);
    m_waiting->setInterval(500);
    connect(m_waiting, &QTimer::timeout, this, &FreshList::reloadWhenIdle);
    if (search)
        connect(search, &QLineEdit::textEdited, this, [this] { m_typed.start(); });
    ledger.installEventFilter(this);
}

FreshList::~FreshList() = default;

void FreshList::watch(const jet::Connection &connection, jet::Recordset &list, const QList<jet::Recordset *> &summaries)
{
    m_connection = &connection;
    m_list = &list;
    m_summaries = summaries;
    m_watcher = std::make_unique<jet::ChangeWatcher>(connection);
    // One save changes several tables, each announced on its own; they arrive together.
    connect(m_watcher.get(), &jet::ChangeWatcher::changed, this, [this] {
        if (!m_waiting->isActive())
            m_waiting->start(50);
    });
}

void FreshList::stop()
{
    m_waiting->stop();
    m_watcher.reset();
    m_connection = nullptr;
    m_list = nullptr;
    m_summaries.clear();
}

bool FreshList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_ledger && event->type() == QEvent::WindowActivate && m_watcher)
        m_watcher->check();
    return QObject::eventFilter(watched, event);
}

// A modal window works on the ledger's current row (a certificate, the
// options); a search being typed would lose its place to a reloaded list.
bool FreshList::busy() const
{
    if (QApplication::activeModalWidget())
        return true;
    return m_search && m_search->hasFocus() && m_typed.isValid() && m_typed.elapsed() < kTyping.count();
}

void FreshList::reloadWhenIdle()
{
    if (!m_list || !m_list->isOpen())
        return;
    if (busy()) {
        m_waiting->start(500);
        return;
    }
    toolkit::trap([this] { reload(); });
}

void FreshList::reload()
{
    const QString episode = currentEpisodeKey(m_grid);
    const int row = m_grid.currentRow();
    QScrollBar *scroll = m_grid.view()->verticalScrollBar();
    const int position = scroll->value();
    // A summary that counts the list's rows shares the list's count.
    const jet::SharedCounts oneCount(*m_connection);
    m_list->requery();
    for (jet::Recordset *summary : std::as_const(m_summaries))
        summary->requery();
    const int rows = m_list->rowCount();
    const int found = rowOf(m_grid, rows, episode, row);
    // A patient gone from the list (discharged, deleted) leaves the row where it stood.
    if (rows > 0 && row >= 0)
        m_grid.setCurrentRow(found >= 0 ? found : std::min(row, rows - 1));
    scroll->setValue(position);
}

} // namespace ledger
