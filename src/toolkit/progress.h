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
// window paint (input to the other windows stays blocked by its modality).
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressWindow(const QString &caption, int delayMs = 500, QWidget *parent = nullptr);

    void setProgress(int done, int total);
    QString progressText() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QElapsedTimer m_clock;
    QElapsedTimer m_shown;
    int m_delay;
    QLabel *m_label;
    QProgressBar *m_bar;
};

} // namespace toolkit
