#include "stats/frmStat.h"
#include "ui_frmStat.h"

#include "db/audit.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "toolkit/barchart.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/platform.h"

#include <QRegularExpression>

namespace {

const QString kSelect = QStringLiteral(
    "SELECT mid$(`診断名(ICD10)`.ICDコード,1,2) AS コード, COUNT(mid$(`診断名(ICD10)`.ICDコード,1,2)) AS `ICD-10診断集計` FROM 患者情報, `診断名(ICD10)`, 入退院情報 ");
const QString kGroup = QStringLiteral("GROUP BY mid$(`診断名(ICD10)`.ICDコード,1,2)");
const QString kPeriodHead = QStringLiteral(
    "WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND DateDiff('d', 入退院情報.入院日, #");
const QString kPeriodMiddle = QStringLiteral("#) <= 0 AND DateDiff('d', 入退院情報.入院日, #");
const QString kPeriodTail = QStringLiteral("#) > 0 ");
const QString kCurrentInpatients = QStringLiteral(
    "WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null) ");
const QString kOutpatients = QStringLiteral(
    "WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 ");
const QString kDateCharacters = QStringLiteral("0123456789/");

toolkit::MessageBoxRequest box(const QString &text, toolkit::MessageIcon icon)
{
    toolkit::MessageBoxRequest request;
    request.text = text;
    request.icon = icon;
    return request;
}

// The key filter keeps everything but digits and "/" out of the date boxes;
// the text goes between # signs only when that still holds, so that no text
// can end the date literal, and the engine reads it as a date or refuses it.
QString dateText(const QString &text)
{
    static const QRegularExpression digitsAndSlashes(QStringLiteral("^[0-9/]*$"));
    if (!digitsAndSlashes.match(text).hasMatch())
        throw jet::Error(jet::err::ConversionFailed, QStringLiteral("日付として読めません: %1").arg(text));
    return text;
}

} // namespace

frmStat::frmStat(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmStat>())
{
    ui->setupUi(this);
    m_grid = std::make_unique<toolkit::DataGrid>(ui->DataGrid1);
    m_chart = new toolkit::BarChart(ui->MSChart1);
    for (QLineEdit *box : {ui->Text1, ui->Text2}) {
        toolkit::setKeyFilter(box, kDateCharacters, true);
        toolkit::setImeMode(box, toolkit::ImeMode::Disable);
    }

    // A handled failure hides the chart before its message.
    const auto hidden = [this](const QString &text, toolkit::MessageIcon icon) {
        return [this, request = box(text, icon)] {
            ui->MSChart1->hide();
            toolkit::platform().messageBox(request);
        };
    };
    const toolkit::ErrorTable periodAnswers{
        {jet::err::ConversionFailed, {}, hidden(QStringLiteral("日付を 1974/07/19 のような型式で入力してください。"),
                                                toolkit::MessageIcon::Exclamation), false}};
    const auto codesMissing = hidden(QStringLiteral("診断コードの取得に失敗しました。"), toolkit::MessageIcon::Exclamation);
    const toolkit::ErrorTable currentAnswers{{jet::err::ConversionFailed, {}, codesMissing, false}};
    const toolkit::ErrorTable outpatientAnswers{
        {jet::err::ConversionFailed, {}, codesMissing, false},
        {jet::err::ColumnMissing, {}, hidden(QStringLiteral("データベースが古いため表示できません。コンバートしてください。"),
                                             toolkit::MessageIcon::Critical), false}};

    connect(ui->Command1, &QPushButton::clicked, this, [this, periodAnswers] {
        showSelection({}, periodAnswers);
    });
    connect(ui->Command2, &QPushButton::clicked, this, [this, currentAnswers] {
        showSelection(kCurrentInpatients, currentAnswers);
    });
    connect(ui->Command3, &QPushButton::clicked, this, [this, outpatientAnswers] {
        showSelection(kOutpatients, outpatientAnswers);
    });
}

frmStat::~frmStat() = default;

toolkit::DataGrid *frmStat::DataGrid1() const
{
    return m_grid.get();
}

toolkit::BarChart *frmStat::MSChart1() const
{
    return m_chart;
}

void frmStat::onLoad()
{
    setWindowTitle(QStringLiteral("ICD-10診断集計"));
    ui->MSChart1->hide();
}

// An empty where piece stands for the period of the two date boxes, which is
// read only when the button is pressed.
void frmStat::showSelection(const QString &where, const toolkit::ErrorTable &answers)
{
    toolkit::trap(
        [this, where] {
            ui->MSChart1->show();
            // A failed selection leaves neither the grid nor the chart with the
            // result of an earlier one beside its message.
            release();
            const QString piece = where.isEmpty() ? kPeriodHead + dateText(ui->Text1->text()) + kPeriodMiddle
                                                        + dateText(ui->Text2->text()) + kPeriodTail
                                                  : where;
            auto connection = std::make_unique<jet::Connection>();
            db::openWindowConnection(*connection, toolkit::platform().programFolder());
            auto result = std::make_unique<jet::Recordset>();
            result->open(kSelect + piece + kGroup, connection.get(), jet::CursorType::Dynamic);
            // Not shown unless recorded; the trap tells the engine's cause.
            db::audit::append(*connection, {db::audit::action::Statistics.toString(), piece.trimmed(), {}, {}});
            m_connection = std::move(connection);
            m_result = std::move(result);
            m_grid->setRecordset(m_result.get());
            m_chart->setRecordset(m_result.get());
        },
        answers);
}

void frmStat::release()
{
    m_grid->setRecordset(nullptr);
    m_chart->setRecordset(nullptr);
    if (m_result)
        m_result->close();
    m_result.reset();
    if (m_connection)
        m_connection->close();
    m_connection.reset();
}

void frmStat::onUnload(bool &)
{
    release();
}
