#include "ledger/frmArrange.h"
#include "ui_frmArrange.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/episodes.h"
#include "db/location.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QShortcut>

namespace {

toolkit::ErrorTable writeAnswers()
{
    toolkit::MessageBoxRequest box;
    box.title = QStringLiteral("エラー");
    box.text = QStringLiteral("データベースが見つかりません。");
    box.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::FileNotFound, box, {}}};
}

} // namespace

frmArrange::frmArrange(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmArrange>())
{
    ui->setupUi(this);
    connect(ui->Command1, &QPushButton::clicked, this, [this] { writeOrder(db::RoomOrder::Ascending); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { writeOrder(db::RoomOrder::Descending); });
    connect(ui->Command3, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    // A main window has no default or cancel button of its own.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Escape)})
        connect(new QShortcut(key, this), &QShortcut::activated, ui->Command3, &QPushButton::click);
}

frmArrange::~frmArrange() = default;

// The ledger's list is about to be rewritten; it must not hold it open.
void frmArrange::onLoad()
{
    toolkit::untrapped([] { app::unloadWindow(app::window::InpatientLedger); });
}

// A ledger that cannot come back (its server out of reach) keeps this window.
void frmArrange::onUnload(bool &cancel)
{
    toolkit::untrapped([&cancel] {
        cancel = app::isRegistered(app::window::InpatientLedger) && !app::showWindow(app::window::InpatientLedger);
    });
}

// Apart from a missing database, a failure leaves the stored order as it was
// and the window open, so the user is told and may cancel.
void frmArrange::writeOrder(db::RoomOrder order)
{
    toolkit::trap(
        [this, order] {
            try {
                db::storeListOrder(db::readDatabasePath(toolkit::platform().programFolder()), order);
            } catch (const jet::Error &e) {
                if (e.number() == jet::err::FileNotFound)
                    throw;
                // Not this account's to change: what to ask for, not a fault.
                if (e.number() == jet::err::NoPermission) {
                    toolkit::MessageBoxRequest refused;
                    refused.icon = toolkit::MessageIcon::Information;
                    refused.text = e.description();
                    toolkit::platform().messageBox(refused);
                    return;
                }
                toolkit::platform().messageBox(toolkit::uncaughtErrorBox(e.number(), e.description()));
                return;
            }
            toolkit::MessageBoxRequest done;
            done.icon = toolkit::MessageIcon::Information;
            done.text = order == db::RoomOrder::Ascending ? QStringLiteral("台帳のデータ並びを昇順にしました。")
                                                          : QStringLiteral("台帳のデータ並びを降順にしました。");
            toolkit::platform().messageBox(done);
            unload();
        },
        writeAnswers());
}
