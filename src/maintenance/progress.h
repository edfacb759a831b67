#pragma once

#include "toolkit/progress.h"

#include <QString>

class QWidget;

namespace maintenance {

// What the user sees while an upgrade or a compaction works: a busy cursor at
// once and, when the work takes longer than half a second, the progress
// window with the steps done.  It has no cancel button: the work is
// all-or-nothing and is not broken off half-way.
class BusyProgress
{
public:
    BusyProgress(QWidget *parent, const QString &label, int steps);
    ~BusyProgress();
    BusyProgress(const BusyProgress &) = delete;
    BusyProgress &operator=(const BusyProgress &) = delete;

    // Called as step `number` (1-based) begins.
    void step(int number);
    // Called now and then inside a long step, to keep the window painted.
    void keepAlive();

private:
    toolkit::ProgressWindow m_window;
    int m_steps;
};

} // namespace maintenance
