#include "app/frmAbout.h"
#include "ui_frmAbout.h"

#include "app/navigation.h"
#include "app/product.h"
#include "app/versionerrors.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QShortcut>

#include <algorithm>

namespace {

// The box is opened over a ledger; a database it cannot read makes the
// ledgers unusable too, so they are closed (their recordsets and
// connections with them) before the program ends.
void unloadLedgers()
{
    for (const QString &ledger : app::ledgerWindows())
        app::unloadWindow(ledger);
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmAbout>())
{
    ui->setupUi(this);
    ui->picIcon->setPixmap(app::productPicture(64, devicePixelRatioF()));
    setWindowIcon(QIcon(app::productPicture(64)));
    ui->lblTitle->setFont(toolkit::japaneseFont(18));
    ui->Label1->setFont(toolkit::japaneseFont(9));
    ui->lblVersion->setText(app::kProgramVersionText);

    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    // A main window has no default or cancel button of its own.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Escape)})
        connect(new QShortcut(key, this), &QShortcut::activated, ui->cmdOK, &QPushButton::click);
}

frmAbout::~frmAbout() = default;

void frmAbout::onLoad()
{
    const toolkit::ErrorTable answers = app::versionLoadAnswers(unloadLedgers);
    const auto answered = [&answers](qint32 number) {
        return std::any_of(answers.begin(), answers.end(),
                           [number](const toolkit::ErrorAnswer &answer) { return answer.number == number; });
    };
    // The fatal error box closes the ledgers too, so it is shown here rather
    // than left to the trap.
    const auto endFatally = [] {
        toolkit::showFatalError();
        unloadLedgers();
        toolkit::endProgram(1);
    };
    toolkit::trap(
        [&] {
            try {
                openVersion();
            } catch (const jet::Error &e) {
                if (!answered(e.number()))
                    endFatally();
                throw;
            } catch (const toolkit::ProgramEnded &) {
                throw;
            } catch (...) {
                endFatally();
            }
        },
        answers);
}

void frmAbout::openVersion()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_version.open(QStringLiteral("SELECT * FROM バージョン"), &m_connection, jet::CursorType::Dynamic);
    m_binding = new toolkit::RecordBinding(this);
    m_binding->setRecordset(&m_version);
    m_binding->bindLabel(ui->Label3, QStringLiteral("バージョン"));
}

void frmAbout::onUnload(bool &)
{
    delete m_binding;
    m_binding = nullptr;
    m_version.close();
    m_connection.close();
}
