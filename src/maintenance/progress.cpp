#include "maintenance/progress.h"

#include <QApplication>
#include <QProgressDialog>

namespace maintenance {

namespace {
constexpr qint64 kShowAfterMs = 500;
constexpr qint64 kPaintEveryMs = 100;
} // namespace

BusyProgress::BusyProgress(QWidget *parent, const QString &label, int steps)
    : m_dialog(std::make_unique<QProgressDialog>(label, QString(), 0, steps, parent))
{
    m_dialog->setWindowTitle(QStringLiteral("ネモリア"));
    m_dialog->setCancelButton(nullptr);
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setMinimumDuration(int(kShowAfterMs));
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_clock.start();
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

void BusyProgress::keepAlive()
{
    const qint64 now = m_clock.elapsed();
    if (now < kShowAfterMs || now - m_lastPaint < kPaintEveryMs)
        return;
    m_lastPaint = now;
    if (!m_dialog->isVisible())
        m_dialog->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace maintenance
