#include "ledger/export.h"

#include "db/audit.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/engine/spreadsheet.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/sessionrights.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"
#include "toolkit/progress.h"

#include <QFile>

namespace ledger {

namespace {

struct Variant
{
    QString question;
    QString statement;
    QString file; // as the statement names it
};

const QString kInpatientSelect = QStringLiteral(
    "SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入院形態.略称 AS 入院形態, 入退院情報.入院日 AS 入院日, DateDiff('d', 入退院情報.入院日, Now()) AS 入院日数, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 主治医.主治医 AS 主治医 INTO ");
const QString kInpatientWhere = QStringLiteral(
    "WHERE DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null);");
const QString kOutpatientSelect = QStringLiteral(
    "SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 入退院情報.入院後経過 AS 治療内容, 入退院情報.個別注意事項 AS 注意事項, 時間外頻度.時間外頻度 AS 時間外頻度, 主治医.主治医 AS 主治医 INTO ");
const QString kOutpatientFrom = QStringLiteral(
    "FROM ((患者情報 INNER JOIN 入退院情報 ON 患者情報.カルテID = 入退院情報.カルテID) INNER JOIN 時間外頻度 ON 入退院情報.時間外頻度 = 時間外頻度.時間外頻度ID) INNER JOIN 主治医 ON 入退院情報.主治医① = 主治医.主治医ID ");
const QString kOutpatientWhere = QStringLiteral("WHERE 入退院情報.外入の別 = -1;");
const QString kEveryoneSelect = QStringLiteral(
    "SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入院形態.略称 AS 入院形態, 入退院情報.入院日 AS 入院日, 入退院情報.退院日 AS 退院日, DateDiff('d', 入退院情報.入院日, 入退院情報.退院日) AS 入院日数, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 入退院情報.入院後経過 AS 入院後経過, 主治医.主治医 AS 主治医 INTO ");

QString question(const QString &patients)
{
    return patients + QStringLiteral("の患者データを Excel 形式 (.xlsx) のファイルにエクスポートします。開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？");
}

QString target(const QString &file, const QString &sheet)
{
    return QStringLiteral("[Excel 8.0;Database=%1].[%2] ").arg(file, sheet);
}

Variant variant(ExportList list)
{
    const QString inpatientFrom = db::kInpatientListFrom.toString();
    switch (list) {
    case ExportList::Inpatients: {
        const QString file = QStringLiteral("C:\\ネモリア入院中.xls");
        return {question(QStringLiteral("入院中")),
                kInpatientSelect + target(file, QStringLiteral("入院中の患者")) + inpatientFrom + kInpatientWhere, file};
    }
    case ExportList::Outpatients: {
        const QString file = QStringLiteral("C:\\ネモリア外来通院中.xls");
        return {question(QStringLiteral("外来通院中")),
                kOutpatientSelect + target(file, QStringLiteral("外来通院中の患者")) + kOutpatientFrom + kOutpatientWhere,
                file};
    }
    case ExportList::Everyone:
        break;
    }
    const QString file = QStringLiteral("C:\\ネモリアすべて.xls");
    return {question(QStringLiteral("すべて")),
            kEveryoneSelect + target(file, QStringLiteral("すべての患者")) + inpatientFrom.chopped(1) + QLatin1Char(';'),
            file};
}

QString mapped(const QString &windowsPath)
{
    const toolkit::PlatformServices &services = toolkit::platform();
    return db::localPath(windowsPath, services.programFolder(), services.homeFolder());
}

// The engine's spreadsheet output for the length of one export, at the
// path the drive root maps to, telling the progress window each row.
class SpreadsheetOutput
{
public:
    explicit SpreadsheetOutput(toolkit::ProgressWindow &progress)
    {
        jet::setSelectIntoHandler([this, &progress](jet::Connection &, const QString &connect, const QString &sheet,
                                                    jet::Recordset &rows) {
            m_written = mapped(jet::excelWorkbookPath(connect));
            m_stuck = jet::removeLeftovers(m_written);
            return jet::writeExcelSheet(m_written, sheet, rows,
                                        [&progress](int done, int total) { progress.setProgress(done, total); });
        });
    }
    ~SpreadsheetOutput() { jet::setSelectIntoHandler({}); }
    SpreadsheetOutput(const SpreadsheetOutput &) = delete;
    SpreadsheetOutput &operator=(const SpreadsheetOutput &) = delete;

    QString written() const { return m_written; }
    // What earlier, killed exports left that could not be removed.
    QStringList stuck() const { return m_stuck; }

private:
    QString m_written;
    QStringList m_stuck;
};

toolkit::ErrorTable exportAnswers()
{
    toolkit::MessageBoxRequest inUse;
    toolkit::MessageBoxRequest refused;
    refused.text = QStringLiteral("エクスポートしたファイルを保存できません。");
    refused.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::PermissionDenied, refused, {}, false, true}};
}

void run(const QString &question, const QString &statement, const QVariantList &parameters)
{
    toolkit::MessageBoxRequest ask;
    ask.text = question;
    ask.icon = toolkit::MessageIcon::Exclamation;
    ask.buttons = toolkit::MessageButtons::YesNo;
    if (toolkit::platform().messageBox(ask) != toolkit::MessageResult::Yes)
        return;

    jet::Connection connection;
    db::openWindowConnection(connection, toolkit::platform().programFolder());
    // Asked before the file is written; the trail's event asks again.
    db::requireSessionMay(connection, accounts::Right::Export);
    QString written;
    QStringList stuck;
    {
        toolkit::ProgressWindow progress(QStringLiteral("エクスポートしています。"));
        SpreadsheetOutput output(progress);
        const int rows = connection.execute(statement, parameters);
        written = output.written();
        stuck = output.stuck();
        // A list of patients out of the program is recorded, or it is not
        // left behind: the failure goes on to the trap with the engine's cause.
        try {
            db::audit::append(connection, {db::audit::action::Export.toString(),
                                           QStringLiteral("%1 (%2 行)").arg(written).arg(rows), {}, {}});
        } catch (const jet::Error &) {
            QFile::remove(written);
            throw;
        }
    }
    connection.close();

    toolkit::MessageBoxRequest done;
    done.text = QStringLiteral("ファイル %1 にエクスポートしました。").arg(written);
    if (!stuck.isEmpty())
        done.text += QStringLiteral("\r以前に中断したエクスポートの作業ファイルを、括弧内の原因で削除できませんでした。"
                                    "原因を取り除いてから削除してください:\r")
            + stuck.join(QLatin1Char('\r'));
    toolkit::platform().messageBox(done);
}

} // namespace

QString exportStatement(ExportList list)
{
    return variant(list).statement;
}

void exportList(ExportList list)
{
    const Variant v = variant(list);
    exportRows(v.question, v.statement);
}

void exportRows(const QString &question, const QString &statement, const QVariantList &parameters)
{
    toolkit::trap([&] { run(question, statement, parameters); }, exportAnswers());
}

QString exportTarget(const QString &windowsFile, const QString &sheet)
{
    return target(windowsFile, sheet);
}

} // namespace ledger
