#include "toolkit/rowfollower.h"

#include "db/engine/changewatcher.h"
#include "db/engine/recordset.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace toolkit {

RowFollower::RowFollower(QWidget *window, jet::Connection &connection, jet::Recordset &row,
                         const RecordBinding &binding, const QStringList &tables)
    : m_window(window)
    , m_connection(connection)
    , m_row(row)
    , m_binding(binding)
    , m_tables(tables)
    , m_watcher(std::make_unique<jet::ChangeWatcher>(connection))
{
    connect(m_watcher.get(), &jet::ChangeWatcher::changed, this, &RowFollower::databaseChanged);
    window->installEventFilter(this);
}

RowFollower::~RowFollower() = default;

bool RowFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::ActivationChange && m_window->isActiveWindow()) {
        m_watcher->check();
        if (m_changeHeard)
            trap([this] { follow(); });
    }
    return QObject::eventFilter(watched, event);
}

void RowFollower::databaseChanged(const QStringList &tables)
{
    if (!tables.isEmpty()
        && std::none_of(tables.cbegin(), tables.cend(), [this](const QString &t) { return m_tables.contains(t); }))
        return;
    m_changeHeard = true;
    trap([this] { follow(); });
}

// The window's own saves change the database as well, and leave the row as
// it is stored.
bool RowFollower::rowChangedElsewhere()
{
    if (!m_row.isOpen() || m_row.currentRow() < 0 || m_row.eof())
        return false;
    jet::Recordset stored;
    stored.open(m_row.source(), &m_connection);
    stored.setFilter(m_row.filter());
    if (stored.recordCount() != 1)
        return true;
    for (int field = 0; field < m_row.fieldCount(); ++field) {
        if (stored.value(field) != m_row.value(field))
            return true;
    }
    return false;
}

void RowFollower::follow()
{
    const bool edited = m_binding.hasEdits() || m_row.editMode() != jet::EditMode::None;
    // Without edits the row is read again once the user looks at the window.
    if (!edited && !m_window->isActiveWindow())
        return;
    m_changeHeard = false;
    if (!rowChangedElsewhere())
        return;
    if (edited) {
        emit changedUnderEdits();
        return;
    }
    m_row.requery();
    emit reloaded();
}

} // namespace toolkit
