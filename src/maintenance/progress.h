#pragma once

#include <QElapsedTimer>
#include <QString>

#include <memory>

class QProgressDialog;
class QWidget;

namespace maintenance {

// What the user sees while an upgrade or a compaction works: a busy cursor at
// once and, when the work takes longer than half a second, a dialog with the
// steps done.  It has no cancel button: the work is all-or-nothing and is
// not broken off half-way.
class BusyProgress
{
public:
    BusyProgress(QWidget *parent, const QString &label, int steps);
    ~BusyProgress();
    BusyProgress(const BusyProgress &) = delete;
    BusyProgress &operator=(const BusyProgress &) = delete;

    // Called as step `number` (1-based) begins.
    void step(int number);
    // Called now and then inside a long step: shows the dialog once the work
    // has taken half a second and keeps it painted.  The user's input waits.
    void keepAlive();

private:
    std::unique_ptr<QProgressDialog> m_dialog;
    QElapsedTimer m_clock;
    qint64 m_lastPaint = 0;
};

} // namespace maintenance
