#include "ledger/export.h"
#include "ledger/frmAmbuPts.h"
#include "ledger/frmFindPts.h"
#include "ledger/frmPts.h"

#include "app/navigation.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "toolkit/form.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

using testing_support::ScriptedProgram;
using testing_support::WardDatabase;
using toolkit::MessageResult;

namespace {

// Debian's own reader, not ours: the sheet as openpyxl sees it.
const char kReadBack[] = R"(
import json, sys, openpyxl
from openpyxl.utils import get_column_letter
book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
rows = list(sheet.iter_rows())
def value(cell):
    if hasattr(cell.value, 'isoformat'):
        return {'date': cell.value.date().isoformat(), 'format': cell.number_format}
    return cell.value
print(json.dumps({
    'sheets': book.sheetnames,
    'frozen': sheet.freeze_panes,
    'bold': all(cell.font.b for cell in rows[0]),
    'header': [cell.value for cell in rows[0]],
    'rows': [[value(cell) for cell in row] for row in rows[1:]],
    'widths': [sheet.column_dimensions[get_column_letter(i + 1)].width for i in range(len(rows[0]))],
}, ensure_ascii=False))
)";

QJsonObject readBack(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kReadBack), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        ADD_FAILURE() << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QStringList strings(const QJsonValue &array)
{
    QStringList result;
    for (const QJsonValue &v : array.toArray())
        result << v.toString();
    return result;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder nobody may write in, root included (who passes over its mode).
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path)
        : m_path(QFile::encodeName(path))
    {
        ::chmod(m_path.constData(), 0555);
        if (::geteuid() == 0)
            m_immutable = setImmutable(true);
    }
    ~ReadOnlyFolder()
    {
        if (m_immutable)
            setImmutable(false);
        ::chmod(m_path.constData(), 0755);
    }
    bool holds() const { return ::geteuid() != 0 || m_immutable; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }

    QByteArray m_path;
    bool m_immutable = false;
};

class ExportTest : public ::testing::Test
{
protected:
    explicit ExportTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        program.services->setHomeFolder(home.path());
        QFile location(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(location.open(QIODevice::WriteOnly));
        location.write(ward.path().toUtf8() + "\r\n");
        location.close();
        app::registerWindow<frmPts>(app::window::InpatientLedger);
        app::registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        app::registerWindow<frmFindPts>(app::window::AllPatientLedger);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        for (const QString &name : {app::window::InpatientLedger, app::window::OutpatientLedger,
                                    app::window::AllPatientLedger})
            app::unregisterWindow(name);
    }

    // The menu item of the ledger, answering its question.
    toolkit::Form *exportFrom(const QString &ledger, MessageResult answer)
    {
        app::showWindow(ledger);
        toolkit::Form *window = app::findWindow(ledger);
        program.services->answerBox(answer);
        window->findChild<QAction *>(QStringLiteral("mnuToolDataEx"))->trigger();
        QCoreApplication::processEvents();
        return window;
    }

    QStringList homeFiles() const
    {
        return QDir(home.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    WardDatabase ward;
    ScriptedProgram program;
    QTemporaryDir folder;
    QTemporaryDir home;
};

using Export = testing_support::OnBothBackends<ExportTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Export,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(Export, EachLedgerWritesAWorkbookThatOpenpyxlReads)
{
    struct Case
    {
        QString ledger;
        ledger::ExportList list;
        QString question, file, sheet;
        QStringList header;
        int rows;
    };
    const QList<Case> cases{
        {app::window::InpatientLedger, ledger::ExportList::Inpatients,
         QStringLiteral("入院中の患者データを Excel 形式 (.xlsx) のファイルにエクスポートします。開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？"),
         QStringLiteral("ネモリア入院中.xlsx"), QStringLiteral("入院中の患者"),
         {QStringLiteral("カルテID"), QStringLiteral("かな氏名"), QStringLiteral("氏名"), QStringLiteral("生年月日"),
          QStringLiteral("年齢"), QStringLiteral("入院形態"), QStringLiteral("入院日"), QStringLiteral("入院日数"),
          QStringLiteral("一時診断名"), QStringLiteral("現病歴"), QStringLiteral("主治医")},
         3},
        {app::window::OutpatientLedger, ledger::ExportList::Outpatients,
         QStringLiteral("外来通院中の患者データを Excel 形式 (.xlsx) のファイルにエクスポートします。開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？"),
         QStringLiteral("ネモリア外来通院中.xlsx"), QStringLiteral("外来通院中の患者"),
         {QStringLiteral("カルテID"), QStringLiteral("かな氏名"), QStringLiteral("氏名"), QStringLiteral("生年月日"),
          QStringLiteral("年齢"), QStringLiteral("一時診断名"), QStringLiteral("現病歴"), QStringLiteral("治療内容"),
          QStringLiteral("注意事項"), QStringLiteral("時間外頻度"), QStringLiteral("主治医")},
         2},
        {app::window::AllPatientLedger, ledger::ExportList::Everyone,
         QStringLiteral("すべての患者データを Excel 形式 (.xlsx) のファイルにエクスポートします。開くには LibreOffice Calc などの表計算ソフトが必要です。エクスポートしますか？"),
         QStringLiteral("ネモリアすべて.xlsx"), QStringLiteral("すべての患者"),
         {QStringLiteral("カルテID"), QStringLiteral("かな氏名"), QStringLiteral("氏名"), QStringLiteral("生年月日"),
          QStringLiteral("年齢"), QStringLiteral("入院形態"), QStringLiteral("入院日"), QStringLiteral("退院日"),
          QStringLiteral("入院日数"), QStringLiteral("一時診断名"), QStringLiteral("現病歴"), QStringLiteral("入院後経過"),
          QStringLiteral("主治医")},
         7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.sheet));
        const int boxes = program.services->boxes().size();
        exportFrom(c.ledger, MessageResult::Yes);
        const QString path = QDir(home.path()).filePath(c.file);
        ASSERT_EQ(program.services->boxes().size(), boxes + 2);
        const toolkit::MessageBoxRequest &question = program.services->boxes()[boxes].request;
        EXPECT_EQ(question.text, c.question);
        EXPECT_EQ(question.icon, toolkit::MessageIcon::Exclamation);
        EXPECT_EQ(question.buttons, toolkit::MessageButtons::YesNo);
        const toolkit::MessageBoxRequest &done = program.services->boxes()[boxes + 1].request;
        EXPECT_EQ(done.text, QStringLiteral("ファイル %1 にエクスポートしました。").arg(path));
        EXPECT_EQ(done.icon, toolkit::MessageIcon::None);

        const QJsonObject sheet = readBack(path);
        EXPECT_EQ(strings(sheet[QStringLiteral("sheets")]), QStringList{c.sheet});
        EXPECT_EQ(strings(sheet[QStringLiteral("header")]), c.header);
        EXPECT_TRUE(sheet[QStringLiteral("bold")].toBool());
        EXPECT_EQ(sheet[QStringLiteral("frozen")].toString(), QStringLiteral("A2"));
        const QJsonArray rows = sheet[QStringLiteral("rows")].toArray();
        EXPECT_EQ(rows.size(), c.rows);

        // 1005 佐藤次郎 is in all three lists; in the first two with one episode.
        QJsonArray row;
        for (const QJsonValue &r : rows) {
            if (r.toArray().at(0).toInt() == 1005 && (row.isEmpty() || c.list != ledger::ExportList::Everyone))
                row = r.toArray();
        }
        ASSERT_FALSE(row.isEmpty());
        const auto at = [&](const QString &column) { return row.at(c.header.indexOf(column)); };
        EXPECT_EQ(at(QStringLiteral("氏名")).toString(), QStringLiteral("佐藤次郎"));
        EXPECT_EQ(at(QStringLiteral("生年月日")).toObject(),
                  (QJsonObject{{QStringLiteral("date"), QStringLiteral("1950-06-30")},
                               {QStringLiteral("format"), QStringLiteral("yyyy/mm/dd")}}));
        EXPECT_EQ(at(QStringLiteral("年齢")).toDouble(), 53);
        if (c.list == ledger::ExportList::Inpatients) {
            EXPECT_EQ(at(QStringLiteral("入院日")).toObject()[QStringLiteral("date")].toString(), QStringLiteral("2003-01-01"));
            EXPECT_EQ(at(QStringLiteral("入院日数")).toDouble(), 90);
            EXPECT_EQ(at(QStringLiteral("主治医")).toString(), QStringLiteral("岡部"));
        }
        // Columns fit their contents: the names are wider than the chart numbers.
        const QJsonArray widths = sheet[QStringLiteral("widths")].toArray();
        EXPECT_GT(widths.at(c.header.indexOf(QStringLiteral("かな氏名"))).toDouble(), widths.at(0).toDouble());
    }
    EXPECT_EQ(homeFiles(), (QStringList{QStringLiteral("ネモリアすべて.xlsx"), QStringLiteral("ネモリア入院中.xlsx"),
                                        QStringLiteral("ネモリア外来通院中.xlsx")}))
        << "nothing half-written is left beside them";
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(ExportTest, ReplacesTheEarlierFileOnlyWhenAskedAndAllowed)
{
    const QString path = QDir(home.path()).filePath(QStringLiteral("ネモリア外来通院中.xlsx"));
    exportFrom(app::window::OutpatientLedger, MessageResult::Yes);
    ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別, 時間外頻度, 主治医①) VALUES (1001, -1, 1, 1)"));
    exportFrom(app::window::OutpatientLedger, MessageResult::Yes);
    EXPECT_EQ(readBack(path)[QStringLiteral("rows")].toArray().size(), 3) << "the second export replaces the first";
    const QByteArray earlier = contents(path);

    int boxes = program.services->boxes().size();
    exportFrom(app::window::OutpatientLedger, MessageResult::No);
    EXPECT_EQ(program.services->boxes().size(), boxes + 1) << "only the question";
    EXPECT_EQ(contents(path), earlier);

    ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別, 時間外頻度, 主治医①) VALUES (1002, -1, 1, 1)"));
    {
        ReadOnlyFolder readOnly(home.path());
        if (!readOnly.holds())
            GTEST_SKIP() << "this file system cannot make a folder read-only for root";
        boxes = program.services->boxes().size();
        toolkit::Form *ledger = exportFrom(app::window::OutpatientLedger, MessageResult::Yes);
        ASSERT_EQ(program.services->boxes().size(), boxes + 2);
        const toolkit::MessageBoxRequest &inUse = program.services->boxes().last().request;
        EXPECT_TRUE(inUse.text.startsWith(QStringLiteral("エクスポートしたファイルを保存できません。\r")));
        EXPECT_TRUE(inUse.text.contains(QStringLiteral("フォルダ '%1' に書き込む権限がありません。").arg(home.path())))
            << inUse.text.toStdString();
        EXPECT_EQ(inUse.icon, toolkit::MessageIcon::Critical);
        EXPECT_EQ(app::findWindow(app::window::OutpatientLedger), ledger);
        EXPECT_TRUE(ledger->isVisible());
    }
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(contents(path), earlier);
    EXPECT_EQ(homeFiles(), QStringList{QStringLiteral("ネモリア外来通院中.xlsx")});
}

TEST_F(ExportTest, RemovesWhatKilledExportsLeftAndNamesAFolderInTheWay)
{
    const QDir dir(home.path());
    const auto leftover = [&dir](const char *suffix) {
        QFile file(dir.filePath(QStringLiteral(".ネモリアすべて.xlsx.") + QLatin1String(suffix)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return file.fileName();
    };
    leftover("Ab3xQz");
    // Another export still writing: its lock keeps its file.
    const QString busy = leftover("Zz9yWw");
    const int fd = ::open(QFile::encodeName(busy).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    exportFrom(app::window::AllPatientLedger, MessageResult::Yes);
    ::close(fd);
    EXPECT_EQ(homeFiles(), (QStringList{QStringLiteral(".ネモリアすべて.xlsx.Zz9yWw"), QStringLiteral("ネモリアすべて.xlsx")}));

    ASSERT_TRUE(dir.mkdir(QStringLiteral("ネモリア入院中.xlsx")));
    exportFrom(app::window::InpatientLedger, MessageResult::Yes);
    EXPECT_TRUE(program.services->boxes().last().request.text.endsWith(QStringLiteral("同じ名前のフォルダがあります。")))
        << program.services->boxes().last().request.text.toStdString();
}

} // namespace
