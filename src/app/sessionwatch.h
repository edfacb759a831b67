#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>

class QTimer;
class QWidget;

namespace app {

// Watches the program's windows while an account is logged in: every
// window's status bar names the account, and after the idle minutes without
// a key or a mouse button in any window of the program every window is
// covered and the lock window asks for the password.  The idle time runs on
// jet::Clock, so that a test fixes the clock and moves it on.
class SessionWatch : public QObject
{
    Q_OBJECT

public:
    explicit SessionWatch(int idleMinutes, QObject *parent = nullptr);
    ~SessionWatch() override;

    int idleMinutes() const { return m_idleMinutes; }
    // How often the idle time is looked at, in milliseconds.
    void setCheckInterval(int milliseconds);

    // Locks once the idle minutes have passed since the last input.
    void check();
    void lock();
    bool isLocked() const { return m_locked; }
    // The lock window's answer to the right password: the covers go.
    void unlock();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cover(QWidget *window);
    void showLockWindow();
    void nameAccountIn(QWidget *window);

    int m_idleMinutes;
    QDateTime m_lastInput;
    QTimer *m_timer = nullptr;
    bool m_locked = false;
    QList<QPointer<QWidget>> m_covers;
};

} // namespace app
