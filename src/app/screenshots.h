#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace app {

// Saves a picture of each window of a short tour instead of waiting for the
// user: the splash window, the login window, the start menu, then the About
// box and the options window opened from it.  It logs in with the login ID in
// NORVA_SCREENSHOTS_LOGIN and the password in NORVA_SCREENSHOTS_PASSWORD (a
// demo hospital's published account); without them, or on a database
// without accounts, it ends at the login.  Each picture is saved as "<window>.png" in the
// folder, its path printed on the standard output; then the program ends.
// A message box on the way is saved as "message<n>.png" and answered with
// its default button; a document's preview as "preview-<layout>.png" with
// its whole first page as "preview-<layout>-page.png", then closed.  Used where nobody can look at the screen.
class ScreenshotTour : public QObject
{
    Q_OBJECT

public:
    explicit ScreenshotTour(const QString &folder, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void capture(QWidget *window);
    void continueFrom(const QString &window);
    static bool previewShown();

    QString m_folder;
    QStringList m_saved;
    int m_messageBoxes = 0;
    QStringList m_documentsSeen; // the ledgers whose documents were shown
    QString m_previewsFrom;      // the ledger whose previews are still open
    QStringList m_recordsSeen; // the ledgers whose first row was opened
    QStringList m_shown;       // the windows opened from a ledger

};

} // namespace app
