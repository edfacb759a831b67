#include "app/screenshots.h"

#include "app/navigation.h"
#include "report/preview.h"
#include "toolkit/errortrap.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

namespace app {

namespace {

// Long enough for the window system to map the window and for its first paint.
constexpr int kSettleMs = 500;
// A tour that has not finished by then is stuck behind something nobody can answer.
constexpr int kTourLimitMs = 60000;

// Opens the first row of a ledger's list as the user does; false when the
// list is empty.
bool openFirstRow(toolkit::Form &ledger)
{
    toolkit::DataGrid *grid = toolkit::DataGrid::of(&ledger, QStringLiteral("DataGrid1"));
    auto *open = ledger.findChild<QAction *>(QStringLiteral("mnuFileOpen"));
    if (!grid || !open || grid->model()->rowCount() == 0)
        return false;
    grid->setCurrentRow(0);
    emit grid->clicked();
    open->trigger();
    return true;
}

} // namespace

ScreenshotTour::ScreenshotTour(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder)
{
    QDir().mkpath(folder);
    qApp->installEventFilter(this);
    QTimer::singleShot(kTourLimitMs, this, [] {
        QTextStream(stderr) << "screenshots: the tour did not finish in time\n";
        QCoreApplication::exit(1);
    });
}

bool ScreenshotTour::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *window = static_cast<QWidget *>(watched);
        if (window->isWindow() && (qobject_cast<toolkit::Form *>(window) || qobject_cast<QMessageBox *>(window)
                                   || qobject_cast<report::Preview *>(window))) {
            QPointer<QWidget> guarded(window);
            QTimer::singleShot(kSettleMs, this, [this, guarded] {
                if (guarded && guarded->isVisible())
                    capture(guarded);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

void ScreenshotTour::capture(QWidget *window)
{
    QString name = window->objectName();
    if (qobject_cast<QMessageBox *>(window))
        name = QStringLiteral("message%1").arg(++m_messageBoxes);
    if (qobject_cast<report::Preview *>(window))
        name = QStringLiteral("preview-") + name; // the document's layout name
    const QString path = QDir(m_folder).absoluteFilePath(name + QStringLiteral(".png"));
    if (!window->grab().save(path)) {
        QTextStream(stderr) << "screenshots: cannot write " << path << '\n';
        QCoreApplication::exit(1);
        return;
    }
    m_saved.append(path);
    QTextStream(stdout) << path << Qt::endl;

    // A preview's whole page as a picture of its own, beside the window
    // that shows the part in view.
    if (auto *area = qobject_cast<report::Preview *>(window) ? window->findChild<QScrollArea *>() : nullptr) {
        const QString pagePath = QDir(m_folder).absoluteFilePath(name + QStringLiteral("-page.png"));
        if (area->widget() && area->widget()->grab().save(pagePath)) {
            m_saved.append(pagePath);
            QTextStream(stdout) << pagePath << Qt::endl;
        }
    }

    // Each further tab of a window with tabs as a picture of its own.
    if (auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("SSTab1")); tabs && tabs->isVisible()) {
        const int shown = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            if (i == shown)
                continue;
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            const QString tabPath =
                QDir(m_folder).absoluteFilePath(QStringLiteral("%1-tab%2.png").arg(name).arg(i + 1));
            if (window->grab().save(tabPath)) {
                m_saved.append(tabPath);
                QTextStream(stdout) << tabPath << Qt::endl;
            }
        }
        tabs->setCurrentIndex(shown);
    }

    // A preview is closed once seen.  A modal one returns to the launcher
    // that showed it; the last of those left open beside a ledger takes the
    // tour on from that ledger.
    if (auto *preview = qobject_cast<report::Preview *>(window)) {
        preview->reject();
        if (!m_previewsFrom.isEmpty() && !previewShown())
            continueFrom(std::exchange(m_previewsFrom, QString()));
        return;
    }

    // A message box is answered with its default button, so that the
    // program goes on as far as it can.
    if (auto *box = qobject_cast<QMessageBox *>(window)) {
        QAbstractButton *button = box->defaultButton();
        if (!button)
            button = box->buttons().value(0);
        if (button)
            button->click();
        return;
    }
    continueFrom(name);
}

bool ScreenshotTour::previewShown()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qobject_cast<report::Preview *>(window) && window->isVisible())
            return true;
    }
    return false;
}

void ScreenshotTour::continueFrom(const QString &window)
{
    toolkit::untrapped([this, &window] {
        // The modal windows are captured and closed in turn above the start
        // menu; then the tour walks through the three ledgers, opening the
        // first row of each in its record window and closing it again, and
        // each ledger's own windows (list order and statistics, the
        // certificates, the compaction), none of them told to change
        // anything; closing the last ledger ends the program.
        const auto moveOn = [&window](const QString &next) {
            if (toolkit::Form *current = findWindow(window))
                moveTo(*current, next);
        };
        const auto firstTime = [this](const QString &shown) {
            if (m_shown.contains(shown))
                return false;
            m_shown.append(shown);
            return true;
        };
        const auto recordFirst = [this, &window]() {
            toolkit::Form *ledger = findWindow(window);
            if (!ledger || m_recordsSeen.contains(window))
                return false;
            m_recordsSeen.append(window);
            return openFirstRow(*ledger);
        };
        if (window == window::Login) {
            // The tour logs in as a person does, with the account it is given.
            toolkit::Form *login = findWindow(window);
            const QString loginId = qEnvironmentVariable("NORVA_SCREENSHOTS_LOGIN");
            if (!login || loginId.isEmpty()) {
                unloadWindow(window);
                return;
            }
            login->findChild<QLineEdit *>(QStringLiteral("txtLoginId"))->setText(loginId);
            login->findChild<QLineEdit *>(QStringLiteral("txtPassword"))
                ->setText(qEnvironmentVariable("NORVA_SCREENSHOTS_PASSWORD"));
            login->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
            // Refused, the login window is the last picture.
            if (findWindow(window))
                unloadWindow(window);
        } else if (window == window::FirstAdministrator) {
            unloadWindow(window);
        } else if (window == window::Selector) {
            showModal(window::About);
            showModal(window::Options);
            moveOn(window::InpatientLedger);
        } else if (window == window::About || window == window::Options || window == window::InpatientRecord
                   || window == window::OutpatientRecord || window == window::AllPatientRecord
                   || window == window::SubsidyCertificate || window == window::HandbookCertificate
                   || window == window::ListOrder || window == window::Statistics || window == window::Compaction
                   || window == window::UpgradeTo2086 || window == window::UpgradeTo2112) {
            // The list order and the compaction bring their ledger back as they close.
            unloadWindow(window);
        } else if (window == window::InpatientLedger || window == window::OutpatientLedger) {
            if (recordFirst())
                return;
            if (window == window::InpatientLedger && firstTime(window::ListOrder)) {
                showWindow(window::ListOrder);
                return;
            }
            // Every document of the ledger: the modal ones in turn, each
            // captured and closed over it; those shown beside it (the check
            // sheets, the certificates' pages) all at once, the tour going on
            // when the last of them is closed.  The out-patient ledger first
            // shows both certificates' windows, each modal over it.
            toolkit::Form *ledger = findWindow(window);
            if (ledger && !m_documentsSeen.contains(window)) {
                m_documentsSeen.append(window);
                const std::initializer_list<const char *> inpatient{
                    "mnuReportAdmSum",    "mnuReportAdmissionPlan", "mnuReportDischargePlan", "mnuReportDischargeHis",
                    "mnuReportTreatment", "mnuReportAdm1week",      "mnuReportAdmPsy"};
                const std::initializer_list<const char *> outpatient{"mnuTool32New", "mnuToolTecho", "mnuReport32New",
                                                                     "mnuReportTecho"};
                for (const char *item : window == window::InpatientLedger ? inpatient : outpatient) {
                    if (auto *action = ledger->findChild<QAction *>(QLatin1String(item)))
                        action->trigger();
                }
                if (previewShown()) {
                    m_previewsFrom = window;
                    return;
                }
            }
            if (window == window::InpatientLedger) {
                showModal(window::Statistics);
                moveOn(window::OutpatientLedger);
            } else {
                moveOn(window::AllPatientLedger);
            }
        } else if (window == window::AllPatientLedger) {
            if (recordFirst())
                return;
            if (firstTime(window::Compaction))
                showWindow(window::Compaction);
            else
                unloadWindow(window);
        }
    });
}

} // namespace app
