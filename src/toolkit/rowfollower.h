#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QWidget;

namespace jet {
class ChangeWatcher;
class Connection;
class Recordset;
}

namespace toolkit {

class RecordBinding;

// Follows another workstation's change of the one row a window edits.  Once
// the database changed in one of the row's tables (a file names none, so
// any change counts), the row is compared with what is stored; a row that
// changed is read again when the window is active and holds no edits, and a
// window the user is away from waits until it is looked at.  With edits the
// row stays as the user left it and changedUnderEdits() is emitted: the
// save answers the change.
//
// The window, the recordset, the binding and the connection outlive the
// follower, which is theirs to delete first.
class RowFollower : public QObject
{
    Q_OBJECT

public:
    RowFollower(QWidget *window, jet::Connection &connection, jet::Recordset &row, const RecordBinding &binding,
                const QStringList &tables);
    ~RowFollower() override;

signals:
    void changedUnderEdits();
    void reloaded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void databaseChanged(const QStringList &tables);
    bool rowChangedElsewhere();
    void follow();

    QWidget *m_window;
    jet::Connection &m_connection;
    jet::Recordset &m_row;
    const RecordBinding &m_binding;
    QStringList m_tables;
    std::unique_ptr<jet::ChangeWatcher> m_watcher;
    bool m_changeHeard = false;
};

} // namespace toolkit
