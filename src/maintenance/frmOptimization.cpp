#include "maintenance/frmOptimization.h"
#include "ui_frmOptimization.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "maintenance/compaction.h"
#include "report/launch.h"
#include "maintenance/progress.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QDir>
#include <QShortcut>

namespace {

maintenance::CompactionFiles filesOf(const QString &databasePath)
{
    const toolkit::PlatformServices &platform = toolkit::platform();
    return maintenance::compactionFiles(databasePath, platform.homeFolder());
}

// A work file that appears just as the compaction begins stops it; the
// message names it where it is on this system.
toolkit::ErrorTable optimizeAnswers()
{
    toolkit::MessageBoxRequest box;
    box.text = QStringLiteral("次のファイルを削除してください。 %1 ")
                   .arg(QDir::toNativeSeparators(filesOf(QString()).work));
    box.icon = toolkit::MessageIcon::Critical;
    // Every other failure names its file and cause and leaves the database
    // usable: the user can put the cause right and try again.
    toolkit::MessageBoxRequest failed;
    failed.text = QStringLiteral("データベースを最適化できませんでした。");
    failed.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::CompactTargetExists, box, {}},
            {jet::err::GeneralFailure, failed, {}, false, true}};
}

} // namespace

frmOptimization::frmOptimization(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmOptimization>())
{
    ui->setupUi(this);
    connect(ui->Command1, &QPushButton::clicked, this, [this] { optimize(); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, ui->Command2,
            &QPushButton::click);
}

frmOptimization::~frmOptimization() = default;

// The ledger's connection (and that of the options window it holds) must be
// closed before the file can be replaced.
void frmOptimization::onLoad()
{
    toolkit::untrapped([] { app::unloadWindow(app::window::AllPatientLedger); });
}

// A ledger that cannot come back (its server out of reach) keeps this window.
void frmOptimization::onUnload(bool &cancel)
{
    toolkit::untrapped([&cancel] {
        cancel = app::isRegistered(app::window::AllPatientLedger) && !app::showWindow(app::window::AllPatientLedger);
    });
}

void frmOptimization::optimize()
{
    toolkit::trap(
        [this] {
            const QString location = db::readDatabasePath(toolkit::platform().programFolder());
            // A document still shown holds its rows open on the file.
            report::closeAllDocuments();
            QString backup;
            {
                maintenance::BusyProgress progress(this, QStringLiteral("データベースを最適化しています。"),
                                                   maintenance::kCompactionSteps);
                backup = maintenance::compactDatabase(
                    location, toolkit::platform().homeFolder(), [&progress](int step) { progress.step(step); },
                    [&progress] { progress.keepAlive(); });
            }
            toolkit::MessageBoxRequest done;
            done.text = QStringLiteral("データベースを最適化しました。");
            if (!backup.isEmpty())
                done.text += QStringLiteral("最適化する前のデータベースは次のファイルに保存されています。\r%1")
                                 .arg(QDir::toNativeSeparators(backup));
            done.icon = toolkit::MessageIcon::Information;
            toolkit::platform().messageBox(done);
            unload();
        },
        optimizeAnswers());
}
