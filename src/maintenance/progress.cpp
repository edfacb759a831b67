#include "maintenance/progress.h"

#include <QApplication>

namespace maintenance {

BusyProgress::BusyProgress(QWidget *parent, const QString &label, int steps)
    : m_window(label, 500, parent, QString()), m_steps(steps)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyProgress::~BusyProgress()
{
    QApplication::restoreOverrideCursor();
}

void BusyProgress::step(int number)
{
    m_window.setProgress(number - 1, m_steps);
}

void BusyProgress::keepAlive()
{
    m_window.keepAlive();
}

} // namespace maintenance
