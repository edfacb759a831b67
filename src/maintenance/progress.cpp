#include "maintenance/progress.h"

#include <QApplication>
#include <QProgressDialog>

namespace maintenance {

BusyProgress::BusyProgress(QWidget *parent, const QString &label, int steps)
    : m_dialog(std::make_unique<QProgressDialog>(label, QString(), 0, steps, parent))
{
    m_dialog->setWindowTitle(QStringLiteral("ネモリア"));
    m_dialog->setCancelButton(nullptr);
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setMinimumDuration(500);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyProgress::~BusyProgress()
{
    m_dialog->close();
    QApplication::restoreOverrideCursor();
}

void BusyProgress::step(int number)
{
    m_dialog->setValue(number - 1);
}

} // namespace maintenance
