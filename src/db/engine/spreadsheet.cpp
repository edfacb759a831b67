#include "db/engine/spreadsheet.h"

#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/engine/recordset.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <unistd.h>
#include <xlsxwriter.h>

namespace jet {

namespace {

constexpr int kMaxCellText = 32767; // what a cell of the format holds
constexpr double kMaxColumnWidth = 80;

[[noreturn]] void cannotReplace(const QString &path, const QString &why)
{
    throw Error(err::PermissionDenied, QStringLiteral("ファイル '%1' を保存できません: %2").arg(path, why));
}

// The cause of a refusal, named for the file or folder that refused.
QString refusal(const QFileInfo &target, int error)
{
    if (target.isDir())
        return QStringLiteral("同じ名前のフォルダがあります。");
    if (error == EROFS)
        return QStringLiteral("読み取り専用のファイルシステムです。");
    if (error == EACCES || error == EPERM) {
        if (target.exists() && !target.isWritable())
            return QStringLiteral("ファイルが読み取り専用です。");
        return QStringLiteral("フォルダ '%1' に書き込む権限がありません。").arg(target.absolutePath());
    }
    return QString::fromLocal8Bit(strerror(error));
}

[[noreturn]] void cannotWrite(const QString &path, const QString &why)
{
    throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' を書き出せません。%2").arg(path, why));
}

bool isPermissionError(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == EISDIR || error == ETXTBSY
        || error == EBUSY;
}

// The width a text takes in the sheet's default font, in its column units:
// characters beyond Latin take two.  A cell of several lines is as wide as
// its widest line.
double textWidth(const QString &text)
{
    double widest = 0;
    double width = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('\n')) {
            widest = std::max(widest, width);
            width = 0;
            continue;
        }
        width += c.unicode() < 0x0370 ? 1 : 2;
    }
    return std::max(widest, width);
}

// The digits a number shows, without formatting it: whole numbers as they
// are, others to the eleven places the sheet's general format shows.
double numberWidth(double number)
{
    if (number != std::trunc(number) || std::fabs(number) >= 1e15)
        return 12;
    double width = number < 0 ? 2 : 1;
    for (double rest = std::fabs(number); rest >= 10; rest /= 10)
        ++width;
    return width;
}

// Writes the workbook; the file is complete only when this returns.
class Workbook
{
public:
    Workbook(const QString &file, const QString &reportedPath, const QString &sheet)
        : m_path(reportedPath)
    {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        const QByteArray name = QFile::encodeName(file);
        m_book = workbook_new_opt(name.constData(), &options);
        if (!m_book)
            cannotWrite(m_path, QStringLiteral("ブックを作れません。"));
        m_sheet = workbook_add_worksheet(m_book, sheet.toUtf8().constData());
        if (!m_sheet) {
            lxw_workbook_free(m_book);
            cannotWrite(m_path, QStringLiteral("シート名 '%1' は使えません。").arg(sheet));
        }
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        m_date = workbook_add_format(m_book);
        format_set_num_format(m_date, "yyyy/mm/dd");
    }
    ~Workbook()
    {
        if (m_book)
            lxw_workbook_free(m_book);
    }
    Workbook(const Workbook &) = delete;
    Workbook &operator=(const Workbook &) = delete;

    void header(const QStringList &names)
    {
        m_widths.resize(names.size());
        for (int column = 0; column < names.size(); ++column)
            text(0, column, names.at(column), m_bold);
        worksheet_freeze_panes(m_sheet, 1, 0);
    }

    void cell(int row, int column, const QVariant &value)
    {
        if (!value.isValid() || value.isNull())
            return;
        switch (value.metaType().id()) {
        case QMetaType::QDate:
        case QMetaType::QDateTime: {
            const QDate day = value.metaType().id() == QMetaType::QDate ? value.toDate() : value.toDateTime().date();
            // The format's dates begin in 1900; an earlier one stays readable as text.
            if (day.year() < 1900 || day.year() > 9999) {
                text(row, column, day.toString(QStringLiteral("yyyy/MM/dd")), nullptr);
                return;
            }
            lxw_datetime moment{day.year(), day.month(), day.day(), 0, 0, 0};
            check(worksheet_write_datetime(m_sheet, lxw_row_t(row), lxw_col_t(column), &moment, m_date));
            widen(column, 10);
            return;
        }
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float: {
            const double number = value.toDouble();
            check(worksheet_write_number(m_sheet, lxw_row_t(row), lxw_col_t(column), number, nullptr));
            widen(column, numberWidth(number));
            return;
        }
        case QMetaType::Bool:
            check(worksheet_write_number(m_sheet, lxw_row_t(row), lxw_col_t(column), value.toBool() ? -1 : 0, nullptr));
            widen(column, 2);
            return;
        default:
            text(row, column, value.toString(), nullptr);
        }
    }

    void close()
    {
        for (int column = 0; column < m_widths.size(); ++column)
            check(worksheet_set_column(m_sheet, lxw_col_t(column), lxw_col_t(column),
                                       std::min(m_widths.at(column) + 2, kMaxColumnWidth), nullptr));
        lxw_workbook *book = m_book;
        m_book = nullptr;
        check(workbook_close(book));
    }

private:
    void text(int row, int column, const QString &value, lxw_format *format)
    {
        const QString kept = value.size() > kMaxCellText ? value.left(kMaxCellText) : value;
        check(worksheet_write_string(m_sheet, lxw_row_t(row), lxw_col_t(column), kept.toUtf8().constData(), format));
        widen(column, textWidth(kept));
    }

    void widen(int column, double width)
    {
        m_widths[column] = std::max(m_widths.at(column), width);
    }

    void check(lxw_error error) const
    {
        if (error != LXW_NO_ERROR)
            cannotWrite(m_path, QString::fromUtf8(lxw_strerror(error)));
    }

    QString m_path;
    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    lxw_format *m_bold = nullptr;
    lxw_format *m_date = nullptr;
    QList<double> m_widths;
};

} // namespace

QString excelWorkbookPath(const QString &connect)
{
    const QStringList parts = connect.split(QLatin1Char(';'));
    QString database;
    for (const QString &part : parts.mid(1)) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        if (equals > 0 && part.left(equals).trimmed().compare(QLatin1String("Database"), Qt::CaseInsensitive) == 0)
            database = part.mid(equals + 1).trimmed();
    }
    if (parts.first().trimmed().compare(QLatin1String("Excel 8.0"), Qt::CaseInsensitive) != 0 || database.isEmpty())
        throw Error(err::NotSupported, QStringLiteral("SELECT ... INTO の出力先を扱えません: %1").arg(connect));
    if (database.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive))
        return database + QLatin1Char('x');
    if (database.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return database;
    return database + QLatin1String(".xlsx");
}

int writeExcelSheet(const QString &path, const QString &sheet, Recordset &rows, const SheetProgress &progress)
{
    const QFileInfo target(path);
    const QByteArray nativeTarget = QFile::encodeName(target.absoluteFilePath());
    // A file the user has made read-only is not replaced behind his back,
    // although the folder would allow it.
    if (target.isDir() || (target.exists() && ::access(nativeTarget.constData(), W_OK) != 0))
        cannotReplace(path, refusal(target, EACCES));

    // Written beside the target, so that the rename that replaces it is one step.
    PartialFile partial(path);
    if (!partial.created()) {
        if (isPermissionError(partial.error()))
            cannotReplace(path, refusal(target, partial.error()));
        cannotWrite(path, QString::fromLocal8Bit(strerror(partial.error())));
    }

    QStringList names;
    for (int field = 0; field < rows.fieldCount(); ++field)
        names.append(rows.field(field).name);
    const int total = rows.rowCount();
    {
        Workbook book(partial.name(), path, sheet);
        book.header(names);
        for (int row = 0; row < total; ++row) {
            for (int field = 0; field < names.size(); ++field)
                book.cell(row + 1, field, rows.valueAt(row, field));
            if (progress)
                progress(row + 1, total);
        }
        book.close();
    }

    if (const int error = partial.place(true)) {
        if (isPermissionError(error))
            cannotReplace(path, refusal(target, error));
        cannotWrite(path, QString::fromLocal8Bit(strerror(error)));
    }
    return total;
}

} // namespace jet
