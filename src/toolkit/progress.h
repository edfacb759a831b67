#pragma once

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;

namespace toolkit {

// Tells how far a long operation has come: it appears, application-modal,
// only once the operation has run longer than `delayMs`, and then shows the
// steps done out of the steps to do.  The user cannot close it; it goes
// when its owner destroys it.  While it is on screen each step lets the
// window paint; the user's input waits (and is for no other window, by its
// modality).  The steps are counted in `unit`.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressWindow(const QString &caption, int delayMs = 500, QWidget *parent = nullptr,
                            const QString &unit = QStringLiteral("行"));

    void setProgress(int done, int total);
    // Within a long step: appears or repaints as setProgress() would, at the
    // steps last given.
    void keepAlive();
    QString progressText() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QElapsedTimer m_clock;
    QElapsedTimer m_shown;
    int m_delay;
    QString m_unit;
    int m_done = 0;
    int m_total = 0;
    QLabel *m_label;
    QProgressBar *m_bar;
};

} // namespace toolkit
