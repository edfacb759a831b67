#include "toolkit/progress.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace toolkit {

namespace {
constexpr int kRepaintMs = 50;
}

ProgressWindow::ProgressWindow(const QString &caption, int delayMs, QWidget *parent, const QString &unit)
    : QDialog(parent), m_delay(delayMs), m_unit(unit), m_label(new QLabel(this)), m_bar(new QProgressBar(this))
{
    setWindowTitle(QStringLiteral("ネモリア"));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint & ~Qt::WindowContextHelpButtonHint);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(caption, this));
    layout->addWidget(m_bar);
    layout->addWidget(m_label);
    setMinimumWidth(360);
    m_clock.start();
}

void ProgressWindow::setProgress(int done, int total)
{
    m_done = done;
    m_total = total;
    if (!isVisible()) {
        if (m_clock.elapsed() < m_delay)
            return;
        show();
        m_shown.start();
    } else if (m_shown.elapsed() < kRepaintMs && done < total) {
        return;
    }
    m_shown.start();
    m_bar->setRange(0, std::max(total, 1));
    m_bar->setValue(done);
    m_label->setText(QStringLiteral("%1 / %2 %3").arg(done).arg(total).arg(m_unit).trimmed());
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::keepAlive()
{
    setProgress(m_done, m_total);
}

QString ProgressWindow::progressText() const
{
    return m_label->text();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void ProgressWindow::reject()
{
}

} // namespace toolkit
