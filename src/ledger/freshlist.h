#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class QLineEdit;
class QTimer;

namespace jet {
class ChangeWatcher;
class Connection;
class Recordset;
}
namespace toolkit {
class DataGrid;
class Form;
}

namespace ledger {

// Keeps a ledger showing what other workstations and the program's other
// windows saved, without the user asking: when the database changed, the
// list and its summaries are read again, the same patient (by 入退院ID)
// stays the current row and the list stays scrolled where it was.  A file is
// looked at again whenever the ledger becomes active.  While the ledger is
// busy (a modal window over it, the search box being typed in) the reading
// waits until it no longer is.
class FreshList : public QObject
{
    Q_OBJECT

public:
    FreshList(toolkit::Form &ledger, toolkit::DataGrid &grid, QLineEdit *search);
    ~FreshList() override;

    // Starts watching the database of the ledger's open connection; the list
    // and the summaries are the ledger's open recordsets.
    void watch(const jet::Connection &connection, jet::Recordset &list, const QList<jet::Recordset *> &summaries);
    // Before the ledger's recordsets and connection close.
    void stop();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool busy() const;
    void reloadWhenIdle();
    void reload();

    toolkit::Form &m_ledger;
    toolkit::DataGrid &m_grid;
    QPointer<QLineEdit> m_search;
    std::unique_ptr<jet::ChangeWatcher> m_watcher;
    const jet::Connection *m_connection = nullptr;
    jet::Recordset *m_list = nullptr;
    QList<jet::Recordset *> m_summaries;
    QTimer *m_waiting = nullptr;
    QElapsedTimer m_typed; // since the last key in the search box
};

} // namespace ledger
